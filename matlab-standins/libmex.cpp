// libmex.cpp: the standalone host's libmex (libmex.dll on Windows, libmex.so for the
// prebuilt Linux MATLAB files). Extensions import their message operations from a
// library of this name, as from MATLAB's; these forward to the host in libmx, where
// the rest of it lives.
#include "minihost.h"

#include <cstdarg>

#if defined(_WIN32)
#define STANDIN_EXPORT __declspec(dllexport)
#else
#define STANDIN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

STANDIN_EXPORT int mexPrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = hostPrintV(format, args);
    va_end(args);
    return n;
}

STANDIN_EXPORT void mexWarnMsgTxt(const char *text) { hostWarnText(text); }

STANDIN_EXPORT void mexErrMsgTxt(const char *text) { hostErrorText(text); }

STANDIN_EXPORT void mexWarnMsgIdAndTxt(const char *identifier, const char *format, ...) {
    va_list args;
    va_start(args, format);
    hostWarnIdV(identifier, format, args);
    va_end(args);
}

STANDIN_EXPORT void mexErrMsgIdAndTxt(const char *identifier, const char *format, ...) {
    va_list args;
    va_start(args, format);
    hostErrorIdV(identifier, format, args);
}

}  // extern "C"
