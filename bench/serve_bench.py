#!/usr/bin/python3
"""The speech server on loopback: requests per second and time to first byte
(median, p95) at 1, 4 and 16 concurrent clients, with one voice and with two,
with 1 and 2 synthesis workers, next to the engine's own time to first audio.

    bench/serve_bench.py --server build/tools/serve/korva-serve \\
        --library build/src/libkorva.so --voice VOICE.pt [--voice2 OTHER.pt] \\
        [--requests 16] [--seconds 120] [--json OUT]

The engine is timed first, in this process through the C API (korva_synthesize's
first callback). Then, for each number of voices and workers, one server
process on 127.0.0.1 (never another address) with a queue as deep as the most
clients; each client streams raw PCM ("response_format": "pcm") of the same
short text over its own connection, alternating between the voices when there
are two (the second is --voice2, or the first loaded again under another name).
Each level is bounded: at most --requests requests, and none started after
--seconds. Excluded: the voices' load and one warm-up request per voice. Time
to first byte counts from sending the request to the first byte of audio, so
under concurrency it includes the wait in the queue; requests per second are
those answered over the wall time of a level; "failed" counts requests that
broke or waited past the client's 600 s timeout. A configuration the server
refuses to start (a build that speaks one voice per process) is reported so.
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
HOST = "127.0.0.1"
KORVA_LOG_WARNING = 2  # korva.h
AUDIO_CB = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ctypes.c_float), ctypes.c_int,
                            ctypes.c_void_p)


def engine_first_audio(library, voice, repeats):
    """Seconds to korva_synthesize's first chunk and to its end, `repeats` times."""
    korva = ctypes.CDLL(library)
    # As the server runs it: the per-request statistics neither written nor computed.
    korva.korva_set_log_level(KORVA_LOG_WARNING)
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
    """One korva-serve on loopback; `error` holds why it did not start."""

    def __init__(self, binary, voices, workers, queue):
        args = [binary, "--host", HOST, "--port", "0", "--workers", str(workers),
                "--queue", str(queue), "--timeout", "600"]
        for name, path in voices:
            args += ["-m", f"{name}={path}"]
        self.process = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        text=True)
        self.port, self.error, log = None, None, []
        for line in self.process.stderr:
            log.append(line)
            m = re.search(r"listening on http://127\.0\.0\.1:(\d+)", line)
            if m:
                self.port = int(m.group(1))
            if line.startswith("[serve] ready"):
                break
        else:
            self.error = (log[-1].strip() if log else "no output")
            self.process.wait()
            return
        # Keep reading its log, so that the pipe never fills.
        threading.Thread(target=lambda: [None for _ in self.process.stderr], daemon=True).start()

    def speak(self, voice):
        """(status, seconds to the first byte, seconds to the end) of one streamed request."""
        c = http.client.HTTPConnection(HOST, self.port, timeout=600)
        start = time.perf_counter()
        c.request("POST", "/v1/audio/speech",
                  body=json.dumps({"input": TEXT, "voice": voice, "response_format": "pcm"}))
        r = c.getresponse()
        r.read1(1)
        first = time.perf_counter()
        r.read()
        c.close()
        return r.status, first - start, time.perf_counter() - start

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait()


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def run_level(server, voices, clients, requests, seconds):
    results, lock, issued = [], threading.Lock(), [0]
    start = time.perf_counter()

    def client():
        while True:
            with lock:
                if issued[0] == requests or time.perf_counter() - start > seconds:
                    return
                voice = voices[issued[0] % len(voices)]
                issued[0] += 1
            try:
                outcome = server.speak(voice)
            except (OSError, http.client.HTTPException):  # a timeout or a broken answer
                outcome = (0, None, None)
            with lock:
                results.append(outcome)

    threads = [threading.Thread(target=client) for _ in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    wall = time.perf_counter() - start
    served = [r for r in results if r[0] == 200]
    ttfb = [r[1] for r in served] or [float("nan")]
    return {"clients": clients, "requests": len(results), "served": len(served),
            "failed": sum(1 for r in results if r[0] == 0),
            "ttfb_median_ms": 1000 * statistics.median(ttfb),
            "ttfb_p95_ms": 1000 * percentile(ttfb, 0.95),
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
    parser.add_argument("--voice2", help="the second voice (default: --voice again)")
    parser.add_argument("--requests", type=int, default=16, help="most per level (default 16)")
    parser.add_argument("--seconds", type=float, default=120,
                        help="no request started after this long in a level (default 120)")
    parser.add_argument("--json", help="also write the figures here")
    args = parser.parse_args()

    print(f"# speech server on loopback\n\n{header()}\ntext: {TEXT!r}\n")
    engine = engine_first_audio(args.library, args.voice, max(3, args.requests // 4))
    first = statistics.median(r[0] for r in engine)
    total = statistics.median(r[1] for r in engine)
    print(f"engine (C API, in process): first audio {1000 * first:.0f} ms, "
          f"whole text {1000 * total:.0f} ms (median of {len(engine)})\n")

    shelves = {1: [("a", args.voice)], 2: [("a", args.voice), ("b", args.voice2 or args.voice)]}
    configurations = []
    print("| voices | workers | clients | requests | served | failed | TTFB median ms | "
          "TTFB p95 ms | requests/s |")
    print("|--:|--:|--:|--:|--:|--:|--:|--:|--:|")
    for n_voices, voices in shelves.items():
        for workers in (1, 2):
            server = Server(args.server, voices, workers, max(LEVELS))
            names = [name for name, _ in voices]
            if server.error:
                print(f"| {n_voices} | {workers} | the server did not start: {server.error} |")
                configurations.append({"voices": n_voices, "workers": workers,
                                       "error": server.error})
                continue
            try:
                for name in names:
                    server.speak(name)  # warm-up
                levels = [run_level(server, names, clients, max(args.requests, clients),
                                    args.seconds) for clients in LEVELS]
            finally:
                server.stop()
            for r in levels:
                print(f"| {n_voices} | {workers} | {r['clients']} | {r['requests']} | "
                      f"{r['served']} | {r['failed']} | {r['ttfb_median_ms']:.0f} | "
                      f"{r['ttfb_p95_ms']:.0f} | {r['requests_per_s']:.3f} |")
            configurations.append({"voices": n_voices, "workers": workers, "levels": levels})
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"header": header(), "text": TEXT,
                       "engine_first_audio_ms": 1000 * first, "engine_total_ms": 1000 * total,
                       "configurations": configurations}, f, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
