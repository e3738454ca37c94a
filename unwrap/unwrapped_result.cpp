// unwrapped_result.cpp: the last stage. Every valid pixel's result is its wrapped value
// plus 2*pi times its step count relative to the reference pixel's, so the reference
// keeps its wrapped value; every missing pixel is NaN. Parallel over columns. The
// command's form reads each step count straight from the group links and the value
// from the input; the plain form reads PhasePixel records.
#include "unwrap.h"

#include "mex.h"

namespace {

// The result is formed in double and rounded once to the output's class.
template <typename Sample>
void writeUnwrappedOf(const GroupLink *links, const Sample *wrapped, Sample *out, int64_t referenceIndex,
                      GridShape shape) {
    // A missing reference pixel is alone, with 0 steps: as if there were none.
    const int32_t refSteps =
        referenceIndex >= 0 ? groupSteps(links, static_cast<int32_t>(referenceIndex)) : 0;
    // Host functions are called on the host's thread only, so the NaN is fetched here.
    const double missing = mxGetNaN();
    const int32_t lines = shape.columns * shape.slices;
#pragma omp parallel for schedule(static)
    for (int32_t c = 0; c < lines; ++c) {
        const int32_t start = c * shape.rows;
        for (int32_t i = start; i < start + shape.rows; ++i) {
            double sample = wrapped[i];
            if (usableSample(sample))
                out[i] = static_cast<Sample>(static_cast<double>(groupSteps(links, i) - refSteps) * kTwoPi + sample);
            else
                out[i] = static_cast<Sample>(missing);
        }
    }
}

}  // namespace

void writeUnwrapped(const GroupLink *links, const double *wrapped, double *out,
                    int64_t referenceIndex, GridShape shape) {
    writeUnwrappedOf(links, wrapped, out, referenceIndex, shape);
}
void writeUnwrapped(const GroupLink *links, const float *wrapped, float *out,
                    int64_t referenceIndex, GridShape shape) {
    writeUnwrappedOf(links, wrapped, out, referenceIndex, shape);
}

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
