// Any bytes as the companion and header files the encoder reads: FAL,
// IPR, DJP and GLM (with and without a GMM partner).
#include "support.h"

#include "companion.h"
#include "input.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string &base = zfuzz::as_file(nullptr, 0);
    static const char *const kinds[] = {".FAL", ".IPR", ".DJP", ".GLM", ".GMM"};
    for (const char *ext : kinds) {
        FILE *out = std::fopen((base + ext).c_str(), "wb");
        if (out) {
            std::fwrite(data, 1, size, out);
            std::fclose(out);
        }
    }
    const std::string name = base + ".RGB";
    int w, h, x, y;
    read_fal(name.c_str(), &w, &h, &x, &y);
    read_ipr(name.c_str(), &w, &h, &x, &y);
    input_geometry g{};
    read_djp_header(name.c_str(), &g);
    read_glm_header(name.c_str(), &g);
    std::remove((base + ".GMM").c_str());
    read_glm_header(name.c_str(), &g);
    detect_input(name.c_str(), &g);
    return 0;
}
