// Whole calls of the built kernsmooth_c.mexa64 through the standalone host: help, the
// error texts, local means, NaN handling, kernel shapes and real maps. Agreement with
// the plain formula on random maps is checked bit for bit in the unit tests.
#include "smooth_reference.h"
#include "test_support.h"

#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

MexEntry kernsmooth() {
    static MexEntry entry = builtExtension("kernsmooth_c");
    return entry;
}

struct Smoothed {
    bool failed;
    std::string error;
    bool complex;
    std::vector<double> re, im;
};

Smoothed smooth(int M, int N, const std::vector<double> &re, const std::vector<double> &im, int Mk,
                int Nk, const std::vector<double> &kernel) {
    mxArray *map = hostCreateMatrix(M, N, re, im);
    mxArray *k = hostCreateMatrix(Mk, Nk, kernel);
    HostCallResult r = hostCall(kernsmooth(), 1, {map, k});
    Smoothed s{r.failed, r.errorText, false, {}, {}};
    if (!r.failed && r.outputs[0]) {
        size_t n = mxGetNumberOfElements(r.outputs[0]);
        s.complex = mxIsComplex(r.outputs[0]);
        for (size_t i = 0; i < n; ++i) {
            s.re.push_back(hostRealPart(r.outputs[0], i));
            if (s.complex) s.im.push_back(hostImagPart(r.outputs[0], i));
            // The result is made unfilled: every sample must have been written.
            if (hostUnwritten(s.re.back()) || (s.complex && hostUnwritten(s.im.back())))
                recordFailure(__FILE__, __LINE__, "result sample " + std::to_string(i) + " never written");
        }
    }
    CHECK_EQ(r.blocksReleased, size_t(0));
    hostReleaseOutputs(&r);
    hostDestroyArray(map);
    hostDestroyArray(k);
    return s;
}

}  // namespace

TEST(help_and_argument_count) {
    HostCallResult help = hostCall(kernsmooth(), 1, {});
    CHECK(!help.failed && help.outputs[0] == nullptr);
    CHECK(help.printed.rfind(
              "\tReturns the 2D-filtered map.\n\t\tCommand line:\n"
              "\t\t\tsmoothed_map = kernsmooth(map,smoothing_kernel);\n\t\tWhere:\n"
              "\t\t\t-map: map to smooth,\n\t\t\t-smoothing_kernel: kernel matrix.\n\n",
              0) == 0);
    size_t lines = 0;
    for (char ch : help.printed) lines += ch == '\n';
    CHECK_EQ(lines, size_t(8));
    CHECK(help.printed.size() > 90 && help.printed.back() == '\n');

    mxArray *a = hostCreateScalar(1.0);
    for (int count : {1, 4, 5}) {
        std::vector<const mxArray *> args(static_cast<size_t>(count), a);
        HostCallResult r = hostCall(kernsmooth(), 1, args);
        CHECK(r.failed);
        CHECK_EQ(r.errorText, std::string("This function takes zero, three or four arguments."));
        CHECK(r.outputs[0] == nullptr);
    }
    hostDestroyArray(a);
}

TEST(wrong_kinds_of_input_are_refused_before_anything_is_created) {
    const std::string mapError = "map must be a full (not sparse) single or double matrix.";
    const std::string kernelError = "smoothing_kernel must be a full (not sparse) single or double matrix.";
    const std::string emptyError = "smoothing_kernel must not be empty.";
    const std::string largeError = "map and smoothing_kernel must have fewer than 2^31 elements.";
    const std::string mapSidesError =
        "map must be a 2-D matrix; for a stack of maps, smooth each slice map(:,:,k) on its own.";
    const std::string kernelSidesError = "smoothing_kernel must be a 2-D matrix.";
    auto map = []() { return hostCreateDouble(4, 4, true); };
    auto kernel = []() { return hostCreateDouble(3, 3, false); };
    struct Case { mxArray *map, *kernel; std::string error; };
    Case cases[] = {
        {hostCreateOfClass(hostInt16Class, 4, 4), kernel(), mapError},
        {hostCreateOfClass(hostLogicalClass, 4, 4), kernel(), mapError},
        {hostCreateString("map"), kernel(), mapError},
        {hostCreateOfClass(hostCellClass, 1, 1), kernel(), mapError},
        {hostCreateOfClass(hostStructClass, 1, 1), kernel(), mapError},
        {hostCreateSparse(4, 4), kernel(), mapError},
        {map(), hostCreateOfClass(hostUint8Class, 3, 3), kernelError},
        {hostCreateOfClass(hostSingleClass, 4, 4, true), hostCreateOfClass(hostInt8Class, 3, 3), kernelError},
        {map(), hostCreateSparse(3, 3), kernelError},
        {map(), hostCreateDouble(0, 3, false), emptyError},
        {map(), hostCreateDouble(3, 0, false), emptyError},
        {hostCreateDouble(0, 0, false), hostCreateDouble(0, 0, false), emptyError},
        {hostCreateDoubleShapeOnly(size_t(1) << 16, size_t(1) << 15), kernel(), largeError},
        {hostCreateDoubleShapeOnly(1, size_t(1) << 31), kernel(), largeError},
        {map(), hostCreateDoubleShapeOnly(size_t(1) << 31, 1), largeError},
        // A third side must not be read as more columns (smoothing across slices).
        {hostCreateArray(hostDoubleClass, {4, 4, 3}, true), kernel(), mapSidesError},
        {hostCreateArray(hostDoubleClass, {4, 4, 1, 2}), kernel(), mapSidesError},
        {map(), hostCreateArray(hostDoubleClass, {3, 3, 3}), kernelSidesError},
    };
    for (Case &c : cases) {
        HostCallResult r = hostCall(kernsmooth(), 1, {c.map, c.kernel});
        CHECK(r.failed);
        CHECK_EQ(r.errorText, c.error);
        CHECK_EQ(r.peakBytes, size_t(0));
        hostDestroyArray(c.map);
        hostDestroyArray(c.kernel);
    }
}

TEST(empty_maps_give_an_empty_complex_result_of_the_same_size) {
    for (auto size : {std::pair<size_t, size_t>{0, 0}, {0, 7}, {7, 0}}) {
        mxArray *map = hostCreateDouble(size.first, size.second, false);
        mxArray *k = hostCreateScalar(1.0);
        HostCallResult r = hostCall(kernsmooth(), 1, {map, k});
        CHECK(!r.failed && r.outputs[0] != nullptr);
        if (r.outputs[0]) {
            CHECK_EQ(mxGetM(r.outputs[0]), size.first);
            CHECK_EQ(mxGetN(r.outputs[0]), size.second);
            CHECK(mxIsComplex(r.outputs[0]));
        }
        hostReleaseOutputs(&r);
        hostDestroyArray(map);
        hostDestroyArray(k);
    }
}

TEST(local_means_renormalise_at_borders_and_around_missing_samples) {
    // A 4x5 map of distinct values; a 3x3 kernel of ones gives plain local means.
    const int M = 4, N = 5;
    std::vector<double> re(M * N), im(M * N);
    for (int i = 0; i < M * N; ++i) {
        re[i] = i * 1.5;
        im[i] = -i;
    }
    Smoothed s = smooth(M, N, re, im, 3, 3, std::vector<double>(9, 1.0));
    CHECK(!s.failed && s.complex);
    auto mean = [&](const std::vector<double> &v, int j, int c) {
        double sum = 0;
        int count = 0;
        for (int q = c - 1; q <= c + 1; ++q)
            for (int r = j - 1; r <= j + 1; ++r)
                if (r >= 0 && r < M && q >= 0 && q < N && !std::isnan(re[r + q * M]) &&
                    !std::isnan(im[r + q * M])) {
                    sum += v[r + q * M];
                    ++count;
                }
        return sum / count;
    };
    CHECK_NEAR(s.re[0], (re[0] + re[1] + re[4] + re[5]) / 4, 1e-12);  // corner: 4 samples
    CHECK_NEAR(s.re[1], (re[0] + re[1] + re[2] + re[4] + re[5] + re[6]) / 6, 1e-12);  // edge: 6
    for (int c = 0; c < N; ++c)
        for (int j = 0; j < M; ++j) {
            CHECK_NEAR(s.re[j + c * M], mean(re, j, c), 1e-12);
            CHECK_NEAR(s.im[j + c * M], mean(im, j, c), 1e-12);
        }
    // A NaN in either part: that sample is NaN in both parts and leaves its neighbours.
    re[5] = NaN;
    im[10] = NaN;
    s = smooth(M, N, re, im, 3, 3, std::vector<double>(9, 1.0));
    CHECK(std::isnan(s.re[5]) && std::isnan(s.im[5]) && std::isnan(s.re[10]) && std::isnan(s.im[10]));
    CHECK_NEAR(s.re[0], (re[0] + re[1] + re[4]) / 3, 1e-12);
    CHECK_NEAR(s.re[6], mean(re, 2, 1), 1e-12);
}

TEST(kernel_shapes_and_weights) {
    const int M = 6, N = 7;
    std::vector<double> re(M * N), im(M * N);
    for (int i = 0; i < M * N; ++i) {
        re[i] = std::sin(i * 0.7);
        im[i] = std::cos(i * 1.3);
    }
    std::vector<double> k4(16), topLeft(9);
    for (int q = 0; q < 4; ++q)
        for (int r = 0; r < 4; ++r) {
            k4[r + 4 * q] = 1 + r + 10 * q;
            if (r < 3 && q < 3) topLeft[r + 3 * q] = k4[r + 4 * q];
        }
    // A 4x4 kernel acts as its top-left 3x3 part.
    Smoothed even = smooth(M, N, re, im, 4, 4, k4);
    Smoothed odd = smooth(M, N, re, im, 3, 3, topLeft);
    CHECK(even.re == odd.re && even.im == odd.im);
    // A two-row kernel uses only its first row (half height 0).
    Smoothed twoRows = smooth(M, N, re, im, 2, 3, {1, 100, 2, 200, 3, 300});
    Smoothed oneRow = smooth(M, N, re, im, 1, 3, {1, 2, 3});
    CHECK(twoRows.re == oneRow.re && twoRows.im == oneRow.im);
    // A 1x1 kernel of weight 1 returns the map.
    Smoothed same = smooth(M, N, re, im, 1, 1, {1.0});
    CHECK(same.re == re && same.im == im);
    // Weights summing to zero or less: NaN + NaN i everywhere.
    for (const std::vector<double> &k : {std::vector<double>(9, 0.0),
                                         std::vector<double>{0, 0, 0, -1, 0, 1, 0, 0, 0},
                                         std::vector<double>(9, -1.0)}) {
        Smoothed s = smooth(M, N, re, im, 3, 3, k);
        bool allNaN = true;
        for (int i = 0; i < M * N; ++i) {
            if (k[3] == -1 && (i % M == 0 || i % M == M - 1)) continue;  // one-sided there
            allNaN = allNaN && std::isnan(s.re[i]) && std::isnan(s.im[i]);
        }
        CHECK(allNaN);
    }
    // A kernel larger than the map finds only in-map neighbours: the global mean here.
    Smoothed big = smooth(M, N, re, im, 2 * M + 3, 2 * N + 1, std::vector<double>((2 * M + 3) * (2 * N + 1), 1.0));
    double mean = 0;
    for (double v : re) mean += v;
    mean /= M * N;
    for (double v : big.re) CHECK_NEAR(v, mean, 1e-12);
}

TEST(real_maps_give_complex_results_with_zero_imaginary_parts) {
    std::vector<double> re = {1, 2, NaN, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    Smoothed s = smooth(3, 4, re, {}, 3, 3, std::vector<double>(9, 1.0));
    CHECK(!s.failed && s.complex);
    for (size_t i = 0; i < re.size(); ++i) {
        if (std::isnan(re[i])) {
            CHECK(std::isnan(s.re[i]) && std::isnan(s.im[i]));
        } else {
            CHECK(sameBits(s.im[i], 0.0));
            CHECK(!std::isnan(s.re[i]));
        }
    }
}

TEST(single_maps_and_the_support_in_whole_calls) {
    // [smoothed, support] = kernsmooth_c(map, K): smoothed is the one-output call's,
    // support the weights each window used (NaN at missing centres). A single map
    // (real or complex, kernel single or double) gives single results: the double
    // call on its samples, rounded once.
    const int M = 61, N = 23, Mk = 5, Nk = 7;
    uint32_t state = 77;
    auto uniform = [&]() { state = state * 1664525u + 1013904223u; return (state >> 8) * (1.0 / 16777216.0); };
    std::vector<double> re(M * N), im(M * N), kernel(Mk * Nk);
    for (int i = 0; i < M * N; ++i) {
        re[i] = uniform() < 0.08 ? NaN : 3 * uniform() - 1.5;
        im[i] = uniform() < 0.04 ? NaN : 1.0 / 3.0 + uniform();
    }
    for (double &w : kernel) w = uniform() - 0.2;  // some windows sum to zero or below
    for (bool complex : {true, false}) {
        for (int variant = 0; variant < 3; ++variant) {  // double; single, double kernel; both single
            const bool single = variant > 0;
            const HostClass cls = single ? hostSingleClass : hostDoubleClass;
            mxArray *map = hostCreateOfClass(cls, M, N, complex);
            mxArray *k = hostCreateOfClass(variant == 2 ? hostSingleClass : hostDoubleClass, Mk, Nk);
            for (int i = 0; i < M * N; ++i) hostSetParts(map, i, re[i], im[i]);
            for (int i = 0; i < Mk * Nk; ++i) hostSetParts(k, i, kernel[i], 0);
            // The plain formula on what the call reads, rounded as the call rounds.
            std::vector<double> mapRe(M * N), mapIm, weights(Mk * Nk), wantRe, wantIm, wantSupport;
            for (int i = 0; i < M * N; ++i) mapRe[i] = hostRealPart(map, i);
            if (complex)
                for (int i = 0; i < M * N; ++i) mapIm.push_back(hostImagPart(map, i));
            for (int i = 0; i < Mk * Nk; ++i) weights[i] = hostRealPart(k, i);
            referenceSmooth(mapRe, mapIm, M, N, weights, Mk, Nk, &wantRe, &wantIm, &wantSupport);
            auto rounded = [&](double v) { return single ? static_cast<double>(static_cast<float>(v)) : v; };
            HostCallResult one = hostCall(kernsmooth(), 1, {map, k});
            HostCallResult two = hostCall(kernsmooth(), 2, {map, k});
            CHECK(!one.failed && !two.failed && two.outputs.size() == 2 && two.outputs[1]);
            if (!one.failed && !two.failed && two.outputs.size() == 2 && two.outputs[1]) {
                const mxArray *smoothed = two.outputs[0], *support = two.outputs[1];
                CHECK(hostClassOf(smoothed) == cls && hostClassOf(support) == cls);
                CHECK(mxIsComplex(smoothed) && !mxIsComplex(support));
                bool same = true;
                for (int i = 0; i < M * N; ++i) {
                    same = same && sameBits(hostRealPart(smoothed, i), hostRealPart(one.outputs[0], i)) &&
                           sameBits(hostImagPart(smoothed, i), hostImagPart(one.outputs[0], i));
                    auto agrees = [](double a, double b) { return sameBits(a, b) || (a != a && b != b); };
                    same = same && agrees(hostRealPart(smoothed, i), rounded(wantRe[i])) &&
                           agrees(hostImagPart(smoothed, i), rounded(wantIm[i])) &&
                           agrees(hostRealPart(support, i), rounded(wantSupport[i]));
                }
                if (!same)
                    recordFailure(__FILE__, __LINE__, std::string(complex ? "complex" : "real") + " variant " +
                                                          std::to_string(variant));
            }
            hostReleaseOutputs(&one);
            hostReleaseOutputs(&two);
            // A third output is not there to give: refused before anything is made.
            HostCallResult three = hostCall(kernsmooth(), 3, {map, k});
            CHECK(three.failed && three.outputs[0] == nullptr);
            CHECK_EQ(three.errorText, std::string("kernsmooth_c gives at most two outputs: [smoothed, support]."));
            hostReleaseOutputs(&three);
            hostDestroyArray(map);
            hostDestroyArray(k);
        }
    }
}

TEST(separable_calls_give_the_plain_separable_formula_and_refuse_what_is_no_vector) {
    // kernsmooth_c(map, u, v) and [smoothed, support] = ...: row or column vectors, of
    // either class, odd and even lengths, u longer than the map; a real or complex,
    // double or single map. The unit tests cover every path; here the entry.
    const int M = 37, N = 29;
    uint32_t state = 5;
    auto uniform = [&]() { state = state * 1664525u + 1013904223u; return (state >> 8) * (1.0 / 16777216.0); };
    std::vector<double> re(M * N), im(M * N);
    for (int i = 0; i < M * N; ++i) {
        re[i] = uniform() < 0.08 ? NaN : 3 * uniform() - 1.5;
        im[i] = uniform() < 0.04 ? NaN : uniform();
    }
    struct Case { int nu, nv; bool uColumn, singleWeights, singleMap, complex; };
    const Case cases[] = {{5, 7, true, false, false, true}, {4, 9, false, true, true, true},
                          {51, 3, false, false, true, false}, {1, 1, true, true, false, true}};
    for (const Case &c : cases) {
        std::vector<double> u(c.nu), v(c.nv);
        for (double &w : u) w = uniform() - 0.2;
        for (double &w : v) w = uniform();
        const HostClass weightClass = c.singleWeights ? hostSingleClass : hostDoubleClass;
        mxArray *uArray = c.uColumn ? hostCreateOfClass(weightClass, c.nu, 1) : hostCreateOfClass(weightClass, 1, c.nu);
        mxArray *vArray = hostCreateOfClass(weightClass, 1, c.nv);
        for (int k = 0; k < c.nu; ++k) hostSetParts(uArray, k, u[k], 0);
        for (int k = 0; k < c.nv; ++k) hostSetParts(vArray, k, v[k], 0);
        mxArray *map = hostCreateOfClass(c.singleMap ? hostSingleClass : hostDoubleClass, M, N, c.complex);
        for (int i = 0; i < M * N; ++i) hostSetParts(map, i, re[i], im[i]);
        // The formula on what the call reads, rounded as the call rounds.
        std::vector<double> mapRe(M * N), mapIm, uRead(c.nu), vRead(c.nv), wantRe, wantIm, wantSupport;
        for (int i = 0; i < M * N; ++i) mapRe[i] = hostRealPart(map, i);
        if (c.complex)
            for (int i = 0; i < M * N; ++i) mapIm.push_back(hostImagPart(map, i));
        for (int k = 0; k < c.nu; ++k) uRead[k] = hostRealPart(uArray, k);
        for (int k = 0; k < c.nv; ++k) vRead[k] = hostRealPart(vArray, k);
        referenceSmoothSeparable(mapRe, mapIm, M, N, uRead, vRead, &wantRe, &wantIm, &wantSupport);
        auto rounded = [&](double x) { return c.singleMap ? static_cast<double>(static_cast<float>(x)) : x; };
        auto agrees = [](double a, double b) { return sameBits(a, b) || (a != a && b != b); };
        HostCallResult r = hostCall(kernsmooth(), 2, {map, uArray, vArray});
        CHECK(!r.failed && r.outputs.size() == 2 && r.outputs[0] && r.outputs[1]);
        bool same = !r.failed && r.outputs[0] && r.outputs[1];
        for (int i = 0; same && i < M * N; ++i)
            same = agrees(hostRealPart(r.outputs[0], i), rounded(wantRe[i])) &&
                   agrees(hostImagPart(r.outputs[0], i), rounded(wantIm[i])) &&
                   agrees(hostRealPart(r.outputs[1], i), rounded(wantSupport[i]));
        if (!same) recordFailure(__FILE__, __LINE__, "u of " + std::to_string(c.nu) + ", v of " + std::to_string(c.nv));
        hostReleaseOutputs(&r);
        for (mxArray *a : {uArray, vArray, map}) hostDestroyArray(a);
    }
    // What is no vector of weights, for u and for v, each named, with its identifier.
    struct Bad { mxArray *weights; std::string text, mnemonic; };
    auto bads = [](const std::string &name) {
        const std::string type = name + " must be a real full (not sparse) single or double vector.";
        const std::string along = name == "u" ? "down the rows" : "along the rows";
        const std::string shape = name + " must be a vector (the weights " + along + ": one row or one column), not a matrix.";
        return std::vector<Bad>{
            {hostCreateDouble(3, 3, false), shape, "NotVector"},
            {hostCreateArray(hostDoubleClass, {1, 1, 3}), shape, "NotVector"},
            {hostCreateDouble(0, 0, false), name + " must not be empty.", "Empty"},
            {hostCreateDouble(1, 0, false), name + " must not be empty.", "Empty"},
            {hostCreateOfClass(hostDoubleClass, 1, 3, true), type, "Type"},
            {hostCreateSparse(1, 3), type, "Type"},
            {hostCreateOfClass(hostInt16Class, 1, 3), type, "Type"},
            {hostCreateString("abc"), type, "Type"},
        };
    };
    mxArray *map = hostCreateDouble(4, 4, true), *good = hostCreateMatrix(1, 3, {1, 2, 1});
    for (const std::string &name : {std::string("u"), std::string("v")}) {
        for (Bad &b : bads(name)) {
            HostCallResult r = name == "u" ? hostCall(kernsmooth(), 1, {map, b.weights, good})
                                           : hostCall(kernsmooth(), 1, {map, good, b.weights});
            CHECK(r.failed);
            CHECK_EQ(r.errorText, b.text);
            CHECK_EQ(r.errorId, "phasekit:kernsmooth_c:" + name + b.mnemonic);
            CHECK_EQ(r.peakBytes, size_t(0));
            hostDestroyArray(b.weights);
        }
    }
    hostDestroyArray(map);
    hostDestroyArray(good);
}
