// Any bytes through the BMP reader: it must refuse them with a message or
// return a whole, consistent picture, never misbehave.
#include "../zfconv/image.cpp"
#include "../zfconv/bmp_reader.cpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zfconv::Image img;
    std::string error;
    if (zfconv::read_bmp(data, size, img, error)) {
        const std::size_t want = static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height) *
                                 static_cast<std::size_t>(img.bytes_per_pixel());
        if (img.pixels.size() != want || img.pixels.empty())
            __builtin_trap();
        if (img.kind == zfconv::Kind::palette) {
            const std::size_t colours = img.palette.size() / 3;
            if (colours < 1 || colours > 256 || img.palette.size() % 3 != 0)
                __builtin_trap();
            for (uint8_t index : img.pixels) // every index names a palette entry
                if (index >= colours)
                    __builtin_trap();
        } else if (img.kind != zfconv::Kind::rgb || !img.palette.empty()) {
            __builtin_trap();
        }
    } else if (error.empty()) {
        __builtin_trap();
    }
    return 0;
}
