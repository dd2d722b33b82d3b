"""Pillow's ZEFA plugin: lazy open, saving, Pillow's own errors naming the
user's file, its bomb check.  Each file as Pillow shows zfconv's PNG
of it is the conformance test's (tests/conformance)."""

import io

import pytest
from PIL import Image, UnidentifiedImageError

import zefa
import zefa.pillow  # noqa: F401 (registers the plugin)
from conftest import SAMPLES, huge_canvas, source_pictures, zfconv


@pytest.mark.parametrize("name", SAMPLES)
def test_format_mode_and_damage(samples, name):
    zf, png = samples[name]
    with Image.open(zf) as im, Image.open(png) as ref:
        assert (im.format, im.get_format_mimetype()) == ("ZEFA", "image/x-zefa")
        im.load()
        assert im.mode == ref.mode
        assert (im.zefa_damage != "") == (name == "damaged")


def test_open_reads_the_header_only(samples, monkeypatch):
    decodes = []
    real = zefa.Picture._decode_record
    monkeypatch.setattr(zefa.Picture, "_decode_record", lambda *a: decodes.append(1) or real(*a))
    zf = samples["rgb24_optimizing"][0]
    for source in (zf, io.BytesIO(zf.read_bytes()), io.BytesIO(bytes(128) + zf.read_bytes())):
        with Image.open(source) as im:
            assert im.size == (67, 41) and im.info["Software"].startswith("zfconv")
            assert decodes == []
            im.load()
            assert decodes == [1]
        decodes.clear()


@pytest.mark.parametrize("mode,depth,coding", [("RGB", 15, "fast"), ("P", 8, "none"), ("L", 8, "fast"), ("P", 24, "none")])
def test_save_and_reopen(tmp_path, mode, depth, coding):
    rgb = source_pictures(tmp_path)
    src = {"RGB": rgb, "P": rgb.quantize(50), "L": rgb.convert("L")}[mode]
    want = src.convert("RGB")
    if depth == 15:  # what 15 bits keep of 8-bit components, widened again
        want = want.point(lambda c: (c >> 3) << 3 | c >> 5)
    out = tmp_path / "saved.zf"
    src.save(out, coding=coding, depth=depth, title="題名ｶﾅ", artist="me", comment="a\nb", number=7, ratio=(1, 2))
    stream = io.BytesIO()
    src.save(stream, format="ZEFA", coding=coding, depth=depth)
    for saved in (out, stream):
        with Image.open(saved) as back:
            assert back.mode == ("P" if depth == 8 else "RGB")
            assert back.convert("RGB").tobytes() == want.tobytes()
    with Image.open(out) as back:
        assert {k: back.info[k] for k in ("Title", "Author", "Comment", "ZEFA Number", "ZEFA Subtitle", "aspect")} == {
            "Title": "題名ｶﾅ", "Author": "me", "Comment": "a\nb", "ZEFA Number": "7", "ZEFA Subtitle": "saved",
            "aspect": (2, 1)}
    # the programs read it the same
    zfconv(out, tmp_path / "back.png")
    with Image.open(tmp_path / "back.png") as png:
        assert png.convert("RGB").tobytes() == want.tobytes()


def test_errors_name_the_file(samples, tmp_path):
    with pytest.raises(UnidentifiedImageError):
        Image.open(io.BytesIO(b"ZFDT"))
    # a ZEFA file the library refuses: its words, under the user's name
    bad = bytearray(samples["rgb24_none"][0].read_bytes())
    bad[110:112] = b"\x00\x07"
    (tmp_path / "deep.ZF").write_bytes(bad)
    with pytest.raises(UnidentifiedImageError, match=r"deep\.ZF.*: a ZEFA file of depth 7 cannot be shown"):
        Image.open(tmp_path / "deep.ZF")
    with pytest.raises(OSError, match="cannot write mode RGBA"):
        Image.new("RGBA", (2, 2)).save(io.BytesIO(), format="ZEFA")
    with pytest.raises(ValueError, match="no Shift-JIS form: '😀'"):
        Image.new("RGB", (2, 2)).save(io.BytesIO(), format="ZEFA", title="a😀")

    # nothing decodes: an OSError naming the file, which is closed
    data = samples["rgb24_optimizing"][0].read_bytes()
    cut = tmp_path / "cut.ZF"
    cut.write_bytes(data[:600])
    im = Image.open(cut)
    fp = im.fp
    with pytest.raises(OSError, match=r"^cannot decode '.*cut\.ZF': no block can be decoded: the file ends too early"):
        im.load()
    assert fp.closed


def test_pillows_bomb_check(samples):
    # a canvas claimed in a few bytes, refused at open (the library's limits
    # refuse smaller ones on load)
    with pytest.raises(Image.DecompressionBombError):
        Image.open(io.BytesIO(huge_canvas(samples["rgb24_none"][0])))
