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

#endif // PHASEKIT_PORTABILITY_H
