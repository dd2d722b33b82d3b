// --help and --version: English texts for newcomers, apart from the
// system's own usage text (printed when no argument is given).
#include "long_options.h"
#include "settings.h"

namespace {

const char kHelp[] =
    "usage: zfenc [options] INPUT [OUTPUT] [options]\n"
    "Encodes one picture into a ZEFA file (OUTPUT, default INPUT with .ZF).\n"
    "\n"
    "INPUT without an extension is INPUT.RGB (or INPUT.Q0 when that is missing\n"
    "or exactly 48 bytes long).  Raw RGB takes its size from INPUT.FAL, INPUT.IPR\n"
    "or INPUT.DJP beside it (else 640 x 400); .DJP and .GLM files are read\n"
    "directly; .TIF, .GIF, .BMP, .PNG and .JPG pictures go through the converter\n"
    "programs TIF_CONV.EXE ... (zfconv), found in the current folder, on PATH or\n"
    "beside zfenc.\n"
    "\n"
    "options (letters in either case, '/' may stand for '-'):\n"
    "  -m0, -m     15-bit colour (the default)\n"
    "  -m1         24-bit colour\n"
    "  -m2         8-bit palette colour (DJP palette or grey input only)\n"
    "  -2          optimizing two-pass coding (ZFSS)\n"
    "  -b          no compression (ZFBI, ZFBM at 24 bits); the default is the\n"
    "              fast coding (ZFSF); the last of -2 and -b wins\n"
    "  -aNAME      author (at most 18 bytes; default $ZEF_USER, $zef_user, $USER)\n"
    "  -c[FILE]    comment from FILE (default INPUT.DOC, extension .DOC); its first\n"
    "              line becomes the title\n"
    "  -ti         ask for the title on standard input\n"
    "  -tn         no title from the comment\n"
    "  -nNUMBER    work number (default: the next one in ZFENC.LOG)\n"
    "  -nh         work number 0, and no line in ZFENC.LOG\n"
    "  -tl, -tln   only list the titles in ZFENC.LOG (-tln: as formatter input)\n"
    "  -95         start converters with an empty argument 0\n"
    "  -ex         15-bit colour, no log line, and delete INPUT after a complete\n"
    "              encode (not in the usage text)\n"
    "  --          the end of the options: every later argument is a name, so\n"
    "              a path may begin with '/' or '-' (zfenc -m1 -- /tmp/pic.png)\n"
    "  --help      this text;  --version  the version\n"
    "\n"
    "ESC stops the encode and removes the unfinished output.  Exit status: 0 done\n"
    "(also after ESC), 1 an error was reported.\n"
    "\n"
    "examples:\n"
    "  zfenc photo -m1 -2            photo.RGB + photo.FAL -> photo.ZF, 24 bits, optimizing\n"
    "  zfenc scan.png scan -c -ti    through the PNG converter, comment and typed title\n"
    "  zfenc -tl                     the title list\n";

} // namespace

void handle_long_options(int argc, char **argv) { answer_long_options(argc, argv, kHelp, "zfenc", ZEFA_VERSION); }
