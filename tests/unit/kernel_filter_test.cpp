// Unit tests of the smoothing filter: bit-for-bit agreement with the plain formula on
// random maps with random NaN, on every path the processor has (scalar, SSE2, AVX2,
// AVX-512: border rows, blocks, the overlapping last block, scalar tails), in both
// hosts' layouts (separate parts, and interleaved pairs in and out), for double and
// single maps (the double formula on the single samples, rounded once), with the
// support (the weights each window used) beside the result.
#include "check.h"
#include "smooth.h"
#include "smooth_reference.h"

#include <cstdint>
#include <string>
#include <limits>
#include <vector>

namespace {

uint32_t state = 2024;
double uniform() {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) * (1.0 / 16777216.0);
}

struct Filtered {
    std::vector<double> re, im, support;  // single results widened
};

// Copies of values in Sample, and back.
template <typename Sample>
std::vector<Sample> as(const std::vector<double> &values) {
    return std::vector<Sample>(values.begin(), values.end());
}
template <typename Sample>
std::vector<double> widened(const std::vector<Sample> &values) {
    return std::vector<double>(values.begin(), values.end());
}

// The filter on the map in a host's layout and class: separate parts (or real parts
// alone) in and out, or (re, im) pairs in (real parts alone for a real map) and pairs
// out; samples and results of Sample, the support too.
// With vectors (u, v), the separable form kernsmooth_c(map, u, v) instead.
struct Vectors {
    std::vector<double> u, v;
};

template <typename Sample>
Filtered runFilterOf(const std::vector<double> &reIn, const std::vector<double> &imIn, int M, int N,
                     const std::vector<double> &kernel, int Mk, int Nk, FilterPath path, bool paired,
                     const Vectors *vectors = nullptr) {
    const size_t n = static_cast<size_t>(M) * N;
    const std::vector<Sample> re = as<Sample>(reIn), im = as<Sample>(imIn);
    std::vector<Sample> pairs;
    const SampleClass samples = sizeof(Sample) == sizeof(float) ? kSingleSamples : kDoubleSamples;
    SmoothingInput in{im.empty() ? kRealSamples : kSeparateParts, re.data(), im.empty() ? nullptr : im.data(),
                      M, N, kernel.data(), Mk, Nk, samples, nullptr};
    if (paired && !im.empty()) {
        for (size_t i = 0; i < n; ++i) {
            pairs.push_back(re[i]);
            pairs.push_back(im[i]);
        }
        in.layout = kPairedParts;
        in.re = pairs.data();
        in.im = nullptr;
    }
    std::vector<Sample> outRe(n), outIm(n), support(n), pairedOut(2 * n);
    SmoothingOutput where = {paired, paired ? pairedOut.data() : outRe.data(), paired ? nullptr : outIm.data(),
                             support.data(), samples};
    if (vectors) {
        const SeparableKernel separable = {vectors->u.data(), static_cast<int32_t>(vectors->u.size()),
                                           vectors->v.data(), static_cast<int32_t>(vectors->v.size())};
        filterMapSeparableOnPath(in, separable, path, where);
    } else {
        filterMapOnPath(in, path, where);
    }
    if (paired)
        for (size_t i = 0; i < n; ++i) {
            outRe[i] = pairedOut[2 * i];
            outIm[i] = pairedOut[2 * i + 1];
        }
    return Filtered{widened(outRe), widened(outIm), widened(support)};
}

Filtered runFilter(const std::vector<double> &re, const std::vector<double> &im, int M, int N,
                   const std::vector<double> &kernel, int Mk, int Nk, FilterPath path, bool paired, bool single) {
    return single ? runFilterOf<float>(re, im, M, N, kernel, Mk, Nk, path, paired)
                  : runFilterOf<double>(re, im, M, N, kernel, Mk, Nk, path, paired);
}

// The plain formula, for a double map or for the single samples of one (the double
// formula on them, each result rounded once).
Filtered reference(const std::vector<double> &re, const std::vector<double> &im, int M, int N,
                   const std::vector<double> &kernel, int Mk, int Nk, bool single) {
    Filtered want;
    if (!single) {
        referenceSmooth(re, im, M, N, kernel, Mk, Nk, &want.re, &want.im, &want.support);
        return want;
    }
    referenceSmooth(widened(as<float>(re)), widened(as<float>(im)), M, N, kernel, Mk, Nk, &want.re, &want.im,
                    &want.support);
    for (std::vector<double> *part : {&want.re, &want.im, &want.support})
        *part = widened(as<float>(*part));
    return want;
}

bool sameVectors(const std::vector<double> &a, const std::vector<double> &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!(sameBits(a[i], b[i]) || (std::isnan(a[i]) && std::isnan(b[i])))) return false;
    return true;
}

const FilterPath kPaths[] = {filterPathScalar, filterPathSse2, filterPathAvx2, filterPathAvx512};

}  // namespace

TEST(filter_matches_the_plain_formula_bit_for_bit) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case { int M, N, Mk, Nk; double nanShare; bool complex; bool negativeWeights; };
    const Case cases[] = {
        {1, 1, 1, 1, 0.0, true, false},
        {7, 5, 3, 3, 0.1, true, false},      // too few rows for a block
        {40, 9, 3, 3, 0.05, true, false},
        {41, 13, 9, 9, 0.05, true, false},
        {37, 6, 4, 4, 0.2, true, false},     // even sides
        {30, 8, 2, 6, 0.1, false, false},    // real map, two-row kernel
        {25, 25, 31, 31, 0.05, true, false}, // kernel larger than the map
        {64, 7, 5, 3, 0.3, true, true},      // sums can fall to zero or below
        {50, 4, 7, 1, 0.0, false, true},
        {19, 3, 1, 9, 0.5, true, false},
        {70, 5, 3, 5, 0.05, true, false},    // 68 interior rows: blocks, then an overlapping one
        {45, 4, 5, 1, 0.1, false, true},     // one-column kernel, real map
        {100, 3, 1, 1, 0.1, true, false},
        {23, 17, 201, 161, 0.1, true, true}, // far larger than the map, both sides
        {60, 5, 11, 3, 0.1, true, false},    // windows long enough to widen a single map once a column
        {520, 2, 451, 1, 0.05, true, true},  // too long for the widening buffer: read as it is
        {300, 270, 5, 7, 0.05, true, false}, // single maps in tiles: two of rows (with the overlap), two of columns
    };
    for (const Case &c : cases) {
        size_t count = static_cast<size_t>(c.M) * c.N;
        std::vector<double> re(count), im(c.complex ? count : 0);
        for (size_t i = 0; i < count; ++i) {
            re[i] = 4 * uniform() - 2;
            if (c.complex) im[i] = 4 * uniform() - 2;
            double u = uniform();
            if (u < c.nanShare / 2) re[i] = nan;
            else if (u < c.nanShare && c.complex) im[i] = nan;
        }
        std::vector<double> kernel(static_cast<size_t>(c.Mk) * c.Nk);
        for (double &w : kernel) w = c.negativeWeights ? 2 * uniform() - 1 : uniform();
        for (bool single : {false, true}) {
            const Filtered want = reference(re, im, c.M, c.N, kernel, c.Mk, c.Nk, single);
            for (FilterPath path : kPaths) {
                if (!filterPathAvailable(path)) continue;
                for (bool paired : {false, true}) {
                    Filtered got = runFilter(re, im, c.M, c.N, kernel, c.Mk, c.Nk, path, paired, single);
                    CHECK(sameVectors(got.re, want.re));
                    CHECK(sameVectors(got.im, want.im));
                    CHECK(sameVectors(got.support, want.support));
                }
            }
        }
    }
}

TEST(filter_weights_that_are_nan_or_infinite_follow_the_formula) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const int M = 70, N = 5;
    std::vector<double> re(M * N), im(M * N);
    for (int i = 0; i < M * N; ++i) {
        re[i] = uniform();
        im[i] = uniform() - 0.5;
    }
    for (double odd : {nan, inf, -inf}) {
        std::vector<double> kernel(9, 1.0);
        kernel[2] = odd;
        for (bool complex : {true, false}) {
            const std::vector<double> noImag;
            for (bool single : {false, true}) {
                const Filtered want = reference(re, complex ? im : noImag, M, N, kernel, 3, 3, single);
                for (FilterPath path : kPaths) {
                    if (!filterPathAvailable(path)) continue;
                    for (bool paired : {false, true}) {
                        Filtered got = runFilter(re, complex ? im : noImag, M, N, kernel, 3, 3, path, paired, single);
                        CHECK(sameVectors(got.re, want.re));
                        CHECK(sameVectors(got.im, want.im));
                        CHECK(sameVectors(got.support, want.support));
                    }
                }
            }
        }
    }
}


TEST(separable_filter_matches_the_plain_separable_formula_bit_for_bit) {
    // Every path and layout, double and single maps: tiles of rows (one, several, a
    // short last one), odd and even lengths, vectors longer than the map, negative,
    // zero, NaN and infinite weights, real maps, the support.
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    struct Case { int M, N, nu, nv; double nanShare; bool complex; const char *weights; };
    const Case cases[] = {
        {1, 1, 1, 1, 0.0, true, "plain"},
        {7, 5, 3, 3, 0.1, true, "plain"},
        {70, 9, 9, 5, 0.05, true, "plain"},        // two tiles down, the second short
        {130, 40, 4, 6, 0.2, true, "plain"},       // even lengths: their first 2h+1 weights
        {40, 13, 101, 61, 0.05, true, "negative"}, // longer than the map both ways
        {33, 8, 1, 7, 0.3, false, "negative"},     // real map; sums fall to zero or below
        {65, 6, 5, 5, 0.1, true, "zero"},          // zero weights among the others
        {50, 7, 3, 3, 0.1, true, "nan"},           // a NaN weight in u and an Inf in v
        {3, 200, 1, 31, 0.05, true, "plain"},      // few rows, many columns
    };
    for (const Case &c : cases) {
        const size_t count = static_cast<size_t>(c.M) * c.N;
        std::vector<double> re(count), im(c.complex ? count : 0);
        for (size_t i = 0; i < count; ++i) {
            re[i] = 4 * uniform() - 2;
            if (c.complex) im[i] = 4 * uniform() - 2;
            const double pick = uniform();
            if (pick < c.nanShare / 2) re[i] = nan;
            else if (pick < c.nanShare && c.complex) im[i] = nan;
        }
        Vectors vectors;
        const std::string kind = c.weights;
        for (int k = 0; k < c.nu; ++k) vectors.u.push_back(kind == "negative" ? 2 * uniform() - 1 : uniform());
        for (int k = 0; k < c.nv; ++k) vectors.v.push_back(kind == "negative" ? 2 * uniform() - 1 : uniform());
        if (kind == "zero") vectors.u[1] = vectors.v[3] = 0.0;
        if (kind == "nan") {
            vectors.u[0] = nan;
            vectors.v[2] = inf;
        }
        for (bool single : {false, true}) {
            Filtered want;
            const std::vector<double> r = single ? widened(as<float>(re)) : re, i = single ? widened(as<float>(im)) : im;
            referenceSmoothSeparable(r, i, c.M, c.N, vectors.u, vectors.v, &want.re, &want.im, &want.support);
            if (single)
                for (std::vector<double> *part : {&want.re, &want.im, &want.support}) *part = widened(as<float>(*part));
            for (FilterPath path : kPaths) {
                if (!filterPathAvailable(path)) continue;
                for (bool paired : {false, true}) {
                    const Filtered got = single ? runFilterOf<float>(re, im, c.M, c.N, {}, 0, 0, path, paired, &vectors)
                                                : runFilterOf<double>(re, im, c.M, c.N, {}, 0, 0, path, paired, &vectors);
                    if (!sameVectors(got.re, want.re) || !sameVectors(got.im, want.im) ||
                        !sameVectors(got.support, want.support))
                        recordFailure(__FILE__, __LINE__, std::string(filterPathName(path)) + (single ? " single" : "") +
                                                              (paired ? " paired" : "") + ", " + std::to_string(c.M) +
                                                              "x" + std::to_string(c.N));
                }
            }
        }
    }
}
