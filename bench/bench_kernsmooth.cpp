// bench_kernsmooth: times kernsmooth_c on complex maps with 5% NaN and kernels of 3x3,
// 9x9 and 31x31: whole calls through the standalone host (which take the best path the
// processor has, named in the header), then the filter stage on each path it offers,
// side by side. Reports medians as window visits per second (M*N*Mk*Nk / time).
// The first call of each line is timed on its own: the first of a size touches the
// result's memory fresh from the kernel (faulting and zeroing its pages), which on a
// small kernel costs more than the filter itself; the calls after it are the median.
// The host's complex layout is the build's (build-interleaved/ has the interleaved
// one); call/filter is the whole call's time over the best path's filter alone in
// that layout (the median of calls and filters timed in turns). Then whole calls on a
// single map beside the same map in double, and with the support output beside one
// output, timed in turns, and what the support costs in the single call: the filter's
// own share, and the first touch of the host's new array for it. Then the separable
// form kernsmooth_c(map, u, v) with Gaussian vectors (101 taps in double and single,
// 61 taps beside the 61x61 kernel, each path's filter alone) and, when python3 has
// scipy, scipy.signal.fftconvolve doing the same smoothing, in turns. With --octave,
// Octave's whole call on the 2048x2048, 9x9 case too.
// Never run as a test.
// Usage: bench_kernsmooth [runs] [--octave]
#include "bench_support.h"
#include "minihost.h"
#include "smooth.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

double medianSeconds(int runs, const std::function<void()> &work) {
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Median seconds of `runs` Octave calls of kernsmooth_c on a side x side complex map
// with 5% NaN and a k x k kernel (build/octave/kernsmooth_c.mex), or a negative value
// when Octave could not be run.
double octaveCall(int side, int k, int runs) {
    return octaveMedian("addpath('" EXTENSION_DIR "/octave'); n = " + std::to_string(side) + "; rand('seed', 1); "
                        "m = complex(rand(n), rand(n)); m(rand(n) < 0.05) = NaN; k = ones(" + std::to_string(k) + "); " +
                        octaveTiming("kernsmooth_c(m, k)", runs));
}

// A side x side complex double map with 5% NaN from a seeded generator, and the same
// samples rounded to single.
void makeNoisyMaps(int side, uint32_t seed, mxArray **map, mxArray **single) {
    *map = hostCreateDouble(side, side, true);
    *single = hostCreateOfClass(hostSingleClass, side, side, true);
    uint32_t state = seed;
    for (size_t i = 0; i < static_cast<size_t>(side) * side; ++i) {
        state = state * 1664525u + 1013904223u;
        const bool missing = (state >> 8) % 100 < 5;
        hostSetParts(*map, i, missing ? mxGetNaN() : (state >> 12) * 1e-6, (state >> 10) * 1e-6);
        hostSetParts(*single, i, hostRealPart(*map, i), hostImagPart(*map, i));
    }
}

// Whole calls on a 2048x2048 complex map with 5% NaN in double and in single (its
// samples rounded), each with one output and with the support too, taken in turns run
// after run so that all four see the machine alike: medians of each, and the medians
// of the run-by-run ratios (single's visits per second over double's; two outputs'
// time over one's).
void compareClassesAndOutputs(MexEntry entry, int runs) {
    const int side = 2048;
    const size_t samples = static_cast<size_t>(side) * side;
    mxArray *map, *single;
    makeNoisyMaps(side, 3, &map, &single);
    std::printf("\n%6s %7s %10s %10s %10s %10s %13s %13s %13s\n", "side", "kernel", "double s", "single s",
                "double+sup", "single+sup", "single/double", "sup/1 double", "sup/1 single");
    for (int k : {3, 9}) {
        mxArray *kernel = hostCreateDouble(k, k, false);
        for (int i = 0; i < k * k; ++i) mxGetPr(kernel)[i] = 1.0 + (i % 3);
        auto call = [&](const mxArray *m, int outputs) {
            return medianSeconds(1, [&] {
                HostCallResult r = hostCall(entry, outputs, {m, kernel});
                hostReleaseOutputs(&r);
            });
        };
        for (const mxArray *m : {static_cast<const mxArray *>(map), static_cast<const mxArray *>(single)})
            call(m, 2);  // the first call of a size pays for fresh memory
        std::vector<double> times[4], speed, supportDouble, supportSingle;
        // Each run starts with another variant, so that none always follows the same one
        // (a call recycles the memory the one before it left).
        const mxArray *inputs[4] = {map, single, map, single};
        const int outputs[4] = {1, 1, 2, 2};
        for (int run = 0; run < runs; ++run) {
            double t[4];
            for (int k = 0; k < 4; ++k) {
                const int v = (run + k) % 4;
                t[v] = call(inputs[v], outputs[v]);
            }
            for (int v = 0; v < 4; ++v) times[v].push_back(t[v]);
            speed.push_back(t[0] / t[1]);
            supportDouble.push_back(t[2] / t[0]);
            supportSingle.push_back(t[3] / t[1]);
        }
        std::printf("%6d %4dx%-2d %10.4f %10.4f %10.4f %10.4f %13.2f %13.2f %13.2f\n", side, k, k, median(times[0]),
                    median(times[1]), median(times[2]), median(times[3]), median(speed), median(supportDouble),
                    median(supportSingle));
        // Where the support's time goes, in the single call: the filter alone into
        // buffers touched before (its own work), and the host's new array of the
        // support's size, first touched on every thread (the kernel zeroes each fresh
        // page), over the one-output call; taken in turns with that call.
        std::vector<float> re(2 * samples), im(samples), support(samples);
        const SmoothingInput input = {hostInterleavedComplex() ? kPairedParts : kSeparateParts, hostDataOf(single),
                                      hostImagDataOf(single), side, side, mxGetPr(kernel), k, k, kSingleSamples, nullptr};
        const SmoothingOutput one = {input.layout == kPairedParts, re.data(), im.data(), nullptr, kSingleSamples};
        SmoothingOutput two = one;
        two.support = support.data();
        std::vector<double> filterRatio, freshShare;
        for (int run = 0; run < runs; ++run) {
            const double oneCall = call(single, 1);
            const double filterOne = medianSeconds(1, [&] { filterMap(input, one); });
            const double filterTwo = medianSeconds(1, [&] { filterMap(input, two); });
            const double fresh = medianSeconds(1, [&] {
                mxArray *a = hostCreateOfClass(hostSingleClass, side, side, false);
                char *bytes = static_cast<char *>(hostDataOf(a));
#pragma omp parallel for schedule(static)
                for (int64_t b = 0; b < static_cast<int64_t>(samples * sizeof(float)); b += 4096) bytes[b] = 1;
                hostDestroyArray(a);
            });
            filterRatio.push_back(filterTwo / filterOne);
            freshShare.push_back(fresh / oneCall);
        }
        std::printf("%6s %7s single: the filter alone with the support %.2f of it alone; a new array of the "
                    "support's size, first touched, %.3f of the one-output call\n",
                    "", "", median(filterRatio), median(freshShare));
        std::fflush(stdout);
        hostDestroyArray(kernel);
    }
    hostDestroyArray(map);
    hostDestroyArray(single);
}

// A Gaussian of the given taps (sigma a sixth of them): the vector of a separable
// window, and its outer product.
std::vector<double> gaussianTaps(int taps) {
    std::vector<double> g(static_cast<size_t>(taps));
    for (int k = 0; k < taps; ++k) {
        const double x = (k - (taps - 1) / 2.0) / (taps / 6.0);
        g[static_cast<size_t>(k)] = std::exp(-0.5 * x * x);
    }
    return g;
}

mxArray *rowVector(const std::vector<double> &values) {
    return hostCreateMatrix(1, values.size(), values);
}

// The NaN-aware smoothing of scipy.signal.fftconvolve (the weighted sum and the
// weights, two transforms) on the samples in a raw file: the median seconds of runs
// calls, printed by python3; negative when python3 or scipy is missing.
double scipySeconds(const std::string &file, int side, int taps, int runs) {
    const std::string script =
        "import numpy as np, time, scipy.signal as ss\n"
        "f = np.fromfile('" + file + "', dtype=np.complex128).reshape((" + std::to_string(side) + ", " +
        std::to_string(side) + "), order='F')\n"
        "x = (np.arange(" + std::to_string(taps) + ") - " + std::to_string((taps - 1) / 2.0) + ") / (" +
        std::to_string(taps) + " / 6.0)\n"
        "g = np.exp(-0.5 * x * x); K = np.outer(g, g)\n"
        "def smooth(f):\n"
        "    valid = ~np.isnan(f)\n"
        "    num = ss.fftconvolve(np.where(valid, f, 0), K, mode='same')\n"
        "    den = ss.fftconvolve(valid.astype(float), K, mode='same')\n"
        "    out = num / den\n"
        "    out[~valid] = np.nan\n"
        "    return out\n"
        "smooth(f)\n"
        "t = []\n"
        "for _ in range(" + std::to_string(runs) + "):\n"
        "    s = time.perf_counter(); smooth(f); t.append(time.perf_counter() - s)\n"
        "print('scipy-median', sorted(t)[len(t) // 2])\n";
    const std::string scriptFile = file + ".py";
    FILE *out = std::fopen(scriptFile.c_str(), "w");
    if (!out) return -1;
    std::fputs(script.c_str(), out);
    std::fclose(out);
    // Debian's python3 (with python3-scipy) before any other on the path.
    const char *python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    const double seconds = numberPrintedBy(std::string(python) + " " + scriptFile + " 2>/dev/null", "scipy-median ");
    std::remove(scriptFile.c_str());
    return seconds;
}

// kernsmooth_c(map, u, v) on a 2048x2048 complex map with 5% NaN, Gaussian vectors:
// whole calls taken in turns run after run (101 taps in double and single; 61 taps
// beside the 61x61 kernel u * v.'), each path's separable filter alone, and, when
// python3 has scipy, the same smoothing by FFT in turns with the whole calls.
void compareSeparable(MexEntry entry, int runs) {
    const int side = 2048;
    const size_t samples = static_cast<size_t>(side) * side;
    mxArray *map, *single;
    makeNoisyMaps(side, 7, &map, &single);
    const std::vector<double> g101 = gaussianTaps(101), g61 = gaussianTaps(61);
    mxArray *u101 = rowVector(g101), *u61 = rowVector(g61), *k61 = hostCreateDouble(61, 61, false);
    for (int c = 0; c < 61; ++c)
        for (int r = 0; r < 61; ++r) mxGetPr(k61)[r + 61 * c] = g61[static_cast<size_t>(r)] * g61[static_cast<size_t>(c)];
    struct Variant {
        const char *name;
        std::vector<const mxArray *> args;
    };
    const Variant variants[] = {
        {"101 taps, double", {map, u101, u101}},
        {"101 taps, single", {single, u101, u101}},
        {"61 taps, double", {map, u61, u61}},
        {"61 x 61 kernel, double", {map, k61}},
    };
    const int count = sizeof variants / sizeof variants[0];
    auto call = [&](int v) {
        return medianSeconds(1, [&] {
            HostCallResult r = hostCall(entry, 1, variants[v].args);
            hostReleaseOutputs(&r);
        });
    };
    for (int v = 0; v < count; ++v) call(v);  // fresh memory paid for once
    std::vector<double> times[count], singleRate, tapRatio;
    for (int run = 0; run < runs; ++run) {
        double t[count];
        for (int k = 0; k < count; ++k) {
            const int v = (run + k) % count;
            t[v] = call(v);
            times[v].push_back(t[v]);
        }
        singleRate.push_back(t[0] / t[1]);
        tapRatio.push_back(t[2] / t[3]);
    }
    std::printf("\nkernsmooth_c(map, u, v), 2048x2048 complex, 5%% NaN, Gaussian vectors; whole calls in turns:\n");
    for (int v = 0; v < count; ++v) std::printf("  %-24s %8.4f s\n", variants[v].name, median(times[v]));
    std::printf("  single's rate over double's (101 taps): %.3f; 61 taps over the 61 x 61 kernel: %.3f\n",
                median(singleRate), median(tapRatio));
    // Each path's separable filter on the double map, into buffers touched before.
    const bool paired = hostInterleavedComplex();
    std::vector<double> outA(paired ? 2 * samples : samples, 0.0), outB(paired ? 0 : samples, 0.0);
    const SmoothingOutput output = {paired, outA.data(), paired ? nullptr : outB.data(), nullptr, kDoubleSamples};
    const SmoothingInput input{paired ? kPairedParts : kSeparateParts, hostDataOf(map), hostImagDataOf(map), side, side,
                               nullptr, 0, 0, kDoubleSamples, nullptr};
    const SeparableKernel kernel = {g101.data(), 101, g101.data(), 101};
    std::printf("  the filter alone, 101 taps, double:");
    for (FilterPath p : {filterPathScalar, filterPathSse2, filterPathAvx2, filterPathAvx512}) {
        if (!filterPathAvailable(p)) continue;
        std::printf(" %s %.4f s", filterPathName(p),
                    medianSeconds(p == filterPathScalar ? 1 : runs, [&] { filterMapSeparableOnPath(input, kernel, p, output); }));
    }
    std::printf("\n");
    // scipy in turns with the whole call, from the same samples.
    const std::string file = "/tmp/phasekit-bench-separable-" + std::to_string(getpid()) + ".bin";
    FILE *raw = std::fopen(file.c_str(), "wb");
    for (size_t i = 0; raw && i < samples; ++i) {
        const double pair[2] = {hostRealPart(map, i), hostImagPart(map, i)};
        std::fwrite(pair, sizeof(double), 2, raw);
    }
    if (raw) std::fclose(raw);
    std::vector<double> ours, theirs, ratio;
    for (int run = 0; run < 3; ++run) {
        const double scipy = scipySeconds(file, side, 101, 3);
        if (scipy < 0) break;
        std::vector<double> calls;
        for (int k = 0; k < 3; ++k) calls.push_back(call(0));
        ours.push_back(median(calls));
        theirs.push_back(scipy);
        ratio.push_back(ours.back() / scipy);
    }
    std::remove(file.c_str());
    if (ratio.empty())
        std::printf("  scipy: python3 with scipy not found (Debian: python3-scipy); no comparison\n");
    else
        std::printf("  scipy.signal.fftconvolve, the same NaN-aware smoothing (two transforms): %.4f s; kernsmooth_c "
                    "(map, u, v) %.4f s: %.3f of it (in turns)\n",
                    median(theirs), median(ours), median(ratio));
    for (mxArray *a : {map, single, u101, u61, k61}) hostDestroyArray(a);
}

}  // namespace

int main(int argc, char **argv) {
    int runs = 5;
    bool octave = false;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--octave") == 0) octave = true;
        else runs = runCount(argv[k]);
    }
    HostExtension ext = hostLoadExtension(EXTENSION_DIR "/kernsmooth_c.mexa64");
    if (!ext.entry) {
        std::fprintf(stderr, "%s\n", ext.error.c_str());
        return 2;
    }
    const bool paired = hostInterleavedComplex();
    const FilterPath paths[] = {filterPathScalar, filterPathSse2, filterPathAvx2, filterPathAvx512};
    std::printf("host layout: %s; whole calls take the %s path; figures are 1e9 window visits per second\n",
                paired ? "interleaved (re, im) pairs" : "separate parts", filterPathName(bestFilterPath()));
    std::printf("%6s %7s %10s %10s %10s", "side", "kernel", "1st call s", "call s", "call");
    for (FilterPath p : paths)
        if (filterPathAvailable(p)) std::printf(" %10s", filterPathName(p));
    std::printf(" %11s\n", "call/filter");
    // Starts the thread pool, so that no timed call includes it.
    {
        mxArray *tiny = hostCreateDouble(64, 64, true), *one = hostCreateScalar(1.0);
        HostCallResult r = hostCall(ext.entry, 1, {tiny, one});
        hostReleaseOutputs(&r);
        hostDestroyArray(tiny);
        hostDestroyArray(one);
    }
    for (int side : {1024, 2048}) {
        const size_t samples = static_cast<size_t>(side) * side;
        mxArray *map = hostCreateDouble(side, side, true);
        uint32_t state = 1;
        for (size_t i = 0; i < samples; ++i) {
            state = state * 1664525u + 1013904223u;
            bool missing = (state >> 8) % 100 < 5;
            hostSetParts(map, i, missing ? mxGetNaN() : (state >> 12) * 1e-6, (state >> 10) * 1e-6);
        }
        // The filter alone, in the host's layout, into buffers touched before.
        std::vector<double> outA(paired ? 2 * samples : samples, 0.0), outB(paired ? 0 : samples, 0.0);
        const SmoothingOutput output = {paired, outA.data(), paired ? nullptr : outB.data(), nullptr, kDoubleSamples};
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
            const double *data = static_cast<const double *>(hostDataOf(map));
            SmoothingInput input{paired ? kPairedParts : kSeparateParts, data,
                                 static_cast<const double *>(hostImagDataOf(map)), side, side,
                                 mxGetPr(kernel), k, k, kDoubleSamples, nullptr};
            for (FilterPath p : paths) {
                if (!filterPathAvailable(p)) continue;
                // The slow scalar path gets a single run on the large kernels.
                int pathRuns = p == filterPathScalar && k > 9 ? 1 : runs;
                double t = medianSeconds(pathRuns, [&] { filterMapOnPath(input, p, output); });
                std::printf(" %10.2f", visits / t / 1e9);
            }
            // The ratio from calls and filters taken in turns, so that both see the
            // machine in the same state: on a shared machine the load changes from one
            // second to the next.
            std::vector<double> ratios;
            for (int run = 0; run < runs; ++run) {
                double wholeSeconds = medianSeconds(1, wholeCall);
                double filterSeconds = medianSeconds(1, [&] { filterMapOnPath(input, bestFilterPath(), output); });
                ratios.push_back(wholeSeconds / filterSeconds);
            }
            std::sort(ratios.begin(), ratios.end());
            std::printf(" %11.2f\n", ratios[ratios.size() / 2]);
            std::fflush(stdout);
            hostDestroyArray(kernel);
        }
        hostDestroyArray(map);
    }
    compareClassesAndOutputs(ext.entry, runs);
    compareSeparable(ext.entry, runs);
    if (octave) {
        double t = octaveCall(2048, 9, 21);
        if (t < 0) std::printf("octave: could not be run\n");
        else std::printf("octave (build/octave, its own build mode): 2048x2048 complex, 9x9, 5%% NaN: %.4f s "
                         "a call (median of 21)\n", t);
    }
    hostUnloadExtension(&ext);
    return 0;
}
