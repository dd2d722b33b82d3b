#include "temporaries.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <initializer_list>
#include <mutex>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>

namespace zfconv {
namespace {

struct Registry {
    std::mutex lock;
    std::unordered_set<std::string> names;
};

// The process's umask, read once: reading it means setting it, which must
// not happen while other threads create files.
mode_t umask_value()
{
    static const mode_t mask = [] {
        const mode_t m = umask(0);
        umask(m);
        return m;
    }();
    return mask;
}

// Never destroyed: the signal thread may still wait while the program exits.
Registry &registry()
{
    static Registry *r = new Registry;
    return *r;
}

[[noreturn]] void clean_up_and_die(int signo)
{
    Registry &r = registry();
    r.lock.lock(); // kept: no thread creates or renames a temporary after this
    for (const std::string &name : r.names)
        ::unlink(name.c_str());
    std::signal(signo, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signo);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    std::raise(signo);
    std::_Exit(128 + signo); // a signal whose default is not to end the program
}

} // namespace

int create_temporary(std::string &templ)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    const int fd = mkostemp(templ.data(), O_CLOEXEC);
    if (fd < 0)
        return -1;
    r.names.insert(templ);
    // mkstemp makes the file private; the output gets the usual mode
    fchmod(fd, 0666 & ~umask_value());
    return fd;
}

bool commit_temporary(const std::string &temp, const std::string &path)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    if (std::rename(temp.c_str(), path.c_str()) != 0)
        return false;
    r.names.erase(temp);
    return true;
}

void remove_temporary(const std::string &temp)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    ::unlink(temp.c_str());
    r.names.erase(temp);
}

void remove_temporaries_on_signals()
{
    umask_value();
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
        clean_up_and_die(signo);
    }).detach();
}

} // namespace zfconv
