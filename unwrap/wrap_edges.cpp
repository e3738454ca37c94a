// wrap_edges.cpp: the edges across the borders of sides that wrap around (azimuth, a
// full turn, longitude): the last row, column or slice neighbours the first. They come
// after every ordinary edge, so a grid without periodic sides keeps its edge array,
// and with them its order is still fixed: the edges that close the rows (by ascending
// column, then slice), then those that close the columns, then the slices, each kind
// by ascending first pixel. There are at most a side's cross-section of each kind, so
// one pass on the calling thread serves.
#include "unwrap.h"

namespace {

// Visits the pairs (first, second) of one kind, by ascending first pixel: the first on
// the last row, column or slice, the second on the first.
template <typename Visit>
void visitWrapPairs(GridShape shape, NeighbourKind kind, Visit visit) {
    const int32_t rows = shape.rows, columns = shape.columns, slices = shape.slices;
    const int32_t sliceSize = rows * columns;
    if (kind == kWrapRow) {
        for (int32_t line = 0; line < columns * slices; ++line) visit(line * rows + rows - 1, line * rows);
    } else if (kind == kWrapColumn) {
        for (int32_t s = 0; s < slices; ++s)
            for (int32_t r = 0; r < rows; ++r) visit(s * sliceSize + (columns - 1) * rows + r, s * sliceSize + r);
    } else {
        for (int32_t i = 0; i < sliceSize; ++i) visit((slices - 1) * sliceSize + i, i);
    }
}

const NeighbourKind kWrapKinds[3] = {kWrapRow, kWrapColumn, kWrapSlice};

template <typename Valid>
int32_t countWrapEdgesOf(Valid valid, GridShape shape, const bool periodic[3]) {
    int32_t count = 0;
    for (int side = 0; side < 3; ++side)
        if (periodic[side])
            visitWrapPairs(shape, kWrapKinds[side], [&](int32_t a, int32_t b) { count += valid(a) && valid(b); });
    return count;
}

template <typename Sample, typename Valid>
void fillWrapEdgesOf(const Sample *wrapped, Valid valid, const double *reliability, CompactEdge *edges,
                     GridShape shape, const bool periodic[3]) {
    CompactEdge *edge = edges;
    for (int side = 0; side < 3; ++side) {
        if (!periodic[side]) continue;
        const NeighbourKind kind = kWrapKinds[side];
        visitWrapPairs(shape, kind, [&](int32_t a, int32_t b) {
            if (valid(a) && valid(b)) writeEdge(edge++, wrapped, reliability, a, b, kind);
        });
    }
}

// The stages' calls for withValidity.
struct WrapEdgeCount {
    GridShape shape;
    const bool *periodic;
    template <typename Valid>
    int32_t operator()(Valid valid) const { return countWrapEdgesOf(valid, shape, periodic); }
};
template <typename Sample>
struct WrapEdgeFill {
    const Sample *wrapped;
    const double *reliability;
    CompactEdge *edges;
    GridShape shape;
    const bool *periodic;
    template <typename Valid>
    void operator()(Valid valid) const { fillWrapEdgesOf(wrapped, valid, reliability, edges, shape, periodic); }
};

}  // namespace

int32_t countWrapEdges(const double *wrapped, QualityMap quality, GridShape shape, const bool periodic[3]) {
    return withValidity(wrapped, quality, WrapEdgeCount{shape, periodic});
}
int32_t countWrapEdges(const float *wrapped, QualityMap quality, GridShape shape, const bool periodic[3]) {
    return withValidity(wrapped, quality, WrapEdgeCount{shape, periodic});
}
void fillWrapEdges(const double *wrapped, QualityMap quality, const double *reliability, CompactEdge *edges,
                   GridShape shape, const bool periodic[3]) {
    withValidity(wrapped, quality, WrapEdgeFill<double>{wrapped, reliability, edges, shape, periodic});
}
void fillWrapEdges(const float *wrapped, QualityMap quality, const double *reliability, CompactEdge *edges,
                   GridShape shape, const bool periodic[3]) {
    withValidity(wrapped, quality, WrapEdgeFill<float>{wrapped, reliability, edges, shape, periodic});
}
