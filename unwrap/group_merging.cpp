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
// and volumes.
#include "unwrap.h"

#include "../portable/portability.h"

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

}  // namespace

void mergeGroups(GroupLink *links, const CompactEdge *edges, int32_t edgeCount, GridShape shape) {
    const int32_t lines = shape.columns * shape.slices;  // columns of every slice, in order
#pragma omp parallel for schedule(static)
    for (int32_t c = 0; c < lines; ++c) {
        GroupLink *column = links + static_cast<int64_t>(c) * shape.rows;
        for (int32_t r = 0; r < shape.rows; ++r) {
            column[r].parent = -1;  // alone: the head of a group of one
            column[r].offset = 0;
        }
    }
    int32_t steps[3];
    neighbourSteps(shape, steps);

    // Joins, in edge order, on the calling thread: each decision depends on the last.
    for (int32_t k = 0; k < edgeCount; ++k) {
        if (k + kLinkLookahead < edgeCount) {
            const CompactEdge &ahead = edges[k + kLinkLookahead];
            PHASEKIT_PREFETCH(&links[ahead.first]);
            PHASEKIT_PREFETCH(&links[ahead.first + steps[ahead.neighbour]]);
        }
        if (k + kParentLookahead < edgeCount) {
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
