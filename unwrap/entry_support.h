// entry_support.h: what the phasemend and phasemend3 entries check alike before they
// allocate anything: the class of the arguments, the 1-based reference position, and
// the Name, Value options.
#ifndef PHASEKIT_ENTRY_SUPPORT_H
#define PHASEKIT_ENTRY_SUPPORT_H

#include "mex.h"

#include "../portable/complex_api.h"
#include "../portable/messages.h"

#include "unwrap.h"

#include <float.h>
#include <stdint.h>
#include <stdio.h>

#include <cmath>

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
    const char *command;
    const char *notDouble;
    const char *tooManySides;
    const char *outside;
};

// readReference, ending the call with the command's text when the reference cannot be
// used; true when positions holds it.
inline bool readReferenceOrEnd(const mxArray *const *args, int count, const int64_t *sides, int64_t *positions,
                               const ReferenceErrors &errors) {
    switch (readReference(args, count, sides, positions)) {
    case kReferenceNotDouble:
        failWithId(messageId(errors.command, "referenceType").text, errors.notDouble);
        return false;
    case kReferenceTooManySides:
        failWithId(messageId(errors.command, "referenceDimensions").text, errors.tooManySides);
        return false;
    case kReferenceOutside:
        failWithId(messageId(errors.command, "referenceOutside").text, errors.outside);
        return false;
    case kReferenceUsable: break;
    }
    return true;
}

// Whether given is the name, compared without regard to case.
inline bool isOptionName(const char *given, const char *name) {
    for (; *given != 0 && *name != 0; ++given, ++name) {
        const char g = (*given >= 'A' && *given <= 'Z') ? static_cast<char>(*given - 'A' + 'a') : *given;
        if (g != *name) return false;
    }
    return *given == 0 && *name == 0;
}

enum OptionName { kUnknownOption, kQualityOption, kPeriodicOption, kTileSizeOption, kProgressOption };

// Which option a char array names; its text (cut to fit) into name.
inline OptionName optionName(const mxArray *a, char *name, size_t size) {
    const bool fits = mxGetString(a, name, size) == 0;
    if (fits && isOptionName(name, "quality")) return kQualityOption;
    if (fits && isOptionName(name, "periodic")) return kPeriodicOption;
    if (fits && isOptionName(name, "tilesize")) return kTileSizeOption;
    if (fits && isOptionName(name, "progress")) return kProgressOption;
    return kUnknownOption;
}

// Where a call's options begin, by MATLAB's custom: after wrapped, or after the
// reference, an option name (a char array) in an option's place. A text in a
// reference's place is never a reference: it starts the options there, so that a
// misspelled name is refused as a name, not as a reference. Returns false for any
// other count (the help is printed); else *hasReference and *optionsStart (nrhs when
// there are no options).
inline bool splitArguments(int nrhs, const mxArray *const *prhs, int referenceCount, bool *hasReference,
                           int *optionsStart) {
    *hasReference = false;
    *optionsStart = nrhs;
    for (int k = 1; k < nrhs && k <= referenceCount; ++k) {
        if (mxIsChar(prhs[k])) {
            *optionsStart = 1;
            return true;
        }
    }
    if (nrhs >= 2 + referenceCount && mxIsChar(prhs[1 + referenceCount])) {
        *hasReference = true;
        *optionsStart = 1 + referenceCount;
        return true;
    }
    if (nrhs == 1) return true;
    if (nrhs == 1 + referenceCount) {
        *hasReference = true;
        return true;
    }
    return false;
}

// Ends the call with a text that names the command: format holds a %s for the command
// and may hold a second for detail. (Hosts add their own prefix, so the command is
// named in the sentence, not before it.)
inline void optionError(const char *mnemonic, const char *format, const char *command, const char *detail = "") {
    char message[320];
    snprintf(message, sizeof message, format, command, detail);
    failWithId(messageId(command, mnemonic).text, message);
}

// Element i of a real numeric or logical array, as a double; false for other classes.
inline bool numericElement(const mxArray *a, size_t i, double *value) {
    const void *data = mxGetData(a);
    switch (mxGetClassID(a)) {
    case mxLOGICAL_CLASS: *value = static_cast<const bool *>(data)[i] ? 1.0 : 0.0; return true;
    case mxDOUBLE_CLASS: *value = static_cast<const double *>(data)[i]; return true;
    case mxSINGLE_CLASS: *value = static_cast<const float *>(data)[i]; return true;
    case mxINT8_CLASS: *value = static_cast<const int8_t *>(data)[i]; return true;
    case mxUINT8_CLASS: *value = static_cast<const uint8_t *>(data)[i]; return true;
    case mxINT16_CLASS: *value = static_cast<const int16_t *>(data)[i]; return true;
    case mxUINT16_CLASS: *value = static_cast<const uint16_t *>(data)[i]; return true;
    case mxINT32_CLASS: *value = static_cast<const int32_t *>(data)[i]; return true;
    case mxUINT32_CLASS: *value = static_cast<const uint32_t *>(data)[i]; return true;
    case mxINT64_CLASS: *value = static_cast<double>(static_cast<const int64_t *>(data)[i]); return true;
    case mxUINT64_CLASS: *value = static_cast<double>(static_cast<const uint64_t *>(data)[i]); return true;
    default: return false;
    }
}

// A real, full vector of one element or of count: the shape both vector options take.
inline bool isShortVector(const mxArray *a, size_t count) {
    if (mxIsSparse(a) || mxIsComplex(a) || mxGetNumberOfDimensions(a) > 2) return false;
    const size_t n = mxGetNumberOfElements(a);
    return (n == 1 || n == count) && (mxGetM(a) == 1 || mxGetN(a) == 1);
}

// The elements of a real, full numeric or logical vector, nonzero meaning true; false
// when it is none, or holds a NaN.
inline bool readFlags(const mxArray *a, size_t count, bool *flags) {
    if (!isShortVector(a, count)) return false;
    const size_t n = mxGetNumberOfElements(a);
    for (size_t k = 0; k < count; ++k) {
        double value;
        if (!numericElement(a, n == 1 ? 0 : k, &value)) return false;
        if (value != value) return false;  // NaN is neither true nor false
        flags[k] = value != 0.0;
    }
    return true;
}

// A tile's sides: a positive whole number (square tiles) or two (rows, columns), of a
// numeric class (a logical true is no size). Sides beyond the map are cut to it later;
// here they are only held to 32 bits.
inline bool readTileSize(const mxArray *a, int32_t sides[2]) {
    if (mxGetClassID(a) == mxLOGICAL_CLASS || !isShortVector(a, 2)) return false;
    const size_t n = mxGetNumberOfElements(a);
    for (size_t k = 0; k < 2; ++k) {
        double value;
        if (!numericElement(a, n == 1 ? 0 : k, &value)) return false;
        // Neither NaN nor infinite, at least 1, whole.
        if (!(value >= 1.0 && value <= DBL_MAX && value == std::floor(value))) return false;
        sides[k] = value >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(value);
    }
    return true;
}

// Reads the Name, Value pairs in args (count of them) into options (quality and
// periodic; the outputs are the caller's), for wrapped of the given sides (rank of
// them: 2 for a map, 3 for a volume). A repeated name: the last one holds. Ends the
// call with an error naming the command, and returns false, for anything unusable.
inline bool readOptions(const char *command, const mxArray *const *args, int count, const mxArray *wrapped,
                        int rank, const size_t *sides, UnwrapOptions *options) {
    // Maps can be cut into tiles (and report their progress); volumes cannot (yet).
    const bool tiles = rank == 2;
    for (int k = 0; k < count; k += 2) {
        char name[64];
        if (!mxIsChar(args[k]) || mxGetM(args[k]) > 1 || mxGetNumberOfDimensions(args[k]) > 2) {
            optionError("notOptionName",
                        tiles ? "%s expects an option name ('Quality', 'Periodic', 'TileSize' or 'Progress') in an "
                                "option's place."
                              : "%s expects an option name ('Quality' or 'Periodic') in an option's place.",
                        command);
            return false;
        }
        const OptionName which = optionName(args[k], name, sizeof name);
        if (which == kUnknownOption || ((which == kTileSizeOption || which == kProgressOption) && !tiles)) {
            optionError("unknownOption",
                        tiles ? "%s has no option '%s'; its options are 'Quality', 'Periodic', 'TileSize' and "
                                "'Progress'."
                              : "%s has no option '%s'; its options are 'Quality' and 'Periodic'.",
                        command, name);
            return false;
        }
        if (k + 1 == count) {
            optionError("missingValue", "%s was given the option '%s' without a value.", command, name);
            return false;
        }
        const mxArray *value = args[k + 1];
        if (which == kQualityOption) {
            bool sameSize = mxGetNumberOfDimensions(value) == mxGetNumberOfDimensions(wrapped);
            const mwSize *valueSides = mxGetDimensions(value), *wrappedSides = mxGetDimensions(wrapped);
            for (size_t d = 0; sameSize && d < mxGetNumberOfDimensions(wrapped); ++d)
                sameSize = valueSides[d] == wrappedSides[d];
            if (!isFullSingleOrDouble(value) || mxIsComplex(value) || !sameSize) {
                optionError("qualityValue", "%s needs a Quality that is a full real single or double array of the size of "
                            "wrapped.",
                            command);
                return false;
            }
            // Read in its own class, as the samples are; an empty one is never read.
            options->quality = QualityMap();
            if (mxGetNumberOfElements(value) > 0) {
                if (mxIsSingle(value)) options->quality.singles = static_cast<const float *>(mxGetData(value));
                else options->quality.doubles = static_cast<const double *>(mxGetData(value));
            }
        } else if (which == kProgressOption) {
            bool flag = false;
            if (!readFlags(value, 1, &flag)) {
                optionError("progressValue", "%s needs a Progress that is a logical or numeric scalar.", command);
                return false;
            }
            options->progress = flag;
        } else if (which == kTileSizeOption) {
            if (!readTileSize(value, options->tileSize)) {
                optionError("tileSizeValue", "%s needs a TileSize that is a positive whole number, or two of them (rows, columns).",
                            command);
                return false;
            }
        } else {
            bool flags[3] = {false, false, false};
            if (!readFlags(value, static_cast<size_t>(rank), flags)) {
                optionError("periodicValue", rank == 2 ? "%s needs a Periodic that is a logical or numeric scalar, or a vector "
                                        "of two (rows, columns)."
                                      : "%s needs a Periodic that is a logical or numeric scalar, or a vector "
                                        "of three (rows, columns, slices).",
                            command);
                return false;
            }
            for (int d = 0; d < 3; ++d) options->periodic[d] = flags[d];
        }
    }
    for (int d = 0; d < rank; ++d) {
        if (options->periodic[d] && sides[d] < 3) {
            optionError("periodicTooShort", "%s cannot make a dimension of fewer than three samples periodic.", command);
            return false;
        }
    }
    return true;
}

#endif // PHASEKIT_ENTRY_SUPPORT_H
