// bench_support.h: what the unwrapping benchmarks share: a clock, medians, the memory
// the machine can still hand out, the std::sort reference, the tail of a result row,
// and timing the same input through GNU Octave.
#ifndef PHASEKIT_BENCH_SUPPORT_H
#define PHASEKIT_BENCH_SUPPORT_H

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

typedef std::chrono::steady_clock Clock;

inline double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

inline double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// The run count given on the command line: at least one, so that a mistyped option
// does not print a table of zeros and NaNs.
inline int runCount(const char *text) {
    return std::max(1, std::atoi(text));
}

// Seconds std::sort takes to order `records` (anything with a `reliability`) by
// reliability: the reference the unwrappers' own sort is measured against.
template <typename Record> double timeStdSort(std::vector<Record> &records) {
    Clock::time_point start = Clock::now();
    std::sort(records.begin(), records.end(),
              [](const Record &x, const Record &y) { return x.reliability < y.reliability; });
    return seconds(start);
}

// The columns after a row's call figures: std::sort, the call as a multiple of it,
// each stage, and the Octave call (when `octaveSeconds` is not NaN) against std::sort.
// Without `detailed` the reference runs were left out for want of memory.
inline void printRowTail(bool detailed, const std::vector<double> &callTimes, const std::vector<double> &sortTimes,
                         const std::vector<double> *stageTimes, int stages, double octaveSeconds) {
    double call = median(callTimes), sort = median(sortTimes);
    if (detailed) {
        std::printf(" %10.3f %8.2f", sort, call / sort);
        for (int s = 0; s < stages; ++s) std::printf(" %8.3f", median(stageTimes[s]));
    } else {
        std::printf(" %10s %8s (stages and std::sort left out: not enough memory)", "-", "-");
    }
    if (octaveSeconds == octaveSeconds) {
        if (octaveSeconds < 0) std::printf(" %9s %8s", "n/a", "n/a");
        else std::printf(" %9.3f %8.2f", octaveSeconds, octaveSeconds / sort);
    }
    std::printf("\n");
    std::fflush(stdout);
}

// Bytes of memory the system can still hand out (Linux), or 0 when unknown.
inline size_t availableBytes() {
    FILE *f = std::fopen("/proc/meminfo", "r");
    if (!f) return 0;
    char line[256];
    size_t kib = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "MemAvailable: %zu kB", &kib) == 1) break;
    std::fclose(f);
    return kib * 1024;
}

// Runs a shell command (another program timing something) and reads the number it
// prints after `tag` at the start of a line; negative when no line has it.
inline double numberPrintedBy(const std::string &command, const std::string &tag) {
    FILE *p = popen(command.c_str(), "r");
    double result = -1;
    if (p) {
        char text[256];
        while (std::fgets(text, sizeof text, p))
            if (std::strncmp(text, tag.c_str(), tag.size()) == 0) result = std::atof(text + tag.size());
        pclose(p);
    }
    return result;
}

// Runs an Octave script that prints "octave-median SECONDS"; the seconds, or a
// negative value when Octave could not be run.
inline double octaveMedian(const std::string &script) {
    return numberPrintedBy("octave-cli --no-gui --norc --quiet --eval \"" + script + "\" 2>/dev/null",
                           "octave-median ");
}

// The Octave statements that time `runs` calls of `call` after one untimed one and
// print their median for octaveMedian.
inline std::string octaveTiming(const std::string &call, int runs) {
    return call + "; t = zeros(1, " + std::to_string(runs) + "); "
           "for k = 1:numel(t), tic; u = " + call + "; t(k) = toc; clear u; end; "
           "printf('octave-median %.6f\\n', median(t));";
}

// Median seconds of `runs` Octave calls `command(w)` on the samples shaped as `shape`
// (an Octave size vector such as "[512, 512, 256]"), with the extension files of
// `folder` on the path; a negative value when Octave could not be run. The samples go
// over as raw doubles in a temporary file.
inline double timeInOctave(const std::vector<double> &samples, const std::string &shape,
                           const std::string &folder, const std::string &command, int runs) {
    char path[] = "/tmp/bench_unwrap_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return -1;
    FILE *f = fdopen(fd, "wb");
    std::fwrite(samples.data(), sizeof(double), samples.size(), f);
    std::fclose(f);
    double result = octaveMedian("addpath('" + folder + "'); f = fopen('" + std::string(path) + "', 'rb'); "
                                 "w = reshape(fread(f, Inf, 'double'), " + shape + "); fclose(f); " +
                                 octaveTiming(command + "(w)", runs));
    std::remove(path);
    return result;
}

#endif // PHASEKIT_BENCH_SUPPORT_H
