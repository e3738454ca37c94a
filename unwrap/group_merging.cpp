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
// the offsets on its path to the head.
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

inline int32_t pixelIndex(const PhasePixel *pixels, const PhasePixel *p) {
    return static_cast<int32_t>(p - pixels);
}

}  // namespace

void mergeGroups(PhasePixel *pixels, GroupLink *links, const PixelEdge *edges, int32_t edgeCount,
                 int32_t columns, int32_t rows) {
#pragma omp parallel for schedule(static)
    for (int32_t c = 0; c < columns; ++c) {
        GroupLink *column = links + static_cast<int64_t>(c) * rows;
        for (int32_t r = 0; r < rows; ++r) {
            column[r].parent = -1;  // alone: the head of a group of one
            column[r].offset = 0;
        }
    }

    // Joins, in edge order, on the calling thread: each decision depends on the last.
    for (int32_t k = 0; k < edgeCount; ++k) {
        if (k + kLinkLookahead < edgeCount) {
            const PixelEdge &ahead = edges[k + kLinkLookahead];
            PHASEKIT_PREFETCH(&links[pixelIndex(pixels, ahead.first)]);
            PHASEKIT_PREFETCH(&links[pixelIndex(pixels, ahead.second)]);
        }
        if (k + kParentLookahead < edgeCount) {
            const PixelEdge &ahead = edges[k + kParentLookahead];
            int32_t up1 = links[pixelIndex(pixels, ahead.first)].parent;
            int32_t up2 = links[pixelIndex(pixels, ahead.second)].parent;
            if (up1 >= 0) PHASEKIT_PREFETCH(&links[up1]);
            if (up2 >= 0) PHASEKIT_PREFETCH(&links[up2]);
        }
        const PixelEdge &e = edges[k];
        int32_t p1 = pixelIndex(pixels, e.first);
        int32_t p2 = pixelIndex(pixels, e.second);
        int32_t steps1, steps2;
        int32_t g1 = findHead(links, p1, &steps1);
        int32_t g2 = findHead(links, p2, &steps2);
        if (g1 == g2) continue;
        // Alone: a head whose group has one member (parent -1).
        if (links[p2].parent == -1) {
            links[g1].parent -= 1;
            links[p2].parent = g1;
            links[p2].offset = steps1 - e.increment;
        } else if (links[p1].parent == -1) {
            links[g2].parent -= 1;
            links[p1].parent = g2;
            links[p1].offset = steps2 + e.increment;
        } else if (-links[g1].parent > -links[g2].parent) {
            links[g1].parent += links[g2].parent;
            links[g2].parent = g1;
            links[g2].offset = steps1 - e.increment - steps2;
        } else {
            // On equal sizes the group of the edge's second pixel absorbs the first's.
            links[g2].parent += links[g1].parent;
            links[g1].parent = g2;
            links[g1].offset = e.increment - steps1 + steps2;
        }
    }

    // Every pixel sums the offsets up to its head. The links are only read here, so
    // the columns are resolved in parallel; paths are short after union by size and
    // path halving (at most log2 of the group size).
#pragma omp parallel for schedule(static)
    for (int32_t c = 0; c < columns; ++c) {
        for (int32_t r = 0; r < rows; ++r) {
            int32_t i = r + c * rows;
            int32_t x = i, sum = 0;
            while (links[x].parent >= 0) {
                sum += links[x].offset;
                x = links[x].parent;
            }
            PhasePixel &p = pixels[i];
            p.increment = sum;
            p.head = pixels + x;
            if (x == i) p.groupSize = -links[i].parent;
        }
    }
}
