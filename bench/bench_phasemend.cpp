// bench_phasemend: times whole phasemend calls through the standalone host on synthetic
// maps (smooth surface + noise + NaN holes), each stage on its own, and, in the same
// run, std::sort on the same edge records (32 bytes each), built by the unwrapper's own
// stages from the same map. With --octave it also times the same maps through GNU
// Octave (build/octave/phasemend.mex, octave-cli on the path). Prints medians; never
// run as a test. The thread count is OpenMP's default (set OMP_NUM_THREADS to change it).
// Usage: bench_phasemend [runs] [largest side] [--octave]
#include "minihost.h"
#include "surfaces.h"
#include "unwrap.h"

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

typedef std::chrono::steady_clock Clock;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

enum Stage { kInit, kReliability, kEdges, kOrdering, kMerging, kResult, kStages };
const char *const kStageNames[kStages] = {"init", "reliab", "edges", "order", "merge", "result"};

// One run of the stages on buffers that are already touched (no page faults), each
// timed on its own.
void timeStages(const std::vector<double> &map, int side, std::vector<double> *times) {
    size_t pixels = static_cast<size_t>(side) * side;
    std::vector<PhasePixel> grid(pixels);
    std::vector<int32_t> offsets(2 * static_cast<size_t>(side));
    std::vector<PixelEdge> edges(2 * pixels);
    std::vector<GroupLink> links(pixels);
    std::vector<double> out(pixels);
    Clock::time_point t = Clock::now();
    initPixels(map.data(), grid.data(), side, side);
    times[kInit].push_back(seconds(t));
    t = Clock::now();
    computeReliability(grid.data(), side, side);
    times[kReliability].push_back(seconds(t));
    t = Clock::now();
    int32_t count = countEdges(grid.data(), offsets.data(), side, side);
    fillEdges(grid.data(), edges.data(), offsets.data(), side, side);
    times[kEdges].push_back(seconds(t));
    t = Clock::now();
    sortEdges(edges.data(), edges.data() + count - 1);
    times[kOrdering].push_back(seconds(t));
    t = Clock::now();
    mergeGroups(grid.data(), links.data(), edges.data(), count, side, side);
    times[kMerging].push_back(seconds(t));
    t = Clock::now();
    writeUnwrapped(grid.data(), out.data(), side + 1, side + 1, side, side);
    times[kResult].push_back(seconds(t));
}

// Median seconds of `runs` Octave calls of phasemend on the map, or a negative value
// when Octave could not be run. The map goes over as raw doubles in a temporary file.
double timeInOctave(const std::vector<double> &map, int side, int runs) {
    char path[] = "/tmp/bench_phasemend_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return -1;
    FILE *f = fdopen(fd, "wb");
    std::fwrite(map.data(), sizeof(double), map.size(), f);
    std::fclose(f);
    std::string script =
        "addpath('" EXTENSION_DIR "/octave'); f = fopen('" + std::string(path) + "', 'rb'); "
        "w = reshape(fread(f, Inf, 'double'), " + std::to_string(side) + ", " + std::to_string(side) +
        "); fclose(f); phasemend(w); t = zeros(1, " + std::to_string(runs) + "); "
        "for k = 1:numel(t), tic; u = phasemend(w); t(k) = toc; clear u; end; "
        "printf('octave-median %.6f\\n', median(t));";
    std::string command = "octave-cli --no-gui --norc --quiet --eval \"" + script + "\" 2>/dev/null";
    FILE *p = popen(command.c_str(), "r");
    double result = -1;
    if (p) {
        char line[256];
        while (std::fgets(line, sizeof line, p))
            if (std::strncmp(line, "octave-median ", 14) == 0) result = std::atof(line + 14);
        pclose(p);
    }
    std::remove(path);
    return result;
}

}  // namespace

int main(int argc, char **argv) {
    int runs = 5, largest = 4096;
    bool octave = false;
    int positional = 0;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--octave") == 0) octave = true;
        else if (positional++ == 0) runs = std::atoi(argv[k]);
        else largest = std::atoi(argv[k]);
    }
    HostExtension ext = hostLoadExtension(EXTENSION_DIR "/phasemend.mexa64");
    if (!ext.entry) {
        std::fprintf(stderr, "%s\n", ext.error.c_str());
        return 2;
    }
    std::printf("threads: %d\n", omp_get_max_threads());
    std::printf("%6s %10s %9s %11s %12s %10s %8s", "side", "edges", "call s", "ns/pixel",
                "peak B/pixel", "sort s", "ratio");
    for (const char *name : kStageNames) std::printf(" %8s", name);
    if (octave) std::printf(" %9s %8s", "octave s", "ratio");
    std::printf("\n");
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

        std::vector<double> callTimes, sortTimes, stageTimes[kStages];
        size_t peak = 0;
        for (int run = 0; run < runs; ++run) {
            Clock::time_point start = Clock::now();
            HostCallResult r = hostCall(ext.entry, 1, {input});
            callTimes.push_back(seconds(start));
            peak = std::max(peak, r.peakBytes);
            hostReleaseOutputs(&r);

            std::vector<PixelEdge> records(built);
            start = Clock::now();
            std::sort(records.begin(), records.end(),
                      [](const PixelEdge &x, const PixelEdge &y) { return x.reliability < y.reliability; });
            sortTimes.push_back(seconds(start));

            timeStages(map, side, stageTimes);
        }
        double call = median(callTimes), sort = median(sortTimes);
        std::printf("%6d %10zu %9.3f %11.1f %12.1f %10.3f %8.2f", side, edges, call,
                    call * 1e9 / pixels, static_cast<double>(peak) / pixels, sort, call / sort);
        for (const std::vector<double> &t : stageTimes) std::printf(" %8.3f", median(t));
        if (octave) {
            double inOctave = timeInOctave(map, side, runs);
            if (inOctave < 0) std::printf(" %9s %8s", "n/a", "n/a");
            else std::printf(" %9.3f %8.2f", inOctave, inOctave / sort);
        }
        std::printf("\n");
        std::fflush(stdout);
        hostDestroyArray(input);
    }
    hostUnloadExtension(&ext);
    return 0;
}
