// messages.h: errors and warnings with identifiers in MATLAB's form
// (phasekit:COMMAND:mnemonic), so that try/catch code can tell a bad argument from an
// interrupted call, and warning('off', ID) silences one kind. The texts go through a
// "%s" format: a path or a name with a % in it is never read as a format.
#ifndef PHASEKIT_MESSAGES_H
#define PHASEKIT_MESSAGES_H

#include "mex.h"

#include <stdio.h>

// Ends the call with an error; control does not come back.
inline void failWithId(const char *identifier, const char *text) { mexErrMsgIdAndTxt(identifier, "%s", text); }

#if defined(HAVE_OCTAVE)
// Octave's mexWarnMsgIdAndTxt puts the command's name before the text (7 and 9 alike),
// which its mexWarnMsgTxt and MATLAB's mexWarnMsgIdAndTxt do not; its own
// warning_with_id (liboctinterp, whose header cannot be read beside mex.h) keeps the
// text as it is and sets the identifier.
extern void warning_with_id(const char *identifier, const char *format, ...);
inline void warnWithId(const char *identifier, const char *text) { warning_with_id(identifier, "%s", text); }
#else
inline void warnWithId(const char *identifier, const char *text) { mexWarnMsgIdAndTxt(identifier, "%s", text); }
#endif

// The identifier phasekit:COMMAND:MNEMONIC, for messages shared by several commands.
struct MessageId {
    char text[96];
};
inline MessageId messageId(const char *command, const char *mnemonic) {
    MessageId id;
    snprintf(id.text, sizeof id.text, "phasekit:%s:%s", command, mnemonic);
    return id;
}

#endif // PHASEKIT_MESSAGES_H
