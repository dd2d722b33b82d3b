// JPEG: grey pictures stay grey, everything else becomes RGB (CMYK and
// YCCK through the inverted CMYK that such files hold).  A file that ends
// before the last row is refused rather than completed with grey.  An
// EXIF orientation is applied as viewers apply it.
#include "readers.h"

#include <jpeglib.h>
#include <libexif/exif-data.h>
#include <jerror.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

namespace zfconv {
namespace {

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool ended_early;
};

void on_error_exit(j_common_ptr cinfo)
{
    auto *e = reinterpret_cast<JpegError *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, e->message);
    std::longjmp(e->jump, 1);
}

void on_message(j_common_ptr cinfo, int level)
{
    auto *e = reinterpret_cast<JpegError *>(cinfo->err);
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        e->ended_early = true;
}

struct ExifFree {
    void operator()(ExifData *d) const { exif_data_unref(d); }
};

// The orientation of the first EXIF segment's main picture; 1 (as stored)
// when there is none.
int exif_orientation(const jpeg_decompress_struct &cinfo)
{
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 1 || m->data_length < 6 || std::memcmp(m->data, "Exif\0\0", 6) != 0)
            continue;
        std::unique_ptr<ExifData, ExifFree> exif(exif_data_new_from_data(m->data, m->data_length));
        if (!exif)
            return 1;
        ExifEntry *e = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
        if (!e || e->format != EXIF_FORMAT_SHORT || e->components < 1 || !e->data || e->size < 2)
            return 1;
        return exif_get_short(e->data, exif_data_get_byte_order(exif.get()));
    }
    return 1;
}

// Everything libjpeg may leave with a long jump happens here, on objects
// that live outside this frame.
bool decode(jpeg_decompress_struct &cinfo, JpegError &err, const uint8_t *data, std::size_t size, Image &img,
            std::vector<uint8_t> &row, std::string &error)
{
    if (setjmp(err.jump)) {
        error = err.message;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
    if (!allocate(img, cinfo.image_width, cinfo.image_height, grey ? Kind::grey : Kind::rgb, error))
        return false;
    jpeg_start_decompress(&cinfo);
    const auto components = static_cast<std::size_t>(cinfo.output_components);
    const auto width = static_cast<std::size_t>(img.width);
    row.resize(width * components);
    uint8_t *out = img.pixels.data();
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = {row.data()};
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1)
            break;
        if (!cmyk) {
            std::memcpy(out, row.data(), row.size());
            out += row.size();
            continue;
        }
        for (std::size_t x = 0; x < width; ++x) {
            const unsigned k = row[4 * x + 3];
            for (std::size_t c = 0; c < 3; ++c)
                *out++ = static_cast<uint8_t>(row[4 * x + c] * k / 255);
        }
    }
    if (err.ended_early) {
        error = "the JPEG file ends early";
        return false;
    }
    apply_orientation(img, exif_orientation(cinfo));
    jpeg_finish_decompress(&cinfo);
    return true;
}

} // namespace

bool read_jpeg(const uint8_t *data, std::size_t size, Image &img, std::string &error)
{
    jpeg_decompress_struct cinfo{};
    JpegError err{};
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = on_error_exit;
    err.mgr.emit_message = on_message;
    std::vector<uint8_t> row;
    const bool ok = decode(cinfo, err, data, size, img, row, error);
    jpeg_destroy_decompress(&cinfo);
    return ok;
}

} // namespace zfconv
