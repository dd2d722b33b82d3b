// resample.h - pictures whose pixels are not square made square for
// viewers that ignore the pixel shape.
#ifndef ZEFA_ZFCONV_RESAMPLE_H
#define ZEFA_ZFCONV_RESAMPLE_H

#include "image.h"

namespace zfconv {

// Grows the axis along which a pixel is longer (ratio x:y is a pixel's
// width to its height) by that ratio, so no detail is lost: every output
// pixel is the area-weighted mean of the source pixels it covers, with
// fixed-point weights.  Palette pictures come out as RGB; the mask (holes)
// follows the source pixel under each output pixel's centre.  A 1:1 ratio
// gives the picture unchanged.
bool make_square(const Image &in, int ratio_x, int ratio_y, Image &out, std::string &error);

} // namespace zfconv

#endif
