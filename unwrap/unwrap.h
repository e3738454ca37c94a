// unwrap.h: records and stage functions of the phasemend unwrapper (reliability-sorted
// unwrapping along a non-continuous path, Herraez et al., Applied Optics 41(35), 2002).
// Every grid is column-major: pixel (row r, column c) sits at r + c*M. Sizes are
// signed 32-bit; the entry rejects grids whose pixel or edge count would not fit.
#ifndef PHASEKIT_UNWRAP_H
#define PHASEKIT_UNWRAP_H

#include <cstdint>

const double kPi = 3.141592653589793;
const double kTwoPi = 6.283185307179586;
// Pixels without a computed reliability start at this base plus a draw in 0..32767, so
// their edges sort after every edge of two computed pixels (those stay below 32*pi^2).
const int32_t kInitialReliability = 9999999;

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

// Pixel reliability stage.
void initPixels(const double *wrapped, PhasePixel *pixels, int32_t columns, int32_t rows);
void computeReliability(PhasePixel *pixels, int32_t columns, int32_t rows);
double wrapPhase(double x);
// The draw in 0..32767 that pixel (row, column) adds to its initial reliability. It
// depends only on the position, so results do not change with the thread count.
int32_t pixelRandom(int32_t column, int32_t row);

// Edge list stage.
int32_t countEdges(const PhasePixel *pixels, int32_t *edgeOffsets, int32_t columns, int32_t rows);
void fillEdges(PhasePixel *pixels, PixelEdge *edges, const int32_t *edgeOffsets, int32_t columns,
               int32_t rows);
int32_t wrapStep(double difference);

// Edge ordering stage. Ranges are given by their first and last record, inclusive.
bool choosePivot(const PixelEdge *lo, const PixelEdge *hi, double *pivot);
PixelEdge *partitionEdges(PixelEdge *lo, PixelEdge *hi, double pivot);
// On the calling thread alone.
void sortEdgesSequential(PixelEdge *lo, PixelEdge *hi);
// The same array, record for record, with large parts sorted by OpenMP tasks.
void sortEdges(PixelEdge *lo, PixelEdge *hi);

// A pixel's place in the group forest that the merge builds beside the pixel records:
// a group is a tree whose root is the group's head, and each member stores its step
// count relative to its parent, so joining two groups relinks one root instead of
// walking the absorbed members.
struct GroupLink {
    int32_t parent;   // index of the parent pixel; on a head, minus the group's size
    int32_t offset;   // increment minus the parent's increment; 0 on a head
};

// Group merging stage: joins the groups of the sorted edges' pixels (links: one entry
// per pixel, written here before it is read), then gives every pixel its increment,
// its head and, on heads, the group's size. last and next are not maintained.
void mergeGroups(PhasePixel *pixels, GroupLink *links, const PixelEdge *edges, int32_t edgeCount,
                 int32_t columns, int32_t rows);

// Result stage.
void writeUnwrapped(const PhasePixel *pixels, double *out, int32_t refColumn, int32_t refRow,
                    int32_t columns, int32_t rows);

#endif // PHASEKIT_UNWRAP_H
