#!/usr/bin/env python3
"""make_corpus.py DIR - the pictures bench/compare measures, generated here:
screen-style pictures of 16 and 256 colours with large flat areas, a
dithered palette picture, grey and colour photo-like pictures, and text
with line art, at 640 x 400 and larger.  Each is written as raw RGB with a
FAL companion (for zfenc) and as PPM (for the other tools)."""
import random
import sys


def write(dirname, name, w, h, rows):
    data = bytearray()
    for row in rows:
        assert len(row) == 3 * w, name
        data += row
    with open(f"{dirname}/{name}.RGB", "wb") as f:
        f.write(data)
    with open(f"{dirname}/{name}.FAL", "w") as f:
        f.write("F_ALL(V1.00)\n%5d%6d%6d%6d\n   1.00   255   255   255   0\n" % (w, h, 0, 0))
    with open(f"{dirname}/{name}.ppm", "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h) + data)


def palette(n, rng):
    return [bytes((rng.randrange(256), rng.randrange(256), rng.randrange(256))) for _ in range(n)]


def screen(w, h, colours, seed):
    rng = random.Random(seed)
    pal = palette(colours, rng)
    idx = [[0] * w for _ in range(h)]
    for _ in range(40):  # windows and panels
        x0, y0 = rng.randrange(w), rng.randrange(h)
        x1, y1 = min(w, x0 + rng.randrange(w // 8, w // 2)), min(h, y0 + rng.randrange(h // 8, h // 2))
        c = rng.randrange(colours)
        for y in range(y0, y1):
            row = idx[y]
            for x in range(x0, x1):
                row[x] = c
    for _ in range(60):  # rules and borders
        y, c = rng.randrange(h), rng.randrange(colours)
        idx[y] = [c] * w if rng.random() < 0.3 else idx[y]
    return [b"".join(pal[i] for i in row) for row in idx]


def dithered(w, h, seed):
    pal = [bytes((r * 85, g * 85, b * 85)) for r in range(4) for g in range(4) for b in range(4)][:16]
    bayer = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]
    rows = []
    for y in range(h):
        row = bytearray()
        for x in range(w):
            t = bayer[y & 3][x & 3]
            v = (x * 255 // w + t * 4) // 64 % 4
            u = (y * 255 // h + t * 4) // 64 % 4
            row += pal[(v * 4 + u) % 16]
        rows.append(bytes(row))
    return rows


def photo(w, h, grey, seed):
    rng = random.Random(seed)
    rows = []
    for y in range(h):
        row = bytearray()
        for x in range(w):
            n = rng.randrange(-6, 7)
            r = max(0, min(255, (x * 255) // w + n))
            g = max(0, min(255, (y * 255) // h - n))
            b = max(0, min(255, ((x + y) * 200) // (w + h) + rng.randrange(-4, 5)))
            if grey:
                r = g = b = (r * 3 + g * 6 + b) // 10
            row += bytes((r, g, b))
        rows.append(bytes(row))
    return rows


def text(w, h, seed):
    rng = random.Random(seed)
    img = [bytearray(b"\xff" * (3 * w)) for _ in range(h)]
    for line in range(8, h - 12, 14):  # lines of glyph-like strokes
        x = 10
        while x < w - 60:
            for _ in range(rng.randrange(2, 9)):  # a word
                for yy in range(line, line + 9):
                    for xx in range(x, x + 5):
                        if rng.random() < 0.35:
                            img[yy][3 * xx:3 * xx + 3] = b"\x00\x00\x00"
                x += 6
            x += 6
    for _ in range(30):  # line art
        y = rng.randrange(h)
        img[y][:] = b"\x20\x40\xc0" * w
    return [bytes(r) for r in img]


def main():
    d = sys.argv[1]
    for w, h in ((640, 400), (1280, 1024)):
        tag = f"{w}x{h}"
        write(d, f"screen16-{tag}", w, h, screen(w, h, 16, 1))
        write(d, f"screen256-{tag}", w, h, screen(w, h, 256, 2))
        write(d, f"dithered-{tag}", w, h, dithered(w, h, 3))
        write(d, f"grey-photo-{tag}", w, h, photo(w, h, True, 4))
        write(d, f"photo-{tag}", w, h, photo(w, h, False, 5))
        write(d, f"text-{tag}", w, h, text(w, h, 6))


main()
