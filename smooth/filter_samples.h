// filter_samples.h: what both forms of the kernel filter (a whole kernel, and u and v
// one after the other) share: a map's samples and the results in the host's layout and
// the map's class, read as doubles and written rounded once, and how an output sample
// is finished (its quotients where the weights used sum above zero, NaN elsewhere, and
// its support).
#ifndef PHASEKIT_FILTER_SAMPLES_H
#define PHASEKIT_FILTER_SAMPLES_H

#include "smooth.h"

#include <cmath>
#include <cstdint>

namespace {

// Window of output sample (row j, column c): rows j-hr..j+hr, columns c-hc..c+hc;
// missing is the host's NaN, fetched on the host's thread (workers call no host
// function).
struct Window {
    int32_t halfRows;
    int32_t halfColumns;
    double missing;
};

// The filter's input and output with their samples typed: Sample is double or float.
template <typename Sample>
struct Samples {
    SampleLayout layout;
    const Sample *re, *im;
    int32_t rows, columns;
    const double *kernel;
    int32_t kernelRows, kernelColumns;
};
template <typename Sample>
struct Results {
    bool paired;
    Sample *re, *im;
    Sample *support;  // null when not asked for
};

// The parts of sample n, in any layout, as doubles.
template <typename Sample>
inline double realPart(const Samples<Sample> &in, int64_t n) {
    return in.layout == kPairedParts ? in.re[2 * n] : in.re[n];
}
template <typename Sample>
inline double imagPart(const Samples<Sample> &in, int64_t n) {
    switch (in.layout) {
    case kSeparateParts: return in.im[n];
    case kPairedParts: return in.re[2 * n + 1];
    default: return 0.0;
    }
}

// Each value is rounded once, to the output's class.
template <typename Sample>
inline void writeSample(const Results<Sample> &out, int64_t i, double re, double im) {
    if (out.paired) {
        out.re[2 * i] = static_cast<Sample>(re);
        out.re[2 * i + 1] = static_cast<Sample>(im);
    } else {
        out.re[i] = static_cast<Sample>(re);
        out.im[i] = static_cast<Sample>(im);
    }
}

// A sample whose centre is valid: its quotients, and its weight sum as the support.
template <typename Sample>
inline void finish(const Window &w, double s, double tRe, double tIm, const Results<Sample> &out, int64_t i) {
    if (s > 0)
        writeSample(out, i, tRe / s, tIm / s);
    else
        writeSample(out, i, w.missing, w.missing);  // S <= 0, or NaN from a NaN weight
    if (out.support) out.support[i] = static_cast<Sample>(s);
}

// A sample whose centre is missing: NaN everywhere, its support too.
template <typename Sample>
inline void finishMissing(const Window &w, const Results<Sample> &out, int64_t i) {
    writeSample(out, i, w.missing, w.missing);
    if (out.support) out.support[i] = static_cast<Sample>(w.missing);
}

template <typename Sample>
inline bool centreMissing(const Samples<Sample> &in, int64_t i) {
    return std::isnan(realPart(in, i)) || std::isnan(imagPart(in, i));
}

}  // namespace

#endif // PHASEKIT_FILTER_SAMPLES_H
