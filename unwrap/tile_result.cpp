// tile_result.cpp: a tile's second pass. Its forest comes back from its unwrapped
// samples, less the edges the merge of skeletons left out; every piece of what
// remains holds a node, whose steps the merge settled, so the steps spread from the
// nodes along the forest's edges (the second pixel of an edge has the first's steps
// less the edge's wrap step). A component without a node is a region inside the tile:
// its first pixel has 0 steps. Then every pixel's result, as the plain call writes it
// (the reference's steps taken off), and its region's number when asked for.
#include "tiles.h"

namespace {

const uint8_t kDirections[4] = {kDown, kRight, kUp, kLeft};

// The steps of q, reached from p in a forest direction.
template <typename Sample>
inline int32_t stepsAcross(const Sample *wrapped, int64_t gp, int64_t gq, int32_t steps, uint8_t direction) {
    if (direction == kDown || direction == kRight)
        return steps - wrapStep(static_cast<double>(wrapped[gp]) - static_cast<double>(wrapped[gq]));
    return steps + wrapStep(static_cast<double>(wrapped[gq]) - static_cast<double>(wrapped[gp]));
}

// Spreads the steps and the region number from one pixel over its piece of the forest.
template <typename Sample>
void spread(const Sample *wrapped, const TiledCall &call, const TileBox &box, TileScratch scratch, int32_t start,
            int32_t steps, double region, double *regions) {
    int32_t *stack = scratch.links;
    int32_t depth = 0;
    scratch.steps[start] = steps;
    scratch.flags[start] |= kVisited;
    stack[depth++] = start;
    while (depth > 0) {
        const int32_t p = stack[--depth];
        const int64_t gp = globalIndex(call.grid, box, p);
        if (regions != nullptr) regions[gp] = region;
        for (uint8_t direction : kDirections) {
            if (!(scratch.forest[p] & direction)) continue;
            const int32_t q = tileNeighbour(box, p, direction);
            if (scratch.flags[q] & kVisited) continue;
            scratch.steps[q] = stepsAcross(wrapped, gp, globalIndex(call.grid, box, q), scratch.steps[p], direction);
            scratch.flags[q] |= kVisited;
            stack[depth++] = q;
        }
    }
}

template <typename Sample, typename Valid>
void tileResultOf(const Sample *wrapped, Valid valid, const TiledCall &call, int64_t tile, TileScratch scratch,
                  Sample *out, double *regions) {
    const TileGrid &grid = call.grid;
    const TileBox box = tileBox(grid, tile);
    const int32_t m = box.rows, n = box.columns;
    for (int32_t j = 0; j < n; ++j) {
        const int64_t start = int64_t(box.column0 + j) * grid.rows + box.row0;
        for (int32_t i = 0; i < m; ++i) {
            const int32_t l = i + j * m;
            const bool usable = valid(start + i);
            scratch.flags[l] = usable ? kValid : 0;
            scratch.forest[l] = usable ? static_cast<uint8_t>(out[start + i]) : 0;
        }
    }
    for (int64_t k = call.removedStart[tile]; k < call.removedStart[tile + 1]; ++k) {
        const uint64_t rank = call.removedRanks[k];
        const int64_t first = rankFirst(rank);
        const int32_t l = static_cast<int32_t>(first % grid.rows) - box.row0 +
                          (static_cast<int32_t>(first / grid.rows) - box.column0) * m;
        const NeighbourKind kind = rankKind(rank);
        const uint8_t direction = (kind == kNextRow || kind == kWrapRow) ? kDown : kRight;
        scratch.forest[l] &= static_cast<uint8_t>(~direction);
        scratch.forest[tileNeighbour(box, l, direction)] &= static_cast<uint8_t>(~oppositeDirection(direction));
    }
    const TileSummary &summary = call.tiles[tile];
    const int32_t *nodePixels = call.nodePixels + summary.nodeStart;
    for (int32_t k = 0; k < summary.nodeCount; ++k) {
        if (scratch.flags[nodePixels[k]] & kVisited) continue;
        const int64_t node = summary.nodeStart + k;
        spread(wrapped, call, box, scratch, nodePixels[k], call.nodeSteps[node],
               regions != nullptr ? call.nodeRegions[node] : 0.0, regions);
    }

    // In memory order: regions inside the tile start where their first pixel is met
    // (counted among the segment's first pixels); every pixel's result is written.
    const int64_t band = tile % grid.bandsDown;
    int32_t nextNode = 0;
    for (int32_t j = 0; j < n; ++j) {
        const int64_t start = int64_t(box.column0 + j) * grid.rows + box.row0;
        const int64_t segment = int64_t(box.column0 + j) * grid.bandsDown + band;
        int64_t firstsSeen = 0;
        for (int32_t i = 0; i < m; ++i) {
            const int32_t l = i + j * m;
            if (nextNode < summary.nodeCount && nodePixels[nextNode] == l) {
                if (call.nodeFirst[summary.nodeStart + nextNode]) ++firstsSeen;
                ++nextNode;
            }
            if (!(scratch.flags[l] & kValid)) {
                out[start + i] = static_cast<Sample>(call.missing);
                if (regions != nullptr) regions[start + i] = 0.0;
                continue;
            }
            if (!(scratch.flags[l] & kVisited)) {
                ++firstsSeen;
                const double region =
                    regions != nullptr ? static_cast<double>(call.regions.segmentStart[segment] + firstsSeen) : 0.0;
                spread(wrapped, call, box, scratch, l, 0, region, regions);
            }
            out[start + i] = static_cast<Sample>(static_cast<double>(scratch.steps[l] - call.referenceSteps) * kTwoPi +
                                                 static_cast<double>(wrapped[start + i]));
        }
    }
}

template <typename Sample>
struct TileResultStage {
    const TiledCall &call;
    int64_t tile;
    TileScratch scratch;
    const Sample *wrapped;
    Sample *out;
    double *regions;
    template <typename Valid>
    void operator()(Valid valid) const { tileResultOf(wrapped, valid, call, tile, scratch, out, regions); }
};

}  // namespace

void tileResult(const double *wrapped, const TiledCall &call, int64_t tile, TileScratch scratch, double *out,
                double *regions) {
    withValidity(wrapped, call.quality, TileResultStage<double>{call, tile, scratch, wrapped, out, regions});
}
void tileResult(const float *wrapped, const TiledCall &call, int64_t tile, TileScratch scratch, float *out,
                double *regions) {
    withValidity(wrapped, call.quality, TileResultStage<float>{call, tile, scratch, wrapped, out, regions});
}
