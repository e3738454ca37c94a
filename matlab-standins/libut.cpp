// libut.cpp: the standalone host's libut (libut.dll on Windows, libut.so for the
// prebuilt Linux MATLAB files). Extensions import utIsInterruptPending from a library
// of this name, as from MATLAB's; it answers with the host's interrupt request.
#include "minihost.h"

#if defined(_WIN32)
#define STANDIN_EXPORT __declspec(dllexport)
#else
#define STANDIN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" STANDIN_EXPORT bool utIsInterruptPending(void) { return hostInterruptRequested(); }
