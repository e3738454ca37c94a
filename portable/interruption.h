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

// Runs runChunk(first, last) over [begin, end) in chunks of about kChunkSeconds each
// (the first sized by itemWork, the work of one item, in units of about a sample
// visited), the host asked between them; false when it stopped for an interrupt, with
// some items not run.
template <typename RunChunk>
bool inChunks(Interruption *interruption, int64_t begin, int64_t end, double itemWork, const RunChunk &runChunk) {
    const double first = kFirstChunkWork / (itemWork > 1.0 ? itemWork : 1.0);
    int64_t chunk = first > static_cast<double>(end - begin) ? end - begin : static_cast<int64_t>(first);
    int64_t threads = 0;  // asked for only when chunks get small: a region of its own
    while (begin < end) {
        if (interrupted(interruption)) return false;
        if (chunk < 64 && threads == 0) threads = teamSize();
        if (chunk < threads) chunk = threads;
        const int64_t last = end - begin < chunk ? end : begin + chunk;
        const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
        runChunk(begin, last);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // The next chunk aims at kChunkSeconds, growing at most fourfold at a time.
        const double scale = seconds * 4.0 > kChunkSeconds ? kChunkSeconds / seconds : 4.0;
        chunk = static_cast<int64_t>(static_cast<double>(last - begin) * scale) + 1;
        begin = last;
    }
    return !interrupted(interruption);
}

// body(i) for every i in [begin, end), statically scheduled over the threads; with an
// interruption, in chunks (inChunks). False when the loop stopped for an interrupt.
template <typename Body>
bool parallelFor(Interruption *interruption, int64_t begin, int64_t end, double itemWork, const Body &body) {
    const auto runChunk = [&](int64_t first, int64_t last) {
#pragma omp parallel for schedule(static)
        for (int64_t i = first; i < last; ++i) body(i);
    };
    if (interruption == nullptr) {
        runChunk(begin, end);
        return true;
    }
    return inChunks(interruption, begin, end, itemWork, runChunk);
}

// parallelFor for items that work in buffers of their thread's own: body(i, slot),
// where slot, below slots, is one thread's alone within a region. The caller hands
// out slots buffers (host memory, asked for on the host's thread) and no region has
// more threads than that.
template <typename Body>
bool parallelForInSlots(Interruption *interruption, int64_t begin, int64_t end, double itemWork, int32_t slots,
                        const Body &body) {
    (void)slots;  // read by OpenMP alone
    const auto runChunk = [&](int64_t first, int64_t last) {
        std::atomic<int32_t> nextSlot(0);
#pragma omp parallel num_threads(slots)
        {
            const int32_t slot = nextSlot.fetch_add(1);
#pragma omp for schedule(static)
            for (int64_t i = first; i < last; ++i) body(i, slot);
        }
    };
    if (interruption == nullptr) {
        runChunk(begin, end);
        return true;
    }
    return inChunks(interruption, begin, end, itemWork, runChunk);
}

#endif // PHASEKIT_INTERRUPTION_H
