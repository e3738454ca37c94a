// phasemend.cpp: the entry of the phasemend command. It checks every argument before
// anything is allocated, then runs the fixed sequence of stages: pixel grid,
// reliabilities, edges, ordering, group merging, result. Nothing survives the call.
#include "unwrap.h"

#include "mex.h"

#include "../portable/portability.h"

static const char *const kHelpLines[] = {
    "Returns the 2D unwrapped phase map using a non-continuous path.\n",
    "\tCommand line:\n",
    "\t\tunwrapped = phasemend(wrapped,xref,yref);\n",
    "\tWhere:\n",
    "\t\t-wrapped is the 2D wrapped phase map,\n",
    "\t\t-xref and yref is x and y location of a known point (optionnal),\n",
    "\n",
    "Paper:\n",
    "\tFast two-dimensional phase-unwrapping algorithm based\n",
    "\ton sorting by reliability following a noncontinuous path\n",
    "\tby Miguel Arevallilo Herraez, David R. Burton, Michael J. Lalor and Munther A. Gdeisat\n",
    "\tApplied Optics, Vol. 41, No. 35, pp. 7437, 2002\n",
    "\n",
};

static const char kReferenceError[] =
    "   x_ref and/or y_ref can not be smaller than 1 nor larger than the matrix size.\n";
static const char kWrappedTypeError[] =
    "wrapped must be a full (not sparse) double matrix.";
static const char kReferenceTypeError[] =
    "xref and yref must be non-empty full (not sparse) double values.";
static const char kWrappedDimensionsError[] =
    "wrapped must be a 2-D matrix; for a stack of maps, unwrap each slice wrapped(:,:,k) on its own.";
static const char kReferenceDimensionsError[] = "xref and yref must not have more than two dimensions.";
static const char kTooLargeError[] =
    "wrapped is too large: its pixel and edge counts must stay below 2^31.";

// A working array that its first stage writes whole before anything reads it, so it
// needs no zero fill; large ones are offered huge pages.
static void *workingArray(size_t count, size_t recordSize) {
    void *block = mxMalloc(count * recordSize);
    adviseHugePages(block, count * recordSize);
    return block;
}

static bool isFullDouble(const mxArray *a) { return mxIsDouble(a) && !mxIsSparse(a); }

// Converts a 1-based coordinate to a 0-based index; false when it is NaN, infinite or
// its truncation does not fit a signed 32-bit integer.
static bool referenceIndex(double coordinate, int64_t *index) {
    if (!(coordinate > -2147483649.0 && coordinate < 2147483648.0)) return false;
    *index = static_cast<int64_t>(static_cast<int32_t>(coordinate)) - 1;
    return true;
}

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    keepExtensionLoaded();  // its OpenMP threads may outlive the call
    (void)nlhs;
    if (nrhs != 1 && nrhs != 3) {
        for (const char *line : kHelpLines) mexPrintf(line);
        return;
    }

    // Validate everything first, so an error leaves nothing behind.
    if (!isFullDouble(prhs[0])) {
        mexErrMsgTxt(kWrappedTypeError);
        return;
    }
    // A third side would be read as more columns, carrying phase across slices.
    if (mxGetNumberOfDimensions(prhs[0]) > 2) {
        mexErrMsgTxt(kWrappedDimensionsError);
        return;
    }
    const double *wrapped = mxGetPr(prhs[0]);
    size_t columnsWide = mxGetN(prhs[0]);
    size_t rowsWide = mxGetM(prhs[0]);
    if (columnsWide > 0 && rowsWide > 0) {
        // Pixel indices and edge offsets are signed 32-bit.
        const size_t limit = size_t(1) << 31;
        bool tooLarge = columnsWide >= limit || rowsWide >= limit ||
                        rowsWide * columnsWide >= limit ||
                        2 * rowsWide * columnsWide - rowsWide - columnsWide >= limit;
        if (tooLarge) {
            mexErrMsgTxt(kTooLargeError);
            return;
        }
    }
    int32_t columns = static_cast<int32_t>(columnsWide);
    int32_t rows = static_cast<int32_t>(rowsWide);

    // Without a reference, a position outside the grid stands for none (N + 1, M + 1,
    // held at the largest 32-bit value for a side of 2^31 - 1).
    int32_t refColumn = columns < INT32_MAX ? columns + 1 : INT32_MAX;
    int32_t refRow = rows < INT32_MAX ? rows + 1 : INT32_MAX;
    if (nrhs == 3) {
        for (int k = 1; k <= 2; ++k) {
            if (!isFullDouble(prhs[k]) || mxGetNumberOfElements(prhs[k]) == 0) {
                mexErrMsgTxt(kReferenceTypeError);
                return;
            }
            if (mxGetNumberOfDimensions(prhs[k]) > 2) {
                mexErrMsgTxt(kReferenceDimensionsError);
                return;
            }
        }
        int64_t column = -1, row = -1;
        bool usable = referenceIndex(mxGetPr(prhs[1])[0], &column) &&
                      referenceIndex(mxGetPr(prhs[2])[0], &row);
        if (!usable || column < 0 || column >= columns || row < 0 || row >= rows) {
            mexErrMsgTxt(kReferenceError);
            return;
        }
        refColumn = static_cast<int32_t>(column);
        refRow = static_cast<int32_t>(row);
    }

    plhs[0] = mxCreateDoubleMatrix(rowsWide, columnsWide, mxREAL);
    if (columns == 0 || rows == 0) return;  // nothing to unwrap: an empty map of that size
    double *unwrapped = mxGetPr(plhs[0]);

    // Working memory at its peak: the edges (16 bytes each, about two per pixel) and
    // the group links (8 bytes per pixel). The reliabilities are held in the result
    // until the edges are built: the result's memory is there anyway, and the last
    // stage writes every one of its samples.
    const GridShape shape = {rows, columns, 1};
    const size_t pixelCount = static_cast<size_t>(rows * columns);
    double *reliability = unwrapped;
    initPixels(reliability, columns, rows);
    computeReliability(wrapped, reliability, columns, rows);

    // Not freed here: the host reclaims this small array when the call ends.
    int32_t *edgeOffsets = static_cast<int32_t *>(mxCalloc(2 * static_cast<size_t>(columns),
                                                           sizeof(int32_t)));
    int32_t edgeCount = countEdges(wrapped, edgeOffsets, columns, rows);
    CompactEdge *edges =
        static_cast<CompactEdge *>(workingArray(static_cast<size_t>(edgeCount), sizeof(CompactEdge)));
    fillEdges(wrapped, reliability, edges, edgeOffsets, columns, rows);
    if (edgeCount > 0) sortEdges(edges, edges + edgeCount - 1);
    GroupLink *links = static_cast<GroupLink *>(workingArray(pixelCount, sizeof(GroupLink)));
    mergeGroups(links, edges, edgeCount, shape);
    mxFree(edges);
    const int64_t referenceIndex =
        refColumn < columns && refRow < rows ? static_cast<int64_t>(refColumn) * rows + refRow : -1;
    writeUnwrapped(links, wrapped, unwrapped, referenceIndex, shape);
    mxFree(links);
}
