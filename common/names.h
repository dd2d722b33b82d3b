// names.h - file name rules shared by zfenc and zfdec.
//
// Names are held in fixed fields of NAME_SIZE bytes, terminator included,
// so a name has at most NAME_SIZE - 1 bytes.  '\\', '/' and ':' all count as
// separators where the rules below speak of directories, so names written
// in either style behave the same way.
#ifndef ZEFA_COMMON_NAMES_H
#define ZEFA_COMMON_NAMES_H

#include <cstddef>

inline constexpr std::size_t NAME_SIZE = 256;

// Fixed extensions of the files the tools read and write.
inline constexpr const char EXT_ZF[] = ".ZF";
inline constexpr const char EXT_RGB[] = ".RGB";
inline constexpr const char EXT_Q0[] = ".Q0";
inline constexpr const char EXT_FAL[] = ".FAL";
inline constexpr const char EXT_IPR[] = ".IPR";
inline constexpr const char EXT_DJP[] = ".DJP";
inline constexpr const char EXT_GLM[] = ".GLM";
inline constexpr const char EXT_GMM[] = ".GMM";
inline constexpr const char EXT_DOC[] = ".DOC";

// True when the name contains a '.' and the character after its last '.'
// is neither '\\' nor '/' nor the end of the text.
bool name_has_extension(const char *name);

// Copies text into a name field of NAME_SIZE bytes.  Returns 0, or -1 (and
// an empty field) when the text has more than NAME_SIZE - 1 bytes.
int name_copy(char *field, const char *text);

// Appends ext to the name in the field (NAME_SIZE bytes) when the name has
// no extension.  Returns 0, or -1 (field unchanged) when the result would
// not fit.
int name_add_default_extension(char *field, const char *ext);

// The companion of a file: the name up to its last '.' (directories
// included), followed by ext; a name without '.' is taken whole.  The
// result is built in out (NAME_SIZE bytes).  Returns 0, or -1 (and an
// empty out) when it would not fit.
int companion_name(char *out, const char *name, const char *ext);

#endif
