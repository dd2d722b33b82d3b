// GIF: the first picture of the file, on its logical screen, with its
// colour table (local or global) as the palette.
#include "memory_source.h"
#include "readers.h"

#include <gif_lib.h>

#include <algorithm>
#include <memory>

namespace zfconv {
namespace {

int gif_input(GifFileType *gif, GifByteType *out, int n)
{
    auto *src = static_cast<MemorySource *>(gif->UserData);
    return n <= 0 ? 0 : static_cast<int>(src->read(out, static_cast<std::size_t>(n)));
}

struct GifCloser {
    void operator()(GifFileType *gif) const
    {
        int ignored = 0;
        DGifCloseFile(gif, &ignored);
    }
};

std::string gif_message(int code)
{
    const char *text = GifErrorString(code);
    return text ? text : "damaged GIF data";
}

void take_palette(const ColorMapObject *map, Image &img)
{
    img.palette.clear();
    if (!map || map->ColorCount <= 0 || !map->Colors) {
        for (int i = 0; i < 256; ++i) // no colour table: a grey ramp
            img.palette.insert(img.palette.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
        return;
    }
    const int n = std::min(map->ColorCount, 256);
    for (int i = 0; i < n; ++i)
        img.palette.insert(img.palette.end(), {map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue});
}

} // namespace

bool read_gif(const uint8_t *data, std::size_t size, Image &img, std::string &error)
{
    MemorySource src{data, size};
    int code = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&src, gif_input, &code));
    if (!gif) {
        error = gif_message(code);
        return false;
    }
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) {
            error = gif_message(gif->Error);
            return false;
        }
        if (type == TERMINATE_RECORD_TYPE) {
            error = "the GIF file holds no picture";
            return false;
        }
        if (type == EXTENSION_RECORD_TYPE) {
            int ext_code = 0;
            GifByteType *ext = nullptr;
            if (DGifGetExtension(gif.get(), &ext_code, &ext) == GIF_ERROR) {
                error = gif_message(gif->Error);
                return false;
            }
            while (ext)
                if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR) {
                    error = gif_message(gif->Error);
                    return false;
                }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE)
            continue;
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
            error = gif_message(gif->Error);
            return false;
        }
        break;
    }

    // The first frame on the logical screen; a frame reaching beyond the
    // screen (or a screen of size 0) grows the picture to hold it.
    const GifImageDesc &d = gif->Image;
    if (d.Width <= 0 || d.Height <= 0 || d.Left < 0 || d.Top < 0) {
        error = "the GIF picture has no pixels";
        return false;
    }
    const long long w = std::max<long long>(gif->SWidth, static_cast<long long>(d.Left) + d.Width);
    const long long h = std::max<long long>(gif->SHeight, static_cast<long long>(d.Top) + d.Height);
    if (!allocate(img, w, h, Kind::palette, error))
        return false;
    take_palette(d.ColorMap ? d.ColorMap : gif->SColorMap, img);
    if (gif->SColorMap && gif->SBackGroundColor > 0)
        std::fill(img.pixels.begin(), img.pixels.end(), static_cast<uint8_t>(gif->SBackGroundColor));

    // Interlaced pictures send rows 0, 8, ...; 4, 12, ...; 2, 6, ...; 1, 3, ...
    static constexpr int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    const int passes = d.Interlace ? 4 : 1;
    for (int p = 0; p < passes; ++p)
        for (int r = d.Interlace ? kStart[p] : 0; r < d.Height; r += d.Interlace ? kStep[p] : 1) {
            uint8_t *row = img.pixels.data() + (static_cast<std::size_t>(d.Top) + static_cast<std::size_t>(r)) *
                                                   static_cast<std::size_t>(img.width) +
                           static_cast<std::size_t>(d.Left);
            if (DGifGetLine(gif.get(), row, d.Width) == GIF_ERROR) {
                error = gif_message(gif->Error);
                return false;
            }
        }
    return true;
}

} // namespace zfconv
