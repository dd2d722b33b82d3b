// File name rules shared by both tools.
#include "names.h"

#include <cstring>
#include <sys/stat.h>

namespace {

// The last '.' of the name's last part (after its last '/' or '\\'), or
// null: a '.' in a folder's name is no extension.
const char *extension_dot(const char *name)
{
    const char *dot = std::strrchr(name, '.');
    if (!dot || std::strpbrk(dot, "/\\"))
        return nullptr;
    return dot;
}

} // namespace

bool name_has_extension(const char *name)
{
    const char *dot = extension_dot(name);
    return dot && dot[1] != '\0';
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
    const char *dot = extension_dot(name);
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

std::string name_up_to_last_dot(const std::string &name)
{
    const char *dot = extension_dot(name.c_str());
    return dot ? name.substr(0, static_cast<std::size_t>(dot - name.c_str())) : name;
}

std::string name_without_drive(const char *name)
{
    std::string s = name;
    const auto colon = s.rfind(':');
    if (colon == std::string::npos)
        return s;
    s.erase(0, colon + 1);
    const auto back = s.rfind('\\');
    if (back != std::string::npos)
        s.erase(0, back + 1);
    return s;
}

std::string name_default_output(const char *input) { return name_up_to_last_dot(name_without_drive(input)); }

bool same_file(const char *a, const char *b)
{
    struct stat sa {}, sb {};
    return ::stat(a, &sa) == 0 && ::stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void take_name(char *field, const char *text, name_refusal refuse)
{
    if (name_copy(field, text) != 0)
        refuse(text);
}

void add_extension(char *field, const char *ext, name_refusal refuse)
{
    if (name_add_default_extension(field, ext) != 0)
        refuse(field);
}

bool names_device_or_pipe(const char *name)
{
    struct stat st {};
    return ::stat(name, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

void add_output_extension(char *field, const char *ext, name_refusal refuse)
{
    if (!names_device_or_pipe(field))
        add_extension(field, ext, refuse);
}
