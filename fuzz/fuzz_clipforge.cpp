// fuzz_clipforge: whole clipforge calls through the standalone host. The fuzz bytes
// choose the frame rate, the argument kinds, and for each image path what it names:
// a file written from the bytes (often with a baseline frame header, so frames get
// written), a missing file, a directory, /dev/zero, a FIFO without a writer, or the
// movie itself. The movie path may name an image, an existing file, /dev/full or a
// missing folder. Invariants: no image file ever changes; a call that writes no frame
// leaves an existing movie file untouched; a finished movie's RIFF size is its length
// minus 8 unless the call reported the movie incomplete.
#include "fuzz_input.h"
#include "file_bytes.h"

#include <sys/stat.h>
#include <unistd.h>

extern "C" void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

namespace {

std::string folder() {
    static std::string path;
    if (path.empty()) {
        char name[] = "/tmp/fuzz_clipforge_XXXXXX";
        if (!mkdtemp(name)) std::abort();
        path = name;
        mkfifo((path + "/fifo.jpg").c_str(), 0600);
        mkdir((path + "/folder.jpg").c_str(), 0700);
    }
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in{data, size, 0};
    const std::string dir = folder();
    const std::string movie = dir + "/movie.avi";
    std::remove(movie.c_str());

    uint32_t images = in.below(4) + 1;
    std::vector<std::string> paths;
    std::vector<std::string> written;  // image files made here, to be checked afterwards
    for (uint32_t k = 0; k < images; ++k) {
        std::string path = dir + "/image" + std::to_string(k) + ".jpg";
        switch (in.below(10)) {
        case 0: path = dir + "/missing.jpg"; break;
        case 1: path = dir + "/folder.jpg"; break;
        case 2: path = "/dev/zero"; break;
        case 3: path = dir + "/fifo.jpg"; break;
        case 4: path = movie; break;
        default: {
            std::vector<unsigned char> bytes;
            if (in.below(2)) {  // a baseline frame header first, with a fuzzed size
                const unsigned char header[] = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08};
                bytes.assign(header, header + sizeof header);
            }
            uint32_t length = in.below(300);
            for (uint32_t b = 0; b < length; ++b) bytes.push_back(in.byte());
            writeFileBytes(path, bytes);
            written.push_back(path);
        }
        }
        paths.push_back(path);
    }
    std::string moviePath = movie;
    switch (in.below(8)) {
    case 0: moviePath = paths[in.below(images)]; break;
    case 1: moviePath = "/dev/full"; break;
    case 2: moviePath = dir + "/no/such/folder/movie.avi"; break;
    default: break;
    }
    const std::vector<unsigned char> sentinel = {'o', 'l', 'd'};
    bool hadSentinel = moviePath == movie && in.below(2);
    if (hadSentinel) writeFileBytes(movie, sentinel);
    std::vector<std::vector<unsigned char>> before;
    for (const std::string &path : written) before.push_back(readFileBytes(path));

    std::vector<mxArray *> owned;
    uint32_t shape = in.below(16);
    owned.push_back(shape == 0 ? hostCreateCharMatrix(2, moviePath.size() / 2, moviePath)
                               : hostCreateString(moviePath));
    owned.push_back(in.below(6) ? hostCreateScalar(in.number()) : fuzzArray(in, 2));
    for (const std::string &path : paths)
        owned.push_back(in.below(24) ? hostCreateString(path) : fuzzArray(in, 3));
    uint32_t count = in.below(12) == 0 ? in.below(3) : static_cast<uint32_t>(owned.size());
    std::vector<const mxArray *> args(owned.begin(), owned.begin() + count);
    HostCallResult r = hostCall(mexFunction, 0, args);

    for (size_t k = 0; k < written.size(); ++k)
        if (written[k] != moviePath && readFileBytes(written[k]) != before[k]) fuzzFailure("an image file changed");
    bool framesWritten = r.printed.find("frames on") != std::string::npos;
    std::vector<unsigned char> after = readFileBytes(movie);
    if (hadSentinel && !framesWritten && after != sentinel) fuzzFailure("a failing call touched the movie");
    bool incomplete = false;
    for (const std::string &w : r.warnings) incomplete = incomplete || w.find("incomplete") != std::string::npos;
    if (framesWritten && moviePath == movie && !incomplete) {
        if (after.size() < 4116 || le32(after, 4) != after.size() - 8) fuzzFailure("RIFF size is not the length");
    }
    releaseCall(&r, owned);
    for (const std::string &path : written) std::remove(path.c_str());
    return 0;
}
