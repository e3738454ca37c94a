// fuzz_kernsmooth_c: whole kernsmooth_c calls through the standalone host with 0 to 3
// arguments of any kind built from the fuzz bytes. A result must be complex, of the
// map's size, and equal bit for bit (NaN for NaN) to the smoothing formula written the
// plain way, whatever the weights (negative, NaN, infinite) and kernel shape.
#include "fuzz_input.h"
#include "smooth_reference.h"

#include <cmath>

extern "C" void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

static void checkResult(const mxArray *map, const mxArray *kernel, const mxArray *out) {
    if (!out || !mxIsComplex(out)) fuzzFailure("no complex result");
    if (mxGetM(out) != mxGetM(map) || mxGetN(out) != mxGetN(map)) fuzzFailure("result size");
    size_t n = mxGetNumberOfElements(map);
    if (n == 0) return;
    int M = static_cast<int>(mxGetM(map)), N = static_cast<int>(mxGetN(map));
    int Mk = static_cast<int>(mxGetM(kernel)), Nk = static_cast<int>(mxGetN(kernel));
    std::vector<double> re, im;
    for (size_t i = 0; i < n; ++i) {
        re.push_back(hostRealPart(map, i));
        if (mxIsComplex(map)) im.push_back(hostImagPart(map, i));
    }
    std::vector<double> weights;
    for (size_t i = 0; i < mxGetNumberOfElements(kernel); ++i) weights.push_back(hostRealPart(kernel, i));
    std::vector<double> expectRe, expectIm;
    referenceSmooth(re, im, M, N, weights, Mk, Nk, &expectRe, &expectIm);
    for (size_t i = 0; i < n; ++i) {
        double a = hostRealPart(out, i), b = hostImagPart(out, i);
        bool same = (std::isnan(a) ? std::isnan(expectRe[i]) : std::memcmp(&a, &expectRe[i], 8) == 0) &&
                    (std::isnan(b) ? std::isnan(expectIm[i]) : std::memcmp(&b, &expectIm[i], 8) == 0);
        if (!same) fuzzFailure("result differs from the plain formula");
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in{data, size, 0};
    uint32_t count = in.below(6);
    if (count > 3) count = 2;
    std::vector<mxArray *> owned;
    for (uint32_t k = 0; k < count; ++k) owned.push_back(fuzzArray(in, k == 0 ? 24 : 7));
    std::vector<const mxArray *> args(owned.begin(), owned.end());
    HostCallResult r = hostCall(mexFunction, 1, args);
    if (!r.failed && count == 2) checkResult(args[0], args[1], r.outputs[0]);
    releaseCall(&r, owned);
    return 0;
}
