// connected_regions.cpp: numbers the connected regions of valid pixels. After the merge
// every group is exactly one such region (an edge left out joins two pixels of one
// group), so a region is a group head; without a reference each comes out with its own
// unknown 2*pi offset, which is why callers want them. Regions are numbered 1, 2, ...
// in the order of each one's first pixel in memory order, so the numbers depend on
// the data alone, not on the order of merging.
#include "unwrap.h"

void numberRegions(GroupLink *links, double *regions, size_t count, Interruption *interruption) {
    // One pass in memory order, on the calling thread: the first pixel met of a region
    // gives it the next number. A head's offset is 0 as long as it is a head, and the
    // links are not read again, so the heads' offsets hold the numbers. Most pixels of
    // a large map lie in a few regions, whose heads stay in cache.
    int32_t regionCount = 0;
    for (size_t i = 0; i < count; ++i) {
        if ((i & ((size_t(1) << 22) - 1)) == 0 && interrupted(interruption)) return;
        if (regions[i] == 0.0) continue;
        GroupLink &head = links[static_cast<size_t>(regions[i]) - 1];
        if (head.offset == 0) head.offset = ++regionCount;
        regions[i] = static_cast<double>(head.offset);
    }
}
