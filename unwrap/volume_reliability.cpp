// volume_reliability.cpp: the reliability stage for volumes. A voxel off every face of
// the volume whose 26 neighbours are all valid gets the sum of the squared second
// differences along the 13 directions through its 3x3x3 block; every other voxel keeps
// its initial value. Parallel over the volume's columns (one column of rows per
// iteration, each writing only its own voxels).
#include "unwrap.h"

namespace {

// The second difference along one direction: wrap(v(x - d) - v(x)) - wrap(v(x) - v(x + d)).
inline double secondDifference(double before, double v, double after) {
    return wrapPhase(before - v) - wrapPhase(v - after);
}

template <typename Sample>
void computeReliabilityOf(const Sample *wrapped, double *reliability, GridShape shape, Interruption *interruption) {
    const int32_t rows = shape.rows, columns = shape.columns, slices = shape.slices;
    if (rows <= 2 || columns <= 2 || slices <= 2) return;
    const int64_t columnStep = rows, sliceStep = static_cast<int64_t>(rows) * columns;
    const int32_t interiorColumns = columns - 2;
    const int32_t lines = interiorColumns * (slices - 2);

    parallelFor(interruption, 0, lines, 40.0 * rows, [=](int64_t lineIndex) {
        const int32_t line = static_cast<int32_t>(lineIndex);
        const int32_t c = 1 + line % interiorColumns, s = 1 + line / interiorColumns;
        const int64_t start = static_cast<int64_t>(c) * rows + s * sliceStep;
        // The nine columns of the 3x3 cross-section: q[ds + 1][dc + 1] is column c + dc
        // of slice s + ds; the voxel is q11[r].
        const Sample *q[3][3];
        for (int ds = -1; ds <= 1; ++ds)
            for (int dc = -1; dc <= 1; ++dc) q[ds + 1][dc + 1] = wrapped + start + dc * columnStep + ds * sliceStep;
        const Sample *const q00 = q[0][0], *const q01 = q[0][1], *const q02 = q[0][2];
        const Sample *const q10 = q[1][0], *const q11 = q[1][1], *const q12 = q[1][2];
        const Sample *const q20 = q[2][0], *const q21 = q[2][1], *const q22 = q[2][2];
        double *out = reliability + start;
        // Whether all nine samples of the cross-section at a row are valid (counted,
        // with no early exit: fewer branches), for the rows before, at and after the
        // voxel, moved along as the row advances.
        auto crossSectionValid = [=](int32_t row) {
            int valid = usableSample(q00[row]) + usableSample(q01[row]) + usableSample(q02[row]) +
                        usableSample(q10[row]) + usableSample(q11[row]) + usableSample(q12[row]) +
                        usableSample(q20[row]) + usableSample(q21[row]) + usableSample(q22[row]);
            return valid == 9;
        };
        bool before = crossSectionValid(0), here = crossSectionValid(1), after;
        for (int32_t r = 1; r < rows - 1; ++r) {
            after = crossSectionValid(r + 1);
            if (before && here && after) {
                const double v = q11[r];
                // The 13 directions (rows, columns, slices) in the order their squares
                // are added, each square on its own, left to right: the three axes (the
                // row pair first, as in a map), the six face diagonals, the four body
                // diagonals. Direction d pairs x - d with x + d.
                double d = secondDifference(q10[r], v, q12[r]);         // (0, 1, 0)
                double sum = d * d;
                d = secondDifference(q11[r - 1], v, q11[r + 1]);        // (1, 0, 0)
                sum += d * d;
                d = secondDifference(q01[r], v, q21[r]);                // (0, 0, 1)
                sum += d * d;
                d = secondDifference(q10[r - 1], v, q12[r + 1]);        // (1, 1, 0)
                sum += d * d;
                d = secondDifference(q12[r - 1], v, q10[r + 1]);        // (1, -1, 0)
                sum += d * d;
                d = secondDifference(q00[r], v, q22[r]);                // (0, 1, 1)
                sum += d * d;
                d = secondDifference(q20[r], v, q02[r]);                // (0, 1, -1)
                sum += d * d;
                d = secondDifference(q01[r - 1], v, q21[r + 1]);        // (1, 0, 1)
                sum += d * d;
                d = secondDifference(q21[r - 1], v, q01[r + 1]);        // (1, 0, -1)
                sum += d * d;
                d = secondDifference(q00[r - 1], v, q22[r + 1]);        // (1, 1, 1)
                sum += d * d;
                d = secondDifference(q20[r - 1], v, q02[r + 1]);        // (1, 1, -1)
                sum += d * d;
                d = secondDifference(q02[r - 1], v, q20[r + 1]);        // (1, -1, 1)
                sum += d * d;
                d = secondDifference(q22[r - 1], v, q00[r + 1]);        // (1, -1, -1)
                sum += d * d;
                out[r] = sum;
            }
            before = here;
            here = after;
        }
    });
}

// The 13 directions (rows, columns, slices) in the order the interior adds their
// squares.
const int kDirections[13][3] = {{0, 1, 0}, {1, 0, 0},  {0, 0, 1},  {1, 1, 0},  {1, -1, 0},
                                {0, 1, 1}, {0, 1, -1}, {1, 0, 1},  {1, 0, -1}, {1, 1, 1},
                                {1, 1, -1}, {1, -1, 1}, {1, -1, -1}};

// The three positions k - 1, k, k + 1 on a side of n samples, across the border where
// the side wraps around; false where a neighbour is missing.
inline bool sidePositions(int32_t k, int32_t n, bool wraps, int64_t positions[3]) {
    positions[0] = k > 0 ? k - 1 : wraps ? n - 1 : -1;
    positions[1] = k;
    positions[2] = k < n - 1 ? k + 1 : wraps ? 0 : -1;
    return positions[0] >= 0 && positions[2] >= 0;
}

// The voxels on the faces of sides that wrap around: the interior's arithmetic, in
// its order, with the neighbours found across the borders. Parallel over the volume's
// columns; an inner column has only its first and last rows on a face.
template <typename Sample>
void computeBorderReliabilityOf(const Sample *wrapped, double *reliability, GridShape shape,
                                const bool periodic[3]) {
    const int32_t rows = shape.rows, columns = shape.columns, slices = shape.slices;
    if (!(periodic[0] || periodic[1] || periodic[2]) || rows < 3 || columns < 3 || slices < 3) return;
    const int64_t columnStep = rows, sliceStep = static_cast<int64_t>(rows) * columns;
    const int32_t lines = columns * slices;
#pragma omp parallel for schedule(static)
    for (int32_t line = 0; line < lines; ++line) {
        const int32_t c = line % columns, s = line / columns;
        int64_t columnAt[3], sliceAt[3], rowAt[3];
        if (!sidePositions(c, columns, periodic[1], columnAt) || !sidePositions(s, slices, periodic[2], sliceAt))
            continue;
        const bool onFace = c == 0 || c == columns - 1 || s == 0 || s == slices - 1;
        if (!onFace && !periodic[0]) continue;
        const int32_t rowStep = onFace ? 1 : rows - 1;
        for (int32_t r = 0; r < rows; r += rowStep) {
            if (!sidePositions(r, rows, periodic[0], rowAt)) continue;
            // at(dr, dc, ds): the neighbour one step along each side (-1, 0 or +1).
            auto at = [&](int dr, int dc, int ds) {
                return static_cast<double>(
                    wrapped[rowAt[dr + 1] + columnAt[dc + 1] * columnStep + sliceAt[ds + 1] * sliceStep]);
            };
            bool complete = true;
            for (int dr = -1; complete && dr <= 1; ++dr)
                for (int dc = -1; complete && dc <= 1; ++dc)
                    for (int ds = -1; complete && ds <= 1; ++ds) complete = usableSample(at(dr, dc, ds));
            if (!complete) continue;
            const double v = at(0, 0, 0);
            double sum = 0.0;
            for (int k = 0; k < 13; ++k) {
                const int *d = kDirections[k];
                const double difference = secondDifference(at(-d[0], -d[1], -d[2]), v, at(d[0], d[1], d[2]));
                sum = k == 0 ? difference * difference : sum + difference * difference;
            }
            reliability[r + c * columnStep + s * sliceStep] = sum;
        }
    }
}

}  // namespace

void computeBorderReliability(const double *wrapped, double *reliability, GridShape shape,
                              const bool periodic[3]) {
    computeBorderReliabilityOf(wrapped, reliability, shape, periodic);
}
void computeBorderReliability(const float *wrapped, double *reliability, GridShape shape,
                              const bool periodic[3]) {
    computeBorderReliabilityOf(wrapped, reliability, shape, periodic);
}

void computeReliability(const double *wrapped, double *reliability, GridShape shape, Interruption *interruption) {
    computeReliabilityOf(wrapped, reliability, shape, interruption);
}
void computeReliability(const float *wrapped, double *reliability, GridShape shape, Interruption *interruption) {
    computeReliabilityOf(wrapped, reliability, shape, interruption);
}
