/*
 * zf_console.h - the console as the ZEFA tools see it.
 *
 * Program texts are held as UTF-8 and written in the console's character
 * set: Shift-JIS (code page 932) when the first set of LC_ALL, LC_CTYPE,
 * LANG names a Shift-JIS codeset, otherwise UTF-8.  Text that comes out of
 * a ZEFA file is Shift-JIS: lay a line out in the file's bytes, then show
 * the finished line with console_printf_sjis / console_write_sjis.
 *
 * The keyboard: console_key_pressed (zefa.h) polls standard input without echo
 * when it is a terminal; the terminal is restored on every way out.
 */
#ifndef ZF_CONSOLE_H
#define ZF_CONSOLE_H

#include "zefa.h"

#include <stddef.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define ZF_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define ZF_PRINTF(a, b)
#endif

/* ---- the library's messages and the header display -------------------- */
/* Prints the message for zf_errno on standard error (the system's own
 * Japanese texts, or the catalog's in the user's language), after
 * "detail:" when a detail is given. */
void console_print_error(const char *detail);
/* The header's text fields and the comment on standard output; mode 1
 * briefly, 2 and 3 with the numbers (2 waits for a key at the end). */
void console_show_header(zf_file *f, int mode);
/* console_show_header in mode 3 for a named file, or the library's message. */
void console_show_file(const char *name);
/* The key waiting on the terminal (27 for ESC), or 0; never waits. */
int console_key_pressed(void);

/* ---- console text ------------------------------------------------------ */
/* 1 when the console's character set is Shift-JIS, 0 for UTF-8. */
int console_sjis(void);
/* Re-reads the locale variables (for tests that change them). */
void console_reset(void);

/* printf of a UTF-8 program text, written in the console's set. */
/* A program text in the user's language: the catalog's text when the
 * locale asks for a language that has one (English), else the text
 * itself.  console_printf applies it to its format. */
const char *console_text(const char *program_text);

int console_printf(FILE *stream, const char *fmt, ...) ZF_PRINTF(2, 3);
/* printf whose result is Shift-JIS bytes (file text laid out by byte
 * widths), written in the console's set; control characters other than
 * tab and line feed, and bytes that do not convert, are shown as \xHH
 * (visible_text.h). */
int console_printf_sjis(FILE *stream, const char *fmt, ...) ZF_PRINTF(2, 3);
/* Writes n bytes of Shift-JIS text in the console's set. */
void console_write_sjis(FILE *stream, const char *bytes, size_t n);

/* Converts text given by the user (command line, environment, keyboard,
 * comment file) to the Shift-JIS form stored in ZEFA files: when the
 * console is UTF-8 and the text is valid UTF-8 whose every character has a
 * code page 932 form, it is converted; otherwise the bytes stay as given.
 * The result is written to out (at most outsize - 1 bytes and a 0); the
 * length of the full result is returned, as snprintf does.  Conversion
 * never cuts a character: when it does not fit, the copy stops at the last
 * whole character. */
size_t console_stored_text(const char *in, char *out, size_t outsize);
/* Length of the longest prefix of Shift-JIS text s (length n) that has at
 * most limit bytes and does not end inside a double-byte character. */
size_t console_sjis_cut(const char *s, size_t n, size_t limit);

/* 1 when standard input is a terminal (keys can be pressed). */
int console_interactive(void);
/* Waits for any key when standard input is a terminal; returns at once
 * otherwise.  Returns the key (0 when it did not wait). */
int console_wait_key(void);
/* Puts the terminal back as it was; harmless when nothing was changed. */
void console_restore(void);
/* A function called (from the signal handler, so async-signal-safe only)
 * when SIGINT, SIGTERM, SIGHUP, SIGQUIT or SIGPIPE ends the program, after the
 * terminal was restored and before the signal takes its default course. */
void console_on_signal(void (*hook)(int signo));

#ifdef __cplusplus
}
#endif

#endif
