// removal_guard.h - a file that a failing or interrupted run must not leave
// behind.
//
// A guard names the file being written and, when it is written in a
// private folder of its own, that folder.  remove_now() removes both (the
// run failed or was stopped); release() keeps them (the file is complete,
// or was moved into place).  Until one of them is called, a signal that
// ends the program (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE) removes them too,
// through the console's signal hook, once the terminal is restored.
//
// The signal handler reads the guards, so they live in static storage for
// the whole program.  A program may keep several (an output and a
// temporary input, say); each guards one file and one folder at a time.
#ifndef ZEFA_COMMON_REMOVAL_GUARD_H
#define ZEFA_COMMON_REMOVAL_GUARD_H

#include <csignal>
#include <cstddef>

class removal_guard {
public:
    // Guards the file and the folder (either may be null) in place of what
    // was guarded before.  A name that does not fit is not guarded: a cut
    // one would name another file.
    void guard(const char *file, const char *folder = nullptr);
    // Keeps what is guarded: it is no longer removed.
    void release();
    // Removes the file, then the folder, and releases them.
    void remove_now();

private:
    static void on_signal(int);
    void remove_files() const; // async-signal-safe

    static constexpr std::size_t kNameSize = 1024;
    char file_[kNameSize] = "";
    char folder_[kNameSize] = "";
    // the names are complete: the signal handler may use them
    volatile std::sig_atomic_t armed_ = 0;
    removal_guard *next_ = nullptr; // the guards the signal handler walks
    bool listed_ = false;
};

#endif
