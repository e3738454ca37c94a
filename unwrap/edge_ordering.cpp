// edge_ordering.cpp: an in-place quicksort of the edges by reliability, smallest
// first, moving whole records. The pivot is a key value chosen strictly above the
// smallest key of the range, so every partition splits off a non-empty lower part,
// and a range of equal keys is recognised by one scan and left alone. The smaller
// part is sorted by recursion and the larger one by the loop, which bounds the depth
// by log2 of the edge count; the parts are independent, so the final order is the
// same whichever goes first.
#include "unwrap.h"

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

void sortEdges(PixelEdge *lo, PixelEdge *hi) {
    double pivot;
    if (!choosePivot(lo, hi, &pivot)) return;
    for (;;) {
        PixelEdge *m = partitionEdges(lo, hi, pivot);
        if (m - lo < hi - m + 1) {
            sortEdges(lo, m - 1);
            lo = m;
        } else {
            sortEdges(m, hi);
            hi = m - 1;
        }
        if (!choosePivot(lo, hi, &pivot)) return;
    }
}
