// separable_filter.cpp: kernsmooth_c(map, u, v), the filter of a kernel u * v.' in two
// passes, at a cost that grows with the kernel's sides, not its area. A column pass
// sums, for every sample, the weights u of the valid samples above and below it in its
// column, and their weighted parts (W, Pr, Pi); a row pass sums those along the row
// with the weights v (S, Tr, Ti); the result is Tr / S + i Ti / S where the centre is
// valid and S > 0. Each sum runs over its taps in ascending order from +0.0, in double,
// without fused multiply-add: the plain separable formula, bit for bit.
//
// The map goes in tiles (a strip of rows by up to kTileColumns columns), a tile to a
// thread: the column pass fills the tile's partial sums (and those of the columns its
// row windows reach beyond it) in buffers of the thread's own, which the row pass then
// reads: no whole map of partial sums is ever made. Within a tile the lanes of a
// vector are rows, each summing its own taps in the plain order; a sample that is
// missing or outside the map adds +0.0 (masked) to the column sums, which leaves every
// sum as skipping it would, since sums that start at +0.0 are never -0.0; the row
// pass visits only the columns inside the map. So every path (scalar, SSE2, AVX2,
// AVX-512), any weights (negative, zero, NaN, infinite) and both layouts give the
// same bits.
#include "filter_samples.h"
#include "smooth.h"

#include "mex.h"

#include "../portable/portability.h"

#include <algorithm>
#include <cstring>

#if PHASEKIT_HAVE_SSE2
#include <emmintrin.h>
#endif

namespace {

// Rows of a tile: a multiple of every path's rows per step (4 vectors of 8 with
// AVX-512); columns of a tile: maps up to this wide go one tile across, so the column
// pass never repeats a column; wider ones repeat the half windows at each tile's sides.
const int32_t kRowStep = 32;
const int32_t kTileRows = 64;
const int32_t kTileColumns = 4096;

// A mask word: every bit set for a sample that takes part, none for one that does not.
inline double maskWord(bool takesPart) {
    const uint64_t bits = takesPart ? ~uint64_t(0) : 0;
    double word;
    std::memcpy(&word, &bits, sizeof word);
    return word;
}

// The sums of one column's tile of rows: for lane j (0 .. rows - 1) and tap t (0 ..
// taps - 1), the window sample j + t; mask, re and im hold rows + taps - 1 samples.
struct ColumnWindow {
    const double *mask, *re, *im;
    const double *weights;  // the taps' weights, in order
    int32_t taps;
};
// Partial sums of rows lanes.
struct LaneSums {
    double *w, *pr, *pi;
};
// The row pass for one output column: taps columns of partial sums, rows apart.
struct RowWindow {
    const double *w, *pr, *pi;  // the first tap column's partial sums
    const double *weights;
    int32_t taps;
};

void columnSumsScalar(const ColumnWindow &x, int32_t rows, LaneSums sums) {
    for (int32_t j = 0; j < rows; ++j) {
        double w = 0, pr = 0, pi = 0;
        for (int32_t t = 0; t < x.taps; ++t) {
            const bool takesPart = x.mask[j + t] != 0.0;  // all bits set: a NaN, never equal
            const double weight = x.weights[t];
            w += takesPart ? weight : 0.0;
            pr += takesPart ? weight * x.re[j + t] : 0.0;
            pi += takesPart ? weight * x.im[j + t] : 0.0;
        }
        sums.w[j] = w;
        sums.pr[j] = pr;
        sums.pi[j] = pi;
    }
}

void rowSumsScalar(const RowWindow &x, int32_t rows, LaneSums sums) {
    for (int32_t j = 0; j < rows; ++j) {
        double s = 0, tr = 0, ti = 0;
        for (int32_t t = 0; t < x.taps; ++t) {
            const double weight = x.weights[t];
            const int64_t n = static_cast<int64_t>(t) * rows + j;
            s += weight * x.w[n];
            tr += weight * x.pr[n];
            ti += weight * x.pi[n];
        }
        sums.w[j] = s;
        sums.pr[j] = tr;
        sums.pi[j] = ti;
    }
}

#if PHASEKIT_HAVE_SSE2
// Four vectors of two rows at a time.
void columnSumsSse2(const ColumnWindow &x, int32_t rows, LaneSums sums) {
    for (int32_t j = 0; j < rows; j += 8) {
        __m128d w[4], pr[4], pi[4];
        for (int v = 0; v < 4; ++v) w[v] = pr[v] = pi[v] = _mm_setzero_pd();
        for (int32_t t = 0; t < x.taps; ++t) {
            const __m128d weight = _mm_set1_pd(x.weights[t]);
            for (int v = 0; v < 4; ++v) {
                const int32_t n = j + 2 * v + t;
                const __m128d m = _mm_loadu_pd(x.mask + n);
                w[v] = _mm_add_pd(w[v], _mm_and_pd(weight, m));
                pr[v] = _mm_add_pd(pr[v], _mm_and_pd(_mm_mul_pd(weight, _mm_loadu_pd(x.re + n)), m));
                pi[v] = _mm_add_pd(pi[v], _mm_and_pd(_mm_mul_pd(weight, _mm_loadu_pd(x.im + n)), m));
            }
        }
        for (int v = 0; v < 4; ++v) {
            _mm_storeu_pd(sums.w + j + 2 * v, w[v]);
            _mm_storeu_pd(sums.pr + j + 2 * v, pr[v]);
            _mm_storeu_pd(sums.pi + j + 2 * v, pi[v]);
        }
    }
}

void rowSumsSse2(const RowWindow &x, int32_t rows, LaneSums sums) {
    for (int32_t j = 0; j < rows; j += 8) {
        __m128d s[4], tr[4], ti[4];
        for (int v = 0; v < 4; ++v) s[v] = tr[v] = ti[v] = _mm_setzero_pd();
        for (int32_t t = 0; t < x.taps; ++t) {
            const __m128d weight = _mm_set1_pd(x.weights[t]);
            const int64_t base = static_cast<int64_t>(t) * rows + j;
            for (int v = 0; v < 4; ++v) {
                s[v] = _mm_add_pd(s[v], _mm_mul_pd(weight, _mm_loadu_pd(x.w + base + 2 * v)));
                tr[v] = _mm_add_pd(tr[v], _mm_mul_pd(weight, _mm_loadu_pd(x.pr + base + 2 * v)));
                ti[v] = _mm_add_pd(ti[v], _mm_mul_pd(weight, _mm_loadu_pd(x.pi + base + 2 * v)));
            }
        }
        for (int v = 0; v < 4; ++v) {
            _mm_storeu_pd(sums.w + j + 2 * v, s[v]);
            _mm_storeu_pd(sums.pr + j + 2 * v, tr[v]);
            _mm_storeu_pd(sums.pi + j + 2 * v, ti[v]);
        }
    }
}
#endif

#if PHASEKIT_HAVE_WIDE_VECTORS
// Four vectors of four rows at a time.
PHASEKIT_TARGET_AVX2 void columnSumsAvx2(const ColumnWindow &x, int32_t rows, LaneSums sums) {
    for (int32_t j = 0; j < rows; j += 16) {
        __m256d w[4], pr[4], pi[4];
        for (int v = 0; v < 4; ++v) w[v] = pr[v] = pi[v] = _mm256_setzero_pd();
        for (int32_t t = 0; t < x.taps; ++t) {
            const __m256d weight = _mm256_set1_pd(x.weights[t]);
            for (int v = 0; v < 4; ++v) {
                const int32_t n = j + 4 * v + t;
                const __m256d m = _mm256_loadu_pd(x.mask + n);
                w[v] = _mm256_add_pd(w[v], _mm256_and_pd(weight, m));
                pr[v] = _mm256_add_pd(pr[v], _mm256_and_pd(_mm256_mul_pd(weight, _mm256_loadu_pd(x.re + n)), m));
                pi[v] = _mm256_add_pd(pi[v], _mm256_and_pd(_mm256_mul_pd(weight, _mm256_loadu_pd(x.im + n)), m));
            }
        }
        for (int v = 0; v < 4; ++v) {
            _mm256_storeu_pd(sums.w + j + 4 * v, w[v]);
            _mm256_storeu_pd(sums.pr + j + 4 * v, pr[v]);
            _mm256_storeu_pd(sums.pi + j + 4 * v, pi[v]);
        }
    }
}

PHASEKIT_TARGET_AVX2 void rowSumsAvx2(const RowWindow &x, int32_t rows, LaneSums sums) {
    for (int32_t j = 0; j < rows; j += 16) {
        __m256d s[4], tr[4], ti[4];
        for (int v = 0; v < 4; ++v) s[v] = tr[v] = ti[v] = _mm256_setzero_pd();
        for (int32_t t = 0; t < x.taps; ++t) {
            const __m256d weight = _mm256_set1_pd(x.weights[t]);
            const int64_t base = static_cast<int64_t>(t) * rows + j;
            for (int v = 0; v < 4; ++v) {
                s[v] = _mm256_add_pd(s[v], _mm256_mul_pd(weight, _mm256_loadu_pd(x.w + base + 4 * v)));
                tr[v] = _mm256_add_pd(tr[v], _mm256_mul_pd(weight, _mm256_loadu_pd(x.pr + base + 4 * v)));
                ti[v] = _mm256_add_pd(ti[v], _mm256_mul_pd(weight, _mm256_loadu_pd(x.pi + base + 4 * v)));
            }
        }
        for (int v = 0; v < 4; ++v) {
            _mm256_storeu_pd(sums.w + j + 4 * v, s[v]);
            _mm256_storeu_pd(sums.pr + j + 4 * v, tr[v]);
            _mm256_storeu_pd(sums.pi + j + 4 * v, ti[v]);
        }
    }
}

// Four vectors of eight rows at a time. AVX-512F has no double AND: the mask becomes
// a lane mask, and a masked add leaves the lanes that take no part as they were.
PHASEKIT_TARGET_AVX512 void columnSumsAvx512(const ColumnWindow &x, int32_t rows, LaneSums sums) {
    const __m512d zero = _mm512_setzero_pd();
    for (int32_t j = 0; j < rows; j += 32) {
        __m512d w[4], pr[4], pi[4];
        for (int v = 0; v < 4; ++v) w[v] = pr[v] = pi[v] = zero;
        for (int32_t t = 0; t < x.taps; ++t) {
            const __m512d weight = _mm512_set1_pd(x.weights[t]);
            for (int v = 0; v < 4; ++v) {
                const int32_t n = j + 8 * v + t;
                const __mmask8 m = _mm512_cmp_pd_mask(_mm512_loadu_pd(x.mask + n), zero, _CMP_NEQ_UQ);
                w[v] = _mm512_mask_add_pd(w[v], m, w[v], weight);
                pr[v] = _mm512_mask_add_pd(pr[v], m, pr[v], _mm512_mul_pd(weight, _mm512_loadu_pd(x.re + n)));
                pi[v] = _mm512_mask_add_pd(pi[v], m, pi[v], _mm512_mul_pd(weight, _mm512_loadu_pd(x.im + n)));
            }
        }
        for (int v = 0; v < 4; ++v) {
            _mm512_storeu_pd(sums.w + j + 8 * v, w[v]);
            _mm512_storeu_pd(sums.pr + j + 8 * v, pr[v]);
            _mm512_storeu_pd(sums.pi + j + 8 * v, pi[v]);
        }
    }
}

PHASEKIT_TARGET_AVX512 void rowSumsAvx512(const RowWindow &x, int32_t rows, LaneSums sums) {
    for (int32_t j = 0; j < rows; j += 32) {
        __m512d s[4], tr[4], ti[4];
        for (int v = 0; v < 4; ++v) s[v] = tr[v] = ti[v] = _mm512_setzero_pd();
        for (int32_t t = 0; t < x.taps; ++t) {
            const __m512d weight = _mm512_set1_pd(x.weights[t]);
            const int64_t base = static_cast<int64_t>(t) * rows + j;
            for (int v = 0; v < 4; ++v) {
                s[v] = _mm512_add_pd(s[v], _mm512_mul_pd(weight, _mm512_loadu_pd(x.w + base + 8 * v)));
                tr[v] = _mm512_add_pd(tr[v], _mm512_mul_pd(weight, _mm512_loadu_pd(x.pr + base + 8 * v)));
                ti[v] = _mm512_add_pd(ti[v], _mm512_mul_pd(weight, _mm512_loadu_pd(x.pi + base + 8 * v)));
            }
        }
        for (int v = 0; v < 4; ++v) {
            _mm512_storeu_pd(sums.w + j + 8 * v, s[v]);
            _mm512_storeu_pd(sums.pr + j + 8 * v, tr[v]);
            _mm512_storeu_pd(sums.pi + j + 8 * v, ti[v]);
        }
    }
}
#endif

// Four output columns side by side whose taps all lie inside the map: column r's
// taps start r columns of partial sums after column 0's. Each column of partial sums
// is loaded once for the four (a quarter of the loads), and each column's sums still
// run over its taps in ascending order. sums: four sets, one a column.
const int kBlockColumns = 4;

// Paths without a form of their own take the four columns one by one.
template <void (*rowSums)(const RowWindow &, int32_t, LaneSums)>
void rowSumsFourByOne(const RowWindow &x, int32_t rows, const LaneSums *sums) {
    for (int r = 0; r < kBlockColumns; ++r) {
        const int64_t shift = static_cast<int64_t>(r) * rows;
        const RowWindow shifted = {x.w + shift, x.pr + shift, x.pi + shift, x.weights, x.taps};
        rowSums(shifted, rows, sums[r]);
    }
}

#if PHASEKIT_HAVE_WIDE_VECTORS
PHASEKIT_TARGET_AVX2 void rowSumsFourAvx2(const RowWindow &x, int32_t rows, const LaneSums *sums) {
    for (int32_t j = 0; j < rows; j += 4) {
        __m256d s[kBlockColumns], tr[kBlockColumns], ti[kBlockColumns];
        for (int r = 0; r < kBlockColumns; ++r) s[r] = tr[r] = ti[r] = _mm256_setzero_pd();
        for (int32_t q = 0; q < x.taps + kBlockColumns - 1; ++q) {
            const int64_t at = static_cast<int64_t>(q) * rows + j;
            const __m256d w = _mm256_loadu_pd(x.w + at), pr = _mm256_loadu_pd(x.pr + at),
                          pi = _mm256_loadu_pd(x.pi + at);
            const int first = q - x.taps + 1 > 0 ? q - x.taps + 1 : 0, last = q < kBlockColumns - 1 ? q : kBlockColumns - 1;
            for (int r = first; r <= last; ++r) {
                const __m256d weight = _mm256_set1_pd(x.weights[q - r]);
                s[r] = _mm256_add_pd(s[r], _mm256_mul_pd(weight, w));
                tr[r] = _mm256_add_pd(tr[r], _mm256_mul_pd(weight, pr));
                ti[r] = _mm256_add_pd(ti[r], _mm256_mul_pd(weight, pi));
            }
        }
        for (int r = 0; r < kBlockColumns; ++r) {
            _mm256_storeu_pd(sums[r].w + j, s[r]);
            _mm256_storeu_pd(sums[r].pr + j, tr[r]);
            _mm256_storeu_pd(sums[r].pi + j, ti[r]);
        }
    }
}

PHASEKIT_TARGET_AVX512 void rowSumsFourAvx512(const RowWindow &x, int32_t rows, const LaneSums *sums) {
    for (int32_t j = 0; j < rows; j += 8) {
        __m512d s[kBlockColumns], tr[kBlockColumns], ti[kBlockColumns];
        for (int r = 0; r < kBlockColumns; ++r) s[r] = tr[r] = ti[r] = _mm512_setzero_pd();
        for (int32_t q = 0; q < x.taps + kBlockColumns - 1; ++q) {
            const int64_t at = static_cast<int64_t>(q) * rows + j;
            const __m512d w = _mm512_loadu_pd(x.w + at), pr = _mm512_loadu_pd(x.pr + at),
                          pi = _mm512_loadu_pd(x.pi + at);
            const int first = q - x.taps + 1 > 0 ? q - x.taps + 1 : 0, last = q < kBlockColumns - 1 ? q : kBlockColumns - 1;
            for (int r = first; r <= last; ++r) {
                const __m512d weight = _mm512_set1_pd(x.weights[q - r]);
                s[r] = _mm512_add_pd(s[r], _mm512_mul_pd(weight, w));
                tr[r] = _mm512_add_pd(tr[r], _mm512_mul_pd(weight, pr));
                ti[r] = _mm512_add_pd(ti[r], _mm512_mul_pd(weight, pi));
            }
        }
        for (int r = 0; r < kBlockColumns; ++r) {
            _mm512_storeu_pd(sums[r].w + j, s[r]);
            _mm512_storeu_pd(sums[r].pr + j, tr[r]);
            _mm512_storeu_pd(sums[r].pi + j, ti[r]);
        }
    }
}
#endif

struct SumFunctions {
    void (*column)(const ColumnWindow &, int32_t, LaneSums);
    void (*row)(const RowWindow &, int32_t, LaneSums);
    void (*rowFour)(const RowWindow &, int32_t, const LaneSums *);
};

SumFunctions sumFunctionsFor(FilterPath path) {
    switch (filterPathAvailable(path) ? path : filterPathScalar) {
#if PHASEKIT_HAVE_WIDE_VECTORS
    case filterPathAvx512: return SumFunctions{columnSumsAvx512, rowSumsAvx512, rowSumsFourAvx512};
    case filterPathAvx2: return SumFunctions{columnSumsAvx2, rowSumsAvx2, rowSumsFourAvx2};
#endif
#if PHASEKIT_HAVE_SSE2
    case filterPathSse2: return SumFunctions{columnSumsSse2, rowSumsSse2, rowSumsFourByOne<rowSumsSse2>};
#endif
    default: return SumFunctions{columnSumsScalar, rowSumsScalar, rowSumsFourByOne<rowSumsScalar>};
    }
}

// How the map is cut: tiles of rows x columns (the last of each side may be shorter,
// but every tile's lanes are rows, all of them computed, those past the map unused).
struct TilePlan {
    int32_t rows, columns;           // a tile's
    int32_t tilesDown, tilesAcross;
    int32_t halfRows, halfColumns;   // of the taps used: 2 * half + 1 of each vector
    int64_t windowCapacity;          // samples of a column's window, at most
    int32_t partialColumns;          // columns of partial sums a tile needs, at most
};

TilePlan planTiles(int32_t M, int32_t N, int32_t rowTaps, int32_t columnTaps) {
    TilePlan plan;
    plan.halfRows = (rowTaps - 1) / 2;
    plan.halfColumns = (columnTaps - 1) / 2;
    plan.rows = std::min(kTileRows, (M + kRowStep - 1) / kRowStep * kRowStep);
    plan.columns = std::min(N, kTileColumns);
    plan.tilesDown = (M + plan.rows - 1) / plan.rows;
    plan.tilesAcross = (N + plan.columns - 1) / plan.columns;
    // A tile's row windows reach at most the map's rows and 2 * halfRows more.
    const int64_t taps = std::min<int64_t>(2 * static_cast<int64_t>(plan.halfRows) + 1, int64_t(M) + plan.rows - 1);
    plan.windowCapacity = plan.rows + taps - 1;
    plan.partialColumns =
        static_cast<int32_t>(std::min<int64_t>(N, plan.columns + 2 * static_cast<int64_t>(plan.halfColumns)));
    return plan;
}

// A thread's buffers: a column's window, and the tile's partial sums.
struct SeparableScratch {
    double *mask, *re, *im;
    double *w, *pr, *pi;
};

template <typename Sample>
void filterTile(const Samples<Sample> &in, const Results<Sample> &out, const TilePlan &plan, const Window &window,
                const double *u, const double *v, const SumFunctions &sums, int64_t tile, SeparableScratch s) {
    const int32_t M = in.rows, N = in.columns, B = plan.rows;
    const int32_t j0 = static_cast<int32_t>(tile % plan.tilesDown) * B;
    const int32_t c0 = static_cast<int32_t>(tile / plan.tilesDown) * plan.columns;
    const int32_t c1 = std::min(N, c0 + plan.columns);
    const int32_t cLo = std::max(0, c0 - plan.halfColumns), cHi = std::min(N, c1 + plan.halfColumns);
    // The row taps that reach the map from some row of the tile.
    const int32_t hLo = std::max(-plan.halfRows, -(j0 + B - 1)), hHi = std::min(plan.halfRows, M - 1 - j0);
    const ColumnWindow columnWindow = {s.mask, s.re, s.im, u + (hLo + plan.halfRows), hHi - hLo + 1};
    const int32_t count = B + hHi - hLo;  // samples of a window
    for (int32_t q = cLo; q < cHi; ++q) {
        for (int32_t i = 0; i < count; ++i) {
            const int32_t r = j0 + hLo + i;
            bool takesPart = false;
            double re = 0, im = 0;
            if (r >= 0 && r < M) {
                const int64_t n = r + static_cast<int64_t>(q) * M;
                re = realPart(in, n);
                im = imagPart(in, n);
                takesPart = !std::isnan(re) && !std::isnan(im);
            }
            s.mask[i] = maskWord(takesPart);
            s.re[i] = re;
            s.im[i] = im;
        }
        const int64_t at = static_cast<int64_t>(q - cLo) * B;
        sums.column(columnWindow, B, LaneSums{s.w + at, s.pr + at, s.pi + at});
    }
    double outS[kBlockColumns][kTileRows], outTr[kBlockColumns][kTileRows], outTi[kBlockColumns][kTileRows];
    LaneSums outSums[kBlockColumns];
    for (int r = 0; r < kBlockColumns; ++r) outSums[r] = LaneSums{outS[r], outTr[r], outTi[r]};
    for (int32_t c = c0; c < c1;) {
        // The column taps inside the map; those outside are skipped. Four columns whose
        // taps all lie inside go together.
        const int32_t kLo = std::max(-plan.halfColumns, -c), kHi = std::min(plan.halfColumns, N - 1 - c);
        const int64_t at = static_cast<int64_t>(c + kLo - cLo) * B;
        const RowWindow rowWindow = {s.w + at, s.pr + at, s.pi + at, v + (kLo + plan.halfColumns), kHi - kLo + 1};
        const bool four = kLo == -plan.halfColumns && c + kBlockColumns <= c1 &&
                          c + kBlockColumns - 1 + plan.halfColumns <= N - 1;
        if (four) sums.rowFour(rowWindow, B, outSums);
        else sums.row(rowWindow, B, outSums[0]);
        for (int r = 0; r < (four ? kBlockColumns : 1); ++r, ++c) {
            for (int32_t j = 0; j < B && j0 + j < M; ++j) {
                const int64_t i = (j0 + j) + static_cast<int64_t>(c) * M;
                if (centreMissing(in, i))
                    finishMissing(window, out, i);
                else
                    finish(window, outS[r][j], outTr[r][j], outTi[r][j], out, i);
            }
        }
    }
}

template <typename Sample>
void filterSeparableTyped(const SmoothingInput &input, const SeparableKernel &kernel, FilterPath path,
                          const SmoothingOutput &output) {
    const Samples<Sample> in = {input.layout, static_cast<const Sample *>(input.re),
                                static_cast<const Sample *>(input.im), input.rows, input.columns,
                                nullptr, 0, 0};
    const Results<Sample> out = {output.paired, static_cast<Sample *>(output.re), static_cast<Sample *>(output.im),
                                 static_cast<Sample *>(output.support)};
    const TilePlan plan = planTiles(input.rows, input.columns, kernel.rowTaps, kernel.columnTaps);
    const Window window = {plan.halfRows, plan.halfColumns, mxGetNaN()};
    const SumFunctions sums = sumFunctionsFor(path);
    // Buffers for each thread, made here on the host's thread.
    const int32_t slots = teamSize();
    const int64_t windowDoubles = plan.windowCapacity;
    const int64_t partialDoubles = static_cast<int64_t>(plan.rows) * plan.partialColumns;
    const int64_t perSlot = 3 * windowDoubles + 3 * partialDoubles;
    double *buffers = static_cast<double *>(mxMalloc(static_cast<size_t>(slots * perSlot) * sizeof(double)));
    const double tileWork = static_cast<double>(plan.rows) * plan.columns *
                            (2.0 * plan.halfRows + 2.0 * plan.halfColumns + 2.0);
    parallelForInSlots(input.interruption, 0, int64_t(plan.tilesDown) * plan.tilesAcross, tileWork, slots,
                       [&](int64_t tile, int32_t slot) {
                           double *mine = buffers + slot * perSlot;
                           const SeparableScratch scratch = {mine, mine + windowDoubles, mine + 2 * windowDoubles,
                                                             mine + 3 * windowDoubles,
                                                             mine + 3 * windowDoubles + partialDoubles,
                                                             mine + 3 * windowDoubles + 2 * partialDoubles};
                           filterTile(in, out, plan, window, kernel.rows, kernel.columns, sums, tile, scratch);
                       });
    mxFree(buffers);
}

}  // namespace

void filterMapSeparableOnPath(const SmoothingInput &input, const SeparableKernel &kernel, FilterPath path,
                              const SmoothingOutput &output) {
    if (input.samples == kSingleSamples)
        filterSeparableTyped<float>(input, kernel, path, output);
    else
        filterSeparableTyped<double>(input, kernel, path, output);
}

void filterMapSeparable(const SmoothingInput &input, const SeparableKernel &kernel, const SmoothingOutput &output) {
    filterMapSeparableOnPath(input, kernel, bestFilterPath(), output);
}
