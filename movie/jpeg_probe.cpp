// jpeg_probe.cpp: the JPEG size probe. The scan takes the first 0xFF 0xC0 pair whose
// 0xFF is read as a pair's first byte, also one inside another segment (an embedded
// thumbnail's frame header, say). A byte read as a pair's second byte never starts a
// pair, so in FF FF C0 the marker is passed over. Only baseline frames are sought.
#include "jpeg_probe.h"

static const int kMarkerPrefix = 0xFF;
static const int kBaselineFrame = 0xC0;
static const int kSkippedBytes = 3;  // segment length (2) and sample precision (1)

int jpegFindSize(FILE *stream, int32_t *width, int32_t *height) {
    int c = std::getc(stream);
    for (;;) {
        if (c == EOF) return -1;
        if (c == kMarkerPrefix) {
            int d = std::getc(stream);
            if (d == kBaselineFrame) break;
        }
        c = std::getc(stream);
    }
    int bytes[kSkippedBytes + 4];
    for (int &b : bytes) {
        b = std::getc(stream);
        if (b == EOF) return -1;  // a cut-off header gives no size
    }
    *height = bytes[3] * 256 + bytes[4];
    *width = bytes[5] * 256 + bytes[6];
    return 0;
}
