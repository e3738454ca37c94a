// tile_forest.cpp: the method's own stages on one tile of a tiled call. Keys are those
// of the plain call, read from the whole map around the tile (a key needs the pixel's
// 3x3 neighbourhood, across the borders of periodic sides) and written to the
// reliability output as the plain call writes it. The tile's own edges (both pixels
// in it, across a periodic border too when the tile spans that side) are built in
// kind and index order, sorted by the plain call's quicksort and then, within each
// run of equal keys, by kind and index: the strict order. Kruskal's merge in that
// order gives the tile's forest, the only edges between its pixels that the whole
// map's forest can hold (any other closes a loop of earlier edges).
#include "tiles.h"

#include <algorithm>

namespace {

// The key of a pixel without a quality map, given its neighbours' rows and columns
// (-1 where there is none): second differences when all nine samples are usable,
// else the initial value drawn for its position.
template <typename Sample>
inline double secondDifferenceKey(const Sample *wrapped, int64_t rows, int32_t row, int32_t column, int32_t up,
                                  int32_t down, int32_t left, int32_t right) {
    const double initial = static_cast<double>(kInitialReliability + pixelRandom(column, row));
    if (up < 0 || down < 0 || left < 0 || right < 0) return initial;
    const Sample *l = wrapped + left * rows, *c = wrapped + column * rows, *r = wrapped + right * rows;
    const double v = c[row];
    if (!usableSample(v) || !usableSample(l[up]) || !usableSample(l[row]) || !usableSample(l[down]) ||
        !usableSample(c[up]) || !usableSample(c[down]) || !usableSample(r[up]) || !usableSample(r[row]) ||
        !usableSample(r[down]))
        return initial;
    return secondDifferenceSum(v, c[up], c[down], l[row], r[row], l[up], r[down], l[down], r[up]);
}

inline double qualityKey(QualityMap quality, int64_t i) {
    return quality.doubles != nullptr ? -quality.doubles[i] : -static_cast<double>(quality.singles[i]);
}

template <typename Sample>
double pixelKeyOf(const Sample *wrapped, QualityMap quality, const TileGrid &grid, int32_t row, int32_t column) {
    if (hasQuality(quality)) return qualityKey(quality, row + int64_t(column) * grid.rows);
    return secondDifferenceKey(wrapped, grid.rows, row, column, sideBefore(row, grid.rows, grid.periodic[0]),
                               sideAfter(row, grid.rows, grid.periodic[0]),
                               sideBefore(column, grid.columns, grid.periodic[1]),
                               sideAfter(column, grid.columns, grid.periodic[1]));
}

// Keys and validity of the tile's pixels, and the reliability output's samples as the
// plain call leaves them: the key in the output's class, Inf where a pixel kept its
// initial value (none do with a quality map), NaN where it is missing.
template <typename Sample, typename Valid>
void tileKeys(const Sample *wrapped, Valid valid, const TiledCall &call, const TileBox &box, TileScratch scratch,
              Sample *reliabilityOut) {
    const TileGrid &grid = call.grid;
    const bool quality = hasQuality(call.quality);
    const Sample initialFloor = static_cast<Sample>(kInitialReliability);
    for (int32_t j = 0; j < box.columns; ++j) {
        const int32_t column = box.column0 + j;
        const int32_t left = sideBefore(column, grid.columns, grid.periodic[1]);
        const int32_t right = sideAfter(column, grid.columns, grid.periodic[1]);
        const int64_t columnStart = int64_t(column) * grid.rows;
        for (int32_t i = 0; i < box.rows; ++i) {
            const int32_t row = box.row0 + i, local = i + j * box.rows;
            const int64_t g = columnStart + row;
            const bool usable = valid(g);
            scratch.flags[local] = usable ? kValid : 0;
            double key;
            if (quality)
                key = qualityKey(call.quality, g);
            else
                key = secondDifferenceKey(wrapped, grid.rows, row, column, sideBefore(row, grid.rows, grid.periodic[0]),
                                          sideAfter(row, grid.rows, grid.periodic[0]), left, right);
            scratch.keys[local] = key;
            if (reliabilityOut != nullptr) {
                Sample report = usable ? static_cast<Sample>(key) : static_cast<Sample>(call.missing);
                if (usable && !quality && report >= initialFloor) report = static_cast<Sample>(call.initialReport);
                reliabilityOut[g] = report;
            }
        }
    }
}

inline void tileEdge(CompactEdge *edge, const double *keys, int32_t first, int32_t second, NeighbourKind kind) {
    edge->reliability = keys[first] + keys[second];
    edge->first = first;
    edge->neighbour = static_cast<int8_t>(kind);
    edge->increment = 0;  // the forest needs none; steps are taken from the samples later
}

// The tile's own edges in kind and index order: next row, next column, then across
// the rows' and the columns' borders where the tile spans a periodic side.
int32_t tileEdges(const TiledCall &call, const TileBox &box, TileScratch scratch) {
    const int32_t m = box.rows, n = box.columns;
    const uint8_t *flags = scratch.flags;
    CompactEdge *edge = scratch.edges;
    for (int32_t j = 0; j < n; ++j)
        for (int32_t l = j * m; l < j * m + m - 1; ++l)
            if (flags[l] & flags[l + 1] & kValid) tileEdge(edge++, scratch.keys, l, l + 1, kNextRow);
    for (int32_t l = 0; l < (n - 1) * m; ++l)
        if (flags[l] & flags[l + m] & kValid) tileEdge(edge++, scratch.keys, l, l + m, kNextColumn);
    if (call.grid.periodic[0] && m == call.grid.rows)
        for (int32_t j = 0; j < n; ++j) {
            const int32_t l = j * m + m - 1;
            if (flags[l] & flags[j * m] & kValid) tileEdge(edge++, scratch.keys, l, j * m, kWrapRow);
        }
    if (call.grid.periodic[1] && n == call.grid.columns)
        for (int32_t i = 0; i < m; ++i) {
            const int32_t l = (n - 1) * m + i;
            if (flags[l] & flags[i] & kValid) tileEdge(edge++, scratch.keys, l, i, kWrapColumn);
        }
    return static_cast<int32_t>(edge - scratch.edges);
}

// Within a tile, kind and local index order edges as kind and global index do.
inline bool kindThenIndex(const CompactEdge &a, const CompactEdge &b) {
    return a.neighbour < b.neighbour || (a.neighbour == b.neighbour && a.first < b.first);
}

// The strict order: the plain call's quicksort by key, then each run of equal keys by
// kind and index (the quicksort leaves equal keys in an order of its own).
void orderTileEdges(CompactEdge *edges, int32_t count) {
    if (count == 0) return;
    const EdgeRange all = {0, count - 1};
    sortEdgeRange(edges, all);
    for (int32_t k = 0; k < count;) {
        int32_t end = k + 1;
        while (end < count && edges[end].reliability == edges[k].reliability) ++end;
        if (end - k > 1) std::sort(edges + k, edges + end, kindThenIndex);
        k = end;
    }
}

inline int32_t findRoot(int32_t *parents, int32_t x) {
    while (parents[x] >= 0) {
        const int32_t up = parents[x];
        if (parents[up] >= 0) parents[x] = parents[up];  // path halving
        x = up;
    }
    return x;
}

// Kruskal's merge over the ordered edges: an edge joining two components enters the
// forest (a direction bit on each of its pixels), one inside a component does not.
// Leaves every valid pixel's union-find parent in links (a root: minus its size).
void tileKruskal(const TileBox &box, const CompactEdge *edges, int32_t count, TileScratch scratch) {
    const int32_t pixels = box.rows * box.columns;
    std::fill(scratch.links, scratch.links + pixels, -1);
    std::fill(scratch.forest, scratch.forest + pixels, uint8_t(0));
    const int32_t steps[kNeighbourKinds] = {1, box.rows, 0, -(box.rows - 1), -(box.columns - 1) * box.rows, 0};
    for (int32_t k = 0; k < count; ++k) {
        const CompactEdge &e = edges[k];
        const int32_t a = e.first, b = e.first + steps[e.neighbour];
        int32_t ra = findRoot(scratch.links, a), rb = findRoot(scratch.links, b);
        if (ra == rb) continue;
        if (scratch.links[ra] > scratch.links[rb]) std::swap(ra, rb);  // ra: the larger
        scratch.links[ra] += scratch.links[rb];
        scratch.links[rb] = ra;
        const bool alongColumn = e.neighbour == kNextRow || e.neighbour == kWrapRow;
        scratch.forest[a] |= alongColumn ? kDown : kRight;
        scratch.forest[b] |= alongColumn ? kUp : kLeft;
    }
}

template <typename Sample, typename Valid>
void tileForestOf(const Sample *wrapped, Valid valid, const TiledCall &call, int64_t tile, TileScratch scratch,
                  Sample *out, Sample *reliabilityOut) {
    const TileBox box = tileBox(call.grid, tile);
    tileKeys(wrapped, valid, call, box, scratch, reliabilityOut);
    const int32_t count = tileEdges(call, box, scratch);
    orderTileEdges(scratch.edges, count);
    tileKruskal(box, scratch.edges, count, scratch);
    // Kept until the second pass in the tile's own result samples, which it then
    // overwrites: small whole numbers, exact in either class.
    for (int32_t j = 0; j < box.columns; ++j) {
        Sample *column = out + int64_t(box.column0 + j) * call.grid.rows + box.row0;
        const uint8_t *forest = scratch.forest + j * box.rows;
        for (int32_t i = 0; i < box.rows; ++i) column[i] = static_cast<Sample>(forest[i]);
    }
}

template <typename Sample>
struct TileForestStage {
    const TiledCall &call;
    int64_t tile;
    TileScratch scratch;
    Sample *out, *reliabilityOut;
    const Sample *wrapped;
    template <typename Valid>
    void operator()(Valid valid) const { tileForestOf(wrapped, valid, call, tile, scratch, out, reliabilityOut); }
};

}  // namespace

double pixelKey(const double *wrapped, QualityMap quality, const TileGrid &grid, int32_t row, int32_t column) {
    return pixelKeyOf(wrapped, quality, grid, row, column);
}
double pixelKey(const float *wrapped, QualityMap quality, const TileGrid &grid, int32_t row, int32_t column) {
    return pixelKeyOf(wrapped, quality, grid, row, column);
}

void tileForest(const double *wrapped, const TiledCall &call, int64_t tile, TileScratch scratch, double *out,
                double *reliabilityOut) {
    withValidity(wrapped, call.quality, TileForestStage<double>{call, tile, scratch, out, reliabilityOut, wrapped});
}
void tileForest(const float *wrapped, const TiledCall &call, int64_t tile, TileScratch scratch, float *out,
                float *reliabilityOut) {
    withValidity(wrapped, call.quality, TileForestStage<float>{call, tile, scratch, out, reliabilityOut, wrapped});
}
