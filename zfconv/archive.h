// archive.h - what a PNG made from a ZEFA file carries so that the file
// comes back: the private chunk (png_meta.h, kArchiveChunk).
//
// The chunk's data is one version byte (1), the body's length (u32) and
// the body compressed with zlib.  The body, integers big-endian:
//
//   u32 width, u32 height      the picture (the canvas every block is drawn on)
//   u8  flags                  1: the picture has holes (decoding stopped),
//                              2: a block was partly drawn when it stopped,
//                              4: the block walk reached the end marker
//   u64 size, 32 bytes         the file's size and SHA-256
//   32 bytes                   SHA-256 of the picture as the PNG reads back
//                              (pixel_digest; of its RGB form when the PNG
//                              holds RGB colours as a palette)
//   u32 n, n bytes             the file up to its first block: prefix,
//                              header, palette, comment
//   u32 blocks, then per block in file order:
//     u8 kind                  0: rebuilt from the picture, 1: payload
//                              stored, 2: the block's bytes as they are
//                              (a tag of another coding)
//     kind 0, 1: 26 bytes      the block header as stored
//     kind 1, 2: u32 n, n bytes
//   flags & 2: 26 bytes, u32   the header of the block decoding stopped in,
//                              and the lines it drew
//   u32 n, n bytes             the rest of the file: from the end marker, or
//                              from where the walk or decoding stopped
//
// The file is the lead, each block (header and payload; a rebuilt one's
// payload is its area of the picture coded with its tag) and the rest, in
// that order.  A block is rebuilt only when nothing is drawn over it, it
// lies inside the canvas, and coding its area gave its payload byte for
// byte when the chunk was made.
#ifndef ZEFA_ZFCONV_ARCHIVE_H
#define ZEFA_ZFCONV_ARCHIVE_H

#include "image.h"
#include "options.h"
#include "readers.h"

#include <array>
#include <string>
#include <vector>

namespace zfconv {

using Digest = std::array<uint8_t, 32>;

struct ArchiveBlock {
    enum Kind : uint8_t { rebuilt = 0, stored = 1, raw = 2 };
    Kind kind = rebuilt;
    Bytes head;    // rebuilt, stored: the 26-byte block header
    Bytes payload; // stored: the payload; raw: the whole block
};

struct Archive {
    int width = 0, height = 0;
    bool holes = false, partly_drawn = false, sound_end = false;
    uint64_t file_size = 0;
    Digest file_digest{}, pixel_digest{};
    Bytes lead;
    std::vector<ArchiveBlock> blocks;
    Bytes stopped_head; // partly_drawn: the block decoding stopped in
    int stopped_lines = 0;
    Bytes tail;
};

// What a chunk may cost, tied to the picture its PNG holds: the size of
// its body, and the pixels its blocks make a decoder draw (the sum of their
// areas, overlaps and the damaged block included).  A chunk beyond them,
// or one whose header is impossible (a depth other than 8, 15 or 24, a
// header cut short or larger than the picture), is a damaged chunk.
std::size_t archive_body_limit(int width, int height);
long long archive_work_limit(int width, int height);

Bytes pack_archive(const Archive &a);
bool unpack_archive(const Bytes &data, Archive &a, std::string &error, std::size_t max_body = SIZE_MAX);

Digest sha256(const uint8_t *data, std::size_t size);

// The picture as its PNG reads back (a picture with holes is RGBA: its
// palette indices become colours), which the digests and rebuilds see.
// An RGB picture of at most 256 colours is written as a palette PNG, but
// its view and digest stay RGB: a palette picture read back whose own
// digest differs is compared as rgb_view too.
Image png_view(const Image &picture);
Image rgb_view(const Image &picture);
Digest pixel_digest(const Image &view);

// What of a ZEFA file its picture (`view`, png_view of what read_zefa
// drew) cannot give back.  `decoded`, what read_zefa told of that
// decoding, spares decoding the file again; the chunk is the same without.
bool make_archive(const Bytes &file, const Image &view, Archive &a, std::string &error,
                  const ZefaDecoding *decoded = nullptr);

struct Restored {
    Bytes file;
    bool pixels_match = false; // the picture is the one the chunk was made from
    bool exact = false;        // the file is the original, byte for byte
    std::vector<std::string> notes;
    std::string unproven;      // non-empty: the chunk does not give the
                               // picture back (why); `file` is empty
};

// The file again from its chunk and a picture of the same size: the
// original bytes when nothing changed; else the original lead (header,
// palette, comment; text and ratio options applied) and blocks, each block
// the picture changed coded again with its tag (or the coding asked for),
// and new blocks for pixels no block covered.  False with `error` when the
// picture cannot be written that way.
//
// Nothing the chunk holds is trusted, its digests included (anyone can
// compute them for other bytes): the file made is walked and decoded
// before it is given, and it must show `picture` and be read exactly as
// the chunk describes it (every block where it was placed, of the kind it
// was kept as, and the walk ending, or decoding stopping, where the chunk
// says it did).  Otherwise `unproven` says why.
bool restore_archive(const Archive &a, const Image &picture, const Options &options, Restored &out,
                     std::string &error);

// Whether a ZEFA file shows the picture exactly, every pixel in its colour
// (a pixel no block decodes only where the picture has a hole or shows
// what such a pixel shows).
bool file_shows_picture(const Bytes &file, const Image &picture);

} // namespace zfconv

#endif
