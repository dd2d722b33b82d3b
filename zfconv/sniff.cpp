// Recognises a picture file by its first bytes.
#include "readers.h"

#include "zefa.h"

#include <cstring>

namespace zfconv {

namespace {
bool starts(const uint8_t *data, std::size_t size, const char *magic, std::size_t n, std::size_t at = 0)
{
    return size >= at + n && std::memcmp(data + at, magic, n) == 0;
}
} // namespace

Format sniff(const uint8_t *data, std::size_t size)
{
    if (starts(data, size, "GIF87a", 6) || starts(data, size, "GIF89a", 6))
        return Format::gif;
    if (starts(data, size, "\x89PNG\r\n\x1a\n", 8))
        return Format::png;
    if (starts(data, size, "II*\0", 4) || starts(data, size, "MM\0*", 4))
        return Format::tiff;
    if (starts(data, size, "\xFF\xD8\xFF", 3))
        return Format::jpeg;
    if (starts(data, size, "BM", 2))
        return Format::bmp;
    if (starts(data, size, "DJ505J", 6))
        return Format::djp;
    // a ZEFA file, possibly behind a 128-byte foreign prefix
    if (zf_sniff(data, size) == 1)
        return Format::zefa;
    return Format::unknown;
}

const char *format_name(Format f)
{
    switch (f) {
    case Format::bmp: return "BMP";
    case Format::gif: return "GIF";
    case Format::png: return "PNG";
    case Format::tiff: return "TIFF";
    case Format::jpeg: return "JPEG";
    case Format::djp: return "DJP";
    case Format::zefa: return "ZEFA";
    case Format::unknown: break;
    }
    return "unknown";
}

bool read_image(const uint8_t *data, std::size_t size, Image &img, std::string &error, int frame)
{
    switch (sniff(data, size)) {
    case Format::gif: return read_gif(data, size, img, error, frame);
    case Format::png: return read_png(data, size, img, error);
    case Format::tiff: return read_tiff(data, size, img, error);
    case Format::jpeg: return read_jpeg(data, size, img, error);
    case Format::bmp: return read_bmp(data, size, img, error);
    case Format::djp: return read_djp(data, size, img, error);
    case Format::zefa: error = "a ZEFA file is not a picture to convert here"; return false;
    case Format::unknown: break;
    }
    error = "not a picture format this program reads (GIF, PNG, TIFF, JPEG, BMP, DJP)";
    return false;
}

} // namespace zfconv
