"""Assembles the constructed voice: every tensor of the architecture, in its order."""
import os

import numpy as np

import phone_material as M
import phones as P
from architecture import TENSORS
from coupling_flow import coupling_flow
from duration_predictor import duration_predictor
from text_encoder import text_encoder, token_features
from transitions import add_transitions
from waveform_decoder import steady_channels, waveform_decoder


def decoder_channels(transitions=True):
    channels = steady_channels()
    if transitions:
        add_transitions(channels)
    return channels


def constructed_voice(transitions=True):
    """[(name, tensor), ...] for the whole architecture, and the number of decoder channels used."""
    features = token_features()
    channels = decoder_channels(transitions)
    tensors = {}
    for part in (text_encoder(features), duration_predictor(features, P.frames), coupling_flow(),
                 waveform_decoder(channels)):
        tensors.update(part)
    missing = [t.name for t in TENSORS if t.name not in tensors]
    extra = sorted(set(tensors) - {t.name for t in TENSORS})
    wrong = [t.name for t in TENSORS if t.name in tensors and tuple(tensors[t.name].shape) != t.shape]
    if missing or extra or wrong:
        raise AssertionError(f"voice does not match the architecture: missing {missing[:5]}, "
                             f"extra {extra[:5]}, wrong shape {wrong[:5]}")
    return [(t.name, tensors[t.name].float().contiguous()) for t in TENSORS], len(channels)


def write_vowel_periods(directory):
    """Each vowel's pitch period as the decoder outputs it: float32, DIR/<token id>.f32."""
    os.makedirs(directory, exist_ok=True)
    for symbol, formants in P.VOWELS.items():
        period = np.clip(M.vowel_period(formants), -0.95, 0.95).astype("<f4")
        period.tofile(os.path.join(directory, f"{P.ID[symbol]}.f32"))
