// test_support.h: small helpers shared by the tests: whole files as bytes or text,
// little-endian fields, and the extension files built next to the tests.
#ifndef PHASEKIT_TEST_SUPPORT_H
#define PHASEKIT_TEST_SUPPORT_H

#include "check.h"
#include "minihost.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// The entry of an extension file built next to the tests (loaded once); the test
// program stops when it cannot be loaded, since every test of it would fail.
inline MexEntry builtExtension(const std::string &name) {
    HostExtension ext = hostLoadExtension(std::string(EXTENSION_DIR) + "/" + name + ".mexa64");
    if (!ext.entry) {
        recordFailure(__FILE__, __LINE__, "cannot load " + name + ": " + ext.error);
        std::exit(1);
    }
    return ext.entry;
}

#endif // PHASEKIT_TEST_SUPPORT_H
