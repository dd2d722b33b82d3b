"""Files for the web page's tests: ZEFA files of every depth and coding made
by the built zfconv, damaged and hostile ones cut and stitched from them,
and zfconv's PNG and header of each, which the page must match."""

import json
import os
import struct
import subprocess

import pytest
from PIL import Image

ZFCONV = os.environ.get("ZFCONV", "zfconv")
SITE = os.environ.get("ZEFA_WEB_SITE", "build-web/site")

# name: (source picture, zfconv options)
KINDS = {
    "rgb24_none": ("rgb", ["--depth=24", "--coding=none"]),
    "rgb24_fast": ("rgb", ["--depth=24", "--coding=fast"]),
    "rgb24_optimizing": ("rgb", ["--depth=24", "--coding=optimizing"]),
    "rgb15_none": ("rgb", ["--depth=15", "--coding=none"]),
    "rgb15_fast": ("rgb", ["--depth=15", "--coding=fast"]),
    "rgb15_optimizing": ("rgb", ["--depth=15", "--coding=optimizing"]),
    "pal8_none": ("pal", ["--depth=8", "--coding=none"]),
    "pal8_fast": ("pal", ["--depth=8", "--coding=fast"]),
    "pal8_optimizing": ("pal", ["--depth=8", "--coding=optimizing"]),
    # Shift-JIS kanji and half-width katakana, a byte that is no character,
    # a comment of several lines, pixels twice as wide as high
    "texts": ("rgb", ["--depth=24", "--title=日本の絵 ｶﾅ A\\x85B", "--artist=作者", "--ratio=2:1"]),
}
COMMENT = "first line\nsecond, 二行目\n"


def zfconv(*args, check=True):
    return subprocess.run([ZFCONV, "-q", *map(str, args)], check=check, capture_output=True, text=True)


def source_pictures(folder):
    # smooth gradients with a little texture, so that every coding has work
    rgb = Image.new("RGB", (67, 41))
    rgb.putdata([((x * 7 + y) % 256, (x * y) % 256, (255 - 3 * y) % 256) for y in range(41) for x in range(67)])
    rgb.save(folder / "rgb.png")
    rgb.quantize(37).save(folder / "pal.png")


def blocks(data):
    """The header bytes and each block's bytes of a ZEFA file zfconv made."""
    first = struct.unpack(">I", data[106:110])[0]
    pos, out = first, []
    while data[pos] != 0:
        length = struct.unpack(">I", data[pos + 4 : pos + 8])[0]
        out.append(data[pos : pos + length])
        pos += length
    return data[:first], out, data[pos:]


def work_bomb(folder):
    """A small file whose blocks claim far more decoding than its canvas:
    one 2000 x 2000 block of one colour, stored 400 times over."""
    Image.new("RGB", (2000, 2000), (9, 99, 199)).save(folder / "flat.png")
    zfconv("--to=zf", "--depth=24", "--coding=fast", "-o", folder / "flat.ZF", folder / "flat.png")
    lead, (block,), tail = blocks((folder / "flat.ZF").read_bytes())
    (folder / "bomb.ZF").write_bytes(lead + block * 400 + tail)
    return folder / "bomb.ZF"


@pytest.fixture(scope="session", autouse=True)
def site():
    if not os.path.exists(os.path.join(SITE, "zefa.wasm")):
        pytest.fail("no web page in %s: build it with `make web`" % SITE, pytrace=False)
    return SITE


@pytest.fixture(scope="session")
def samples(tmp_path_factory):
    """name -> ZEFA file; sound files, a cut one and one with a broken block."""
    folder = tmp_path_factory.mktemp("samples")
    source_pictures(folder)
    (folder / "comment.txt").write_text(COMMENT, encoding="utf-8")
    out = {}
    for name, (src, options) in KINDS.items():
        zf = folder / (name + ".ZF")
        extra = ["--comment=%s" % (folder / "comment.txt")] if name == "texts" else []
        zfconv("--to=zf", *options, *extra, "-o", zf, folder / (src + ".png"))
        out[name] = zf
    whole = out["rgb24_optimizing"].read_bytes()
    out["cut"] = folder / "cut.ZF"
    out["cut"].write_bytes(whole[: len(whole) * 2 // 3])
    lead, (block,), tail = blocks(out["rgb15_fast"].read_bytes())
    out["broken"] = folder / "broken.ZF"
    out["broken"].write_bytes(lead + block[:300] + bytes(len(block) - 300) + tail)
    return out


@pytest.fixture(scope="session")
def bomb(tmp_path_factory):
    return work_bomb(tmp_path_factory.mktemp("bomb"))


def native(zf):
    """What zfconv makes of a ZEFA file: its header as JSON, and its PNG as
    RGBA (None when zfconv refuses the file)."""
    info = json.loads(zfconv("--info", "--json", zf, check=False).stdout)
    png = zf.with_suffix(".native.png")
    made = zfconv(zf, png, check=False)
    picture = Image.open(png).convert("RGBA") if png.exists() else None
    return info, picture, made


def same_pixels(rgba, width, height, picture):
    """RGBA bytes against a Pillow picture: the same alpha everywhere, the
    same colour wherever a pixel is drawn."""
    if picture.size != (width, height):
        return False
    theirs = picture.tobytes()
    for i in range(0, len(theirs), 4):
        if rgba[i + 3] != theirs[i + 3] or (theirs[i + 3] and rgba[i : i + 3] != theirs[i : i + 3]):
            return False
    return True
