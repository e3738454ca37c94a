// Tests of the standalone host itself: per-call memory, captured messages and errors
// that end the call. The "extensions" here are plain functions; text arguments, array
// classes and loading are exercised through the real extensions and mexrun.
#include "check.h"
#include "minihost.h"

#include <string>

namespace {

bool statementAfterErrorRan = false;

void leakyEntry(int, mxArray **plhs, int nrhs, const mxArray **) {
    mxMalloc(100);
    void *kept = mxCalloc(10, 8);
    kept = mxRealloc(kept, 4000);
    mxFree(mxMalloc(7));
    mexPrintf("%d-%s\n", 42, "x");
    mexWarnMsgTxt("careful");
    plhs[0] = mxCreateDoubleMatrix(2, 3, mxCOMPLEX);
    mxCreateDoubleMatrix(5, 5, mxREAL);  // a temporary the host must release
    if (nrhs == 1) {
        mexErrMsgTxt("stopped here");
        statementAfterErrorRan = true;
    }
}

}  // namespace

TEST(calls_release_what_the_extension_left_and_capture_messages) {
    HostCallResult r = hostCall(leakyEntry, 1, {});
    CHECK(!r.failed);
    CHECK_EQ(r.blocksReleased, size_t(2));
    CHECK_EQ(r.printed, std::string("42-x\n"));
    CHECK_EQ(r.warnings.size(), size_t(1));
    CHECK(r.outputs.size() == 1 && r.outputs[0] != nullptr);
    CHECK(mxGetM(r.outputs[0]) == 2 && mxGetN(r.outputs[0]) == 3 && mxIsComplex(r.outputs[0]));
    CHECK(r.peakBytes >= 100 + 4000 + 2 * 6 * 8 + 25 * 8);
    CHECK_EQ(hostLiveBlocks(), size_t(0));
    hostReleaseOutputs(&r);
}

TEST(an_error_ends_the_call_and_drops_its_outputs) {
    mxArray *input = hostCreateScalar(1.0);
    statementAfterErrorRan = false;
    HostCallResult r = hostCall(leakyEntry, 1, {input});
    CHECK(r.failed);
    CHECK_EQ(r.errorText, std::string("stopped here"));
    CHECK(!statementAfterErrorRan);
    CHECK(r.outputs[0] == nullptr);
    CHECK_EQ(hostLiveBlocks(), size_t(0));
    hostDestroyArray(input);
}

namespace {

void unfilledEntry(int, mxArray **plhs, int, const mxArray **) {
    plhs[0] = mxCreateUninitNumericMatrix(3, 2, mxDOUBLE_CLASS, mxCOMPLEX);
}

}  // namespace

TEST(unfilled_results_show_every_sample_left_unwritten) {
    // What the extensions' tests rely on to catch a result sample they never wrote.
    HostCallResult r = hostCall(unfilledEntry, 1, {});
    CHECK(!r.failed && r.outputs[0] && mxIsComplex(r.outputs[0]));
    for (size_t i = 0; r.outputs[0] && i < 6; ++i)
        CHECK(hostUnwritten(hostRealPart(r.outputs[0], i)) && hostUnwritten(hostImagPart(r.outputs[0], i)));
    hostReleaseOutputs(&r);
}
