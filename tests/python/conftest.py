"""Pictures for the Python tests: ZEFA files made by the built zfconv (and
one by the package) from PNG sources drawn here, each with zfconv's PNG of
it."""

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
    "rgb24_optimizing": ("rgb", ["--depth=24", "--coding=optimizing"]),
    "rgb24_none": ("rgb", ["--depth=24", "--coding=none"]),
    "texts": ("rgb", ["--depth=15", "--ratio=2:1", "--title=" + TITLE, "--artist=作者ｻｸｼｬ", "--comment=COMMENT"]),
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


def huge_canvas(zf):
    """A ZEFA file's bytes under a header that claims 32767 x 32767 pixels."""
    data = bytearray(zf.read_bytes())
    data[116:120] = (32767).to_bytes(2, "big") * 2
    return bytes(data)
