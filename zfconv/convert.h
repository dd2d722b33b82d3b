// convert.h - one conversion of zfconv, from bytes to bytes: what the
// command line (one file, a batch on every core, standard streams) calls
// for each input.  Touches no file but the companions a raw RGB input
// names, and is safe to call from many threads at once.
//
// ZEFA -> PNG keeps everything: the header's texts as iTXt (Title, Author,
// Comment, Software, Creation Time, ZEFA Subtitle, ZEFA Number; Shift-JIS
// that does not convert is written \xHH, by the library's rule), its time as
// tIME, the pixel ratio as pHYs, and the private chunk of archive.h, from
// which PNG -> ZEFA gives the original file back byte for byte while the
// pixels are unchanged, and its header with the new pixels when they are
// not.
#ifndef ZEFA_ZFCONV_CONVERT_H
#define ZEFA_ZFCONV_CONVERT_H

#include "image.h"
#include "options.h"

#include <string>
#include <vector>

namespace zfconv {

enum class Target { png, zefa };

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
