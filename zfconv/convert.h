// convert.h - one conversion of zfconv, from bytes to bytes: what the
// command line (one file, a batch on every core, standard streams) calls
// for each input.  Touches no file but the companions a raw RGB input
// names, and is safe to call from many threads at once.
//
// ZEFA -> PNG keeps everything: the header's texts as iTXt (Title, Author,
// Comment, Software, Creation Time, ZEFA Subtitle, ZEFA Number; Shift-JIS
// that does not convert is written \xHH, see sjis_text.h), its time as
// tIME, the pixel ratio as pHYs, and the private chunk of archive.h, from
// which PNG -> ZEFA gives the original file back byte for byte while the
// pixels are unchanged, and its header with the new pixels when they are
// not.
#ifndef ZEFA_ZFCONV_CONVERT_H
#define ZEFA_ZFCONV_CONVERT_H

#include "image.h"

#include <string>
#include <vector>

namespace zfconv {

enum class Target { png, zefa };

// What the options of the command line ask of a conversion.
struct Options {
    // PNG output
    bool square = false; // resample a file whose pixels are not square (the PNG
                         // then carries no private chunk: it is a view, not a copy)
    bool archive = true; // the private chunk that gives the ZEFA file back
    // ZEFA output
    int depth = 0;                 // 8, 15 or 24; 0: what the picture holds without
                                   // loss, the smaller file where 8 and 24 both do
                                   // (a restored file: its own depth)
    std::string coding;            // "none", "fast" or "optimizing"; empty: fast for a
                                   // new file, each block's own for a restored one
    bool has_title = false, has_artist = false, has_comment = false;
    std::string title, artist, comment; // UTF-8, as given
    int ratio_x = 0, ratio_y = 0;  // 0: from the picture (its header, pHYs), else 1:1
    bool second_thread = true;     // make the private chunk on a thread of its own
                                   // while the image data compresses (a batch
                                   // running several files at once needs none)
    // both
    bool verify = false;           // decode what was made and compare
    bool lossless = false;         // refuse a conversion that would drop anything
    bool has_background = false;   // composite transparency over `background`
    uint32_t background = 0;       // 0xRRGGBB
    int frame = 1;                 // the frame of an animation, from 1
    long long max_pixels = kMaxPixels; // the largest picture read
};

struct Outcome {
    Bytes output;        // the file to write
    std::string damage;  // non-empty: the output holds what could be read,
                         // and the run must end with status 1 saying this
    std::vector<std::string> notes; // worth telling; the run still succeeds
    std::vector<std::string> dropped; // what the output lacks of the input, one
                                      // phrase each (see Image::dropped)
    bool exact = false;  // ZEFA output: the original file, byte for byte
};

// Converts one input (a ZEFA file, a picture of any format zfconv reads, or
// a raw RGB file whose companion sits beside `input_name`) into the target
// format.  False with a one-line English message in `error`.
bool convert(const Bytes &input, const std::string &input_name, Target to, const Options &options,
             Outcome &out, std::string &error);

} // namespace zfconv

#endif
