// unwrap.h: records and stage functions of the phasemend unwrapper (reliability-sorted
// unwrapping along a non-continuous path, Herraez et al., Applied Optics 41(35), 2002).
// Every grid is column-major: pixel (row r, column c) sits at r + c*M. Sizes are
// signed 32-bit; the entry rejects grids whose pixel or edge count would not fit.
#ifndef PHASEKIT_UNWRAP_H
#define PHASEKIT_UNWRAP_H

#include "../portable/interruption.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

const double kPi = 3.141592653589793;
const double kTwoPi = 6.283185307179586;
// Pixels without a computed reliability start at this base plus a draw in 0..32767, so
// their edges sort after every edge of two computed pixels (those stay below 32*pi^2).
const int32_t kInitialReliability = 9999999;

// The command works on compact records: no per-pixel record at all (values and
// validity are read from the input samples, reliabilities live in one array of
// doubles while the edges are built, group links in one array of GroupLink), and
// edges of 16 bytes that name their first pixel by index and their second by which
// neighbour it is. The plain forms below them, on the 56-byte PhasePixel and the
// 32-byte PixelEdge with pointers, are the literal method; the tests hold the
// command to their results bit for bit. Stages of both forms share their names.

// A sample takes part only when it is finite: NaN marks a missing pixel, and an
// infinite one would turn reliabilities into NaN, which no ordering can sort. (x - x
// is exactly 0 for every finite x and NaN for NaN and both infinities.)
inline bool usableSample(double sample) { return sample - sample == 0.0; }

// The command reads its input in the class the host holds it in: double, or single
// (float), each sample widened to double as it is read, so that a single map unwraps
// exactly as the same map in double would (every float is a double), and no double
// copy of it is ever made. Stages that read samples have a form for each.

// Which neighbour of an edge's first pixel its second pixel is: one step along a side,
// or, across the border of a side that wraps around, from the last row, column or
// slice back to the first.
enum NeighbourKind {
    kNextRow = 0,
    kNextColumn = 1,
    kNextSlice = 2,
    kWrapRow = 3,
    kWrapColumn = 4,
    kWrapSlice = 5,
    kNeighbourKinds = 6
};

// A pair of valid neighbours: the command's edge record.
struct CompactEdge {
    double reliability;   // sum of the two pixels' reliabilities: the sort key
    int32_t first;        // linear index of the first pixel (smaller row, column or slice)
    int8_t neighbour;     // the second pixel: a NeighbourKind, one step along that side
    int8_t increment;     // -1, 0, +1: pixels agree when first's steps == second's + this
};

// A grid of rows x columns x slices pixels, column-major, slice after slice (a map
// has one slice). The index of pixel (r, c, s) is r + c*rows + s*rows*columns.
struct GridShape {
    int32_t rows;
    int32_t columns;
    int32_t slices;
};

// The index step to the neighbour of each NeighbourKind.
inline void neighbourSteps(GridShape shape, int32_t steps[kNeighbourKinds]) {
    steps[kNextRow] = 1;
    steps[kNextColumn] = shape.rows;
    steps[kNextSlice] = shape.rows * shape.columns;
    steps[kWrapRow] = -(shape.rows - 1);
    steps[kWrapColumn] = -(shape.columns - 1) * shape.rows;
    steps[kWrapSlice] = -(shape.slices - 1) * shape.rows * shape.columns;
}

// What a caller may know about its data and ask back, beyond the samples. quality:
// none, or one value a pixel (single or double), larger meaning more trustworthy: each valid pixel's
// reliability is then minus its quality (no second differences, no initial values),
// and a pixel whose quality is not finite is missing. periodic: the sides (rows,
// columns, slices) whose last sample neighbours their first; each has three samples
// or more. regions: null, or one double a pixel for the number of its connected
// region (0 where missing). reliability: null, or one sample a pixel, of the input's
// class, for the reliability the pixel entered the ordering with (Inf where it kept
// the initial value, NaN where missing).
// A quality map in the class its caller holds it in, read as doubles: one of the two
// pointers is set, or neither (no map).
struct QualityMap {
    const double *doubles;
    const float *singles;
};
inline bool hasQuality(QualityMap quality) { return quality.doubles != nullptr || quality.singles != nullptr; }

struct UnwrapOptions {
    QualityMap quality;
    bool periodic[3];
    double *regions;
    void *reliability;
    int32_t tileSize[2];         // a map's tiles: rows, columns (0: the whole map at once)
    bool progress;               // a tiled call reports about every 5% of its work
    Interruption *interruption;  // null: the call runs to its end
};

// Whether a pixel takes part: its sample is usable, and so is its quality if there
// is one. The stages that test pixels take either form as a template argument.
template <typename Sample>
struct SampleValidity {
    const Sample *wrapped;
    bool operator()(int64_t i) const { return usableSample(wrapped[i]); }
};
template <typename Sample, typename Quality>
struct QualityValidity {
    const Sample *wrapped;
    const Quality *quality;
    bool operator()(int64_t i) const { return usableSample(wrapped[i]) && usableSample(quality[i]); }
};
// Runs stage(valid) with the validity test that fits: the samples alone, or the samples
// and a quality map of either class. Each stage is thus instantiated once per form, so
// its loops test validity without a branch on whether there is a map.
template <typename Sample, typename Stage>
auto withValidity(const Sample *wrapped, QualityMap quality, const Stage &stage)
    -> decltype(stage(SampleValidity<Sample>())) {
    if (quality.doubles != nullptr) return stage(QualityValidity<Sample, double>{wrapped, quality.doubles});
    if (quality.singles != nullptr) return stage(QualityValidity<Sample, float>{wrapped, quality.singles});
    return stage(SampleValidity<Sample>{wrapped});
}

// One grid pixel; also a member of a group, which is a singly linked chain.
struct PhasePixel {
    int32_t increment;      // 2*pi steps added to value in the result (before the reference shift)
    int32_t groupSize;      // members of the group; kept up to date on the head only
    double value;           // wrapped input sample; 0 for a missing one
    double reliability;     // second-difference measure, smaller is more reliable
    PhasePixel *head;       // head of the pixel's group
    PhasePixel *last;       // last member of the group's chain; kept on the head only
    PhasePixel *next;       // next member of the chain, null at its end
    uint8_t valid;          // 1 when the input sample is usable, 0 when missing
};

// A pair of valid neighbours in one column or one row.
struct PixelEdge {
    double reliability;     // sum of the two pixels' reliabilities: the sort key
    PhasePixel *first;      // smaller row (column edge) or smaller column (row edge)
    PhasePixel *second;     // the other pixel
    int32_t increment;      // -1, 0, +1: pixels agree when first.increment == second.increment + this
};

// Pixel reliability stage. wrapPhase folds a difference of two phases once into
// -pi..pi (exactly +-pi stays); inline, as every reliability calls it many times.
inline double wrapPhase(double x) {
    if (x > kPi) return x - kTwoPi;
    if (x < -kPi) return x + kTwoPi;
    return x;
}
// The second-difference reliability of a pixel of value v from its eight neighbours,
// each difference folded once, the squares summed axial pair first: every form of
// the reliability stage (maps, periodic borders, tiles) gives these bits.
inline double secondDifferenceSum(double v, double up, double down, double left, double right, double upLeft,
                                  double downRight, double downLeft, double upRight) {
    const double dCol = wrapPhase(up - v) - wrapPhase(v - down);
    const double dRow = wrapPhase(left - v) - wrapPhase(v - right);
    const double dMain = wrapPhase(upLeft - v) - wrapPhase(v - downRight);
    const double dAnti = wrapPhase(downLeft - v) - wrapPhase(v - upRight);
    return ((dRow * dRow + dCol * dCol) + dMain * dMain) + dAnti * dAnti;
}
// The neighbours of index k on a side of n samples: one back and one on, across the
// border where the side wraps around; -1 where there is none.
inline int32_t sideBefore(int32_t k, int32_t n, bool wraps) { return k > 0 ? k - 1 : wraps ? n - 1 : -1; }
inline int32_t sideAfter(int32_t k, int32_t n, bool wraps) { return k < n - 1 ? k + 1 : wraps ? 0 : -1; }
// The draw in 0..32767 that pixel (row, column) adds to its initial reliability. It
// depends only on the position, so results do not change with the thread count.
int32_t pixelRandom(int32_t column, int32_t row);
// Compact: every pixel's initial reliability, then the computed ones of the pixels
// whose eight neighbours are all valid (read from the input samples).
// The stages' long loops stop early when the interruption (if any) is set.
void initPixels(double *reliability, int32_t columns, int32_t rows, Interruption *interruption = nullptr);
void computeReliability(const double *wrapped, double *reliability, int32_t columns, int32_t rows,
                        Interruption *interruption = nullptr);
void computeReliability(const float *wrapped, double *reliability, int32_t columns, int32_t rows,
                        Interruption *interruption = nullptr);
// On a side that wraps around, the pixels on its borders have their neighbours across
// it: those whose eight neighbours, so taken, are all valid get a computed reliability
// too (computeReliability has done all others). periodic: rows, columns.
void computeBorderReliability(const double *wrapped, double *reliability, int32_t columns, int32_t rows,
                              const bool periodic[2]);
void computeBorderReliability(const float *wrapped, double *reliability, int32_t columns, int32_t rows,
                              const bool periodic[2]);
// With a quality map: every pixel's reliability is minus its quality.
void qualityReliability(QualityMap quality, double *reliability, size_t count,
                        Interruption *interruption = nullptr);
// A single call's reliabilities, rounded once into its reliability output, before
// their double array goes (the result stage then marks missing and initial ones).
void roundReliability(const double *reliability, float *report, size_t count,
                      Interruption *interruption = nullptr);
// Plain.
void initPixels(const double *wrapped, PhasePixel *pixels, int32_t columns, int32_t rows);
void computeReliability(PhasePixel *pixels, int32_t columns, int32_t rows);

// Volumes (rows x columns x slices, the linear index of a voxel as in GridShape): the
// reliability over the 26 neighbours and the 13 directions of each 3x3x3 block, and
// edges to the next row, the next column and the next slice.
void computeReliability(const double *wrapped, double *reliability, GridShape shape,
                        Interruption *interruption = nullptr);
void computeReliability(const float *wrapped, double *reliability, GridShape shape,
                        Interruption *interruption = nullptr);
// The voxels on the faces of sides that wrap around, as computeBorderReliability does
// for maps. periodic: rows, columns, slices.
void computeBorderReliability(const double *wrapped, double *reliability, GridShape shape,
                              const bool periodic[3]);
void computeBorderReliability(const float *wrapped, double *reliability, GridShape shape,
                              const bool periodic[3]);
// The entries edgeOffsets needs for a volume: three per column of every slice, and one.
// A quality map (if any) takes part in which voxels are valid, here and below.
size_t volumeOffsetCount(GridShape shape);
int32_t countEdges(const double *wrapped, int32_t *edgeOffsets, GridShape shape, QualityMap quality = QualityMap(),
                   Interruption *interruption = nullptr);
int32_t countEdges(const float *wrapped, int32_t *edgeOffsets, GridShape shape, QualityMap quality = QualityMap(),
                   Interruption *interruption = nullptr);
void fillEdges(const double *wrapped, const double *reliability, CompactEdge *edges,
               const int32_t *edgeOffsets, GridShape shape, QualityMap quality = QualityMap(),
               Interruption *interruption = nullptr);
void fillEdges(const float *wrapped, const double *reliability, CompactEdge *edges,
               const int32_t *edgeOffsets, GridShape shape, QualityMap quality = QualityMap(),
               Interruption *interruption = nullptr);

// Edge list stage. Column edges column by column (by row), then row edges by column
// pair (by row); edgeOffsets holds 2N entries.
// The wrap step of an edge: -1 when the phase drops by more than pi from its first
// pixel to its second, +1 when it rises by more, else 0 (exactly +-pi gives 0).
inline int32_t wrapStep(double difference) {
    if (difference > kPi) return -1;
    if (difference < -kPi) return 1;
    return 0;
}
int32_t countEdges(const double *wrapped, int32_t *edgeOffsets, int32_t columns, int32_t rows,
                   QualityMap quality = QualityMap(), Interruption *interruption = nullptr);
int32_t countEdges(const float *wrapped, int32_t *edgeOffsets, int32_t columns, int32_t rows,
                   QualityMap quality = QualityMap(), Interruption *interruption = nullptr);
void fillEdges(const double *wrapped, const double *reliability, CompactEdge *edges,
               const int32_t *edgeOffsets, int32_t columns, int32_t rows, QualityMap quality = QualityMap(),
               Interruption *interruption = nullptr);
void fillEdges(const float *wrapped, const double *reliability, CompactEdge *edges,
               const int32_t *edgeOffsets, int32_t columns, int32_t rows, QualityMap quality = QualityMap(),
               Interruption *interruption = nullptr);
// The edges across the borders of the sides that wrap around (periodic: rows, columns,
// slices), for maps and volumes alike. They follow all others: those that close the
// rows, then the columns, then the slices, each kind by ascending first pixel, which
// is the one on the last row, column or slice; its second is the one on the first.
int32_t countWrapEdges(const double *wrapped, QualityMap quality, GridShape shape, const bool periodic[3]);
int32_t countWrapEdges(const float *wrapped, QualityMap quality, GridShape shape, const bool periodic[3]);
void fillWrapEdges(const double *wrapped, QualityMap quality, const double *reliability, CompactEdge *edges,
                   GridShape shape, const bool periodic[3]);
void fillWrapEdges(const float *wrapped, QualityMap quality, const double *reliability, CompactEdge *edges,
                   GridShape shape, const bool periodic[3]);
// For both grids' edge stages. runningSum turns entries 1.. of per-part edge counts
// (entry 0 is 0) into where each part starts; the last entry is the total. Positions
// may pass 32 bits (a single row of 2^30 pixels has 2^31 entries) while the values,
// edge counts the entry checked, stay below 2^31.
inline int32_t runningSum(int32_t *edgeOffsets, int64_t entries) {
    for (int64_t k = 1; k < entries; ++k) edgeOffsets[k] += edgeOffsets[k - 1];
    return edgeOffsets[entries - 1];
}
// The edge from pixel a to its neighbour b of the given kind. The difference is
// taken in double whatever the samples' class.
template <typename Sample>
inline void writeEdge(CompactEdge *edge, const Sample *wrapped, const double *reliability, int32_t a,
                      int32_t b, NeighbourKind kind) {
    edge->reliability = reliability[a] + reliability[b];
    edge->first = a;
    edge->neighbour = static_cast<int8_t>(kind);
    edge->increment = static_cast<int8_t>(
        wrapStep(static_cast<double>(wrapped[a]) - static_cast<double>(wrapped[b])));
}
// Plain.
int32_t countEdges(const PhasePixel *pixels, int32_t *edgeOffsets, int32_t columns, int32_t rows);
void fillEdges(PhasePixel *pixels, PixelEdge *edges, const int32_t *edgeOffsets, int32_t columns,
               int32_t rows);

// Edge ordering stage: one quicksort for both records. It compares keys only and
// moves whole records, so both give the same permutation of the same keys. Ranges
// are given by their first and last record, inclusive.
bool choosePivot(const PixelEdge *lo, const PixelEdge *hi, double *pivot);
// Plain: the two scans that swap records until they cross.
PixelEdge *partitionEdges(PixelEdge *lo, PixelEdge *hi, double pivot);
// The command's: the same array and split point, without branches on the keys.
CompactEdge *partitionEdges(CompactEdge *lo, CompactEdge *hi, double pivot);
// Plain: on the calling thread alone.
void sortEdgesSequential(PixelEdge *lo, PixelEdge *hi);
// The command's: the same permutation, with large parts sorted by OpenMP tasks.
void sortEdges(CompactEdge *lo, CompactEdge *hi);

// The ordering in two steps, so that merging can follow it closely: splitEdges
// partitions as the quicksort does until every range left unsorted is shorter than
// leafSize, and lists those ranges in edge order (at most capacity of them: further
// ones are sorted on the spot); sortEdgeRange then finishes one, on any thread. With
// every listed range finished, the array is sortEdges' record for record.
struct EdgeRange {
    int32_t first, last;  // edge indices, inclusive
};
int32_t splitEdges(CompactEdge *edges, int32_t edgeCount, int32_t leafSize, EdgeRange *leaves,
                   int32_t capacity, Interruption *interruption = nullptr);
// The command's leaves: long enough that sorting one costs far more than handing it
// out, short enough to sit in a core's cache and for the merge to start early and end
// soon after the last one; and room for more of them than a split usually leaves.
const int32_t kLeafSize = 1 << 15;
inline int32_t leafCapacity(int32_t edgeCount) { return edgeCount / kLeafSize * 4 + 16; }
void sortEdgeRange(CompactEdge *edges, EdgeRange range);

// A pixel's place in the group forest that the merge builds: a group is a tree whose
// root is the group's head, and each member stores its step count relative to its
// parent, so joining two groups relinks one root instead of walking the absorbed
// members. The plain form's chains give the same heads, sizes and step counts.
struct GroupLink {
    int32_t parent;   // index of the parent pixel; on a head, minus the group's size
    int32_t offset;   // increment minus the parent's increment; 0 on a head
};

// Group merging stage: joins the groups of the sorted edges' pixels. links: one entry
// per pixel of the grid, written here before it is read. (The plain form, the chain
// walk on PhasePixel records, is kept with the tests.)
void mergeGroups(GroupLink *links, const CompactEdge *edges, int32_t edgeCount, GridShape shape);
// The same stage in parts. initGroupLinks makes every pixel a group of one.
// sortLeavesAndMerge runs the end of the ordering and the merge together, for edges
// split by splitEdges into leaves (leafCount of them; sortedFlags: room for as many
// flags, set here): every thread finishes leaves, lowest first, and one thread at a
// time merges the edges, in order, as far as they are in their final place. Links and
// edges end as sortEdges and mergeGroups leave them.
void initGroupLinks(GroupLink *links, GridShape shape, Interruption *interruption = nullptr);
void sortLeavesAndMerge(GroupLink *links, CompactEdge *edges, int32_t edgeCount, const EdgeRange *leaves,
                        int32_t leafCount, std::atomic<int32_t> *sortedFlags, GridShape shape,
                        Interruption *interruption = nullptr);
// A pixel's step count: the sum of the offsets on its path to its head.
inline int32_t groupSteps(const GroupLink *links, int32_t pixel) {
    int32_t sum = 0;
    for (; links[pixel].parent >= 0; pixel = links[pixel].parent) sum += links[pixel].offset;
    return sum;
}

// Result stage. Compact: every valid pixel's result is its sample plus 2*pi times its
// step count less the reference pixel's (referenceIndex < 0: none); missing ones NaN.
// A single map's result is single: the double result rounded once.
// A quality map (if any) takes part in which pixels are valid. regionHeads: null,
// or one double a pixel for the index of its group's head plus one (0 where missing),
// which numberRegions then turns into region numbers. reliability: null, or the
// reliability output holding the values the pixels entered the ordering with, made
// into what the caller sees: NaN where missing, Inf where a pixel kept its initial
// value (there are none with a quality map).
void writeUnwrapped(const GroupLink *links, const double *wrapped, double *out,
                    int64_t referenceIndex, GridShape shape, QualityMap quality = QualityMap(),
                    double *regionHeads = nullptr, double *reliability = nullptr,
                    Interruption *interruption = nullptr);
void writeUnwrapped(const GroupLink *links, const float *wrapped, float *out,
                    int64_t referenceIndex, GridShape shape, QualityMap quality = QualityMap(),
                    double *regionHeads = nullptr, float *reliability = nullptr,
                    Interruption *interruption = nullptr);
// Connected regions: numbers the groups 1, 2, ... in the order of each one's first
// pixel in memory order, in place of the heads writeUnwrapped noted. The links are
// spent: the heads' offsets hold the numbers afterwards.
void numberRegions(GroupLink *links, double *regions, size_t count, Interruption *interruption = nullptr);
// Plain.
void writeUnwrapped(const PhasePixel *pixels, double *out, int32_t refColumn, int32_t refRow,
                    int32_t columns, int32_t rows);

// The whole unwrapping, stage after stage, into out (one sample a pixel, of the
// input's class): a map of rows x columns, or a volume. referenceIndex < 0: no
// reference.
// The options' arrays have one element a pixel; their defaults (all null, no side
// periodic) unwrap as the method does. False when the options' interruption stopped
// the call: everything it held is freed, out holds nothing usable.
bool unwrapMap(const double *wrapped, double *out, int64_t referenceIndex, int32_t columns,
               int32_t rows, const UnwrapOptions &options = UnwrapOptions());
bool unwrapMap(const float *wrapped, float *out, int64_t referenceIndex, int32_t columns, int32_t rows,
               const UnwrapOptions &options = UnwrapOptions());
bool unwrapVolume(const double *wrapped, double *out, int64_t referenceIndex, GridShape shape,
                  const UnwrapOptions &options = UnwrapOptions());
bool unwrapVolume(const float *wrapped, float *out, int64_t referenceIndex, GridShape shape,
                  const UnwrapOptions &options = UnwrapOptions());

#endif // PHASEKIT_UNWRAP_H
