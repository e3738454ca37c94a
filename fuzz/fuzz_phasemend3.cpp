// fuzz_phasemend3: whole phasemend3 calls through the standalone host with 0 to 5
// arguments built from the fuzz bytes, the first mostly a volume. Beyond crashes, leaks
// and hangs it checks what every result must satisfy: the input's sides, NaN exactly
// where the input is not finite, every other sample a whole multiple of 2*pi away from
// its input (up to rounding), and the reference voxel (when given and valid) equal to
// its input.
#include "fuzz_input.h"

extern "C" void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in{data, size, 0};
    uint32_t count = in.below(8);
    if (count > 5) count = count == 6 ? 1 : 4;  // the counts that compute, more often
    std::vector<mxArray *> owned;
    for (uint32_t k = 0; k < count; ++k) owned.push_back(k == 0 ? fuzzVolume(in, 12) : fuzzScalar(in));
    std::vector<const mxArray *> args(owned.begin(), owned.end());
    HostCallResult r = hostCall(mexFunction, 1, args);
    if (!r.failed && (count == 1 || count == 4)) checkUnwrapped(args[0], args, r.outputs[0]);
    releaseCall(&r, owned);
    return 0;
}
