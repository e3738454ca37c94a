// avi_writer.cpp: writes the AVI container described in avi_writer.h. Invariants: the
// header list and the "JUNK" filler end exactly at offset 4096, both when written at
// open and when rewritten at close; every chunk size counts the bytes after its own size
// field; every RIFF form stays below 2^31 bytes, since readers take its 32-bit size and
// the offsets inside it as signed. File positions are 64-bit throughout.
#include "avi_writer.h"

#include "mex.h"

#include "../portable/portability.h"

#include <cmath>
#include <cstring>

namespace {

const char kFillerText[] = "JUNK IN THE CHUNK! ";  // 19 characters, the last a blank
const int kFillerLength = 19;
const int32_t kHasIndexFlag = 16;                  // main header flag
const int32_t kKeyFrameFlag = 16;                  // index entry flag
const int32_t kBitmapInfoSize = 40;
const uint64_t kIndexGrowth = 1024;
const uint64_t kAudioChunkBit = uint64_t(1) << 31;
const int kOdmlHeaderValues = 62;                  // "dmlh": the frame count, 61 reserved
// Chunks larger than this are refused: a form holding one must stay below 2^31 bytes
// with its headers and index, and bit 31 of a standard index size is a flag.
const uint64_t kLargestChunk = (uint64_t(1) << 31) - 128;

void writeQword(FILE *stream, uint64_t value) {
    writeDword(stream, value);
    writeDword(stream, value >> 32);
}

// Writes a dword at pos and comes back to where the stream was.
void patchDword(FILE *stream, int64_t pos, uint64_t value) {
    int64_t back = tellFile64(stream);
    seekFile64(stream, pos, SEEK_SET);
    writeDword(stream, value);
    seekFile64(stream, back, SEEK_SET);
}

// Writes a code and a zero size; returns the position of the size field.
int64_t beginChunk(FILE *stream, const char *code) {
    writeChars(stream, code, 4);
    int64_t sizePos = tellFile64(stream);
    writeDword(stream, 0);
    return sizePos;
}

// Patches the size field at sizePos with the bytes written since.
void endChunk(FILE *stream, int64_t sizePos) {
    patchDword(stream, sizePos, static_cast<uint64_t>(tellFile64(stream) - sizePos - 4));
}

int64_t beginList(FILE *stream, const char *type) {
    int64_t sizePos = beginChunk(stream, "LIST");
    writeChars(stream, type, 4);
    return sizePos;
}

uint64_t oldIndexBytes(uint64_t frames) { return 8 + 16 * frames; }
uint64_t standardIndexBytes(uint64_t frames) { return 32 + 8 * frames; }

// A frame's chunk size: its length brought up to a multiple of 4 (too large a length
// stays as it is, to be refused).
uint64_t paddedSize(uint64_t length) {
    return length > kLargestChunk ? length : (length + 3) & ~uint64_t(3);
}

// Where a chunk of this size goes: the current form, a new one, or nowhere.
enum Placement { placeInForm, placeInNewForm, placeNowhere };

Placement placeChunk(const AviWriter *w, uint64_t size) {
    const int64_t end = tellFile64(w->stream);
    if (end < 0 || size > kLargestChunk || w->chunkCount >= 0xFFFFFFFFu) return placeNowhere;
    const uint64_t chunk = 8 + size;
    const bool extensible = w->mainHeader.streams == 1;  // OpenDML for video alone
    if (w->laterForms == 0) {
        uint64_t need = static_cast<uint64_t>(end) + chunk + oldIndexBytes(w->chunkCount + 1);
        if (!extensible) return need < static_cast<uint64_t>(kAviMaxFileSize) ? placeInForm : placeNowhere;
        if (need + standardIndexBytes(w->chunkCount + 1) < static_cast<uint64_t>(w->firstFormLimit))
            return placeInForm;
    } else {
        uint64_t inForm = w->chunkCount - w->formFirstFrame;
        uint64_t need = static_cast<uint64_t>(end - w->formPos) + chunk + standardIndexBytes(inForm + 1);
        // A frame larger than a whole form gets one to itself.
        if (inForm == 0 || need <= static_cast<uint64_t>(w->laterFormLimit)) return placeInForm;
    }
    return w->laterForms + 2 <= kAviMaxForms ? placeInNewForm : placeNowhere;
}

// Ends the current form: its standard index closes its movie list, and the first form
// gets its old index after that list.
void finishForm(AviWriter *w) {
    FILE *stream = w->stream;
    const uint64_t frames = w->chunkCount - w->formFirstFrame;
    const int64_t indexPos = tellFile64(stream);
    writeStandardIndex(stream, w->moviSizePos + 4, frames, w->index + w->formFirstFrame);
    int64_t end = tellFile64(stream);
    AviForm &form = w->forms[w->laterForms];
    form.indexPos = indexPos;
    form.indexBytes = static_cast<uint32_t>(end - indexPos);
    form.frames = static_cast<uint32_t>(frames);
    patchDword(stream, w->moviSizePos, static_cast<uint64_t>(end - w->moviSizePos - 4));
    if (w->laterForms == 0) {
        writeIndex(stream, frames, w->index);
        w->firstFormFrames = frames;
    }
    end = tellFile64(stream);
    patchDword(stream, w->formPos + 4, static_cast<uint64_t>(end - w->formPos - 8));
}

void beginLaterForm(AviWriter *w) {
    FILE *stream = w->stream;
    w->laterForms += 1;
    w->formPos = tellFile64(stream);
    writeChars(stream, "RIFF", 4);
    writeDword(stream, 0);
    writeChars(stream, "AVIX", 4);
    w->moviSizePos = beginList(stream, "movi");
    w->formFirstFrame = w->chunkCount;
}

// 32-bit product that wraps like the file's fields do.
int32_t imageBytes(int64_t width, int64_t height) {
    uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
    return static_cast<int32_t>(w * h * 3u);
}

// Double to int32 by truncation, saturating instead of overflowing.
int32_t truncateToInt32(double value) {
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return 2147483647;
    if (value <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int32_t>(value);
}

// Whole frame rates keep scale 1 and rate = fps. Other rates get scale 10^k, the
// smallest k for which rate / scale is fps to float precision (about seven digits),
// so the stream plays at the right speed and rate is never 0 for rates below 1.
void setStreamRate(AviStreamHeader *header, float fps) {
    double exact = static_cast<double>(fps);
    if (!(exact > 0) || exact == std::floor(exact) || std::isinf(exact)) {
        header->scale = 1;
        header->rate = truncateToInt32(exact);
        return;
    }
    int32_t scale = 10;
    double rate = std::round(exact * scale);
    while (scale < 1000000000 &&
           (rate < 1 || std::fabs(rate / scale - exact) > 1e-6 * exact) &&
           exact * scale * 10 < 2147483647.0) {
        scale *= 10;
        rate = std::round(exact * scale);
    }
    header->scale = scale;
    header->rate = truncateToInt32(rate < 1 ? 1 : rate);
}

void setRate(AviWriter *writer, float fps) {
    writer->mainHeader.usecPerFrame = truncateToInt32(1000000.0 / static_cast<double>(fps));
    setStreamRate(&writer->videoHeader, fps);
}

void releaseWriter(AviWriter *writer) {
    if (writer->index) mxFree(writer->index);
    if (writer->videoFormat.palette) mxFree(writer->videoFormat.palette);
    mxFree(writer);
}

}  // namespace

// ---------------------------------------------------------------- primitives

int writeDword(FILE *stream, uint64_t value) {
    for (int k = 0; k < 4; ++k) std::putc(static_cast<int>((value >> (8 * k)) & 0xFF), stream);
    return 0;
}

int writeWord(FILE *stream, uint64_t value) {
    std::putc(static_cast<int>(value & 0xFF), stream);
    std::putc(static_cast<int>((value >> 8) & 0xFF), stream);
    return 0;
}

int writeChars(FILE *stream, const char *text, int count) {
    for (int k = 0; k < count; ++k) std::putc(static_cast<unsigned char>(text[k]), stream);
    return 0;
}

int writeString(FILE *stream, const char *text) {
    for (int k = 0; k < 255 && text[k] != '\0'; ++k) std::putc(static_cast<unsigned char>(text[k]), stream);
    return 0;
}

// ---------------------------------------------------------------- layout

void writeAvih(FILE *stream, const AviMainHeader &h) {
    int64_t sizePos = beginChunk(stream, "avih");
    const int32_t values[10] = {h.usecPerFrame,  h.maxBytesPerSec, h.paddingGranularity,
                                h.flags,         h.totalFrames,    h.initialFrames,
                                h.streams,       h.suggestedBufferSize, h.width, h.height};
    for (int32_t v : values) writeDword(stream, static_cast<uint32_t>(v));
    for (int32_t v : h.reserved) writeDword(stream, static_cast<uint32_t>(v));
    endChunk(stream, sizePos);
}

void writeStrh(FILE *stream, const AviStreamHeader &h) {
    int64_t sizePos = beginChunk(stream, "strh");
    writeChars(stream, h.type, 4);
    writeChars(stream, h.handler, 4);
    const int32_t values[10] = {h.flags, h.priority, h.initialFrames, h.scale, h.rate,
                                h.start, h.length,   h.suggestedBufferSize, h.quality, h.sampleSize};
    for (int32_t v : values) writeDword(stream, static_cast<uint32_t>(v));
    writeDword(stream, 0);  // frame rectangle
    writeDword(stream, 0);
    endChunk(stream, sizePos);
}

void writeStrfVideo(FILE *stream, const AviBitmapInfo &f) {
    int64_t sizePos = beginChunk(stream, "strf");
    writeDword(stream, static_cast<uint64_t>(f.headerSize));
    writeDword(stream, static_cast<uint64_t>(f.width));
    writeDword(stream, static_cast<uint64_t>(f.height));
    writeWord(stream, f.planes);
    writeWord(stream, f.bitCount);
    writeDword(stream, f.compression);
    writeDword(stream, f.imageSize);
    writeDword(stream, f.xPelsPerMeter);
    writeDword(stream, f.yPelsPerMeter);
    writeDword(stream, f.coloursUsed);
    writeDword(stream, f.coloursImportant);
    // Palette entries: three colour bytes, then a zero byte.
    for (uint32_t k = 0; f.palette && k < f.coloursUsed; ++k) {
        writeChars(stream, reinterpret_cast<const char *>(f.palette + 4 * k), 3);
        std::putc(0, stream);
    }
    endChunk(stream, sizePos);
}

void writeStrfAudio(FILE *stream, const AviWaveFormat &f) {
    int64_t sizePos = beginChunk(stream, "strf");
    writeWord(stream, f.formatTag);
    writeWord(stream, f.channels);
    writeDword(stream, f.samplesPerSec);
    writeDword(stream, f.avgBytesPerSec);
    writeWord(stream, f.blockAlign);
    writeWord(stream, f.bitsPerSample);
    writeWord(stream, f.extraSize);
    endChunk(stream, sizePos);
}

void writeJunk(FILE *stream) {
    int64_t sizePos = beginChunk(stream, "JUNK");
    int64_t fill = kAviHeaderRegion - tellFile64(stream);
    for (int64_t k = 0; k < fill; ++k) std::putc(kFillerText[k % kFillerLength], stream);
    endChunk(stream, sizePos);
}

void writeHeaderList(AviWriter *writer) {
    FILE *stream = writer->stream;
    const bool extended = writer->laterForms > 0;  // finished forms only: called at close
    int64_t hdrl = beginList(stream, "hdrl");
    writeAvih(stream, writer->mainHeader);
    int64_t strl = beginList(stream, "strl");
    writeStrh(stream, writer->videoHeader);
    writeStrfVideo(stream, writer->videoFormat);
    if (extended) writeSuperIndex(stream, writer->forms, writer->laterForms + 1);
    endChunk(stream, strl);
    // The stream count, not the presence of an audio description, decides this.
    if (writer->mainHeader.streams == 2) {
        int64_t audio = beginList(stream, "strl");
        writeStrh(stream, writer->audioHeader);
        writeStrfAudio(stream, writer->audioFormat);
        endChunk(stream, audio);
    }
    if (extended) writeOdmlList(stream, writer->chunkCount);
    endChunk(stream, hdrl);
    writeJunk(stream);
}

int writeIndex(FILE *stream, uint64_t count, uint64_t *index) {
    if (!index) return -1;
    int64_t sizePos = beginChunk(stream, "idx1");
    uint64_t offset = 4;  // counted from the "movi" code
    for (uint64_t k = 0; k < count; ++k) {
        if (index[k] & kAudioChunkBit) {
            writeString(stream, "01wb");
            index[k] &= kAudioChunkBit - 1;
        } else {
            writeString(stream, "00dc");
        }
        writeDword(stream, kKeyFrameFlag);
        writeDword(stream, offset);
        writeDword(stream, index[k]);
        offset += index[k] + 8;
    }
    endChunk(stream, sizePos);
    return 0;
}

void writeStandardIndex(FILE *stream, int64_t moviPos, uint64_t count, const uint64_t *sizes) {
    int64_t sizePos = beginChunk(stream, "ix00");
    writeWord(stream, 2);   // dwords per entry
    std::putc(0, stream);   // subtype: plain frames
    std::putc(1, stream);   // an index of chunks
    writeDword(stream, count);
    writeChars(stream, "00dc", 4);
    writeQword(stream, static_cast<uint64_t>(moviPos));  // the base of the offsets
    writeDword(stream, 0);
    // Offsets point at a chunk's data, behind its 8-byte header; the first chunk
    // follows the "movi" code. A clear bit 31 in the size marks a key frame.
    uint64_t offset = 4 + 8;
    for (uint64_t k = 0; k < count; ++k) {
        writeDword(stream, offset);
        writeDword(stream, sizes[k]);
        offset += sizes[k] + 8;
    }
    endChunk(stream, sizePos);
}

void writeSuperIndex(FILE *stream, const AviForm *forms, int32_t count) {
    int64_t sizePos = beginChunk(stream, "indx");
    writeWord(stream, 4);   // dwords per entry
    std::putc(0, stream);   // subtype
    std::putc(0, stream);   // an index of indexes
    writeDword(stream, static_cast<uint64_t>(count));
    writeChars(stream, "00dc", 4);
    for (int k = 0; k < 3; ++k) writeDword(stream, 0);
    for (int32_t k = 0; k < count; ++k) {
        writeQword(stream, static_cast<uint64_t>(forms[k].indexPos));
        writeDword(stream, forms[k].indexBytes);
        writeDword(stream, forms[k].frames);  // duration in frames
    }
    endChunk(stream, sizePos);
}

void writeOdmlList(FILE *stream, uint64_t totalFrames) {
    int64_t list = beginList(stream, "odml");
    int64_t chunk = beginChunk(stream, "dmlh");
    writeDword(stream, totalFrames);
    for (int k = 1; k < kOdmlHeaderValues; ++k) writeDword(stream, 0);
    endChunk(stream, chunk);
    endChunk(stream, list);
}

// ---------------------------------------------------------------- operations

AviWriter *aviOpen(const char *path, int64_t width, int64_t height, const char *codec, float fps,
                   const AviAudioParams *audio) {
    FILE *stream = std::fopen(path, "wb+");
    if (!stream) return nullptr;
    AviWriter *w = static_cast<AviWriter *>(mxMalloc(sizeof(AviWriter)));
    std::memset(w, 0, sizeof *w);
    w->stream = stream;

    w->mainHeader.flags = kHasIndexFlag;
    w->mainHeader.streams = audio ? 2 : 1;
    std::memcpy(w->videoHeader.type, "vids", 4);
    std::memcpy(w->videoHeader.handler, codec, 4);
    AviBitmapInfo &f = w->videoFormat;
    f.headerSize = kBitmapInfoSize;
    f.planes = 1;
    f.bitCount = 24;
    const unsigned char *c = reinterpret_cast<const unsigned char *>(codec);
    f.compression = c[0] | (c[1] << 8) | (c[2] << 16) | (static_cast<uint32_t>(c[3]) << 24);
    // The size and rate fields are those the setters keep up to date.
    aviSetSize(w, width, height);
    setRate(w, fps);

    if (audio) {
        // Integer division: 12-bit samples count as one byte each.
        int32_t bytesPerSample = audio->bitsPerSample / 8;
        int32_t blockAlign = bytesPerSample * audio->channels;
        int32_t bytesPerSec = blockAlign * audio->samplesPerSec;
        AviStreamHeader &a = w->audioHeader;
        std::memcpy(a.type, "auds", 4);
        a.handler[0] = 1;
        a.scale = 1;
        a.rate = audio->samplesPerSec;
        a.suggestedBufferSize = bytesPerSec;
        a.quality = -1;
        a.sampleSize = blockAlign;
        AviWaveFormat &wf = w->audioFormat;
        wf.formatTag = 1;
        wf.channels = static_cast<uint16_t>(audio->channels);
        wf.samplesPerSec = static_cast<uint32_t>(audio->samplesPerSec);
        wf.avgBytesPerSec = static_cast<uint32_t>(bytesPerSec);
        wf.blockAlign = static_cast<uint16_t>(blockAlign);
        wf.bitsPerSample = static_cast<uint16_t>(audio->bitsPerSample);
        wf.extraSize = 0;
    }

    writeChars(stream, "RIFF", 4);
    writeDword(stream, 0);
    writeChars(stream, "AVI ", 4);
    writeHeaderList(w);
    w->moviSizePos = beginList(stream, "movi");  // its size is patched at close

    w->indexCapacity = kIndexGrowth;
    w->index = static_cast<uint64_t *>(mxMalloc(kIndexGrowth * sizeof(uint64_t)));
    w->indexUsed = 0;
    w->chunkCount = 0;
    w->firstFormLimit = kAviMaxFileSize;
    w->laterFormLimit = kAviLaterFormSize;
    w->formPos = 0;
    return w;
}

void aviSetFps(AviWriter *writer, float fps) { setRate(writer, fps); }

void aviSetSize(AviWriter *writer, int64_t width, int64_t height) {
    int32_t imageSize = imageBytes(width, height);
    writer->mainHeader.width = static_cast<int32_t>(width);
    writer->mainHeader.height = static_cast<int32_t>(height);
    writer->videoFormat.width = width;
    writer->videoFormat.height = height;
    writer->mainHeader.maxBytesPerSec = imageSize;
    writer->mainHeader.suggestedBufferSize = imageSize;
    writer->videoHeader.suggestedBufferSize = imageSize;
    writer->videoFormat.imageSize = static_cast<uint32_t>(imageSize);
}

bool aviFrameFits(const AviWriter *writer, uint64_t length) {
    return placeChunk(writer, paddedSize(length)) != placeNowhere;
}

AviStatus aviAddFrame(AviWriter *writer, const void *data, uint64_t length) {
    uint64_t size = paddedSize(length);
    Placement placement = placeChunk(writer, size);
    if (placement == placeNowhere) return aviFrameTooLarge;
    if (placement == placeInNewForm) {
        finishForm(writer);
        beginLaterForm(writer);
    }
    uint64_t fill = size - length;
    writer->chunkCount += 1;
    // Counted in 32 bits, as the file holds it (placeChunk keeps it below 2^32).
    writer->videoHeader.length =
        static_cast<int32_t>(static_cast<uint32_t>(writer->videoHeader.length) + 1u);
    // Grow when this frame would take the last slot (the 1024th, 2048th, ...).
    if (writer->chunkCount >= writer->indexCapacity) {
        writer->indexCapacity += kIndexGrowth;
        writer->index = static_cast<uint64_t *>(
            mxRealloc(writer->index, writer->indexCapacity * sizeof(uint64_t)));
    }
    writer->index[writer->indexUsed++] = size;

    FILE *stream = writer->stream;
    writeChars(stream, "00dc", 4);
    writeDword(stream, size);
    if (length > 0) std::fwrite(data, 1, length, stream);
    for (uint64_t k = 0; k < fill; ++k) std::putc(0, stream);
    return std::ferror(stream) ? aviWriteFailed : aviOk;
}

AviStatus aviClose(AviWriter *writer) {
    FILE *stream = writer->stream;
    if (writer->laterForms == 0) {
        endChunk(stream, writer->moviSizePos);
        writeIndex(stream, writer->chunkCount, writer->index);
        writer->mainHeader.totalFrames = writer->videoHeader.length;
    } else {
        finishForm(writer);
        // Old readers play the first form alone, as its old index tells; the stream
        // header and "dmlh" count every frame.
        writer->mainHeader.totalFrames = static_cast<int32_t>(writer->firstFormFrames);
    }
    mxFree(writer->index);
    writer->index = nullptr;

    int64_t fileEnd = tellFile64(stream);
    seekFile64(stream, 12, SEEK_SET);
    writeHeaderList(writer);
    seekFile64(stream, fileEnd, SEEK_SET);
    // The first form's size; a later form's was set when it ended.
    if (writer->laterForms == 0) patchDword(stream, 4, static_cast<uint64_t>(fileEnd - 8));

    // Buffered writes surface their errors on flush and close.
    bool failed = std::fflush(stream) != 0 || std::ferror(stream) != 0;
    failed = std::fclose(stream) != 0 || failed;
    releaseWriter(writer);
    return failed ? aviWriteFailed : aviOk;
}
