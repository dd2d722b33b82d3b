/*
 * zefa_web.h - the calls the web page's script makes into the library
 * (zefa_web.cpp), for the page, for Node, and natively for the benchmark
 * and the fuzzer.
 *
 * Each call returns a zw_result the caller frees with zw_release, or null
 * when memory runs out: the bytes (RGBA pixels, or the file made), the
 * picture's size, and a JSON text with the rest ({"error": words} when
 * nothing came out).  The script reads the record as five 32-bit words.
 */
#ifndef ZEFA_WEB_H
#define ZEFA_WEB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zw_result {
    uint8_t *data;  /* RGBA pixels, or the file made */
    int32_t size;   /* bytes at data */
    int32_t width;  /* the picture's size (decoding) */
    int32_t height;
    char *json;     /* 0-terminated UTF-8 */
} zw_result;

/* A ZEFA file to RGBA (alpha 0 where a damaged file drew nothing); the JSON
 * holds info, png_text, blocks and damage. */
zw_result *zw_decode(const uint8_t *data, int32_t size);

/* RGBA to a ZEFA file: depth 8, 15 or 24, coding "none", "fast" or
 * "optimizing", texts as UTF-8; the JSON holds notes on what was dropped. */
zw_result *zw_encode(const uint8_t *rgba, int32_t width, int32_t height, int32_t depth, const char *coding,
                     const char *title, const char *author, const char *comment);

void zw_release(zw_result *r);

#ifdef __cplusplus
}
#endif

#endif
