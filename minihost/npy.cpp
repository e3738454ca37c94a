// npy.cpp: the .npy format: the magic "\x93NUMPY", a version (1.0 with a 16-bit header
// length, 2.0 and 3.0 with a 32-bit one), then a Python dict literal giving 'descr' (the
// dtype), 'fortran_order' and 'shape', padded with blanks and a newline so the data
// starts on a 64-byte boundary (16 in older writers; any boundary is accepted here).
#include "npy.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const char kMagic[] = "\x93NUMPY";
const size_t kMagicLength = 6;

struct Dtype {
    HostClass cls;
    bool complex;
    size_t itemSize;  // bytes of one number (one part of a complex number)
    bool swap;        // big-endian in the file
};

bool parseDescr(const std::string &descr, Dtype *dtype) {
    if (descr.size() < 3) return false;
    char order = descr[0];
    if (order != '<' && order != '>' && order != '|' && order != '=') return false;
    char kind = descr[1];
    int bytes = std::atoi(descr.c_str() + 2);
    dtype->swap = order == '>' && bytes > 1;
    dtype->complex = false;
    struct Entry { char kind; int bytes; HostClass cls; bool complex; };
    const Entry table[] = {
        {'f', 8, hostDoubleClass, false}, {'f', 4, hostSingleClass, false},
        {'c', 16, hostDoubleClass, true}, {'c', 8, hostSingleClass, true},
        {'i', 1, hostInt8Class, false},   {'i', 2, hostInt16Class, false},
        {'i', 4, hostInt32Class, false},  {'i', 8, hostInt64Class, false},
        {'u', 1, hostUint8Class, false},  {'u', 2, hostUint16Class, false},
        {'u', 4, hostUint32Class, false}, {'u', 8, hostUint64Class, false},
        {'b', 1, hostLogicalClass, false},
    };
    for (const Entry &e : table) {
        if (e.kind == kind && e.bytes == bytes) {
            dtype->cls = e.cls;
            dtype->complex = e.complex;
            dtype->itemSize = e.complex ? static_cast<size_t>(bytes) / 2 : static_cast<size_t>(bytes);
            return true;
        }
    }
    return false;
}

// The text after 'key': in the header dict, with blanks skipped.
bool findValue(const std::string &header, const std::string &key, size_t *at) {
    size_t k = header.find("'" + key + "'");
    if (k == std::string::npos) k = header.find("\"" + key + "\"");
    if (k == std::string::npos) return false;
    k = header.find(':', k + key.size() + 2);
    if (k == std::string::npos) return false;
    ++k;
    while (k < header.size() && header[k] == ' ') ++k;
    *at = k;
    return k < header.size();
}

bool parseHeader(const std::string &header, Dtype *dtype, bool *fortran, std::vector<size_t> *shape,
                 std::string *error) {
    size_t at;
    if (!findValue(header, "descr", &at) || (header[at] != '\'' && header[at] != '"')) {
        *error = "no 'descr' entry in the header";
        return false;
    }
    size_t end = header.find(header[at], at + 1);
    if (end == std::string::npos) {
        *error = "malformed 'descr' entry";
        return false;
    }
    std::string descr = header.substr(at + 1, end - at - 1);
    if (!parseDescr(descr, dtype)) {
        *error = "unsupported dtype '" + descr + "'";
        return false;
    }
    if (!findValue(header, "fortran_order", &at)) {
        *error = "no 'fortran_order' entry in the header";
        return false;
    }
    if (header.compare(at, 4, "True") == 0) *fortran = true;
    else if (header.compare(at, 5, "False") == 0) *fortran = false;
    else {
        *error = "malformed 'fortran_order' entry";
        return false;
    }
    if (!findValue(header, "shape", &at) || header[at] != '(') {
        *error = "no 'shape' entry in the header";
        return false;
    }
    end = header.find(')', at);
    if (end == std::string::npos) {
        *error = "malformed 'shape' entry";
        return false;
    }
    shape->clear();
    size_t k = at + 1;
    while (k < end) {
        while (k < end && (header[k] == ' ' || header[k] == ',')) ++k;
        if (k >= end) break;
        if (header[k] < '0' || header[k] > '9') {
            *error = "malformed 'shape' entry";
            return false;
        }
        size_t value = 0;
        while (k < end && header[k] >= '0' && header[k] <= '9') {
            size_t digit = static_cast<size_t>(header[k] - '0');
            if (value > (SIZE_MAX - digit) / 10) {
                *error = "shape too large";
                return false;
            }
            value = value * 10 + digit;
            ++k;
        }
        shape->push_back(value);
    }
    if (shape->size() > 3) {
        *error = "arrays of more than 3 dimensions are not supported";
        return false;
    }
    return true;
}

void swapBytes(unsigned char *p, size_t size) {
    for (size_t a = 0, b = size - 1; a < b; ++a, --b) std::swap(p[a], p[b]);
}

// The preamble and header dict at the start of a .npy file (its first size bytes),
// and the host's sides of its array: a 0-D array is 1 x 1, a 1-D array of n elements
// 1 x n. False with *why when they are not usable.
bool parseLayout(const unsigned char *file, size_t size, NpyLayout *layout, Dtype *dtype, std::string *why) {
    if (size < 10 || std::memcmp(file, kMagic, kMagicLength) != 0) {
        *why = "missing the .npy magic";
        return false;
    }
    const int major = file[6];
    size_t headerLength, headerStart;
    if (major == 1) {
        headerLength = file[8] | (file[9] << 8);
        headerStart = 10;
    } else if (major == 2 || major == 3) {
        if (size < 12) {
            *why = "truncated header";
            return false;
        }
        headerLength = file[8] | (file[9] << 8) | (file[10] << 16) | (size_t(file[11]) << 24);
        headerStart = 12;
    } else {
        *why = "unknown format version " + std::to_string(major);
        return false;
    }
    if (headerLength > size - headerStart) {
        *why = "truncated header";
        return false;
    }
    std::vector<size_t> shape;
    if (!parseHeader(std::string(file + headerStart, file + headerStart + headerLength), dtype,
                     &layout->fortranOrder, &shape, why))
        return false;
    std::vector<size_t> &sides = layout->sides;
    sides = shape;
    if (sides.size() == 1) sides.insert(sides.begin(), 1);
    while (sides.size() < 2) sides.push_back(1);
    // NumPy's sides are signed 64-bit, and an empty array must not hide a side that no
    // host could index: every side, the element count and the byte size must fit.
    const size_t sideLimit = static_cast<size_t>(PTRDIFF_MAX);
    const size_t partSize = dtype->complex ? 2 * dtype->itemSize : dtype->itemSize;
    size_t count = 1;
    bool empty = false;
    for (size_t side : sides) {
        if (side > sideLimit) {
            *why = "shape too large";
            return false;
        }
        empty = empty || side == 0;
    }
    for (size_t side : sides) {
        if (empty) break;
        if (count > sideLimit / side / partSize) {
            *why = "shape too large";
            return false;
        }
        count *= side;
    }
    layout->cls = dtype->cls;
    layout->complex = dtype->complex;
    layout->byteSwapped = dtype->swap;
    layout->dataStart = headerStart + headerLength;
    layout->dataBytes = empty ? 0 : count * partSize;
    return true;
}

}  // namespace

mxArray *npyRead(const std::string &path, std::string *error) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = "cannot open " + path;
        return nullptr;
    }
    std::vector<unsigned char> file;
    unsigned char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) file.insert(file.end(), buffer, buffer + n);
    bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError) {
        *error = "cannot read " + path;
        return nullptr;
    }
    return npyDecode(file.data(), file.size(), path, error);
}

mxArray *npyDecode(const unsigned char *file, size_t size, const std::string &name, std::string *error) {
    auto fail = [&](const std::string &why) -> mxArray * {
        *error = name + ": not a usable .npy file: " + why;
        return nullptr;
    };
    NpyLayout layout;
    Dtype dtype;
    std::string why;
    if (!parseLayout(file, size, &layout, &dtype, &why)) return fail(why);
    if (size - layout.dataStart < layout.dataBytes) return fail("the data is shorter than its shape");
    const std::vector<size_t> &sides = layout.sides;
    const bool fortran = layout.fortranOrder;
    const size_t partSize = dtype.complex ? 2 * dtype.itemSize : dtype.itemSize;
    const size_t count = layout.dataBytes / partSize;

    mxArray *array = hostCreateArray(dtype.cls, sides, dtype.complex);
    if (count == 0) return array;  // nothing to copy, however long the other sides
    // The host's parts: separate blocks, or (re, im) pairs in one.
    const bool pairs = dtype.complex && hostInterleavedComplex();
    unsigned char *re = static_cast<unsigned char *>(hostDataOf(array));
    unsigned char *im = pairs ? re + dtype.itemSize : static_cast<unsigned char *>(hostImagDataOf(array));
    const size_t partStep = pairs ? 2 * dtype.itemSize : dtype.itemSize;
    const unsigned char *data = file + layout.dataStart;
    const size_t rows = sides[0], columns = sides[1], slices = sides.size() > 2 ? sides[2] : 1;
    for (size_t s = 0; s < slices; ++s) {
        for (size_t c = 0; c < columns; ++c) {
            for (size_t r = 0; r < rows; ++r) {
                // The file's element (r, c, s) in its own order; the host's is column-major.
                size_t source = fortran ? r + (c + s * columns) * rows : (r * columns + c) * slices + s;
                size_t target = r + (c + s * columns) * rows;
                const unsigned char *item = data + source * partSize;
                std::memcpy(re + target * partStep, item, dtype.itemSize);
                if (dtype.swap) swapBytes(re + target * partStep, dtype.itemSize);
                if (dtype.complex) {
                    std::memcpy(im + target * partStep, item + dtype.itemSize, dtype.itemSize);
                    if (dtype.swap) swapBytes(im + target * partStep, dtype.itemSize);
                }
            }
        }
    }
    if (dtype.cls == hostLogicalClass)
        for (size_t k = 0; k < count; ++k) re[k] = re[k] != 0;
    return array;
}

bool npyHeaderOfSize(const mxArray *array, size_t room, std::string *bytes, std::string *error) {
    const HostClass cls = hostClassOf(array);
    if ((cls != hostDoubleClass && cls != hostSingleClass) || mxIsSparse(array)) {
        *error = "only full double and single arrays can be written as .npy";
        return false;
    }
    const bool complex = mxIsComplex(array), single = cls == hostSingleClass;
    const char *descr = complex ? (single ? "<c8" : "<c16") : (single ? "<f4" : "<f8");
    // Fortran order is the host's column-major order, whatever the number of sides.
    std::string shape;
    const size_t *sides = mxGetDimensions(array);
    for (size_t k = 0; k < mxGetNumberOfDimensions(array); ++k)
        shape += (k ? ", " : "") + std::to_string(sides[k]);
    std::string header = std::string("{'descr': '") + descr +
                         "', 'fortran_order': True, 'shape': (" + shape + "), }";
    // Pad with blanks and a newline so the data starts where asked (0: on the next
    // 64-byte boundary).
    size_t total = kMagicLength + 4 + header.size() + 1;
    const size_t end = room ? room : total + (64 - total % 64) % 64;
    if (end < total || end - kMagicLength - 4 > 65535) {
        *error = "no room for the .npy header";
        return false;
    }
    header.append(end - total, ' ');
    header += '\n';
    bytes->assign(kMagic, kMagicLength);
    bytes->push_back(1);
    bytes->push_back(0);
    bytes->push_back(static_cast<char>(header.size() & 0xFF));
    bytes->push_back(static_cast<char>(header.size() >> 8));
    *bytes += header;
    return true;
}

bool npyInspect(const std::string &path, NpyLayout *layout, std::string *error) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = "cannot open " + path;
        return false;
    }
    std::vector<unsigned char> head(1 << 16);
    head.resize(std::fread(head.data(), 1, head.size(), f));
    std::fclose(f);
    Dtype dtype;
    std::string why;
    if (parseLayout(head.data(), head.size(), layout, &dtype, &why)) return true;
    *error = path + ": not a usable .npy file: " + why;
    return false;
}

bool npyWrite(const std::string &path, const mxArray *array, std::string *error) {
    std::string header;
    if (!npyHeaderOfSize(array, 0, &header, error)) return false;
    const bool complex = mxIsComplex(array);
    const size_t itemSize = hostElementSize(hostClassOf(array));
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        *error = "cannot create " + path;
        return false;
    }
    std::fwrite(header.data(), 1, header.size(), f);
    size_t count = mxGetNumberOfElements(array);
    if (!complex) {
        if (count > 0) std::fwrite(hostDataOf(array), itemSize, count, f);
    } else {
        // NumPy's complex items are (re, im) pairs; the host's parts may lie apart.
        const bool pairs = hostInterleavedComplex();
        const unsigned char *re = static_cast<const unsigned char *>(hostDataOf(array));
        const unsigned char *im = pairs ? re + itemSize : static_cast<const unsigned char *>(hostImagDataOf(array));
        const size_t step = pairs ? 2 * itemSize : itemSize;
        for (size_t k = 0; k < count; ++k) {
            std::fwrite(re + k * step, itemSize, 1, f);
            std::fwrite(im + k * step, itemSize, 1, f);
        }
    }
    bool failed = std::ferror(f) != 0;
    failed = std::fclose(f) != 0 || failed;
    if (failed) *error = "cannot write " + path;
    return !failed;
}
