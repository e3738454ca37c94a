// fuzz_jpeg_probe: the JPEG size probe on arbitrary bytes, compared with the scan rule
// written out over the whole buffer: the first 0xFF 0xC0 pair whose 0xFF is read as a
// pair's first byte, then three skipped bytes, the height and the width, big-endian.
#include "jpeg_probe.h"

#include <cstdlib>
#include <cstring>

static int plainScan(const uint8_t *b, size_t n, int32_t *width, int32_t *height) {
    size_t k = 0;
    while (k < n) {
        if (b[k] == 0xFF) {
            if (k + 1 >= n) return -1;
            if (b[k + 1] == 0xC0) {
                if (k + 8 >= n) return -1;
                *height = b[k + 5] * 256 + b[k + 6];
                *width = b[k + 7] * 256 + b[k + 8];
                return 0;
            }
            k += 2;  // the pair's second byte never starts a pair
        } else {
            k += 1;
        }
    }
    return -1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FILE *stream = std::tmpfile();
    if (!stream) return 0;
    if (size) std::fwrite(data, 1, size, stream);
    std::rewind(stream);
    int32_t width = -1, height = -1, plainWidth = -1, plainHeight = -1;
    int found = jpegFindSize(stream, &width, &height);
    std::fclose(stream);
    int expected = plainScan(data, size, &plainWidth, &plainHeight);
    if (found != expected) std::abort();
    if (found == 0 && (width != plainWidth || height != plainHeight)) std::abort();
    if (found == 0 && (width < 0 || width > 65535 || height < 0 || height > 65535)) std::abort();
    return 0;
}
