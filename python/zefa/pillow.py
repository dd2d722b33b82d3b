"""Pillow opens and saves ZEFA files once this module is imported:

    import zefa.pillow
    from PIL import Image
    with Image.open("photo.ZF") as im:       # reads the header only
        im.info["Title"], im.info["aspect"]
        im.convert("RGB").save("photo.png")  # decodes here
    im.save("copy.ZF", coding="optimizing", depth=24, title="...")

Pictures are "P" (8 bits, with the palette) or "RGB".  `info` is what
Pillow gives for zfconv's PNG of the file: the header's texts under the
library's keys (Title, Author, Comment, Software, Creation Time, ZEFA
Subtitle, ZEFA Number) and the pixel shape as `aspect`, as Pillow reads a
PNG's pHYs: pixels per unit across and down, so a pixel twice as wide as
tall (ZEFA ratio 2:1) gives (1, 2).

A damaged file loads as far as it decodes, as zfconv's PNG shows it: the
picture becomes "RGBA" on load, what decoded opaque and the rest
transparent, and `zefa_damage` holds the library's words for the damage
("" for a whole picture).  Pillow's decompression-bomb check applies to
the picture's size when it is opened; the library's limits when it is
loaded: its canvas limit (MAX_CANVAS in this module) and its work limit on
the blocks behind the picture, so that a small file cannot claim minutes of
decoding or gigabytes of memory.

Saving takes: coding ("none", "fast" (default), "optimizing"), depth (8 for
"P", 15 or 24 for colour), title, artist, comment, subtitle, number, time,
errors ("strict" or "replace", for texts with no Shift-JIS form), and
ratio=(x, y) or aspect=(across, down).  "1" and "L" pictures are stored as
8 bits with a grey palette; other modes are refused.
"""

import ctypes
import os

from PIL import Image, ImageFile, ImagePalette

import zefa
from zefa import _lib

FORMAT = "ZEFA"
# The most pixels a picture may have, as every program allows; None leaves
# the canvas to Pillow's MAX_IMAGE_PIXELS alone.  The work allowed for
# decoding follows from the canvas either way.
MAX_CANVAS = zefa.DEFAULT_MAX_CANVAS
# What the library needs to tell a ZEFA file from others: the header, after
# an optional foreign prefix.
_SNIFF_SIZE = 128 + 124


def _accept(prefix):
    # Pillow shows the first 16 bytes only, and the header may follow a
    # prefix: _open asks the library
    return len(prefix) >= 4


def _set_mode(im, mode):
    try:
        im.mode = mode
    except AttributeError:  # Pillow 10.1 and later
        im._mode = mode


class ZefaImageFile(ImageFile.ImageFile):
    format = FORMAT
    format_description = "ZEFA still image"

    def _open(self):
        head = self.fp.read(_SNIFF_SIZE)
        f = _lib.zf_open_memory(head, len(head))
        if f:
            _lib.zf_close(f)
        elif _lib.last_error() == _lib.ZF_ERR_FORMAT:
            raise SyntaxError("not a ZEFA file")
        name = self._name()
        try:
            pic = zefa.open(head + self.fp.read(), name=name)
        except zefa.Error as e:
            raise Image.UnidentifiedImageError("cannot identify image file %r: %s" % (name, e.strerror)) from e
        self._zefa = pic
        self.zefa_damage = ""
        self._size = pic.size
        _set_mode(self, pic.mode)
        if pic.mode == "P":
            self.palette = ImagePalette.raw("RGB", (pic.palette or b"").ljust(768, b"\0"))
        self.info.update(pic.texts)
        rx, ry = pic.ratio
        if rx > 0 and ry > 0:
            self.info["aspect"] = (ry, rx)
        # a tile that no decoder reads: load() below decodes the file
        self.tile = [(FORMAT, (0, 0) + pic.size, 0, None)]

    def _name(self):
        """The user's name for the file, for messages."""
        if self.filename:
            return os.fsdecode(self.filename)
        name = getattr(self.fp, "name", None)
        return os.fsdecode(name) if isinstance(name, (str, bytes)) else "<stream>"

    def load(self):
        if self.tile and self._zefa is not None:
            try:
                self._decode()
            finally:
                # the file's bytes are all in memory: the file is done with
                if self._exclusive_fp and self._close_exclusive_fp_after_loading and self.fp:
                    self.fp.close()
                self.fp = None
            self._zefa = None
            self.tile = []
        return super().load()

    def _decode(self):
        pic = self._zefa
        # Pillow's bomb check has seen the canvas; the library's limit
        # stands behind it, as in every other program
        pic.max_canvas = MAX_CANVAS if MAX_CANVAS is not None else pic.size[0] * pic.size[1]
        f = pic._record()
        try:
            image, report = pic._decode_record(f, _lib.ZF_INDEXED)
        except zefa.Error as e:
            raise OSError("cannot decode %r: %s" % (pic.filename, e.strerror)) from e
        finally:
            _lib.zf_close(f)
        try:
            self.im = self._picture(image.contents).im
        finally:
            _lib.zf_free_image(image)
        if report.status == _lib.ZF_DECODED_DAMAGED:
            self.zefa_damage = _lib.report_text(report)

    def _picture(self, im):
        # the canvas of the bytes read on open, so self.size
        size = (im.width, im.height)
        n = im.width * im.height
        mode = "P" if im.format == _lib.ZF_INDEXED else "RGB"
        pixels = (ctypes.c_ubyte * (n * (1 if mode == "P" else 3))).from_address(im.pixels)
        picture = Image.frombytes(mode, size, pixels)
        if mode == "P":
            picture.putpalette(bytes(im.palette))
        if not im.mask:
            return picture
        # damage: what decoded opaque, the rest transparent, as zfconv's PNG
        # (which stays without alpha when every pixel was decoded)
        mask = bytes((ctypes.c_ubyte * n).from_address(im.mask))
        if 0 not in mask:
            return picture
        picture = picture.convert("RGBA")
        picture.putalpha(Image.frombytes("L", size, mask.translate(_ALPHA)))
        _set_mode(self, "RGBA")
        self.palette = None
        return picture


_ALPHA = bytes([0] + [255] * 255)


def _save(im, fp, filename):
    opts = im.encoderinfo
    mode = im.mode
    if mode in ("1", "L"):
        im = im.convert("L")
        palette = bytes(v for v in range(256) for _ in range(3))
        mode = "P"
    elif mode == "P":
        palette = bytes(im.getpalette("RGB") or b"")
    elif mode == "RGB":
        palette = None
    else:
        raise OSError("cannot write mode %s as ZEFA" % mode)
    ratio = opts.get("ratio")
    if ratio is None and "aspect" in opts:
        ratio = (opts["aspect"][1], opts["aspect"][0])
    errors = opts.get("errors", "strict")
    subtitle = opts.get("subtitle")
    if subtitle is None:
        subtitle = zefa._subtitle_of(filename, errors) if filename else ""
    try:
        zefa.save(fp, im.tobytes(), im.size, mode, palette=palette, depth=opts.get("depth"),
                  coding=opts.get("coding", "fast"), title=opts.get("title", ""), artist=opts.get("artist", ""),
                  comment=opts.get("comment", ""), subtitle=subtitle, number=opts.get("number", 0),
                  ratio=tuple(ratio or (1, 1)), time=opts.get("time"), errors=errors)
    except zefa.Error as e:
        raise OSError("cannot write %r: %s" % (filename or "<stream>", e.strerror)) from e


Image.register_open(FORMAT, ZefaImageFile, _accept)
Image.register_save(FORMAT, _save)
Image.register_extensions(FORMAT, [".zf"])  # any case
Image.register_mime(FORMAT, "image/x-zefa")
