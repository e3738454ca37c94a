// kernsmooth_c.cpp: the entry of the kernsmooth_c command. Checks the argument count,
// prints the help or the fixed count error, checks both arguments before anything is
// created, then fills a new complex result with the filter. The host's complex layout
// (separate parts, or interleaved pairs when built with MATLAB's interleaved complex
// API) is chosen here alone, where the data are read and the result is made; the
// filter works on either, so no host translates the data.
#include "smooth.h"

#include "mex.h"

#include "../portable/complex_api.h"
#include "../portable/portability.h"

static const char *const kHelpLines[] = {
    "\tReturns the 2D-filtered map.\n",
    "\t\tCommand line:\n",
    "\t\t\tsmoothed_map = kernsmooth(map,smoothing_kernel);\n",
    "\t\tWhere:\n",
    "\t\t\t-map: map to smooth,\n",
    "\t\t\t-smoothing_kernel: kernel matrix.\n",
    "\n",
    "\tphasekit: NaN-aware smoothing of complex maps (BSD-3-Clause).\n",
};

// Callers match this text; it names counts the command does not take, but it stays.
static const char kCountError[] = "This function takes zero, three or four arguments.";
static const char kMapTypeError[] = "map must be a full (not sparse) double matrix.";
static const char kKernelTypeError[] = "smoothing_kernel must be a full (not sparse) double matrix.";
static const char kMapDimensionsError[] =
    "map must be a 2-D matrix; for a stack of maps, smooth each slice map(:,:,k) on its own.";
static const char kKernelDimensionsError[] = "smoothing_kernel must be a 2-D matrix.";
static const char kKernelEmptyError[] = "smoothing_kernel must not be empty.";
static const char kTooLargeError[] = "map and smoothing_kernel must have fewer than 2^31 elements.";

static bool isFullDouble(const mxArray *a) { return mxIsDouble(a) && !mxIsSparse(a); }

static bool fitsIndices(const mxArray *a) {
    const size_t limit = size_t(1) << 31;
    size_t m = mxGetM(a), n = mxGetN(a);
    return m < limit && n < limit && m * n < limit;
}

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    keepExtensionLoaded();  // its OpenMP threads may outlive the call
    (void)nlhs;
    if (nrhs == 0) {
        for (const char *line : kHelpLines) mexPrintf(line);
        return;
    }
    if (nrhs != 2) {
        mexErrMsgTxt(kCountError);
        return;
    }
    const mxArray *map = prhs[0];
    const mxArray *kernel = prhs[1];
    if (!isFullDouble(map)) {
        mexErrMsgTxt(kMapTypeError);
        return;
    }
    if (!isFullDouble(kernel)) {
        mexErrMsgTxt(kKernelTypeError);
        return;
    }
    // A third side would be read as more columns: smoothing across slices, or a
    // kernel whose planes are laid side by side.
    if (mxGetNumberOfDimensions(map) > 2) {
        mexErrMsgTxt(kMapDimensionsError);
        return;
    }
    if (mxGetNumberOfDimensions(kernel) > 2) {
        mexErrMsgTxt(kKernelDimensionsError);
        return;
    }
    if (mxGetM(kernel) == 0 || mxGetN(kernel) == 0) {
        mexErrMsgTxt(kKernelEmptyError);
        return;
    }
    if ((mxGetNumberOfElements(map) > 0 && !fitsIndices(map)) || !fitsIndices(kernel)) {
        mexErrMsgTxt(kTooLargeError);
        return;
    }

    // The result's samples are all written by the filter: no zero fill, huge pages.
    plhs[0] = mxCreateUninitNumericMatrix(mxGetM(map), mxGetN(map), mxDOUBLE_CLASS, mxCOMPLEX);
    if (mxGetNumberOfElements(map) == 0) return;

    SmoothingInput input;
    SmoothingOutput output;
    // Only the kernel's real parts count.
    const double *kernelWeights = realParts(kernel);
    const size_t samples = mxGetNumberOfElements(map);
#if MX_HAS_INTERLEAVED_COMPLEX
    // The host's interleaved layout, read and written in place; a real map stays real.
    if (mxIsComplex(map)) {
        input.layout = kPairedParts;
        input.re = reinterpret_cast<const double *>(mxGetComplexDoubles(map));
    } else {
        input.layout = kRealSamples;
        input.re = mxGetDoubles(map);
    }
    input.im = nullptr;
    output.paired = true;
    output.re = reinterpret_cast<double *>(mxGetComplexDoubles(plhs[0]));
    output.im = nullptr;
    adviseHugePages(output.re, 2 * samples * sizeof(double));
#else
    input.layout = mxIsComplex(map) ? kSeparateParts : kRealSamples;  // a real map's imaginary parts read as zero
    input.re = mxGetPr(map);
    input.im = mxGetPi(map);
    output.paired = false;
    output.re = mxGetPr(plhs[0]);
    output.im = mxGetPi(plhs[0]);
    adviseHugePages(output.re, samples * sizeof(double));
    adviseHugePages(output.im, samples * sizeof(double));
#endif
    input.rows = static_cast<int32_t>(mxGetM(map));
    input.columns = static_cast<int32_t>(mxGetN(map));
    input.kernel = kernelWeights;
    input.kernelRows = static_cast<int32_t>(mxGetM(kernel));
    input.kernelColumns = static_cast<int32_t>(mxGetN(kernel));
    filterMap(input, output);
}
