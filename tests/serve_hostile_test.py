#!/usr/bin/python3
# The live panel against what any web page or program on this machine could send it:
# foreign Origins and sites, bodies without preflight, a second panel on its port, stalled
# clients, a host killed or stopped behind its back, and the token beyond loopback.
import argparse
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # the shared module is read from the source tree, which a test must not write
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from serve_support import Server, fail, serve_command, wait_for  # noqa: E402

CLOCK = "KESTREL_TIMER.gau"
STALLED_CLIENTS = 48


def error_of(answer):
    return json.loads(answer)["error"]


def state(server):
    status, _, answer = server.request("GET", "/api/state")
    if status != 200:
        fail("GET /api/state answered %d: %s" % (status, answer))
    return json.loads(answer)


def expect_refused(server, method, path, status, reason, body=None, **options):
    got, headers, answer = server.request(method, path, body, **options)
    if got != status:
        fail("%s %s %r: expected %d, got %d: %s" % (method, path, options, status, got, answer))
    text = error_of(answer) if path.startswith("/api/") else answer.decode()
    if reason not in text:
        fail("%s %s %r: the reason %r does not say %r" % (method, path, options, text, reason))
    return headers


def expect_taken(server, method, path, body=None, **options):
    got, headers, answer = server.request(method, path, body, **options)
    if got != 200:
        fail("%s %s %r: expected 200, got %d: %s" % (method, path, options, got, answer))
    return headers, answer


def sessions_written(server):
    folder = os.path.join(server.out, "sessions")
    return sorted(name for name in os.listdir(folder) if name.endswith(".scenario"))


# The calls that change something, each with a body the page would send.
CHANGING_CALLS = [
    ("/api/click", '{"gauge": 0, "x": 5, "y": 85}'),
    ("/api/set", '{"token": "336", "value": "1"}'),
    ("/api/key", '{"id": "0x10010", "value": "0"}'),
    ("/api/play", "{}"),
    ("/api/restart", "{}"),
    ("/api/record", '{"gauge": 0}'),
]


def check_foreign_pages(server):
    """Origin, Sec-Fetch-Site and Content-Type: what another site's page can send."""
    own = "http://" + server.own_host()
    expect_taken(server, "POST", "/api/step", "{}")  # something to record, so that a record call could write
    before = state(server)
    attacks = [
        ({"Origin": "http://evil.example"}, 403, "Origin 'http://evil.example' is not the panel's own origin " + own),
        ({"Origin": "null"}, 403, "Origin 'null' (a sandboxed page, a file or a redirect) is not the panel's own"),
        ({"Origin": "http://127.0.0.1:%d" % (server.port + 1)}, 403, "is not the panel's own origin"),
        ({"Origin": "http://localhost:%d" % server.port}, 403, "is not the panel's own origin"),
        ({"Sec-Fetch-Site": "cross-site"}, 403, "a request from another site (Sec-Fetch-Site: cross-site)"),
        ({"Sec-Fetch-Site": "same-site"}, 403, "a request from another site (Sec-Fetch-Site: same-site)"),
        ({"Sec-Fetch-Site": "nonsense"}, 403, "Sec-Fetch-Site 'nonsense' is not one a browser sends"),
        ({"Content-Type": "text/plain"}, 415, "a POST must carry Content-Type: application/json, not 'text/plain'"),
        ({"Content-Type": "application/x-www-form-urlencoded"}, 415, "not 'application/x-www-form-urlencoded'"),
        ({"Content-Type": "multipart/form-data; boundary=x"}, 415, "not 'multipart/form-data"),
        ({"Content-Type": None}, 415, "and this one has none"),
        # What the measured attack sent all at once.
        ({"Origin": "http://evil.example", "Sec-Fetch-Site": "cross-site", "Content-Type": "text/plain"}, 403,
         "a request from another site"),
    ]
    refused = 0
    for headers, status, reason in attacks:
        for path, body in CHANGING_CALLS:
            expect_refused(server, "POST", path, status, reason, body, headers=headers)
            refused += 1
    after = state(server)
    for field in ("playing", "updates", "steps", "vars"):
        if after[field] != before[field]:
            fail("a refused request changed %s: %r -> %r" % (field, before[field], after[field]))
    if not after["running"] or after["reason"]:
        fail("a refused restart stopped the host: %r" % after)
    if sessions_written(server):
        fail("a refused record call wrote %r" % sessions_written(server))
    # A form posted to the panel, as a page of any site can submit it without script.
    expect_refused(server, "POST", "/api/set", 415, "x-www-form-urlencoded", "token=336&value=1",
                   headers={"Content-Type": "application/x-www-form-urlencoded", "Origin": None})
    # Reading is refused to other sites too: a page must not learn the panel's state.
    expect_refused(server, "GET", "/api/state", 403, "is not the panel's own origin",
                   headers={"Origin": "http://evil.example"})
    expect_refused(server, "GET", "/api/info", 403, "Sec-Fetch-Site: cross-site", headers={"Sec-Fetch-Site": "cross-site"})
    expect_refused(server, "GET", "/", 403, "Sec-Fetch-Site: cross-site", headers={"Sec-Fetch-Site": "cross-site"})
    # A preflight is never granted, and other methods are not taken.
    expect_refused(server, "OPTIONS", "/api/click", 403, "not the panel's own origin",
                   headers={"Origin": "http://evil.example", "Access-Control-Request-Method": "POST"})
    expect_refused(server, "PUT", "/api/play", 405, "method PUT", "{}")
    # The Host check against DNS rebinding stays.
    expect_refused(server, "GET", "/api/info", 403, "Host 'attacker.example:%d' is not" % server.port,
                   host="attacker.example:%d" % server.port)
    expect_refused(server, "GET", "/api/info", 403, "Host 'attacker.example' is not", host="attacker.example")

    # What the panel's own page sends is taken: GETs without Origin (the browser sends none
    # to its own origin), POSTs with its own Origin, a navigation from the address bar.
    headers, _ = expect_taken(server, "GET", "/api/info")
    expect_taken(server, "GET", "/api/state", headers={"Sec-Fetch-Site": "same-origin"})
    expect_taken(server, "GET", "/", headers={"Sec-Fetch-Site": "none"})
    expect_taken(server, "POST", "/api/pause", "{}", headers={"Origin": own, "Sec-Fetch-Site": "same-origin"})
    expect_taken(server, "POST", "/api/pause", "{}", headers={"Content-Type": "application/json; charset=utf-8"})
    for name, value in [("X-Frame-Options", "DENY"), ("X-Content-Type-Options", "nosniff"),
                        ("Referrer-Policy", "no-referrer")]:
        if headers.get(name) != value:
            fail("the answer lacks %s: %s: %r" % (name, value, headers))
    if "frame-ancestors 'none'" not in headers.get("Content-Security-Policy", ""):
        fail("the page may be framed by another site: %r" % headers)
    print("foreign pages: %d cross-site calls refused (Origin other site, null, other port; Sec-Fetch-Site cross-site "
          "and same-site; text/plain, form and no Content-Type), nothing changed, no scenario written; the page's own "
          "calls taken" % refused)


def check_fields(server):
    """Every number field takes what a scenario takes, and nothing is ignored."""
    expect_taken(server, "POST", "/api/set", '{"token": "0x6D", "value": "0x10"}')
    expect_taken(server, "POST", "/api/set", '{"token": "110", "value": "-2.5e1"}')
    values = {entry["token"]: entry["value"] for entry in state(server)["vars"]}
    if values.get(109) != "16" or values.get(110) != "-25":
        fail("set 0x6D 0x10 and set 110 -2.5e1 gave %r" % values)
    expect_taken(server, "POST", "/api/key", '{"id": "65552", "value": "-1"}')
    expect_taken(server, "POST", "/api/service", '{"gauge": 0, "id": "0x0"}')
    for path, body, status, reason in [
        ("/api/set", '{"token": "0x", "value": "1"}', 400, "'0x' is not a host variable token"),
        ("/api/set", '{"token": "336", "value": "1x"}', 400, "'1x' is not a number"),
        ("/api/set", '{"token": "0x100000000", "value": "1"}', 400, "a host variable token must lie between 0 and 4294967295"),
        ("/api/set", '{"token": 336, "value": "1"}', 400, "field 'token' must be a string"),
        ("/api/set", '{"token": "336", "value": "1", "extra": 1}', 400, "unknown field 'extra' (this call takes token, value)"),
        ("/api/key", '{"id": "-1", "value": "0"}', 400, "a key event id must lie between 0 and 4294967295"),
        ("/api/service", '{"gauge": 0, "id": "0x80000000"}', 400, "a service id must lie between -2147483648"),
        ("/api/click", '{"gauge": 0, "x": 1.5, "y": 1}', 400, "field 'x' must be a whole number"),
        ("/api/click", '{"gauge": 9, "x": 1, "y": 1}', 400, "no gauge 9"),
        ("/api/click", '{"gauge": 0, "x": 5000, "y": 1}', 400, "outside"),
        ("/api/click", "[1, 2]", 400, "the body must be a JSON object"),
        ("/api/play", "", 400, "the body is not JSON"),
        ("/api/play?x=1", "{}", 400, "unknown parameter 'x'"),
    ]:
        expect_refused(server, "POST", path, status, reason, body)
    expect_refused(server, "POST", "/api/set", 413, "the body is longer than 4096 bytes",
                   '{"token": "16", "value": "' + "1" * 10000 + '"}')
    for value in ["nan", "inf", "-inf", "-0.5", "+2"]:
        expect_taken(server, "POST", "/api/set", '{"token": "16", "value": "%s"}' % value)
    expect_refused(server, "GET", "/api/frame?gauge=0&scale=3", 400, "scale must be 1, 2 or 4")
    expect_refused(server, "GET", "/api/frame?gauge=0&scale=1&scale=2", 400, "given twice")
    expect_refused(server, "GET", "/api/state?since=3", 400, "unknown parameter 'since' (this call takes log_since)")
    for scale in (1, 2, 4):
        status, headers, png = server.request("GET", "/api/frame?gauge=0&scale=%d" % scale)
        if status != 200 or not png.startswith(b"\x89PNG"):
            fail("the frame at scale %d: %d %r" % (scale, status, png[:40]))
    print("fields: 0x values and tokens taken as a scenario takes them; bad numbers, unknown fields and parameters refused")


def check_port_in_use(args, server, work):
    """A second panel on the same port stops at once with exit status 2."""
    started = time.time()
    second = subprocess.run(serve_command(args, "KESTREL.GAU", os.path.join(work, "second"), "--port", str(server.port)),
                            capture_output=True, text=True, timeout=120)
    expected = "kestrel-bench: port %d is in use (another panel?); choose one with --port, or --port 0" % server.port
    if second.returncode != 2 or expected not in second.stderr.splitlines():
        fail("a second panel on port %d: exit %d, stdout %r, stderr %r" %
             (server.port, second.returncode, second.stdout, second.stderr))
    if "starting the host" in second.stdout:
        fail("the second panel started a host before it found the port taken: " + second.stdout)
    # Every request still reaches the first panel, the clock's.
    for _ in range(12):
        _, _, answer = server.request("GET", "/api/info")
        if json.loads(answer)["module"] != CLOCK:
            fail("a request reached another panel: " + answer.decode())
    print("port in use: the second panel exited 2 after %.2f s with %r; 12 of 12 requests reached the first"
          % (time.time() - started, expected))


def check_stalled_clients(server):
    """48 clients that send half a request and wait must not hold up a good one."""
    stalled = []
    try:
        connecting = time.time()
        for _ in range(STALLED_CLIENTS):
            client = socket.create_connection(("127.0.0.1", server.port), timeout=10)
            client.sendall(("GET /api/state HTTP/1.1\r\nHost: %s\r\n" % server.own_host()).encode())
            stalled.append(client)
        connected = time.time() - connecting
        if connected > 0.5:
            fail("%d clients took %.2f s to connect: the server's backlog drops connections" % (STALLED_CLIENTS, connected))
        time.sleep(0.2)  # let the server take every one of them
        started = time.time()
        status, _, _ = server.request("GET", "/api/state", timeout=30)
        took = time.time() - started
        if status != 200:
            fail("the good request beside the stalled clients answered %d" % status)
        # The stalled connections were there all along: none was answered or closed.
        still_open = 0
        for client in stalled:
            client.setblocking(False)
            try:
                if client.recv(1, socket.MSG_PEEK) == b"":
                    continue  # closed by the server
            except BlockingIOError:
                still_open += 1
        if still_open != STALLED_CLIENTS:
            fail("only %d of the %d stalled clients were still connected" % (still_open, STALLED_CLIENTS))
        if took > 2.0:
            fail("a good request took %.2f s beside %d stalled clients" % (took, STALLED_CLIENTS))
        # Each stalled client is dropped once its read times out, and the server goes on.
        for client in stalled:
            client.setblocking(True)
            client.settimeout(15)  # a client never dropped ends the test with a time-out
            while client.recv(4096):
                pass
        print("stalled clients: %d connected in %.3f s; a good request answered in %.3f s beside them, all still open; "
              "the last was dropped %.1f s later" % (STALLED_CLIENTS, connected, took, time.time() - started))
        return took
    finally:
        for client in stalled:
            client.close()


def check_killed_host(server):
    """A host killed behind the panel's back is noticed within a second, with its signal and last command."""
    expect_taken(server, "POST", "/api/restart", "{}")
    expect_taken(server, "POST", "/api/pause", "{}")
    expect_taken(server, "POST", "/api/step", "{}")
    expect_taken(server, "POST", "/api/click", '{"gauge": 0, "x": 5, "y": 85}')
    time.sleep(0.5)  # paused and idle: only the panel's watch can notice
    os.kill(server.host_pid(), signal.SIGKILL)
    killed = time.time()
    stopped = wait_for(lambda: (lambda s: s if not s["running"] else None)(state(server)), "the panel to notice", 10)
    noticed = time.time() - killed
    reason = stopped["reason"]
    for part in ["the host was killed by signal 9", "while it waited for a command",
                 "the last command it finished was 'click 5 85 0x20000000'"]:
        if part not in reason:
            fail("the reason %r does not say %r" % (reason, part))
    if noticed > 1.0:
        fail("the killed host was noticed after %.2f s" % noticed)
    # The next command is refused with that reason, not blamed for it.
    expect_refused(server, "POST", "/api/click", 409, "while it waited for a command", '{"gauge": 0, "x": 5, "y": 85}')
    if "during 'click" in state(server)["reason"]:
        fail("the click after the kill was blamed: " + state(server)["reason"])
    expect_taken(server, "POST", "/api/restart", "{}")
    if not state(server)["running"]:
        fail("the restart did not bring the host back")
    print("killed host: noticed after %.3f s: %s" % (noticed, reason))
    return noticed


def check_hung_host(server):
    """A host that stops answering is shown as waiting within a second, and Restart ends it at once."""
    expect_taken(server, "POST", "/api/step", "{}")
    pid = server.host_pid()
    os.kill(pid, signal.SIGSTOP)
    answers = []
    stepper = threading.Thread(target=lambda: answers.append(server.request("POST", "/api/step", "{}", timeout=60)))
    stopped_at = time.time()
    stepper.start()
    try:
        busy = wait_for(lambda: (lambda s: s["busy"] if s["busy"] and s["busy"]["seconds"] >= 0.5 else None)(state(server)),
                        "the state to show the unanswered step", 10)
        shown = time.time() - stopped_at
        if busy["command"] != "update 1" or shown > 1.0:
            fail("the unanswered step showed as %r after %.2f s" % (busy, shown))
        restart_at = time.time()
        expect_taken(server, "POST", "/api/restart", "{}")
        restarted = time.time() - restart_at
        stepper.join(30)
        status, _, answer = answers[0]
        if status != 409 or "the host was stopped for a restart, during 'update 1'" not in error_of(answer):
            fail("the abandoned step answered %d %s" % (status, answer))
        if not state(server)["running"]:
            fail("the restart did not bring the host back")
    finally:
        try:
            os.kill(pid, signal.SIGCONT)
        except ProcessLookupError:
            pass
    print("hung host: the unanswered step showed after %.2f s; Restart ended it and started afresh in %.2f s"
          % (shown, restarted))


def check_token(args, work):
    """Listening beyond this machine asks a token of every request; the cookie keeps it."""
    server = Server(args, CLOCK, os.path.join(work, "token"), "--listen", "0.0.0.0")
    try:
        token = server.token
        if not token or len(token) != 32:
            fail("the panel on 0.0.0.0 printed no token: %r" % server.lines)
        cookie = "kestrel-panel-%d" % server.port
        expect_refused(server, "GET", "/api/info", 403, "answers only with its access token")
        expect_refused(server, "GET", "/", 403, "answers only with its access token")
        expect_refused(server, "POST", "/api/play", 403, "answers only with its access token", "{}")
        expect_refused(server, "GET", "/api/info?token=" + "0" * 32, 403, "the access token is not this panel's")
        expect_refused(server, "GET", "/api/info", 403, "the access token is not this panel's",
                       headers={"Cookie": "%s=%s" % (cookie, token[:-1] + ("0" if token[-1] != "0" else "1"))})
        headers, _ = expect_taken(server, "GET", "/?token=" + token)
        if headers.get("Set-Cookie") != "%s=%s; Path=/; HttpOnly; SameSite=Strict" % (cookie, token):
            fail("the page with its token set no cookie: %r" % headers)
        expect_taken(server, "GET", "/api/info", headers={"Cookie": "other=1; %s=%s" % (cookie, token)})
        expect_taken(server, "POST", "/api/step", "{}", headers={"Cookie": "%s=%s" % (cookie, token)})
        # The token does not let a foreign page in.
        expect_refused(server, "POST", "/api/step", 403, "not the panel's own origin", "{}",
                       headers={"Cookie": "%s=%s" % (cookie, token), "Origin": "http://evil.example"})
        print("token: refused without it, with a wrong one in the query or the cookie; taken in the query (which sets "
              "its cookie) and in the cookie")
    finally:
        server.stop()


def check_listing(args):
    """The tooltip's stored first byte is named where the listing shows the text."""
    listing = subprocess.run([args.host, "inspect", os.path.join(args.gau_dir, "KESTREL.GAU")], capture_output=True,
                             text=True, timeout=120, env=dict(os.environ, ASAN_OPTIONS="detect_leaks=0"))
    line = '"\u00c2utopilot Disconnect Switch" (Windows-1252: the stored text begins with byte 0xC2)'
    if listing.returncode != 0 or line not in listing.stdout:
        fail("inspect does not say which byte the tooltip begins with:\n" +
             "\n".join(l for l in listing.stdout.splitlines() if "utopilot" in l) + listing.stderr)
    print("listing: " + line)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", required=True)
    parser.add_argument("--host", required=True)
    parser.add_argument("--gau-dir", required=True)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="kestrel-serve-hostile-")
    try:
        check_listing(args)
        server = Server(args, CLOCK, os.path.join(work, "clock"))
        try:
            check_foreign_pages(server)
            check_fields(server)
            check_port_in_use(args, server, work)
            answered = check_stalled_clients(server)
            noticed = check_killed_host(server)
            check_hung_host(server)
        finally:
            server.stop()
        check_token(args, work)
        print("serve_hostile_test: figures: %.3f s to answer beside %d stalled clients; %.3f s to notice a killed host"
              % (answered, STALLED_CLIENTS, noticed))
    finally:
        shutil.rmtree(work, ignore_errors=True)
        if os.path.exists(work):
            print("serve_hostile_test: could not remove " + work)
    print("serve_hostile_test: passed")


if __name__ == "__main__":
    main()
