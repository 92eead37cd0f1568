#!/usr/bin/python3
"""Drives the korva command-line tool the way a user does.

    cli-test.py unit  --korva PATH --work DIR
    cli-test.py model --korva PATH --work DIR --archive VOICE.pt --readme-example PATH

Exit status 0 when every check passes, 1 when one fails, 77 (skipped) when the
model group has no voice archive.
"""
import argparse
import array
import json
import os
import pty
import re
import struct
import subprocess
import sys

HELLO_IPA = "həlˈoʊ , wˈɚld !"  # the pinned lexicon's pronunciation
HELLO_IDS = ("2 3 9 3 29 3 13 3 16 3 36 3 42 3 44 3 42 3 22 3 30 3 13 3 6 3 42 3 43 3 1")
SAMPLE_RATE = 48000


class Checks:
    def __init__(self, korva, work):
        self.korva, self.work, self.failed, self.passed = korva, work, [], 0

    def run(self, args, stdin=b"", stdout=subprocess.PIPE, env=None):
        return subprocess.run([self.korva] + args, input=stdin, stdout=stdout,
                              stderr=subprocess.PIPE, timeout=600,
                              env=None if env is None else {**os.environ, **env})

    def expect(self, ok, what, result=None):
        if ok:
            self.passed += 1
            return
        detail = ""
        if result is not None:
            detail = f"\n    exit {result.returncode}; stderr:\n      " + \
                result.stderr.decode(errors="replace").rstrip().replace("\n", "\n      ")
        self.failed.append(what + detail)

    def path(self, name):
        return os.path.join(self.work, name)

    def expect_failure(self, args, status, reason, stdin=b"", env=None):
        """A failure ends in exactly one "korva:" line, the last one on stderr."""
        r = self.run(args, stdin, env=env)
        lines = r.stderr.decode(errors="replace").splitlines()
        ours = [line for line in lines if line.startswith("korva:")]
        what = f"korva {' '.join(args)}"
        self.expect(r.returncode == status, f"{what}: exit {status}", r)
        self.expect(len(ours) == 1 and lines[-1] == ours[0] and reason in ours[0],
                    f"{what}: one 'korva:' line naming '{reason}'", r)
        self.expect(r.stdout == b"", f"{what}: nothing on stdout", r)


def samples_reported(stderr):
    """The sample count from the library's "[korva] N samples" line."""
    m = re.search(rb"\[korva\] (\d+) samples", stderr)
    return int(m.group(1)) if m else -1


def check_help_and_version(c):
    for args in (["--help"], ["-h"], ["speak", "--help"], ["phonemize", "-h"],
                 ["inspect", "--help"]):
        r = c.run(args)
        c.expect(r.returncode == 0 and r.stdout.startswith(b"usage: korva") and not r.stderr,
                 f"korva {' '.join(args)} prints usage", r)
    speak_help = c.run(["speak", "--help"]).stdout.decode()
    c.expect("-m, --model" in speak_help and "'-' writes raw" in speak_help,
             "speak --help documents -m and -o -")
    for args in (["--version"], ["speak", "--version"], ["phonemize", "--version"],
                 ["inspect", "--version"]):
        r = c.run(args)
        c.expect(r.returncode == 0 and re.fullmatch(rb"korva \d+\.\d+\n", r.stdout),
                 f"korva {' '.join(args)} prints the version", r)


def check_usage_errors(c):
    wav = c.path("never.wav")
    c.expect_failure([], 2, "no command given")
    c.expect_failure(["frobnicate"], 2, "unknown command 'frobnicate'")
    c.expect_failure(["--frobnicate"], 2, "unknown option '--frobnicate'")
    c.expect_failure(["speak", "--bogus", "hi"], 2, "unknown option '--bogus'")
    c.expect_failure(["speak", "hi", "-m"], 2, "option '-m' needs a value")
    for speed in ("fast", "0", "nan", "1.5x"):
        c.expect_failure(["speak", "-m", "v.pt", "-o", wav, "--speed", speed, "hi"], 2,
                         "--speed needs a positive number")
    c.expect_failure(["speak", "-m", "v.pt", "-o", wav, "--stream", "hi"], 2,
                     "--stream writes raw PCM to standard output")
    c.expect_failure(["speak", "-m", "v.pt", "-o", "-", "--stream=yes", "hi"], 2,
                     "option '--stream=yes' takes no value")
    c.expect_failure(["speak", "-m", "v.pt", "-o", wav, "--precision", "fp16", "hi"], 2,
                     "--precision is fp32 or bf16")
    for silence in ("-1", "61", "soon"):
        c.expect_failure(["speak", "-m", "v.pt", "-o", wav, "--sentence-silence", silence, "hi"], 2,
                         "--sentence-silence needs 0 to 60 seconds")
    c.expect_failure(["speak", "-m", "v.pt", "-o", wav, "--ssml=yes", "hi"], 2,
                     "option '--ssml=yes' takes no value")

    for option, value, reason in (
            ("--rate", "22050", "--rate is 48000 or native"),
            ("--format", "f64", "--format is wav or f32"),
            ("--ids", "0,,3", "--ids needs token ids separated by commas"),
            ("--ids", "0,-1", "--ids needs token ids"),
            ("--seed", "-2", "--seed needs a whole number"),
            ("--noise-scale", "-0.1", "--noise-scale needs a non-negative number"),
            ("--length-scale", "0", "--length-scale needs a positive number"),
            ("--speaker", "", "--speaker needs a speaker id or name")):
        c.expect_failure(["speak", "-m", "v.pt", "-o", wav, option, value, "hi"], 2, reason)
    c.expect_failure(["speak", "-m", "v.pt", "-o", wav, "--ids", "0,1,0", "hi"], 2,
                     "either TEXT or --ids")
    c.expect_failure(["speak", "-m", "v.pt", "-o", "-", "--stream", "--format", "f32", "hi"], 2,
                     "--stream speaks text as 16-bit PCM")
    c.expect_failure(["inspect"], 2, "exactly one archive")
    c.expect_failure(["inspect", "a.pt", "b.pt"], 2, "exactly one archive")
    c.expect(not os.path.exists(wav), "no WAV file after usage errors")


def check_runtime_errors(c):
    missing = c.path("missing.pt")
    garbage = c.path("garbage.pt")
    with open(garbage, "wb") as f:
        f.write(b"not a zip archive\n" * 10)
    c.expect_failure(["inspect", missing], 1, f"cannot read the archive '{missing}'")
    c.expect_failure(["inspect", garbage], 1, f"cannot read the archive '{garbage}'")
    wav = c.path("unloaded.wav")
    c.expect_failure(["speak", "-m", missing, "-o", wav, "hi"], 1,
                     f"cannot load the voice '{missing}'")
    c.expect(not os.path.exists(wav), "no WAV file when the voice cannot be loaded")
    # As on a CPU without native bfloat16, whatever this one has.
    c.expect_failure(["speak", "-m", missing, "-o", wav, "--precision", "bf16", "hi"], 1,
                     "--precision bf16 needs a CPU with AVX512_BF16 or AMX-BF16",
                     env={"KORVA_CPU_HIDE": "avx512_bf16,amx_bf16"})

    # Raw samples would garble a terminal: refused before anything is loaded.
    controller, terminal = pty.openpty()
    try:
        r = c.run(["speak", "-m", missing, "-o", "-", "hi"], stdout=terminal)
    finally:
        os.close(terminal)
        os.close(controller)
    c.expect(r.returncode == 2 and r.stderr.startswith(b"korva: refusing to write raw audio"),
             "speak -o - to a terminal is refused", r)


def check_phonemize(c):
    expected = f"{HELLO_IPA}\n{HELLO_IDS}\n".encode()
    r = c.run(["phonemize", "Hello,", "world!"])
    c.expect(r.returncode == 0 and r.stdout == expected, "phonemize: IPA and ids of the words", r)
    r = c.run(["phonemize"], stdin=b"Hello, world!\n")
    c.expect(r.returncode == 0 and r.stdout == expected, "phonemize: text from stdin", r)
    r = c.run(["phonemize", "--", "--help"])
    c.expect(r.returncode == 0 and not r.stdout.startswith(b"usage") and r.stdout.count(b"\n") == 2,
             "phonemize: after '--', '--help' is text", r)
    r = c.run(["phonemize"], stdin=b"")
    c.expect(r.returncode == 0 and r.stdout == b"\n2 3 1\n", "phonemize: empty text", r)
    r = c.run(["phonemize", "--espeak-data", c.path("no-such-dir"), "hi"])
    c.expect(r.returncode == 1 and r.stderr.rstrip().endswith(b"korva: cannot initialise espeak-ng"),
             "phonemize: bad --espeak-data fails", r)
    c.expect_failure(["phonemize", "--raw-text", "hi"], 2, "--raw-text and --ssml need a voice (-m)")


def check_phonemize_voice(c, archive):
    # Per utterance as the voice reads the text: normalised, sentence by sentence.
    r = c.run(["phonemize", "-m", archive, "Hello, world! Dr. Smith paid $5."])
    lines = r.stdout.decode().splitlines()
    c.expect(r.returncode == 0 and len(lines) == 4 and f"{lines[0]}\n{lines[1]}\n" == f"{HELLO_IPA}\n{HELLO_IDS}\n"
             and "fˈaɪv dˈɑlɚz" in lines[2], "phonemize -m: the voice's utterances, two lines each", r)
    r = c.run(["phonemize", "-m", archive, "--raw-text", "$5"])
    c.expect(r.returncode == 0 and r.stdout == b"\n2 3 1\n", "phonemize -m --raw-text: the text as written", r)


def check_normalise(c):
    """The issue's sentence as one line of words, from operands and from stdin."""
    text = "I paid $5.50 on 12/09/2026 at 3:45pm for Dr. Smith's 2nd book, e.g. 1,234 pages!"
    expected = ("I paid five dollars and fifty cents on December ninth, twenty twenty-six at "
                "three forty-five p m for doctor Smith's second book, for example one thousand "
                "two hundred thirty-four pages!\n").encode()
    r = c.run(["normalise"] + text.split(" "))
    c.expect(r.returncode == 0 and r.stdout == expected and not r.stderr,
             "normalise: the spoken form on one line", r)
    r = c.run(["normalise"], stdin=b"caf\xc3\xa9 \xff 42%\n\nNext")
    c.expect(r.returncode == 0 and r.stdout == b"cafe forty-two percent. Next\n",
             "normalise: stdin, invalid UTF-8 dropped, a blank line ends a sentence", r)
    r = c.run(["normalise", "--help"])
    c.expect(r.returncode == 0 and r.stdout.startswith(b"usage: korva normalise"),
             "normalise --help prints usage", r)


def write_tiny_archive(path):
    """Three tensors in two records, through the same zip writer as real voices."""
    import torch  # only here: the other checks need no torch
    manifest = {
        "b.weight": {"storage_key": "0", "offset": 0, "shape": [2, 3], "stride": [3, 1],
                     "numel": 6},
        "a.bias": {"storage_key": "0", "offset": 6, "shape": [4], "stride": [1], "numel": 4},
        "c.scale": {"storage_key": "1", "offset": 0, "shape": [], "stride": [], "numel": 1},
    }
    w = torch._C.PyTorchFileWriter(path)
    text = json.dumps(manifest).encode()
    w.write_record("manifest.json", text, len(text))
    w.write_record("data/0", bytes(40), 40)
    w.write_record("data/1", bytes(4), 4)
    w.write_end_of_file()


def check_readme_example_in_sync(c):
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(__file__))))
    example = open(os.path.join(root, "tests/api/readme-example.c")).read()
    readme = open(os.path.join(root, "README.md")).read()
    c.expect("```c\n" + example + "```" in readme,
             "README.md shows tests/api/readme-example.c verbatim")


def check_inspect_tiny(c):
    archive = c.path("tiny.pt")
    write_tiny_archive(archive)
    r = c.run(["inspect", archive])
    rows = [line.split() for line in r.stdout.decode().splitlines()]
    c.expect(r.returncode == 0 and rows == [
        ["3", "tensors"],
        ["a.bias", "[4]", "0", "6"],
        ["b.weight", "[2,3]", "0", "0"],
        ["c.scale", "[]", "1", "0"],
    ], f"inspect: count, then name, shape, key, offset by name; got {rows}", r)


def wav_fields(data):
    """The canonical 44-byte header, or None when the bytes are not one."""
    if len(data) < 44 or data[:4] != b"RIFF" or data[8:16] != b"WAVE" + b"fmt ":
        return None
    riff_size, = struct.unpack_from("<I", data, 4)
    fmt = struct.unpack_from("<IHHIIHH", data, 16)
    if data[36:40] != b"data":
        return None
    data_size, = struct.unpack_from("<I", data, 40)
    return {"riff_size": riff_size, "fmt": fmt, "data_size": data_size}


def check_inspect_voice(c, archive):
    r = c.run(["inspect", archive])
    lines = r.stdout.decode().splitlines()
    c.expect(r.returncode == 0 and lines[:1] == ["834 tensors"] and len(lines) == 835
             and all(len(line.split()) == 4 for line in lines[1:]),
             "inspect: the voice lists 834 tensors, one line each", r)


def check_speak(c, archive):
    text = "Hello, world!"
    wav = c.path("hello.wav")
    r = c.run(["speak", "-v", "-m", archive, "-o", wav, text])
    n = samples_reported(r.stderr)
    c.expect(r.returncode == 0 and n > 0, "speak -o FILE succeeds", r)
    data = open(wav, "rb").read() if os.path.exists(wav) else b""
    header = wav_fields(data)
    c.expect(header == {"riff_size": 36 + 2 * n, "fmt": (16, 1, 1, SAMPLE_RATE, 2 * SAMPLE_RATE,
                                                         2, 16), "data_size": 2 * n}
             and len(data) == 44 + 2 * n,
             f"speak: 48 kHz mono 16-bit WAV of 44 + 2n bytes (n={n}, got {header}, "
             f"{len(data)} bytes)")

    # A fresh process draws the same noise, so raw output must equal the WAV's data.
    r = c.run(["speak", "-m", archive, "-o", "-", "--verbose", text])
    c.expect(r.returncode == 0 and samples_reported(r.stderr) == n and len(r.stdout) == 2 * n,
             f"speak -o -: 2n bytes on stdout (n={n}, got {len(r.stdout)})", r)
    c.expect(r.stdout == data[44:], "speak -o -: the same samples as the WAV data")

    # Streamed: the same audio before peak normalisation, so scaled down by the gain.
    r = c.run(["speak", "-m", archive, "-o", "-", "--stream", "-v", text])
    streamed = array.array("h", r.stdout)
    normalised = array.array("h", data[44:])
    c.expect(r.returncode == 0 and len(streamed) == n and b"samples streamed" in r.stderr,
             f"speak --stream -o -: n samples on stdout (n={n}, got {len(streamed)})", r)
    if len(streamed) == n and n > 0:
        gain = max(map(abs, normalised)) / max(1, max(map(abs, streamed)))
        worst = max(abs(w - s * gain) for w, s in zip(normalised, streamed))
        c.expect(gain >= 1 and worst <= gain + 2,
                 f"speak --stream: the WAV's samples divided by its gain (gain {gain:.2f}, "
                 f"worst difference {worst:.1f})")

    r = c.run(["speak", "-m", archive, "-o", "-"], stdin=text.encode() + b"\n")
    c.expect(r.returncode == 0 and r.stdout == data[44:], "speak: text from stdin", r)
    c.expect(r.stderr == b"", "speak without -v writes nothing on stderr when all goes well", r)

    r = c.run(["speak", "-v", "-m", archive, "-o", "-", "--speed", "2", text])
    fast = samples_reported(r.stderr)
    c.expect(r.returncode == 0 and 0 < fast < n, f"speak --speed 2 is shorter ({fast} < {n})", r)

    # Outputs that cannot be written are refused before the voice loads (it is missing here).
    missing_dir = c.path("no-such-dir/out.wav")
    c.expect_failure(["speak", "-m", c.path("missing.pt"), "-o", missing_dir, text], 1,
                     f"cannot write '{missing_dir}': there is no directory")
    c.expect_failure(["speak", "-m", c.path("missing.pt"), "-o", c.path("t.wav"), "--timings",
                      c.work, text], 1, f"cannot write '{c.work}': it is a directory")
    c.expect_failure(["speak", "-m", archive, "-o", c.path("nul.wav")], 1,
                     "the text contains a NUL byte", stdin=b"first\0second")


def check_timing_files(c, archive):
    """--timings and --subtitles with every output format, from any text."""
    text = "Tom & Jerry: 3 < 5 --> caf\xe9.\n\nMy friend."
    timings, subtitles = c.path("t.json"), c.path("t.vtt")
    r = c.run(["speak", "-m", archive, "--format", "f32", "-o", c.path("t.f32"), "--timings",
               timings, "--subtitles", subtitles], stdin=text.encode("latin-1"))
    c.expect(r.returncode == 0 and os.path.exists(timings) and os.path.exists(subtitles),
             "speak --format f32 writes the timing files too", r)
    with open(timings, "rb") as f:
        words = json.loads(f.read().decode("utf-8"))["words"]  # UTF-8 even from Latin-1 input
    c.expect(len(words) >= 5, "timings: UTF-8 JSON whatever bytes the text has")
    with open(subtitles) as f:
        cues = f.read().split("\n\n")[1:]
    c.expect(cues and all(len(cue.strip().split("\n")) == 2 for cue in cues) and
             all(cue.count("-->") == 1 and "<" not in cue and "& " not in cue for cue in cues),
             f"subtitles: one line per cue, & < > escaped ({cues!r:.200})")


def check_readme_example(c, archive, example):
    wav = c.path("goodbye.wav")
    r = subprocess.run([example, archive, wav], capture_output=True, timeout=600)
    c.expect(r.returncode == 0 and re.match(rb"\d+ samples \(\d+\.\d\d s\), peak 0\.95\n", r.stdout)
             and wav_fields(open(wav, "rb").read()) is not None,
             "the README's C example speaks and writes its WAV", r)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("group", choices=["unit", "model"])
    ap.add_argument("--korva", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--archive")
    ap.add_argument("--readme-example")
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    c = Checks(args.korva, args.work)

    if args.group == "unit":
        check_help_and_version(c)
        check_usage_errors(c)
        check_runtime_errors(c)
        check_phonemize(c)
        check_normalise(c)
        check_inspect_tiny(c)
        check_readme_example_in_sync(c)
    else:
        if not args.archive or not os.path.exists(args.archive):
            print(f"SKIPPED: no voice archive at {args.archive} (shared golden data absent)")
            return 77
        check_inspect_voice(c, args.archive)
        check_phonemize_voice(c, args.archive)
        check_speak(c, args.archive)
        check_timing_files(c, args.archive)
        check_readme_example(c, args.archive, args.readme_example)

    for failure in c.failed:
        print("FAILED:", failure)
    print(f"{args.group}: {c.passed} passed, {len(c.failed)} failed")
    return 1 if c.failed else 0


if __name__ == "__main__":
    sys.exit(main())
