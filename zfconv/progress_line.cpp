#include "progress_line.h"

#include <cstdio>

namespace zfconv {
namespace {

std::string duration(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

} // namespace

ProgressLine::ProgressLine(std::size_t total, bool shown) : total_(total), shown_(shown) {}

std::string ProgressLine::text(std::size_t done, std::size_t total, double seconds)
{
    char buf[128];
    int n = std::snprintf(buf, sizeof buf, "zfconv: %zu/%zu files", done, total);
    if (done > 0 && seconds > 0) {
        const double rate = static_cast<double>(done) / seconds;
        n += std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), rate < 10 ? ", %.1f files/s" : ", %.0f files/s", rate);
        if (done < total)
            std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), ", %s left",
                          duration(static_cast<double>(total - done) / rate).c_str());
    }
    return buf;
}

void ProgressLine::update(std::size_t done)
{
    if (!shown_)
        return;
    const Clock::time_point now = Clock::now();
    if (drawn_ && done < total_ && now - last_ < std::chrono::milliseconds(100))
        return;
    last_ = now;
    drawn_ = true;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    // \r returns to the line's start, ESC [K erases what a longer line left
    std::fprintf(stderr, "\r%s\033[K", text(done, total_, seconds).c_str());
    std::fflush(stderr);
}

void ProgressLine::clear()
{
    if (drawn_)
        std::fputs("\r\033[K", stderr);
    drawn_ = false;
}

} // namespace zfconv
