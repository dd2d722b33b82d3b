// harness.h - running the real programs and handling files in tests.
#ifndef ZEFA_TEST_HARNESS_H
#define ZEFA_TEST_HARNESS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zt {

struct RunResult {
    int status = -1;   // exit status, or 128 + signal number
    std::string out;   // standard output
    std::string err;   // standard error
};

struct RunOptions {
    std::string cwd;                    // empty: the current directory
    std::string input;                  // fed to standard input (a pipe)
    std::vector<std::string> env;       // NAME=value entries added / replaced
    std::vector<std::string> unset;     // names removed from the environment
    int repeat_keys_ms = 0;             // run_pty: send the keys again at this interval
};

// Runs a program (path) with arguments; stdin is a pipe holding opts.input.
RunResult run(const std::string &program, const std::vector<std::string> &args,
              const RunOptions &opts = {});

// Runs a program on a pseudo-terminal as its standard input, output and
// error.  `keys` are written to the terminal after `delay_ms`.  The combined
// terminal output is returned in `out`.
RunResult run_pty(const std::string &program, const std::vector<std::string> &args,
                  const std::string &keys, int delay_ms, const RunOptions &opts = {});

// How run_watched runs a program, and when it acts on it: once `ready`
// holds for what it has printed, `act` is given its process id and its
// terminal (again every `repeat_ms` until it ends, when that is not 0).
struct Watch {
    bool terminal = false; // else its output and error go to output.txt in its folder, and it
                           // runs in a process group of its own, as on a terminal
    std::function<bool(const std::string &)> ready;
    std::function<void(int pid, int terminal)> act;
    int repeat_ms = 0;
    bool once_raw = false;  // on a terminal, act only once it reads keys one by one
    long size_limit = -1;   // its file size limit in bytes (-1: none)
};
struct Watched : RunResult { // `out` holds all it printed
    bool raw = false;        // a terminal: the program took it out of line mode
    bool restored = true;    // ... and gave it back in line mode with echo
};
Watched run_watched(const std::string &program, const std::vector<std::string> &args, const Watch &watch,
                    const RunOptions &opts = {});

// A temporary directory removed with its contents at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whether `text` holds `part`; a failure shows both.
testing::AssertionResult has(const std::string &text, const std::string &part);

std::vector<uint8_t> read_file(const std::string &path);
// A file's bytes as text; empty when there is no such file.
std::string read_text(const std::string &path);
// Whether the path is a character device (as /dev/full must stay after a run).
bool is_device(const std::string &path);
void write_file(const std::string &path, const std::vector<uint8_t> &bytes);
void write_file(const std::string &path, const std::string &text);
bool file_exists(const std::string &path);
// The names in a folder, sorted.
std::vector<std::string> names_in(const std::string &folder);

// Paths of the built programs (empty when the program is not built).
std::string zfdec_path();
std::string zfenc_path();
std::string zfconv_path();
std::string source_dir();
std::string tools_dir(); // the helper programs built from tests/tools/*.cpp

} // namespace zt

#endif
