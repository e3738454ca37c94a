// bench_phasemend: times whole phasemend calls through the standalone host on synthetic
// maps (smooth surface + noise + NaN holes), with the working memory each call held at
// its peak beyond its result, each of the command's stages on its own (and ord+mrg: the
// ordering and the merge overlapped, as the call runs them), and, in the same run,
// std::sort on the plain stages' edge records of the same map (32 bytes each, the
// baseline these figures have always been given against). With --octave it also
// times the same maps through GNU Octave (build/octave/phasemend.mex, octave-cli on
// the path). Sizes the machine lacks the memory for are skipped with a line saying so.
// Then the same map in single beside double, in turns, and at 2048^2 each option
// (Quality, Periodic, the regions and reliability outputs) beside the plain call. Prints medians; never run as a
// test. The thread count is OpenMP's default (set
// OMP_NUM_THREADS to change it).
// Usage: bench_phasemend [runs] [largest side] [--from smallest side] [--octave]
//        [--extension FILE]   (another build of phasemend, for comparisons in one run)
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

}  // namespace

int main(int argc, char **argv) {
    int runs = 5, largest = 4096, smallest = 512;
    bool octave = false;
    std::string extension = EXTENSION_DIR "/phasemend.mexa64";
    int positional = 0;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--octave") == 0) octave = true;
        else if (std::strcmp(argv[k], "--from") == 0 && k + 1 < argc) smallest = std::atoi(argv[++k]);
        else if (std::strcmp(argv[k], "--extension") == 0 && k + 1 < argc) extension = argv[++k];
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
        if (side == 2048 || (side == largest && largest < 2048)) {
            // A magnitude for the quality map: smooth, positive, with noise.
            std::vector<double> magnitude = gaussianSurface(side, side, 5, 1.0, 11);
            addNoise(magnitude, 0.2, 12);
            for (double &m : magnitude) m = std::fabs(m) + 0.05;
            printOptionsBesideDefault(ext, input, magnitude, runs, 6);
        }
        hostDestroyArray(input);
    }
    hostUnloadExtension(&ext);
    return 0;
}
