// unwrapped_result.cpp: the last stage. Every valid pixel's result is its wrapped value
// plus 2*pi times its step count relative to the reference pixel's, so the reference
// keeps its wrapped value; every missing pixel is NaN. Parallel over columns.
#include "unwrap.h"

#include "mex.h"

void writeUnwrapped(const PhasePixel *pixels, double *out, int32_t refColumn, int32_t refRow,
                    int32_t columns, int32_t rows) {
    // Without a reference the position lies outside the grid and the shift is 0.
    int32_t refIncrement = 0;
    // Host functions are called on the host's thread only, so the NaN is fetched here.
    const double missing = mxGetNaN();
    if (refColumn < columns && refRow < rows)
        refIncrement = pixels[static_cast<int64_t>(refColumn) * rows + refRow].increment;
#pragma omp parallel for schedule(static)
    for (int32_t c = 0; c < columns; ++c) {
        for (int32_t r = 0; r < rows; ++r) {
            int32_t i = r + c * rows;
            const PhasePixel &p = pixels[i];
            if (p.valid)
                out[i] = static_cast<double>(p.increment - refIncrement) * kTwoPi + p.value;
            else
                out[i] = missing;
        }
    }
}
