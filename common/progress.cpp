// The one-line progress bar on standard error.
#include "progress.h"

#include <cstdio>

namespace {
bool short_mode = true;
int lines_per_mark = 0;
int countdown = 0;
} // namespace

int progress_start(int lines)
{
    const int steps = (lines + 15) >> 4;
    short_mode = steps <= 1;
    if (!short_mode)
        lines_per_mark = (lines + 19) / 20;
    progress_bar(steps);
    return steps;
}

void progress_bar(int steps)
{
    countdown = 0;
    if (short_mode) {
        for (int i = 0; i < steps; ++i)
            std::fputc('.', stderr);
        for (int i = 0; i < steps; ++i)
            std::fputc('\b', stderr);
    } else {
        std::fprintf(stderr, "0%% ");
        for (int i = 0; i < 20; ++i)
            std::fputc('.', stderr);
        std::fprintf(stderr, " 100%%");
        for (int i = 0; i < 24; ++i)
            std::fputc('\b', stderr);
    }
}

void progress_step(int n)
{
    if (short_mode) {
        if ((n & 15) == 0)
            std::fputc(' ', stderr);
        return;
    }
    if (countdown == 0) {
        std::fputs("\b*>", stderr);
        countdown = lines_per_mark;
        if (countdown == 0)
            return;
    }
    --countdown;
}

void progress_end()
{
    if (!short_mode)
        std::fputs("\b ", stderr);
}
