// The end of an encoder run.
#include "run.h"

#include "settings.h"

#include <cstdio>
#include <cstdlib>

removal_guard output_guard;
removal_guard temporary_guard;

void end_of_run()
{
    std::free(settings.comment);
    settings.comment = nullptr;
    temporary_guard.remove_now();
}

void fail_run()
{
    output_guard.remove_now();
    end_of_run();
    std::fflush(stdout);
    std::exit(1);
}
