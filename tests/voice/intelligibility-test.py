#!/usr/bin/python3
"""The constructed voice must be understood: a recogniser limited to the ten
words of each set gets at least 9 of "one".."ten" and 9 of "zero".."nine",
each spoken as an utterance of its own. Exit 77 (skip) without the recogniser."""
import argparse
import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "..", "tools", "voice"))

import recogniser as R  # noqa: E402

PASS_MARK = 9


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--speak-lines", required=True)
    parser.add_argument("--voice", required=True)
    args = parser.parse_args()
    missing = R.missing_tools()
    if missing:
        print(f"skipped: missing {', '.join(missing)} (scripts/setup installs them)")
        return 77
    failed = 0
    with tempfile.TemporaryDirectory() as tmp:
        wavs = R.speak_with_korva(args.speak_lines, args.voice, R.ONE_TO_TEN + R.ZERO_TO_NINE, tmp)
        for name, words, part in (("one..ten", R.ONE_TO_TEN, wavs[:10]), ("zero..nine", R.ZERO_TO_NINE, wavs[10:])):
            heard = [R.recognise(wav, words) for wav in part]
            score = sum(h == w for h, w in zip(heard, words))
            ok = score >= PASS_MARK
            failed += not ok
            print(f"{'ok' if ok else 'FAIL'}: {name} {score}/10 (heard: {', '.join(h or '-' for h in heard)})")
    print(f"{2 - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
