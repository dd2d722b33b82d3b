"""One table of ZEFA files through every door: zfconv (its PNG), the GTK
loader, the Qt 5 and Qt 6 plugins, Pillow and the web page's module.  Each
door must show a file as it shows zfconv's PNG of it through its own PNG
reader: the same pixels (as RGBA), every text of the PNG with the same value;
and a file the library refuses must be refused by every door, zfconv
included, in the library's words where the door passes words on."""

import base64
import io
import json
import os
import subprocess
import warnings
from pathlib import Path

import pytest
from PIL import Image

import zefa
import zefa.pillow  # noqa: F401 (registers the plugin)

ZFCONV = os.environ.get("ZFCONV", "zfconv")
NODE = os.environ.get("NODE")
SITE = os.environ.get("ZEFA_WEB_SITE", "")
RUN_MODULE = Path(__file__).parent.parent / "web" / "run_module.js"
# door: (dump program, its name of the ZEFA format); doors not built are skipped
NATIVE = {"pixbuf": ("DUMP_PIXBUF", "zefa"), "qt5": ("DUMP_QT5", "zf"), "qt6": ("DUMP_QT6", "zf")}
DOORS = [*NATIVE, "pillow", "web"]
ZFCONV_SECONDS = 10  # far more than any file of the table needs

# the files every door refuses; the others every door shows (a cut or damaged
# one: the lines before the damage, the rest transparent)
REFUSED = {"work-bomb", "canvas-bomb", "foreign"}


# ---- the table ------------------------------------------------------------------

def picture(w, h, seed):
    return bytes((x * 37 + seed, y * 59 + x * seed, x * y + 11 * x + seed)[c] % 256
                 for y in range(h) for x in range(w) for c in range(3))


PALETTE = bytes(v % 256 for i in range(256) for v in (i, 255 - i, i * 7))
TEXTS = dict(title="Harbour", artist="Taro", comment="one line", saver="door test", number=12, time=1234567890)


def encoded(depth=24, coding="fast", size=(61, 37), **options):
    w, h = size
    out = io.BytesIO()
    texts = {**TEXTS, **options}
    if depth == 8:
        indices = bytes((x * 3 + y * 5) % 256 for y in range(h) for x in range(w))
        zefa.save(out, indices, size, "P", palette=PALETTE, depth=8, coding=coding, **texts)
    else:
        zefa.save(out, picture(w, h, depth), size, depth=depth, coding=coding, **texts)
    return out.getvalue()


def lead_blocks_end(data):
    """A file as its lead, its blocks and its end marker."""
    pos, blocks = int.from_bytes(data[106:110], "big"), []
    lead = data[:pos]
    while data[pos:pos + 4] != bytes(4):
        blocks.append(data[pos:pos + int.from_bytes(data[pos + 4:pos + 8], "big")])
        pos += len(blocks[-1])
    return lead, blocks, data[pos:]


def claiming(canvas, count, block):
    """A sound lead over a canvas (w, h), then `count` blocks of `block`
    (w, h) of 7 bytes each: what a few bytes can claim."""
    lead, _, end = lead_blocks_end(encoded(24, "fast", (1, 1)))
    lead = bytearray(lead)
    lead[116:120] = canvas[0].to_bytes(2, "big") + canvas[1].to_bytes(2, "big")
    blk = bytearray(b"ZFSS" + (33).to_bytes(4, "big") + bytes(18) + bytes(0x55 * k % 256 for k in range(26, 33)))
    blk[10:14] = block[0].to_bytes(2, "big") + block[1].to_bytes(2, "big")
    return bytes(lead) + bytes(blk) * count + end


def table():
    """name -> bytes"""
    files = {"d%d-%s" % (d, c): encoded(d, c, (61 - d, 37 + d // 8)) for d in (8, 15, 24) for c in
             ("none", "fast", "optimizing")}
    files["prefixed"] = bytes(range(128)) + files["d24-fast"]
    files["ratio-2to1"] = encoded(15, "optimizing", (29, 17), ratio=(2, 1))
    # Shift-JIS: kanji, half-width katakana, a byte that is no character
    files["texts-sjis"] = encoded(8, "fast", (37, 21), title=b"\x93\xfa\x96\x7b \xb1\xb2\xb3 \xfd!",
                                  artist=b"\xb6\xc0\xb6\xc5",
                                  comment=b"first line\r\nsecond \x8a\xbf\x8e\x9a\n\nthird\n")
    files["title-817F"] = encoded(24, "none", (9, 7), title=b"T\x81\x7fX end")
    files["title-control"] = encoded(24, "none", (9, 7), title=b"Esc\x1bhere")
    files["time0"] = encoded(24, "fast", (9, 7), time=0, number=-3)
    whole = files["d24-optimizing"]
    files["cut"] = whole[:len(whole) * 2 // 3]
    lead, (block,), end = lead_blocks_end(files["d15-fast"])
    files["damaged"] = lead + block[:300] + bytes(len(block) - 300) + end
    files["work-bomb"] = claiming((2000, 2000), 5000, (2000, 2000))
    # over the library's canvas limit, under Pillow's own bomb check
    files["canvas-bomb"] = claiming((12000, 12000), 1, (1, 1))
    files["foreign"] = b"not a picture at all\n" * 20
    return files


NAMES = list(table())


def library_words(data):
    """Why the library refuses a file, or None: the door every other passes words from."""
    try:
        zefa.open(data).decode()
    except zefa.Error as e:
        return e.strerror
    return None


def zfconv(zf, png):
    """zfconv's PNG of a file: (its path or None, zfconv's words)"""
    try:
        run = subprocess.run([ZFCONV, "-q", str(zf), str(png)], capture_output=True, text=True,
                             timeout=ZFCONV_SECONDS)
    except subprocess.TimeoutExpired:
        png.unlink(missing_ok=True)
        return None, "no answer in %d s" % ZFCONV_SECONDS
    # a damaged file: its PNG, and a failure saying so
    return (png if png.exists() else None), run.stderr


@pytest.fixture(scope="session")
def files(tmp_path_factory):
    """name -> (ZEFA file, zfconv's PNG of it or None, zfconv's words)"""
    folder = tmp_path_factory.mktemp("table")
    out = {}
    for name, data in table().items():
        zf = folder / (name + ".ZF")
        zf.write_bytes(data)
        out[name] = (zf, *zfconv(zf, folder / (name + ".png")))
    assert out["work-bomb"][0].stat().st_size > 160000
    return out


# ---- the doors: name -> {"error": str or None, "size": (w, h), "rgba": bytes, "texts": dict}

def shown(error=None, size=None, rgba=b"", texts=None):
    if error is None:
        rgba = bytearray(rgba)  # as the dump programs give it: a transparent pixel is 0, 0, 0, 0
        for i in range(3, len(rgba), 4):
            if rgba[i] == 0:
                rgba[i - 3:i] = bytes(3)
    return {"error": error, "size": size, "rgba": bytes(rgba), "texts": texts or {}}


def native_door(door, format, paths):
    program = os.environ.get(NATIVE[door][0])
    if not program:
        pytest.skip("the %s door is not built here" % door)
    done = subprocess.run([program, format, *map(str, paths)], capture_output=True, check=True)
    out = []
    for line in done.stdout.decode("utf-8", "surrogateescape").splitlines():
        d = json.loads(line)
        if d["error"] is not None:
            out.append(shown(d["error"]))
        else:
            out.append(shown(None, (d["width"], d["height"]), Path(d["rgba"]).read_bytes(), d["texts"]))
    assert len(out) == len(paths)
    return out


def pillow_door(path, format):
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", Image.DecompressionBombWarning)
            with Image.open(path, formats=[format]) as im:
                return shown(None, im.size, im.convert("RGBA").tobytes(), dict(im.info))
    except OSError as e:
        return shown(str(e) or type(e).__name__)


def web_door(paths):
    if not NODE or not (Path(SITE) / "zefa.wasm").exists():
        pytest.skip("the web door needs node and the page built by `make web`")
    jobs = json.dumps([{"op": "decode", "file": str(p)} for p in paths])
    done = subprocess.run([NODE, str(RUN_MODULE), SITE], input=jobs, capture_output=True, text=True, check=True)
    out = []
    for got in json.loads(done.stdout):
        if "error" in got:
            out.append(shown(got["error"]))
        else:
            out.append(shown(None, (got["width"], got["height"]), base64.b64decode(got["rgba"]),
                             dict(got["png_text"])))
    return out


@pytest.fixture(scope="session")
def doors(files):
    """door -> name -> (what the door shows of the ZEFA file, of zfconv's PNG of it or None)"""
    cache = {}

    def through(door):
        if door not in cache:
            names = list(files)
            zefas = [files[n][0] for n in names]
            pngs = [files[n][1] for n in names if files[n][1]]
            if door in NATIVE:
                z, p = native_door(door, NATIVE[door][1], zefas), native_door(door, "png", pngs)
            elif door == "pillow":
                z, p = [pillow_door(f, "ZEFA") for f in zefas], [pillow_door(f, "PNG") for f in pngs]
            else:  # the web module reads no PNG: its PNG's pixels and texts as Pillow reads them
                z = web_door(zefas)
                p = [pillow_door(f, "PNG") for f in pngs]
                with_chunks = [Image.open(f) for f in pngs]
                for s, im in zip(p, with_chunks):
                    s["texts"] = dict(im.text)
                    im.close()
            p = iter(p)
            cache[door] = {n: (s, next(p) if files[n][1] else None) for n, s in zip(names, z)}
        return cache[door]

    return through


def cases(doors):
    """(door, name) for every door and file"""
    return [pytest.param(door, name, id="%s-%s" % (door, name)) for door in doors for name in NAMES]


# ---- the checks -----------------------------------------------------------------

@pytest.mark.parametrize("door,name", cases(["zfconv", *DOORS]))
def test_same_refusal(files, doors, door, name):
    zf, png, words = files[name]
    error = (None if png else words) if door == "zfconv" else doors(door)[name][0]["error"]
    if name not in REFUSED:
        assert error is None, "%s refuses it: %s" % (door, error)
        return
    assert error is not None, "%s shows it" % door
    # Qt's reader passes no words on; zfconv and Pillow tell a foreign file by themselves
    if door not in ("qt5", "qt6") and not (name == "foreign" and door in ("zfconv", "pillow")):
        assert library_words(zf.read_bytes()) in error


@pytest.mark.parametrize("door,name", cases(DOORS))
def test_same_pixels(files, doors, door, name):
    mine, theirs = doors(door)[name]
    if theirs is None or mine["error"] is not None:
        pytest.skip("refused")
    assert mine["size"] == theirs["size"]
    assert len(mine["rgba"]) == len(theirs["rgba"])
    if mine["rgba"] != theirs["rgba"]:
        first = next(i for i, (a, b) in enumerate(zip(mine["rgba"], theirs["rgba"])) if a != b) // 4
        pytest.fail("pixel %d (%d, %d) differs" % (first, first % mine["size"][0], first // mine["size"][0]))


@pytest.mark.parametrize("door,name", cases(DOORS))
def test_same_texts(files, doors, door, name):
    mine, theirs = doors(door)[name]
    if theirs is None or mine["error"] is not None:
        pytest.skip("refused")
    assert theirs["texts"], "the PNG shows no text"
    assert {k: mine["texts"].get(k) for k in theirs["texts"]} == theirs["texts"]


def test_the_png_holds_the_texts(files):
    """What every door is compared with says what the file says, so that a
    text lost on both sides shows too."""
    with Image.open(files["texts-sjis"][1]) as png:
        assert {k: png.text.get(k) for k in ("Title", "Author", "Comment", "Creation Time")} == {
            "Title": "日本 ｱｲｳ \\xFD!", "Author": "ｶﾀｶﾅ", "Comment": "first line\nsecond 漢字\n\nthird\n",
            "Creation Time": "2009-02-13T23:31:30Z"}
    with Image.open(files["time0"][1]) as png:
        assert png.text["Creation Time"] == "1970-01-01T00:00:00Z"
