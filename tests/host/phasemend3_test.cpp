// Whole calls of the built phasemend3.mexa64 through the standalone host: help,
// argument errors, a map's result equal to phasemend's, volumes unwrapped through their
// slices, the same bits for any thread count, memory.
#include "surfaces.h"
#include "test_support.h"
#include "unwrap.h"

#include <omp.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();
const double TwoPi = 6.283185307179586;

MexEntry phasemend3() {
    static MexEntry entry = builtExtension("phasemend3");
    return entry;
}

MexEntry phasemend() {
    static MexEntry entry = builtExtension("phasemend");
    return entry;
}

struct Volume {
    int rows, columns, slices;
    std::vector<double> samples;
    size_t index(int r, int c, int s) const {
        return static_cast<size_t>(r) + static_cast<size_t>(c) * rows + static_cast<size_t>(s) * rows * columns;
    }
};

// The result of one call (empty when it failed or set none), and the call.
struct Outcome {
    HostCallResult call;
    std::vector<double> result;
    std::vector<size_t> sides;
};

Outcome call(MexEntry entry, mxArray *input, const std::vector<double> &reference) {
    std::vector<const mxArray *> args = {input};
    std::vector<mxArray *> scalars;
    for (double v : reference) scalars.push_back(hostCreateScalar(v));
    args.insert(args.end(), scalars.begin(), scalars.end());
    Outcome o{hostCall(entry, 1, args), {}, {}};
    if (!o.call.failed && o.call.outputs[0]) {
        const mxArray *out = o.call.outputs[0];
        // A result in the input's class; single samples widened.
        if (hostClassOf(out) != hostClassOf(input)) recordFailure(__FILE__, __LINE__, "a result of another class");
        if (hostClassOf(out) == hostSingleClass) {
            const float *samples = static_cast<const float *>(hostDataOf(out));
            o.result.assign(samples, samples + mxGetNumberOfElements(out));
        } else {
            o.result.assign(mxGetPr(out), mxGetPr(out) + mxGetNumberOfElements(out));
        }
        for (double v : o.result)
            if (hostUnwritten(v)) recordFailure(__FILE__, __LINE__, "a result sample was never written");
        o.sides.assign(mxGetDimensions(out), mxGetDimensions(out) + mxGetNumberOfDimensions(out));
    }
    hostReleaseOutputs(&o.call);
    for (mxArray *a : scalars) hostDestroyArray(a);
    return o;
}

Outcome unwrap3(const Volume &v, const std::vector<double> &reference = {}) {
    mxArray *input = hostCreateArray(hostDoubleClass, {size_t(v.rows), size_t(v.columns), size_t(v.slices)});
    if (!v.samples.empty())
        std::copy(v.samples.begin(), v.samples.end(), static_cast<double *>(hostDataOf(input)));
    Outcome o = call(phasemend3(), input, reference);
    hostDestroyArray(input);
    return o;
}

// The volume in single: each sample rounded to single.
Outcome unwrap3Single(const Volume &v, const std::vector<double> &reference = {}) {
    mxArray *input = hostCreateArray(hostSingleClass, {size_t(v.rows), size_t(v.columns), size_t(v.slices)});
    float *samples = static_cast<float *>(hostDataOf(input));
    for (size_t i = 0; i < v.samples.size(); ++i) samples[i] = static_cast<float>(v.samples[i]);
    Outcome o = call(phasemend3(), input, reference);
    hostDestroyArray(input);
    return o;
}

// A smooth field through a volume: two Gaussian bumps in 3-D (a range of about 1.4 *
// peak radians, the steepest step between neighbours about 3 * peak / side) on a rise
// of one radian a slice, so that no two slices share a 2*pi offset by chance.
std::vector<double> smoothField(int rows, int columns, int slices, double peak) {
    std::vector<double> truth(static_cast<size_t>(rows) * columns * slices);
    for (int s = 0; s < slices; ++s)
        for (int c = 0; c < columns; ++c)
            for (int r = 0; r < rows; ++r) {
                double x = (c - 0.45 * columns) / columns, y = (r - 0.55 * rows) / rows,
                       z = (s - 0.5 * slices) / slices;
                truth[static_cast<size_t>(r) + static_cast<size_t>(c) * rows + static_cast<size_t>(s) * rows * columns] =
                    peak * std::exp(-(x * x + y * y + z * z) / 0.08) -
                    0.4 * peak * std::exp(-((x - 0.3) * (x - 0.3) + z * z) / 0.02) + 1.0 * s;
            }
    return truth;
}

// The volume wrapped, with voxels outside an ellipsoid missing.
Volume maskedVolume(const std::vector<double> &truth, int rows, int columns, int slices) {
    Volume v{rows, columns, slices, truth};
    for (int s = 0; s < slices; ++s)
        for (int c = 0; c < columns; ++c)
            for (int r = 0; r < rows; ++r) {
                double x = (c + 0.5) / columns - 0.5, y = (r + 0.5) / rows - 0.5, z = (s + 0.5) / slices - 0.5;
                size_t i = v.index(r, c, s);
                v.samples[i] = x * x / 0.22 + y * y / 0.2 + z * z / 0.24 > 1 ? NaN : wrapToPi(truth[i]);
            }
    return v;
}

bool sameResult(const std::vector<double> &a, const std::vector<double> &b) {
    bool same = a.size() == b.size();
    for (size_t i = 0; same && i < a.size(); ++i) same = sameBits(a[i], b[i]);
    return same;
}

}  // namespace

TEST(wrong_argument_counts_print_the_help_and_set_no_result) {
    mxArray *a = hostCreateScalar(1.0);
    for (int count : {0, 2, 3, 5}) {
        std::vector<const mxArray *> args(static_cast<size_t>(count), a);
        HostCallResult r = hostCall(phasemend3(), 1, args);
        CHECK(!r.failed && r.outputs[0] == nullptr);
        std::vector<std::string> lines = splitLines(r.printed);
        CHECK(lines.size() > 10 && lines.back() == "\n");
        CHECK(r.printed.find("unwrapped = phasemend3(wrapped,xref,yref,zref);") != std::string::npos);
        CHECK(r.printed.find("Applied Optics, Vol. 46, No. 26") != std::string::npos);
    }
    hostDestroyArray(a);
}

TEST(bad_arguments_end_the_call_with_an_error_before_anything_is_made) {
    const std::string refError =
        "   x_ref, y_ref and/or z_ref can not be smaller than 1 nor larger than the volume size.\n";
    const std::string wrappedError = "wrapped must be a full (not sparse) real single or double array.";
    const std::string sidesError = "wrapped must have at most three dimensions (rows, columns, slices).";
    const std::string refTypeError = "xref, yref and zref must be non-empty full (not sparse) double values.";
    const std::string refSidesError = "xref, yref and zref must not have more than two dimensions.";
    const std::string tooLarge = "wrapped is too large: its voxel and edge counts must stay below 2^31.";
    auto volume = []() { return hostCreateArray(hostDoubleClass, {3, 4, 5}); };  // x 1..4, y 1..3, z 1..5
    auto s = [](double v) { return hostCreateScalar(v); };
    struct Case { std::vector<mxArray *> args; std::string error; };
    Case cases[] = {
        {{volume(), s(0), s(1), s(1)}, refError},
        {{volume(), s(5), s(1), s(1)}, refError},
        {{volume(), s(1), s(4), s(1)}, refError},
        {{volume(), s(1), s(1), s(6)}, refError},
        {{volume(), s(1), s(1), s(0.5)}, refError},
        {{volume(), s(1), s(NaN), s(1)}, refError},
        {{volume(), s(1), s(1), s(Inf)}, refError},
        {{hostCreateOfClass(hostInt16Class, 3, 4)}, wrappedError},
        {{hostCreateArray(hostSingleClass, {3, 4, 2}, true)}, wrappedError},
        {{hostCreateSparse(3, 4)}, wrappedError},
        {{hostCreateArray(hostDoubleClass, {3, 4, 2}, true)}, wrappedError},
        {{hostCreateString("abc")}, wrappedError},
        {{hostCreateArray(hostDoubleClass, {3, 4, 2, 2})}, sidesError},
        {{volume(), hostCreateDouble(0, 0, false), s(1), s(1)}, refTypeError},
        // A text in a reference's place starts the options: it is no reference.
        {{volume(), s(1), s(1), hostCreateString("1")},
         "phasemend3 expects an option name ('Quality' or 'Periodic') in an option's place."},
        {{volume(), s(1), hostCreateArray(hostDoubleClass, {1, 1, 2}), s(1)}, refSidesError},
        // Sizes only, no data: refused before anything is read or made.
        {{hostCreateDoubleShapeOnly({2048, 1024, 1024})}, tooLarge},  // 2^31 voxels
        {{hostCreateDoubleShapeOnly({1024, 1024, 1024})}, tooLarge},  // 2^30 voxels, 3 * 2^30 edges
        {{hostCreateDoubleShapeOnly({1, 1, size_t(1) << 31})}, tooLarge},
    };
    for (Case &c : cases) {
        HostCallResult r = hostCall(phasemend3(), 1, std::vector<const mxArray *>(c.args.begin(), c.args.end()));
        CHECK(r.failed);
        CHECK_EQ(r.errorText, c.error);
        CHECK(r.outputs[0] == nullptr);
        CHECK_EQ(r.peakBytes, size_t(0));
        for (mxArray *a : c.args) hostDestroyArray(a);
    }
}

TEST(a_map_gives_phasemends_result) {
    // A 2-D matrix, or an M x N x 1 array (the same in MATLAB), with and without a
    // reference (slice 1): phasemend's bits.
    std::vector<double> noisy = gaussianSurface(90, 70, 5, 35.0, 4);
    addNoise(noisy, 1.2, 6);
    noisy = wrapAll(noisy);
    punchHoles(noisy, 90, 70, 4, 5, 3);
    noisy[17] = Inf;
    for (bool pinned : {false, true}) {
        mxArray *map = hostCreateMatrix(90, 70, noisy);
        Outcome expected = call(phasemend(), map, pinned ? std::vector<double>{33, 41} : std::vector<double>{});
        Outcome fromMatrix = call(phasemend3(), map, pinned ? std::vector<double>{33, 41, 1} : std::vector<double>{});
        hostDestroyArray(map);
        Outcome fromArray = unwrap3(Volume{90, 70, 1, noisy}, pinned ? std::vector<double>{33.9, 41, 1.2} : std::vector<double>{});
        CHECK(!expected.result.empty());
        CHECK(sameResult(fromMatrix.result, expected.result));
        CHECK(sameResult(fromArray.result, expected.result));
        CHECK(fromArray.sides == std::vector<size_t>({90, 70}));
    }
}

TEST(volumes_unwrap_through_their_slices) {
    // A field of about 14 radians in an ellipsoid: pinned, every valid voxel comes back
    // to the truth less the reference's own 2*pi steps; unpinned, up to one common
    // multiple of 2*pi. Lines of voxels (one row or one column through the slices)
    // unwrap along their one or two directions.
    struct Case { int rows, columns, slices; bool masked; double peak; };
    const Case cases[] = {
        {40, 36, 24, true, 10.0},
        {40, 36, 24, false, 10.0},
        {1, 30, 20, false, 8.0},
        {30, 1, 20, false, 8.0},
        {2, 2, 2, false, 1.0},
    };
    for (const Case &c : cases) {
        std::vector<double> truth = smoothField(c.rows, c.columns, c.slices, c.peak);
        Volume v = c.masked ? maskedVolume(truth, c.rows, c.columns, c.slices)
                            : Volume{c.rows, c.columns, c.slices, wrapAll(truth)};
        int r = c.rows / 2, col = c.columns / 2, s = c.slices / 2;
        size_t ref = v.index(r, col, s);
        for (bool pinned : {true, false}) {
            Outcome o = pinned ? unwrap3(v, {double(col + 1), double(r + 1), double(s + 1)}) : unwrap3(v);
            CHECK(o.sides == std::vector<size_t>({size_t(c.rows), size_t(c.columns), size_t(c.slices)}));
            if (o.result.size() != truth.size()) continue;
            double offset = pinned ? v.samples[ref] - truth[ref] : NaN;
            bool right = true;
            for (size_t i = 0; i < truth.size(); ++i) {
                if (std::isnan(v.samples[i])) {
                    right = right && std::isnan(o.result[i]);
                    continue;
                }
                double d = o.result[i] - truth[i];
                if (std::isnan(offset)) offset = TwoPi * std::round(d / TwoPi);
                right = right && std::fabs(d - offset) < 1e-9;
            }
            if (!right)
                recordFailure(__FILE__, __LINE__, std::to_string(c.rows) + "x" + std::to_string(c.columns) + "x" +
                                                      std::to_string(c.slices) + (pinned ? " pinned" : ""));
            if (pinned) CHECK(sameBits(o.result[ref], v.samples[ref]));
        }
    }
}

TEST(the_same_bits_for_any_thread_count) {
    // Noise and holes make loops whose steps disagree, where the order of merging
    // decides the result; the order must not depend on the threads.
    std::vector<double> truth = smoothField(34, 30, 22, 10.0);
    Volume v = maskedVolume(truth, 34, 30, 22);
    uint32_t state = 5;
    for (double &x : v.samples)
        if (!std::isnan(x)) x = wrapToPi(x + 2.2 * (uniform01(&state) - 0.5));
    v.samples[v.index(10, 10, 10)] = -Inf;
    int saved = omp_get_max_threads();
    std::vector<double> first;
    for (int threads : {1, 2, 3, 7}) {
        omp_set_num_threads(threads);
        Outcome o = unwrap3(v, {11, 12, 13});
        if (first.empty()) first = o.result;
        else if (!sameResult(o.result, first))
            recordFailure(__FILE__, __LINE__, std::to_string(threads) + " threads");
    }
    // In single: the double call on the same samples, widened, rounded once.
    Volume widened = v;
    for (double &x : widened.samples) x = static_cast<float>(x);
    std::vector<double> expected = unwrap3(widened, {11, 12, 13}).result;
    for (double &x : expected) x = static_cast<float>(x);
    for (int threads : {1, 3}) {
        omp_set_num_threads(threads);
        if (!sameResult(unwrap3Single(v, {11, 12, 13}).result, expected))
            recordFailure(__FILE__, __LINE__, "single with " + std::to_string(threads) + " threads");
    }
    omp_set_num_threads(saved);
    CHECK(!first.empty());
}

TEST(empty_volumes_and_memory) {
    for (std::vector<size_t> sides : {std::vector<size_t>{0, 3, 4}, {3, 0, 4}, {3, 4, 0}}) {
        mxArray *a = hostCreateArray(hostDoubleClass, sides);
        Outcome o = call(phasemend3(), a, {});
        CHECK(!o.call.failed && o.result.empty());
        CHECK(o.sides == std::vector<size_t>(mxGetDimensions(a), mxGetDimensions(a) + mxGetNumberOfDimensions(a)));
        hostDestroyArray(a);
    }
    // Beyond its input and its result: about three edges of 16 bytes a voxel and the
    // group links (8 bytes a voxel).
    Volume v{64, 64, 32, wrapAll(smoothField(64, 64, 32, 20.0))};
    Outcome o = unwrap3(v);
    size_t voxels = v.samples.size();
    size_t working = o.call.peakBytes - voxels * sizeof(double);
    if (working > 64 * voxels)
        recordFailure(__FILE__, __LINE__, std::to_string(working / voxels) + " bytes a voxel");
    // In single: no double copy of the input; the reliabilities go before the links.
    Outcome single = unwrap3Single(v);
    size_t singleWorking = single.call.peakBytes - voxels * sizeof(float);
    if (singleWorking > 56 * voxels)
        recordFailure(__FILE__, __LINE__, std::to_string(singleWorking / voxels) + " bytes a voxel in single");
}

TEST(options_regions_and_reliabilities) {
    // A noisy volume cut in two by a missing slice: its regions, numbered by first
    // voxel, against a flood fill over the six neighbours (across the borders of
    // periodic sides); its reliabilities against the stages; Quality's reliabilities
    // are minus the quality; the same bits for any thread count.
    const int M = 14, N = 12, P = 10;
    Volume v = maskedVolume(smoothField(M, N, P, 9.0), M, N, P);
    uint32_t state = 9;
    for (double &x : v.samples)
        if (!std::isnan(x)) x = wrapToPi(x + 1.5 * (uniform01(&state) - 0.5));
    for (int c = 0; c < N; ++c)
        for (int r = 0; r < M; ++r) v.samples[v.index(r, c, 4)] = NaN;
    std::vector<double> quality(v.samples.size());
    for (double &q : quality) q = uniform01(&state) < 0.05 ? NaN : 10.0 * uniform01(&state);
    struct Case { bool periodic[3]; bool withQuality; };
    const Case cases[] = {{{false, false, false}, false}, {{false, false, true}, false}, {{true, true, true}, false},
                          {{false, true, true}, true}};
    int saved = omp_get_max_threads();
    for (const Case &c : cases) {
        mxArray *input = hostCreateArray(hostDoubleClass, {size_t(M), size_t(N), size_t(P)});
        std::copy(v.samples.begin(), v.samples.end(), static_cast<double *>(hostDataOf(input)));
        mxArray *periodic = hostCreateMatrix(1, 3, {double(c.periodic[0]), double(c.periodic[1]), double(c.periodic[2])});
        mxArray *q = hostCreateArray(hostDoubleClass, {size_t(M), size_t(N), size_t(P)});
        std::copy(quality.begin(), quality.end(), static_cast<double *>(hostDataOf(q)));
        mxArray *periodicName = hostCreateString("Periodic"), *qualityName = hostCreateString("Quality");
        std::vector<const mxArray *> args = {input, periodicName, periodic};
        if (c.withQuality) args.insert(args.end(), {qualityName, q});
        auto valid = [&](size_t i) { return usableSample(v.samples[i]) && (!c.withQuality || usableSample(quality[i])); };

        // The regions: a flood fill from each voxel not yet reached, in memory order.
        std::vector<double> regions(v.samples.size(), 0.0);
        double regionCount = 0;
        const int sides[3] = {M, N, P};
        for (size_t seed = 0; seed < regions.size(); ++seed) {
            if (!valid(seed) || regions[seed] != 0) continue;
            regions[seed] = ++regionCount;
            std::vector<size_t> pending = {seed};
            while (!pending.empty()) {
                size_t i = pending.back();
                pending.pop_back();
                int position[3] = {int(i % M), int(i / M % N), int(i / (M * N))};
                for (int side = 0; side < 3; ++side)
                    for (int step : {-1, 1}) {
                        int q[3] = {position[0], position[1], position[2]};
                        q[side] += step;
                        if (q[side] < 0 || q[side] >= sides[side]) {
                            if (!c.periodic[side]) continue;
                            q[side] = (q[side] + sides[side]) % sides[side];
                        }
                        size_t j = v.index(q[0], q[1], q[2]);
                        if (valid(j) && regions[j] == 0) {
                            regions[j] = regionCount;
                            pending.push_back(j);
                        }
                    }
            }
        }
        // The reliabilities, from the stages.
        const GridShape shape = {M, N, P};
        std::vector<double> reliability(v.samples.size());
        initPixels(reliability.data(), N * P, M);
        computeReliability(v.samples.data(), reliability.data(), shape);
        computeBorderReliability(v.samples.data(), reliability.data(), shape, c.periodic);
        for (size_t i = 0; i < reliability.size(); ++i)
            reliability[i] = !valid(i) ? NaN : c.withQuality ? -quality[i] : reliability[i] >= kInitialReliability ? Inf : reliability[i];

        std::vector<double> first;
        for (int threads : {1, 3}) {
            omp_set_num_threads(threads);
            HostCallResult r = hostCall(phasemend3(), 3, args);
            CHECK(!r.failed);
            if (r.failed) continue;
            std::vector<double> out[3];
            for (int k = 0; k < 3; ++k) out[k].assign(mxGetPr(r.outputs[k]), mxGetPr(r.outputs[k]) + regions.size());
            CHECK(sameResult(out[1], regions));
            CHECK(sameResult(out[2], reliability));
            if (first.empty()) first = out[0];
            else CHECK(sameResult(out[0], first));
            hostReleaseOutputs(&r);
        }
        CHECK(regionCount == (c.periodic[2] ? 1 : 2));
        for (mxArray *a : {input, periodic, q, periodicName, qualityName}) hostDestroyArray(a);
    }
    omp_set_num_threads(saved);
}
