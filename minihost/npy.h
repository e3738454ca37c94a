// npy.h: reading and writing NumPy .npy files (format versions 1 to 3) as host arrays.
// Arrays of 0 to 3 dimensions, C or Fortran order, little- or big-endian numbers of the
// classes the host knows (float64/32, complex128/64, signed and unsigned integers of
// 8 to 64 bits, bool). A 0-D array becomes 1x1 and a 1-D array of n elements 1xn.
#ifndef PHASEKIT_NPY_H
#define PHASEKIT_NPY_H

#include "minihost.h"

#include <string>
#include <vector>

// Reads a .npy file into a new host array; null with a message in *error when the
// file cannot be read or is not a .npy file this host can represent.
mxArray *npyRead(const std::string &path, std::string *error);
// The same from the bytes of a whole file; name is used in messages.
mxArray *npyDecode(const unsigned char *bytes, size_t size, const std::string &name, std::string *error);

// What a .npy file's header says, for mapping its data in place: the class, whether
// complex, the order and byte order, the host's sides, and where the data begins.
struct NpyLayout {
    HostClass cls;
    bool complex;
    bool fortranOrder;
    bool byteSwapped;
    std::vector<size_t> sides;  // each, the count and the byte size fit in ptrdiff_t
    size_t dataStart;
    size_t dataBytes;
};
// Reads only the header; false with a message when it is not a usable .npy file.
bool npyInspect(const std::string &path, NpyLayout *layout, std::string *error);

// The first `room` bytes of a .npy file for a double or single array (real or complex,
// Fortran order): the preamble and the header dict padded with blanks to end at room
// (a multiple of 64, at most 65535 + 10); false when the array has no such format.
bool npyHeaderOfSize(const mxArray *array, size_t room, std::string *bytes, std::string *error);

// Writes a double or single array (real or complex: float64, complex128, float32,
// complex64) as a .npy file of the array's sides (2 or more) in Fortran order; false
// with a message in *error when it cannot.
bool npyWrite(const std::string &path, const mxArray *array, std::string *error);

#endif // PHASEKIT_NPY_H
