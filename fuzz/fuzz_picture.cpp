// Any bytes as a ZEFA file through the one-call picture decoding, at the
// canvas size and at a small one, and the header's texts.
#include "zefa.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zf_limits limits;
    zf_default_limits(&limits);
    limits.max_canvas = 1 << 22; // room for what a fuzzer finds, without the memory of a real viewer
    zf_report r;
    char text[512];
    zf_image *img = zf_decode_memory(data, size, &limits, ZF_RGB, &r);
    zf_report_text(&r, text, sizeof text);
    // a picture comes with a mask exactly when it is damaged
    if (img && (img->mask != nullptr) != (r.status == ZF_DECODED_DAMAGED))
        std::abort();
    if (!img && (r.status == ZF_DECODED_WHOLE || r.status == ZF_DECODED_DAMAGED))
        std::abort();
    zf_free_image(img);
    img = zf_decode_memory_scaled(data, size, 7, 5, &limits, ZF_INDEXED, &r);
    zf_report_text(&r, text, sizeof text);
    zf_free_image(img);
    if (zf_file *f = zf_open_memory(data, size)) {
        zf_free(zf_get_texts(f, nullptr));
        zf_close(f);
    }
    return 0;
}
