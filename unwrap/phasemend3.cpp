// phasemend3.cpp: the entry of the phasemend3 command, which unwraps a 3-D volume of
// wrapped phase by the same reliability-sorting method as phasemend, with reliabilities
// over 3x3x3 blocks and edges through the slices as well. It checks every argument
// before anything is allocated; a volume of one slice is a map and takes phasemend's
// path, so it gives phasemend's result. Nothing survives the call.
#include "entry_support.h"
#include "unwrap.h"

#include "mex.h"

#include "../portable/interruption.h"
#include "../portable/messages.h"
#include "../portable/portability.h"

static const char *const kHelpLines[] = {
    "Unwraps a 3-D volume of wrapped phase along a non-continuous path, most reliable voxels first.\n",
    "\tCommand line:\n",
    "\t\tunwrapped = phasemend3(wrapped);\n",
    "\t\tunwrapped = phasemend3(wrapped,xref,yref,zref);\n",
    "\tWhere:\n",
    "\t\t-wrapped is an M x N x P array of wrapped phase (radians); NaN or Inf marks a missing voxel,\n",
    "\t\t-xref, yref and zref are the column, row and slice (from 1) of a voxel whose\n",
    "\t\t result keeps its wrapped value (optional).\n",
    "\tA 2-D map gives the result phasemend gives for it.\n",
    "\n",
    "Paper:\n",
    "\tFast and robust three-dimensional best path phase unwrapping algorithm\n",
    "\tby Hussein S. Abdul-Rahman, Munther A. Gdeisat, David R. Burton, Michael J. Lalor,\n",
    "\tFrancis Lilley and Christopher J. Moore\n",
    "\tApplied Optics, Vol. 46, No. 26, pp. 6623-6635, 2007\n",
    "\n",
};

static const char kReferenceError[] =
    "   x_ref, y_ref and/or z_ref can not be smaller than 1 nor larger than the volume size.\n";
static const char kWrappedTypeError[] = "wrapped must be a full (not sparse) real single or double array.";
static const char kReferenceTypeError[] =
    "xref, yref and zref must be non-empty full (not sparse) double values.";
static const char kWrappedDimensionsError[] =
    "wrapped must have at most three dimensions (rows, columns, slices).";
static const char kReferenceDimensionsError[] =
    "xref, yref and zref must not have more than two dimensions.";
static const char kTooLargeError[] =
    "wrapped is too large: its voxel and edge counts must stay below 2^31.";

static const char kOutputCountError[] =
    "phasemend3 gives at most three outputs: [unwrapped, regions, reliability].";
static const char kInterrupted[] = "phasemend3 was interrupted (Ctrl-C): it returns nothing.";

// Voxel indices and edge offsets are signed 32-bit: the voxel count and the edge count
// of a volume without missing voxels (with the edges across periodic borders) must
// stay below 2^31.
static bool tooLarge(size_t rows, size_t columns, size_t slices, const bool periodic[3]) {
    const size_t limit = size_t(1) << 31;
    if (rows >= limit || columns >= limit || slices >= limit) return true;
    if (rows * columns >= limit || rows * columns * slices >= limit) return true;
    size_t voxels = rows * columns * slices;
    size_t edges = (voxels - columns * slices) + (voxels - rows * slices) + (voxels - rows * columns);
    edges += (periodic[0] ? columns * slices : 0) + (periodic[1] ? rows * slices : 0) +
             (periodic[2] ? rows * columns : 0);
    return edges >= limit;
}

// A volume of one slice takes the map's path (its slices cannot be periodic).
template <typename Sample>
static bool unwrapGrid(const Sample *wrapped, Sample *unwrapped, int64_t referenceIndex, GridShape shape,
                       const UnwrapOptions &options) {
    if (shape.slices == 1) return unwrapMap(wrapped, unwrapped, referenceIndex, shape.columns, shape.rows, options);
    return unwrapVolume(wrapped, unwrapped, referenceIndex, shape, options);
}

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    keepExtensionLoaded();  // its OpenMP threads may outlive the call
    bool hasReference;
    int optionsStart;
    if (!splitArguments(nrhs, prhs, 3, &hasReference, &optionsStart)) {
        for (const char *line : kHelpLines) mexPrintf(line);
        return;
    }

    // Validate everything first, so an error leaves nothing behind.
    if (nlhs > 3) {
        failWithId("phasekit:phasemend3:tooManyOutputs", kOutputCountError);
        return;
    }
    if (!isFullSingleOrDouble(prhs[0]) || mxIsComplex(prhs[0])) {
        failWithId("phasekit:phasemend3:wrappedType", kWrappedTypeError);
        return;
    }
    const mwSize dimensions = mxGetNumberOfDimensions(prhs[0]);
    if (dimensions > 3) {
        failWithId("phasekit:phasemend3:wrappedDimensions", kWrappedDimensionsError);
        return;
    }
    // mwSize is unsigned in MATLAB and signed in Octave; sides are never negative.
    const mwSize *sides = mxGetDimensions(prhs[0]);
    const size_t rowsWide = static_cast<size_t>(sides[0]), columnsWide = static_cast<size_t>(sides[1]);
    const size_t slicesWide = dimensions == 3 ? static_cast<size_t>(sides[2]) : 1;
    UnwrapOptions options = UnwrapOptions();
    const size_t optionSides[3] = {rowsWide, columnsWide, slicesWide};
    if (!readOptions("phasemend3", prhs + optionsStart, nrhs - optionsStart, prhs[0], 3, optionSides, &options))
        return;
    const bool empty = rowsWide == 0 || columnsWide == 0 || slicesWide == 0;
    if (!empty && tooLarge(rowsWide, columnsWide, slicesWide, options.periodic)) {
        failWithId("phasekit:phasemend3:tooLarge", kTooLargeError);
        return;
    }
    const GridShape shape = {static_cast<int32_t>(rowsWide), static_cast<int32_t>(columnsWide),
                             static_cast<int32_t>(slicesWide)};

    int64_t referenceIndex = -1;  // none
    if (hasReference) {
        const int64_t limits[3] = {shape.columns, shape.rows, shape.slices};
        int64_t position[3];
        const ReferenceErrors errors = {"phasemend3", kReferenceTypeError, kReferenceDimensionsError, kReferenceError};
        if (!readReferenceOrEnd(prhs + 1, 3, limits, position, errors)) return;
        referenceIndex = position[1] + position[0] * shape.rows +
                         position[2] * static_cast<int64_t>(shape.rows) * shape.columns;
    }

    // Every sample of the results is written by the stages: no zero fill. (Some hosts
    // declare the sides of mxCreateUninitNumericArray without const.) A single volume
    // gives a single result (and reliability); the regions are numbers, in double.
    mwSize resultSides[3] = {sides[0], sides[1], dimensions == 3 ? sides[2] : 1};
    const bool single = mxIsSingle(prhs[0]);
    const mxClassID sampleClass = single ? mxSINGLE_CLASS : mxDOUBLE_CLASS;
    plhs[0] = mxCreateUninitNumericArray(dimensions, resultSides, sampleClass, mxREAL);
    if (nlhs >= 2) {
        plhs[1] = mxCreateUninitNumericArray(dimensions, resultSides, mxDOUBLE_CLASS, mxREAL);
        options.regions = mxGetPr(plhs[1]);
        adviseHugePages(options.regions, rowsWide * columnsWide * slicesWide * sizeof(double));
    }
    if (nlhs >= 3) {
        plhs[2] = mxCreateUninitNumericArray(dimensions, resultSides, sampleClass, mxREAL);
        options.reliability = mxGetData(plhs[2]);
        adviseHugePages(options.reliability, rowsWide * columnsWide * slicesWide * (single ? sizeof(float) : sizeof(double)));
    }
    if (empty) return;  // nothing to unwrap: empty results of that size
    void *unwrapped = mxGetData(plhs[0]);
    adviseHugePages(unwrapped, rowsWide * columnsWide * slicesWide * (single ? sizeof(float) : sizeof(double)));
    // Ctrl-C ends the call with everything it held freed and no result.
    Interruption interruption;
    beginInterruptible(&interruption);
    options.interruption = &interruption;
    const bool done = single ? unwrapGrid(static_cast<const float *>(mxGetData(prhs[0])),
                                          static_cast<float *>(unwrapped), referenceIndex, shape, options)
                             : unwrapGrid(mxGetPr(prhs[0]), static_cast<double *>(unwrapped), referenceIndex, shape,
                                          options);
    if (!done) failWithId("phasekit:phasemend3:interrupted", kInterrupted);
}
