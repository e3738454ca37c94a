// volume_edges.cpp: the edge list stage for volumes. One edge for every pair of valid
// neighbours along a column (next row), a row (next column) or through the slices
// (next slice). The array holds all next-row edges by ascending index of their first
// voxel, then all next-column edges, then all next-slice edges, as a map's does with
// its first two kinds. Edges are counted per column of the volume (the rows of one
// column of one slice), all kinds in one pass, laid out by a running sum and filled in
// parallel, each column into its own three parts of one exactly sized array.
#include "unwrap.h"

size_t volumeOffsetCount(GridShape shape) {
    return 3 * static_cast<size_t>(shape.columns) * shape.slices + 1;
}

namespace {

// Column `line` of the volume (column c of slice s is line c + s * columns): where it
// starts, and the index steps to its next-column and next-slice neighbours, 0 where it
// has none (the last column of a slice, the last slice).
struct VolumeLine {
    int32_t start;
    int32_t columnStep;
    int32_t sliceStep;
};

inline VolumeLine volumeLine(GridShape shape, int64_t line) {
    VolumeLine l;
    l.start = static_cast<int32_t>(line * shape.rows);
    l.columnStep = line % shape.columns < shape.columns - 1 ? shape.rows : 0;
    l.sliceStep = line / shape.columns < shape.slices - 1 ? shape.rows * shape.columns : 0;
    return l;
}

}  // namespace

// One pass over each column counts its edges of all three kinds; entries 1 + kind *
// lines + line hold them, so that after the running sum entry kind * lines + line is
// where the column's edges of that kind begin.
namespace {

template <typename Valid>
int32_t countEdgesOf(Valid valid, int32_t *edgeOffsets, GridShape shape, Interruption *interruption) {
    const int64_t lines = static_cast<int64_t>(shape.columns) * shape.slices;
    const int32_t rows = shape.rows;
    edgeOffsets[0] = 0;
    parallelFor(interruption, 0, lines, 3.0 * rows, [=](int64_t line) {
        const VolumeLine l = volumeLine(shape, line);
        int32_t counts[3] = {0, 0, 0};
        for (int32_t a = l.start; a < l.start + rows; ++a) {
            if (!valid(a)) continue;
            counts[kNextRow] += a + 1 < l.start + rows && valid(a + 1);
            counts[kNextColumn] += l.columnStep != 0 && valid(a + l.columnStep);
            counts[kNextSlice] += l.sliceStep != 0 && valid(a + l.sliceStep);
        }
        for (int kind = kNextRow; kind <= kNextSlice; ++kind) edgeOffsets[1 + kind * lines + line] = counts[kind];
    });
    // An interrupted count is never used: its entries need not add up.
    if (interrupted(interruption)) return 0;
    return runningSum(edgeOffsets, 3 * lines + 1);
}

template <typename Sample, typename Valid>
void fillEdgesOf(const Sample *wrapped, Valid valid, const double *reliability, CompactEdge *edges,
                 const int32_t *edgeOffsets, GridShape shape, Interruption *interruption) {
    const int64_t lines = static_cast<int64_t>(shape.columns) * shape.slices;
    const int32_t rows = shape.rows;
    parallelFor(interruption, 0, lines, 3.0 * rows, [=](int64_t line) {
        const VolumeLine l = volumeLine(shape, line);
        CompactEdge *next[3];
        for (int kind = kNextRow; kind <= kNextSlice; ++kind) next[kind] = edges + edgeOffsets[kind * lines + line];
        for (int32_t a = l.start; a < l.start + rows; ++a) {
            if (!valid(a)) continue;
            if (a + 1 < l.start + rows && valid(a + 1))
                writeEdge(next[kNextRow]++, wrapped, reliability, a, a + 1, kNextRow);
            if (l.columnStep != 0 && valid(a + l.columnStep))
                writeEdge(next[kNextColumn]++, wrapped, reliability, a, a + l.columnStep, kNextColumn);
            if (l.sliceStep != 0 && valid(a + l.sliceStep))
                writeEdge(next[kNextSlice]++, wrapped, reliability, a, a + l.sliceStep, kNextSlice);
        }
    });
}

// The stages' calls for withValidity.
struct VolumeEdgeCount {
    int32_t *edgeOffsets;
    GridShape shape;
    Interruption *interruption;
    template <typename Valid>
    int32_t operator()(Valid valid) const { return countEdgesOf(valid, edgeOffsets, shape, interruption); }
};
template <typename Sample>
struct VolumeEdgeFill {
    const Sample *wrapped;
    const double *reliability;
    CompactEdge *edges;
    const int32_t *edgeOffsets;
    GridShape shape;
    Interruption *interruption;
    template <typename Valid>
    void operator()(Valid valid) const {
        fillEdgesOf(wrapped, valid, reliability, edges, edgeOffsets, shape, interruption);
    }
};

}  // namespace

int32_t countEdges(const double *wrapped, int32_t *edgeOffsets, GridShape shape, QualityMap quality,
                   Interruption *interruption) {
    return withValidity(wrapped, quality, VolumeEdgeCount{edgeOffsets, shape, interruption});
}
int32_t countEdges(const float *wrapped, int32_t *edgeOffsets, GridShape shape, QualityMap quality,
                   Interruption *interruption) {
    return withValidity(wrapped, quality, VolumeEdgeCount{edgeOffsets, shape, interruption});
}
void fillEdges(const double *wrapped, const double *reliability, CompactEdge *edges,
               const int32_t *edgeOffsets, GridShape shape, QualityMap quality, Interruption *interruption) {
    withValidity(wrapped, quality,
                 VolumeEdgeFill<double>{wrapped, reliability, edges, edgeOffsets, shape, interruption});
}
void fillEdges(const float *wrapped, const double *reliability, CompactEdge *edges,
               const int32_t *edgeOffsets, GridShape shape, QualityMap quality, Interruption *interruption) {
    withValidity(wrapped, quality,
                 VolumeEdgeFill<float>{wrapped, reliability, edges, edgeOffsets, shape, interruption});
}
