#!/usr/bin/python3
"""The reference for bind-bench: torch.load of a state dict as large as a korva
voice, in a fresh interpreter. Prints wall time and peak RSS, and the RSS of the
interpreter with torch imported (the part that is not the load).

    bench/torch_load_bench.py [REPEATS]
"""
import os
import subprocess
import sys
import tempfile

EXPORT_DIR = os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "tools", "export")

# Each step runs in an interpreter of its own: Linux carries a parent's peak RSS
# over into a child's, so this one never holds torch or the tensors.
SAVE = """
import sys, torch
sys.path.insert(0, sys.argv[2])
from architecture import TENSORS
torch.save({t.name: torch.randn(t.shape) for t in TENSORS}, sys.argv[1])
print(torch.__version__, torch.get_num_threads())
"""

PROBE = """
import resource, sys, time, torch
base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
start = time.perf_counter()
state = torch.load(sys.argv[1])
took = time.perf_counter() - start
print(took, base / 1024, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024, len(state))
"""


def main():
    repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "state.pth")
        version, threads = subprocess.run([sys.executable, "-c", SAVE, path, EXPORT_DIR], check=True,
                                          capture_output=True, text=True).stdout.split()
        runs = []
        for _ in range(repeats):
            out = subprocess.run([sys.executable, "-c", PROBE, path], check=True, capture_output=True, text=True)
            runs.append([float(x) for x in out.stdout.split()])
    runs.sort()
    took, base, peak, count = runs[len(runs) // 2]
    print("| what | value |\n|---|---|")
    print(f"| torch | {version}, {threads} threads |")
    print(f"| tensors | {int(count)} |")
    print(f"| torch.load wall time, median of {repeats} (min-max) | {took:.3f} s "
          f"({runs[0][0]:.3f}-{runs[-1][0]:.3f}) |")
    print(f"| RSS with torch imported, before loading | {base:.0f} MiB |")
    print(f"| peak RSS after loading | {peak:.0f} MiB |")


if __name__ == "__main__":
    main()
