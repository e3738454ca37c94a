// unwrap_reference.h: the unwrapper's ordering and merging in their plain forms, for
// tests to compare the command's forms with. The merge is the chain walk: groups are
// singly linked chains, and a join of two groups walks the absorbed chain to shift
// and relabel every member. The whole pipeline here runs both on the calling thread.
#ifndef PHASEKIT_UNWRAP_REFERENCE_H
#define PHASEKIT_UNWRAP_REFERENCE_H

#include "unwrap.h"

#include <algorithm>
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

// What the plain pipeline is told and gives back beyond the map: a quality map (empty:
// none), the periodic sides (rows, columns), and the regions and reliabilities.
// stableOrder: the tiled call's definition instead of the plain call's: edges of
// equal keys taken in the edge array's order, and every region's steps counted from
// its first pixel.
struct ReferenceOptions {
    std::vector<double> quality;
    bool periodic[2];
    bool stableOrder = false;
};

// Steps counted from each region's first pixel (lowest index), which then keeps 0.
inline void referenceStepsFromFirstPixels(std::vector<PhasePixel> &pixels) {
    std::vector<int32_t> firstSteps(pixels.size(), 0);
    std::vector<bool> seen(pixels.size(), false);
    for (size_t i = 0; i < pixels.size(); ++i) {
        if (pixels[i].valid != 1) continue;
        size_t head = static_cast<size_t>(pixels[i].head - pixels.data());
        if (!seen[head]) {
            seen[head] = true;
            firstSteps[head] = pixels[i].increment;
        }
        pixels[i].increment -= firstSteps[head];
    }
}
struct ReferenceResult {
    std::vector<double> unwrapped, regions, reliability;
};

// The plain reading of a periodic border: every pixel on a border of a periodic side
// whose eight neighbours, found across the borders, are all valid.
inline void referenceBorderReliability(std::vector<PhasePixel> &pixels, int32_t rows, int32_t columns,
                                       const bool periodic[2]) {
    if (rows < 3 || columns < 3) return;
    for (int32_t c = 0; c < columns; ++c)
        for (int32_t r = 0; r < rows; ++r) {
            bool border = r == 0 || r == rows - 1 || c == 0 || c == columns - 1;
            bool rowsOk = periodic[0] || (r > 0 && r < rows - 1);
            bool columnsOk = periodic[1] || (c > 0 && c < columns - 1);
            if (!border || !rowsOk || !columnsOk) continue;
            auto p = [&](int32_t dr, int32_t dc) -> PhasePixel & {
                return pixels[static_cast<size_t>((r + dr + rows) % rows + ((c + dc + columns) % columns) * rows)];
            };
            bool complete = true;
            for (int32_t dr = -1; dr <= 1; ++dr)
                for (int32_t dc = -1; dc <= 1; ++dc) complete = complete && p(dr, dc).valid == 1;
            if (!complete) continue;
            double v = p(0, 0).value;
            double dCol = wrapPhase(p(-1, 0).value - v) - wrapPhase(v - p(1, 0).value);
            double dRow = wrapPhase(p(0, -1).value - v) - wrapPhase(v - p(0, 1).value);
            double dMain = wrapPhase(p(-1, -1).value - v) - wrapPhase(v - p(1, 1).value);
            double dAnti = wrapPhase(p(1, -1).value - v) - wrapPhase(v - p(-1, 1).value);
            p(0, 0).reliability = ((dRow * dRow + dCol * dCol) + dMain * dMain) + dAnti * dAnti;
        }
}

// The whole unwrapping of a column-major map with the plain stages, ordering and
// merging. refColumn/refRow are 0-based; a position outside the map means no reference.
inline ReferenceResult referenceUnwrap(const std::vector<double> &map, int32_t rows, int32_t columns,
                                       int32_t refColumn, int32_t refRow, const ReferenceOptions &options) {
    const size_t n = static_cast<size_t>(rows) * columns;
    std::vector<PhasePixel> pixels(n);
    initPixels(map.data(), pixels.data(), columns, rows);
    if (!options.quality.empty()) {
        for (size_t i = 0; i < n; ++i) {
            PhasePixel &p = pixels[i];
            if (!usableSample(options.quality[i])) {
                p.valid = 0;
                p.value = 0.0;
            }
            p.reliability = -options.quality[i];
        }
    } else {
        computeReliability(pixels.data(), columns, rows);
        referenceBorderReliability(pixels, rows, columns, options.periodic);
    }
    std::vector<int32_t> offsets(2 * static_cast<size_t>(columns));
    std::vector<PixelEdge> edges(static_cast<size_t>(countEdges(pixels.data(), offsets.data(), columns, rows)));
    fillEdges(pixels.data(), edges.data(), offsets.data(), columns, rows);
    // Across the borders: last row to first (by column), then last column to first.
    auto wrapEdge = [&](size_t a, size_t b) {
        if (pixels[a].valid != 1 || pixels[b].valid != 1) return;
        edges.push_back(PixelEdge{pixels[a].reliability + pixels[b].reliability, &pixels[a], &pixels[b],
                                  wrapStep(pixels[a].value - pixels[b].value)});
    };
    if (options.periodic[0])
        for (int32_t c = 0; c < columns; ++c) wrapEdge(static_cast<size_t>(rows - 1 + c * rows), static_cast<size_t>(c * rows));
    if (options.periodic[1])
        for (int32_t r = 0; r < rows; ++r) wrapEdge(static_cast<size_t>(r + (columns - 1) * rows), static_cast<size_t>(r));
    if (options.stableOrder)
        std::stable_sort(edges.begin(), edges.end(),
                         [](const PixelEdge &a, const PixelEdge &b) { return a.reliability < b.reliability; });
    else if (!edges.empty())
        sortEdgesSequential(&edges.front(), &edges.back());
    mergeGroupsByChainWalk(edges.data(), static_cast<int32_t>(edges.size()));
    if (options.stableOrder) referenceStepsFromFirstPixels(pixels);
    ReferenceResult result;
    result.unwrapped.resize(n);
    writeUnwrapped(pixels.data(), result.unwrapped.data(), refColumn, refRow, columns, rows);
    result.regions.assign(n, 0.0);
    result.reliability.assign(n, std::numeric_limits<double>::quiet_NaN());
    std::vector<int32_t> label(n, 0);
    int32_t regionCount = 0;
    for (size_t i = 0; i < n; ++i) {
        if (pixels[i].valid != 1) continue;
        int32_t &l = label[static_cast<size_t>(pixels[i].head - pixels.data())];
        if (l == 0) l = ++regionCount;
        result.regions[i] = l;
        bool initial = options.quality.empty() && pixels[i].reliability >= kInitialReliability;
        result.reliability[i] = initial ? std::numeric_limits<double>::infinity() : pixels[i].reliability;
    }
    return result;
}

inline std::vector<double> referenceUnwrap(const std::vector<double> &map, int32_t rows, int32_t columns,
                                           int32_t refColumn, int32_t refRow) {
    return referenceUnwrap(map, rows, columns, refColumn, refRow, ReferenceOptions()).unwrapped;
}

#endif // PHASEKIT_UNWRAP_REFERENCE_H
