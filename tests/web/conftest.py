"""Files for the web page's tests: ZEFA files made by the built zfconv, one
cut short, and what zfconv makes of each, which the page must match."""

import json
import os
import subprocess

import pytest
from PIL import Image

ZFCONV = os.environ.get("ZFCONV", "zfconv")
SITE = os.environ.get("ZEFA_WEB_SITE", "build-web/site")

# name: (source picture, zfconv options); the last one has Shift-JIS kanji and
# half-width katakana, a byte that is no character, a comment of lines and
# pixels twice as wide as high
KINDS = {"pal8_none": ("pal", ["--depth=8", "--coding=none"]), "rgb24_fast": ("rgb", ["--depth=24", "--coding=fast"]),
         "rgb24_optimizing": ("rgb", ["--depth=24", "--coding=optimizing"])}
KINDS["texts"] = ("rgb", ["--title=日本の絵 ｶﾅ A\\x85B", "--artist=作者", "--ratio=2:1"])


def zfconv(*args, check=True):
    return subprocess.run([ZFCONV, "-q", *map(str, args)], check=check, capture_output=True, text=True)


@pytest.fixture(scope="session", autouse=True)
def site():
    if not os.path.exists(os.path.join(SITE, "zefa.wasm")):
        pytest.fail("no web page in %s: build it with `make web`" % SITE, pytrace=False)


@pytest.fixture(scope="session")
def samples(tmp_path_factory):
    """name -> ZEFA file: sound ones and a cut one."""
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
    out["cut"] = folder / "cut.ZF"
    out["cut"].write_bytes(whole[: len(whole) * 2 // 3])
    return out


def native(zf):
    """What zfconv makes of a ZEFA file: its header as JSON, its PNG as
    RGBA (None when refused), the PNG's path, and the run (for its words)."""
    png = zf.with_suffix(".native.png")
    run = zfconv(zf, png, check=False)
    picture = Image.open(png).convert("RGBA") if png.exists() else None
    return json.loads(zfconv("--info", "--json", zf, check=False).stdout), picture, png, run
