// Files removed when a run fails or a signal ends it.
#include "removal_guard.h"

#include "zf_console.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

// A slot's state.  Only the thread that claimed a slot moves it out of
// `changing` or `armed`; only the clean-up moves it to `taken`.
enum : int {
    free_slot, // no names
    changing,  // its owner is writing the names or acting on the files
    armed,     // the names are complete: the clean-up removes them
    taken,     // the clean-up has it: the program is ending
};

// A name as long as the system takes (PATH_MAX counts the terminating NUL).
constexpr std::size_t kNameSize = PATH_MAX;

struct Slot {
    std::atomic<int> state{free_slot};
    char file[kNameSize];
    char folder[kNameSize];
};
static_assert(std::atomic<int>::is_always_lock_free, "the clean-up runs in a signal handler");
static_assert(std::atomic<bool>::is_always_lock_free, "the clean-up runs in a signal handler");

// Static storage, never destroyed in a way a signal could see: the slots
// are plain data.
Slot slots[kGuardSlots];
std::atomic<bool> cleaned_up{false};

bool fits(const char *name) { return !name || std::strlen(name) < kNameSize; }

void copy_name(char *field, const char *name)
{
    if (name)
        std::memcpy(field, name, std::strlen(name) + 1);
    else
        field[0] = '\0';
}

// The clean-up has run: the signal thread ends the program soon.  Nothing
// more is created, renamed or said meanwhile.
[[noreturn]] void wait_for_the_end()
{
    for (;;)
        pause();
}

// A free slot, now `changing`; -1 with errno set when none is left.
int claim_slot()
{
    for (unsigned i = 0; i < kGuardSlots; ++i) {
        int expected = free_slot;
        if (!slots[i].state.compare_exchange_strong(expected, changing))
            continue;
        // Claimed first, then checked: a clean-up that passed this slot
        // while it was free had already been marked, and is seen here.
        if (cleaned_up.load()) {
            slots[i].state.store(free_slot);
            wait_for_the_end();
        }
        return static_cast<int>(i);
    }
    errno = EMFILE;
    return -1;
}

// Takes an armed slot back from the clean-up's reach while its owner acts.
void begin_change(int i)
{
    int expected = armed;
    if (!slots[i].state.compare_exchange_strong(expected, changing))
        wait_for_the_end(); // taken: the clean-up removed the files
}

void remove_names(const Slot &s)
{
    if (s.file[0])
        ::unlink(s.file);
    if (s.folder[0])
        ::rmdir(s.folder);
}

void nap()
{
    const timespec t{0, 100000};
    nanosleep(&t, nullptr);
}

void clean_up_from_handler(int) { remove_guarded_files(false); }

[[noreturn]] void end_as_signal_would(int signo)
{
    std::signal(signo, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signo);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    std::raise(signo);
    std::_Exit(128 + signo); // a signal whose default is not to end the program
}

} // namespace

bool removal_guard::guard(const char *file, const char *folder)
{
    if (!fits(file) || !fits(folder)) {
        errno = ENAMETOOLONG;
        return false;
    }
    if (slot_ < 0)
        slot_ = claim_slot();
    else
        begin_change(slot_);
    if (slot_ < 0)
        return false;
    Slot &s = slots[slot_];
    copy_name(s.file, file);
    copy_name(s.folder, folder);
    s.state.store(armed);
    return true;
}

int removal_guard::create_temporary(std::string &templ, int flags)
{
    if (!fits(templ.c_str())) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int i = claim_slot();
    if (i < 0)
        return -1;
    Slot &s = slots[i];
    copy_name(s.file, templ.c_str());
    s.folder[0] = '\0';
    // made while the slot is `changing`: a clean-up on a signal thread
    // waits for it, and then removes it
    const int fd = mkostemp(s.file, flags);
    if (fd < 0) {
        const int saved = errno;
        s.state.store(free_slot);
        errno = saved;
        return -1;
    }
    templ = s.file;
    slot_ = i;
    s.state.store(armed);
    return fd;
}

bool removal_guard::commit(const char *path)
{
    if (slot_ < 0) {
        errno = EINVAL;
        return false;
    }
    Slot &s = slots[slot_];
    begin_change(slot_);
    if (std::rename(s.file, path) != 0) {
        const int saved = errno;
        s.state.store(armed);
        errno = saved;
        return false;
    }
    s.state.store(free_slot);
    slot_ = -1;
    return true;
}

void removal_guard::release()
{
    if (slot_ < 0)
        return;
    int expected = armed;
    if (!slots[slot_].state.compare_exchange_strong(expected, free_slot))
        wait_for_the_end();
    slot_ = -1;
}

void removal_guard::remove_now()
{
    if (slot_ < 0)
        return;
    begin_change(slot_);
    remove_names(slots[slot_]);
    slots[slot_].state.store(free_slot);
    slot_ = -1;
}

void remove_guarded_files(bool wait)
{
    cleaned_up.store(true);
    for (Slot &s : slots) {
        for (;;) {
            int state = s.state.load();
            if (wait && state == changing) {
                nap();
                continue;
            }
            if (state == armed && !s.state.compare_exchange_strong(state, taken))
                continue; // its owner on another thread took it back meanwhile
            // `taken` again when a second signal interrupted the first
            // clean-up: removing a name twice does no harm
            if (state == armed || state == taken)
                remove_names(s);
            break;
        }
    }
}

void remove_guarded_on_console_signals() { console_on_signal(clean_up_from_handler); }

void remove_guarded_on_signal_thread()
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction old {};
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) // nohup stays nohup
            sigaddset(&set, s);
    }
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0)
        return;
    std::thread([set] {
        int signo = 0;
        while (sigwait(&set, &signo) != 0) {
        }
        remove_guarded_files(true);
        end_as_signal_would(signo);
    }).detach();
}
