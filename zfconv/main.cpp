// zfconv - turns pictures into DJP files for zfenc (the converter form
// "DJ505JC INPUT OUTPUT.DJP", under the names zfenc looks for), and ZEFA,
// DJP and raw RGB files (or any picture it reads) into PNG files.
#include "names.h"
#include "readers.h"
#include "writers.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace zfconv;

constexpr const char *kVersion = "zfconv " ZEFA_VERSION " (ZEFA tools for Linux)";
constexpr long long kMaxFileBytes = 1LL << 30; // no input format needs more

const char kUsage[] =
    "usage: zfconv INPUT OUTPUT.png\n"
    "         writes INPUT as a PNG file: a ZEFA file (every block at its place;\n"
    "         8-bit files as palette PNG), a DJP file, a raw RGB file with its\n"
    "         .FAL or .IPR file, or a GIF, PNG, TIFF, JPEG or BMP picture\n"
    "       zfconv DJ505JC INPUT OUTPUT.DJP\n"
    "         writes a GIF, PNG, TIFF, JPEG or BMP picture as a DJP file: palette\n"
    "         pictures as type 0, grey as type 8, others as type 24.  This is the\n"
    "         form zfenc uses; the build installs this program also as\n"
    "         TIF_CONV.EXE, GIF_CONV.EXE, BMP_CONV.EXE, PNG_CONV.EXE, JPG_CONV.EXE\n"
    "       zfconv -h | --help | --version\n"
    "The format of INPUT is told from its content, never from its name.\n"
    "example: zfconv photo.ZF photo.png\n";

int fail(const std::string &input, const std::string &message)
{
    std::fprintf(stderr, "zfconv: %s: %s\n", input.c_str(), message.c_str());
    return 1;
}

bool read_whole(const std::string &path, Bytes &out, std::string &error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
        ::close(fd);
        return false;
    }
    if (st.st_size > kMaxFileBytes) {
        error = "the file is larger than any picture this program reads";
        ::close(fd);
        return false;
    }
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? std::strerror(errno) : "the file changed while it was read";
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return true;
}

int to_djp(const std::string &input, const std::string &output)
{
    Bytes data;
    Image img;
    std::string error;
    if (!read_whole(input, data, error) || !read_image(data.data(), data.size(), img, error) ||
        !write_djp(output, img, error))
        return fail(input, error);
    return 0;
}

int to_png(const std::string &input, const std::string &output)
{
    Bytes data;
    Image img;
    std::string error, damage;
    if (!read_whole(input, data, error))
        return fail(input, error);
    bool ok;
    switch (sniff(data.data(), data.size())) {
    case Format::zefa: ok = read_zefa(data.data(), data.size(), img, error, damage); break;
    case Format::unknown: ok = read_raw_rgb(input, data, img, error); break;
    default: ok = read_image(data.data(), data.size(), img, error); break;
    }
    if (!ok || !write_png(output, img, error))
        return fail(input, error);
    // What decoded is kept, and the damage told: the PNG is no whole copy.
    if (!damage.empty())
        return fail(input, damage + "; " + output + " holds every line before it, the rest transparent");
    return 0;
}

// Runs the conversion, unless the output names the input: writing it
// would destroy the input while it is read.
int run_unless_same_file(int (*to)(const std::string &, const std::string &), const char *input, const char *output)
{
    if (same_file(input, output))
        return fail(input, std::string("the output ") + output + " is the input file");
    return to(input, output);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts(kVersion);
        return 0;
    }
    if (argc == 4 && std::strncmp(argv[1], "DJ505J", 6) == 0)
        return run_unless_same_file(to_djp, argv[2], argv[3]);
    if (argc == 3 && argv[1][0] != '-')
        return run_unless_same_file(to_png, argv[1], argv[2]);
    std::fputs(kUsage, stderr);
    return 2;
}
