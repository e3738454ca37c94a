// unwrapped_result.cpp: the last stage. Every valid pixel's result is its wrapped value
// plus 2*pi times its step count relative to the reference pixel's, so the reference
// keeps its wrapped value; every missing pixel is NaN. Parallel over columns. The
// command's form reads each step count straight from the group links and the value
// from the input; it also notes each pixel's group head for the connected regions and
// marks the reliability output's missing and initial values, when they are asked for.
// The plain form reads PhasePixel records.
#include "unwrap.h"

#include "mex.h"

#include <limits>

namespace {

// The result is formed in double and rounded once to the output's class. With
// regionHeads, each pixel's head is noted on the way: it is where the step count's
// walk ends.
template <typename Sample, typename Valid>
void writeUnwrappedOf(const GroupLink *links, const Sample *wrapped, Valid valid, Sample *out,
                      int64_t referenceIndex, GridShape shape, double *regionHeads, Sample *reliability,
                      bool initialValues, Interruption *interruption) {
    // A missing reference pixel is alone, with 0 steps: as if there were none.
    const int32_t refSteps =
        referenceIndex >= 0 ? groupSteps(links, static_cast<int32_t>(referenceIndex)) : 0;
    // Host functions are called on the host's thread only, so the NaN is fetched here.
    const double missing = mxGetNaN();
    const double initial = std::numeric_limits<double>::infinity();
    // Computed reliabilities stay below 16*pi^2 (13*4*pi^2 in a volume), far below
    // every initial value, which is at least this even rounded to single.
    const Sample initialFloor = static_cast<Sample>(kInitialReliability);
    const int32_t lines = shape.columns * shape.slices;
    parallelFor(interruption, 0, lines, shape.rows, [=](int64_t c) {
        const int32_t start = static_cast<int32_t>(c) * shape.rows;
        for (int32_t i = start; i < start + shape.rows; ++i) {
            if (!valid(i)) {
                out[i] = static_cast<Sample>(missing);
                if (regionHeads != nullptr) regionHeads[i] = 0.0;
                if (reliability != nullptr) reliability[i] = static_cast<Sample>(missing);
                continue;
            }
            if (reliability != nullptr && initialValues && reliability[i] >= initialFloor)
                reliability[i] = static_cast<Sample>(initial);
            int32_t steps = 0, pixel = i;
            for (; links[pixel].parent >= 0; pixel = links[pixel].parent) steps += links[pixel].offset;
            out[i] = static_cast<Sample>(static_cast<double>(steps - refSteps) * kTwoPi +
                                         static_cast<double>(wrapped[i]));
            if (regionHeads != nullptr) regionHeads[i] = static_cast<double>(pixel) + 1.0;
        }
    });
}

// The stage's call for withValidity. Without a quality map, pixels that kept their
// initial value are marked in the reliability output.
template <typename Sample>
struct ResultWrite {
    const GroupLink *links;
    const Sample *wrapped;
    Sample *out;
    int64_t referenceIndex;
    GridShape shape;
    double *regionHeads;
    Sample *reliability;
    bool initialValues;
    Interruption *interruption;
    template <typename Valid>
    void operator()(Valid valid) const {
        writeUnwrappedOf(links, wrapped, valid, out, referenceIndex, shape, regionHeads, reliability, initialValues,
                         interruption);
    }
};

}  // namespace

void writeUnwrapped(const GroupLink *links, const double *wrapped, double *out,
                    int64_t referenceIndex, GridShape shape, QualityMap quality, double *regionHeads,
                    double *reliability, Interruption *interruption) {
    withValidity(wrapped, quality, ResultWrite<double>{links, wrapped, out, referenceIndex, shape, regionHeads,
                                                       reliability, !hasQuality(quality), interruption});
}
void writeUnwrapped(const GroupLink *links, const float *wrapped, float *out,
                    int64_t referenceIndex, GridShape shape, QualityMap quality, double *regionHeads,
                    float *reliability, Interruption *interruption) {
    withValidity(wrapped, quality, ResultWrite<float>{links, wrapped, out, referenceIndex, shape, regionHeads,
                                                      reliability, !hasQuality(quality), interruption});
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
