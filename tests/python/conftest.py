"""Pictures for the Python tests: PNG sources drawn here, made into ZEFA
files of every depth and coding by the built zfconv, and zfconv's PNG of
each ZEFA file, which the package must match."""

import os
import random
import subprocess

import pytest
from PIL import Image

ZFCONV = os.environ.get("ZFCONV", "zfconv")

# name: (source, zfconv options)
KINDS = {
    "rgb24_none": ("rgb", ["--depth=24", "--coding=none"]),
    "rgb24_fast": ("rgb", ["--depth=24", "--coding=fast"]),
    "rgb24_optimizing": ("rgb", ["--depth=24", "--coding=optimizing"]),
    "rgb15_optimizing": ("rgb", ["--depth=15", "--coding=optimizing"]),
    "pal8_none": ("pal", ["--depth=8", "--coding=none"]),
    "pal8_optimizing": ("pal", ["--depth=8", "--coding=optimizing"]),
    # header texts: Shift-JIS, a byte that is no character, a comment of lines
    "texts": ("rgb", ["--depth=15", "--title=日本の絵 A\\x85B", "--artist=作者", "--ratio=2:1"]),
}
COMMENT = "first line\nsecond, 二行目\n"


def zfconv(*args):
    subprocess.run([ZFCONV, "-q", *map(str, args)], check=True)


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
    source_pictures(folder)
    (folder / "comment.txt").write_text(COMMENT, encoding="utf-8")
    out = {}
    for name, (src, options) in KINDS.items():
        zf, png = folder / (name + ".ZF"), folder / (name + ".png")
        extra = ["--comment=%s" % (folder / "comment.txt")] if name == "texts" else []
        zfconv("--to=zf", *options, *extra, "-o", zf, folder / (src + ".png"))
        zfconv(zf, png)
        out[name] = (zf, png)
    return out
