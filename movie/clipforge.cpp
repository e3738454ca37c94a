// clipforge.cpp: the clipforge command. Writes the JPEG files given, in order, as the
// frames of a Motion-JPEG AVI at the given frame rate; each file is copied unchanged,
// and only the first is read for the frame size. Every argument, and the first image,
// is checked before the movie file is created, so a call that fails leaves any file of
// the movie's name untouched; a later image that cannot be read is skipped with a
// warning. Images are read only from regular files, which always end. Every outcome
// that leaves no complete movie gives a warning (with an identifier, as every warning
// here has), so scripts and mexrun --strict can tell; Ctrl-C between frames closes
// the movie with the frames written so far, which play, and warns.
#include "avi_writer.h"
#include "jpeg_probe.h"

#include "mex.h"

#include "../portable/host_interrupt.h"
#include "../portable/messages.h"
#include "../portable/portability.h"

#include <cmath>
#include <cstdio>

static const int32_t kProvisionalSide = 300;
static const float kProvisionalFps = 30.0f;

// Warning texts callers may match on stay as they are, trailing newlines included.
static const char kTooFewArguments[] = "Not enough input argument.";
static const char kUsage[] = "1) avi filepath   2) fps   3)... image filepaths";
static const char kTruncated[] = "Not enough space. String is truncated.";
static const char kCannotOpenAvi[] = "Couldn't open AVI for writing\n";
static const char kNoJpegSize[] = "Cannot find width/height of jpeg\n";
static const char kBadFps[] = "The frame rate (argument 2) must be a positive, finite real number.";
static const char kIncomplete[] = "Writing the movie file failed: the movie file is incomplete.";
static const char kPathShape[] = "must be one row of characters, not a character matrix";

// Copies a text argument into a new host buffer sized from its character count; *cut
// says whether mxGetString had to cut it. A row, or a column (read as the row it
// spells: mxGetString copies in column order), of N characters. MATLAB holds 16-bit
// code units and writes them in a multibyte encoding, where one can take up to four
// bytes (three in UTF-8), so a text cut at 2N+1 bytes is fetched again with room for
// that. A cut buffer still holds a terminated text (Octave leaves it unfilled).
static char *copyTextArgument(const mxArray *argument, bool *cut) {
    const size_t characters = mxGetNumberOfElements(argument);
    size_t length = 2 * characters + 1;
    char *buffer = static_cast<char *>(mxMalloc(length));
    *cut = mxGetString(argument, buffer, length) != 0;
    if (*cut) {
        mxFree(buffer);
        length = 4 * characters + 1;
        buffer = static_cast<char *>(mxMalloc(length));
        *cut = mxGetString(argument, buffer, length) != 0;
        if (*cut) buffer[0] = 0;
    }
    return buffer;
}

// Fetches a text argument, warning when it was cut.
static char *getStringArgument(const mxArray *argument) {
    bool cut;
    char *buffer = copyTextArgument(argument, &cut);
    if (cut) warnWithId("phasekit:clipforge:pathTruncated", kTruncated);
    return buffer;
}

static void warnFormatted(const char *identifier, const char *format, const char *text) {
    // Paths can be long; the host buffer holds the whole message.
    int needed = std::snprintf(nullptr, 0, format, text);
    char *message = static_cast<char *>(mxMalloc(static_cast<size_t>(needed) + 1));
    std::snprintf(message, static_cast<size_t>(needed) + 1, format, text);
    warnWithId(identifier, message);
    mxFree(message);
}

// The frame rate as the writer takes it, or 0 when the argument is unusable.
static float readFrameRate(const mxArray *argument) {
    if (!mxIsDouble(argument) || mxIsComplex(argument) || mxIsSparse(argument) ||
        mxGetNumberOfElements(argument) == 0)
        return 0.0f;
    float fps = static_cast<float>(mxGetPr(argument)[0]);
    return (fps > 0.0f && std::isfinite(fps)) ? fps : 0.0f;
}

// Appends one image file as a frame. A file that cannot be opened or read whole is
// skipped with a warning naming it (aviOk is returned, nothing is written); a file the
// movie cannot take is not read at all. The frame buffer is kept from image to image
// and grows to the largest: fresh memory costs a page fault per page on first touch.
struct FrameBuffer {
    unsigned char *data;
    size_t capacity;
};

static AviStatus addImageFrame(AviWriter *writer, const char *path, FrameBuffer *buffer) {
    FILE *file = openRegularFile(path);
    if (!file) {
        warnFormatted("phasekit:clipforge:imageSkipped", "Cannot open image file, skipped: %s", path);
        return aviOk;
    }
    int64_t length = -1;
    if (seekFile64(file, 0, SEEK_END) == 0) length = tellFile64(file);
    if (length < 0 || seekFile64(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        warnFormatted("phasekit:clipforge:imageSkipped", "Cannot read image file, skipped: %s", path);
        return aviOk;
    }
    if (!aviFrameFits(writer, static_cast<uint64_t>(length))) {
        std::fclose(file);
        warnFormatted("phasekit:clipforge:movieFull", "The movie cannot take %s (a frame of 2 GiB or more, or a movie at its "
                      "largest): no more frames are added.",
                      path);
        return aviFrameTooLarge;
    }
    size_t size = static_cast<size_t>(length);
    if (size > buffer->capacity) {
        if (buffer->data) mxFree(buffer->data);
        buffer->data = static_cast<unsigned char *>(mxMalloc(size));
        buffer->capacity = size;
    }
    bool complete = size == 0 || std::fread(buffer->data, 1, size, file) == size;
    std::fclose(file);
    AviStatus status = aviOk;
    if (complete) status = aviAddFrame(writer, buffer->data, size);
    else warnFormatted("phasekit:clipforge:imageSkipped", "Cannot read image file, skipped: %s", path);
    return status;
}

// The first problem with the text arguments (the movie path and every image path),
// as a warning: not a character array, or a character matrix of several rows and
// several columns (or more sides), whose characters mxGetString would interleave
// column by column into a name nobody gave. A row or a column is one path.
static bool textArgumentsUsable(int nrhs, const mxArray *prhs[]) {
    for (int k = 0; k < nrhs; ++k) {
        if (k == 1) continue;
        const char *what = k == 0 ? "avi filepath" : "image filepath";
        const char *problem = nullptr;
        if (!mxIsChar(prhs[k])) problem = "must be a character array";
        else if ((mxGetM(prhs[k]) > 1 && mxGetN(prhs[k]) > 1) || mxGetNumberOfDimensions(prhs[k]) > 2)
            problem = kPathShape;
        if (problem) {
            char message[128];
            std::snprintf(message, sizeof message, "Argument %d (%s) %s.", k + 1, what, problem);
            warnWithId("phasekit:clipforge:pathType", message);
            return false;
        }
    }
    return true;
}

// The argument number of an image that the movie path names (the same file, by any
// name), or 0. Only an existing file can be an image, so without one nothing else is
// looked at. Paths are fetched here without the truncation warning; their later fetch
// gives it.
static int imageOverwrittenByMovie(const char *moviePath, int nrhs, const mxArray *prhs[]) {
    FileIdentity movie, image;
    if (!identifyFile(moviePath, &movie)) return 0;
    for (int k = 2; k < nrhs; ++k) {
        bool cut;
        char *path = copyTextArgument(prhs[k], &cut);
        bool same = identifyFile(path, &image) && sameIdentity(movie, image);
        mxFree(path);
        if (same) return k + 1;
    }
    return 0;
}

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    (void)nlhs;
    (void)plhs;
    mexPrintf("clipforge: Motion-JPEG AVI writer (phasekit)\n");
    mexPrintf("\tframes are the JPEG files themselves, copied unchanged\n");
    if (nrhs < 3) {
        warnWithId("phasekit:clipforge:tooFewArguments", kTooFewArguments);
        warnWithId("phasekit:clipforge:usage", kUsage);
        return;
    }

    // Check every argument before the movie file is created.
    if (!textArgumentsUsable(nrhs, prhs)) return;
    float fps = readFrameRate(prhs[1]);
    if (fps == 0.0f) {
        warnWithId("phasekit:clipforge:frameRate", kBadFps);
        return;
    }
    char *moviePath = getStringArgument(prhs[0]);
    int overwritten = imageOverwrittenByMovie(moviePath, nrhs, prhs);
    if (overwritten) {
        char message[128];
        std::snprintf(message, sizeof message,
                      "The movie path names the same file as argument %d (an image): "
                      "nothing is written, so the image is kept.",
                      overwritten);
        warnWithId("phasekit:clipforge:movieIsImage", message);
        return;
    }

    // The first image gives the frame size; a movie is made only once it has one.
    char *firstPath = getStringArgument(prhs[2]);
    FILE *first = openRegularFile(firstPath);
    if (!first) {
        mexPrintf("Cannot open file: %s\n", firstPath);
        warnFormatted("phasekit:clipforge:firstImageUnreadable",
                      "No movie was written: the first image cannot be opened: %s", firstPath);
        return;
    }
    int32_t width = 0, height = 0;
    int found = jpegFindSize(first, &width, &height);
    std::fclose(first);
    if (found != 0) {
        warnWithId("phasekit:clipforge:noFrameSize", kNoJpegSize);
        return;
    }

    AviWriter *writer = aviOpen(moviePath, kProvisionalSide, kProvisionalSide, "MJPG",
                                kProvisionalFps, nullptr);
    if (!writer) {
        warnWithId("phasekit:clipforge:movieNotCreated", kCannotOpenAvi);
        return;
    }
    aviSetFps(writer, fps);
    aviSetSize(writer, width, height);

    bool failed = false;
    int interruptedAt = -1;
    FrameBuffer buffer = {nullptr, 0};
    for (int k = 0; k <= nrhs - 3; ++k) {
        if (hostInterruptPending()) {
            interruptedAt = k;
            break;
        }
        // Shows frames done against the number of images minus one.
        if (k % 10 == 0) mexPrintf("%3d frames on %d...\n", k, nrhs - 3);
        char *path = getStringArgument(prhs[2 + k]);
        AviStatus status = addImageFrame(writer, path, &buffer);
        mxFree(path);
        if (status == aviWriteFailed) failed = true;
        if (status != aviOk) break;  // a full disk or a full movie: finish what is there
    }
    if (buffer.data) mxFree(buffer.data);
    if (aviClose(writer) != aviOk) failed = true;
    if (failed) warnWithId("phasekit:clipforge:writeFailed", kIncomplete);
    if (interruptedAt >= 0) {
        char message[160];
        std::snprintf(message, sizeof message,
                      "clipforge was interrupted (Ctrl-C): the movie holds the first %d of %d images.",
                      interruptedAt, nrhs - 2);
        warnWithId("phasekit:clipforge:interrupted", message);
    }
    mxFree(moviePath);
}
