// Window-by-window flow and decoder against the same networks run over the
// whole utterance, and the receptive fields that make the windows exact.
#include "model/chunked-synthesis.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cmath>
#include <vector>

#include "golden-support.h"
#include "nn/coupling-flow.h"
#include "nn/hifigan-decoder.h"

namespace {

constexpr int64_t kFrames = 50;

// Fan-in scaled weights keep activations finite (the randn placeholders
// overflow); a non-zero `post` makes every coupling layer change its input.
template <typename Module>
void scale_weights(Module &module) {
  torch::NoGradGuard no_grad;
  for (auto &w : module.parameters())
    if (w.dim() == 3) w.normal_(0.0, 1.0 / std::sqrt(static_cast<double>(w.numel() / w.size(0))));
}

// A narrow flow keeps the test fast; its context is 2 layers x 2 convolutions x 2 frames.
Flow small_flow() {
  Flow flow(192, 16, 5, 1, 2, 2);
  scale_weights(*flow);
  return flow;
}

Decoder sane_decoder() {
  Decoder dec;
  scale_weights(*dec);
  return dec;
}

class CollectingSink : public WaveSink {
 public:
  explicit CollectingSink(int stop_after = -1) : stop_after_(stop_after) {}
  void begin(int64_t total_samples) override { total = total_samples; }
  bool write(const float *samples, int64_t count) override {
    samples_.insert(samples_.end(), samples, samples + count);
    return ++writes != stop_after_;
  }
  torch::Tensor wave() {
    return torch::from_blob(samples_.data(), {1, 1, (int64_t)samples_.size()});
  }
  int64_t total = -1;
  int writes = 0;

 private:
  int stop_after_;
  std::vector<float> samples_;
};

torch::Tensor whole_flow(FlowImpl &flow, torch::Tensor z, const torch::Tensor &mask) {
  for (int i = flow.n_flows - 1; i >= 0; --i)
    z = flow.flows[i]->as<ResidualCouplingLayerImpl>()->forward(torch::flip(z, {1}), mask, true,
                                                                torch::Tensor());
  return z;
}

class ChunkedSynthesis : public ::testing::Test {
 protected:
  void SetUp() override { torch::manual_seed(3); }
  torch::NoGradGuard no_grad_;
  Flow flow_ = small_flow();
  Decoder dec_ = sane_decoder();
  torch::Tensor z_p_ = torch::randn({1, 192, kFrames});
  torch::Tensor mask_ = torch::ones({1, 1, kFrames});
};

TEST_F(ChunkedSynthesis, ContextCoversTheModelsReceptiveFields) {
  EXPECT_EQ(Flow(192, 192, 11, 1, 8, 4)->context_frames(), 160);
  EXPECT_EQ(flow_->context_frames(), 8);
  EXPECT_EQ(dec_->context_frames(), 15);
}

TEST_F(ChunkedSynthesis, NothingBeyondTheContextDependsOnAFrame) {
  const int64_t frame = 25;
  auto changed = z_p_.clone();
  changed.select(2, frame).add_(1.0f);

  const auto flow_delta =
      (whole_flow(*flow_, changed, mask_) - whole_flow(*flow_, z_p_, mask_)).abs().amax({0, 1});
  const int64_t flow_context = flow_->context_frames();
  EXPECT_EQ(flow_delta.slice(0, 0, frame - flow_context).max().item<float>(), 0.0f);
  EXPECT_EQ(flow_delta.slice(0, frame + flow_context + 1).max().item<float>(), 0.0f);
  EXPECT_GT(flow_delta[frame - flow_context].item<float>(), 0.0f);

  const auto wave_delta = (dec_->forward(changed) - dec_->forward(z_p_)).abs().view({-1});
  const int64_t reach = dec_->context_frames() * dec_->samples_per_frame();
  const int64_t first = frame * dec_->samples_per_frame();
  EXPECT_EQ(wave_delta.slice(0, 0, first - reach).max().item<float>(), 0.0f);
  EXPECT_EQ(wave_delta.slice(0, first + dec_->samples_per_frame() + reach).max().item<float>(), 0.0f);
  EXPECT_GT(wave_delta.slice(0, first - reach, first).max().item<float>(), 0.0f);
}

TEST_F(ChunkedSynthesis, WindowsGiveTheWholeUtteranceSamplesAndLines) {
  const auto whole = dec_->forward(whole_flow(*flow_, z_p_, mask_));

  CollectingSink one_window;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(
      synthesize_chunked(*flow_, *dec_, z_p_, mask_, one_window, {kFrames, kFrames, kFrames}));
  const auto one_window_lines = inference_lines(testing::internal::GetCapturedStderr());

  // Windows far smaller than the contexts: every boundary case at once.
  CollectingSink windows;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(synthesize_chunked(*flow_, *dec_, z_p_, mask_, windows, {1, 8, 3}));
  const auto lines = inference_lines(testing::internal::GetCapturedStderr());

  EXPECT_EQ(windows.total, kFrames * dec_->samples_per_frame());
  EXPECT_GT(windows.writes, 6);
  ASSERT_EQ(windows.wave().sizes(), whole.sizes());
  EXPECT_LE((windows.wave() - whole).abs().max().item<float>(), 1e-5f);
  EXPECT_LE((one_window.wave() - whole).abs().max().item<float>(), 1e-5f);

  ASSERT_EQ(lines.size(), 4u) << "two flow lines, the latent and the decoder output";
  ASSERT_EQ(lines.size(), one_window_lines.size());
  for (size_t i = 0; i < lines.size(); ++i)
    EXPECT_TRUE(lines_match(lines[i], one_window_lines[i], 1e-5));
}

TEST_F(ChunkedSynthesis, ASinkThatSaysStopEndsTheSynthesis) {
  CollectingSink sink(2);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(synthesize_chunked(*flow_, *dec_, z_p_, mask_, sink, {4, 4, 4}));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(sink.writes, 2);
  EXPECT_EQ(log.find("decoder output stats"), std::string::npos);
}

}  // namespace
