// edge_ordering.cpp: an in-place quicksort of the edges by reliability, smallest
// first, moving whole records. The pivot is a key value chosen strictly above the
// smallest key of the range, so every partition splits off a non-empty lower part,
// and a range of equal keys is recognised by one scan and left alone. The smaller
// part is sorted by recursion and the larger one by the loop, which bounds the depth
// by log2 of the edge count. The parts are independent, so the final order is the
// same whichever goes first and on whichever thread: sortEdges hands large parts to
// OpenMP tasks and gives, record for record, the array of sortEdgesSequential. One
// template serves both edge records: it reads nothing but the key and moves records
// whole, so the 16-byte CompactEdge ends in the permutation the 32-byte PixelEdge does.
// The command's records are partitioned without branches on the keys (the same array
// as the plain scan, see partitionByBlocks), which the tests check against the scan.
#include "unwrap.h"

#include "../portable/portability.h"

#include <cstddef>
#include <utility>

namespace {

template <typename Edge>
bool choosePivotOf(const Edge *lo, const Edge *hi, double *pivot) {
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
    for (const Edge *p = lo + 1; p <= hi; ++p) {
        double key = p->reliability;
        if (!(key == first)) {
            *pivot = first > key ? first : key;
            return true;
        }
    }
    return false;  // every key equal: the range is sorted
}

template <typename Edge>
Edge *partitionOf(Edge *lo, Edge *hi, double pivot) {
    Edge *i = lo;
    Edge *j = hi;
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

// The scan's array, without its unpredictable branches. The scan swaps the k-th record
// from the left whose key is at least the pivot with the k-th from the right whose key
// is below it, for as long as the first lies left of the second, and returns where
// they cross: m = lo + the number of keys below the pivot. The records it swaps are
// exactly those on the wrong side of m, paired in that order. So the keys below the
// pivot are counted first, and then the same pairs are found a block at a time, as
// lists of offsets built without branches, and swapped. Swaps only touch records that
// both lists have passed, so each list reads keys the scan would read.
template <typename Edge>
Edge *partitionByBlocks(Edge *lo, Edge *hi, double pivot) {
    if (lo > hi) return lo;
    ptrdiff_t below = 0;
    for (const Edge *p = lo; p <= hi; ++p) below += p->reliability < pivot;
    Edge *const m = lo + below;
    const int kBlock = 256;  // offsets fit in a byte
    unsigned char leftOffsets[kBlock], rightOffsets[kBlock];
    Edge *left = lo, *leftBase = lo;     // [lo, m), read upwards
    Edge *right = hi, *rightBase = hi;   // [m, hi], read downwards
    int leftCount = 0, leftNext = 0, rightCount = 0, rightNext = 0;
    for (;;) {
        if (leftNext == leftCount && left < m) {
            int n = m - left < kBlock ? static_cast<int>(m - left) : kBlock;
            leftBase = left;
            leftCount = leftNext = 0;
            for (int k = 0; k < n; ++k) {
                leftOffsets[leftCount] = static_cast<unsigned char>(k);
                leftCount += !(left[k].reliability < pivot);
            }
            left += n;
        }
        if (rightNext == rightCount && right >= m) {
            int n = right - m + 1 < kBlock ? static_cast<int>(right - m + 1) : kBlock;
            rightBase = right;
            rightCount = rightNext = 0;
            for (int k = 0; k < n; ++k) {
                rightOffsets[rightCount] = static_cast<unsigned char>(k);
                rightCount += right[-k].reliability < pivot;
            }
            right -= n;
        }
        int pairs = leftCount - leftNext < rightCount - rightNext ? leftCount - leftNext
                                                                  : rightCount - rightNext;
        // Both sides hold equally many misplaced records: when one side has none
        // left, every pair is swapped.
        if (pairs == 0 && ((leftNext == leftCount && left >= m) || (rightNext == rightCount && right < m)))
            return m;
        for (int k = 0; k < pairs; ++k)
            std::swap(leftBase[leftOffsets[leftNext + k]], rightBase[-rightOffsets[rightNext + k]]);
        leftNext += pairs;
        rightNext += pairs;
    }
}

// partitionByBlocks in one pass over the keys for long ranges, whose records do not
// fit in the cache: blocks are taken from both ends, so every left offset lies below
// every right one and the pairs swapped are the scan's first pairs. When fewer than
// two blocks' worth of records are left unread, the scan's state is: everything left
// of its left position (the first unpaired left offset, or the first unread record)
// is below the pivot, everything right of its right position is not, and what lies
// between is partitioned as the scan would, which partitionByBlocks does.
template <typename Edge>
Edge *partitionInOnePass(Edge *lo, Edge *hi, double pivot) {
    const int kBlock = 256;
    unsigned char leftOffsets[kBlock], rightOffsets[kBlock];
    Edge *left = lo, *right = hi;  // the unread records: [left, right]
    Edge *leftBase = lo, *rightBase = hi;
    int leftCount = 0, leftNext = 0, rightCount = 0, rightNext = 0;
    while (right - left + 1 >= 2 * kBlock) {
        if (leftNext == leftCount) {
            leftBase = left;
            leftCount = leftNext = 0;
            for (int k = 0; k < kBlock; ++k) {
                leftOffsets[leftCount] = static_cast<unsigned char>(k);
                leftCount += !(left[k].reliability < pivot);
            }
            left += kBlock;
        }
        if (rightNext == rightCount) {
            rightBase = right;
            rightCount = rightNext = 0;
            for (int k = 0; k < kBlock; ++k) {
                rightOffsets[rightCount] = static_cast<unsigned char>(k);
                rightCount += right[-k].reliability < pivot;
            }
            right -= kBlock;
        }
        int pairs = leftCount - leftNext < rightCount - rightNext ? leftCount - leftNext
                                                                  : rightCount - rightNext;
        for (int k = 0; k < pairs; ++k)
            std::swap(leftBase[leftOffsets[leftNext + k]], rightBase[-rightOffsets[rightNext + k]]);
        leftNext += pairs;
        rightNext += pairs;
    }
    Edge *from = leftNext < leftCount ? leftBase + leftOffsets[leftNext] : left;
    Edge *to = rightNext < rightCount ? rightBase - rightOffsets[rightNext] : right;
    return partitionByBlocks(from, to, pivot);
}

// The command's records take the branch-free form; the plain records keep the scan.
inline CompactEdge *partitionFast(CompactEdge *lo, CompactEdge *hi, double pivot) {
    return partitionInOnePass(lo, hi, pivot);
}
inline PixelEdge *partitionFast(PixelEdge *lo, PixelEdge *hi, double pivot) {
    return partitionOf(lo, hi, pivot);
}

// Ranges up to this many records may be finished by insertion sort.
const ptrdiff_t kSmallRange = 32;

// Sorts a small range by insertion sort when its keys are all different, and reports
// whether it did. Distinct keys have only one sorted order, so the result is exactly
// what the quicksort would give; with a repeated key the range is left untouched,
// because the quicksort's order of equal keys is its own.
template <typename Edge>
bool sortSmallDistinct(Edge *lo, Edge *hi) {
    Edge buffer[kSmallRange];
    ptrdiff_t n = hi - lo + 1;
    for (ptrdiff_t k = 0; k < n; ++k) {
        Edge item = lo[k];
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

template <typename Edge>
void sortSequentialOf(Edge *lo, Edge *hi) {
    double pivot;
    if (hi - lo < kSmallRange && sortSmallDistinct(lo, hi)) return;
    if (!choosePivotOf(lo, hi, &pivot)) return;
    for (;;) {
        Edge *m = partitionFast(lo, hi, pivot);
        if (m - lo < hi - m + 1) {
            sortSequentialOf(lo, m - 1);
            lo = m;
        } else {
            sortSequentialOf(m, hi);
            hi = m - 1;
        }
        if (hi - lo < kSmallRange && sortSmallDistinct(lo, hi)) return;
        if (!choosePivotOf(lo, hi, &pivot)) return;
    }
}

#if PHASEKIT_HAVE_OMP_TASKS
// Parts smaller than this are sorted on the spot by the task that split them off: a
// task costs about as much as sorting a few hundred records.
const ptrdiff_t kTaskRange = 4096;

// The sequential routine's own steps, with the smaller part of each split handed to a
// task while it is large. A range is sorted the same way whoever takes it, so the
// array does not depend on which thread runs which part, nor when.
template <typename Edge>
void sortAsTasks(Edge *lo, Edge *hi) {
    double pivot;
    for (;;) {
        if (hi - lo < kTaskRange) {
            sortSequentialOf(lo, hi);
            return;
        }
        if (!choosePivotOf(lo, hi, &pivot)) return;
        Edge *m = partitionFast(lo, hi, pivot);
        Edge *smallLo = lo, *smallHi = m - 1;
        if (m - lo < hi - m + 1) {
            lo = m;
        } else {
            smallLo = m;
            smallHi = hi;
            hi = m - 1;
        }
        if (smallHi - smallLo < kTaskRange) {
            sortSequentialOf(smallLo, smallHi);
        } else {
#pragma omp task firstprivate(smallLo, smallHi) untied
            sortAsTasks(smallLo, smallHi);
        }
    }
}
#endif

template <typename Edge>
void sortOf(Edge *lo, Edge *hi) {
#if PHASEKIT_HAVE_OMP_TASKS
    if (hi - lo >= kTaskRange) {
        // One region; its first thread splits, and every thread takes tasks until all
        // are done (the region's closing barrier waits for them).
#pragma omp parallel
#pragma omp single nowait
        sortAsTasks(lo, hi);
        return;
    }
#endif
    sortSequentialOf(lo, hi);
}

}  // namespace

bool choosePivot(const PixelEdge *lo, const PixelEdge *hi, double *pivot) {
    return choosePivotOf(lo, hi, pivot);
}
PixelEdge *partitionEdges(PixelEdge *lo, PixelEdge *hi, double pivot) {
    return partitionOf(lo, hi, pivot);
}
CompactEdge *partitionEdges(CompactEdge *lo, CompactEdge *hi, double pivot) {
    return partitionInOnePass(lo, hi, pivot);
}
void sortEdgesSequential(PixelEdge *lo, PixelEdge *hi) { sortSequentialOf(lo, hi); }
void sortEdges(CompactEdge *lo, CompactEdge *hi) { sortOf(lo, hi); }
