// tiles.h: records and stages of phasemend's tiled call ('TileSize'). The map is cut
// into tiles; each tile runs the method's own stages on its pixels (keys read with a
// halo, its edges, their ordering, Kruskal's merge), which leaves its forest; the
// skeleton of that forest (what edges between tiles can still change) goes to one
// merge of all skeletons; then each tile fills its pixels' steps from the skeleton's.
//
// Edges are taken in one strict order: by key, then by kind (next row, next column,
// across the rows' border, across the columns' border), then by the global index of
// the first pixel, which is the order of the plain call's edge array for equal keys.
// Under a strict order Kruskal's forest is unique and a tile's forest holds every
// forest edge between its own pixels, so the tiles give the whole map's forest
// exactly: the bits depend on neither the tile size nor the thread count. Every
// region's first pixel (lowest column-major index) keeps 0 steps.
//
// No stage holds a per-pixel array of the whole map: tiles work in buffers of one
// tile each, the forest of a tile is kept between the passes in the unwrapped
// output's own samples, and the skeletons grow with the tiles' perimeters.
#ifndef PHASEKIT_TILES_H
#define PHASEKIT_TILES_H

#include "unwrap.h"

#include <cstddef>
#include <cstdint>

// How a map is cut: bands of tileRows rows and of tileColumns columns from the first
// pixel; the last band of each may be shorter. Tiles are numbered down the first
// column of tiles, then down the next.
struct TileGrid {
    int32_t rows, columns;           // the map
    int32_t tileRows, tileColumns;   // a full tile's sides
    int32_t bandsDown, bandsAcross;  // tiles down a column of tiles, across a row of them
    bool periodic[2];                // rows, columns: the last neighbours the first
};
TileGrid makeTileGrid(int32_t rows, int32_t columns, int32_t tileRows, int32_t tileColumns,
                      const bool periodic[2]);
inline int64_t tileCount(const TileGrid &grid) { return int64_t(grid.bandsDown) * grid.bandsAcross; }

// One tile's place. Its pixels are numbered column-major inside it ("local" index),
// which keeps the order of their global indices.
struct TileBox {
    int32_t row0, column0;  // its first pixel
    int32_t rows, columns;  // its sides
};
TileBox tileBox(const TileGrid &grid, int64_t tile);
inline int64_t globalIndex(const TileGrid &grid, const TileBox &box, int32_t local) {
    return int64_t(box.row0 + local % box.rows) + int64_t(box.column0 + local / box.rows) * grid.rows;
}

// Forest directions of a pixel, one bit each; an edge's first pixel reaches its second
// going down (next row, or from the last row to the first) or right (next column, or
// from the last column to the first).
const uint8_t kDown = 1, kRight = 2, kUp = 4, kLeft = 8;

// The place of an edge in the order after its key: kind, then global first index.
inline uint64_t edgeRank(NeighbourKind kind, int64_t first) {
    return (uint64_t(kind) << 60) | uint64_t(first);
}
inline NeighbourKind rankKind(uint64_t rank) { return static_cast<NeighbourKind>(rank >> 60); }
inline int64_t rankFirst(uint64_t rank) { return static_cast<int64_t>(rank & ((uint64_t(1) << 60) - 1)); }
inline bool edgeBefore(double keyA, uint64_t rankA, double keyB, uint64_t rankB) {
    return keyA < keyB || (keyA == keyB && rankA < rankB);
}

// An edge of the merge of all skeletons: either a chain of one tile's forest between
// two of its nodes, which stands for its heaviest edge, or an edge between two tiles.
struct SkeletonEdge {
    double key;      // the key of the edge it stands for
    uint64_t rank;   // that edge's rank: keys and ranks order the merge
    int32_t from;    // node at one end: a tile's own node number, then the global one
    int32_t to;      // node at the other end (-1 for an edge between tiles until found)
    int32_t steps;   // to's steps less from's along the chain or edge
    int32_t chain;   // 1: a chain (skipped, it loses its heaviest edge only); 0: one edge
};

// What a tile leaves for the merge of skeletons: its nodes (pixels the other tiles can
// reach or that number a region, by ascending local index) and its skeleton edges,
// first into buffers of a round of tiles (sized by the bounds below), then appended
// to the shared arrays, which so grow with what the tiles leave, not with bounds.
struct TileSummary {
    int64_t nodeStart;  // where its nodes begin in the node arrays
    int32_t nodeCount;
    int64_t edgeStart;  // where its skeleton edges begin
    int32_t edgeCount;
};
// Where a tile's pass one writes: room for tileNodeBound nodes (and their counts of
// regions above them, when regions are wanted) and tileSkeletonEdgeBound edges.
struct TileOutput {
    int32_t *nodePixels;
    int32_t *insideAbove;
    SkeletonEdge *edges;
};
// Bounds on a tile's nodes and skeleton edges. A tile's terminals (pixels with an edge
// to another tile, and the reference) are on its border, plus one; each component
// with one has one first pixel; pruned of other leaves, its forest has no more
// branch pixels than leaves. Its skeleton edges are its chains (fewer than its nodes)
// and the edges it sends down and right to other tiles.
int64_t tileNodeBound(const TileBox &box);
int64_t tileSkeletonEdgeBound(const TileBox &box);

// A worker's buffers, each for one tile of the largest size (tiles reuse them).
struct TileScratch {
    double *keys;        // the tile's pixel keys
    CompactEdge *edges;  // the tile's own edges
    int32_t *links;      // union-find parents; then node numbers; then (pass two) a stack
    int32_t *steps;      // pass two: the pixels' step counts
    uint8_t *forest;     // forest directions (low bits), pruned forest (high bits)
    uint8_t *flags;      // kValid, kTerminal, ... below
};
const uint8_t kValid = 1, kTerminal = 2, kFirstOfComponent = 4, kNode = 8, kHasTerminal = 16,
              kVisited = 32, kComponentSeen = 64;

// Region numbers: a region is numbered by the rank of its first pixel among all
// regions' first pixels in column-major order. Its place in that order is counted per
// segment, one column of one band of tiles (segment = column * bandsDown + band).
struct RegionCounts {
    int64_t *segmentStart;  // per segment: first pixels in it (pass one: of regions
                            // inside one tile), then first pixels before it
    int32_t *insideAbove;   // per node: first pixels of regions inside its tile that
                            // lie above it in its segment (as nodePixels)
};

// Everything one tiled call shares between its stages.
struct TiledCall {
    TileGrid grid;
    QualityMap quality;
    int64_t referenceIndex;     // < 0: none
    double missing;             // the host's NaN, fetched on its thread
    double initialReport;       // Inf: the reliability reported for an initial value
    TileSummary *tiles;         // one per tile
    int32_t *nodePixels;        // local index of each node, tile after tile
    SkeletonEdge *skeleton;     // every tile's skeleton edges, nodes numbered globally
    bool wantRegions;
    RegionCounts regions;       // when wantRegions
    int64_t nodeCount;          // nodes appended so far
    int64_t skeletonCount;      // skeleton edges appended so far
    // After the merge of skeletons:
    int32_t *nodeSteps;         // per node: its final steps, before the reference's
    double *nodeRegions;        // per node: its region's number (when wantRegions)
    uint8_t *nodeFirst;         // per node: 1 when it is its region's first pixel
    int64_t *removedStart;      // per tile + 1: where its removed forest edges begin
    uint64_t *removedRanks;     // ranks of the forest edges the merge left out
    int32_t referenceSteps;
};

// Pass one, for one tile: keys (and the reliability output's samples), the tile's
// edges in the strict order, its forest (stored as a small number in each of its
// pixels' unwrapped samples), then its skeleton.
void tileForest(const double *wrapped, const TiledCall &call, int64_t tile, TileScratch scratch, double *out,
                double *reliabilityOut);
void tileForest(const float *wrapped, const TiledCall &call, int64_t tile, TileScratch scratch, float *out,
                float *reliabilityOut);
void tileSkeleton(const double *wrapped, TiledCall &call, int64_t tile, TileScratch scratch, TileOutput output);
void tileSkeleton(const float *wrapped, TiledCall &call, int64_t tile, TileScratch scratch, TileOutput output);
// The merge of all skeletons, on the calling thread: edges between tiles joined to
// their far nodes, Kruskal over the skeletons in the strict order, every node's steps
// from its region's first pixel, region numbers, the removed edges. Allocates the
// per-node and per-tile arrays it fills (freed by freeSkeletonMerge). False when the
// call's interruption stopped it (nothing of it is then left to free).
bool mergeSkeletons(TiledCall &call, Interruption *interruption);
void freeSkeletonMerge(TiledCall &call);
// Pass two, for one tile: every pixel's steps, from its tile's nodes along the forest
// less the removed edges (regions inside the tile from their first pixel), into the
// unwrapped samples and the regions.
void tileResult(const double *wrapped, const TiledCall &call, int64_t tile, TileScratch scratch, double *out,
                double *regions);
void tileResult(const float *wrapped, const TiledCall &call, int64_t tile, TileScratch scratch, float *out,
                double *regions);

// The tile of a pixel, and the other pixel of the edge of a rank (whole-map indices:
// 64 bits, past 2^31 pixels).
inline int64_t tileOfPixel(const TileGrid &grid, int32_t row, int32_t column) {
    return row / grid.tileRows + int64_t(column / grid.tileColumns) * grid.bandsDown;
}
inline int64_t secondPixel(const TileGrid &grid, uint64_t rank) {
    const int64_t first = rankFirst(rank);
    switch (rankKind(rank)) {
    case kNextRow: return first + 1;
    case kNextColumn: return first + grid.rows;
    case kWrapRow: return first - (grid.rows - 1);
    default: return first - int64_t(grid.columns - 1) * grid.rows;
    }
}

// A pixel's key from the whole map's samples (its 3x3 neighbourhood read around the
// borders of periodic sides), as the plain call's reliability stages give it.
double pixelKey(const double *wrapped, QualityMap quality, const TileGrid &grid, int32_t row, int32_t column);
double pixelKey(const float *wrapped, QualityMap quality, const TileGrid &grid, int32_t row, int32_t column);

// The neighbour of a tile's pixel in a forest direction, inside the tile (the caller
// knows there is one: a forest edge or a neighbour test says so).
inline int32_t tileNeighbour(const TileBox &box, int32_t local, uint8_t direction) {
    const int32_t row = local % box.rows, column = local / box.rows;
    switch (direction) {
    case kDown: return row == box.rows - 1 ? local - row : local + 1;
    case kUp: return row == 0 ? local + box.rows - 1 : local - 1;
    case kRight: return column == box.columns - 1 ? row : local + box.rows;
    default: return column == 0 ? local + (box.columns - 1) * box.rows : local - box.rows;
    }
}
inline uint8_t oppositeDirection(uint8_t direction) {
    return static_cast<uint8_t>(direction <= kRight ? direction << 2 : direction >> 2);
}
// The kind of the forest edge from a pixel going down or right.
inline NeighbourKind forwardKind(const TileBox &box, int32_t local, uint8_t direction) {
    if (direction == kDown) return local % box.rows == box.rows - 1 ? kWrapRow : kNextRow;
    return local / box.rows == box.columns - 1 ? kWrapColumn : kNextColumn;
}

// The whole tiled call, after its arguments are checked: tileRows x tileColumns tiles.
// False when the options' interruption stopped it (everything freed, out unusable).
bool unwrapMapInTiles(const double *wrapped, double *out, int64_t referenceIndex, int32_t columns, int32_t rows,
                      int32_t tileRows, int32_t tileColumns, const UnwrapOptions &options);
bool unwrapMapInTiles(const float *wrapped, float *out, int64_t referenceIndex, int32_t columns, int32_t rows,
                      int32_t tileRows, int32_t tileColumns, const UnwrapOptions &options);

#endif // PHASEKIT_TILES_H
