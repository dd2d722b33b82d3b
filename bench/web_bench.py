#!/usr/bin/env python3
"""web_bench.py [SITE] - the web page's numbers on this machine:

  size     what the page loads (HTML, CSS, scripts, WebAssembly), uncompressed
  decode   a 1000 x 872 optimizing-coded photograph decoded to RGBA: natively
           (the page's glue compiled with g++ -O2), in Node and inside the page
           in headless Chromium (medians)
  shown    the first picture on screen after it is chosen through the page's
           file input (the page's own mark, and the wall clock around it)

The photograph is cut from mate-backgrounds' FreshFlower.jpg (installed when
missing) and made into a ZEFA file by the built zfconv.  Run from the top of
the tree after `make build web`: python3 bench/web_bench.py"""

import base64
import functools
import http.server
import json
import os
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

from PIL import Image

ROOT = Path(__file__).resolve().parent.parent
SITE = Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build-web" / "site")
ZFCONV = os.environ.get("ZFCONV", str(ROOT / "build" / "bin" / "zfconv"))
PHOTO = Path("/usr/share/backgrounds/mate/nature/FreshFlower.jpg")
RUNS = 15
PAGE_FILES = ("index.html", "style.css", "page.js", "sw.js", "zefa.js", "zefa.wasm")


def photo(folder):
    if not PHOTO.exists():
        sudo = [] if os.getuid() == 0 else ["sudo"]
        subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "-o", "DPkg::Lock::Timeout=300",
                               "--no-install-recommends", "mate-backgrounds"], check=True, stdin=subprocess.DEVNULL)
    im = Image.open(PHOTO).convert("RGB")
    im = im.resize((round(im.width * 872 / im.height), 872), Image.LANCZOS)
    left = (im.width - 1000) // 2
    im.crop((left, 0, left + 1000, 872)).save(folder / "photo.png")
    subprocess.run([ZFCONV, "-q", "--to=zf", "--depth=24", "--coding=optimizing", "-o", folder / "photo.ZF",
                    folder / "photo.png"], check=True)
    return folder / "photo.ZF"


def native_ms(folder, zf):
    """The glue and the library built as the page's are, with g++ -O2."""
    sources = [str(p) for p in (ROOT / "zflib").rglob("*.cpp")] + [str(ROOT / "web" / "zefa_web.cpp")]
    includes = ["-I" + str(p) for p in [ROOT / "zflib", ROOT / "web"] + [d for d in (ROOT / "zflib").rglob("*") if d.is_dir()]]
    program = folder / "web_decode"
    subprocess.run(["g++", "-std=c++20", "-O2", "-DNDEBUG", *includes, *sources,
                    str(ROOT / "bench" / "web_decode.cpp"), "-o", program], check=True)
    return float(subprocess.run([program, zf, str(RUNS)], check=True, capture_output=True, text=True).stdout)


NODE_TIMING = """
const fs = require('fs'), path = require('path');
const [site, file, runs] = process.argv.slice(1);
require(path.resolve(site, 'zefa.js'))({wasmBinary: fs.readFileSync(path.resolve(site, 'zefa.wasm'))}).then(async z => {
  const bytes = new Uint8Array(fs.readFileSync(file)), ms = [];
  for (let i = 0; i < runs; i++) { const t = performance.now(); await z.decode(bytes); ms.push(performance.now() - t); }
  ms.sort((a, b) => a - b);
  console.log(ms[ms.length >> 1]);
});
"""


def node_ms(zf):
    return float(subprocess.run(["node", "-e", NODE_TIMING, str(SITE), str(zf), str(RUNS)], check=True,
                                capture_output=True, text=True).stdout)


PAGE_TIMING = """
const [b64, runs, done] = arguments;
const bytes = Uint8Array.from(atob(b64), c => c.charCodeAt(0)), ms = [];
(async () => {
  for (let i = 0; i < runs; i++) { const t = performance.now(); await zefa.decode(bytes); ms.push(performance.now() - t); }
  ms.sort((a, b) => a - b);
  done(ms[ms.length >> 1]);
})();
"""


def browser_numbers(zf, profile):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By

    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=str(SITE)))
    threading.Thread(target=httpd.serve_forever, daemon=True).start()
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--user-data-dir=%s" % profile):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        driver.set_script_timeout(120)
        driver.get("http://127.0.0.1:%d/" % httpd.server_address[1])
        driver.execute_async_script("zefa.decode(new Uint8Array(0)).catch(() => arguments[0]())")  # loaded
        started = time.monotonic()
        driver.find_element(By.ID, "files").send_keys(str(zf))
        while not driver.execute_script("return performance.getEntriesByName('first picture').length"):
            time.sleep(0.005)
        wall = (time.monotonic() - started) * 1000
        mark = driver.execute_script("return performance.getEntriesByName('first picture')[0].duration")
        page = driver.execute_async_script(PAGE_TIMING, base64.b64encode(zf.read_bytes()).decode(), RUNS)
        return page, mark, wall
    finally:
        driver.quit()
        httpd.shutdown()


def main():
    size = sum((SITE / name).stat().st_size for name in PAGE_FILES)
    print("size: %d bytes (%.0f KB) loaded by the page: %s" % (
        size, size / 1024, ", ".join("%s %d" % (n, (SITE / n).stat().st_size) for n in PAGE_FILES)))
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        zf = photo(folder)
        native = native_ms(folder, zf)
        node = node_ms(zf)
        page, mark, wall = browser_numbers(zf, folder / "profile")
    print("decode 1000 x 872 ZFSS photo (median of %d): native %.1f ms, Node %.1f ms (%.2fx), page %.1f ms (%.2fx)"
          % (RUNS, native, node, node / native, page, page / native))
    print("first picture shown after choosing it: %.0f ms by the page's mark, %.0f ms by the wall clock" % (mark, wall))


if __name__ == "__main__":
    main()
