// record.h - the open-file record as the library sees it: the fields callers
// read (zf_file, in zefa.h) followed by everything that belongs to the
// container and the codec of the current block.  Every record is made by
// the library, so a zf_file pointer it hands out always points into one.
#ifndef ZFLIB_RECORD_H
#define ZFLIB_RECORD_H

#include "byte_io.h"
#include "zefa.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zf {

struct Record;

// A codec's per-line call (see zf_line in zefa.h for its results) and the
// per-depth inner function it may keep beside it (each codec casts it to
// its own signature).
using LineFn = int (*)(Record *f, uint32_t **line);
using PixelFn = void (*)();

inline constexpr unsigned char kMagic[4] = {'Z', 'F', 'D', 'T'};

inline constexpr int kStreamSize = 8192;  // codec stream buffer
inline constexpr int kCodecRegsSize = 256; // codec counters and bit words after it

// What a file is created with: zf_params with the saver held as text.
struct CreationParams {
    char saver[31];
    int depth;
    int max_width;
    int max_height;
    int ratio_x;
    int ratio_y;
    int packed;
    int n_pal;
    int n_bits;
    unsigned char palette[3 * ZF_PALETTE_MAX];
};

// The parameters zf_set_info and zf_set_palette set for zf_create and
// zf_open_append: one set per process, as those calls have always worked.
extern CreationParams creation;

struct Record : zf_file {
    int fd;              // -1 for a memory record
    bool owns_fd;        // closed by zf_close (not for zf_create_fd)
    unsigned char mode;  // 0 = reading, 1 = writing
    int base;            // 0, or 128 behind the prefix
    int error;           // the first failure; never reset
    int next_pos;
    int block_pos;
    int16_t max_width;
    int16_t max_height;
    int line_no;
    CreationParams params; // writing: what the file is created with
    // reading from memory: the caller's bytes, else null
    const unsigned char *mem;
    size_t mem_size;
    size_t mem_pos;
    long long pixel_limit; // most pixels of a block zf_begin_read accepts; 0: any
    // writing to memory: a growing buffer of mem_size bytes (capacity
    // out_cap); handed to *out_data at close when out_data is set
    unsigned char *out_mem;
    size_t out_cap;
    unsigned char **out_data;
    size_t *out_size;
    bool fixed_time; // writing: the header's time is `time`, not the time of closing
    uint32_t time;
    // per-block work buffers, allocated zero-filled by zf_begin_read /
    // zf_begin_write and freed when the block ends or at close
    uint32_t *line_a, *line_b, *line_c;                    // (width + 8) values
    unsigned char *row_a, *row_b, *row_c, *row_d, *row_e; // width + 8 bytes
    unsigned char *table_64k;
    unsigned char *table_1k;
    unsigned char *table_32k;
    // owned by the codec of the current block
    union {
        unsigned char bytes[kStreamSize + kCodecRegsSize];
        uint64_t align_;
    } codec_state;
    LineFn line_fn;
    PixelFn pixel_fn;
    int codec_word;
};

inline Record *rec(zf_file *f) { return static_cast<Record *>(f); }
inline const Record *rec(const zf_file *f) { return static_cast<const Record *>(f); }

// A row of the codec table: a block tag and the set-ups that install its
// line function (codecs/codec.h states their contract).
struct Codec {
    char tag[4];
    int (*read_setup)(Record *f);
    int (*write_setup)(Record *f, uint32_t **line);
};

// The codec row whose tag matches the four bytes at `tag`, or null.
const Codec *find_codec(const unsigned char *tag);

// Reads up to count bytes of a memory record at its position; the count read.
int read_memory(Record *f, void *buf, int count);
// The size of what the record reads (file or memory), -1 when unknown.
long long source_size(Record *f);

// A new file written into memory (zf_create_fd's form): the bytes go to
// the record's out_data at zf_close when it is set.
zf_file *create_memory(const char *title, const char *comment, const char *artist, int number,
                       const zf_params *params);

// The fields of a ZF_HEADER_SIZE-byte header image, decoded.
void header_info(const unsigned char *header, int n_pal, zf_info *info);

// A comment as its section is stored: every line end CR LF, then a 0.
std::string comment_section(const char *comment);

// Records a failure in the record and in zf_errno.
inline void set_error(Record *f, int code)
{
    f->error = code;
    zf_errno = code;
}

} // namespace zf

#endif
