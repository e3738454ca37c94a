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

#include <algorithm>
#include <atomic>
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

const int kBlock = 256;  // records per block: offsets fit in a byte

// The records on the wrong side found so far: in a block from the left, those whose
// keys are at least the pivot; in a block from the right (read downwards), those
// whose keys are below it. Offsets are taken without branches; next counts those
// already swapped.
template <typename Edge>
struct MisplacedLists {
    unsigned char leftOffsets[kBlock], rightOffsets[kBlock];
    Edge *leftBase, *rightBase;
    int leftCount, leftNext, rightCount, rightNext;
};

// Empty lists. The offsets are left unset (only counted entries are read): clearing
// them cost more than partitioning a short range.
template <typename Edge>
inline void clearLists(MisplacedLists<Edge> *l) {
    l->leftBase = l->rightBase = nullptr;
    l->leftCount = l->leftNext = l->rightCount = l->rightNext = 0;
}

template <typename Edge>
inline void takeLeftBlock(MisplacedLists<Edge> *l, Edge *block, int n, double pivot) {
    l->leftBase = block;
    l->leftCount = l->leftNext = 0;
    for (int k = 0; k < n; ++k) {
        l->leftOffsets[l->leftCount] = static_cast<unsigned char>(k);
        l->leftCount += !(block[k].reliability < pivot);
    }
}

template <typename Edge>
inline void takeRightBlock(MisplacedLists<Edge> *l, Edge *top, int n, double pivot) {
    l->rightBase = top;
    l->rightCount = l->rightNext = 0;
    for (int k = 0; k < n; ++k) {
        l->rightOffsets[l->rightCount] = static_cast<unsigned char>(k);
        l->rightCount += top[-k].reliability < pivot;
    }
}

// Swaps the k-th unswapped left record with the k-th unswapped right one, for as many
// as both lists hold; returns how many that was.
template <typename Edge>
inline int swapPairs(MisplacedLists<Edge> *l) {
    int left = l->leftCount - l->leftNext, right = l->rightCount - l->rightNext;
    int pairs = left < right ? left : right;
    for (int k = 0; k < pairs; ++k)
        std::swap(l->leftBase[l->leftOffsets[l->leftNext + k]], l->rightBase[-l->rightOffsets[l->rightNext + k]]);
    l->leftNext += pairs;
    l->rightNext += pairs;
    return pairs;
}

// The scan's array, without its unpredictable branches. The scan swaps the k-th record
// from the left whose key is at least the pivot with the k-th from the right whose key
// is below it, for as long as the first lies left of the second, and returns where
// they cross: m = lo + the number of keys below the pivot. The records it swaps are
// exactly those on the wrong side of m, paired in that order. So the keys below the
// pivot are counted first, and then the same pairs are found a block at a time and
// swapped. Swaps only touch records that both lists have passed, so each list reads
// keys the scan would read.
template <typename Edge>
Edge *partitionByBlocks(Edge *lo, Edge *hi, double pivot) {
    if (lo > hi) return lo;
    ptrdiff_t below = 0;
    for (const Edge *p = lo; p <= hi; ++p) below += p->reliability < pivot;
    Edge *const m = lo + below;
    MisplacedLists<Edge> lists;
    clearLists(&lists);
    Edge *left = lo;    // [lo, m), read upwards
    Edge *right = hi;   // [m, hi], read downwards
    for (;;) {
        if (lists.leftNext == lists.leftCount && left < m) {
            int n = m - left < kBlock ? static_cast<int>(m - left) : kBlock;
            takeLeftBlock(&lists, left, n, pivot);
            left += n;
        }
        if (lists.rightNext == lists.rightCount && right >= m) {
            int n = right - m + 1 < kBlock ? static_cast<int>(right - m + 1) : kBlock;
            takeRightBlock(&lists, right, n, pivot);
            right -= n;
        }
        // Both sides hold equally many misplaced records: when one side has none
        // left, every pair is swapped.
        if (swapPairs(&lists) == 0 && ((lists.leftNext == lists.leftCount && left >= m) ||
                                       (lists.rightNext == lists.rightCount && right < m)))
            return m;
    }
}

// partitionByBlocks in one pass over the keys for long ranges, whose records do not
// fit in the cache: blocks are taken from both ends, so every left offset lies below
// every right one and the pairs swapped are the scan's first pairs. When fewer than
// two blocks' worth of records are left unread, the scan's state is: everything left
// of its left position (the first unpaired left offset, or the first unread record)
// is below the pivot, everything right of its right position is not, and what lies
// between is partitioned as the scan would, which partitionByBlocks does.
// With an interruption it looks for an interrupt every so many blocks (a range of a
// billion records takes seconds) and, when one came, returns lo with the range in
// no useful order: the caller stops too.
const int kBlocksBetweenLooks = 1 << 12;

template <typename Edge>
Edge *partitionInOnePass(Edge *lo, Edge *hi, double pivot, Interruption *interruption = nullptr) {
    MisplacedLists<Edge> lists;
    clearLists(&lists);
    Edge *left = lo, *right = hi;  // the unread records: [left, right]
    int blocks = 0;
    while (right - left + 1 >= 2 * kBlock) {
        if (++blocks == kBlocksBetweenLooks) {
            blocks = 0;
            if (interrupted(interruption)) return lo;
        }
        if (lists.leftNext == lists.leftCount) {
            takeLeftBlock(&lists, left, kBlock, pivot);
            left += kBlock;
        }
        if (lists.rightNext == lists.rightCount) {
            takeRightBlock(&lists, right, kBlock, pivot);
            right -= kBlock;
        }
        swapPairs(&lists);
    }
    Edge *from = lists.leftNext < lists.leftCount ? lists.leftBase + lists.leftOffsets[lists.leftNext] : left;
    Edge *to = lists.rightNext < lists.rightCount ? lists.rightBase - lists.rightOffsets[lists.rightNext] : right;
    return partitionByBlocks(from, to, pivot);
}

// The command's records take the branch-free form; the plain records keep the scan.
inline CompactEdge *partitionFast(CompactEdge *lo, CompactEdge *hi, double pivot,
                                  Interruption *interruption = nullptr) {
    return partitionInOnePass(lo, hi, pivot, interruption);
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

// Parts smaller than this are sorted on the spot by the task that split them off: a
// task costs about as much as sorting a few hundred records.
const ptrdiff_t kTaskRange = 4096;

// The ranges the split leaves unsorted: listed while there is room, sorted on the spot
// once the list is full (the merge then finds them already in place).
struct LeafList {
    EdgeRange *leaves;
    int32_t capacity;
    std::atomic<int32_t> count;
    Interruption *interruption;
};

void addLeaf(LeafList *list, CompactEdge *edges, CompactEdge *lo, CompactEdge *hi) {
    int32_t k = list->count.fetch_add(1);
    if (k < list->capacity) {
        EdgeRange leaf = {static_cast<int32_t>(lo - edges), static_cast<int32_t>(hi - edges)};
        list->leaves[k] = leaf;
    } else {
        sortSequentialOf(lo, hi);
    }
}

// The quicksort's own steps down to the ranges shorter than leafSize, which are listed
// instead of sorted (a range of equal keys is sorted already and is not listed). The
// smaller part of a split goes to a task while it is at least leafSize long. A range
// is sorted the same way whoever takes it, so the array does not depend on which
// thread runs which part, nor when, nor on where the split stops.
void splitOf(CompactEdge *edges, CompactEdge *lo, CompactEdge *hi, ptrdiff_t leafSize, LeafList *list) {
    double pivot;
    for (;;) {
        if (interrupted(list->interruption)) return;
        if (hi - lo + 1 < leafSize) {
            addLeaf(list, edges, lo, hi);
            return;
        }
        if (!choosePivotOf(lo, hi, &pivot)) return;
        CompactEdge *m = partitionFast(lo, hi, pivot, list->interruption);
        if (interrupted(list->interruption)) return;
        CompactEdge *smallLo = lo, *smallHi = m - 1;
        if (m - lo < hi - m + 1) {
            lo = m;
        } else {
            smallLo = m;
            smallHi = hi;
            hi = m - 1;
        }
        if (smallHi - smallLo + 1 < leafSize) {
            addLeaf(list, edges, smallLo, smallHi);
        } else {
#if PHASEKIT_HAVE_OMP_TASKS
#pragma omp task firstprivate(smallLo, smallHi) untied
#endif
            splitOf(edges, smallLo, smallHi, leafSize, list);
        }
    }
}

bool leafBefore(const EdgeRange &a, const EdgeRange &b) { return a.first < b.first; }

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
// A split with no room for leaves: each is sorted by the task that splits it off.
void sortEdges(CompactEdge *lo, CompactEdge *hi) {
    splitEdges(lo, static_cast<int32_t>(hi - lo + 1), static_cast<int32_t>(kTaskRange), nullptr, 0);
}

int32_t splitEdges(CompactEdge *edges, int32_t edgeCount, int32_t leafSize, EdgeRange *leaves,
                   int32_t capacity, Interruption *interruption) {
    if (edgeCount <= 0) return 0;
    LeafList list;
    list.leaves = leaves;
    list.capacity = capacity;
    list.count.store(0);
    list.interruption = interruption;
#if PHASEKIT_HAVE_OMP_TASKS
    // One region; the host's thread splits (so the largest partitions, its own, look
    // for an interrupt), and every thread takes tasks until all are done (the region's
    // closing barrier waits for them). A single leaf needs none.
#pragma omp parallel if (edgeCount >= leafSize)
#pragma omp master
#endif
    splitOf(edges, edges, edges + edgeCount - 1, leafSize, &list);
    int32_t listed = list.count.load();
    if (listed > capacity) listed = capacity;
    std::sort(leaves, leaves + listed, leafBefore);
    return listed;
}

void sortEdgeRange(CompactEdge *edges, EdgeRange range) {
    sortSequentialOf(edges + range.first, edges + range.last);
}
