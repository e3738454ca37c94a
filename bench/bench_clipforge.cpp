// bench_clipforge: writes movies of 1000 frames of about 50 KB, of 100 frames of about
// 2 MB and of about 5 GiB (760 frames cycling through three 7 MB files, past the first
// RIFF form) through the standalone host, and in the same run times `cat` copying the
// same files into one file on the same disk (the floor), each until its data is on
// disk. Reports medians; never a test.
// Usage: bench_clipforge [runs] [work folder]
#include "minihost.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A file that starts like a baseline JPEG (so the probe finds a size) and is filled
// with incompressible bytes.
void writeFrameFile(const std::string &path, size_t bytes, uint32_t seed) {
    std::vector<unsigned char> data(bytes);
    const unsigned char header[] = {0xFF, 0xD8, 0xFF, 0xC0, 0, 17, 8, 0x01, 0xE0, 0x02, 0x80};
    uint32_t x = seed * 2654435761u + 1;
    for (size_t k = 0; k < bytes; ++k) {
        x ^= x << 13; x ^= x >> 17; x ^= x << 5;
        data[k] = static_cast<unsigned char>(x >> 24);
    }
    std::copy(header, header + sizeof header, data.begin());
    FILE *f = std::fopen(path.c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

}  // namespace

int main(int argc, char **argv) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string folder = argc > 2 ? argv[2] : "/tmp/phasekit_bench_clip";
    HostExtension ext = hostLoadExtension(EXTENSION_DIR "/clipforge.mexa64");
    if (!ext.entry) {
        std::fprintf(stderr, "%s\n", ext.error.c_str());
        return 2;
    }
    mkdir(folder.c_str(), 0755);
    struct Set { int frames; size_t bytes; int distinct; };
    const Set sets[] = {{1000, 50 * 1000, 1000}, {100, 2 * 1000 * 1000, 100}, {760, 7065 * 1000, 3}};
    std::printf("%7s %10s %10s %10s %10s %10s %7s\n", "frames", "bytes", "call s", "MB/s",
                "cat s", "cat MB/s", "ratio");
    for (const Set &set : sets) {
        std::vector<std::string> files;
        std::string catCommand = "cat";
        for (int k = 0; k < set.frames; ++k) {
            std::string path = folder + "/f" + std::to_string(k % set.distinct) + ".jpg";
            if (k < set.distinct) writeFrameFile(path, set.bytes + (k % 7) * 13, static_cast<uint32_t>(k + 1));
            files.push_back(path);
            catCommand += " " + path;
        }
        std::string movie = folder + "/movie.avi", copy = folder + "/copy.bin";
        catCommand += " > " + copy;
        std::vector<mxArray *> args = {hostCreateString(movie), hostCreateScalar(25)};
        for (const std::string &f : files) args.push_back(hostCreateString(f));
        std::vector<const mxArray *> inputs(args.begin(), args.end());

        std::vector<double> callTimes, catTimes;
        // Each copy is timed until its data is on disk (sync), from a disk with nothing
        // left to write, and the two go first by turns: a copy that starts while the
        // other's data is still being written would be slowed by it.
        for (int run = 0; run < (set.distinct < set.frames ? std::min(runs, 3) : runs); ++run) {
            for (int which = 0; which < 2; ++which) {
                bool callNow = (which == 0) == (run % 2 == 0);
                std::remove(movie.c_str());
                std::remove(copy.c_str());
                sync();
                auto start = std::chrono::steady_clock::now();
                if (callNow) {
                    hostCall(ext.entry, 0, inputs);  // no outputs to release
                } else if (std::system(catCommand.c_str()) != 0) {
                    std::fprintf(stderr, "cat failed\n");
                }
                sync();
                (callNow ? callTimes : catTimes).push_back(seconds(start));
            }
        }
        double total = static_cast<double>(set.frames) * set.bytes / 1e6;
        double call = median(callTimes), cat = median(catTimes);
        std::printf("%7d %10zu %10.3f %10.0f %10.3f %10.0f %7.2f\n", set.frames, set.bytes, call,
                    total / call, cat, total / cat, call / cat);
        std::fflush(stdout);
        for (mxArray *a : args) hostDestroyArray(a);
        for (int k = 0; k < set.distinct; ++k) std::remove(files[k].c_str());
        std::remove(movie.c_str());
        std::remove(copy.c_str());
    }
    rmdir(folder.c_str());
    return 0;
}
