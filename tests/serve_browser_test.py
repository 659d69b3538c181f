#!/usr/bin/python3
# The live panel in a real browser: headless Chromium, driven through chromedriver, flies
# the real .gau files through `kestrel-bench serve` and checks what the page shows; then
# the recorded sessions replay green with `kestrel-bench run`, and the server's guards hold.
import argparse
import json
import math
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.select import Select

sys.dont_write_bytecode = True  # the shared module is read from the source tree, which a test must not write
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serve_support import Server, fail, wait_for  # noqa: E402

LAPTOP = (1366, 768)
WIDE = (2400, 1100)


class Page:
    def __init__(self, driver, server):
        self.driver = driver
        self.server = server
        driver.get(server.page_url)
        wait_for(lambda: driver.execute_script(
            "const i = document.querySelector('#gauge-0 img'); return i && i.complete && i.naturalWidth > 0;"),
            "the first frame")

    def updates(self):
        return int(self.driver.find_element(By.ID, "updates").text)

    def status(self):
        return self.driver.find_element(By.ID, "status").text

    def notice(self):
        return self.driver.find_element(By.ID, "notice").text

    def scale(self):
        return int(self.driver.find_element(By.ID, "scale").get_attribute("value"))

    def step(self, count=1):
        for _ in range(count):
            before = self.updates()
            self.driver.find_element(By.ID, "step").click()
            wait_for(lambda: self.updates() == before + 1, "update %d" % (before + 1))
        self.settle()

    def settle(self):
        # The page polls at the update rate: wait until every picture shows the last state.
        time.sleep(0.4)
        wait_for(lambda: self.driver.execute_script(
            "return [...document.querySelectorAll('.picture img')].every((i) => i.complete && i.naturalWidth > 0);"),
            "the pictures to load")

    def readouts(self, gauge):
        text = self.driver.find_element(By.ID, "readouts-%d" % gauge).get_attribute("textContent")
        return dict(re.findall(r"^(\S+) \u201c(.*)\u201d$", text, re.M))

    def image(self, gauge):
        return self.driver.find_element(By.CSS_SELECTOR, "#gauge-%d img" % gauge)

    def at(self, gauge, x, y):
        image = self.image(gauge)
        size = image.size
        shown = size["width"] / (int(image.get_attribute("naturalWidth")) / self.scale())  # page pixels per gauge pixel
        # Offsets count from the element's centre, in whole page pixels: aim at the middle of
        # the gauge pixel, rounding down on either side of the centre.
        return ActionChains(self.driver).move_to_element_with_offset(
            image, math.floor((x + 0.5) * shown - size["width"] / 2), math.floor((y + 0.5) * shown - size["height"] / 2))

    def pointer_tip(self, gauge, x, y):
        """What the tooltip beside the pointer says over gauge pixel (x, y)."""
        self.at(gauge, x, y).perform()
        return wait_for(lambda: (lambda tip: tip.is_displayed() and "(%d, %d)" % (x, y) in tip.text and tip.text)(
            self.driver.find_element(By.ID, "pointer-tip")), "the tooltip at (%d, %d)" % (x, y), 30)

    def click(self, gauge, x, y, shift=False):
        before = len(self.log())
        chain = self.at(gauge, x, y)
        if shift:
            chain = chain.key_down(Keys.SHIFT).click().key_up(Keys.SHIFT)
        else:
            chain = chain.click()
        chain.perform()
        self.settle()
        return before

    def set_variable(self, token, typed, reads=None):
        """Types a value into the variable's row; it must then read back as `reads` (as typed unless given)."""
        reads = reads or typed
        row = wait_for(lambda: self.driver.find_elements(By.CSS_SELECTOR, "#vars tr[data-token='%d'] input" % token),
                       "the variable %d" % token)[0]
        # Focused, the field keeps what is typed; the page's polls no longer fill it.
        row.click()
        row.send_keys(Keys.CONTROL, "a")
        row.send_keys(typed, Keys.ENTER)
        try:
            wait_for(lambda: row.get_attribute("value") == reads and self.variable(token) == reads,
                     "the variable %d to read %s" % (token, reads), 30)
        except AssertionError:
            fail("the variable %d reads %r in the page and %r in the state; the page says %r" % (
                token, row.get_attribute("value"), self.variable(token), self.driver.find_element(By.ID, "error").text))

    def variable(self, token):
        state = json.loads(self.server.request("GET", "/api/state")[2])
        for entry in state["vars"]:
            if entry["token"] == token:
                return entry["value"]
        return None

    def log(self):
        return [item.text for item in self.driver.find_elements(By.CSS_SELECTOR, "#log li")]

    def picture_digest(self, gauge):
        self.settle()
        return self.driver.execute_script("""
            const image = document.querySelector('#gauge-' + arguments[0] + ' img');
            const canvas = document.createElement('canvas');
            canvas.width = image.naturalWidth; canvas.height = image.naturalHeight;
            const context = canvas.getContext('2d');
            context.drawImage(image, 0, 0);
            const data = context.getImageData(0, 0, canvas.width, canvas.height).data;
            let sum = 0, lit = 0;
            for (let i = 0; i < data.length; i += 4) {
              sum = (sum * 31 + data[i] * 7 + data[i + 1] * 3 + data[i + 2]) % 1000000007;
              if (data[i] + data[i + 1] + data[i + 2] > 0) lit++;
            }
            return [sum, lit];""", gauge)

    def record(self, gauge):
        Select(self.driver.find_element(By.ID, "record-gauge")).select_by_value(str(gauge))
        self.driver.find_element(By.ID, "record").click()
        text = wait_for(lambda: self.driver.find_element(By.ID, "record-file").text, "the recorded file")
        path = text.removeprefix("written to ")
        if not os.path.isfile(path):
            fail("the page names a recording that is not there: " + text)
        return path

    def wrapped_controls(self):
        """The shown buttons and counters whose words take more than one line: taller than Play."""
        heights = self.driver.execute_script(
            "return [...document.querySelectorAll('button, .counter')].filter((b) => !b.hidden && b.getClientRects().length)"
            ".map((b) => [b.textContent.trim(), b.getBoundingClientRect().height]);")
        if not heights or heights[0][0] != "Play":
            fail("the controls were not found: %r" % heights)
        return [name for name, height in heights if height > heights[0][1] * 1.5]

    def outside_window(self, selector, vertical):
        """The shown elements matching selector that lie, even in part, beyond the window's
        sides (and, when vertical, beyond its top or bottom)."""
        return self.driver.execute_script("""
            const [selector, vertical] = arguments;
            return [...document.querySelectorAll(selector)].filter((e) => !e.hidden && e.getClientRects().length)
              .map((e) => [e.id || e.textContent.trim() || e.tagName, e.getBoundingClientRect()])
              .filter(([, r]) => r.left < 0 || r.right > window.innerWidth ||
                                 (vertical && (r.top < 0 || r.bottom > window.innerHeight)))
              .map(([name, r]) => name + ' at ' + [r.left, r.top, r.right, r.bottom].map(Math.round).join(','));""",
                                          selector, vertical)


def check_index_names(text):
    """A recorded scenario names elements by drawing-order index, [N], never by tree path."""
    named = re.findall(r"^expect (?:text|value) (\S+) ", text, re.M)
    if not named:
        fail("the recording has no expectation on an element:\n" + text)
    paths = [name for name in named if not re.fullmatch(r"\[\d+\]", name)]
    if paths:
        fail("the recording names elements by tree path: %r" % sorted(set(paths)))


def replay(args, scenario, out):
    result = subprocess.run(
        [args.bench, "run", "--native-gau", "--host", args.host, "--modules", args.gau_dir, "--gau-dir", args.gau_dir,
         "--out", out, scenario], capture_output=True, text=True, timeout=900)
    sys.stdout.write(result.stdout + result.stderr)
    if result.returncode != 0 or "1 passed, 0 failed" not in result.stdout:
        fail("the recorded session %s does not replay green" % scenario)
    with open(scenario) as file:
        text = file.read()
    return text


def clock_session(args, driver, work):
    driver.set_window_size(*WIDE)
    server = Server(args, "KESTREL_TIMER.gau", os.path.join(work, "clock"), "--scale", "2")
    try:
        page = Page(driver, server)
        title = driver.find_element(By.ID, "module").text
        assert title == "KESTREL_TIMER.gau", "the page is titled %r, not by the file the host runs" % title
        assert page.scale() == 2, "--scale 2 gave the page scale %d" % page.scale()
        page.step()  # the clock looks its variables up on its first update
        token_cell = wait_for(lambda: driver.find_elements(By.CSS_SELECTOR, "#vars tr[data-token='336'] td"),
                              "the chronometer variable's row")[0].text
        assert token_cell == "336 (0x150)", "the token shows as %r, not in decimal with hex beside" % token_cell
        page.set_variable(336, "1")
        # A click while paused reaches the module at once and shows after one Step.
        unchanged = page.picture_digest(0)
        page.click(0, 5, 85)  # the mode lever: chronometer pages
        wait_for(lambda: page.notice() == "sent; Step or Play to see it", "the note that the click waits for a Step", 10)
        assert page.picture_digest(0) == unchanged, "the paused gauge changed before the Step"
        page.step()
        assert page.picture_digest(0) != unchanged, "one Step after the click drew nothing new"
        assert page.notice() == "", "the note stays after the Step: %r" % page.notice()
        before = page.readouts(0)
        assert before.get("0.1.0") == "00:00", "the stopwatch read-out shows %r" % before
        # The knob's tooltip names its cursor.
        tip = page.pointer_tip(0, 10, 10)
        assert "cursor 4" in tip, "hovering the knob shows " + tip
        page.click(0, 10, 10)  # the knob: start
        start = page.updates()
        driver.find_element(By.ID, "play").click()
        wait_for(lambda: page.readouts(0).get("0.1.0") not in (None, "00:00"), "the stopwatch to count")
        assert page.notice() == "", "the paused-click note shows while playing"
        driver.find_element(By.ID, "pause").click()
        wait_for(lambda: page.status() == "paused", "the pause")
        page.settle()
        running = page.readouts(0)["0.1.0"]
        assert page.updates() >= start + 18, "the stopwatch moved within %d updates" % (page.updates() - start)
        print("clock: the knob started the stopwatch, which shows %s after %d updates" % (running, page.updates()))
        scenario = page.record(0)
        text = replay(args, scenario, os.path.join(work, "clock-replay"))
        # The stopwatch read-out, 0.1.0 in the tree, is fourth in the drawing order.
        assert 'expect text [3] "00:00"' in text and "click 10 10" in text and "set 336 1" in text, text
        check_index_names(text)
        # A host killed while the panel waits is shown at once, with its signal and the last
        # command it finished, without another command to find it.
        os.kill(server.host_pid(), signal.SIGKILL)
        killed = time.time()
        wait_for(lambda: "host stopped" in page.status(), "the stop to show", 10)
        noticed = time.time() - killed
        status = page.status()
        assert "signal 9" in status and "the last command it finished was 'update" in status, status
        assert driver.find_element(By.ID, "restart").is_displayed(), "no Restart offered"
        assert noticed < 1.0, "the page said so %.2f s after the kill" % noticed
        print("clock: the page showed the killed host %.3f s after the kill: %s" % (noticed, status))
        driver.find_element(By.ID, "restart").click()
        wait_for(lambda: page.status() == "paused", "the restart", 300)
        assert page.updates() == 0
        # A host that stops answering shows as waiting within a second, and Restart ends it.
        os.kill(server.host_pid(), signal.SIGSTOP)
        driver.find_element(By.ID, "step").click()
        stepped = time.time()
        wait_for(lambda: "waiting for the host: no answer to 'update 1'" in page.status(), "the wait to show", 10)
        waited = time.time() - stepped
        assert waited < 1.0, "the unanswered Step showed after %.2f s" % waited
        assert driver.find_element(By.ID, "restart").is_displayed(), "no Restart offered for the hung host"
        driver.find_element(By.ID, "restart").click()
        wait_for(lambda: page.status() == "paused", "the second restart", 300)
        print("clock: an unanswered Step showed after %.2f s, and Restart started the host afresh" % waited)
        return noticed
    finally:
        server.stop()


def ap_session(args, driver, work):
    driver.set_window_size(*WIDE)
    server = Server(args, "KESTREL.GAU", os.path.join(work, "ap"))
    try:
        page = Page(driver, server)
        names = [element.text for element in driver.find_elements(By.CSS_SELECTOR, ".gauge > b")]
        assert names == ["AP", "AUTOBRAKE"], "the page shows the gauges %r" % names
        assert page.scale() == 2, "at %dx%d AP (804 pixels) fits at scale 2, the page chose %d" % (*WIDE, page.scale())
        driver.find_element(By.ID, "service-id").send_keys("0xE", Keys.ENTER)  # 14, as a scenario may write it
        wait_for(lambda: any("service" in line for line in page.log()) or page.variable(109) is not None,
                 "the gauge callback", 30)
        page.set_variable(109, "0x2710", "10000")  # a value in hexadecimal, as a scenario may write it
        page.step(10)
        # The disconnect switch's tooltip, stored in Windows-1252, with the byte it begins with.
        tip = page.pointer_tip(0, 480, 88)
        assert "tooltip: \u00c2utopilot Disconnect Switch" in tip, "hovering the switch shows " + tip
        assert "Windows-1252: the stored text begins with byte 0xC2" in tip, "the stored byte is not named: " + tip
        assert driver.find_element(By.CSS_SELECTOR, "#gauge-0 .outline").is_displayed()
        # A host variable lights the panel: the picture stays put without it and changes with it.
        steady = page.picture_digest(0)
        page.step()
        assert page.picture_digest(0) == steady, "the panel changes on its own"
        page.set_variable(103, "1")
        page.step(2)
        lit = page.picture_digest(0)
        assert lit != steady, "setting 103 changed nothing on the panel"
        print("AP: tooltip %r; the autopilot variable changed the lights (%d -> %d lit pixels)" % (tip, steady[1], lit[1]))
        # The altitude knob: a plain click steps, a Shift click takes the coarse step.
        altitude = lambda: int(page.readouts(0)["0.0.0"])
        first = altitude()
        page.click(0, 713, 76)
        page.step()
        fine = altitude()
        page.click(0, 713, 76, shift=True)
        page.step()
        coarse = altitude()
        assert fine > first and coarse - fine > fine - first, "altitude %d, %d, %d" % (first, fine, coarse)
        print("AP: altitude window %d -> %d (plain click) -> %d (Shift click)" % (first, fine, coarse))
        scenario = page.record(0)
        text = replay(args, scenario, os.path.join(work, "ap-replay"))
        # The altitude window, 0.0.0 in the chain of AP's elements, is third in the drawing order.
        assert "click 713 76 0x80000000" in text and "expect text [2]" in text and "set 109 10000" in text, text
        check_index_names(text)
        print("AP: the recorded session replays green")
    finally:
        server.stop()


EXAMPLE_PANEL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "panel", "panel.cfg")


def panel_session(args, driver, work):
    """The example panel file live: a tab per window, tooltips and clicks at window
    coordinates, the knob of the AUTOBRAKE drawn wider than its own picture."""
    driver.set_window_size(*WIDE)
    server = Server(args, None, os.path.join(work, "panel"), "--panel", EXAMPLE_PANEL, "--scale", "1")
    try:
        page = Page(driver, server)
        tabs = [element.text for element in driver.find_elements(By.CSS_SELECTOR, "#tabs button")]
        assert tabs == ["00 Main Panel", "01 Clock"], "the tabs are %r" % tabs
        assert page.image(0).is_displayed() and not page.image(1).is_displayed(), "the first window is not shown alone"
        page.step(2)
        # AP sits at (8, 28) at its own width: its disconnect switch, at AP's (480, 88).
        tip = page.pointer_tip(0, 488, 116)
        assert "KESTREL!AP" in tip and "tooltip: \u00c2utopilot Disconnect Switch" in tip, "over the switch: " + tip
        # AUTOBRAKE at (840, 28), 110 units wide from its 73 pixels: the knob's lowering half.
        before = len(page.log())
        page.click(0, 895, 211)
        page.step()
        sent = wait_for(lambda: [line for line in page.log()[before:] if "KESTREL!AUTOBRAKE sent 0x102FB" in line],
                        "the knob's key event in the log", 30)
        print("panel: %s; tooltip %r" % (sent[0], tip))
        assert page.readouts(0).get("KESTREL_TIMER!Digital_Clock:[2]") is not None, page.readouts(0)
        driver.find_element(By.ID, "tab-1").click()
        wait_for(lambda: page.image(1).is_displayed() and not page.image(0).is_displayed(), "the Clock tab")
        scenario = page.record(0)
        text = replay(args, scenario, os.path.join(work, "panel-replay"))
        assert "panel " in text and "window 0" in text and "click 895 211 0x20000000" in text, text
        assert "expect keys 0x102FB=0" in text and "KESTREL!AP:[" in text, text
        print("panel: the recorded window replays green")
    finally:
        server.stop()


# In view at once: the header's controls and the tooltip; beside them, within the width:
# the side column's fields.
IN_VIEW = "header button, header select, header .counter, #status, #pointer-tip"
WITHIN_WIDTH = "aside button, aside input, aside select, #gauges"


def laptop_session(args, driver, work):
    """At 1366x768 the gauges, the tooltip and the controls are in view without scrolling sideways."""
    driver.set_window_size(*LAPTOP)
    server = Server(args, "KESTREL.GAU", os.path.join(work, "laptop"))
    try:
        page = Page(driver, server)
        inner = driver.execute_script("return [window.innerWidth, window.innerHeight];")
        assert inner[0] == LAPTOP[0], "the window is %r wide, not %d" % (inner, LAPTOP[0])
        assert page.scale() == 1, "AP (804 pixels) fits only at scale 1 at 1366 wide; the page chose %d" % page.scale()
        page.step()
        width = driver.execute_script("return document.documentElement.scrollWidth;")
        assert width <= inner[0], "the page is %d pixels wide in a window %d wide" % (width, inner[0])
        for gauge in (0, 1):
            box = page.image(gauge).rect
            assert box["x"] >= 0 and box["x"] + box["width"] <= inner[0], "gauge %d lies at %r" % (gauge, box)
        wrapped = page.wrapped_controls()
        assert not wrapped, "these wrap onto two lines: %r" % wrapped
        # The tooltip beside the pointer stays inside the window, even at the right-hand knobs.
        gauge_width = json.loads(server.request("GET", "/api/info")[2])["gauges"][0]["width"]
        for x, y in [(713, 76), (gauge_width - 3, 60), (480, 88)]:
            tip = page.pointer_tip(0, x, y)
            outside = page.outside_window(IN_VIEW, True) + page.outside_window(WITHIN_WIDTH, False)
            assert not outside, "pointing at (%d, %d) leaves these beyond the window: %r (tooltip %r)" % (x, y, outside, tip)
        tip = page.pointer_tip(0, 480, 88)
        assert "byte 0xC2" in tip, tip
        if args.screenshot:  # the README's picture of the panel on a laptop
            time.sleep(0.5)
            driver.save_screenshot(args.screenshot)
        # Stopped, the reason and Restart stay inside the window too.
        os.kill(server.host_pid(), signal.SIGKILL)
        wait_for(lambda: "host stopped" in page.status(), "the stop to show", 10)
        outside = page.outside_window(IN_VIEW, True) + page.outside_window(WITHIN_WIDTH, False)
        assert not outside, "with the host stopped these lie beyond the window: %r" % outside
        assert driver.find_element(By.ID, "restart").is_displayed(), "no Restart offered"
        wrapped = page.wrapped_controls()
        assert not wrapped, "with the host stopped these wrap onto two lines: %r" % wrapped
        width = driver.execute_script("return document.documentElement.scrollWidth;")
        assert width <= inner[0], "stopped, the page is %d pixels wide" % width
        driver.find_element(By.ID, "restart").click()
        wait_for(lambda: page.status() == "paused", "the restart", 300)
        # The page picks again when the window changes size, until the user chooses.
        driver.set_window_size(*WIDE)
        wait_for(lambda: page.scale() == 2, "scale 2 in the wide window", 30)
        driver.set_window_size(*LAPTOP)
        wait_for(lambda: page.scale() == 1, "scale 1 back in the laptop's window", 30)
        # A scale the user chooses may be wider than the room: the gauges scroll, the page does not.
        Select(driver.find_element(By.ID, "scale")).select_by_value("2")
        wait_for(lambda: page.image(0).size["width"] == 2 * gauge_width, "the picture at scale 2", 30)
        page.settle()
        assert int(page.image(0).get_attribute("naturalWidth")) == 2 * gauge_width, "the frame was not drawn at scale 2"
        chosen_width = driver.execute_script("return document.documentElement.scrollWidth;")
        assert chosen_width <= inner[0], "at the chosen scale 2 the page is %d pixels wide" % chosen_width
        print("laptop: at %dx%d the page is %d pixels wide (scale 1 chosen: AP %d pixels); the tooltip, buttons and "
              "controls lie inside the window; scale 2 on request scrolls the gauges only" % (
                  *LAPTOP, width, gauge_width))
        return width
    finally:
        server.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", required=True)
    parser.add_argument("--host", required=True)
    parser.add_argument("--gau-dir", required=True)
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    parser.add_argument("--chromedriver", default="/usr/bin/chromedriver")
    parser.add_argument("--screenshot")
    args = parser.parse_args()
    # Everything the test writes, the browser's profile among it, lies in one folder that
    # goes whether the test passes or fails.
    work = tempfile.mkdtemp(prefix="kestrel-serve-")
    try:
        options = webdriver.ChromeOptions()
        options.binary_location = args.chromium
        for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage",
                     "--user-data-dir=" + os.path.join(work, "profile"), "--window-size=%d,%d" % WIDE]:
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service(args.chromedriver), options=options)
        try:
            noticed = clock_session(args, driver, work)
            ap_session(args, driver, work)
            panel_session(args, driver, work)
            width = laptop_session(args, driver, work)
        finally:
            driver.quit()
    finally:
        shutil.rmtree(work, ignore_errors=True)
        if os.path.exists(work):
            print("serve_browser_test: could not remove " + work)
    print("serve_browser_test: figures: the page showed a killed host after %.3f s; at %dx%d it is %d pixels wide"
          % (noticed, *LAPTOP, width))
    print("serve_browser_test: passed")


if __name__ == "__main__":
    main()
