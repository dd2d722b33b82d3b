"""Pillow opens and saves ZEFA files once this module is imported:

    import zefa.pillow
    from PIL import Image
    with Image.open("photo.ZF") as im:       # reads the header only
        im.info["Title"], im.info["aspect"]
        im.convert("RGB").save("photo.png")  # decodes here
    im.save("copy.ZF", coding="optimizing", depth=24, title="...")

Pictures are "P" (8 bits, with the palette) or "RGB".  `info` holds the
header under the keys of the PNG text chunks zfconv writes (Title, Author,
Comment, Software, Creation Time, ZEFA Subtitle, ZEFA Number) and the pixel
shape as `aspect`, as Pillow reads a PNG's pHYs: pixels per unit across and
down, so a pixel twice as wide as tall (ZEFA ratio 2:1) gives (1, 2).

Saving takes: coding ("none", "fast" (default), "optimizing"), depth (8 for
"P", 15 or 24 for colour), title, artist, comment, subtitle, number, and
ratio=(x, y) or aspect=(across, down).  "1" and "L" pictures are stored as
8 bits with a grey palette; other modes are refused.
"""

import os

from PIL import Image, ImageFile, ImagePalette

import zefa

FORMAT = "ZEFA"
_MAGIC = b"ZFDT"
_PREFIX = 128  # an optional foreign prefix before the header


def _accept(prefix):
    # Pillow shows the first 16 bytes only: the magic after a prefix is
    # looked for by _open, which reads 4 bytes more
    return len(prefix) >= 4


def _source(fp):
    """The file under `fp` by a name the library can open (a regular file
    with a descriptor), or None."""
    try:
        fd = fp.fileno()
        if os.path.isfile("/proc/self/fd/%d" % fd):
            return "/proc/self/fd/%d" % fd
    except (AttributeError, OSError, ValueError):
        pass
    return None


class ZefaImageFile(ImageFile.ImageFile):
    format = FORMAT
    format_description = "ZEFA still image"

    def _open(self):
        head = self.fp.read(4)
        if head != _MAGIC:
            self.fp.seek(_PREFIX)
            if self.fp.read(4) != _MAGIC:
                raise SyntaxError("not a ZEFA file")
        try:
            pic = self._header()
        except zefa.Error as e:
            raise SyntaxError(str(e)) from e
        self._zefa = pic
        self._size = pic.size
        self.mode = pic.mode
        if pic.mode == "P":
            self.palette = ImagePalette.raw("RGB", (pic.palette or b"").ljust(768, b"\0"))
        self.info.update(pic.text)
        rx, ry = pic.ratio
        if rx > 0 and ry > 0:
            self.info["aspect"] = (ry, rx)
        self.tile = [(FORMAT, (0, 0) + pic.size, 0, (pic,))]

    def _header(self):
        # the library reads the header and the blocks' headers through a
        # name of its own; a stream, or a file it cannot open, is read whole
        name = _source(self.fp)
        if name:
            try:
                return zefa.open(name)
            except zefa.Error:
                raise
            except OSError:
                pass
        self.fp.seek(0)
        return zefa.open(self.fp.read())

    def load(self):
        try:
            return super().load()
        except BaseException:
            # an image that cannot load keeps no file open
            if self._exclusive_fp and self.fp:
                self.fp.close()
                self.fp = None
            raise


class ZefaDecoder(ImageFile.PyDecoder):
    _pulls_fd = True

    def decode(self, buffer):
        pic = self.args[0]
        try:
            data = pic.decode(partial=ImageFile.LOAD_TRUNCATED_IMAGES)
        except zefa.Error as e:
            if e.errno == zefa.ZF_ERR_EOF:
                raise OSError("image file is truncated: %s" % e) from e
            raise OSError("cannot decode the ZEFA file: %s" % e) from e
        self.set_as_raw(data)
        return -1, 0


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
    depth = opts.get("depth")
    ratio = opts.get("ratio")
    if ratio is None and "aspect" in opts:
        ratio = (opts["aspect"][1], opts["aspect"][0])
    kwargs = dict(palette=palette, depth=depth, coding=opts.get("coding", "fast"),
                  title=opts.get("title", ""), artist=opts.get("artist", ""), comment=opts.get("comment", ""),
                  number=opts.get("number", 0), ratio=tuple(ratio or (1, 1)))
    subtitle = opts.get("subtitle")
    if subtitle is None and filename:
        subtitle = zefa._subtitle_of(filename)
    kwargs["subtitle"] = subtitle or ""
    try:
        zefa.save(fp, im.tobytes(), im.size, "P" if mode == "P" else "RGB", **kwargs)
    except zefa.Error as e:
        raise OSError("cannot write the ZEFA file: %s" % e) from e


Image.register_open(FORMAT, ZefaImageFile, _accept)
Image.register_decoder(FORMAT, ZefaDecoder)
Image.register_save(FORMAT, _save)
Image.register_extensions(FORMAT, [".zf"])  # any case
Image.register_mime(FORMAT, "image/x-zefa")
