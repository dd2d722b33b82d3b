// Finding files along directory lists: the current directory, then the
// list named after the file's extension (ZFENC.LOG: $LOG), then $PATH.
// Entries end at ';' or ':' (a drive letter's ':' stays in its entry); the
// last '/' or '\' seen in the list is the separator used to join names.
#include "path_search.h"

#include "names.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

constexpr std::size_t kMaxPath = 255;

bool is_drive_colon(const std::string &entry) { return entry.size() == 1 && std::isalpha(static_cast<unsigned char>(entry[0])); }

void set_found(char *found_dir, const std::string &dir)
{
    if (!found_dir)
        return;
    const std::size_t n = dir.size() < NAME_SIZE ? dir.size() : NAME_SIZE - 1;
    std::memcpy(found_dir, dir.data(), n);
    found_dir[n] = '\0';
}

// Tries one entry; returns true when the search ends (found, or failed).
bool try_entry(std::string entry, char sep, const char *name, const char *mode, char *found_dir, FILE **result)
{
    if (entry.size() + std::strlen(name) + 2 > kMaxPath) {
        set_found(found_dir, "");
        return true;
    }
    if (entry.back() != sep)
        entry += sep;
    std::string full = entry + name;
    for (char &c : full)
        if (c == '/' || c == '\\')
            c = sep;
    const std::string dir = entry.substr(0, entry.size() - 1);
    if (std::strcmp(mode, "s") == 0) {
        struct stat st{};
        if (::stat(full.c_str(), &st) == 0) {
            set_found(found_dir, dir);
            return true;
        }
        return false;
    }
    if (FILE *f = std::fopen(full.c_str(), mode)) {
        set_found(found_dir, dir);
        *result = f;
        return true;
    }
    return false;
}

} // namespace

FILE *search_path_list(const char *list, const char *name, const char *mode, char *found_dir)
{
    char sep = '/';
    std::string entry;
    FILE *result = nullptr;
    for (const char *p = list;; ++p) {
        const char c = *p;
        const bool ends = c == '\0' || c == ';' || (c == ':' && !is_drive_colon(entry));
        if (!ends) {
            if (c == '/' || c == '\\')
                sep = c;
            entry += c;
            continue;
        }
        if (!entry.empty()) {
            if (try_entry(entry, sep, name, mode, found_dir, &result))
                return result;
            entry.clear();
        }
        if (c == '\0')
            break;
    }
    set_found(found_dir, "");
    return nullptr;
}

FILE *open_on_path(const char *name, const char *mode, char *found_dir)
{
    const bool locate = std::strcmp(mode, "s") == 0;
    FILE *f = locate ? nullptr : std::fopen(name, mode);
    if (f)
        return f;
    if (name[0] == '\\' || name[0] == '.' || name[0] == '/' || (name[0] && name[1] == ':'))
        return nullptr;
    // The list variable named after the extension: ZFENC.LOG -> $LOG.
    const std::size_t len = std::strlen(name);
    for (std::size_t i = len < 2 ? 0 : len - 1; i >= 1 && name[i] != '\\'; --i) {
        if (name[i] != '.')
            continue;
        std::string var;
        for (std::size_t j = i + 1; j < len && var.size() < 3; ++j)
            var += static_cast<char>(std::toupper(static_cast<unsigned char>(name[j])));
        if (const char *list = var.empty() ? nullptr : std::getenv(var.c_str())) {
            FILE *r = search_path_list(list, name, mode, found_dir);
            if (r || (locate && found_dir && *found_dir))
                return r;
        }
        break;
    }
    if (const char *path = std::getenv("PATH"))
        return search_path_list(path, name, mode, found_dir);
    return nullptr;
}
