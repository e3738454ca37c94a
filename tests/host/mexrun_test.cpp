// Tests of the command line runner mexrun: .npy round trips (files written here byte by
// byte, read back here and, when numpy is installed, by numpy), argument kinds, and
// every exit status.
#include "test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string kFolder = "/tmp/phasekit_mexrun_" + std::to_string(getpid());

std::string file(const std::string &name) { return kFolder + "/" + name; }

struct Run {
    int status;
    std::string out, err;
};

Run mexrun(const std::string &arguments) {
    // Under a time limit: a run that hangs ends with status 124 and fails its check.
    std::string command = "timeout 60 " + std::string(MEXRUN) + " " + arguments + " >" + file("stdout") + " 2>" +
                          file("stderr");
    int raw = std::system(command.c_str());
    Run r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFileText(file("stdout")), readFileText(file("stderr"))};
    return r;
}

// Writes a .npy file: the header dict as given, data bytes as given.
void writeNpy(const std::string &path, const std::string &dict, const std::vector<unsigned char> &data,
              int version = 1) {
    std::string header = dict;
    size_t preamble = version == 1 ? 10 : 12;
    while ((preamble + header.size() + 1) % 64) header += ' ';
    header += '\n';
    std::string bytes = "\x93NUMPY";
    bytes += static_cast<char>(version);
    bytes += '\0';
    bytes += static_cast<char>(header.size() & 0xFF);
    bytes += static_cast<char>(header.size() >> 8);
    if (version != 1) bytes += std::string(2, '\0');
    bytes += header;
    bytes.append(data.begin(), data.end());
    FILE *f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::vector<unsigned char> doublesLE(const std::vector<double> &values, bool bigEndian = false) {
    std::vector<unsigned char> out;
    for (double v : values) {
        unsigned char b[8];
        std::memcpy(b, &v, 8);
        if (bigEndian)
            for (int k = 0; k < 4; ++k) std::swap(b[k], b[7 - k]);
        out.insert(out.end(), b, b + 8);
    }
    return out;
}

// Reads back a 2-D float64/complex128 Fortran-order file written by mexrun.
struct Npy {
    std::string descr;
    size_t rows = 0, columns = 0;
    std::vector<double> values;  // re, im interleaved for complex
};

Npy readNpy(const std::string &path) {
    Npy n;
    std::string s = readFileText(path);
    if (s.size() < 10 || s.compare(0, 6, "\x93NUMPY") != 0) return n;
    size_t length = static_cast<unsigned char>(s[8]) | (static_cast<unsigned char>(s[9]) << 8);
    std::string header = s.substr(10, length);
    size_t d = header.find("'descr': '");
    n.descr = header.substr(d + 10, header.find('\'', d + 10) - d - 10);
    if (header.find("'fortran_order': True") == std::string::npos) return n;
    size_t sh = header.find("'shape': (");
    std::sscanf(header.c_str() + sh + 10, "%zu, %zu", &n.rows, &n.columns);
    size_t count = (s.size() - 10 - length) / 8;
    n.values.resize(count);
    if (count) std::memcpy(n.values.data(), s.data() + 10 + length, count * 8);
    return n;
}

// A .npy file's header dict (trailing padding dropped), where its data begins, and
// its data bytes.
struct NpyParts {
    std::string dict;
    size_t dataStart = 0;
    std::string data;
};

NpyParts npyParts(const std::string &path) {
    NpyParts n;
    std::string s = readFileText(path);
    if (s.size() < 10 || s.compare(0, 6, "\x93NUMPY") != 0) return n;
    const size_t length = static_cast<unsigned char>(s[8]) | (static_cast<unsigned char>(s[9]) << 8);
    n.dict = s.substr(10, length);
    n.dict.erase(n.dict.find_last_not_of(" \n") + 1);
    n.dataStart = 10 + length;
    n.data = s.substr(std::min(n.dataStart, s.size()));
    return n;
}

// Samples of a smooth phase over 1024 x 1024 pixels, wrapped, as float64 or float32
// (complex: the phase's cosine and sine interleaved).
std::vector<unsigned char> phaseSamples(bool single, bool complex) {
    std::vector<unsigned char> bytes;
    for (size_t k = 0; k < size_t(1024) * 1024; ++k) {
        const double row = static_cast<double>(k % 1024), column = static_cast<double>(k / 1024);
        const double phase = 0.002 * (row - 300) * (row - 300) * 0.01 + 0.03 * column;
        const double parts[2] = {complex ? std::cos(phase) : std::remainder(phase, 2 * M_PI), std::sin(phase)};
        for (int p = 0; p < (complex ? 2 : 1); ++p) {
            unsigned char b[8];
            const float f = static_cast<float>(parts[p]);
            if (single) std::memcpy(b, &f, 4);
            else std::memcpy(b, &parts[p], 8);
            bytes.insert(bytes.end(), b, b + (single ? 4 : 8));
        }
    }
    return bytes;
}

// Files mexrun left in the test folder under its scratch names.
bool scratchFilesLeft() {
    return std::system(("ls -a " + kFolder + " | grep -q -e '^\\.mexrun-' -e '\\.partial$'").c_str()) == 0;
}

bool haveNumpy() {
    return std::system("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") == 0;
}

struct Setup {
    Setup() {
        std::system(("mkdir -p " + kFolder).c_str());
        writeNpy(file("one.npy"), "{'descr': '<f8', 'fortran_order': False, 'shape': (1, 1), }", doublesLE({1.0}));
    }
    ~Setup() { std::system(("rm -rf " + kFolder).c_str()); }
} setup;

}  // namespace

TEST(npy_arrays_round_trip_through_an_identity_smoothing) {
    // kernsmooth_c with a 1x1 kernel of 1 returns its map: what comes out is what
    // mexrun read, in MATLAB's column-major layout, as complex128.
    struct Case {
        const char *name;
        std::string dict;
        std::vector<unsigned char> data;
        int version;
        size_t rows, columns;
        std::vector<double> columnMajor;  // real parts
        std::vector<double> imag;
    };
    const Case cases[] = {
        {"C order", "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), }",
         doublesLE({1, 2, 3, 4, 5, 6}), 1, 2, 3, {1, 4, 2, 5, 3, 6}, {}},
        {"Fortran order", "{'descr': '<f8', 'fortran_order': True, 'shape': (2, 3), }",
         doublesLE({1, 2, 3, 4, 5, 6}), 1, 2, 3, {1, 2, 3, 4, 5, 6}, {}},
        {"1-D is a row", "{'descr': '<f8', 'fortran_order': False, 'shape': (3,), }",
         doublesLE({7, 8, 9}), 1, 1, 3, {7, 8, 9}, {}},
        {"0-D is 1x1", "{'descr': '<f8', 'fortran_order': False, 'shape': (), }",
         doublesLE({7.5}), 1, 1, 1, {7.5}, {}},
        {"big-endian", "{'descr': '>f8', 'fortran_order': False, 'shape': (1, 2), }",
         doublesLE({1.25, -2.5}, true), 1, 1, 2, {1.25, -2.5}, {}},
        {"version 2 header", "{'descr': '<f8', 'fortran_order': False, 'shape': (2,), }",
         doublesLE({3, 4}), 2, 1, 2, {3, 4}, {}},
        {"complex128, C order", "{'descr': '<c16', 'fortran_order': False, 'shape': (2, 2), }",
         doublesLE({1, -1, 2, -2, 3, -3, 4, -4}), 1, 2, 2, {1, 3, 2, 4}, {-1, -3, -2, -4}},
    };
    for (const Case &c : cases) {
        writeNpy(file("in.npy"), c.dict, c.data, c.version);
        Run r = mexrun("kernsmooth_c " + file("in.npy") + " " + file("one.npy") + " -o " + file("out.npy"));
        if (r.status != 0) {
            recordFailure(__FILE__, __LINE__, std::string(c.name) + ": " + r.err);
            continue;
        }
        Npy out = readNpy(file("out.npy"));
        CHECK_EQ(out.descr, std::string("<c16"));
        CHECK_EQ(out.rows, c.rows);
        CHECK_EQ(out.columns, c.columns);
        bool same = out.values.size() == 2 * c.columnMajor.size();
        for (size_t k = 0; same && k < c.columnMajor.size(); ++k)
            same = out.values[2 * k] == c.columnMajor[k] &&
                   out.values[2 * k + 1] == (c.imag.empty() ? 0.0 : c.imag[k]);
        if (!same) recordFailure(__FILE__, __LINE__, std::string("values differ: ") + c.name);
    }
    // The separable form from two .npy vectors (1-D: rows), an identity too.
    writeNpy(file("u.npy"), "{'descr': '<f8', 'fortran_order': False, 'shape': (3,), }", doublesLE({0, 1, 0}));
    writeNpy(file("v.npy"), "{'descr': '<f4', 'fortran_order': False, 'shape': (1,), }", {0, 0, 0, 0x3f});
    Run r = mexrun("kernsmooth_c " + file("in.npy") + " " + file("u.npy") + " " + file("v.npy") + " -o " + file("out.npy"));
    CHECK_EQ(r.status, 0);
    Npy out = readNpy(file("out.npy"));
    CHECK(out.values == std::vector<double>({1, -1, 3, -3, 2, -2, 4, -4}));
}

TEST(other_dtypes_reach_the_extension_as_their_own_classes) {
    struct Case { const char *descr; size_t itemBytes; };
    const Case cases[] = {{"<i4", 4}, {"|u1", 1}, {"|b1", 1}, {"<i8", 8}, {"<i2", 2}};
    for (const Case &c : cases) {
        writeNpy(file("typed.npy"),
                 std::string("{'descr': '") + c.descr + "', 'fortran_order': False, 'shape': (2, 2), }",
                 std::vector<unsigned char>(4 * c.itemBytes, 1));
        Run r = mexrun("phasemend " + file("typed.npy") + " -o " + file("out.npy"));
        CHECK_EQ(r.status, 1);
        CHECK_EQ(r.err, std::string("Error using phasemend (phasekit:phasemend:wrappedType)\nwrapped must be a full (not sparse) single or double matrix.\n"));
    }
}

TEST(numbers_texts_printed_text_warnings_and_errors) {
    writeNpy(file("row.npy"), "{'descr': '<f8', 'fortran_order': False, 'shape': (1, 3), }",
             doublesLE({3, -3, 3}));
    Run ok = mexrun("phasemend " + file("row.npy") + " 2 1 -o " + file("out.npy"));
    CHECK_EQ(ok.status, 0);
    Npy out = readNpy(file("out.npy"));
    CHECK(out.values.size() == 3 && out.values[1] == -3.0 && out.values[0] == 3.0 - 6.283185307179586);

    Run refused = mexrun("phasemend " + file("row.npy") + " 0 1 -o " + file("out.npy"));
    CHECK_EQ(refused.status, 1);
    CHECK_EQ(refused.err, std::string("Error using phasemend (phasekit:phasemend:referenceOutside)\n   x_ref and/or y_ref can not be smaller "
                                      "than 1 nor larger than the matrix size.\n"));

    Run help = mexrun("phasemend");
    CHECK_EQ(help.status, 0);
    CHECK(help.out.find("Returns the 2D unwrapped phase map") == 0);

    Run unassigned = mexrun("phasemend -o " + file("out.npy"));
    CHECK_EQ(unassigned.status, 1);
    CHECK(unassigned.err.find("One or more output arguments not assigned.") != std::string::npos);

    Run warned = mexrun("clipforge " + file("movie.avi") + " 25");
    CHECK_EQ(warned.status, 0);
    CHECK_EQ(warned.err, std::string("Warning: Not enough input argument.\n"
                                     "Warning: 1) avi filepath   2) fps   3)... image filepaths\n"));

    Run movie = mexrun("clipforge " + file("movie.avi") + " 25 " + TEST_DATA_DIR + "/frame1.jpg " +
                       TEST_DATA_DIR + "/frame2.jpg");
    CHECK_EQ(movie.status, 0);
    CHECK(movie.out.find("  0 frames on 1...\n") != std::string::npos);
    CHECK(readFileText(file("movie.avi")).size() > 4116);

    // After --, "-o" is a text argument: phasemend gets a character row and refuses it.
    Run ended = mexrun("phasemend -- -o");
    CHECK_EQ(ended.status, 1);
    CHECK(ended.err.find("wrapped must be a full") != std::string::npos);

    Run usage = mexrun("--help");
    CHECK_EQ(usage.status, 0);
    CHECK(usage.out.find("Usage: mexrun [--strict] [--map] EXTENSION") == 0);
    CHECK(usage.out.find("Exit status") != std::string::npos);
}

TEST(files_mexrun_cannot_use_give_exit_status_2) {
    std::FILE *f = std::fopen(file("not_a_library.mexa64").c_str(), "wb");
    std::fputs("plain text", f);
    std::fclose(f);
    writeNpy(file("short.npy"), "{'descr': '<f8', 'fortran_order': False, 'shape': (3, 3), }", doublesLE({1, 2}));
    writeNpy(file("text.npy"), "{'descr': '<U3', 'fortran_order': False, 'shape': (2,), }",
             std::vector<unsigned char>(24, 65));
    writeNpy(file("cube.npy"), "{'descr': '<f8', 'fortran_order': False, 'shape': (1, 1, 1, 1), }", doublesLE({1}));
    writeNpy(file("noshape.npy"), "{'descr': '<f8', 'fortran_order': False, }", doublesLE({1}));
    writeNpy(file("huge.npy"), "{'descr': '<f8', 'fortran_order': False, 'shape': (18446744073709551615, 0), }", {});
    // 2^61 x 8 doubles: 2^67 bytes, which wraps to 0 in 64 bits (mapped ones are checked too).
    writeNpy(file("wraps.npy"), "{'descr': '<f8', 'fortran_order': True, 'shape': (2305843009213693952, 8), }", {});
    f = std::fopen(file("magic.npy").c_str(), "wb");
    std::fputs("NUMPY? not really, just text", f);
    std::fclose(f);
    struct Case { std::string arguments; std::string message; };
    const Case cases[] = {
        {"no_such_extension", "no extension file"},
        {file("not_a_library.mexa64"), "cannot load"},
        {"phasemend " + file("missing.npy"), "cannot open"},
        {"phasemend " + file("short.npy"), "shorter than its shape"},
        {"phasemend " + file("text.npy"), "unsupported dtype"},
        {"phasemend " + file("cube.npy"), "more than 3 dimensions"},
        {"phasemend " + file("noshape.npy"), "no 'shape'"},
        {"phasemend " + file("huge.npy"), "shape too large"},
        {"--map phasemend " + file("wraps.npy"), "shape too large"},
        {"phasemend " + file("magic.npy"), "magic"},
        {"phasemend " + file("one.npy") + " -o /nonexistent/out.npy", "cannot create"},
        {"phasemend " + file("one.npy") + " -o", "-o needs a file name"},
    };
    for (const Case &c : cases) {
        Run r = mexrun(c.arguments);
        CHECK_EQ(r.status, 2);
        if (r.err.find(c.message) == std::string::npos)
            recordFailure(__FILE__, __LINE__, "message for '" + c.arguments + "': " + r.err);
    }
}

TEST(empty_arrays_with_a_long_side_are_read_without_visiting_it) {
    writeNpy(file("long_empty.npy"), "{'descr': '<f8', 'fortran_order': False, 'shape': (9223372036854775807, 0), }", {});
    Run r = mexrun("kernsmooth_c " + file("long_empty.npy") + " 1 -o " + file("out.npy"));
    CHECK_EQ(r.status, 0);
    Npy out = readNpy(file("out.npy"));
    CHECK_EQ(out.rows, size_t(9223372036854775807ULL));
    CHECK_EQ(out.columns, size_t(0));
}

TEST(strict_runs_turn_warnings_into_exit_status_3) {
    const std::string images = std::string(TEST_DATA_DIR) + "/frame1.jpg " + TEST_DATA_DIR + "/frame2.jpg";
    struct Case { std::string arguments; int status; };
    const Case cases[] = {
        {"clipforge " + file("m.avi") + " 25", 0},
        {"--strict clipforge " + file("m.avi") + " 25", 3},
        {"clipforge --strict " + file("m.avi") + " 25", 3},
        {"--strict clipforge /dev/full 25 " + images, 3},     // "... the movie file is incomplete."
        {"clipforge /dev/full 25 " + images, 0},
        {"--strict clipforge " + file("m.avi") + " 25 " + images, 0},
        {"--strict phasemend " + file("one.npy") + " 0 0", 1},  // an error stays an error
        {"--strict clipforge " + file("m.avi") + " 25 /nonexistent.jpg", 3},  // no movie: a warning
        {"clipforge -- --strict 25 " + images, 0},             // a movie named --strict
    };
    for (const Case &c : cases) {
        Run r = mexrun(c.arguments);
        if (r.status != c.status)
            recordFailure(__FILE__, __LINE__, "status " + std::to_string(r.status) + " for '" + c.arguments + "'");
    }
    std::remove("--strict");
}

TEST(options_and_extra_outputs_on_the_command_line) {
    // A 4 x 6 map cut by a missing column, a quality map and a periodic flag vector
    // (bool .npy) as Name, Value pairs (with tiles of 3 x 3 as a number); the regions
    // and reliabilities as the second and third -o files.
    std::vector<double> map(24, 0.25), quality(24);
    for (size_t k = 0; k < 24; ++k) quality[k] = 1.0 + static_cast<double>(k);
    for (size_t r = 0; r < 4; ++r) map[r + 2 * 4] = std::nan("");
    writeNpy(file("map.npy"), "{'descr': '<f8', 'fortran_order': True, 'shape': (4, 6), }", doublesLE(map));
    writeNpy(file("quality.npy"), "{'descr': '<f8', 'fortran_order': True, 'shape': (4, 6), }", doublesLE(quality));
    writeNpy(file("columns.npy"), "{'descr': '|b1', 'fortran_order': False, 'shape': (2,), }", {0, 1});
    const std::string outputs = " -o " + file("u.npy") + " -o " + file("regions.npy") + " -o " + file("rel.npy");
    // Periodic as a bool .npy vector, and as the word true (a logical scalar).
    for (const std::string &periodic : {std::string(), " periodic " + file("columns.npy") + " TileSize 3",
                                       std::string(" Periodic true")}) {
        Run r = mexrun("phasemend " + file("map.npy") + " Quality " + file("quality.npy") + periodic + outputs);
        CHECK_EQ(r.status, 0);
        Npy regions = readNpy(file("regions.npy")), reliability = readNpy(file("rel.npy"));
        CHECK(regions.rows == 4 && regions.columns == 6 && regions.values.size() == 24);
        CHECK(reliability.values.size() == 24);
        if (regions.values.size() != 24 || reliability.values.size() != 24) continue;
        for (size_t k = 0; k < 24; ++k) {
            const bool missing = k / 4 == 2;
            CHECK_EQ(regions.values[k], missing ? 0.0 : !periodic.empty() || k < 8 ? 1.0 : 2.0);
            CHECK(missing ? std::isnan(reliability.values[k]) : reliability.values[k] == -quality[k]);
        }
    }
}

TEST(numpy_reads_what_mexrun_writes) {
    if (!haveNumpy()) {
        std::printf("  (numpy not installed: check skipped)\n");
        return;
    }
    writeNpy(file("grid.npy"), "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), }",
             doublesLE({1, 2, 3, 4, 5, 6}));
    Run r = mexrun("kernsmooth_c " + file("grid.npy") + " " + file("one.npy") + " -o " + file("out.npy"));
    CHECK_EQ(r.status, 0);
    std::string check = "/usr/bin/python3 -c \"import numpy; a = numpy.load('" + file("out.npy") +
                        "'); assert a.dtype == numpy.complex128 and a.shape == (2, 3); "
                        "assert (a == numpy.array([[1, 2, 3], [4, 5, 6]])).all()\"";
    CHECK_EQ(std::system(check.c_str()), 0);
    // A volume in C order comes back in the host's order as the same array: values
    // whose neighbours differ by less than pi unwrap to themselves.
    std::vector<double> volume(24);
    for (size_t k = 0; k < volume.size(); ++k) volume[k] = 0.1 * static_cast<double>(k % 7);
    writeNpy(file("volume.npy"), "{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3, 4), }", doublesLE(volume));
    r = mexrun("phasemend3 " + file("volume.npy") + " -o " + file("unwrapped.npy"));
    CHECK_EQ(r.status, 0);
    check = "/usr/bin/python3 -c \"import numpy; a = numpy.load('" + file("unwrapped.npy") +
            "'); b = numpy.load('" + file("volume.npy") + "'); assert a.shape == (2, 3, 4); "
            "assert numpy.abs(a - b).max() < 1e-15\"";
    CHECK_EQ(std::system(check.c_str()), 0);
    // Single arrays both ways: a complex64 map and its support (two outputs) as
    // complex64 and float32, a float32 map unwrapped as float32.
    check = "/usr/bin/python3 -c \"import numpy; m = (numpy.arange(6).reshape(2, 3) + 0.5j).astype(numpy.complex64); "
            "numpy.save('" + file("map64.npy") + "', m); numpy.save('" + file("map32.npy") +
            "', numpy.float32([[0.5, -3], [3, 1]]))\"";
    CHECK_EQ(std::system(check.c_str()), 0);
    r = mexrun("kernsmooth_c " + file("map64.npy") + " " + file("one.npy") + " -o " + file("s64.npy") + " -o " +
               file("support32.npy"));
    CHECK_EQ(r.status, 0);
    r = mexrun("phasemend " + file("map32.npy") + " -o " + file("u32.npy"));
    CHECK_EQ(r.status, 0);
    check = "/usr/bin/python3 -c \"import numpy; m = numpy.load('" + file("map64.npy") + "'); s = numpy.load('" +
            file("s64.npy") + "'); w = numpy.load('" + file("support32.npy") + "'); u = numpy.load('" + file("u32.npy") +
            "'); assert s.dtype == numpy.complex64 and (s == m).all(); "
            "assert w.dtype == numpy.float32 and (w == 1).all(); "
            "x = numpy.load('" + file("map32.npy") + "'); d = (u - x.astype(float)) / (2 * numpy.pi); "
            "assert u.dtype == numpy.float32 and numpy.abs(d - numpy.round(d)).max() < 1e-6 and d.any()\"";
    CHECK_EQ(std::system(check.c_str()), 0);
}

TEST(ctrl_c_stops_the_call_and_leaves_every_output_file_as_it_was) {
    // kernsmooth_c on a 1024^2 complex map with a 201 x 201 kernel runs for many
    // seconds; SIGINT comes after one. No output file is written or replaced.
    std::vector<double> samples(2 * 1024 * 1024, 0.5), ones(201 * 201, 1.0);
    writeNpy(file("big.npy"), "{'descr': '<c16', 'fortran_order': True, 'shape': (1024, 1024), }", doublesLE(samples));
    writeNpy(file("wide.npy"), "{'descr': '<f8', 'fortran_order': True, 'shape': (201, 201), }", doublesLE(ones));
    writeFileBytes(file("kept.npy"), {'k', 'e', 'p', 't'});
    // With --map, the outputs' scratch files exist when the call stops: they go too.
    for (const char *flags : {"", "--map "}) {
        std::string command = "timeout -s INT --preserve-status 1 " + std::string(MEXRUN) + " " + flags +
                              "kernsmooth_c " + file("big.npy") + " " + file("wide.npy") + " -o " + file("kept.npy") +
                              " -o " + file("new.npy") + " 2>" + file("stderr");
        int raw = std::system(command.c_str());
        CHECK_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 130);
        CHECK(readFileBytes(file("kept.npy")) == std::vector<unsigned char>({'k', 'e', 'p', 't'}));
        CHECK(access(file("new.npy").c_str(), F_OK) != 0);
        CHECK(!scratchFilesLeft());
    }
#if defined(O_TMPFILE)
    // Killed outright, a --map run leaves no scratch file either where the file system
    // has nameless files (a 16 GiB one would otherwise stay behind).
    const int probe = open(kFolder.c_str(), O_TMPFILE | O_RDWR, 0644);
    if (probe >= 0) {
        close(probe);
        std::string command = "timeout -s KILL 1 " + std::string(MEXRUN) + " --map kernsmooth_c " + file("big.npy") +
                              " " + file("wide.npy") + " -o " + file("new.npy") + " 2>" + file("stderr");
        int raw = std::system(command.c_str());
        CHECK_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 137);
        CHECK(access(file("new.npy").c_str(), F_OK) != 0);
        CHECK(!scratchFilesLeft());
        std::system(("rm -f " + kFolder + "/.mexrun-*").c_str());  // not to fail the tests after
    }
#endif
}

TEST(mapped_runs_write_the_bits_of_read_runs_and_leave_no_scratch_files) {
    // Every output here is 4 MiB or more, so with --map each one lives in its scratch
    // file from its creation and is renamed into place, its data after a 4096-byte
    // header. Fortran-order inputs are mapped; the C-order one is read as it is without.
    struct Case {
        const char *name;
        const char *descr;
        bool fortran, single, complex;
        const char *call;  // IN stands for the input file
        int outputs;
    };
    const Case cases[] = {
        {"complex128 map and float64 support", "<c16", true, false, true, "kernsmooth_c IN ONE", 2},
        {"complex64 map and float32 support", "<c8", true, true, true, "kernsmooth_c IN ONE", 2},
        {"float64 phase, three outputs", "<f8", true, false, false, "phasemend IN", 3},
        {"float32 phase in tiles, three outputs", "<f4", true, true, false, "phasemend IN TileSize 256", 3},
        {"float32 phase in C order", "<f4", false, true, false, "phasemend IN TileSize 300", 1},
    };
    for (const Case &c : cases) {
        writeNpy(file("in.npy"), std::string("{'descr': '") + c.descr + "', 'fortran_order': " +
                                     (c.fortran ? "True" : "False") + ", 'shape': (1024, 1024), }",
                 phaseSamples(c.single, c.complex));
        std::string call = c.call;
        call.replace(call.find("IN"), 2, file("in.npy"));
        if (call.find("ONE") != std::string::npos) call.replace(call.find("ONE"), 3, file("one.npy"));
        std::string readOutputs, mappedOutputs;
        for (int k = 0; k < c.outputs; ++k) {
            readOutputs += " -o " + file("read" + std::to_string(k) + ".npy");
            mappedOutputs += " -o " + file("mapped" + std::to_string(k) + ".npy");
        }
        Run read = mexrun(call + readOutputs), mapped = mexrun("--map " + call + mappedOutputs);
        if (read.status != 0 || mapped.status != 0) {
            recordFailure(__FILE__, __LINE__, std::string(c.name) + ": " + read.err + mapped.err);
            continue;
        }
        for (int k = 0; k < c.outputs; ++k) {
            NpyParts a = npyParts(file("read" + std::to_string(k) + ".npy"));
            NpyParts b = npyParts(file("mapped" + std::to_string(k) + ".npy"));
            // A complex array whose parts lie apart is in two files, so it is written.
            const bool oneFile = hostInterleavedComplex() || a.dict.find("'<c") == std::string::npos;
            if (a.dict != b.dict || a.data != b.data || a.data.size() < (size_t(4) << 20) ||
                (b.dataStart == 4096) != oneFile)
                recordFailure(__FILE__, __LINE__, std::string(c.name) + ": output " + std::to_string(k + 1) +
                                                      " differs: " + a.dict + " / " + b.dict);
        }
    }
    CHECK(!scratchFilesLeft());
    if (haveNumpy()) {
        // numpy reads the padded header, mapped too.
        const std::string check = "/usr/bin/python3 -c \"import numpy; a = numpy.load('" + file("mapped0.npy") +
                                  "', mmap_mode='r'); b = numpy.load('" + file("read0.npy") +
                                  "'); assert a.shape == (1024, 1024) and (a == b).all()\"";
        CHECK_EQ(std::system(check.c_str()), 0);
    }
}

TEST(a_full_disk_gives_exit_status_2_and_leaves_no_output_file) {
    // A file size limit of 2 MiB (dash counts 512-byte blocks) below the 16 MiB
    // complex128 output: with --map its scratch file cannot be reserved, without it the
    // output cannot be written. Either way no file is left under any name.
    writeNpy(file("in.npy"), "{'descr': '<c16', 'fortran_order': True, 'shape': (1024, 1024), }",
             phaseSamples(false, true));
    const struct {
        const char *flags;
        const char *message;
    } cases[] = {{"--map ", "mexrun: no room for "}, {"", "mexrun: cannot write "}};
    for (const auto &c : cases) {
        std::remove(file("out.npy").c_str());
        const std::string command = "ulimit -f 4096; " + std::string(MEXRUN) + " " + c.flags + "kernsmooth_c " +
                                    file("in.npy") + " " + file("one.npy") + " -o " + file("out.npy") + " 2>" +
                                    file("stderr");
        const int raw = std::system(command.c_str());
        CHECK_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2);
        CHECK_EQ(readFileText(file("stderr")).compare(0, std::strlen(c.message), c.message), 0);
        CHECK(access(file("out.npy").c_str(), F_OK) != 0);
        CHECK(!scratchFilesLeft());
    }
}

#ifdef NO_PREALLOCATION_LIBRARY
TEST(where_blocks_cannot_be_reserved_mapped_outputs_are_still_written) {
    // The fallback of file systems without preallocation (macOS's ENOTSUP, musl): the
    // scratch file is only sized, and the output is the same as anywhere else.
    writeNpy(file("in.npy"), "{'descr': '<f8', 'fortran_order': True, 'shape': (1024, 1024), }",
             phaseSamples(false, false));
    const std::string call = "phasemend " + file("in.npy") + " -o ";
    Run read = mexrun(call + file("read.npy"));
    const std::string preload = "LD_PRELOAD=" NO_PREALLOCATION_LIBRARY
                                " ASAN_OPTIONS=verify_asan_link_order=0:$ASAN_OPTIONS ";
    const int raw = std::system((preload + MEXRUN + " --map " + call + file("mapped.npy") + " 2>" +
                                 file("stderr")).c_str());
    CHECK_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 0);
    CHECK_EQ(read.status, 0);
    NpyParts a = npyParts(file("read.npy")), b = npyParts(file("mapped.npy"));
    CHECK(a.data.size() == (size_t(8) << 20) && a.data == b.data && b.dataStart == 4096);
    CHECK(!scratchFilesLeft());
}
#endif
