// edge_ordering.cpp: an in-place quicksort of the edges by reliability, smallest
// first, moving whole records. The pivot is a key value chosen strictly above the
// smallest key of the range, so every partition splits off a non-empty lower part,
// and a range of equal keys is recognised by one scan and left alone. The smaller
// part is sorted by recursion and the larger one by the loop, which bounds the depth
// by log2 of the edge count. The parts are independent, so the final order is the
// same whichever goes first and on whichever thread: sortEdges hands large parts to
// OpenMP tasks and gives, record for record, the array of sortEdgesSequential.
#include "unwrap.h"

#include "../portable/portability.h"

#include <cstddef>
#include <utility>

bool choosePivot(const PixelEdge *lo, const PixelEdge *hi, double *pivot) {
    double a = lo->reliability;
    double b = lo[(hi - lo) / 2].reliability;
    double c = hi->reliability;
    if (a > b) std::swap(a, b);
    if (a > c) std::swap(a, c);
    if (b > c) std::swap(b, c);
    if (b > a) {
        *pivot = b;
        return true;
    }
    if (c > b) {
        *pivot = c;
        return true;
    }
    // The three samples agree: look for the first key that differs from the first.
    double first = lo->reliability;
    for (const PixelEdge *p = lo + 1; p <= hi; ++p) {
        double key = p->reliability;
        if (!(key == first)) {
            *pivot = first > key ? first : key;
            return true;
        }
    }
    return false;  // every key equal: the range is sorted
}

PixelEdge *partitionEdges(PixelEdge *lo, PixelEdge *hi, double pivot) {
    PixelEdge *i = lo;
    PixelEdge *j = hi;
    if (i > j) return i;
    // The pivot is some record's key and exceeds another's, so both scans stop inside
    // the range without bound checks.
    for (;;) {
        while (pivot > i->reliability) ++i;
        while (j->reliability >= pivot) --j;
        if (i < j) {
            std::swap(*i, *j);
            ++i;
            --j;
        }
        if (i > j) return i;
    }
}

// Ranges up to this many records may be finished by insertion sort.
const ptrdiff_t kSmallRange = 32;

// Sorts a small range by insertion sort when its keys are all different, and reports
// whether it did. Distinct keys have only one sorted order, so the result is exactly
// what the quicksort would give; with a repeated key the range is left untouched,
// because the quicksort's order of equal keys is its own.
static bool sortSmallDistinct(PixelEdge *lo, PixelEdge *hi) {
    PixelEdge buffer[kSmallRange];
    ptrdiff_t n = hi - lo + 1;
    for (ptrdiff_t k = 0; k < n; ++k) {
        PixelEdge item = lo[k];
        ptrdiff_t j = k;
        while (j > 0 && buffer[j - 1].reliability > item.reliability) {
            buffer[j] = buffer[j - 1];
            --j;
        }
        if (j > 0 && !(buffer[j - 1].reliability < item.reliability)) return false;
        buffer[j] = item;
    }
    for (ptrdiff_t k = 0; k < n; ++k) lo[k] = buffer[k];
    return true;
}

void sortEdgesSequential(PixelEdge *lo, PixelEdge *hi) {
    double pivot;
    if (hi - lo < kSmallRange && sortSmallDistinct(lo, hi)) return;
    if (!choosePivot(lo, hi, &pivot)) return;
    for (;;) {
        PixelEdge *m = partitionEdges(lo, hi, pivot);
        if (m - lo < hi - m + 1) {
            sortEdgesSequential(lo, m - 1);
            lo = m;
        } else {
            sortEdgesSequential(m, hi);
            hi = m - 1;
        }
        if (hi - lo < kSmallRange && sortSmallDistinct(lo, hi)) return;
        if (!choosePivot(lo, hi, &pivot)) return;
    }
}

#if PHASEKIT_HAVE_OMP_TASKS
// Parts smaller than this are sorted on the spot by the task that split them off: a
// task costs about as much as sorting a few hundred records.
const ptrdiff_t kTaskRange = 4096;

// The sequential routine's own steps, with the smaller part of each split handed to a
// task while it is large. A range is sorted the same way whoever takes it, so the
// array does not depend on which thread runs which part, nor when.
static void sortEdgesAsTasks(PixelEdge *lo, PixelEdge *hi) {
    double pivot;
    for (;;) {
        if (hi - lo < kTaskRange) {
            sortEdgesSequential(lo, hi);
            return;
        }
        if (!choosePivot(lo, hi, &pivot)) return;
        PixelEdge *m = partitionEdges(lo, hi, pivot);
        PixelEdge *smallLo = lo, *smallHi = m - 1;
        if (m - lo < hi - m + 1) {
            lo = m;
        } else {
            smallLo = m;
            smallHi = hi;
            hi = m - 1;
        }
        if (smallHi - smallLo < kTaskRange) {
            sortEdgesSequential(smallLo, smallHi);
        } else {
#pragma omp task firstprivate(smallLo, smallHi) untied
            sortEdgesAsTasks(smallLo, smallHi);
        }
    }
}
#endif

void sortEdges(PixelEdge *lo, PixelEdge *hi) {
#if PHASEKIT_HAVE_OMP_TASKS
    if (hi - lo >= kTaskRange) {
        // One region; its first thread splits, and every thread takes tasks until all
        // are done (the region's closing barrier waits for them).
#pragma omp parallel
#pragma omp single nowait
        sortEdgesAsTasks(lo, hi);
        return;
    }
#endif
    sortEdgesSequential(lo, hi);
}
