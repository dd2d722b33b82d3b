// companion.h - the proportional companion files (FAL and IPR) that carry
// the size and position of a raw RGB image.
//
// The name given is the image file's name; each operation derives the
// companion's name itself (companion_name with ".FAL" or ".IPR").
//
//   FAL: "F_ALL(V1.00)" / "%5d%6d%6d%6d" width height x y /
//        "   1.00   255   255   255   0"
//   IPR: "%d %d %d %d" width height x y
//
// Files are written with LF line ends; the readers skip any white space, so
// CR LF files are read as well.  Every operation returns 0 on success and -1
// otherwise and prints nothing.  A writer that fails leaves no file behind.
#ifndef ZEFA_COMMON_COMPANION_H
#define ZEFA_COMMON_COMPANION_H

#include <cstdio>

inline constexpr const char FAL_WORD[] = "F_ALL(V1.00)";
inline constexpr const char FAL_LAST_LINE[] = "   1.00   255   255   255   0";

// Opens the companion of the file name with the extension ext (".FAL",
// ".DJP", ...) in the fopen mode; null when it cannot.  Its name is left in
// path (NAME_SIZE bytes) when path is given.
FILE *open_companion(const char *name, const char *ext, const char *mode, char *path = nullptr);

int read_fal(const char *name, int *width, int *height, int *x, int *y);
int read_ipr(const char *name, int *width, int *height, int *x, int *y);
int write_fal(const char *name, int width, int height, int x, int y);
int write_ipr(const char *name, int width, int height, int x, int y);
// The same text written to an open stream.
int print_fal(FILE *f, int width, int height, int x, int y);
int print_ipr(FILE *f, int width, int height, int x, int y);

#endif
