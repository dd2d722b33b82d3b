/*
 * write_sample - writes a small ZEFA file through the library, from C:
 * an 8-bit image with a 16-entry palette, a comment and two uncompressed
 * blocks side by side, then prints its header with zf_show_file.
 *
 *   write_sample OUTPUT.ZF
 */
#include "zefa.h"

#include <stdio.h>

static int write_block(zf_file *f, int x, const char *tag, int shift)
{
    uint32_t *line = NULL;
    int width = 32, height = 24, y, i, r = 0;
    if (zf_begin_write(f, &line, x, 0, width, height, tag, -1) != 0)
        return -1;
    for (y = 0; y < height; ++y) {
        for (i = 0; i < width; ++i)
            line[i] = (uint32_t)(((i / 4) + (y / 4) + shift) % 16);
        r = zf_line(f, &line);
        if (r == -1)
            return -1;
    }
    return r == -2 ? 0 : -1;
}

int main(int argc, char **argv)
{
    unsigned char palette[3 * 16];
    zf_file *f;
    int i;
    if (argc != 2) {
        fprintf(stderr, "usage: write_sample OUTPUT.ZF\n");
        return 2;
    }
    for (i = 0; i < 16; ++i) {
        palette[3 * i] = (unsigned char)(i * 17);
        palette[3 * i + 1] = (unsigned char)(255 - i * 17);
        palette[3 * i + 2] = (unsigned char)((i * 85) & 0xFF);
    }
    zf_set_info("write_sample 1.0", 8, -1, -1, 1, 1, 0);
    zf_set_palette(16, 8, palette);
    f = zf_create(argv[1], "A chequered sample", "Written through the library.\nTwo blocks, 16 colours.",
                  "zefa demo", 1);
    if (!f) {
        zf_print_error("cannot create the sample");
        return 1;
    }
    if (write_block(f, 0, "ZFBI", 0) != 0 || write_block(f, 32, "ZFBM", 8) != 0) {
        zf_print_error("cannot write a block");
        zf_close(f);
        return 1;
    }
    if (zf_close(f) != 0) {
        zf_print_error("");
        return 1;
    }
    zf_show_file(argv[1]);
    return 0;
}
