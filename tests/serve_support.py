# What the live panel's tests share: one `kestrel-bench serve` process started on a free
# port and stopped by its own process id, raw HTTP requests with chosen headers, and the
# host process it runs.
import http.client
import os
import re
import signal
import subprocess
import sys
import time


def fail(message):
    raise AssertionError(message)


def wait_for(condition, what, timeout=120):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.02)
    fail("timed out waiting for " + what)


def serve_command(args, module, out, *extra):
    """serve MODULE (a file of the .gau folder), or with module None what extra names (--panel FILE)."""
    return [args.bench, "serve", "--native-gau", "--timeout", "8", "--host", args.host, "--gau-dir", args.gau_dir,
            "--out", out, *extra, *([os.path.join(args.gau_dir, module)] if module else [])]


class Server:
    """One `kestrel-bench serve` process, stopped by its own process id."""

    def __init__(self, args, module, out, *extra):
        self.out = out
        self.lines = []
        self.process = subprocess.Popen(serve_command(args, module, out, "--port", "0", *extra),
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        deadline = time.time() + 300
        for line in self.process.stdout:
            sys.stdout.write("serve: " + line)
            self.lines.append(line)
            found = re.search(r"is at (http://127\.0\.0\.1:(\d+)/)(\?token=([0-9a-f]+))?", line)
            if found:
                self.url, self.port = found.group(1), int(found.group(2))
                self.token = found.group(4)
                self.page_url = self.url + (found.group(3) or "")
                return
            if time.time() > deadline:
                break
        self.stop()
        fail("the server printed no address")

    def own_host(self):
        return "127.0.0.1:%d" % self.port

    def request(self, method, path, body=None, host=None, headers=None, json_body=True, timeout=60):
        """Status, headers and body of one request; Host and a JSON Content-Type unless told otherwise."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        sent = {"Host": host or self.own_host()}
        if json_body and method == "POST":
            sent["Content-Type"] = "application/json"
        sent.update(headers or {})
        connection.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
        for name, value in sent.items():
            if value is not None:
                connection.putheader(name, value)
        data = body.encode() if isinstance(body, str) else body
        if data is not None:
            connection.putheader("Content-Length", str(len(data)))
        connection.endheaders(data)
        response = connection.getresponse()
        answer = response.read()
        connection.close()
        return response.status, dict(response.getheaders()), answer

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
        if self.process.stdout:
            self.process.stdout.close()
