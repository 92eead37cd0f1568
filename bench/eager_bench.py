#!/usr/bin/python3
"""The PyTorch eager reference (vits_eager.py) timed as synthesis-bench times korva.

    eager_bench.py G.pth config.json [--ids 0,12,0,...] [--seed N] [--threads 1,2]
                   [--repeats N] [--only load,rtf] [--csv FILE]

load: vits_eager.load (torch.load, building the networks, folding weight norm)
in a fresh interpreter with torch already imported, the checkpoint in the page
cache. rtf: one request on the ids after a warm-up, per thread count; the
seconds of that request are also its time to first audio, since eager
inference has no audio before the whole waveform; and the peak resident memory
of the process. Figures are the median [min, max] of the repeats, as CSV rows
"quantity,configuration,median,min,max".
"""
import argparse
import csv
import json
import os
import statistics
import subprocess
import sys
import time

BENCH_DIR = os.path.dirname(os.path.realpath(__file__))

LOAD_CHILD = """
import sys, time, torch
sys.path.insert(0, sys.argv[1])
import vits_eager
torch.set_num_threads(int(sys.argv[4]))
start = time.perf_counter()
vits_eager.load(sys.argv[2], sys.argv[3])
print(time.perf_counter() - start)
"""


def row(quantity, configuration, values):
    return [quantity, configuration, statistics.median(values), min(values), max(values)]


def load_rows(a, threads):
    rows = []
    for n in threads:
        run = lambda: float(subprocess.run(  # noqa: E731
            [sys.executable, "-c", LOAD_CHILD, BENCH_DIR, a.checkpoint, a.config, str(n)],
            check=True, capture_output=True, text=True).stdout)
        run()  # brings the checkpoint into the page cache
        rows.append(row("load time, s", f"{n} threads", [run() for _ in range(a.repeats)]))
    return rows


def rtf_rows(a, threads):
    import torch
    sys.path.insert(0, BENCH_DIR)
    import vits_eager
    with open(a.config) as fh:
        rate = json.load(fh)["data"]["sampling_rate"]
    model = vits_eager.load(a.checkpoint, a.config)
    rows = []
    for n in threads:
        torch.set_num_threads(n)
        seconds, audio = [], 0.0
        for i in range(a.repeats + 1):  # the first is the warm-up
            torch.manual_seed(a.seed)
            start = time.perf_counter()
            wave = model.infer(a.ids)[0]
            if i:
                seconds.append(time.perf_counter() - start)
            audio = wave.numel() / rate
        rows.append(row("tts rtf", f"fp32 {n} threads", [s / audio for s in seconds]))
        rows.append(row("first audio s", f"{n} threads", seconds))
        rows.append(row("audio s", f"{n} threads", [audio]))
    peak = peak_rss_mib()
    rows.append(row("process peak RSS MiB", "", [peak]))
    return rows


def peak_rss_mib():
    """This process's peak resident set since it started its program (VmHWM).

    Not getrusage's ru_maxrss: that keeps the peak of the process before its exec,
    the whole parent that forked it, which would count the benchmark's driver.
    """
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("checkpoint")
    ap.add_argument("config")
    ap.add_argument("--ids", default="", help="framed token ids, comma-separated (for rtf)")
    ap.add_argument("--seed", type=int, default=0)
    ap.add_argument("--threads", default="1,2")
    ap.add_argument("--repeats", type=int, default=3)
    ap.add_argument("--only", default="load,rtf")
    ap.add_argument("--csv", help="write the rows here instead of standard output")
    a = ap.parse_args()
    a.ids = [int(i) for i in a.ids.split(",") if i]
    threads = [int(n) for n in a.threads.split(",") if n]
    sections = set(a.only.split(","))
    if "rtf" in sections and not a.ids:
        ap.error("rtf needs --ids")
    rows = [["quantity", "configuration", "median", "min", "max"]]
    if "load" in sections:
        rows += load_rows(a, threads)
    if "rtf" in sections:
        rows += rtf_rows(a, threads)
    if a.csv:
        with open(a.csv, "w", newline="") as out:
            csv.writer(out).writerows(rows)
    else:
        csv.writer(sys.stdout).writerows(rows)


if __name__ == "__main__":
    main()
