#!/usr/bin/python3
"""The waveform decoder's layer stack in plain PyTorch, timed like decoder-bench.

One forward on 94 latent frames with 1 and 2 intra-op threads; construction and
warm-up calls are excluded. Usage: /usr/bin/python3 bench/decoder_bench.py [repeats]
"""
import statistics
import sys
import time

import torch
import torch.nn.functional as F
from torch import nn

FRAMES = 94
WARMUP = 2
RATES, KERNELS = (8, 8, 4, 2), (16, 16, 8, 4)
RB_KERNELS, RB_DILATIONS = (3, 7, 11), (1, 3, 5)


class ResBlock(nn.Module):
    def __init__(self, ch, k):
        super().__init__()
        self.convs1 = nn.ModuleList(nn.Conv1d(ch, ch, k, dilation=d, padding=d * (k - 1) // 2)
                                    for d in RB_DILATIONS)
        self.convs2 = nn.ModuleList(nn.Conv1d(ch, ch, k, padding=(k - 1) // 2)
                                    for _ in RB_DILATIONS)

    def forward(self, x):
        for c1, c2 in zip(self.convs1, self.convs2):
            x = x + c2(F.leaky_relu(c1(F.leaky_relu(x, 0.1)), 0.1))
        return x


class Decoder(nn.Module):
    def __init__(self):
        super().__init__()
        self.conv_pre = nn.Conv1d(192, 1024, 7, padding=3)
        self.ups, self.resblocks, ch = nn.ModuleList(), nn.ModuleList(), 1024
        for r, k in zip(RATES, KERNELS):
            self.ups.append(nn.ConvTranspose1d(ch, ch // 2, k, r, padding=(k - r) // 2))
            ch //= 2
            self.resblocks.extend(ResBlock(ch, rk) for rk in RB_KERNELS)
        self.conv_post = nn.Conv1d(ch, 1, 7, padding=3, bias=False)

    def forward(self, z):
        x = self.conv_pre(z)
        n = len(RB_KERNELS)
        for i, up in enumerate(self.ups):
            x = up(F.leaky_relu(x, 0.1))
            xs = torch.zeros_like(x)
            for j in range(n):
                xs = xs + self.resblocks[n * i + j](x)
            x = xs / 3.0
        return torch.tanh(self.conv_post(F.leaky_relu(x, 0.01)))


def main():
    repeats = max(1, int(sys.argv[1])) if len(sys.argv) > 1 else 7
    torch.manual_seed(1)
    dec = Decoder().eval()
    z = torch.randn(1, 192, FRAMES)
    audio_s = FRAMES * 512 / 48000
    print(f"decoder_bench.py: CPU, torch {torch.__version__}, {FRAMES} frames "
          f"({audio_s:.3f} s audio), {WARMUP} warm-up, {repeats} repeats")
    print("| threads | median ms | min ms | max ms | real-time factor |")
    print("|---|---|---|---|---|")
    with torch.no_grad():
        for threads in (1, 2):
            torch.set_num_threads(threads)
            for _ in range(WARMUP):
                dec(z)
            ms = []
            for _ in range(repeats):
                start = time.perf_counter()
                dec(z)
                ms.append((time.perf_counter() - start) * 1000)
            med = statistics.median(ms)
            print(f"| {threads} | {med:.1f} | {min(ms):.1f} | {max(ms):.1f} | "
                  f"{med / 1000 / audio_s:.3f} |")


if __name__ == "__main__":
    main()
