// tiled_pipeline.cpp: the fixed sequence of a tiled call ('TileSize'): every tile's
// forest and skeleton (in parallel, a tile to a thread, in rounds of tiles), the
// merge of all skeletons (on the calling thread), every tile's steps and results (in
// parallel). Threads work in buffers of one tile each, and a round's tiles leave
// their skeletons in buffers sized by the bounds, all handed out before the parallel
// regions (host memory is only asked for on the host's thread); between rounds the
// host's thread appends them to arrays that grow with what the tiles leave, looks
// for an interrupt and reports progress when asked to.
#include "tiles.h"

#include "mex.h"

#include <algorithm>
#include <atomic>
#include <chrono>
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

// Runs work(tile, scratch) for tiles [first, last), each thread of the region with
// buffers of its own, taking the next tile when it is done with one; the host's
// thread looks for an interrupt between its tiles, and no thread starts a tile after
// one. False when the loop stopped so.
template <typename Work>
bool forEachTile(int64_t first, int64_t last, int32_t workers, const TileScratch *scratches,
                 Interruption *interruption, const Work &work) {
    std::atomic<int64_t> nextTile(first);
    std::atomic<int32_t> nextWorker(0);
#pragma omp parallel
    {
        const int32_t worker = nextWorker.fetch_add(1);
        // A team larger than the buffers handed out leaves its extra threads idle.
        for (int64_t tile = worker < workers ? nextTile.fetch_add(1) : last;
             tile < last && !interrupted(interruption); tile = nextTile.fetch_add(1))
            work(tile, scratches[worker]);
    }
    return !interrupted(interruption);
}

// Grows a host array to hold at least `needed` records, by half again at a time.
template <typename Record>
void reserveRecords(Record **array, int64_t *capacity, int64_t needed) {
    if (needed <= *capacity) return;
    int64_t grown = *capacity + *capacity / 2;
    if (grown < needed) grown = needed;
    *array = static_cast<Record *>(mxRealloc(*array, static_cast<size_t>(grown) * sizeof(Record)));
    *capacity = grown;
}

// The shared arrays a round of tiles is appended to, and their room.
struct GrowingArrays {
    int64_t nodeCapacity, edgeCapacity;
};

// Appends a tile's pass-one output to the shared arrays, numbering its nodes globally.
void appendTile(TiledCall &call, int64_t tile, const TileOutput &output, GrowingArrays *room) {
    TileSummary &summary = call.tiles[tile];
    const int64_t nodes = call.nodeCount, edges = call.skeletonCount;
    // insideAbove grows in step with nodePixels: the same capacity, grown the same way.
    int64_t nodeCapacity = room->nodeCapacity;
    reserveRecords(&call.nodePixels, &room->nodeCapacity, nodes + summary.nodeCount);
    if (call.wantRegions) reserveRecords(&call.regions.insideAbove, &nodeCapacity, nodes + summary.nodeCount);
    reserveRecords(&call.skeleton, &room->edgeCapacity, edges + summary.edgeCount);
    std::copy(output.nodePixels, output.nodePixels + summary.nodeCount, call.nodePixels + nodes);
    if (call.wantRegions)
        std::copy(output.insideAbove, output.insideAbove + summary.nodeCount, call.regions.insideAbove + nodes);
    for (int32_t k = 0; k < summary.edgeCount; ++k) {
        SkeletonEdge e = output.edges[k];
        e.from += static_cast<int32_t>(nodes);
        if (e.chain) e.to += static_cast<int32_t>(nodes);
        call.skeleton[edges + k] = e;
    }
    summary.nodeStart = nodes;
    summary.edgeStart = edges;
    call.nodeCount += summary.nodeCount;
    call.skeletonCount += summary.edgeCount;
}

// About one line a 5% of the work, through the host's printing (on its thread). A
// tile's second pass takes about a fifth of its first: the work is counted so.
struct Progress {
    bool wanted;
    int64_t tiles;
    int32_t lastPercent;
    std::chrono::steady_clock::time_point start;
};

void reportProgress(Progress *progress, int64_t firstPassDone, int64_t secondPassDone) {
    if (!progress->wanted) return;
    const int64_t work = 5 * progress->tiles, done = 4 * firstPassDone + secondPassDone;
    const int32_t percent = static_cast<int32_t>(100 * done / work);
    if (percent < progress->lastPercent + 5 && done < work) return;
    progress->lastPercent = percent;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - progress->start).count();
    if (secondPassDone == 0)
        mexPrintf("phasemend: %d%% (tile %lld of %lld, %.0f s)\n", percent, static_cast<long long>(firstPassDone),
                  static_cast<long long>(progress->tiles), seconds);
    else
        mexPrintf("phasemend: %d%% (results of tile %lld of %lld, %.0f s)\n", percent,
                  static_cast<long long>(secondPassDone), static_cast<long long>(progress->tiles), seconds);
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
    Interruption *const stop = options.interruption;
    Progress progress = {options.progress, tiles, -5, std::chrono::steady_clock::now()};

    call.tiles = static_cast<TileSummary *>(mxMalloc(tiles * sizeof(TileSummary)));
    GrowingArrays room = {0, 0};
    call.nodePixels = nullptr;
    call.skeleton = nullptr;
    if (call.wantRegions) {
        call.regions.segmentStart =
            static_cast<int64_t *>(mxMalloc(int64_t(columns) * call.grid.bandsDown * sizeof(int64_t)));
        call.regions.insideAbove = nullptr;
    }

    // Buffers for one tile of the largest size (the first tile is one) per thread, and
    // for the output of each tile of a round: two rounds' worth of tiles a thread, so
    // that a thread that finishes early finds another tile.
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
    const int64_t round = std::min<int64_t>(2 * int64_t(workers), tiles);
    const int64_t nodeBound = tileNodeBound(largest), edgeBound = tileSkeletonEdgeBound(largest);
    int32_t *roundNodes = static_cast<int32_t *>(mxMalloc(round * nodeBound * 2 * sizeof(int32_t)));
    SkeletonEdge *roundEdges = static_cast<SkeletonEdge *>(mxMalloc(round * edgeBound * sizeof(SkeletonEdge)));
    auto roundOutput = [&](int64_t slot) {
        const TileOutput output = {roundNodes + 2 * slot * nodeBound, roundNodes + (2 * slot + 1) * nodeBound,
                                   roundEdges + slot * edgeBound};
        return output;
    };

    Sample *reliabilityOut = static_cast<Sample *>(options.reliability);
    bool done = true;
    for (int64_t first = 0; done && first < tiles; first += round) {
        const int64_t last = std::min(tiles, first + round);
        done = forEachTile(first, last, workers, scratches, stop, [&](int64_t tile, TileScratch scratch) {
            tileForest(wrapped, call, tile, scratch, out, reliabilityOut);
            tileSkeleton(wrapped, call, tile, scratch, roundOutput(tile - first));
        });
        for (int64_t tile = first; done && tile < last; ++tile) appendTile(call, tile, roundOutput(tile - first), &room);
        if (done) reportProgress(&progress, last, 0);
    }
    mxFree(roundEdges);
    mxFree(roundNodes);
    mxFree(edgeBuffer);
    mxFree(keys);
    if (done) done = mergeSkeletons(call, stop);
    if (call.skeleton != nullptr) mxFree(call.skeleton);
    if (done) {
        for (int64_t first = 0; done && first < tiles; first += round) {
            const int64_t last = std::min(tiles, first + round);
            done = forEachTile(first, last, workers, scratches, stop, [&](int64_t tile, TileScratch scratch) {
                tileResult(wrapped, call, tile, scratch, out, options.regions);
            });
            if (done) reportProgress(&progress, tiles, last);
        }
        freeSkeletonMerge(call);
    }
    mxFree(scratches);
    mxFree(bytes);
    mxFree(steps);
    mxFree(links);
    if (call.wantRegions) {
        mxFree(call.regions.segmentStart);
        if (call.regions.insideAbove != nullptr) mxFree(call.regions.insideAbove);
    }
    if (call.nodePixels != nullptr) mxFree(call.nodePixels);
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
