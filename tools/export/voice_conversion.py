"""Converts a trained voice of one of the published layouts into archive tensors
and its description. A layout module (vits_layout, coqui_layout, ...) reads its
files, renames its tensors and describes the network from its config; this
checks all of it together and lists every problem before anything is written."""
import collections

from architecture import build
from config_fields import Fields, load_json
from safe_load import load_checkpoint
from tensor_match import CheckpointError, problem_list, select
import voice_description

# torch's newer weight norm keeps g and v as parametrizations of the weight.
_PARAMETRIZED = ((".parametrizations.weight.original0", ".weight_g"),
                 (".parametrizations.weight.original1", ".weight_v"))
# A name each layout has and the others lack, to say which converter a file needs.
_SIGNATURES = (("enc_p.emb.", "--from-vits"), ("model_g.enc_p.", "--from-piper"),
               ("text_encoder.embed_tokens.", "--from-hf"), ("text_encoder.emb.", "--from-coqui"))

Conversion = collections.namedtuple("Conversion", "tensors voice left_aside dropped")
# Inference never runs the duration predictor's first spline flow: a described
# voice is built without it, as without the training-only networks.
_UNUSED_FLOW = "duration_predictor.flows.1."


def weight_norm_name(key):
    for old, new in _PARAMETRIZED:
        if key.endswith(old):
            return key[: -len(old)] + new
    return key


def read_checkpoint(path, problems, inert_unknown=False):
    """The object saved at `path`, or None with the reason added to `problems`."""
    try:
        return load_checkpoint(path, inert_unknown)
    except FileNotFoundError:
        problems.append(f"no such file: {path}")
    except Exception as error:  # torch raises many kinds for a file it cannot unpickle
        problems.append(f"cannot read {path} as a torch checkpoint: {error}")
    return None


def read_files(source, config_path, problems, state_of, inert_unknown=False):
    """read() for a layout of one checkpoint file and one JSON config: `state_of`
    gives a loaded checkpoint's (state dict, top-level entries left aside).

    A layout's read() returns (state dict or None, [Fields] of its configs, left
    aside), adding what it cannot read to `problems`; no Fields when a config is unreadable."""
    checkpoint = read_checkpoint(source, problems, inert_unknown)
    state, left_aside = None, []
    if checkpoint is not None:
        try:
            state, left_aside = state_of(checkpoint)
        except CheckpointError as error:
            problems.append(f"{source}: {error}")
    config = load_json(config_path, problems)
    return state, [] if config is None else [Fields(config_path, config, problems)], left_aside


def _layout_problem(layout, keys):
    found = [flag for prefix, flag in _SIGNATURES if any(k.startswith(prefix) for k in keys)]
    hint = f"; it looks like one for {found[0]}" if found and found[0] != layout.FLAG else ""
    return (f"not {layout.SOURCE}: none of its {len(keys)} tensor names is one {layout.FLAG} "
            f"converts{hint}")


def _items(layout, state, problems):
    items, dropped = [], collections.Counter()
    adapt = getattr(layout, "adapt", lambda name, value: value)
    for key, value in state.items():
        if not isinstance(key, str):
            problems.append(f"{key!r}: a state dict entry without a name")
            continue
        name = layout.rename(weight_norm_name(key))
        if name is None or name.startswith(_UNUSED_FLOW):
            dropped[layout.dropped_group(key) if name is None else _UNUSED_FLOW + "*"] += 1
        else:
            items.append((key, name, adapt(name, value)))
    return items, dict(dropped)


def convert(layout, source, config_path=None):
    """A Conversion of the voice at `source`; raises CheckpointError listing every problem."""
    problems = []
    state, configs, left_aside = layout.read(source, config_path, problems)
    voice = layout.describe(*configs) if configs else None
    refusals = voice_description.check(voice) if voice is not None else []
    problems += [f"{configs[0].source}: {p}" for p in refusals]
    tensors, dropped = None, {}
    if state is not None:
        items, dropped = _items(layout, state, problems)
        # the tensors are checked against the sizes only when these make a network
        expected = build(voice) if voice is not None and not refusals else None
        names = {t.name.rpartition(".")[0] for t in expected or []}
        if not items or (expected and not any(name.rpartition(".")[0] in names for _, name, _ in items)):
            problems.append(_layout_problem(layout, list(state)))
        elif expected:
            tensors, found = select(items, expected, either_form=True)
            problems += found
    if problems:
        raise CheckpointError(problem_list(problems, "the voice"))
    return Conversion(tensors, voice, left_aside, dropped)
