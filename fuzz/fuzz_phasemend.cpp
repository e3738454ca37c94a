// fuzz_phasemend: whole phasemend calls through the standalone host with 0 to 4
// arguments of any kind built from the fuzz bytes, and now and then options
// (Quality, Periodic, TileSize) and the regions and reliability outputs. Beyond crashes, leaks and hangs it
// checks what every result must satisfy: the input's size, NaN exactly where the input
// is not finite, every other sample a whole multiple of 2*pi away from its input (up
// to rounding), and the reference pixel (when given and valid) equal to its input.
#include "fuzz_input.h"

extern "C" void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in{data, size, 0};
    uint32_t count = in.below(8);
    if (count > 4) count = count == 5 ? 1 : 3;  // the counts that compute, more often
    std::vector<mxArray *> owned;
    for (uint32_t k = 0; k < count; ++k) owned.push_back(k == 0 ? fuzzArray(in, 40) : fuzzScalar(in));
    // Options after wrapped or after the reference, now and then, and 1 to 4 outputs.
    const mxArray *quality = nullptr;
    const bool withOptions = (count == 1 || count == 3) && in.below(3) == 0;
    if (withOptions) fuzzOptions(in, owned[0], 2, &owned, &quality);
    const int outputs = 1 + static_cast<int>(in.below(4));
    std::vector<const mxArray *> args(owned.begin(), owned.end());
    HostCallResult r = hostCall(mexFunction, outputs, args);
    if (!r.failed && ((count == 1 || count == 3) || withOptions)) {
        checkUnwrapped(args[0], std::vector<const mxArray *>(args.begin(), args.begin() + count), r.outputs[0], quality);
        if (outputs >= 2) checkExtraOutputs(r.outputs[0], r.outputs[1], outputs >= 3 ? r.outputs[2] : nullptr);
    }
    releaseCall(&r, owned);
    return 0;
}
