// portability.h: the few things that compilers and platforms spell differently, behind
// one set of names, so that the extension sources stay plain C++11 for GCC, Clang and
// MSVC on x86-64 and arm64. Everything here is a hint or a capability test: code that
// uses it gives the same results whichever branch a compiler takes.
#ifndef PHASEKIT_PORTABILITY_H
#define PHASEKIT_PORTABILITY_H

// PHASEKIT_PREFETCH(address): ask for the cache line holding address; never faults,
// never changes a result, and does nothing where the compiler offers no such hint.
#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#include <xmmintrin.h>
#define PHASEKIT_PREFETCH(address) _mm_prefetch(reinterpret_cast<const char *>(address), _MM_HINT_T0)
#elif defined(_MSC_VER) && defined(_M_ARM64)
#include <intrin.h>
#define PHASEKIT_PREFETCH(address) __prefetch(reinterpret_cast<const void *>(address))
#elif defined(__GNUC__) || defined(__clang__)
#define PHASEKIT_PREFETCH(address) __builtin_prefetch(address)
#else
#define PHASEKIT_PREFETCH(address) ((void)0)
#endif

// PHASEKIT_HAVE_SSE2: SSE2 intrinsics (<emmintrin.h>) are available. Every x86-64
// target has them; MSVC says so through _M_X64 or _M_IX86_FP, never through __SSE2__.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define PHASEKIT_HAVE_SSE2 1
#else
#define PHASEKIT_HAVE_SSE2 0
#endif

// Wider vectors chosen at run time, x86-64 only. PHASEKIT_TARGET_AVX2 and
// PHASEKIT_TARGET_AVX512 mark a function whose body may use AVX2 or AVX-512F
// intrinsics (GCC and Clang need the attribute; MSVC allows them anywhere); such a
// function may only be called when cpuHasAvx2() or cpuHasAvx512f() says so. Both
// queries include the OS's consent to save the wider registers.
#if (defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))) || \
    (defined(_MSC_VER) && defined(_M_X64) && !defined(__clang__))
#define PHASEKIT_HAVE_WIDE_VECTORS 1
#else
#define PHASEKIT_HAVE_WIDE_VECTORS 0
#endif
#if PHASEKIT_HAVE_WIDE_VECTORS && defined(_MSC_VER)
#include <intrin.h>
#include <immintrin.h>
#define PHASEKIT_TARGET_AVX2
#define PHASEKIT_TARGET_AVX512
inline bool cpuFeatures(bool wantAvx512) {
    int info[4];
    __cpuid(info, 0);
    if (info[0] < 7) return false;
    __cpuid(info, 1);
    const int osxsave = 1 << 27, avx = 1 << 28;
    if ((info[2] & (osxsave | avx)) != (osxsave | avx)) return false;
    unsigned long long xcr0 = _xgetbv(0);
    __cpuidex(info, 7, 0);
    if (!wantAvx512) return (xcr0 & 0x6) == 0x6 && (info[1] & (1 << 5)) != 0;
    return (xcr0 & 0xE6) == 0xE6 && (info[1] & (1 << 16)) != 0;
}
inline bool cpuHasAvx2() { return cpuFeatures(false); }
inline bool cpuHasAvx512f() { return cpuFeatures(true); }
#elif PHASEKIT_HAVE_WIDE_VECTORS
#include <immintrin.h>
#define PHASEKIT_TARGET_AVX2 __attribute__((target("avx2")))
#define PHASEKIT_TARGET_AVX512 __attribute__((target("avx512f")))
inline bool cpuHasAvx2() { return __builtin_cpu_supports("avx2"); }
inline bool cpuHasAvx512f() { return __builtin_cpu_supports("avx512f"); }
#endif

// PHASEKIT_HAVE_OMP_TASKS: the OpenMP in use has tasks (OpenMP 3.0, 200805, or later).
// MSVC's /openmp implements OpenMP 2.0 only; code that needs tasks then runs its
// sequential form on the calling thread.
#if defined(_OPENMP) && _OPENMP >= 200805
#define PHASEKIT_HAVE_OMP_TASKS 1
#else
#define PHASEKIT_HAVE_OMP_TASKS 0
#endif

// adviseHugePages(block, bytes): tells the OS that a large working block is about to
// be written whole, so that it may back it with huge pages. Touching hundreds of
// megabytes of fresh memory 4 KiB at a time costs page faults that take as long as
// the unwrapping itself (Linux with transparent huge pages in "madvise" mode, the
// usual default). A hint only: the block's content and owner do not change, and
// elsewhere it does nothing. Only whole 2 MiB pages inside the block are advised.
#if defined(__linux__)
#include <stddef.h>
#include <stdint.h>
#include <sys/mman.h>
inline void adviseHugePages(void *block, size_t bytes) {
#ifdef MADV_HUGEPAGE
    const uintptr_t hugePage = uintptr_t(1) << 21;
    uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + hugePage - 1) & ~(hugePage - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(hugePage - 1);
    if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}
#else
#include <stddef.h>
inline void adviseHugePages(void *, size_t) {}
#endif

// seekFile64(file, offset, origin) and tellFile64(file): fseek and ftell with 64-bit
// positions, for files past 2 GiB (long is 32 bits on Windows). seekFile64 returns 0
// on success; tellFile64 returns -1 on failure.
#if defined(_WIN32)
#include <stdio.h>
#include <stdint.h>
inline int seekFile64(FILE *file, int64_t offset, int origin) { return _fseeki64(file, offset, origin); }
inline int64_t tellFile64(FILE *file) { return _ftelli64(file); }
#else
#include <stdio.h>
#include <stdint.h>
#include <sys/types.h>
inline int seekFile64(FILE *file, int64_t offset, int origin) {
    // off_t is 64 bits on 64-bit POSIX systems (and where _FILE_OFFSET_BITS is 64).
    if (sizeof(off_t) < sizeof(int64_t) && (offset > INT32_MAX || offset < INT32_MIN)) return -1;
    return fseeko(file, static_cast<off_t>(offset), origin);
}
inline int64_t tellFile64(FILE *file) { return static_cast<int64_t>(ftello(file)); }
#endif

// openRegularFile(path): the file opened for reading ("rb") when it is a regular file;
// null when it cannot be opened or is anything else (a directory, a FIFO, a device
// such as /dev/zero). Such inputs could stall the open or never end; a regular file
// always ends. On POSIX the open does not block, so a FIFO without a writer is
// refused at once rather than waited for.
//
// identifyFile(path, &identity): false when the path names no existing file; else the
// file's identity, which sameIdentity compares: two paths name one file (through hard
// or symbolic links too) exactly when their identities are the same.
#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <stdio.h>
#include <windows.h>
inline bool regularFileInfo(HANDLE handle, BY_HANDLE_FILE_INFORMATION *info) {
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(handle, info) &&
           (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
inline FILE *openRegularFile(const char *path) {
    FILE *file = fopen(path, "rb");
    if (!file) return NULL;
    BY_HANDLE_FILE_INFORMATION info;
    if (!regularFileInfo(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), &info)) {
        fclose(file);
        return NULL;
    }
    return file;
}
struct FileIdentity {
    DWORD volume, indexHigh, indexLow;
};
inline bool identifyFile(const char *path, FileIdentity *identity) {
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL known = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!known) return false;
    identity->volume = info.dwVolumeSerialNumber;
    identity->indexHigh = info.nFileIndexHigh;
    identity->indexLow = info.nFileIndexLow;
    return true;
}
inline bool sameIdentity(const FileIdentity &a, const FileIdentity &b) {
    return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}
#else
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
inline FILE *openRegularFile(const char *path) {
    int flags = O_RDONLY | O_NONBLOCK;
#ifdef O_CLOEXEC
    flags |= O_CLOEXEC;
#endif
    int descriptor = open(path, flags);
    if (descriptor < 0) return NULL;
    struct stat info;
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(descriptor);
        return NULL;
    }
    FILE *file = fdopen(descriptor, "rb");
    if (!file) close(descriptor);
    return file;
}
struct FileIdentity {
    dev_t device;
    ino_t inode;
};
inline bool identifyFile(const char *path, FileIdentity *identity) {
    struct stat info;
    if (stat(path, &info) != 0) return false;
    identity->device = info.st_dev;
    identity->inode = info.st_ino;
    return true;
}
inline bool sameIdentity(const FileIdentity &a, const FileIdentity &b) {
    return a.device == b.device && a.inode == b.inode;
}
#endif

// keepExtensionLoaded(): keeps the calling extension file loaded until the process
// ends; each entry calls it first. On Windows the extension carries its own OpenMP
// runtime (MinGW-w64 links libgomp into it), whose idle worker threads wait in the
// file's code: unloading it (MATLAB's clear mex) would pull that code from under them.
// A rebuilt extension therefore takes effect in a new session there. Elsewhere the
// runtime is a shared library of its own or the host's, and this does nothing.
#if defined(_WIN32)
inline void keepExtensionLoaded() {
    static bool pinned = false;
    if (pinned) return;
    HMODULE module;
    pinned = GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                reinterpret_cast<LPCSTR>(&keepExtensionLoaded), &module) != 0;
}
#else
inline void keepExtensionLoaded() {}
#endif

#endif // PHASEKIT_PORTABILITY_H
