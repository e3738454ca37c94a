// minihost.cpp: the standalone host's arrays, per-call memory, messages, errors and
// extension loading. Invariants: every block handed out by mxMalloc/mxCalloc/
// mxRealloc is in the block registry until freed; blocks and arrays made during a
// call and not handed back are released when the call returns; mexErrMsgTxt unwinds
// to hostCall and never returns to the extension.
#include "minihost.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cmath>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>
#include <unordered_map>

struct mxArray_tag {
    HostClass cls;
    size_t rows;
    size_t columns;
    bool sparse;
    void *real;    // elements of the class (double, char as uint16, ...); null for cell/struct
    void *imag;    // imaginary elements, null for real arrays and, in the interleaved
                   // layout, for complex ones, whose real holds (re, im) pairs
    bool complex;
    size_t partBytes;  // bytes of one part (the real, or the imaginary)
    size_t bytes;      // bytes held by real + imag, for the memory account
    size_t dimensionCount;  // 2 for a matrix; more for N-D, whose columns are sides 2..N
    size_t dimensions[32];  // the sides, dimensionCount of them (rows first)
};

namespace {

// Thrown by mexErrMsgTxt and caught only by hostCall: the error ends the call.
struct CallAborted {
    std::string text;
    std::string identifier;  // empty for mexErrMsgTxt
    bool byHost = false;     // the host could not do its part (no room for a file)
};

// Arrays whose parts live in files: mapped inputs (kept) and file-backed arrays made
// in a call (their scratch files removed with them unless renamed first). Guarded by
// its own lock: arrays are released while the block registry's is held.
struct FileParts {
    std::string path[2];                // empty for a scratch file without a name (see mapScratchFile)
    void *base[2] = {nullptr, nullptr};  // the mappings, header room included
    size_t length[2] = {0, 0};
    int descriptor[2] = {-1, -1};       // a nameless scratch file's, kept open to name it
    bool scratch = false;               // files of the call: removed with the array unless named
    std::string folder;                 // where a scratch array's files are
};

// A scratch array whose samples are all in one file (not complex parts apart).
bool inOneScratchFile(const FileParts &parts) { return parts.scratch && parts.base[0] && !parts.base[1]; }
std::mutex fileLock;
std::unordered_map<const mxArray *, FileParts> &fileArrays() {
    static std::unordered_map<const mxArray *, FileParts> registry;
    return registry;
}

// Set by hostRequestInterrupt (another thread, a signal handler) and read by
// utIsInterruptPending on the call's thread; cleared when a call ends, as a host
// does once it has handled the interrupt.
std::atomic<bool> interruptRequested(false);
std::atomic<unsigned> callsStarted(0);

struct BlockInfo {
    size_t bytes;
    unsigned scope;  // 0 outside any call, else the call that allocated it
};

struct HostState {
    std::mutex lock;  // guards the registry; allocations may come from any thread
    std::unordered_map<void *, BlockInfo> blocks;
    unsigned scope = 0;  // current call, 0 when no call runs
    unsigned lastScope = 0;
    size_t liveBytes = 0;
    size_t peakBytes = 0;
    std::vector<mxArray *> callArrays;  // arrays the extension created in this call
    HostCallResult *current = nullptr;
    HostCallOptions options = {false, false, nullptr};
    size_t fileArraysMade = 0;  // in this call, for the folder of the next one
    // The thread that runs the current call. Set before the entry runs, so any worker
    // thread the extension starts sees it.
    std::thread::id callThread;
};

HostState &host() {
    static HostState state;
    return state;
}

// printf formatting into a string of any length.
std::string formatText(const char *format, va_list args) {
    char small[512];
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(small, sizeof small, format, args);
    std::string text;
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        text.assign(small, static_cast<size_t>(n));
    } else if (n >= 0) {
        text.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&text[0], text.size(), format, again);
        text.resize(static_cast<size_t>(n));
    }
    va_end(again);
    return text;
}

// MATLAB's host functions are not thread-safe and must be called on MATLAB's own
// thread only; an extension that calls one from a worker thread is stopped here.
void requireHostThread(const char *operation) {
    HostState &h = host();
    if (h.scope != 0 && std::this_thread::get_id() != h.callThread) {
        std::fprintf(stderr, "minihost: %s called from a worker thread; host functions "
                             "belong to the host's thread\n", operation);
        std::abort();
    }
}

void accountBytes(HostState &h, size_t added, size_t removed) {
    h.liveBytes = h.liveBytes + added - removed;
    if (h.liveBytes > h.peakBytes) h.peakBytes = h.liveBytes;
}

// Allocation failure in a real host ends the call with an error; outside a call the
// process has no one to report to.
[[noreturn]] void outOfMemory() {
    if (host().scope != 0) throw CallAborted{"Out of memory.", ""};
    std::fprintf(stderr, "minihost: out of memory\n");
    std::abort();
}

// Large blocks come straight from the kernel, zeroed, and marked for transparent huge
// pages: first touching hundreds of megabytes page by page otherwise costs as much as
// the work done on them. Small blocks use the C heap.
const size_t kLargeBlock = size_t(4) << 20;

void *allocateZeroed(size_t bytes) {
#if defined(_WIN32)
    return std::calloc(bytes ? bytes : 1, 1);
#else
    if (bytes < kLargeBlock) return std::calloc(bytes ? bytes : 1, 1);
    void *block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
    madvise(block, bytes, MADV_HUGEPAGE);
#endif
    return block;
#endif
}

// A block whose content is left to the caller, as MATLAB's mxCreateUninit* leave it.
// Small ones are filled with a NaN of a pattern of its own, so that a sample an
// extension failed to write shows in the tests; large ones come from the kernel as
// allocateZeroed's do (filling them would touch them first, which the host's
// own allocator does not).
const uint64_t kUnwrittenPattern = 0x7FF8DEAD0BADF00Dull;

void *allocateUnfilled(size_t bytes) {
    if (bytes >= kLargeBlock) return allocateZeroed(bytes);
    void *block = std::malloc(bytes ? bytes : 1);
    if (!block) return nullptr;
    unsigned char *p = static_cast<unsigned char *>(block);
    for (size_t k = 0; k < bytes; ++k) p[k] = static_cast<unsigned char>(kUnwrittenPattern >> (8 * (k % 8)));
    return block;
}

void releaseBlock(void *block, size_t bytes) {
    if (!block) return;
#if defined(_WIN32)
    (void)bytes;
    std::free(block);
#else
    if (bytes < kLargeBlock) std::free(block);
    else munmap(block, bytes);
#endif
}

#if !defined(_WIN32)
// Room for a .npy header (the standard's 64-byte alignment, and a page) before the data
// of a file-backed array, so that the file becomes the output by writing the header.
const size_t kHeaderRoom = kArrayFileHeaderRoom;

// Gives an empty file `length` bytes whose blocks are reserved, so that writing its
// pages through a mapping cannot fail for want of room; 0 or an error number. Where
// the file system cannot reserve blocks (posix_fallocate's EINVAL or EOPNOTSUPP: ZFS,
// some network file systems; F_PREALLOCATE's ENOTSUP, or the EINVAL some APFS
// versions give on a file just created) the file is only sized.
int reserveFileSpace(int fd, size_t length) {
#if defined(__APPLE__)
    // macOS has no posix_fallocate; F_PREALLOCATE reserves blocks past the end of
    // the file without changing its size, which ftruncate then sets.
    fstore_t store = {F_ALLOCATEALL, F_PEOFPOSMODE, 0, static_cast<off_t>(length), 0};
    if (fcntl(fd, F_PREALLOCATE, &store) == -1 && errno != ENOTSUP && errno != EINVAL) return errno;
#else
    const int reserved = posix_fallocate(fd, 0, static_cast<off_t>(length));
    if (reserved == 0) return 0;
    if (reserved != EINVAL && reserved != EOPNOTSUPP) return reserved;
#endif
    return ftruncate(fd, static_cast<off_t>(length)) == 0 ? 0 : errno;
}

// A scratch file of kHeaderRoom + bytes in folder, its blocks reserved (a full disk
// or a file size limit shows here, not as a fault when a page is first written),
// mapped shared; the data begins after the header room. Where the system allows it
// (Linux's O_TMPFILE) the file has no name until it is kept, so that a process killed
// in a long call leaves no scratch file behind; else it has a hidden name. Null with
// *error on failure.
void *mapScratchFile(const std::string &folder, size_t bytes, FileParts *parts, int part, std::string *error) {
    int fd = -1;
#if defined(O_TMPFILE)
    fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
#endif
    if (fd < 0) {  // a system or file system without nameless files
        static std::atomic<unsigned> made(0);
        parts->path[part] =
            folder + "/.mexrun-" + std::to_string(getpid()) + "-" + std::to_string(made++) + ".npy.partial";
        fd = open(parts->path[part].c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            *error = "cannot create a file in " + folder + ": " + std::strerror(errno);
            return nullptr;
        }
    }
    const size_t length = kHeaderRoom + bytes;
    const int reserved = reserveFileSpace(fd, length);
    void *base = reserved == 0 ? mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    if (base == MAP_FAILED) {
        if (reserved != 0)
            *error = "no room for " + std::to_string(length) + " bytes in " + folder + ": " + std::strerror(reserved);
        else
            *error = "cannot map a file in " + folder + ": " + std::strerror(errno);
        close(fd);
        if (!parts->path[part].empty()) unlink(parts->path[part].c_str());
        return nullptr;
    }
    if (parts->path[part].empty()) {
        parts->descriptor[part] = fd;
    } else {
        close(fd);
    }
    parts->base[part] = base;
    parts->length[part] = length;
    return static_cast<unsigned char *>(base) + kHeaderRoom;
}

// Unmaps one part of an array; removes its file if it is a scratch file.
void releaseFilePart(FileParts &parts, int part) {
    if (!parts.base[part]) return;
    munmap(parts.base[part], parts.length[part]);
    if (parts.descriptor[part] >= 0) close(parts.descriptor[part]);
    if (parts.scratch && !parts.path[part].empty()) unlink(parts.path[part].c_str());
    parts.base[part] = nullptr;
}
#endif

// Unmaps an array's file parts; removes scratch files. True when it had any.
bool releaseFileParts(mxArray *a) {
    std::lock_guard<std::mutex> guard(fileLock);
    auto found = fileArrays().find(a);
    if (found == fileArrays().end()) return false;
#if !defined(_WIN32)
    for (int part = 0; part < 2; ++part) releaseFilePart(found->second, part);
#endif
    fileArrays().erase(found);
    return true;
}

#if defined(PHASEKIT_INTERLEAVED_COMPLEX)
const bool kInterleaved = true;
#else
const bool kInterleaved = false;
#endif

mxArray *newArray(HostClass cls, size_t rows, size_t columns, bool complex, bool sparse,
                  bool shapeOnly = false, bool unfilled = false) {
    mxArray *a = static_cast<mxArray *>(std::calloc(1, sizeof(mxArray)));
    if (!a) outOfMemory();
    a->cls = cls;
    a->rows = rows;
    a->columns = columns;
    a->sparse = sparse;
    a->dimensionCount = 2;
    a->dimensions[0] = rows;
    a->dimensions[1] = columns;
    size_t elementSize = hostElementSize(cls);
    size_t count = (sparse || shapeOnly) ? 1 : rows * columns;
    if (elementSize > 0) {
        if (count > std::numeric_limits<size_t>::max() / 2 / elementSize) outOfMemory();
        a->partBytes = count * elementSize;
        a->bytes = a->partBytes * (complex ? 2 : 1);
        a->complex = complex;
        // The interleaved layout keeps both parts of a sample side by side in one block.
        const size_t first = kInterleaved ? a->bytes : a->partBytes;
        a->real = unfilled ? allocateUnfilled(first) : allocateZeroed(first);
        if (!a->real) outOfMemory();
        if (complex && !kInterleaved) {
            a->imag = unfilled ? allocateUnfilled(a->partBytes) : allocateZeroed(a->partBytes);
            if (!a->imag) outOfMemory();
        }
    }
    return a;
}

void freeArray(mxArray *a) {
    if (!a) return;
    if (!releaseFileParts(a)) {
        releaseBlock(a->real, kInterleaved ? a->bytes : a->partBytes);
        releaseBlock(a->imag, a->partBytes);
    }
    std::free(a);
}

// An array an extension makes in a call whose options name folders: at least a large
// block's size, it lives in scratch files (the k-th such array of the call in the k-th
// folder, the last folder for the rest), so that a caller's outputs take no anonymous
// memory. The parts that newArray made are given back first.
void moveIntoFiles(mxArray *a) {
#if defined(_WIN32)
    (void)a;
#else
    HostState &h = host();
    const std::vector<std::string> *folders = h.options.fileFolders;
    if (h.scope == 0 || !folders || folders->empty() || a->bytes < kLargeBlock) return;
    const std::string &folder = (*folders)[std::min(h.fileArraysMade++, folders->size() - 1)];
    const size_t first = kInterleaved ? a->bytes : a->partBytes;
    FileParts parts;
    parts.scratch = true;
    parts.folder = folder;
    std::string error;
    void *real = mapScratchFile(folder, first, &parts, 0, &error);
    void *imag = nullptr;
    if (real && a->imag) imag = mapScratchFile(folder, a->partBytes, &parts, 1, &error);
    if (!real || (a->imag && !imag)) {
        releaseFilePart(parts, 0);
        CallAborted failure{"mexrun: " + error, "", true};
        throw failure;
    }
    releaseBlock(a->real, first);
    releaseBlock(a->imag, a->partBytes);
    a->real = real;
    a->imag = a->imag ? imag : nullptr;
    std::lock_guard<std::mutex> guard(fileLock);
    fileArrays()[a] = parts;
#endif
}

}  // namespace

// ---------------------------------------------------------------- arrays for callers

size_t hostElementSize(HostClass cls) {
    switch (cls) {
    case hostDoubleClass: case hostInt64Class: case hostUint64Class: return 8;
    case hostSingleClass: case hostInt32Class: case hostUint32Class: return 4;
    case hostInt16Class: case hostUint16Class: case hostCharClass: return 2;
    case hostInt8Class: case hostUint8Class: case hostLogicalClass: return 1;
    default: return 0;
    }
}

mxArray *hostCreateOfClass(HostClass cls, size_t rows, size_t columns, bool complex) {
    return newArray(cls, rows, columns, complex, false);
}

namespace {

mxArray *newArrayOfSides(HostClass cls, const std::vector<size_t> &sides, bool complex, bool shapeOnly,
                         bool unfilled = false) {
    // As in MATLAB, trailing sides of 1 beyond the second do not count, and fewer than
    // two sides are padded with 1.
    std::vector<size_t> kept(sides);
    while (kept.size() > 2 && kept.back() == 1) kept.pop_back();
    while (kept.size() < 2) kept.push_back(1);
    const size_t most = sizeof(mxArray::dimensions) / sizeof(size_t);
    if (kept.size() > most) {
        std::fprintf(stderr, "minihost: arrays of more than %zu dimensions are not supported\n", most);
        std::abort();
    }
    size_t columns = 1;
    for (size_t k = 1; k < kept.size(); ++k) columns *= kept[k];
    mxArray *a = newArray(cls, kept[0], columns, complex, false, shapeOnly, unfilled);
    a->dimensionCount = kept.size();
    for (size_t k = 0; k < kept.size(); ++k) a->dimensions[k] = kept[k];
    return a;
}

}  // namespace

mxArray *hostCreateArray(HostClass cls, const std::vector<size_t> &sides, bool complex) {
    return newArrayOfSides(cls, sides, complex, false);
}

mxArray *hostCreateDouble(size_t rows, size_t columns, bool complex) {
    return newArray(hostDoubleClass, rows, columns, complex, false);
}

mxArray *hostCreateScalar(double value) {
    mxArray *a = hostCreateDouble(1, 1, false);
    static_cast<double *>(a->real)[0] = value;
    return a;
}

mxArray *hostCreateMatrix(size_t rows, size_t columns, const std::vector<double> &real,
                          const std::vector<double> &imag) {
    mxArray *a = hostCreateDouble(rows, columns, !imag.empty());
    size_t n = rows * columns;
    for (size_t i = 0; i < n; ++i)
        hostSetParts(a, i, i < real.size() ? real[i] : 0.0, i < imag.size() ? imag[i] : 0.0);
    return a;
}

bool hostInterleavedComplex() { return kInterleaved; }

bool hostUnwritten(double sample) {
    uint64_t bits;
    std::memcpy(&bits, &sample, sizeof bits);
    return bits == kUnwrittenPattern;
}

namespace {

// Part k (0 real, 1 imaginary) of sample i of a double or single array, in the host's
// layout; T is the class's own type.
template <typename T>
T *partOf(const mxArray *array, size_t i, int k) {
    T *data = static_cast<T *>(array->real);
    if (!array->complex) return data + i;
    if (kInterleaved) return data + 2 * i + k;
    return k == 0 ? data + i : static_cast<T *>(array->imag) + i;
}

}  // namespace

double hostRealPart(const mxArray *array, size_t i) {
    if (array->cls == hostSingleClass) return *partOf<float>(array, i, 0);
    return *partOf<double>(array, i, 0);
}

double hostImagPart(const mxArray *array, size_t i) {
    if (!array->complex) return 0.0;
    if (array->cls == hostSingleClass) return *partOf<float>(array, i, 1);
    return *partOf<double>(array, i, 1);
}

void hostSetParts(mxArray *array, size_t i, double re, double im) {
    if (array->cls == hostSingleClass) {
        *partOf<float>(array, i, 0) = static_cast<float>(re);
        if (array->complex) *partOf<float>(array, i, 1) = static_cast<float>(im);
        return;
    }
    *partOf<double>(array, i, 0) = re;
    if (array->complex) *partOf<double>(array, i, 1) = im;
}

// UTF-8 text as the 16-bit code units a MATLAB char array holds (characters beyond
// U+FFFF as surrogate pairs); a byte that starts no valid sequence becomes U+FFFD.
static std::vector<uint16_t> codeUnitsOf(const std::string &text) {
    std::vector<uint16_t> units;
    size_t i = 0, n = text.size();
    while (i < n) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
        uint32_t code = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
        bool valid = extra >= 0 && i + static_cast<size_t>(extra) < n;
        for (int k = 1; valid && k <= extra; ++k) {
            unsigned char c = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            valid = (c >> 6) == 2;
            code = (code << 6) | (c & 0x3F);
        }
        if (!valid || code > 0x10FFFF) {
            units.push_back(0xFFFD);
            ++i;
            continue;
        }
        i += static_cast<size_t>(extra) + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            units.push_back(static_cast<uint16_t>(0xD800 + (code >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            units.push_back(static_cast<uint16_t>(code));
        }
    }
    return units;
}

mxArray *hostCreateCharMatrix(size_t rows, size_t columns, const std::string &text) {
    mxArray *a = newArray(hostCharClass, rows, columns, false, false);
    uint16_t *chars = static_cast<uint16_t *>(a->real);
    std::vector<uint16_t> units = codeUnitsOf(text);
    for (size_t i = 0; i < rows * columns && i < units.size(); ++i) chars[i] = units[i];
    return a;
}

mxArray *hostCreateString(const std::string &text) {
    return hostCreateCharMatrix(1, codeUnitsOf(text).size(), text);
}

mxArray *hostCreateSparse(size_t rows, size_t columns) {
    return newArray(hostDoubleClass, rows, columns, false, true);
}

mxArray *hostCreateDoubleShapeOnly(size_t rows, size_t columns) {
    return newArray(hostDoubleClass, rows, columns, false, false, true);
}

mxArray *hostCreateDoubleShapeOnly(const std::vector<size_t> &sides) {
    return newArrayOfSides(hostDoubleClass, sides, false, true);
}

void hostDestroyArray(mxArray *array) { freeArray(array); }

HostClass hostClassOf(const mxArray *array) { return array->cls; }
void *hostDataOf(const mxArray *array) { return array->real; }
void *hostImagDataOf(const mxArray *array) { return array->imag; }

// ---------------------------------------------------------------- host operations

extern "C" {

size_t mxGetM(const mxArray *array) { return array->rows; }
size_t mxGetN(const mxArray *array) { return array->columns; }
size_t mxGetNumberOfElements(const mxArray *array) { return array->rows * array->columns; }
size_t mxGetNumberOfDimensions_730(const mxArray *array) { return array->dimensionCount; }
const size_t *mxGetDimensions_730(const mxArray *array) { return array->dimensions; }

// Only double arrays have double data; any other class yields null, so an extension
// that reads another class as doubles fails loudly here instead of reading garbage.
#if defined(PHASEKIT_INTERLEAVED_COMPLEX)
// As MATLAB's interleaved complex API (mex -R2018a): mxGetPr ends the call on a
// complex array, and there is no mxGetPi.
double *mxGetPr(const mxArray *array) {
    if (array->complex) throw CallAborted{"mxGetPr cannot be used on a complex array with the interleaved complex API.", ""};
    return array->cls == hostDoubleClass ? static_cast<double *>(array->real) : nullptr;
}
mxDouble *mxGetDoubles(const mxArray *array) {
    return array->cls == hostDoubleClass && !array->complex ? static_cast<double *>(array->real) : nullptr;
}
mxComplexDouble *mxGetComplexDoubles(const mxArray *array) {
    return array->cls == hostDoubleClass && array->complex ? static_cast<mxComplexDouble *>(array->real)
                                                           : nullptr;
}
mxSingle *mxGetSingles(const mxArray *array) {
    return array->cls == hostSingleClass && !array->complex ? static_cast<float *>(array->real) : nullptr;
}
mxComplexSingle *mxGetComplexSingles(const mxArray *array) {
    return array->cls == hostSingleClass && array->complex ? static_cast<mxComplexSingle *>(array->real)
                                                           : nullptr;
}
#else
void *mxGetImagData(const mxArray *array) { return array->imag; }
double *mxGetPr(const mxArray *array) {
    return array->cls == hostDoubleClass ? static_cast<double *>(array->real) : nullptr;
}
double *mxGetPi(const mxArray *array) {
    return array->cls == hostDoubleClass ? static_cast<double *>(array->imag) : nullptr;
}
#endif

// Any class's data, as MATLAB's mxGetData gives it (null for cells and structs).
void *mxGetData(const mxArray *array) { return array->real; }

bool mxIsDouble(const mxArray *array) { return array->cls == hostDoubleClass; }
bool mxIsSingle(const mxArray *array) { return array->cls == hostSingleClass; }
bool mxIsComplex(const mxArray *array) { return array->complex; }
bool mxIsSparse(const mxArray *array) { return array->sparse; }
bool mxIsChar(const mxArray *array) { return array->cls == hostCharClass; }
mxClassID mxGetClassID(const mxArray *array) { return static_cast<mxClassID>(array->cls); }

// An array made in a call belongs to it: released with the call unless returned.
// Large ones go into files when the call's options ask for it.
static mxArray *belongsToCall(mxArray *a) {
    try {
        moveIntoFiles(a);
    } catch (...) {
        freeArray(a);
        throw;
    }
    HostState &h = host();
    std::lock_guard<std::mutex> guard(h.lock);
    if (h.scope != 0) {
        h.callArrays.push_back(a);
        accountBytes(h, a->bytes, 0);
    }
    return a;
}

mxArray *mxCreateDoubleMatrix_730(size_t rows, size_t columns, mxComplexity flag) {
    requireHostThread("mxCreateDoubleMatrix");
    return belongsToCall(newArray(hostDoubleClass, rows, columns, flag == mxCOMPLEX, false));
}

mxArray *mxCreateNumericArray_730(size_t ndim, const size_t *dims, mxClassID classid,
                                  mxComplexity flag) {
    requireHostThread("mxCreateNumericArray");
    return belongsToCall(newArrayOfSides(static_cast<HostClass>(classid), std::vector<size_t>(dims, dims + ndim),
                                         flag == mxCOMPLEX, false));
}

mxArray *mxCreateUninitNumericMatrix(size_t m, size_t n, mxClassID classid, mxComplexity flag) {
    requireHostThread("mxCreateUninitNumericMatrix");
    return belongsToCall(newArray(static_cast<HostClass>(classid), m, n, flag == mxCOMPLEX, false, false, true));
}

mxArray *mxCreateUninitNumericArray(size_t ndim, const size_t *dims, mxClassID classid,
                                    mxComplexity flag) {
    requireHostThread("mxCreateUninitNumericArray");
    return belongsToCall(newArrayOfSides(static_cast<HostClass>(classid), std::vector<size_t>(dims, dims + ndim),
                                         flag == mxCOMPLEX, false, true));
}

void mxDestroyArray(mxArray *array) {
    HostState &h = host();
    {
        std::lock_guard<std::mutex> guard(h.lock);
        for (auto &slot : h.callArrays) {
            if (slot == array) {
                accountBytes(h, 0, array->bytes);
                slot = nullptr;
            }
        }
    }
    freeArray(array);
}

// Copies a character array column by column into a zero-terminated UTF-8 text, as
// MATLAB does on a UTF-8 system: one code unit can take up to three bytes (a
// surrogate pair four), so a buffer of 2N+1 bytes may be too short. Only whole
// characters are copied. Returns 1 when the array is not text or the text was cut.
int mxGetString_730(const mxArray *array, char *buffer, size_t length) {
    requireHostThread("mxGetString");
    if (array->cls != hostCharClass || length == 0) return 1;
    size_t count = array->rows * array->columns;
    const uint16_t *units = static_cast<const uint16_t *>(array->real);
    size_t written = 0;
    for (size_t i = 0; i < count; ++i) {
        uint32_t code = units[i];
        size_t used = 1;
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < count && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            used = 2;
        }
        char bytes[4];
        size_t n = 0;
        if (code < 0x80) {
            bytes[n++] = static_cast<char>(code);
        } else if (code < 0x800) {
            bytes[n++] = static_cast<char>(0xC0 | (code >> 6));
            bytes[n++] = static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            bytes[n++] = static_cast<char>(0xE0 | (code >> 12));
            bytes[n++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes[n++] = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            bytes[n++] = static_cast<char>(0xF0 | (code >> 18));
            bytes[n++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            bytes[n++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes[n++] = static_cast<char>(0x80 | (code & 0x3F));
        }
        if (written + n > length - 1) {
            buffer[written] = '\0';
            return 1;
        }
        std::memcpy(buffer + written, bytes, n);
        written += n;
        i += used - 1;
    }
    buffer[written] = '\0';
    return 0;
}

// A plain allocation promises no content. Small blocks are filled with a pattern so
// that an extension reading memory it never wrote gets garbage here, as it would in
// a real host, instead of the zeros it may have come to expect (large blocks come
// zeroed from the kernel, like any fresh mapping).
const unsigned char kUnwrittenByte = 0xA5;

void *mxMalloc(size_t bytes) {
    void *block = mxCalloc(bytes, 1);
    if (bytes < kLargeBlock) std::memset(block, kUnwrittenByte, bytes);
    return block;
}

void *mxCalloc(size_t count, size_t elementSize) {
    requireHostThread("mxCalloc");
    if (elementSize != 0 && count > std::numeric_limits<size_t>::max() / elementSize)
        outOfMemory();
    size_t bytes = count * elementSize;
    void *block = allocateZeroed(bytes);
    if (!block) outOfMemory();
    HostState &h = host();
    std::lock_guard<std::mutex> guard(h.lock);
    h.blocks[block] = BlockInfo{bytes, h.scope};
    accountBytes(h, bytes, 0);
    return block;
}

void *mxRealloc(void *block, size_t bytes) {
    requireHostThread("mxRealloc");
    if (!block) return mxMalloc(bytes);
    HostState &h = host();
    std::lock_guard<std::mutex> guard(h.lock);
    auto found = h.blocks.find(block);
    if (found == h.blocks.end()) {
        std::fprintf(stderr, "minihost: mxRealloc of a block the host did not allocate\n");
        std::abort();
    }
    BlockInfo info = found->second;
    void *moved;
    if (info.bytes < kLargeBlock && bytes < kLargeBlock) {
        moved = std::realloc(block, bytes ? bytes : 1);
    } else {
        moved = allocateZeroed(bytes);
        if (moved) {
            std::memcpy(moved, block, info.bytes < bytes ? info.bytes : bytes);
            releaseBlock(block, info.bytes);
        }
    }
    if (!moved) {
        // The old block stays registered and is released with the call.
        throw CallAborted{"Out of memory.", ""};
    }
    h.blocks.erase(found);
    h.blocks[moved] = BlockInfo{bytes, info.scope};
    accountBytes(h, bytes, info.bytes);
    return moved;
}

void mxFree(void *block) {
    requireHostThread("mxFree");
    if (!block) return;
    HostState &h = host();
    std::lock_guard<std::mutex> guard(h.lock);
    auto found = h.blocks.find(block);
    if (found == h.blocks.end()) {
        std::fprintf(stderr, "minihost: mxFree of a block the host did not allocate\n");
        std::abort();
    }
    accountBytes(h, 0, found->second.bytes);
    releaseBlock(block, found->second.bytes);
    h.blocks.erase(found);
}

double mxGetNaN(void) {
    requireHostThread("mxGetNaN");
    return std::numeric_limits<double>::quiet_NaN();
}
bool mxIsNaN(double value) {
    requireHostThread("mxIsNaN");
    return std::isnan(value);
}

int mexPrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = hostPrintV(format, args);
    va_end(args);
    return n;
}

int hostPrintV(const char *format, va_list args) {
    requireHostThread("mexPrintf");
    const std::string text = formatText(format, args);
    const int n = static_cast<int>(text.size());
    HostState &h = host();
    if (h.current) {
        h.current->printed += text;
        if (h.options.echoPrinted) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fflush(stdout);
        }
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    return n;
}

void mexWarnMsgTxt(const char *text) { hostWarnText(text); }

void hostWarnText(const char *text) {
    requireHostThread("mexWarnMsgTxt");
    HostState &h = host();
    if (h.current) {
        h.current->warnings.push_back(text);
        h.current->warningIds.push_back("");
        if (h.options.echoWarnings) {
            // Some warning texts end in their own newline; show one line break only.
            size_t n = std::strlen(text);
            bool ownNewline = n > 0 && text[n - 1] == '\n';
            std::fprintf(stderr, "Warning: %s%s", text, ownNewline ? "" : "\n");
        }
    } else {
        std::fprintf(stderr, "Warning: %s\n", text);
    }
}

void mexErrMsgTxt(const char *text) { hostErrorText(text); }

void hostErrorText(const char *text) {
    requireHostThread("mexErrMsgTxt");
    throw CallAborted{text, ""};
}

void mexWarnMsgIdAndTxt(const char *identifier, const char *format, ...) {
    va_list args;
    va_start(args, format);
    hostWarnIdV(identifier, format, args);
    va_end(args);
}

void mexErrMsgIdAndTxt(const char *identifier, const char *format, ...) {
    va_list args;
    va_start(args, format);
    hostErrorIdV(identifier, format, args);
    va_end(args);
}

void hostWarnIdV(const char *identifier, const char *format, va_list args) {
    requireHostThread("mexWarnMsgIdAndTxt");
    const std::string text = formatText(format, args);
    hostWarnText(text.c_str());
    HostState &h = host();
    if (h.current) h.current->warningIds.back() = identifier;
}

void hostErrorIdV(const char *identifier, const char *format, va_list args) {
    requireHostThread("mexErrMsgIdAndTxt");
    throw CallAborted{formatText(format, args), identifier};
}

bool utIsInterruptPending(void) { return hostInterruptRequested(); }

}  // extern "C"

// ---------------------------------------------------------------- loading and calling

#if defined(_WIN32)
// Unloading is real here, as MATLAB's clear mex is: an extension that must stay loaded
// (an OpenMP runtime linked into it) pins itself.
HostExtension hostLoadExtension(const std::string &path) {
    HostExtension ext{nullptr, nullptr, ""};
    std::string file = path;
    for (char &ch : file)
        if (ch == '/') ch = '\\';
    HMODULE module = LoadLibraryA(file.c_str());
    if (!module) {
        ext.error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return ext;
    }
    ext.handle = module;
    ext.entry = reinterpret_cast<MexEntry>(reinterpret_cast<void (*)()>(GetProcAddress(module, "mexFunction")));
    if (!ext.entry) {
        ext.error = path + " does not export mexFunction";
        FreeLibrary(module);
        ext.handle = nullptr;
    }
    return ext;
}

void hostUnloadExtension(HostExtension *extension) {
    if (extension->handle) FreeLibrary(static_cast<HMODULE>(extension->handle));
    extension->handle = nullptr;
    extension->entry = nullptr;
}
#else
HostExtension hostLoadExtension(const std::string &path) {
    HostExtension ext{nullptr, nullptr, ""};
    // dlopen searches the library path for names without a slash; a file is meant.
    std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    // Never unmapped: an extension's OpenMP runtime keeps idle worker threads whose
    // code must stay mapped after the extension is closed (MATLAB too keeps MEX files
    // loaded).
    ext.handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!ext.handle) {
        const char *why = dlerror();
        ext.error = why ? why : "cannot load " + path;
        return ext;
    }
    ext.entry = reinterpret_cast<MexEntry>(dlsym(ext.handle, "mexFunction"));
    if (!ext.entry) {
        ext.error = path + " does not export mexFunction";
        dlclose(ext.handle);
        ext.handle = nullptr;
    }
    return ext;
}

void hostUnloadExtension(HostExtension *extension) {
    if (extension->handle) dlclose(extension->handle);
    extension->handle = nullptr;
    extension->entry = nullptr;
}
#endif

HostCallResult hostCall(MexEntry entry, int nlhs, const std::vector<const mxArray *> &inputs,
                        HostCallOptions options) {
    HostState &h = host();
    HostCallResult result = HostCallResult();
    // MATLAB always offers slot 0, even to a call with no requested outputs (ans).
    std::vector<mxArray *> slots(static_cast<size_t>(nlhs > 0 ? nlhs : 1), nullptr);
    {
        std::lock_guard<std::mutex> guard(h.lock);
        h.scope = ++h.lastScope;
        h.liveBytes = 0;
        h.peakBytes = 0;
        h.callArrays.clear();
        h.current = &result;
        h.options = options;
        h.fileArraysMade = 0;
        h.callThread = std::this_thread::get_id();
    }
    ++callsStarted;
    try {
        entry(nlhs, slots.data(), static_cast<int>(inputs.size()),
              const_cast<const mxArray **>(inputs.data()));
    } catch (const CallAborted &aborted) {
        result.failed = true;
        result.errorText = aborted.text;
        result.errorId = aborted.identifier;
        result.hostFailed = aborted.byHost;
    }
    // The interrupt is handled: the call has ended.
    result.interrupted = interruptRequested.exchange(false);

    std::lock_guard<std::mutex> guard(h.lock);
    // Outputs survive only a call that succeeded; every other array of the call goes.
    for (mxArray *a : h.callArrays) {
        if (!a) continue;
        bool returned = false;
        if (!result.failed)
            for (mxArray *s : slots) returned = returned || s == a;
        if (!returned) freeArray(a);
    }
    if (!result.failed) result.outputs = slots;
    else result.outputs.assign(slots.size(), nullptr);
    h.callArrays.clear();

    for (auto it = h.blocks.begin(); it != h.blocks.end();) {
        if (it->second.scope == h.scope) {
            releaseBlock(it->first, it->second.bytes);
            ++result.blocksReleased;
            it = h.blocks.erase(it);
        } else {
            ++it;
        }
    }
    result.peakBytes = h.peakBytes;
    h.scope = 0;
    h.current = nullptr;
    return result;
}

void hostReleaseOutputs(HostCallResult *result) {
    for (mxArray *&a : result->outputs) {
        freeArray(a);
        a = nullptr;
    }
}

void hostRequestInterrupt() { interruptRequested.store(true); }

mxArray *hostMapArray(const std::string &path, size_t offset, HostClass cls, const std::vector<size_t> &sides,
                      bool complex, std::string *error) {
#if defined(_WIN32)
    (void)path, (void)offset, (void)cls, (void)sides, (void)complex;
    *error = "mapping files is not done on Windows";
    return nullptr;
#else
    const size_t item = hostElementSize(cls);
    if (complex && !kInterleaved) {
        *error = "a complex array's parts lie apart in this host's layout";
        return nullptr;
    }
    if (item == 0 || offset % item != 0) {
        *error = "the data is not aligned for its class";
        return nullptr;
    }
    mxArray *a = newArrayOfSides(cls, sides, complex, true);  // one sample: the shape only
    releaseBlock(a->real, a->partBytes * (kInterleaved && complex ? 2 : 1));
    releaseBlock(a->imag, a->partBytes);
    a->real = a->imag = nullptr;
    size_t count = 1;
    for (size_t k = 0; k < a->dimensionCount; ++k) count *= a->dimensions[k];
    a->partBytes = count * item;
    a->bytes = a->partBytes * (complex ? 2 : 1);
    FileParts parts;
    parts.path[0] = path;
    parts.length[0] = offset + a->bytes;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0 || static_cast<size_t>(info.st_size) < parts.length[0]) {
        *error = fd < 0 ? "cannot open " + path : path + " is shorter than its shape";
        if (fd >= 0) close(fd);
        std::free(a);
        return nullptr;
    }
    parts.base[0] = mmap(nullptr, parts.length[0] > 0 ? parts.length[0] : 1, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (parts.base[0] == MAP_FAILED) {
        *error = "cannot map " + path;
        std::free(a);
        return nullptr;
    }
    a->real = static_cast<unsigned char *>(parts.base[0]) + offset;
    std::lock_guard<std::mutex> guard(fileLock);
    fileArrays()[a] = parts;
    return a;
#endif
}

unsigned char *hostArrayFileRoom(const mxArray *array, const std::string &folder) {
    std::lock_guard<std::mutex> guard(fileLock);
    auto found = fileArrays().find(array);
    if (found == fileArrays().end()) return nullptr;
    const FileParts &parts = found->second;
    if (!inOneScratchFile(parts) || parts.folder != folder) return nullptr;
    return static_cast<unsigned char *>(parts.base[0]);
}

bool hostNameArrayFile(const mxArray *array, const std::string &path, std::string *error) {
    std::lock_guard<std::mutex> guard(fileLock);
    auto found = fileArrays().find(array);
    if (found == fileArrays().end() || !inOneScratchFile(found->second)) {
        *error = "not an array in one scratch file";
        return false;
    }
#if defined(_WIN32)
    *error = "cannot name " + path + ": no files back arrays on Windows";
    return false;
#else
    FileParts &parts = found->second;
    std::remove(path.c_str());
    bool named = false;
    if (parts.path[0].empty()) {
#if defined(O_TMPFILE)
        // A nameless file gets its name through its descriptor's link in /proc.
        const std::string link = "/proc/self/fd/" + std::to_string(parts.descriptor[0]);
        named = linkat(AT_FDCWD, link.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
#endif
    } else if (std::rename(parts.path[0].c_str(), path.c_str()) == 0) {
        parts.path[0].clear();
        named = true;
    }
    if (!named) *error = "cannot write " + path + ": " + std::strerror(errno);
    return named;
#endif
}

unsigned hostCallsStarted() { return callsStarted.load(); }

bool hostInterruptRequested() {
    requireHostThread("utIsInterruptPending");
    return interruptRequested.load();
}

size_t hostLiveBlocks() {
    HostState &h = host();
    std::lock_guard<std::mutex> guard(h.lock);
    return h.blocks.size();
}
