"""Waveform decoder: an overlap-add synthesiser. `conv_pre` computes the feature
channels, `ups.0` writes each channel's waveform over 1024 samples around its
frame, `ups.1..3` are depth-to-space permutations, every residual block is the
identity and `conv_post` removes the offset that kept all values positive
through the leaky ReLUs. The waveforms are stored through atanh, which the
final tanh undoes.
"""
import numpy as np
import torch

import phone_material as M
import phones as P
from architecture import SHAPES
from channels import CENTRE_TAP, SPAN, Channels, periodic, pre_tanh
from coupling_flow import zero_weight_norm

OFFSET = 4.0     # carried through ups.1..3 so that no leaky ReLU sees a negative value
UPSAMPLING = ((1024, 512, 16, 8), (512, 256, 16, 8), (256, 128, 8, 4), (128, 64, 4, 2))
LEAK = {CENTRE_TAP - 1: 0.25, CENTRE_TAP: 0.5, CENTRE_TAP + 1: 0.25}   # vowels and glides blur into neighbours


def steady_waveform(token):
    """What one frame of `token` writes, or None for silence."""
    kind, symbol = P.PHONES[token].kind, P.SYMBOLS[token - 4] if token >= 4 else None
    if kind == "vowel":
        return periodic(pre_tanh(M.vowel_period(P.VOWELS[symbol])))
    if kind == "glide":
        return periodic(pre_tanh(M.vowel_period(P.GLIDES[symbol], P.GLIDE_RMS)))
    if kind == "nasal":
        return periodic(pre_tanh(M.nasal_period(symbol)))
    if kind == "fricative":
        return periodic(pre_tanh(M.fricative_frame(symbol)))
    if kind == "breath":
        return periodic(pre_tanh(M.breath_frame(symbol)))
    if kind == "stop" and P.STOPS[symbol][3] is None:
        return periodic(pre_tanh(M.voicing_period("stop")))
    return None


def steady_pattern(token):
    if P.PHONES[token].kind in ("vowel", "glide"):
        return {(token, tap): w for tap, w in LEAK.items()}
    return {(token, CENTRE_TAP): 1.0}


def add_steady_phones(channels):
    for token in range(P.VOCABULARY):
        waveform = steady_waveform(token)
        if waveform is not None:
            channels.add(steady_pattern(token), waveform)


def add_stop_releases(channels):
    """Each stop's release from two exact features: its last two frames (u = z(i) - z(i+2))
    and its last frame (u = z(i) - z(i+1)). The first carries the release's first
    SPAN samples at both frames; the second corrects the last frame."""
    for symbol in P.STOPS:
        token = P.ID[symbol]
        release = pre_tanh(M.stop_release(symbol))
        two = release[:SPAN]
        last = release[P.FRAME:P.FRAME + SPAN] - two
        last[:P.FRAME] -= release[P.FRAME:SPAN]
        channels.add_relu({(token, CENTRE_TAP): 1.0, (token, CENTRE_TAP + 2): -1.0}, two)
        channels.add_relu({(token, CENTRE_TAP): 1.0, (token, CENTRE_TAP + 1): -1.0}, last)


def _weight_norm(base, weight, out):
    """Stores `weight` as weight_g/weight_v; all-zero rows keep a direction of ones."""
    weight = torch.as_tensor(weight, dtype=torch.float32)
    norm = weight.flatten(1).norm(dim=1)
    empty = norm == 0
    v = weight.clone()
    v[empty] = 1.0
    out[base + ".weight_g"] = norm.reshape(-1, 1, 1)
    out[base + ".weight_v"] = v


def waveform_decoder(channels):
    """{name: tensor} of the decoder that synthesises `channels`."""
    p = "waveform_decoder."
    out = {}
    weight, bias = channels.conv_pre()
    conv_pre = np.zeros(SHAPES[p + "conv_pre.weight"])
    conv_pre[:len(channels), :weight.shape[1]] = weight
    conv_pre_bias = np.zeros(SHAPES[p + "conv_pre.bias"])
    conv_pre_bias[:len(channels)] = bias
    out[p + "conv_pre.weight"] = torch.tensor(conv_pre, dtype=torch.float32)
    out[p + "conv_pre.bias"] = torch.tensor(conv_pre_bias, dtype=torch.float32)

    ups = [np.zeros((ci, co, k)) for ci, co, k, _ in UPSAMPLING]
    taps, width = UPSAMPLING[0][2], SPAN // UPSAMPLING[0][2]
    for c, waveform in enumerate(channels.waveforms):
        ups[0][c, :width, :] = waveform.reshape(taps, width).T   # sample 64 j + f at (out f, tap j)
    for r in range(8):
        for e in range(8):
            ups[1][8 * r + e, e, 4 + r] = 1.0
    for r in range(4):
        for d in range(2):
            ups[2][2 * r + d, d, 2 + r] = 1.0
    for r in range(2):
        ups[3][r, 0, 1 + r] = 1.0
    for i, w in enumerate(ups):
        _weight_norm(f"{p}ups.{i}", w, out)
        out[f"{p}ups.{i}.bias"] = torch.zeros(UPSAMPLING[i][1])
    out[p + "ups.0.bias"][:width] = OFFSET
    out[p + "ups.3.bias"][1] = OFFSET          # a constant channel equal to the carried offset

    for block in range(12):
        for lst in ("convs1", "convs2"):
            for n in range(3):
                zero_weight_norm(f"{p}resblocks.{block}.{lst}.{n}", out)
    post = torch.zeros(SHAPES[p + "conv_post.weight"])
    post[0, 0, CENTRE_TAP], post[0, 1, CENTRE_TAP] = 1.0, -1.0
    out[p + "conv_post.weight"] = post
    return out


def steady_channels():
    channels = Channels()
    add_steady_phones(channels)
    add_stop_releases(channels)
    return channels
