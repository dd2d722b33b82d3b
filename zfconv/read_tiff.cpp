// TIFF: the first directory.  Palette pictures of up to 8 bits in strips
// keep their palette; grey pictures stay grey; everything else (and any
// layout the plain reading does not cover) goes through libtiff's RGBA
// reading and becomes RGB.  Alpha is handed on for settle_alpha() with the
// colours as stored: unassociated alpha is read as libtiff would read
// associated (which it leaves as it is), associated alpha is divided out.
// The orientation tag is applied as viewers apply it.
#include "readers.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>

namespace zfconv {
namespace {

struct TiffSource {
    const uint8_t *data;
    toff_t size;
    toff_t pos;
    char message[200];
};

tsize_t on_read(thandle_t h, tdata_t out, tsize_t n)
{
    auto *s = static_cast<TiffSource *>(h);
    if (n <= 0 || s->pos >= s->size)
        return 0;
    const toff_t left = s->size - s->pos;
    const toff_t take = static_cast<toff_t>(n) < left ? static_cast<toff_t>(n) : left;
    std::memcpy(out, s->data + s->pos, take);
    s->pos += take;
    return static_cast<tsize_t>(take);
}
tsize_t on_write(thandle_t, tdata_t, tsize_t) { return 0; }
toff_t on_seek(thandle_t h, toff_t off, int whence)
{
    auto *s = static_cast<TiffSource *>(h);
    // libtiff passes relative moves as unsigned values that may stand for
    // negative ones
    const auto delta = static_cast<int64_t>(off);
    int64_t to;
    switch (whence) {
    case SEEK_SET: to = delta; break;
    case SEEK_CUR: to = static_cast<int64_t>(s->pos) + delta; break;
    case SEEK_END: to = static_cast<int64_t>(s->size) + delta; break;
    default: return static_cast<toff_t>(-1);
    }
    if (to < 0)
        return static_cast<toff_t>(-1);
    s->pos = static_cast<toff_t>(to);
    return s->pos;
}
int on_close(thandle_t) { return 0; }
toff_t on_size(thandle_t h) { return static_cast<TiffSource *>(h)->size; }
int on_map(thandle_t, tdata_t *, toff_t *) { return 0; }
void on_unmap(thandle_t, tdata_t, toff_t) {}

int on_error(TIFF *, void *user, const char *, const char *fmt, va_list ap)
{
    auto *s = static_cast<TiffSource *>(user);
    if (s->message[0] == '\0')
        std::vsnprintf(s->message, sizeof s->message, fmt, ap);
    return 1;
}
int on_warning(TIFF *, void *, const char *, const char *, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF *t) const { TIFFClose(t); }
};

std::string tiff_error(const TiffSource &s, const char *otherwise)
{
    return s.message[0] ? std::string(s.message) : std::string(otherwise);
}

// A strip-organised palette picture of 1, 2, 4 or 8 bits per pixel.
bool read_palette(TIFF *t, TiffSource &src, Image &img, int bits, std::string &error)
{
    uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (!TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b)) {
        error = "the TIFF palette picture has no colour map";
        return false;
    }
    const int n = 1 << bits;
    // Colour maps hold 16-bit values; some writers store 8-bit ones.
    bool eight = true;
    for (int i = 0; i < n; ++i)
        eight = eight && r[i] < 256 && g[i] < 256 && b[i] < 256;
    const int shift = eight ? 0 : 8;
    for (int i = 0; i < n; ++i)
        img.palette.insert(img.palette.end(), {uint8_t(r[i] >> shift), uint8_t(g[i] >> shift), uint8_t(b[i] >> shift)});

    const tmsize_t line = TIFFScanlineSize(t);
    const long long need = (static_cast<long long>(img.width) * bits + 7) / 8;
    if (line < need) {
        error = "unexpected TIFF row layout";
        return false;
    }
    std::vector<uint8_t> row(static_cast<std::size_t>(line));
    const int per_byte = 8 / bits;
    const unsigned mask = (1u << bits) - 1;
    for (int y = 0; y < img.height; ++y) {
        if (TIFFReadScanline(t, row.data(), static_cast<uint32_t>(y), 0) < 0) {
            error = tiff_error(src, "damaged TIFF data");
            return false;
        }
        uint8_t *out = img.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(img.width);
        for (int x = 0; x < img.width; ++x) {
            const int shift_in = (per_byte - 1 - x % per_byte) * bits;
            out[x] = static_cast<uint8_t>((row[static_cast<std::size_t>(x / per_byte)] >> shift_in) & mask);
        }
    }
    return true;
}

} // namespace

bool read_tiff(const uint8_t *data, std::size_t size, Image &img, std::string &error)
{
    TiffSource src{data, size, 0, ""};
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions *)> opts(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
    if (!opts) {
        error = "out of memory";
        return false;
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts.get(), static_cast<tmsize_t>(kMaxPixels * 4 + 4096));
    TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), on_error, &src);
    TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), on_warning, &src);
    std::unique_ptr<TIFF, TiffCloser> t(TIFFClientOpenExt("input", "rm", &src, on_read, on_write, on_seek, on_close,
                                                          on_size, on_map, on_unmap, opts.get()));
    if (!t) {
        error = tiff_error(src, "not a readable TIFF file");
        return false;
    }
    uint32_t w = 0, h = 0;
    uint16_t photometric = 0, bits = 1, samples = 1;
    TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(t.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (!TIFFGetField(t.get(), TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;

    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(t.get(), TIFFTAG_ORIENTATION, &orientation);
    if (orientation < ORIENTATION_TOPLEFT || orientation > ORIENTATION_LEFTBOT)
        orientation = ORIENTATION_TOPLEFT;
    const bool palette = photometric == PHOTOMETRIC_PALETTE && samples == 1 && !TIFFIsTiled(t.get()) &&
                         (bits == 1 || bits == 2 || bits == 4 || bits == 8);
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    if (!allocate(img, w, h, palette ? Kind::palette : grey ? Kind::grey : Kind::rgb, error))
        return false;
    if (palette) {
        if (!read_palette(t.get(), src, img, bits, error))
            return false;
        apply_orientation(img, orientation);
        return true;
    }

    uint16_t extra = 0;
    uint16_t *extra_kinds = nullptr;
    TIFFGetField(t.get(), TIFFTAG_EXTRASAMPLES, &extra, &extra_kinds);
    const bool unassociated = extra > 0 && extra_kinds && extra_kinds[0] == EXTRASAMPLE_UNASSALPHA;
    if (unassociated) {
        // libtiff multiplies unassociated colours by their alpha; associated
        // ones it passes on as they are
        uint16_t kinds[1] = {EXTRASAMPLE_ASSOCALPHA};
        TIFFSetField(t.get(), TIFFTAG_EXTRASAMPLES, 1, kinds);
    }
    if (bits == 16)
        img.dropped.emplace_back("16-bit samples, reduced to 8 bits");
    char why[1024] = "";
    if (!TIFFRGBAImageOK(t.get(), why)) {
        error = std::string("a TIFF layout this program does not read: ") + why;
        return false;
    }
    std::vector<uint32_t> raster(static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height));
    // rows as stored (asking for the file's own orientation), turned below
    // as viewers turn them
    if (!TIFFReadRGBAImageOriented(t.get(), w, h, raster.data(), orientation, 1)) {
        error = tiff_error(src, "damaged TIFF data");
        return false;
    }
    const bool alpha = extra > 0 || (samples == 4 && photometric == PHOTOMETRIC_RGB);
    if (alpha)
        img.alpha.resize(raster.size());
    uint8_t *out = img.pixels.data();
    bool see_through = false;
    for (std::size_t i = 0; i < raster.size(); ++i) {
        const uint32_t p = raster[i];
        const unsigned a = alpha ? TIFFGetA(p) : 255;
        // associated colours are multiplied by their alpha: divide it out
        const auto straight = [&](unsigned c) {
            return static_cast<uint8_t>(unassociated || a == 255 || a == 0 ? c : std::min(255u, (c * 255 + a / 2) / a));
        };
        if (grey) {
            *out++ = straight(TIFFGetR(p));
        } else {
            *out++ = straight(TIFFGetR(p));
            *out++ = straight(TIFFGetG(p));
            *out++ = straight(TIFFGetB(p));
        }
        if (alpha) {
            img.alpha[i] = static_cast<uint8_t>(a);
            see_through = see_through || a < 255;
        }
    }
    if (!see_through)
        img.alpha.clear();
    apply_orientation(img, orientation);
    return true;
}

} // namespace zfconv
