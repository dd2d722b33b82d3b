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
 * time through zf_line.  A whole picture is read in one call under limits
 * (zf_decode_picture, zf_decode_scaled, zf_decode_memory) and written in one
 * (zf_encode_file, zf_encode_fd, zf_encode_memory).  The header's texts come
 * as UTF-8 through zf_get_texts, under the names every program shows them
 * by; zf_text_to_utf8 and zf_text_from_utf8 convert any other header text.
 * A program that keeps a file's bytes as stored learns where their parts
 * lie and changes their fields through zf_get_layout and the calls beside
 * it, never by offsets of its own.
 * zefa.hpp holds owners for these records for C++ programs.
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
#define ZF_ERR_LIMIT  259 /* bad data: a picture or block larger than the reader's limits */
#define ZF_ERR_MISUSE 260 /* the caller's fault: a null record or argument, a value
                             outside its limits, a call out of order */
#define ZF_ERR_TEXT   261 /* the caller's text: a character with no Shift-JIS form,
                             or bytes that are no UTF-8 */

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
 * an open file is the library's.  New programs read it through the calls
 * below (zf_get_palette, zf_get_comment, ...), which stay the same should
 * this record ever change. */
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
/* Whether the first `size` bytes of a file (at most ZF_SNIFF_SIZE are
 * looked at) are a ZEFA file's, by its magic at the start or behind the
 * ZF_PREFIX_SIZE-byte prefix: 1 yes, 0 no, -1 too few bytes to tell.  For
 * telling files apart; zf_open checks the rest. */
#define ZF_SNIFF_SIZE (ZF_PREFIX_SIZE + 4)
int zf_sniff(const void *data, size_t size);
/* Makes zf_begin_read refuse (ZF_ERR_LIMIT) a block of more than
 * max_pixels pixels, so that a small hostile file cannot claim hours of
 * decoding; 0 lifts the limit (the default). */
int zf_set_pixel_limit(zf_file *f, long long max_pixels);
/* Uncompressed 8- and 15-bit lines in packed form: the line buffer holds
 * the stored bytes themselves instead of one value per pixel.  Off unless
 * asked for, on each record of its own (reading or writing). */
int zf_set_packed(zf_file *f, int packed);

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

/* Where the block the walk stands on lies among the file's bytes: its
 * first byte (counted from the start, prefix included) and its length,
 * header included.  After the walk returned 0: the end marker's place and
 * a length of 0. */
int zf_get_block_span(const zf_file *f, long long *offset, long long *length);

/* The current block's header, decoded. */
typedef struct zf_block {
    char tag[5]; /* four letters and a 0 */
    int x, y;    /* position in the image (may be negative) */
    int width, height;
} zf_block;
int zf_get_block(const zf_file *f, zf_block *block);

/* What the record holds, as stored.  Pointers stay valid until zf_close. */
const unsigned char *zf_get_palette(const zf_file *f); /* 256 entries of R, G, B;
                                                          entries the file lacks are black */
int zf_get_palette_bits(const zf_file *f);          /* the palette's bit value, 0 without one */
const char *zf_get_comment(const zf_file *f);       /* Shift-JIS, line ends CR LF; "" for none */
const unsigned char *zf_get_header(const zf_file *f); /* the ZF_HEADER_SIZE header bytes */
const unsigned char *zf_get_block_header(const zf_file *f); /* the current block's
                                                          ZF_BLOCK_HEADER_SIZE bytes */

/* Starts decoding the current block; then each zf_line call stores the
 * next line in *line (valid until the next call) and returns its index,
 * -2 after the last line, -1 on failure. */
int zf_begin_read(zf_file *f);
int zf_line(zf_file *f, uint32_t **line);

/* Closes the record; 0 when every read or write succeeded, else -1. */
int zf_close(zf_file *f);

/* ---- header text ---------------------------------------------------------- */
/* Header texts are Shift-JIS (code page 932).  In UTF-8 every character
 * comes through as itself, control characters included (a program escapes
 * those for its medium); a byte that is no character becomes the four
 * characters \xHH (upper-case hex), as does a 0 byte (it would end the
 * text), and a backslash that would read as such an escape is written
 * \x5C.  Going back, \xHH gives the byte, so every stored text comes back
 * byte for byte; a character with no Shift-JIS form is refused, or replaced
 * when the caller names a fallback, and never stored as its UTF-8 bytes. */

/* Frees what the calls below (and zf_get_texts) return. */
void zf_free(void *p);

/* `length` bytes of Shift-JIS as UTF-8, 0-terminated; null (zf_errno set)
 * only when memory runs out. */
char *zf_text_to_utf8(const char *sjis, size_t length);

/* What zf_text_from_utf8 does with a character that has no Shift-JIS form
 * (or bytes that are no UTF-8). */
#define ZF_TEXT_STRICT   0 /* refuse the text: ZF_ERR_TEXT */
#define ZF_TEXT_QUESTION 1 /* store '?' for each such character */

/* UTF-8 as Shift-JIS: the bytes (0-terminated; *out_length, when not
 * null, is their count, as \x00 may stand for a 0 byte), or null with
 * zf_errno set. */
char *zf_text_from_utf8(const char *utf8, size_t length, int fallback, size_t *out_length);

/* The longest start of `length` bytes of Shift-JIS within `limit` bytes
 * that does not end inside a double-byte character (for fixed fields). */
size_t zf_text_cut(const char *sjis, size_t length, size_t limit);

/* The header's texts as every program shows them: one entry per text, in
 * this order, each under its key in picture metadata (the PNG text keys)
 * and its field name in JSON:
 *   "Title" title, "Author" artist, "Comment" comment (line ends LF),
 *   "Software" saver, "Creation Time" date (UTC, 2001-02-03T04:05:06Z,
 *   given for every time, 0 included), "ZEFA Subtitle" subtitle,
 *   "ZEFA Number" number (decimal).
 * Fields are taken without their padding blanks; an empty text has no
 * entry.  Values are UTF-8 as zf_text_to_utf8 gives them. */
typedef struct zf_text_entry {
    const char *key;   /* metadata key */
    const char *json;  /* JSON field name */
    const char *value; /* UTF-8 */
} zf_text_entry;
/* The entries and their count; one block of memory for zf_free, ending
 * with an entry of null pointers.  Null (zf_errno set) on failure. */
zf_text_entry *zf_get_texts(const zf_file *f, int *count);

/* ---- whole pictures ------------------------------------------------------ */
/* Every decodable block of a file drawn at its place onto one canvas: the
 * header's size grown to the blocks' extents.  A file is refused (nothing
 * is drawn) when its depth is not 8, 15 or 24, when not even its first
 * block can be reached, when the canvas is empty, when it is over a limit,
 * or when no block gives a line.  Otherwise it is decoded as far as it
 * goes: damage stops the decoding, and what was drawn before it is kept
 * and marked. */

/* What a picture may cost.  Both limits are checked before any block is
 * decoded, from the block headers, so a small file cannot claim hours of
 * work or gigabytes of memory; a file over a limit is refused whole
 * (ZF_ERR_LIMIT). */
typedef struct zf_limits {
    long long max_canvas; /* most pixels of the canvas (width x height) */
    long long max_work;   /* most pixels decoded for one file: the sum of the
                             areas of its decodable blocks, overlapping and
                             outside ones included; 0: from the canvas, as
                             ZF_WORK_PER_CANVAS canvases, at least ZF_MIN_WORK */
} zf_limits;
#define ZF_DEFAULT_MAX_CANVAS (1LL << 27)
#define ZF_WORK_PER_CANVAS    4
#define ZF_MIN_WORK           (1LL << 22)
/* Fills the defaults that suit a viewer: ZF_DEFAULT_MAX_CANVAS, and work
 * from the canvas. */
void zf_default_limits(zf_limits *limits);

/* The form of the pixels a caller asks for. */
#define ZF_RGB     0 /* three bytes R, G, B per pixel (8-bit files through the palette) */
#define ZF_INDEXED 1 /* 8-bit files: one byte per pixel, the palette index; other
                        depths come as ZF_RGB */

/* A decoded picture, made by the library; free it with zf_free_image. */
typedef struct zf_image {
    int width, height;     /* the canvas, or the size asked of zf_decode_scaled */
    int depth;             /* the file's: 8, 15 or 24 */
    int format;            /* ZF_RGB or ZF_INDEXED: what `pixels` holds */
    unsigned char *pixels; /* width * height pixels, top row first; what no
                              block covers is 0 (black, or index 0) */
    unsigned char *mask;   /* null when the file was decoded whole; else
                              width * height bytes, 1 where a pixel was drawn */
    unsigned char palette[3 * ZF_PALETTE_MAX]; /* the file's palette, R, G, B;
                              entries it lacks are black (all black for 15 and 24 bits) */
} zf_image;
void zf_free_image(zf_image *image);

/* How a decoding went, for the caller to tell. */
#define ZF_DECODED_WHOLE     0 /* every block decoded */
#define ZF_DECODED_DAMAGED   1 /* decoding stopped at `block`, after `lines` of its lines */
#define ZF_REFUSED_OPEN      2 /* not a readable ZEFA file (zf_decode_memory) */
#define ZF_REFUSED_DEPTH     3 /* a depth other than 8, 15 and 24 */
#define ZF_REFUSED_NO_READ   4 /* not even the first block can be read */
#define ZF_REFUSED_EMPTY     5 /* the canvas has no pixels */
#define ZF_REFUSED_CANVAS    6 /* the canvas is over max_canvas */
#define ZF_REFUSED_WORK      7 /* the blocks are over max_work */
#define ZF_REFUSED_NO_DECODE 8 /* damage before the first line */
#define ZF_REFUSED_NO_BLOCK  9 /* no block of a coding the library decodes */
#define ZF_REFUSED_OTHER     10 /* a misuse or a system error (memory) */
typedef struct zf_report {
    int status;           /* one of the values above */
    int error;            /* 0, or the code behind the status (zf_strerror) */
    int block;            /* damage: the block decoding stopped in, counted from 0
                             in file order over all blocks; else -1 */
    int lines;            /* damage: the lines of that block that were drawn */
    int blocks;           /* blocks drawn, wholly or in part */
    int skipped;          /* blocks of a coding the library does not know */
    int depth;            /* the file's depth */
    long long width, height; /* the canvas */
    long long work;       /* the pixels the blocks hold (the sum of their areas) */
    long long max_work;   /* the work limit that applied */
} zf_report;

/* Decodes every block of a freshly opened record (no block walked yet)
 * into a new picture.  `limits` null: the defaults.  The picture (whole or
 * damaged), or null when the file is refused; `report`, when not null, is
 * filled either way, and zf_errno holds report->error on refusal. */
zf_image *zf_decode_picture(zf_file *f, const zf_limits *limits, int format, zf_report *report);
/* The same over `size` bytes in memory, opened and closed inside. */
zf_image *zf_decode_memory(const void *data, size_t size, const zf_limits *limits, int format,
                           zf_report *report);

/* The picture drawn straight at width x height (a thumbnail, or the size a
 * viewer asks for): each pixel shows the canvas pixel nearest its centre.
 * Lines go from the blocks into the small picture as they are decoded, so
 * memory follows the picture asked for and the blocks' widths, never the
 * canvas; the limits and the refusals are those of zf_decode_picture, the
 * mask (on damage) is at the size asked for. */
zf_image *zf_decode_scaled(zf_file *f, int width, int height, const zf_limits *limits, int format,
                           zf_report *report);
/* Either from memory: width and height 0 for the canvas size. */
zf_image *zf_decode_memory_scaled(const void *data, size_t size, int width, int height,
                                  const zf_limits *limits, int format, zf_report *report);

/* The report in words: "" for a whole picture, else one sentence such as
 * "line 3 of block 1 cannot be decoded: the file ends too early" (damage) or
 * "no block can be decoded: ..." (a refusal).  Writes at most `size` bytes,
 * 0-terminated; returns the length of the whole text, as snprintf does. */
int zf_report_text(const zf_report *report, char *text, size_t size);

/* The earlier whole-picture calls, over a canvas the caller provides. */
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

/* The same into memory: at zf_close, when every write succeeded, *data
 * (free with zf_free) and *size receive the file's bytes.  The subtitle
 * is blank. */
zf_file *zf_create_memory(void **data, size_t *size, const char *title, const char *comment,
                          const char *artist, int number, const zf_params *params);

/* Replaces the subtitle of a file being written (8 bytes of Shift-JIS
 * kept; cut it with zf_text_cut). */
int zf_set_subtitle(zf_file *f, const char *sjis);

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

/* ---- writing a whole picture --------------------------------------------- */
/* One call writes a picture as a new file: the header, the palette, the
 * comment and the picture in blocks of at most ZF_MAX_BLOCK_WIDTH x
 * ZF_MAX_BLOCK_HEIGHT, left to right, then top to bottom, each coded in
 * every pass its coding asks for. */
#define ZF_CODING_NONE       0 /* "ZFBI" ("ZFBM" at depth 24) */
#define ZF_CODING_FAST       1 /* "ZFSF" */
#define ZF_CODING_OPTIMIZING 2 /* "ZFSS" */

/* The pixels' form for zf_encode_*, besides ZF_RGB (depth 15 and 24) and
 * ZF_INDEXED (depth 8): one uint32_t pixel value per pixel, as zf_line takes. */
#define ZF_VALUES 2

typedef struct zf_encoding {
    int depth;             /* 8, 15 or 24 */
    int coding;            /* ZF_CODING_... */
    const char *title;     /* Shift-JIS (zf_text_from_utf8); null: empty */
    const char *artist;
    const char *comment;   /* line ends LF, CR LF or CR */
    const char *subtitle;  /* null: the file name's base part (blank without a name) */
    const char *saver;     /* the program that saves the file */
    int ratio_x, ratio_y;  /* pixel ratio; 0 and 0: 1:1 */
    int number;            /* work number */
    int has_time;          /* 1: `time` is the header's time; 0: the time of writing */
    uint32_t time;         /* seconds since 1970 UTC */
    int n_pal;             /* depth 8: palette entries 1..256 */
    unsigned char palette[3 * ZF_PALETTE_MAX];
} zf_encoding;

/* `pixels` holds width x height pixels (each 1..32767) in `format`, top
 * row first.  0, or
 * -1 with zf_errno set (a file name's file is then left as far as it was
 * written). */
int zf_encode_file(const char *name, const zf_encoding *enc, const void *pixels, int width, int height,
                   int format);
/* On a descriptor opened for reading and writing that allows seeking. */
int zf_encode_fd(int fd, const zf_encoding *enc, const void *pixels, int width, int height, int format);
/* Into memory: *data (free with zf_free) and *size. */
int zf_encode_memory(void **data, size_t *size, const zf_encoding *enc, const void *pixels, int width,
                     int height, int format);

/* ---- a file's stored bytes ------------------------------------------------ */
/* For programs that keep parts of a file as they are stored and put them
 * together again: where the parts lie, a block header's fields, and the
 * header's texts, pixel ratio and comment changed in place.  The bytes are
 * checked before they are read (ZF_ERR_EOF: they end too early,
 * ZF_ERR_FORMAT: they are no ZEFA file's), and nothing outside them is read
 * or written; an argument outside its limits is ZF_ERR_MISUSE. */

/* Where a file's leading parts lie, in bytes from its start, and the
 * header's fields. */
typedef struct zf_layout {
    long long header;      /* 0, or ZF_PREFIX_SIZE behind a foreign prefix */
    long long comment;     /* the comment section: after the header and the palette section */
    long long first_block; /* where the header's field puts the first block, as stored
                              (zf_open is what checks it) */
    zf_info info;          /* as zf_get_info gives them */
} zf_layout;
/* From the first `size` bytes of a file, which must hold its header and
 * palette section (the bytes before the first block will do). */
int zf_get_layout(const void *data, size_t size, zf_layout *layout);

/* A block header from its ZF_BLOCK_HEADER_SIZE stored bytes: tag, place
 * and size as stored (zf_next_block is what judges them), and *length,
 * when not null, the block's length in bytes, header included. */
int zf_read_block_header(const void *bytes, size_t size, zf_block *block, long long *length);
/* Stores a block's tag (four non-zero bytes), place, size and length in
 * its header bytes; the header's other fields keep what they hold.  The
 * place and size must fit the header's 16-bit fields, the length lie
 * between ZF_BLOCK_HEADER_SIZE and 0xFFFFFFFF. */
int zf_write_block_header(void *bytes, size_t size, const zf_block *block, long long length);

/* Header fields to store over a file's bytes (as zf_get_layout takes
 * them).  Each text that is not null replaces its field: `length` bytes as
 * they are (at most the field's width: 18, 8 and 30), the rest of the
 * field blanks.  The pixel ratio is replaced when both numbers are
 * 1..32767; both 0 leave it.  A refused edit changes nothing. */
typedef struct zf_header_edit {
    const char *artist;
    size_t artist_length;
    const char *subtitle;
    size_t subtitle_length;
    const char *title;
    size_t title_length;
    int ratio_x, ratio_y;
} zf_header_edit;
int zf_edit_header(void *data, size_t size, const zf_header_edit *edit);

/* A file's bytes (or those before its first block) with another comment,
 * written as zf_create_with writes one (Shift-JIS, line ends CR LF, then a
 * 0) in place of the comment section, and the header's first-block field
 * moved to follow it; everything from the first block on comes after it as
 * it was.  *out (free with zf_free) and *out_size. */
int zf_replace_comment(const void *data, size_t size, const char *comment, void **out, size_t *out_size);

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

#ifdef __cplusplus
}
#endif

#endif /* ZEFA_H */
