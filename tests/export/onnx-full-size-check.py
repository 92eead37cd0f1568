#!/usr/bin/python3
"""Full-size voices of the public shapes, exported to ONNX as Piper exports its
voices, converted with korva-export --from-onnx and checked: every tensor against
the --from-vits conversion of the same checkpoint (weights the exporter folded
within 4 ulp), and the shared VITS golden cases of the shape spoken through
`korva speak` as the vits_cases test speaks them. A check to run by hand (a few
minutes and up to half a gigabyte of files per shape), not part of ctest:

    onnx-full-size-check.py --korva build/tools/cli/korva [--shape ljs ...] [--style sherpa] [--work DIR]

Exit status 0 when every shape matches, 1 otherwise.
"""
import argparse
import importlib.machinery
import json
import os
import sys
import tempfile
import types

HERE = os.path.dirname(os.path.realpath(__file__))
sys.path.insert(0, HERE)
import onnx_fixtures  # noqa: E402
import vits_fixtures as fx  # noqa: E402

GOLDEN = os.path.dirname(fx.GENERATOR)
MAX_ULP = 4


def _vits_cases():
    loader = importlib.machinery.SourceFileLoader("vits_cases", os.path.join(HERE, "..", "cli", "vits-cases-test.py"))
    module = types.ModuleType(loader.name)
    loader.exec_module(module)
    return module


def compare(ours, reference):
    """What differs between the --from-onnx tensors and the folded --from-vits ones."""
    if sorted(ours) != sorted(reference):
        return [f"names differ: {sorted(set(ours) ^ set(reference))[:10]}"]
    problems = []
    for name, t in ours.items():
        distance = fx.ulps(t.numpy(), reference[name].numpy()) if t.shape == reference[name].shape else None
        if distance is None or distance > MAX_ULP:
            problems.append(f"{name}: {'shape' if distance is None else f'{distance} ulp'}")
    return problems


def check_shape(shape, style, korva, work, golden):
    seed = golden["checkpoints"][shape]["seed"]
    checkpoint, config_path = fx.generate(shape, work, seed)
    state, config = fx.load_vits(checkpoint, config_path)
    model = os.path.join(work, f"{shape}.onnx")
    onnx_fixtures.export(state, config, style, model)
    fx.write_json(model + ".json", onnx_fixtures.voice_config(config, state["enc_p.emb.weight"].shape[0]))
    ours, reference = (os.path.join(work, f"{shape}-{how}.pt") for how in ("onnx", "vits"))
    for args in (["--from-onnx", model, "--out", ours],
                 ["--from-vits", checkpoint, "--config", config_path, "--out", reference]):
        result = fx.export(*args)
        if result.returncode != 0:
            return [f"korva-export {args[0]} failed:\n{result.stderr}"]
    tensors, described = fx.read_archive(ours)
    problems = compare(tensors, fx.fold(fx.read_archive(reference)[0]))
    print(f"{shape}: {len(tensors)} tensors, {described['decoder']['upsample_rates']} upsampling, "
          f"{described['speakers']['n_speakers']} speaker(s); tensors {'differ' if problems else 'match'}")
    cases = _vits_cases()
    for case in (c for c in golden["cases"] if c["shape"] == shape):
        problem = cases.check_case(korva, ours, case, GOLDEN, golden["tolerance"], work)
        if problem:
            problems.append(f"{case['name']}: {problem}")
    for name in (model, ours, reference, checkpoint):
        os.remove(name)
    return problems


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--korva", required=True)
    ap.add_argument("--shape", action="append", choices=("ljs", "vctk", "piper-medium", "piper-multi"))
    ap.add_argument("--style", choices=("piper", "sherpa"), default="piper")
    ap.add_argument("--work")
    a = ap.parse_args()
    with open(os.path.join(GOLDEN, "vits-cases.json"), encoding="utf-8") as f:
        golden = json.load(f)
    failed = []
    with tempfile.TemporaryDirectory(prefix="korva-onnx-full-") as scratch:
        work = a.work or scratch
        os.makedirs(work, exist_ok=True)
        for shape in a.shape or ("piper-medium", "piper-multi", "ljs", "vctk"):
            failed += [f"{shape}: {p}" for p in check_shape(shape, a.style, a.korva, work, golden)]
    for line in failed:
        print("FAIL " + line)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
