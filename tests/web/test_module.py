"""The web page's module under Node against the native library: the same
pixels, header words and refusals as zfconv for every depth and coding,
damaged files included, and files it makes that zfconv reads back."""

import base64
import json
import os
import subprocess
import time
from pathlib import Path

import pytest
from PIL import Image

from conftest import SITE, native, same_pixels, zfconv

NODE = os.environ.get("NODE", "node")


def module(jobs):
    done = subprocess.run([NODE, str(Path(__file__).with_name("run_module.js")), SITE],
                          input=json.dumps(jobs), capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def decode(*files):
    return module([{"op": "decode", "file": str(f)} for f in files])


def test_pictures_and_texts_as_zfconv_shows_them(samples):
    names = list(samples)
    for name, got in zip(names, decode(*samples.values())):
        info, picture, _ = native(samples[name])
        assert "error" not in got, (name, got)
        assert same_pixels(base64.b64decode(got["rgba"]), got["width"], got["height"], picture), name
        shown = got["info"]
        for key, theirs in (("title", "title"), ("author", "artist"), ("comment", "comment"), ("subtitle", "subtitle"),
                            ("saver", "saver"), ("number", "number"), ("depth", "depth"), ("ratio_x", "ratio_x"),
                            ("ratio_y", "ratio_y"), ("time", "time")):
            assert shown.get(key, "") == info[theirs], (name, key)
        assert [b["decodes"] for b in got["blocks"]] == [b["decodes"] for b in info["blocks"]], name
        assert (got["damage"] is None) == info["ok"], name


def test_texts_keep_what_is_no_character_and_png_keys_are_zfconv_s(samples):
    got = decode(samples["texts"])[0]
    assert got["info"]["title"] == "日本の絵 ｶﾅ A\\x85B"
    assert got["info"]["author"] == "作者"
    assert got["info"]["comment"] == "first line\nsecond, 二行目\n"
    native(samples["texts"])
    png = Image.open(samples["texts"].with_suffix(".native.png"))
    assert dict(got["png_text"]) == {k: v for k, v in png.text.items() if k in dict(got["png_text"])}
    assert {"Title", "Author", "Comment", "Software", "Creation Time", "ZEFA Number"} <= set(dict(got["png_text"]))


def test_damage_is_told_where_zfconv_tells_it(samples):
    cut, broken = decode(samples["cut"], samples["broken"])
    for got, name in ((cut, "cut"), (broken, "broken")):
        made = native(samples[name])[2]
        assert got["damage"] and got["damage"] in made.stderr, (name, got["damage"], made.stderr)
        rgba = base64.b64decode(got["rgba"])
        assert 0 < sum(rgba[3::4]) // 255 < got["width"] * got["height"], name


def test_refusals_are_errors_with_the_library_s_words(tmp_path, bomb):
    (tmp_path / "text.ZF").write_bytes(b"not a picture at all")
    (tmp_path / "empty.ZF").write_bytes(b"")
    started = time.monotonic()
    got = decode(tmp_path / "text.ZF", tmp_path / "empty.ZF", bomb)
    assert time.monotonic() - started < 10
    assert "not a ZEFA file" in got[0]["error"]
    assert got[1]["error"]
    assert "pixels allowed" in got[2]["error"]


def rgba_of(png):
    picture = Image.open(png).convert("RGBA")
    return picture, base64.b64encode(picture.tobytes()).decode()


@pytest.mark.parametrize("depth", [8, 15, 24])
def test_files_it_makes_read_back_in_zfconv(samples, tmp_path, depth):
    source = samples["pal8_none"].with_suffix(".native.png") if depth == 8 else None
    if source is None:
        source = samples["rgb24_none"].with_suffix(".native.png")
    if not source.exists():
        zfconv(source.with_suffix("").with_suffix(".ZF"), source)
    picture, rgba = rgba_of(source)
    jobs = [{"op": "encode", "rgba": rgba, "width": picture.width, "height": picture.height,
             "options": {"depth": depth, "coding": coding, "title": "絵 %d" % depth, "author": "me", "comment": "a\nb"},
             "out": str(tmp_path / ("%s.ZF" % coding))} for coding in ("none", "fast", "optimizing")]
    for job, got in zip(jobs, module(jobs)):
        assert "error" not in got, got
        info, back, _ = native(Path(job["out"]))
        assert info["depth"] == depth and info["title"] == "絵 %d" % depth and info["comment"] == "a\nb"
        want = picture if depth != 15 else picture.point(lambda v: (v & 0xF8) | (v >> 5))
        assert back.tobytes() == want.tobytes(), (depth, job["options"]["coding"])


def test_what_a_file_cannot_hold_is_said_or_refused(tmp_path):
    many = bytes(b for i in range(300) for b in (i % 256, i // 256, 7, 255))
    half = bytes(b for i in range(4) for b in (1, 2, 3, 128))
    long_title = "長" * 20
    got = module([
        {"op": "encode", "rgba": base64.b64encode(many).decode(), "width": 300, "height": 1,
         "options": {"depth": 8}, "out": str(tmp_path / "a.ZF")},
        {"op": "encode", "rgba": base64.b64encode(half).decode(), "width": 2, "height": 2,
         "options": {"depth": 24, "title": long_title}, "out": str(tmp_path / "b.ZF")},
        {"op": "encode", "rgba": base64.b64encode(half).decode(), "width": 2, "height": 2,
         "options": {"depth": 12}, "out": str(tmp_path / "c.ZF")},
    ])
    assert "256 colours" in got[0]["error"]
    assert any("transparency" in n for n in got[1]["notes"]) and any("title" in n for n in got[1]["notes"])
    assert native(tmp_path / "b.ZF")[0]["title"] == "長" * 15
    assert "depth" in got[2]["error"]
