// bench_phasemend: times whole phasemend calls through the standalone host on synthetic
// maps (smooth surface + noise + NaN holes) and, in the same run, std::sort on the same
// edge records (32 bytes each), built by the unwrapper's own stages from the same map.
// Prints medians; never run as a test.
// Usage: bench_phasemend [runs] [largest side]
#include "minihost.h"
#include "surfaces.h"
#include "unwrap.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <vector>

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

}  // namespace

int main(int argc, char **argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    int largest = argc > 2 ? std::atoi(argv[2]) : 4096;
    HostExtension ext = hostLoadExtension(EXTENSION_DIR "/phasemend.mexa64");
    if (!ext.entry) {
        std::fprintf(stderr, "%s\n", ext.error.c_str());
        return 2;
    }
    std::printf("%6s %10s %9s %11s %12s %10s %8s\n", "side", "edges", "call s", "ns/pixel",
                "peak B/pixel", "sort s", "ratio");
    for (int side = 512; side <= largest; side *= 2) {
        size_t pixels = static_cast<size_t>(side) * side;
        std::vector<double> map = gaussianSurface(side, side, 8, 60.0, 3);
        addNoise(map, 0.6, 4);
        map = wrapAll(map);
        punchHoles(map, side, side, 20, side / 40, 5);
        mxArray *input = hostCreateMatrix(side, side, map);

        // The call's own edge records, for the std::sort baseline.
        std::vector<PhasePixel> grid(pixels);
        initPixels(map.data(), grid.data(), side, side);
        computeReliability(grid.data(), side, side);
        std::vector<int32_t> offsets(2 * static_cast<size_t>(side));
        std::vector<PixelEdge> built(static_cast<size_t>(countEdges(grid.data(), offsets.data(), side, side)));
        fillEdges(grid.data(), built.data(), offsets.data(), side, side);
        size_t edges = built.size();

        std::vector<double> callTimes, sortTimes;
        size_t peak = 0;
        for (int run = 0; run < runs; ++run) {
            auto start = std::chrono::steady_clock::now();
            HostCallResult r = hostCall(ext.entry, 1, {input});
            callTimes.push_back(seconds(start));
            peak = std::max(peak, r.peakBytes);
            hostReleaseOutputs(&r);

            std::vector<PixelEdge> records(built);
            start = std::chrono::steady_clock::now();
            std::sort(records.begin(), records.end(),
                      [](const PixelEdge &x, const PixelEdge &y) { return x.reliability < y.reliability; });
            sortTimes.push_back(seconds(start));
        }
        double call = median(callTimes), sort = median(sortTimes);
        std::printf("%6d %10zu %9.3f %11.1f %12.1f %10.3f %8.2f\n", side, edges, call,
                    call * 1e9 / pixels, static_cast<double>(peak) / pixels, sort, call / sort);
        std::fflush(stdout);
        hostDestroyArray(input);
    }
    hostUnloadExtension(&ext);
    return 0;
}
