// kernel_filter.cpp: the NaN-aware kernel filter. Interior rows are computed eight at a
// time with SSE2 (the baseline of every x86-64 target), each lane summing its own
// window in the plain order; other rows, and every row on other targets, take the
// scalar path. Both give the same bits: a skipped neighbour and one that adds +0.0
// leave every running sum unchanged, since sums that start at +0.0 can never be -0.0.
#include "smooth.h"

#include "mex.h"

#include "../portable/portability.h"

#include <cmath>

#if PHASEKIT_HAVE_SSE2
#include <emmintrin.h>
#endif

namespace {

// Window of output sample (row j, column c): rows j-hr..j+hr, columns c-hc..c+hc;
// missing is the host's NaN, fetched on the host's thread (workers call no host
// function).
struct Window {
    int32_t halfRows;
    int32_t halfColumns;
    double missing;
};

inline void writeMissing(const Window &w, double *outRe, double *outIm, int32_t i) {
    outRe[i] = w.missing;
    outIm[i] = w.missing;
}

inline void finish(const Window &w, double s, double tRe, double tIm, double *outRe, double *outIm,
                   int32_t i) {
    if (s > 0) {
        outRe[i] = tRe / s;
        outIm[i] = tIm / s;
    } else {
        writeMissing(w, outRe, outIm, i);  // S <= 0, or NaN from a NaN weight
    }
}

inline bool centreMissing(const SmoothingInput &in, int32_t i) {
    return std::isnan(in.re[i]) || (in.im && std::isnan(in.im[i]));
}

// One output sample, neighbour by neighbour, skipping those outside or missing.
void filterSample(const SmoothingInput &in, const Window &w, int32_t j, int32_t c, double *outRe,
                  double *outIm) {
    const int32_t M = in.rows, N = in.columns;
    const int32_t i = j + c * M;
    if (centreMissing(in, i)) {
        writeMissing(w, outRe, outIm, i);
        return;
    }
    double s = 0, tRe = 0, tIm = 0;
    for (int32_t k = -w.halfColumns; k <= w.halfColumns; ++k) {
        // Widened: a kernel nearly as long as a map of 2^31 - 1 samples reaches past
        // the 32-bit range from the far end.
        int64_t q = static_cast<int64_t>(c) + k;
        if (q < 0 || q >= N) continue;
        const double *weights = in.kernel + static_cast<int64_t>(k + w.halfColumns) * in.kernelRows + w.halfRows;
        for (int32_t h = -w.halfRows; h <= w.halfRows; ++h) {
            int64_t r = static_cast<int64_t>(j) + h;
            if (r < 0 || r >= M) continue;
            int64_t n = r + q * M;
            double re = in.re[n];
            double im = in.im ? in.im[n] : 0.0;
            if (std::isnan(re) || std::isnan(im)) continue;
            double weight = weights[h];
            s += weight;
            tRe += weight * re;
            tIm += weight * im;
        }
    }
    finish(w, s, tRe, tIm, outRe, outIm, i);
}

#if PHASEKIT_HAVE_SSE2
const int32_t kLanes = 8;  // rows per block: four vectors of two

// Rows j0..j0+7 of column c, all of whose windows lie inside the map's rows.
template <bool kComplex>
void filterBlock(const SmoothingInput &in, const Window &w, int32_t j0, int32_t c, double *outRe,
                 double *outIm) {
    const int32_t M = in.rows, N = in.columns;
    __m128d s[4], tRe[4], tIm[4];
    for (int v = 0; v < 4; ++v) s[v] = tRe[v] = tIm[v] = _mm_setzero_pd();
    const __m128d zero = _mm_setzero_pd();
    int32_t kFirst = c - w.halfColumns < 0 ? -c : -w.halfColumns;
    int32_t kLast = c + w.halfColumns >= N ? N - 1 - c : w.halfColumns;
    for (int32_t k = kFirst; k <= kLast; ++k) {
        const double *weights = in.kernel + (k + w.halfColumns) * in.kernelRows;
        int32_t base = (j0 - w.halfRows) + (c + k) * M;
        for (int32_t h = 0; h <= 2 * w.halfRows; ++h) {
            const __m128d weight = _mm_set1_pd(weights[h]);
            const double *re = in.re + base + h;
            const double *im = kComplex ? in.im + base + h : nullptr;
            for (int v = 0; v < 4; ++v) {
                __m128d x = _mm_loadu_pd(re + 2 * v);
                __m128d y = kComplex ? _mm_loadu_pd(im + 2 * v) : zero;
                __m128d valid = _mm_cmpord_pd(x, y);  // neither part NaN
                s[v] = _mm_add_pd(s[v], _mm_and_pd(valid, weight));
                tRe[v] = _mm_add_pd(tRe[v], _mm_and_pd(valid, _mm_mul_pd(weight, x)));
                tIm[v] = _mm_add_pd(tIm[v], _mm_and_pd(valid, _mm_mul_pd(weight, y)));
            }
        }
    }
    double sLane[kLanes], reLane[kLanes], imLane[kLanes];
    for (int v = 0; v < 4; ++v) {
        _mm_storeu_pd(sLane + 2 * v, s[v]);
        _mm_storeu_pd(reLane + 2 * v, tRe[v]);
        _mm_storeu_pd(imLane + 2 * v, tIm[v]);
    }
    for (int32_t l = 0; l < kLanes; ++l) {
        int32_t i = j0 + l + c * M;
        if (centreMissing(in, i))
            writeMissing(w, outRe, outIm, i);
        else
            finish(w, sLane[l], reLane[l], imLane[l], outRe, outIm, i);
    }
}
#endif

void filterColumn(const SmoothingInput &in, const Window &w, int32_t c, double *outRe,
                  double *outIm) {
    const int32_t M = in.rows;
    int32_t j = 0;
#if PHASEKIT_HAVE_SSE2
    // Rows before firstInterior or from lastInterior on have windows that leave the map.
    int32_t firstInterior = w.halfRows;
    int32_t lastInterior = M - w.halfRows;  // exclusive
    for (; j < firstInterior && j < M; ++j) filterSample(in, w, j, c, outRe, outIm);
    for (; j + kLanes <= lastInterior; j += kLanes) {
        if (in.im) filterBlock<true>(in, w, j, c, outRe, outIm);
        else filterBlock<false>(in, w, j, c, outRe, outIm);
    }
#endif
    for (; j < M; ++j) filterSample(in, w, j, c, outRe, outIm);
}

}  // namespace

void filterMap(const SmoothingInput &input, double *outRe, double *outIm) {
    // Truncating division: an even side uses only its first 2*half+1 rows or columns.
    const Window window = {(input.kernelRows - 1) / 2, (input.kernelColumns - 1) / 2, mxGetNaN()};
#pragma omp parallel for schedule(static)
    for (int32_t c = 0; c < input.columns; ++c) filterColumn(input, window, c, outRe, outIm);
}
