// progress_line.h - a batch's progress on standard error: files done of
// the total, the rate and the time left, one line rewritten in place.
#ifndef ZEFA_ZFCONV_PROGRESS_LINE_H
#define ZEFA_ZFCONV_PROGRESS_LINE_H

#include <chrono>
#include <cstddef>
#include <string>

namespace zfconv {

class ProgressLine {
public:
    // Draws nothing at all unless `shown` (standard error is a terminal
    // and the user did not ask for quiet).
    ProgressLine(std::size_t total, bool shown);
    // Redraws with `done` files finished, at most ten times a second
    // unless the batch is complete.
    void update(std::size_t done);
    // Erases the line, so what follows starts on a clean one.
    void clear();

    // The line's text (without the terminal's controls) after `seconds`.
    static std::string text(std::size_t done, std::size_t total, double seconds);

private:
    using Clock = std::chrono::steady_clock;
    std::size_t total_;
    bool shown_;
    bool drawn_ = false;
    Clock::time_point start_ = Clock::now(), last_{};
};

} // namespace zfconv

#endif
