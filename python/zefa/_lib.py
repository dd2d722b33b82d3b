"""The C interface of libzefa through ctypes: the records of zefa.h and the
calls this package makes.  Every call releases the interpreter lock while
it runs; the library keeps all state in its records, so threads that each
use records of their own never meet."""

import ctypes
import os

ZF_ERR_EOF = 257
ZF_ERR_FORMAT = 258
ZF_ERR_LIMIT = 259
ZF_ERR_MISUSE = 260

HEADER_SIZE = 124
PALETTE_MAX = 256
MAX_BLOCK_WIDTH = 32767 - 8
MAX_BLOCK_HEIGHT = 32767
H_SUBTITLE = 22


class File(ctypes.Structure):
    """What a program may read of an open file (zf_file)."""
    _fields_ = [
        ("header", ctypes.c_ubyte * HEADER_SIZE),
        ("block", ctypes.c_ubyte * 26),
        ("n_pal", ctypes.c_int),
        ("n_bits", ctypes.c_int),
        ("palette", ctypes.c_ubyte * (3 * PALETTE_MAX)),
        ("comment", ctypes.c_char_p),
    ]


class Info(ctypes.Structure):
    _fields_ = [
        ("depth", ctypes.c_int),
        ("ratio_x", ctypes.c_int),
        ("ratio_y", ctypes.c_int),
        ("max_width", ctypes.c_int),
        ("max_height", ctypes.c_int),
        ("number", ctypes.c_int),
        ("time", ctypes.c_uint32),
        ("n_pal", ctypes.c_int),
        ("artist", ctypes.c_char * 19),
        ("subtitle", ctypes.c_char * 9),
        ("title", ctypes.c_char * 31),
        ("saver", ctypes.c_char * 31),
    ]


class Picture(ctypes.Structure):
    _fields_ = [
        ("width", ctypes.c_int),
        ("height", ctypes.c_int),
        ("pixels", ctypes.c_void_p),
        ("mask", ctypes.c_void_p),
        ("blocks", ctypes.c_int),
        ("skipped", ctypes.c_int),
        ("failed_block", ctypes.c_int),
        ("failed_line", ctypes.c_int),
    ]


class Params(ctypes.Structure):
    _fields_ = [
        ("saver", ctypes.c_char_p),
        ("depth", ctypes.c_int),
        ("max_width", ctypes.c_int),
        ("max_height", ctypes.c_int),
        ("ratio_x", ctypes.c_int),
        ("ratio_y", ctypes.c_int),
        ("packed", ctypes.c_int),
        ("n_pal", ctypes.c_int),
        ("n_bits", ctypes.c_int),
        ("palette", ctypes.c_ubyte * (3 * PALETTE_MAX)),
    ]


FileP = ctypes.POINTER(File)
LineP = ctypes.POINTER(ctypes.c_uint32)


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


c_int = ctypes.c_int
zf_errno_location = _declare("zf_errno_location", ctypes.POINTER(c_int))
zf_strerror = _declare("zf_strerror", ctypes.c_char_p, c_int)
zf_open = _declare("zf_open", FileP, ctypes.c_char_p)
zf_open_memory = _declare("zf_open_memory", FileP, ctypes.c_void_p, ctypes.c_size_t)
zf_set_pixel_limit = _declare("zf_set_pixel_limit", c_int, FileP, ctypes.c_longlong)
zf_get_info = _declare("zf_get_info", c_int, FileP, ctypes.POINTER(Info))
zf_picture_size = _declare("zf_picture_size", c_int, FileP, ctypes.POINTER(c_int), ctypes.POINTER(c_int))
zf_decode_image = _declare("zf_decode_image", c_int, FileP, ctypes.POINTER(Picture))
zf_close = _declare("zf_close", c_int, FileP)
zf_create_fd = _declare("zf_create_fd", FileP, c_int, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p, c_int,
                        ctypes.POINTER(Params))
zf_begin_write = _declare("zf_begin_write", c_int, FileP, ctypes.POINTER(LineP), c_int, c_int, c_int, c_int,
                          ctypes.c_char_p, ctypes.c_long)
zf_line = _declare("zf_line", c_int, FileP, ctypes.POINTER(LineP))


def last_error():
    """zf_errno of the calling thread."""
    return zf_errno_location().contents.value


def strerror(code):
    return zf_strerror(code).decode("ascii", "replace")
