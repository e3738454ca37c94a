// fuzz_kernsmooth_c: whole kernsmooth_c calls through the standalone host with 0 to 4
// arguments of any kind built from the fuzz bytes, asking for one output or two. A
// result must be complex, of the map's size and class, and equal bit for bit (NaN for
// NaN) to the smoothing formula written the plain way (on a single map's samples,
// rounded once), whatever the weights (negative, NaN, infinite) and kernel shape; the
// support, when asked for, the formula's weight sums. With three arguments (a kernel
// as two vectors u and v), the separable formula written the plain way.
#include "fuzz_input.h"
#include "smooth_reference.h"

#include <cmath>

extern "C" void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

static bool sameSample(double got, double want, bool single) {
    if (single) want = static_cast<float>(want);
    return std::isnan(got) ? std::isnan(want) : std::memcmp(&got, &want, 8) == 0;
}

static std::vector<double> realsOf(const mxArray *a) {
    std::vector<double> values;
    for (size_t i = 0; i < mxGetNumberOfElements(a); ++i) values.push_back(hostRealPart(a, i));
    return values;
}

// columns: null for a kernel matrix; else kernel is u and columns v.
static void checkResult(const mxArray *map, const mxArray *kernel, const mxArray *columns, const mxArray *out,
                        const mxArray *support) {
    if (!out || !mxIsComplex(out)) fuzzFailure("no complex result");
    if (mxGetM(out) != mxGetM(map) || mxGetN(out) != mxGetN(map)) fuzzFailure("result size");
    if (hostClassOf(out) != hostClassOf(map)) fuzzFailure("result class");
    if (support && (mxIsComplex(support) || hostClassOf(support) != hostClassOf(map) ||
                    mxGetM(support) != mxGetM(map) || mxGetN(support) != mxGetN(map)))
        fuzzFailure("support class or size");
    size_t n = mxGetNumberOfElements(map);
    if (n == 0) return;
    const bool single = hostClassOf(map) == hostSingleClass;
    int M = static_cast<int>(mxGetM(map)), N = static_cast<int>(mxGetN(map));
    int Mk = static_cast<int>(mxGetM(kernel)), Nk = static_cast<int>(mxGetN(kernel));
    std::vector<double> re, im;
    for (size_t i = 0; i < n; ++i) {
        re.push_back(hostRealPart(map, i));
        if (mxIsComplex(map)) im.push_back(hostImagPart(map, i));
    }
    std::vector<double> expectRe, expectIm, expectSupport;
    if (columns)
        referenceSmoothSeparable(re, im, M, N, realsOf(kernel), realsOf(columns), &expectRe, &expectIm, &expectSupport);
    else
        referenceSmooth(re, im, M, N, realsOf(kernel), Mk, Nk, &expectRe, &expectIm, &expectSupport);
    for (size_t i = 0; i < n; ++i) {
        if (!sameSample(hostRealPart(out, i), expectRe[i], single) ||
            !sameSample(hostImagPart(out, i), expectIm[i], single))
            fuzzFailure("result differs from the plain formula");
        if (support && !sameSample(hostRealPart(support, i), expectSupport[i], single))
            fuzzFailure("support differs from the plain formula");
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in{data, size, 0};
    uint32_t count = in.below(8);
    if (count > 4) count = count == 5 ? 2 : 3;  // the counts that compute, more often
    const int outputs = 1 + static_cast<int>(in.below(2));
    std::vector<mxArray *> owned;
    for (uint32_t k = 0; k < count; ++k) owned.push_back(fuzzArray(in, k == 0 ? 24 : 7));
    std::vector<const mxArray *> args(owned.begin(), owned.end());
    HostCallResult r = hostCall(mexFunction, outputs, args);
    if (!r.failed && (count == 2 || count == 3))
        checkResult(args[0], args[1], count == 3 ? args[2] : nullptr, r.outputs[0],
                    outputs == 2 && r.outputs.size() > 1 ? r.outputs[1] : nullptr);
    if (!r.failed && (count == 2 || count == 3) && outputs == 2 && (r.outputs.size() < 2 || !r.outputs[1]))
        fuzzFailure("no support");
    releaseCall(&r, owned);
    return 0;
}
