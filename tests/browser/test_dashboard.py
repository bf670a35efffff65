"""The dashboard of `sysmon serve` in headless Chromium: what it shows matches
the server's documents, the process table sorts, filters and nests, hostile
process names stay text, and the page survives the server going away.

SYSMON_CLI names the built command, SYSMON_BROWSER_OUT the folder for the
screenshots (both set by ctest)."""
import base64
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

import pytest

SYSMON = os.environ["SYSMON_CLI"]
OUT = os.environ.get("SYSMON_BROWSER_OUT", tempfile.gettempdir())
CHROMIUM = shutil.which("chromium")
CHROMEDRIVER = shutil.which("chromedriver") or "/usr/lib/chromium/chromedriver"
try:
    from selenium import webdriver
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    webdriver = None
if webdriver is None or not CHROMIUM or not os.path.exists(CHROMEDRIVER):
    pytest.skip("no browser to drive (needs chromium, chromium-driver, python3-selenium)",
                allow_module_level=True)

CHARTS = ["cpu", "memory", "network", "disk", "gpu"]
TOKEN = f"sysmon-dashboard-test-{os.getpid()}"
HOSTILE_NAME = "<b id=x>y</b>"  # 13 characters: the kernel keeps it whole
HOSTILE_ARGS = ["<script>alert(1)</script>", '"><img src=x onerror=document.title=1>']
CHILD_CODE = ("import ctypes, time; "
              f"ctypes.CDLL(None).prctl(15, {HOSTILE_NAME.encode()!r}, 0, 0, 0); "
              "time.sleep(600)")


class Server:
    """`sysmon serve` on loopback: a free port, or `port` when restarting."""

    def __init__(self, port=0, extra=()):
        self.process = subprocess.Popen(
            [SYSMON, "serve", "--listen", f"127.0.0.1:{port}", *extra],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        line = self.process.stderr.readline().decode()
        match = re.search(r"127\.0\.0\.1:(\d+)", line)
        if not match:
            self.stop()
            raise RuntimeError(f"sysmon serve did not start: {line!r}")
        self.port = int(match.group(1))
        self.base = f"http://127.0.0.1:{self.port}/"

    def get(self, path, headers=None):
        request = urllib.request.Request(self.base + path, headers=headers or {})
        try:
            with urllib.request.urlopen(request, timeout=30) as response:
                return response.status, response.read()
        except urllib.error.HTTPError as error:
            return error.code, error.read()

    def json(self, path):
        status, body = self.get(path)
        assert status == 200, body
        return json.loads(body)

    def stop(self, sig=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(sig)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stderr.close()


def chromium():
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    profile = tempfile.mkdtemp(prefix="sysmon-chromium-")
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync",
                 f"--user-data-dir={profile}", "--window-size=1280,800"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.set_script_timeout(30)
    return driver, profile


@pytest.fixture(scope="module")
def child():
    """A child of the test whose name and command line carry HTML and script."""
    process = subprocess.Popen(["/usr/bin/python3", "-c", CHILD_CODE, TOKEN, *HOSTILE_ARGS])
    time.sleep(0.3)  # its name is set before the server's first sample
    yield process
    process.kill()
    process.wait()


@pytest.fixture(scope="module")
def server(child):
    srv = Server()
    yield srv
    srv.stop()


@pytest.fixture(scope="module")
def browser():
    driver, profile = chromium()
    yield driver
    driver.quit()
    shutil.rmtree(profile, ignore_errors=True)


def wait_for(predicate, timeout=20, step=0.1):
    """The first true value of predicate() within `timeout` seconds."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() > end:
            return value
        time.sleep(step)


def page_state(driver):
    """What the page shows, read in one go."""
    return driver.execute_script("""
      const charts = {};
      for (const canvas of document.querySelectorAll('#charts canvas')) {
        const ctx = canvas.getContext('2d');
        const pixels = ctx.getImageData(0, 0, canvas.width, canvas.height).data;
        let painted = 0;
        for (let i = 3; i < pixels.length; i += 4) if (pixels[i] !== 0) painted += 1;
        charts[canvas.id.replace('chart-', '')] = {
          points: Number(canvas.dataset.points), sequence: Number(canvas.dataset.sequence || 0),
          painted: painted};
      }
      const body = document.querySelector('#processes tbody');
      const rows = [...body.rows].map((row) => ({
        pid: Number(row.dataset.pid), depth: Number(row.dataset.depth),
        memory: Number(row.dataset.memory),
        indent: parseFloat(getComputedStyle(row.cells[1]).paddingLeft),
        name: row.cells[1].textContent, command: row.cells[8].textContent}));
      const holder = document.getElementById('charts');
      return {
        status: document.getElementById('status').dataset.state,
        bars: document.querySelectorAll('#cpu-bars .bar').length,
        charts: charts,
        historySequence: Number(holder.dataset.historySequence || 0),
        historyPoints: Number(holder.dataset.historyPoints || 0),
        tableSequence: Number(body.dataset.sequence || 0),
        rows: rows,
        count: document.getElementById('process-count').textContent,
      };""")


def loaded(driver):
    state = page_state(driver)
    if state["status"] == "online" and state["tableSequence"] > 0 and all(
            c["sequence"] > 0 for c in state["charts"].values()):
        return state
    return None


def matching_sample(driver, server):
    """The page's state and the server's api/live document of the same sample."""
    for _ in range(20):
        live = server.json("api/live")
        shown = wait_for(lambda: driver.execute_script(
            "return Number(document.querySelector('#processes tbody').dataset.sequence)")
            >= live["sequence"], timeout=10, step=0.05)
        state = page_state(driver)
        if shown and state["tableSequence"] == live["sequence"]:
            return state, live
    raise AssertionError("the page never showed the server's latest sample")


def test_page_matches_the_documents(server, browser):
    before = len(server.json("api/history?metric=cpu&count=300"))
    browser.get(server.base)
    state = wait_for(lambda: loaded(browser))
    assert state, page_state(browser)
    after = len(server.json("api/history?metric=cpu&count=300"))

    # Every chart holds the history read at opening plus the samples since.
    assert before <= state["historyPoints"] <= after
    for name in CHARTS:
        chart = state["charts"][name]
        expected = min(300, state["historyPoints"] + chart["sequence"] - state["historySequence"])
        assert chart["points"] == expected, (name, chart, state["historyPoints"])
        assert chart["painted"] > 0, name

    errors = [e for e in browser.get_log("browser") if e["level"] == "SEVERE"]
    assert errors == []

    state, live = matching_sample(browser, server)
    assert state["bars"] == live["cpu"]["threads"]
    assert len(state["rows"]) == len(live["processes"])
    assert state["count"] == f"{len(live['processes'])} processes"


def test_charts_move_on_by_one_sample_per_interval(server, browser):
    first = wait_for(lambda: loaded(browser))
    start = first["charts"]["cpu"]["sequence"]
    later = wait_for(lambda: (lambda s: s if s["charts"]["cpu"]["sequence"] >= start + 2 else None)(
        page_state(browser)), timeout=30, step=0.05)
    assert later, "the charts did not move on within 30 s"
    for name in CHARTS:
        before, after = first["charts"][name], later["charts"][name]
        assert after["sequence"] - before["sequence"] == later["charts"]["cpu"]["sequence"] - start
        assert after["points"] == min(300, before["points"] + after["sequence"] - before["sequence"])


def test_process_table_sorts_filters_and_nests(server, browser, child):
    wait_for(lambda: loaded(browser))
    browser.find_element(By.CSS_SELECTOR, '#processes th[data-key="memory"] button').click()
    memory = [row["memory"] for row in page_state(browser)["rows"]]
    assert len(memory) > 1 and memory == sorted(memory, reverse=True)
    assert browser.find_element(By.CSS_SELECTOR, '#processes th[data-key="memory"]') \
        .get_attribute("aria-sort") == "descending"

    search = browser.find_element(By.CSS_SELECTOR, 'input[type="search"]#filter')
    search.send_keys(TOKEN)
    rows = page_state(browser)["rows"]
    assert [row["pid"] for row in rows] == [child.pid]
    assert page_state(browser)["count"].startswith("1 of ")
    search.clear()
    search.send_keys(" ")  # clear() sends no input event; a blank filter is none
    assert len(page_state(browser)["rows"]) > 1

    browser.find_element(By.ID, "tree-toggle").click()
    rows = page_state(browser)["rows"]
    pids = [row["pid"] for row in rows]
    parent, me = pids.index(os.getpid()), pids.index(child.pid)
    assert parent < me
    # Everything between the test and its child belongs to the test's subtree.
    assert all(row["depth"] > rows[parent]["depth"] for row in rows[parent + 1:me + 1])
    assert rows[me]["depth"] == rows[parent]["depth"] + 1
    assert rows[me]["indent"] > rows[parent]["indent"]
    browser.find_element(By.ID, "tree-toggle").click()


def test_hostile_names_are_text(server, browser, child):
    wait_for(lambda: loaded(browser))
    state, live = matching_sample(browser, server)
    mine = next(p for p in live["processes"] if p["pid"] == child.pid)
    row = next(r for r in state["rows"] if r["pid"] == child.pid)
    assert HOSTILE_NAME in mine["name"] and HOSTILE_ARGS[0] in mine["command"]
    assert row["name"] == mine["name"] and row["command"] == mine["command"]
    injected = browser.execute_script(
        "return document.querySelectorAll('#x, main img, main script').length")
    assert injected == 0
    assert browser.title.startswith("sysmon")
    with pytest.raises(NoAlertPresentException):
        browser.switch_to.alert.text


def set_hidden(driver, hidden):
    """The tab hidden or shown as the browser tells it (headless Chromium keeps
    every tab visible, so the signal is emulated)."""
    driver.execute_script("""
      Object.defineProperty(document, 'hidden', {configurable: true, get: () => arguments[0]});
      document.dispatchEvent(new Event('visibilitychange'));""", hidden)


def test_pauses_while_hidden(server, browser):
    wait_for(lambda: loaded(browser))
    set_hidden(browser, True)
    time.sleep(1.5)  # a request already under way may still land
    paused = page_state(browser)["tableSequence"]
    time.sleep(3.5)
    assert page_state(browser)["tableSequence"] == paused
    set_hidden(browser, False)
    assert wait_for(lambda: page_state(browser)["tableSequence"] > paused, timeout=10)


def test_screenshots(server, browser):
    """The page at desktop and phone size, saved for a person to look at."""
    wait_for(lambda: loaded(browser))
    for name, width, height, mobile in (("dashboard-1280x800", 1280, 800, False),
                                        ("dashboard-390", 390, 844, True)):
        browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile})
        browser.execute_script("window.scrollTo(0, 0)")
        time.sleep(1)
        # Only the tables scroll sideways, never the page.
        assert browser.execute_script("return document.documentElement.scrollWidth") <= width
        for suffix, full in (("", False), ("-full", True)):
            shot = browser.execute_cdp_cmd("Page.captureScreenshot",
                                           {"format": "png", "captureBeyondViewport": full})
            with open(os.path.join(OUT, f"{name}{suffix}.png"), "wb") as out:
                out.write(base64.b64decode(shot["data"]))
    browser.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


def test_server_gone_and_back(child):
    srv = Server()
    driver, profile = chromium()
    try:
        driver.get(srv.base)
        # Long enough a history that the new server's is shorter.
        old = wait_for(lambda: (lambda s: s if s and s["charts"]["cpu"]["points"] >= 15 else None)(
            loaded(driver)), timeout=60)
        assert old
        srv.stop(signal.SIGKILL)
        assert wait_for(lambda: page_state(driver)["status"] == "offline", timeout=20)
        text = driver.find_element(By.ID, "status").text
        assert "cannot be reached" in text
        srv = Server(port=srv.port)
        back = wait_for(lambda: loaded(driver), timeout=30)
        assert back, page_state(driver)
        # The page follows the new server: its samples, and its histories
        # read again rather than the old ones extended.
        def follows():
            state, live = matching_sample(driver, srv)
            held = len(srv.json("api/history?metric=cpu&count=300"))
            chart = state["charts"]["cpu"]
            return (state, live) if chart["sequence"] == live["sequence"] and \
                chart["points"] <= held <= old["charts"]["cpu"]["points"] else None
        found = wait_for(follows, timeout=20)
        assert found, page_state(driver)
        state, live = found
        assert len(state["rows"]) == len(live["processes"])
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)
        srv.stop()


def test_under_a_path_prefix(server, browser):
    """Behind a reverse proxy that serves it under /sysmon/, the page finds
    its script, style sheet and documents by relative addresses."""
    import http.server
    import threading

    class Proxy(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            if not self.path.startswith("/sysmon/"):
                self.send_error(404)
                return
            status, body = server.get(self.path[len("/sysmon/"):])
            self.send_response(status)
            self.send_header("Content-Length", str(len(body)))
            if self.path.endswith(".js"):
                self.send_header("Content-Type", "text/javascript")
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    proxy = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Proxy)
    threading.Thread(target=proxy.serve_forever, daemon=True).start()
    try:
        browser.get(f"http://127.0.0.1:{proxy.server_address[1]}/sysmon/")
        assert wait_for(lambda: loaded(browser)), page_state(browser)
    finally:
        proxy.shutdown()
        browser.get(server.base)


def web_config_supported():
    done = subprocess.run([SYSMON, "serve", "--help"], capture_output=True, text=True, timeout=30)
    return "--web.config.file" in done.stdout + done.stderr


@pytest.mark.skipif(not web_config_supported(),
                    reason="sysmon serve has no --web.config.file (web configuration not built)")
def test_behind_basic_authentication(child, tmp_path):
    import bcrypt
    password = "dashboard-secret"
    hashed = bcrypt.hashpw(password.encode(), bcrypt.gensalt(rounds=4)).decode()
    config = tmp_path / "web.yml"
    config.write_text(f"basic_auth_users:\n  viewer: '{hashed}'\n")
    srv = Server(extra=("--web.config.file", str(config)))
    driver, profile = chromium()
    try:
        assert srv.get("")[0] == 401
        assert srv.get("api/live")[0] == 401
        token = base64.b64encode(f"viewer:{password}".encode()).decode()
        assert srv.get("api/live", {"Authorization": f"Basic {token}"})[0] == 200
        driver.execute_cdp_cmd("Network.enable", {})
        driver.execute_cdp_cmd("Network.setExtraHTTPHeaders",
                               {"headers": {"Authorization": f"Basic {token}"}})
        driver.get(srv.base)
        assert wait_for(lambda: loaded(driver)), page_state(driver)
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)
        srv.stop()
