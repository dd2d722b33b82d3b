// temporaries.h - outputs being written under temporary names beside
// them, known to the whole program so that a signal which ends it removes
// them, whichever thread is writing them.
//
// Creating a temporary and renaming or removing it happen under one lock,
// which the signal's cleanup takes too: it sees every temporary that
// exists, and none is created after it ran.
#ifndef ZEFA_ZFCONV_TEMPORARIES_H
#define ZEFA_ZFCONV_TEMPORARIES_H

#include <string>

namespace zfconv {

// mkstemp on `templ` (ending in XXXXXX); the descriptor, or -1 with errno.
int create_temporary(std::string &templ);
// Renames a temporary into place; false with errno set (it stays known).
bool commit_temporary(const std::string &temp, const std::string &path);
// Removes a temporary.
void remove_temporary(const std::string &temp);

// From now on SIGINT, SIGTERM, SIGHUP and SIGQUIT (those not ignored)
// remove every temporary, then end the program as they would have.  The
// signals are taken by a thread of their own: call this before starting
// any other thread, so that every thread leaves them to it.
void remove_temporaries_on_signals();

} // namespace zfconv

#endif
