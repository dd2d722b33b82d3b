// Random geometry, depth, coding and pixels: what is written must read
// back as the same pixels (in their pixel form).
#include "support.h"

#include "zefa.h"

#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zfuzz::Input in{data, size};
    static const int depths[3] = {8, 15, 24};
    static const char *const tags[4] = {"ZFBI", "ZFBM", "ZFSF", "ZFSS"};
    const int depth = depths[in.byte() % 3];
    const char *tag = tags[in.byte() % 4];
    const int width = static_cast<int>(in.byte() % 200) + 1;
    const int height = static_cast<int>(in.byte() % 24) + 1;
    const unsigned palette_size = in.byte() % 8 + 1; // few colours: runs, links and cache hits
    const uint32_t mask = depth == 8 ? 0xFF : depth == 15 ? 0xFFFE : 0xFFFFFF;
    std::vector<uint32_t> colours(palette_size);
    for (auto &c : colours)
        c = (in.byte() << 16 | in.byte() << 8 | in.byte()) * 0x01010101u & mask;
    std::vector<uint32_t> img(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (auto &p : img) {
        const unsigned b = in.byte();
        p = b >= 0xF0 ? (b * 0x9E3779B9u) & mask : colours[b % palette_size];
    }

    // written to memory: a descriptor without a name, truncated for each input
    static const int fd = memfd_create("zefa-roundtrip", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0)
        std::abort();
    zf_params params{};
    params.saver = "fuzz";
    params.depth = depth;
    params.max_width = params.max_height = -1;
    params.ratio_x = params.ratio_y = 1;
    if (depth == 8) {
        params.n_pal = 256;
        params.n_bits = 8;
    }
    zf_file *f = zf_create_fd(fd, "", nullptr, "", 0, &params);
    if (!f)
        __builtin_trap();
    uint32_t *line = nullptr;
    if (zf_begin_write(f, &line, 0, 0, width, height, tag, -1) != 0)
        __builtin_trap();
    for (int y = 0, r = 0, calls = 0; r != -2; ++calls) {
        if (calls > 2 * height)
            __builtin_trap();
        for (int x = 0; x < width; ++x)
            line[x] = img[static_cast<size_t>(y * width + x)];
        r = zf_line(f, &line);
        if (r == -1)
            __builtin_trap();
        y = r == 0 ? 0 : y + 1;
    }
    if (zf_close(f) != 0)
        __builtin_trap();

    const off_t length = lseek(fd, 0, SEEK_END);
    std::vector<uint8_t> file(static_cast<size_t>(length));
    if (pread(fd, file.data(), file.size(), 0) != length)
        std::abort();
    f = zf_open_memory(file.data(), file.size());
    if (!f || zf_first_block(f) != 1 || zf_begin_read(f) != 0)
        __builtin_trap();
    int y, lines = 0;
    while ((y = zf_line(f, &line)) >= 0) {
        for (int x = 0; x < width; ++x)
            if (line[x] != img[static_cast<size_t>(y * width + x)])
                __builtin_trap();
        ++lines;
    }
    if (y != -2 || lines != height)
        __builtin_trap();
    zf_close(f);
    return 0;
}
