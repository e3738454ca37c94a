// kernsmooth_c.cpp: the entry of the kernsmooth_c command. Checks the argument count,
// prints the help or the fixed count error, checks every argument before anything is
// created, then fills a new complex result (and, when asked for, the support: the
// weights each window used) with the filter: of a kernel matrix (two inputs), or of
// the separable kernel u * v.' from its two vectors (three inputs). The host's complex layout (separate
// parts, or interleaved pairs when built with MATLAB's interleaved complex API) and
// the map's class (double or single, the result's too) are chosen here alone, where
// the data are read and the results are made; the filter works on any of them, so no
// host translates the data and no double copy of a single map is made.
#include "smooth.h"

#include "mex.h"

#include "../portable/complex_api.h"
#include "../portable/interruption.h"
#include "../portable/messages.h"
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
static const char kMapTypeError[] = "map must be a full (not sparse) single or double matrix.";
static const char kKernelTypeError[] = "smoothing_kernel must be a full (not sparse) single or double matrix.";
static const char kMapDimensionsError[] =
    "map must be a 2-D matrix; for a stack of maps, smooth each slice map(:,:,k) on its own.";
static const char kKernelDimensionsError[] = "smoothing_kernel must be a 2-D matrix.";
static const char kKernelEmptyError[] = "smoothing_kernel must not be empty.";
static const char kTooLargeError[] = "map and smoothing_kernel must have fewer than 2^31 elements.";
static const char kOutputsError[] = "kernsmooth_c gives at most two outputs: [smoothed, support].";
static const char kInterrupted[] = "kernsmooth_c was interrupted (Ctrl-C): it returns nothing.";
static const char kVectorsTooLargeError[] = "map, u and v must have fewer than 2^31 elements.";

// The checks of u (weights down the rows) and v (along the rows), each named.
struct VectorMessages {
    const char *typeId, *type, *emptyId, *empty, *shapeId, *shape;
};
static const VectorMessages kRowWeights = {
    "phasekit:kernsmooth_c:uType", "u must be a real full (not sparse) single or double vector.",
    "phasekit:kernsmooth_c:uEmpty", "u must not be empty.",
    "phasekit:kernsmooth_c:uNotVector",
    "u must be a vector (the weights down the rows: one row or one column), not a matrix."};
static const VectorMessages kColumnWeights = {
    "phasekit:kernsmooth_c:vType", "v must be a real full (not sparse) single or double vector.",
    "phasekit:kernsmooth_c:vEmpty", "v must not be empty.",
    "phasekit:kernsmooth_c:vNotVector",
    "v must be a vector (the weights along the rows: one row or one column), not a matrix."};

// Ends the call with the vector's own message when it is not one of weights.
static bool checkWeightVector(const mxArray *a, const VectorMessages &messages) {
    if (!isFullSingleOrDouble(a) || mxIsComplex(a)) {
        failWithId(messages.typeId, messages.type);
        return false;
    }
    if (mxGetNumberOfElements(a) == 0) {
        failWithId(messages.emptyId, messages.empty);
        return false;
    }
    if (mxGetNumberOfDimensions(a) > 2 || (mxGetM(a) > 1 && mxGetN(a) > 1)) {
        failWithId(messages.shapeId, messages.shape);
        return false;
    }
    return true;
}

// The kernel's weights (its real parts) as doubles: a single kernel widened, exactly,
// into a copy the host reclaims when the call ends (a kernel is small).
static const double *kernelWeights(const mxArray *kernel) {
    if (!mxIsSingle(kernel)) return realParts(kernel);
    const size_t n = mxGetNumberOfElements(kernel);
    const float *single = realSingles(kernel);
    double *weights = static_cast<double *>(mxMalloc(n * sizeof(double)));
    for (size_t k = 0; k < n; ++k) weights[k] = single[k];
    return weights;
}

static bool fitsIndices(const mxArray *a) {
    const size_t limit = size_t(1) << 31;
    size_t m = mxGetM(a), n = mxGetN(a);
    return m < limit && n < limit && m * n < limit;
}

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    keepExtensionLoaded();  // its OpenMP threads may outlive the call
    if (nrhs == 0) {
        for (const char *line : kHelpLines) mexPrintf(line);
        return;
    }
    if (nrhs != 2 && nrhs != 3) {
        failWithId("phasekit:kernsmooth_c:argumentCount", kCountError);
        return;
    }
    const bool separable = nrhs == 3;
    const mxArray *map = prhs[0];
    const mxArray *kernel = prhs[1];
    if (!isFullSingleOrDouble(map)) {
        failWithId("phasekit:kernsmooth_c:mapType", kMapTypeError);
        return;
    }
    if (!separable && !isFullSingleOrDouble(kernel)) {
        failWithId("phasekit:kernsmooth_c:kernelType", kKernelTypeError);
        return;
    }
    // A third side would be read as more columns: smoothing across slices, or a
    // kernel whose planes are laid side by side.
    if (mxGetNumberOfDimensions(map) > 2) {
        failWithId("phasekit:kernsmooth_c:mapDimensions", kMapDimensionsError);
        return;
    }
    if (separable) {
        if (!checkWeightVector(prhs[1], kRowWeights) || !checkWeightVector(prhs[2], kColumnWeights)) return;
        if ((mxGetNumberOfElements(map) > 0 && !fitsIndices(map)) || !fitsIndices(prhs[1]) || !fitsIndices(prhs[2])) {
            failWithId("phasekit:kernsmooth_c:tooLarge", kVectorsTooLargeError);
            return;
        }
    } else {
        if (mxGetNumberOfDimensions(kernel) > 2) {
            failWithId("phasekit:kernsmooth_c:kernelDimensions", kKernelDimensionsError);
            return;
        }
        if (mxGetM(kernel) == 0 || mxGetN(kernel) == 0) {
            failWithId("phasekit:kernsmooth_c:kernelEmpty", kKernelEmptyError);
            return;
        }
        if ((mxGetNumberOfElements(map) > 0 && !fitsIndices(map)) || !fitsIndices(kernel)) {
            failWithId("phasekit:kernsmooth_c:tooLarge", kTooLargeError);
            return;
        }
    }
    if (nlhs > 2) {
        failWithId("phasekit:kernsmooth_c:tooManyOutputs", kOutputsError);
        return;
    }

    // The results' samples are all written by the filter: no zero fill, huge pages. A
    // single map gives single results.
    const bool single = mxIsSingle(map);
    const mxClassID resultClass = single ? mxSINGLE_CLASS : mxDOUBLE_CLASS;
    const size_t sampleBytes = single ? sizeof(float) : sizeof(double);
    plhs[0] = mxCreateUninitNumericMatrix(mxGetM(map), mxGetN(map), resultClass, mxCOMPLEX);
    if (nlhs >= 2) plhs[1] = mxCreateUninitNumericMatrix(mxGetM(map), mxGetN(map), resultClass, mxREAL);
    if (mxGetNumberOfElements(map) == 0) return;

    SmoothingInput input;
    SmoothingOutput output;
    input.samples = output.samples = single ? kSingleSamples : kDoubleSamples;
    const size_t samples = mxGetNumberOfElements(map);
    output.support = nlhs >= 2 ? mxGetData(plhs[1]) : nullptr;
    if (output.support) adviseHugePages(output.support, samples * sampleBytes);
#if MX_HAS_INTERLEAVED_COMPLEX
    // The host's interleaved layout, read and written in place; a real map stays real.
    if (mxIsComplex(map)) {
        input.layout = kPairedParts;
        input.re = single ? static_cast<const void *>(complexSingles(map))
                          : static_cast<const void *>(mxGetComplexDoubles(map));
    } else {
        input.layout = kRealSamples;
        input.re = single ? static_cast<const void *>(mxGetSingles(map)) : static_cast<const void *>(mxGetDoubles(map));
    }
    input.im = nullptr;
    output.paired = true;
    output.re = single ? static_cast<void *>(mxGetComplexSingles(plhs[0]))
                       : static_cast<void *>(mxGetComplexDoubles(plhs[0]));
    output.im = nullptr;
    adviseHugePages(output.re, 2 * samples * sampleBytes);
#else
    input.layout = mxIsComplex(map) ? kSeparateParts : kRealSamples;  // a real map's imaginary parts read as zero
    input.re = mxGetData(map);
    input.im = mxGetImagData(map);
    output.paired = false;
    output.re = mxGetData(plhs[0]);
    output.im = mxGetImagData(plhs[0]);
    adviseHugePages(output.re, samples * sampleBytes);
    adviseHugePages(output.im, samples * sampleBytes);
#endif
    input.rows = static_cast<int32_t>(mxGetM(map));
    input.columns = static_cast<int32_t>(mxGetN(map));
    // Ctrl-C ends the call with no result, rather than a result half made.
    Interruption interruption;
    beginInterruptible(&interruption);
    input.interruption = &interruption;
    if (separable) {
        const SeparableKernel vectors = {kernelWeights(prhs[1]), static_cast<int32_t>(mxGetNumberOfElements(prhs[1])),
                                         kernelWeights(prhs[2]), static_cast<int32_t>(mxGetNumberOfElements(prhs[2]))};
        input.kernel = nullptr;
        input.kernelRows = input.kernelColumns = 0;
        filterMapSeparable(input, vectors, output);
    } else {
        input.kernel = kernelWeights(kernel);
        input.kernelRows = static_cast<int32_t>(mxGetM(kernel));
        input.kernelColumns = static_cast<int32_t>(mxGetN(kernel));
        filterMap(input, output);
    }
    if (interrupted(&interruption)) failWithId("phasekit:kernsmooth_c:interrupted", kInterrupted);
}
