// The program texts in the user's language, through GNU gettext message
// catalogs of the domain "zefa".  The message ids are the system's own
// Japanese texts; when the locale asks for a language with a catalog
// (LANGUAGE, LC_ALL, LC_MESSAGES or LANG naming English, say), its text is
// used, otherwise the Japanese text stays as it is.
//
// Catalogs are looked for beside the running program first
// (<program folder>/../share/locale, which serves a build tree and any
// install prefix), then in the folder the build was configured for.
#include "zf_console.h"

#include <clocale>
#include <libintl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#ifndef ZEFA_LOCALEDIR
#define ZEFA_LOCALEDIR "/usr/local/share/locale"
#endif

namespace {

constexpr const char *kDomain = "zefa";

std::string catalog_folder()
{
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string dir(exe, static_cast<std::size_t>(n));
        dir = dir.substr(0, dir.rfind('/'));
        const std::string near = dir + "/../share/locale";
        struct stat st {};
        if (stat(near.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return near;
    }
    return ZEFA_LOCALEDIR;
}

void set_up()
{
    // Only the messages category: character handling stays as it was.
    std::setlocale(LC_MESSAGES, "");
    bindtextdomain(kDomain, catalog_folder().c_str());
    bind_textdomain_codeset(kDomain, "UTF-8"); // program texts are UTF-8
}

} // namespace

extern "C" const char *console_text(const char *program_text)
{
    static std::once_flag once;
    std::call_once(once, set_up);
    return program_text && *program_text ? dgettext(kDomain, program_text) : program_text;
}
