"""Text encoder: every layer reduced to its layer norms, so each token id gets a
fixed feature vector x(t), and the prior mean of token t is the one-hot e_t."""
import torch

from architecture import CHANNELS, VOCABULARY

LAYERS = 6
EPS = 1e-5
SILENT_LOG_SCALE = -12.0   # prior noise 0.66 * e^-12, about 4e-6: inaudible


def _embedding():
    emb = torch.zeros(VOCABULARY, CHANNELS)
    t = torch.arange(VOCABULARY)
    emb[t, 2 * t] = 1.0
    emb[t, 2 * t + 1] = -1.0
    return emb


def token_features():
    """x(t) for every id as the engine computes it: [CHANNELS, VOCABULARY], float32.

    With every convolution zero each layer adds nothing before its two norms."""
    x = _embedding() * torch.tensor(float(CHANNELS), dtype=torch.float32).sqrt()
    for _ in range(2 * LAYERS):
        x = torch.nn.functional.layer_norm(x, (CHANNELS,), eps=EPS)
    return x.t().contiguous()


def solve_projection(targets, features):
    """W with W @ features = targets ([rows, VOCABULARY]), by the pseudo-inverse in double precision."""
    w = targets.double() @ torch.linalg.pinv(features.double())
    return w.float()


def text_encoder(features):
    """{name: tensor} of the text encoder."""
    p = "text_encoder."
    out = [(p + "emb.weight", _embedding())]
    for i in range(LAYERS):
        q = f"{p}encoder.attn_layers.{i}"
        for c in ("conv_q", "conv_k", "conv_v", "conv_o"):
            out += [(f"{q}.{c}.weight", torch.zeros(CHANNELS, CHANNELS, 1)), (f"{q}.{c}.bias", torch.zeros(CHANNELS))]
        out += [(q + ".emb_rel_k", torch.zeros(1, 9, 96)), (q + ".emb_rel_v", torch.zeros(1, 9, 96))]
    for lst in ("norm_layers_1", "norm_layers_2"):
        for i in range(LAYERS):
            out += [(f"{p}encoder.{lst}.{i}.gamma", torch.ones(CHANNELS)),
                    (f"{p}encoder.{lst}.{i}.beta", torch.zeros(CHANNELS))]
    for i in range(LAYERS):
        q = f"{p}encoder.ffn_layers.{i}"
        out += [(q + ".conv_1.weight", torch.zeros(768, CHANNELS, 3)), (q + ".conv_1.bias", torch.zeros(768)),
                (q + ".conv_2.weight", torch.zeros(CHANNELS, 768, 3)), (q + ".conv_2.bias", torch.zeros(CHANNELS))]
    means = torch.zeros(CHANNELS, VOCABULARY)
    means[:VOCABULARY] = torch.eye(VOCABULARY)
    proj = torch.zeros(2 * CHANNELS, CHANNELS, 1)
    proj[:CHANNELS, :, 0] = solve_projection(means, features)
    bias = torch.zeros(2 * CHANNELS)
    bias[CHANNELS:] = SILENT_LOG_SCALE
    out += [(p + "proj.weight", proj), (p + "proj.bias", bias)]
    return dict(out)
