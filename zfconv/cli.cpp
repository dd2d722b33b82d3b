// The command line, parsed with getopt_long: options may come before,
// between or after the names, and "--" ends them.
#include "cli.h"
#include "files.h"

#include "zefa.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <strings.h>

namespace zfconv {

const char kUsage[] =
    "usage: zfconv [OPTION...] INPUT OUTPUT\n"
    "       zfconv [OPTION...] -o OUTPUT INPUT\n"
    "       zfconv [OPTION...] -d FOLDER INPUT...\n"
    "       zfconv --info [--json] FILE...\n"
    "       zfconv DJ505JC INPUT OUTPUT.DJP\n"
    "Try 'zfconv --help' for the options and examples.\n";

const char kHelp[] =
    "usage: zfconv [OPTION...] INPUT OUTPUT\n"
    "       zfconv [OPTION...] -o OUTPUT INPUT\n"
    "       zfconv [OPTION...] -d FOLDER INPUT...\n"
    "       zfconv --info [--json] FILE...\n"
    "       zfconv DJ505JC INPUT OUTPUT.DJP\n"
    "\n"
    "Turns ZEFA files into PNG files that keep their header, and pictures (PNG,\n"
    "GIF, TIFF, JPEG, BMP, DJP, raw RGB with its .FAL or .IPR) into ZEFA files;\n"
    "a PNG made from a ZEFA file gives that file back.  The format of an input is\n"
    "told from its content, never from its name.  An OUTPUT ending in .ZF (any\n"
    "case) gets a ZEFA file, any other a PNG file, unless --to says.  \"-\" as\n"
    "INPUT reads standard input, as OUTPUT writes standard output.\n"
    "\n"
    "outputs:\n"
    "  -o, --output=FILE     the output of the one INPUT\n"
    "  -d, --directory=DIR   an output in DIR (made when missing) for every INPUT,\n"
    "                        under the input's name with .png or .ZF\n"
    "      --to=png|zf       the format of every output; without it -d makes PNG\n"
    "                        files of ZEFA files and ZEFA files of the others\n"
    "  -j, --jobs=N          N conversions at a time (default: one per processor)\n"
    "  -q, --quiet           no progress line, no summary, no notes; failures and\n"
    "                        what is dropped are told\n"
    "PNG output:\n"
    "      --square          resample a file whose pixels are not square (the PNG\n"
    "                        is then a view that cannot give the file back)\n"
    "      --no-restore      leave out the private chunk that gives the ZEFA file\n"
    "                        back (a smaller PNG, made faster, with no way back)\n"
    "ZEFA output:\n"
    "      --depth=8|15|24   colour depth (default: what the picture holds without\n"
    "                        loss, of 8 and 24 bits the smaller file; a PNG made\n"
    "                        from a ZEFA file: that file's)\n"
    "      --coding=none|fast|optimizing\n"
    "                        block coding (default: fast; a PNG made from a ZEFA\n"
    "                        file: each block's own)\n"
    "      --title=TEXT, --artist=TEXT, --comment=FILE\n"
    "                        header texts (default: the PNG's texts)\n"
    "      --text-fallback=question\n"
    "                        store '?' for characters of a text that Shift-JIS\n"
    "                        lacks (default: refuse such a text)\n"
    "      --ratio=X:Y       pixel ratio, a pixel's width to its height (default:\n"
    "                        the PNG's pixel shape, else 1:1)\n"
    "      --verify          decode what was made and compare it with the picture\n"
    "pictures:\n"
    "      --background=COLOUR\n"
    "                        composite transparent pixels over COLOUR (#RRGGBB,\n"
    "                        white or black); without it they keep the colours\n"
    "                        stored under them and the transparency is dropped\n"
    "      --frame=N         the Nth frame of an animated GIF, as shown after the\n"
    "                        frames before it (default: the first)\n"
    "      --lossless        refuse a conversion that would drop anything (alpha,\n"
    "                        16-bit samples, other frames, colour precision)\n"
    "information:\n"
    "      --info            each file's header and blocks, and whether each block\n"
    "                        decodes\n"
    "      --json            the same as JSON, one document per file and line\n"
    "  -h, --help            this text\n"
    "      --                the end of the options: every later argument is a name\n"
    "      --version         the program's version\n"
    "\n"
    "The converter form writes a GIF, PNG, TIFF, JPEG or BMP picture as a DJP\n"
    "file: palette pictures as type 0, grey as type 8, others as type 24.  zfenc\n"
    "starts it under the names TIF_CONV.EXE, GIF_CONV.EXE, BMP_CONV.EXE,\n"
    "PNG_CONV.EXE and JPG_CONV.EXE.\n"
    "\n"
    "Whatever a conversion drops (transparency, 16-bit samples, the other frames\n"
    "of an animation, colour precision) is told in a line naming the file; an\n"
    "orientation tag is applied as viewers apply it, and told.\n"
    "\n"
    "Exit status: 0 when every file was converted, 1 otherwise, 2 for a wrong\n"
    "command line.  A damaged ZEFA file gives a PNG of every line that decodes,\n"
    "the rest transparent, and status 1.\n"
    "\n"
    "examples:\n"
    "  zfconv photo.ZF photo.png        a ZEFA file as PNG\n"
    "  zfconv photo.png photo.ZF        and back\n"
    "  zfconv -d png/ *.ZF              a folder of ZEFA files as PNG, on every core\n"
    "  zfconv -d zf/ png/*.png          and back\n"
    "  zfconv --to zf -o scan.ZF --depth=8 --coding=optimizing scan.gif\n"
    "  zfconv - - <photo.ZF >photo.png  standard input to standard output\n"
    "  zfconv --info photo.ZF\n"
    "  zfconv --json *.ZF | jq -r '[.file, .title] | @tsv'\n";

namespace {

enum LongOnly {
    kTo = 256, kInfo, kJson, kSquare, kDepth, kCoding, kTitle, kArtist, kComment, kRatio, kVerify, kVersion,
    kBackground, kFrame, kLossless, kTextFallback, kNoRestore
};

const option kOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"directory", required_argument, nullptr, 'd'},
    {"to", required_argument, nullptr, kTo},
    {"jobs", required_argument, nullptr, 'j'},
    {"quiet", no_argument, nullptr, 'q'},
    {"square", no_argument, nullptr, kSquare},
    {"no-restore", no_argument, nullptr, kNoRestore},
    {"depth", required_argument, nullptr, kDepth},
    {"coding", required_argument, nullptr, kCoding},
    {"title", required_argument, nullptr, kTitle},
    {"artist", required_argument, nullptr, kArtist},
    {"comment", required_argument, nullptr, kComment},
    {"ratio", required_argument, nullptr, kRatio},
    {"text-fallback", required_argument, nullptr, kTextFallback},
    {"verify", no_argument, nullptr, kVerify},
    {"background", required_argument, nullptr, kBackground},
    {"frame", required_argument, nullptr, kFrame},
    {"lossless", no_argument, nullptr, kLossless},
    {"info", no_argument, nullptr, kInfo},
    {"json", no_argument, nullptr, kJson},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

// A whole decimal number within [low, high].
bool number(const char *text, long low, long high, int &out)
{
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high)
        return false;
    out = static_cast<int>(v);
    return true;
}

// #RRGGBB (the '#' optional), white or black.
bool colour_named(const char *text, uint32_t &colour)
{
    if (strcasecmp(text, "white") == 0 || strcasecmp(text, "black") == 0) {
        colour = strcasecmp(text, "white") == 0 ? 0xFFFFFF : 0;
        return true;
    }
    if (*text == '#')
        ++text;
    if (std::strlen(text) != 6 || std::strspn(text, "0123456789abcdefABCDEF") != 6)
        return false;
    colour = static_cast<uint32_t>(std::strtoul(text, nullptr, 16));
    return true;
}

bool target_named(const char *text, Target &to)
{
    if (strcasecmp(text, "png") == 0)
        to = Target::png;
    else if (strcasecmp(text, "zf") == 0 || strcasecmp(text, "zefa") == 0)
        to = Target::zefa;
    else
        return false;
    return true;
}

bool ends_with(const std::string &name, const char *ext)
{
    const std::size_t n = std::strlen(ext);
    return name.size() > n && strcasecmp(name.c_str() + name.size() - n, ext) == 0;
}

// The option as the user wrote it, for messages.
std::string spelled(int c, int index)
{
    return index >= 0 ? std::string("--") + kOptions[index].name : std::string("-") + static_cast<char>(c);
}

// getopt_long's complaint as a message: optopt is the option (its value for
// a long one), 0 for an unknown long option.
std::string refusal(const char *arg)
{
    const std::string as_typed = std::string(arg).substr(0, std::string(arg).find('='));
    if (optopt == 0)
        return "unknown option " + as_typed;
    if (optopt < 256 && !std::strchr("odjqh", optopt))
        return std::string("unknown option -") + static_cast<char>(optopt);
    for (const option &o : kOptions)
        if (o.name && o.val == optopt && o.has_arg == no_argument)
            return "option " + as_typed + " takes no value";
    return "option " + as_typed + " needs a value";
}

// -o and -d take their name as the next argument: "-dash.gif" is more
// likely a file than -d with the folder "ash.gif", and a guess would make
// the folder.
std::string attached(const char *arg, int c, const char *value)
{
    return std::string(arg) + ": -" + static_cast<char>(c) + " takes its " + (c == 'd' ? "folder" : "file") +
           " as the next argument (-" + static_cast<char>(c) + " " + value + "); a file named " + arg +
           " goes after -- or as ./" + arg;
}

bool option_value(int c, int index, const char *arg, Command &cmd, std::string &error)
{
    Options &o = cmd.options;
    const auto wrong = [&](const char *want) {
        error = "option " + spelled(c, index) + " takes " + want + ", not '" + arg + "'";
        return false;
    };
    if (*arg == '\0' && (c == 'o' || c == 'd'))
        return wrong("a name");
    switch (c) {
    case 'o': cmd.output = arg; break;
    case 'd': cmd.folder = arg; break;
    case kTo:
        if (!target_named(arg, cmd.to))
            return wrong("png or zf");
        cmd.has_to = true;
        break;
    case 'j':
        if (!number(arg, 1, 4096, cmd.jobs))
            return wrong("a number from 1 to 4096");
        break;
    case kDepth:
        if (!number(arg, 8, 24, o.depth) || (o.depth != 8 && o.depth != 15 && o.depth != 24))
            return wrong("8, 15 or 24");
        break;
    case kCoding:
        if (std::strcmp(arg, "none") != 0 && std::strcmp(arg, "fast") != 0 && std::strcmp(arg, "optimizing") != 0)
            return wrong("none, fast or optimizing");
        o.coding = arg;
        break;
    case kTitle:
        o.has_title = true;
        o.title = arg;
        break;
    case kArtist:
        o.has_artist = true;
        o.artist = arg;
        break;
    case kComment: { // a comment has lines: it comes from a file
        Bytes text;
        std::string why;
        if (!read_input(arg, text, why)) {
            error = "option --comment: " + std::string(arg) + ": " + why;
            return false;
        }
        o.has_comment = true;
        o.comment.assign(text.begin(), text.end());
        break;
    }
    case kTextFallback:
        if (std::strcmp(arg, "question") != 0)
            return wrong("question");
        o.text_fallback = ZF_TEXT_QUESTION;
        break;
    case kBackground:
        if (!colour_named(arg, o.background))
            return wrong("#RRGGBB, white or black");
        o.has_background = true;
        break;
    case kFrame:
        if (!number(arg, 1, 65535, o.frame))
            return wrong("a frame number from 1");
        break;
    case kRatio: {
        const char *colon = std::strchr(arg, ':');
        if (!colon || !number(std::string(arg, colon).c_str(), 1, 32767, o.ratio_x) ||
            !number(colon + 1, 1, 32767, o.ratio_y))
            return wrong("X:Y, two numbers from 1 to 32767");
        break;
    }
    default: break;
    }
    return true;
}

// What the names and options together ask for.
bool check_shape(Command &cmd, bool info, std::string &error)
{
    const bool single = !cmd.output.empty();
    const bool batch = !cmd.folder.empty();
    if (cmd.inputs.empty()) {
        error = "no input given";
        return false;
    }
    if (info) {
        if (single || batch || cmd.has_to) {
            error = "--info and --json print, they take no output";
            return false;
        }
        cmd.mode = Mode::info;
        return true;
    }
    if (single && batch) {
        error = "-o names the output of one input and -d a folder for many: give one of them";
        return false;
    }
    if (batch) {
        for (const std::string &in : cmd.inputs)
            if (in == "-") {
                error = "-d makes names from the inputs' names; standard input has none (use -o)";
                return false;
            }
        return true;
    }
    if (!single && cmd.inputs.size() == 2) { // INPUT OUTPUT
        cmd.output = cmd.inputs.back();
        cmd.inputs.pop_back();
    }
    if (cmd.output.empty()) {
        error = "no output given: name it after the input, or use -o FILE or -d FOLDER";
        return false;
    }
    if (cmd.inputs.size() > 1) {
        error = std::to_string(cmd.inputs.size()) + " inputs for one output: use -d FOLDER for many";
        return false;
    }
    Target ignored;
    return single_target(cmd, ignored, error);
}

} // namespace

bool single_target(const Command &cmd, Target &to, std::string &error)
{
    const bool zf = ends_with(cmd.output, ".zf"), png = ends_with(cmd.output, ".png");
    if (cmd.has_to && ((zf && cmd.to != Target::zefa) || (png && cmd.to != Target::png))) {
        error = "--to " + std::string(cmd.to == Target::png ? "png" : "zf") + " and the output's name " + cmd.output +
                " disagree";
        return false;
    }
    to = cmd.has_to ? cmd.to : zf ? Target::zefa : Target::png;
    return true;
}

bool parse_command(int argc, char **argv, Command &cmd, std::string &error)
{
    bool info = false;
    opterr = 0;
    optind = 0; // getopt starts afresh
    for (;;) {
        int index = -1;
        const int c = getopt_long(argc, argv, "o:d:j:qh", kOptions, &index);
        if (c == -1)
            break;
        switch (c) {
        case 'h': cmd.mode = Mode::help; return true;
        case kVersion: cmd.mode = Mode::version; return true;
        case 'q': cmd.quiet = true; break;
        case kSquare: cmd.options.square = true; break;
        case kNoRestore: cmd.options.archive = false; break;
        case kVerify: cmd.options.verify = true; break;
        case kLossless: cmd.options.lossless = true; break;
        case kInfo: info = true; break;
        case kJson: info = cmd.json = true; break;
        case '?':
            error = refusal(argv[optind - 1]);
            return false;
        default:
            if ((c == 'o' || c == 'd') && index < 0 && optarg != argv[optind - 1]) {
                error = attached(argv[optind - 1], c, optarg);
                return false;
            }
            if (!option_value(c, index, optarg, cmd, error))
                return false;
            break;
        }
    }
    for (int i = optind; i < argc; ++i)
        cmd.inputs.emplace_back(argv[i]);
    return check_shape(cmd, info, error);
}

} // namespace zfconv
