"""Files for the web page's tests: ZEFA files of every depth and coding made
by the built zfconv, damaged and hostile ones cut and stitched from them,
and what zfconv makes of each, which the page must match."""

import json
import os
import struct
import subprocess

import pytest
from PIL import Image

ZFCONV = os.environ.get("ZFCONV", "zfconv")
SITE = os.environ.get("ZEFA_WEB_SITE", "build-web/site")

# name: (source picture, zfconv options); the last one has Shift-JIS kanji and
# half-width katakana, a byte that is no character, a comment of lines and
# pixels twice as wide as high
KINDS = {"%s%d_%s" % ("pal" if d == 8 else "rgb", d, c): ("pal" if d == 8 else "rgb", ["--depth=%d" % d, "--coding=" + c])
         for d in (8, 15, 24) for c in ("none", "fast", "optimizing")}
KINDS["texts"] = ("rgb", ["--title=日本の絵 ｶﾅ A\\x85B", "--artist=作者", "--ratio=2:1"])


def zfconv(*args, check=True):
    return subprocess.run([ZFCONV, "-q", *map(str, args)], check=check, capture_output=True, text=True)


def blocks(data):
    """A ZEFA file zfconv made as its lead, its blocks and its end."""
    pos, out = struct.unpack(">I", data[106:110])[0], []
    lead = data[:pos]
    while data[pos] != 0:
        out.append(data[pos : pos + struct.unpack(">I", data[pos + 4 : pos + 8])[0]])
        pos += len(out[-1])
    return lead, out, data[pos:]


@pytest.fixture(scope="session", autouse=True)
def site():
    if not os.path.exists(os.path.join(SITE, "zefa.wasm")):
        pytest.fail("no web page in %s: build it with `make web`" % SITE, pytrace=False)


@pytest.fixture(scope="session")
def samples(tmp_path_factory):
    """name -> ZEFA file: sound ones, a cut one and one with a broken block."""
    folder = tmp_path_factory.mktemp("samples")
    rgb = Image.new("RGB", (67, 41))
    rgb.putdata([((x * 7 + y) % 256, (x * y) % 256, (255 - 3 * y) % 256) for y in range(41) for x in range(67)])
    rgb.save(folder / "rgb.png")
    rgb.quantize(37).save(folder / "pal.png")
    (folder / "comment.txt").write_text("first line\nsecond, 二行目\n", encoding="utf-8")
    out = {}
    for name, (src, options) in KINDS.items():
        out[name] = folder / (name + ".ZF")
        zfconv("--to=zf", *options, "--comment=%s" % (folder / "comment.txt"), "-o", out[name], folder / (src + ".png"))
    whole = out["rgb24_optimizing"].read_bytes()
    lead, (block,), tail = blocks(out["rgb15_fast"].read_bytes())
    out["cut"], out["broken"] = folder / "cut.ZF", folder / "broken.ZF"
    out["cut"].write_bytes(whole[: len(whole) * 2 // 3])
    out["broken"].write_bytes(lead + block[:300] + bytes(len(block) - 300) + tail)
    return out


def native(zf):
    """What zfconv makes of a ZEFA file: its header as JSON, its PNG as
    RGBA (None when refused), the PNG's path, and the run (for its words)."""
    png = zf.with_suffix(".native.png")
    run = zfconv(zf, png, check=False)
    picture = Image.open(png).convert("RGBA") if png.exists() else None
    return json.loads(zfconv("--info", "--json", zf, check=False).stdout), picture, png, run
