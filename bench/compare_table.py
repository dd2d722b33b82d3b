#!/usr/bin/env python3
"""compare_table.py SIZES JSONDIR - the tables of bench/compare.

Pictures named GROUP_NAME-WxH are real ones (bench/real_pictures.sh), the
others generated (bench/make_corpus.py, GROUP-WxH); the two are reported
apart.  Per group: bits per pixel and MB/s (raw RGB bytes per second, over
the group's pixels and summed times); then the ratios of our codings to
each peer, as the geometric mean over the group's pictures of each
picture's ratio; then zfconv's ZEFA to PNG against zfdec and pnmtopng."""
import glob
import json
import math
import os
import sys
from collections import defaultdict

OURS = ["zfbm", "zfsf", "zfss"]
PEERS = ["png", "webp", "qoi", "zstd", "copy"]
TOPNG = ["zfsf", "zfss"]  # ZEFA files turned into PNG

sizes = {}
pixels = {}
for line in open(sys.argv[1]):
    pic, tool, w, h, size = line.split()
    sizes[pic, tool] = int(size)
    pixels[pic] = int(w) * int(h)

times = {}  # (pic, tool, "enc"/"dec"/"topng") -> median seconds
for path in glob.glob(os.path.join(sys.argv[2], "*.json")):
    pic, way, _ = os.path.basename(path).rsplit(".", 2)
    for r in json.load(open(path))["results"]:
        times[pic, r["command"], way] = r["median"]


def is_real(pic):
    return "_" in pic


def group(pic):
    return pic.split("_", 1)[0] if is_real(pic) else pic.rsplit("-", 1)[0]


def gmean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else float("nan")


def mbs(px, secs):
    return 3 * px / secs / 1e6


tools = OURS + PEERS
sets = []  # (title, [(row name, pictures)])
for real, title, everything in ((False, "Generated pictures", "all generated"), (True, "Real pictures", "all real")):
    pics = sorted(p for p in pixels if is_real(p) == real)
    if not pics:
        continue
    rows = [(g, [p for p in pics if group(p) == g]) for g in sorted({group(p) for p in pics})]
    sets.append((title, rows + [(everything, pics)]))

for title, rows in sets:
    print()
    print(title + ": bits per pixel, encode / decode MB/s of raw RGB")
    print()
    print("| pictures | " + " | ".join(tools) + " |")
    print("|---|" + "---|" * len(tools))
    for name, pics in rows:
        cells = []
        for t in tools:
            px = sum(pixels[p] for p in pics)
            b = sum(sizes[p, t] for p in pics)
            e = sum(times[p, t, "enc"] for p in pics)
            d = sum(times[p, t, "dec"] for p in pics)
            cells.append("%.2f bpp, %.0f / %.0f" % (8 * b / px, mbs(px, e), mbs(px, d)))
        print("| %s (%d) | %s |" % (name, len(pics), " | ".join(cells)))

print()
print("Ours against each peer, geometric mean over the pictures of each group of the per-picture ratios")
print("(speed: > 1 ours faster; size: < 1 ours smaller):")
for o in OURS:
    print()
    names = [name for _, rows in sets for name, _ in rows]
    print("| %s against | " % o + " | ".join(names) + " |")
    print("|---|" + "---|" * len(names))
    for peer in PEERS:
        cells = []
        for _, rows in sets:
            for _, pics in rows:
                enc = gmean([times[p, peer, "enc"] / times[p, o, "enc"] for p in pics])
                dec = gmean([times[p, peer, "dec"] / times[p, o, "dec"] for p in pics])
                size = gmean([sizes[p, o] / sizes[p, peer] for p in pics])
                cells.append("enc x%.2f, dec x%.2f, size x%.2f" % (enc, dec, size))
        print("| %s | %s |" % (peer, " | ".join(cells)))

real_rows = [rows for title, rows in sets if title == "Real pictures"]
if real_rows and all((p, "zfconv-" + TOPNG[0], "topng") in times for _, pics in real_rows[0] for p in pics):
    rows = real_rows[0]
    print()
    print("ZEFA to PNG: `zfconv F.ZF F.png` against `zfdec` then `rawtoppm | pnmtopng`, geometric mean of")
    print("the per-picture ratios (time: > 1 zfconv faster; size: < 1 zfconv's PNG smaller):")
    print()
    print("| ZEFA file | " + " | ".join(name for name, _ in rows) + " |")
    print("|---|" + "---|" * len(rows))
    for t in TOPNG:
        cells = []
        for _, pics in rows:
            speed = gmean([times[p, "chain-" + t, "topng"] / times[p, "zfconv-" + t, "topng"] for p in pics])
            size = gmean([sizes[p, "zfconv-" + t] / sizes[p, "chain-" + t] for p in pics])
            cells.append("time x%.2f, size x%.3f" % (speed, size))
        print("| %s | %s |" % (t, " | ".join(cells)))
