// list_blocks - opens a ZEFA file, walks its blocks and prints each
// block's tag, size and position: the library used from C++.
//
//   list_blocks FILE.ZF
#include "zefa.hpp"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: list_blocks FILE.ZF\n");
        return 2;
    }
    zefa::Record f(zf_open(argv[1]));
    if (!f) {
        std::fprintf(stderr, "list_blocks: %s: %s\n", argv[1], zf_strerror(zf_errno));
        return 1;
    }
    zf_info info{};
    zf_get_info(f.get(), &info);
    std::printf("depth %d, image %d x %d\n", info.depth, info.max_width, info.max_height);
    int n = 0, r;
    for (r = zf_first_block(f.get()); r > 0; r = zf_next_block(f.get())) {
        zf_block b{};
        zf_get_block(f.get(), &b); // a block of an unknown coding has only its tag
        if (r == 2)
            std::printf("block %d: %s (a coding this library does not know)\n", n++, b.tag);
        else
            std::printf("block %d: %s %d x %d at %d,%d\n", n++, b.tag, b.width, b.height, b.x, b.y);
    }
    if (r < 0) {
        std::fprintf(stderr, "list_blocks: %s: %s\n", argv[1], zf_strerror(zf_errno));
        return 1;
    }
    return 0;
}
