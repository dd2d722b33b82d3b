// cli.h - zfconv's command line: what it asks for, and the help text.
#ifndef ZEFA_ZFCONV_CLI_H
#define ZEFA_ZFCONV_CLI_H

#include "convert.h"

#include <string>
#include <vector>

namespace zfconv {

enum class Mode { help, version, convert, info };

struct Command {
    Mode mode = Mode::convert;
    std::vector<std::string> inputs; // "-": standard input
    std::string output;              // one input: the file, "-" for standard output
    std::string folder;              // -d: every output goes here
    bool has_to = false;             // --to given
    Target to = Target::png;
    int jobs = 0;                    // 0: one per online processor
    bool quiet = false;
    bool json = false;
    Options options;
};

// The command line after argument 0 (not the converter form, which main
// takes first).  False with a one-line message for a wrong command line.
bool parse_command(int argc, char **argv, Command &cmd, std::string &error);

// The target a single output gets: --to, else its extension (.ZF in any
// case: ZEFA), else PNG.  False when --to and the extension disagree.
bool single_target(const Command &cmd, Target &to, std::string &error);

extern const char kUsage[]; // the short form, for a wrong command line
extern const char kHelp[];

} // namespace zfconv

#endif
