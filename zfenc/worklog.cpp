// The work-number log ZFENC.LOG: one line per encoded file, the next work
// number from its last numbered line, and the title list made from it.
#include "worklog.h"

#include "names.h"
#include "path_search.h"
#include "settings.h"
#include "zf_console.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char kLogName[] = "ZFENC.LOG";
constexpr std::size_t kLineSize = 300;
constexpr int kRowsPerPage = 24;
constexpr int kRowsPerPause = 16;

// The title as logged: at most 30 bytes, cut at a character boundary and
// padded to the full 30 columns.
std::string logged_title(const char *title)
{
    std::string t = *title ? title : "unknown";
    t.resize(console_sjis_cut(t.data(), t.size(), TITLE_FIELD));
    t.append(TITLE_FIELD - t.size(), ' ');
    return t;
}

void print_list_header(bool formatter, int pages)
{
    if (!formatter) {
        std::puts("           <<ZEFA-Graphics data list>>");
        std::puts("+----+---------------+----------+--------------------------------+");
        std::puts("| No.|    FileName   | Bit/Mode |           Title                |");
        std::puts("+----+---------------+----------+--------------------------------+");
        return;
    }
    for (const char *l : {".so @pri.ntf", ".so @orm.ntf", ".printform A4 BUSY", ".ce 999", ".sp", ".at high"})
        std::puts(l);
    std::printf(".si ZEFA-Graphics data list(%d/%d)\n", 1, pages);
    for (const char *l : {".at normal", ".sp", ".table 4 r 15 l 10 r 30 l", ".colc No.", ".colc FileName",
                          ".colc Bit/Mode", ".colc Title"})
        std::puts(l);
}

void print_page_break(int page, int pages)
{
    for (const char *l : {".tableend", ".ce 0", ".bp", ".ce 999", ".sp", ".at high"})
        std::puts(l);
    std::printf(".si ZEFA-Graphics data list(%d/%d)\n", page, pages);
    for (const char *l : {".at normal", ".sp", ".table 4 r 15 l 10 r 30 l", ".colc No.", ".colc FileName",
                          ".colc Bit/Mode", ".colc Title"})
        std::puts(l);
}

} // namespace

int log_next_number()
{
    FILE *log = open_on_path(kLogName, "r", nullptr);
    if (!log)
        return 1;
    int n = 1;
    char line[kLineSize];
    while (std::fgets(line, sizeof line, log)) {
        const char *p = line;
        while (std::isspace(static_cast<unsigned char>(*p)))
            ++p;
        const char *digits = p + (*p == '+' || *p == '-');
        if (std::isdigit(static_cast<unsigned char>(*digits)))
            n = static_cast<int>(std::strtol(p, nullptr, 10));
    }
    std::fclose(log);
    return n == 0 ? 0 : n + 1;
}

bool log_append()
{
    // The log lives beside the program: the folder where "zfenc" is found
    // along $EXE, then $PATH; the current directory when it is not found.
    char dir[NAME_SIZE] = "";
    for (const char *var : {"EXE", "PATH"}) {
        const char *list = std::getenv(var);
        if (list && search_path_list(list, "zfenc", "s", dir) == nullptr && dir[0])
            break;
    }
    const std::string name = dir[0] ? std::string(dir) + "/" + kLogName : std::string(kLogName);
    FILE *log = std::fopen(name.c_str(), "a");
    bool ok = log != nullptr;
    if (log) {
        ok = std::fprintf(log, "%04d %-20.20s %s %d %s\n", settings.work_number,
                          name_without_drive(settings.output_name).c_str(), logged_title(settings.title).c_str(),
                          settings.depth, settings.tag) > 0;
        ok = (std::fclose(log) == 0) && ok;
    }
    if (!ok)
        console_printf(stderr, "\n警告: ﾛｸﾞﾌｧｲﾙ %s に書き込めません\n", name.c_str());
    return ok;
}

void print_title_list()
{
    const bool formatter = settings.list_formatter;
    const int pages = settings.work_number <= 1 ? 1 : (settings.work_number + 22) / kRowsPerPage;
    FILE *log = open_on_path(kLogName, "r", nullptr);
    if (!log)
        return;
    print_list_header(formatter, pages);
    char line[kLineSize];
    int rows = 0, page = 1, on_page = 0;
    while (std::fgets(line, sizeof line, log)) {
        int number = 0;
        char name[24] = "";
        std::sscanf(line, "%d %23s", &number, name);
        std::string title;
        if (std::strlen(line) > 26) {
            char *lf = std::strchr(line + 26, '\n');
            if (lf)
                *lf = '\0';
            title.assign(line + 26, std::min<std::size_t>(std::strlen(line + 26), TITLE_FIELD));
        }
        int depth = 0;
        char tag[8] = "";
        if (title.size() == TITLE_FIELD && std::sscanf(line + 56, "%d %7s", &depth, tag) < 1)
            depth = 0;
        if (formatter) {
            if (on_page == kRowsPerPage) {
                print_page_break(++page, pages);
                on_page = 0;
            }
            std::printf(".row %d %s\n", number, name);
            if (depth != 0)
                console_printf_sjis(stdout, ".col %d/%s\n", depth, tag);
            else
                std::puts(".colc --------");
            console_printf_sjis(stdout, ".col %s\n", title.c_str());
            ++on_page;
        } else {
            if (depth != 0)
                console_printf_sjis(stdout, "|%4d| %-13.13s |  %2d/%4s | %-30.30s |\n", number, name, depth, tag,
                                title.c_str());
            else
                console_printf_sjis(stdout, "|%4d| %-13.13s | -------- | %-30.30s |\n", number, name, title.c_str());
            if (++rows % kRowsPerPause == 0) {
                std::fflush(stdout);
                console_printf(stderr, "-- hit any key --");
                console_wait_key();
                console_printf(stderr, "%17s\r", "");
            }
        }
    }
    if (formatter) {
        std::puts(".tableend");
        std::puts(".ce 0");
    } else {
        std::puts("+----+---------------+----------+--------------------------------+");
    }
    std::fclose(log);
}
