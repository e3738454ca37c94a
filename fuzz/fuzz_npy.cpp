// fuzz_npy: the .npy reader on arbitrary bytes. Whatever it accepts must have a size
// the host can hold; a double array it accepts must come back unchanged after being
// written by the writer and read again.
#include "fuzz_input.h"
#include "npy.h"

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string error;
    mxArray *a = npyDecode(data, size, "input", &error);
    if (!a) {
        if (error.empty()) fuzzFailure("refused without a message");
        return 0;
    }
    size_t n = mxGetNumberOfElements(a);
    if (hostClassOf(a) == hostDoubleClass && n <= 4096) {
        static const std::string path = "/tmp/fuzz_npy_" + std::to_string(getpid()) + ".npy";
        if (!npyWrite(path, a, &error)) fuzzFailure("an accepted double array cannot be written");
        mxArray *back = npyRead(path, &error);
        if (!back || mxGetM(back) != mxGetM(a) || mxGetN(back) != mxGetN(a) ||
            mxIsComplex(back) != mxIsComplex(a))
            fuzzFailure("round trip changed the shape");
        for (size_t i = 0; i < n; ++i) {
            double x = hostRealPart(back, i), y = hostRealPart(a, i);
            double u = hostImagPart(back, i), v = hostImagPart(a, i);
            if (std::memcmp(&x, &y, sizeof x) != 0) fuzzFailure("round trip changed the real parts");
            if (std::memcmp(&u, &v, sizeof u) != 0) fuzzFailure("round trip changed the imaginary parts");
        }
        hostDestroyArray(back);
    }
    hostDestroyArray(a);
    return 0;
}
