"""Formant motion between phones. Steady phones only crossfade; ears and
recognisers need the formants to move, above all into and out of nasals.

For a boundary a -> b (j = first frame of b) and a pair frame k, a feature is
1 exactly at frame j + k: u(i) = z_a(i - k - 1) + z_b(i - k) - 1, which is 1
there and 0 or -1 elsewhere. Its channel carries w / 0.9 where w is the
window times the difference between the desired signal and what the steady
channels already make; the leaky ReLU's linear leak 0.1 u w / 0.9 is cancelled
by shared channels: one linear channel per (token, tap) in use and one
constant channel.
"""
import copy

import numpy as np

import phone_material as M
import phones as P
from channels import CENTRE_TAP, LEAD, SLOPE, SPAN, pre_tanh, window

CONTEXT = 8            # frames of each phone in the simulation of a boundary
SMALLEST_PIECE = 1e-3  # pieces that change no sample by more than this are left out
NASAL_MOTION = 768     # samples over which a vowel moves away from its nasal onset
GLIDE_MOTION = (640, 1280)   # samples before and after the boundary of a glide's motion
DIPHTHONG_MOTION = 1280
DIPHTHONGS = (("a", "ɪ"), ("e", "ɪ"), ("o", "ʊ"), ("a", "ʊ"), ("ɔ", "ɪ"))
LIQUIDS_AFTER_VOWELS = ("ɹ", "l")


def _nasal_onset(nasal, formants):
    locus = P.NASAL_LOCI[nasal if nasal != "ŋ" or formants[1] > P.NASAL_FRONT_F2 else "ŋ back"]
    return tuple(l + P.NASAL_LOCUS_PULL * (f - l) for l, f in zip(locus, formants))


def _mix(start, end, share):
    return tuple(s + (e - s) * share for s, e in zip(start, end))


def _nasal_vowel(nasal, vowel, vowel_first):
    """Desired period at time t for nasal -> vowel, or vowel -> nasal when vowel_first."""
    target = P.VOWELS[vowel]
    onset = _nasal_onset(nasal, target)
    murmur = M.nasal_period(nasal)

    def period(t):
        if vowel_first:
            if t >= 0:
                return murmur
            share = min(1.0, -t / NASAL_MOTION)
        else:
            if t < 0:
                return murmur
            share = min(1.0, t / NASAL_MOTION)
        return M.vowel_period(_mix(onset, target, share))
    return period


def _glide(first, second, before, after):
    """Desired period for formants and level moving linearly over [-before, after)."""
    def figures(symbol):
        return (P.GLIDES[symbol], P.GLIDE_RMS) if symbol in P.GLIDES else (P.VOWELS[symbol], P.VOWEL_RMS)
    (f0, r0), (f1, r1) = figures(first), figures(second)

    def period(t):
        share = min(1.0, max(0.0, (t + before) / (before + after)))
        return M.vowel_period(_mix(f0, f1, share), r0 + (r1 - r0) * share)
    return period


def boundaries():
    """(a, b, pair frames k, desired period at time t) for every boundary that gets motion."""
    out = []
    for nasal in P.NASALS:
        for vowel in P.VOWELS:
            out.append((nasal, vowel, range(-2, 2), _nasal_vowel(nasal, vowel, False)))
            out.append((vowel, nasal, range(-2, 2), _nasal_vowel(nasal, vowel, True)))
    for glide in P.GLIDES:
        for vowel in P.VOWELS:
            out.append((glide, vowel, range(-2, 3), _glide(glide, vowel, *GLIDE_MOTION)))
    for liquid in LIQUIDS_AFTER_VOWELS:
        for vowel in P.VOWELS:
            out.append((vowel, liquid, range(-3, 2), _glide(vowel, liquid, *reversed(GLIDE_MOTION))))
    for first, second in DIPHTHONGS:
        out.append((first, second, range(-3, 3), _glide(first, second, DIPHTHONG_MOTION, DIPHTHONG_MOTION)))
    return out


def _desired(period_at, frames):
    """The wanted signal before tanh over `frames` frames whose middle is the boundary, period by period."""
    boundary = frames // 2 * P.FRAME
    starts = range(0, frames * P.FRAME, P.PERIOD)
    return np.concatenate([pre_tanh(period_at(s + P.PERIOD // 2 - boundary)) for s in starts])


def add_transitions(channels):
    """Adds the pair features of every boundary in `boundaries()` to `channels`."""
    steady = copy.deepcopy(channels)
    leak = SLOPE / (1.0 - SLOPE)
    linear, constant = {}, np.zeros(SPAN)
    pair_gain = 1.0 / (1.0 - SLOPE)
    for a, b, ks, period_at in boundaries():
        ta, tb = P.ID[a], P.ID[b]
        frames = [ta] * CONTEXT + [tb] * CONTEXT
        difference = _desired(period_at, 2 * CONTEXT) - steady.render(frames)
        for k in ks:
            start = (CONTEXT + k) * P.FRAME - LEAD
            piece = window() * difference[start:start + SPAN]
            if np.abs(piece).max() < SMALLEST_PIECE:
                continue
            pattern = {(ta, CENTRE_TAP - 1 - k): 1.0, (tb, CENTRE_TAP - k): 1.0}
            channels.add(pattern, piece * pair_gain, bias=-1.0)
            for key in pattern:
                linear[key] = linear.get(key, 0.0) - leak * piece
            constant += leak * piece
    for key, waveform in sorted(linear.items()):
        channels.add({key: 1.0}, waveform)
    channels.add({}, constant, bias=1.0)

