"""The C interface of libzefa through ctypes: the records of zefa.h this
package passes and the calls it makes.  An open file is an opaque pointer,
read through the library's accessors.  Every call releases the interpreter
lock while it runs; the library keeps all state in its records, so threads
that each use records of their own never meet."""

import ctypes
import os

ZF_ERR_EOF = 257
ZF_ERR_FORMAT = 258
ZF_ERR_LIMIT = 259
ZF_ERR_MISUSE = 260
ZF_ERR_TEXT = 261

PALETTE_MAX = 256
TITLE_SIZE, ARTIST_SIZE, SUBTITLE_SIZE = 30, 18, 8  # the header's text fields, in bytes

ZF_TEXT_STRICT = 0
ZF_TEXT_QUESTION = 1

ZF_RGB = 0
ZF_INDEXED = 1

ZF_DECODED_WHOLE = 0
ZF_DECODED_DAMAGED = 1
ZF_REFUSED_OPEN = 2
ZF_REFUSED_NO_READ = 4
ZF_REFUSED_EMPTY = 5

ZF_CODING_NONE = 0
ZF_CODING_FAST = 1
ZF_CODING_OPTIMIZING = 2

c_int = ctypes.c_int
c_size_t = ctypes.c_size_t
c_char_p = ctypes.c_char_p
c_void_p = ctypes.c_void_p
FileP = c_void_p  # zf_file *: never looked into


class Info(ctypes.Structure):
    _fields_ = [
        ("depth", c_int),
        ("ratio_x", c_int),
        ("ratio_y", c_int),
        ("max_width", c_int),
        ("max_height", c_int),
        ("number", c_int),
        ("time", ctypes.c_uint32),
        ("n_pal", c_int),
        ("artist", ctypes.c_char * 19),
        ("subtitle", ctypes.c_char * 9),
        ("title", ctypes.c_char * 31),
        ("saver", ctypes.c_char * 31),
    ]


class TextEntry(ctypes.Structure):
    _fields_ = [("key", c_char_p), ("json", c_char_p), ("value", c_char_p)]


class Limits(ctypes.Structure):
    _fields_ = [("max_canvas", ctypes.c_longlong), ("max_work", ctypes.c_longlong)]


class Image(ctypes.Structure):
    _fields_ = [
        ("width", c_int),
        ("height", c_int),
        ("depth", c_int),
        ("format", c_int),
        ("pixels", c_void_p),
        ("mask", c_void_p),
        ("palette", ctypes.c_ubyte * (3 * PALETTE_MAX)),
    ]


class Report(ctypes.Structure):
    _fields_ = [
        ("status", c_int),
        ("error", c_int),
        ("block", c_int),
        ("lines", c_int),
        ("blocks", c_int),
        ("skipped", c_int),
        ("depth", c_int),
        ("width", ctypes.c_longlong),
        ("height", ctypes.c_longlong),
        ("work", ctypes.c_longlong),
        ("max_work", ctypes.c_longlong),
    ]


class Encoding(ctypes.Structure):
    _fields_ = [
        ("depth", c_int),
        ("coding", c_int),
        ("title", c_char_p),
        ("artist", c_char_p),
        ("comment", c_char_p),
        ("subtitle", c_char_p),
        ("saver", c_char_p),
        ("ratio_x", c_int),
        ("ratio_y", c_int),
        ("number", c_int),
        ("has_time", c_int),
        ("time", ctypes.c_uint32),
        ("n_pal", c_int),
        ("palette", ctypes.c_ubyte * (3 * PALETTE_MAX)),
    ]


ImageP = ctypes.POINTER(Image)
TextEntryP = ctypes.POINTER(TextEntry)


def _candidates():
    """Where the library may be, most specific first: ZEFA_LIBRARY (a path,
    for build trees and tests), the installed library at its place relative
    to this package (written by `make install`), then the loader's path by
    the library's versioned name."""
    given = os.environ.get("ZEFA_LIBRARY")
    if given:
        return [given]
    found = []
    try:
        from . import _installed
    except ImportError:
        pass
    else:
        found.append(os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), _installed.LIBRARY)))
        found.append(_installed.LIBRARY_ABSOLUTE)
    # the soname only: another major version has another interface
    found.append("libzefa.so.1")
    return found


def _load():
    failures = []
    for name in _candidates():
        try:
            return ctypes.CDLL(name)
        except OSError as e:
            failures.append(str(e))
    raise ImportError("zefa: libzefa cannot be loaded (" + "; ".join(failures) + ")")


lib = _load()


def _declare(name, restype, *argtypes):
    f = getattr(lib, name)
    f.restype = restype
    f.argtypes = list(argtypes)
    return f


P = ctypes.POINTER
zf_errno_location = _declare("zf_errno_location", P(c_int))
zf_strerror = _declare("zf_strerror", c_char_p, c_int)
zf_free = _declare("zf_free", None, c_void_p)

zf_open = _declare("zf_open", FileP, c_char_p)
zf_open_memory = _declare("zf_open_memory", FileP, c_void_p, c_size_t)
zf_close = _declare("zf_close", c_int, FileP)
zf_get_info = _declare("zf_get_info", c_int, FileP, P(Info))
zf_get_palette = _declare("zf_get_palette", P(ctypes.c_ubyte), FileP)
zf_get_texts = _declare("zf_get_texts", TextEntryP, FileP, P(c_int))
zf_picture_size = _declare("zf_picture_size", c_int, FileP, P(c_int), P(c_int))

zf_default_limits = _declare("zf_default_limits", None, P(Limits))
zf_decode_picture = _declare("zf_decode_picture", ImageP, FileP, P(Limits), c_int, P(Report))
zf_free_image = _declare("zf_free_image", None, ImageP)
zf_report_text = _declare("zf_report_text", c_int, P(Report), c_char_p, c_size_t)

zf_text_to_utf8 = _declare("zf_text_to_utf8", c_void_p, c_char_p, c_size_t)
zf_text_from_utf8 = _declare("zf_text_from_utf8", c_void_p, c_char_p, c_size_t, c_int, P(c_size_t))
zf_text_cut = _declare("zf_text_cut", c_size_t, c_char_p, c_size_t, c_size_t)

zf_encode_file = _declare("zf_encode_file", c_int, c_char_p, P(Encoding), c_void_p, c_int, c_int, c_int)
zf_encode_fd = _declare("zf_encode_fd", c_int, c_int, P(Encoding), c_void_p, c_int, c_int, c_int)
zf_encode_memory = _declare("zf_encode_memory", c_int, P(c_void_p), P(c_size_t), P(Encoding), c_void_p, c_int,
                            c_int, c_int)


def last_error():
    """zf_errno of the calling thread."""
    return zf_errno_location().contents.value


def strerror(code):
    return zf_strerror(code).decode("utf-8", "replace")


def report_text(report):
    """The library's words for a decoding's report ("" for a whole picture)."""
    size = zf_report_text(ctypes.byref(report), None, 0)
    buf = ctypes.create_string_buffer(max(size, 0) + 1)
    zf_report_text(ctypes.byref(report), buf, len(buf))
    return buf.value.decode("utf-8", "replace")


def refusal_text(status, code, size=(0, 0)):
    """The library's words for a file refused before decoding began."""
    report = Report()
    report.status, report.error, report.block = status, code, -1
    report.width, report.height = size
    return report_text(report)


def take_bytes(pointer, size):
    """The bytes the library returned at `pointer`, freed."""
    try:
        return ctypes.string_at(pointer, size)
    finally:
        zf_free(pointer)


def default_limits():
    limits = Limits()
    zf_default_limits(ctypes.byref(limits))
    return limits
