// golden_test: phasemend, phasemend3 and kernsmooth_c on fixed inputs (double, and single
// maps made from them), through the standalone host, against digests of their output
// bytes checked in below. Every architecture and compiler must give these bytes: the
// inputs are made with integer and basic floating-point arithmetic only (exactly
// rounded everywhere), the commands use no fused multiply-add and sum in a fixed order. A NaN digests as one pattern, since
// processors differ in the sign of the NaN an invalid operation makes.
// Usage: golden_test EXTENSION_FOLDER [--print]
#include "minihost.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const double kPi = 3.141592653589793;

#if defined(_WIN32)
const char kSuffix[] = ".mexw64";
#else
const char kSuffix[] = ".mexa64";
#endif

struct Random {
    uint64_t state;
    uint32_t next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
    // -1..1 with all 53 bits random, so that products round (as in real data) and a
    // fused multiply-add shows; exact in every step.
    double uniform() {
        uint64_t bits = (static_cast<uint64_t>(next()) << 22) | (next() >> 9);
        return static_cast<double>(bits) * (1.0 / 4503599627370496.0) - 1;
    }
};

// FNV-1a over the bytes of every double, little-endian, NaN as one pattern; of a
// single result, over the bytes of every float.
struct Digest {
    uint64_t value = 1469598103934665603ull;
    void addBytes(uint64_t bits, int bytes) {
        for (int k = 0; k < bytes; ++k) {
            value ^= (bits >> (8 * k)) & 0xFF;
            value *= 1099511628211ull;
        }
    }
    void add(double v) {
        uint64_t bits;
        if (std::isnan(v)) bits = 0x7FF8000000000000ull;
        else std::memcpy(&bits, &v, sizeof bits);
        addBytes(bits, 8);
    }
    void addSingle(float v) {
        uint32_t bits;
        if (std::isnan(v)) bits = 0x7FC00000u;
        else std::memcpy(&bits, &v, sizeof bits);
        addBytes(bits, 4);
    }
};

// A single copy of a double array (each sample rounded once); the double one is
// destroyed.
mxArray *inSingle(mxArray *array) {
    std::vector<size_t> sides(mxGetDimensions(array), mxGetDimensions(array) + mxGetNumberOfDimensions(array));
    mxArray *single = hostCreateArray(hostSingleClass, sides, mxIsComplex(array));
    for (size_t i = 0; i < mxGetNumberOfElements(array); ++i)
        hostSetParts(single, i, hostRealPart(array, i), hostImagPart(array, i));
    hostDestroyArray(array);
    return single;
}

// A wrapped map of a polynomial surface with noise, holes, and optional Inf samples.
mxArray *wrappedMap(int rows, int columns, uint64_t seed, bool withInf) {
    mxArray *map = hostCreateDouble(rows, columns, false);
    double *p = mxGetPr(map);
    Random random{seed};
    for (int c = 0; c < columns; ++c)
        for (int r = 0; r < rows; ++r) {
            double x = (2.0 * c - columns) / columns, y = (2.0 * r - rows) / rows;
            double v = 14 * x * x - 9 * y * y * y + 6 * x * y + 3 * x + 0.6 * random.uniform();
            v -= 2 * kPi * std::floor((v + kPi) / (2 * kPi));
            bool hole = (x - 0.3) * (x - 0.3) + (y + 0.2) * (y + 0.2) < 0.05 || random.next() % 97 == 0;
            p[r + static_cast<size_t>(c) * rows] = hole ? std::nan("") : v;
            if (withInf && random.next() % 211 == 0) p[r + static_cast<size_t>(c) * rows] = random.next() % 2 ? INFINITY : -INFINITY;
        }
    if (withInf && columns > 3) {  // a whole missing column and row
        for (int r = 0; r < rows; ++r) p[r + static_cast<size_t>(columns / 3) * rows] = std::nan("");
        for (int c = 0; c < columns; ++c) p[rows / 2 + static_cast<size_t>(c) * rows] = std::nan("");
    }
    return map;
}

// A wrapped volume of a polynomial field with noise, inside an ellipsoid (NaN outside),
// with optional Inf samples and a missing slice.
mxArray *wrappedVolume(int rows, int columns, int slices, uint64_t seed, bool withInf) {
    mxArray *volume = hostCreateArray(hostDoubleClass, {size_t(rows), size_t(columns), size_t(slices)});
    double *p = mxGetPr(volume);
    Random random{seed};
    for (int s = 0; s < slices; ++s)
        for (int c = 0; c < columns; ++c)
            for (int r = 0; r < rows; ++r) {
                double x = (2.0 * c - columns) / columns, y = (2.0 * r - rows) / rows, z = (2.0 * s - slices) / slices;
                double v = 9 * x * x - 6 * y * y * y + 4 * x * z + 7 * z * z - 3 * y + 0.5 * random.uniform();
                v -= 2 * kPi * std::floor((v + kPi) / (2 * kPi));
                bool outside = x * x + y * y + 0.8 * z * z > 0.95 || random.next() % 89 == 0;
                size_t i = r + static_cast<size_t>(c) * rows + static_cast<size_t>(s) * rows * columns;
                p[i] = outside ? std::nan("") : v;
                if (withInf && random.next() % 173 == 0) p[i] = random.next() % 2 ? INFINITY : -INFINITY;
            }
    if (withInf && slices > 3)  // a whole missing slice
        for (size_t i = 0; i < static_cast<size_t>(rows) * columns; ++i)
            p[i + static_cast<size_t>(slices / 3) * rows * columns] = std::nan("");
    return volume;
}

mxArray *complexField(int rows, int columns, uint64_t seed, bool real) {
    mxArray *map = hostCreateDouble(rows, columns, !real);
    Random random{seed};
    for (size_t i = 0; i < static_cast<size_t>(rows) * columns; ++i) {
        double re = random.next() % 23 == 0 ? std::nan("") : random.uniform();
        double im = real ? 0.0 : random.next() % 29 == 0 ? std::nan("") : random.uniform();
        hostSetParts(map, i, re, im);
    }
    if (!real) hostSetParts(map, 5, INFINITY, hostImagPart(map, 5));
    return map;
}

// Binomial weights, the discrete Gaussian, of a side's length.
mxArray *binomialKernel(int side) {
    std::vector<double> row(1, 1.0);
    for (int k = 1; k < side; ++k) {
        std::vector<double> next(row.size() + 1, 0.0);
        for (size_t j = 0; j < row.size(); ++j) {
            next[j] += row[j];
            next[j + 1] += row[j];
        }
        row = next;
    }
    mxArray *kernel = hostCreateDouble(side, side, false);
    for (int c = 0; c < side; ++c)
        for (int r = 0; r < side; ++r) mxGetPr(kernel)[r + c * side] = row[r] * row[c] / 1024;
    return kernel;
}

// Binomial weights as one column.
mxArray *binomialColumn(int length) {
    mxArray *kernel = binomialKernel(length);
    mxArray *column = hostCreateDouble(length, 1, false);
    for (int r = 0; r < length; ++r) mxGetPr(column)[r] = mxGetPr(kernel)[r] * 32;
    hostDestroyArray(kernel);
    return column;
}

mxArray *patternKernel(int rows, int columns, uint64_t seed) {
    mxArray *kernel = hostCreateDouble(rows, columns, false);
    Random random{seed};
    for (int i = 0; i < rows * columns; ++i) mxGetPr(kernel)[i] = random.uniform() + 0.25;
    return kernel;
}

// A quality map of the given sides: values 0..10 (trust, larger is better), with NaN
// and Inf here and there (such pixels count as missing).
mxArray *qualityMap(const std::vector<size_t> &sides, uint64_t seed) {
    mxArray *quality = hostCreateArray(hostDoubleClass, sides);
    Random random{seed};
    for (size_t i = 0; i < mxGetNumberOfElements(quality); ++i) {
        uint32_t pick = random.next() % 101;
        mxGetPr(quality)[i] = pick == 0 ? std::nan("") : pick == 1 ? INFINITY : 5 + 5 * random.uniform();
    }
    return quality;
}

mxArray *logicalVector(std::vector<bool> flags) {
    mxArray *a = hostCreateOfClass(hostLogicalClass, 1, flags.size());
    for (size_t k = 0; k < flags.size(); ++k) static_cast<bool *>(hostDataOf(a))[k] = flags[k];
    return a;
}

struct Case {
    const char *name;
    uint64_t digest;
};

// The digests every build must reproduce.
const Case kExpected[] = {
    {"phasemend 257x193 holes", 0xbf723440556f216cull},
    {"phasemend 257x193 holes, reference", 0x17c6bd7989ca3218ull},
    {"phasemend 120x301 NaN and Inf, missing row and column, reference", 0x2c4b15b9059e2135ull},
    {"phasemend 1x1, 2x3 and 1x40", 0xc6f0689934470281ull},
    {"phasemend3 60x50x40 ellipsoid, reference", 0x74b4e212e0c8a205ull},
    {"phasemend3 40x30x24 NaN and Inf, missing slice, reference", 0x22a2ae28177a7a95ull},
    {"phasemend3 1x30x20, 25x1x16, 2x2x2 and 2-D 30x20", 0x1c29e68b9eaa609bull},
    {"kernsmooth_c 200x150 binomial 7x7", 0xae0768aa9850e9c2ull},
    {"kernsmooth_c 200x150 even 4x6 with negative weights", 0x2e56d9bc9d4969b1ull},
    {"kernsmooth_c 20x25 kernel 41x37", 0x072a99f100882758ull},
    {"kernsmooth_c 90x70 real map, 5x3 kernel with NaN and Inf weights", 0xe3753345ed93f19aull},
    {"phasemend single 120x301 NaN and Inf, missing row and column, reference", 0xe8c776a180c5dff8ull},
    {"phasemend3 single 40x30x24 NaN and Inf, missing slice, reference", 0xfbe5245eac9041fcull},
    {"kernsmooth_c single 200x150 binomial 7x7, with the support", 0x34e4a5940ca2a7fbull},
    {"kernsmooth_c single 90x70 real map, single 5x3 kernel with NaN and Inf weights", 0x9c5eb805271b3129ull},
    {"phasemend 257x193 Quality, regions and reliability", 0xcef13ee5696ae20cull},
    {"phasemend 120x301 Periodic [1 1], reference, regions and reliability", 0xe4bd15aaf6c33a58ull},
    {"phasemend3 40x30x24 Quality and Periodic [0 1 1], regions and reliability", 0x601d9ee755fefcd4ull},
    {"phasemend3 single 40x30x24 Periodic true, reference, regions and reliability", 0xf23e2a916675d549ull},
    {"kernsmooth_c 200x150 separable u of 9, v of 6 with a negative weight, with the support", 0xcb1e0dd3b24b456eull},
    {"kernsmooth_c single 90x70 separable u of 131, single v of 5, with the support", 0x71be6d173350c107ull},
    {"phasemend 257x193 TileSize [40 64], reference, regions and reliability", 0xf59b2fe7801bf395ull},
    {"phasemend single 120x301 Periodic, Quality, TileSize 37, regions and reliability", 0xf57ee02511d8c663ull},
};

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: golden_test EXTENSION_FOLDER [--print]\n");
        return 2;
    }
    const bool print = argc > 2 && std::string(argv[2]) == "--print";
    HostExtension unwrap = hostLoadExtension(std::string(argv[1]) + "/phasemend" + kSuffix);
    HostExtension smooth = hostLoadExtension(std::string(argv[1]) + "/kernsmooth_c" + kSuffix);
    HostExtension volume = hostLoadExtension(std::string(argv[1]) + "/phasemend3" + kSuffix);
    if (!unwrap.entry || !smooth.entry || !volume.entry) {
        std::fprintf(stderr, "golden_test: cannot load the extensions: %s%s%s\n", unwrap.error.c_str(),
                     smooth.error.c_str(), volume.error.c_str());
        return 2;
    }
    std::vector<uint64_t> digests;
    auto run = [&](const HostExtension &ext, std::vector<mxArray *> inputs, Digest *digest, int outputs = 1) {
        HostCallResult r = hostCall(ext.entry, outputs, std::vector<const mxArray *>(inputs.begin(), inputs.end()));
        if (r.failed || r.outputs.size() < size_t(outputs)) {
            std::fprintf(stderr, "golden_test: a call failed: %s\n", r.errorText.c_str());
        } else {
            for (int k = 0; k < outputs; ++k) {
                const mxArray *out = r.outputs[k];
                if (!out) {
                    std::fprintf(stderr, "golden_test: a call set no output %d\n", k + 1);
                    continue;
                }
                const bool single = hostClassOf(out) == hostSingleClass;
                size_t n = mxGetNumberOfElements(out);
                for (int part = 0; part < (mxIsComplex(out) ? 2 : 1); ++part)
                    for (size_t i = 0; i < n; ++i) {
                        double v = part ? hostImagPart(out, i) : hostRealPart(out, i);
                        if (single) digest->addSingle(static_cast<float>(v));
                        else digest->add(v);
                    }
            }
        }
        hostReleaseOutputs(&r);
        for (mxArray *a : inputs) hostDestroyArray(a);
    };
    auto one = [&](const HostExtension &ext, std::vector<mxArray *> inputs, int outputs = 1) {
        Digest d;
        run(ext, inputs, &d, outputs);
        digests.push_back(d.value);
    };
    one(unwrap, {wrappedMap(257, 193, 1, false)});
    one(unwrap, {wrappedMap(257, 193, 1, false), hostCreateScalar(183), hostCreateScalar(13)});
    one(unwrap, {wrappedMap(120, 301, 2, true), hostCreateScalar(250), hostCreateScalar(9)});
    {
        Digest d;
        run(unwrap, {wrappedMap(1, 1, 3, false)}, &d);
        run(unwrap, {wrappedMap(2, 3, 4, false)}, &d);
        run(unwrap, {wrappedMap(1, 40, 5, false)}, &d);
        digests.push_back(d.value);
    }
    one(volume, {wrappedVolume(60, 50, 40, 13, false), hostCreateScalar(26), hostCreateScalar(31),
                 hostCreateScalar(20)});
    one(volume, {wrappedVolume(40, 30, 24, 14, true), hostCreateScalar(15), hostCreateScalar(20),
                 hostCreateScalar(14)});
    {
        Digest d;
        run(volume, {wrappedVolume(1, 30, 20, 15, false)}, &d);
        run(volume, {wrappedVolume(25, 1, 16, 16, false)}, &d);
        run(volume, {wrappedVolume(2, 2, 2, 17, false)}, &d);
        run(volume, {wrappedMap(30, 20, 18, true)}, &d);
        digests.push_back(d.value);
    }
    one(smooth, {complexField(200, 150, 6, false), binomialKernel(7)});
    {
        mxArray *kernel = patternKernel(4, 6, 7);
        mxGetPr(kernel)[3] = -2.5;
        mxGetPr(kernel)[9] = -0.75;
        one(smooth, {complexField(200, 150, 8, false), kernel});
    }
    one(smooth, {complexField(20, 25, 9, false), patternKernel(41, 37, 10)});
    {
        mxArray *kernel = patternKernel(5, 3, 11);
        mxGetPr(kernel)[4] = std::nan("");
        mxGetPr(kernel)[11] = INFINITY;
        one(smooth, {complexField(90, 70, 12, true), kernel});
    }
    // Single maps: double inputs rounded once.
    one(unwrap, {inSingle(wrappedMap(120, 301, 2, true)), hostCreateScalar(250), hostCreateScalar(9)});
    one(volume, {inSingle(wrappedVolume(40, 30, 24, 14, true)), hostCreateScalar(15), hostCreateScalar(20),
                 hostCreateScalar(14)});
    one(smooth, {inSingle(complexField(200, 150, 6, false)), binomialKernel(7)}, 2);
    {
        mxArray *kernel = patternKernel(5, 3, 11);
        mxGetPr(kernel)[4] = std::nan("");
        mxGetPr(kernel)[11] = INFINITY;
        one(smooth, {inSingle(complexField(90, 70, 12, true)), inSingle(kernel)});
    }
    // The options, with every output.
    one(unwrap, {wrappedMap(257, 193, 1, false), hostCreateString("Quality"), qualityMap({257, 193}, 19)}, 3);
    one(unwrap, {wrappedMap(120, 301, 2, true), hostCreateScalar(250), hostCreateScalar(9), hostCreateString("periodic"),
                 hostCreateMatrix(1, 2, {1, 1})}, 3);
    one(volume, {wrappedVolume(40, 30, 24, 14, true), hostCreateString("Quality"), qualityMap({40, 30, 24}, 20),
                 hostCreateString("Periodic"), logicalVector({false, true, true})}, 3);
    one(volume, {inSingle(wrappedVolume(40, 30, 24, 14, true)), hostCreateScalar(15), hostCreateScalar(20),
                 hostCreateScalar(14), hostCreateString("PERIODIC"), logicalVector({true})}, 3);
    // Separable kernels: u and v, odd and even, one longer than the map; the support.
    {
        mxArray *u = patternKernel(1, 9, 22), *v = patternKernel(6, 1, 23);
        mxGetPr(v)[2] = -0.4;
        one(smooth, {complexField(200, 150, 24, false), u, v}, 2);
    }
    one(smooth, {inSingle(complexField(90, 70, 25, false)), patternKernel(131, 1, 26), inSingle(binomialColumn(5))}, 2);
    // Tiled calls: tiles that do not divide the map, every output.
    one(unwrap, {wrappedMap(257, 193, 1, false), hostCreateScalar(183), hostCreateScalar(13),
                 hostCreateString("TileSize"), hostCreateMatrix(1, 2, {40, 64})}, 3);
    one(unwrap, {inSingle(wrappedMap(120, 301, 2, true)), hostCreateString("Periodic"), hostCreateScalar(1),
                 hostCreateString("Quality"), qualityMap({120, 301}, 21), hostCreateString("TileSize"),
                 hostCreateScalar(37)}, 3);

    int failures = 0;
    for (size_t k = 0; k < digests.size(); ++k) {
        if (print) {
            std::printf("    {\"%s\", 0x%016llxull},\n", kExpected[k].name, static_cast<unsigned long long>(digests[k]));
        } else if (digests[k] != kExpected[k].digest) {
            std::printf("golden_test: %s: digest %016llx, expected %016llx\n", kExpected[k].name,
                        static_cast<unsigned long long>(digests[k]),
                        static_cast<unsigned long long>(kExpected[k].digest));
            ++failures;
        }
    }
    if (print) return 0;
    std::printf("golden_test: %zu cases, %d differ\n", digests.size(), failures);

    // An error ends the call and reaches the host (on Windows it unwinds from the
    // host's DLL through the extension's frames).
    {
        mxArray *map = hostCreateDouble(3, 3, true);
        HostCallResult r = hostCall(smooth.entry, 1, {map});
        if (!r.failed || r.errorText != "This function takes zero, three or four arguments.") {
            std::printf("golden_test: kernsmooth_c with one argument did not end with its error\n");
            ++failures;
        }
        hostReleaseOutputs(&r);
        hostDestroyArray(map);
    }
    // Cleared and loaded again, as MATLAB's clear mex does, after the OpenMP threads
    // have run: the same bytes again.
    const std::string folder = argv[1];
    hostUnloadExtension(&unwrap);
    hostUnloadExtension(&smooth);
    unwrap = hostLoadExtension(folder + "/phasemend" + kSuffix);
    smooth = hostLoadExtension(folder + "/kernsmooth_c" + kSuffix);
    if (!unwrap.entry || !smooth.entry) {
        std::printf("golden_test: the extensions did not load again\n");
        return 1;
    }
    Digest again[2];
    run(unwrap, {wrappedMap(257, 193, 1, false)}, &again[0]);
    run(smooth, {complexField(200, 150, 6, false), binomialKernel(7)}, &again[1]);
    if (again[0].value != digests[0] || again[1].value != digests[7]) {
        std::printf("golden_test: after clear and reload the outputs differ\n");
        ++failures;
    }
    hostUnloadExtension(&unwrap);
    hostUnloadExtension(&smooth);
    hostUnloadExtension(&volume);
    std::printf("golden_test: %s\n", failures ? "FAILED" : "passed (with an error call and a clear and reload)");
    return failures ? 1 : 0;
}
