#!/usr/bin/python3
"""Drives the speech server (korva-serve) with real HTTP and Wyoming clients on loopback.

    serve-test.py --server PATH --korva PATH --archive VOICE.pt --work DIR

Exit status 0 when every check passes, 1 when one fails, 77 (skipped) without
the voice archive or curl. The Wyoming client here is written from the
protocol's description: a JSON header line, then data_length bytes of JSON
data, then payload_length bytes of payload.
"""
import argparse
import http.client
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

from korva_server import WAIT, ServerProcess

SHORT = "Hi."
MEDIUM = "Hello, world! A quick test."
LONG = ("The quick brown fox jumps over the lazy dog. " * 6).strip()
KEY = "test-key-7f3a"
REQUEST_TIMEOUT = 8  # seconds the server gives a request to arrive whole


class Server(ServerProcess):
    """The server under test, with the key, Wyoming on a free port, and clients."""

    def __init__(self, binary, archive, work, name, *args):
        # -v: the check of a hang-up reads the library's own line about it.
        super().__init__(binary, archive, os.path.join(work, name + ".log"), "-v", "--timeout",
                         "120", "--wyoming-port", "0", "--api-key", KEY, *args)

    def connection(self, source="127.0.0.1"):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=WAIT,
                                          source_address=(source, 0))

    def request(self, method, path, body=None, key=KEY, source="127.0.0.1"):
        """(status, headers, body) of one request on a fresh connection."""
        c = self.connection(source)
        data = body if body is None or isinstance(body, bytes) else json.dumps(body).encode()
        headers = {"Content-Type": "application/json"}
        if key is not None:
            headers["Authorization"] = "Bearer " + key
        c.request(method, path, body=data, headers=headers)
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


AUTH = {"Authorization": "Bearer " + KEY}


def check_wav_with_curl(c, s, work):
    out = os.path.join(work, "hello.wav")
    r = subprocess.run(["curl", "-sS", "-o", out, "-w", "%{http_code} %{content_type}",
                        "-H", "Content-Type: application/json", "-H", "Authorization: Bearer " + KEY,
                        "-d", json.dumps({"model": "tts-1", "input": MEDIUM, "seed": 7}),
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
    conn.request("POST", "/v1/audio/speech", headers=AUTH, body=json.dumps(
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


def check_info_endpoints(c, s, names):
    status, _, body = s.request("GET", "/health", key=None)
    c.expect(status == 200 and json.loads(body) == {"status": "ready"}, "GET /health: 200 ready")
    status, _, body = s.request("GET", "/v1/voices")
    listed = json.loads(body) if status == 200 else {}
    voices = listed.get("voices", [])
    c.expect(listed.get("default") == names[0] and [v.get("name") for v in voices] == names and
             all(v.get("sample_rate", 0) > 0 and v.get("front_end") and
                 v.get("speakers") == [{"id": 0}] for v in voices),
             f"GET /v1/voices: every voice with its rate, front-end and speakers ({body[:300]!r})")
    status, headers, body = s.request("GET", "/metrics")
    text = body.decode()
    c.expect(status == 200 and headers.get("Content-Type", "").startswith("text/plain"),
             "GET /metrics: 200 text")
    for metric in ("korva_http_requests_total{", "korva_synthesis_errors_total ",
                   "korva_audio_seconds_total ", "korva_queue_depth ", "korva_busy ",
                   "korva_workers "):
        c.expect(metric in text, f"/metrics has {metric.strip('{ ')}")
    # A streamed answer is counted once sent, which may be after its client has it all.
    speech_200 = 'korva_http_requests_total{route="/v1/audio/speech",status="200"}'
    deadline = time.time() + WAIT
    while s.metric(speech_200) < 2 and time.time() < deadline:
        time.sleep(0.1)
    c.expect(s.metric(speech_200) >= 2, "/metrics counts the speech requests by status")
    c.expect(s.metric("korva_audio_seconds_total") > 0.5, "/metrics counts audio seconds")


def check_key(c, s):
    """Every endpoint but /health and the page needs the key, compared whole."""
    for method, path, body in (("GET", "/v1/voices", None), ("GET", "/metrics", None),
                               ("POST", "/v1/audio/speech", {"input": SHORT})):
        for key in (None, "wrong", KEY + "x", KEY[:-1]):
            status, headers, answer = s.request(method, path, body, key=key)
            c.expect(status == 401 and headers.get("WWW-Authenticate") == "Bearer" and
                     "Authorization: Bearer" in (error_message(answer) or ""),
                     f"{method} {path} with key {key!r}: 401 ({status} {answer[:80]!r})")
    status, _, _ = s.request("GET", "/health", key=None)
    c.expect(status == 200, "/health needs no key")
    status, headers, page = s.request("GET", "/", key=None)
    c.expect(status == 200 and headers.get("Content-Type", "").startswith("text/html") and
             b"<textarea" in page and b"/v1/audio/speech" in page,
             "the page at / comes without a key")


def check_malformed(c, s, names):
    cases = [
        (b"not json", 400, "not valid JSON"),
        (b"[1, 2]", 400, "JSON object"),
        ({"voice": "alloy"}, 400, "\"input\" is missing"),
        ({"input": 42}, 400, "\"input\" must be a string"),
        ({"input": ""}, 400, "\"input\" is empty"),
        ({"input": "  \n "}, 400, "\"input\" is empty"),
        ({"input": "Hi.", "voice": "alloy"}, 400, f"its voices are \"{names[0]}\", \"{names[1]}\""),
        ({"input": "Hi.", "response_format": "mp3"}, 400, "\"response_format\""),
        ({"input": "Hi.", "speed": 0}, 400, "\"speed\""),
        ({"input": "Hi.", "speed": "fast"}, 400, "\"speed\""),
        ({"input": "Hi.", "speaker": 1}, 400, "\"speaker\""),
        ({"input": "Hi.", "speaker": "nobody"}, 400, "no speaker named"),
        ({"input": "Hi.", "seed": -1}, 400, "\"seed\""),
        ({"input": "Hi.", "ssml": "yes"}, 400, "\"ssml\""),
        ({"input": "Hi.", "length_scale": 0}, 400, "\"length_scale\""),
        ({"input": "x" * 4097}, 413, "at most 4096"),
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


def laughs():
    """Five levels of tenfold entities: a few hundred bytes that would read as megabytes."""
    doc = '<!DOCTYPE speak [<!ENTITY a "ha ha ha ha ha ha ha ha ha ha ">'
    for level in "bcdef":
        doc += f'<!ENTITY {level} "' + f"&{chr(ord(level) - 1)};" * 10 + '">'
    return doc + "]><speak>&f;</speak>"


def check_work_limits(c, s):
    """What a short request may ask for: text after expansion, pauses, rates, audio."""
    cases = [
        (laughs(), "entity declarations are not read"),
        ("<speak>" + '<break time="60s"/>' * 200 + "</speak>", "more than 10 minutes"),
        ("<speak>" + '<prosody rate="x-fast">' * 60 + "go" + "</prosody>" * 60 + "</speak>",
         "together they must stay from 0.2 to 5"),
    ]
    for document, reason in cases:
        status, _, body = s.request("POST", "/v1/audio/speech",
                                    {"input": document, "ssml": True, "response_format": "pcm"})
        c.expect(status == 400 and reason in (error_message(body) or ""),
                 f"SSML of {len(document)} bytes refused naming '{reason}' ({status} {body[:120]!r})")
    # --max-audio 4: a 5 s pause and a word ask for too much, in either format.
    too_long = {"input": '<speak><break time="5s"/>Hi.</speak>', "ssml": True}
    status, _, body = s.request("POST", "/v1/audio/speech", too_long)
    c.expect(status == 413 and "more than 4 s of audio" in (error_message(body) or ""),
             f"a WAV over --max-audio: 413 ({status} {body[:120]!r})")
    conn = s.connection()
    conn.request("POST", "/v1/audio/speech", headers=AUTH,
                 body=json.dumps({**too_long, "response_format": "pcm"}))
    r = conn.getresponse()
    got = b""
    try:
        got = r.read()
        ended = True
    except http.client.IncompleteRead as partial:
        got, ended = partial.partial, False
    conn.close()
    c.expect(r.status == 200 and not ended and len(got) <= 2 * 4 * 48000,
             f"a stream over --max-audio is broken off at the limit ({len(got)} bytes)")
    # A duration noise the fields allow is never the client's fault.
    status, _, body = s.request("POST", "/v1/audio/speech",
                                {"input": SHORT, "noise_scale_w": 10, "seed": 1})
    kind = (json.loads(body).get("error") or {}).get("type") if status != 200 else None
    c.expect(status == 200 or (status == 500 and kind == "server_error"),
             f"noise_scale_w 10: spoken, or a server error (got {status} {body[:160]!r})")


def check_beyond_the_queue(c, s):
    """--workers 2 --queue 1: two running and one waiting; the other clients are refused."""
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
    c.expect(1 <= len(ok) <= 3 and busy, f"concurrent clients: {len(ok)} served, {len(busy)} refused")


def still_open(sock):
    try:
        return sock.recv(1, socket.MSG_DONTWAIT | socket.MSG_PEEK) != b""
    except BlockingIOError:
        return True
    except OSError:
        return False


def check_slow_clients(c, s):
    """25 connections sending a byte a second: everyone else is still answered."""
    request = (b"POST /v1/audio/speech HTTP/1.1\r\nHost: x\r\nContent-Length: 17\r\n\r\n"
               b'{"input": "Hi."}\n')
    drippers = [socket.create_connection(("127.0.0.1", s.port), timeout=WAIT) for _ in range(25)]
    stop = threading.Event()

    def drip():
        for i in range(len(request)):
            for d in drippers:
                try:
                    d.send(request[i:i + 1])
                except OSError:
                    pass
            if stop.wait(1):
                return

    dripping = threading.Thread(target=drip)
    dripping.start()
    answers = [s.request("GET", "/health", source=source)[0] for source in ("127.0.0.1", "127.0.0.2")]
    open_meanwhile = all(still_open(d) for d in drippers)
    speech = s.request("POST", "/v1/audio/speech", {"input": SHORT})
    c.expect(answers == [200, 200] and open_meanwhile,
             f"/health answered while 25 clients drip ({answers}, all still dripping: {open_meanwhile})")
    c.expect(speech[0] == 200 and wav_samples(speech[2]) > 0,
             f"a speech request answered while 25 clients drip ({speech[0]})")
    late = []
    for d in drippers:
        try:
            late.append(d.recv(4096))
        except OSError:
            late.append(b"")
    stop.set()
    dripping.join()
    for d in drippers:
        d.close()
    c.expect(all(b" 408 " in answer and b"within 8 s" in answer for answer in late),
             f"the drippers are cut off at the request deadline with 408 ({late[0][:60]!r})")
    # --max-client-connections 30: the 31st connection of one address is refused.
    held = [socket.create_connection(("127.0.0.1", s.port), source_address=("127.0.0.3", 0),
                                     timeout=WAIT) for _ in range(30)]
    extra = socket.create_connection(("127.0.0.1", s.port), source_address=("127.0.0.3", 0),
                                     timeout=WAIT)
    refusal = extra.recv(4096)
    status, _, _ = s.request("GET", "/health")
    for sock in held + [extra]:
        sock.close()
    c.expect(b" 503 " in refusal and b"too many connections" in refusal and status == 200,
             f"the 31st connection of an address is refused, others served ({refusal[:60]!r})")


class Wyoming:
    """A Wyoming client as the protocol describes one."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
        self.reader = self.sock.makefile("rb")

    def send(self, kind, data=None, inline=False):
        header = {"type": kind}
        body = b""
        if data is not None and inline:
            header["data"] = data
        elif data is not None:
            body = json.dumps(data).encode()
            header["data_length"] = len(body)
        self.sock.sendall(json.dumps(header).encode() + b"\n" + body)

    def read(self):
        """(type, data, payload), or None when the server closed."""
        line = self.reader.readline()
        if not line:
            return None
        header = json.loads(line)
        data = dict(header.get("data") or {})
        if header.get("data_length"):
            data.update(json.loads(self.reader.read(header["data_length"])))
        payload = self.reader.read(header.get("payload_length") or 0)
        return header["type"], data, payload

    def read_until(self, last):
        events = []
        while True:
            event = self.read()
            events.append(event)
            if event is None or event[0] in (last, "error"):
                return events

    def close(self):
        self.reader.close()
        self.sock.close()


def audio_bytes(events, rate):
    chunks = [e for e in events if e and e[0] == "audio-chunk"]
    formats_ok = all(e[1] == {"rate": rate, "width": 2, "channels": 1} for e in chunks)
    return sum(len(e[2]) for e in chunks), len(chunks), formats_ok


def check_wyoming(c, s, names):
    name = names[0]
    w = Wyoming(s.wyoming_port)
    w.send("describe")
    info = w.read()
    program = (info[1].get("tts") or [{}])[0] if info and info[0] == "info" else {}
    voices = program.get("voices") or [{}]
    c.expect([v.get("name") for v in voices] == names and
             all(v.get("languages") == ["en_US"] and "speakers" in v for v in voices) and
             program.get("supports_synthesize_streaming") is True,
             f"Wyoming describe: info with the voices ({str(info)[:200]})")
    rate = json.loads(s.request("GET", "/v1/voices")[2])["voices"][0]["sample_rate"]
    w.send("synthesize", {"text": SHORT, "voice": {"name": name}})
    events = w.read_until("audio-stop")
    size, chunks, formats_ok = audio_bytes(events, rate)
    c.expect(events[0][0] == "audio-start" and events[0][1] == {"rate": rate, "width": 2,
                                                                 "channels": 1} and
             events[-1][0] == "audio-stop" and chunks > 1 and formats_ok and size > rate // 4,
             f"Wyoming synthesize: audio-start, {chunks} chunks of {size} bytes, audio-stop")
    w.send("synthesize-start", {"voice": {"name": name}}, inline=True)
    w.send("synthesize-chunk", {"text": "One here. And"})
    first = w.read()  # the first sentence is spoken before the rest of the text comes
    w.send("synthesize-chunk", {"text": " two."})
    w.send("synthesize-stop")
    events = [first] + w.read_until("synthesize-stopped")
    kinds = [e[0] for e in events if e]
    c.expect(first and first[0] == "audio-start" and kinds[-2:] == ["audio-stop", "synthesize-stopped"]
             and audio_bytes(events, rate)[0] > rate // 2,
             f"Wyoming streaming: audio as the sentences arrive, then stopped ({kinds[:3]}...{kinds[-2:]})")
    w.send("synthesize", {"text": "Hi.", "voice": {"name": "nobody"}})
    error = w.read()
    c.expect(error and error[0] == "error" and f'"{name}"' in error[1].get("text", "") and
             error[1].get("code"), f"Wyoming: an unknown voice is an error naming the voices ({error})")
    w.send("synthesize", {"text": ""})
    error = w.read()
    c.expect(error and error[0] == "error" and "empty" in error[1].get("text", ""),
             f"Wyoming: an empty text is refused ({error})")
    w.sock.sendall(b'{"type": "synthesize", "data_length": "lots"}\n')
    error = w.read()
    c.expect(error and error[0] == "error" and w.read() is None,
             f"Wyoming: a malformed event is answered with an error and the connection closed ({error})")
    w.close()


def start_stream(s, text, size=4096, **fields):
    """A pcm request with its first `size` bytes of audio read: (connection, response, bytes)."""
    conn = s.connection()
    conn.request("POST", "/v1/audio/speech", headers=AUTH, body=json.dumps(
        {"input": text, "response_format": "pcm", **fields}))
    r = conn.getresponse()
    got = b""
    while len(got) < size:
        piece = r.read1(size - len(got))
        if not piece:
            break
        got += piece
    return conn, r, got


def hang_up(conn):
    conn.sock.shutdown(socket.SHUT_RDWR)
    conn.close()


def check_two_voices_in_parallel(c, s, names):
    """Two voices speak at once over HTTP, each request as it speaks alone, and over Wyoming."""
    size = 16384
    alone = {}
    for name in names:
        conn, _, alone[name] = start_stream(s, LONG, size, voice=name, seed=5)
        hang_up(conn)
    streams = {name: start_stream(s, LONG, size, voice=name, seed=5) for name in names}
    # Neither stream has been read past its start: both syntheses are still running.
    busy = s.metric("korva_busy")
    for name, (conn, r, got) in streams.items():
        c.expect(r.status == 200 and len(got) == size and got == alone[name],
                 f"voice {name} beside the other: the same audio as alone")
        hang_up(conn)
    c.expect(busy == 2, f"two voices speaking at once over HTTP (korva_busy {busy})")
    # The syntheses hung up on stop at their next chunk.
    deadline = time.time() + WAIT
    while s.metric("korva_busy") and time.time() < deadline:
        time.sleep(0.1)

    rates = {v["name"]: v["sample_rate"] for v in json.loads(s.request("GET", "/v1/voices")[2])["voices"]}
    results = {}

    def speak(name):
        w = Wyoming(s.wyoming_port)
        w.send("synthesize", {"text": SHORT, "voice": {"name": name}})
        results[name] = w.read_until("audio-stop")
        w.close()

    threads = [threading.Thread(target=speak, args=(name,)) for name in names]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for name in names:
        events = results.get(name) or [None]
        size, chunks, formats_ok = audio_bytes(events, rates[name])
        c.expect(events[0] and events[0][0] == "audio-start" and events[-1][0] == "audio-stop" and
                 chunks > 0 and formats_ok,
                 f"Wyoming, two voices at once: {name} spoke {size} bytes in {chunks} chunks")


def check_hang_up(c, s):
    broken = s.metric("korva_streams_broken_total")
    conn, r, first = start_stream(s, LONG)
    hang_up(conn)
    c.expect(r.status == 200 and first, "hang-up: the stream had started")
    status, _, body = s.request("POST", "/v1/audio/speech", {"input": SHORT})
    c.expect(status == 200 and wav_samples(body) > 0, "after a hang-up, the next request is served")
    log = s.log_text()
    c.expect("stopped by the callback" in log and "(stream broken off)" in log,
             "the hang-up stopped its synthesis and was logged as broken off")
    c.expect(s.metric("korva_streams_broken_total") == broken + 1,
             "/metrics counts the broken stream")


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
    r = subprocess.run([server, "-m", "v.pt", "--host", "0.0.0.0"], capture_output=True,
                       timeout=60, env={k: v for k, v in os.environ.items() if k != "KORVA_API_KEY"})
    c.expect(r.returncode == 2 and b"--api-key" in r.stderr,
             "korva-serve beyond loopback without a key: refused (exit 2)")
    r = subprocess.run([korva, "serve", "-m", "/nonexistent.pt", "--port", "0"],
                       capture_output=True, timeout=WAIT)
    c.expect(r.returncode == 1 and b"cannot load the voice" in r.stderr.splitlines()[-1],
             "korva serve with a missing voice: exit 1 naming it")


def main():
    parser = argparse.ArgumentParser()
    for name in ("--server", "--korva", "--archive", "--voice2", "--work"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    if not os.path.exists(args.archive):
        print(f"SKIP: no voice archive at {args.archive} (needs ../shared)")
        return 77
    if not os.path.exists(args.voice2):
        print(f"SKIP: no second voice at {args.voice2} (ctest's make_default_voice makes it)")
        return 77
    if not shutil.which("curl"):
        print("SKIP: curl is not installed (scripts/setup installs it)")
        return 77
    os.makedirs(args.work, exist_ok=True)
    names = [os.path.splitext(os.path.basename(path))[0] for path in (args.archive, args.voice2)]
    c = Checks()
    check_command_line(c, args.server, args.korva)
    # One thread a request: a request alone and one beside another then run on
    # the same number of threads, whose sums would otherwise round apart.
    s = Server(args.server, args.archive, args.work, "server", "-m", args.voice2,
               "--workers", "2", "--threads", "1", "--queue", "1",
               "--max-input", "4096", "--max-audio", "4", "--request-timeout", str(REQUEST_TIMEOUT),
               "--max-client-connections", "30")
    try:
        wav_length = check_wav_with_curl(c, s, args.work)
        check_stream_chunks(c, s, wav_length)
        check_info_endpoints(c, s, names)
        check_key(c, s)
        check_malformed(c, s, names)
        check_work_limits(c, s)
        check_beyond_the_queue(c, s)
        check_slow_clients(c, s)
        check_wyoming(c, s, names)
        check_two_voices_in_parallel(c, s, names)
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
