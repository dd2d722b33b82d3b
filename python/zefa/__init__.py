"""ZEFA still-image files for Python, over the installed libzefa.

    import zefa
    pic = zefa.open("photo.ZF")          # or the file's bytes
    pic.size, pic.mode, pic.ratio, pic.time, pic.texts["Title"]
    data = pic.pixels                    # RGB bytes, or palette indices ("P")
    zefa.save("copy.ZF", data, pic.size, pic.mode, palette=pic.palette,
              coding="optimizing", title=pic.title)

`import zefa.pillow` makes Pillow open and save ZEFA files.

Everything about the file is the library's: the header and its texts, the
picture drawn from its blocks under limits on memory and work, the words
for damage, Shift-JIS, and writing.  Every failure is an OSError: system
errors as Python raises them (FileNotFoundError, ...), bad data and refused
calls as zefa.Error, whose errno is the library's code and whose words are
the library's.  Texts the caller gives that have no Shift-JIS form are a
ValueError unless errors="replace" is asked for.  Calls into the library
release the interpreter lock, so pictures may be opened and decoded from
many threads at once.
"""

import ctypes
import datetime
import os
from typing import NamedTuple, Optional

from . import _lib

__version__ = "1.0.0"
__all__ = ["open", "save", "Picture", "Decoded", "Error", "CODINGS", "decode_text", "encode_text",
           "DEFAULT_MAX_CANVAS"]

# The block codings by the names zfconv --coding takes.
CODINGS = {"none": _lib.ZF_CODING_NONE, "fast": _lib.ZF_CODING_FAST, "optimizing": _lib.ZF_CODING_OPTIMIZING}

ZF_ERR_EOF = _lib.ZF_ERR_EOF
ZF_ERR_FORMAT = _lib.ZF_ERR_FORMAT
ZF_ERR_LIMIT = _lib.ZF_ERR_LIMIT
ZF_ERR_MISUSE = _lib.ZF_ERR_MISUSE

# The library's canvas limit for a viewer, in pixels.
DEFAULT_MAX_CANVAS = _lib.default_limits().max_canvas


class Error(OSError):
    """Bad data, or a call the library refused: errno is the library's code
    (257 the file ends too early, 258 not a ZEFA file or a damaged one, 259
    over a limit, 260 a refused call); strerror the library's words."""

    def __init__(self, code, message=None, filename=None):
        super().__init__(code, message or _lib.strerror(code), filename)

    def __reduce__(self):
        return (type(self), (self.errno, self.strerror, self.filename))

    def __str__(self):
        if self.filename is None:
            return self.strerror
        return "%s: %s" % (os.fsdecode(self.filename), self.strerror)


def _fail(code, message=None, filename=None):
    if 0 < code < 256:  # a system error: FileNotFoundError and its kind
        return OSError(code, os.strerror(code), filename)
    return Error(code, message, filename)


# ---- header text -------------------------------------------------------------

_FALLBACKS = {"strict": _lib.ZF_TEXT_STRICT, "replace": _lib.ZF_TEXT_QUESTION}


def decode_text(sjis):
    """Shift-JIS bytes as str, as every program shows them: a byte that is
    no character reads as the four characters \\xHH, which encode_text
    turns back into the byte."""
    sjis = bytes(sjis)
    p = _lib.zf_text_to_utf8(sjis, len(sjis))
    if not p:
        raise _fail(_lib.last_error())
    try:
        return ctypes.string_at(p).decode("utf-8")
    finally:
        _lib.zf_free(p)


def encode_text(text, errors="strict", what="the text"):
    """A str as Shift-JIS bytes.  errors="strict" refuses a character with
    no Shift-JIS form (ValueError naming it); errors="replace" stores "?"
    for it."""
    if errors not in _FALLBACKS:
        raise ValueError("errors must be strict or replace, not %r" % (errors,))
    data = text.encode("utf-8", "surrogatepass")
    size = ctypes.c_size_t()
    p = _lib.zf_text_from_utf8(data, len(data), _FALLBACKS[errors], ctypes.byref(size))
    if p:
        return _lib.take_bytes(p, size.value)
    code = _lib.last_error()
    if code != _lib.ZF_ERR_TEXT:
        raise _fail(code)
    bad = next((c for c in text if not _has_sjis_form(c)), text)
    raise ValueError("%s has a character with no Shift-JIS form: %r (errors=\"replace\" stores ? for it)"
                     % (what, bad))


def _has_sjis_form(char):
    data = char.encode("utf-8", "surrogatepass")
    p = _lib.zf_text_from_utf8(data, len(data), _lib.ZF_TEXT_STRICT, None)
    _lib.zf_free(p)
    return bool(p)


def _field(value, limit, errors, what):
    """A header text field: str through Shift-JIS, bytes as given, cut
    before `limit` bytes without splitting a character."""
    raw = bytes(value) if isinstance(value, (bytes, bytearray, memoryview)) else encode_text(value, errors, what)
    return raw if limit is None else raw[:_lib.zf_text_cut(raw, len(raw), limit)]


# ---- reading -------------------------------------------------------------------

def open(source, *, name=None, max_canvas=None, max_work=None):
    """A ZEFA file's header, read now, and its pixels, decoded when asked
    for.  `source`: a path (str or path-like), or the file's bytes; `name`
    what errors call it (default: the path).  Limits, in pixels: max_canvas
    for the picture (default DEFAULT_MAX_CANVAS), max_work for the sum of
    the blocks' areas (default, or 0: a few canvases, the library's rule)."""
    return Picture(source, name=name, max_canvas=max_canvas, max_work=max_work)


class Decoded(NamedTuple):
    """A decoded picture: `pixels` top row first in `mode` ("P": one
    palette index per pixel; "RGB": R, G, B); `mask` None when every block
    was decoded, else one byte per pixel, 1 where a pixel was decoded;
    `damage` the library's words for where decoding stopped, or "", and
    `error` the library's code for its cause, or 0."""
    pixels: bytes
    mode: str
    size: tuple
    mask: Optional[bytes]
    damage: str
    error: int


class Picture:
    """An open ZEFA file.  Header values are attributes; `pixels` decodes
    the picture (once).  A picture from a path reads its file again to
    decode; one from bytes keeps them."""

    def __init__(self, source, *, name=None, max_canvas=None, max_work=None):
        if isinstance(source, (bytes, bytearray, memoryview)):
            self._data = bytes(source)
            self._path = None
            self.filename = name
        else:
            self._data = None
            self._path = os.fsencode(source)
            self.filename = source if name is None else name
        defaults = _lib.default_limits()
        # the limits decoding applies (attributes a caller may change)
        self.max_canvas = defaults.max_canvas if max_canvas is None else max_canvas
        self.max_work = defaults.max_work if max_work is None else max_work
        self._pixels = None
        f = self._record()
        try:
            self._read_header(f)
        finally:
            _lib.zf_close(f)

    def _read_header(self, f):
        info = _lib.Info()
        _lib.zf_get_info(f, ctypes.byref(info))
        self.depth = info.depth
        if self.depth not in (8, 15, 24):
            # the library's own refusal, before any block is read
            self._decode_record(f, _lib.ZF_RGB)
        self.mode = "P" if self.depth == 8 else "RGB"
        self.ratio = (info.ratio_x, info.ratio_y)
        self.number = info.number
        self.time = datetime.datetime.fromtimestamp(info.time, datetime.timezone.utc)
        self.texts = _texts(f, self.filename)
        # R, G, B per entry, as many as the file has
        self.palette = ctypes.string_at(_lib.zf_get_palette(f), 3 * info.n_pal) if info.n_pal > 0 else None
        w, h = ctypes.c_int(), ctypes.c_int()
        if _lib.zf_picture_size(f, ctypes.byref(w), ctypes.byref(h)) == 0:
            self.size = (w.value, h.value)
        elif info.max_width > 0 and info.max_height > 0:
            # the first block cannot be reached: decoding will say why
            self.size = (info.max_width, info.max_height)
        else:
            code = _lib.last_error()
            raise _fail(code, _lib.refusal_text(_lib.ZF_REFUSED_NO_READ, code), self.filename)
        if min(self.size) < 1:
            raise Error(ZF_ERR_FORMAT, _lib.refusal_text(_lib.ZF_REFUSED_EMPTY, ZF_ERR_FORMAT, self.size),
                        self.filename)

    def _record(self):
        if self._data is not None:
            f = _lib.zf_open_memory(self._data, len(self._data))
        else:
            f = _lib.zf_open(self._path)
        if not f:
            code = _lib.last_error()
            raise _fail(code, _lib.refusal_text(_lib.ZF_REFUSED_OPEN, code), self.filename)
        return f

    # the header's texts under the keys every program shows them by
    title = property(lambda self: self.texts.get("Title", ""))
    artist = property(lambda self: self.texts.get("Author", ""))
    comment = property(lambda self: self.texts.get("Comment", ""))
    saver = property(lambda self: self.texts.get("Software", ""))
    subtitle = property(lambda self: self.texts.get("ZEFA Subtitle", ""))

    @property
    def width(self):
        return self.size[0]

    @property
    def height(self):
        return self.size[1]

    @property
    def pixels(self):
        """Top row first: one palette index per pixel ("P"), else R, G, B.
        A damaged file raises Error, in the library's words."""
        if self._pixels is None:
            d = self.decode()
            if d.mask is not None:
                raise Error(d.error, d.damage, self.filename)
            self._pixels = d.pixels
        return self._pixels

    def decode(self, rgb=False):
        """The picture decoded now, as far as it decodes (a Decoded):
        8-bit files as palette indices, or as colours with rgb=True.  A
        file the library refuses (over a limit, nothing decodable) raises
        Error."""
        f = self._record()
        try:
            image, report = self._decode_record(f, _lib.ZF_RGB if rgb else _lib.ZF_INDEXED)
        finally:
            _lib.zf_close(f)
        try:
            im = image.contents
            n = im.width * im.height
            indexed = im.format == _lib.ZF_INDEXED
            pixels = ctypes.string_at(im.pixels, n * (1 if indexed else 3))
            mask = ctypes.string_at(im.mask, n) if im.mask else None
            size = (im.width, im.height)
        finally:
            _lib.zf_free_image(image)
        if report.status != _lib.ZF_DECODED_DAMAGED:
            return Decoded(pixels, "P" if indexed else "RGB", size, None, "", 0)
        return Decoded(pixels, "P" if indexed else "RGB", size, mask, _lib.report_text(report), report.error)

    def _decode_record(self, f, form):
        """The library's picture of an open record and its report; a
        refusal raises Error in the library's words."""
        report = _lib.Report()
        limits = _lib.Limits(self.max_canvas, self.max_work)
        image = _lib.zf_decode_picture(f, ctypes.byref(limits), form, ctypes.byref(report))
        if not image:
            raise _fail(report.error, _lib.report_text(report), self.filename)
        return image, report

    def __repr__(self):
        return "<zefa.Picture %s %dx%d depth %d>" % (self.mode, self.size[0], self.size[1], self.depth)


def _texts(f, filename):
    count = ctypes.c_int()
    entries = _lib.zf_get_texts(f, ctypes.byref(count))
    if not entries:
        raise _fail(_lib.last_error(), None, filename)
    try:
        return {entries[i].key.decode("utf-8"): entries[i].value.decode("utf-8")
                for i in range(count.value)}
    finally:
        _lib.zf_free(entries)


# ---- writing -------------------------------------------------------------------

def _check_range(what, value, low, high):
    if not isinstance(value, int) or not low <= value <= high:
        raise ValueError("%s must be a whole number from %d to %d, not %r" % (what, low, high, value))


def _rgb_from_indices(indices, palette):
    out = bytearray(3 * len(indices))
    for k in range(3):
        out[k::3] = indices.translate(palette[k::3])
    return bytes(out)


def _subtitle_of(path, errors):
    """As the library names a file it writes: the base name up to its
    first dot; blank when it has no Shift-JIS form and errors is strict."""
    base = os.path.basename(os.fsdecode(path)).split(".", 1)[0]
    try:
        return _field(base, _lib.SUBTITLE_SIZE, errors, "the subtitle")
    except ValueError:
        return b""


def _timestamp(time):
    if isinstance(time, datetime.datetime):
        time = int(time.timestamp())
    _check_range("the time", time, 0, 2 ** 32 - 1)
    return time


def save(target, pixels, size, mode="RGB", *, palette=None, depth=None, coding="fast", title="",
         artist="", comment="", subtitle=None, number=0, ratio=(1, 1), time=None, saver=None,
         errors="strict"):
    """Writes a ZEFA file.

    target: a path, a descriptor open for reading and writing, or a binary
    file object to write to.  pixels: top row first, R, G, B bytes (mode
    "RGB") or palette indices (mode "P", with `palette`: R, G, B bytes of
    up to 256 entries).  depth: 8, 15 or 24 (default 8 for "P", 24 for
    "RGB"; 8 needs "P").  coding: "none", "fast" or "optimizing".  Texts
    are str, stored as Shift-JIS (errors: "strict" refuses a character
    with no such form, "replace" stores "?"), or bytes stored as given;
    title, artist and subtitle are cut to their fields (30, 18 and 8
    bytes).  subtitle: default a path's base name.  ratio: the pixel's
    width to its height.  time: a datetime or seconds since 1970 (default:
    now)."""
    w, h = size
    _check_range("the width", w, 1, 32767)
    _check_range("the height", h, 1, 32767)
    _check_range("the work number", number, -32768, 32767)
    _check_range("the ratio's width", ratio[0], 1, 32767)
    _check_range("the ratio's height", ratio[1], 1, 32767)
    if mode not in ("RGB", "P"):
        raise ValueError("mode must be RGB or P, not %r" % (mode,))
    pixels = bytes(pixels)
    bpp = 3 if mode == "RGB" else 1
    if len(pixels) != w * h * bpp:
        raise ValueError("%d bytes of pixels for %d x %d in mode %s, not %d" % (w * h * bpp, w, h, mode, len(pixels)))
    if depth is None:
        depth = 8 if mode == "P" else 24
    if depth not in (8, 15, 24):
        raise ValueError("the depth must be 8, 15 or 24, not %r" % (depth,))
    if depth == 8 and mode != "P":
        raise ValueError("depth 8 holds palette indices: give a picture of mode P")
    if coding not in CODINGS:
        raise ValueError("the coding must be none, fast or optimizing, not %r" % (coding,))

    enc = _lib.Encoding()
    enc.depth = depth
    enc.coding = CODINGS[coding]
    enc.title = _field(title, _lib.TITLE_SIZE, errors, "the title")
    enc.artist = _field(artist, _lib.ARTIST_SIZE, errors, "the artist")
    enc.comment = _field(comment, None, errors, "the comment")
    if subtitle is not None:
        enc.subtitle = _field(subtitle, _lib.SUBTITLE_SIZE, errors, "the subtitle")
    elif isinstance(target, (str, bytes, os.PathLike)):
        enc.subtitle = _subtitle_of(target, errors)
    else:
        enc.subtitle = b""
    enc.saver = _field(saver if saver is not None else "zefa for Python " + __version__, 30, "replace", "the saver")
    enc.ratio_x, enc.ratio_y = ratio
    enc.number = number
    if time is not None:
        enc.has_time, enc.time = 1, _timestamp(time)
    form = _lib.ZF_RGB
    if mode == "P":
        pal = bytes(palette or b"")[:3 * _lib.PALETTE_MAX]
        pal = pal[:3 * (len(pal) // 3)]
        if depth == 8:
            # every index used has an entry
            enc.n_pal = max(len(pal) // 3, max(pixels) + 1)
            ctypes.memmove(enc.palette, pal, len(pal))
            form = _lib.ZF_INDEXED
        else:
            pixels = _rgb_from_indices(pixels, pal.ljust(3 * _lib.PALETTE_MAX, b"\0"))
    _write(target, enc, pixels, w, h, form)


def _write(target, enc, pixels, w, h, form):
    args = (ctypes.byref(enc), pixels, w, h, form)
    if isinstance(target, (str, bytes, os.PathLike)):
        if _lib.zf_encode_file(os.fsencode(target), *args) != 0:
            code = _lib.last_error()
            try:
                os.remove(target)
            except OSError:
                pass
            raise _fail(code, "cannot write the file", target)
        return
    if isinstance(target, int):
        if _lib.zf_encode_fd(target, *args) != 0:
            raise _fail(_lib.last_error(), "cannot write the file")
        return
    data, size = ctypes.c_void_p(), ctypes.c_size_t()
    if _lib.zf_encode_memory(ctypes.byref(data), ctypes.byref(size), *args) != 0:
        raise _fail(_lib.last_error(), "cannot write the file", getattr(target, "name", None))
    target.write(_lib.take_bytes(data, size.value))
