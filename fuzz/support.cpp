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

void read_all_blocks(const std::string &path)
{
    zf_file *f = zf_open(path.c_str());
    if (!f)
        return;
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
