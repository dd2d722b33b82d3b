// The FAL and IPR companion files.
#include "companion.h"

#include "names.h"

#include <cstdio>
#include <cstring>

FILE *open_companion(const char *name, const char *ext, const char *mode, char *path)
{
    char own[NAME_SIZE];
    if (!path)
        path = own;
    if (companion_name(path, name, ext) != 0)
        return nullptr;
    return std::fopen(path, mode);
}

int read_fal(const char *name, int *width, int *height, int *x, int *y)
{
    FILE *f = open_companion(name, EXT_FAL, "r");
    if (!f)
        return -1;
    char word[256];
    int n = -1;
    if (std::fscanf(f, "%255s", word) == 1 && std::strncmp(word, FAL_WORD, 12) == 0)
        n = std::fscanf(f, "%d %d %d %d", width, height, x, y);
    std::fclose(f);
    return n == 4 ? 0 : -1;
}

int read_ipr(const char *name, int *width, int *height, int *x, int *y)
{
    FILE *f = open_companion(name, EXT_IPR, "r");
    if (!f)
        return -1;
    int r = std::fscanf(f, "%d %d %d %d", width, height, x, y) == 4 ? 0 : -1;
    if (r != 0 && std::fscanf(f, "%d %d", x, y) == 2)
        r = 0;
    std::fclose(f);
    return r;
}

int print_fal(FILE *f, int width, int height, int x, int y)
{
    bool ok = std::fprintf(f, "%s\n", FAL_WORD) >= 0;
    ok = std::fprintf(f, "%5d%6d%6d%6d\n", width, height, x, y) >= 0 && ok;
    ok = std::fprintf(f, "%s\n", FAL_LAST_LINE) >= 0 && ok;
    return ok ? 0 : -1;
}

int print_ipr(FILE *f, int width, int height, int x, int y)
{
    return std::fprintf(f, "%d %d %d %d\n", width, height, x, y) >= 0 ? 0 : -1;
}

namespace {

int write_companion(const char *name, const char *ext, int (*print)(FILE *, int, int, int, int), int width,
                    int height, int x, int y)
{
    char path[NAME_SIZE];
    FILE *f = open_companion(name, ext, "w", path);
    if (!f)
        return -1;
    bool ok = print(f, width, height, x, y) == 0;
    ok = std::fclose(f) == 0 && ok; // buffered data meets a full disk here
    if (!ok) {
        std::remove(path);
        return -1;
    }
    return 0;
}

} // namespace

int write_fal(const char *name, int width, int height, int x, int y)
{
    return write_companion(name, EXT_FAL, print_fal, width, height, x, y);
}

int write_ipr(const char *name, int width, int height, int x, int y)
{
    return write_companion(name, EXT_IPR, print_ipr, width, height, x, y);
}
