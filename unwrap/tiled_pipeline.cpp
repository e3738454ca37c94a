// tiled_pipeline.cpp: the fixed sequence of a tiled call ('TileSize'): every tile's
// forest and skeleton (in parallel, a tile to a thread), the merge of all skeletons
// (on the calling thread), every tile's steps and results (in parallel). Threads work
// in buffers of one tile each, handed out before the parallel regions (host memory
// is only asked for on the host's thread), and every tile's part of the skeletons
// has a slot sized by its bounds, so no thread allocates.
#include "tiles.h"

#include "mex.h"

#include <algorithm>
#include <atomic>
#include <limits>

TileGrid makeTileGrid(int32_t rows, int32_t columns, int32_t tileRows, int32_t tileColumns, const bool periodic[2]) {
    TileGrid grid;
    grid.rows = rows;
    grid.columns = columns;
    grid.tileRows = std::min(std::max(tileRows, 1), rows);
    grid.tileColumns = std::min(std::max(tileColumns, 1), columns);
    grid.bandsDown = rows / grid.tileRows + (rows % grid.tileRows != 0);
    grid.bandsAcross = columns / grid.tileColumns + (columns % grid.tileColumns != 0);
    grid.periodic[0] = periodic[0];
    grid.periodic[1] = periodic[1];
    return grid;
}

TileBox tileBox(const TileGrid &grid, int64_t tile) {
    TileBox box;
    box.row0 = static_cast<int32_t>(tile % grid.bandsDown) * grid.tileRows;
    box.column0 = static_cast<int32_t>(tile / grid.bandsDown) * grid.tileColumns;
    box.rows = std::min(grid.tileRows, grid.rows - box.row0);
    box.columns = std::min(grid.tileColumns, grid.columns - box.column0);
    return box;
}

int64_t tileNodeBound(const TileBox &box) {
    const int64_t pixels = int64_t(box.rows) * box.columns;
    const int64_t border = (box.rows <= 2 || box.columns <= 2) ? pixels : 2 * (int64_t(box.rows) + box.columns) - 4;
    return std::min(pixels, 4 * (border + 1));
}
int64_t tileSkeletonEdgeBound(const TileBox &box) { return tileNodeBound(box) + box.rows + box.columns; }

namespace {

// Runs work(tile, scratch) for every tile, each thread of the region with buffers of
// its own, taking the next tile when it is done with one; the host's thread looks for
// an interrupt between its tiles, and no thread starts a tile after one. False when
// the loop stopped so.
template <typename Work>
bool forEachTile(int64_t tiles, int32_t workers, const TileScratch *scratches, Interruption *interruption,
                 const Work &work) {
    std::atomic<int64_t> nextTile(0);
    std::atomic<int32_t> nextWorker(0);
#pragma omp parallel
    {
        const int32_t worker = nextWorker.fetch_add(1);
        // A team larger than the buffers handed out leaves its extra threads idle.
        for (int64_t tile = worker < workers ? nextTile.fetch_add(1) : tiles;
             tile < tiles && !interrupted(interruption); tile = nextTile.fetch_add(1))
            work(tile, scratches[worker]);
    }
    return !interrupted(interruption);
}

template <typename Sample>
bool unwrapMapInTilesOf(const Sample *wrapped, Sample *out, int64_t referenceIndex, int32_t columns, int32_t rows,
                        int32_t tileRows, int32_t tileColumns, const UnwrapOptions &options) {
    TiledCall call = TiledCall();
    call.grid = makeTileGrid(rows, columns, tileRows, tileColumns, options.periodic);
    call.quality = options.quality;
    call.referenceIndex = referenceIndex;
    call.missing = mxGetNaN();
    call.initialReport = std::numeric_limits<double>::infinity();
    call.wantRegions = options.regions != nullptr;
    const int64_t tiles = tileCount(call.grid);

    // Slots for each tile's nodes and skeleton edges.
    call.tiles = static_cast<TileSummary *>(mxMalloc(tiles * sizeof(TileSummary)));
    int64_t nodeSlots = 0, edgeSlots = 0;
    for (int64_t t = 0; t < tiles; ++t) {
        const TileBox box = tileBox(call.grid, t);
        call.tiles[t].nodeStart = nodeSlots;
        call.tiles[t].edgeStart = edgeSlots;
        nodeSlots += tileNodeBound(box);
        edgeSlots += tileSkeletonEdgeBound(box);
    }
    call.nodePixels = static_cast<int32_t *>(mxMalloc(nodeSlots * sizeof(int32_t)));
    call.skeleton = static_cast<SkeletonEdge *>(mxMalloc(edgeSlots * sizeof(SkeletonEdge)));
    if (call.wantRegions) {
        call.regions.segmentStart =
            static_cast<int64_t *>(mxMalloc(int64_t(columns) * call.grid.bandsDown * sizeof(int64_t)));
        call.regions.insideAbove = static_cast<int32_t *>(mxMalloc(nodeSlots * sizeof(int32_t)));
    }

    // Buffers for one tile of the largest size (the first tile is one) per thread.
    const int32_t workers = static_cast<int32_t>(std::min<int64_t>(teamSize(), tiles));
    const TileBox largest = tileBox(call.grid, 0);
    const int64_t pixels = int64_t(largest.rows) * largest.columns;
    const int64_t edges = 2 * pixels + largest.rows + largest.columns;  // with the tile's own wrap-around edges
    double *keys = static_cast<double *>(mxMalloc(workers * pixels * sizeof(double)));
    CompactEdge *edgeBuffer = static_cast<CompactEdge *>(mxMalloc(workers * edges * sizeof(CompactEdge)));
    int32_t *links = static_cast<int32_t *>(mxMalloc(workers * pixels * sizeof(int32_t)));
    int32_t *steps = static_cast<int32_t *>(mxMalloc(workers * pixels * sizeof(int32_t)));
    uint8_t *bytes = static_cast<uint8_t *>(mxMalloc(workers * pixels * 2));
    TileScratch *scratches = static_cast<TileScratch *>(mxMalloc(workers * sizeof(TileScratch)));
    for (int32_t w = 0; w < workers; ++w) {
        TileScratch s = {keys + w * pixels, edgeBuffer + w * edges, links + w * pixels, steps + w * pixels,
                         bytes + 2 * w * pixels, bytes + (2 * w + 1) * pixels};
        scratches[w] = s;
    }

    Sample *reliabilityOut = static_cast<Sample *>(options.reliability);
    Interruption *const stop = options.interruption;
    bool done = forEachTile(tiles, workers, scratches, stop, [&](int64_t tile, TileScratch scratch) {
        tileForest(wrapped, call, tile, scratch, out, reliabilityOut);
        tileSkeleton(wrapped, call, tile, scratch);
    });
    mxFree(edgeBuffer);
    mxFree(keys);
    if (done) {
        mergeSkeletons(call);
        done = forEachTile(tiles, workers, scratches, stop, [&](int64_t tile, TileScratch scratch) {
            tileResult(wrapped, call, tile, scratch, out, options.regions);
        });
        freeSkeletonMerge(call);
    }
    mxFree(call.skeleton);
    mxFree(scratches);
    mxFree(bytes);
    mxFree(steps);
    mxFree(links);
    if (call.wantRegions) {
        mxFree(call.regions.segmentStart);
        mxFree(call.regions.insideAbove);
    }
    mxFree(call.nodePixels);
    mxFree(call.tiles);
    return done;
}

}  // namespace

bool unwrapMapInTiles(const double *wrapped, double *out, int64_t referenceIndex, int32_t columns, int32_t rows,
                      int32_t tileRows, int32_t tileColumns, const UnwrapOptions &options) {
    return unwrapMapInTilesOf(wrapped, out, referenceIndex, columns, rows, tileRows, tileColumns, options);
}
bool unwrapMapInTiles(const float *wrapped, float *out, int64_t referenceIndex, int32_t columns, int32_t rows,
                      int32_t tileRows, int32_t tileColumns, const UnwrapOptions &options) {
    return unwrapMapInTilesOf(wrapped, out, referenceIndex, columns, rows, tileRows, tileColumns, options);
}
