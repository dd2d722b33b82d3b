"""The package over the library: header values, pixels, errors."""

import datetime

import pytest
from PIL import Image

import zefa
from conftest import COMMENT


def test_header_values(samples):
    pic = zefa.open(samples["texts"][0])
    # 0x85 0x42 is no character: the byte reads as zfconv writes it
    assert (pic.title, pic.artist, pic.comment) == ("日本の絵 A\\x85B", "作者", COMMENT)
    assert (pic.depth, pic.mode, pic.size, pic.ratio, pic.number) == (15, "RGB", (67, 41), (2, 1), 0)
    assert pic.saver.startswith("zfconv ") and pic.palette is None
    age = datetime.datetime.now(datetime.timezone.utc) - pic.time
    assert datetime.timedelta(0) <= age < datetime.timedelta(hours=1)
    pal = zefa.open(samples["pal8_none"][0])
    assert pal.mode == "P" and len(pal.palette) == 3 * 37


def test_pixels_from_a_path_and_from_bytes(samples):
    for zf, png in samples.values():
        with Image.open(png) as ref:
            want = ref.tobytes() if ref.mode == "P" else ref.convert("RGB").tobytes()
        assert zefa.open(zf).pixels == want
        assert zefa.open(zf.read_bytes()).pixels == want


def test_errors(samples, tmp_path):
    with pytest.raises(FileNotFoundError):
        zefa.open(tmp_path / "missing.ZF")
    with pytest.raises(zefa.Error) as e:
        zefa.open(b"not a ZEFA file" * 20)
    assert e.value.errno == zefa.ZF_ERR_FORMAT and "not a ZEFA file" in str(e.value)

    data = samples["rgb24_none"][0].read_bytes()
    whole = zefa.open(data).pixels
    cut = zefa.open(data[:len(data) // 2])  # the header still reads
    with pytest.raises(zefa.Error) as e:
        cut.pixels
    assert e.value.errno == zefa.ZF_ERR_EOF and "the file ends too early (line" in str(e.value)
    part = cut.decode(partial=True)
    rows = 5 * 67 * 3
    assert part[:rows] == whole[:rows] and part[-rows:] == bytes(rows)
