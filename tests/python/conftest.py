"""Pictures for the Python tests: ZEFA files made by the built zfconv (and
one by the package) from PNG sources drawn here, each with zfconv's PNG of
it, which every door must match; and hostile files made by hand."""

import os
import random
import subprocess

import pytest
from PIL import Image

import zefa

ZFCONV = os.environ.get("ZFCONV", "zfconv")

# Shift-JIS texts: kanji, half-width katakana, bytes that are no character
# (0x85 0x42, 0xFD), lines
TITLE = "日本の絵 ｶﾀｶﾅ A\\x85B \\xFD"
COMMENT = "first line\nsecond, 二行目\n\nｶﾅ\n"

# name: (source, zfconv options)
KINDS = {
    "pal8_optimizing": ("pal", ["--depth=8", "--coding=optimizing"]),
    "rgb15_fast": ("rgb", ["--depth=15", "--coding=fast", "--ratio=2:1"]),
    "rgb24_optimizing": ("rgb", ["--depth=24", "--coding=optimizing"]),
    "rgb24_none": ("rgb", ["--depth=24", "--coding=none"]),
    "texts": ("rgb", ["--depth=15", "--title=" + TITLE, "--artist=作者ｻｸｼｬ", "--comment=COMMENT"]),
}
# made otherwise: "time0" by the package, "damaged" cut inside its pixels
SAMPLES = [*KINDS, "time0", "damaged"]


def zfconv(*args, status=0):
    done = subprocess.run([ZFCONV, "-q", *map(str, args)])
    assert done.returncode == status


def source_pictures(folder):
    rnd = random.Random(18)
    rgb = Image.new("RGB", (67, 41))
    rgb.putdata([(rnd.randrange(256), x * 5 % 256, (x * y) % 256) for y in range(41) for x in range(67)])
    rgb.save(folder / "rgb.png")
    rgb.quantize(37).save(folder / "pal.png")
    return rgb


@pytest.fixture(scope="session")
def samples(tmp_path_factory):
    """name -> (ZEFA file, zfconv's PNG of it)"""
    folder = tmp_path_factory.mktemp("samples")
    rgb = source_pictures(folder)
    (folder / "comment.txt").write_text(COMMENT, encoding="utf-8")
    out = {}
    for name, (src, options) in KINDS.items():
        zf = folder / (name + ".ZF")
        options = [o.replace("COMMENT", str(folder / "comment.txt")) for o in options]
        zfconv("--to=zf", *options, "-o", zf, folder / (src + ".png"))
        out[name] = zf
    out["time0"] = folder / "time0.ZF"
    zefa.save(out["time0"], rgb.tobytes(), rgb.size, depth=24, time=0, number=-3, ratio=(3, 4), artist="ｱ")
    data = out["pal8_optimizing"].read_bytes()
    out["damaged"] = folder / "damaged.ZF"
    out["damaged"].write_bytes(data[:len(data) * 2 // 3])
    for name, zf in out.items():
        zfconv(zf, zf.with_suffix(".png"), status=1 if name == "damaged" else 0)
    return {name: (zf, zf.with_suffix(".png")) for name, zf in out.items()}


def claiming(canvas, count, block, depth=24):
    """A hostile file: a header of a canvas (w, h), then `count` "ZFSS"
    blocks of `block` (w, h) with no payload at all."""
    head = bytearray(b"ZFDT" + b" " * 92 + b"\x1a" + bytes(28))
    head[106:110] = (125).to_bytes(4, "big")
    for at, value in ((110, depth), (112, 1), (114, 1), (116, canvas[0]), (118, canvas[1])):
        head[at:at + 2] = value.to_bytes(2, "big")
    blk = bytearray(b"ZFSS" + (26).to_bytes(4, "big") + bytes(18))
    blk[10:14] = block[0].to_bytes(2, "big") + block[1].to_bytes(2, "big")
    return bytes(head) + bytes(blk) * count + bytes(8)
