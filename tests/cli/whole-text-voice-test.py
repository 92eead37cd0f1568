#!/usr/bin/python3
"""A voice of a whole-text front-end (here `characters`) reading real text.

    whole-text-voice-test.py --korva PATH --work DIR

A tiny random voice with a description is written for the run: it makes noise,
quickly, and its framing is that of a converted voice. A sentence too long for
one utterance is spoken whole, in pieces, every frame delivered; normalised
text reaches the voice as words, raw text keeps its digits (which the table
lacks). Exit status 0 when all holds.
"""
import argparse
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "export"))
from tiny_voice import write_tiny_voice  # noqa: E402

LETTERS = " ,.abcdefghijklmnopqrstuvwxyz"
HOP = 256


def tiny_voice(path):
    write_tiny_voice(path, {"kind": "characters", "blank": 0,
                            "symbols": {c: [i + 1] for i, c in enumerate(LETTERS)}}, len(LETTERS) + 1)


def speak(korva, voice, out, text, *flags):
    # -v: the pieces are counted from the progress lines.
    r = subprocess.run([korva, "speak", "-v", "-m", voice, "--rate", "native", "--format", "f32",
                        "--seed", "1", "-o", out, *flags, text],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    return r.returncode, r.stderr.decode(errors="replace")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--korva", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    os.makedirs(a.work, exist_ok=True)
    voice, out = os.path.join(a.work, "tiny.pt"), os.path.join(a.work, "out.f32")
    tiny_voice(voice)
    failed = []

    # Some 5,300 ids framed with blanks: over the 4,096 of one utterance.
    sentence = ", ".join(["the quick brown fox jumps over the lazy dog"] * 60) + "."
    code, log = speak(a.korva, voice, out, sentence, "--raw-text")
    frames = [int(t) for t in re.findall(r"\[korva\] T_dec=(\d+)", log)]
    if code != 0:
        failed.append(f"long sentence: exit {code}\n{log[-1500:]}")
    elif len(frames) < 2 or os.path.getsize(out) // 4 != sum(frames) * HOP:
        failed.append(f"long sentence: {len(frames)} pieces, {os.path.getsize(out) // 4} samples "
                      f"for {sum(frames)} frames of {HOP}")
    if "[korva] WARNING: the archive did not provide" in log:
        failed.append("a converted voice's archive is reported as incomplete")

    money = "I paid $5 on the 2nd."
    code, log = speak(a.korva, voice, out, money)
    if code != 0 or "symbol '5' is not in" in log:
        failed.append(f"normalised text did not reach the voice as words (exit {code})\n{log[-800:]}")
    code, log = speak(a.korva, voice, out, money, "--raw-text")
    if code != 0 or "symbol '5' is not in" not in log:
        failed.append(f"raw text was normalised (exit {code})\n{log[-800:]}")

    for line in failed:
        print("FAIL " + line)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
