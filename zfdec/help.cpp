// --help and --version: English texts for newcomers, apart from the
// system's own usage text (printed when no argument is given).
#include "decoder.h"
#include "long_options.h"

namespace {

const char kHelp[] =
    "usage: zfdec [options] INPUT[.ZF] [OUTPUT[.RGB]] [options]\n"
    "       zfdec DJ505J INPUT OUTPUT.DJP [-wW,H] [-h]\n"
    "       zfdec DJ505JM INPUT OUTPUT.DJP [-wW,H]\n"
    "Decodes a ZEFA file into raw RGB files: OUTPUT (default INPUT with .RGB) for\n"
    "the first block, ZFDEC001.RGB, ZFDEC002.RGB ... beside it for further blocks,\n"
    "each with a .FAL (or .IPR) file giving its size and position.\n"
    "With DJ505J first, the first block becomes a DJP file instead (DJ505JM: grey).\n"
    "\n"
    "options (letters in either case):\n"
    "  -i        show the header in full, decode nothing\n"
    "  -p0, -p   companion files in FAL form (the default)\n"
    "  -p1       companion files in IPR form\n"
    "  -wW,H     DJP output reduced to at most W x H pixels\n"
    "  -h        DJP output always as 24-bit colour\n"
    "  -q        exit status = pixel ratio x * 16 + y;  -q1: x / y * 100\n"
    "  --        the end of the options: every later argument is a name\n"
    "            (zfdec -- -photo.ZF out)\n"
    "  --help    this text;  --version  the version\n"
    "(-h, -q and -w are not in the usage text.)\n"
    "\n"
    "ESC stops the decode and removes the unfinished output.  Exit status: 0 done,\n"
    "1 an error was reported (for -q: the answer, 255 when the file cannot be read).\n"
    "To see the picture, convert it to PNG: zfconv INPUT.ZF picture.png\n"
    "\n"
    "examples:\n"
    "  zfdec photo                         photo.ZF -> photo.RGB + photo.FAL\n"
    "  zfdec -i photo                      the header\n"
    "  zfdec DJ505JM photo p.DJP -w320,200 a grey DJP of at most 320 x 200\n";

} // namespace

void handle_long_options(int argc, char **argv) { answer_long_options(argc, argv, kHelp, "zfdec", ZEFA_VERSION); }
