#!/usr/bin/env python3
"""bench/png_vs_chain.py - zfconv's ZEFA to PNG against zfdec followed by
rawtoppm | pnmtopng, per file and per kind of picture, as whole processes:
wall time and CPU time (user + system of the processes and their
children, best of RUNS) and the PNG bytes.  The pictures are those of
bench/real_pictures.sh, each as a ZEFA file of the fast (ZFSF) and the
optimizing (ZFSS) coding.  Ratios above 1: zfconv faster; size below 1:
its PNG smaller.

    bench/png_vs_chain.py            RUNS=3 by default
"""
import glob, os, re, resource, subprocess, sys, tempfile, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RUNS = int(os.environ.get("RUNS", "3"))
BIN = os.path.join(ROOT, "build-release", "bin")


def sh(cmd):
    subprocess.run(cmd, shell=True, check=True, cwd=ROOT)


def timed(cmd):
    """Best wall and CPU seconds of RUNS runs of a shell command."""
    wall = cpu = None
    for _ in range(RUNS):
        a = resource.getrusage(resource.RUSAGE_CHILDREN)
        t = time.perf_counter()
        subprocess.run(cmd, shell=True, check=True)
        w = time.perf_counter() - t
        b = resource.getrusage(resource.RUSAGE_CHILDREN)
        c = b.ru_utime - a.ru_utime + b.ru_stime - a.ru_stime
        wall = w if wall is None else min(wall, w)
        cpu = c if cpu is None else min(cpu, c)
    return wall, cpu


def main():
    sh("sh scripts/install-deps.sh >/dev/null")
    sh("cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null")
    sh("cmake --build build-release --target zfconv zfdec >/dev/null")
    work = tempfile.mkdtemp()
    sh(f"sh bench/real_pictures.sh {work}/real")
    os.makedirs(f"{work}/out")
    rows, kinds = [], {}
    for png in sorted(glob.glob(f"{work}/real/*.png")):
        base = os.path.basename(png)[:-4]
        w, h = re.search(r"-(\d+)x(\d+)$", base).groups()
        for coding, arg in (("zfsf", ""), ("zfss", "--coding=optimizing")):
            zf = f"{work}/out/{base}-{coding}.ZF"
            sh(f"{BIN}/zfconv -q {arg} {png} {zf}")
            conv = f"{BIN}/zfconv -q {zf} {work}/out/conv.png"
            chain = (f"{BIN}/zfdec {zf} {work}/out/c.RGB >/dev/null 2>&1 && "
                     f"rawtoppm {w} {h} {work}/out/c.RGB 2>/dev/null | pnmtopng >{work}/out/chain.png 2>/dev/null")
            t1 = timed(conv)
            t2 = timed(chain)
            s1 = os.path.getsize(f"{work}/out/conv.png")
            s2 = os.path.getsize(f"{work}/out/chain.png")
            kind = base.split("_")[0] + " " + coding
            rows.append((base + " " + coding, t1, t2, s1, s2))
            k = kinds.setdefault(kind, [0.0] * 6)
            for i, v in enumerate((t1[0], t2[0], t1[1], t2[1], s1, s2)):
                k[i] += v
    print("| file | time | CPU time | size |")
    print("|---|---|---|---|")
    for name, t1, t2, s1, s2 in rows:
        print(f"| {name} | x{t2[0] / t1[0]:.2f} | x{t2[1] / t1[1]:.2f} | x{s1 / s2:.4f} |")
    print()
    print("| kind (summed) | time | CPU time | size |")
    print("|---|---|---|---|")
    total = [0.0] * 6
    for kind, k in sorted(kinds.items()):
        print(f"| {kind} | x{k[1] / k[0]:.2f} | x{k[3] / k[2]:.2f} | x{k[4] / k[5]:.4f} |")
        total = [a + b for a, b in zip(total, k)]
    print(f"| all | x{total[1] / total[0]:.2f} | x{total[3] / total[2]:.2f} | x{total[4] / total[5]:.4f} |")
    sh(f"rm -rf {work}")


if __name__ == "__main__":
    sys.exit(main())
