#include "harness.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace zt {
namespace {

std::vector<std::string> make_env(const RunOptions &opts)
{
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool drop = false;
        for (const auto &u : opts.unset)
            drop = drop || u == name;
        for (const auto &n : opts.env)
            drop = drop || n.substr(0, n.find('=')) == name;
        if (!drop)
            env.push_back(entry);
    }
    env.insert(env.end(), opts.env.begin(), opts.env.end());
    return env;
}

std::vector<std::string> argv_of(const std::string &program, const std::vector<std::string> &args)
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::vector<char *> c_strings(std::vector<std::string> &v)
{
    std::vector<char *> out;
    for (auto &s : v)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Waits for the child: its exit status, or 128 + the signal that ended it.
int wait_for(pid_t pid)
{
    int ws = 0;
    while (waitpid(pid, &ws, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(ws))
        return WEXITSTATUS(ws);
    if (WIFSIGNALED(ws))
        return 128 + WTERMSIG(ws);
    return -1;
}

void read_all(int fd, std::string &into)
{
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            into.append(buf, static_cast<size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
}

} // namespace

RunResult run(const std::string &program, const std::vector<std::string> &args,
              const RunOptions &opts)
{
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    if (!opts.cwd.empty())
        posix_spawn_file_actions_addchdir_np(&fa, opts.cwd.c_str());
    auto argv_s = argv_of(program, args);
    auto env_s = make_env(opts);
    auto argv = c_strings(argv_s);
    auto envp = c_strings(env_s);
    pid_t pid;
    int rc = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    for (int fd : {in[0], out[1], err[1]})
        ::close(fd);
    if (rc != 0) {
        for (int fd : {in[1], out[0], err[0]})
            ::close(fd);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }
    // Feed standard input from a thread so large outputs cannot dead-lock.
    std::thread feeder([&] {
        size_t done = 0;
        while (done < opts.input.size()) {
            ssize_t n = ::write(in[1], opts.input.data() + done, opts.input.size() - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        ::close(in[1]);
    });
    RunResult r;
    std::thread err_reader([&] { read_all(err[0], r.err); });
    read_all(out[0], r.out);
    err_reader.join();
    feeder.join();
    ::close(out[0]);
    ::close(err[0]);
    r.status = wait_for(pid);
    return r;
}

RunResult run_pty(const std::string &program, const std::vector<std::string> &args,
                  const std::string &keys, int delay_ms, const RunOptions &opts)
{
    const auto start = std::chrono::steady_clock::now();
    Watch w;
    w.terminal = true;
    w.ready = [&](const std::string &) {
        return !keys.empty() && std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(delay_ms);
    };
    w.act = [&](int, int master) { [[maybe_unused]] ssize_t n = ::write(master, keys.data(), keys.size()); };
    w.repeat_ms = opts.repeat_keys_ms;
    return run_watched(program, args, w, opts);
}

Watched run_watched(const std::string &program, const std::vector<std::string> &args, const Watch &watch,
                    const RunOptions &opts)
{
    auto argv_s = argv_of(program, args);
    auto env_s = make_env(opts);
    auto argv = c_strings(argv_s), envp = c_strings(env_s);
    const std::string log = (opts.cwd.empty() ? std::string(".") : opts.cwd) + "/output.txt";
    int master = -1;
    const pid_t pid = watch.terminal ? forkpty(&master, nullptr, nullptr, nullptr) : fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        const rlimit limit{static_cast<rlim_t>(watch.size_limit), static_cast<rlim_t>(watch.size_limit)};
        const int fd = watch.terminal ? 1 : ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (!watch.terminal)
            setpgid(0, 0);
        if ((!opts.cwd.empty() && chdir(opts.cwd.c_str()) != 0) || (watch.size_limit >= 0 && setrlimit(RLIMIT_FSIZE, &limit) != 0) ||
            fd < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0)
            _exit(126);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    Watched r;
    const auto start = std::chrono::steady_clock::now();
    auto next = start;
    bool acted = false, ended = false;
    for (; !ended && std::chrono::steady_clock::now() - start < std::chrono::seconds(120);) {
        if (watch.terminal) {
            pollfd p{master, POLLIN, 0};
            char buf[4096];
            const ssize_t n = poll(&p, 1, 10) > 0 ? ::read(master, buf, sizeof buf) : 0;
            ended = p.revents && n <= 0; // EIO: the program closed the terminal
            r.out.append(buf, static_cast<size_t>(std::max<ssize_t>(n, 0)));
            termios mode{};
            r.raw = r.raw || (tcgetattr(master, &mode) == 0 && !(mode.c_lflag & ICANON));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            r.out = read_text(log);
            siginfo_t info{};
            ended = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
        }
        if (!ended && (!acted || watch.repeat_ms) && std::chrono::steady_clock::now() >= next && watch.ready(r.out) &&
            (r.raw || !watch.once_raw || !watch.terminal)) {
            watch.act(pid, master);
            acted = true;
            next = std::chrono::steady_clock::now() + std::chrono::milliseconds(watch.repeat_ms);
        }
    }
    if (!ended)
        ::kill(pid, SIGKILL); // still running after two minutes: the status tells
    r.status = wait_for(pid);
    if (watch.terminal) {
        termios mode{};
        r.restored = tcgetattr(master, &mode) == 0 && (mode.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO);
        ::close(master);
    }
    return r;
}

TempDir::TempDir()
{
    std::string templ = (std::filesystem::temp_directory_path() / "zefa-test-XXXXXX").string();
    if (!mkdtemp(templ.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<uint8_t> read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void write_file(const std::string &path, const std::string &text)
{
    write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
}

bool file_exists(const std::string &path) { return std::filesystem::exists(path); }

std::vector<std::string> names_in(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string read_text(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool is_device(const std::string &path) { return std::filesystem::is_character_file(path); }

testing::AssertionResult has(const std::string &text, const std::string &part)
{
    if (text.find(part) != std::string::npos)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

// Programs that are not built have empty paths.
#ifndef ZFDEC_PATH
#define ZFDEC_PATH ""
#endif
#ifndef ZFENC_PATH
#define ZFENC_PATH ""
#endif
#ifndef ZFCONV_PATH
#define ZFCONV_PATH ""
#endif
std::string zfdec_path() { return ZFDEC_PATH; }
std::string zfenc_path() { return ZFENC_PATH; }
std::string zfconv_path() { return ZFCONV_PATH; }
std::string source_dir() { return ZEFA_TEST_SOURCE_DIR; }
std::string tools_dir() { return ZEFA_TEST_TOOLS_DIR; }

} // namespace zt
