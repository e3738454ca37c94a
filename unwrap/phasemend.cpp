// phasemend.cpp: the entry of the phasemend command. It checks every argument and
// option before anything is allocated, then runs the fixed sequence of stages
// (unwrapMap): pixel reliabilities, edges, ordering, group merging, result, and the
// regions and reliabilities when they are asked for. Nothing survives the call.
#include "entry_support.h"
#include "tiles.h"
#include "unwrap.h"

#include "mex.h"

#include <algorithm>

#include "../portable/interruption.h"
#include "../portable/messages.h"
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
    "wrapped must be a full (not sparse) single or double matrix.";
static const char kReferenceTypeError[] =
    "xref and yref must be non-empty full (not sparse) double values.";
static const char kWrappedDimensionsError[] =
    "wrapped must be a 2-D matrix; for a volume use phasemend3, and for a stack of independent "
    "maps unwrap each slice wrapped(:,:,k) on its own.";
static const char kReferenceDimensionsError[] = "xref and yref must not have more than two dimensions.";
static const char kOutputCountError[] =
    "phasemend gives at most three outputs: [unwrapped, regions, reliability].";
static const char kTooLargeError[] =
    "wrapped is too large: its pixel and edge counts must stay below 2^31 (phasemend with 'TileSize' unwraps "
    "larger maps in tiles).";
static const char kTilesTooLargeError[] =
    "phasemend needs tiles of fewer than 2^30 pixels, and rows and columns below 2^31 each: give a smaller "
    "TileSize.";
static const char kTilesTooManyError[] =
    "phasemend cannot keep the skeletons of this many tiles: give a larger TileSize.";
static const char kInterrupted[] = "phasemend was interrupted (Ctrl-C): it returns nothing.";

// Whether the nodes of every tile's skeleton fit the 32-bit numbers the merge gives
// them, at the most a tile can have (a tile of fewer pixels has fewer).
static bool tiledNodesFit(size_t rows, size_t columns, size_t tileRows, size_t tileColumns) {
    const size_t tiles = (rows / tileRows + (rows % tileRows != 0)) * (columns / tileColumns + (columns % tileColumns != 0));
    const size_t border = tileRows <= 2 || tileColumns <= 2 ? tileRows * tileColumns : 2 * (tileRows + tileColumns) - 4;
    const size_t perTile = std::min(tileRows * tileColumns, 4 * (border + 1));
    return tiles * perTile < (size_t(1) << 31);
}

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
    keepExtensionLoaded();  // its OpenMP threads may outlive the call
    bool hasReference;
    int optionsStart;
    if (!splitArguments(nrhs, prhs, 2, &hasReference, &optionsStart)) {
        for (const char *line : kHelpLines) mexPrintf(line);
        return;
    }

    // Validate everything first, so an error leaves nothing behind.
    if (nlhs > 3) {
        failWithId("phasekit:phasemend:tooManyOutputs", kOutputCountError);
        return;
    }
    if (!isFullSingleOrDouble(prhs[0])) {
        failWithId("phasekit:phasemend:wrappedType", kWrappedTypeError);
        return;
    }
    // A third side would be read as more columns, carrying phase across slices.
    if (mxGetNumberOfDimensions(prhs[0]) > 2) {
        failWithId("phasekit:phasemend:wrappedDimensions", kWrappedDimensionsError);
        return;
    }
    size_t columnsWide = mxGetN(prhs[0]);
    size_t rowsWide = mxGetM(prhs[0]);
    UnwrapOptions options = UnwrapOptions();
    const size_t sides[2] = {rowsWide, columnsWide};
    if (!readOptions("phasemend", prhs + optionsStart, nrhs - optionsStart, prhs[0], 2, sides, &options)) return;
    const size_t limit = size_t(1) << 31;
    if (columnsWide > 0 && rowsWide > 0 && options.tileSize[0] == 0) {
        // Pixel indices and edge offsets are signed 32-bit; edges across periodic
        // borders come on top of the others.
        bool tooLarge = columnsWide >= limit || rowsWide >= limit || rowsWide * columnsWide >= limit ||
                        2 * rowsWide * columnsWide - rowsWide - columnsWide +
                                (options.periodic[0] ? columnsWide : 0) + (options.periodic[1] ? rowsWide : 0) >=
                            limit;
        if (tooLarge) {
            failWithId("phasekit:phasemend:tooLarge", kTooLargeError);
            return;
        }
    }
    if (columnsWide > 0 && rowsWide > 0 && options.tileSize[0] > 0) {
        // A tiled call holds whole-map positions in 64 bits; inside a tile, pixels and
        // edges (two a pixel) are numbered in 32, and so are the skeletons' nodes.
        const size_t tileRows = std::min<size_t>(static_cast<size_t>(options.tileSize[0]), rowsWide);
        const size_t tileColumns = std::min<size_t>(static_cast<size_t>(options.tileSize[1]), columnsWide);
        if (columnsWide >= limit || rowsWide >= limit || tileRows * tileColumns >= limit / 2) {
            failWithId("phasekit:phasemend:tilesTooLarge", kTilesTooLargeError);
            return;
        }
        if (!tiledNodesFit(rowsWide, columnsWide, tileRows, tileColumns)) {
            failWithId("phasekit:phasemend:tilesTooMany", kTilesTooManyError);
            return;
        }
    }
    int32_t columns = static_cast<int32_t>(columnsWide);
    int32_t rows = static_cast<int32_t>(rowsWide);

    int64_t referenceIndex = -1;  // none
    if (hasReference) {
        const int64_t referenceSides[2] = {columns, rows};
        int64_t position[2];
        const ReferenceErrors errors = {"phasemend", kReferenceTypeError, kReferenceDimensionsError, kReferenceError};
        if (!readReferenceOrEnd(prhs + 1, 2, referenceSides, position, errors)) return;
        referenceIndex = position[0] * rows + position[1];
    }

    // Every sample of the results is written by the stages: no zero fill. A single map
    // gives a single result (and reliability); the regions are numbers, in double.
    const bool single = mxIsSingle(prhs[0]);
    const mxClassID sampleClass = single ? mxSINGLE_CLASS : mxDOUBLE_CLASS;
    plhs[0] = mxCreateUninitNumericMatrix(rowsWide, columnsWide, sampleClass, mxREAL);
    if (nlhs >= 2) {
        plhs[1] = mxCreateUninitNumericMatrix(rowsWide, columnsWide, mxDOUBLE_CLASS, mxREAL);
        options.regions = mxGetPr(plhs[1]);
        adviseHugePages(options.regions, rowsWide * columnsWide * sizeof(double));
    }
    if (nlhs >= 3) {
        plhs[2] = mxCreateUninitNumericMatrix(rowsWide, columnsWide, sampleClass, mxREAL);
        options.reliability = mxGetData(plhs[2]);
        adviseHugePages(options.reliability, rowsWide * columnsWide * (single ? sizeof(float) : sizeof(double)));
    }
    if (columns == 0 || rows == 0) return;  // nothing to unwrap: empty results of that size
    void *unwrapped = mxGetData(plhs[0]);
    adviseHugePages(unwrapped, rowsWide * columnsWide * (single ? sizeof(float) : sizeof(double)));
    // A complex map's real parts are the map. Ctrl-C ends the call with everything it
    // held freed and no result, rather than a result half made.
    Interruption interruption;
    beginInterruptible(&interruption);
    options.interruption = &interruption;
    bool done;
    if (options.tileSize[0] > 0) {
        if (single)
            done = unwrapMapInTiles(realSingles(prhs[0]), static_cast<float *>(unwrapped), referenceIndex, columns,
                                    rows, options.tileSize[0], options.tileSize[1], options);
        else
            done = unwrapMapInTiles(realParts(prhs[0]), static_cast<double *>(unwrapped), referenceIndex, columns,
                                    rows, options.tileSize[0], options.tileSize[1], options);
    } else if (single) {
        done = unwrapMap(realSingles(prhs[0]), static_cast<float *>(unwrapped), referenceIndex, columns, rows, options);
    } else {
        done = unwrapMap(realParts(prhs[0]), static_cast<double *>(unwrapped), referenceIndex, columns, rows, options);
    }
    if (!done) failWithId("phasekit:phasemend:interrupted", kInterrupted);
}
