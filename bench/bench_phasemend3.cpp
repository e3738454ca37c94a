// bench_phasemend3: times whole phasemend3 calls through the standalone host on
// synthetic volumes (a smooth field of tens of radians, noise, an ellipsoid mask of
// NaN outside it), with the working memory each call held at its peak beyond its
// result, each stage of the volume pipeline on its own (and ord+mrg: the ordering and
// the merge overlapped, as the call runs them), and, in the same run, std::sort
// of as many 32-byte records as the volume has edges (the plain edge record, keyed by
// the volume's own edge keys). With --octave it also times the same volumes through
// GNU Octave (build/octave/phasemend3.mex). Volumes the machine lacks the memory for
// are skipped, or timed without the stages and the sort. Then the same volume in
// single beside double, in turns, and for the first volume each option beside the
// plain call. Prints medians; never run as
// a test. The thread count is OpenMP's default (set OMP_NUM_THREADS to change it).
// Usage: bench_phasemend3 [runs] [--octave] [--sizes ROWSxCOLUMNSxSLICES,...]
#include "bench_support.h"
#include "bench_unwrap.h"
#include "minihost.h"
#include "surfaces.h"
#include "unwrap.h"

#include "../portable/portability.h"

#include <omp.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

struct Size {
    int rows, columns, slices;
    size_t voxels() const { return static_cast<size_t>(rows) * columns * slices; }
};

// A head-like volume: Gaussian bumps of tens of radians and a gradient through the
// slices, noise of 0.4 rad, NaN outside an ellipsoid.
std::vector<double> syntheticVolume(Size s) {
    std::vector<double> v(s.voxels());
    uint32_t state = 17;
    for (int k = 0; k < s.slices; ++k)
        for (int c = 0; c < s.columns; ++c)
            for (int r = 0; r < s.rows; ++r) {
                double x = 2.0 * c / s.columns - 1, y = 2.0 * r / s.rows - 1, z = 2.0 * k / s.slices - 1;
                double field = 30 * std::exp(-((x - 0.25) * (x - 0.25) + (y + 0.3) * (y + 0.3) + z * z) / 0.2) -
                               12 * z + 6 * x * y + 0.4 * (2 * uniform01(&state) - 1);
                bool inside = x * x / 0.8 + y * y / 0.95 + z * z / 0.9 < 1;
                v[static_cast<size_t>(r) + static_cast<size_t>(c) * s.rows + static_cast<size_t>(k) * s.rows * s.columns] =
                    inside ? wrapToPi(field) : std::numeric_limits<double>::quiet_NaN();
            }
    return v;
}

// The reliabilities and unsorted edges of the volume, into the buffers.
int32_t buildEdges(const std::vector<double> &volume, GridShape shape, StageBuffers &b) {
    initPixels(b.reliability.data(), shape.columns * shape.slices, shape.rows);
    computeReliability(volume.data(), b.reliability.data(), shape);
    int32_t count = countEdges(volume.data(), b.offsets.data(), shape);
    fillEdges(volume.data(), b.reliability.data(), b.edges.data(), b.offsets.data(), shape);
    return count;
}

void timeStages(const std::vector<double> &volume, GridShape shape, StageBuffers &b, std::vector<double> *times) {
    Clock::time_point t = Clock::now();
    initPixels(b.reliability.data(), shape.columns * shape.slices, shape.rows);
    times[kInit].push_back(seconds(t));
    t = Clock::now();
    computeReliability(volume.data(), b.reliability.data(), shape);
    times[kReliability].push_back(seconds(t));
    t = Clock::now();
    int32_t count = countEdges(volume.data(), b.offsets.data(), shape);
    fillEdges(volume.data(), b.reliability.data(), b.edges.data(), b.offsets.data(), shape);
    times[kEdges].push_back(seconds(t));
    timeSharedStages(volume.data(), b, count, shape, times, [&] {
        fillEdges(volume.data(), b.reliability.data(), b.edges.data(), b.offsets.data(), shape);
    });
}

}  // namespace

int main(int argc, char **argv) {
    int runs = 5;
    bool octave = false;
    std::vector<Size> sizes = {{256, 256, 128}, {512, 512, 256}};
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--octave") == 0) {
            octave = true;
        } else if (std::strcmp(argv[k], "--sizes") == 0 && k + 1 < argc) {
            sizes.clear();
            for (const char *p = argv[++k]; *p;) {
                Size s;
                int used = 0;
                if (std::sscanf(p, "%dx%dx%d%n", &s.rows, &s.columns, &s.slices, &used) != 3) break;
                sizes.push_back(s);
                p += used;
                if (*p == ',') ++p;
            }
        } else {
            runs = runCount(argv[k]);
        }
    }
    HostExtension ext = hostLoadExtension(EXTENSION_DIR "/phasemend3.mexa64");
    if (!ext.entry) {
        std::fprintf(stderr, "%s\n", ext.error.c_str());
        return 2;
    }
    std::printf("threads: %d\n", omp_get_max_threads());
    std::printf("%16s %11s %9s %11s %12s %10s %8s", "volume", "edges", "call s", "ns/voxel",
                "work B/voxel", "sort s", "ratio");
    for (const char *name : kStageNames) std::printf(" %8s", name);
    if (octave) std::printf(" %9s %8s", "octave s", "ratio");
    std::printf("\n");
    for (const Size &size : sizes) {
        const size_t voxels = size.voxels();
        const GridShape shape = {size.rows, size.columns, size.slices};
        char name[64];
        std::snprintf(name, sizeof name, "%dx%dx%d", size.rows, size.columns, size.slices);
        // The call: the volume, the input and the result (8 bytes a voxel each) and
        // about 56 working bytes; the stages and std::sort: about 120 bytes more.
        size_t free = availableBytes();
        if (free && free < voxels * (24 + 64)) {
            std::printf("%16s skipped: needs %.1f GB, %.1f GB available\n", name, voxels * 88e-9, free * 1e-9);
            continue;
        }
        bool detailed = !free || free > voxels * (24 + 64 + 130);
        std::vector<double> volume = syntheticVolume(size);
        mxArray *input = hostCreateArray(hostDoubleClass, {size_t(size.rows), size_t(size.columns), size_t(size.slices)});
        std::copy(volume.begin(), volume.end(), mxGetPr(input));

        std::vector<double> callTimes, sortTimes, stageTimes[kStages];
        size_t peak = 0, edgeCount = 0;
        StageBuffers *buffers = nullptr;
        std::vector<PixelEdge> records;
        if (detailed) {
            std::vector<int32_t> offsets(volumeOffsetCount(shape));
            edgeCount = static_cast<size_t>(countEdges(volume.data(), offsets.data(), shape));
            buffers = new StageBuffers(voxels, volumeOffsetCount(shape), edgeCount);
            records.resize(edgeCount);
        }
        // The calls back to back, as a session makes them; then the sort and the stages.
        timeCalls(ext, input, runs, &callTimes, &peak);
        for (int run = 0; detailed && run < runs; ++run) {
            // std::sort on 32-byte records holding the volume's edge keys.
            buildEdges(volume, shape, *buffers);
            for (size_t k = 0; k < edgeCount; ++k)
                records[k] = PixelEdge{buffers->edges[k].reliability, nullptr, nullptr, 0};
            sortTimes.push_back(timeStdSort(records));

            timeStages(volume, shape, *buffers, stageTimes);
        }
        delete buffers;
        double working = (static_cast<double>(peak) - 8.0 * voxels) / voxels;
        double call = median(callTimes);
        std::printf("%16s %11zu %9.3f %11.1f %12.1f", name, edgeCount, call, call * 1e9 / voxels, working);
        double inOctave = std::nan("");
        if (octave && detailed) {
            std::string sides = "[" + std::to_string(size.rows) + ", " + std::to_string(size.columns) + ", " +
                                std::to_string(size.slices) + "]";
            inOctave = timeInOctave(volume, sides, EXTENSION_DIR "/octave", "phasemend3", runs);
        }
        printRowTail(detailed, callTimes, sortTimes, stageTimes, kStages, inOctave);
        printSingleBesideDouble(ext, input, runs, 16);
        if (&size == &sizes.front()) {
            // A magnitude for the quality map: positive, falling off from the centre.
            std::vector<double> magnitude(voxels);
            uint32_t state = 23;
            for (size_t i = 0; i < voxels; ++i)
                magnitude[i] = 1.0 + std::cos(0.001 * static_cast<double>(i % 100003)) + 0.3 * uniform01(&state);
            printOptionsBesideDefault(ext, input, magnitude, runs, 16);
        }
        hostDestroyArray(input);
    }
    hostUnloadExtension(&ext);
    return 0;
}
