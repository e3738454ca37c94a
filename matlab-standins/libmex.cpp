// libmex.cpp: the standalone host's libmex.dll on Windows. Extensions import their
// message operations from a DLL of this name, as from MATLAB's; these forward to the
// host in libmx.dll, where the rest of it lives.
#include "minihost.h"

#include <cstdarg>

extern "C" {

__declspec(dllexport) int mexPrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = hostPrintV(format, args);
    va_end(args);
    return n;
}

__declspec(dllexport) void mexWarnMsgTxt(const char *text) { hostWarnText(text); }

__declspec(dllexport) void mexErrMsgTxt(const char *text) { hostErrorText(text); }

}  // extern "C"
