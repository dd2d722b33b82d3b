#include "failure.h"

#include "zefa.h"
#include "zf_console.h"

#include <cstdio>
#include <cstring>

void tell_failure_cause(const char *file)
{
    const int code = zf_errno;
    // the library has words of its own for these, and for its own codes
    const bool worded = code == 2 || code == 12 || code == 13 || code == 28 || code > 255 || code <= 0;
    if (!worded)
        console_printf(stderr, "(%s)\n", std::strerror(code));
    if (file)
        console_printf(stderr, "対象ﾌｧｲﾙ: %s\n", file);
    std::fflush(stderr);
}
