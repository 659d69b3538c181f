#!/usr/bin/python3
# The live panel in a real browser: headless Chromium, driven through chromedriver, flies
# the real .gau files through `kestrel-bench serve` and checks what the page shows; then
# the recorded sessions replay green with `kestrel-bench run`, and the server's guards hold.
import argparse
import http.client
import json
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

SCALE = 2


def fail(message):
    raise AssertionError(message)


def wait_for(condition, what, timeout=120):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    fail("timed out waiting for " + what)


class Server:
    """One `kestrel-bench serve` process, stopped by its own process id."""

    def __init__(self, args, module, out):
        self.out = out
        self.process = subprocess.Popen(
            [args.bench, "serve", "--native-gau", "--timeout", "8", "--host", args.host, "--gau-dir", args.gau_dir, "--out", out,
             "--scale", str(SCALE), "--port", "0", os.path.join(args.gau_dir, module)],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        deadline = time.time() + 300
        for line in self.process.stdout:
            sys.stdout.write("serve: " + line)
            found = re.search(r"is at (http://127\.0\.0\.1:(\d+)/)", line)
            if found:
                self.url, self.port = found.group(1), int(found.group(2))
                return
            if time.time() > deadline:
                break
        self.stop()
        fail("the server printed no address")

    def request(self, method, path, body=None, host=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        headers = {"Host": host or "127.0.0.1:%d" % self.port, "Content-Type": "application/json"}
        connection.request(method, path, body=body, headers=headers)
        response = connection.getresponse()
        data = response.read()
        connection.close()
        return response.status, data

    def host_pid(self):
        # Whichever thread of the server started the host is its parent.
        pids = []
        for task in os.listdir("/proc/%d/task" % self.process.pid):
            try:
                with open("/proc/%d/task/%s/children" % (self.process.pid, task)) as children:
                    pids += children.read().split()
            except FileNotFoundError:
                pass
        if len(pids) != 1:
            fail("expected one host process under the server, found %r" % pids)
        return int(pids[0])

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class Page:
    def __init__(self, driver, server):
        self.driver = driver
        self.server = server
        driver.get(server.url)
        wait_for(lambda: driver.execute_script(
            "const i = document.querySelector('#gauge-0 img'); return i && i.complete && i.naturalWidth > 0;"),
            "the first frame")

    def updates(self):
        return int(self.driver.find_element(By.ID, "updates").text)

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
        shown = size["width"] / (int(image.get_attribute("naturalWidth")) / SCALE)  # page pixels per gauge pixel
        # Offsets count from the element's centre; aim at the middle of the gauge pixel.
        return ActionChains(self.driver).move_to_element_with_offset(
            image, int((x + 0.5) * shown - size["width"] / 2), int((y + 0.5) * shown - size["height"] / 2))

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

    def set_variable(self, token, value):
        row = wait_for(lambda: self.driver.find_elements(By.CSS_SELECTOR, "#vars tr[data-token='%s'] input" % token),
                       "the variable " + token)[0]
        row.clear()
        row.send_keys(value, Keys.ENTER)
        wait_for(lambda: row.get_attribute("value") == value and self.variable(token) == value,
                 "the variable %s to read %s" % (token, value))

    def variable(self, token):
        state = json.loads(self.server.request("GET", "/api/state")[1])
        for entry in state["vars"]:
            if "0x%X" % entry["token"] == token:
                return entry["value"]
        return None

    def log(self):
        return [item.text for item in self.driver.find_elements(By.CSS_SELECTOR, "#log li")]

    def picture_digest(self, gauge):
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
        Select = __import__("selenium.webdriver.support.select", fromlist=["Select"]).Select
        Select(self.driver.find_element(By.ID, "record-gauge")).select_by_value(str(gauge))
        self.driver.find_element(By.ID, "record").click()
        text = wait_for(lambda: self.driver.find_element(By.ID, "record-file").text, "the recorded file")
        path = text.removeprefix("written to ")
        if not os.path.isfile(path):
            fail("the page names a recording that is not there: " + text)
        return path


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


def check_guards(server):
    status, body = server.request("GET", "/api/info", host="attacker.example:%d" % server.port)
    assert status == 403, "a foreign Host header got %d" % status
    for path, body, reason in [
        ("/api/set", '{"token": "0x10", "value": "ten"}', "not a number"),
        ("/api/set", '{"token": "0", "value": "1"}', "token"),
        ("/api/set", '{"token": "0x100000000", "value": "1"}', "token"),
        ("/api/click", '{"gauge": 0, "x": 5000, "y": 1}', "outside"),
        ("/api/click", '{"gauge": 9, "x": 1, "y": 1}', "no gauge"),
        ("/api/click", '[1, 2]', "JSON object"),
        ("/api/click", '{"gauge": 0, "x": 1.5, "y": 1}', "whole number"),
    ]:
        status, answer = server.request("POST", path, body)
        assert status == 400, "%s %s got %d" % (path, body, status)
        assert reason in json.loads(answer)["error"], "%s %s: %s" % (path, body, answer)
    status, _ = server.request("POST", "/api/set", '{"token": "0x10", "value": "' + "1" * 10000 + '"}')
    assert status == 413, "an over-long body got %d" % status
    for value in ["nan", "inf", "-inf", "-0.5"]:
        status, answer = server.request("POST", "/api/set", '{"token": "0x10", "value": "%s"}' % value)
        assert status == 200, "the value %s was refused: %s" % (value, answer)
    print("guards: foreign host, bad fields and long bodies refused; nan and infinities taken")


def clock_session(args, driver, work):
    server = Server(args, "KESTREL_TIMER.gau", os.path.join(work, "clock"))
    try:
        check_guards(server)
        server.request("POST", "/api/restart", "{}")  # the guards' variables are not part of the flight
        page = Page(driver, server)
        title = driver.find_element(By.ID, "module").text
        assert title == "KESTREL_TIMER.gau", "the page is titled %r, not by the file the host runs" % title
        page.step()  # the clock looks its variables up on its first update
        page.set_variable("0x150", "1")
        page.click(0, 5, 85)  # the mode lever: chronometer pages
        page.step()
        before = page.readouts(0)
        assert before.get("0.1.0") == "00:00", "the stopwatch read-out shows %r" % before
        # The knob's tooltip line names its cursor.
        page.at(0, 10, 10).perform()
        tip = wait_for(lambda: page.driver.find_element(By.ID, "tooltip-0").text, "the knob's hover line")
        assert "cursor 4" in tip, "hovering the knob shows " + tip
        page.click(0, 10, 10)  # the knob: start
        start = page.updates()
        page.driver.find_element(By.ID, "play").click()
        wait_for(lambda: page.readouts(0).get("0.1.0") not in (None, "00:00"), "the stopwatch to count")
        page.driver.find_element(By.ID, "pause").click()
        wait_for(lambda: page.driver.find_element(By.ID, "status").text == "paused", "the pause")
        page.settle()
        running = page.readouts(0)["0.1.0"]
        assert page.updates() >= start + 18, "the stopwatch moved within %d updates" % (page.updates() - start)
        print("clock: the knob started the stopwatch, which shows %s after %d updates" % (running, page.updates()))
        scenario = page.record(0)
        text = replay(args, scenario, os.path.join(work, "clock-replay"))
        # The stopwatch read-out, 0.1.0 in the tree, is fourth in the drawing order.
        assert 'expect text [3] "00:00"' in text and "click 10 10" in text and "set 0x150 1" in text, text
        check_index_names(text)
        # A host that dies is reported, and a restart brings the module back.
        os.kill(server.host_pid(), signal.SIGKILL)
        page.driver.find_element(By.ID, "step").click()
        wait_for(lambda: "host stopped" in page.driver.find_element(By.ID, "status").text, "the stop to show")
        assert "signal 9" in page.driver.find_element(By.ID, "status").text
        page.driver.find_element(By.ID, "restart").click()
        wait_for(lambda: page.driver.find_element(By.ID, "status").text == "paused", "the restart", 300)
        assert page.updates() == 0
        print("clock: a killed host was reported and restarted")
        # A host that stops answering counts as hung: it is stopped and the page says so.
        os.kill(server.host_pid(), signal.SIGSTOP)
        page.driver.find_element(By.ID, "step").click()
        wait_for(lambda: "no answer within" in page.driver.find_element(By.ID, "status").text, "the hang to show", 60)
        page.driver.find_element(By.ID, "restart").click()
        wait_for(lambda: page.driver.find_element(By.ID, "status").text == "paused", "the second restart", 300)
        print("clock: a stopped host was reported as hung and restarted")
    finally:
        server.stop()


def ap_session(args, driver, work):
    server = Server(args, "KESTREL.GAU", os.path.join(work, "ap"))
    try:
        page = Page(driver, server)
        names = [element.text for element in driver.find_elements(By.CSS_SELECTOR, ".gauge > b")]
        assert names == ["AP", "AUTOBRAKE"], "the page shows the gauges %r" % names
        driver.find_element(By.ID, "service-id").send_keys("14", Keys.ENTER)
        wait_for(lambda: any("service" in line for line in page.log()) or page.variable("0x6D") is not None,
                 "the gauge callback", 30)
        page.set_variable("0x6D", "10000")
        page.step(10)
        # The disconnect switch's tooltip, from Windows-1252.
        page.at(0, 480, 88).perform()
        tip = wait_for(lambda: driver.find_element(By.ID, "tooltip-0").text, "the tooltip")
        assert "tooltip: \u00c2utopilot Disconnect Switch" in tip and "(480, 88)" in tip, "hovering the switch shows " + tip
        assert driver.find_element(By.CSS_SELECTOR, "#gauge-0 .outline").is_displayed()
        if args.screenshot:
            driver.set_window_size(2300, 900)
            page.at(0, 480, 88).perform()
            time.sleep(0.5)
            driver.save_screenshot(args.screenshot)
            driver.set_window_size(2400, 1100)
        # A host variable lights the panel: the picture stays put without it and changes with it.
        steady = page.picture_digest(0)
        page.step()
        assert page.picture_digest(0) == steady, "the panel changes on its own"
        page.set_variable("0x67", "1")
        page.step(2)
        lit = page.picture_digest(0)
        assert lit != steady, "setting 0x67 changed nothing on the panel"
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
        assert "click 713 76 0x80000000" in text and "expect text [2]" in text, text
        check_index_names(text)
        print("AP: the recorded session replays green")
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
        for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage",
                     "--user-data-dir=" + os.path.join(work, "profile"), "--window-size=2400,1100"]:
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service(args.chromedriver), options=options)
        try:
            clock_session(args, driver, work)
            ap_session(args, driver, work)
        finally:
            driver.quit()
    finally:
        shutil.rmtree(work, ignore_errors=True)
        if os.path.exists(work):
            print("serve_browser_test: could not remove " + work)
    print("serve_browser_test: passed")


if __name__ == "__main__":
    main()
