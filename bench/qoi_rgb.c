/*
 * qoi_rgb - QOI encode and decode of raw RGB files, for bench/compare:
 *   qoi_rgb enc WIDTH HEIGHT IN.rgb OUT.qoi
 *   qoi_rgb dec IN.qoi OUT.rgb
 * Built over Debian's qoi.h (libqoi-dev).
 */
#define QOI_IMPLEMENTATION
#include <qoi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void *read_all(const char *path, size_t *size)
{
    FILE *f = fopen(path, "rb");
    void *data;
    long n;
    if (!f)
        return NULL;
    fseek(f, 0, SEEK_END);
    n = ftell(f);
    fseek(f, 0, SEEK_SET);
    data = malloc((size_t)n + 1);
    if (data && fread(data, 1, (size_t)n, f) != (size_t)n) {
        free(data);
        data = NULL;
    }
    fclose(f);
    *size = (size_t)n;
    return data;
}

int main(int argc, char **argv)
{
    size_t size = 0;
    if (argc == 6 && strcmp(argv[1], "enc") == 0) {
        qoi_desc desc;
        void *rgb = read_all(argv[4], &size);
        if (!rgb)
            return 1;
        desc.width = (unsigned)atoi(argv[2]);
        desc.height = (unsigned)atoi(argv[3]);
        desc.channels = 3;
        desc.colorspace = QOI_SRGB;
        return qoi_write(argv[5], rgb, &desc) > 0 ? 0 : 1;
    }
    if (argc == 4 && strcmp(argv[1], "dec") == 0) {
        qoi_desc desc;
        void *rgb = qoi_read(argv[2], &desc, 3);
        FILE *out;
        if (!rgb)
            return 1;
        out = fopen(argv[3], "wb");
        if (!out)
            return 1;
        fwrite(rgb, 1, (size_t)desc.width * desc.height * 3, out);
        return fclose(out) == 0 ? 0 : 1;
    }
    fprintf(stderr, "usage: qoi_rgb enc W H IN.rgb OUT.qoi | qoi_rgb dec IN.qoi OUT.rgb\n");
    return 2;
}
