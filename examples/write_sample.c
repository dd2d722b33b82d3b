/*
 * write_sample - writes a small ZEFA file through the library, from C:
 * an 8-bit image with a 16-entry palette, a comment and two uncompressed
 * blocks side by side, then reads its header back.
 *
 *   write_sample OUTPUT.ZF
 */
#include "zefa.h"

#include <stdio.h>
#include <string.h>

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

static int fail(const char *name, const char *what)
{
    fprintf(stderr, "write_sample: %s: %s: %s\n", name, what, zf_strerror(zf_errno));
    return 1;
}

int main(int argc, char **argv)
{
    zf_params params;
    zf_info info;
    zf_file *f;
    int i;
    if (argc != 2) {
        fprintf(stderr, "usage: write_sample OUTPUT.ZF\n");
        return 2;
    }
    memset(&params, 0, sizeof params);
    params.saver = "write_sample 1.0";
    params.depth = 8;
    params.max_width = params.max_height = -1; /* from the blocks */
    params.ratio_x = params.ratio_y = 1;
    params.n_pal = 16;
    params.n_bits = 8;
    for (i = 0; i < 16; ++i) {
        params.palette[3 * i] = (unsigned char)(i * 17);
        params.palette[3 * i + 1] = (unsigned char)(255 - i * 17);
        params.palette[3 * i + 2] = (unsigned char)((i * 85) & 0xFF);
    }
    f = zf_create_with(argv[1], "A chequered sample", "Written through the library.\nTwo blocks, 16 colours.",
                       "zefa demo", 1, &params);
    if (!f)
        return fail(argv[1], "cannot create the sample");
    if (write_block(f, 0, "ZFBI", 0) != 0 || write_block(f, 32, "ZFBM", 8) != 0) {
        zf_close(f);
        return fail(argv[1], "cannot write a block");
    }
    if (zf_close(f) != 0)
        return fail(argv[1], "cannot finish the file");

    f = zf_open(argv[1]);
    if (!f || zf_get_info(f, &info) != 0)
        return fail(argv[1], "cannot read the sample back");
    printf("%s: \"%.30s\" by %.18s, %d x %d, %d bits, %d colours\n", argv[1], info.title, info.artist,
           info.max_width, info.max_height, info.depth, info.n_pal);
    zf_close(f);
    return 0;
}
