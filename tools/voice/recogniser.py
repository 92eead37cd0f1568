"""Scores how intelligible a voice is with an off-the-shelf recogniser (Debian's
pocketsphinx with its en-us model): utterances are spoken into WAV files,
converted to 16 kHz mono 16-bit without dither (dither would make the scores
wobble between runs) and recognised either against a grammar of the expected
words or with the full language model."""
import os
import shutil
import subprocess
import tempfile

MODEL = "/usr/share/pocketsphinx/model/en-us"
RECOGNISER = "pocketsphinx_continuous"
ONE_TO_TEN = ("one", "two", "three", "four", "five", "six", "seven", "eight", "nine", "ten")
ZERO_TO_NINE = ("zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine")
SENTENCES = ("the cat sat on the mat", "please call me tomorrow morning", "she sells sea shells",
             "open the door and come in", "we need more time to finish the work")


def missing_tools():
    """Names of the programs or model files the check needs and this machine lacks."""
    missing = [tool for tool in (RECOGNISER, "sox", "espeak-ng") if shutil.which(tool) is None]
    if not os.path.isdir(os.path.join(MODEL, "en-us")):
        missing.append(MODEL)
    return missing


def speak_with_korva(speak_lines, voice, texts, directory, speed=1.0):
    """WAV paths of `texts` spoken by korva, one utterance each, in one engine load."""
    subprocess.run([speak_lines, voice, directory, repr(speed)], input="\n".join(texts) + "\n", text=True,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return [os.path.join(directory, f"{i + 1}.wav") for i in range(len(texts))]


def speak_with_espeak(texts, directory):
    paths = []
    for i, text in enumerate(texts):
        path = os.path.join(directory, f"espeak-{i + 1}.wav")
        subprocess.run(["espeak-ng", "-w", path, text], check=True)
        paths.append(path)
    return paths


def recognise(wav, grammar=None):
    """The recogniser's hypothesis for one WAV file, lower case."""
    with tempfile.TemporaryDirectory() as tmp:
        pcm = os.path.join(tmp, "16k.wav")
        subprocess.run(["sox", "-D", wav, "-r", "16000", "-c", "1", "-b", "16", pcm], check=True)
        args = [RECOGNISER, "-infile", pcm, "-hmm", os.path.join(MODEL, "en-us"),
                "-dict", os.path.join(MODEL, "cmudict-en-us.dict"), "-logfn", os.devnull]
        if grammar is None:
            args += ["-lm", os.path.join(MODEL, "en-us.lm.bin")]
        else:
            path = os.path.join(tmp, "words.gram")
            with open(path, "w") as f:
                f.write("#JSGF V1.0;\ngrammar words;\npublic <word> = " + " | ".join(grammar) + ";\n")
            args += ["-jsgf", path]
        result = subprocess.run(args, check=True, capture_output=True, text=True)
    return " ".join(result.stdout.split()).lower()


def word_score(wavs, words):
    """How many of the single-word utterances the grammar of `words` recognises correctly."""
    return sum(recognise(wav, words) == word for wav, word in zip(wavs, words))


def _edit_distance(a, b):
    row = list(range(len(b) + 1))
    for i, x in enumerate(a, 1):
        previous, row[0] = row[0], i
        for j, y in enumerate(b, 1):
            previous, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, previous + (x != y))
    return row[-1]


def word_error_rate(wavs, sentences):
    errors = sum(_edit_distance(recognise(wav).split(), s.split()) for wav, s in zip(wavs, sentences))
    return errors / sum(len(s.split()) for s in sentences)
