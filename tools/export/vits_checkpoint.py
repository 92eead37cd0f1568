"""Converts a VITS generator checkpoint, as the public VITS training code saves
it, into korva's checkpoint names.

That layout names the networks enc_p, dp, flow and dec, and keeps parameterless
Flip modules inside its flow lists, so list indices shift:
  dp.flows.0.m / .logs        -> duration_predictor.flows.0.translation / .log_scale
  dp.flows.1, 3, 5, 7         -> duration_predictor.flows.1, 2, 3, 4   (post_flows alike)
  flow.flows.0, 2, 4, 6       -> flow.flows.0, 1, 2, 3
Weight-normalised layers stay weight_g / weight_v pairs.
"""
import collections
import re

from architecture import TENSORS
from tensor_match import CheckpointError, match

_NETWORKS = {"enc_p": "text_encoder", "dp": "duration_predictor", "flow": "flow", "dec": "waveform_decoder"}
_DP_FLOW = re.compile(r"^(flows|post_flows)\.(\d+)\.(.+)$")
_COUPLING = re.compile(r"^flows\.(\d+)\.(.+)$")
_AFFINE = {"m": "translation", "logs": "log_scale"}


def _rename_dp(rest):
    match = _DP_FLOW.match(rest)
    if not match:
        return rest
    lst, index, tail = match.group(1), int(match.group(2)), match.group(3)
    if index == 0:
        return f"{lst}.0.{_AFFINE.get(tail, tail)}"
    if index % 2 == 1:
        return f"{lst}.{(index + 1) // 2}.{tail}"
    return rest  # a Flip has no parameters: such a name is not part of the architecture


def _rename_flow(rest):
    match = _COUPLING.match(rest)
    if not match or int(match.group(1)) % 2:
        return rest
    return f"flows.{int(match.group(1)) // 2}.{match.group(2)}"


def rename(key):
    """korva's name for a VITS generator key, or None for a network korva does not run."""
    network, _, rest = key.partition(".")
    if network not in _NETWORKS or not rest:
        return None
    if network == "dp":
        rest = _rename_dp(rest)
    elif network == "flow":
        rest = _rename_flow(rest)
    return f"{_NETWORKS[network]}.{rest}"


def generator_state(checkpoint):
    """The name -> tensor map of a loaded checkpoint, and the top-level entries left aside."""
    if not isinstance(checkpoint, dict):
        raise CheckpointError(f"expected a dict of tensors, found {type(checkpoint).__name__}")
    if isinstance(checkpoint.get("model"), dict):
        return checkpoint["model"], sorted(k for k in checkpoint if k != "model")
    return checkpoint, []


def convert(state):
    """[(korva name, float32 tensor)] in architecture order, and a summary of dropped keys.

    Raises CheckpointError listing every problem (unknown names inside the four
    networks, missing tensors, shape mismatches) so that nothing half-converted is written.
    """
    items, dropped = [], collections.Counter()
    for key, value in state.items():
        name = rename(key)
        if name is None:
            dropped[key.partition(".")[0]] += 1
        else:
            items.append((key, name, value))
    return match(items, TENSORS), dict(dropped)
