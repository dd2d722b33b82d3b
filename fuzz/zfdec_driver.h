// zfdec_driver.h - zfdec's decode driver run in process on fuzz bytes.
#ifndef ZEFA_FUZZ_ZFDEC_DRIVER_H
#define ZEFA_FUZZ_ZFDEC_DRIVER_H

#include "decoder.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zfuzz {

// Decodes the bytes as a ZEFA file as zfdec would with these settings;
// what it would write to files (block outputs and companions, in order)
// lands in `out`.  The run's exit status.
int run_zfdec(const uint8_t *data, size_t size, const dec_settings_t &settings, std::string &out);

} // namespace zfuzz

#endif
