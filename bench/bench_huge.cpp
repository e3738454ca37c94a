// bench_huge: maps larger than memory through `mexrun --map` (Linux; make bench-huge).
// Writes each input .npy column by column, runs mexrun as a child while it samples the
// child's anonymous memory (RssAnon in /proc, every 10 ms), then reads the output back
// column by column. Two cases:
//   16384^2 float32, TileSize 1024: peak RssAnon against 512 MiB, and the same bits as
//     the same call without --map;
//   46341^2 float32 (past 2^31 pixels), TileSize 1024: peak RssAnon against 1 GiB, and
//     every valid pixel equal to its true phase plus one multiple of 2*pi.
// The files (3 GiB, then 16 GiB) go to the folder given (default build/huge) and are
// removed after each case. Exit status 1 when a result is wrong or a case cannot run.
#include <fcntl.h>
#include <signal.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

const double kTwoPi = 6.283185307179586;

// The phase the maps are made of: a tilted, gently curved surface with a little
// deterministic noise, so that the pixels' keys differ as on a measured map, and no
// two neighbours differ by more than about 0.5 rad. Discs of missing pixels (NaN)
// every 4096 pixels leave one region.
double truePhase(int64_t row, int64_t column) {
    const double r = static_cast<double>(row), c = static_cast<double>(column);
    uint64_t h = uint64_t(row) * 0x9E3779B97F4A7C15ull ^ uint64_t(column) * 0xC2B2AE3D27D4EB4Full;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    const double noise = 0.1 * (static_cast<double>(h >> 11) / 9007199254740992.0 - 0.5);
    return 0.21 * r + 0.13 * c + 3.0 * std::sin(r / 2000.0) * std::cos(c / 3000.0) + noise;
}
bool missingPixel(int64_t row, int64_t column) {
    const int64_t dr = row % 4096 - 2048, dc = column % 4096 - 2048;
    return dr * dr + dc * dc < 40 * 40;
}

// Writes a float32 Fortran-order .npy of the wrapped phase, a band of columns at a time.
bool writeWrappedMap(const std::string &path, int64_t rows, int64_t columns) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::string header = "{'descr': '<f4', 'fortran_order': True, 'shape': (" + std::to_string(rows) + ", " +
                         std::to_string(columns) + "), }";
    while ((10 + header.size() + 1) % 64) header += ' ';
    header += '\n';
    const unsigned char preamble[10] = {0x93, 'N', 'U', 'M', 'P', 'Y', 1, 0,
                                        static_cast<unsigned char>(header.size() & 0xFF),
                                        static_cast<unsigned char>(header.size() >> 8)};
    std::fwrite(preamble, 1, 10, f);
    std::fwrite(header.data(), 1, header.size(), f);
    const int64_t band = 64;
    std::vector<float> samples(static_cast<size_t>(rows * band));
    for (int64_t c0 = 0; c0 < columns; c0 += band) {
        const int64_t width = std::min(band, columns - c0);
#pragma omp parallel for schedule(static)
        for (int64_t j = 0; j < width; ++j)
            for (int64_t r = 0; r < rows; ++r)
                samples[size_t(j * rows + r)] =
                    missingPixel(r, c0 + j) ? NAN : static_cast<float>(std::remainder(truePhase(r, c0 + j), kTwoPi));
        std::fwrite(samples.data(), sizeof(float), size_t(width * rows), f);
    }
    const bool failed = std::ferror(f) != 0;
    return std::fclose(f) == 0 && !failed;
}

// Opens a .npy file at its data (any header length).
FILE *openAtData(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "rb");
    unsigned char preamble[10];
    if (!f || std::fread(preamble, 1, 10, f) != 10 || std::memcmp(preamble, "\x93NUMPY\x01", 7) != 0) {
        if (f) std::fclose(f);
        return nullptr;
    }
    std::fseek(f, 10 + (preamble[8] | (preamble[9] << 8)), SEEK_SET);
    return f;
}

// Every valid pixel of an unwrapped float32 map equals its true phase plus one and
// the same multiple of 2*pi (within float32's rounding of values near 1e4); missing
// pixels stay NaN.
bool checkUnwrapped(const std::string &path, int64_t rows, int64_t columns) {
    FILE *f = openAtData(path);
    if (!f) return false;
    std::vector<float> column(static_cast<size_t>(rows));
    bool haveTurns = false, good = true;
    double turns = 0, worst = 0;
    int64_t wrong = 0;
    for (int64_t c = 0; c < columns && good; ++c) {
        if (std::fread(column.data(), sizeof(float), column.size(), f) != column.size()) good = false;
        for (int64_t r = 0; good && r < rows; ++r) {
            const double value = column[size_t(r)];
            if (missingPixel(r, c)) {
                wrong += !std::isnan(value);
                continue;
            }
            const double k = (value - truePhase(r, c)) / kTwoPi, whole = std::round(k);
            if (!haveTurns) turns = whole, haveTurns = true;
            worst = std::max(worst, std::fabs(k - whole) * kTwoPi);
            wrong += whole != turns || std::fabs(k - whole) * kTwoPi > 2e-3;
        }
    }
    std::fclose(f);
    std::printf("  check: %lld wrong pixels, largest distance from true phase + %.0f * 2pi: %.2g rad\n",
                static_cast<long long>(wrong), turns + 0.0, worst);
    return good && wrong == 0;
}

// Whether two .npy files hold the same data bytes (their headers may differ in padding).
bool sameData(const std::string &a, const std::string &b) {
    FILE *fa = openAtData(a), *fb = openAtData(b);
    bool same = fa && fb;
    std::vector<char> x(size_t(64) << 20), y(x.size());
    while (same) {
        const size_t na = std::fread(x.data(), 1, x.size(), fa), nb = std::fread(y.data(), 1, y.size(), fb);
        same = na == nb && std::memcmp(x.data(), y.data(), na) == 0;
        if (na < x.size()) break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

struct RunFigures {
    int status;
    double seconds;
    double peakAnonMiB;
};

// kB of a /proc/PID/status line ("RssAnon:   1234 kB"), or -1.
long statusKiB(pid_t pid, const char *field) {
    FILE *f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (!f) return -1;
    char line[256];
    long value = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, std::strlen(field)) == 0) value = std::atol(line + std::strlen(field) + 1);
    std::fclose(f);
    return value;
}

// Runs mexrun with its arguments (its output passed through), sampling its RssAnon.
RunFigures runMexrun(const std::vector<std::string> &arguments) {
    std::vector<char *> argv;
    std::string program = MEXRUN;
    argv.push_back(&program[0]);
    std::vector<std::string> copies(arguments);
    std::string shown = "  mexrun";
    for (std::string &a : copies) {
        argv.push_back(&a[0]);
        shown += " " + a;
    }
    argv.push_back(nullptr);
    std::printf("%s\n", shown.c_str());
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    long peak = 0;
    int raw = 0;
    while (waitpid(child, &raw, WNOHANG) == 0) {
        peak = std::max(peak, statusKiB(child, "RssAnon:"));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    RunFigures figures;
    figures.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.peakAnonMiB = static_cast<double>(peak) / 1024.0;
    std::printf("  exit status %d, %.1f s, peak RssAnon %.0f MiB\n", figures.status, figures.seconds,
                figures.peakAnonMiB);
    return figures;
}

double freeGiB(const std::string &folder) {
    struct statvfs info;
    if (statvfs(folder.c_str(), &info) != 0) return 0;
    return static_cast<double>(info.f_bavail) * static_cast<double>(info.f_frsize) / (1 << 30);
}

bool roomFor(const std::string &folder, double gib) {
    if (freeGiB(folder) >= gib) return true;
    std::printf("  cannot run: needs %.1f GiB free in %s, which has %.1f GiB\n", gib, folder.c_str(), freeGiB(folder));
    return false;
}

void verdict(bool met, const char *what) { std::printf("  %s: %s\n", what, met ? "met" : "MISSED"); }

// The wrapped side x side map written to in, when folder has the room (GiB) a case needs.
bool inputReady(const std::string &folder, double gib, const std::string &in, int64_t side) {
    if (!roomFor(folder, gib)) return false;
    if (writeWrappedMap(in, side, side)) return true;
    std::printf("  cannot write %s\n", in.c_str());
    return false;
}

}  // namespace

int main(int argc, char **argv) {
    const std::string folder = argc > 1 ? argv[1] : "build/huge";
    if (std::system(("mkdir -p '" + folder + "'").c_str()) != 0) return 1;
    bool good = true;

    // 16384^2: mapped and read calls side by side.
    {
        const int64_t side = 16384;
        const std::string in = folder + "/wrapped16k.npy", mapped = folder + "/mapped16k.npy",
                          read = folder + "/read16k.npy";
        std::printf("16384 x 16384 float32 (1 GiB in, 1 GiB out), TileSize 1024\n");
        if (!inputReady(folder, 3.2, in, side)) {
            good = false;
        } else {
            RunFigures withMap = runMexrun({"--map", "phasemend", in, "TileSize", "1024", "-o", mapped});
            RunFigures without = runMexrun({"phasemend", in, "TileSize", "1024", "-o", read});
            const bool same = withMap.status == 0 && without.status == 0 && sameData(mapped, read);
            std::printf("  same bits with and without --map: %s\n", same ? "yes" : "NO");
            good = same && checkUnwrapped(mapped, side, side) && good;
            verdict(withMap.peakAnonMiB <= 512, "peak RssAnon with --map at most 512 MiB");
            std::printf("  time with --map / without: %.2f\n", withMap.seconds / without.seconds);
        }
        std::remove(in.c_str());
        std::remove(mapped.c_str());
        std::remove(read.c_str());
    }

    // 46341^2: past 2^31 pixels.
    {
        const int64_t side = 46341;
        const std::string in = folder + "/wrapped46k.npy", out = folder + "/unwrapped46k.npy";
        std::printf("46341 x 46341 float32 (%lld pixels, 8 GiB in, 8 GiB out), TileSize 1024\n",
                    static_cast<long long>(side * side));
        if (!inputReady(folder, 16.2, in, side)) {
            good = false;
        } else {
            RunFigures run = runMexrun({"--map", "phasemend", in, "TileSize", "1024", "Progress", "true", "-o", out});
            good = run.status == 0 && checkUnwrapped(out, side, side) && good;
            verdict(run.peakAnonMiB <= 1024, "peak RssAnon at most 1 GiB");
        }
        std::remove(in.c_str());
        std::remove(out.c_str());
    }
    std::printf(good ? "bench-huge: results correct\n" : "bench-huge: FAILED\n");
    return good ? 0 : 1;
}
