#!/usr/bin/env python3
"""compare_table.py SIZES JSONDIR - the tables of bench/compare: bits per
pixel and MB/s (raw RGB bytes per second) per tool and picture group, and
the ratios of each of our codings to each peer over the whole corpus."""
import glob
import json
import os
import sys
from collections import defaultdict

OURS = ["zfbm", "zfsf", "zfss"]
PEERS = ["png", "webp", "qoi", "zstd", "copy"]

sizes = {}
pixels = {}
for line in open(sys.argv[1]):
    pic, tool, w, h, size = line.split()
    sizes[pic, tool] = int(size)
    pixels[pic] = int(w) * int(h)

times = {}  # (pic, tool, "enc"/"dec") -> median seconds
for path in glob.glob(os.path.join(sys.argv[2], "*.json")):
    pic, way, _ = os.path.basename(path).rsplit(".", 2)
    for r in json.load(open(path))["results"]:
        times[pic, r["command"], way] = r["median"]


def group(pic):
    return pic.rsplit("-", 1)[0]


groups = sorted({group(p) for p in pixels})
tools = OURS + PEERS
agg = defaultdict(lambda: [0, 0, 0.0, 0.0])  # pixels, bytes, enc s, dec s
for pic in pixels:
    for t in tools:
        for key in ((group(pic), t), ("all", t)):
            a = agg[key]
            a[0] += pixels[pic]
            a[1] += sizes[pic, t]
            a[2] += times[pic, t, "enc"]
            a[3] += times[pic, t, "dec"]


def mbs(px, secs):
    return 3 * px / secs / 1e6


print()
print("| pictures | " + " | ".join(tools) + " |")
print("|---|" + "---|" * len(tools))
for g in groups + ["all"]:
    cells = []
    for t in tools:
        px, b, e, d = agg[g, t]
        cells.append("%.2f bpp, %.0f / %.0f" % (8 * b / px, mbs(px, e), mbs(px, d)))
    print("| %s | %s |" % (g, " | ".join(cells)))
print()
print("Each cell: bits per pixel, encode / decode MB/s of raw RGB.")
print()
print("Ours against each peer over all pictures (speed ratios > 1: ours faster; size < 1: ours smaller):")
print()
print("| ours | " + " | ".join(PEERS) + " |")
print("|---|" + "---|" * len(PEERS))
for o in OURS:
    cells = []
    po, bo, eo, do = agg["all", o]
    for p in PEERS:
        pp, bp, ep, dp = agg["all", p]
        cells.append("enc x%.2f, dec x%.2f, size x%.2f" % (ep / eo, dp / do, bo / bp))
    print("| %s | %s |" % (o, " | ".join(cells)))
