// Tests of the standalone host itself: per-call memory, captured messages, errors that
// end the call, text arguments and loading. The "extensions" here are plain functions.
#include "check.h"
#include "minihost.h"

#include <cstring>
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

void stringEntry(int, mxArray **, int, const mxArray **prhs) {
    char buffer[4];
    int cut = mxGetString(prhs[0], buffer, sizeof buffer);
    mexPrintf("%d:%s", cut, cut && !mxIsChar(prhs[0]) ? "" : buffer);
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

TEST(text_arguments_are_copied_and_cut) {
    struct Case { mxArray *array; std::string printed; };
    Case cases[] = {
        {hostCreateString("abc"), "0:abc"},
        {hostCreateString("abcd"), "1:abc"},
        {hostCreateCharMatrix(2, 1, "xy"), "0:xy"},
        {hostCreateScalar(3.0), "1:"},
    };
    for (Case &c : cases) {
        HostCallResult r = hostCall(stringEntry, 0, {c.array});
        CHECK_EQ(r.printed, c.printed);
        hostDestroyArray(c.array);
    }
}

TEST(array_classes_answer_the_validation_queries) {
    mxArray *single = hostCreateOfClass(hostSingleClass, 2, 2);
    mxArray *sparse = hostCreateSparse(3, 3);
    mxArray *cell = hostCreateOfClass(hostCellClass, 1, 2);
    mxArray *complex = hostCreateDouble(2, 2, true);
    CHECK(!mxIsDouble(single) && mxGetPr(single) == nullptr);
    CHECK(mxIsDouble(sparse) && mxIsSparse(sparse));
    CHECK(!mxIsDouble(cell) && mxGetNumberOfElements(cell) == 2);
    CHECK(mxIsComplex(complex) && mxGetPi(complex) != nullptr);
    CHECK(mxIsNaN(mxGetNaN()) && !mxIsNaN(1.0));
    for (mxArray *a : {single, sparse, cell, complex}) hostDestroyArray(a);
}

TEST(loading_reports_missing_files_and_missing_entries) {
    HostExtension missing = hostLoadExtension("/nonexistent/none.mexa64");
    CHECK(missing.handle == nullptr && !missing.error.empty());
    HostExtension ok = hostLoadExtension(EXTENSION_DIR "/phasemend.mexa64");
    CHECK(ok.handle != nullptr && ok.entry != nullptr);
    hostUnloadExtension(&ok);
}
