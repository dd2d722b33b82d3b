// BMP: the 12-byte core header and the 40-byte (and longer) info headers;
// 1, 4 and 8 bits through the palette, 16 and 32 bits as RGB or bit fields,
// 24 bits as BGR; RLE8 and RLE4; bottom-up and top-down rows.
//
// Choices for damaged files: an index beyond the file's palette is kept
// (the palette is padded with black where it is written out); RLE data
// that ends without its end-of-picture mark keeps what was decoded, the
// rest being index 0.  Every size is computed in 64 bits and every read is
// checked against the file's end.
#include "readers.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace zfconv {
namespace {

enum Compression : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

uint32_t le16(const uint8_t *p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8; }
uint32_t le32(const uint8_t *p) { return le16(p) | le16(p + 2) << 16; }

// One colour component of a bit-field pixel, scaled to 8 bits.
struct Field {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    bool set(uint32_t m)
    {
        mask = m;
        if (m == 0)
            return true;
        shift = std::countr_zero(m);
        const uint32_t run = m >> shift;
        bits = std::popcount(run);
        return (run & (run + 1)) == 0; // one contiguous run of ones
    }
    uint8_t take(uint32_t px) const
    {
        if (mask == 0)
            return 0;
        const uint32_t v = (px & mask) >> shift;
        if (bits >= 8)
            return static_cast<uint8_t>(v >> (bits - 8));
        const uint32_t top = (1u << bits) - 1;
        return static_cast<uint8_t>((v * 255 + top / 2) / top);
    }
};

struct Header {
    long long width = 0, height = 0; // height as stored: negative is top-down
    int bits = 0;
    uint32_t compression = kRgb;
    uint32_t colours = 0;
    bool core = false;
    uint32_t masks[3] = {0, 0, 0};
    uint32_t alpha_mask = 0;
    bool masks_given = false;
    std::size_t after_header = 0; // where the palette (or the masks) start
};

bool parse_header(const uint8_t *data, std::size_t size, Header &h, std::string &error)
{
    if (size < 18) {
        error = "the BMP file ends early";
        return false;
    }
    const uint32_t header_size = le32(data + 14);
    if (header_size != 12 && header_size < 40) {
        error = "a BMP header of " + std::to_string(header_size) + " bytes is not read here";
        return false;
    }
    if (size < 14 + static_cast<std::size_t>(header_size)) {
        error = "the BMP file ends early";
        return false;
    }
    const uint8_t *p = data + 14;
    if (header_size == 12) {
        h.core = true;
        h.width = le16(p + 4);
        h.height = le16(p + 6);
        h.bits = static_cast<int>(le16(p + 10));
    } else {
        h.width = static_cast<int32_t>(le32(p + 4));
        h.height = static_cast<int32_t>(le32(p + 8));
        h.bits = static_cast<int>(le16(p + 14));
        h.compression = le32(p + 16);
        h.colours = le32(p + 32);
        if (header_size >= 52) {
            for (int k = 0; k < 3; ++k)
                h.masks[k] = le32(p + 40 + 4 * k);
            h.masks_given = true;
        }
        if (header_size >= 56)
            h.alpha_mask = le32(p + 52);
    }
    h.after_header = 14 + static_cast<std::size_t>(header_size);
    if (!h.masks_given && (h.compression == kBitFields || h.compression == kAlphaBitFields)) {
        // masks follow a 40-byte header
        if (size < h.after_header + 12) {
            error = "the BMP file ends early";
            return false;
        }
        for (int k = 0; k < 3; ++k)
            h.masks[k] = le32(data + h.after_header + 4 * k);
        h.masks_given = true;
        if (h.compression == kAlphaBitFields && size >= h.after_header + 16)
            h.alpha_mask = le32(data + h.after_header + 12);
        h.after_header += h.compression == kAlphaBitFields ? 16 : 12;
    }

    const bool plain_bits = h.bits == 1 || h.bits == 4 || h.bits == 8 || h.bits == 16 || h.bits == 24 || h.bits == 32;
    const bool ok = (h.compression == kRgb && plain_bits) || (h.compression == kRle8 && h.bits == 8) ||
                    (h.compression == kRle4 && h.bits == 4) ||
                    ((h.compression == kBitFields || h.compression == kAlphaBitFields) && (h.bits == 16 || h.bits == 32));
    if (!ok) {
        error = "a BMP of " + std::to_string(h.bits) + " bits with coding " + std::to_string(h.compression) +
                " is not read here";
        return false;
    }
    if (h.height < 0 && (h.compression == kRle8 || h.compression == kRle4)) {
        error = "a top-down BMP cannot be run-length coded";
        return false;
    }
    return true;
}

void read_palette(const uint8_t *data, std::size_t size, std::size_t pixels_at, const Header &h, Image &img)
{
    const std::size_t entry = h.core ? 3 : 4;
    std::size_t count = h.colours != 0 && h.colours < 256 ? h.colours : std::size_t{1} << h.bits;
    // the palette ends where the pixels begin (or the file ends)
    const std::size_t end = pixels_at > h.after_header && pixels_at <= size ? pixels_at : size;
    if (end <= h.after_header)
        count = 0;
    else if (count > (end - h.after_header) / entry)
        count = (end - h.after_header) / entry;
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t *e = data + h.after_header + i * entry;
        img.palette.insert(img.palette.end(), {e[2], e[1], e[0]});
    }
}

uint32_t alpha_mask(const uint8_t *data, std::size_t at, const Header &h, const Image &img, long long stride);

// Uncompressed rows, padded to 4 bytes.
bool read_rows(const uint8_t *data, std::size_t size, std::size_t at, const Header &h, Image &img, std::string &error)
{
    const long long stride = (img.width * static_cast<long long>(h.bits) + 31) / 32 * 4;
    const long long last_row_bytes = (img.width * static_cast<long long>(h.bits) + 7) / 8;
    const long long need = stride * (img.height - 1) + last_row_bytes;
    if (at > size || static_cast<long long>(size - at) < need) {
        error = "the BMP file ends early";
        return false;
    }
    Field fields[3], alpha;
    if (h.bits == 16 || h.bits == 32) {
        uint32_t m[3] = {h.masks[0], h.masks[1], h.masks[2]};
        if (!h.masks_given || h.compression == kRgb) {
            if (h.bits == 16)
                m[0] = 0x7C00, m[1] = 0x03E0, m[2] = 0x001F;
            else
                m[0] = 0xFF0000, m[1] = 0xFF00, m[2] = 0xFF;
        }
        for (int k = 0; k < 3; ++k)
            if (!fields[k].set(m[k])) {
                error = "a BMP colour mask is not one run of bits";
                return false;
            }
        if (alpha.set(alpha_mask(data, at, h, img, stride)) && alpha.mask)
            img.alpha.assign(static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height), 255);
        else
            alpha.mask = 0;
    }
    const bool top_down = h.height < 0;
    const auto w = static_cast<std::size_t>(img.width);
    for (long long file_row = 0; file_row < img.height; ++file_row) {
        const uint8_t *src = data + at + static_cast<std::size_t>(stride * file_row);
        const long long y = top_down ? file_row : img.height - 1 - file_row;
        uint8_t *out = img.pixels.data() + static_cast<std::size_t>(y) * w * static_cast<std::size_t>(img.bytes_per_pixel());
        switch (h.bits) {
        case 1:
        case 4:
        case 8: {
            const int per_byte = 8 / h.bits;
            const unsigned mask = (1u << h.bits) - 1;
            for (std::size_t x = 0; x < w; ++x) {
                const int shift = (per_byte - 1 - static_cast<int>(x % static_cast<std::size_t>(per_byte))) * h.bits;
                out[x] = static_cast<uint8_t>((src[x / static_cast<std::size_t>(per_byte)] >> shift) & mask);
            }
            break;
        }
        case 24:
            for (std::size_t x = 0; x < w; ++x) {
                out[3 * x] = src[3 * x + 2];
                out[3 * x + 1] = src[3 * x + 1];
                out[3 * x + 2] = src[3 * x];
            }
            break;
        default:
            for (std::size_t x = 0; x < w; ++x) {
                const uint32_t px = h.bits == 16 ? le16(src + 2 * x) : le32(src + 4 * x);
                for (int k = 0; k < 3; ++k)
                    out[3 * x + static_cast<std::size_t>(k)] = fields[k].take(px);
                if (alpha.mask)
                    img.alpha[static_cast<std::size_t>(y) * w + x] = alpha.take(px);
            }
        }
    }
    if (std::all_of(img.alpha.begin(), img.alpha.end(), [](uint8_t a) { return a == 255; }))
        img.alpha.clear();
    return true;
}

// The alpha of 16 and 32 bits: the header's alpha mask, or for plain
// 32-bit pixels their fourth byte when some pixel has it set (as browsers
// read them: many writers leave it 0 throughout).
uint32_t alpha_mask(const uint8_t *data, std::size_t at, const Header &h, const Image &img, long long stride)
{
    if (h.compression != kRgb)
        return h.alpha_mask;
    if (h.bits != 32 || h.compression != kRgb)
        return 0;
    for (long long row = 0; row < img.height; ++row)
        for (long long x = 0; x < img.width; ++x)
            if (data[at + static_cast<std::size_t>(stride * row + 4 * x + 3)] != 0)
                return 0xFF000000u;
    return 0;
}

// RLE8 and RLE4, bottom-up.  Runs and absolute runs that reach beyond the
// row are cut at its end.
void read_rle(const uint8_t *data, std::size_t size, std::size_t at, const Header &h, Image &img)
{
    const bool four = h.compression == kRle4;
    const long long w = img.width, hgt = img.height;
    long long x = 0, y = 0; // y counts from the bottom row
    const auto put = [&](uint8_t index) {
        if (x < w && y < hgt)
            img.pixels[static_cast<std::size_t>((hgt - 1 - y) * w + x)] = index;
        ++x;
    };
    std::size_t pos = at;
    while (pos + 2 <= size && y < hgt) {
        const unsigned n = data[pos], c = data[pos + 1];
        pos += 2;
        if (n > 0) {
            for (unsigned k = 0; k < n && x < w; ++k)
                put(static_cast<uint8_t>(four ? (k & 1 ? c & 15 : c >> 4) : c));
            continue;
        }
        if (c == 0) { // end of line
            x = 0;
            ++y;
        } else if (c == 1) { // end of picture
            break;
        } else if (c == 2) { // delta
            if (pos + 2 > size)
                break;
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
        } else { // absolute run of c pixels, padded to a 16-bit word
            const std::size_t bytes = four ? (c + 1) / 2 : c;
            const std::size_t padded = bytes + (bytes & 1);
            if (pos + bytes > size)
                break;
            for (unsigned k = 0; k < c && x < w; ++k)
                put(four ? static_cast<uint8_t>(k & 1 ? data[pos + k / 2] & 15 : data[pos + k / 2] >> 4)
                         : data[pos + k]);
            pos += padded;
        }
    }
}

} // namespace

bool read_bmp(const uint8_t *data, std::size_t size, Image &img, std::string &error)
{
    Header h;
    if (size < 2 || data[0] != 'B' || data[1] != 'M') {
        error = "not a BMP file";
        return false;
    }
    if (!parse_header(data, size, h, error))
        return false;
    const long long height = h.height < 0 ? -h.height : h.height;
    if (!allocate(img, h.width, height, h.bits <= 8 ? Kind::palette : Kind::rgb, error))
        return false;
    const std::size_t pixels_at = le32(data + 10);
    if (h.bits <= 8)
        read_palette(data, size, pixels_at, h, img);
    if (pixels_at >= size) {
        error = "the BMP file ends early";
        return false;
    }
    if (h.compression == kRle8 || h.compression == kRle4) {
        read_rle(data, size, pixels_at, h, img);
        return true;
    }
    return read_rows(data, size, pixels_at, h, img, error);
}

} // namespace zfconv
