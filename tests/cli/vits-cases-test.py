#!/usr/bin/python3
"""Every case of the shared VITS golden file, spoken through `korva speak`.

    vits-cases-test.py --korva PATH --export PATH --work DIR [--golden DIR]

Each shape's checkpoint is generated once per run (make_vits_checkpoint.py),
converted with `korva-export --from-vits`, and each case is spoken from its
framed ids at the voice's native rate as raw float32, then compared with what
the public VITS code computed: frame count and per-token frames exactly, the
waveform within the file's tolerance (ten times it, as the file allows on
another CPU type). Exit status 0 when every case matches, 1 when one does
not, 77 (skipped) without the shared golden data.
"""
import argparse
import array
import json
import os
import re
import subprocess
import sys
import zipfile

PYTHON = "/usr/bin/python3"
# The file's tolerance is for the CPU type it was computed on; it allows ten times more elsewhere.
OTHER_CPU = 10.0


def run(args):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=900)


def make_voice(golden, shape, seed, work, export):
    """The converted archive of one shape, or (None, reason)."""
    pth, config, archive = (os.path.join(work, f"{shape}{ext}") for ext in (".pth", ".json", ".pt"))
    made = run([PYTHON, os.path.join(golden, "make_vits_checkpoint.py"), "--shape", shape,
                "--seed", str(seed), "--out", pth, "--config-out", config])
    if made.returncode != 0:
        return None, "make_vits_checkpoint.py failed:\n" + made.stderr.decode(errors="replace")
    converted = run([export, "--from-vits", pth, "--config", config, "--out", archive])
    os.remove(pth)  # the generated checkpoint is never kept
    if converted.returncode != 0:
        return None, "korva-export --from-vits failed:\n" + converted.stderr.decode(errors="replace")
    return archive, None


def speak(korva, archive, case, out):
    args = [korva, "speak", "-v", "-m", archive, "--ids", ",".join(map(str, case["ids"])),
            "--seed", str(case["seed"]), "--noise-scale", str(case["noise_scale"]),
            "--noise-scale-w", str(case["noise_scale_w"]),
            "--length-scale", str(case["length_scale"]), "--rate", "native", "--format", "f32",
            "-o", out]
    if case["sid"]:
        args[2:2] = ["--speaker", str(case["sid"])]
    return run(args)


def read_f32(path):
    values = array.array("f")
    with open(path, "rb") as fh:
        values.frombytes(fh.read())
    if sys.byteorder != "little":
        values.byteswap()
    return values


def check_case(korva, archive, case, golden, tolerance, work):
    """'' when the case matches, else what differs."""
    out = os.path.join(work, case["name"] + ".f32")
    r = speak(korva, archive, case, out)
    stderr = r.stderr.decode(errors="replace")
    if r.returncode != 0:
        return f"korva speak failed (exit {r.returncode}):\n{stderr[-2000:]}"
    expected = case["expected"]
    frames = re.search(r"\[korva\] T_dec=(\d+)", stderr)
    if not frames or int(frames.group(1)) != expected["T"]:
        return f"T: expected {expected['T']}, got {frames and frames.group(1)}"
    # The library prints the frames of the first 23 tokens.
    per_token = re.search(r"\[korva\] w_ceil per token:([ \d]*)", stderr)
    got = [int(v) for v in per_token.group(1).split()] if per_token else None
    if got != expected["w_ceil"][:23]:
        return f"w_ceil: expected {expected['w_ceil'][:23]}, got {got}"
    wave = read_f32(out)
    reference = read_f32(os.path.join(golden, case["waveform_file"]))
    if len(wave) != expected["n_samples"] or len(reference) != len(wave):
        return f"samples: expected {expected['n_samples']}, got {len(wave)}"
    diffs = [abs(a - b) for a, b in zip(wave, reference)]
    worst = max(range(len(diffs)), key=diffs.__getitem__)
    limit = tolerance["wave_abs"] * OTHER_CPU
    if diffs[worst] > limit:
        return (f"waveform: max |diff| {diffs[worst]:.3g} at sample {worst} "
                f"(korva {wave[worst]:.6f}, reference {reference[worst]:.6f}) > {limit:.3g}")
    print(f"  {case['name']}: T={expected['T']}, max |diff| {diffs[worst]:.3g}")
    return ""


def with_description(archive, change, out):
    """A copy of `archive` whose voice.json is change(description)."""
    import torch  # only here: the cases themselves need no torch in this process
    with zipfile.ZipFile(archive) as z:
        records = {name.split("/", 1)[1]: z.read(name) for name in z.namelist()}
    description = json.loads(records["voice.json"])
    change(description)
    records["voice.json"] = json.dumps(description).encode()
    writer = torch._C.PyTorchFileWriter(out)
    for name, data in records.items():
        if name != "version":
            writer.write_record(name, data, len(data))
    writer.write_end_of_file()
    del writer


def check_refused_description(korva, archive, work):
    """'' when a voice.json that cannot be a voice is refused naming its field."""
    bad = os.path.join(work, "bad-description.pt")
    with_description(archive, lambda d: d["decoder"].update(upsample_rates=[8, 8, 2, 3]), bad)
    r = run([korva, "speak", "-m", bad, "--ids", "0,1,0", "--rate", "native", "--format", "f32",
             "-o", os.path.join(work, "never.f32")])
    os.remove(bad)
    stderr = r.stderr.decode(errors="replace")
    if r.returncode == 1 and "voice.json: decoder.upsample_kernel_sizes[3]" in stderr:
        return ""
    return f"a bad voice.json was not refused by name (exit {r.returncode}):\n{stderr[-1500:]}"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korva", required=True)
    ap.add_argument("--export", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--golden", default=os.path.join(os.path.dirname(__file__), "..", "..", "..",
                                                     "shared", "golden"))
    a = ap.parse_args()
    cases_path = os.path.join(a.golden, "vits-cases.json")
    if not os.path.exists(cases_path):
        print(f"skipped: no shared golden data at {a.golden}")
        return 77
    os.makedirs(a.work, exist_ok=True)
    with open(cases_path) as fh:
        golden = json.load(fh)
    failed = []
    for shape, about in golden["checkpoints"].items():
        archive, problem = make_voice(a.golden, shape, about["seed"], a.work, a.export)
        cases = [c for c in golden["cases"] if c["shape"] == shape]
        if not archive:
            failed += [f"{case['name']}: {problem}" for case in cases]
            continue
        for case in cases:
            problem = check_case(a.korva, archive, case, a.golden, golden["tolerance"], a.work)
            if problem:
                failed.append(f"{case['name']}: {problem}")
        if shape == "ljs":
            problem = check_refused_description(a.korva, archive, a.work)
            if problem:
                failed.append(f"refusal: {problem}")
        os.remove(archive)
    for line in failed:
        print("FAIL " + line)
    print(f"{len(golden['cases']) - len(failed)} of {len(golden['cases'])} cases match")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
