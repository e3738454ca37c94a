// fuzz_input.h: turns the fuzzer's bytes into the arguments of a call: numbers (with the
// special values a user can type: NaN, infinities, signed zeros, huge and tiny ones),
// and host arrays of every kind an extension may be handed (real and complex doubles,
// other classes, text rows and matrices, sparse, cells, 3-D arrays, empty arrays and
// arrays that only claim a huge size). Bytes past the end read as zeros, so every
// input decodes to something.
#ifndef PHASEKIT_FUZZ_INPUT_H
#define PHASEKIT_FUZZ_INPUT_H

#include "minihost.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

struct FuzzInput {
    const uint8_t *data;
    size_t size;
    size_t at;

    uint8_t byte() { return at < size ? data[at++] : 0; }

    // 0 .. n - 1.
    uint32_t below(uint32_t n) {
        uint32_t v = byte();
        if (n > 256) v = v << 8 | byte();
        return n ? v % n : 0;
    }

    double number() {
        const double inf = std::numeric_limits<double>::infinity();
        const double specials[] = {std::numeric_limits<double>::quiet_NaN(), inf, -inf, 0.0, -0.0,
                                   3.141592653589793, -3.141592653589793, 1e-310, 1e300, -1e300,
                                   2147483648.0, -2147483649.0, 0.5, 1.0, 2.9, 65535.0};
        uint8_t kind = byte();
        if (kind < 16) return specials[kind];
        if (kind < 48) {
            double raw;
            uint8_t bytes[8];
            for (uint8_t &b : bytes) b = byte();
            std::memcpy(&raw, bytes, sizeof raw);
            return raw;
        }
        // Quantised values in -3.2 .. 3.2: many equal keys and wraps.
        return (static_cast<double>(byte()) - 128.0) / 40.0;
    }

    std::string text(size_t maxLength) {
        size_t n = below(static_cast<uint32_t>(maxLength + 1));
        std::string s;
        for (size_t k = 0; k < n; ++k) s += static_cast<char>(32 + byte() % 95);
        return s;
    }
};

// A host array of a kind chosen by the input; real double matrices are the most likely.
inline mxArray *fuzzArray(FuzzInput &in, uint32_t maxSide) {
    uint32_t kind = in.below(24);
    uint32_t rows = in.below(maxSide + 1), columns = in.below(maxSide + 1);
    switch (kind) {
    case 12: case 13: {
        mxArray *a = hostCreateDouble(rows, columns, true);
        for (size_t k = 0; k < mxGetNumberOfElements(a); ++k) {
            double re = in.number();
            hostSetParts(a, k, re, in.number());
        }
        return a;
    }
    case 14: {
        // Single, real or complex: the input's numbers rounded once.
        mxArray *a = hostCreateOfClass(hostSingleClass, rows, columns, in.below(3) == 0);
        for (size_t k = 0; k < mxGetNumberOfElements(a); ++k) {
            double re = in.number();
            hostSetParts(a, k, re, in.number());
        }
        return a;
    }
    case 15: return hostCreateOfClass(hostInt32Class, rows, columns);
    case 16: return hostCreateOfClass(hostLogicalClass, rows, columns);
    case 17: return hostCreateString(in.text(8));
    case 18: return hostCreateCharMatrix(rows % 3 + 1, columns % 5 + 1, in.text(15));
    case 19: return hostCreateSparse(rows, columns);
    case 20: return hostCreateOfClass(hostCellClass, 1, 1);
    case 21: {
        std::vector<size_t> sides = {rows % 4 + 1, columns % 4 + 1, in.below(3) + 1};
        return hostCreateArray(hostDoubleClass, sides, false);
    }
    case 22: {
        // Sizes of 2^31 elements or more, which every extension must refuse before
        // reading: the array holds one sample only.
        const size_t sizes[][2] = {{size_t(1) << 31, 1}, {65536, 32768}, {46341, 46341},
                                   {1, size_t(1) << 32}, {size_t(1) << 33, 7}};
        const size_t *pick = sizes[in.below(5)];
        return hostCreateDoubleShapeOnly(pick[0], pick[1]);
    }
    case 23: return hostCreateDouble(in.below(2) ? 0 : rows, in.below(2) ? columns : 0, false);
    default: {
        mxArray *a = hostCreateDouble(rows, columns, false);
        for (size_t k = 0; k < mxGetNumberOfElements(a); ++k) mxGetPr(a)[k] = in.number();
        return a;
    }
    }
}

// A volume: mostly a real double array of up to maxSide a side filled from the input,
// sometimes one that only claims a huge size, or any array of fuzzArray's.
inline mxArray *fuzzVolume(FuzzInput &in, uint32_t maxSide) {
    uint32_t kind = in.below(16);
    if (kind == 14) {
        const std::vector<size_t> sizes[] = {{2048, 1024, 1024}, {1024, 1024, 1024}, {1, 1, size_t(1) << 31},
                                             {3, 3, size_t(1) << 30}};
        return hostCreateDoubleShapeOnly(sizes[in.below(4)]);
    }
    if (kind == 15) return fuzzArray(in, maxSide);
    std::vector<size_t> sides = {in.below(maxSide + 1), in.below(maxSide + 1), in.below(maxSide + 1)};
    mxArray *a = hostCreateArray(kind == 13 ? hostSingleClass : hostDoubleClass, sides, false);
    for (size_t k = 0; k < mxGetNumberOfElements(a); ++k) hostSetParts(a, k, in.number(), 0);
    return a;
}

// A 1x1 double of the input's choosing, or now and then any array.
inline mxArray *fuzzScalar(FuzzInput &in) {
    if (in.below(8) == 0) return fuzzArray(in, 2);
    return hostCreateScalar(in.number());
}

// Stops the fuzzer with a message: an invariant of the call did not hold.
inline void fuzzFailure(const char *what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// What every unwrapped result must satisfy, sample by sample: NaN where the input is
// not finite, else the input plus a whole multiple of 2*pi, u = k*2*pi + in rounded
// twice, and once more to single for a single result (any input is accepted, so the
// bound on the rounding grows with the magnitudes involved).
inline void checkWholeSteps(const double *in, const double *u, size_t n, bool single = false,
                            const double *quality = nullptr) {
    const double twoPi = 6.283185307179586;
    const double unit = single ? 5.9604644775390625e-08 : 1.1102230246251565e-16;  // half an ulp at 1
    for (size_t i = 0; i < n; ++i) {
        if (!std::isfinite(in[i]) || (quality && !std::isfinite(quality[i]))) {
            if (!std::isnan(u[i])) fuzzFailure("a missing sample has a value");
            continue;
        }
        double shift = std::round((u[i] - in[i]) / twoPi) * twoPi;
        double slack = 8 * unit * (std::fabs(u[i]) + std::fabs(in[i]) + std::fabs(shift)) + 1e-300;
        if (!(std::fabs(u[i] - in[i] - shift) <= slack)) fuzzFailure("not a whole number of 2*pi steps");
    }
}

// What every unwrapped result must satisfy: the input's sides and class, a real array,
// whole 2*pi steps (checkWholeSteps), and the reference sample (when given: args after
// the input, 1-based column, row and slice) equal to its input when that is finite.
// With a quality map, a sample whose quality is not finite is missing too.
inline void checkUnwrapped(const mxArray *wrapped, const std::vector<const mxArray *> &args,
                           const mxArray *out, const mxArray *quality = nullptr) {
    if (!out) fuzzFailure("no result");
    const size_t dimensions = mxGetNumberOfDimensions(wrapped);
    if (mxGetNumberOfDimensions(out) != dimensions) fuzzFailure("result sides");
    for (size_t k = 0; k < dimensions; ++k)
        if (mxGetDimensions(out)[k] != mxGetDimensions(wrapped)[k]) fuzzFailure("result sides");
    if (mxIsComplex(out)) fuzzFailure("complex result");
    if (hostClassOf(out) != hostClassOf(wrapped)) fuzzFailure("result class");
    size_t n = mxGetNumberOfElements(out);
    if (n == 0) return;
    std::vector<double> in(n), u(n);
    for (size_t k = 0; k < n; ++k) {
        in[k] = hostRealPart(wrapped, k);
        u[k] = hostRealPart(out, k);
    }
    std::vector<double> q;
    for (size_t k = 0; quality && k < n; ++k) q.push_back(hostRealPart(quality, k));
    checkWholeSteps(in.data(), u.data(), n, hostClassOf(out) == hostSingleClass, quality ? q.data() : nullptr);
    if (args.size() < 3 || mxIsChar(args[1])) return;
    const size_t *sides = mxGetDimensions(wrapped);
    size_t column = static_cast<size_t>(mxGetPr(args[1])[0]) - 1;
    size_t row = static_cast<size_t>(mxGetPr(args[2])[0]) - 1;
    size_t slice = args.size() > 3 ? static_cast<size_t>(mxGetPr(args[3])[0]) - 1 : 0;
    size_t i = row + column * sides[0] + slice * sides[0] * sides[1];
    if (std::isfinite(in[i]) && std::isfinite(u[i]) && u[i] != in[i]) fuzzFailure("the reference sample moved");
}

// Name, Value pairs for phasemend and phasemend3 (rank: 2 or 3 sides), appended to
// owned: mostly a usable Quality (the wrapped array's sides, any numbers) or Periodic,
// sometimes a misspelt name, a missing value or an array of any kind. *quality: the
// Quality that holds if the call succeeds (the last one given), else null.
inline void fuzzOptions(FuzzInput &in, const mxArray *wrapped, int rank, std::vector<mxArray *> *owned,
                        const mxArray **quality) {
    // TileSize only where wrapped is a map; phasemend3 refuses it.
    const char *const names[] = {"Quality", "periodic", "PERIODIC", "quality", "Qualit", "Periodic2", "TileSize", "tilesize"};
    *quality = nullptr;
    uint32_t pairs = in.below(3);
    for (uint32_t k = 0; k < pairs; ++k) {
        const uint32_t pick = in.below(rank == 2 ? 8 : 6);
        owned->push_back(hostCreateString(names[pick]));
        if (in.below(16) == 0) return;  // a name without a value
        const uint32_t kind = in.below(8);
        mxArray *value;
        if (pick == 0 || pick == 3) {
            // (Not for arrays that only claim a huge size.)
            if (kind < 6 && (mxIsDouble(wrapped) || mxIsSingle(wrapped)) && mxGetNumberOfElements(wrapped) < 100000) {
                std::vector<size_t> sides(mxGetDimensions(wrapped), mxGetDimensions(wrapped) + mxGetNumberOfDimensions(wrapped));
                value = hostCreateArray(kind == 5 ? hostSingleClass : hostDoubleClass, sides, false);
                for (size_t i = 0; i < mxGetNumberOfElements(value); ++i) hostSetParts(value, i, in.number(), 0);
            } else {
                value = fuzzArray(in, 6);
            }
            // Any real full single or double of wrapped's sides is a usable quality.
            bool usable = (mxIsDouble(value) || mxIsSingle(value)) && !mxIsComplex(value) && !mxIsSparse(value) &&
                          mxGetNumberOfDimensions(value) == mxGetNumberOfDimensions(wrapped);
            for (size_t d = 0; usable && d < mxGetNumberOfDimensions(wrapped); ++d)
                usable = mxGetDimensions(value)[d] == mxGetDimensions(wrapped)[d];
            if (usable) *quality = value;
        } else if (pick >= 6) {
            // Tiles of one to a dozen pixels a side (square or not), or anything at all.
            if (kind < 6) {
                const size_t count = in.below(2) ? 2 : 1;
                value = hostCreateDouble(1, count, false);
                for (size_t i = 0; i < count; ++i) mxGetPr(value)[i] = 1 + in.below(12);
            } else {
                value = fuzzArray(in, 3);
            }
        } else if (kind < 5) {
            value = hostCreateOfClass(kind < 3 ? hostLogicalClass : hostDoubleClass, 1, in.below(2) ? rank : 1);
            for (size_t i = 0; i < mxGetNumberOfElements(value); ++i) {
                if (kind < 3) static_cast<bool *>(hostDataOf(value))[i] = in.below(2) != 0;
                else mxGetPr(value)[i] = in.below(2);
            }
        } else {
            value = fuzzArray(in, 3);
        }
        owned->push_back(value);
    }
}

// What the regions and reliability outputs must satisfy beside the result: their
// sides, region 0 and a NaN reliability exactly where the result is NaN, regions
// numbered 1, 2, ... by first pixel, and no reliability NaN elsewhere.
inline void checkExtraOutputs(const mxArray *unwrapped, const mxArray *regions, const mxArray *reliability) {
    const size_t n = mxGetNumberOfElements(unwrapped);
    if (!regions || mxGetNumberOfElements(regions) != n || hostClassOf(regions) != hostDoubleClass)
        fuzzFailure("regions sides or class");
    if (reliability && (mxGetNumberOfElements(reliability) != n || hostClassOf(reliability) != hostClassOf(unwrapped)))
        fuzzFailure("reliability sides or class");
    double highest = 0;
    for (size_t i = 0; i < n; ++i) {
        const bool missing = std::isnan(hostRealPart(unwrapped, i));
        const double region = mxGetPr(regions)[i];
        if (missing != (region == 0)) fuzzFailure("region 0 where the result is not missing, or the reverse");
        if (region > highest + 1 || region != std::floor(region)) fuzzFailure("regions out of order");
        if (region > highest) highest = region;
        if (reliability && missing != std::isnan(hostRealPart(reliability, i))) fuzzFailure("reliability NaN");
    }
}

// After a call: no host block may outlive it; then its outputs and arguments go.
inline void releaseCall(HostCallResult *result, const std::vector<mxArray *> &arguments) {
    if (hostLiveBlocks() != 0) fuzzFailure("host blocks outlive the call");
    hostReleaseOutputs(result);
    for (mxArray *a : arguments) hostDestroyArray(a);
}

#endif // PHASEKIT_FUZZ_INPUT_H
