"""The package over the library: header values, pixels, damage, limits,
header text, writing."""

import datetime
import io

import pytest

import zefa
from conftest import COMMENT, TITLE, huge_canvas


def test_header_values(samples):
    pic = zefa.open(samples["texts"][0])
    assert (pic.title, pic.artist, pic.comment) == (TITLE, "作者ｻｸｼｬ", COMMENT)
    assert (pic.depth, pic.mode, pic.size, pic.ratio, pic.number) == (15, "RGB", (67, 41), (2, 1), 0)
    assert pic.saver.startswith("zfconv ") and pic.palette is None
    age = datetime.datetime.now(datetime.timezone.utc) - pic.time
    assert datetime.timedelta(0) <= age < datetime.timedelta(hours=1)
    pal = zefa.open(samples["pal8_optimizing"][0])
    assert pal.mode == "P" and len(pal.palette) == 3 * 37
    zero = zefa.open(samples["time0"][0])
    assert zero.time.timestamp() == 0 and zero.texts["Creation Time"] == "1970-01-01T00:00:00Z"


def test_damage_and_errors(samples, tmp_path):
    with pytest.raises(FileNotFoundError):
        zefa.open(tmp_path / "missing.ZF")
    with pytest.raises(zefa.Error) as e:
        zefa.open(b"not a ZEFA file" * 20, name="x.ZF")
    assert e.value.errno == zefa.ZF_ERR_FORMAT and str(e.value) == "x.ZF: not a readable ZEFA file: not a ZEFA file, or a damaged one"

    zf = samples["damaged"][0]
    pic = zefa.open(zf)
    with pytest.raises(zefa.Error) as e:
        pic.pixels
    assert e.value.errno == zefa.ZF_ERR_EOF and "of block 0 cannot be decoded: the file ends too early" in str(e.value)
    # what was drawn (its pixels and mask as Pillow shows them: tests/conformance)
    got = pic.decode(rgb=True)
    assert got.damage == e.value.strerror and got.mode == "RGB" and 0 in got.mask and 1 in got.mask
    assert zefa.open(samples["rgb24_none"][0]).decode().mask is None


def test_limits(samples):
    # a sound file under a header of 32767 x 32767: over the default canvas
    zf = samples["rgb24_none"][0]
    with pytest.raises(zefa.Error, match=r"the picture is too large \(32767 x 32767\)") as e:
        zefa.open(huge_canvas(zf)).pixels
    assert e.value.errno == zefa.ZF_ERR_LIMIT
    # the caller's own limits: a picture of 67 x 41 in one block
    assert len(zefa.open(zf, max_canvas=2747, max_work=2747).pixels) == 3 * 2747
    with pytest.raises(zefa.Error, match="more than the 2746 pixels"):
        zefa.open(zf, max_work=2746).pixels
    with pytest.raises(zefa.Error, match="too large"):
        zefa.open(zf, max_canvas=2746).pixels


def test_header_text():
    # the package's own text calls over the library's (every code: test_text)
    assert zefa.decode_text("ｶﾅ漢 A".encode("cp932") + b"\x85B\xfd") == "ｶﾅ漢 A\\x85B\\xFD"
    assert zefa.encode_text("5€", errors="replace") == b"5?"
    with pytest.raises(ValueError, match="the title has a character with no Shift-JIS form: '€'"):
        zefa.save(io.BytesIO(), bytes(3), (1, 1), title="5€")


@pytest.mark.parametrize("depth,coding", [(8, "optimizing"), (15, "none"), (24, "fast")])
def test_save_targets(tmp_path, depth, coding):
    pixels, palette = bytes(range(256)) * 3, bytes(range(256)) * 3
    mode = "P" if depth == 8 else "RGB"
    size = (256, 3) if depth == 8 else (256, 1)
    path = tmp_path / "pic.zf"
    zefa.save(path, pixels, size, mode, palette=palette, depth=depth, coding=coding, time=1234)
    with open(tmp_path / "fd.zf", "w+b") as fp:
        zefa.save(fp.fileno(), pixels, size, mode, palette=palette, depth=depth, coding=coding, time=1234)
    stream = io.BytesIO()
    zefa.save(stream, pixels, size, mode, palette=palette, depth=depth, coding=coding, time=1234, subtitle="pic")
    assert path.read_bytes() == stream.getvalue()
    back = zefa.open(stream.getvalue())
    assert back.subtitle == "pic" and back.time.timestamp() == 1234
    assert back.pixels == (pixels if depth != 15 else bytes((v >> 3) << 3 | v >> 5 for v in pixels))
    assert zefa.open(tmp_path / "fd.zf").pixels == back.pixels
