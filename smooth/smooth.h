// smooth.h: the kernel filter of kernsmooth_c. Each output sample is the kernel-weighted
// mean of the valid samples (neither part NaN, inside the map) of the window centred on
// it, renormalised by the weight actually used; a missing centre, or a window whose used
// weights do not sum to more than zero, gives NaN in both parts.
#ifndef PHASEKIT_SMOOTH_H
#define PHASEKIT_SMOOTH_H

#include <cstdint>

// The filter's inputs. Sizes are signed 32-bit; the entry refuses larger maps.
struct SmoothingInput {
    const double *re;        // real parts, rows x columns, column-major
    const double *im;        // imaginary parts, or null for a real map (read as zeros)
    int32_t rows;            // M
    int32_t columns;         // N
    const double *kernel;    // kernelRows x kernelColumns weights, column-major
    int32_t kernelRows;      // Mk >= 1
    int32_t kernelColumns;   // Nk >= 1
};

// Fills outRe and outIm (rows x columns each). One parallel region, statically
// scheduled over columns. Within a window, columns of the window are the outer loop
// and rows the inner one, both ascending; results are exactly those of that order.
void filterMap(const SmoothingInput &input, double *outRe, double *outIm);

// The ways the interior rows can be computed; every one gives the same bits.
// filterMap takes the best the processor has; tests and benchmarks name one.
enum FilterPath { filterPathScalar, filterPathSse2, filterPathAvx2, filterPathAvx512 };
const char *filterPathName(FilterPath path);
bool filterPathAvailable(FilterPath path);  // compiled in and supported by this processor
FilterPath bestFilterPath();
// As filterMap, on the given path (the scalar one when it is not available).
void filterMapOnPath(const SmoothingInput &input, FilterPath path, double *outRe, double *outIm);

#endif // PHASEKIT_SMOOTH_H
