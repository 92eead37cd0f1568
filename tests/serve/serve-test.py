#!/usr/bin/python3
"""Drives the speech server (korva-serve) with real HTTP clients on loopback.

    serve-test.py --server PATH --korva PATH --archive VOICE.pt --work DIR

Exit status 0 when every check passes, 1 when one fails, 77 (skipped) without
the voice archive or curl.
"""
import argparse
import http.client
import json
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

SHORT = "Hi."
MEDIUM = "Hello, world! A quick test."
LONG = ("The quick brown fox jumps over the lazy dog. " * 6).strip()
WAIT = 300  # seconds: generous bounds for a loaded machine, never a speed claim


class Server:
    """One korva-serve process; its standard error goes to a log file."""

    def __init__(self, binary, archive, work, name, *args):
        self.log_path = os.path.join(work, name + ".log")
        self.log = open(self.log_path, "wb")
        self.process = subprocess.Popen(
            # -v: the check of a hang-up reads the library's own line about it.
            [binary, "-v", "-m", archive, "--port", "0", "--timeout", "120", *args],
            stdout=subprocess.DEVNULL, stderr=self.log)
        self.port = None
        deadline = time.time() + WAIT
        while time.time() < deadline and self.process.poll() is None:
            m = re.search(r"listening on http://127\.0\.0\.1:(\d+)", self.log_text())
            if m and self.port is None:
                self.port = int(m.group(1))
            if self.port and "[serve] ready" in self.log_text():
                return
            time.sleep(0.05)
        raise RuntimeError("the server did not become ready:\n" + self.log_text()[-2000:])

    def log_text(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode(errors="replace")

    def connection(self):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=WAIT)

    def request(self, method, path, body=None):
        """(status, headers, body) of one request on a fresh connection."""
        c = self.connection()
        data = body if body is None or isinstance(body, bytes) else json.dumps(body).encode()
        c.request(method, path, body=data, headers={"Content-Type": "application/json"})
        r = c.getresponse()
        result = r.status, dict(r.getheaders()), r.read()
        c.close()
        return result

    def metric(self, name):
        _, _, text = self.request("GET", "/metrics")
        total = 0.0
        for line in text.decode().splitlines():
            if line.startswith(name + " ") or line.startswith(name + "{"):
                total += float(line.rsplit(" ", 1)[1])
        return total

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(timeout=WAIT)
        self.log.close()
        return status


class Checks:
    def __init__(self):
        self.failed, self.passed = [], 0

    def expect(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed.append(what)


def wav_samples(data):
    """Sample count of a 16-bit mono 48 kHz WAV file, or -1 when it is not one."""
    if len(data) < 44 or data[:4] != b"RIFF" or data[8:16] != b"WAVEfmt ":
        return -1
    channels, rate, bits = struct.unpack("<H", data[22:24])[0], \
        struct.unpack("<I", data[24:28])[0], struct.unpack("<H", data[34:36])[0]
    size = struct.unpack("<I", data[40:44])[0]
    if (channels, rate, bits) != (1, 48000, 16) or size != len(data) - 44 or \
            struct.unpack("<I", data[4:8])[0] != len(data) - 8:
        return -1
    return size // 2


def error_message(body):
    try:
        return json.loads(body)["error"]["message"]
    except (ValueError, KeyError, TypeError):
        return None


def check_wav_with_curl(c, s, work):
    out = os.path.join(work, "hello.wav")
    r = subprocess.run(["curl", "-sS", "-o", out, "-w", "%{http_code} %{content_type}",
                        "-H", "Content-Type: application/json",
                        "-d", json.dumps({"model": "tts-1", "input": MEDIUM, "voice": "alloy",
                                          "seed": 7}),
                        f"http://127.0.0.1:{s.port}/v1/audio/speech"],
                       capture_output=True, timeout=WAIT)
    with open(out, "rb") as f:
        data = f.read()
    c.expect(r.stdout == b"200 audio/wav", f"curl WAV request: 200 audio/wav, got {r.stdout!r}")
    n = wav_samples(data)
    c.expect(n > 48000 // 4, f"curl WAV request: a complete WAV of speech ({n} samples)")
    peak = max(abs(v) for v in struct.unpack(f"<{n}h", data[44:])) if n > 0 else 0
    c.expect(abs(peak - 0.95 * 32767) < 2, f"WAV peak-normalised to 0.95 (peak {peak})")
    return n


def check_stream_chunks(c, s, wav_length):
    conn = s.connection()
    conn.request("POST", "/v1/audio/speech", body=json.dumps(
        {"input": MEDIUM, "response_format": "pcm", "seed": 7}))
    r = conn.getresponse()
    c.expect(r.status == 200 and r.getheader("Transfer-Encoding") == "chunked" and
             r.getheader("X-Sample-Rate") == "48000", "pcm request: 200, chunked, 48 kHz")
    pieces = []
    while True:
        piece = r.read1(65536)
        if not piece:
            break
        pieces.append(piece)
    conn.close()
    total = sum(len(p) for p in pieces)
    c.expect(len(pieces) > 1, f"pcm request arrives in several chunks ({len(pieces)})")
    c.expect(total == 2 * wav_length,
             f"pcm stream has the WAV's samples ({total // 2} against {wav_length})")


def check_info_endpoints(c, s):
    status, _, body = s.request("GET", "/health")
    c.expect(status == 200 and json.loads(body) == {"status": "ready"}, "GET /health: 200 ready")
    status, _, body = s.request("GET", "/v1/voices")
    voices = json.loads(body) if status == 200 else {}
    c.expect(voices.get("sample_rate", 0) > 0 and voices.get("n_speakers") == 1 and
             voices.get("speakers") == [{"id": 0}], f"GET /v1/voices: rate and speakers ({body!r})")
    status, headers, body = s.request("GET", "/metrics")
    text = body.decode()
    c.expect(status == 200 and headers.get("Content-Type", "").startswith("text/plain"),
             "GET /metrics: 200 text")
    for name in ("korva_http_requests_total{", "korva_synthesis_errors_total ",
                 "korva_audio_seconds_total ", "korva_queue_depth ", "korva_busy "):
        c.expect(name in text, f"/metrics has {name.strip('{ ')}")
    c.expect(s.metric('korva_http_requests_total{route="/v1/audio/speech",status="200"}') >= 2,
             "/metrics counts the speech requests by status")
    c.expect(s.metric("korva_audio_seconds_total") > 0.5, "/metrics counts audio seconds")


def check_malformed(c, s):
    cases = [
        (b"not json", 400, "not valid JSON"),
        (b"[1, 2]", 400, "JSON object"),
        ({"voice": "alloy"}, 400, "\"input\" is missing"),
        ({"input": 42}, 400, "\"input\" must be a string"),
        ({"input": "Hi.", "response_format": "mp3"}, 400, "\"response_format\""),
        ({"input": "Hi.", "speed": 0}, 400, "\"speed\""),
        ({"input": "Hi.", "speed": "fast"}, 400, "\"speed\""),
        ({"input": "Hi.", "speaker": 1}, 400, "\"speaker\""),
        ({"input": "Hi.", "speaker": "nobody"}, 400, "no speaker named"),
        ({"input": "Hi.", "seed": -1}, 400, "\"seed\""),
        ({"input": "Hi.", "ssml": "yes"}, 400, "\"ssml\""),
        ({"input": "Hi.", "length_scale": 0}, 400, "\"length_scale\""),
        ({"input": "x" * 600}, 413, "at most 512"),
        (b"{\"input\": \"" + b"x" * 100000 + b"\"}", 413, "too large"),
    ]
    for body, status, reason in cases:
        got, _, answer = s.request("POST", "/v1/audio/speech", body)
        message = error_message(answer)
        c.expect(got == status and message is not None and reason in message,
                 f"malformed {str(body)[:40]}: {status} naming '{reason}' (got {got} {answer[:120]!r})")
    got, _, answer = s.request("GET", "/v1/nothing")
    c.expect(got == 404 and error_message(answer), "unknown path: 404 with a JSON error")
    status, _, body = s.request("POST", "/v1/audio/speech", {"input": SHORT})
    c.expect(status == 200 and wav_samples(body) > 0, "after the malformed ones, a request works")


def check_beyond_the_queue(c, s):
    """--queue 1: one running and one waiting; the other clients are refused."""
    results = [None] * 6

    def client(i):
        try:
            results[i] = s.request("POST", "/v1/audio/speech", {"input": SHORT})
        except Exception as error:  # noqa: BLE001 - any broken answer is the failure
            results[i] = error

    threads = [threading.Thread(target=client, args=(i,)) for i in range(len(results))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    broken = [r for r in results if not isinstance(r, tuple)]
    ok = [r for r in results if isinstance(r, tuple) and r[0] == 200 and wav_samples(r[2]) > 0]
    busy = [r for r in results if isinstance(r, tuple) and r[0] == 503 and
            r[1].get("Retry-After") and error_message(r[2])]
    c.expect(not broken and len(ok) + len(busy) == len(results),
             f"concurrent clients: each a whole WAV or a 503 ({results!r:.300})")
    c.expect(1 <= len(ok) <= 2 and busy, f"concurrent clients: {len(ok)} served, {len(busy)} refused")


def start_stream(s, text):
    """A pcm request with its first piece of audio read: (connection, response, piece)."""
    conn = s.connection()
    conn.request("POST", "/v1/audio/speech", body=json.dumps(
        {"input": text, "response_format": "pcm"}))
    r = conn.getresponse()
    return conn, r, r.read1(4096)


def check_hang_up(c, s):
    conn, r, first = start_stream(s, LONG)
    conn.sock.shutdown(socket.SHUT_RDWR)
    conn.close()
    c.expect(r.status == 200 and first, "hang-up: the stream had started")
    status, _, body = s.request("POST", "/v1/audio/speech", {"input": SHORT})
    c.expect(status == 200 and wav_samples(body) > 0, "after a hang-up, the next request is served")
    log = s.log_text()
    c.expect("stopped by the callback" in log and "(stream broken off)" in log,
             "the hang-up stopped its synthesis and was logged as broken off")
    c.expect(s.metric("korva_streams_broken_total") == 1, "/metrics counts the broken stream")


def check_sigterm(c, s):
    conn, r, first = start_stream(s, MEDIUM)
    s.process.send_signal(signal.SIGTERM)
    try:
        rest = r.read()  # raises IncompleteRead if the stream is cut off
    except http.client.HTTPException as error:
        rest = None
        c.expect(False, f"SIGTERM: the running stream was cut off ({error!r})")
    conn.close()
    c.expect(first and rest is not None and (len(first) + len(rest)) % 2 == 0,
             "SIGTERM: the running request finished")
    status = s.process.wait(timeout=WAIT)
    c.expect(status == 0, f"SIGTERM: the server exits 0 (exit {status})")
    refused = False
    try:
        socket.create_connection(("127.0.0.1", s.port), timeout=5).close()
    except OSError:
        refused = True
    c.expect(refused, "SIGTERM: the server no longer accepts connections")
    c.expect("[serve] stopped" in s.log_text(), "SIGTERM: the server says it stopped")


def check_command_line(c, server, korva):
    r = subprocess.run([korva, "serve", "--help"], capture_output=True, timeout=60)
    c.expect(r.returncode == 0 and r.stdout.startswith(b"usage: korva serve"),
             "korva serve --help prints the server's usage")
    r = subprocess.run([server, "--port", "80000"], capture_output=True, timeout=60)
    c.expect(r.returncode == 2 and b"korva-serve:" in r.stderr, "korva-serve: bad options exit 2")
    r = subprocess.run([korva, "serve", "-m", "/nonexistent.pt", "--port", "0"],
                       capture_output=True, timeout=WAIT)
    c.expect(r.returncode == 1 and b"cannot load the voice" in r.stderr.splitlines()[-1],
             "korva serve with a missing voice: exit 1 naming it")


def main():
    parser = argparse.ArgumentParser()
    for name in ("--server", "--korva", "--archive", "--work"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    if not os.path.exists(args.archive):
        print(f"SKIP: no voice archive at {args.archive} (needs ../shared)")
        return 77
    if not shutil.which("curl"):
        print("SKIP: curl is not installed (scripts/setup installs it)")
        return 77
    os.makedirs(args.work, exist_ok=True)
    c = Checks()
    check_command_line(c, args.server, args.korva)
    s = Server(args.server, args.archive, args.work, "server", "--queue", "1",
               "--max-input", "512")
    try:
        wav_length = check_wav_with_curl(c, s, args.work)
        check_stream_chunks(c, s, wav_length)
        check_info_endpoints(c, s)
        check_malformed(c, s)
        check_beyond_the_queue(c, s)
        check_hang_up(c, s)
        check_sigterm(c, s)
    finally:
        s.stop()
    for failure in c.failed:
        print("FAIL:", failure)
    print(f"{c.passed} checks passed, {len(c.failed)} failed (server log: {s.log_path})")
    return 1 if c.failed else 0


if __name__ == "__main__":
    sys.exit(main())
