// A file's stored bytes, for programs that keep parts of a file as they are:
// where the leading parts lie, block headers, and fields changed in place.
#include "record.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

using zf::get_s16;
using zf::get_u16;
using zf::get_u32;
using zf::put16;
using zf::put32;

int fail(int code)
{
    zf_errno = code;
    return -1;
}

bool fits_s16(int v) { return v >= SHRT_MIN && v <= SHRT_MAX; }

// A text edit is taken when its text fits the field.
bool text_fits(const char *text, size_t length, size_t width) { return !text || length <= width; }

void put_text(unsigned char *field, const char *text, size_t length, size_t width)
{
    if (!text)
        return;
    std::memset(field, ' ', width);
    std::memcpy(field, text, length);
}

} // namespace

extern "C" {

int zf_get_layout(const void *data, size_t size, zf_layout *layout)
{
    if (!layout || (!data && size > 0))
        return fail(ZF_ERR_MISUSE);
    const auto *d = static_cast<const unsigned char *>(data);
    // As zf_open reads: the magic at the start, else the header behind the
    // prefix.
    size_t header = 0;
    if (size < 4 || std::memcmp(d, zf::kMagic, 4) != 0) {
        header = ZF_PREFIX_SIZE;
        if (size < header + ZF_HEADER_SIZE)
            return fail(ZF_ERR_EOF);
        if (std::memcmp(d + header, zf::kMagic, 4) != 0)
            return fail(ZF_ERR_FORMAT);
    }
    if (size < header + ZF_HEADER_SIZE)
        return fail(ZF_ERR_EOF);
    const unsigned char *h = d + header;
    size_t comment = header + ZF_HEADER_SIZE;
    int n_pal = 0;
    if (h[ZF_H_FLAGS + 1] & 1) { // the palette section: n_bits, n_pal, the entries
        if (size < comment + 3)
            return fail(ZF_ERR_EOF);
        n_pal = static_cast<int>(get_u16(d + comment + 1));
        if (n_pal < 1 || n_pal > ZF_PALETTE_MAX)
            return fail(ZF_ERR_FORMAT);
        comment += 3 + 3 * static_cast<size_t>(n_pal);
        if (size < comment)
            return fail(ZF_ERR_EOF);
    }
    layout->header = static_cast<long long>(header);
    layout->comment = static_cast<long long>(comment);
    layout->first_block = static_cast<long long>(header) + get_u32(h + ZF_H_FIRST);
    zf::header_info(h, n_pal, &layout->info);
    return 0;
}

int zf_read_block_header(const void *bytes, size_t size, zf_block *block, long long *length)
{
    if (!bytes || !block)
        return fail(ZF_ERR_MISUSE);
    if (size < ZF_BLOCK_HEADER_SIZE)
        return fail(ZF_ERR_EOF);
    const auto *b = static_cast<const unsigned char *>(bytes);
    std::memcpy(block->tag, b + ZF_B_TAG, 4);
    block->tag[4] = '\0';
    block->x = get_s16(b + ZF_B_X);
    block->y = get_s16(b + ZF_B_Y);
    block->width = get_s16(b + ZF_B_WIDTH);
    block->height = get_s16(b + ZF_B_HEIGHT);
    if (length)
        *length = get_u32(b + ZF_B_LENGTH);
    return 0;
}

int zf_write_block_header(void *bytes, size_t size, const zf_block *block, long long length)
{
    if (!bytes || !block || size < ZF_BLOCK_HEADER_SIZE)
        return fail(ZF_ERR_MISUSE);
    const bool tag_ok = block->tag[0] && block->tag[1] && block->tag[2] && block->tag[3];
    if (!tag_ok || !fits_s16(block->x) || !fits_s16(block->y) || !fits_s16(block->width) ||
        !fits_s16(block->height) || length < ZF_BLOCK_HEADER_SIZE || length > 0xFFFFFFFFLL)
        return fail(ZF_ERR_MISUSE);
    auto *b = static_cast<unsigned char *>(bytes);
    std::memcpy(b + ZF_B_TAG, block->tag, 4);
    put32(b + ZF_B_LENGTH, static_cast<uint32_t>(length));
    put16(b + ZF_B_WIDTH, block->width);
    put16(b + ZF_B_HEIGHT, block->height);
    put16(b + ZF_B_X, block->x);
    put16(b + ZF_B_Y, block->y);
    return 0;
}

int zf_edit_header(void *data, size_t size, const zf_header_edit *edit)
{
    zf_layout layout;
    if (!edit)
        return fail(ZF_ERR_MISUSE);
    if (zf_get_layout(data, size, &layout) != 0)
        return -1;
    const bool no_ratio = edit->ratio_x == 0 && edit->ratio_y == 0;
    const bool ratio_ok = no_ratio || (edit->ratio_x >= 1 && edit->ratio_x <= SHRT_MAX && edit->ratio_y >= 1 &&
                                       edit->ratio_y <= SHRT_MAX);
    if (!ratio_ok || !text_fits(edit->artist, edit->artist_length, 18) ||
        !text_fits(edit->subtitle, edit->subtitle_length, 8) || !text_fits(edit->title, edit->title_length, 30))
        return fail(ZF_ERR_MISUSE);
    unsigned char *h = static_cast<unsigned char *>(data) + layout.header;
    put_text(h + ZF_H_ARTIST, edit->artist, edit->artist_length, 18);
    put_text(h + ZF_H_SUBTITLE, edit->subtitle, edit->subtitle_length, 8);
    put_text(h + ZF_H_TITLE, edit->title, edit->title_length, 30);
    if (!no_ratio) {
        put16(h + ZF_H_RATIO_X, edit->ratio_x);
        put16(h + ZF_H_RATIO_Y, edit->ratio_y);
    }
    return 0;
}

int zf_replace_comment(const void *data, size_t size, const char *comment, void **out, size_t *out_size)
{
    if (!out || !out_size)
        return fail(ZF_ERR_MISUSE);
    *out = nullptr;
    *out_size = 0;
    zf_layout layout;
    if (zf_get_layout(data, size, &layout) != 0)
        return -1;
    if (layout.first_block < layout.comment)
        return fail(ZF_ERR_FORMAT);
    if (layout.first_block > static_cast<long long>(size))
        return fail(ZF_ERR_EOF);
    const auto *d = static_cast<const unsigned char *>(data);
    const auto head = static_cast<size_t>(layout.comment);
    const size_t rest = size - static_cast<size_t>(layout.first_block);
    try {
        const std::string section = zf::comment_section(comment);
        // zf_open follows a first-block field up to INT_MAX
        if (section.size() > static_cast<size_t>(INT_MAX) - head || section.size() + head > SIZE_MAX - rest)
            return fail(ZF_ERR_MISUSE);
        const size_t total = head + section.size() + rest;
        auto *bytes = static_cast<unsigned char *>(std::malloc(total));
        if (!bytes)
            return fail(ENOMEM);
        std::memcpy(bytes, d, head);
        std::memcpy(bytes + head, section.data(), section.size());
        if (rest > 0)
            std::memcpy(bytes + head + section.size(), d + layout.first_block, rest);
        put32(bytes + layout.header + ZF_H_FIRST, static_cast<uint32_t>(head + section.size() - layout.header));
        *out = bytes;
        *out_size = total;
        return 0;
    } catch (const std::bad_alloc &) {
        return fail(ENOMEM);
    }
}

} // extern "C"
