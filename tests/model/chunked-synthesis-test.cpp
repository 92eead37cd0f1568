// Window-by-window flow and decoder against the same networks run over the
// whole utterance, and the receptive fields that make the windows exact.
#include "model/chunked-synthesis.h"

#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cmath>
#include <vector>

#include "golden-support.h"
#include "model/cpu-features.h"
#include "nn/coupling-flow.h"
#include "nn/hifigan-decoder.h"
#include "nn/resblock.h"
#include "nn/wn-conv.h"

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

TEST_F(ChunkedSynthesis, ANanWeightInTheDecoderIsAnErrorNotSilence) {
  // One NaN in the last convolution, as a damaged archive leaves it.
  dec_->conv_post->weight.view(-1)[0] = std::nanf("");
  CollectingSink sink;
  testing::internal::CaptureStderr();
  EXPECT_THROW(
      {
        try {
          synthesize_chunked(*flow_, *dec_, z_p_, mask_, sink, {4, 4, 4});
        } catch (const std::runtime_error &e) {
          EXPECT_STREQ(e.what(), "non-finite waveform samples from the decoder");
          throw;
        }
      },
      std::runtime_error);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(sink.writes, 0);
}

// The same bits, -0 and +0 told apart.
bool same_bits(const torch::Tensor &a, const torch::Tensor &b) {
  return a.sizes() == b.sizes() && torch::equal(a.view(torch::kInt), b.view(torch::kInt));
}

TEST_F(ChunkedSynthesis, SkippedIdentityLayersLeaveEverySampleAsItWas) {
  auto zero = [](torch::Tensor &weight, torch::Tensor &bias, float bias_value) {
    weight.zero_();
    bias.fill_(bias_value);
  };
  auto post = flow_->flows->ptr<ResidualCouplingLayerImpl>(1)->post;
  zero(post->weight, post->bias, 0.0f);
  // The whole first block of a stage: its sum is then the one the others add into.
  for (const auto &conv : *dec_->resblocks->ptr<ResBlockImpl>(3)->convs2) {
    auto step = conv->as<WNConv1dImpl>();
    zero(step->weight, step->bias, 0.0f);
  }
  // A -0 bias could make a zero sum -0: that step must still run.
  auto signed_step = dec_->resblocks->ptr<ResBlockImpl>(7)->convs2->ptr<WNConv1dImpl>(0);
  zero(signed_step->weight, signed_step->bias, -0.0f);

  const int64_t frames = 6;
  const auto z_p = z_p_.narrow(2, 0, frames);
  auto mask = mask_.narrow(2, 0, frames).clone();
  mask.narrow(2, frames - 2, 2).zero_();  // a skipped layer must still mask
  std::vector<bool> precisions{false};
  if (bfloat16_missing(cpu_features()).empty()) precisions.push_back(true);
  for (const bool bf16 : precisions) {
    dec_->use_bfloat16(bf16);
    for (const ChunkSizes sizes : {ChunkSizes{1, 2, 2}, ChunkSizes{frames, frames, frames}}) {
      CollectingSink all, skipped;
      testing::internal::CaptureStderr();
      EXPECT_EQ(flow_->skip_identity_layers(false) + dec_->skip_identity_steps(false), 0);
      ASSERT_TRUE(synthesize_chunked(*flow_, *dec_, z_p, mask, all, sizes));
      EXPECT_EQ(flow_->skip_identity_layers(true), 1);
      EXPECT_EQ(dec_->skip_identity_steps(true), 3);
      ASSERT_TRUE(synthesize_chunked(*flow_, *dec_, z_p, mask, skipped, sizes));
      testing::internal::GetCapturedStderr();
      EXPECT_TRUE(same_bits(all.wave(), skipped.wave()))
          << (bf16 ? "bf16" : "fp32") << ", first window " << sizes.first_decode;
    }
  }
}

TEST(IdentityLayers, AFreshFlowIsAllIdentityAndAFreshDecoderNone) {
  torch::NoGradGuard no_grad;
  EXPECT_EQ(Flow(192, 16, 5, 1, 2, 3)->skip_identity_layers(true), 3);
  EXPECT_EQ(Decoder()->skip_identity_steps(true), 0);
}

}  // namespace
