#include "model/alignment.h"

#include <torch/torch.h>

#include <cmath>

torch::Tensor generate_path(const torch::Tensor &w_ceil, const torch::Tensor & /*x_mask*/) {
  const int64_t batch = w_ceil.size(0);
  const int64_t n_tokens = w_ceil.size(2);
  int64_t frames = w_ceil.sum({1, 2}).max().item<float>();
  if (frames <= 0) frames = 1;

  auto attn = torch::zeros({batch, n_tokens, frames}, w_ceil.options());
  auto durations = w_ceil.to(torch::kCPU, torch::kFloat).contiguous();
  auto d_acc = durations.accessor<float, 3>();
  // A loop over tokens, not samples: at most a few thousand iterations.
  for (int64_t b = 0; b < batch; ++b) {
    auto row = attn[b];
    int64_t start = 0;
    for (int64_t j = 0; j < n_tokens; ++j) {
      // Beyond `frames` a duration only pushes later tokens out, which `frames` already does;
      // clamping first keeps the conversion defined for any float.
      const float rounded = std::round(d_acc[b][0][j]);
      const int64_t d = rounded > 0 ? static_cast<int64_t>(std::min<float>(rounded, frames)) : 0;
      const int64_t end = std::min(start + d, frames);
      if (end > start) row[j].slice(0, start, end).fill_(1.0f);
      start += d;
    }
  }
  return attn;
}
