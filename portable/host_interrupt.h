// host_interrupt.h: hostInterruptPending(), whether the user has asked the host to stop
// the call under way (Ctrl-C). One implementation per host, chosen by the mex.h in use:
// Octave's interrupt state (octave_interrupt_state: a sig_atomic_t in Octave 7 and a
// std::atomic<int> in Octave 9, read alike), else MATLAB's utIsInterruptPending from
// its libut (not documented by MathWorks; MEX authors have used it for two decades),
// which the standalone host serves too. Call it on the host's thread only.
#ifndef PHASEKIT_HOST_INTERRUPT_H
#define PHASEKIT_HOST_INTERRUPT_H

#include "mex.h"

#if defined(HAVE_OCTAVE)
#include <octave/quit.h>
inline bool hostInterruptPending() { return octave_interrupt_state > 0; }
#else
extern "C" bool utIsInterruptPending(void);
inline bool hostInterruptPending() { return utIsInterruptPending(); }
#endif

#endif // PHASEKIT_HOST_INTERRUPT_H
