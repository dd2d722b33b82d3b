"""ZEFA still-image files for Python, over the installed libzefa.

    import zefa
    pic = zefa.open("photo.ZF")          # or the file's bytes
    pic.size, pic.mode, pic.title, pic.ratio, pic.time
    data = pic.pixels                    # RGB bytes, or palette indices ("P")
    zefa.save("copy.ZF", data, pic.size, pic.mode, palette=pic.palette,
              coding="optimizing", title=pic.title)

`import zefa.pillow` makes Pillow open and save ZEFA files.

Every failure is an OSError: system errors as Python raises them
(FileNotFoundError, ...), bad data and refused calls as zefa.Error, whose
errno is the library's code and whose words are the library's.  Calls into
the library release the interpreter lock, so pictures may be opened and
decoded from many threads at once.
"""

import builtins
import ctypes
import datetime
import os
import stat
import sys

from . import _lib, _text

__version__ = "1.0.0"
__all__ = ["open", "save", "Picture", "Error", "CODINGS"]

# The block codings by the names zfconv --coding takes, and their tags.
CODINGS = {"none": "ZFBM", "fast": "ZFSF", "optimizing": "ZFSS"}
_TAGS = ("ZFBI", "ZFBM", "ZFSF", "ZFSS")

ZF_ERR_EOF = _lib.ZF_ERR_EOF
ZF_ERR_FORMAT = _lib.ZF_ERR_FORMAT
ZF_ERR_LIMIT = _lib.ZF_ERR_LIMIT
ZF_ERR_MISUSE = _lib.ZF_ERR_MISUSE


class Error(OSError):
    """Bad data, or a call the library refused: errno is the library's code
    (257 the file ends too early, 258 not a ZEFA file or a damaged one, 259
    a block above the pixel limit, 260 a refused call)."""

    def __init__(self, code, detail=None, filename=None):
        super().__init__(code, _lib.strerror(code))
        self.detail = detail
        self.filename = filename

    def __reduce__(self):
        return (type(self), (self.errno, self.detail, self.filename))

    def __str__(self):
        text = self.strerror
        if self.detail:
            text += " (" + self.detail + ")"
        if self.filename is not None:
            text += ": " + repr(self.filename)
        return text


def _fail(code, detail=None, filename=None):
    if 0 < code < 256:  # a system error: FileNotFoundError and its kind
        return OSError(code, _lib.strerror(code), filename)
    return Error(code, detail, filename)


def open(source):
    """A ZEFA file's header, read now, and its pixels, decoded when asked
    for.  `source`: a path (str or path-like), or the file's bytes."""
    return Picture(source)


def _trimmed(field):
    return _text.decode(field.rstrip(b" "))


class Picture:
    """An open ZEFA file.  Header values are attributes; `pixels` decodes
    the picture (once).  A picture from a path reads its file again to
    decode; one from bytes keeps them."""

    def __init__(self, source):
        if isinstance(source, (bytes, bytearray, memoryview)):
            self._data = bytes(source)
            self._path = None
            self.filename = None
        else:
            self._data = None
            self._path = os.fsencode(source)
            self.filename = source
        self._pixels = None
        f = self._record()
        try:
            info = _lib.Info()
            _lib.zf_get_info(f, ctypes.byref(info))
            rec = f.contents
            self.depth = info.depth
            self.ratio = (info.ratio_x, info.ratio_y)
            self.number = info.number
            self.time = (datetime.datetime.fromtimestamp(info.time, datetime.timezone.utc)
                         if info.time else None)
            self.title = _trimmed(info.title)
            self.artist = _trimmed(info.artist)
            self.subtitle = _trimmed(info.subtitle)
            self.saver = _trimmed(info.saver)
            # the comment's line ends are CR LF in the file
            self.comment = _text.decode((rec.comment or b"").replace(b"\r\n", b"\n"))
            # R, G, B per entry; unset entries of an 8-bit picture are black
            self.palette = bytes(rec.palette[:3 * rec.n_pal]) if rec.n_pal > 0 else None
            if self.depth not in (8, 15, 24):
                raise Error(ZF_ERR_FORMAT, "pictures of depth %d are not decoded" % self.depth, self.filename)
            self.mode = "P" if self.depth == 8 else "RGB"
            w, h = ctypes.c_int(), ctypes.c_int()
            if _lib.zf_picture_size(f, ctypes.byref(w), ctypes.byref(h)) == 0:
                self.size = (w.value, h.value)
            elif info.max_width > 0 and info.max_height > 0:
                # the first block cannot be reached: decoding will say why
                self.size = (info.max_width, info.max_height)
            else:
                raise _fail(_lib.last_error(), "no block can be read", self.filename)
        finally:
            _lib.zf_close(f)

    def _record(self):
        if self._data is not None:
            f = _lib.zf_open_memory(self._data, len(self._data))
        else:
            f = _lib.zf_open(self._path)
        if not f:
            raise _fail(_lib.last_error(), None, self.filename)
        return f

    @property
    def width(self):
        return self.size[0]

    @property
    def height(self):
        return self.size[1]

    @property
    def text(self):
        """The header as zfconv writes it into a PNG's text chunks, under
        the same keys (empty texts left out)."""
        out = {}
        for key, value in (("Title", self.title), ("Author", self.artist), ("Comment", self.comment),
                           ("Software", self.saver)):
            if value:
                out[key] = value
        when = self.time or datetime.datetime.fromtimestamp(0, datetime.timezone.utc)
        out["Creation Time"] = when.strftime("%Y-%m-%dT%H:%M:%SZ")
        if self.subtitle:
            out["ZEFA Subtitle"] = self.subtitle
        out["ZEFA Number"] = str(self.number)
        return out

    @property
    def pixels(self):
        """Top row first: one palette index per pixel ("P"), else R, G, B."""
        if self._pixels is None:
            self._pixels = self.decode()
        return self._pixels

    def decode(self, partial=False):
        """The pixels, decoded now.  Damage raises Error, naming the block
        and line; with partial=True the lines before it come back instead
        (the rest black)."""
        w, h = self.size
        size = w * h * (1 if self.depth == 8 else 3)
        buf = (ctypes.c_char * max(size, 1))()
        f = self._record()
        try:
            # no block is larger than the canvas that holds them all
            _lib.zf_set_pixel_limit(f, max(w * h, 1))
            pic = _lib.Picture(w, h, ctypes.addressof(buf), None)
            r = _lib.zf_decode_image(f, ctypes.byref(pic))
            code = _lib.last_error()
        finally:
            _lib.zf_close(f)
        if r != 0 and not partial:
            where = "block %d" % pic.failed_block
            if pic.failed_line:
                where = "line %d of %s" % (pic.failed_line, where)
            raise _fail(code, where, self.filename)
        if r == 0 and pic.blocks == 0:
            raise Error(ZF_ERR_FORMAT, "no block of a coding this library decodes", self.filename)
        return buf.raw[:size]

    def __repr__(self):
        return "<zefa.Picture %s %dx%d depth %d>" % (self.mode, self.size[0], self.size[1], self.depth)


# ---- writing ---------------------------------------------------------------

_OFF = (0, 1, 2, 3) if sys.byteorder == "little" else (3, 2, 1, 0)  # byte k of a uint32 value
_LO_R = bytes(((v >> 3) & 3) << 6 for v in range(256))
_LO_B = bytes((v >> 3) << 1 for v in range(256))
_HI_G = bytes((v >> 3) << 3 for v in range(256))
_HI_R = bytes(v >> 5 for v in range(256))


def _or(a, b):
    n = len(a)
    return (int.from_bytes(a, "little") | int.from_bytes(b, "little")).to_bytes(n, "little")


def _line_values(depth, row):
    """Library line values (uint32 in host order) for a row of indices
    (depth 8) or R, G, B bytes."""
    if depth == 8:
        out = bytearray(4 * len(row))
        out[_OFF[0]::4] = row
        return out
    r, g, b = row[0::3], row[1::3], row[2::3]
    out = bytearray(4 * len(r))
    if depth == 24:  # R << 16 | G << 8 | B
        out[_OFF[0]::4] = b
        out[_OFF[1]::4] = g
        out[_OFF[2]::4] = r
    else:  # G << 11 | R << 6 | B << 1, 5 bits each
        out[_OFF[0]::4] = _or(r.translate(_LO_R), b.translate(_LO_B))
        out[_OFF[1]::4] = _or(g.translate(_HI_G), r.translate(_HI_R))
    return out


def _rgb_from_indices(row, palette):
    out = bytearray(3 * len(row))
    for k in range(3):
        out[k::3] = row.translate(palette[k::3])
    return bytes(out)


def _check_range(what, value, low, high):
    if not isinstance(value, int) or not low <= value <= high:
        raise ValueError("%s must be a whole number from %d to %d, not %r" % (what, low, high, value))


def _subtitle_of(path):
    """As the library names a file it creates: the base name up to its first dot."""
    base = os.path.basename(os.fsdecode(path))
    return base.split(".", 1)[0]


def save(target, pixels, size, mode="RGB", *, palette=None, depth=None, coding="fast", title="",
         artist="", comment="", subtitle=None, number=0, ratio=(1, 1), saver=None):
    """Writes a ZEFA file.

    target: a path, or a binary file object to write to.  pixels: top row
    first, R, G, B bytes (mode "RGB") or palette indices (mode "P", with
    `palette`: R, G, B bytes of up to 256 entries).  depth: 8, 15 or 24
    (default 8 for "P", 24 for "RGB"; 8 needs "P").  coding: "none",
    "fast", "optimizing", or a tag.  Texts are str (stored as Shift-JIS,
    cut to their fields: title 30 bytes, artist 18, subtitle 8) or bytes
    stored as given.  subtitle: default the path's base name.  ratio: the
    pixel's width to its height."""
    w, h = size
    _check_range("the width", w, 1, 32767)
    _check_range("the height", h, 1, 32767)
    _check_range("the work number", number, -32768, 32767)
    _check_range("the ratio's width", ratio[0], 1, 32767)
    _check_range("the ratio's height", ratio[1], 1, 32767)
    if mode not in ("RGB", "P"):
        raise ValueError("mode must be RGB or P, not %r" % (mode,))
    bpp = 3 if mode == "RGB" else 1
    pixels = bytes(pixels)
    if len(pixels) != w * h * bpp:
        raise ValueError("%d bytes of pixels for %d x %d in mode %s, not %d" % (w * h * bpp, w, h, mode, len(pixels)))
    if depth is None:
        depth = 8 if mode == "P" else 24
    if depth not in (8, 15, 24):
        raise ValueError("the depth must be 8, 15 or 24, not %r" % (depth,))
    if depth == 8 and mode != "P":
        raise ValueError("depth 8 holds palette indices: give a picture of mode P")
    tag = CODINGS.get(coding, coding if coding in _TAGS else None)
    if tag is None:
        raise ValueError("the coding must be none, fast or optimizing (or a tag), not %r" % (coding,))
    if coding == "none" and depth != 24:
        tag = "ZFBI"  # as zfenc stores uncompressed 8- and 15-bit pictures

    params = _lib.Params()
    params.saver = (saver if saver is not None else "zefa for Python " + __version__).encode("ascii", "replace")
    params.depth = depth
    params.max_width, params.max_height = w, h
    params.ratio_x, params.ratio_y = ratio
    if mode == "P":
        pal = bytes(palette or b"")[:3 * _lib.PALETTE_MAX]
        entries = max(len(pal) // 3, max(pixels) + 1)  # every index used has an entry
        pal = pal[:3 * (len(pal) // 3)].ljust(3 * entries, b"\0")
        if depth == 8:
            params.n_pal, params.n_bits = entries, 8
            ctypes.memmove(params.palette, pal, len(pal))
        else:
            full = pal.ljust(3 * _lib.PALETTE_MAX, b"\0")
            pixels = _rgb_from_indices(pixels, full)
            bpp = 3
    texts = (_text.cut(_text.encode(title, "title"), 30), _text.encode(comment, "comment"),
             _text.cut(_text.encode(artist, "artist"), 18))
    if subtitle is None:
        subtitle = _subtitle_of(target) if isinstance(target, (str, bytes, os.PathLike)) else ""
    sub = _text.cut(_text.encode(subtitle, "subtitle"), 8)

    def write(fd):
        _write_fd(fd, params, texts, number, pixels, w, h, bpp, depth, tag)
        if sub:
            os.pwrite(fd, sub.ljust(8, b" "), _lib.H_SUBTITLE)

    if isinstance(target, (str, bytes, os.PathLike)):
        with builtins.open(target, "w+b") as fp:
            try:
                write(fp.fileno())
            except BaseException:
                fp.close()
                os.remove(target)
                raise
        return
    fd = _writable_fd(target)
    if fd is not None:
        write(fd)
        target.seek(0, os.SEEK_END)
        return
    # a stream, or a file with something in it: through memory
    with builtins.open(os.memfd_create("zefa", os.MFD_CLOEXEC), "w+b") as tmp:
        write(tmp.fileno())
        tmp.seek(0)
        while True:
            chunk = tmp.read(1 << 20)
            if not chunk:
                break
            target.write(chunk)


def _writable_fd(fp):
    """The descriptor of an empty regular file open for reading and writing
    (what the library writes to), or None."""
    try:
        fd = fp.fileno()
        st = os.fstat(fd)
        import fcntl
        rw = fcntl.fcntl(fd, fcntl.F_GETFL) & 3 == os.O_RDWR
        if not (stat.S_ISREG(st.st_mode) and st.st_size == 0 and rw and fp.tell() == 0):
            return None
        fp.flush()
        return fd
    except (AttributeError, OSError, ValueError):
        return None


def _write_fd(fd, params, texts, number, pixels, w, h, bpp, depth, tag):
    f = _lib.zf_create_fd(fd, texts[0], texts[1], texts[2], number, ctypes.byref(params))
    if not f:
        raise _fail(_lib.last_error(), "cannot create the file")
    try:
        stride = w * bpp
        for y0 in range(0, h, _lib.MAX_BLOCK_HEIGHT):
            for x0 in range(0, w, _lib.MAX_BLOCK_WIDTH):
                bw = min(_lib.MAX_BLOCK_WIDTH, w - x0)
                bh = min(_lib.MAX_BLOCK_HEIGHT, h - y0)
                _write_block(f, pixels, stride, bpp, depth, tag, x0, y0, bw, bh)
    except BaseException:
        _lib.zf_close(f)
        raise
    if _lib.zf_close(f) != 0:
        raise _fail(_lib.last_error(), "cannot write the file")


def _write_block(f, pixels, stride, bpp, depth, tag, x0, y0, bw, bh):
    line = _lib.LineP()
    if _lib.zf_begin_write(f, ctypes.byref(line), x0, y0, bw, bh, tag.encode(), -1) != 0:
        raise _fail(_lib.last_error(), "cannot start a block")
    row = 0
    while True:
        at = (y0 + row) * stride + x0 * bpp
        values = _line_values(depth, pixels[at:at + bw * bpp])
        ctypes.memmove(line, bytes(values), len(values))
        r = _lib.zf_line(f, ctypes.byref(line))
        if r == -2:
            return
        if r == -1:
            raise _fail(_lib.last_error(), "cannot code line %d" % row)
        row = 0 if r == 0 else row + 1  # 0: a ZFSS block wants every line again
        if row >= bh:
            raise Error(ZF_ERR_MISUSE, "the library asked for more lines than the block has")
