"""Pillow's ZEFA plugin: lazy open, pixels and info as zfconv's PNG gives
them, saving, Pillow's own errors, and loads from many threads."""

import concurrent.futures
import io

import pytest
from PIL import Image, ImageFile, UnidentifiedImageError

import zefa
import zefa.pillow  # noqa: F401 (registers the plugin)
from conftest import KINDS, source_pictures, zfconv


@pytest.mark.parametrize("name", KINDS)
def test_matches_zfconv_png(samples, name):
    zf, png = samples[name]
    with Image.open(zf) as im, Image.open(png) as ref:
        assert (im.format, im.get_format_mimetype()) == ("ZEFA", "image/x-zefa")
        assert (im.mode, im.size, im.info) == (ref.mode, ref.size, ref.info)
        assert im.tobytes() == ref.tobytes()
        assert im.convert("RGB").tobytes() == ref.convert("RGB").tobytes()


def test_open_decodes_nothing(samples, monkeypatch):
    decodes = []
    real = zefa.Picture.decode
    monkeypatch.setattr(zefa.Picture, "decode", lambda self, **kw: decodes.append(1) or real(self, **kw))
    zf = samples["rgb24_optimizing"][0]
    for source in (zf, io.BytesIO(zf.read_bytes()), io.BytesIO(bytes(128) + zf.read_bytes())):
        with Image.open(source) as im:
            assert im.size == (67, 41) and im.info["Software"].startswith("zfconv")
            assert decodes == []
            im.load()
            assert decodes == [1]
        decodes.clear()


def fives(rgb):
    """What 15 bits keep of 8-bit components, widened again."""
    return rgb.point(lambda c: (c >> 3) << 3 | c >> 5)


TAGS = {"none": {8: b"ZFBI", 15: b"ZFBI", 24: b"ZFBM"}, "fast": b"ZFSF", "optimizing": b"ZFSS"}


@pytest.mark.parametrize("mode,depth,coding", [
    ("RGB", 24, "optimizing"), ("RGB", 15, "fast"), ("P", 8, "none"), ("P", 8, "optimizing"),
    ("L", 8, "fast"), ("P", 24, "none")])
def test_save_and_reopen(tmp_path, mode, depth, coding):
    rgb = source_pictures(tmp_path)
    src = {"RGB": rgb, "P": rgb.quantize(50), "L": rgb.convert("L")}[mode]
    want = src.convert("RGB")
    if depth == 15:
        want = fives(want)
    out = tmp_path / "saved.zf"
    texts = dict(title="題名", artist="me", comment="a\nb", number=7, ratio=(1, 2))
    src.save(out, coding=coding, depth=depth, **texts)
    stream = io.BytesIO()
    src.save(stream, format="ZEFA", coding=coding, depth=depth)
    for saved in (out, stream):
        with Image.open(saved) as back:
            assert back.mode == ("P" if depth == 8 else "RGB")
            assert back.convert("RGB").tobytes() == want.tobytes()
    with Image.open(out) as back:
        assert {k: back.info[k] for k in ("Title", "Author", "Comment", "ZEFA Number", "ZEFA Subtitle", "aspect")} == {
            "Title": "題名", "Author": "me", "Comment": "a\nb", "ZEFA Number": "7", "ZEFA Subtitle": "saved",
            "aspect": (2, 1)}
    data = out.read_bytes()
    first = int.from_bytes(data[106:110], "big")
    tag = TAGS[coding]
    assert data[first:first + 4] == (tag[depth] if isinstance(tag, dict) else tag)
    # the programs read it the same
    zfconv(out, tmp_path / "back.png")
    with Image.open(tmp_path / "back.png") as png:
        assert png.convert("RGB").tobytes() == want.tobytes()


def test_errors(samples, tmp_path, monkeypatch):
    for data in (b"", b"ZFDT", b"ZFDT" + bytes(120), b"GIF89a" + bytes(300), bytes(400)):
        with pytest.raises(UnidentifiedImageError):
            Image.open(io.BytesIO(data))
    with pytest.raises(OSError, match="cannot write mode RGBA"):
        Image.new("RGBA", (2, 2)).save(io.BytesIO(), format="ZEFA")

    # cut inside the pixels: the header opens, the pixels are an OSError
    # and the file is closed; or the lines before the cut when Pillow is
    # told to load truncated images
    data = samples["rgb24_none"][0].read_bytes()
    cut = tmp_path / "cut.ZF"
    cut.write_bytes(data[:len(data) // 2])
    im = Image.open(cut)
    fp = im.fp
    with pytest.raises(OSError, match="truncated"):
        im.load()
    assert fp.closed
    monkeypatch.setattr(ImageFile, "LOAD_TRUNCATED_IMAGES", True)
    with Image.open(cut) as part, Image.open(samples["rgb24_none"][1]) as whole:
        box = (0, 0, 67, 5)
        assert part.crop(box).tobytes() == whole.convert("RGB").crop(box).tobytes()

    # a header that claims more pixels than Pillow allows
    big = bytearray(data)
    big[116:120] = b"\x7f\xff\x7f\xff"
    with pytest.raises(Image.DecompressionBombError):
        Image.open(io.BytesIO(big))


def test_loads_from_a_thread_pool(samples):
    want = {}
    for name, (zf, png) in samples.items():
        with Image.open(png) as ref:
            want[name] = ref.tobytes()

    def load(name):
        with Image.open(samples[name][0]) as im:
            return im.tobytes()

    names = list(samples) * 6
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        for name, got in zip(names, pool.map(load, names)):
            assert got == want[name]
