// options.h - what the command line asks of one conversion.
#ifndef ZEFA_ZFCONV_OPTIONS_H
#define ZEFA_ZFCONV_OPTIONS_H

#include "image.h"

#include <cstdint>
#include <string>

namespace zfconv {

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
    int text_fallback = 0;         // ZF_TEXT_STRICT: a text with no Shift-JIS form
                                   // is refused; ZF_TEXT_QUESTION: '?' for such characters
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

} // namespace zfconv

#endif
