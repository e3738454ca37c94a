// interruption.h: how a long call with parallel loops stops when the user interrupts
// the host (Ctrl-C). Only the host's thread asks the host (hostInterruptPending);
// worker threads read the flag it sets. Parallel loops run in chunks of about
// kChunkSeconds, looking between chunks; every item of such a loop writes only its own
// part, so the chunks change no result. A call that sees the flag frees what it holds
// and ends.
#ifndef PHASEKIT_INTERRUPTION_H
#define PHASEKIT_INTERRUPTION_H

#include "host_interrupt.h"

#include <stdint.h>

#include <atomic>
#include <chrono>
#include <thread>

// One call's state: set once the host was found interrupted, read by every thread.
struct Interruption {
    std::thread::id hostThread;
    std::atomic<bool> stopped;
};

// On the host's thread, at the start of the call.
inline void beginInterruptible(Interruption *interruption) {
    interruption->hostThread = std::this_thread::get_id();
    interruption->stopped.store(false);
}

// Whether the call is to stop; on the host's thread this asks the host. A null
// interruption never stops (stages called on their own, as the tests do).
inline bool interrupted(Interruption *interruption) {
    if (interruption == nullptr) return false;
    if (!interruption->stopped.load(std::memory_order_relaxed) &&
        std::this_thread::get_id() == interruption->hostThread && hostInterruptPending())
        interruption->stopped.store(true);
    return interruption->stopped.load(std::memory_order_relaxed);
}

// The threads a parallel region gets (one without OpenMP).
inline int32_t teamSize() {
    int32_t threads = 0;
#pragma omp parallel reduction(+ : threads)
    threads += 1;
    return threads;
}

const double kChunkSeconds = 0.05;
// Work units (about a sample visited) of a loop's first chunk, before it is timed: a
// loop smaller than this runs as one chunk, like a plain parallel loop.
const double kFirstChunkWork = 1 << 25;

// body(i) for every i in [begin, end), statically scheduled over the threads. With an
// interruption, in chunks of about kChunkSeconds each (the first sized by itemWork,
// the work of one item), the host asked between them; false when the loop stopped
// for an interrupt, with some items not run.
template <typename Body>
bool parallelFor(Interruption *interruption, int64_t begin, int64_t end, double itemWork, const Body &body) {
    if (interruption == nullptr) {
#pragma omp parallel for schedule(static)
        for (int64_t i = begin; i < end; ++i) body(i);
        return true;
    }
    const double first = kFirstChunkWork / (itemWork > 1.0 ? itemWork : 1.0);
    int64_t chunk = first > static_cast<double>(end - begin) ? end - begin : static_cast<int64_t>(first);
    int64_t threads = 0;  // asked for only when chunks get small: a region of its own
    while (begin < end) {
        if (interrupted(interruption)) return false;
        if (chunk < 64 && threads == 0) threads = teamSize();
        if (chunk < threads) chunk = threads;
        const int64_t last = end - begin < chunk ? end : begin + chunk;
        const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
#pragma omp parallel for schedule(static)
        for (int64_t i = begin; i < last; ++i) body(i);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // The next chunk aims at kChunkSeconds, growing at most fourfold at a time.
        const double scale = seconds * 4.0 > kChunkSeconds ? kChunkSeconds / seconds : 4.0;
        chunk = static_cast<int64_t>(static_cast<double>(last - begin) * scale) + 1;
        begin = last;
    }
    return !interrupted(interruption);
}

#endif // PHASEKIT_INTERRUPTION_H
