// mexrun: loads an extension file into the standalone host and calls it from the command
// line, with .npy files, numbers and texts as arguments and .npy files for the outputs.
// Exit status: 0 when the call succeeded, 1 when the extension ended it with an error,
// 2 when mexrun itself could not do its part (extension, argument or output files),
// 3 with --strict when the call succeeded but the extension gave a warning, 130 when
// Ctrl-C (SIGINT) stopped it. Outputs are written under a temporary name and renamed
// when all are complete, so no partial file is ever left under an -o name.
#include "minihost.h"
#include "npy.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "Usage: mexrun [--strict] [--map] EXTENSION [ARG ...] [-o OUT.npy ...]\n"
    "\n"
    "Loads EXTENSION (a path to an extension file, or the name of one built next to\n"
    "mexrun, such as phasemend) into the standalone host and calls it like MATLAB would.\n"
    "\n"
    "Arguments, in order:\n"
    "  FILE.npy   a NumPy array of 0 to 3 dimensions, C or Fortran order: float64 and\n"
    "             complex128 become double arrays, float32 and complex64 single ones;\n"
    "             int8..int64, uint8..uint64 and bool become arrays of the matching\n"
    "             class (so the extension's own checks answer). A 1-D array of n\n"
    "             elements is 1 x n.\n"
    "  NUMBER     a 1x1 double (anything strtod reads whole: 25, -1.5e3, nan, inf).\n"
    "  true, false  a 1x1 logical.\n"
    "  TEXT       any other argument becomes a character row.\n"
    "  -o OUT.npy output slot k goes to the k-th -o file (float64, complex128, float32\n"
    "             or complex64, as the array's class is, with its 2 or 3 sides).\n"
    "  --strict   a warning from the extension makes the exit status 3 (for scripts:\n"
    "             clipforge, for one, reports an unusable image or an incomplete movie\n"
    "             by a warning). May also come before EXTENSION.\n"
    "  --map      for maps larger than memory (POSIX): a .npy argument in Fortran order\n"
    "             and this machine's byte order (numbers; complex ones too when the host\n"
    "             keeps complex pairs interleaved) is mapped read-only, not read; a C-order\n"
    "             or byte-swapped one, and any other, is read as without --map. Every array\n"
    "             of 4 MiB or more the call makes lives in a scratch file beside the -o\n"
    "             file it becomes (the k-th beside the k-th), its .npy header padded to\n"
    "             4096 bytes (still a valid .npy file), written when the call returns; the\n"
    "             file is then renamed into place. So the process's own memory is the\n"
    "             call's working memory. A failed call leaves no file under an -o name and\n"
    "             no scratch file (on Linux, a killed one neither: scratch files have no\n"
    "             name until they are kept); no room for a file ends it with exit status 2.\n"
    "             May also come before EXTENSION.\n"
    "  --         everything after it is an argument, even -o, --strict or --help.\n"
    "\n"
    "Printed text goes to stdout, warnings to stderr as \"Warning: <text>\", and an error\n"
    "to stderr as \"Error using NAME (IDENTIFIER)\" followed by its text. Outputs are\n"
    "written under temporary names and renamed once all are complete.\n"
    "Ctrl-C (SIGINT) asks the extension to stop, as in MATLAB; mexrun then writes no\n"
    "output and exits with 130. A second Ctrl-C ends mexrun at once.\n"
    "\n"
    "Exit status:\n"
    "  0  the call succeeded (with --strict: and gave no warning)\n"
    "  1  the extension ended the call with an error, or left an output unassigned\n"
    "  2  the extension could not be found or loaded, an argument file could not be read\n"
    "     or is not a usable .npy file, or an output could not be written\n"
    "  3  with --strict only: the call succeeded, but the extension gave a warning\n"
    "  130  Ctrl-C stopped it\n"
    "\n"
    "Examples:\n"
    "  mexrun phasemend wrapped.npy -o unwrapped.npy\n"
    "  mexrun phasemend wrapped.npy 120 80 -o unwrapped.npy\n"
    "  mexrun --map phasemend huge.npy TileSize 1024 Progress true -o unwrapped.npy\n"
    "  mexrun phasemend3 volume.npy 64 64 32 -o unwrapped.npy\n"
    "  mexrun phasemend wrapped.npy Quality magnitude.npy Periodic 1 -o unwrapped.npy \\\n"
    "         -o regions.npy -o reliability.npy\n"
    "  mexrun kernsmooth_c field.npy kernel.npy -o smoothed.npy\n"
    "  mexrun kernsmooth_c field.npy u.npy v.npy -o smoothed.npy -o support.npy\n"
    "  mexrun clipforge movie.avi 25 frame1.jpg frame2.jpg\n"
    "  mexrun --strict clipforge movie.avi 25 frame*.jpg || echo \"no complete movie\"\n";

#if defined(_WIN32)
const char kExtensionSuffix[] = ".mexw64";
const char kSeparators[] = "/\\";

std::string executablePath() {
    char path[4096];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

bool fileExists(const std::string &path) { return _access(path.c_str(), 0) == 0; }
#else
const char kExtensionSuffix[] = ".mexa64";
const char kSeparators[] = "/";

std::string executablePath() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

bool fileExists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }
#endif

std::string folderOfExecutable() {
    std::string s = executablePath();
    size_t slash = s.find_last_of(kSeparators);
    return slash == std::string::npos ? "." : s.substr(0, slash);
}

bool endsWith(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A path as given when it names a file; else NAME.mexa64 (NAME.mexw64 on Windows), or
// NAME, next to mexrun.
std::string resolveExtension(const std::string &name) {
    if (fileExists(name)) return name;
    std::string folder = folderOfExecutable();
    for (const std::string &candidate : {folder + "/" + name + kExtensionSuffix, folder + "/" + name})
        if (fileExists(candidate)) return candidate;
    return "";
}

std::string baseName(const std::string &path) {
    size_t slash = path.find_last_of(kSeparators);
    std::string s = path.substr(slash == std::string::npos ? 0 : slash + 1);
    size_t dot = s.find('.');
    return dot == std::string::npos ? s : s.substr(0, dot);
}

bool parseNumber(const std::string &text, double *value) {
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    *value = std::strtod(text.c_str(), &end);
    return end && *end == '\0';
}

const int kWarnedStatus = 3;
const int kInterruptedStatus = 130;  // 128 + SIGINT, as shells report it

// The first SIGINT asks the call to stop; the next one ends mexrun as usual.
extern "C" void onInterrupt(int) {
    hostRequestInterrupt();
    std::signal(SIGINT, SIG_DFL);
}

// Moves a complete output file to its name, replacing what was there.
bool replaceFile(const std::string &from, const std::string &to) {
#if defined(_WIN32)
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

// The folder of a path ("." for a bare name): where its scratch file goes, so that
// renaming it into place stays on one file system.
std::string folderOf(const std::string &path) {
    const size_t slash = path.find_last_of(kSeparators);
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// An argument file mapped in place when --map allows it, else read.
mxArray *npyArgument(const std::string &path, bool map, std::string *error) {
    NpyLayout layout;
    if (map && npyInspect(path, &layout, error) && layout.fortranOrder && !layout.byteSwapped &&
        layout.cls != hostLogicalClass) {
        std::string why;
        mxArray *mapped = hostMapArray(path, layout.dataStart, layout.cls, layout.sides, layout.complex, &why);
        if (mapped) return mapped;
    }
    return npyRead(path, error);
}

}  // namespace

int main(int argc, char **argv) {
    bool strict = false, map = false;
    int next = 1;
    for (; next < argc; ++next) {
        if (std::strcmp(argv[next], "--strict") == 0) strict = true;
        else if (std::strcmp(argv[next], "--map") == 0) map = true;
        else break;
    }
    if (next >= argc) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string first = argv[next];
    if (first == "--help" || first == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }

    std::vector<std::string> args, outputs;
    bool optionsEnded = false;
    for (int k = next + 1; k < argc; ++k) {
        std::string a = argv[k];
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && a == "--strict") {
            strict = true;
        } else if (!optionsEnded && a == "--map") {
            map = true;
        } else if (!optionsEnded && a == "-o") {
            if (k + 1 >= argc) {
                std::fprintf(stderr, "mexrun: -o needs a file name\n");
                return 2;
            }
            outputs.push_back(argv[++k]);
        } else {
            args.push_back(a);
        }
    }

    std::string path = resolveExtension(first);
    if (path.empty()) {
        std::fprintf(stderr, "mexrun: no extension file '%s' (nor %s%s next to mexrun)\n",
                     first.c_str(), first.c_str(), kExtensionSuffix);
        return 2;
    }
    HostExtension ext = hostLoadExtension(path);
    if (!ext.entry) {
        std::fprintf(stderr, "mexrun: cannot load %s: %s\n", path.c_str(), ext.error.c_str());
        return 2;
    }

    std::vector<mxArray *> inputs;
    auto release = [&inputs]() {
        for (mxArray *a : inputs) hostDestroyArray(a);
    };
    for (const std::string &a : args) {
        double value;
        if (endsWith(a, ".npy")) {
            std::string error;
            mxArray *array = npyArgument(a, map, &error);
            if (!array) {
                std::fprintf(stderr, "mexrun: %s\n", error.c_str());
                release();
                return 2;
            }
            inputs.push_back(array);
        } else if (parseNumber(a, &value)) {
            inputs.push_back(hostCreateScalar(value));
        } else if (a == "true" || a == "false") {
            mxArray *flag = hostCreateOfClass(hostLogicalClass, 1, 1);
            static_cast<bool *>(hostDataOf(flag))[0] = a == "true";
            inputs.push_back(flag);
        } else {
            inputs.push_back(hostCreateString(a));
        }
    }

    std::vector<const mxArray *> constInputs(inputs.begin(), inputs.end());
    std::signal(SIGINT, onInterrupt);
#if !defined(_WIN32)
    std::signal(SIGXFSZ, SIG_IGN);  // a file size limit: an error to report, not a signal to die of
#endif
    std::vector<std::string> folders;
    for (const std::string &out : outputs) folders.push_back(folderOf(out));
    HostCallOptions callOptions = {true, true};
    if (map) callOptions.fileFolders = &folders;
    HostCallResult result = hostCall(ext.entry, static_cast<int>(outputs.size()), constInputs, callOptions);
    release();
    std::fflush(stdout);
    std::string name = baseName(path);
    if (result.interrupted) {
        std::fprintf(stderr, "mexrun: interrupted (Ctrl-C): no output written\n");
        hostReleaseOutputs(&result);
        return kInterruptedStatus;
    }
    if (result.hostFailed) {
        std::fprintf(stderr, "%s\n", result.errorText.c_str());
        hostReleaseOutputs(&result);
        return 2;
    }
    if (result.failed) {
        if (result.errorId.empty()) std::fprintf(stderr, "Error using %s\n", name.c_str());
        else std::fprintf(stderr, "Error using %s (%s)\n", name.c_str(), result.errorId.c_str());
        std::fputs(result.errorText.c_str(), stderr);
        if (result.errorText.empty() || result.errorText.back() != '\n') std::fputc('\n', stderr);
        return 1;
    }
    // Every output under a temporary name first; renamed only when all are complete.
    int status = 0;
    std::vector<std::string> written;
    for (size_t k = 0; k < outputs.size() && status == 0; ++k) {
        const mxArray *out = k < result.outputs.size() ? result.outputs[k] : nullptr;
        if (!out) {
            std::fprintf(stderr, "Error using %s\nOne or more output arguments not assigned.\n",
                         name.c_str());
            status = 1;
            break;
        }
        std::string error;
        const std::string partial = outputs[k] + ".partial";
        // An array in one scratch file in this output's folder gets its header in the
        // room before its data, and the file a name. Otherwise (complex parts apart, or
        // made beside another output) the array is written.
        if (unsigned char *headerRoom = hostArrayFileRoom(out, folderOf(outputs[k]))) {
            std::string header;
            if (npyHeaderOfSize(out, kArrayFileHeaderRoom, &header, &error) && hostNameArrayFile(out, partial, &error)) {
                std::memcpy(headerRoom, header.data(), header.size());
                written.push_back(partial);
                continue;
            }
            std::fprintf(stderr, "mexrun: %s\n", error.c_str());
            status = 2;
            break;
        }
        written.push_back(partial);
        if (!npyWrite(partial, out, &error)) {
            std::fprintf(stderr, "mexrun: %s\n", error.c_str());
            status = 2;
        }
    }
    if (status == 0 && hostInterruptRequested()) {
        std::fprintf(stderr, "mexrun: interrupted (Ctrl-C): no output written\n");
        status = kInterruptedStatus;
    }
    for (size_t k = 0; k < written.size(); ++k) {
        if (status == 0 && !replaceFile(written[k], outputs[k])) {
            std::fprintf(stderr, "mexrun: cannot write %s\n", outputs[k].c_str());
            status = 2;
        }
        std::remove(written[k].c_str());  // gone already when renamed
    }
    bool warned = !result.warnings.empty();
    hostReleaseOutputs(&result);
    if (status == 0 && strict && warned) status = kWarnedStatus;
    return status;
}
