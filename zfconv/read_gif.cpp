// GIF: the first picture of the file, on its logical screen, with its
// colour table (local or global) as the palette and its transparent
// index handed on for settle_alpha(); or a later frame of an animation.
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

// A frame's graphic control: its transparent index and its disposal.
struct FrameControl {
    int transparent = -1;
    int disposal = 0;
};

FrameControl control_of(const GifByteType *ext)
{
    FrameControl fc;
    GraphicsControlBlock gcb{};
    if (ext && ext[0] >= 4 && DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK) {
        fc.transparent = gcb.TransparentColor;
        fc.disposal = gcb.DisposalMode;
    }
    return fc;
}

bool skip_frame(GifFileType *gif, std::string &error)
{
    int size = 0;
    GifByteType *block = nullptr;
    if (DGifGetCode(gif, &size, &block) == GIF_ERROR) {
        error = gif_message(gif->Error);
        return false;
    }
    while (block)
        if (DGifGetCodeNext(gif, &block) == GIF_ERROR) {
            error = gif_message(gif->Error);
            return false;
        }
    return true;
}

// Reads the current frame's rows; `put` places each one (`row` is the
// frame's own row number).
template <typename Put>
bool frame_rows(GifFileType *gif, std::vector<uint8_t> &line, Put put, std::string &error)
{
    const GifImageDesc &d = gif->Image;
    // Interlaced pictures send rows 0, 8, ...; 4, 12, ...; 2, 6, ...; 1, 3, ...
    static constexpr int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    const int passes = d.Interlace ? 4 : 1;
    line.resize(static_cast<std::size_t>(d.Width));
    for (int p = 0; p < passes; ++p)
        for (int r = d.Interlace ? kStart[p] : 0; r < d.Height; r += d.Interlace ? kStep[p] : 1) {
            if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) {
                error = gif_message(gif->Error);
                return false;
            }
            put(r, line.data());
        }
    return true;
}

} // namespace

bool read_gif(const uint8_t *data, std::size_t size, Image &img, std::string &error, int frame)
{
    MemorySource src{data, size};
    int code = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&src, gif_input, &code));
    if (!gif) {
        error = gif_message(code);
        return false;
    }
    if (frame < 1)
        frame = 1;
    int frames = 0;
    FrameControl control, previous;
    std::vector<uint8_t> line, saved, saved_alpha;
    int prev_left = 0, prev_top = 0, prev_w = 0, prev_h = 0;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) {
            if (frames >= frame)
                break; // the frame asked for is whole: damage after it costs nothing
            error = gif_message(gif->Error);
            return false;
        }
        if (type == TERMINATE_RECORD_TYPE)
            break;
        if (type == EXTENSION_RECORD_TYPE) {
            int ext_code = 0;
            GifByteType *ext = nullptr;
            bool whole = DGifGetExtension(gif.get(), &ext_code, &ext) != GIF_ERROR;
            if (whole && ext_code == GRAPHICS_EXT_FUNC_CODE)
                control = control_of(ext);
            while (whole && ext)
                whole = DGifGetExtensionNext(gif.get(), &ext) != GIF_ERROR;
            if (whole)
                continue;
            if (frames >= frame)
                break;
            error = gif_message(gif->Error);
            return false;
        }
        if (type != IMAGE_DESC_RECORD_TYPE)
            continue;
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
            if (frames >= frame)
                break;
            error = gif_message(gif->Error);
            return false;
        }
        ++frames;
        const GifImageDesc &d = gif->Image;
        if (frames > frame) { // only counted, up to any damage
            std::string ignored;
            if (!skip_frame(gif.get(), ignored))
                break;
            continue;
        }
        if (d.Width <= 0 || d.Height <= 0 || d.Left < 0 || d.Top < 0) {
            error = "the GIF picture has no pixels";
            return false;
        }
        const ColorMapObject *map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        if (frame == 1) {
            // The first frame on the logical screen, as a palette picture; a
            // frame reaching beyond the screen (or a screen of size 0) grows
            // the picture to hold it.
            const long long w = std::max<long long>(gif->SWidth, static_cast<long long>(d.Left) + d.Width);
            const long long h = std::max<long long>(gif->SHeight, static_cast<long long>(d.Top) + d.Height);
            if (!allocate(img, w, h, Kind::palette, error))
                return false;
            take_palette(map, img);
            if (gif->SColorMap && gif->SBackGroundColor > 0)
                std::fill(img.pixels.begin(), img.pixels.end(), static_cast<uint8_t>(gif->SBackGroundColor));
            if (control.transparent >= 0 && static_cast<std::size_t>(control.transparent) < img.palette.size() / 3) {
                img.palette_alpha.assign(img.palette.size() / 3, 255);
                img.palette_alpha[static_cast<std::size_t>(control.transparent)] = 0;
            }
            const auto put = [&](int r, const uint8_t *px) {
                std::copy_n(px, d.Width,
                            img.pixels.data() + (static_cast<std::size_t>(d.Top) + static_cast<std::size_t>(r)) *
                                                    static_cast<std::size_t>(img.width) +
                                static_cast<std::size_t>(d.Left));
            };
            if (!frame_rows(gif.get(), line, put, error))
                return false;
            control = FrameControl{};
            continue;
        }
        // A later frame: the frames up to it drawn on the screen, in RGB.
        if (frames == 1) {
            const long long w = gif->SWidth > 0 ? gif->SWidth : static_cast<long long>(d.Left) + d.Width;
            const long long h = gif->SHeight > 0 ? gif->SHeight : static_cast<long long>(d.Top) + d.Height;
            if (!allocate(img, w, h, Kind::rgb, error))
                return false;
            img.alpha.assign(img.pixels.size() / 3, 0); // nothing drawn yet
        } else if (previous.disposal == DISPOSE_BACKGROUND || previous.disposal == DISPOSE_PREVIOUS) {
            // the previous frame's area, cleared or as it was before it
            const bool restore = previous.disposal == DISPOSE_PREVIOUS;
            std::size_t at = 0;
            for (int y = prev_top; y < prev_top + prev_h && y < img.height; ++y)
                for (int x = prev_left; x < prev_left + prev_w && x < img.width; ++x, ++at) {
                    const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(img.width) +
                                          static_cast<std::size_t>(x);
                    for (std::size_t k = 0; k < 3; ++k)
                        img.pixels[3 * i + k] = restore ? saved[3 * at + k] : 0;
                    img.alpha[i] = restore ? saved_alpha[at] : 0;
                }
        }
        if (control.disposal == DISPOSE_PREVIOUS) { // only the area this frame covers
            saved.clear();
            saved_alpha.clear();
            for (int y = d.Top; y < d.Top + d.Height && y < img.height; ++y)
                for (int x = d.Left; x < d.Left + d.Width && x < img.width; ++x) {
                    const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(img.width) +
                                          static_cast<std::size_t>(x);
                    saved.insert(saved.end(), &img.pixels[3 * i], &img.pixels[3 * i] + 3);
                    saved_alpha.push_back(img.alpha[i]);
                }
        }
        Image colours;
        take_palette(map, colours);
        const int transparent = control.transparent;
        const auto put = [&](int r, const uint8_t *px) {
            const long long y = static_cast<long long>(d.Top) + r;
            if (y >= img.height)
                return;
            for (int c = 0; c < d.Width && static_cast<long long>(d.Left) + c < img.width; ++c) {
                if (px[c] == transparent)
                    continue;
                const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(img.width) +
                                      static_cast<std::size_t>(d.Left + c);
                const std::size_t e = 3u * px[c];
                for (std::size_t k = 0; k < 3; ++k)
                    img.pixels[3 * i + k] = e + 2 < colours.palette.size() ? colours.palette[e + k] : 0;
                img.alpha[i] = 255;
            }
        };
        if (!frame_rows(gif.get(), line, put, error))
            return false;
        previous = control;
        prev_left = d.Left;
        prev_top = d.Top;
        prev_w = d.Width;
        prev_h = d.Height;
        control = FrameControl{};
    }
    if (frames == 0) {
        error = "the GIF file holds no picture";
        return false;
    }
    if (frames < frame) {
        error = "the GIF file holds " + std::to_string(frames) + " frame" + (frames == 1 ? "" : "s") +
                ", not a frame " + std::to_string(frame);
        return false;
    }
    if (frame > 1 && std::all_of(img.alpha.begin(), img.alpha.end(), [](uint8_t a) { return a == 255; }))
        img.alpha.clear();
    if (frames > 1)
        img.dropped.push_back(frame == 1 ? "frames 2 to " + std::to_string(frames) + " of the animation (--frame=N picks another)"
                                         : "every frame of the animation but frame " + std::to_string(frame) + " of " +
                                               std::to_string(frames) + ", kept as shown after the frames before it");
    return true;
}

} // namespace zfconv
