// Showing a file's header and comment on the console.
#include "zefa.h"
#include "zf_console.h"

#include <cstdio>
#include <ctime>
#include <string>

namespace {

void pause_for_key(const char *prompt)
{
    std::fflush(stdout);
    console_printf(stderr, "%s", prompt);
    std::fflush(stderr);
    console_wait_key();
}

void show_details(const zf_info &info)
{
    const time_t t = static_cast<time_t>(info.time);
    struct tm tmv{};
    if (localtime_r(&t, &tmv))
        std::printf("Date Time        : %4d/%02d/%02d %02d:%02d:%02d\n", tmv.tm_year + 1900, tmv.tm_mon + 1,
                    tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
    else
        std::printf("Date Time        : %4d/%02d/%02d %02d:%02d:%02d\n", 1970, 1, 1, 0, 0, 0);
    std::printf("Number           : %d\n", info.number);
    // A hostile depth must not shift out of range: show 0 colours then.
    const long colours = (zf_depth >= 0 && zf_depth < 63) ? 1L << zf_depth : 0L;
    std::printf("Color bit depth  : %d bits (=%ld Colors)\n", zf_depth, colours);
    std::printf("Pixel ratio      : %d:%d\n", zf_ratio_x, zf_ratio_y);
    std::printf("Max image size   : %d x %d\n", zf_max_width, zf_max_height);
}

// Prints the comment line by line (each line converted for display as a
// whole), with the 16-line rule.  Returns false when it stopped early.
void show_comment(const char *comment, int mode)
{
    std::string line;
    int lines = 0;
    const char *p = comment;
    for (; *p; ++p) {
        const char c = *p;
        if (c == '\r' || c == 0x1A)
            continue;
        if (c != '\n') {
            line += c;
            continue;
        }
        line += '\n';
        console_write_sjis(stdout, line.data(), line.size());
        line.clear();
        if (++lines < 16)
            continue;
        const char after = p[1];
        if (after == '\r' || after == '\n' || after == '\0') {
            lines = 0;
        } else if (mode <= 1) {
            std::fflush(stdout);
            console_printf(stderr, "%s\n", "- includeing comment too long, left line skipped -");
            return;
        } else {
            pause_for_key("-- hit any key --");
            console_printf(stderr, "%17s\r", "");
            lines = 0;
        }
    }
    console_write_sjis(stdout, line.data(), line.size());
    const char last = p > comment ? p[-1] : '\0';
    if (last != '\r' && last != '\n')
        std::fputc('\n', stdout);
}

} // namespace

extern "C" {

void console_show_header(zf_file *f, int mode)
{
    zf_info info{};
    zf_get_info(f, &info);
    console_printf_sjis(stdout, "Artist           : %18.18s\n", info.artist);
    console_printf_sjis(stdout, "Subtitle         : %8.8s\n", info.subtitle);
    console_printf_sjis(stdout, "Title            : %30.30s\n", info.title);
    console_printf_sjis(stdout, "Saver/Encoder    : %30.30s\n", info.saver);
    if (mode >= 2)
        show_details(info);
    std::printf("User comment     : ");
    const char *comment = zf_get_comment(f);
    if (*comment == '\0') {
        std::printf("no comment string\n");
        std::fflush(stdout);
        return;
    }
    std::printf("\n");
    show_comment(comment, mode);
    std::fflush(stdout);
    if (mode == 2) {
        pause_for_key("-- Decode start, hit any key --");
        console_printf(stderr, "\r%35s\r", "");
    }
}

void console_show_file(const char *name)
{
    zf_file *f = zf_open(name);
    if (!f) {
        console_print_error(nullptr);
        return;
    }
    zf_load_info(f);
    console_show_header(f, 3);
    zf_close(f);
}

} // extern "C"
