// bench_phasemend: times whole phasemend calls through the standalone host on synthetic
// maps (smooth surface + noise + NaN holes), with the working memory each call held at
// its peak beyond its result, each of the command's stages on its own (and ord+mrg: the
// ordering and the merge overlapped, as the call runs them), and, in the same run,
// std::sort on the plain stages' edge records of the same map (32 bytes each, the
// baseline these figures have always been given against). With --octave it also
// times the same maps through GNU Octave (build/octave/phasemend.mex, octave-cli on
// the path). Sizes the machine lacks the memory for are skipped with a line saying so.
// Then the same map in single beside double, in turns, and at 2048^2 each option
// (Quality, Periodic, the regions and reliability outputs) beside the plain call. From
// 2048^2 on, the tiled call (TileSize 1024) beside the plain one, and at 4096^2 how
// both it and kernsmooth_c speed up from 1 thread to 2; last, one tiled call on a map
// of 8192^2 (--tiled SIDE; 0 leaves it out) for its working memory. Prints medians;
// never run as a test. The thread count is OpenMP's default (set OMP_NUM_THREADS to
// change it).
// Usage: bench_phasemend [runs] [largest side] [--from smallest side] [--octave]
//        [--tiled side] [--extension FILE]   (another build of phasemend, for
//        comparisons in one run)
#include "bench_support.h"
#include "bench_unwrap.h"
#include "minihost.h"
#include "surfaces.h"
#include "unwrap.h"

#include "../portable/portability.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// One run of the command's stages on buffers that are already touched, each timed on
// its own.
void timeStages(const std::vector<double> &map, int side, StageBuffers &b, std::vector<double> *times) {
    const GridShape shape = {side, side, 1};
    Clock::time_point t = Clock::now();
    initPixels(b.reliability.data(), side, side);
    times[kInit].push_back(seconds(t));
    t = Clock::now();
    computeReliability(map.data(), b.reliability.data(), side, side);
    times[kReliability].push_back(seconds(t));
    t = Clock::now();
    int32_t count = countEdges(map.data(), b.offsets.data(), side, side);
    fillEdges(map.data(), b.reliability.data(), b.edges.data(), b.offsets.data(), side, side);
    times[kEdges].push_back(seconds(t));
    timeSharedStages(map.data(), b, count, shape, times, [&] {
        fillEdges(map.data(), b.reliability.data(), b.edges.data(), b.offsets.data(), side, side);
    });
}

// The edge records of the plain stages (32 bytes each) for the map: what std::sort is
// timed on, as it always has been, so that figures stay comparable.
std::vector<PixelEdge> plainEdges(const std::vector<double> &map, int side, std::vector<PhasePixel> *grid) {
    grid->assign(static_cast<size_t>(side) * side, PhasePixel());
    initPixels(map.data(), grid->data(), side, side);
    computeReliability(grid->data(), side, side);
    std::vector<int32_t> offsets(2 * static_cast<size_t>(side));
    std::vector<PixelEdge> built(static_cast<size_t>(countEdges(grid->data(), offsets.data(), side, side)));
    fillEdges(grid->data(), built.data(), offsets.data(), side, side);
    return built;
}

// The tiled call ('TileSize' tile) beside the plain call on the same input, in turns
// run after run: medians of each and of the run-by-run ratio, and each one's working
// memory beyond its input and its result, in bytes a pixel.
void printTiledBesidePlain(const HostExtension &ext, const mxArray *input, int tile, int runs) {
    mxArray *name = hostCreateString("TileSize"), *sides = hostCreateScalar(tile);
    const size_t pixels = mxGetNumberOfElements(input);
    std::vector<double> plainTimes, tiledTimes, ratios;
    size_t plainPeak = 0, tiledPeak = 0;
    for (int run = 0; run < runs; ++run) {
        for (int k = 0; k < 2; ++k) {
            const bool tiled = (run + k) % 2 == 1;  // each run starts with the other one
            Clock::time_point start = Clock::now();
            HostCallResult r = tiled ? hostCall(ext.entry, 1, {input, name, sides}) : hostCall(ext.entry, 1, {input});
            (tiled ? tiledTimes : plainTimes).push_back(seconds(start));
            size_t &peak = tiled ? tiledPeak : plainPeak;
            peak = std::max(peak, r.peakBytes);
            hostReleaseOutputs(&r);
        }
        ratios.push_back(tiledTimes.back() / plainTimes.back());
    }
    const double output = 8.0 * pixels;
    std::printf("       TileSize %d: call %.3f s, %.3f of plain's (%.3f s) in turns; work %.2f B a pixel (plain %.1f)\n",
                tile, median(tiledTimes), median(ratios), median(plainTimes), (tiledPeak - output) / pixels,
                (plainPeak - output) / pixels);
    hostDestroyArray(name);
    hostDestroyArray(sides);
}

// How the tiled call and kernsmooth_c (a 2048^2 complex map, 21x21 kernel: a loop that
// spreads over threads as well as anything can) speed up from 1 thread to 2, in turns
// in the same run: the tiled call's speed-up as a share of kernsmooth_c's.
void printTiledScaling(const HostExtension &ext, const mxArray *input, int tile, int runs) {
    HostExtension smooth = hostLoadExtension(EXTENSION_DIR "/kernsmooth_c.mexa64");
    if (!smooth.entry) {
        std::printf("       thread scaling skipped: %s\n", smooth.error.c_str());
        return;
    }
    const int side = 2048;
    mxArray *field = hostCreateDouble(side, side, true), *kernel = hostCreateDouble(21, 21, false);
    for (size_t i = 0; i < size_t(side) * side; ++i)
        hostSetParts(field, i, i % 20 == 7 ? std::nan("") : std::cos(0.001 * i), std::sin(0.002 * i));
    for (int i = 0; i < 441; ++i) mxGetPr(kernel)[i] = 1.0 + i % 3;
    mxArray *name = hostCreateString("TileSize"), *sides = hostCreateScalar(tile);
    const int saved = omp_get_max_threads();
    std::vector<double> times[2][2], shares;  // [tiled, smooth][1 thread, 2 threads]
    for (int run = 0; run < runs; ++run) {
        for (int threads = 1; threads <= 2; ++threads) {
            omp_set_num_threads(threads);
            Clock::time_point start = Clock::now();
            HostCallResult r = hostCall(ext.entry, 1, {input, name, sides});
            times[0][threads - 1].push_back(seconds(start));
            hostReleaseOutputs(&r);
            start = Clock::now();
            r = hostCall(smooth.entry, 1, {field, kernel});
            times[1][threads - 1].push_back(seconds(start));
            hostReleaseOutputs(&r);
        }
        shares.push_back((times[0][0].back() / times[0][1].back()) / (times[1][0].back() / times[1][1].back()));
    }
    omp_set_num_threads(saved);
    std::printf("       TileSize %d from 1 to 2 threads: %.3f s -> %.3f s (x%.2f); kernsmooth_c %.3f s -> %.3f s "
                "(x%.2f); share %.2f\n",
                tile, median(times[0][0]), median(times[0][1]), median(times[0][0]) / median(times[0][1]),
                median(times[1][0]), median(times[1][1]), median(times[1][0]) / median(times[1][1]), median(shares));
    for (mxArray *a : {field, kernel, name, sides}) hostDestroyArray(a);
    hostUnloadExtension(&smooth);
}

// One tiled call on a map of side^2 that the plain call would need far more memory
// for: its time and working memory beyond its input and result.
void printTiledMemory(const HostExtension &ext, int side, int tile) {
    const size_t pixels = static_cast<size_t>(side) * side;
    const size_t free = availableBytes();
    if (free && free < pixels * 24) {
        std::printf("%6d tiled memory skipped: needs %.1f GB, %.1f GB available\n", side, pixels * 24e-9, free * 1e-9);
        return;
    }
    std::vector<double> map = gaussianSurface(side, side, 8, 60.0, 3);
    addNoise(map, 0.6, 4);
    for (double &v : map) v = wrapToPi(v);
    mxArray *input = hostCreateMatrix(side, side, map);
    std::vector<double>().swap(map);
    mxArray *name = hostCreateString("TileSize"), *sides = hostCreateScalar(tile);
    Clock::time_point start = Clock::now();
    HostCallResult r = hostCall(ext.entry, 1, {input, name, sides});
    const double time = seconds(start);
    std::printf("%6d TileSize %d: call %.3f s, work %.2f B a pixel beyond input and result\n", side, tile, time,
                (static_cast<double>(r.peakBytes) - 8.0 * pixels) / pixels);
    hostReleaseOutputs(&r);
    for (mxArray *a : {input, name, sides}) hostDestroyArray(a);
}

}  // namespace

int main(int argc, char **argv) {
    int runs = 5, largest = 4096, smallest = 512, tiledSide = 8192;
    bool octave = false;
    std::string extension = EXTENSION_DIR "/phasemend.mexa64";
    int positional = 0;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--octave") == 0) octave = true;
        else if (std::strcmp(argv[k], "--from") == 0 && k + 1 < argc) smallest = std::atoi(argv[++k]);
        else if (std::strcmp(argv[k], "--extension") == 0 && k + 1 < argc) extension = argv[++k];
        else if (std::strcmp(argv[k], "--tiled") == 0 && k + 1 < argc) tiledSide = std::atoi(argv[++k]);
        else if (positional++ == 0) runs = runCount(argv[k]);
        else largest = std::atoi(argv[k]);
    }
    HostExtension ext = hostLoadExtension(extension);
    if (!ext.entry) {
        std::fprintf(stderr, "%s\n", ext.error.c_str());
        return 2;
    }
    std::printf("threads: %d\n", omp_get_max_threads());
    std::printf("%6s %10s %9s %11s %12s %10s %8s", "side", "edges", "call s", "ns/pixel",
                "work B/pixel", "sort s", "ratio");
    for (const char *name : kStageNames) std::printf(" %8s", name);
    if (octave) std::printf(" %9s %8s", "octave s", "ratio");
    std::printf("\n");
    for (int side = smallest; side <= largest; side *= 2) {
        size_t pixels = static_cast<size_t>(side) * side;
        // The call needs the map, the input and the result (8 bytes a pixel each) and
        // its working memory; the stage timings and the std::sort baseline need about
        // 150 bytes a pixel more and are left out when the machine lacks them.
        size_t free = availableBytes();
        if (free && free < pixels * (24 + 48)) {
            std::printf("%6d skipped: needs %.1f GB, %.1f GB available\n", side, pixels * 72e-9, free * 1e-9);
            continue;
        }
        bool detailed = !free || free > pixels * (24 + 48 + 160);
        std::vector<double> map = gaussianSurface(side, side, 8, 60.0, 3);
        addNoise(map, 0.6, 4);
        for (double &v : map) v = wrapToPi(v);
        punchHoles(map, side, side, 20, side / 40, 5);
        mxArray *input = hostCreateMatrix(side, side, map);

        std::vector<double> callTimes, sortTimes, stageTimes[kStages];
        size_t peak = 0;
        size_t edges = 0;
        std::vector<PhasePixel> grid;
        std::vector<PixelEdge> built, records;
        StageBuffers *buffers = nullptr;
        if (detailed) {
            built = plainEdges(map, side, &grid);
            std::vector<PhasePixel>().swap(grid);
            edges = built.size();
            records.resize(built.size());
            buffers = new StageBuffers(pixels, 2 * static_cast<size_t>(side), built.size());
        } else {
            std::vector<double>().swap(map);
        }
        // The calls back to back, as a session makes them; then the sort and the stages.
        timeCalls(ext, input, runs, &callTimes, &peak);
        for (int run = 0; detailed && run < runs; ++run) {
            std::copy(built.begin(), built.end(), records.begin());
            sortTimes.push_back(timeStdSort(records));
            timeStages(map, side, *buffers, stageTimes);
        }
        delete buffers;
        // Working memory: what the call held at its peak beyond its result.
        double working = (static_cast<double>(peak) - 8.0 * pixels) / pixels;
        double call = median(callTimes);
        std::printf("%6d %10zu %9.3f %11.1f %12.1f", side, edges, call, call * 1e9 / pixels, working);
        double inOctave = std::nan("");
        if (octave && detailed) {
            const std::string shape = "[" + std::to_string(side) + ", " + std::to_string(side) + "]";
            inOctave = timeInOctave(map, shape, EXTENSION_DIR "/octave", "phasemend", runs);
        }
        printRowTail(detailed, callTimes, sortTimes, stageTimes, kStages, inOctave);
        printSingleBesideDouble(ext, input, runs, 6);
        if (side >= 2048) printTiledBesidePlain(ext, input, 1024, runs);
        if (side == 4096) printTiledScaling(ext, input, 1024, runs);
        if (side == 2048 || (side == largest && largest < 2048)) {
            // A magnitude for the quality map: smooth, positive, with noise.
            std::vector<double> magnitude = gaussianSurface(side, side, 5, 1.0, 11);
            addNoise(magnitude, 0.2, 12);
            for (double &m : magnitude) m = std::fabs(m) + 0.05;
            printOptionsBesideDefault(ext, input, magnitude, runs, 6);
        }
        hostDestroyArray(input);
    }
    if (tiledSide > 0) printTiledMemory(ext, tiledSide, 1024);
    hostUnloadExtension(&ext);
    return 0;
}
