// converter.h - converter programs for pictures the encoder does not read
// itself.
#ifndef ZFENC_CONVERTER_H
#define ZFENC_CONVERTER_H

// The name to read: the input's own, or the temporary DJP file a converter
// wrote from it (its name in settings, guarded by temporary_guard).  A
// converter that cannot run or fails ends the run.
const char *run_converter(const char *input_name);

#endif
