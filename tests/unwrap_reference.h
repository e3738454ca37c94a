// unwrap_reference.h: the unwrapper's ordering and merging in their plain forms, for
// tests to compare the command's forms with. The merge is the chain walk: groups are
// singly linked chains, and a join of two groups walks the absorbed chain to shift
// and relabel every member. The whole pipeline here runs both on the calling thread.
#ifndef PHASEKIT_UNWRAP_REFERENCE_H
#define PHASEKIT_UNWRAP_REFERENCE_H

#include "unwrap.h"

#include <cstdint>
#include <limits>
#include <vector>

inline bool referenceIsAlone(const PhasePixel *p) { return p->next == nullptr && p->head == p; }

// Appends the chain headed by tail to the group headed by head; every appended pixel
// is shifted by steps and names head from then on.
inline void referenceAppend(PhasePixel *head, PhasePixel *tail, int32_t steps) {
    head->last->next = tail;
    head->last = tail->last;
    head->groupSize += tail->groupSize;
    for (PhasePixel *q = tail; q != nullptr; q = q->next) {
        q->increment += steps;
        q->head = head;
    }
}

inline void mergeGroupsByChainWalk(const PixelEdge *edges, int32_t edgeCount) {
    for (int32_t k = 0; k < edgeCount; ++k) {
        const PixelEdge &e = edges[k];
        PhasePixel *p1 = e.first, *p2 = e.second;
        PhasePixel *g1 = p1->head, *g2 = p2->head;
        if (g1 == g2) continue;
        if (referenceIsAlone(p2)) {
            g1->last->next = p2;
            g1->last = p2;
            g1->groupSize += 1;
            p2->head = g1;
            p2->increment = p1->increment - e.increment;
        } else if (referenceIsAlone(p1)) {
            g2->last->next = p1;
            g2->last = p1;
            g2->groupSize += 1;
            p1->head = g2;
            p1->increment = p2->increment + e.increment;
        } else if (g1->groupSize > g2->groupSize) {
            referenceAppend(g1, g2, p1->increment - e.increment - p2->increment);
        } else {
            referenceAppend(g2, g1, e.increment - p1->increment + p2->increment);
        }
    }
}

// The whole unwrapping of a column-major map with the plain ordering and merging.
// refColumn/refRow are 0-based; a position outside the map means no reference.
inline std::vector<double> referenceUnwrap(const std::vector<double> &map, int32_t rows,
                                           int32_t columns, int32_t refColumn, int32_t refRow) {
    std::vector<PhasePixel> pixels(static_cast<size_t>(rows) * columns);
    initPixels(map.data(), pixels.data(), columns, rows);
    computeReliability(pixels.data(), columns, rows);
    std::vector<int32_t> offsets(2 * static_cast<size_t>(columns));
    std::vector<PixelEdge> edges(static_cast<size_t>(countEdges(pixels.data(), offsets.data(), columns, rows)));
    fillEdges(pixels.data(), edges.data(), offsets.data(), columns, rows);
    if (!edges.empty()) sortEdgesSequential(&edges.front(), &edges.back());
    mergeGroupsByChainWalk(edges.data(), static_cast<int32_t>(edges.size()));
    std::vector<double> out(pixels.size());
    writeUnwrapped(pixels.data(), out.data(), refColumn, refRow, columns, rows);
    return out;
}

#endif // PHASEKIT_UNWRAP_REFERENCE_H
