// list_blocks - opens a ZEFA file, walks its blocks and prints each
// block's tag, size and position: the library used from C++.
//
//   list_blocks FILE.ZF
#include "zefa.h"

#include <cstdio>
#include <memory>

namespace {

int s16(const unsigned char *p) { return static_cast<int16_t>(p[0] << 8 | p[1]); }

struct Closer {
    void operator()(zf_file *f) const { zf_close(f); }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: list_blocks FILE.ZF\n");
        return 2;
    }
    std::unique_ptr<zf_file, Closer> f(zf_open(argv[1]));
    if (!f) {
        std::fprintf(stderr, "list_blocks: %s: cannot be read as a ZEFA file (error %d)\n", argv[1], zf_errno);
        return 1;
    }
    std::printf("depth %d, image %d x %d\n", s16(f->header + ZF_H_DEPTH), s16(f->header + ZF_H_MAX_WIDTH),
                s16(f->header + ZF_H_MAX_HEIGHT));
    int n = 0;
    for (int r = zf_first_block(f.get()); r > 0; r = zf_next_block(f.get())) {
        const unsigned char *b = f->block;
        std::printf("block %d: %.4s %d x %d at %d,%d%s\n", n++, reinterpret_cast<const char *>(b + ZF_B_TAG),
                    s16(b + ZF_B_WIDTH), s16(b + ZF_B_HEIGHT), s16(b + ZF_B_X), s16(b + ZF_B_Y),
                    r == 2 ? " (a coding this library does not know)" : "");
    }
    return zf_errno == 0 || n > 0 ? 0 : 1;
}
