// tile_skeleton.cpp: what of a tile's forest the rest of the map can still change.
// Terminals are the pixels with an edge to another tile (across a periodic border
// too) and the reference; every component of the forest with a terminal also keeps
// its first pixel, which may number its region and carry its 0 steps. Leaves that
// are neither are pruned again and again: their edges are certainly in the whole
// map's forest. In what remains, terminals, first pixels and branch pixels (three
// forest edges or more) are nodes, and each chain of forest edges between two nodes
// becomes one skeleton edge that stands for its heaviest edge in the strict order
// (if the merge of skeletons skips it, only that edge leaves the forest) and carries
// the chain's step sum. The edges the tile sends down and right to other tiles join
// them. A component without a terminal is a whole region, finished in the tile.
#include "tiles.h"

namespace {

const uint8_t kBitCount[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
const uint8_t kInsideFirst = 128;  // the first pixel of a component without a terminal
const uint8_t kDirections[4] = {kDown, kRight, kUp, kLeft};

inline uint8_t prunedDirections(const uint8_t *forest, int32_t local) { return forest[local] >> 4; }
inline void cutPruned(uint8_t *forest, int32_t a, int32_t b, uint8_t direction) {
    forest[a] &= static_cast<uint8_t>(~(direction << 4));
    forest[b] &= static_cast<uint8_t>(~(oppositeDirection(direction) << 4));
}

template <typename Valid>
inline bool validAt(Valid valid, const TileGrid &grid, int32_t row, int32_t column) {
    return row >= 0 && column >= 0 && valid(row + int64_t(column) * grid.rows);
}

// Pixels with a valid neighbour in another tile, and the reference when it is valid.
template <typename Valid>
void markTerminals(Valid valid, const TiledCall &call, const TileBox &box, uint8_t *flags) {
    const TileGrid &grid = call.grid;
    const int32_t m = box.rows, n = box.columns;
    const bool otherTilesDown = m != grid.rows, otherTilesAcross = n != grid.columns;
    for (int32_t j = 0; j < n; ++j) {
        const int32_t column = box.column0 + j;
        for (int32_t i = 0; i < m; i += (j == 0 || j == n - 1) ? 1 : (m > 1 ? m - 1 : 1)) {
            const int32_t local = i + j * m, row = box.row0 + i;
            if (!(flags[local] & kValid)) continue;
            bool terminal = false;
            if (otherTilesDown && i == 0)
                terminal = terminal || validAt(valid, grid, sideBefore(row, grid.rows, grid.periodic[0]), column);
            if (otherTilesDown && i == m - 1)
                terminal = terminal || validAt(valid, grid, sideAfter(row, grid.rows, grid.periodic[0]), column);
            if (otherTilesAcross && j == 0)
                terminal = terminal || validAt(valid, grid, row, sideBefore(column, grid.columns, grid.periodic[1]));
            if (otherTilesAcross && j == n - 1)
                terminal = terminal || validAt(valid, grid, row, sideAfter(column, grid.columns, grid.periodic[1]));
            if (terminal) flags[local] |= kTerminal;
        }
    }
    if (call.referenceIndex >= 0) {
        const int32_t row = static_cast<int32_t>(call.referenceIndex % grid.rows);
        const int32_t column = static_cast<int32_t>(call.referenceIndex / grid.rows);
        const int32_t i = row - box.row0, j = column - box.column0;
        if (i >= 0 && i < m && j >= 0 && j < n && (flags[i + j * m] & kValid)) flags[i + j * m] |= kTerminal;
    }
}

// Components: every pixel linked straight to its root; then each component's first
// pixel, marked as one with a terminal or as one of a region inside the tile.
void markFirstPixels(const TileBox &box, TileScratch scratch) {
    const int32_t pixels = box.rows * box.columns;
    int32_t *links = scratch.links;
    uint8_t *flags = scratch.flags;
    for (int32_t l = 0; l < pixels; ++l) {
        if (!(flags[l] & kValid) || links[l] < 0) continue;
        int32_t root = links[l];
        while (links[root] >= 0) root = links[root];
        for (int32_t x = l; links[x] >= 0;) {  // compress the whole path
            const int32_t up = links[x];
            links[x] = root;
            x = up;
        }
    }
    for (int32_t l = 0; l < pixels; ++l)
        if (flags[l] & kTerminal) flags[links[l] < 0 ? l : links[l]] |= kHasTerminal;
    for (int32_t l = 0; l < pixels; ++l) {
        if (!(flags[l] & kValid)) continue;
        const int32_t root = links[l] < 0 ? l : links[l];
        if (flags[root] & kComponentSeen) continue;
        flags[root] |= kComponentSeen;
        flags[l] |= (flags[root] & kHasTerminal) ? kFirstOfComponent : kInsideFirst;
    }
}

// Removes leaves that are neither terminals nor first pixels, walking on from each
// into the pixel it hung from while that one becomes such a leaf.
void pruneForest(const TileBox &box, TileScratch scratch) {
    const int32_t pixels = box.rows * box.columns;
    uint8_t *forest = scratch.forest;
    for (int32_t l = 0; l < pixels; ++l) forest[l] = static_cast<uint8_t>((forest[l] & 15) | (forest[l] << 4));
    for (int32_t l = 0; l < pixels; ++l) {
        int32_t p = l;
        while (!(scratch.flags[p] & (kTerminal | kFirstOfComponent)) && kBitCount[prunedDirections(forest, p)] == 1) {
            const uint8_t direction = prunedDirections(forest, p);
            const int32_t q = tileNeighbour(box, p, direction);
            cutPruned(forest, p, q, direction);
            p = q;
        }
    }
}

// The wrap step of the edge from first to second, from the samples in double.
template <typename Sample>
inline int32_t edgeIncrement(const Sample *wrapped, int64_t first, int64_t second) {
    return wrapStep(static_cast<double>(wrapped[first]) - static_cast<double>(wrapped[second]));
}

// Walks the chain that leaves node `start` in `direction` up to the next node,
// cutting it from the pruned forest; returns its skeleton edge (from its start).
template <typename Sample>
SkeletonEdge walkChain(const Sample *wrapped, const TiledCall &call, const TileBox &box, TileScratch scratch,
                       int32_t startNode, int32_t start, uint8_t direction) {
    SkeletonEdge chain = {0.0, 0, startNode, -1, 0, 1};
    bool first = true;
    for (int32_t p = start;;) {
        const int32_t q = tileNeighbour(box, p, direction);
        cutPruned(scratch.forest, p, q, direction);
        const bool forward = direction == kDown || direction == kRight;
        const int32_t a = forward ? p : q, b = forward ? q : p;  // the edge's first and second
        const int64_t ga = globalIndex(call.grid, box, a), gb = globalIndex(call.grid, box, b);
        const double key = scratch.keys[a] + scratch.keys[b];
        const uint64_t rank = edgeRank(forwardKind(box, a, forward ? direction : oppositeDirection(direction)), ga);
        if (first || edgeBefore(chain.key, chain.rank, key, rank)) {
            chain.key = key;
            chain.rank = rank;
            first = false;
        }
        // second = first - increment in steps, walked either way.
        const int32_t increment = edgeIncrement(wrapped, ga, gb);
        chain.steps += forward ? -increment : increment;
        if (scratch.flags[q] & kNode) {
            chain.to = scratch.links[q];
            return chain;
        }
        direction = prunedDirections(scratch.forest, q);  // the one edge left
        p = q;
    }
}

template <typename Sample, typename Valid>
void tileSkeletonOf(const Sample *wrapped, Valid valid, TiledCall &call, int64_t tile, TileScratch scratch,
                    TileOutput output) {
    const TileGrid &grid = call.grid;
    const TileBox box = tileBox(grid, tile);
    const int32_t m = box.rows, n = box.columns;
    TileSummary &summary = call.tiles[tile];
    markTerminals(valid, call, box, scratch.flags);
    markFirstPixels(box, scratch);
    pruneForest(box, scratch);

    // Nodes by ascending local index, numbered in the tile; links now hold the numbers.
    int32_t *nodePixels = output.nodePixels;
    const int64_t band = tile % grid.bandsDown;
    int32_t nodes = 0;
    for (int32_t j = 0; j < n; ++j) {
        int32_t insideFirsts = 0;
        for (int32_t l = j * m; l < j * m + m; ++l) {
            const uint8_t f = scratch.flags[l];
            if (f & kInsideFirst) ++insideFirsts;
            if (!(f & kValid)) continue;
            if (!(f & (kTerminal | kFirstOfComponent)) && kBitCount[prunedDirections(scratch.forest, l)] < 3) continue;
            scratch.flags[l] = static_cast<uint8_t>(f | kNode);
            scratch.links[l] = nodes;
            if (call.wantRegions) output.insideAbove[nodes] = insideFirsts;
            nodePixels[nodes++] = l;
        }
        if (call.wantRegions) call.regions.segmentStart[int64_t(box.column0 + j) * grid.bandsDown + band] = insideFirsts;
    }
    summary.nodeCount = nodes;

    // Chains, each walked once from its lower node.
    SkeletonEdge *edges = output.edges;
    int32_t edgeCount = 0;
    for (int32_t k = 0; k < nodes; ++k)
        for (uint8_t direction : kDirections)
            if (prunedDirections(scratch.forest, nodePixels[k]) & direction)
                edges[edgeCount++] = walkChain(wrapped, call, box, scratch, k, nodePixels[k], direction);

    // The edges this tile sends down from its last row and right from its last column;
    // their other pixels are numbered when every tile has its nodes.
    auto sendEdge = [&](int32_t local, int32_t row, int32_t column, NeighbourKind kind) {
        const int64_t g = globalIndex(grid, box, local), h = row + int64_t(column) * grid.rows;
        const double key = scratch.keys[local] + pixelKey(wrapped, call.quality, grid, row, column);
        const SkeletonEdge edge = {key, edgeRank(kind, g), scratch.links[local], -1, -edgeIncrement(wrapped, g, h), 0};
        edges[edgeCount++] = edge;
    };
    if (m != grid.rows) {
        const int32_t row = box.row0 + m - 1, below = sideAfter(row, grid.rows, grid.periodic[0]);
        for (int32_t j = 0; below >= 0 && j < n; ++j) {
            const int32_t local = m - 1 + j * m;
            if ((scratch.flags[local] & kValid) && validAt(valid, grid, below, box.column0 + j))
                sendEdge(local, below, box.column0 + j, below == 0 ? kWrapRow : kNextRow);
        }
    }
    if (n != grid.columns) {
        const int32_t column = box.column0 + n - 1, beyond = sideAfter(column, grid.columns, grid.periodic[1]);
        for (int32_t i = 0; beyond >= 0 && i < m; ++i) {
            const int32_t local = i + (n - 1) * m;
            if ((scratch.flags[local] & kValid) && validAt(valid, grid, box.row0 + i, beyond))
                sendEdge(local, box.row0 + i, beyond, beyond == 0 ? kWrapColumn : kNextColumn);
        }
    }
    summary.edgeCount = edgeCount;
}

template <typename Sample>
struct TileSkeletonStage {
    TiledCall &call;
    int64_t tile;
    TileScratch scratch;
    TileOutput output;
    const Sample *wrapped;
    template <typename Valid>
    void operator()(Valid valid) const { tileSkeletonOf(wrapped, valid, call, tile, scratch, output); }
};

}  // namespace

void tileSkeleton(const double *wrapped, TiledCall &call, int64_t tile, TileScratch scratch, TileOutput output) {
    withValidity(wrapped, call.quality, TileSkeletonStage<double>{call, tile, scratch, output, wrapped});
}
void tileSkeleton(const float *wrapped, TiledCall &call, int64_t tile, TileScratch scratch, TileOutput output) {
    withValidity(wrapped, call.quality, TileSkeletonStage<float>{call, tile, scratch, output, wrapped});
}
