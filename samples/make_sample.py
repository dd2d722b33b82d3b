#!/usr/bin/env python3
"""Writes samples/sample.RGB and sample.FAL: the picture make demo encodes.

A 320 x 200, 24-bit screen-style picture: a gradient band, flat
chequered areas, a band of fine detail and a dotted box.
"""
import pathlib

W, H = 320, 200
here = pathlib.Path(__file__).parent
px = bytearray()
for y in range(H):
    for x in range(W):
        if y < 60:
            r, g, b = (x * 255) // (W - 1), (y * 4) % 256, 128
        elif y < 140:
            r, g, b = (30, 30, 160) if (x // 40 + y // 20) % 2 else (240, 220, 60)
        else:
            v = ((x * x + y * y * 3) >> 5) & 0xFF
            r, g, b = v, 255 - v, (v * 3) & 0xFF
        if 100 < x < 220 and 80 < y < 120 and (x + y) % 7 == 0:
            r, g, b = 255, 255, 255
        px += bytes((r, g, b))
(here / "sample.RGB").write_bytes(px)
(here / "sample.FAL").write_text("F_ALL(V1.00)\n  320   200     0     0\n   1.00   255   255   255   0\n")
