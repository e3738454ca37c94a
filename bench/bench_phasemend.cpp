// bench_phasemend: times whole phasemend calls through the standalone host on synthetic
// maps (smooth surface + noise + NaN holes) and, in the same run, std::sort on as many
// 32-byte records as the call has edges. Prints medians; never run as a test.
// Usage: bench_phasemend [runs] [largest side]
#include "minihost.h"
#include "surfaces.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <vector>

namespace {

struct Record32 {  // the size and key position of an edge record
    double key;
    void *a;
    void *b;
    int32_t step;
};
static_assert(sizeof(Record32) == 32, "edge records are 32 bytes");

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

        size_t edges = 0;  // counted as the extension counts them
        auto valid = [&](size_t i) { return map[i] == map[i]; };
        for (int c = 0; c < side; ++c)
            for (int r = 0; r < side; ++r) {
                size_t i = r + static_cast<size_t>(c) * side;
                if (r + 1 < side && valid(i) && valid(i + 1)) ++edges;
                if (c + 1 < side && valid(i) && valid(i + side)) ++edges;
            }

        std::vector<double> callTimes, sortTimes;
        size_t peak = 0;
        for (int run = 0; run < runs; ++run) {
            auto start = std::chrono::steady_clock::now();
            HostCallResult r = hostCall(ext.entry, 1, {input});
            callTimes.push_back(seconds(start));
            peak = std::max(peak, r.peakBytes);
            hostReleaseOutputs(&r);

            // Keys like the extension's: mostly small sums, some large random ones.
            std::vector<Record32> records(edges);
            uint32_t state = 99 + run;
            for (Record32 &e : records) {
                double u = uniform01(&state);
                e.key = u < 0.05 ? 2 * 9999999.0 + (state & 65535) : u * 300.0;
                e.a = e.b = nullptr;
                e.step = 0;
            }
            start = std::chrono::steady_clock::now();
            std::sort(records.begin(), records.end(),
                      [](const Record32 &x, const Record32 &y) { return x.key < y.key; });
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
