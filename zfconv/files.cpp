#include "files.h"

#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zfconv {
namespace {

constexpr long long kMaxFileBytes = 1LL << 30; // no input format needs more
const char kTooLarge[] = "the file is larger than any picture this program reads";

// Reads to the end of a descriptor, at most kMaxFileBytes; `expected` is
// the size it probably has.
bool read_to_end(int fd, Bytes &out, std::string &error, std::size_t expected = 0)
{
    out.resize(expected + 1); // one byte more, so the end is seen without growing
    std::size_t done = 0;
    for (;;) {
        if (done == out.size()) {
            if (out.size() > static_cast<std::size_t>(kMaxFileBytes)) {
                error = kTooLarge;
                return false;
            }
            out.resize(out.size() < 65536 ? 65536 : out.size() * 2);
        }
        const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    return true;
}

// Opens a regular file for reading; its size in `size`.  -1 with the cause.
int open_regular(const std::string &name, std::size_t &size, std::string &error)
{
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
    } else if (st.st_size > kMaxFileBytes) {
        error = kTooLarge;
    } else {
        size = static_cast<std::size_t>(st.st_size);
        return fd;
    }
    ::close(fd);
    return -1;
}

} // namespace

std::string shown_input(const std::string &name) { return name == "-" ? "standard input" : name; }
std::string shown_output(const std::string &name) { return name == "-" ? "standard output" : name; }

bool read_input(const std::string &name, Bytes &out, std::string &error)
{
    if (name == "-")
        return read_to_end(STDIN_FILENO, out, error);
    std::size_t size = 0;
    const int fd = open_regular(name, size, error);
    if (fd < 0)
        return false;
    const bool ok = read_to_end(fd, out, error, size);
    ::close(fd);
    return ok;
}

bool read_start(const std::string &name, std::size_t n, Bytes &out, std::string &error)
{
    std::size_t size = 0;
    const int fd = open_regular(name, size, error);
    if (fd < 0)
        return false;
    out.resize(n);
    const ssize_t got = ::pread(fd, out.data(), n, 0);
    ::close(fd);
    if (got < 0) {
        error = std::strerror(errno);
        return false;
    }
    out.resize(static_cast<std::size_t>(got));
    return true;
}

bool write_output(const std::string &name, const Bytes &data, std::string &error)
{
    if (name != "-") {
        OutputFile out(name);
        FILE *f = out.open(error);
        if (!f)
            return false;
        std::fwrite(data.data(), 1, data.size(), f);
        return out.commit(error);
    }
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = std::string("cannot write standard output: ") + std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void FileSet::add(const std::string &name, int index)
{
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0)
        files_.emplace(std::pair{st.st_dev, st.st_ino}, index);
}

int FileSet::find(const std::string &name) const
{
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0)
        return -1;
    const auto it = files_.find({st.st_dev, st.st_ino});
    return it == files_.end() ? -1 : it->second;
}

} // namespace zfconv
