// names.h - file name rules shared by zfenc and zfdec.
//
// Names are held in fixed fields of NAME_SIZE bytes, terminator included,
// so a name has at most NAME_SIZE - 1 bytes.  '\\', '/' and ':' all count as
// separators where the rules below speak of directories, so names written
// in either style behave the same way.
#ifndef ZEFA_COMMON_NAMES_H
#define ZEFA_COMMON_NAMES_H

#include <cstddef>
#include <string>

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

// True when the name's last part (after its last '\\' or '/') contains a
// '.' that is not its last character.  A '.' in a folder's name is no
// extension: photos.2001/pic has none.
bool name_has_extension(const char *name);

// Copies text into a name field of NAME_SIZE bytes.  Returns 0, or -1 (and
// an empty field) when the text has more than NAME_SIZE - 1 bytes.
int name_copy(char *field, const char *text);

// Appends ext to the name in the field (NAME_SIZE bytes) when the name has
// no extension.  Returns 0, or -1 (field unchanged) when the result would
// not fit.
int name_add_default_extension(char *field, const char *ext);

// The companion of a file: the name up to the last '.' of its last part
// (directories included), followed by ext; a name without '.' is taken whole.  The
// result is built in out (NAME_SIZE bytes).  Returns 0, or -1 (and an
// empty out) when it would not fit.
int companion_name(char *out, const char *name, const char *ext);

// The name up to the last '.' of its last part, or the whole name.
std::string name_up_to_last_dot(const std::string &name);

// The name as it stands in the current folder when it leads with a drive:
// after the last ':', only what follows the last '\\' behind it (or what
// follows the ':' when no '\\' does).  A name without ':' is kept whole,
// directories included.
std::string name_without_drive(const char *name);

// The output name a tool derives from its input: name_without_drive, up to
// its last '.'.
std::string name_default_output(const char *input);

// True when both names can be examined and name one file, however spelled
// ("./a.ZF", a link): writing one would destroy the other.
bool same_file(const char *a, const char *b);

// Names from the command line.  A name too long for its field is given to
// `refuse`, which says so and ends the run; the field is then left as
// name_copy or name_add_default_extension left it.
using name_refusal = void (*)(const char *name);
// name_copy, refusing the text.
void take_name(char *field, const char *text, name_refusal refuse);
// name_add_default_extension, refusing the name in the field.
void add_extension(char *field, const char *ext, name_refusal refuse);
// add_extension for an output, except that a name which already names a
// device or a pipe (/dev/full, a FIFO) is kept: that is where it goes.
void add_output_extension(char *field, const char *ext, name_refusal refuse);

// True when the name exists and is not a plain file (a device, a pipe).
bool names_device_or_pipe(const char *name);

#endif
