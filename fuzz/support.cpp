#include "support.h"

#include "codec_run.h"
#include "zefa.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace zfuzz {

const std::string &as_file(const uint8_t *data, size_t size)
{
    static std::string path = [] {
        const char *dir = std::getenv("TMPDIR");
        std::string p = std::string(dir && *dir ? dir : "/tmp") + "/zefa-fuzz-" + std::to_string(getpid());
        return p;
    }();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
        size_t done = 0;
        while (done < size) {
            ssize_t n = ::write(fd, data + done, size - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        ::close(fd);
    }
    return path;
}

void quiet_console()
{
    // Only the streams: the descriptors stay, and the reports written to them.
    if (FILE *null = std::fopen("/dev/null", "w")) {
        stdout = null;
        stderr = null;
    }
    if (!std::freopen("/dev/null", "r", stdin))
        std::fclose(stdin);
}

std::vector<uint8_t> payload_file(int depth, const char *tag, int width, int height, const uint8_t *payload,
                                  size_t size)
{
    // a file of the depth without blocks gives the header and the end marker
    static std::vector<uint8_t> templates[25];
    std::vector<uint8_t> &t = templates[depth];
    if (t.empty())
        t = zt::write_zefa(as_file(nullptr, 0), zt::params(depth), {});
    if (t.size() < ZF_HEADER_SIZE + 8)
        std::abort();
    const size_t length = ZF_BLOCK_HEADER_SIZE + size;
    std::vector<uint8_t> file(t.begin(), t.end() - 8);
    file.insert(file.end(), tag, tag + 4);
    for (const uint32_t v : {uint32_t(length >> 16), uint32_t(length), 0u, uint32_t(width), uint32_t(height)})
        file.insert(file.end(), {uint8_t(v >> 8), uint8_t(v)}); // length, no extra value, width, height
    file.resize(file.size() + ZF_BLOCK_HEADER_SIZE - 14, 0);   // x, y, extra value, reserved
    file.insert(file.end(), payload, payload + size);
    file.insert(file.end(), 8, 0);
    return file;
}

void read_all_blocks(const uint8_t *data, size_t size)
{
    zf_file *f = zf_open_memory(data, size);
    if (!f)
        return;
    zf_set_pixel_limit(f, kPixelLimit);
    zf_load_info(f);
    zf_info info{};
    zf_get_info(f, &info);
    uint32_t *line = nullptr;
    int walked = 0;
    for (int r = zf_first_block(f); r > 0 && walked < 10000; r = zf_next_block(f), ++walked) {
        if (r != 1 || zf_begin_read(f) != 0)
            continue;
        zf_block b{};
        zf_get_block(f, &b);
        // whatever the damage, the compressed codings give only values of the depth's pixel form
        const bool compressed = b.tag[2] == 'S';
        while (zf_line(f, &line) >= 0)
            for (int x = 0; x < b.width; ++x)
                if (compressed && line[x] != zt::masked(info.depth, line[x]))
                    __builtin_trap();
    }
    zf_close(f);
}

} // namespace zfuzz
