// skeleton_merge.cpp: Kruskal's merge over every tile's skeleton and the edges between
// tiles, in the strict order, on the calling thread. Its graph holds the nodes alone
// (a few pixels of every tile's perimeter), so it is small beside the map. A chain
// joining two groups keeps all its edges in the forest; a chain skipped loses its
// heaviest edge only, which the tile's second pass leaves out. The steps it settles
// are relative to each group's root; every node's final steps are then counted from
// its region's first pixel, the node of the region with the lowest global index (a
// region's first pixel is the first of its tile's component, which is kept as a node
// whenever the component reaches another tile or holds the reference).
#include "tiles.h"

#include "mex.h"

#include <algorithm>
#include <cstring>

namespace {

// The global number of the node at a pixel, or -1 when the pixel is no node.
int32_t nodeAtPixel(const TiledCall &call, int64_t pixel) {
    const int32_t row = static_cast<int32_t>(pixel % call.grid.rows);
    const int32_t column = static_cast<int32_t>(pixel / call.grid.rows);
    const int64_t tile = tileOfPixel(call.grid, row, column);
    const TileBox box = tileBox(call.grid, tile);
    const int32_t local = (row - box.row0) + (column - box.column0) * box.rows;
    const TileSummary &summary = call.tiles[tile];
    const int32_t *begin = call.nodePixels + summary.nodeStart, *end = begin + summary.nodeCount;
    const int32_t *found = std::lower_bound(begin, end, local);
    if (found == end || *found != local) return -1;
    return static_cast<int32_t>(summary.nodeStart + (found - begin));
}

bool skeletonBefore(const SkeletonEdge &a, const SkeletonEdge &b) { return edgeBefore(a.key, a.rank, b.key, b.rank); }

// The root of a node's group and the node's steps less the root's, with path halving.
inline int32_t findGroup(int32_t *parents, int32_t *offsets, int32_t x, int32_t *steps) {
    int32_t sum = 0;
    while (parents[x] >= 0) {
        const int32_t up = parents[x];
        if (parents[up] >= 0) {
            offsets[x] += offsets[up];
            parents[x] = parents[up];
        }
        sum += offsets[x];
        x = parents[x];
    }
    *steps = sum;
    return x;
}

// The far pixel of an edge between tiles is a terminal of its own tile: a node.
void joinCrossEdges(TiledCall &call) {
    for (SkeletonEdge *e = call.skeleton; e < call.skeleton + call.skeletonCount; ++e)
        if (!e->chain) e->to = nodeAtPixel(call, secondPixel(call.grid, e->rank));
}

// Region numbers of every node: a region's first pixel is numbered by the first pixels
// before it, segment by segment; the others take their first pixel's number.
void numberNodeRegions(TiledCall &call, const int32_t *roots, const int32_t *firsts) {
    const TileGrid &grid = call.grid;
    int64_t *segments = call.regions.segmentStart;
    const int64_t tiles = tileCount(grid);
    for (int64_t t = 0; t < tiles; ++t) {
        const TileBox box = tileBox(grid, t);
        const TileSummary &s = call.tiles[t];
        int64_t segment = -1;
        int32_t firstsAbove = 0;
        for (int64_t n = s.nodeStart; n < s.nodeStart + s.nodeCount; ++n) {
            const int64_t column = box.column0 + call.nodePixels[n] / box.rows;
            const int64_t here = column * grid.bandsDown + t % grid.bandsDown;
            if (here != segment) {
                segment = here;
                firstsAbove = 0;
            }
            if (!call.nodeFirst[n]) continue;
            call.nodeRegions[n] = static_cast<double>(call.regions.insideAbove[n] + firstsAbove + 1);
            ++firstsAbove;
            ++segments[segment];
        }
    }
    const int64_t segmentCount = int64_t(grid.columns) * grid.bandsDown;
    int64_t before = 0;
    for (int64_t k = 0; k < segmentCount; ++k) {
        const int64_t here = segments[k];
        segments[k] = before;
        before += here;
    }
    for (int64_t t = 0; t < tiles; ++t) {
        const TileBox box = tileBox(grid, t);
        const TileSummary &s = call.tiles[t];
        for (int64_t n = s.nodeStart; n < s.nodeStart + s.nodeCount; ++n) {
            if (!call.nodeFirst[n]) continue;
            const int64_t column = box.column0 + call.nodePixels[n] / box.rows;
            call.nodeRegions[n] += static_cast<double>(segments[column * grid.bandsDown + t % grid.bandsDown]);
        }
    }
    for (int64_t n = 0; n < call.nodeCount; ++n) call.nodeRegions[n] = call.nodeRegions[firsts[roots[n]]];
}

}  // namespace

bool mergeSkeletons(TiledCall &call, Interruption *interruption) {
    joinCrossEdges(call);
    const int64_t nodes = call.nodeCount, edges = call.skeletonCount;
    std::sort(call.skeleton, call.skeleton + edges, skeletonBefore);
    if (interrupted(interruption)) return false;

    int32_t *parents = static_cast<int32_t *>(mxMalloc((nodes + 1) * sizeof(int32_t)));
    int32_t *offsets = static_cast<int32_t *>(mxMalloc((nodes + 1) * sizeof(int32_t)));
    std::fill(parents, parents + nodes, -1);
    std::fill(offsets, offsets + nodes, 0);
    for (SkeletonEdge *e = call.skeleton; e < call.skeleton + edges; ++e) {
        if (((e - call.skeleton) & ((1 << 20) - 1)) == 0 && interrupted(interruption)) {
            mxFree(parents);
            mxFree(offsets);
            return false;
        }
        int32_t fromSteps, toSteps;
        int32_t a = findGroup(parents, offsets, e->from, &fromSteps);
        int32_t b = findGroup(parents, offsets, e->to, &toSteps);
        if (a == b) {
            if (e->chain) e->chain = 2;  // skipped: its heaviest edge leaves the forest
            continue;
        }
        // steps(to) = steps(from) + e->steps; the smaller group goes under the larger.
        if (parents[a] <= parents[b]) {
            parents[a] += parents[b];
            parents[b] = a;
            offsets[b] = e->steps - toSteps + fromSteps;
        } else {
            parents[b] += parents[a];
            parents[a] = b;
            offsets[a] = -e->steps - fromSteps + toSteps;
        }
    }

    // Steps from each group's root, then from its region's first pixel.
    call.nodeSteps = static_cast<int32_t *>(mxMalloc((nodes + 1) * sizeof(int32_t)));
    int32_t *roots = static_cast<int32_t *>(mxMalloc((nodes + 1) * sizeof(int32_t)));
    for (int64_t n = 0; n < nodes; ++n) roots[n] = findGroup(parents, offsets, static_cast<int32_t>(n), &call.nodeSteps[n]);
    mxFree(parents);
    int32_t *firsts = offsets;  // per root: its region's first node
    std::fill(firsts, firsts + nodes, -1);
    const int64_t tiles = tileCount(call.grid);
    int64_t *firstIndex = static_cast<int64_t *>(mxMalloc((nodes + 1) * sizeof(int64_t)));  // per root
    for (int64_t t = 0; t < tiles; ++t) {
        const TileBox box = tileBox(call.grid, t);
        const TileSummary &s = call.tiles[t];
        for (int64_t n = s.nodeStart; n < s.nodeStart + s.nodeCount; ++n) {
            const int64_t g = globalIndex(call.grid, box, call.nodePixels[n]);
            const int32_t r = roots[n];
            if (firsts[r] < 0 || g < firstIndex[r]) {
                firsts[r] = static_cast<int32_t>(n);
                firstIndex[r] = g;
            }
        }
    }
    mxFree(firstIndex);
    call.nodeFirst = static_cast<uint8_t *>(mxMalloc(nodes + 1));
    for (int64_t n = 0; n < nodes; ++n) call.nodeFirst[n] = firsts[roots[n]] == n;
    // Read before any is changed: a first node's own steps become 0 too.
    for (int64_t n = 0; n < nodes; ++n)
        if (!call.nodeFirst[n]) call.nodeSteps[n] -= call.nodeSteps[firsts[roots[n]]];
    for (int64_t n = 0; n < nodes; ++n)
        if (call.nodeFirst[n]) call.nodeSteps[n] = 0;
    call.nodeRegions = nullptr;
    if (call.wantRegions) {
        call.nodeRegions = static_cast<double *>(mxMalloc((nodes + 1) * sizeof(double)));
        numberNodeRegions(call, roots, firsts);
    }
    mxFree(roots);
    mxFree(firsts);

    // The heaviest edges of skipped chains, by tile.
    call.removedStart = static_cast<int64_t *>(mxCalloc(tiles + 1, sizeof(int64_t)));
    int64_t removed = 0;
    for (const SkeletonEdge *e = call.skeleton; e < call.skeleton + edges; ++e) {
        if (e->chain != 2) continue;
        const int64_t first = rankFirst(e->rank);
        ++call.removedStart[tileOfPixel(call.grid, static_cast<int32_t>(first % call.grid.rows),
                                        static_cast<int32_t>(first / call.grid.rows)) + 1];
        ++removed;
    }
    for (int64_t t = 0; t < tiles; ++t) call.removedStart[t + 1] += call.removedStart[t];
    call.removedRanks = static_cast<uint64_t *>(mxMalloc((removed + 1) * sizeof(uint64_t)));
    int64_t *fill = static_cast<int64_t *>(mxMalloc((tiles + 1) * sizeof(int64_t)));
    std::memcpy(fill, call.removedStart, (tiles + 1) * sizeof(int64_t));
    for (const SkeletonEdge *e = call.skeleton; e < call.skeleton + edges; ++e) {
        if (e->chain != 2) continue;
        const int64_t first = rankFirst(e->rank);
        const int64_t t = tileOfPixel(call.grid, static_cast<int32_t>(first % call.grid.rows),
                                      static_cast<int32_t>(first / call.grid.rows));
        call.removedRanks[fill[t]++] = e->rank;
    }
    mxFree(fill);

    call.referenceSteps = 0;
    if (call.referenceIndex >= 0) {
        const int32_t n = nodeAtPixel(call, call.referenceIndex);
        if (n >= 0) call.referenceSteps = call.nodeSteps[n];  // a missing reference is no node
    }
    return true;
}

void freeSkeletonMerge(TiledCall &call) {
    mxFree(call.nodeSteps);
    mxFree(call.nodeFirst);
    if (call.nodeRegions != nullptr) mxFree(call.nodeRegions);
    mxFree(call.removedStart);
    mxFree(call.removedRanks);
}
