// pipeline.cpp: the fixed sequence of stages that unwraps a map or a volume, run by the
// phasemend and phasemend3 entries after their arguments are checked: reliabilities,
// edges, ordering, group merging, result. Working memory at its peak is the edges
// (16 bytes each: about two a pixel in a map, three a voxel in a volume) and the group
// links (8 bytes a pixel); the reliabilities are held in a double result until the
// edges are built, since its memory is there anyway and the last stage writes every
// sample (a single result has no room: they get an array of their own until then).
// Samples are read in the input's class, double or single, never copied. A quality
// map replaces the reliability stage; periodic sides add their border pixels'
// reliabilities and the edges across their borders; the connected regions and the
// reliabilities are written only when asked for, into the caller's outputs.
#include "unwrap.h"

#include "mex.h"

#include "../portable/portability.h"

namespace {

// A working array that its first stage writes whole before anything reads it, so it
// needs no zero fill; large ones are offered huge pages.
void *workingArray(size_t count, size_t recordSize) {
    void *block = mxMalloc(count * recordSize);
    adviseHugePages(block, count * recordSize);
    return block;
}

// Where the reliabilities live while the edges are built: in the reliability output
// when it is asked for and double (it is written there anyway), else in a double
// result, whose memory is there anyway and which the last stage overwrites whole;
// beside a single one, which has no room for them, in an array of their own, freed as
// soon as the edges hold them (before the group links are made, so the peak stays
// that of the edges and the links).
double *reliabilityArray(double *out, const UnwrapOptions &options, size_t) {
    return options.reliability != nullptr ? static_cast<double *>(options.reliability) : out;
}
double *reliabilityArray(float *, const UnwrapOptions &, size_t pixelCount) {
    return static_cast<double *>(workingArray(pixelCount, sizeof(double)));
}
// Once the edges hold them: a double call's stay where they are (in the reliability
// output, or in the result, which the last stage overwrites); a single call's are
// rounded into its reliability output, if asked for, and their array goes. The result
// stage marks the missing and initial ones.
void releaseReliability(double *, double *, const UnwrapOptions &, size_t) {}
void releaseReliability(float *, double *reliability, const UnwrapOptions &options, size_t pixelCount) {
    if (options.reliability != nullptr)
        roundReliability(reliability, static_cast<float *>(options.reliability), pixelCount, options.interruption);
    mxFree(reliability);
}
// A single call's own reliability array, when it stops before the edges hold them.
void dropReliability(double *, double *) {}
void dropReliability(float *, double *reliability) { mxFree(reliability); }

// Ordering, merging and result, the same for maps and volumes. The ordering's top
// partitions come first; then every thread sorts what they left, range by range from
// the lowest, while one at a time merges the edges already in their final place, so
// the serial merge runs alongside the rest of the ordering instead of after it.
template <typename Sample>
bool orderMergeAndWrite(const Sample *wrapped, Sample *out, CompactEdge *edges, int32_t edgeCount,
                        int64_t referenceIndex, GridShape shape, const UnwrapOptions &options) {
    Interruption *const stop = options.interruption;
    const size_t pixelCount = static_cast<size_t>(shape.rows) * shape.columns * shape.slices;
    GroupLink *links = static_cast<GroupLink *>(workingArray(pixelCount, sizeof(GroupLink)));
    initGroupLinks(links, shape, stop);
    const int32_t capacity = leafCapacity(edgeCount);
    EdgeRange *leaves = static_cast<EdgeRange *>(mxMalloc(capacity * sizeof(EdgeRange)));
    std::atomic<int32_t> *sortedFlags =
        static_cast<std::atomic<int32_t> *>(mxMalloc(capacity * sizeof(std::atomic<int32_t>)));
    const int32_t leafCount = interrupted(stop) ? 0 : splitEdges(edges, edgeCount, kLeafSize, leaves, capacity, stop);
    if (!interrupted(stop)) sortLeavesAndMerge(links, edges, edgeCount, leaves, leafCount, sortedFlags, shape, stop);
    mxFree(sortedFlags);
    mxFree(leaves);
    mxFree(edges);
    if (!interrupted(stop))
        writeUnwrapped(links, wrapped, out, referenceIndex, shape, options.quality, options.regions,
                       static_cast<Sample *>(options.reliability), stop);
    if (options.regions != nullptr && !interrupted(stop)) numberRegions(links, options.regions, pixelCount, stop);
    mxFree(links);
    return !interrupted(stop);
}

// The reliability stage of a map or a volume, each with its own second differences.
template <typename Sample>
void computeGridReliability(const Sample *wrapped, double *reliability, GridShape shape,
                            const UnwrapOptions &options) {
    Interruption *const stop = options.interruption;
    const size_t pixelCount = static_cast<size_t>(shape.rows) * shape.columns * shape.slices;
    if (hasQuality(options.quality)) {
        qualityReliability(options.quality, reliability, pixelCount, stop);
        return;
    }
    // A volume's initial draws are those of the rows x (columns * slices) map its
    // samples form in memory: each voxel's depends on its position only.
    initPixels(reliability, shape.columns * shape.slices, shape.rows, stop);
    if (shape.slices == 1) {
        computeReliability(wrapped, reliability, shape.columns, shape.rows, stop);
        if (!interrupted(stop)) computeBorderReliability(wrapped, reliability, shape.columns, shape.rows, options.periodic);
    } else {
        computeReliability(wrapped, reliability, shape, stop);
        if (!interrupted(stop)) computeBorderReliability(wrapped, reliability, shape, options.periodic);
    }
}

// Edges: counted, laid out and filled, a map's or a volume's; each stage is skipped
// once the call is to stop. Null when it stopped (nothing is left held).
template <typename Sample>
CompactEdge *buildEdges(const Sample *wrapped, const double *reliability, GridShape shape,
                        const UnwrapOptions &options, int32_t *count) {
    Interruption *const stop = options.interruption;
    const bool map = shape.slices == 1;
    // A map's small offsets array is left to the host to reclaim when the call ends.
    int32_t *edgeOffsets = static_cast<int32_t *>(
        map ? mxCalloc(2 * static_cast<size_t>(shape.columns), sizeof(int32_t))
            : mxMalloc(volumeOffsetCount(shape) * sizeof(int32_t)));
    const int32_t edgeCount = map ? countEdges(wrapped, edgeOffsets, shape.columns, shape.rows, options.quality, stop)
                                  : countEdges(wrapped, edgeOffsets, shape, options.quality, stop);
    if (interrupted(stop)) {
        mxFree(edgeOffsets);
        return nullptr;
    }
    const int32_t wrapCount = countWrapEdges(wrapped, options.quality, shape, options.periodic);
    CompactEdge *edges = static_cast<CompactEdge *>(
        workingArray(static_cast<size_t>(edgeCount) + wrapCount, sizeof(CompactEdge)));
    if (map)
        fillEdges(wrapped, reliability, edges, edgeOffsets, shape.columns, shape.rows, options.quality, stop);
    else
        fillEdges(wrapped, reliability, edges, edgeOffsets, shape, options.quality, stop);
    if (wrapCount > 0) fillWrapEdges(wrapped, options.quality, reliability, edges + edgeCount, shape, options.periodic);
    if (!map) mxFree(edgeOffsets);
    if (interrupted(stop)) {
        if (map) mxFree(edgeOffsets);
        mxFree(edges);
        return nullptr;
    }
    *count = edgeCount + wrapCount;
    return edges;
}

template <typename Sample>
bool unwrapGridOf(const Sample *wrapped, Sample *out, int64_t referenceIndex, GridShape shape,
                  const UnwrapOptions &options) {
    const size_t pixelCount = static_cast<size_t>(shape.rows) * shape.columns * shape.slices;
    double *reliability = reliabilityArray(out, options, pixelCount);
    computeGridReliability(wrapped, reliability, shape, options);
    int32_t edgeCount = 0;
    CompactEdge *edges =
        interrupted(options.interruption) ? nullptr : buildEdges(wrapped, reliability, shape, options, &edgeCount);
    if (edges == nullptr) {
        dropReliability(out, reliability);
        return false;
    }
    releaseReliability(out, reliability, options, pixelCount);
    return orderMergeAndWrite(wrapped, out, edges, edgeCount, referenceIndex, shape, options);
}

}  // namespace

bool unwrapMap(const double *wrapped, double *out, int64_t referenceIndex, int32_t columns, int32_t rows,
               const UnwrapOptions &options) {
    const GridShape shape = {rows, columns, 1};
    return unwrapGridOf(wrapped, out, referenceIndex, shape, options);
}
bool unwrapMap(const float *wrapped, float *out, int64_t referenceIndex, int32_t columns, int32_t rows,
               const UnwrapOptions &options) {
    const GridShape shape = {rows, columns, 1};
    return unwrapGridOf(wrapped, out, referenceIndex, shape, options);
}
bool unwrapVolume(const double *wrapped, double *out, int64_t referenceIndex, GridShape shape,
                  const UnwrapOptions &options) {
    return unwrapGridOf(wrapped, out, referenceIndex, shape, options);
}
bool unwrapVolume(const float *wrapped, float *out, int64_t referenceIndex, GridShape shape,
                  const UnwrapOptions &options) {
    return unwrapGridOf(wrapped, out, referenceIndex, shape, options);
}
