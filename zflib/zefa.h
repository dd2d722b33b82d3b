/*
 * zefa.h - the ZEFA container library.
 *
 * A ZEFA file holds a 124-byte header, an optional palette, a comment and
 * one or more rectangular image blocks, each coded under a four-letter tag
 * ("ZFBI", "ZFBM", "ZFSF", "ZFSS").  A program holds a zf_file record from
 * zf_open / zf_create to zf_close and moves image data one line at a time
 * through zf_line; the block's codec is found through zf_codec_table.
 *
 * Results: record pointers are null on failure; ints are -1 for failure,
 * 0 or a count for success, -2 for a finished block.  The reason for a
 * failure is in zf_errno (and in the record's own `error`, which is never
 * cleared and makes zf_close report failure).
 *
 * Pixel values: one uint32_t per pixel in every line buffer.
 *   depth 8:  palette index 0..255
 *   depth 15: G << 11 | R << 6 | B << 1 (5-bit components, bit 0 clear)
 *   depth 24: R << 16 | G << 8 | B
 *
 * Callable from C and C++.  Not thread-safe apart from zf_errno, which is
 * one value per thread; codec state lives in each record.
 */
#ifndef ZEFA_H
#define ZEFA_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- error codes (values of zf_errno and zf_file.error) --------------- */
/* Any other value is a system error number (2, 12, 13, 28, ...). */
#define ZF_ERR_EOF    257 /* an exact read came up short: the file ended too early */
#define ZF_ERR_FORMAT 258 /* not a ZEFA file, bad field values, tag without codec */
#define ZF_ERR_LIMIT  259 /* a block has more pixels than the record's limit */

/* ---- layout constants ------------------------------------------------- */
#define ZF_HEADER_SIZE       124
#define ZF_BLOCK_HEADER_SIZE 26
#define ZF_PREFIX_SIZE       128  /* optional foreign prefix before the header */
#define ZF_PALETTE_MAX       256
#define ZF_STREAM_SIZE       8192 /* codec stream buffer inside the record */
#define ZF_CODEC_REGS_SIZE   256  /* codec counters and bit words after it */

typedef struct zf_file zf_file;

/* Line function: moves one line between the caller and the block payload.
 * Reading: stores the delivered line in *line, returns its index, -2 after
 * the last line.  Writing: codes the line in *line, stores the buffer for
 * the next one, returns lines received, 0 at the end of a non-final pass,
 * -2 after the last line of the last pass.  Both: -1 on failure. */
typedef int (*zf_line_fn)(zf_file *f, uint32_t **line);

/* Per-depth inner function of a codec; each codec casts it to its own
 * signature before calling. */
typedef void (*zf_pixel_fn)(void);

/* The open-file record.  Tools read `block` (with zf_swap16 / zf_swap32),
 * `n_pal`, `n_bits`, `palette` and `comment`; everything else belongs to
 * the library and the codec of the current block. */
struct zf_file {
    unsigned char header[ZF_HEADER_SIZE];      /* file byte order */
    unsigned char block[ZF_BLOCK_HEADER_SIZE]; /* file byte order */
    int n_pal;
    int n_bits;
    unsigned char palette[3 * ZF_PALETTE_MAX];
    char *comment;   /* read mode: the comment, 0-terminated; null in write mode */
    int fd;
    unsigned char mode; /* 0 = reading, 1 = writing */
    int base;           /* 0, or 128 behind the prefix */
    int error;          /* first-failure-sticky error code: never reset */
    int next_pos;
    int block_pos;
    int16_t max_width;
    int16_t max_height;
    int line_no;
    /* per-block work buffers, allocated zero-filled by zf_begin_read /
     * zf_begin_write and freed when the block ends or at close */
    uint32_t *line_a, *line_b, *line_c;                 /* (width + 8) values */
    unsigned char *row_a, *row_b, *row_c, *row_d, *row_e; /* width + 8 bytes */
    unsigned char *table_64k;
    unsigned char *table_1k;
    unsigned char *table_32k;
    /* owned by the codec of the current block */
    union {
        unsigned char bytes[ZF_STREAM_SIZE + ZF_CODEC_REGS_SIZE];
        uint64_t align_;
    } codec_state;
    zf_line_fn line_fn;
    zf_pixel_fn pixel_fn;
    int codec_word;
    /* reading from memory (zf_open_memory): the caller's bytes, else null */
    const unsigned char *mem;
    size_t mem_size;
    size_t mem_pos;
    /* most pixels (width x height) of a block zf_begin_read accepts; 0: any */
    long long pixel_limit;
};

/* ---- header field offsets (Part of the format: big-endian, see zf_swap) */
#define ZF_H_MAGIC      0   /* "ZFDT" */
#define ZF_H_ARTIST     4   /* 18 bytes */
#define ZF_H_SUBTITLE   22  /* 8 bytes */
#define ZF_H_TITLE      32  /* 30 bytes */
#define ZF_H_SAVER      64  /* 30 bytes */
#define ZF_H_FLAGS      98  /* u16, bit 0: palette present */
#define ZF_H_NUMBER     100 /* s16 */
#define ZF_H_TIME       102 /* u32, seconds since 1970 UTC */
#define ZF_H_FIRST      106 /* u32, first block position */
#define ZF_H_DEPTH      110 /* s16 */
#define ZF_H_RATIO_X    112 /* s16 */
#define ZF_H_RATIO_Y    114 /* s16 */
#define ZF_H_MAX_WIDTH  116 /* s16 */
#define ZF_H_MAX_HEIGHT 118 /* s16 */

#define ZF_B_TAG    0  /* 4 bytes */
#define ZF_B_LENGTH 4  /* u32 */
#define ZF_B_EXTRA  8  /* u16 extra flag */
#define ZF_B_WIDTH  10 /* s16 */
#define ZF_B_HEIGHT 12 /* s16 */
#define ZF_B_X      14 /* s16 */
#define ZF_B_Y      16 /* s16 */
#define ZF_B_VALUE  18 /* u32 extra value */

/* Largest block: width + 8 must fit a signed 16-bit count. */
#define ZF_MAX_BLOCK_WIDTH  (32767 - 8)
#define ZF_MAX_BLOCK_HEIGHT 32767

/* ---- the last error --------------------------------------------------- */
/* zf_errno is the library's last error code.  In C++ and C it is an
 * lvalue expression naming a per-thread variable. */
int *zf_errno_location(void);
#define zf_errno (*zf_errno_location())

/* ---- byte order and file access --------------------------------------- */
uint16_t zf_swap16(uint16_t v);
uint32_t zf_swap32(uint32_t v);

int zf_read(zf_file *f, void *buf, int count);
int zf_read_some(zf_file *f, void *buf, int count);
int zf_read_u8(zf_file *f);
int zf_read_u16(zf_file *f);
int zf_write(zf_file *f, const void *buf, int count);
int zf_write_u8(zf_file *f, int value);
int zf_write_u16(zf_file *f, int value);
int zf_write_u32(zf_file *f, uint32_t value);
long zf_seek(zf_file *f, long position);
long zf_tell(zf_file *f);

void *zf_alloc(long count);
void zf_copy_pad(char *dest, const char *text, int width);

/* ---- creation parameters ---------------------------------------------- */
void zf_set_info(const char *saver, int depth, int max_width, int max_height,
                 int ratio_x, int ratio_y, int packed);
void zf_set_palette(int n_pal, int n_bits, const unsigned char *entries);

/* ---- files ------------------------------------------------------------ */
zf_file *zf_open(const char *name);
/* The same reader over `size` bytes in memory, which the caller owns and
 * keeps unchanged until zf_close.  Nothing is copied. */
zf_file *zf_open_memory(const void *data, size_t size);
/* Makes zf_begin_read refuse (ZF_ERR_LIMIT) a block of more than
 * max_pixels pixels, so that a small hostile file cannot claim hours of
 * decoding; 0 lifts the limit (the default). */
void zf_set_pixel_limit(zf_file *f, long long max_pixels);
zf_file *zf_create(const char *name, const char *title, const char *comment,
                   const char *artist, int number);
zf_file *zf_open_append(const char *name, const char *title,
                        const char *comment, const char *artist, int number);
int zf_close(zf_file *f);

/* 1 = decodable block, 2 = unrecognised tag (skipped), 0 = end, -1 = failure */
int zf_first_block(zf_file *f);
int zf_next_block(zf_file *f);

int zf_begin_read(zf_file *f);
int zf_begin_write(zf_file *f, uint32_t **line, int x, int y, int width,
                   int height, const char *tag, long extra);
int zf_line(zf_file *f, uint32_t **line);

/* ---- whole pictures ---------------------------------------------------- */
/* A picture every decodable block of a file is drawn onto, at its place. */
typedef struct zf_picture {
    /* set by the caller */
    int width, height;      /* the canvas; pixels of blocks outside it are dropped */
    unsigned char *pixels;  /* width * height pixels, top row first: one byte (the
                               palette index) for 8-bit files, else R, G, B */
    unsigned char *mask;    /* null, or width * height bytes: 1 where a pixel
                               was decoded, untouched elsewhere */
    /* filled by zf_decode_image */
    int blocks;             /* blocks drawn, wholly or in part */
    int skipped;            /* blocks of a coding the library does not know */
    int failed_block;       /* number of the block decoding stopped in, or -1 */
    int failed_line;        /* lines of that block that were drawn */
} zf_picture;

/* The canvas that holds every block of the file: the header's size grown
 * to the blocks' extents, for a file of depth 8, 15 or 24.  Walks the
 * blocks, so give it a record of its own.  0, or -1 when not even the
 * first block could be reached; blocks after damage are not counted. */
int zf_picture_size(zf_file *f, int *width, int *height);
/* Decodes every decodable block of a freshly opened record onto the
 * picture.  15-bit colours are widened to 8 bits by repeating their top
 * bits.  0 when every block was decoded whole; -1 when decoding stopped
 * (zf_errno says why, failed_block and failed_line how far it got), with
 * every line before the damage drawn. */
int zf_decode_image(zf_file *f, zf_picture *pic);

/* ---- the codec table -------------------------------------------------- */
typedef struct zf_codec {
    char tag[4];
    int (*read_setup)(zf_file *f);
    int (*write_setup)(zf_file *f, uint32_t **line);
} zf_codec;

#define ZF_CODEC_COUNT 4
extern const zf_codec zf_codec_table[ZF_CODEC_COUNT];

/* ---- messages and display --------------------------------------------- */
extern int zf_depth, zf_ratio_x, zf_ratio_y, zf_max_width, zf_max_height;

void zf_print_error(const char *detail);
int zf_key_pressed(void);
void zf_load_info(zf_file *f);
void zf_show_header(zf_file *f, int mode);
void zf_show_file(const char *name);

#ifdef __cplusplus
}
#endif

#endif /* ZEFA_H */
