#!/usr/bin/python3
"""The server's page at / in a real headless Chromium, driven over the DevTools
protocol on a pipe: the page loads, asks for the API key the server wants,
lists the voice, speaks (streamed where the browser can) and downloads a WAV.

    page-test.py --server PATH --archive VOICE.pt --work DIR

Exit status 0 when every check passes, 1 when one fails, 77 (skipped) without
the voice archive or Chromium (Debian's `chromium`, installed by scripts/setup).
"""
import argparse
import fcntl
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from korva_server import WAIT, ServerProcess

KEY = "page-key-19c2"
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync",
                  "--autoplay-policy=no-user-gesture-required", "--remote-debugging-pipe"]


class DevTools:
    """Chromium's DevTools protocol over --remote-debugging-pipe: JSON messages
    ending in a NUL byte, commands on its fd 3, answers and events on its fd 4."""

    def __init__(self, browser, url, profile):
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()
        # The child's ends go to fds 3 and 4, from numbers clear of both. Every
        # other descriptor of this process closes on exec (Python's default).
        ends = [fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 100) for fd in (to_browser_r, from_browser_w)]
        os.close(to_browser_r)
        os.close(from_browser_w)

        def wire():
            os.dup2(ends[0], 3)
            os.dup2(ends[1], 4)
        self.process = subprocess.Popen(
            [browser, *CHROMIUM_FLAGS, f"--user-data-dir={profile}", url],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=wire, close_fds=False)
        for fd in ends:
            os.close(fd)
        self.next_id = 0
        self.pending = b""
        self.session = None

    def command(self, method, params=None, session=True):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session and self.session:
            message["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        deadline = time.time() + WAIT
        while time.time() < deadline:
            while b"\0" not in self.pending:
                piece = os.read(self.from_browser, 65536)
                if not piece:
                    raise RuntimeError("Chromium closed its DevTools pipe")
                self.pending += piece
            raw, self.pending = self.pending.split(b"\0", 1)
            answer = json.loads(raw)
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise RuntimeError(f"{method}: {answer['error']}")
                return answer.get("result", {})
        raise RuntimeError(f"{method}: no answer")

    def attach_to_page(self):
        deadline = time.time() + WAIT
        while time.time() < deadline:
            pages = [t for t in self.command("Target.getTargets", session=False)["targetInfos"]
                     if t["type"] == "page"]
            if pages:
                self.session = self.command("Target.attachToTarget",
                                            {"targetId": pages[0]["targetId"], "flatten": True},
                                            session=False)["sessionId"]
                return
            time.sleep(0.2)
        raise RuntimeError("Chromium opened no page")

    def evaluate(self, expression):
        """The value of a JavaScript expression (awaited), run as if the user acted."""
        result = self.command("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                                   "returnByValue": True, "userGesture": True})
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression[:60]}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait_for_state(self, states):
        """The page's status once its state is one of `states`: (state, samples, text)."""
        deadline = time.time() + WAIT
        status = None
        while time.time() < deadline:
            status = self.evaluate(
                "(() => { const s = document.getElementById('status');"
                " return s ? [s.dataset.state, Number(s.dataset.samples), s.textContent] : null; })()")
            if status and status[0] in states:
                return status
            time.sleep(0.2)
        return status

    def close(self):
        self.process.kill()
        self.process.wait()
        os.close(self.to_browser)
        os.close(self.from_browser)


def main():
    parser = argparse.ArgumentParser()
    for name in ("--server", "--archive", "--work"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if not browser:
        print("SKIP: Chromium is not installed (scripts/setup installs Debian's chromium)")
        return 77
    if not os.path.exists(args.archive):
        print(f"SKIP: no voice archive at {args.archive} (needs ../shared)")
        return 77
    os.makedirs(args.work, exist_ok=True)
    name = os.path.splitext(os.path.basename(args.archive))[0]
    failed = []

    def expect(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            failed.append(what)

    server = ServerProcess(args.server, args.archive, os.path.join(args.work, "page-server.log"),
                           "--api-key", KEY)
    profile = tempfile.mkdtemp(prefix="korva-chromium-", dir=args.work)
    page = DevTools(browser, f"http://127.0.0.1:{server.port}/", profile)
    try:
        page.attach_to_page()
        page.command("Browser.setDownloadBehavior", {"behavior": "deny"}, session=False)
        state = page.wait_for_state(("ready", "error"))
        asks = page.evaluate("!document.getElementById('key-row').hidden")
        expect(state and state[0] == "error" and asks,
               f"without the key the page says so and asks for it ({state})")
        page.evaluate(f"document.getElementById('key').value = {json.dumps(KEY)};"
                      " document.getElementById('key-use').click()")
        state = page.wait_for_state(("ready", "error"))
        voices = page.evaluate("[...document.getElementById('voice').options].map(o => o.value)")
        expect(state and state[0] == "ready" and voices == [name],
               f"with the key the page lists the voice ({state}, {voices})")

        page.evaluate("document.getElementById('text').value = 'Hi.';"
                      " document.getElementById('play').click()")
        state = page.wait_for_state(("done", "error"))
        expect(state and state[0] == "done" and state[1] > 0 and "as it arrived" in state[2],
               f"Play: the audio streamed into the page ({state})")
        page.evaluate("document.getElementById('download').click()")
        state = page.wait_for_state(("done", "error"))
        expect(state and state[0] == "done" and state[1] > 0 and "Downloaded" in state[2],
               f"Download: a WAV file came ({state})")
    finally:
        page.close()
        server.stop()
        shutil.rmtree(profile, ignore_errors=True)
    log = server.log_text()
    expect(re.search(r'"POST /v1/audio/speech" 200 \d+ bytes', log) is not None,
           "the server answered the page's speech requests")
    print(f"{len(failed)} failed (server log: {server.log_path})")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
