// long_options.h - --help and --version, the same in both tools.
#ifndef ZEFA_COMMON_LONG_OPTIONS_H
#define ZEFA_COMMON_LONG_OPTIONS_H

// --help or --version anywhere before "--" prints the help text, or the
// line "<program> <version> (ZEFA tools for Linux)", on standard output
// and ends the program with status 0.  Otherwise it returns.
void answer_long_options(int argc, char **argv, const char *help, const char *program, const char *version);

#endif
