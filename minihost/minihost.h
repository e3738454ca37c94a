// minihost.h: the standalone host. It implements the operations of host/mex.h, makes
// host arrays for callers, loads extension files and calls their mexFunction the way
// MATLAB does: one call is one scope for host memory, printed text, warnings and the
// error are captured per call, and an error ends the call and returns control here.
#ifndef PHASEKIT_MINIHOST_H
#define PHASEKIT_MINIHOST_H

#include "mex.h"

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

// Classes a host array can have; the numbering follows MATLAB's mxClassID.
enum HostClass {
    hostUnknownClass = 0,
    hostCellClass,
    hostStructClass,
    hostLogicalClass,
    hostCharClass,
    hostVoidClass,
    hostDoubleClass,
    hostSingleClass,
    hostInt8Class,
    hostUint8Class,
    hostInt16Class,
    hostUint16Class,
    hostInt32Class,
    hostUint32Class,
    hostInt64Class,
    hostUint64Class,
};

// Array construction for callers (tests, benchmarks, the command line runner).
// Every array made here belongs to the caller until handed to hostDestroyArray.
mxArray *hostCreateDouble(size_t rows, size_t columns, bool complex);
mxArray *hostCreateScalar(double value);
mxArray *hostCreateMatrix(size_t rows, size_t columns, const std::vector<double> &real,
                          const std::vector<double> &imag = {});
mxArray *hostCreateString(const std::string &text);              // 1xN char row
mxArray *hostCreateCharMatrix(size_t rows, size_t columns, const std::string &text);
mxArray *hostCreateOfClass(HostClass cls, size_t rows, size_t columns, bool complex = false);
// An array of any number of sides (3-D and beyond), zero-filled.
mxArray *hostCreateArray(HostClass cls, const std::vector<size_t> &sides, bool complex = false);
mxArray *hostCreateSparse(size_t rows, size_t columns);          // sparse double, no nonzeros
// A double array that reports the given size but holds a single sample: for checking
// that an extension refuses a size before reading any data.
mxArray *hostCreateDoubleShapeOnly(size_t rows, size_t columns);
mxArray *hostCreateDoubleShapeOnly(const std::vector<size_t> &sides);
void hostDestroyArray(mxArray *array);

HostClass hostClassOf(const mxArray *array);
void *hostDataOf(const mxArray *array);        // raw data of any numeric/char class (the
                                               // real parts; in the interleaved layout, a
                                               // complex array's (re, im) pairs)
void *hostImagDataOf(const mxArray *array);    // raw imaginary data; null when real, and in
                                               // the interleaved layout
// The host's complex layout, chosen when it is built (PHASEKIT_INTERLEAVED_COMPLEX):
// MATLAB R2018a's interleaved (re, im) pairs, or separate real and imaginary parts.
bool hostInterleavedComplex();
// Sample i of a double or single array, either layout (single parts widened, and
// rounded once when set); a real array's imaginary parts are 0.
double hostRealPart(const mxArray *array, size_t i);
double hostImagPart(const mxArray *array, size_t i);
void hostSetParts(mxArray *array, size_t i, double re, double im);  // im ignored when real
// True for the value a small array made by mxCreateUninit* holds until it is written
// (a NaN of a pattern of its own): a result sample that still holds it was never set.
bool hostUnwritten(double sample);
size_t hostElementSize(HostClass cls);

typedef void (*MexEntry)(int, mxArray **, int, const mxArray **);

// A loaded extension file; handle is null when loading failed (see error).
struct HostExtension {
    void *handle;
    MexEntry entry;
    std::string error;
};
HostExtension hostLoadExtension(const std::string &path);
void hostUnloadExtension(HostExtension *extension);

// What one call produced.
struct HostCallResult {
    bool failed;                        // the extension ended the call with an error
    std::string errorText;              // the error message, as given (formatted)
    std::string errorId;                // its identifier; empty for mexErrMsgTxt
    std::string printed;                // all mexPrintf text, in order
    std::vector<std::string> warnings;  // warning texts, in order
    std::vector<std::string> warningIds;  // their identifiers (empty for mexWarnMsgTxt)
    std::vector<mxArray *> outputs;     // output slots (null where unset); caller destroys
    size_t blocksReleased;              // mxMalloc blocks the host had to release
    size_t peakBytes;                   // most host memory (blocks + arrays) live at once
    bool interrupted;                   // an interrupt was requested during the call
    bool hostFailed;                    // the host ended the call: it could not do its part
};

struct HostCallOptions {
    bool echoPrinted;    // also write printed text to stdout as it comes
    bool echoWarnings;   // also write "Warning: text" lines to stderr as they come
    // When set (POSIX): every array of 4 MiB or more the extension makes lives in a
    // scratch file (shared mapping) in one of these folders, the k-th such array in
    // the k-th folder (the last for the rest), its data after kArrayFileHeaderRoom
    // bytes: outputs take no anonymous memory, and a caller makes a file the output
    // by writing a header there and naming it (hostArrayFileRoom, hostNameArrayFile).
    // Scratch files go with their arrays. No room for one ends the call with
    // hostFailed set.
    const std::vector<std::string> *fileFolders = nullptr;
};
const size_t kArrayFileHeaderRoom = 4096;

HostCallResult hostCall(MexEntry entry, int nlhs, const std::vector<const mxArray *> &inputs,
                        HostCallOptions options = {false, false});
void hostReleaseOutputs(HostCallResult *result);

// An array whose samples are a file's, mapped read-only (POSIX): the data of a
// column-major array of the class and sides from byte offset on (aligned to the
// element size). Null with *error when it cannot be (and on Windows, and for a complex
// array in the separate layout, whose parts cannot be one file's pairs).
mxArray *hostMapArray(const std::string &path, size_t offset, HostClass cls, const std::vector<size_t> &sides,
                      bool complex, std::string *error);
// The header room (kArrayFileHeaderRoom writable bytes before the data) of an array of
// a call that lives in one scratch file in folder; null when it does not (complex parts
// apart, another folder, not in a file).
unsigned char *hostArrayFileRoom(const mxArray *array, const std::string &folder);
// Gives that scratch file the name path (replacing a file there), in its own folder;
// then it outlives the array. False with *error when it cannot.
bool hostNameArrayFile(const mxArray *array, const std::string &path, std::string *error);

// Host memory blocks currently live and not yet released (any scope).
size_t hostLiveBlocks();

// Asks the call under way to stop, as Ctrl-C does in MATLAB or Octave: extensions see
// it through utIsInterruptPending on the call's thread. Safe from any thread and from
// a signal handler. The request lasts until the call ends (a request made between
// calls goes to the next one).
void hostRequestInterrupt();
// Whether one is pending (on the call's thread: MATLAB's libut serves it there only).
bool hostInterruptRequested();
// How many calls have started so far (any thread may ask: a test's interrupting
// thread waits for its call to begin).
unsigned hostCallsStarted();

// The message operations under names of their own, for the Windows libmex.dll, whose
// mexPrintf, mexWarnMsgTxt and mexErrMsgTxt call them (those names are the host's).
extern "C" {
int hostPrintV(const char *format, va_list args);
void hostWarnText(const char *text);
[[noreturn]] void hostErrorText(const char *text);
void hostWarnIdV(const char *identifier, const char *format, va_list args);
[[noreturn]] void hostErrorIdV(const char *identifier, const char *format, va_list args);
// MATLAB's (libut) way to ask whether the user pressed Ctrl-C, which this host serves
// too: true once hostRequestInterrupt was called, until the call ends.
bool utIsInterruptPending(void);
}

#endif // PHASEKIT_MINIHOST_H
