// writers.h - the files zfconv writes.  Each writes to a temporary file
// beside the output and renames it into place only when complete, so a
// failure never leaves a partial output behind.  False with a one-line
// message in `error` on failure.
#ifndef ZEFA_ZFCONV_WRITERS_H
#define ZEFA_ZFCONV_WRITERS_H

#include "image.h"

#include <cstdio>

namespace zfconv {

// DJP: palette pictures as type 0 (palette padded to 256 entries), grey
// as type 8, RGB as type 24.  Sizes above 65535 are refused.
bool write_djp(const std::string &path, const Image &img, std::string &error);

// PNG: palette, 8-bit grey or 8-bit RGB, as the picture is; RGBA, with
// the pixels nothing was decoded for transparent, when it has holes.
bool write_png(const std::string &path, const Image &img, std::string &error);
// The same PNG data written to an open stream.
bool encode_png(FILE *f, const Image &img, std::string &error);

} // namespace zfconv

#endif
