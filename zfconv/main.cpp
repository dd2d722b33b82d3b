// zfconv - turns ZEFA files into PNG files and pictures into ZEFA files,
// one at a time or a folder's worth on every core; prints ZEFA headers
// for people and as JSON; and, in the converter form "DJ505JC INPUT
// OUTPUT.DJP" that zfenc starts under the names it looks for, turns
// pictures into DJP files.
#include "batch.h"
#include "cli.h"
#include "files.h"
#include "info.h"
#include "readers.h"
#include "writers.h"

#include "names.h"
#include "removal_guard.h"
#include "visible_text.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

using namespace zfconv;

constexpr const char *kVersion = "zfconv " ZEFA_VERSION " (ZEFA tools for Linux)";

int fail(const std::string &input, const std::string &message)
{
    std::fprintf(stderr, "zfconv: %s: %s\n", zfcon::visible_utf8(input).c_str(), zfcon::visible_utf8(message).c_str());
    return 1;
}

int to_djp(const char *input, const char *output)
{
    // writing it would destroy the input while it is read
    if (same_file(input, output))
        return fail(input, std::string("the output ") + output + " is the input file");
    Bytes data;
    Image img;
    std::string error;
    if (!read_input(input, data, error) || !read_image(data.data(), data.size(), img, error))
        return fail(input, error);
    settle_alpha(img, nullptr);
    if (!write_djp(output, img, error))
        return fail(input, error);
    for (const std::string &phrase : img.dropped)
        std::fprintf(stderr, "zfconv: %s: dropped: %s\n", input, phrase.c_str());
    for (const std::string &note : img.changed)
        std::fprintf(stderr, "zfconv: %s: %s\n", input, note.c_str());
    return 0;
}

int wrong_command_line(const std::string &message)
{
    std::fprintf(stderr, "zfconv: %s\nTry 'zfconv --help' for the options and examples.\n",
                 zfcon::visible_utf8(message).c_str());
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    // past a file size limit a write fails (EFBIG) and is told with the
    // file's name, instead of the signal ending every conversion at once
    std::signal(SIGXFSZ, SIG_IGN);
    if (argc == 4 && std::strncmp(argv[1], "DJ505J", 6) == 0) {
        remove_guarded_on_signal_thread();
        return to_djp(argv[2], argv[3]);
    }
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    Command cmd;
    std::string error;
    if (!parse_command(argc, argv, cmd, error))
        return wrong_command_line(error);
    switch (cmd.mode) {
    case Mode::help: std::fputs(kHelp, stdout); return 0;
    case Mode::version: std::puts(kVersion); return 0;
    case Mode::info: return print_info(cmd.inputs, cmd.json);
    case Mode::convert: break;
    }
    if (cmd.output == "-" && isatty(STDOUT_FILENO))
        return wrong_command_line("standard output is a terminal: send it to a file or a pipe");
    remove_guarded_on_signal_thread();
    return cmd.folder.empty() ? convert_single(cmd) : convert_batch(cmd);
}
