// jpeg_probe.h: finds the frame size of a JPEG stream by a byte scan for the first
// 0xFF 0xC0 pair (baseline start of frame), without walking the segment structure.
#ifndef PHASEKIT_JPEG_PROBE_H
#define PHASEKIT_JPEG_PROBE_H

#include <cstdint>
#include <cstdio>

// Reads from the stream's current position; leaves it open. Returns 0 with width and
// height set (0..65535), or -1 when the stream ends before a complete frame size.
int jpegFindSize(FILE *stream, int32_t *width, int32_t *height);

#endif // PHASEKIT_JPEG_PROBE_H
