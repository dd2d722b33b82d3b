#include "output_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zfconv {
namespace {

// The process's umask, read before main: reading it means setting it,
// which must not happen while other threads create files.
mode_t read_umask()
{
    const mode_t m = umask(0);
    umask(m);
    return m;
}
const mode_t process_umask = read_umask();

} // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {}

OutputFile::~OutputFile()
{
    if (file_)
        std::fclose(file_);
    if (!committed_)
        guard_.remove_now();
}

namespace {
// past a file size limit the cause, not the system's words, is told
std::string write_failure(const std::string &path, int code)
{
    if (code == EFBIG)
        return "the output would pass the file size limit (ulimit -f)";
    return "cannot write " + path + ": " + std::strerror(code);
}
} // namespace

FILE *OutputFile::open(std::string &error)
{
    // A device or pipe (/dev/stdout, say) is written in place: it cannot
    // be replaced, and must not be.
    struct stat st {};
    if (stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            error = "cannot create " + path_ + ": it is a folder";
            return nullptr;
        }
        file_ = std::fopen(path_.c_str(), "wb");
        if (!file_)
            error = "cannot write " + path_ + ": " + std::strerror(errno);
        in_place_ = file_ != nullptr;
        return file_;
    }
    temp_ = path_ + ".XXXXXX";
    const int fd = guard_.create_temporary(temp_, O_CLOEXEC);
    if (fd < 0) {
        error = "cannot create " + path_ + ": " + std::strerror(errno);
        temp_.clear();
        return nullptr;
    }
    // mkstemp makes the file private; the output gets the usual mode
    fchmod(fd, 0666 & ~process_umask);
    file_ = fdopen(fd, "wb");
    if (!file_) {
        error = "cannot create " + path_ + ": " + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    return file_;
}

bool OutputFile::commit(std::string &error)
{
    const bool written = std::ferror(file_) == 0;
    const int saved = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!written || !closed) {
        error = write_failure(path_, written ? errno : saved);
        return false;
    }
    if (in_place_) {
        committed_ = true;
        return true;
    }
    if (!guard_.commit(path_.c_str())) {
        error = write_failure(path_, errno);
        return false;
    }
    committed_ = true;
    return true;
}

} // namespace zfconv
