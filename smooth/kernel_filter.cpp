// kernel_filter.cpp: the NaN-aware kernel filter. Interior rows are computed a block at
// a time with the widest vectors the processor has (AVX-512: 32 rows, AVX2: 16, SSE2,
// the baseline of every x86-64 target: 8), chosen once per call; each lane sums its own
// window in the plain order, with no fused multiply-add. Other rows, and every row on
// other targets, take the scalar path. All give the same bits: a skipped neighbour and
// one that adds +0.0 leave every running sum unchanged, since sums that start at +0.0
// can never be -0.0. Window loops are clipped to the taps that can reach the map, so
// a kernel larger than the map costs no more than the part of it that is used.
#include "smooth.h"

#include "mex.h"

#include "../portable/portability.h"

#include <algorithm>
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

// The tap columns of column c's windows that lie inside the map.
inline void tapColumns(const Window &w, int32_t c, int32_t N, int32_t *kFirst, int32_t *kLast) {
    *kFirst = std::max(-w.halfColumns, -c);
    *kLast = std::min(w.halfColumns, N - 1 - c);
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
    // Only taps whose neighbour lies inside the map; the rest would be skipped.
    int32_t kFirst, kLast;
    tapColumns(w, c, N, &kFirst, &kLast);
    const int32_t hFirst = std::max(-w.halfRows, -j), hLast = std::min(w.halfRows, M - 1 - j);
    for (int32_t k = kFirst; k <= kLast; ++k) {
        const double *weights = in.kernel + static_cast<int64_t>(k + w.halfColumns) * in.kernelRows + w.halfRows;
        const int64_t column = static_cast<int64_t>(c + k) * M;
        for (int32_t h = hFirst; h <= hLast; ++h) {
            int64_t n = column + (j + h);
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

// A block function computes a block of consecutive rows from j0 of column c, all of
// whose windows lie inside the map's rows.
typedef void (*BlockFunction)(const SmoothingInput &in, const Window &w, int32_t j0, int32_t c,
                              double *outRe, double *outIm);

#if PHASEKIT_HAVE_SSE2
const int32_t kLanes = 8;  // rows per SSE2 block: four vectors of two

template <bool kComplex>
void filterBlockSse2(const SmoothingInput &in, const Window &w, int32_t j0, int32_t c, double *outRe,
                 double *outIm) {
    const int32_t M = in.rows, N = in.columns;
    __m128d s[4], tRe[4], tIm[4];
    for (int v = 0; v < 4; ++v) s[v] = tRe[v] = tIm[v] = _mm_setzero_pd();
    const __m128d zero = _mm_setzero_pd();
    int32_t kFirst, kLast;
    tapColumns(w, c, N, &kFirst, &kLast);
    for (int32_t k = kFirst; k <= kLast; ++k) {
        const double *weights = in.kernel + static_cast<int64_t>(k + w.halfColumns) * in.kernelRows;
        const int64_t base = (j0 - w.halfRows) + static_cast<int64_t>(c + k) * M;
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

#if PHASEKIT_HAVE_WIDE_VECTORS
// 16 rows: four vectors of four.
template <bool kComplex>
PHASEKIT_TARGET_AVX2 void filterBlockAvx2(const SmoothingInput &in, const Window &w, int32_t j0,
                                          int32_t c, double *outRe, double *outIm) {
    const int32_t M = in.rows, N = in.columns;
    __m256d s[4], tRe[4], tIm[4];
    for (int v = 0; v < 4; ++v) s[v] = tRe[v] = tIm[v] = _mm256_setzero_pd();
    const __m256d zero = _mm256_setzero_pd();
    int32_t kFirst, kLast;
    tapColumns(w, c, N, &kFirst, &kLast);
    for (int32_t k = kFirst; k <= kLast; ++k) {
        const double *weights = in.kernel + static_cast<int64_t>(k + w.halfColumns) * in.kernelRows;
        const int64_t base = (j0 - w.halfRows) + static_cast<int64_t>(c + k) * M;
        for (int32_t h = 0; h <= 2 * w.halfRows; ++h) {
            const __m256d weight = _mm256_set1_pd(weights[h]);
            const double *re = in.re + base + h;
            const double *im = kComplex ? in.im + base + h : nullptr;
            for (int v = 0; v < 4; ++v) {
                __m256d x = _mm256_loadu_pd(re + 4 * v);
                __m256d y = kComplex ? _mm256_loadu_pd(im + 4 * v) : zero;
                __m256d valid = _mm256_cmp_pd(x, y, _CMP_ORD_Q);  // neither part NaN
                s[v] = _mm256_add_pd(s[v], _mm256_and_pd(valid, weight));
                tRe[v] = _mm256_add_pd(tRe[v], _mm256_and_pd(valid, _mm256_mul_pd(weight, x)));
                tIm[v] = _mm256_add_pd(tIm[v], _mm256_and_pd(valid, _mm256_mul_pd(weight, y)));
            }
        }
    }
    // Lanes with a valid centre and a sum above zero get the quotients; the others,
    // as in finish(), the missing value.
    const __m256d missing = _mm256_set1_pd(w.missing);
    for (int v = 0; v < 4; ++v) {
        int64_t i = j0 + 4 * v + static_cast<int64_t>(c) * M;
        __m256d centreRe = _mm256_loadu_pd(in.re + i);
        __m256d centreIm = kComplex ? _mm256_loadu_pd(in.im + i) : zero;
        __m256d use = _mm256_and_pd(_mm256_cmp_pd(centreRe, centreIm, _CMP_ORD_Q),
                                    _mm256_cmp_pd(s[v], zero, _CMP_GT_OQ));
        _mm256_storeu_pd(outRe + i, _mm256_blendv_pd(missing, _mm256_div_pd(tRe[v], s[v]), use));
        _mm256_storeu_pd(outIm + i, _mm256_blendv_pd(missing, _mm256_div_pd(tIm[v], s[v]), use));
    }
}

// 32 rows: four vectors of eight. Masked adds skip the invalid lanes outright.
template <bool kComplex>
PHASEKIT_TARGET_AVX512 void filterBlockAvx512(const SmoothingInput &in, const Window &w, int32_t j0,
                                              int32_t c, double *outRe, double *outIm) {
    const int32_t M = in.rows, N = in.columns;
    __m512d s[4], tRe[4], tIm[4];
    for (int v = 0; v < 4; ++v) s[v] = tRe[v] = tIm[v] = _mm512_setzero_pd();
    const __m512d zero = _mm512_setzero_pd();
    int32_t kFirst, kLast;
    tapColumns(w, c, N, &kFirst, &kLast);
    for (int32_t k = kFirst; k <= kLast; ++k) {
        const double *weights = in.kernel + static_cast<int64_t>(k + w.halfColumns) * in.kernelRows;
        const int64_t base = (j0 - w.halfRows) + static_cast<int64_t>(c + k) * M;
        for (int32_t h = 0; h <= 2 * w.halfRows; ++h) {
            const __m512d weight = _mm512_set1_pd(weights[h]);
            const double *re = in.re + base + h;
            const double *im = kComplex ? in.im + base + h : nullptr;
            for (int v = 0; v < 4; ++v) {
                __m512d x = _mm512_loadu_pd(re + 8 * v);
                __m512d y = kComplex ? _mm512_loadu_pd(im + 8 * v) : zero;
                __mmask8 valid = _mm512_cmp_pd_mask(x, y, _CMP_ORD_Q);
                s[v] = _mm512_mask_add_pd(s[v], valid, s[v], weight);
                tRe[v] = _mm512_mask_add_pd(tRe[v], valid, tRe[v], _mm512_mul_pd(weight, x));
                tIm[v] = _mm512_mask_add_pd(tIm[v], valid, tIm[v], _mm512_mul_pd(weight, y));
            }
        }
    }
    const __m512d missing = _mm512_set1_pd(w.missing);
    for (int v = 0; v < 4; ++v) {
        int64_t i = j0 + 8 * v + static_cast<int64_t>(c) * M;
        __m512d centreRe = _mm512_loadu_pd(in.re + i);
        __m512d centreIm = kComplex ? _mm512_loadu_pd(in.im + i) : zero;
        __mmask8 use = static_cast<__mmask8>(_mm512_cmp_pd_mask(centreRe, centreIm, _CMP_ORD_Q) &
                                             _mm512_cmp_pd_mask(s[v], zero, _CMP_GT_OQ));
        _mm512_storeu_pd(outRe + i, _mm512_mask_div_pd(missing, use, tRe[v], s[v]));
        _mm512_storeu_pd(outIm + i, _mm512_mask_div_pd(missing, use, tIm[v], s[v]));
    }
}
#endif

struct BlockPath {
    BlockFunction block;  // null: every row on the scalar path
    int32_t rows;         // rows per block
};

BlockPath blockPathFor(FilterPath path, bool complex) {
    (void)complex;  // not read where no vector path is built
    BlockPath none = {nullptr, 0};
    switch (path) {
#if PHASEKIT_HAVE_SSE2
    case filterPathSse2:
        return BlockPath{complex ? filterBlockSse2<true> : filterBlockSse2<false>, kLanes};
#endif
#if PHASEKIT_HAVE_WIDE_VECTORS
    case filterPathAvx2:
        return BlockPath{complex ? filterBlockAvx2<true> : filterBlockAvx2<false>, 16};
    case filterPathAvx512:
        return BlockPath{complex ? filterBlockAvx512<true> : filterBlockAvx512<false>, 32};
#endif
    default:
        return none;
    }
}

void filterColumn(const SmoothingInput &in, const Window &w, const BlockPath &path, int32_t c,
                  double *outRe, double *outIm) {
    const int32_t M = in.rows;
    int32_t j = 0;
    if (path.block) {
        // Rows before firstInterior or from lastInterior on have windows that leave the map.
        const int32_t firstInterior = std::min(w.halfRows, M);
        const int32_t lastInterior = std::max(M - w.halfRows, firstInterior);  // exclusive
        for (; j < firstInterior; ++j) filterSample(in, w, j, c, outRe, outIm);
        if (lastInterior - firstInterior >= path.rows) {
            for (; j + path.rows <= lastInterior; j += path.rows) path.block(in, w, j, c, outRe, outIm);
            // The rest as one more block ending at lastInterior: its first rows are
            // computed twice, to the same bits.
            if (j < lastInterior) path.block(in, w, lastInterior - path.rows, c, outRe, outIm);
            j = lastInterior;
        }
    }
    for (; j < M; ++j) filterSample(in, w, j, c, outRe, outIm);
}

}  // namespace

const char *filterPathName(FilterPath path) {
    switch (path) {
    case filterPathScalar: return "scalar";
    case filterPathSse2: return "SSE2";
    case filterPathAvx2: return "AVX2";
    case filterPathAvx512: return "AVX-512";
    }
    return "unknown";
}

bool filterPathAvailable(FilterPath path) {
    switch (path) {
    case filterPathScalar: return true;
    case filterPathSse2: return PHASEKIT_HAVE_SSE2 != 0;
#if PHASEKIT_HAVE_WIDE_VECTORS
    case filterPathAvx2: return cpuHasAvx2();
    case filterPathAvx512: return cpuHasAvx512f();
#else
    case filterPathAvx2:
    case filterPathAvx512: return false;
#endif
    }
    return false;
}

FilterPath bestFilterPath() {
    if (filterPathAvailable(filterPathAvx512)) return filterPathAvx512;
    if (filterPathAvailable(filterPathAvx2)) return filterPathAvx2;
    if (filterPathAvailable(filterPathSse2)) return filterPathSse2;
    return filterPathScalar;
}

void filterMapOnPath(const SmoothingInput &input, FilterPath path, double *outRe, double *outIm) {
    // Truncating division: an even side uses only its first 2*half+1 rows or columns.
    const Window window = {(input.kernelRows - 1) / 2, (input.kernelColumns - 1) / 2, mxGetNaN()};
    const BlockPath blocks = blockPathFor(filterPathAvailable(path) ? path : filterPathScalar, input.im != nullptr);
#pragma omp parallel for schedule(static)
    for (int32_t c = 0; c < input.columns; ++c) filterColumn(input, window, blocks, c, outRe, outIm);
}

void filterMap(const SmoothingInput &input, double *outRe, double *outIm) {
    filterMapOnPath(input, bestFilterPath(), outRe, outIm);
}
