// group_merging.cpp: walks the sorted edges once, most reliable first, and joins the
// groups of each edge's two pixels (Kruskal's algorithm with union by size). The
// absorbed group is shifted by one common number of 2*pi steps so that the edge's two
// pixels agree; an edge inside one group is skipped, so along any loop the least
// reliable edge is the one left out.
//
// Groups are trees over a compact link array rather than chains: a join relinks the
// absorbed head under the absorbing one with the shift as its offset, so no member is
// visited. The heads, the group sizes, the case order and the tie rule are those of
// the chain form, hence every decision and every final increment is the same. Heads
// never change their own increment while they are heads (a join only ever shifts the
// absorbed side), so a head's increment is 0 and a pixel's increment is the sum of
// the offsets on its path to the head, which the result stage adds up (groupSteps).
// The edges name their second pixel by neighbour kind, so the same merge serves maps
// and volumes. The command runs the merge alongside the end of the ordering
// (sortLeavesAndMerge): the same joins in the same order, each edge merged once it is
// in its final place, while the other threads sort the ranges after it.
#include "unwrap.h"

#include "../portable/portability.h"

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

namespace {

// Finds the head of x's group and the sum of the offsets from x up to it. Path
// halving: each visited pixel is relinked to its grandparent with the two offsets
// added, which keeps its increment and shortens later finds.
inline int32_t findHead(GroupLink *links, int32_t x, int32_t *steps) {
    int32_t sum = 0;
    for (;;) {
        GroupLink &link = links[x];
        if (link.parent < 0) break;
        const GroupLink &up = links[link.parent];
        if (up.parent < 0) {
            sum += link.offset;
            x = link.parent;
            break;
        }
        link.offset += up.offset;
        link.parent = up.parent;
        sum += link.offset;
        x = link.parent;
    }
    *steps = sum;
    return x;
}

// The sorted edges reach pixels in no spatial order, so nearly every link access
// misses the cache. Prefetching an edge's two links a little ahead, and their parents
// a little less ahead, overlaps those misses; it changes no result.
const int32_t kLinkLookahead = 64;
const int32_t kParentLookahead = 24;

// Joins the groups of edges [begin, end), in order, on the calling thread: each
// decision depends on the last. Nothing past end is read: it may still be moving.
void mergeEdgeRange(GroupLink *links, const CompactEdge *edges, int32_t begin, int32_t end,
                    const int32_t *steps) {
    for (int32_t k = begin; k < end; ++k) {
        if (k + kLinkLookahead < end) {
            const CompactEdge &ahead = edges[k + kLinkLookahead];
            PHASEKIT_PREFETCH(&links[ahead.first]);
            PHASEKIT_PREFETCH(&links[ahead.first + steps[ahead.neighbour]]);
        }
        if (k + kParentLookahead < end) {
            const CompactEdge &ahead = edges[k + kParentLookahead];
            int32_t up1 = links[ahead.first].parent;
            int32_t up2 = links[ahead.first + steps[ahead.neighbour]].parent;
            if (up1 >= 0) PHASEKIT_PREFETCH(&links[up1]);
            if (up2 >= 0) PHASEKIT_PREFETCH(&links[up2]);
        }
        const CompactEdge &e = edges[k];
        const int32_t p1 = e.first;
        const int32_t p2 = e.first + steps[e.neighbour];
        const int32_t increment = e.increment;
        int32_t steps1, steps2;
        int32_t g1 = findHead(links, p1, &steps1);
        int32_t g2 = findHead(links, p2, &steps2);
        if (g1 == g2) continue;
        // Alone: a head whose group has one member (parent -1).
        if (links[p2].parent == -1) {
            links[g1].parent -= 1;
            links[p2].parent = g1;
            links[p2].offset = steps1 - increment;
        } else if (links[p1].parent == -1) {
            links[g2].parent -= 1;
            links[p1].parent = g2;
            links[p1].offset = steps2 + increment;
        } else if (-links[g1].parent > -links[g2].parent) {
            links[g1].parent += links[g2].parent;
            links[g2].parent = g1;
            links[g2].offset = steps1 - increment - steps2;
        } else {
            // On equal sizes the group of the edge's second pixel absorbs the first's.
            links[g2].parent += links[g1].parent;
            links[g1].parent = g2;
            links[g1].offset = increment - steps1 + steps2;
        }
    }
}

// What the threads finishing the ordering share. The thread that holds busy merges;
// nextEdge and nextLeaf are touched by that thread alone.
struct MergeProgress {
    GroupLink *links;
    const CompactEdge *edges;
    int32_t edgeCount;
    const EdgeRange *leaves;
    int32_t leafCount;
    std::atomic<int32_t> *sorted;  // one flag a listed range, set once it is sorted
    int32_t steps[kNeighbourKinds];
    std::atomic<bool> busy;
    int32_t nextEdge;  // the first edge not merged yet
    int32_t nextLeaf;  // the first listed range not merged yet
    Interruption *interruption;
};

// Edges between listed ranges can be many (a long run of equal keys, a split that
// listed nothing); they are merged a stretch at a time, looking for an interrupt.
const int32_t kMergeStretch = 1 << 20;

// Merges edges [begin, end) in order; false when the call is to stop, with
// p->nextEdge where it stopped. Looks first, so each listed range merged after it is
// preceded by a look too.
bool mergeStretches(MergeProgress *p, int32_t begin, int32_t end) {
    for (p->nextEdge = begin;;) {
        if (interrupted(p->interruption)) return false;
        if (p->nextEdge == end) return true;
        const int32_t last = end - p->nextEdge > kMergeStretch ? p->nextEdge + kMergeStretch : end;
        mergeEdgeRange(p->links, p->edges, p->nextEdge, last, p->steps);
        p->nextEdge = last;
    }
}

// Merges every edge that is in its final place and follows the merged ones, unless
// another thread is merging. Edges between listed ranges were placed by the split, so
// only an unsorted range stops the merge. A range sorted while this thread held busy
// is taken up again after it lets go (sequentially consistent operations: the flag's
// store comes before the other thread's failed claim, which comes before the release
// here, which comes before the second look at the flag).
void mergeWhatIsSorted(MergeProgress *p) {
    while (!p->busy.exchange(true)) {
        for (;;) {
            if (p->nextLeaf == p->leafCount) {
                mergeStretches(p, p->nextEdge, p->edgeCount);
                break;
            }
            const EdgeRange &leaf = p->leaves[p->nextLeaf];
            if (!mergeStretches(p, p->nextEdge, leaf.first)) break;
            if (!p->sorted[p->nextLeaf].load()) break;
            mergeEdgeRange(p->links, p->edges, leaf.first, leaf.last + 1, p->steps);
            p->nextEdge = leaf.last + 1;
            ++p->nextLeaf;
        }
        const int32_t waiting = p->nextLeaf;
        p->busy.store(false);
        if (interrupted(p->interruption) || waiting == p->leafCount || !p->sorted[waiting].load()) return;
    }
}

}  // namespace

void initGroupLinks(GroupLink *links, GridShape shape, Interruption *interruption) {
    const int32_t lines = shape.columns * shape.slices;  // columns of every slice, in order
    parallelFor(interruption, 0, lines, shape.rows, [=](int64_t c) {
        GroupLink *column = links + c * shape.rows;
        for (int32_t r = 0; r < shape.rows; ++r) {
            column[r].parent = -1;  // alone: the head of a group of one
            column[r].offset = 0;
        }
    });
}

void mergeGroups(GroupLink *links, const CompactEdge *edges, int32_t edgeCount, GridShape shape) {
    initGroupLinks(links, shape);
    int32_t steps[kNeighbourKinds];
    neighbourSteps(shape, steps);
    mergeEdgeRange(links, edges, 0, edgeCount, steps);
}

void sortLeavesAndMerge(GroupLink *links, CompactEdge *edges, int32_t edgeCount, const EdgeRange *leaves,
                        int32_t leafCount, std::atomic<int32_t> *sortedFlags, GridShape shape,
                        Interruption *interruption) {
    MergeProgress progress;
    progress.links = links;
    progress.edges = edges;
    progress.edgeCount = edgeCount;
    progress.leaves = leaves;
    progress.leafCount = leafCount;
    progress.sorted = sortedFlags;
    neighbourSteps(shape, progress.steps);
    progress.busy.store(false);
    progress.nextEdge = 0;
    progress.nextLeaf = 0;
    progress.interruption = interruption;
    for (int32_t k = 0; k < leafCount; ++k) new (&sortedFlags[k]) std::atomic<int32_t>(0);
    // Ranges are handed out lowest first, so the merge finds them sorted in its order.
    std::atomic<int32_t> nextToSort(0);
#pragma omp parallel
    {
        for (;;) {
            const int32_t k = nextToSort.fetch_add(1);
            if (k >= leafCount || interrupted(interruption)) break;
            sortEdgeRange(edges, leaves[k]);
            sortedFlags[k].store(1);
            mergeWhatIsSorted(&progress);
        }
        // While another thread merges what is left, the host's thread would wait at the
        // region's end with no one asking the host: it keeps looking instead.
        if (interruption != nullptr && std::this_thread::get_id() == interruption->hostThread)
            while (progress.busy.load() && !interrupted(interruption))
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // Every range is sorted now; whatever the threads left is merged here.
    mergeWhatIsSorted(&progress);
}
