"""The web page's module under Node against the native library (zfconv): the
header as zfconv --json tells it, the blocks and the damage, and files it
makes that zfconv reads back.  Its pixels, texts and refusals against
zfconv's are the conformance test's (tests/conformance)."""

import base64
import json
import os
import subprocess
from pathlib import Path

from conftest import SITE, native

NODE = os.environ.get("NODE", "node")


def module(jobs):
    done = subprocess.run([NODE, str(Path(__file__).with_name("run_module.js")), SITE],
                          input=json.dumps(jobs), capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def decode(*files):
    return module([{"op": "decode", "file": str(f)} for f in files])


def encode(rgba, size, out, **options):
    return {"op": "encode", "rgba": base64.b64encode(rgba).decode(), "width": size[0], "height": size[1],
            "options": options, "out": str(out)}


def test_header_blocks_and_damage_as_zfconv_tells_them(samples):
    for (name, zf), got in zip(samples.items(), decode(*samples.values())):
        info, picture, png, run = native(zf)
        for key, theirs in (("title", "title"), ("author", "artist"), ("comment", "comment"), ("saver", "saver"),
                            ("number", "number"), ("depth", "depth"), ("ratio_x", "ratio_x"), ("time", "time")):
            assert got["info"].get(key, "") == info[theirs], (name, key)
        assert [b["decodes"] for b in got["blocks"]] == [b["decodes"] for b in info["blocks"]], name
        assert (got["damage"] is None) == info["ok"] and (info["ok"] or got["damage"] in run.stderr), name
    assert decode(samples["texts"])[0]["info"]["title"] == "日本の絵 ｶﾅ A\\x85B"


def test_files_it_makes_read_back_in_zfconv(samples, tmp_path):
    jobs = []
    for depth in (8, 15, 24):
        picture = native(samples["pal8_none" if depth == 8 else "rgb24_none"])[1]
        for coding in ("none", "fast", "optimizing"):
            out = tmp_path / ("%d_%s.ZF" % (depth, coding))
            jobs.append((picture, depth, encode(picture.tobytes(), picture.size, out, depth=depth, coding=coding,
                                                title="絵", author="me", comment="a\nb")))
    for (picture, depth, job), got in zip(jobs, module([j for _, _, j in jobs])):
        info, back = native(Path(job["out"]))[:2]
        assert (info["depth"], info["title"], info["artist"], info["comment"]) == (depth, "絵", "me", "a\nb")
        want = picture if depth != 15 else picture.point(lambda v: v & 0xF8 | v >> 5)
        assert back.tobytes() == want.tobytes(), job["out"]


def test_what_a_file_cannot_hold_is_said_or_refused(tmp_path):
    many = bytes(b for i in range(300) for b in (i % 256, i // 256, 7, 255))
    seethrough = bytes([1, 2, 3, 128] * 4)
    got = module([encode(many, (300, 1), tmp_path / "a.ZF", depth=8),
                  encode(seethrough, (2, 2), tmp_path / "b.ZF", title="長" * 20),
                  encode(seethrough, (2, 2), tmp_path / "c.ZF", title="\U0001F600"),
                  encode(seethrough, (2, 2), tmp_path / "d.ZF", depth=12)])
    assert "256 colours" in got[0]["error"]
    assert any("transparency" in n for n in got[1]["notes"]) and any("title" in n for n in got[1]["notes"])
    assert native(tmp_path / "b.ZF")[0]["title"] == "長" * 15
    assert "Shift-JIS" in got[2]["error"] and "depth" in got[3]["error"]
