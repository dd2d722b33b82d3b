"""The web page in headless Chromium over a server on 127.0.0.1: files chosen
through the page's own input show their titles, the PNG it saves has
zfconv's pixels and texts, the ZEFA file it makes reads back in zfconv, and
window.zefa decodes as zfconv does and refuses a work bomb in time."""

import base64
import functools
import http.server
import shutil
import threading
import time
from pathlib import Path

import pytest
from PIL import Image

from conftest import SITE, native, same_pixels

webdriver = pytest.importorskip("selenium.webdriver", reason="python3-selenium is not installed")
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

CHROMIUM, DRIVER = shutil.which("chromium"), shutil.which("chromedriver")
if not (CHROMIUM and DRIVER):
    pytest.skip("chromium and chromium-driver are not installed", allow_module_level=True)


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


@pytest.fixture(scope="module")
def server():
    handler = functools.partial(QuietHandler, directory=SITE)
    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=httpd.serve_forever, daemon=True).start()
    yield "http://127.0.0.1:%d/" % httpd.server_address[1]
    httpd.shutdown()
    httpd.server_close()


@pytest.fixture(scope="module")
def downloads(tmp_path_factory):
    return tmp_path_factory.mktemp("downloads")


@pytest.fixture(scope="module")
def browser(server, downloads, tmp_path_factory):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--user-data-dir=%s" % tmp_path_factory.mktemp("profile")):
        options.add_argument(flag)
    options.add_experimental_option("prefs", {"download.default_directory": str(downloads),
                                              "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=Service(DRIVER), options=options)
    driver.set_script_timeout(30)
    driver.get(server)
    yield driver
    driver.quit()


def wait_for(driver, check, seconds=10):
    return WebDriverWait(driver, seconds).until(lambda d: check(d))


def downloaded(folder, name):
    path = folder / name
    wait_for(None, lambda _: path.exists() and path.stat().st_size > 0)
    return path


DECODE = """
const [b64, done] = arguments;
const bytes = Uint8Array.from(atob(b64), c => c.charCodeAt(0));
const started = performance.now();
zefa.decode(bytes).then(r => {
  let s = ''; for (const v of r.rgba) s += String.fromCharCode(v);
  done({width: r.width, height: r.height, rgba: btoa(s), title: r.info.title, damage: r.damage,
        ms: performance.now() - started});
}, e => done({error: String(e.message), isError: e instanceof Error, ms: performance.now() - started}));
"""


def page_decode(driver, path):
    return driver.execute_async_script(DECODE, base64.b64encode(Path(path).read_bytes()).decode())


def test_window_zefa_decodes_as_zfconv_and_refuses_a_bomb_in_time(browser, samples, bomb):
    for name in ("rgb24_optimizing", "rgb15_fast", "pal8_none", "cut"):
        got = page_decode(browser, samples[name])
        picture = native(samples[name])[1]
        assert same_pixels(base64.b64decode(got["rgba"]), got["width"], got["height"], picture), name
    got = page_decode(browser, bomb)
    assert got["isError"] and "pixels allowed" in got["error"] and got["ms"] < 3000


def test_chosen_files_show_their_titles_and_save_as_png(browser, samples, downloads):
    files = browser.find_element(By.ID, "files")
    files.send_keys("\n".join(str(samples[n]) for n in ("texts", "rgb24_fast", "cut")))
    wait_for(browser, lambda d: len(d.find_elements(By.CSS_SELECTOR, "#strip button")) == 3)
    browser.find_elements(By.CSS_SELECTOR, "#strip button")[0].click()
    assert browser.find_element(By.ID, "picture-title").text == "日本の絵 ｶﾅ A\\x85B"
    browser.find_element(By.ID, "save-png").click()
    png = Image.open(downloaded(downloads, "texts.png"))
    native(samples["texts"])
    theirs = Image.open(samples["texts"].with_suffix(".native.png"))
    for key in ("Title", "Author", "Comment", "Software", "Creation Time", "ZEFA Number"):
        assert png.text[key] == theirs.text[key], key
    assert png.info.get("dpi") == theirs.info.get("dpi")
    assert png.convert("RGBA").tobytes() == theirs.convert("RGBA").tobytes()

    browser.find_elements(By.CSS_SELECTOR, "#strip button")[2].click()
    assert "line 27 of block 0" in browser.find_element(By.ID, "damage").text


def test_a_picture_becomes_a_zefa_file_zfconv_reads_back(browser, samples, downloads, tmp_path):
    source = tmp_path / "drawing.png"
    native(samples["pal8_none"])[1].convert("RGB").save(source)
    browser.find_element(By.ID, "picture").send_keys(str(source))
    browser.find_element(By.ID, "depth").send_keys("8")
    browser.find_element(By.ID, "title").send_keys("描いた絵")
    browser.find_element(By.CSS_SELECTOR, "#make button").click()
    made = downloaded(downloads, "drawing.ZF")
    info, back, _ = native(made)
    assert info["depth"] == 8 and info["title"] == "描いた絵"
    assert back.convert("RGB").tobytes() == Image.open(source).tobytes()
