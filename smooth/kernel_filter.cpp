// kernel_filter.cpp: the NaN-aware kernel filter. Interior rows are computed a block at
// a time with the widest vectors the processor has (AVX-512: 32 rows, AVX2: 16, SSE2,
// the baseline of every x86-64 target: 8), chosen once per call; each lane sums its own
// window in the plain order, with no fused multiply-add. Other rows, and every row on
// other targets, take the scalar path. All give the same bits: a skipped neighbour and
// one that adds +0.0 leave every running sum unchanged, since sums that start at +0.0
// can never be -0.0. Window loops are clipped to the taps that can reach the map, so
// a kernel larger than the map costs no more than the part of it that is used.
//
// Samples come as real parts, as separate real and imaginary arrays, or as (re, im)
// pairs, and results go to separate arrays or pairs: the host's own layout, so that
// no host has to translate the data. Paired samples are loaded two vectors at a time
// and split into a vector of real and one of imaginary parts by one unpack each; the
// unpack leaves the lanes in an order of its own (rows 0, 2, 1, 3 for AVX2), the same
// for every tap and for the centre, and the pairing unpack on the way out undoes it.
// A lane's sums are those of the separate layout, operation for operation.
//
// Single samples are widened to double (exactly), summed as doubles and rounded once
// as they are stored: a single map's result and support are its double ones rounded,
// on every path. On the wide paths a single map's interior goes in tiles, across the
// columns, so that each column is widened once for every window that reaches it (for
// windows of five columns or more). The support, the weights a window used, is the
// lane's weight sum, stored beside the result when it is asked for.
#include "filter_samples.h"
#include "smooth.h"

#include "mex.h"

#include "../portable/portability.h"

#include <algorithm>
#include <cmath>

#if PHASEKIT_HAVE_SSE2
#include <emmintrin.h>
#endif

namespace {

// The tap columns of column c's windows that lie inside the map.
inline void tapColumns(const Window &w, int32_t c, int32_t N, int32_t *kFirst, int32_t *kLast) {
    *kFirst = std::max(-w.halfColumns, -c);
    *kLast = std::min(w.halfColumns, N - 1 - c);
}

// One output sample, neighbour by neighbour, skipping those outside or missing.
template <typename Sample>
void filterSample(const Samples<Sample> &in, const Window &w, int32_t j, int32_t c, const Results<Sample> &out) {
    const int32_t M = in.rows, N = in.columns;
    const int64_t i = j + static_cast<int64_t>(c) * M;
    if (centreMissing(in, i)) {
        finishMissing(w, out, i);
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
            double re = realPart(in, n);
            double im = imagPart(in, n);
            if (std::isnan(re) || std::isnan(im)) continue;
            double weight = weights[h];
            s += weight;
            tRe += weight * re;
            tIm += weight * im;
        }
    }
    finish(w, s, tRe, tIm, out, i);
}

// Every tap of a block reads the same stretch of each window column again, one row
// further on: the wide paths widen a single map's stretch once per column into a
// buffer of the block's own (on the stack: no copy of the map), and the taps read the
// doubles there. Converting at every load cost a fifth of a 9x9 filter with AVX-512;
// with a few taps the widening costs more than it saves, so short windows (measured
// here: under 7 rows with AVX-512, whose conversions cost more, under 11 with AVX2)
// convert at each load. A stretch longer than the buffer (a window of more than
// kStripRows - 32 rows) is read as it is too.
const int32_t kStripRows = 480;
const int32_t kStripTapsAvx2 = 11, kStripTapsAvx512 = 7;
// In tiles (filterStrip*), each column's stretch is widened once for all the output
// columns it reaches, into a ring of one slot a window column, on the worker's
// stack: windows whose ring would not hold one block take the column by column form.
const int32_t kRingDoubles = 6144;  // 48 KiB

// A buffer's worth of doubles (a part, or pairs: twice as many values).
struct StripBuffers {
    double re[2 * kStripRows];
    double im[kStripRows];
};

// The buffers as the samples of a strip, from index 0 on.
inline Samples<double> stripView(const Samples<float> &in, StripBuffers *buffers) {
    const Samples<double> strip = {in.layout, buffers->re, buffers->im, in.rows, in.columns,
                                   in.kernel, in.kernelRows, in.kernelColumns};
    return strip;
}

// A block function computes a block of consecutive rows from j0 of column c, all of
// whose windows lie inside the map's rows.
template <typename Sample>
struct BlockFunctionOf {
    typedef void (*Type)(const Samples<Sample> &in, const Window &w, int32_t j0, int32_t c,
                         const Results<Sample> &out);
};

#if PHASEKIT_HAVE_SSE2
const int32_t kLanes = 8;  // rows per SSE2 block: four vectors of two

// Two consecutive values as doubles.
inline __m128d load2(const double *p) { return _mm_loadu_pd(p); }
inline __m128d load2(const float *p) {
    return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p))));
}

// Two samples from sample n on: their real parts and their imaginary parts.
template <typename Sample, SampleLayout kLayout>
inline void loadSse2(const Samples<Sample> &in, int64_t n, __m128d *x, __m128d *y) {
    if (kLayout == kPairedParts) {
        __m128d a = load2(in.re + 2 * n), b = load2(in.re + 2 * n + 2);
        *x = _mm_unpacklo_pd(a, b);
        *y = _mm_unpackhi_pd(a, b);
    } else {
        *x = load2(in.re + n);
        *y = kLayout == kSeparateParts ? load2(in.im + n) : _mm_setzero_pd();
    }
}

// A vector of lanes' running sums: weights used, and the real and imaginary parts.
struct LaneSumsSse2 {
    __m128d s, re, im;
};

// Adds two samples from sample n on, each where neither part is NaN, to their lanes.
template <typename Sample, SampleLayout kLayout>
inline void accumulateSse2(LaneSumsSse2 *sums, const Samples<Sample> &in, int64_t n, __m128d weight) {
    __m128d x, y;
    loadSse2<Sample, kLayout>(in, n, &x, &y);
    __m128d valid = _mm_cmpord_pd(x, y);  // neither part NaN
    sums->s = _mm_add_pd(sums->s, _mm_and_pd(valid, weight));
    sums->re = _mm_add_pd(sums->re, _mm_and_pd(valid, _mm_mul_pd(weight, x)));
    sums->im = _mm_add_pd(sums->im, _mm_and_pd(valid, _mm_mul_pd(weight, y)));
}

// The block's four vectors of sums are four named variables, not an array: indexed in
// a loop, GCC kept them in memory, and every addition waited on a store.
template <typename Sample, SampleLayout kLayout>
void filterBlockSse2(const Samples<Sample> &in, const Window &w, int32_t j0, int32_t c,
                     const Results<Sample> &out) {
    const int32_t M = in.rows, N = in.columns;
    const __m128d zero = _mm_setzero_pd();
    LaneSumsSse2 a = {zero, zero, zero}, b = a, d = a, e = a;
    int32_t kFirst, kLast;
    tapColumns(w, c, N, &kFirst, &kLast);
    for (int32_t k = kFirst; k <= kLast; ++k) {
        const double *weights = in.kernel + static_cast<int64_t>(k + w.halfColumns) * in.kernelRows;
        const int64_t base = (j0 - w.halfRows) + static_cast<int64_t>(c + k) * M;
        for (int32_t h = 0; h <= 2 * w.halfRows; ++h) {
            const __m128d weight = _mm_set1_pd(weights[h]);
            accumulateSse2<Sample, kLayout>(&a, in, base + h, weight);
            accumulateSse2<Sample, kLayout>(&b, in, base + h + 2, weight);
            accumulateSse2<Sample, kLayout>(&d, in, base + h + 4, weight);
            accumulateSse2<Sample, kLayout>(&e, in, base + h + 6, weight);
        }
    }
    const LaneSumsSse2 sums[4] = {a, b, d, e};
    double sLane[kLanes], reLane[kLanes], imLane[kLanes];
    for (int v = 0; v < 4; ++v) {
        _mm_storeu_pd(sLane + 2 * v, sums[v].s);
        _mm_storeu_pd(reLane + 2 * v, sums[v].re);
        _mm_storeu_pd(imLane + 2 * v, sums[v].im);
    }
    for (int32_t l = 0; l < kLanes; ++l) {
        int64_t i = j0 + l + static_cast<int64_t>(c) * M;
        if (centreMissing(in, i))
            finishMissing(w, out, i);
        else
            finish(w, sLane[l], reLane[l], imLane[l], out, i);
    }
}
#endif

#if PHASEKIT_HAVE_WIDE_VECTORS
// Four consecutive values as doubles, and four doubles stored in the output's class.
PHASEKIT_TARGET_AVX2 inline __m256d load4(const double *p) { return _mm256_loadu_pd(p); }
PHASEKIT_TARGET_AVX2 inline __m256d load4(const float *p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
PHASEKIT_TARGET_AVX2 inline void store4(double *p, __m256d v) { _mm256_storeu_pd(p, v); }
PHASEKIT_TARGET_AVX2 inline void store4(float *p, __m256d v) { _mm_storeu_ps(p, _mm256_cvtpd_ps(v)); }

// count (at least 4) values from `from` on, widened into `to`; the last vector ends
// at the last value, overlapping the one before it, instead of a scalar tail.
PHASEKIT_TARGET_AVX2 inline void widenAvx2(const float *from, int64_t count, double *to) {
    for (int64_t k = 0; k + 4 <= count; k += 4) store4(to + k, load4(from + k));
    store4(to + count - 4, load4(from + count - 4));
}

// The samples rows from n on as a strip of doubles starting at index 0: single ones
// widened into the buffers (false, nothing done, for double samples, which are read
// where they are, and for a stretch longer than the buffers).
template <SampleLayout kLayout>
PHASEKIT_TARGET_AVX2 inline bool widenStripAvx2(const Samples<float> &in, int64_t n, int32_t rows,
                                                StripBuffers *buffers, Samples<double> *strip) {
    if (rows > kStripRows) return false;
    const int64_t values = kLayout == kPairedParts ? 2 * static_cast<int64_t>(rows) : rows;
    widenAvx2(kLayout == kPairedParts ? in.re + 2 * n : in.re + n, values, buffers->re);
    if (kLayout == kSeparateParts) widenAvx2(in.im + n, rows, buffers->im);
    *strip = stripView(in, buffers);
    return true;
}
template <SampleLayout kLayout>
inline bool widenStripAvx2(const Samples<double> &, int64_t, int32_t, StripBuffers *, Samples<double> *) {
    return false;
}

// Four samples from sample n on. Paired: lanes in the unpack's order, rows 0, 2, 1, 3.
template <typename Sample, SampleLayout kLayout>
PHASEKIT_TARGET_AVX2 inline void loadAvx2(const Samples<Sample> &in, int64_t n, __m256d *x, __m256d *y) {
    if (kLayout == kPairedParts) {
        __m256d a = load4(in.re + 2 * n), b = load4(in.re + 2 * n + 4);
        *x = _mm256_unpacklo_pd(a, b);
        *y = _mm256_unpackhi_pd(a, b);
    } else {
        *x = load4(in.re + n);
        *y = kLayout == kSeparateParts ? load4(in.im + n) : _mm256_setzero_pd();
    }
}

// Four results from sample i on, lanes in loadAvx2's order for the layout.
template <typename Sample, SampleLayout kLayout>
PHASEKIT_TARGET_AVX2 inline void storeAvx2(const Results<Sample> &out, int64_t i, __m256d re, __m256d im) {
    if (!out.paired) {
        store4(out.re + i, re);
        store4(out.im + i, im);
        return;
    }
    __m256d lo = _mm256_unpacklo_pd(re, im), hi = _mm256_unpackhi_pd(re, im);
    if (kLayout != kPairedParts) {
        // Lanes in row order: the unpacks hold rows 0, 2 and 1, 3; put them in order.
        __m256d first = _mm256_permute2f128_pd(lo, hi, 0x20), second = _mm256_permute2f128_pd(lo, hi, 0x31);
        lo = first;
        hi = second;
    }
    store4(out.re + 2 * i, lo);
    store4(out.re + 2 * i + 4, hi);
}

// Four supports from sample i on, from lanes in loadAvx2's order: paired lanes hold
// rows 0, 2, 1, 3, which the same exchange puts back in order.
template <typename Sample, SampleLayout kLayout>
PHASEKIT_TARGET_AVX2 inline void storeSupportAvx2(const Results<Sample> &out, int64_t i, __m256d s) {
    if (kLayout == kPairedParts) s = _mm256_permute4x64_pd(s, 0xD8);
    store4(out.support + i, s);
}

struct LaneSumsAvx2 {
    __m256d s, re, im;
};

template <typename Sample, SampleLayout kLayout>
PHASEKIT_TARGET_AVX2 inline void accumulateAvx2(LaneSumsAvx2 *sums, const Samples<Sample> &in, int64_t n,
                                                __m256d weight) {
    __m256d x, y;
    loadAvx2<Sample, kLayout>(in, n, &x, &y);
    __m256d valid = _mm256_cmp_pd(x, y, _CMP_ORD_Q);  // neither part NaN
    sums->s = _mm256_add_pd(sums->s, _mm256_and_pd(valid, weight));
    sums->re = _mm256_add_pd(sums->re, _mm256_and_pd(valid, _mm256_mul_pd(weight, x)));
    sums->im = _mm256_add_pd(sums->im, _mm256_and_pd(valid, _mm256_mul_pd(weight, y)));
}

// The 16 rows' results from their sums: lanes with a valid centre and a sum above zero
// get the quotients; the others, as in finish(), the missing value.
template <typename Sample, SampleLayout kLayout>
PHASEKIT_TARGET_AVX2 inline void finishBlockAvx2(const Samples<Sample> &in, const Window &w, int32_t j0,
                                                 int32_t c, const LaneSumsAvx2 *sums, const Results<Sample> &out) {
    const __m256d zero = _mm256_setzero_pd();
    const __m256d missing = _mm256_set1_pd(w.missing);
    for (int v = 0; v < 4; ++v) {
        int64_t i = j0 + 4 * v + static_cast<int64_t>(c) * in.rows;
        __m256d centreRe, centreIm;
        loadAvx2<Sample, kLayout>(in, i, &centreRe, &centreIm);
        __m256d centreValid = _mm256_cmp_pd(centreRe, centreIm, _CMP_ORD_Q);
        __m256d use = _mm256_and_pd(centreValid, _mm256_cmp_pd(sums[v].s, zero, _CMP_GT_OQ));
        storeAvx2<Sample, kLayout>(out, i, _mm256_blendv_pd(missing, _mm256_div_pd(sums[v].re, sums[v].s), use),
                                   _mm256_blendv_pd(missing, _mm256_div_pd(sums[v].im, sums[v].s), use));
        if (out.support) storeSupportAvx2<Sample, kLayout>(out, i, _mm256_blendv_pd(missing, sums[v].s, centreValid));
    }
}

// 16 rows: four vectors of four, in named variables as on the SSE2 path.
template <typename Sample, SampleLayout kLayout>
PHASEKIT_TARGET_AVX2 void filterBlockAvx2(const Samples<Sample> &in, const Window &w, int32_t j0,
                                          int32_t c, const Results<Sample> &out) {
    const int32_t M = in.rows, N = in.columns;
    const __m256d zero = _mm256_setzero_pd();
    LaneSumsAvx2 a = {zero, zero, zero}, b = a, d = a, e = a;
    int32_t kFirst, kLast;
    tapColumns(w, c, N, &kFirst, &kLast);
    // Each column's stretch is widened one column ahead of its taps, so that its
    // stores have left the store buffer before they are loaded (a load that straddles
    // a store still in flight waits for it).
    StripBuffers buffers[2];
    Samples<double> strips[2];
    const int32_t stripRows = 2 * w.halfRows + 16;
    const int64_t firstBase = (j0 - w.halfRows) + static_cast<int64_t>(c + kFirst) * M;
    const bool widened = 2 * w.halfRows + 1 >= kStripTapsAvx2 &&
                         widenStripAvx2<kLayout>(in, firstBase, stripRows, &buffers[0], &strips[0]);
    for (int32_t k = kFirst; k <= kLast; ++k) {
        const double *weights = in.kernel + static_cast<int64_t>(k + w.halfColumns) * in.kernelRows;
        const int64_t base = (j0 - w.halfRows) + static_cast<int64_t>(c + k) * M;
        if (widened) {
            const int now = (k - kFirst) & 1;
            if (k < kLast) widenStripAvx2<kLayout>(in, base + M, stripRows, &buffers[1 - now], &strips[1 - now]);
            const Samples<double> &strip = strips[now];
            for (int32_t h = 0; h <= 2 * w.halfRows; ++h) {
                const __m256d weight = _mm256_set1_pd(weights[h]);
                accumulateAvx2<double, kLayout>(&a, strip, h, weight);
                accumulateAvx2<double, kLayout>(&b, strip, h + 4, weight);
                accumulateAvx2<double, kLayout>(&d, strip, h + 8, weight);
                accumulateAvx2<double, kLayout>(&e, strip, h + 12, weight);
            }
            continue;
        }
        for (int32_t h = 0; h <= 2 * w.halfRows; ++h) {
            const __m256d weight = _mm256_set1_pd(weights[h]);
            accumulateAvx2<Sample, kLayout>(&a, in, base + h, weight);
            accumulateAvx2<Sample, kLayout>(&b, in, base + h + 4, weight);
            accumulateAvx2<Sample, kLayout>(&d, in, base + h + 8, weight);
            accumulateAvx2<Sample, kLayout>(&e, in, base + h + 12, weight);
        }
    }
    const LaneSumsAvx2 sums[4] = {a, b, d, e};
    finishBlockAvx2<Sample, kLayout>(in, w, j0, c, sums, out);
}

// Single maps, a tile of blocks of 16 rows at a time: as filterStripAvx512.
template <SampleLayout kLayout>
PHASEKIT_TARGET_AVX2 void filterStripAvx2(const Samples<float> &in, const Window &w, int32_t j0, int32_t blocks,
                                          int32_t c0, int32_t c1, const Results<float> &out) {
    const int32_t M = in.rows, N = in.columns;
    const int32_t stretch = 2 * w.halfRows + blocks * 16;
    const int32_t slotValues = kLayout == kRealSamples ? stretch : 2 * stretch;
    const int32_t slots = 2 * w.halfColumns + 1;
    double ring[kRingDoubles];
    int32_t kFirst, kLast;
    tapColumns(w, c0, N, &kFirst, &kLast);
    int32_t nextColumn = c0 + kFirst;  // the first input column not yet widened
    const __m256d zero = _mm256_setzero_pd();
    for (int32_t c = c0; c < c1; ++c) {
        tapColumns(w, c, N, &kFirst, &kLast);
        // The column entering the window takes the slot of the one that left it.
        for (; nextColumn <= c + kLast; ++nextColumn) {
            double *slot = ring + (nextColumn % slots) * slotValues;
            const int64_t n = (j0 - w.halfRows) + static_cast<int64_t>(nextColumn) * M;
            if (kLayout == kPairedParts) {
                widenAvx2(in.re + 2 * n, 2 * stretch, slot);
            } else {
                widenAvx2(in.re + n, stretch, slot);
                if (kLayout == kSeparateParts) widenAvx2(in.im + n, stretch, slot + stretch);
            }
        }
        for (int32_t block = 0; block < blocks; ++block) {
            const int32_t first = block * 16;  // the block's first row in the stretch
            LaneSumsAvx2 a = {zero, zero, zero}, b = a, d = a, e = a;
            // The slots from column c + kFirst on, taken in turn (a division a column, not a tap).
            int32_t slotIndex = (c + kFirst) % slots;
            for (int32_t k = kFirst; k <= kLast; ++k, slotIndex = slotIndex + 1 == slots ? 0 : slotIndex + 1) {
                const double *weights = in.kernel + static_cast<int64_t>(k + w.halfColumns) * in.kernelRows;
                const double *slot = ring + slotIndex * slotValues;
                const Samples<double> strip = {in.layout, slot, slot + stretch, in.rows, in.columns,
                                               in.kernel, in.kernelRows, in.kernelColumns};
                for (int32_t h = 0; h <= 2 * w.halfRows; ++h) {
                    const __m256d weight = _mm256_set1_pd(weights[h]);
                    accumulateAvx2<double, kLayout>(&a, strip, first + h, weight);
                    accumulateAvx2<double, kLayout>(&b, strip, first + h + 4, weight);
                    accumulateAvx2<double, kLayout>(&d, strip, first + h + 8, weight);
                    accumulateAvx2<double, kLayout>(&e, strip, first + h + 12, weight);
                }
            }
            const LaneSumsAvx2 sums[4] = {a, b, d, e};
            finishBlockAvx2<float, kLayout>(in, w, j0 + first, c, sums, out);
        }
    }
}

// Eight consecutive values as doubles, and eight doubles stored in the output's class
// (zero-masked conversions, all lanes kept, for the same warning as the unpacks below).
PHASEKIT_TARGET_AVX512 inline __m512d load8(const double *p) { return _mm512_loadu_pd(p); }
PHASEKIT_TARGET_AVX512 inline __m512d load8(const float *p) { return _mm512_maskz_cvtps_pd(0xFF, _mm256_loadu_ps(p)); }
PHASEKIT_TARGET_AVX512 inline void store8(double *p, __m512d v) { _mm512_storeu_pd(p, v); }
PHASEKIT_TARGET_AVX512 inline void store8(float *p, __m512d v) {
    _mm256_storeu_ps(p, _mm512_maskz_cvtpd_ps(0xFF, v));
}

// As widenAvx2, count at least 8.
PHASEKIT_TARGET_AVX512 inline void widenAvx512(const float *from, int64_t count, double *to) {
    for (int64_t k = 0; k + 8 <= count; k += 8) store8(to + k, load8(from + k));
    store8(to + count - 8, load8(from + count - 8));
}

// As widenStripAvx2.
template <SampleLayout kLayout>
PHASEKIT_TARGET_AVX512 inline bool widenStripAvx512(const Samples<float> &in, int64_t n, int32_t rows,
                                                    StripBuffers *buffers, Samples<double> *strip) {
    if (rows > kStripRows) return false;
    const int64_t values = kLayout == kPairedParts ? 2 * static_cast<int64_t>(rows) : rows;
    widenAvx512(kLayout == kPairedParts ? in.re + 2 * n : in.re + n, values, buffers->re);
    if (kLayout == kSeparateParts) widenAvx512(in.im + n, rows, buffers->im);
    *strip = stripView(in, buffers);
    return true;
}
template <SampleLayout kLayout>
inline bool widenStripAvx512(const Samples<double> &, int64_t, int32_t, StripBuffers *, Samples<double> *) {
    return false;
}

// Eight samples from sample n on. Paired: lanes in the unpack's order, rows 0, 4, 1, 5,
// 2, 6, 3, 7 (it works within each 128-bit lane).
template <typename Sample, SampleLayout kLayout>
PHASEKIT_TARGET_AVX512 inline void loadAvx512(const Samples<Sample> &in, int64_t n, __m512d *x, __m512d *y) {
    if (kLayout == kPairedParts) {
        // The zero-masked unpacks, all lanes kept: the plain ones trip GCC 12's
        // uninitialised-value warning inside its own header.
        __m512d a = load8(in.re + 2 * n), b = load8(in.re + 2 * n + 8);
        *x = _mm512_maskz_unpacklo_pd(0xFF, a, b);
        *y = _mm512_maskz_unpackhi_pd(0xFF, a, b);
    } else {
        *x = load8(in.re + n);
        *y = kLayout == kSeparateParts ? load8(in.im + n) : _mm512_setzero_pd();
    }
}

template <typename Sample, SampleLayout kLayout>
PHASEKIT_TARGET_AVX512 inline void storeAvx512(const Results<Sample> &out, int64_t i, __m512d re, __m512d im) {
    if (!out.paired) {
        store8(out.re + i, re);
        store8(out.im + i, im);
        return;
    }
    __m512d lo = _mm512_maskz_unpacklo_pd(0xFF, re, im), hi = _mm512_maskz_unpackhi_pd(0xFF, re, im);
    if (kLayout != kPairedParts) {
        // Lanes in row order: the unpacks hold rows 0, 2, 4, 6 and 1, 3, 5, 7.
        const __m512i firstHalf = _mm512_set_epi64(11, 10, 3, 2, 9, 8, 1, 0);
        const __m512i secondHalf = _mm512_set_epi64(15, 14, 7, 6, 13, 12, 5, 4);
        __m512d first = _mm512_permutex2var_pd(lo, firstHalf, hi);
        __m512d second = _mm512_permutex2var_pd(lo, secondHalf, hi);
        lo = first;
        hi = second;
    }
    store8(out.re + 2 * i, lo);
    store8(out.re + 2 * i + 8, hi);
}

// Eight supports from sample i on, from lanes in loadAvx512's order: paired lanes hold
// rows 0, 4, 1, 5, 2, 6, 3, 7, so row k is lane 2k for k < 4 and lane 2(k - 4) + 1 after.
template <typename Sample, SampleLayout kLayout>
PHASEKIT_TARGET_AVX512 inline void storeSupportAvx512(const Results<Sample> &out, int64_t i, __m512d s) {
    if (kLayout == kPairedParts) s = _mm512_maskz_permutexvar_pd(0xFF, _mm512_set_epi64(7, 5, 3, 1, 6, 4, 2, 0), s);
    store8(out.support + i, s);
}

struct LaneSumsAvx512 {
    __m512d s, re, im;
};

// Masked adds skip the invalid lanes outright.
template <typename Sample, SampleLayout kLayout>
PHASEKIT_TARGET_AVX512 inline void accumulateAvx512(LaneSumsAvx512 *sums, const Samples<Sample> &in,
                                                    int64_t n, __m512d weight) {
    __m512d x, y;
    loadAvx512<Sample, kLayout>(in, n, &x, &y);
    __mmask8 valid = _mm512_cmp_pd_mask(x, y, _CMP_ORD_Q);
    sums->s = _mm512_mask_add_pd(sums->s, valid, sums->s, weight);
    sums->re = _mm512_mask_add_pd(sums->re, valid, sums->re, _mm512_mul_pd(weight, x));
    sums->im = _mm512_mask_add_pd(sums->im, valid, sums->im, _mm512_mul_pd(weight, y));
}

// The 32 rows' results from their sums: the quotients where the centre is valid and
// the sum above zero, else the missing value; and the supports.
template <typename Sample, SampleLayout kLayout>
PHASEKIT_TARGET_AVX512 inline void finishBlockAvx512(const Samples<Sample> &in, const Window &w, int32_t j0,
                                                     int32_t c, const LaneSumsAvx512 *sums,
                                                     const Results<Sample> &out) {
    const __m512d zero = _mm512_setzero_pd();
    const __m512d missing = _mm512_set1_pd(w.missing);
    for (int v = 0; v < 4; ++v) {
        int64_t i = j0 + 8 * v + static_cast<int64_t>(c) * in.rows;
        __m512d centreRe, centreIm;
        loadAvx512<Sample, kLayout>(in, i, &centreRe, &centreIm);
        __mmask8 centreValid = _mm512_cmp_pd_mask(centreRe, centreIm, _CMP_ORD_Q);
        __mmask8 use = static_cast<__mmask8>(centreValid & _mm512_cmp_pd_mask(sums[v].s, zero, _CMP_GT_OQ));
        storeAvx512<Sample, kLayout>(out, i, _mm512_mask_div_pd(missing, use, sums[v].re, sums[v].s),
                                     _mm512_mask_div_pd(missing, use, sums[v].im, sums[v].s));
        if (out.support)
            storeSupportAvx512<Sample, kLayout>(out, i, _mm512_mask_mov_pd(missing, centreValid, sums[v].s));
    }
}

// 32 rows: four vectors of eight, in named variables as on the SSE2 path.
template <typename Sample, SampleLayout kLayout>
PHASEKIT_TARGET_AVX512 void filterBlockAvx512(const Samples<Sample> &in, const Window &w, int32_t j0,
                                              int32_t c, const Results<Sample> &out) {
    const int32_t M = in.rows, N = in.columns;
    const __m512d zero = _mm512_setzero_pd();
    LaneSumsAvx512 a = {zero, zero, zero}, b = a, d = a, e = a;
    int32_t kFirst, kLast;
    tapColumns(w, c, N, &kFirst, &kLast);
    // Each column's stretch is widened one column ahead of its taps, so that its
    // stores have left the store buffer before they are loaded (a load that straddles
    // a store still in flight waits for it).
    StripBuffers buffers[2];
    Samples<double> strips[2];
    const int32_t stripRows = 2 * w.halfRows + 32;
    const int64_t firstBase = (j0 - w.halfRows) + static_cast<int64_t>(c + kFirst) * M;
    const bool widened = 2 * w.halfRows + 1 >= kStripTapsAvx512 &&
                         widenStripAvx512<kLayout>(in, firstBase, stripRows, &buffers[0], &strips[0]);
    for (int32_t k = kFirst; k <= kLast; ++k) {
        const double *weights = in.kernel + static_cast<int64_t>(k + w.halfColumns) * in.kernelRows;
        const int64_t base = (j0 - w.halfRows) + static_cast<int64_t>(c + k) * M;
        if (widened) {
            const int now = (k - kFirst) & 1;
            if (k < kLast) widenStripAvx512<kLayout>(in, base + M, stripRows, &buffers[1 - now], &strips[1 - now]);
            const Samples<double> &strip = strips[now];
            for (int32_t h = 0; h <= 2 * w.halfRows; ++h) {
                const __m512d weight = _mm512_set1_pd(weights[h]);
                accumulateAvx512<double, kLayout>(&a, strip, h, weight);
                accumulateAvx512<double, kLayout>(&b, strip, h + 8, weight);
                accumulateAvx512<double, kLayout>(&d, strip, h + 16, weight);
                accumulateAvx512<double, kLayout>(&e, strip, h + 24, weight);
            }
            continue;
        }
        for (int32_t h = 0; h <= 2 * w.halfRows; ++h) {
            const __m512d weight = _mm512_set1_pd(weights[h]);
            accumulateAvx512<Sample, kLayout>(&a, in, base + h, weight);
            accumulateAvx512<Sample, kLayout>(&b, in, base + h + 8, weight);
            accumulateAvx512<Sample, kLayout>(&d, in, base + h + 16, weight);
            accumulateAvx512<Sample, kLayout>(&e, in, base + h + 24, weight);
        }
    }
    const LaneSumsAvx512 sums[4] = {a, b, d, e};
    finishBlockAvx512<Sample, kLayout>(in, w, j0, c, sums, out);
}

// Single maps, a tile at a time: blocks of 32 rows from j0 on (blocks of them), for
// columns c0 .. c1 - 1, column after column, with each input column's stretch widened
// once into a ring of the window's columns and read from there by the taps of every
// output column it reaches (a window's width of them), instead of once for each. The
// lanes sum exactly as in the block.
template <SampleLayout kLayout>
PHASEKIT_TARGET_AVX512 void filterStripAvx512(const Samples<float> &in, const Window &w, int32_t j0, int32_t blocks,
                                          int32_t c0, int32_t c1, const Results<float> &out) {
    const int32_t M = in.rows, N = in.columns;
    const int32_t stretch = 2 * w.halfRows + blocks * 32;
    const int32_t slotValues = kLayout == kRealSamples ? stretch : 2 * stretch;
    const int32_t slots = 2 * w.halfColumns + 1;
    double ring[kRingDoubles];
    int32_t kFirst, kLast;
    tapColumns(w, c0, N, &kFirst, &kLast);
    int32_t nextColumn = c0 + kFirst;  // the first input column not yet widened
    const __m512d zero = _mm512_setzero_pd();
    for (int32_t c = c0; c < c1; ++c) {
        tapColumns(w, c, N, &kFirst, &kLast);
        // The column entering the window takes the slot of the one that left it.
        for (; nextColumn <= c + kLast; ++nextColumn) {
            double *slot = ring + (nextColumn % slots) * slotValues;
            const int64_t n = (j0 - w.halfRows) + static_cast<int64_t>(nextColumn) * M;
            if (kLayout == kPairedParts) {
                widenAvx512(in.re + 2 * n, 2 * stretch, slot);
            } else {
                widenAvx512(in.re + n, stretch, slot);
                if (kLayout == kSeparateParts) widenAvx512(in.im + n, stretch, slot + stretch);
            }
        }
        for (int32_t block = 0; block < blocks; ++block) {
            const int32_t first = block * 32;  // the block's first row in the stretch
            LaneSumsAvx512 a = {zero, zero, zero}, b = a, d = a, e = a;
            // The slots from column c + kFirst on, taken in turn (a division a column, not a tap).
            int32_t slotIndex = (c + kFirst) % slots;
            for (int32_t k = kFirst; k <= kLast; ++k, slotIndex = slotIndex + 1 == slots ? 0 : slotIndex + 1) {
                const double *weights = in.kernel + static_cast<int64_t>(k + w.halfColumns) * in.kernelRows;
                const double *slot = ring + slotIndex * slotValues;
                const Samples<double> strip = {in.layout, slot, slot + stretch, in.rows, in.columns,
                                               in.kernel, in.kernelRows, in.kernelColumns};
                for (int32_t h = 0; h <= 2 * w.halfRows; ++h) {
                    const __m512d weight = _mm512_set1_pd(weights[h]);
                    accumulateAvx512<double, kLayout>(&a, strip, first + h, weight);
                    accumulateAvx512<double, kLayout>(&b, strip, first + h + 8, weight);
                    accumulateAvx512<double, kLayout>(&d, strip, first + h + 16, weight);
                    accumulateAvx512<double, kLayout>(&e, strip, first + h + 24, weight);
                }
            }
            const LaneSumsAvx512 sums[4] = {a, b, d, e};
            finishBlockAvx512<float, kLayout>(in, w, j0 + first, c, sums, out);
        }
    }
}
#endif

template <typename Sample>
struct BlockPath {
    typename BlockFunctionOf<Sample>::Type block;  // null: every row on the scalar path
    int32_t rows;                                  // rows per block
};

// A path's block function for a layout; the templates on the class and the layout
// keep their tests out of the innermost loop.
template <typename Sample, SampleLayout kLayout>
BlockPath<Sample> blockPathFor(FilterPath path) {
    BlockPath<Sample> none = {nullptr, 0};
    switch (path) {
#if PHASEKIT_HAVE_SSE2
    case filterPathSse2: return BlockPath<Sample>{filterBlockSse2<Sample, kLayout>, kLanes};
#endif
#if PHASEKIT_HAVE_WIDE_VECTORS
    case filterPathAvx2: return BlockPath<Sample>{filterBlockAvx2<Sample, kLayout>, 16};
    case filterPathAvx512: return BlockPath<Sample>{filterBlockAvx512<Sample, kLayout>, 32};
#endif
    default: return none;
    }
}

template <typename Sample>
BlockPath<Sample> blockPathFor(FilterPath path, SampleLayout layout) {
    switch (layout) {
    case kSeparateParts: return blockPathFor<Sample, kSeparateParts>(path);
    case kPairedParts: return blockPathFor<Sample, kPairedParts>(path);
    default: return blockPathFor<Sample, kRealSamples>(path);
    }
}

// A tile function computes `blocks` blocks of rows from j0 on of columns c0 .. c1 - 1
// of a single map, all of whose windows lie inside the map's rows.
template <typename Sample>
struct TilePath {
    void (*tile)(const Samples<Sample> &in, const Window &w, int32_t j0, int32_t blocks, int32_t c0, int32_t c1,
                 const Results<Sample> &out);
    int32_t rows;    // rows per block; tile null: column by column
    int32_t blocks;  // blocks per tile, as many as the ring holds, up to kTileRows rows
};

// Tiles of up to 256 rows by 256 columns: tall enough that each widened stretch is
// long and contiguous (short ones from thousands of columns cost a page walk each),
// narrow enough for many tiles on many cores; a tile's first columns widen the
// window's width of columns before them again.
const int32_t kTileRows = 256, kTileColumns = 256;

template <SampleLayout kLayout>
TilePath<float> tilePathFor(FilterPath path) {
    TilePath<float> none = {nullptr, 0, 0};
    switch (path) {
#if PHASEKIT_HAVE_WIDE_VECTORS
    case filterPathAvx2: return TilePath<float>{filterStripAvx2<kLayout>, 16, 0};
    case filterPathAvx512: return TilePath<float>{filterStripAvx512<kLayout>, 32, 0};
#endif
    default: return none;
    }
}

// A window of fewer columns than this goes column by column: with three columns the
// ring saves little widening, and the tiles' short stretches of many columns cost
// more than it saves (a 3x3 single map's filter in tiles took 1.2 times as long;
// from 5x5 on, tiles are faster).
const int32_t kTiledWindowColumns = 5;

// The tiled form, for single samples on the wide paths when the window is wide enough
// and its ring fits (double samples are read where they are).
TilePath<double> tilePathFor(FilterPath, const Samples<double> &, const Window &) {
    TilePath<double> none = {nullptr, 0, 0};
    return none;
}
TilePath<float> tilePathFor(FilterPath path, const Samples<float> &in, const Window &w) {
    TilePath<float> chosen;
    switch (in.layout) {
    case kSeparateParts: chosen = tilePathFor<kSeparateParts>(path); break;
    case kPairedParts: chosen = tilePathFor<kPairedParts>(path); break;
    default: chosen = tilePathFor<kRealSamples>(path); break;
    }
    if (!chosen.tile) return chosen;
    const int64_t parts = in.layout == kRealSamples ? 1 : 2;
    const int64_t windowColumns = 2 * static_cast<int64_t>(w.halfColumns) + 1;
    const int64_t slotRows = kRingDoubles / (parts * windowColumns);
    const int64_t blocks = (slotRows - 2 * static_cast<int64_t>(w.halfRows)) / chosen.rows;
    chosen.blocks = static_cast<int32_t>(std::min<int64_t>(blocks, kTileRows / chosen.rows));
    if (chosen.blocks < 1 || windowColumns < kTiledWindowColumns) chosen.tile = nullptr;
    return chosen;
}

template <typename Sample>
void filterColumn(const Samples<Sample> &in, const Window &w, const BlockPath<Sample> &path, int32_t c,
                  const Results<Sample> &out) {
    const int32_t M = in.rows;
    int32_t j = 0;
    if (path.block) {
        // Rows before firstInterior or from lastInterior on have windows that leave the map.
        const int32_t firstInterior = std::min(w.halfRows, M);
        const int32_t lastInterior = std::max(M - w.halfRows, firstInterior);  // exclusive
        for (; j < firstInterior; ++j) filterSample(in, w, j, c, out);
        if (lastInterior - firstInterior >= path.rows) {
            for (; j + path.rows <= lastInterior; j += path.rows) path.block(in, w, j, c, out);
            // The rest as one more block ending at lastInterior: its first rows are
            // computed twice, to the same bits.
            if (j < lastInterior) path.block(in, w, lastInterior - path.rows, c, out);
            j = lastInterior;
        }
    }
    for (; j < M; ++j) filterSample(in, w, j, c, out);
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

namespace {

template <typename Sample>
void filterTyped(const SmoothingInput &input, FilterPath path, const SmoothingOutput &output) {
    const Samples<Sample> in = {input.layout, static_cast<const Sample *>(input.re),
                                static_cast<const Sample *>(input.im), input.rows, input.columns,
                                input.kernel, input.kernelRows, input.kernelColumns};
    const Results<Sample> out = {output.paired, static_cast<Sample *>(output.re), static_cast<Sample *>(output.im),
                                 static_cast<Sample *>(output.support)};
    // Truncating division: an even side uses only its first 2*half+1 rows or columns.
    const Window window = {(input.kernelRows - 1) / 2, (input.kernelColumns - 1) / 2, mxGetNaN()};
    const FilterPath usable = filterPathAvailable(path) ? path : filterPathScalar;
    const BlockPath<Sample> blocks = blockPathFor<Sample>(usable, input.layout);
    const TilePath<Sample> tiles = tilePathFor(usable, in, window);
    const int32_t M = input.rows, N = input.columns;
    const int32_t firstInterior = std::min(window.halfRows, M);
    const int32_t lastInterior = std::max(M - window.halfRows, firstInterior);  // exclusive
    const double windowArea = static_cast<double>(input.kernelRows) * input.kernelColumns;
    if (tiles.tile == nullptr || lastInterior - firstInterior < tiles.rows) {
        parallelFor(input.interruption, 0, N, M * windowArea, [&](int64_t c) {
            filterColumn(in, window, blocks, static_cast<int32_t>(c), out);
        });
        return;
    }
    // The rows whose windows leave the map, column by column; then the interior in
    // tiles, the last block ending at lastInterior (its first rows computed twice, to
    // the same bits, by the iteration of the tiles above it: no two threads write one
    // sample).
    const int32_t blockCount = (lastInterior - firstInterior) / tiles.rows;
    const bool lastBlockOverlaps = firstInterior + blockCount * tiles.rows < lastInterior;
    const int32_t rowTiles = (blockCount + tiles.blocks - 1) / tiles.blocks;
    const int32_t columnTiles = (N + kTileColumns - 1) / kTileColumns;
    parallelFor(input.interruption, 0, N, (M - (lastInterior - firstInterior)) * windowArea, [&](int64_t column) {
        const int32_t c = static_cast<int32_t>(column);
        for (int32_t j = 0; j < firstInterior; ++j) filterSample(in, window, j, c, out);
        for (int32_t j = lastInterior; j < M; ++j) filterSample(in, window, j, c, out);
    });
    const double tileWork = static_cast<double>(tiles.blocks) * tiles.rows * kTileColumns * windowArea;
    parallelFor(input.interruption, 0, static_cast<int64_t>(rowTiles) * columnTiles, tileWork, [&](int64_t tile) {
        const int32_t t = static_cast<int32_t>(tile);
        const int32_t rowTile = t / columnTiles, c0 = t % columnTiles * kTileColumns;
        const int32_t c1 = std::min(N, c0 + kTileColumns);
        const int32_t firstBlock = rowTile * tiles.blocks;
        tiles.tile(in, window, firstInterior + firstBlock * tiles.rows,
                   std::min(tiles.blocks, blockCount - firstBlock), c0, c1, out);
        if (rowTile == rowTiles - 1 && lastBlockOverlaps)
            tiles.tile(in, window, lastInterior - tiles.rows, 1, c0, c1, out);
    });
}

}  // namespace

void filterMapOnPath(const SmoothingInput &input, FilterPath path, const SmoothingOutput &output) {
    if (input.samples == kSingleSamples)
        filterTyped<float>(input, path, output);
    else
        filterTyped<double>(input, path, output);
}

void filterMap(const SmoothingInput &input, const SmoothingOutput &output) {
    filterMapOnPath(input, bestFilterPath(), output);
}
