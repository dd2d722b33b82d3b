// File name rules shared by both tools.
#include "names.h"

#include <cstring>

bool name_has_extension(const char *name)
{
    const char *dot = std::strrchr(name, '.');
    return dot && dot[1] != '\0' && dot[1] != '\\' && dot[1] != '/';
}

int name_copy(char *field, const char *text)
{
    const std::size_t n = std::strlen(text);
    if (n > NAME_SIZE - 1) {
        field[0] = '\0';
        return -1;
    }
    std::memcpy(field, text, n + 1);
    return 0;
}

int name_add_default_extension(char *field, const char *ext)
{
    if (name_has_extension(field))
        return 0;
    const std::size_t n = std::strlen(field), e = std::strlen(ext);
    if (n + e > NAME_SIZE - 1)
        return -1;
    std::memcpy(field + n, ext, e + 1);
    return 0;
}

int companion_name(char *out, const char *name, const char *ext)
{
    const char *dot = std::strrchr(name, '.');
    const std::size_t stem = dot ? static_cast<std::size_t>(dot - name) : std::strlen(name);
    const std::size_t e = std::strlen(ext);
    if (stem + e > NAME_SIZE - 1) {
        out[0] = '\0';
        return -1;
    }
    std::memmove(out, name, stem);
    std::memcpy(out + stem, ext, e + 1);
    return 0;
}
