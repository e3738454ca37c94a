// avi_writer.h: a Motion-JPEG AVI writer. The header list and a filler chunk fill
// exactly the first 4096 bytes, so frames start at a fixed offset and closing can
// rewrite the header in place; frames are opaque byte blocks, each one "00dc" chunk
// padded to a multiple of 4; an "idx1" index ends the file. Numbers are little-endian.
#ifndef PHASEKIT_AVI_WRITER_H
#define PHASEKIT_AVI_WRITER_H

#include <cstdint>
#include <cstdio>

// Main header ("avih"), in file order.
struct AviMainHeader {
    int32_t usecPerFrame;         // 1,000,000 / fps, truncated
    int32_t maxBytesPerSec;       // width * height * 3 (32-bit arithmetic)
    int32_t paddingGranularity;   // 0
    int32_t flags;                // has-index flag
    int32_t totalFrames;          // 0 until close
    int32_t initialFrames;        // 0
    int32_t streams;              // 1, or 2 with the audio option
    int32_t suggestedBufferSize;  // width * height * 3
    int32_t width;                // frame width in pixels
    int32_t height;               // frame height in pixels
    int32_t reserved[4];          // zeros
};

// Stream header ("strh"); the 8-byte frame rectangle is always written as zeros.
struct AviStreamHeader {
    char type[5];                 // "vids" or "auds" and a terminating zero
    char handler[5];              // codec characters, or 01 00 00 00 for audio
    int32_t flags;
    int32_t priority;
    int32_t initialFrames;
    int32_t scale;                // the stream plays rate / scale units per second
    int32_t rate;
    int32_t start;
    int32_t length;               // frames added so far
    int32_t suggestedBufferSize;
    int32_t quality;
    int32_t sampleSize;
};

// Bitmap header (video "strf"); only the low 32 bits of the 64-bit fields are written.
struct AviBitmapInfo {
    int64_t headerSize;           // 40
    int64_t width;
    int64_t height;
    uint16_t planes;              // 1
    uint16_t bitCount;            // 24
    uint32_t compression;         // codec characters, first one in the lowest byte
    uint32_t imageSize;           // width * height * 3
    uint32_t xPelsPerMeter;
    uint32_t yPelsPerMeter;
    uint32_t coloursUsed;         // palette entries; 0 in this system
    uint32_t coloursImportant;
    uint8_t *palette;             // coloursUsed entries of 4 bytes, or null (owned)
};

// Wave format (audio "strf"), in file order.
struct AviWaveFormat {
    uint16_t formatTag;           // 1: PCM
    uint16_t channels;
    uint32_t samplesPerSec;
    uint32_t avgBytesPerSec;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    uint16_t extraSize;           // 0
};

// One open movie, from aviOpen to aviClose.
struct AviWriter {
    FILE *stream;                 // the movie file (owned)
    AviMainHeader mainHeader;
    AviStreamHeader videoHeader;
    AviBitmapInfo videoFormat;
    AviStreamHeader audioHeader;  // all zero without the audio option
    AviWaveFormat audioFormat;
    int64_t moviSizePos;          // position of the movie list's size field (4100)
    uint64_t indexUsed;           // entries stored in index
    uint64_t indexCapacity;       // entries index can hold; grows by 1024
    uint64_t *index;              // chunk sizes in the order added; bit 31 marks audio (owned)
    uint64_t chunkCount;          // chunks added; advances with indexUsed
};

// The audio description of aviOpen's option.
struct AviAudioParams {
    int32_t channels;
    int32_t bitsPerSample;
    int32_t samplesPerSec;
};

// Results of aviAddFrame and aviClose.
enum AviStatus {
    aviOk = 0,
    aviFrameTooLarge = 1,  // the frame would take the finished file to 2^31 bytes or more
    aviWriteFailed = 2,    // the stream reported an error: the file is incomplete
};

const int32_t kAviHeaderRegion = 4096;         // header list + filler end here
const int64_t kAviMaxFileSize = int64_t(1) << 31;  // positions in the file are 32-bit

AviWriter *aviOpen(const char *path, int64_t width, int64_t height, const char *codec, float fps,
                   const AviAudioParams *audio);
void aviSetFps(AviWriter *writer, float fps);
void aviSetSize(AviWriter *writer, int64_t width, int64_t height);
// True when a frame of this length still fits below kAviMaxFileSize, index included.
bool aviFrameFits(const AviWriter *writer, uint64_t length);
AviStatus aviAddFrame(AviWriter *writer, const void *data, uint64_t length);
AviStatus aviClose(AviWriter *writer);

// Byte-level primitives, one byte at a time with putc; each returns 0.
int writeDword(FILE *stream, uint64_t value);
int writeWord(FILE *stream, uint64_t value);
int writeChars(FILE *stream, const char *text, int count);
int writeString(FILE *stream, const char *text);

// Layout writers, each at the current position.
void writeAvih(FILE *stream, const AviMainHeader &header);
void writeStrh(FILE *stream, const AviStreamHeader &header);
void writeStrfVideo(FILE *stream, const AviBitmapInfo &format);
void writeStrfAudio(FILE *stream, const AviWaveFormat &format);
void writeJunk(FILE *stream);
void writeHeaderList(AviWriter *writer);
int writeIndex(FILE *stream, uint64_t count, uint64_t *index);

#endif // PHASEKIT_AVI_WRITER_H
