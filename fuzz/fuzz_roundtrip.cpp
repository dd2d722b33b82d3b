// Random geometry, depth, coding and pixels: what is written must read
// back as the same pixels (in their pixel form).
#include "support.h"

#include "codec_run.h"

#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zfuzz::Input in{data, size};
    static const int depths[3] = {8, 15, 24};
    static const char *const tags[4] = {"ZFBI", "ZFBM", "ZFSF", "ZFSS"};
    const int depth = depths[in.byte() % 3];
    const char *tag = tags[in.byte() % 4];
    const size_t width = in.byte() % 200 + 1, height = in.byte() % 24 + 1;
    const unsigned palette_size = in.byte() % 8 + 1; // few colours: runs, links and cache hits
    std::vector<uint32_t> colours(palette_size);
    for (auto &c : colours)
        c = zt::masked(depth, (in.byte() << 16 | in.byte() << 8 | in.byte()) * 0x01010101u);
    zt::Image img(height, std::vector<uint32_t>(width));
    for (auto &row : img)
        for (auto &p : row) {
            const unsigned b = in.byte();
            p = b >= 0xF0 ? zt::masked(depth, b * 0x9E3779B9u) : colours[b % palette_size];
        }

    // written to memory (a descriptor without a name, truncated for each
    // input), every pass the coding asks for, each line call succeeding
    static const int fd = memfd_create("zefa-roundtrip", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0)
        std::abort();
    const zf_params params = zt::params(depth);
    if (!zt::write_blocks(zf_create_fd(fd, "", nullptr, "", 0, &params), {{0, 0, tag, img}}))
        __builtin_trap();
    const off_t length = lseek(fd, 0, SEEK_END);
    std::vector<uint8_t> file(static_cast<size_t>(length));
    if (pread(fd, file.data(), file.size(), 0) != length)
        std::abort();
    // read back from memory: one block of every line, then -2
    const zt::ReadBack r = zt::read_back(file);
    if (r.error || r.close || r.blocks.size() != 1 || r.blocks[0].lines != img || r.blocks[0].returns.back() != -2)
        __builtin_trap();
    return 0;
}
