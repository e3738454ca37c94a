// complex_api.h: reading double and single data the same way under either of MATLAB's complex
// APIs: the separate one (mex -R2017b, the default: mxGetPr and mxGetPi) and the
// interleaved one (mex -R2018a, MX_HAS_INTERLEAVED_COMPLEX: (re, im) pairs from
// mxGetComplexDoubles, no mxGetPi, and mxGetPr ends the call on a complex array).
// The extensions read inputs whose real parts alone count through these. Host
// functions: on the host's thread only.
#ifndef PHASEKIT_COMPLEX_API_H
#define PHASEKIT_COMPLEX_API_H

#include "mex.h"

#include <stddef.h>

// The classes whose samples the extensions read in their own class (a map, a volume,
// a kernel): single and double, full.
inline bool isFullSingleOrDouble(const mxArray *a) { return (mxIsDouble(a) || mxIsSingle(a)) && !mxIsSparse(a); }

#if MX_HAS_INTERLEAVED_COMPLEX
// The (re, im) pairs of a complex single argument. Octave (9.4 at least) ends the call
// in mxGetComplexSingles on an argument (it checks it for double), while its
// mxGetSingles gives an argument's pairs; MATLAB's mxGetSingles gives null for a
// complex array, and its mxGetComplexSingles the pairs. Asked in this order, each host
// answers with the pairs.
inline const mxComplexSingle *complexSingles(const mxArray *a) {
    const void *pairs = mxGetSingles(a);
    return pairs ? static_cast<const mxComplexSingle *>(pairs) : mxGetComplexSingles(a);
}

// The real parts of an array's n (re, im) pairs, copied into one array (the real parts
// of pairs are not one), which the host reclaims when the call ends.
template <typename Sample, typename Pair>
inline const Sample *realPartsOfPairs(const Pair *pairs, size_t n) {
    Sample *copy = static_cast<Sample *>(mxMalloc(n * sizeof(Sample)));
    for (size_t k = 0; k < n; ++k) copy[k] = pairs[k].real;
    return copy;
}
#endif

// The real parts of a double array as one array: the array's own data, or under the
// interleaved API, for a complex array, a copy.
inline const double *realParts(const mxArray *a) {
#if MX_HAS_INTERLEAVED_COMPLEX
    if (mxIsComplex(a)) return realPartsOfPairs<double>(mxGetComplexDoubles(a), mxGetNumberOfElements(a));
    return mxGetDoubles(a);
#else
    return mxGetPr(a);
#endif
}

// The real parts of a single array, as realParts gives those of a double one (a copy,
// in single, of a complex array's under the interleaved API).
inline const float *realSingles(const mxArray *a) {
#if MX_HAS_INTERLEAVED_COMPLEX
    if (mxIsComplex(a)) return realPartsOfPairs<float>(complexSingles(a), mxGetNumberOfElements(a));
    return mxGetSingles(a);
#else
    return static_cast<const float *>(mxGetData(a));
#endif
}

// The real part of a double array's first element (it must have one).
inline double firstRealPart(const mxArray *a) {
#if MX_HAS_INTERLEAVED_COMPLEX
    return mxIsComplex(a) ? mxGetComplexDoubles(a)[0].real : mxGetDoubles(a)[0];
#else
    return mxGetPr(a)[0];
#endif
}

#endif // PHASEKIT_COMPLEX_API_H
