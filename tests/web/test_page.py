"""The web page in headless Chromium over a server on 127.0.0.1: files chosen
through the page's own input show their titles; the PNG it saves has zfconv's pixels
and texts; the ZEFA file its form makes reads back in zfconv."""

import functools
import http.server
import os
import threading

import pytest
from PIL import Image

from conftest import SITE, native

webdriver = pytest.importorskip("selenium.webdriver", reason="python3-selenium is not installed")
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


@pytest.fixture(scope="module")
def downloads(tmp_path_factory):
    return tmp_path_factory.mktemp("downloads")


@pytest.fixture(scope="module")
def page(downloads, tmp_path_factory):
    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=SITE))
    threading.Thread(target=httpd.serve_forever, daemon=True).start()
    options = webdriver.ChromeOptions()
    options.binary_location = os.environ.get("CHROMIUM", "/usr/bin/chromium")
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--user-data-dir=%s" % tmp_path_factory.mktemp("profile")):
        options.add_argument(flag)
    options.add_experimental_option("prefs", {"download.default_directory": str(downloads)})
    driver = webdriver.Chrome(service=Service(os.environ.get("CHROMEDRIVER", "/usr/bin/chromedriver")), options=options)
    driver.set_script_timeout(30)
    driver.get("http://127.0.0.1:%d/" % httpd.server_address[1])
    yield driver
    driver.quit()
    httpd.shutdown()
    httpd.server_close()


def wait_for(check):
    return WebDriverWait(None, 10).until(lambda _: check())


def downloaded(folder, name):
    wait_for(lambda: (folder / name).exists() and (folder / name).stat().st_size > 0)
    return folder / name


def test_chosen_files_show_their_titles_and_save_as_png(page, samples, downloads):
    page.find_element(By.ID, "files").send_keys("\n".join(str(samples[n]) for n in ("texts", "rgb24_fast", "cut")))
    thumbnails = wait_for(lambda: len(page.find_elements(By.CSS_SELECTOR, "#strip button")) == 3 and
                          page.find_elements(By.CSS_SELECTOR, "#strip button"))
    thumbnails[0].click()
    assert page.find_element(By.ID, "picture-title").text == "日本の絵 ｶﾅ A\\x85B"
    page.find_element(By.ID, "save-png").click()
    png, theirs = Image.open(downloaded(downloads, "texts.png")), Image.open(native(samples["texts"])[2])
    assert png.text == theirs.text and png.info.get("aspect") == theirs.info.get("aspect")
    assert png.convert("RGBA").tobytes() == theirs.convert("RGBA").tobytes()
    thumbnails[2].click()
    assert "line 27 of block 0" in page.find_element(By.ID, "damage").text


def test_a_picture_becomes_a_zefa_file_zfconv_reads_back(page, samples, downloads, tmp_path):
    source = tmp_path / "drawing.png"
    native(samples["pal8_none"])[1].convert("RGB").save(source)
    page.find_element(By.ID, "picture").send_keys(str(source))
    page.find_element(By.ID, "depth").send_keys("8")
    page.find_element(By.ID, "title").send_keys("描いた絵")
    page.find_element(By.CSS_SELECTOR, "#make button").click()
    info, back = native(downloaded(downloads, "drawing.ZF"))[:2]
    assert info["depth"] == 8 and info["title"] == "描いた絵"
    assert back.convert("RGB").tobytes() == Image.open(source).tobytes()
