// bench_unwrap.h: what the map and volume benchmarks time alike beyond their stages:
// the ordering and the merge as the command runs them, overlapped.
#ifndef PHASEKIT_BENCH_UNWRAP_H
#define PHASEKIT_BENCH_UNWRAP_H

#include "bench_support.h"
#include "unwrap.h"

#include <atomic>
#include <vector>

// Sorts and merges unsorted edges the way the pipeline does (split, then the leaves
// sorted by every thread while one at a time merges); returns the seconds it took.
inline double timeOrderAndMerge(CompactEdge *edges, int32_t count, GroupLink *links, GridShape shape) {
    const int32_t capacity = leafCapacity(count);
    std::vector<EdgeRange> leaves(static_cast<size_t>(capacity));
    std::vector<std::atomic<int32_t>> flags(static_cast<size_t>(capacity));
    Clock::time_point t = Clock::now();
    initGroupLinks(links, shape);
    int32_t leafCount = splitEdges(edges, count, kLeafSize, leaves.data(), capacity);
    sortLeavesAndMerge(links, edges, count, leaves.data(), leafCount, flags.data(), shape);
    return seconds(t);
}

#endif // PHASEKIT_BENCH_UNWRAP_H
