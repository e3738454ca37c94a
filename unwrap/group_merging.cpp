// group_merging.cpp: walks the sorted edges once, most reliable first, and joins the
// groups of each edge's two pixels (Kruskal's algorithm with union by size). The
// absorbed group is shifted by one common number of 2*pi steps so that the edge's two
// pixels agree; an edge inside one group is skipped, so along any loop the least
// reliable edge is the one left out.
#include "unwrap.h"

// A pixel is alone when it heads a chain of one.
static inline bool isAlone(const PhasePixel *p) { return p->next == nullptr && p->head == p; }

// Appends the lone pixel to the group headed by head.
static inline void joinLone(PhasePixel *head, PhasePixel *lone) {
    head->last->next = lone;
    head->last = lone;
    head->groupSize += 1;
    lone->head = head;
}

// Appends the chain headed by absorbed to the group headed by head, shifting every
// absorbed pixel by steps.
static inline void absorbGroup(PhasePixel *head, PhasePixel *absorbed, int32_t steps) {
    head->last->next = absorbed;
    head->last = absorbed->last;
    head->groupSize += absorbed->groupSize;
    for (PhasePixel *q = absorbed; q != nullptr; q = q->next) {
        q->increment += steps;
        q->head = head;
    }
}

// The sorted edges reach pixels in no spatial order, so nearly every pixel and head
// access misses the cache. Prefetching the pixels of an edge a little ahead, and their
// heads a little less ahead, overlaps those misses; it changes no result.
const int32_t kPixelLookahead = 16;
const int32_t kHeadLookahead = 8;

void mergeGroups(PixelEdge *edges, int32_t edgeCount) {
    for (int32_t k = 0; k < edgeCount; ++k) {
        if (k + kPixelLookahead < edgeCount) {
            __builtin_prefetch(edges[k + kPixelLookahead].first);
            __builtin_prefetch(edges[k + kPixelLookahead].second);
        }
        if (k + kHeadLookahead < edgeCount) {
            __builtin_prefetch(edges[k + kHeadLookahead].first->head);
            __builtin_prefetch(edges[k + kHeadLookahead].second->head);
        }
        const PixelEdge &e = edges[k];
        PhasePixel *p1 = e.first;
        PhasePixel *p2 = e.second;
        PhasePixel *g1 = p1->head;
        PhasePixel *g2 = p2->head;
        if (g1 == g2) continue;
        if (isAlone(p2)) {
            joinLone(g1, p2);
            p2->increment = p1->increment - e.increment;
        } else if (isAlone(p1)) {
            joinLone(g2, p1);
            p1->increment = p2->increment + e.increment;
        } else if (g1->groupSize > g2->groupSize) {
            absorbGroup(g1, g2, p1->increment - e.increment - p2->increment);
        } else {
            // On equal sizes the group of the edge's second pixel absorbs the first's.
            absorbGroup(g2, g1, e.increment - p1->increment + p2->increment);
        }
    }
}
