/*
 * zefa.h - reading and writing ZEFA still-image files.
 *
 * A ZEFA file holds a 124-byte header (artist, subtitle, title, saver, work
 * number, time, colour depth, pixel ratio, image size), an optional
 * palette, a comment and one or more rectangular image blocks, each placed
 * at its own position and coded under a four-letter tag: "ZFBI" and "ZFBM"
 * uncompressed, "ZFSF" fast, "ZFSS" optimising.
 *
 * A program holds a zf_file record from zf_open (or zf_open_memory,
 * zf_create_with, zf_create_fd) to zf_close, and moves pixels one line at a
 * time through zf_line, or a whole picture at once through zf_decode_image.
 *
 * Threads: every record keeps all of its state, so any number of threads
 * may each use records of their own at the same time.  zf_errno is one value
 * per thread.  Only the calls marked "process-wide" at the end of this file
 * share settings between threads.  Loading the library touches neither the
 * terminal nor signals nor the environment.
 *
 * Results: record pointers are null on failure; ints are -1 for failure,
 * 0 or a count for success, -2 for a finished block.  The reason for a
 * failure is in zf_errno.  A failure that comes from the file (a system
 * error, ZF_ERR_EOF, ZF_ERR_FORMAT, ZF_ERR_LIMIT) is also kept by the
 * record and makes zf_close report failure; a call the caller should not
 * have made (ZF_ERR_MISUSE) is refused without touching the record.
 *
 * Pixel values: one uint32_t per pixel in every line buffer.
 *   depth 8:  palette index 0..255
 *   depth 15: G << 11 | R << 6 | B << 1 (5-bit components, bit 0 clear)
 *   depth 24: R << 16 | G << 8 | B
 *
 * Callable from C and C++.
 */
#ifndef ZEFA_H
#define ZEFA_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- errors ------------------------------------------------------------ */
/* Values of zf_errno besides the system's error numbers (2, 12, 13, 28, ...). */
#define ZF_ERR_EOF    257 /* bad data: the file ended too early */
#define ZF_ERR_FORMAT 258 /* bad data: not a ZEFA file, a field outside its limits */
#define ZF_ERR_LIMIT  259 /* bad data: a block has more pixels than the record's limit */
#define ZF_ERR_MISUSE 260 /* the caller's fault: a null record or argument, a value
                             outside its limits, a call out of order */

/* The last error of the calling thread (an lvalue). */
int *zf_errno_location(void);
#define zf_errno (*zf_errno_location())

/* English words for an error code, system errors included; never null. */
const char *zf_strerror(int code);

/* ---- the record --------------------------------------------------------- */
#define ZF_HEADER_SIZE       124
#define ZF_BLOCK_HEADER_SIZE 26
#define ZF_PREFIX_SIZE       128 /* optional foreign prefix before the header */
#define ZF_PALETTE_MAX       256

/* What a program may read of an open file (multi-byte values in file byte
 * order; zf_get_info and zf_get_block decode them).  Everything else about
 * an open file is the library's. */
typedef struct zf_file {
    unsigned char header[ZF_HEADER_SIZE];      /* the header as stored */
    unsigned char block[ZF_BLOCK_HEADER_SIZE]; /* the current block's header */
    int n_pal;                                 /* palette entries, 0 when none */
    int n_bits;
    unsigned char palette[3 * ZF_PALETTE_MAX]; /* R, G, B bytes as stored */
    char *comment; /* reading: the comment, 0-terminated, line ends CR LF; null when writing */
} zf_file;

/* ---- reading ------------------------------------------------------------ */
zf_file *zf_open(const char *name);
/* The same reader over `size` bytes in memory, which the caller owns and
 * keeps unchanged until zf_close.  Nothing is copied. */
zf_file *zf_open_memory(const void *data, size_t size);
/* Makes zf_begin_read refuse (ZF_ERR_LIMIT) a block of more than
 * max_pixels pixels, so that a small hostile file cannot claim hours of
 * decoding; 0 lifts the limit (the default). */
int zf_set_pixel_limit(zf_file *f, long long max_pixels);

/* The header's fields, decoded.  Text is as stored: Shift-JIS bytes,
 * padded with blanks to the field's width, then a 0. */
typedef struct zf_info {
    int depth;              /* 8, 15 or 24 for pictures this library decodes */
    int ratio_x, ratio_y;   /* pixel ratio: width to height of one pixel */
    int max_width, max_height; /* the image size */
    int number;             /* work number */
    uint32_t time;          /* seconds since 1970 UTC */
    int n_pal;              /* palette entries, 0 when none */
    char artist[19];
    char subtitle[9];
    char title[31];
    char saver[31];
} zf_info;
int zf_get_info(const zf_file *f, zf_info *info);

/* The blocks, in file order: 1 = a block this library decodes, 2 = a block
 * of another coding (skip it), 0 = no more blocks, -1 = failure.  A walk
 * that met damage cannot be walked again: open a new record. */
int zf_first_block(zf_file *f);
int zf_next_block(zf_file *f);

/* The current block's header, decoded. */
typedef struct zf_block {
    char tag[5]; /* four letters and a 0 */
    int x, y;    /* position in the image (may be negative) */
    int width, height;
} zf_block;
int zf_get_block(const zf_file *f, zf_block *block);

/* Starts decoding the current block; then each zf_line call stores the
 * next line in *line (valid until the next call) and returns its index,
 * -2 after the last line, -1 on failure. */
int zf_begin_read(zf_file *f);
int zf_line(zf_file *f, uint32_t **line);

/* Closes the record; 0 when every read or write succeeded, else -1. */
int zf_close(zf_file *f);

/* ---- whole pictures ----------------------------------------------------- */
/* A picture every decodable block of a file is drawn onto, at its place. */
typedef struct zf_picture {
    /* set by the caller */
    int width, height;     /* the canvas; pixels of blocks outside it are dropped */
    unsigned char *pixels; /* width * height pixels, top row first: one byte (the
                              palette index) for 8-bit files, else R, G, B */
    unsigned char *mask;   /* null, or width * height bytes: 1 where a pixel
                              was decoded, untouched elsewhere */
    /* filled by zf_decode_image */
    int blocks;            /* blocks drawn, wholly or in part */
    int skipped;           /* blocks of a coding the library does not know */
    int failed_block;      /* number of the block decoding stopped in, or -1 */
    int failed_line;       /* lines of that block that were drawn */
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

/* ---- writing ------------------------------------------------------------ */
/* What a file is created with. */
typedef struct zf_params {
    const char *saver;    /* the program that saves the file (30 bytes kept) */
    int depth;            /* 8, 15 or 24 */
    int max_width;        /* the image size; -1: from the blocks written */
    int max_height;
    int ratio_x, ratio_y; /* pixel ratio */
    int packed;           /* uncompressed 8- and 15-bit lines in packed form */
    int n_pal;            /* palette entries (1..256), 0 for none */
    int n_bits;           /* 1..256 when there is a palette */
    unsigned char palette[3 * ZF_PALETTE_MAX];
} zf_params;

/* Creates (or truncates) the named file.  The subtitle is the name's base
 * part; title, comment and artist may be null. */
zf_file *zf_create_with(const char *name, const char *title, const char *comment,
                        const char *artist, int number, const zf_params *params);
/* The same on a descriptor the caller opened for reading and writing (it
 * must allow seeking; the file is written from its start and the
 * descriptor is not closed).  The subtitle is blank. */
zf_file *zf_create_fd(int fd, const char *title, const char *comment,
                      const char *artist, int number, const zf_params *params);

/* Starts a block of the given tag at (x, y); *line receives the buffer for
 * the first line.  Each zf_line call then codes the line in *line and
 * stores the buffer for the next: it returns the lines received, 0 at the
 * end of a first pass (a "ZFSS" block takes every line twice), -2 after
 * the last line, -1 on failure.  extra: -1, or a value stored with the
 * block. */
int zf_begin_write(zf_file *f, uint32_t **line, int x, int y, int width,
                   int height, const char *tag, long extra);

/* Largest block: width + 8 must fit a signed 16-bit count. */
#define ZF_MAX_BLOCK_WIDTH  (32767 - 8)
#define ZF_MAX_BLOCK_HEIGHT 32767

/* ---- process-wide calls ------------------------------------------------ */
/* The original interface, kept as it was: settings shared by the whole
 * process, so one thread at a time.  zf_create is zf_create_with over the
 * parameters zf_set_info and zf_set_palette set; zf_load_info copies
 * zf_get_info's numbers into the variables below. */
void zf_set_info(const char *saver, int depth, int max_width, int max_height,
                 int ratio_x, int ratio_y, int packed);
/* Stops the program with an assertion report when a count is outside 1..256. */
void zf_set_palette(int n_pal, int n_bits, const unsigned char *entries);
zf_file *zf_create(const char *name, const char *title, const char *comment,
                   const char *artist, int number);
/* Opens a file to add blocks after its last one (created when missing). */
zf_file *zf_open_append(const char *name, const char *title,
                        const char *comment, const char *artist, int number);
extern int zf_depth, zf_ratio_x, zf_ratio_y, zf_max_width, zf_max_height;
void zf_load_info(zf_file *f);

/* ---- the file's bytes -------------------------------------------------- */
/* Header and block header fields (offsets into `header` and `block`). */
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

/* Byte order of the file's integers (big-endian) and the host's. */
uint16_t zf_swap16(uint16_t v);
uint32_t zf_swap32(uint32_t v);

/* Direct access to an open file's bytes, relative to its header; the
 * codecs read and write through these. */
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

/* Zero-filled allocation (free with free); text padded with blanks. */
void *zf_alloc(long count);
void zf_copy_pad(char *dest, const char *text, int width);

#ifdef __cplusplus
}
#endif

#endif /* ZEFA_H */
