// entry_support.h: what the phasemend and phasemend3 entries check alike before they
// allocate anything: the class of the arguments and the 1-based reference position.
#ifndef PHASEKIT_ENTRY_SUPPORT_H
#define PHASEKIT_ENTRY_SUPPORT_H

#include "mex.h"

#include "../portable/complex_api.h"

#include <stdint.h>

inline bool isFullDouble(const mxArray *a) { return mxIsDouble(a) && !mxIsSparse(a); }

// Converts a 1-based coordinate to a 0-based index; false when it is NaN, infinite or
// its truncation does not fit a signed 32-bit integer.
inline bool referenceIndex(double coordinate, int64_t *index) {
    if (!(coordinate > -2147483649.0 && coordinate < 2147483648.0)) return false;
    *index = static_cast<int64_t>(static_cast<int32_t>(coordinate)) - 1;
    return true;
}

enum ReferenceCheck { kReferenceUsable, kReferenceNotDouble, kReferenceTooManySides, kReferenceOutside };

// Reads count reference coordinates (the first element of each argument) into 0-based
// positions, each below its side's length.
inline ReferenceCheck readReference(const mxArray *const *args, int count, const int64_t *sides,
                                    int64_t *positions) {
    for (int k = 0; k < count; ++k) {
        if (!isFullDouble(args[k]) || mxGetNumberOfElements(args[k]) == 0) return kReferenceNotDouble;
        if (mxGetNumberOfDimensions(args[k]) > 2) return kReferenceTooManySides;
    }
    for (int k = 0; k < count; ++k) {
        if (!referenceIndex(firstRealPart(args[k]), &positions[k]) || positions[k] < 0 ||
            positions[k] >= sides[k])
            return kReferenceOutside;
    }
    return kReferenceUsable;
}

// The command's own texts for an unusable reference.
struct ReferenceErrors {
    const char *notDouble;
    const char *tooManySides;
    const char *outside;
};

// readReference, ending the call with the command's text when the reference cannot be
// used; true when positions holds it.
inline bool readReferenceOrEnd(const mxArray *const *args, int count, const int64_t *sides, int64_t *positions,
                               const ReferenceErrors &errors) {
    switch (readReference(args, count, sides, positions)) {
    case kReferenceNotDouble: mexErrMsgTxt(errors.notDouble); return false;
    case kReferenceTooManySides: mexErrMsgTxt(errors.tooManySides); return false;
    case kReferenceOutside: mexErrMsgTxt(errors.outside); return false;
    case kReferenceUsable: break;
    }
    return true;
}

#endif // PHASEKIT_ENTRY_SUPPORT_H
