// The keyboard on POSIX terminals.  When standard input is a terminal it is
// switched once to non-canonical input without echo, so that a key can be
// polled without waiting; it is put back at exit and on the signals that
// end the program.  When standard input is not a terminal, no key is ever
// pressed.
#include "zefa.h"
#include "zf_console.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <initializer_list>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kEsc = 27;
// Bytes of an escape sequence (arrow and function keys) arrive together;
// a lone ESC is followed by nothing within this time.
constexpr int kSequenceGapMs = 30;

termios saved_mode{};
volatile sig_atomic_t mode_changed = 0;
bool tried_setup = false;
void (*signal_hook)(int) = nullptr;
bool handlers_installed = false;

void restore_terminal()
{
    if (mode_changed) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
        mode_changed = 0;
    }
}

void on_fatal_signal(int signo)
{
    restore_terminal();
    if (signal_hook)
        signal_hook(signo);
    std::signal(signo, SIG_DFL);
    std::raise(signo);
}

void install_handlers()
{
    if (handlers_installed)
        return;
    handlers_installed = true;
    // SIGPIPE too: a program piped into `head` must not leave half a file
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        struct sigaction old{};
        sigaction(s, nullptr, &old);
        if (old.sa_handler == SIG_IGN) // keep a signal ignored as the caller set it
            continue;
        struct sigaction sa{};
        sa.sa_handler = on_fatal_signal;
        sigemptyset(&sa.sa_mask);
        sigaction(s, &sa, nullptr);
    }
}

bool setup_terminal()
{
    if (mode_changed)
        return true;
    if (tried_setup)
        return false;
    tried_setup = true;
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_mode) != 0)
        return false;
    termios raw = saved_mode;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    install_handlers();
    std::atexit(restore_terminal);
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0)
        return false;
    mode_changed = 1;
    return true;
}

bool byte_waiting(int timeout_ms)
{
    pollfd p{STDIN_FILENO, POLLIN, 0};
    int r;
    do
        r = poll(&p, 1, timeout_ms);
    while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & POLLIN);
}

int read_byte()
{
    unsigned char b;
    ssize_t n;
    do
        n = ::read(STDIN_FILENO, &b, 1);
    while (n < 0 && errno == EINTR);
    return n == 1 ? b : -1;
}

// After ESC and '[' or 'O': the rest of a sequence is parameter bytes up
// to a final byte in 0x40..0x7E.
int finish_sequence(int introducer)
{
    int last = introducer;
    while (byte_waiting(kSequenceGapMs)) {
        int b = read_byte();
        if (b < 0)
            break;
        last = b;
        if (introducer == 'O' || (b >= 0x40 && b <= 0x7E))
            break;
    }
    return 0x100 | last; // a key, but never ESC
}

} // namespace

extern "C" {

int console_key_pressed(void)
{
    if (!setup_terminal() || !byte_waiting(0))
        return 0;
    int b = read_byte();
    if (b <= 0)
        return 0;
    if (b != kEsc)
        return b;
    if (!byte_waiting(kSequenceGapMs))
        return kEsc;
    int next = read_byte();
    if (next == '[' || next == 'O')
        return finish_sequence(next);
    if (next <= 0 || next == kEsc) // ESC pressed twice is still ESC
        return kEsc;
    return 0x100 | next; // Alt+key
}

int console_interactive(void) { return isatty(STDIN_FILENO) ? 1 : 0; }

int console_wait_key(void)
{
    if (!setup_terminal())
        return 0;
    for (;;) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (poll(&p, 1, -1) < 0 && errno != EINTR)
            return 0;
        if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN))
            return 0; // the terminal went away: nothing will be pressed
        if (!(p.revents & POLLIN))
            continue;
        int k = console_key_pressed();
        if (k != 0)
            return k;
    }
}

void console_restore(void) { restore_terminal(); }

void console_on_signal(void (*hook)(int signo))
{
    signal_hook = hook;
    install_handlers();
}

} // extern "C"
