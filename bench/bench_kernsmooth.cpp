// bench_kernsmooth: times kernsmooth_c on complex maps with 5% NaN and kernels of 3x3,
// 9x9 and 31x31: whole calls through the standalone host (which take the best path the
// processor has, named in the header), then the filter stage on each path it offers,
// side by side. Reports medians as window visits per second (M*N*Mk*Nk / time).
// The first call of each line is timed on its own: the first of a size touches the
// result's memory fresh from the kernel (faulting and zeroing its pages), which on a
// small kernel costs more than the filter itself; the calls after it are the median.
// Never run as a test.
// Usage: bench_kernsmooth [runs]
#include "minihost.h"
#include "smooth.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <functional>
#include <vector>

static double medianSeconds(int runs, const std::function<void()> &work) {
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int main(int argc, char **argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    HostExtension ext = hostLoadExtension(EXTENSION_DIR "/kernsmooth_c.mexa64");
    if (!ext.entry) {
        std::fprintf(stderr, "%s\n", ext.error.c_str());
        return 2;
    }
    const FilterPath paths[] = {filterPathScalar, filterPathSse2, filterPathAvx2, filterPathAvx512};
    std::printf("whole calls take the %s path; figures are 1e9 window visits per second\n",
                filterPathName(bestFilterPath()));
    std::printf("%6s %7s %10s %10s %10s", "side", "kernel", "1st call s", "call s", "call");
    for (FilterPath p : paths)
        if (filterPathAvailable(p)) std::printf(" %10s", filterPathName(p));
    std::printf("\n");
    // Starts the thread pool, so that no timed call includes it.
    {
        mxArray *tiny = hostCreateDouble(64, 64, true), *one = hostCreateScalar(1.0);
        HostCallResult r = hostCall(ext.entry, 1, {tiny, one});
        hostReleaseOutputs(&r);
        hostDestroyArray(tiny);
        hostDestroyArray(one);
    }
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
        std::vector<double> outRe(static_cast<size_t>(side) * side), outIm(outRe.size());
        for (int k : {3, 9, 31}) {
            mxArray *kernel = hostCreateDouble(k, k, false);
            for (int i = 0; i < k * k; ++i) mxGetPr(kernel)[i] = 1.0 + (i % 3);
            double visits = static_cast<double>(side) * side * k * k;
            auto wholeCall = [&] {
                HostCallResult r = hostCall(ext.entry, 1, {map, kernel});
                hostReleaseOutputs(&r);
            };
            double first = medianSeconds(1, wholeCall);
            double call = medianSeconds(runs, wholeCall);
            std::printf("%6d %4dx%-2d %10.4f %10.4f %10.2f", side, k, k, first, call, visits / call / 1e9);
            SmoothingInput input{re, im, side, side, mxGetPr(kernel), k, k};
            for (FilterPath p : paths) {
                if (!filterPathAvailable(p)) continue;
                // The slow scalar path gets a single run on the large kernels.
                int pathRuns = p == filterPathScalar && k > 9 ? 1 : runs;
                double t = medianSeconds(pathRuns, [&] { filterMapOnPath(input, p, outRe.data(), outIm.data()); });
                std::printf(" %10.2f", visits / t / 1e9);
            }
            std::printf("\n");
            std::fflush(stdout);
            hostDestroyArray(kernel);
        }
        hostDestroyArray(map);
    }
    hostUnloadExtension(&ext);
    return 0;
}
