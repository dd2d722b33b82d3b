#include "support.h"

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
    // A one-pixel uncompressed file of the depth gives the header and the
    // end marker; its block is then given the tag, size and payload.
    static std::vector<uint8_t> templates[25];
    std::vector<uint8_t> &t = templates[depth];
    const std::string &path = as_file(nullptr, 0);
    if (t.empty()) {
        unsigned char pal[768] = {};
        zf_set_info("fuzz", depth, -1, -1, 1, 1, 0);
        if (depth == 8)
            zf_set_palette(256, 8, pal);
        if (zf_file *f = zf_create(path.c_str(), "", nullptr, "", 0)) {
            uint32_t *line = nullptr;
            if (zf_begin_write(f, &line, 0, 0, 1, 1, "ZFBI", -1) == 0) {
                line[0] = 0;
                zf_line(f, &line);
            }
            zf_close(f);
        }
        FILE *in = std::fopen(path.c_str(), "rb");
        int c;
        while (in && (c = std::fgetc(in)) != EOF)
            t.push_back(static_cast<uint8_t>(c));
        if (in)
            std::fclose(in);
    }
    if (t.size() < ZF_HEADER_SIZE + 8)
        std::abort();
    const size_t first = size_t{t[ZF_H_FIRST]} << 24 | size_t{t[ZF_H_FIRST + 1]} << 16 | size_t{t[ZF_H_FIRST + 2]} << 8 |
                         t[ZF_H_FIRST + 3];
    std::vector<uint8_t> file(t.begin(), t.begin() + static_cast<long>(first + ZF_BLOCK_HEADER_SIZE));
    const size_t length = ZF_BLOCK_HEADER_SIZE + size;
    for (int k = 0; k < 4; ++k) {
        file[first + ZF_B_TAG + k] = static_cast<uint8_t>(tag[k]);
        file[first + ZF_B_LENGTH + k] = static_cast<uint8_t>(length >> (24 - 8 * k));
    }
    file[first + ZF_B_WIDTH] = static_cast<uint8_t>(width >> 8), file[first + ZF_B_WIDTH + 1] = static_cast<uint8_t>(width);
    file[first + ZF_B_HEIGHT] = static_cast<uint8_t>(height >> 8), file[first + ZF_B_HEIGHT + 1] = static_cast<uint8_t>(height);
    file.insert(file.end(), payload, payload + size);
    file.insert(file.end(), t.end() - 8, t.end());
    return file;
}

void read_all_blocks(const uint8_t *data, size_t size)
{
    zf_file *f = zf_open_memory(data, size);
    if (!f)
        return;
    zf_set_pixel_limit(f, kPixelLimit);
    zf_load_info(f);
    uint32_t *line = nullptr;
    int walked = 0;
    for (int r = zf_first_block(f); r > 0 && walked < 10000; r = zf_next_block(f), ++walked) {
        if (r != 1 || zf_begin_read(f) != 0)
            continue;
        const int width = static_cast<int16_t>(f->block[ZF_B_WIDTH] << 8 | f->block[ZF_B_WIDTH + 1]);
        volatile uint32_t sink = 0;
        while (zf_line(f, &line) >= 0)
            for (int x = 0; x < width; ++x)
                sink = sink ^ line[x];
    }
    zf_close(f);
}

} // namespace zfuzz
