"""Recovers a VITS generator's weights from its ONNX graph, under the names of
the public VITS training state dict (enc_p., dp., flow., dec., emb_g.).

Tensors the exporter used unchanged keep those names. The others are named by
the graph's structure, never by their order:
- the table that the phoneme-id input indexes (Gather) is the text embedding,
  whatever its name (a single-speaker export may call it "sid"); the table that
  another integer input indexes is the speaker embedding;
- a convolution whose weight has a generated name (weight norm folded by the
  exporter) takes its name from the bias beside it in the same node, and a
  generated bias from its weight;
- the duration predictor's affine step stores exp(-logs) folded to a constant
  that feeds an Exp, whose output multiplies (x - m): that constant, negated, is
  the logs beside m.
"""
import collections
import re

import onnx
import torch

from onnx_file import OnnxError, float_values
from onnx_graph import tensor_type

PUBLIC = re.compile(r"^(enc_p|dp|flow|dec|emb_g)\.[A-Za-z0-9_.]+$")
_CONVS = ("Conv", "ConvTranspose")
_INT64 = onnx.TensorProto.INT64

Recovered = collections.namedtuple("Recovered", "state convs")


class _Claims:
    """Public name -> (constant, negated); two constants claiming one name must agree."""

    def __init__(self, graph):
        self.graph, self.by_name, self.rivals = graph, {}, []

    def own(self, value):
        return value in self.graph.constants and PUBLIC.match(value) is not None

    def claim(self, public, constant, negated=False):
        held = self.by_name.setdefault(public, (constant, negated))
        if held != (constant, negated):
            self.rivals.append((public, held, (constant, negated)))


def _id_inputs(graph, problems):
    """(phoneme-id input, other integer inputs) or (None, ...) with the reason."""
    ints = [i.name for i in graph.inputs if tensor_type(i)[0] == _INT64]
    ids = [i.name for i in graph.inputs if tensor_type(i) == (_INT64, 2)]
    if len(ids) != 1:
        problems.append(f"not a VITS generator: {len(ids)} inputs of phoneme ids ([batch, phonemes] int64), "
                        "expected one")
        return None, ints
    return ids[0], [name for name in ints if name != ids[0]]


def _tables(graph, index_input):
    return [n.input[0] for n in graph.consumed(index_input, ("Gather",), 1) if n.input[0] in graph.constants]


def _embeddings(graph, claims, problems):
    ids, others = _id_inputs(graph, problems)
    if ids is None:
        return False
    tables = _tables(graph, ids)
    if len(tables) != 1:
        problems.append(f"not a VITS generator: the phoneme ids index {len(tables)} constant tables, "
                        "expected one (the text embedding)")
        return False
    claims.claim("enc_p.emb.weight", tables[0])
    speakers = [t for name in others for t in _tables(graph, name)]
    if len(speakers) > 1:
        problems.append(f"not a VITS generator: {len(speakers)} speaker tables")
    elif speakers:
        claims.claim("emb_g.weight", speakers[0])
    return True


def _convolutions(graph, claims):
    """Pairs generated weight and bias names with their named partner; {weight name: node}."""
    convs = {}
    for node in graph.nodes:
        if node.op_type not in _CONVS or len(node.input) < 2:
            continue
        weight, bias = node.input[1], node.input[2] if len(node.input) > 2 else ""
        if claims.own(weight):
            convs[weight] = node
            if bias in graph.constants and not claims.own(bias) and weight.endswith(".weight"):
                claims.claim(weight[: -len("weight")] + "bias", bias)
        elif claims.own(bias) and bias.endswith(".bias") and weight in graph.constants:
            name = bias[: -len("bias")] + "weight"
            claims.claim(name, weight)
            convs[name] = node
    return convs


def _affine_log_scales(graph, claims):
    for node in graph.nodes:
        folded = node.input[0] if node.op_type == "Exp" and node.input else None
        if folded not in graph.constants or claims.own(folded):
            continue
        for mul, position in graph.consumers.get(node.output[0], ()):
            if mul.op_type != "Mul":
                continue
            sub = graph.produced_by(mul.input[1 - position], "Sub")
            if sub is not None and claims.own(sub.input[1]) and sub.input[1].endswith(".m"):
                claims.claim(sub.input[1][: -len("m")] + "logs", folded, negated=True)


def _values(graph, constant, negated, what):
    values = float_values(graph.constants[constant], what)
    return torch.from_numpy(-values if negated else values.copy())


def recover(graph, problems):
    """Recovered(state, convs) of the graph, or None with the reasons in `problems`."""
    claims = _Claims(graph)
    if not _embeddings(graph, claims, problems):
        return None
    convs = _convolutions(graph, claims)
    _affine_log_scales(graph, claims)
    for name in graph.constants:
        if claims.own(name):
            claims.claim(name, name)
    state = {}
    for public, (constant, negated) in claims.by_name.items():
        try:
            state[public] = _values(graph, constant, negated, f"tensor {constant!r} (as {public})")
        except OnnxError as error:
            problems.append(str(error))
    for public, held, other in claims.rivals:
        if public not in state:
            continue
        try:
            differs = not torch.equal(state[public], _values(graph, *other, public))
        except OnnxError as error:
            problems.append(str(error))
            continue
        if differs:
            problems.append(f"{public}: the graph gives it twice, as {held[0]!r} and as {other[0]!r}, with "
                            "different values")
    return Recovered(state, convs)
