#!/usr/bin/python3
"""The speech server on loopback: time to first byte and requests per second at
1, 4 and 16 concurrent clients, next to the engine's own time to first audio.

    bench/serve_bench.py --server build/tools/serve/korva-serve \\
        --library build/src/libkorva.so --voice VOICE.pt [--requests 16] [--json OUT]

The engine is timed first, in this process through the C API (korva_synthesize's
first callback), then the server in its own process with a queue as deep as the
most clients, each client streaming raw PCM ("response_format": "pcm") of the
same short text over its own connection. Excluded: the voice's load and one
warm-up synthesis on each side. Time to first byte counts from sending the
request to the first byte of audio, so under concurrency it includes the wait in
the queue; requests per second are those answered over the wall time of a level;
"failed" counts requests that broke or waited past the client's 600 s timeout.
"""
import argparse
import ctypes
import http.client
import json
import os
import platform
import re
import statistics
import subprocess
import sys
import threading
import time

TEXT = "Hello, world! A quick test."
LEVELS = (1, 4, 16)
AUDIO_CB = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ctypes.c_float), ctypes.c_int,
                            ctypes.c_void_p)


def engine_first_audio(library, voice, repeats):
    """Seconds to korva_synthesize's first chunk and to its end, `repeats` times."""
    korva = ctypes.CDLL(library)
    korva.korva_load.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    korva.korva_synthesize.argtypes = [ctypes.c_char_p, ctypes.c_void_p, AUDIO_CB,
                                       ctypes.c_void_p]
    if korva.korva_load(voice.encode(), None) != 0:
        sys.exit(f"serve_bench: cannot load {voice}")
    first = []

    def on_audio(_samples, _count, _user):
        if first[-1] is None:
            first[-1] = time.perf_counter()
        return 0

    callback = AUDIO_CB(on_audio)
    runs = []
    for i in range(repeats + 1):
        first.append(None)
        start = time.perf_counter()
        korva.korva_synthesize(TEXT.encode(), None, callback, None)
        if i:  # the first is the warm-up
            runs.append((first[-1] - start, time.perf_counter() - start))
    korva.korva_unload()
    return runs


class Server:
    def __init__(self, binary, voice, queue):
        self.process = subprocess.Popen(
            [binary, "-m", voice, "--port", "0", "--queue", str(queue), "--timeout", "600"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.port = None
        for line in self.process.stderr:
            m = re.search(r"listening on http://127\.0\.0\.1:(\d+)", line)
            if m:
                self.port = int(m.group(1))
            if line.startswith("[serve] ready"):
                break
        if self.port is None:
            sys.exit("serve_bench: the server did not start")
        # Keep reading its log, so that the pipe never fills.
        threading.Thread(target=lambda: [None for _ in self.process.stderr], daemon=True).start()

    def speak(self):
        """(status, seconds to the first byte, seconds to the end) of one streamed request."""
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=600)
        start = time.perf_counter()
        c.request("POST", "/v1/audio/speech",
                  body=json.dumps({"input": TEXT, "response_format": "pcm"}))
        r = c.getresponse()
        r.read1(1)
        first = time.perf_counter()
        r.read()
        c.close()
        return r.status, first - start, time.perf_counter() - start

    def stop(self):
        self.process.terminate()
        self.process.wait()


def run_level(server, clients, requests):
    results, lock, left = [], threading.Lock(), [requests]

    def client():
        while True:
            with lock:
                if left[0] == 0:
                    return
                left[0] -= 1
            try:
                outcome = server.speak()
            except (OSError, http.client.HTTPException):  # a timeout or a broken answer
                outcome = (0, None, None)
            with lock:
                results.append(outcome)

    threads = [threading.Thread(target=client) for _ in range(clients)]
    start = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    wall = time.perf_counter() - start
    served = [r for r in results if r[0] == 200]
    ttfb = sorted(r[1] for r in served) or [float("nan")]
    return {"clients": clients, "requests": len(results), "served": len(served),
            "failed": sum(1 for r in results if r[0] == 0),
            "ttfb_median_ms": 1000 * statistics.median(ttfb),
            "ttfb_p90_ms": 1000 * ttfb[min(len(ttfb) - 1, int(0.9 * len(ttfb)))],
            "requests_per_s": len(served) / wall}


def header():
    cpu = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            cpu = re.search(r"model name\s*:\s*(.*)", f.read()).group(1)
    except (OSError, AttributeError):
        pass
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True,
                            text=True, cwd=os.path.dirname(os.path.abspath(__file__))).stdout.strip()
    return (f"{cpu}, {os.cpu_count()} CPUs, load average {os.getloadavg()[0]:.1f}, "
            f"Python {platform.python_version()}, commit {commit or '?'}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--server", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--voice", required=True)
    parser.add_argument("--requests", type=int, default=16, help="per level (default 16)")
    parser.add_argument("--json", help="also write the figures here")
    args = parser.parse_args()

    print(f"# speech server on loopback\n\n{header()}\ntext: {TEXT!r}\n")
    engine = engine_first_audio(args.library, args.voice, max(3, args.requests // 4))
    first = statistics.median(r[0] for r in engine)
    total = statistics.median(r[1] for r in engine)
    print(f"engine (C API, in process): first audio {1000 * first:.0f} ms, "
          f"whole text {1000 * total:.0f} ms (median of {len(engine)})\n")

    server = Server(args.server, args.voice, max(LEVELS))
    try:
        server.speak()  # warm-up
        levels = [run_level(server, clients, max(args.requests, clients)) for clients in LEVELS]
    finally:
        server.stop()
    print("| clients | requests | served | failed | TTFB median ms | TTFB p90 ms | requests/s |")
    print("|--:|--:|--:|--:|--:|--:|--:|")
    for r in levels:
        print(f"| {r['clients']} | {r['requests']} | {r['served']} | {r['failed']} | "
              f"{r['ttfb_median_ms']:.0f} | {r['ttfb_p90_ms']:.0f} | {r['requests_per_s']:.3f} |")
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"header": header(), "text": TEXT,
                       "engine_first_audio_ms": 1000 * first, "engine_total_ms": 1000 * total,
                       "levels": levels}, f, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
