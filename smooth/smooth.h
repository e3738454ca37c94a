// smooth.h: the kernel filter of kernsmooth_c. Each output sample is the kernel-weighted
// mean of the valid samples (neither part NaN, inside the map) of the window centred on
// it, renormalised by the weight actually used; a missing centre, or a window whose used
// weights do not sum to more than zero, gives NaN in both parts.
#ifndef PHASEKIT_SMOOTH_H
#define PHASEKIT_SMOOTH_H

#include "../portable/interruption.h"

#include <cstdint>

// How a map's samples lie in memory: real parts only; the real and the imaginary
// parts in two arrays of their own (the separate complex layout); or the two parts of
// each sample side by side, (re, im) pairs (the interleaved layout of MATLAB R2018a
// and later). Every layout gives the same bits.
enum SampleLayout { kRealSamples, kSeparateParts, kPairedParts };

// The class of a map's samples, and of its result and support: each is read and
// written in its own class, while every sum is formed in double, so a single map
// gives, sample for sample, its double result rounded once.
enum SampleClass { kDoubleSamples, kSingleSamples };

// The filter's inputs. Sizes are signed 32-bit; the entry refuses larger maps.
struct SmoothingInput {
    SampleLayout layout;
    const void *re;          // real part of sample 0 (doubles, or floats for single
                             // samples); column-major, rows x columns samples
    const void *im;          // separate parts: the imaginary parts; otherwise unused
    int32_t rows;            // M
    int32_t columns;         // N
    const double *kernel;    // kernelRows x kernelColumns weights, column-major
    int32_t kernelRows;      // Mk >= 1
    int32_t kernelColumns;   // Nk >= 1
    SampleClass samples;     // of re and im (last, so records that leave it out hold doubles)
    Interruption *interruption;  // null: the filter runs to its end; else it may stop early
};

// Where the result goes: two arrays, or (re, im) pairs from re on (im then unused);
// and, when support is not null, the weights each sample's window used (rows x
// columns real samples: S where the centre is valid, whatever S is; NaN where it is
// missing). All of the output's class.
struct SmoothingOutput {
    bool paired;
    void *re;
    void *im;
    void *support;
    SampleClass samples;
};

// Fills the output (rows x columns complex samples). Parallel loops statically
// scheduled over columns (for a single map on the wide paths, with a window of five
// columns or more: its border rows over columns, then its interior over tiles of rows
// and columns), in chunks between which the interruption, if any, is looked at: once
// it is set, the output is left unfinished. Within a window, columns of the window
// are the outer loop and rows the inner one, both ascending; results are exactly
// those of that order. Paired input goes with paired output, separate input with
// separate output; real input with either.
void filterMap(const SmoothingInput &input, const SmoothingOutput &output);

// The ways the interior rows can be computed; every one gives the same bits.
// filterMap takes the best the processor has; tests and benchmarks name one.
enum FilterPath { filterPathScalar, filterPathSse2, filterPathAvx2, filterPathAvx512 };
const char *filterPathName(FilterPath path);
bool filterPathAvailable(FilterPath path);  // compiled in and supported by this processor
FilterPath bestFilterPath();
// As filterMap, on the given path (the scalar one when it is not available).
void filterMapOnPath(const SmoothingInput &input, FilterPath path, const SmoothingOutput &output);

// The separable form, kernsmooth_c(map, u, v): the kernel u * v.' without its area's
// cost. rows: u, the weights down each column (rowTaps of them); columns: v, along
// each row. As with a whole kernel, a side of even length uses its first 2 * half + 1
// weights. Its result is the plain separable formula: a column pass of sums over the
// valid in-map samples of each column window (weights, and weighted parts), then a
// row pass of those sums weighted by v over the in-map columns, each in ascending tap
// order from +0.0, in double; the quotients where the centre is valid and the weight
// sum is above zero, NaN elsewhere. The input's kernel fields are not read. Parallel
// over tiles of the map, each with per-thread buffers of partial sums.
struct SeparableKernel {
    const double *rows;     // u
    int32_t rowTaps;        // its length, >= 1
    const double *columns;  // v
    int32_t columnTaps;     // its length, >= 1
};
void filterMapSeparable(const SmoothingInput &input, const SeparableKernel &kernel, const SmoothingOutput &output);
void filterMapSeparableOnPath(const SmoothingInput &input, const SeparableKernel &kernel, FilterPath path,
                              const SmoothingOutput &output);

#endif // PHASEKIT_SMOOTH_H
