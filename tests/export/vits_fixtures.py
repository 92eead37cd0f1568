"""Test support for the converters: checkpoints in the public VITS training
layout from the shared generator, the same voices re-spelled in the Coqui, Piper
and Hugging Face layouts (written out here from those layouts' own names, not
through the converters' renames), and a reader of the archives korva-export writes.
"""
import functools
import json
import os
import re
import struct
import subprocess
import sys
import zipfile

import torch

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(__file__))))
GENERATOR = os.path.join(os.path.dirname(ROOT), "shared", "golden", "make_vits_checkpoint.py")
TOOL = os.path.join(ROOT, "tools", "export", "korva-export")


def generate(shape, directory):
    """(G.pth, config.json) of the generator's `shape` at seed 1, written into `directory`."""
    checkpoint = os.path.join(directory, f"{shape}.pth")
    config = os.path.join(directory, f"{shape}.json")
    subprocess.run([sys.executable, GENERATOR, "--shape", shape, "--seed", "1", "--out", checkpoint,
                    "--config-out", config], check=True, capture_output=True)
    return checkpoint, config


@functools.lru_cache(maxsize=None)
def load_vits(checkpoint, config):
    """The generator's state dict and config (shared: copy before changing them)."""
    with open(config, encoding="utf-8") as f:
        return torch.load(checkpoint)["model"], json.load(f)


def read_archive(path):
    """({name: tensor}, description or None) of an archive, read with zipfile alone."""
    with zipfile.ZipFile(path) as z:
        prefix = z.namelist()[0].split("/")[0] + "/"
        manifest = json.loads(z.read(prefix + "manifest.json"))
        names = z.namelist()
        voice = json.loads(z.read(prefix + "voice.json").decode("utf-8")) if prefix + "voice.json" in names else None
        records = {}
        tensors = {}
        for name, entry in manifest.items():
            key = entry["storage_key"]
            if key not in records:
                records[key] = torch.frombuffer(bytearray(z.read(prefix + "data/" + key)), dtype=torch.float32)
            flat = records[key][entry["offset"]: entry["offset"] + entry["numel"]]
            tensors[name] = flat.reshape(entry["shape"]).clone()
    return tensors, voice


def export(*args):
    return subprocess.run([sys.executable, TOOL, *args], capture_output=True, text=True)


def fold(tensors):
    """Plain weights for every weight_g/weight_v pair, as korva's binder folds them."""
    out = {}
    for name, t in tensors.items():
        if name.endswith(".weight_v"):
            base = name[: -len(".weight_v")]
            g = tensors[base + ".weight_g"]
            norm = t.norm(2, dim=list(range(1, t.dim())), keepdim=True)
            out[base + ".weight"] = t * (g / norm)
        elif not name.endswith(".weight_g"):
            out[name] = t
    return out


# --- re-spellings of a public VITS generator state in the other layouts ---

def parametrized(state):
    """torch's newer weight-norm spelling of every weight_g / weight_v pair."""
    def spell(key):
        return re.sub(r"\.weight_g$", ".parametrizations.weight.original0",
                      re.sub(r"\.weight_v$", ".parametrizations.weight.original1", key))
    return {spell(k): v for k, v in state.items()}


def write_json(path, data):
    with open(path, "w", encoding="utf-8") as f:
        json.dump(data, f, ensure_ascii=False)
