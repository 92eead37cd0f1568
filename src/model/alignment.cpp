#include "model/alignment.h"

#include <torch/torch.h>

#include <algorithm>
#include <cmath>

namespace {

// Calls span(j, start, end) for every token j that owns frames [start, end) of
// the first `frames`: token j owns the round(durations[j]) frames after those
// of tokens 0..j-1.
template <typename Span>
void for_each_token_span(const torch::Tensor &durations, int64_t frames, Span span) {
  auto d_cpu = durations.to(torch::kCPU, torch::kFloat).contiguous();
  const float *d_data = d_cpu.data_ptr<float>();
  int64_t start = 0;
  // A loop over tokens, not samples: at most a few thousand iterations.
  for (int64_t j = 0; j < d_cpu.numel(); ++j) {
    // Beyond `frames` a duration only pushes later tokens out, which `frames` already does;
    // clamping first keeps the conversion defined for any float.
    const float rounded = std::round(d_data[j]);
    const int64_t d = rounded > 0 ? static_cast<int64_t>(std::min<float>(rounded, frames)) : 0;
    const int64_t end = std::min(start + d, frames);
    if (end > start) span(j, start, end);
    start += d;
  }
}

}  // namespace

torch::Tensor generate_path(const torch::Tensor &w_ceil, const torch::Tensor & /*x_mask*/) {
  const int64_t batch = w_ceil.size(0);
  const int64_t n_tokens = w_ceil.size(2);
  int64_t frames = w_ceil.sum({1, 2}).max().item<float>();
  if (frames <= 0) frames = 1;

  auto attn = torch::zeros({batch, n_tokens, frames}, w_ceil.options());
  for (int64_t b = 0; b < batch; ++b) {
    auto row = attn[b];
    for_each_token_span(w_ceil[b][0], frames, [&](int64_t j, int64_t start, int64_t end) {
      row[j].slice(0, start, end).fill_(1.0f);
    });
  }
  return attn;
}

torch::Tensor expand_to_frames(const torch::Tensor &token_stats, const torch::Tensor &w_ceil,
                               int64_t frames) {
  const int64_t n_tokens = token_stats.size(2);
  // Column n_tokens is the zero column of frames that no token owns.
  auto owner = torch::full({frames}, n_tokens, torch::kLong);
  auto *owner_data = owner.data_ptr<int64_t>();
  for_each_token_span(w_ceil[0][0], frames, [&](int64_t j, int64_t start, int64_t end) {
    std::fill(owner_data + start, owner_data + end, j);
  });
  auto padded = torch::cat({token_stats, torch::zeros_like(token_stats.narrow(2, 0, 1))}, 2);
  return padded.index_select(2, owner.to(token_stats.device()));
}
