// Any bytes as a ZEFA file through zfdec's DJP path: colour (index or RGB
// by the file's depth) or grey, with or without -H, with or without a -W
// bound, all chosen by the first five bytes.  A run that ends with status 0
// writes a DJP file that holds exactly the rows and columns it announces.
#include "support.h"
#include "zfdec_driver.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zfuzz::quiet_console();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zfuzz::Input in{data, size};
    const unsigned mode = in.byte();
    dec_settings_t settings;
    settings.djp_output = true;
    settings.djp_colour = (mode & 1) == 0;
    settings.djp_force_24 = (mode & 2) != 0;
    const int limit_width = static_cast<int>(in.u16()), limit_height = static_cast<int>(in.u16());
    if (mode & 4) {
        settings.limit_width = limit_width;
        settings.limit_height = limit_height;
    }
    std::string out;
    if (zfuzz::run_zfdec(in.data, in.size, settings, out) != 0 || out.empty())
        return 0;
    if (out.size() < 12)
        __builtin_trap();
    const auto u16le = [&](std::size_t at) { return static_cast<std::size_t>(static_cast<uint8_t>(out[at]) | static_cast<uint8_t>(out[at + 1]) << 8); };
    const std::size_t width = u16le(6), height = u16le(8), type = u16le(10);
    const std::size_t want = 12 + (type == 0 ? 768 : 0) + width * height * (type == 24 ? 3 : 1);
    if (out.size() != want || (type != 0 && type != 8 && type != 24))
        __builtin_trap();
    return 0;
}
