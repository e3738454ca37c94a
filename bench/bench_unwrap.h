// bench_unwrap.h: what the map and volume benchmarks share beyond bench_support.h: the
// stage table, the stages' buffers, the stages that maps and volumes run alike
// (ordering, merging, result, and the ordering and merge overlapped as the call runs
// them), and the calls themselves.
#ifndef PHASEKIT_BENCH_UNWRAP_H
#define PHASEKIT_BENCH_UNWRAP_H

#include "bench_support.h"
#include "minihost.h"
#include "unwrap.h"

#include "../portable/portability.h"

#include <algorithm>
#include <atomic>
#include <vector>

enum Stage { kInit, kReliability, kEdges, kOrdering, kMerging, kResult, kOrderAndMerge, kStages };
const char *const kStageNames[kStages] = {"init", "reliab", "edges", "order", "merge", "result", "ord+mrg"};

// The stages' own buffers, made once per size and touched before they are timed, in
// huge pages as the call's own large blocks are. Made once so that the calls between
// them recycle their own memory as a long session does: on this kind of machine, a
// block of memory the system has not handed out lately costs far more to touch first
// than one it has.
struct StageBuffers {
    std::vector<double> reliability, out;
    std::vector<int32_t> offsets;
    std::vector<CompactEdge> edges;
    std::vector<GroupLink> links;
    StageBuffers(size_t pixels, size_t offsetCount, size_t edgeCount)
        : reliability(pixels, 0.0), out(pixels, 0.0), offsets(offsetCount), edges(edgeCount), links(pixels) {
        adviseHugePages(reliability.data(), reliability.size() * sizeof(double));
        adviseHugePages(out.data(), out.size() * sizeof(double));
        adviseHugePages(edges.data(), edges.size() * sizeof(CompactEdge));
        adviseHugePages(links.data(), links.size() * sizeof(GroupLink));
    }
};

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

// The stages after the edges, on the count edges just built into b: ordering, merging
// and result one by one; then, after refill() has built the edges again, the ordering
// and the merge overlapped.
template <typename Refill>
void timeSharedStages(const double *wrapped, StageBuffers &b, int32_t count, GridShape shape,
                      std::vector<double> *times, Refill refill) {
    Clock::time_point t = Clock::now();
    sortEdges(b.edges.data(), b.edges.data() + count - 1);
    times[kOrdering].push_back(seconds(t));
    t = Clock::now();
    mergeGroups(b.links.data(), b.edges.data(), count, shape);
    times[kMerging].push_back(seconds(t));
    t = Clock::now();
    writeUnwrapped(b.links.data(), wrapped, b.out.data(), -1, shape);
    times[kResult].push_back(seconds(t));
    refill();
    times[kOrderAndMerge].push_back(timeOrderAndMerge(b.edges.data(), count, b.links.data(), shape));
}

// runs calls of the command on input back to back, as a session makes them: their
// times, and the most working memory any of them held.
inline void timeCalls(const HostExtension &ext, const mxArray *input, int runs, std::vector<double> *callTimes,
                      size_t *peak) {
    for (int run = 0; run < runs; ++run) {
        Clock::time_point start = Clock::now();
        HostCallResult r = hostCall(ext.entry, 1, {input});
        callTimes->push_back(seconds(start));
        *peak = std::max(*peak, r.peakBytes);
        hostReleaseOutputs(&r);
    }
}

// The same grid in single (its samples rounded once) beside double: whole calls in
// turns, run after run, so that both see the machine alike. Medians of each class's
// call, of the run-by-run ratio single/double, and the single call's working memory
// beyond its input and its (single) result, in bytes a sample. Prints one line.
inline void printSingleBesideDouble(const HostExtension &ext, const mxArray *input, int runs, int labelWidth) {
    const std::vector<size_t> sides(mxGetDimensions(input), mxGetDimensions(input) + mxGetNumberOfDimensions(input));
    mxArray *single = hostCreateArray(hostSingleClass, sides);
    const size_t samples = mxGetNumberOfElements(input);
    for (size_t k = 0; k < samples; ++k) hostSetParts(single, k, hostRealPart(input, k), 0);
    std::vector<double> doubleTimes, singleTimes, ratios;
    size_t peak = 0, ignored = 0;
    for (int run = 0; run < runs; ++run) {
        timeCalls(ext, input, 1, &doubleTimes, &ignored);
        timeCalls(ext, single, 1, &singleTimes, &peak);
        ratios.push_back(singleTimes.back() / doubleTimes.back());
    }
    std::printf("%*s single: call %.3f s, %.3f of double's (%.3f s) in turns, work %.1f B a sample beyond its single result\n",
                labelWidth, "", median(singleTimes), median(ratios), median(doubleTimes),
                (static_cast<double>(peak) - 4.0 * samples) / samples);
    hostDestroyArray(single);
}

// Each option beside the plain call, in turns, run after run: Quality (the given map),
// Periodic on every side, the regions output, the reliability output, and all of them.
// For each, the median of the run-by-run ratio to the plain call's time, and the
// working memory beyond the inputs and the outputs, in bytes a sample. Prints one
// line a variant.
inline void printOptionsBesideDefault(const HostExtension &ext, mxArray *input, const std::vector<double> &quality,
                                      int runs, int labelWidth) {
    const std::vector<size_t> sides(mxGetDimensions(input), mxGetDimensions(input) + mxGetNumberOfDimensions(input));
    const size_t samples = mxGetNumberOfElements(input);
    mxArray *q = hostCreateArray(hostDoubleClass, sides);
    std::copy(quality.begin(), quality.end(), mxGetPr(q));
    mxArray *qualityName = hostCreateString("Quality"), *periodicName = hostCreateString("Periodic");
    mxArray *every = hostCreateScalar(1);
    struct Variant {
        const char *name;
        std::vector<const mxArray *> args;
        int outputs;
    };
    const Variant variants[] = {
        {"plain", {input}, 1},
        {"Quality", {input, qualityName, q}, 1},
        {"Periodic", {input, periodicName, every}, 1},
        {"regions", {input}, 2},
        {"reliability", {input}, 3},
        {"all", {input, qualityName, q, periodicName, every}, 3},
    };
    const int count = sizeof variants / sizeof variants[0];
    std::vector<double> times[count], ratios[count];
    size_t peaks[count] = {};
    // Each run starts with another variant, so that no variant always follows the same
    // one (the call before leaves memory behind that the next one recycles).
    for (int run = 0; run < runs; ++run) {
        for (int k = 0; k < count; ++k) {
            const int v = (run + k) % count;
            Clock::time_point start = Clock::now();
            HostCallResult r = hostCall(ext.entry, variants[v].outputs, variants[v].args);
            times[v].push_back(seconds(start));
            peaks[v] = std::max(peaks[v], r.peakBytes);
            hostReleaseOutputs(&r);
        }
        for (int v = 0; v < count; ++v) ratios[v].push_back(times[v].back() / times[0].back());
    }
    for (int v = 0; v < count; ++v) {
        // The outputs, 8 bytes a sample each (a double input).
        const double outputBytes = 8.0 * variants[v].outputs;
        std::printf("%*s %-11s call %.3f s, %.3f of plain's in turns, work %.1f B a sample beyond the outputs\n",
                    labelWidth, "", variants[v].name, median(times[v]), median(ratios[v]),
                    (static_cast<double>(peaks[v]) - outputBytes * samples) / samples);
    }
    for (mxArray *a : {q, qualityName, periodicName, every}) hostDestroyArray(a);
}

#endif // PHASEKIT_BENCH_UNWRAP_H
