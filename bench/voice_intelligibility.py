#!/usr/bin/python3
"""Scores the constructed voice and espeak-ng's own audio with the recogniser:
digits "one".."ten" and "zero".."nine" (grammar of the ten words), and the word
error rate of a few short sentences (full language model).

  voice_intelligibility.py --speak-lines BUILD/tests/speak_lines --voice VOICE.pt [--speed 1 --speed 0.909]
"""
import argparse
import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "tools", "voice"))

import recogniser as R  # noqa: E402


def score(speak):
    wavs = speak(R.ONE_TO_TEN + R.ZERO_TO_NINE + R.SENTENCES)   # one engine load for all
    return (R.word_score(wavs[:10], R.ONE_TO_TEN), R.word_score(wavs[10:20], R.ZERO_TO_NINE),
            R.word_error_rate(wavs[20:], R.SENTENCES))


def report(name, scores):
    print(f"{name:<28} one..ten {scores[0]:2d}/10   zero..nine {scores[1]:2d}/10   sentence WER {scores[2]:.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--speak-lines", required=True, help="the speak_lines test helper")
    parser.add_argument("--voice", required=True, help="constructed voice archive")
    parser.add_argument("--speed", type=float, action="append", help="korva speed (repeatable; default 1)")
    args = parser.parse_args()
    if R.missing_tools():
        sys.exit(f"missing: {', '.join(R.missing_tools())} (scripts/setup installs them)")
    with tempfile.TemporaryDirectory() as tmp:
        for speed in args.speed or [1.0]:
            def korva(texts):
                directory = os.path.join(tmp, f"korva-{speed}")
                os.makedirs(directory)
                return R.speak_with_korva(args.speak_lines, args.voice, texts, directory, speed)
            report(f"korva (speed {speed:g})", score(korva))

        def espeak(texts):
            directory = os.path.join(tmp, "espeak")
            os.makedirs(directory)
            return R.speak_with_espeak(texts, directory)
        report("espeak-ng (control)", score(espeak))


if __name__ == "__main__":
    main()
