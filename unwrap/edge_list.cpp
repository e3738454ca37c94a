// edge_list.cpp: builds one edge for every pair of valid neighbours in a column or a
// row. Edges are counted per column first and laid out by a running sum, so that each
// column then fills its own slice of one exactly sized array in parallel, without
// locks. Array order: column edges column by column (by row), then row edges by column
// pair (by row); the unstable sort that follows starts from this order. The command's
// form reads the input samples and the reliability array and writes CompactEdge
// records; the plain form reads PhasePixel records and writes PixelEdge ones. A pixel
// takes part when its sample is usable, and its quality too where there is a map.
#include "unwrap.h"

namespace {

template <typename Valid>
int32_t countEdgesOf(Valid valid, int32_t *edgeOffsets, int32_t columns, int32_t rows,
                     Interruption *interruption) {
    edgeOffsets[0] = 0;
    parallelFor(interruption, 0, columns, rows, [=](int64_t c) {
        const int64_t start = c * rows;
        int32_t count = 0;
        for (int32_t r = 0; r < rows - 1; ++r) count += (valid(start + r) && valid(start + r + 1));
        edgeOffsets[c + 1] = count;
    });
    parallelFor(interruption, 0, columns - 1, rows, [=](int64_t c) {
        const int64_t start = c * rows;
        int32_t count = 0;
        for (int32_t r = 0; r < rows; ++r) count += (valid(start + r) && valid(start + r + rows));
        edgeOffsets[static_cast<int64_t>(columns) + 1 + c] = count;
    });
    // An interrupted count is never used: its entries need not add up.
    if (interrupted(interruption)) return 0;
    return runningSum(edgeOffsets, 2 * static_cast<int64_t>(columns));
}

template <typename Sample, typename Valid>
void fillEdgesOf(const Sample *wrapped, Valid valid, const double *reliability, CompactEdge *edges,
                 const int32_t *edgeOffsets, int32_t columns, int32_t rows, Interruption *interruption) {
    parallelFor(interruption, 0, columns, rows, [=](int64_t c) {
        const int32_t start = static_cast<int32_t>(c) * rows;
        CompactEdge *edge = edges + edgeOffsets[c];
        for (int32_t i = start; i < start + rows - 1; ++i)
            if (valid(i) && valid(i + 1)) writeEdge(edge++, wrapped, reliability, i, i + 1, kNextRow);
    });
    parallelFor(interruption, 0, columns - 1, rows, [=](int64_t c) {
        const int32_t start = static_cast<int32_t>(c) * rows;
        CompactEdge *edge = edges + edgeOffsets[static_cast<int64_t>(columns) + c];
        for (int32_t i = start; i < start + rows; ++i)
            if (valid(i) && valid(i + rows)) writeEdge(edge++, wrapped, reliability, i, i + rows, kNextColumn);
    });
}

// The stages' calls for withValidity.
struct MapEdgeCount {
    int32_t *edgeOffsets;
    int32_t columns, rows;
    Interruption *interruption;
    template <typename Valid>
    int32_t operator()(Valid valid) const { return countEdgesOf(valid, edgeOffsets, columns, rows, interruption); }
};
template <typename Sample>
struct MapEdgeFill {
    const Sample *wrapped;
    const double *reliability;
    CompactEdge *edges;
    const int32_t *edgeOffsets;
    int32_t columns, rows;
    Interruption *interruption;
    template <typename Valid>
    void operator()(Valid valid) const {
        fillEdgesOf(wrapped, valid, reliability, edges, edgeOffsets, columns, rows, interruption);
    }
};

}  // namespace

int32_t countEdges(const double *wrapped, int32_t *edgeOffsets, int32_t columns, int32_t rows,
                   QualityMap quality, Interruption *interruption) {
    return withValidity(wrapped, quality, MapEdgeCount{edgeOffsets, columns, rows, interruption});
}
int32_t countEdges(const float *wrapped, int32_t *edgeOffsets, int32_t columns, int32_t rows,
                   QualityMap quality, Interruption *interruption) {
    return withValidity(wrapped, quality, MapEdgeCount{edgeOffsets, columns, rows, interruption});
}
void fillEdges(const double *wrapped, const double *reliability, CompactEdge *edges,
               const int32_t *edgeOffsets, int32_t columns, int32_t rows, QualityMap quality,
               Interruption *interruption) {
    withValidity(wrapped, quality,
                 MapEdgeFill<double>{wrapped, reliability, edges, edgeOffsets, columns, rows, interruption});
}
void fillEdges(const float *wrapped, const double *reliability, CompactEdge *edges,
               const int32_t *edgeOffsets, int32_t columns, int32_t rows, QualityMap quality,
               Interruption *interruption) {
    withValidity(wrapped, quality,
                 MapEdgeFill<float>{wrapped, reliability, edges, edgeOffsets, columns, rows, interruption});
}

int32_t countEdges(const PhasePixel *pixels, int32_t *edgeOffsets, int32_t columns, int32_t rows) {
    edgeOffsets[0] = 0;
#pragma omp parallel for schedule(static)
    for (int32_t c = 0; c < columns; ++c) {
        const PhasePixel *column = pixels + c * rows;
        int32_t count = 0;
        for (int32_t r = 0; r < rows - 1; ++r)
            count += (column[r].valid == 1 && column[r + 1].valid == 1);
        edgeOffsets[c + 1] = count;
    }
#pragma omp parallel for schedule(static)
    for (int32_t c = 0; c < columns - 1; ++c) {
        const PhasePixel *column = pixels + c * rows;
        const PhasePixel *neighbour = column + rows;
        int32_t count = 0;
        for (int32_t r = 0; r < rows; ++r)
            count += (column[r].valid == 1 && neighbour[r].valid == 1);
        edgeOffsets[static_cast<int64_t>(columns) + 1 + c] = count;
    }
    return runningSum(edgeOffsets, 2 * static_cast<int64_t>(columns));
}

static inline void writeEdge(PixelEdge *edge, PhasePixel *a, PhasePixel *b) {
    edge->reliability = a->reliability + b->reliability;
    edge->first = a;
    edge->second = b;
    edge->increment = wrapStep(a->value - b->value);
}

void fillEdges(PhasePixel *pixels, PixelEdge *edges, const int32_t *edgeOffsets, int32_t columns,
               int32_t rows) {
#pragma omp parallel for schedule(static)
    for (int32_t c = 0; c < columns; ++c) {
        PhasePixel *column = pixels + c * rows;
        PixelEdge *edge = edges + edgeOffsets[c];
        for (int32_t r = 0; r < rows - 1; ++r)
            if (column[r].valid == 1 && column[r + 1].valid == 1)
                writeEdge(edge++, &column[r], &column[r + 1]);
    }
#pragma omp parallel for schedule(static)
    for (int32_t c = 0; c < columns - 1; ++c) {
        PhasePixel *column = pixels + c * rows;
        PhasePixel *neighbour = column + rows;
        PixelEdge *edge = edges + edgeOffsets[static_cast<int64_t>(columns) + c];
        for (int32_t r = 0; r < rows; ++r)
            if (column[r].valid == 1 && neighbour[r].valid == 1)
                writeEdge(edge++, &column[r], &neighbour[r]);
    }
}
