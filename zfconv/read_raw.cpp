// The raw formats of the ZEFA tools: DJP files, and raw RGB files whose
// size comes from a FAL or IPR companion.
#include "readers.h"

#include "companion.h"
#include "raw_formats.h"

#include <cstring>

namespace zfconv {

bool read_djp(const uint8_t *data, std::size_t size, Image &img, std::string &error)
{
    djp_header h{};
    if (size < DJP_HEADER_SIZE || !djp_decode_header(data, &h)) {
        error = "not a DJP file";
        return false;
    }
    const Kind kind = h.type == DJP_TYPE_RGB ? Kind::rgb : h.type == DJP_TYPE_PALETTE ? Kind::palette : Kind::grey;
    const auto offset = static_cast<std::size_t>(djp_data_offset(h.type));
    if (!allocate(img, h.width, h.height, kind, error))
        return false;
    if (size < offset || size - offset < img.pixels.size()) {
        error = "the DJP file ends early";
        return false;
    }
    if (kind == Kind::palette)
        img.palette.assign(data + DJP_HEADER_SIZE, data + DJP_HEADER_SIZE + DJP_PALETTE_SIZE);
    std::memcpy(img.pixels.data(), data + offset, img.pixels.size());
    return true;
}

bool read_raw_rgb(const std::string &path, const Bytes &data, Image &img, std::string &error)
{
    int w = 0, h = 0, x = 0, y = 0;
    if (read_fal(path.c_str(), &w, &h, &x, &y) != 0 && read_ipr(path.c_str(), &w, &h, &x, &y) != 0) {
        error = "not a picture format this program reads, and no FAL or IPR file gives it a size";
        return false;
    }
    if (!allocate(img, w, h, Kind::rgb, error))
        return false;
    if (data.size() < img.pixels.size()) {
        error = "the raw RGB file is shorter than its " + std::to_string(w) + " x " + std::to_string(h) +
                " pixels";
        return false;
    }
    std::memcpy(img.pixels.data(), data.data(), img.pixels.size());
    return true;
}

} // namespace zfconv
