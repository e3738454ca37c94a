// file_bytes.h: whole files as bytes or text, and little-endian fields, for the tests
// and the fuzz targets.
#ifndef PHASEKIT_FILE_BYTES_H
#define PHASEKIT_FILE_BYTES_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline std::vector<unsigned char> readFileBytes(const std::string &path) {
    std::vector<unsigned char> bytes;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    unsigned char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

inline void writeFileBytes(const std::string &path, const std::vector<unsigned char> &bytes) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline std::string readFileText(const std::string &path) {
    std::vector<unsigned char> bytes = readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Little-endian fields at a byte offset; an offset past the end reads as a marker value.
inline uint32_t le32(const std::vector<unsigned char> &b, size_t at) {
    if (at + 4 > b.size()) return 0xDEADBEEF;
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}
inline uint32_t le16(const std::vector<unsigned char> &b, size_t at) {
    if (at + 2 > b.size()) return 0xDEAD;
    return b[at] | (b[at + 1] << 8);
}

#endif // PHASEKIT_FILE_BYTES_H
