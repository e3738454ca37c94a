// Whole calls of the built phasemend.mexa64 through the standalone host, as MATLAB
// would make them: help, argument errors, results on known surfaces, memory.
#include "surfaces.h"
#include "test_support.h"
#include "unwrap_reference.h"

#include <omp.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();
const double TwoPi = 6.283185307179586;

MexEntry phasemend() {
    static MexEntry entry = builtExtension("phasemend");
    return entry;
}

// Calls phasemend on a map (and a reference when given); returns the result samples.
struct Outcome {
    HostCallResult call;
    std::vector<double> result;
};

Outcome unwrap(int rows, int columns, const std::vector<double> &map, double xref = NaN,
               double yref = NaN) {
    mxArray *input = hostCreateMatrix(rows, columns, map);
    std::vector<const mxArray *> args = {input};
    mxArray *x = nullptr, *y = nullptr;
    if (!std::isnan(xref)) {
        x = hostCreateScalar(xref);
        y = hostCreateScalar(yref);
        args.push_back(x);
        args.push_back(y);
    }
    Outcome o{hostCall(phasemend(), 1, args), {}};
    if (!o.call.failed && o.call.outputs[0]) {
        const double *pr = mxGetPr(o.call.outputs[0]);
        o.result.assign(pr, pr + mxGetNumberOfElements(o.call.outputs[0]));
        // The result is made unfilled: every sample must have been written.
        for (double v : o.result)
            if (hostUnwritten(v)) recordFailure(__FILE__, __LINE__, "a result sample was never written");
    }
    hostReleaseOutputs(&o.call);
    hostDestroyArray(input);
    if (x) hostDestroyArray(x);
    if (y) hostDestroyArray(y);
    return o;
}

// Calls phasemend on a single map (its samples rounded to single from map), with a
// reference when xref > 0; the single result's samples, widened. Fails the test
// when the result is not single.
std::vector<double> unwrapSingle(int rows, int columns, const std::vector<double> &map, int xref = 0,
                                 int yref = 0) {
    mxArray *input = hostCreateOfClass(hostSingleClass, rows, columns);
    float *samples = static_cast<float *>(hostDataOf(input));
    for (size_t i = 0; i < map.size(); ++i) samples[i] = static_cast<float>(map[i]);
    mxArray *x = hostCreateScalar(xref), *y = hostCreateScalar(yref);
    std::vector<const mxArray *> args = {input};
    if (xref > 0) args = {input, x, y};
    HostCallResult r = hostCall(phasemend(), 1, args);
    std::vector<double> result;
    if (r.failed || !r.outputs[0] || hostClassOf(r.outputs[0]) != hostSingleClass) {
        recordFailure(__FILE__, __LINE__, "a single map gave no single result: " + r.errorText);
    } else {
        const float *out = static_cast<const float *>(hostDataOf(r.outputs[0]));
        result.assign(out, out + mxGetNumberOfElements(r.outputs[0]));
    }
    hostReleaseOutputs(&r);
    for (mxArray *a : {input, x, y}) hostDestroyArray(a);
    return result;
}

// True when result - truth is one common multiple of 2*pi on every valid sample (to
// 1e-9) and the result is NaN exactly where the map is missing.
bool equalUpToCommonTwoPi(const std::vector<double> &result, const std::vector<double> &truth,
                          const std::vector<double> &wrapped) {
    if (result.size() != truth.size()) return false;
    double offset = NaN;
    for (size_t i = 0; i < truth.size(); ++i) {
        if (std::isnan(wrapped[i])) {
            if (!std::isnan(result[i])) return false;
            continue;
        }
        double d = result[i] - truth[i];
        if (std::isnan(offset)) {
            offset = TwoPi * std::round(d / TwoPi);
        }
        if (!(std::fabs(d - offset) <= 1e-9)) return false;
    }
    return true;
}

}  // namespace

TEST(wrong_argument_counts_print_the_help_and_set_no_result) {
    mxArray *a = hostCreateScalar(1.0);
    for (int count : {0, 2, 4}) {
        std::vector<const mxArray *> args(static_cast<size_t>(count), a);
        HostCallResult r = hostCall(phasemend(), 1, args);
        CHECK(!r.failed);
        CHECK(r.outputs[0] == nullptr);
        std::vector<std::string> lines = splitLines(r.printed);
        CHECK_EQ(lines.size(), size_t(13));
        if (lines.size() != 13) continue;
        CHECK_EQ(lines[0], std::string("Returns the 2D unwrapped phase map using a non-continuous path.\n"));
        CHECK_EQ(lines[2], std::string("\t\tunwrapped = phasemend(wrapped,xref,yref);\n"));
        CHECK_EQ(lines[5], std::string("\t\t-xref and yref is x and y location of a known point (optionnal),\n"));
        CHECK(lines[10][0] == '\t' && lines[10].find("Herraez") != std::string::npos &&
              lines[10].find("Gdeisat") != std::string::npos);
        CHECK_EQ(lines[11], std::string("\tApplied Optics, Vol. 41, No. 35, pp. 7437, 2002\n"));
        CHECK_EQ(lines[12], std::string("\n"));
        CHECK_EQ(r.blocksReleased, size_t(0));
    }
    hostDestroyArray(a);
}

TEST(bad_arguments_end_the_call_with_an_error_before_anything_is_made) {
    const std::string refError =
        "   x_ref and/or y_ref can not be smaller than 1 nor larger than the matrix size.\n";
    std::vector<double> map(12, 0.5);  // 3 rows, 4 columns
    struct Case { mxArray *wrapped, *x, *y; std::string error; };
    auto dbl = [&]() { return hostCreateMatrix(3, 4, map); };
    const std::string wrappedError = "wrapped must be a full (not sparse) single or double matrix.";
    const std::string refTypeError = "xref and yref must be non-empty full (not sparse) double values.";
    const std::string sidesError =
        "wrapped must be a 2-D matrix; for a volume use phasemend3, and for a stack of independent "
        "maps unwrap each slice wrapped(:,:,k) on its own.";
    const std::string refSidesError = "xref and yref must not have more than two dimensions.";
    Case cases[] = {
        {dbl(), hostCreateScalar(0), hostCreateScalar(1), refError},
        {dbl(), hostCreateScalar(1), hostCreateScalar(0), refError},
        {dbl(), hostCreateScalar(5), hostCreateScalar(1), refError},
        {dbl(), hostCreateScalar(1), hostCreateScalar(4), refError},
        {dbl(), hostCreateScalar(0.99), hostCreateScalar(1), refError},
        {dbl(), hostCreateScalar(NaN), hostCreateScalar(1), refError},
        {dbl(), hostCreateScalar(1), hostCreateScalar(Inf), refError},
        {dbl(), hostCreateScalar(4294967297.0), hostCreateScalar(1), refError},
        {dbl(), hostCreateScalar(-1e300), hostCreateScalar(1), refError},
        {hostCreateOfClass(hostInt32Class, 3, 4), nullptr, nullptr, wrappedError},
        {hostCreateOfClass(hostLogicalClass, 3, 4), nullptr, nullptr, wrappedError},
        {hostCreateString("abc"), nullptr, nullptr, wrappedError},
        {hostCreateOfClass(hostCellClass, 1, 1), nullptr, nullptr, wrappedError},
        {hostCreateOfClass(hostStructClass, 1, 1), nullptr, nullptr, wrappedError},
        {hostCreateSparse(3, 4), nullptr, nullptr, wrappedError},
        {dbl(), hostCreateDouble(0, 0, false), hostCreateScalar(1), refTypeError},
        {dbl(), hostCreateScalar(1), hostCreateDouble(1, 0, false), refTypeError},
        // A text in the reference's place starts the options: a misspelled name is named.
        {dbl(), hostCreateString("Qualty"), hostCreateScalar(1),
         "phasemend has no option 'Qualty'; its options are 'Quality', 'Periodic', 'TileSize' and 'Progress'."},
        {dbl(), hostCreateScalar(1), hostCreateSparse(1, 1), refTypeError},
        {dbl(), hostCreateOfClass(hostInt32Class, 1, 1), hostCreateScalar(1), refTypeError},
        // A third side must not be read as more columns (phase carried across slices).
        {hostCreateArray(hostDoubleClass, {4, 4, 3}), nullptr, nullptr, sidesError},
        {hostCreateArray(hostDoubleClass, {3, 4, 1, 2}), hostCreateScalar(1), hostCreateScalar(1), sidesError},
        {dbl(), hostCreateArray(hostDoubleClass, {1, 1, 2}), hostCreateScalar(1), refSidesError},
    };
    // Every error carries its identifier.
    const std::map<std::string, std::string> identifiers = {
        {refError, "phasekit:phasemend:referenceOutside"},
        {wrappedError, "phasekit:phasemend:wrappedType"},
        {refTypeError, "phasekit:phasemend:referenceType"},
        {sidesError, "phasekit:phasemend:wrappedDimensions"},
        {refSidesError, "phasekit:phasemend:referenceDimensions"},
        {"phasemend has no option 'Qualty'; its options are 'Quality', 'Periodic', 'TileSize' and 'Progress'.",
         "phasekit:phasemend:unknownOption"}};
    for (Case &c : cases) {
        std::vector<const mxArray *> args = {c.wrapped};
        if (c.x) args = {c.wrapped, c.x, c.y};
        HostCallResult r = hostCall(phasemend(), 1, args);
        CHECK(r.failed);
        CHECK_EQ(r.errorText, c.error);
        CHECK_EQ(r.errorId, identifiers.at(c.error));
        CHECK(r.outputs[0] == nullptr);
        CHECK_EQ(r.blocksReleased, size_t(0));
        CHECK_EQ(r.peakBytes, size_t(0));
        for (mxArray *a : {c.wrapped, c.x, c.y})
            if (a) hostDestroyArray(a);
    }
}

TEST(grids_too_large_for_32_bit_indices_are_refused_before_allocation) {
    // Shape-only arrays: the refusal must come from the sizes alone, before any data
    // is read (the arrays hold one sample) or anything is allocated.
    const std::string tooLarge = "wrapped is too large: its pixel and edge counts must stay below 2^31 (phasemend "
                                 "with 'TileSize' unwraps larger maps in tiles).";
    struct Case { size_t rows, columns; };
    const Case cases[] = {
        {size_t(1) << 31, 1},       // 2^31 pixels
        {65536, 32768},             // 2^31 pixels
        {46341, 46341},             // just over 2^31 pixels
        {3, 715827881},             // fewer than 2^31 pixels, but 2^31 edges or more
        {1, size_t(1) << 32},       // a side that does not fit 32 bits
    };
    for (const Case &c : cases) {
        mxArray *a = hostCreateDoubleShapeOnly(c.rows, c.columns);
        HostCallResult r = hostCall(phasemend(), 1, {a});
        CHECK(r.failed);
        CHECK_EQ(r.errorText, tooLarge);
        CHECK_EQ(r.peakBytes, size_t(0));
        hostDestroyArray(a);
    }
    // Tiled calls go past 2^31 pixels, within 32-bit tiles, sides and node numbers.
    const std::string tilesTooLarge = "phasemend needs tiles of fewer than 2^30 pixels, and rows and columns below "
                                      "2^31 each: give a smaller TileSize.";
    const std::string tilesTooMany = "phasemend cannot keep the skeletons of this many tiles: give a larger TileSize.";
    struct Tiled { size_t rows, columns; double tileRows, tileColumns; std::string error; };
    const Tiled tiled[] = {
        {1, size_t(1) << 32, 1024, 1024, tilesTooLarge},
        {65536, 32768, 65536, 32768, tilesTooLarge},
        {46341, 46341, 1, 1, tilesTooMany},
    };
    mxArray *name = hostCreateString("TileSize");
    for (const Tiled &c : tiled) {
        mxArray *a = hostCreateDoubleShapeOnly(c.rows, c.columns), *sides = hostCreateMatrix(1, 2, {c.tileRows, c.tileColumns});
        HostCallResult r = hostCall(phasemend(), 1, {a, name, sides});
        CHECK_EQ(r.errorText, c.error);
        CHECK_EQ(r.peakBytes, size_t(0));
        hostDestroyArray(a);
        hostDestroyArray(sides);
    }
    hostDestroyArray(name);
}

TEST(empty_maps_return_an_empty_result_of_the_same_size) {
    struct Case { size_t rows, columns; };
    const Case cases[] = {{0, 0}, {0, 5}, {5, 0}};
    for (const Case &c : cases) {
        mxArray *a = hostCreateDouble(c.rows, c.columns, false);
        HostCallResult r = hostCall(phasemend(), 1, {a});
        CHECK(!r.failed);
        CHECK(r.outputs[0] != nullptr);
        if (r.outputs[0]) {
            CHECK_EQ(mxGetM(r.outputs[0]), c.rows);
            CHECK_EQ(mxGetN(r.outputs[0]), c.columns);
            CHECK(!mxIsComplex(r.outputs[0]));
        }
        hostReleaseOutputs(&r);
        hostDestroyArray(a);
    }
}

TEST(special_maps) {
    struct Case {
        const char *name;
        int rows, columns;
        std::vector<double> map;
        std::vector<double> expected;  // NaN where NaN is expected
    };
    const double a = 3.0, b = -3.0;
    Case cases[] = {
        {"all NaN", 2, 2, {NaN, NaN, NaN, NaN}, {NaN, NaN, NaN, NaN}},
        {"one valid pixel", 2, 2, {NaN, 1.25, NaN, NaN}, {NaN, 1.25, NaN, NaN}},
        {"infinite samples are missing", 1, 4, {0.5, Inf, -Inf, 0.25}, {0.5, NaN, NaN, 0.25}},
        {"small steps stay unchanged", 2, 3, {0.1, 1.2, -0.5, 2.0, 0.0, -1.0}, {0.1, 1.2, -0.5, 2.0, 0.0, -1.0}},
        {"two pixels across a wrap", 1, 2, {a, b}, {a, b + TwoPi}},
    };
    for (Case &c : cases) {
        Outcome o = unwrap(c.rows, c.columns, c.map);
        CHECK(!o.call.failed);
        bool same = o.result.size() == c.expected.size();
        for (size_t i = 0; same && i < c.expected.size(); ++i)
            same = std::isnan(c.expected[i]) ? std::isnan(o.result[i])
                                             : sameBits(o.result[i], c.expected[i]);
        if (!same) recordFailure(__FILE__, __LINE__, std::string("special map: ") + c.name);
    }
}

TEST(single_lines_unwrap_along_their_edges) {
    // A ramp of 1.1 rad per sample along one row, then one column.
    const int n = 40;
    std::vector<double> truth(n), wrapped(n);
    for (int k = 0; k < n; ++k) {
        truth[k] = 1.1 * k - 7.0;
        wrapped[k] = wrapToPi(truth[k]);
    }
    for (bool row : {true, false}) {
        Outcome o = row ? unwrap(1, n, wrapped) : unwrap(n, 1, wrapped);
        CHECK(equalUpToCommonTwoPi(o.result, truth, wrapped));
    }
}

TEST(smooth_surfaces_unwrap_to_the_truth) {
    struct Case { int rows, columns, holes; uint32_t seed; };
    const Case cases[] = {{96, 128, 0, 1}, {128, 96, 6, 2}, {150, 150, 12, 3}, {3, 200, 0, 4}};
    for (const Case &c : cases) {
        std::vector<double> truth = gaussianSurface(c.rows, c.columns, 5, 30.0, c.seed);
        std::vector<double> wrapped = wrapAll(truth);
        if (c.holes) punchHoles(wrapped, c.rows, c.columns, c.holes, 6, c.seed);
        Outcome o = unwrap(c.rows, c.columns, wrapped);
        CHECK(!o.call.failed);
        CHECK_EQ(equalUpToCommonTwoPi(o.result, truth, wrapped) ? c.seed : 0u, c.seed);
        // The surface really needs unwrapping: it spans many multiples of 2*pi.
        double lo = 1e300, hi = -1e300;
        for (double v : truth) { lo = std::min(lo, v); hi = std::max(hi, v); }
        CHECK(hi - lo > 4 * TwoPi);
        // Only the small offsets array is left to the host; nothing else.
        CHECK_EQ(o.call.blocksReleased, size_t(1));
        CHECK_EQ(hostLiveBlocks(), size_t(0));

        // With a reference the truth is shifted so that the reference keeps its
        // wrapped value. Pick a valid pixel away from the corner.
        int refRow = c.rows / 3, refColumn = c.columns / 2;
        size_t refIndex = refRow + static_cast<size_t>(refColumn) * c.rows;
        if (std::isnan(wrapped[refIndex])) continue;
        Outcome pinned = unwrap(c.rows, c.columns, wrapped, refColumn + 1.7, refRow + 1.2);
        CHECK(sameBits(pinned.result[refIndex], wrapped[refIndex]));
        std::vector<double> shifted(truth);
        double shift = wrapped[refIndex] - truth[refIndex];
        for (double &v : shifted) v += shift;
        bool exact = true;
        for (size_t i = 0; i < truth.size(); ++i)
            if (!std::isnan(wrapped[i])) exact = exact && std::fabs(pinned.result[i] - shifted[i]) < 1e-9;
        CHECK(exact);
    }
}

TEST(reference_position_rules) {
    // A 1x3 row 3, -3, 3: unwrapped relative to whichever pixel is pinned.
    std::vector<double> map = {3.0, -3.0, 3.0, NaN};
    struct Case { double x, y; std::vector<double> expected; };
    const Case cases[] = {
        {1.0, 1.0, {3.0, -3.0 + TwoPi, 3.0, NaN}},
        {2.9, 1.0, {3.0 - TwoPi, -3.0, 3.0 - TwoPi, NaN}},   // truncation: column 2
        {4.0, 1.0, {3.0, -3.0 + TwoPi, 3.0, NaN}},           // a missing pixel pins nothing
    };
    for (const Case &c : cases) {
        Outcome o = unwrap(1, 4, map, c.x, c.y);
        CHECK(!o.call.failed);
        CHECK_EQ(o.result.size(), size_t(4));
        if (o.result.size() != 4) continue;
        for (int k = 0; k < 3; ++k) CHECK_NEAR(o.result[k], c.expected[k], 1e-12);
        CHECK(std::isnan(o.result[3]));
    }
    // The bottom-right pixel (xref = N, yref = M) is accepted.
    std::vector<double> square = gaussianSurface(5, 7, 2, 10.0, 9);
    Outcome o = unwrap(5, 7, wrapAll(square), 7, 5);
    CHECK(!o.call.failed);
    CHECK(sameBits(o.result[34], wrapToPi(square[34])));
}

TEST(complex_input_uses_its_real_part) {
    std::vector<double> re = {3.0, -3.0}, im = {100.0, -100.0};
    mxArray *a = hostCreateMatrix(1, 2, re, im);
    HostCallResult r = hostCall(phasemend(), 1, {a});
    CHECK(!r.failed && r.outputs[0] && !mxIsComplex(r.outputs[0]));
    if (r.outputs[0]) CHECK(sameBits(mxGetPr(r.outputs[0])[1], -3.0 + TwoPi));
    hostReleaseOutputs(&r);
    hostDestroyArray(a);
}

TEST(whole_calls_match_the_plain_pipeline_bit_for_bit_for_any_thread_count) {
    // Noise and holes make loops whose steps disagree, where the order of merging
    // decides the result; quantised values give many equal keys. The command (parallel
    // ordering, linked merge) must give the plain pipeline's bits, call after call.
    struct Case { const char *name; int rows, columns; std::vector<double> map; int xref, yref; };
    std::vector<double> noisy = gaussianSurface(200, 180, 6, 40.0, 21);
    addNoise(noisy, 1.4, 5);
    noisy = wrapAll(noisy);
    punchHoles(noisy, 200, 180, 10, 5, 8);
    std::vector<double> quantised(150 * 130);
    for (size_t i = 0; i < quantised.size(); ++i)
        quantised[i] = i % 17 == 3 ? NaN : -3.0 + 1.5 * static_cast<double>((i * 7919) % 5);
    std::vector<double> line = wrapAll(gaussianSurface(1, 9000, 4, 30.0, 3));
    std::vector<double> infinite = noisy;
    for (size_t i = 7; i < infinite.size(); i += 97) infinite[i] = (i / 97) % 2 ? Inf : -Inf;
    const Case cases[] = {
        {"noisy surface with holes", 200, 180, noisy, 0, 0},
        {"noisy surface, pinned", 200, 180, noisy, 91, 57},
        {"quantised with holes", 150, 130, quantised, 0, 0},
        {"quantised, pinned on a hole's border", 150, 130, quantised, 3, 4},
        {"+-Inf samples, pinned", 200, 180, infinite, 17, 200},
        {"single row", 1, 9000, line, 4000, 1},
        {"single column", 9000, 1, line, 0, 0},
        {"all NaN", 40, 30, std::vector<double>(1200, NaN), 0, 0},
    };
    int saved = omp_get_max_threads();
    for (const Case &c : cases) {
        std::vector<double> expected = c.xref ? referenceUnwrap(c.map, c.rows, c.columns, c.xref - 1, c.yref - 1)
                                              : referenceUnwrap(c.map, c.rows, c.columns, c.columns + 1, c.rows + 1);
        for (int threads : {1, 2, 3, 7}) {
            omp_set_num_threads(threads);
            Outcome o = c.xref ? unwrap(c.rows, c.columns, c.map, c.xref, c.yref)
                               : unwrap(c.rows, c.columns, c.map);
            bool same = o.result.size() == expected.size();
            for (size_t i = 0; same && i < expected.size(); ++i) same = sameBits(o.result[i], expected[i]);
            if (!same)
                recordFailure(__FILE__, __LINE__, std::string(c.name) + " with " + std::to_string(threads) + " threads");
        }
        // The same map in single gives the plain pipeline's result for its samples
        // widened to double, rounded once to single.
        std::vector<double> widened(c.map.size());
        for (size_t i = 0; i < c.map.size(); ++i) widened[i] = static_cast<float>(c.map[i]);
        std::vector<double> expectedSingle =
            c.xref ? referenceUnwrap(widened, c.rows, c.columns, c.xref - 1, c.yref - 1)
                   : referenceUnwrap(widened, c.rows, c.columns, c.columns + 1, c.rows + 1);
        for (int threads : {1, 3}) {
            omp_set_num_threads(threads);
            std::vector<double> single = unwrapSingle(c.rows, c.columns, c.map, c.xref, c.yref);
            bool same = single.size() == expectedSingle.size();
            for (size_t i = 0; same && i < single.size(); ++i)
                same = sameBits(static_cast<float>(single[i]), static_cast<float>(expectedSingle[i]));
            if (!same)
                recordFailure(__FILE__, __LINE__, std::string(c.name) + " in single with " + std::to_string(threads) +
                                                      " threads");
        }
    }
    omp_set_num_threads(saved);
}

namespace {

// A call with options and all three outputs; each output's samples widened to double
// (empty when the call failed).
struct OptionOutcome {
    std::string error;
    std::vector<double> outputs[3];
};

OptionOutcome unwrapWithOptions(int rows, int columns, const std::vector<double> &map, bool single,
                                const std::vector<const mxArray *> &extra) {
    mxArray *input = hostCreateOfClass(single ? hostSingleClass : hostDoubleClass, rows, columns);
    for (size_t i = 0; i < map.size(); ++i) hostSetParts(input, i, single ? static_cast<float>(map[i]) : map[i], 0);
    std::vector<const mxArray *> args = {input};
    args.insert(args.end(), extra.begin(), extra.end());
    HostCallResult r = hostCall(phasemend(), 3, args);
    OptionOutcome o;
    o.error = r.errorText;
    const HostClass classes[3] = {single ? hostSingleClass : hostDoubleClass, hostDoubleClass,
                                  single ? hostSingleClass : hostDoubleClass};
    for (int k = 0; k < 3 && !r.failed; ++k) {
        if (!r.outputs[k] || hostClassOf(r.outputs[k]) != classes[k] || mxGetM(r.outputs[k]) != size_t(rows) ||
            mxGetN(r.outputs[k]) != size_t(columns)) {
            recordFailure(__FILE__, __LINE__, "output " + std::to_string(k + 1) + " of another class or size");
            continue;
        }
        for (size_t i = 0; i < map.size(); ++i) o.outputs[k].push_back(hostRealPart(r.outputs[k], i));
        for (double v : o.outputs[k])
            if (hostUnwritten(v)) recordFailure(__FILE__, __LINE__, "an output sample was never written");
    }
    hostReleaseOutputs(&r);
    hostDestroyArray(input);
    return o;
}

}  // namespace

TEST(options_match_the_plain_pipeline_bit_for_bit_for_any_thread_count) {
    // Quality maps (with non-finite values marking pixels missing) and periodic sides,
    // alone and together, with and without a reference; the regions and reliabilities
    // too. A cut across the map makes two regions that only a periodic side joins.
    struct Case { const char *name; int rows, columns; std::vector<double> map, quality; bool periodic[2]; int xref, yref; };
    std::vector<double> noisy = gaussianSurface(120, 90, 6, 30.0, 4);
    addNoise(noisy, 1.2, 8);
    noisy = wrapAll(noisy);
    punchHoles(noisy, 120, 90, 6, 4, 6);
    std::vector<double> cut = noisy;
    for (int r = 0; r < 120; ++r) cut[static_cast<size_t>(r + 45 * 120)] = NaN;
    std::vector<double> magnitude(noisy.size());
    for (size_t i = 0; i < magnitude.size(); ++i)
        magnitude[i] = i % 251 == 7 ? NaN : i % 409 == 3 ? -Inf : static_cast<double>((i * 2654435761u) % 1000) / 7.0;
    // A ring: the phase climbs around the columns and closes across the border.
    std::vector<double> ring(64 * 40);
    for (int c = 0; c < 40; ++c)
        for (int r = 0; r < 64; ++r) ring[static_cast<size_t>(r + c * 64)] = std::remainder(3.0 * TwoPi * c / 40 + 0.05 * r, TwoPi);
    const std::vector<double> none;
    const Case cases[] = {
        {"quality", 120, 90, noisy, magnitude, {false, false}, 0, 0},
        {"quality, pinned", 120, 90, noisy, magnitude, {false, false}, 30, 70},
        {"periodic rows", 120, 90, cut, none, {true, false}, 0, 0},
        {"periodic columns, pinned", 120, 90, cut, none, {false, true}, 3, 5},
        {"both periodic", 64, 40, ring, none, {true, true}, 0, 0},
        {"both periodic with quality", 120, 90, cut, magnitude, {true, true}, 12, 1},
        {"regions of a cut map", 120, 90, cut, none, {false, false}, 0, 0},
        {"three rows, periodic", 3, 500, wrapAll(gaussianSurface(3, 500, 3, 20.0, 2)), none, {true, false}, 0, 0},
    };
    int saved = omp_get_max_threads();
    for (const Case &c : cases) {
        ReferenceOptions ro;
        ro.quality = c.quality;
        ro.periodic[0] = c.periodic[0];
        ro.periodic[1] = c.periodic[1];
        // A single quality (here, for single maps) is read as its values widened.
        mxArray *quality = c.quality.empty() ? nullptr : hostCreateMatrix(c.rows, c.columns, c.quality);
        mxArray *singleQuality = c.quality.empty() ? nullptr : hostCreateOfClass(hostSingleClass, c.rows, c.columns);
        for (size_t i = 0; singleQuality && i < c.quality.size(); ++i)
            static_cast<float *>(hostDataOf(singleQuality))[i] = static_cast<float>(c.quality[i]);
        mxArray *periodic = hostCreateOfClass(hostLogicalClass, 1, 2);
        static_cast<bool *>(hostDataOf(periodic))[0] = c.periodic[0];
        static_cast<bool *>(hostDataOf(periodic))[1] = c.periodic[1];
        mxArray *x = hostCreateScalar(c.xref), *y = hostCreateScalar(c.yref);
        mxArray *qualityName = hostCreateString("quality"), *periodicName = hostCreateString("PERIODIC");
        std::vector<const mxArray *> extra;
        if (c.xref) extra = {x, y};
        extra.push_back(periodicName);
        extra.push_back(periodic);
        if (quality) {
            extra.push_back(qualityName);
            extra.push_back(quality);
        }
        for (bool single : {false, true}) {
            std::vector<double> samples = c.map;
            if (single)
                for (double &v : samples) v = static_cast<float>(v);
            if (single && quality) {
                extra.back() = singleQuality;
                for (double &q : ro.quality) q = static_cast<float>(q);
            }
            ReferenceResult expected = referenceUnwrap(samples, c.rows, c.columns, c.xref ? c.xref - 1 : c.columns + 1,
                                                       c.xref ? c.yref - 1 : c.rows + 1, ro);
            const std::vector<double> *wanted[3] = {&expected.unwrapped, &expected.regions, &expected.reliability};
            for (int threads : {1, 3}) {
                omp_set_num_threads(threads);
                OptionOutcome o = unwrapWithOptions(c.rows, c.columns, c.map, single, extra);
                for (int k = 0; k < 3; ++k) {
                    bool same = o.outputs[k].size() == wanted[k]->size();
                    for (size_t i = 0; same && i < wanted[k]->size(); ++i) {
                        const double w = (*wanted[k])[i];
                        same = single && k != 1 ? sameBits(static_cast<float>(o.outputs[k][i]), static_cast<float>(w))
                                                : sameBits(o.outputs[k][i], w);
                    }
                    if (!same)
                        recordFailure(__FILE__, __LINE__, std::string(c.name) + (single ? " in single" : "") +
                                                              ", output " + std::to_string(k + 1) + ", " +
                                                              std::to_string(threads) + " threads " + o.error);
                }
            }
        }
        for (mxArray *a : {quality, singleQuality, periodic, x, y, qualityName, periodicName})
            if (a) hostDestroyArray(a);
    }
    omp_set_num_threads(saved);
}

TEST(option_errors_name_the_command_and_leave_nothing) {
    std::vector<double> map(12, 0.5);  // 3 rows, 4 columns
    mxArray *wrapped = hostCreateMatrix(3, 4, map), *thin = hostCreateMatrix(2, 6, map);
    mxArray *quality = hostCreateMatrix(3, 4, map), *wrongSize = hostCreateMatrix(4, 3, map);
    mxArray *complexQuality = hostCreateOfClass(hostDoubleClass, 3, 4, true);
    mxArray *integerQuality = hostCreateOfClass(hostInt32Class, 3, 4), *sparse = hostCreateSparse(3, 4);
    mxArray *three = hostCreateMatrix(1, 3, {1, 0, 1}), *nan = hostCreateScalar(NaN), *text = hostCreateString("yes");
    mxArray *one = hostCreateScalar(1), *column = hostCreateMatrix(2, 1, {1, 0});
    mxArray *q = hostCreateString("Quality"), *p = hostCreateString("periodic"), *unknown = hostCreateString("Qual");
    const std::string noName =
        "phasemend expects an option name ('Quality', 'Periodic', 'TileSize' or 'Progress') in an option's place.";
    const std::string qualityError =
        "phasemend needs a Quality that is a full real single or double array of the size of wrapped.";
    const std::string periodicError =
        "phasemend needs a Periodic that is a logical or numeric scalar, or a vector of two (rows, columns).";
    struct Case { std::vector<const mxArray *> args; std::string error; };
    const Case cases[] = {
        {{wrapped, q, quality, unknown, one},
         "phasemend has no option 'Qual'; its options are 'Quality', 'Periodic', 'TileSize' and 'Progress'."},
        {{wrapped, q}, "phasemend was given the option 'Quality' without a value."},
        {{wrapped, q, quality, p}, "phasemend was given the option 'periodic' without a value."},
        {{wrapped, one, one, q, quality, one, one}, noName},
        {{wrapped, q, wrongSize}, qualityError},
        {{wrapped, q, complexQuality}, qualityError},
        {{wrapped, q, integerQuality}, qualityError},
        {{wrapped, q, sparse}, qualityError},
        {{wrapped, p, three}, periodicError},
        {{wrapped, p, nan}, periodicError},
        {{wrapped, p, text}, periodicError},
        {{thin, p, column}, "phasemend cannot make a dimension of fewer than three samples periodic."},
    };
    // TileSize: one or two positive whole numbers, nothing else.
    mxArray *t = hostCreateString("TileSize");
    std::vector<mxArray *> badTiles = {hostCreateScalar(0), hostCreateScalar(-3), hostCreateScalar(2.5),
                                       nan, hostCreateScalar(Inf), three, hostCreateMatrix(1, 2, {4, 0}),
                                       text, hostCreateMatrix(1, 1, {4}, {1}), hostCreateDouble(0, 0, false),
                                       hostCreateDouble(1, 0, false), hostCreateOfClass(hostLogicalClass, 1, 1),
                                       hostCreateSparse(1, 1), hostCreateMatrix(2, 2, {4, 4, 4, 4}),
                                       hostCreateArray(hostDoubleClass, {1, 1, 2})};
    static_cast<bool *>(hostDataOf(badTiles[11]))[0] = true;
    std::vector<Case> tileCases;
    for (mxArray *bad : badTiles)
        tileCases.push_back({{wrapped, t, bad},
                             "phasemend needs a TileSize that is a positive whole number, or two of them (rows, "
                             "columns)."});
    mxArray *volume = hostCreateArray(hostDoubleClass, {3, 4, 2});
    tileCases.push_back({{volume, t, one}, ""});  // phasemend3 has no TileSize: checked below
    for (const Case &c : cases) {
        HostCallResult r = hostCall(phasemend(), 3, c.args);
        CHECK(r.failed);
        CHECK_EQ(r.errorText, c.error);
        CHECK(r.outputs[0] == nullptr);
        CHECK_EQ(r.peakBytes, size_t(0));
    }
    for (size_t k = 0; k + 1 < tileCases.size(); ++k) {
        HostCallResult r = hostCall(phasemend(), 1, tileCases[k].args);
        CHECK_EQ(r.errorText, tileCases[k].error);
        CHECK_EQ(r.peakBytes, size_t(0));
        hostReleaseOutputs(&r);
    }
    HostCallResult volumeCall = hostCall(builtExtension("phasemend3"), 1, tileCases.back().args);
    CHECK_EQ(volumeCall.errorText, std::string("phasemend3 has no option 'TileSize'; its options are 'Quality' and "
                                               "'Periodic'."));
    for (mxArray *a : badTiles)
        if (a != nan && a != three && a != text) hostDestroyArray(a);
    hostDestroyArray(volume);
    hostDestroyArray(t);
    // A repeated name: the last value holds (here, only the thin map's columns wrap).
    mxArray *columnsOnly = hostCreateMatrix(1, 2, {0, 1});
    HostCallResult last = hostCall(phasemend(), 1, {thin, p, one, p, columnsOnly});
    hostDestroyArray(columnsOnly);
    CHECK(!last.failed);
    hostReleaseOutputs(&last);
    for (mxArray *a : {wrapped, thin, quality, wrongSize, complexQuality, integerQuality, sparse, three, nan, text, one,
                       column, q, p, unknown})
        hostDestroyArray(a);
}

TEST(working_memory_stays_within_56_bytes_a_pixel) {
    // Beyond its input and its result: the edges (16 bytes, about two a pixel) and the
    // group links (8 bytes a pixel), about 40 bytes a pixel in all.
    const int side = 600;
    std::vector<double> map = wrapAll(gaussianSurface(side, side, 5, 30.0, 9));
    Outcome o = unwrap(side, side, map);
    const size_t pixels = static_cast<size_t>(side) * side;
    const size_t working = o.call.peakBytes - pixels * sizeof(double);
    CHECK(o.result.size() == pixels);
    if (working > 56 * pixels)
        recordFailure(__FILE__, __LINE__, std::to_string(working / pixels) + " bytes a pixel");
    // A single map has no double copy, and its reliabilities an array of their own
    // (the single result has no room for them).
    mxArray *single = hostCreateOfClass(hostSingleClass, side, side);
    for (size_t i = 0; i < pixels; ++i) static_cast<float *>(hostDataOf(single))[i] = static_cast<float>(map[i]);
    HostCallResult r = hostCall(phasemend(), 1, {single});
    const size_t singleWorking = r.peakBytes - pixels * sizeof(float);
    CHECK(!r.failed);
    if (singleWorking > 56 * pixels)
        recordFailure(__FILE__, __LINE__, std::to_string(singleWorking / pixels) + " bytes a pixel in single");
    hostReleaseOutputs(&r);
    hostDestroyArray(single);
    // Every option and output: no more working memory beyond the three outputs.
    mxArray *input = hostCreateMatrix(side, side, map), *quality = hostCreateMatrix(side, side, map);
    mxArray *qualityName = hostCreateString("Quality"), *periodicName = hostCreateString("Periodic");
    mxArray *every = hostCreateScalar(1);
    HostCallResult all = hostCall(phasemend(), 3, {input, qualityName, quality, periodicName, every});
    CHECK(!all.failed);
    const size_t allWorking = all.peakBytes - 3 * pixels * sizeof(double);
    if (allWorking > 56 * pixels)
        recordFailure(__FILE__, __LINE__, std::to_string(allWorking / pixels) + " bytes a pixel with every option");
    hostReleaseOutputs(&all);
    for (mxArray *a : {input, quality, qualityName, periodicName, every}) hostDestroyArray(a);
}

TEST(tiled_calls_give_the_stable_order_result_for_any_tiles_and_threads) {
    // The tiled call's result is defined without tiles: equal keys taken in edge array
    // order, steps counted from each region's first pixel. Maps with loops whose steps
    // disagree (noise), many equal keys (noise-free ramps, a few phase levels, a
    // quantised quality), regions cut by lines and holes, isolated pixels, infinite
    // samples; tiles of 1 x 1, uneven, not dividing the map, larger than it.
    struct Case { const char *name; int rows, columns; std::vector<double> map, quality; bool periodic[2]; int xref, yref; };
    std::vector<double> noisy = gaussianSurface(70, 90, 5, 30.0, 11);
    addNoise(noisy, 1.5, 3);
    noisy = wrapAll(noisy);
    punchHoles(noisy, 70, 90, 4, 4, 5);
    for (int c = 0; c < 90; ++c) noisy[static_cast<size_t>(40 + c * 70)] = NaN;  // a line cutting two regions
    for (int r = 0; r < 70; r += 2) noisy[static_cast<size_t>(r + 61 * 70)] = NaN;
    std::vector<double> ramp(60 * 50), levels(60 * 50), sparse(60 * 50), infinite = noisy;
    for (size_t i = 0; i < ramp.size(); ++i) {
        const double r = static_cast<double>(i % 60), c = static_cast<double>(i / 60);
        ramp[i] = wrapToPi(0.9 * r - 0.7 * c);
        levels[i] = -3.0 + 1.5 * static_cast<double>((i * 2654435761u >> 7) % 5);
        sparse[i] = (i * 2246822519u >> 9) % 3 == 0 ? NaN : wrapToPi(1.3 * r + 0.4 * c);
    }
    for (size_t i = 5; i < infinite.size(); i += 53) infinite[i] = i % 2 ? Inf : -Inf;
    std::vector<double> fewLevels = noisy;  // a noisy phase on six levels: loops disagree, keys tie
    for (double &v : fewLevels) v = std::round(v / (TwoPi / 6)) * (TwoPi / 6) - 0.01;
    std::vector<double> quantisedQuality(60 * 50);
    for (size_t i = 0; i < quantisedQuality.size(); ++i) quantisedQuality[i] = static_cast<double>((i * 40503u) % 4);
    std::vector<double> ring(40 * 36);
    for (int c = 0; c < 36; ++c)
        for (int r = 0; r < 40; ++r)
            ring[static_cast<size_t>(r + c * 40)] = std::remainder(2.0 * TwoPi * c / 36 + 3.0 * TwoPi * r / 40, TwoPi);
    const std::vector<double> none;
    const Case cases[] = {
        {"noisy with holes and cut lines", 70, 90, noisy, none, {false, false}, 0, 0},
        {"noisy, pinned", 70, 90, noisy, none, {false, false}, 33, 52},
        {"noise-free ramp", 60, 50, ramp, none, {false, false}, 0, 0},
        {"five phase levels", 60, 50, levels, none, {false, false}, 7, 9},
        {"noisy phase on six levels", 70, 90, fewLevels, none, {false, false}, 0, 0},
        {"isolated pixels", 60, 50, sparse, none, {false, false}, 0, 0},
        {"+-Inf samples, pinned", 70, 90, infinite, none, {false, false}, 90, 70},
        {"quantised quality", 60, 50, levels, quantisedQuality, {false, false}, 0, 0},
        {"periodic ring", 40, 36, ring, none, {true, true}, 0, 0},
        {"periodic columns, quality, pinned", 60, 50, sparse, quantisedQuality, {false, true}, 50, 60},
        {"single row", 1, 300, wrapAll(gaussianSurface(1, 300, 3, 30.0, 4)), none, {false, true}, 0, 0},
        {"single column", 300, 1, std::vector<double>(levels.begin(), levels.begin() + 300), none, {false, false}, 1, 200},
    };
    const int tileSides[][2] = {{1, 1}, {7, 7}, {16, 5}, {3, 1000}, {1000, 1000}};
    int saved = omp_get_max_threads();
    for (const Case &c : cases) {
        ReferenceOptions ro;
        ro.quality = c.quality;
        ro.periodic[0] = c.periodic[0];
        ro.periodic[1] = c.periodic[1];
        ro.stableOrder = true;
        mxArray *quality = c.quality.empty() ? nullptr : hostCreateMatrix(c.rows, c.columns, c.quality);
        mxArray *periodic = hostCreateOfClass(hostLogicalClass, 1, 2);
        static_cast<bool *>(hostDataOf(periodic))[0] = c.periodic[0];
        static_cast<bool *>(hostDataOf(periodic))[1] = c.periodic[1];
        mxArray *x = hostCreateScalar(c.xref), *y = hostCreateScalar(c.yref);
        mxArray *qualityName = hostCreateString("Quality"), *periodicName = hostCreateString("Periodic");
        mxArray *tileName = hostCreateString("tilesize");
        for (bool single : {false, true}) {
            std::vector<double> samples = c.map;
            if (single)
                for (double &v : samples) v = static_cast<float>(v);
            ReferenceResult expected = referenceUnwrap(samples, c.rows, c.columns, c.xref ? c.xref - 1 : c.columns + 1,
                                                       c.xref ? c.yref - 1 : c.rows + 1, ro);
            const std::vector<double> *wanted[3] = {&expected.unwrapped, &expected.regions, &expected.reliability};
            for (const int *sides : tileSides) {
                // Square tiles as one number (of an integer class: any numeric class serves).
                mxArray *tile = hostCreateMatrix(1, 2, {double(sides[0]), double(sides[1])});
                if (sides[0] == sides[1]) {
                    hostDestroyArray(tile);
                    tile = hostCreateOfClass(hostInt32Class, 1, 1);
                    static_cast<int32_t *>(hostDataOf(tile))[0] = sides[0];
                }
                std::vector<const mxArray *> extra;
                if (c.xref) extra = {x, y};
                extra.insert(extra.end(), {periodicName, periodic, tileName, tile});
                if (quality) extra.insert(extra.end(), {qualityName, quality});
                for (int threads : {1, 2, 3}) {
                    if (single && threads != 2) continue;
                    omp_set_num_threads(threads);
                    OptionOutcome o = unwrapWithOptions(c.rows, c.columns, c.map, single, extra);
                    for (int k = 0; k < 3; ++k) {
                        bool same = o.outputs[k].size() == wanted[k]->size();
                        for (size_t i = 0; same && i < wanted[k]->size(); ++i) {
                            const double w = (*wanted[k])[i];
                            same = single && k != 1 ? sameBits(static_cast<float>(o.outputs[k][i]), static_cast<float>(w))
                                                    : sameBits(o.outputs[k][i], w);
                        }
                        if (!same)
                            recordFailure(__FILE__, __LINE__,
                                          std::string(c.name) + (single ? " in single" : "") + ", tiles " +
                                              std::to_string(sides[0]) + "x" + std::to_string(sides[1]) + ", output " +
                                              std::to_string(k + 1) + ", " + std::to_string(threads) + " threads " +
                                              o.error);
                    }
                }
                hostDestroyArray(tile);
            }
        }
        for (mxArray *a : {quality, periodic, x, y, qualityName, periodicName, tileName})
            if (a) hostDestroyArray(a);
    }
    omp_set_num_threads(saved);
}

TEST(tiled_calls_report_their_progress_when_asked_and_give_the_same_bits) {
    // About one line a 5% of the work, the last at 100%; nothing otherwise.
    std::vector<double> map = wrapAll(gaussianSurface(300, 200, 4, 30.0, 6));
    mxArray *input = hostCreateMatrix(300, 200, map), *tileName = hostCreateString("TileSize");
    mxArray *tile = hostCreateScalar(20), *progressName = hostCreateString("Progress");
    mxArray *yes = hostCreateOfClass(hostLogicalClass, 1, 1), *text = hostCreateString("yes");
    static_cast<bool *>(hostDataOf(yes))[0] = true;
    HostCallResult quiet = hostCall(phasemend(), 1, {input, tileName, tile});
    HostCallResult told = hostCall(phasemend(), 1, {input, tileName, tile, progressName, yes});
    CHECK(quiet.printed.empty());
    const std::vector<std::string> lines = splitLines(told.printed);
    CHECK(lines.size() >= 15 && lines.size() <= 25);
    CHECK(!lines.empty() && lines.back().find("phasemend: 100% (") == 0);
    bool same = quiet.outputs[0] && told.outputs[0];
    for (size_t i = 0; same && i < map.size(); ++i) same = sameBits(mxGetPr(quiet.outputs[0])[i], mxGetPr(told.outputs[0])[i]);
    CHECK(same);
    HostCallResult refused = hostCall(phasemend(), 1, {input, tileName, tile, progressName, text});
    CHECK_EQ(refused.errorText, std::string("phasemend needs a Progress that is a logical or numeric scalar."));
    for (HostCallResult *r : {&quiet, &told, &refused}) hostReleaseOutputs(r);
    for (mxArray *a : {input, tileName, tile, progressName, yes, text}) hostDestroyArray(a);
}
