// avi_writer.h: a Motion-JPEG AVI writer. The header list and a filler chunk fill
// exactly the first 4096 bytes, so frames start at a fixed offset and closing can
// rewrite the header in place; frames are opaque byte blocks, each one "00dc" chunk
// padded to a multiple of 4; an "idx1" index ends the file. Numbers are little-endian.
//
// Movies past 2 GiB (video only) use the OpenDML extension. The first RIFF form takes
// frames while it, with its "idx1" and an "ix00" standard index of its frames (24 bytes
// a frame and 40), stays below 2^31 bytes; a movie whose frames all fit that way is an
// ordinary one-form AVI, written exactly as without the extension. The frame that
// would not fit closes the first form (its "ix00" ends its movie list, its "idx1"
// follows, so old readers still play that part) and opens a "RIFF" "AVIX" form with a
// movie list of its own, which takes frames while it stays at or below 1 GiB with its
// "ix00"; then the next form begins, and so on. At close the header region gains a
// super index ("indx", one entry per form) in the video stream list and an "odml" list
// holding the total frame count ("dmlh"), in place of filler: the region stays 4096
// bytes and frames never move. Its room bounds a movie to kAviMaxForms forms (about
// 224 GiB).
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

// One RIFF form of an OpenDML movie, as its super index entry names it.
struct AviForm {
    int64_t indexPos;             // position of its "ix00" chunk
    uint32_t indexBytes;          // that chunk's length, its 8-byte header included
    uint32_t frames;              // frames it holds
};

// Super index entries that fit the header region beside the OpenDML headers.
const int kAviMaxForms = 223;

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
    // OpenDML. The limits are the real ones after aviOpen; tests may lower them.
    int64_t firstFormLimit;       // the first form, its indexes included, stays below this
    int64_t laterFormLimit;       // later forms, their "ix00" included, stay at or below this
    int64_t formPos;              // position of the current form's "RIFF" code
    uint64_t formFirstFrame;      // the current form's first frame
    uint64_t firstFormFrames;     // frames of the first form, set when a second begins
    int32_t laterForms;           // "AVIX" forms begun; 0 for a one-form movie
    AviForm forms[kAviMaxForms];  // the forms finished so far, in file order
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
    aviFrameTooLarge = 1,  // the movie cannot take the frame: a movie with audio would reach
                           // 2^31 bytes, the frame is 2 GiB or more, or the forms are used up
    aviWriteFailed = 2,    // the stream reported an error: the file is incomplete
};

const int32_t kAviHeaderRegion = 4096;             // header list + filler end here
const int64_t kAviMaxFileSize = int64_t(1) << 31;  // one RIFF form stays below this
const int64_t kAviLaterFormSize = int64_t(1) << 30; // "AVIX" forms, as common writers make them

AviWriter *aviOpen(const char *path, int64_t width, int64_t height, const char *codec, float fps,
                   const AviAudioParams *audio);
void aviSetFps(AviWriter *writer, float fps);
void aviSetSize(AviWriter *writer, int64_t width, int64_t height);
// True when the movie can take a frame of this length (in a new form if need be).
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
// OpenDML parts: the standard index of one form's frames (their sizes, the first chunk
// at moviPos + 4), the super index and the "odml" list.
void writeStandardIndex(FILE *stream, int64_t moviPos, uint64_t count, const uint64_t *sizes);
void writeSuperIndex(FILE *stream, const AviForm *forms, int32_t count);
void writeOdmlList(FILE *stream, uint64_t totalFrames);

#endif // PHASEKIT_AVI_WRITER_H
