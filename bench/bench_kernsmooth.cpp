// bench_kernsmooth: times whole kernsmooth_c calls through the standalone host on complex
// maps with 5% NaN and kernels of 3x3, 9x9 and 31x31; reports median time and window
// visits per second (M*N*Mk*Nk / time). Never run as a test.
// Usage: bench_kernsmooth [runs]
#include "minihost.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <vector>

int main(int argc, char **argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    HostExtension ext = hostLoadExtension(EXTENSION_DIR "/kernsmooth_c.mexa64");
    if (!ext.entry) {
        std::fprintf(stderr, "%s\n", ext.error.c_str());
        return 2;
    }
    std::printf("%6s %7s %10s %16s\n", "side", "kernel", "median s", "visits/s (1e9)");
    for (int side : {1024, 2048}) {
        mxArray *map = hostCreateDouble(side, side, true);
        double *re = mxGetPr(map), *im = mxGetPi(map);
        uint32_t state = 1;
        for (size_t i = 0; i < static_cast<size_t>(side) * side; ++i) {
            state = state * 1664525u + 1013904223u;
            bool missing = (state >> 8) % 100 < 5;
            re[i] = missing ? mxGetNaN() : (state >> 12) * 1e-6;
            im[i] = (state >> 10) * 1e-6;
        }
        for (int k : {3, 9, 31}) {
            mxArray *kernel = hostCreateDouble(k, k, false);
            for (int i = 0; i < k * k; ++i) mxGetPr(kernel)[i] = 1.0 + (i % 3);
            std::vector<double> times;
            for (int run = 0; run < runs; ++run) {
                auto start = std::chrono::steady_clock::now();
                HostCallResult r = hostCall(ext.entry, 1, {map, kernel});
                times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
                hostReleaseOutputs(&r);
            }
            std::sort(times.begin(), times.end());
            double median = times[times.size() / 2];
            double visits = static_cast<double>(side) * side * k * k;
            std::printf("%6d %4dx%-2d %10.4f %16.2f\n", side, k, k, median, visits / median / 1e9);
            std::fflush(stdout);
            hostDestroyArray(kernel);
        }
        hostDestroyArray(map);
    }
    hostUnloadExtension(&ext);
    return 0;
}
