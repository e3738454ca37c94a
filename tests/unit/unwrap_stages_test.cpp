// Unit tests of the unwrapper's stages, called by their own names on small grids.
#include "check.h"
#include "tiles.h"
#include "unwrap.h"
#include "unwrap_reference.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();

// A grid of pixels initialised from a column-major map.
struct Grid {
    int32_t rows, columns;
    std::vector<PhasePixel> pixels;
    PhasePixel &at(int32_t r, int32_t c) { return pixels[r + c * rows]; }
};

Grid makeGrid(int32_t rows, int32_t columns, const std::vector<double> &map) {
    Grid g{rows, columns, std::vector<PhasePixel>(static_cast<size_t>(rows) * columns)};
    initPixels(map.data(), g.pixels.data(), columns, rows);
    return g;
}

std::vector<PixelEdge> buildEdges(Grid &g, std::vector<int32_t> *offsets = nullptr) {
    std::vector<int32_t> local(2 * static_cast<size_t>(g.columns));
    int32_t count = countEdges(g.pixels.data(), local.data(), g.columns, g.rows);
    std::vector<PixelEdge> edges(static_cast<size_t>(count));
    fillEdges(g.pixels.data(), edges.data(), local.data(), g.columns, g.rows);
    if (offsets) *offsets = local;
    return edges;
}

bool keptInitialReliability(const PhasePixel &p) {
    return p.reliability >= kInitialReliability && p.reliability <= kInitialReliability + 32767;
}

}  // namespace

TEST(initPixels_sets_every_record_and_treats_nan_and_inf_as_missing) {
    std::vector<double> map = {0.5, NaN, -Inf, Inf, -3.0, 0.0};
    Grid g = makeGrid(2, 3, map);
    for (size_t i = 0; i < map.size(); ++i) {
        const PhasePixel &p = g.pixels[i];
        bool usable = std::isfinite(map[i]);
        CHECK_EQ(int(p.valid), usable ? 1 : 0);
        CHECK(sameBits(p.value, usable ? map[i] : 0.0));
        CHECK_EQ(p.increment, 0);
        CHECK_EQ(p.groupSize, 1);
        CHECK(p.head == &p && p.last == &p && p.next == nullptr);
        CHECK(keptInitialReliability(p));
        CHECK(p.reliability == std::floor(p.reliability));
    }
}

TEST(pixelRandom_depends_only_on_position_and_covers_its_range) {
    std::vector<int> histogram(8, 0);
    for (int32_t c = 0; c < 256; ++c)
        for (int32_t r = 0; r < 256; ++r) {
            int32_t v = pixelRandom(c, r);
            CHECK(v >= 0 && v <= 32767);
            CHECK_EQ(v, pixelRandom(c, r));
            ++histogram[v / 4096];
        }
    // 65536 draws over 8 bins: each bin near 8192.
    for (int count : histogram) CHECK(count > 7600 && count < 8800);
    CHECK(pixelRandom(0, 1) != pixelRandom(1, 0));
}

TEST(wrapPhase_and_wrapStep_fold_once_with_pi_itself_unchanged) {
    struct Case { double x, wrapped; int32_t step; };
    const double justAbove = std::nextafter(kPi, 10.0);
    const Case cases[] = {
        {0.0, 0.0, 0},
        {kPi, kPi, 0},
        {-kPi, -kPi, 0},
        {justAbove, justAbove - kTwoPi, -1},
        {-justAbove, -justAbove + kTwoPi, 1},
        {6.0, 6.0 - kTwoPi, -1},
        {-6.0, -6.0 + kTwoPi, 1},
        {10.0, 10.0 - kTwoPi, -1},  // folded once only
        {3.0 - (-3.0), 6.0 - kTwoPi, -1},
    };
    for (const Case &c : cases) {
        CHECK(sameBits(wrapPhase(c.x), c.wrapped));
        CHECK_EQ(wrapStep(c.x), c.step);
    }
}

TEST(computeReliability_small_or_incomplete_neighbourhoods_keep_initial_values) {
    struct Case { int32_t rows, columns; };
    const Case cases[] = {{1, 5}, {2, 5}, {5, 1}, {5, 2}, {2, 2}, {1, 1}};
    for (const Case &c : cases) {
        std::vector<double> map(static_cast<size_t>(c.rows) * c.columns, 0.25);
        Grid g = makeGrid(c.rows, c.columns, map);
        computeReliability(g.pixels.data(), c.columns, c.rows);
        for (const PhasePixel &p : g.pixels) CHECK(keptInitialReliability(p));
    }
    // A missing pixel among the eight neighbours keeps the centre at its initial value;
    // in a 5x5 map with NaN at (1,1), the interior pixels touching it keep theirs.
    std::vector<double> map(25, 1.0);
    map[1 + 1 * 5] = NaN;
    Grid g = makeGrid(5, 5, map);
    computeReliability(g.pixels.data(), 5, 5);
    for (int32_t c = 1; c <= 3; ++c)
        for (int32_t r = 1; r <= 3; ++r) {
            bool touches = std::abs(r - 1) <= 1 && std::abs(c - 1) <= 1;
            CHECK_EQ(keptInitialReliability(g.at(r, c)), touches);
        }
    CHECK(sameBits(g.at(3, 3).reliability, 0.0));
}

TEST(computeReliability_second_differences) {
    // Constant maps and wrapped ramps give 0 up to rounding.
    const double slopes[] = {0.0, 0.7, 2.5, -2.9};
    for (double slope : slopes) {
        std::vector<double> map(36);
        for (int c = 0; c < 6; ++c)
            for (int r = 0; r < 6; ++r)
                map[r + c * 6] = std::remainder(slope * r + 0.4 * slope * c + 0.3, kTwoPi);
        Grid g = makeGrid(6, 6, map);
        computeReliability(g.pixels.data(), 6, 6);
        for (int c = 1; c < 5; ++c)
            for (int r = 1; r < 5; ++r) CHECK_NEAR(g.at(r, c).reliability, 0.0, 1e-24);
    }
    // One interior pixel raised by h: every second difference through it is -2h.
    const double h = 0.5;
    std::vector<double> bump(9, 0.0);
    bump[4] = h;
    Grid g = makeGrid(3, 3, bump);
    computeReliability(g.pixels.data(), 3, 3);
    CHECK_NEAR(g.at(1, 1).reliability, 4 * (2 * h) * (2 * h), 1e-15);
    // Hand-computed neighbourhoods (column-major 3x3), one of them across a wrap.
    struct Case { std::vector<double> map; double dCol, dRow, dMain, dAnti; };
    const Case cases[] = {
        {{0.1, -0.25, 0, 1, 0, 0.5, 0.2, 0, 0}, 1.5, -0.25, 0.1, 0.2},
        {{0, 0, 0, 3.0, -3.0, -3.0, 0, 0, 0}, (6.0 - kTwoPi) - 0.0, 3.0 - -3.0, 3.0 - -3.0,
         3.0 - -3.0},
    };
    for (const Case &c : cases) {
        g = makeGrid(3, 3, c.map);
        computeReliability(g.pixels.data(), 3, 3);
        double expected = ((c.dRow * c.dRow + c.dCol * c.dCol) + c.dMain * c.dMain) + c.dAnti * c.dAnti;
        CHECK_NEAR(g.at(1, 1).reliability, expected, 1e-14);
    }
}

TEST(countEdges_and_fillEdges_layout) {
    struct Case { int32_t rows, columns; std::vector<double> map; int32_t expected; };
    const Case cases[] = {
        {3, 3, std::vector<double>(9, 0.0), 12},
        {1, 5, std::vector<double>(5, 0.0), 4},      // row edges only
        {5, 1, std::vector<double>(5, 0.0), 4},      // column edges only
        {3, 3, {0, 0, 0, 0, NaN, 0, 0, 0, 0}, 8},    // the centre removes four edges
        {2, 2, {NaN, NaN, NaN, NaN}, 0},
        {1, 1, {0.0}, 0},
        {4, 3, std::vector<double>(12, 1.0), 3 * 3 + 4 * 2},
    };
    for (const Case &c : cases) {
        Grid g = makeGrid(c.rows, c.columns, c.map);
        std::vector<int32_t> offsets;
        std::vector<PixelEdge> edges = buildEdges(g, &offsets);
        CHECK_EQ(static_cast<int32_t>(edges.size()), c.expected);
        CHECK_EQ(offsets.back(), c.expected);
        CHECK(std::is_sorted(offsets.begin(), offsets.end()));
        CHECK_EQ(offsets[0], 0);
        // Column edges first, column by column and by row; then row edges by column
        // pair and by row. Every edge joins two valid neighbours.
        for (size_t k = 0; k < edges.size(); ++k) {
            const PixelEdge &e = edges[k];
            int64_t a = e.first - g.pixels.data(), b = e.second - g.pixels.data();
            bool columnEdge = static_cast<int32_t>(k) < offsets[static_cast<size_t>(c.columns)];
            CHECK_EQ(b - a, columnEdge ? 1 : static_cast<int64_t>(c.rows));
            // A column edge never joins a column's last row to the next column's first.
            if (columnEdge) CHECK(a % c.rows != c.rows - 1);
            CHECK(e.first->valid == 1 && e.second->valid == 1);
            CHECK(sameBits(e.reliability, e.first->reliability + e.second->reliability));
            if (k > 0 && static_cast<int32_t>(k) != offsets[static_cast<size_t>(c.columns)]) {
                int64_t previous = edges[k - 1].first - g.pixels.data();
                CHECK(a > previous);
            }
        }
    }
    // The 3x3 map: column 1's column edges start at index 2, row edges at 6.
    Grid g = makeGrid(3, 3, std::vector<double>(9, 0.0));
    std::vector<int32_t> offsets;
    std::vector<PixelEdge> edges = buildEdges(g, &offsets);
    CHECK(edges[2].first == &g.at(0, 1) && edges[2].second == &g.at(1, 1));
    CHECK(edges[6].first == &g.at(0, 0) && edges[6].second == &g.at(0, 1));
}

TEST(fillEdges_increment_sign) {
    struct Case { double a, b; int32_t increment; };
    const Case cases[] = {{0.0, kPi, 0}, {3.0, -3.0, -1}, {-3.0, 3.0, 1}, {1.0, 1.5, 0}};
    for (const Case &c : cases) {
        Grid g = makeGrid(1, 2, {c.a, c.b});
        std::vector<PixelEdge> edges = buildEdges(g);
        CHECK_EQ(edges.size(), size_t(1));
        CHECK_EQ(edges[0].increment, c.increment);
        CHECK(edges[0].first == &g.at(0, 0));
    }
}

namespace {

std::vector<PixelEdge> edgesWithKeys(const std::vector<double> &keys) {
    std::vector<PixelEdge> edges(keys.size());
    for (size_t k = 0; k < keys.size(); ++k) {
        edges[k].reliability = keys[k];
        edges[k].increment = static_cast<int32_t>(k);  // identifies the record
        edges[k].first = edges[k].second = nullptr;
    }
    return edges;
}

// The command's records with the same keys, identified by their first pixel.
std::vector<CompactEdge> compactWithKeys(const std::vector<double> &keys) {
    std::vector<CompactEdge> edges(keys.size());
    for (size_t k = 0; k < keys.size(); ++k)
        edges[k] = CompactEdge{keys[k], static_cast<int32_t>(k), kNextRow, 0};
    return edges;
}

// The ordering written the plain way: lower part by recursion, upper part by the loop.
void plainSort(PixelEdge *lo, PixelEdge *hi) {
    double pivot;
    if (!choosePivot(lo, hi, &pivot)) return;
    for (;;) {
        PixelEdge *m = partitionEdges(lo, hi, pivot);
        plainSort(lo, m - 1);
        lo = m;
        if (!choosePivot(lo, hi, &pivot)) return;
    }
}

}  // namespace

TEST(choosePivot_rule) {
    struct Case { std::vector<double> keys; bool found; double pivot; };
    const Case cases[] = {
        {{7.0}, false, 0.0},
        {{5.0, 3.0}, true, 5.0},
        {{3.0, 5.0}, true, 5.0},
        {{2, 2, 2, 1}, true, 2.0},
        {{1, 1, 1, 1, 5}, true, 5.0},
        {{4, 4, 4, 4, 4, 4}, false, 0.0},
        {{3, 9, 3, 1, 3}, true, 9.0},     // samples 3, 3, 3: scan finds 9 first
        {{3, 1, 3, 9, 3}, true, 3.0},     // scan finds 1 first: max(3, 1)
    };
    for (const Case &c : cases) {
        std::vector<PixelEdge> edges = edgesWithKeys(c.keys);
        double pivot = -1;
        bool found = choosePivot(&edges.front(), &edges.back(), &pivot);
        CHECK_EQ(found, c.found);
        if (c.found) CHECK_EQ(pivot, c.pivot);
    }
}

TEST(sortEdges_two_records_and_equal_keys) {
    std::vector<CompactEdge> edges = compactWithKeys({5.0, 3.0});
    sortEdges(&edges.front(), &edges.back());
    CHECK(edges[0].reliability == 3.0 && edges[0].first == 1);
    CHECK(edges[1].reliability == 5.0 && edges[1].first == 0);
    edges = compactWithKeys({6, 6, 6, 6, 6});
    sortEdges(&edges.front(), &edges.back());
    for (size_t k = 0; k < edges.size(); ++k) CHECK_EQ(edges[k].first, static_cast<int32_t>(k));
}

TEST(partitionEdges_branch_free_form_gives_the_scans_array) {
    // Every pivot the rule can choose (each key above the smallest), on keys with many
    // repeats and on distinct ones, in ranges shorter and longer than one block.
    uint32_t state = 99;
    auto next = [&state]() { state = state * 1664525u + 1013904223u; return state >> 8; };
    for (size_t n : {2, 3, 17, 255, 256, 257, 511, 512, 513, 1000, 3000, 20000}) {
        for (int distinct : {2, 5, 1 << 20}) {
            std::vector<double> keys(n);
            for (double &k : keys) k = static_cast<double>(next() % static_cast<uint32_t>(distinct));
            double smallest = *std::min_element(keys.begin(), keys.end());
            for (size_t trial = 0; trial < 6; ++trial) {
                double pivot = keys[next() % n];
                if (!(pivot > smallest)) continue;
                std::vector<PixelEdge> scanned = edgesWithKeys(keys);
                std::vector<CompactEdge> blocked = compactWithKeys(keys);
                PixelEdge *a = partitionEdges(&scanned.front(), &scanned.back(), pivot);
                CompactEdge *b = partitionEdges(&blocked.front(), &blocked.back(), pivot);
                bool same = a - &scanned.front() == b - &blocked.front();
                for (size_t k = 0; same && k < n; ++k) same = scanned[k].increment == blocked[k].first;
                CHECK(same);
            }
        }
    }
}

TEST(sortEdges_matches_the_plain_ordering_record_for_record) {
    // The command's ordering (compact records, branch-free partitions, tasks) must give
    // the plain form's array, including the order of equal keys; random keys with many
    // repeats, as the initial values give.
    uint32_t state = 12345;
    auto next = [&state]() { state = state * 1664525u + 1013904223u; return state >> 8; };
    const size_t sizes[] = {1, 2, 3, 7, 64, 1000, 20000};
    for (size_t n : sizes) {
        for (int distinct : {1, 3, 50, 1 << 20}) {
            std::vector<double> keys(n);
            for (double &k : keys) k = static_cast<double>(next() % static_cast<uint32_t>(distinct));
            std::vector<CompactEdge> fast = compactWithKeys(keys);
            std::vector<PixelEdge> plain = edgesWithKeys(keys);
            sortEdges(&fast.front(), &fast.back());
            plainSort(&plain.front(), &plain.back());
            bool same = true;
            for (size_t k = 0; k < n; ++k)
                same = same && fast[k].first == plain[k].increment;
            CHECK(same);
            CHECK(std::is_sorted(fast.begin(), fast.end(), [](const CompactEdge &a, const CompactEdge &b) {
                return a.reliability < b.reliability;
            }));
            std::vector<int32_t> ids;
            for (const CompactEdge &e : fast) ids.push_back(e.first);
            std::sort(ids.begin(), ids.end());
            for (size_t k = 0; k < n; ++k) CHECK_EQ(ids[k], static_cast<int32_t>(k));
        }
    }
    // Already sorted and reversed input, the worst shapes for a naive pivot.
    std::vector<double> keys(50000);
    for (size_t k = 0; k < keys.size(); ++k) keys[k] = static_cast<double>(keys.size() - k);
    std::vector<CompactEdge> edges = compactWithKeys(keys);
    sortEdges(&edges.front(), &edges.back());
    for (size_t k = 0; k < keys.size(); ++k) CHECK_EQ(edges[k].reliability, double(k + 1));
}

namespace {

// Pixels for merge tests: a row of lone pixels.
std::vector<PhasePixel> lonePixels(size_t n) {
    std::vector<double> zeros(n, 0.0);
    std::vector<PhasePixel> pixels(n);
    initPixels(zeros.data(), pixels.data(), static_cast<int32_t>(n), 1);
    return pixels;
}

struct EdgeSpec { int first, second, increment; };

// The head of pixel x's group in the link forest.
int32_t linkedHead(const std::vector<GroupLink> &links, int32_t x) {
    while (links[static_cast<size_t>(x)].parent >= 0) x = links[static_cast<size_t>(x)].parent;
    return x;
}

}  // namespace

TEST(mergeGroups_cases_in_both_forms) {
    // Expected increments and heads hold for the chain walk and for the linked merge;
    // the chain's last member is checked on the chain walk only (the other form keeps
    // no chains).
    struct Case {
        const char *name;
        size_t n;
        std::vector<EdgeSpec> edges;
        std::vector<int32_t> increments;
        std::vector<int> heads;  // -1: the pixel heads itself
        int last;                // last member of the chain of pixel heads[0], or -1
    };
    const Case cases[] = {
        {"both alone: first heads, second gets -increment", 2, {{0, 1, -1}}, {0, 1}, {0, 0}, 1},
        {"(middle, right) then (left, middle): case 3", 3, {{1, 2, 1}, {0, 1, -1}},
         {-1, 0, -1}, {1, 1, 1}, 0},
        {"equal groups: the second pixel's group absorbs", 4, {{0, 1, 0}, {2, 3, 1}, {1, 2, -1}},
         {-1, -1, 0, -1}, {2, 2, 2, 2}, 1},
        {"the strictly larger first group absorbs", 5,
         {{0, 1, 1}, {1, 2, 1}, {3, 4, -1}, {2, 3, 1}}, {0, -1, -2, -3, -2}, {0, 0, 0, 0, 0}, 4},
        {"a loop whose steps disagree: the last edge is skipped", 4,
         {{0, 1, 0}, {1, 3, 0}, {2, 3, 0}, {0, 2, 1}}, {0, 0, 0, 0}, {0, 0, 0, 0}, 2},
        {"no edges", 3, {}, {0, 0, 0}, {-1, -1, -1}, -1},
    };
    // The linked merge's edges name their second pixel as the next row (one index on)
    // or the next column, in a grid of two rows (two indices on).
    const GridShape shape = {2, 3, 1};
    for (const Case &c : cases) {
        for (bool chainWalk : {true, false}) {
            std::vector<PhasePixel> p = lonePixels(c.n);
            std::vector<PixelEdge> edges;
            std::vector<CompactEdge> compact;
            for (const EdgeSpec &s : c.edges) {
                edges.push_back(PixelEdge{0.0, &p[s.first], &p[s.second], s.increment});
                int8_t kind = static_cast<int8_t>(s.second - s.first == 1 ? kNextRow : kNextColumn);
                compact.push_back(CompactEdge{0.0, s.first, kind, static_cast<int8_t>(s.increment)});
            }
            std::vector<GroupLink> links(6);
            if (chainWalk) mergeGroupsByChainWalk(edges.data(), static_cast<int32_t>(edges.size()));
            else mergeGroups(links.data(), compact.data(), static_cast<int32_t>(compact.size()), shape);
            bool same = true;
            for (size_t k = 0; k < c.n; ++k) {
                int32_t head = c.heads[k] < 0 ? static_cast<int32_t>(k) : c.heads[k];
                int32_t members = 0;
                if (chainWalk) {
                    same = same && p[k].increment == c.increments[k] && p[k].head == &p[static_cast<size_t>(head)];
                    for (const PhasePixel &q : p) members += q.head == &p[k];
                    if (head == static_cast<int32_t>(k)) same = same && p[k].groupSize == members;
                } else {
                    same = same && groupSteps(links.data(), static_cast<int32_t>(k)) == c.increments[k] &&
                           linkedHead(links, static_cast<int32_t>(k)) == head;
                    for (size_t q = 0; q < c.n; ++q) members += linkedHead(links, static_cast<int32_t>(q)) == static_cast<int32_t>(k);
                    if (head == static_cast<int32_t>(k)) same = same && -links[k].parent == members;
                }
            }
            if (chainWalk && c.last >= 0) same = same && p[static_cast<size_t>(c.heads[0])].last == &p[static_cast<size_t>(c.last)];
            if (!same)
                recordFailure(__FILE__, __LINE__, std::string(chainWalk ? "chain walk: " : "linked: ") + c.name);
        }
    }
}

namespace {

// A random map with many equal keys: values quantised to a few levels (equal second
// differences), NaN holes (edges with initial reliabilities).
std::vector<double> quantisedMap(int32_t rows, int32_t columns, int levels, double nanShare,
                                 uint32_t seed) {
    std::vector<double> map(static_cast<size_t>(rows) * columns);
    uint32_t state = seed;
    for (double &v : map) {
        state = state * 1664525u + 1013904223u;
        double u = static_cast<double>(state >> 8) / 16777216.0;
        state = state * 1664525u + 1013904223u;
        double w = static_cast<double>(state >> 8) / 16777216.0;
        v = w < nanShare ? NaN : -3.0 + 6.0 * std::floor(u * levels) / levels;
    }
    return map;
}

// The compact record names the same pair, key and step as the plain one.
bool sameEdge(const CompactEdge &a, GridShape shape, const PixelEdge &b, const PhasePixel *base) {
    int32_t steps[kNeighbourKinds];
    neighbourSteps(shape, steps);
    return sameBits(a.reliability, b.reliability) && a.increment == b.increment &&
           a.first == b.first - base && a.first + steps[a.neighbour] == b.second - base;
}

}  // namespace

TEST(compact_stages_match_the_plain_forms) {
    // Reliabilities, edges, ordering (parallel, record for record) and merge of the
    // command's records against the plain stages on PhasePixel and PixelEdge.
    struct Case { int32_t rows, columns, levels; double nanShare; };
    const Case cases[] = {
        {300, 280, 4, 0.05},   // about 170000 edges: the ordering splits into tasks
        {200, 200, 1, 0.0},    // constant map: every interior key 0
        {150, 170, 7, 0.3},
        {1, 20000, 3, 0.02},   // a single row
        {20000, 1, 3, 0.02},   // a single column
        {40, 50, 5, 1.0},      // all NaN: no edges
        {3, 3, 2, 0.0},
    };
    int saved = omp_get_max_threads();
    uint32_t seed = 7;
    for (const Case &c : cases) {
        std::vector<double> map = quantisedMap(c.rows, c.columns, c.levels, c.nanShare, seed++);
        if (map.size() > 40) map[40] = Inf;
        if (map.size() > 41) map[41] = -Inf;
        const GridShape shape = {c.rows, c.columns, 1};
        Grid plain = makeGrid(c.rows, c.columns, map);
        computeReliability(plain.pixels.data(), c.columns, c.rows);
        std::vector<PixelEdge> plainEdges = buildEdges(plain);
        if (!plainEdges.empty()) sortEdgesSequential(&plainEdges.front(), &plainEdges.back());
        mergeGroupsByChainWalk(plainEdges.data(), static_cast<int32_t>(plainEdges.size()));
        for (int threads : {1, 2, 3, 7}) {
            omp_set_num_threads(threads);
            std::vector<double> reliability(map.size());
            initPixels(reliability.data(), c.columns, c.rows);
            computeReliability(map.data(), reliability.data(), c.columns, c.rows);
            bool sameReliability = true;
            for (size_t i = 0; i < map.size(); ++i)
                sameReliability = sameReliability && sameBits(reliability[i], plain.pixels[i].reliability);
            CHECK(sameReliability);
            std::vector<int32_t> offsets(2 * static_cast<size_t>(c.columns));
            std::vector<CompactEdge> edges(static_cast<size_t>(countEdges(map.data(), offsets.data(), c.columns, c.rows)));
            fillEdges(map.data(), reliability.data(), edges.data(), offsets.data(), c.columns, c.rows);
            const std::vector<CompactEdge> unsorted = edges;
            if (!edges.empty()) sortEdges(&edges.front(), &edges.back());
            bool sameOrder = edges.size() == plainEdges.size();
            for (size_t k = 0; sameOrder && k < edges.size(); ++k)
                sameOrder = sameEdge(edges[k], shape, plainEdges[k], plain.pixels.data());
            CHECK(sameOrder);
            std::vector<GroupLink> links(map.size());
            mergeGroups(links.data(), edges.data(), static_cast<int32_t>(edges.size()), shape);
            bool sameGroups = true;
            for (size_t i = 0; i < map.size(); ++i) {
                const PhasePixel &b = plain.pixels[i];
                int32_t head = linkedHead(links, static_cast<int32_t>(i));
                sameGroups = sameGroups && groupSteps(links.data(), static_cast<int32_t>(i)) == b.increment &&
                             head == b.head - plain.pixels.data() &&
                             (b.head != &b || -links[i].parent == b.groupSize);
            }
            CHECK(sameGroups);
            // The pipeline's form: the ordering split into short leaves that the threads
            // finish while one at a time merges; with ample room for leaves, and with
            // room for three only (the rest sorted during the split).
            for (int32_t capacity : {100000, 3}) {
                std::vector<CompactEdge> split = unsorted;
                const int32_t count = static_cast<int32_t>(split.size());
                std::vector<EdgeRange> leaves(static_cast<size_t>(capacity));
                std::vector<std::atomic<int32_t>> flags(static_cast<size_t>(capacity));
                std::vector<GroupLink> joined(map.size());
                initGroupLinks(joined.data(), shape);
                int32_t leafCount = splitEdges(split.data(), count, 300, leaves.data(), capacity);
                CHECK(leafCount <= capacity && (count < 3000 || leafCount >= 3));
                sortLeavesAndMerge(joined.data(), split.data(), count, leaves.data(), leafCount, flags.data(), shape);
                bool same = true;
                for (size_t k = 0; same && k < edges.size(); ++k)
                    same = split[k].first == edges[k].first && split[k].neighbour == edges[k].neighbour;
                for (size_t i = 0; same && i < map.size(); ++i)
                    same = joined[i].parent == links[i].parent && joined[i].offset == links[i].offset;
                CHECK(same);
            }
        }
    }
    omp_set_num_threads(saved);
}

TEST(writeUnwrapped_reference_shift_and_missing_pixels) {
    std::vector<double> map = {1.0, NaN, -2.0, 0.5};
    Grid g = makeGrid(2, 2, map);
    g.at(0, 0).increment = 2;
    g.at(0, 1).increment = -1;
    g.at(1, 1).increment = 1;
    struct Case { int32_t refColumn, refRow, shift; };
    const Case cases[] = {{3, 3, 0}, {0, 0, 2}, {1, 1, 1}, {0, 1, 0}};  // (1,0) is missing
    for (const Case &c : cases) {
        std::vector<double> out(4, 0.0);
        writeUnwrapped(g.pixels.data(), out.data(), c.refColumn, c.refRow, 2, 2);
        CHECK(std::isnan(out[1]));
        CHECK(sameBits(out[0], double(2 - c.shift) * kTwoPi + 1.0));
        CHECK(sameBits(out[2], double(-1 - c.shift) * kTwoPi - 2.0));
        CHECK(sameBits(out[3], double(1 - c.shift) * kTwoPi + 0.5));
    }
}

TEST(volume_stages_follow_their_definitions) {
    // Reliabilities and edges of volumes against a voxel-by-voxel reading of the
    // method: the 26 neighbours and the 13 directions in their order; edges to the
    // next row, then the next column, then the next slice, by ascending first voxel;
    // on periodic sides the neighbours across the borders, and the edges that close
    // the rows, then the columns, then the slices, after all others. A one-slice
    // volume gives a map's edges.
    struct Case { int32_t rows, columns, slices; };
    const Case cases[] = {{3, 3, 3}, {6, 5, 4}, {1, 4, 5}, {4, 1, 5}, {5, 6, 1}, {7, 7, 2}, {9, 8, 7}};
    const int d[13][3] = {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}, {1, 1, 0}, {1, -1, 0}, {0, 1, 1}, {0, 1, -1},
                          {1, 0, 1}, {1, 0, -1}, {1, 1, 1}, {1, 1, -1}, {1, -1, 1}, {1, -1, -1}};
    uint32_t state = 3;
    for (const Case &c : cases)
    for (int pattern : {0, 1, 2, 4, 5, 7}) {
        const int32_t M = c.rows, N = c.columns, P = c.slices;
        const bool periodic[3] = {(pattern & 1) != 0, (pattern & 2) != 0, (pattern & 4) != 0};
        if ((periodic[0] && M < 3) || (periodic[1] && N < 3) || (periodic[2] && P < 3)) continue;
        const GridShape shape = {M, N, P};
        auto at = [&](int r, int col, int s) {
            r = (r + M) % M, col = (col + N) % N, s = (s + P) % P;
            return static_cast<size_t>(r + col * M + s * M * N);
        };
        std::vector<double> w(static_cast<size_t>(M) * N * P);
        for (double &v : w) {
            state = state * 1664525u + 1013904223u;
            uint32_t pick = state >> 24;
            v = pick < 12 ? NaN : pick < 14 ? Inf : -3.1 + 6.2 * static_cast<double>(state & 0xFFFF) / 65536.0;
        }
        std::vector<double> reliability(w.size());
        initPixels(reliability.data(), N * P, M);
        computeReliability(w.data(), reliability.data(), shape);
        computeBorderReliability(w.data(), reliability.data(), shape, periodic);
        std::vector<double> expected(w.size());
        auto interior = [](int k, int n, bool wraps) { return n >= 3 && (wraps || (k > 0 && k < n - 1)); };
        for (int s = 0; s < P; ++s)
            for (int col = 0; col < N; ++col)
                for (int r = 0; r < M; ++r) {
                    double value = static_cast<double>(kInitialReliability + pixelRandom(col + s * N, r));
                    bool inside = interior(r, M, periodic[0]) && interior(col, N, periodic[1]) &&
                                  interior(s, P, periodic[2]);
                    for (int dr = -1; inside && dr <= 1; ++dr)
                        for (int dc = -1; inside && dc <= 1; ++dc)
                            for (int ds = -1; inside && ds <= 1; ++ds)
                                inside = usableSample(w[at(r + dr, col + dc, s + ds)]);
                    if (inside) {
                        double x = w[at(r, col, s)], sum = 0;
                        for (int k = 0; k < 13; ++k) {
                            double a = w[at(r - d[k][0], col - d[k][1], s - d[k][2])];
                            double b = w[at(r + d[k][0], col + d[k][1], s + d[k][2])];
                            double D = wrapPhase(a - x) - wrapPhase(x - b);
                            sum = k == 0 ? D * D : sum + D * D;
                        }
                        value = sum;
                    }
                    expected[at(r, col, s)] = value;
                }
        bool sameReliability = true;
        for (size_t i = 0; i < w.size(); ++i) sameReliability = sameReliability && sameBits(reliability[i], expected[i]);
        CHECK(sameReliability);

        std::vector<int32_t> offsets(volumeOffsetCount(shape));
        const int32_t ordinary = countEdges(w.data(), offsets.data(), shape);
        const int32_t wrapping = countWrapEdges(w.data(), QualityMap(), shape, periodic);
        std::vector<CompactEdge> edges(static_cast<size_t>(ordinary + wrapping));
        fillEdges(w.data(), reliability.data(), edges.data(), offsets.data(), shape);
        fillWrapEdges(w.data(), QualityMap(), reliability.data(), edges.data() + ordinary, shape, periodic);
        std::vector<CompactEdge> listed;
        const int step[3] = {1, M, M * N};
        auto list = [&](int32_t a, int32_t b, int kind) {
            if (usableSample(w[static_cast<size_t>(a)]) && usableSample(w[static_cast<size_t>(b)]))
                listed.push_back(CompactEdge{reliability[static_cast<size_t>(a)] + reliability[static_cast<size_t>(b)], a,
                                             static_cast<int8_t>(kind),
                                             static_cast<int8_t>(wrapStep(w[static_cast<size_t>(a)] - w[static_cast<size_t>(b)]))});
        };
        for (int kind = kNextRow; kind <= kNextSlice; ++kind)
            for (int s = 0; s < P; ++s)
                for (int col = 0; col < N; ++col)
                    for (int r = 0; r < M; ++r) {
                        bool has = kind == kNextRow ? r < M - 1 : kind == kNextColumn ? col < N - 1 : s < P - 1;
                        int32_t a = static_cast<int32_t>(at(r, col, s));
                        if (has) list(a, a + step[kind], kind);
                    }
        for (int side = 0; side < 3; ++side) {
            if (!periodic[side]) continue;
            for (int s = 0; s < P; ++s)
                for (int col = 0; col < N; ++col)
                    for (int r = 0; r < M; ++r) {
                        const int position[3] = {r, col, s}, sides[3] = {M, N, P};
                        if (position[side] != sides[side] - 1) continue;
                        int32_t a = static_cast<int32_t>(at(r, col, s));
                        list(a, a - (sides[side] - 1) * step[side], kWrapRow + side);
                    }
        }
        int32_t steps[kNeighbourKinds];
        neighbourSteps(shape, steps);
        bool sameEdges = edges.size() == listed.size() && offsets.back() == ordinary;
        for (size_t k = 0; sameEdges && k < edges.size(); ++k)
            sameEdges = sameBits(edges[k].reliability, listed[k].reliability) && edges[k].first == listed[k].first &&
                        edges[k].neighbour == listed[k].neighbour && edges[k].increment == listed[k].increment &&
                        edges[k].first + steps[edges[k].neighbour] == listed[k].first + steps[listed[k].neighbour];
        CHECK(sameEdges);
        if (P == 1) {
            std::vector<int32_t> mapOffsets(2 * static_cast<size_t>(N));
            std::vector<CompactEdge> mapEdges(static_cast<size_t>(countEdges(w.data(), mapOffsets.data(), N, M)));
            fillEdges(w.data(), reliability.data(), mapEdges.data(), mapOffsets.data(), N, M);
            bool sameAsMap = mapEdges.size() == static_cast<size_t>(ordinary);
            for (size_t k = 0; sameAsMap && k < mapEdges.size(); ++k)
                sameAsMap = edges[k].first == mapEdges[k].first && edges[k].neighbour == mapEdges[k].neighbour;
            CHECK(sameAsMap);
        }
    }
}

TEST(tiled_positions_pass_2_to_the_31_on_a_map_too_large_to_hold) {
    // A 50000 x 50000 map (2.5e9 pixels) in tiles of 1000 x 700: whole-map indices,
    // edge ranks and the pixels they name, computed here from rows and columns in 64
    // bits, at pixels around 2^31 and at the map's last tiles and borders.
    const int32_t rows = 50000, columns = 50000;
    const bool periodic[2] = {true, true};
    const TileGrid grid = makeTileGrid(rows, columns, 1000, 700, periodic);
    CHECK_EQ(tileCount(grid), int64_t(50) * 72);
    const int64_t past = int64_t(1) << 31;
    const int64_t pixels[] = {past - 1, past, past + 1, past + rows - 1, int64_t(rows) * columns - 1,
                              int64_t(rows) * (columns - 1), int64_t(rows) * columns - rows / 2, past + past / 8 + 12345};
    for (int64_t pixel : pixels) {
        const int32_t row = static_cast<int32_t>(pixel % rows), column = static_cast<int32_t>(pixel / rows);
        const int64_t tile = tileOfPixel(grid, row, column);
        const TileBox box = tileBox(grid, tile);
        CHECK(row >= box.row0 && row < box.row0 + box.rows && column >= box.column0 &&
              column < box.column0 + box.columns);
        const int32_t local = (row - box.row0) + (column - box.column0) * box.rows;
        CHECK_EQ(globalIndex(grid, box, local), pixel);
        // Each kind of edge from here where the pixel can be its first pixel.
        const struct {
            NeighbourKind kind;
            bool applies;
            int32_t secondRow, secondColumn;
        } edges[] = {{kNextRow, row + 1 < rows, row + 1, column},
                     {kNextColumn, column + 1 < columns, row, column + 1},
                     {kWrapRow, row == rows - 1, 0, column},
                     {kWrapColumn, column == columns - 1, row, 0}};
        for (const auto &e : edges) {
            if (!e.applies) continue;
            const uint64_t rank = edgeRank(e.kind, pixel);
            CHECK_EQ(rankKind(rank), e.kind);
            CHECK_EQ(rankFirst(rank), pixel);
            CHECK_EQ(secondPixel(grid, rank), int64_t(e.secondRow) + int64_t(e.secondColumn) * rows);
        }
    }
    // The last tile ends at the map's last pixel.
    const TileBox last = tileBox(grid, tileCount(grid) - 1);
    CHECK_EQ(globalIndex(grid, last, last.rows * last.columns - 1), int64_t(rows) * columns - 1);
    CHECK_EQ(last.columns, 50000 - 71 * 700);
}
