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
    gives a loaded checkpoint's (state dict, top-level entries left aside)."""
    checkpoint = read_checkpoint(source, problems, inert_unknown)
    state, left_aside = None, []
    if checkpoint is not None:
        try:
            state, left_aside = state_of(checkpoint)
        except CheckpointError as error:
            problems.append(f"{source}: {error}")
    return state, load_json(config_path, problems), config_path, left_aside


def _layout_problem(layout, keys):
    found = [flag for prefix, flag in _SIGNATURES if any(k.startswith(prefix) for k in keys)]
    hint = f"; it looks like one for {found[0]}" if found and found[0] != layout.FLAG else ""
    return (f"not {layout.SOURCE}: none of its {len(keys)} tensor names is one {layout.FLAG} "
            f"converts{hint}")


def _items(layout, state):
    items, dropped = [], collections.Counter()
    adapt = getattr(layout, "adapt", lambda name, value: value)
    for key, value in state.items():
        name = layout.rename(weight_norm_name(key))
        if name is None:
            dropped[layout.dropped_group(key)] += 1
        else:
            items.append((key, name, adapt(name, value)))
    return items, dict(dropped)


def convert(layout, source, config_path=None):
    """A Conversion of the voice at `source`; raises CheckpointError listing every problem."""
    problems = []
    state, config, config_name, left_aside = layout.read(source, config_path, problems)
    voice = None
    if config is not None:
        voice = layout.describe(Fields(config_name, config, problems))
    if voice is not None:
        problems += [f"{config_name}: {p}" for p in voice_description.check(voice)]
    tensors, dropped = None, {}
    if state is not None:
        items, dropped = _items(layout, state)
        expected = build(voice) if voice is not None and not problems else None
        names = {t.name.rpartition(".")[0] for t in expected or []}
        if not items or (expected and not any(name.rpartition(".")[0] in names for _, name, _ in items)):
            problems.append(_layout_problem(layout, list(state)))
        elif expected:
            tensors, found = select(items, expected, either_form=True)
            problems += found
    if problems:
        raise CheckpointError(problem_list(problems, "the voice"))
    return Conversion(tensors, voice, left_aside, dropped)
