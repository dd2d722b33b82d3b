// encode.h - the encode driver.
#ifndef ZFENC_ENCODE_H
#define ZFENC_ENCODE_H

#include "input.h"

// Encodes the input, of the kind and geometry detect_input found, into the
// output; true when the output is complete, false when ESC stopped it
// (failures end the run).
bool encode_image(const char *read_name, input_kind kind, const input_geometry &g, const char *output_name,
                  const char *tag, int depth);

#endif
