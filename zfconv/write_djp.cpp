// DJP output: the converter side of the encoder's contract.
#include "output_file.h"
#include "writers.h"

#include "raw_formats.h"

namespace zfconv {

bool write_djp(const std::string &path, const Image &img, std::string &error)
{
    if (img.width > 65535 || img.height > 65535) {
        error = "a DJP file holds at most 65535 x 65535 pixels, the picture has " + std::to_string(img.width) +
                " x " + std::to_string(img.height);
        return false;
    }
    const int type = img.kind == Kind::palette ? DJP_TYPE_PALETTE : img.kind == Kind::grey ? DJP_TYPE_GREY : DJP_TYPE_RGB;
    OutputFile out(path);
    FILE *f = out.open(error);
    if (!f)
        return false;
    unsigned char header[DJP_HEADER_SIZE];
    djp_encode_header(header, img.width, img.height, type);
    std::fwrite(header, 1, sizeof header, f);
    if (type == DJP_TYPE_PALETTE) {
        unsigned char palette[DJP_PALETTE_SIZE] = {};
        const std::size_t n = img.palette.size() < sizeof palette ? img.palette.size() : sizeof palette;
        std::copy(img.palette.begin(), img.palette.begin() + static_cast<long>(n), palette);
        std::fwrite(palette, 1, sizeof palette, f);
    }
    std::fwrite(img.pixels.data(), 1, img.pixels.size(), f);
    return out.commit(error);
}

} // namespace zfconv
