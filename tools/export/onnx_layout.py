"""--from-onnx: a VITS voice as an ONNX model and its voice .onnx.json (beside the
model unless --config names another), the form Piper distributes voices in.
sherpa-onnx's exports of the public VITS generator (inputs x, x_length and the
three scales) are read the same way, given such a config.

The weights come out of the graph under public VITS names (onnx_weights), the
network's sizes from their shapes and the convolutions' attributes (onnx_sizes);
the config gives the rate, the speakers' names, the `piper` front-end and the
inference defaults, and must agree with the graph on the symbols and speakers.
Nothing of the training-only networks is in such a graph, and nothing is needed."""
import os

import onnx

from config_fields import Fields, load_json
from onnx_file import OnnxError, read_model
from onnx_graph import Graph, tensor_type
import onnx_sizes
import onnx_weights
import piper_layout
import vits_layout
import voice_description

FLAG = "--from-onnx"
SOURCE = "a VITS voice exported to ONNX (voice.onnx) with its voice .onnx.json"
NEEDS_CONFIG = None  # optional: the one beside the model by default

rename = vits_layout.rename
dropped_group = vits_layout.dropped_group


def default_config(source):
    return source + ".json"


def _audio_output(graph):
    """The reason the graph's outputs are not one waveform, or None."""
    if len(graph.outputs) != 1:
        return f"{len(graph.outputs)} outputs, expected one waveform"
    kind, rank = tensor_type(graph.outputs[0])
    if kind != onnx.TensorProto.FLOAT or rank not in (3, 4):
        return (f"its output {graph.outputs[0].name!r} is not a waveform "
                "([batch, 1, samples] or [batch, 1, 1, samples] float32)")
    return None


def _read_graph(source, problems):
    """(public VITS state dict, sizes, metadata keys); None for what cannot be had."""
    try:
        model = read_model(source)
    except OnnxError as error:
        problems.append(f"{source}: {error}")
        return None, None, []
    graph = Graph(model)
    found = []
    not_audio = _audio_output(graph)
    if not_audio:
        found.append(f"not a VITS generator: {not_audio}")
    recovered = onnx_weights.recover(graph, found)
    sizes = onnx_sizes.derive(recovered.state, recovered.convs, found) if recovered else None
    problems += [f"{source}: {p}" for p in found]
    return (recovered.state if recovered else None), sizes, sorted(graph.metadata)


def read(source, config_path, problems):
    state, sizes, metadata = _read_graph(source, problems)
    config = None
    if config_path is None and not os.path.exists(default_config(source)):
        problems.append(f"no such file: {default_config(source)}: the voice's .onnx.json, looked for beside the "
                        "model (--config names another)")
    else:
        config_path = config_path or default_config(source)
        config = load_json(config_path, problems)
    configs = [] if config is None else [Fields(config_path, config, problems), sizes]
    return state, configs, [f"metadata {key!r}" for key in metadata]


def _agrees(voice, sizes):
    """Records where the config contradicts the graph."""
    rows = sizes["n_vocab"]
    symbols = voice.get("num_symbols", "int", rows)
    if symbols is not None and symbols != rows:
        voice.problems.append(f"{voice.source}: num_symbols is {symbols}, the model's text embedding has {rows}")
    speakers = sizes["speakers"]["n_speakers"]
    count = voice.get("num_speakers", "int", 1)
    if count is not None and max(count, 1) != speakers:
        voice.problems.append(f"{voice.source}: num_speakers is {count}, the model has "
                              + (f"a table of {speakers} speakers" if speakers > 1 else "one speaker"))


def describe(voice, sizes):
    """The voice description, or None when the config or the graph falls short."""
    known = len(voice.problems)
    sample_rate = voice.get("audio.sample_rate", "int")
    names = voice.get("speaker_id_map", "dict", {})
    front_end = piper_layout.front_end(voice)
    defaults = piper_layout.inference(voice)
    if sizes is not None:
        _agrees(voice, sizes)
    if sizes is None or len(voice.problems) > known:
        return None
    speakers = dict(sizes["speakers"], **({"names": names} if names else {}))
    return voice_description.describe(sample_rate, sizes["n_vocab"], sizes["text_encoder"], sizes["decoder"],
                                      speakers, front_end, defaults, sizes["flow"], sizes["duration_predictor"])
