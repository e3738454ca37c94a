// pixel_reliability.cpp: gives every pixel whose eight neighbours are all valid a
// reliability from the second differences of the wrapped phase. Every other pixel
// keeps a large initial value whose random part orders its edges after all computed
// ones. The command's form writes one array of doubles and reads values and validity
// from the input samples; the plain form fills PhasePixel records. Both arithmetics
// are the same, operation for operation. Every loop is parallel over columns and
// writes only its own column.
#include "unwrap.h"


int32_t pixelRandom(int32_t column, int32_t row) {
    // A stateless mix of the position (the splitmix64 finaliser): any thread, any
    // schedule and any call give the same draw for the same pixel.
    uint64_t z = (static_cast<uint64_t>(static_cast<uint32_t>(column)) << 32) ^
                 static_cast<uint32_t>(row);
    z += 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    return static_cast<int32_t>(z >> 49);  // the top 15 bits: 0..32767
}

void initPixels(double *reliability, int32_t columns, int32_t rows, Interruption *interruption) {
    parallelFor(interruption, 0, columns, rows, [=](int64_t c) {
        double *column = reliability + c * rows;
        for (int32_t r = 0; r < rows; ++r)
            column[r] = static_cast<double>(kInitialReliability + pixelRandom(static_cast<int32_t>(c), r));
    });
}

namespace {

// Every difference below has the centre, a double, on one side: samples of either
// class take part as doubles.
template <typename Sample>
void computeReliabilityOf(const Sample *wrapped, double *reliability, int32_t columns, int32_t rows,
                          Interruption *interruption) {
    if (rows <= 2) return;
    parallelFor(interruption, 1, columns - 1, 8.0 * rows, [=](int64_t c) {
        const Sample *left = wrapped + (c - 1) * rows;
        const Sample *centre = left + rows;
        const Sample *right = centre + rows;
        double *out = reliability + c * rows;
        for (int32_t r = 1; r < rows - 1; ++r) {
            // All nine samples must be usable: a partial sum is never stored.
            if (!usableSample(centre[r]) || !usableSample(left[r - 1]) || !usableSample(left[r]) ||
                !usableSample(left[r + 1]) || !usableSample(centre[r - 1]) ||
                !usableSample(centre[r + 1]) || !usableSample(right[r - 1]) ||
                !usableSample(right[r]) || !usableSample(right[r + 1]))
                continue;
            out[r] = secondDifferenceSum(centre[r], centre[r - 1], centre[r + 1], left[r], right[r], left[r - 1],
                                         right[r + 1], left[r + 1], right[r - 1]);
        }
    });
}

// The interior's arithmetic, operation for operation, on neighbours found across the
// borders. Only pixels on a border of a periodic side are visited: the interior loop
// has done all the others.
template <typename Sample>
void computeBorderReliabilityOf(const Sample *wrapped, double *reliability, int32_t columns, int32_t rows,
                                const bool periodic[2]) {
    const bool rowsWrap = periodic[0], columnsWrap = periodic[1];
    if ((!rowsWrap && !columnsWrap) || rows < 3 || columns < 3) return;
    for (int32_t c = 0; c < columns; ++c) {
        const bool borderColumn = c == 0 || c == columns - 1;
        if (borderColumn && !columnsWrap) continue;
        const int32_t left = sideBefore(c, columns, columnsWrap), right = sideAfter(c, columns, columnsWrap);
        // On an inner column only the first and the last row are on a border.
        const int32_t rowStep = borderColumn ? 1 : rows - 1;
        for (int32_t r = 0; r < rows; r += rowStep) {
            const int32_t up = sideBefore(r, rows, rowsWrap), down = sideAfter(r, rows, rowsWrap);
            if (up < 0 || down < 0) continue;
            auto at = [=](int32_t row, int32_t column) {
                return static_cast<double>(wrapped[row + static_cast<int64_t>(column) * rows]);
            };
            const int32_t neighbourRows[8] = {up, r, down, up, down, up, r, down};
            const int32_t neighbourColumns[8] = {left, left, left, c, c, right, right, right};
            bool complete = usableSample(at(r, c));
            for (int k = 0; k < 8; ++k) complete = complete && usableSample(at(neighbourRows[k], neighbourColumns[k]));
            if (!complete) continue;
            reliability[r + static_cast<int64_t>(c) * rows] =
                secondDifferenceSum(at(r, c), at(up, c), at(down, c), at(r, left), at(r, right), at(up, left),
                                    at(down, right), at(down, left), at(up, right));
        }
    }
}

}  // namespace

void computeReliability(const double *wrapped, double *reliability, int32_t columns, int32_t rows,
                        Interruption *interruption) {
    computeReliabilityOf(wrapped, reliability, columns, rows, interruption);
}
void computeReliability(const float *wrapped, double *reliability, int32_t columns, int32_t rows,
                        Interruption *interruption) {
    computeReliabilityOf(wrapped, reliability, columns, rows, interruption);
}
void computeBorderReliability(const double *wrapped, double *reliability, int32_t columns, int32_t rows,
                              const bool periodic[2]) {
    computeBorderReliabilityOf(wrapped, reliability, columns, rows, periodic);
}
void computeBorderReliability(const float *wrapped, double *reliability, int32_t columns, int32_t rows,
                              const bool periodic[2]) {
    computeBorderReliabilityOf(wrapped, reliability, columns, rows, periodic);
}

void qualityReliability(QualityMap quality, double *reliability, size_t count, Interruption *interruption) {
    // A single quality is widened exactly: the same map in double orders the same.
    const int64_t n = static_cast<int64_t>(count);
    if (quality.doubles != nullptr)
        parallelFor(interruption, 0, n, 1.0, [=](int64_t i) { reliability[i] = -quality.doubles[i]; });
    else
        parallelFor(interruption, 0, n, 1.0, [=](int64_t i) { reliability[i] = -static_cast<double>(quality.singles[i]); });
}

void roundReliability(const double *reliability, float *report, size_t count, Interruption *interruption) {
    parallelFor(interruption, 0, static_cast<int64_t>(count), 1.0,
                [=](int64_t i) { report[i] = static_cast<float>(reliability[i]); });
}
void initPixels(const double *wrapped, PhasePixel *pixels, int32_t columns, int32_t rows) {
#pragma omp parallel for schedule(static)
    for (int32_t c = 0; c < columns; ++c) {
        for (int32_t r = 0; r < rows; ++r) {
            int32_t i = r + c * rows;
            double s = wrapped[i];
            PhasePixel &p = pixels[i];
            bool valid = usableSample(s);
            p.increment = 0;
            p.groupSize = 1;
            p.valid = valid ? 1 : 0;
            p.value = valid ? s : 0.0;
            p.reliability = static_cast<double>(kInitialReliability + pixelRandom(c, r));
            p.head = &p;
            p.last = &p;
            p.next = nullptr;
        }
    }
}

void computeReliability(PhasePixel *pixels, int32_t columns, int32_t rows) {
    // Border columns and rows have no full neighbourhood and are never visited; with
    // fewer than three columns the loop is empty.
#pragma omp parallel for schedule(static)
    for (int32_t c = 1; c < columns - 1; ++c) {
        if (rows <= 2) continue;
        for (int32_t r = 1; r < rows - 1; ++r) {
            PhasePixel *p = &pixels[r + c * rows];
            if (p->valid != 1) continue;
            const PhasePixel *left = p - rows;
            const PhasePixel *right = p + rows;
            // All eight neighbours must be valid: a partial sum is never stored.
            if (left[-1].valid != 1 || left[0].valid != 1 || left[1].valid != 1 ||
                p[-1].valid != 1 || p[1].valid != 1 ||
                right[-1].valid != 1 || right[0].valid != 1 || right[1].valid != 1)
                continue;
            double v = p->value;
            double dCol = wrapPhase(p[-1].value - v) - wrapPhase(v - p[1].value);
            double dRow = wrapPhase(left[0].value - v) - wrapPhase(v - right[0].value);
            double dMain = wrapPhase(left[-1].value - v) - wrapPhase(v - right[1].value);
            double dAnti = wrapPhase(left[1].value - v) - wrapPhase(v - right[-1].value);
            // Summed in this order (axial squares first) so results match to the bit.
            p->reliability = ((dRow * dRow + dCol * dCol) + dMain * dMain) + dAnti * dAnti;
        }
    }
}
