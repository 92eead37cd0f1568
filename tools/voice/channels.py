"""The decoder's feature channels: each is one row of `conv_pre` (weights on
(token, tap) pairs and a bias) and the 1024-sample waveform that `ups.0` writes
for it around its frame. The rest of the decoder only moves samples, so the
output before tanh is the overlap-add of activation x waveform over frames and
channels, which `render` computes directly.
"""
import numpy as np

import phones as P

TAPS = 7                   # conv_pre kernel: offsets -3..+3 frames
CENTRE_TAP = 3
SPAN = 2 * P.FRAME         # samples a channel writes per frame: [-256, 768) around the frame start
LEAD = P.FRAME // 2        # its start before the frame start
SLOPE = 0.1                # leaky ReLU in front of ups.0
CAPACITY = 1024


def window():
    """sin^2 over SPAN: copies at hop FRAME sum to 1."""
    n = np.arange(SPAN)
    return np.sin(np.pi * (n + 0.5) / SPAN) ** 2


def periodic(piece):
    """A windowed stretch of the repetition of `piece` (its length divides FRAME)."""
    return window() * np.tile(piece, SPAN // len(piece))


def pre_tanh(target):
    return np.arctanh(np.clip(target, -0.95, 0.95))


class Channels:
    def __init__(self):
        self.patterns, self.biases, self.waveforms = [], [], []

    def add(self, pattern, waveform, bias=0.0):
        """pattern: {(token, tap): weight}; waveform: SPAN samples written per unit of activation."""
        if len(self.patterns) == CAPACITY:
            raise ValueError(f"the decoder has only {CAPACITY} feature channels")
        self.patterns.append(dict(pattern))
        self.biases.append(bias)
        self.waveforms.append(np.asarray(waveform, dtype=np.float64))

    def add_relu(self, pattern, waveform):
        """A feature relu(u) for a u that takes the values -1, 0 or 1, from the channels u and -u:
        relu(u) = (lrelu(u) + SLOPE * lrelu(-u)) / (1 - SLOPE^2)."""
        gain = 1.0 / (1.0 - SLOPE * SLOPE)
        self.add(pattern, waveform * gain)
        self.add({key: -w for key, w in pattern.items()}, waveform * SLOPE * gain)

    def __len__(self):
        return len(self.patterns)

    def conv_pre(self):
        """conv_pre's weight [channels, VOCABULARY, TAPS] and bias [channels]."""
        weight = np.zeros((len(self), P.VOCABULARY, TAPS))
        for c, pattern in enumerate(self.patterns):
            for (token, tap), w in pattern.items():
                weight[c, token, tap] += w
        return weight, np.asarray(self.biases, dtype=np.float64)

    def activations(self, frame_tokens):
        """leaky_relu(conv_pre(z)) for a latent whose frame i is one-hot of frame_tokens[i]: [channels, frames]."""
        weight, bias = self.conv_pre()
        count = len(frame_tokens)
        z = np.zeros((P.VOCABULARY, count + TAPS - 1))
        z[np.asarray(frame_tokens), np.arange(count) + CENTRE_TAP] = 1.0
        out = np.tile(bias[:, None], (1, count))
        for tap in range(TAPS):
            out += weight[:, :, tap] @ z[:, tap:tap + count]
        return np.where(out >= 0, out, SLOPE * out)

    def render(self, frame_tokens):
        """The decoder's output before tanh for these frames, len(frame_tokens) * FRAME samples."""
        acts = self.activations(frame_tokens)
        count = len(frame_tokens)
        padded = np.zeros((count + 1) * P.FRAME + SPAN)
        waveforms = np.stack(self.waveforms) if self.waveforms else np.zeros((0, SPAN))
        for i in range(count):
            start = P.FRAME + i * P.FRAME - LEAD
            padded[start:start + SPAN] += acts[:, i] @ waveforms
        return padded[P.FRAME:P.FRAME + count * P.FRAME]
