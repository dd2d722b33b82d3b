// --help and --version.
#include "long_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void answer_long_options(int argc, char **argv, const char *help, const char *program, const char *version)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(help, stdout);
            std::exit(0);
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s (ZEFA tools for Linux)\n", program, version);
            std::exit(0);
        }
    }
}
