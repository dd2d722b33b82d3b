// removal_guard.h - files that a failing or interrupted run must not leave
// behind, known to the whole program.
//
// A guard names the file being written and, when it is written in a
// private folder of its own, that folder.  remove_now() removes both (the
// run failed or was stopped); release() keeps them (the file is complete);
// commit() renames the file into place and keeps it.  Until then a signal
// that ends the program removes them, in one of two ways the program
// chooses at its start:
//  - remove_guarded_on_console_signals(): from the console's signal handler,
//    once the terminal is restored (a program of one thread);
//  - remove_guarded_on_signal_thread(): from a thread that takes the
//    signals, so that any thread may hold guards.
//
// The names live in a fixed table of slots, so the clean-up neither
// allocates nor locks.  Each slot is claimed, changed and released by one
// thread at a time through its state; the clean-up takes only the slots
// whose names are complete.  On a signal thread it also waits for a slot
// being changed (a file being created, renamed or removed), so no file
// created before it ran survives, and none renamed into place is removed.
// Once it has run, a thread that goes to guard, create, rename, release or
// remove a file waits for the end of the program instead.
#ifndef ZEFA_COMMON_REMOVAL_GUARD_H
#define ZEFA_COMMON_REMOVAL_GUARD_H

#include <string>

// Files guarded at once; a program must not run more writers than this.
constexpr unsigned kGuardSlots = 256;

class removal_guard {
public:
    removal_guard() = default;
    ~removal_guard() { release(); }
    removal_guard(const removal_guard &) = delete;
    removal_guard &operator=(const removal_guard &) = delete;

    // Guards the file and the folder (either may be null) in place of what
    // was guarded before.  False with errno set when a name is too long
    // (ENAMETOOLONG) or every slot is taken (EMFILE): nothing is guarded
    // then, and the caller must not write the file.
    bool guard(const char *file, const char *folder = nullptr);
    // Creates a file from a mkstemp template (ending in XXXXXX, filled in)
    // and guards it, as one step the clean-up never sees half done.  The
    // guard must hold nothing.  The descriptor, or -1 with errno set.
    int create_temporary(std::string &templ, int flags);
    // Renames the guarded file to `path` and releases it, as one step.
    // False with errno set (it stays guarded).
    bool commit(const char *path);
    // Keeps what is guarded: it is no longer removed.
    void release();
    // Removes the file, then the folder, and releases them.
    void remove_now();

private:
    int slot_ = -1;
};

// Removes every guarded file and folder.  Async-signal-safe: for a signal
// handler (a program of one thread) it removes what is complete at once;
// `wait` (a signal thread) also waits for the slots other threads change.
void remove_guarded_files(bool wait);

// The signals that end a program remove the guarded files from the
// console's signal handler, after the terminal is restored.
void remove_guarded_on_console_signals();

// SIGINT, SIGTERM, SIGHUP and SIGQUIT (those not ignored) are taken by a
// thread of their own, which removes the guarded files and ends the
// program as the signal would have.  Call it before starting any other
// thread, so that every thread leaves the signals to it.
void remove_guarded_on_signal_thread();

#endif
