#include "model/flow-self-test.h"

#include <torch/torch.h>

#include <cstdio>
#include <vector>

#include "log/log.h"
#include "model/korva-vits.h"

namespace {

constexpr int64_t kChannels = 192;
constexpr int64_t kFrames = 10;

void print_first5(const char *label, const torch::Tensor &t) {
  LogLine line(LogLevel::kInfo);
  line.add("%s", label);
  for (int64_t c = 0; c < 5; ++c) line.add(" %.6f", t[0][c][0].item<float>());
}

}  // namespace

void flow_self_test(KorvaVITSImpl &model) {
  // It only prints: with its lines off there is nothing to do.
  if (!log_enabled(LogLevel::kInfo)) return;
  FILE *f = fopen("C:/tmp/flow_test_zp.bin", "rb");
  if (!f) {
    log_line(LogLevel::kInfo, "[test] Cannot open flow_test_zp.bin");
    return;
  }
  // A short file leaves the remaining values at zero.
  std::vector<float> values(kChannels * kFrames, 0.0f);
  const size_t n = fread(values.data(), sizeof(float), values.size(), f);
  fclose(f);
  log_line(LogLevel::kInfo, "[test] Read %zu floats from flow_test_zp.bin", n);

  torch::NoGradGuard no_grad;
  auto z_p = torch::from_blob(values.data(), {1, kChannels, kFrames}, torch::kFloat).clone();
  auto mask = torch::ones({1, 1, kFrames});
  print_first5("[test] z_p[0,:5,0]:", z_p);

  auto x = torch::flip(z_p, {1});
  print_first5("[test] After flip, x[0,:5,0]:", x);
  auto halves = x.chunk(2, 1);
  const auto &x0 = halves[0];
  const auto &x1 = halves[1];
  print_first5("[test] x0[0,:5,0]:", x0);
  print_first5("[test] x1[0,:5,0]:", x1);

  auto layer = model.flow->flows[model.flow->n_flows - 1]->as<ResidualCouplingLayerImpl>();
  auto h = layer->pre->forward(x0) * mask;
  print_first5("[test] pre output h[0,:5,0]:", h);
  log_line(LogLevel::kInfo, "[test] pre output stats: min=%.4f max=%.4f", h.min().item<float>(),
           h.max().item<float>());

  auto g = layer->enc->forward(h, mask);
  log_line(LogLevel::kInfo, "[test] WN output stats: min=%.4f max=%.4f", g.min().item<float>(),
           g.max().item<float>());
  print_first5("[test] WN output[0,:5,0]:", g);

  auto m = layer->post->forward(g) * mask;
  log_line(LogLevel::kInfo, "[test] post output m stats: min=%.4f max=%.4f mean=%.6f",
           m.min().item<float>(), m.max().item<float>(), m.mean().item<float>());
  print_first5("[test] m[0,:5,0]:", m);

  auto result = torch::cat({x0, (x1 - m) * mask}, 1);
  print_first5("[test] result[0,:5,0]:", result);
  auto full = layer->forward(x, mask, true, torch::Tensor());
  print_first5("[test] full forward result[0,:5,0]:", full);
}
