// Networks built from a voice description rather than the constructed voice's
// sizes: Piper-like decoders (resblock type 2, three stages), speaker
// conditioning, and chunked synthesis that stays exact for them.
#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cmath>
#include <string>
#include <vector>

#include "model/chunked-synthesis.h"
#include "model/cpu-features.h"
#include "model/korva-vits.h"
#include "nn/resblock.h"

namespace {

using Shape = std::vector<int64_t>;

// A small voice of the Piper shape: resblock 2, x8 8 4, four speakers.
VoiceDescription small_piper_voice() {
  VoiceDescription voice;
  voice.sample_rate = 22050;
  voice.text_encoder = {20, 16, 16, 32, 2, 2, 3, 4};
  voice.duration_predictor.filter_channels = 16;
  voice.flow = {2, 5, 1, 2};
  voice.decoder.resblock = 2;
  voice.decoder.resblock_kernel_sizes = {3, 5, 7};
  voice.decoder.resblock_dilation_sizes = {{1, 2}, {2, 6}, {3, 12}};
  voice.decoder.upsample_rates = {8, 8, 4};
  voice.decoder.upsample_kernel_sizes = {16, 16, 8};
  voice.decoder.upsample_initial_channel = 32;
  voice.speakers = {4, 8, {}};
  return voice;
}

// Fan-in scaled weights keep activations finite; every bias and shift non-zero.
void scale_weights(torch::nn::Module &module) {
  torch::manual_seed(3);
  torch::NoGradGuard no_grad;
  for (auto &w : module.parameters()) {
    if (w.dim() == 3) {
      w.normal_(0.0, 1.0 / std::sqrt(static_cast<double>(w.numel() / w.size(0))));
    } else {
      w.normal_(0.0, 0.1);
    }
  }
}

TEST(VoiceShapes, SpeakerPartsAndResblockType2AreRegisteredUnderTheirNames) {
  KorvaVITS model(small_piper_voice());
  const auto params = model->named_parameters();
  EXPECT_EQ(params["emb_g.weight"].sizes().vec(), (Shape{4, 8}));
  EXPECT_EQ(params["dp.cond.weight"].sizes().vec(), (Shape{16, 8, 1}));
  // One slice of 2 x hidden per WaveNet layer.
  EXPECT_EQ(params["flow.flows.1.enc.cond_layer.weight"].sizes().vec(), (Shape{2 * 16 * 2, 8, 1}));
  EXPECT_EQ(params["dec.cond.weight"].sizes().vec(), (Shape{32, 8, 1}));
  EXPECT_EQ(params["dec.resblocks.8.convs.1.weight"].sizes().vec(), (Shape{4, 4, 7}));
  EXPECT_EQ(params.find("dec.resblocks.0.convs1.0.weight"), nullptr);
  EXPECT_EQ(params.find("dec.resblocks.0.convs2.0.weight"), nullptr);
  EXPECT_EQ(params["dec.conv_post.weight"].sizes().vec(), (Shape{1, 4, 7}));
  EXPECT_EQ(model->dec->samples_per_frame(), 256);
  EXPECT_EQ(params["enc_p.emb.weight"].sizes().vec(), (Shape{20, 16}));
}

TEST(VoiceShapes, OnlyTheConstructedVoiceHasTheTrainingOnlyDurationNetworks) {
  VoiceDescription described = small_piper_voice();
  described.duration_predictor.training_parts = false;  // as voice.json reads
  KorvaVITS model(described);
  const auto params = model->named_parameters();
  for (const auto &item : params) {
    EXPECT_EQ(item.key().find("dp.post_"), std::string::npos) << item.key();
    EXPECT_EQ(item.key().find("dp.flows.1."), std::string::npos) << item.key();
  }
  EXPECT_NE(params.find("dp.flows.2.pre.weight"), nullptr);
  scale_weights(*model);
  torch::NoGradGuard no_grad;
  const auto logw = model->dp->forward(torch::randn({1, 16, 7}), torch::ones({1, 1, 7}), 0.5f,
                                       at::detail::createCPUGenerator(1), torch::randn({1, 8, 1}));
  EXPECT_EQ(logw.sizes().vec(), (Shape{1, 1, 7}));
  EXPECT_NE(KorvaVITS()->named_parameters().find("dp.post_flows.0.translation"), nullptr);
  EXPECT_NE(KorvaVITS()->named_parameters().find("dp.flows.1.pre.weight"), nullptr);
}

TEST(VoiceShapes, TheConstructedVoiceHasNoSpeakerParts) {
  KorvaVITS model;
  for (const auto &item : model->named_parameters())
    EXPECT_EQ(item.key().find("cond"), std::string::npos) << item.key();
  EXPECT_FALSE(model->emb_g);
}

TEST(VoiceShapes, ResblockType2HasOneConvolutionPerDilation) {
  ResBlock block(4, 5, std::vector<int32_t>{2, 6}, 2);
  EXPECT_EQ(block->named_parameters().size(), 4u);
  EXPECT_EQ(block->context_samples(), 4 + 12);
  torch::NoGradGuard no_grad;
  EXPECT_EQ(block->forward(torch::randn({1, 4, 13})).sizes().vec(), (Shape{1, 4, 13}));
}

class SmallPiper : public ::testing::Test {
 protected:
  SmallPiper() : model_(small_piper_voice()) {
    scale_weights(*model_);
    model_->eval();
  }
  torch::Tensor speaker(int64_t id) {
    return model_->emb_g->forward(torch::full({1}, id, torch::kLong)).unsqueeze(-1);
  }
  KorvaVITS model_;
};

TEST_F(SmallPiper, SpeakersChangeEveryConditionedNetwork) {
  torch::NoGradGuard no_grad;
  const auto z = torch::randn({1, 16, 9});
  const auto mask = torch::ones({1, 1, 9});
  auto differs = [](const torch::Tensor &a, const torch::Tensor &b) {
    return (a - b).abs().max().item<float>() > 1e-4f;
  };
  EXPECT_TRUE(differs(model_->dec->forward(z, speaker(0)), model_->dec->forward(z, speaker(3))));
  auto layer = model_->flow->flows[0]->as<ResidualCouplingLayerImpl>();
  EXPECT_TRUE(differs(layer->forward(z, mask, true, speaker(0)),
                      layer->forward(z, mask, true, speaker(1))));
  const auto logw_0 =
      model_->dp->forward(z, mask, 0.0f, at::detail::createCPUGenerator(1), speaker(0));
  const auto logw_2 =
      model_->dp->forward(z, mask, 0.0f, at::detail::createCPUGenerator(1), speaker(2));
  EXPECT_TRUE(differs(logw_0, logw_2));
}

// Collects what the chunked road hands out.
class Collect : public WaveSink {
 public:
  void begin(int64_t total) override { total_ = total; }
  bool write(const float *samples, int64_t count) override {
    wave.insert(wave.end(), samples, samples + count);
    return true;
  }
  std::vector<float> wave;
  int64_t total_ = 0;
};

TEST_F(SmallPiper, ChunkedSynthesisEqualsTheWholeUtterance) {
  torch::NoGradGuard no_grad;
  constexpr int64_t kFrames = 40;
  const auto z_p = torch::randn({1, 16, kFrames});
  const auto mask = torch::ones({1, 1, kFrames});
  const auto g = speaker(2);
  auto z = z_p;
  for (int i = model_->flow->n_flows - 1; i >= 0; --i)
    z = model_->flow->flows[i]->as<ResidualCouplingLayerImpl>()->forward(torch::flip(z, {1}),
                                                                           mask, true, g);
  const auto whole = model_->dec->forward(z, g).view({-1});
  Collect windows;
  ASSERT_TRUE(synthesize_chunked(*model_->flow, *model_->dec, z_p, mask, windows, {1, 8, 3}, g));
  ASSERT_EQ(windows.total_, kFrames * 256);
  ASSERT_EQ(static_cast<int64_t>(windows.wave.size()), kFrames * 256);
  const auto chunked = torch::tensor(windows.wave);
  EXPECT_LT((chunked - whole).abs().max().item<float>(), 1e-5f);
}

TEST_F(SmallPiper, SynthesisRefusesASpeakerOutOfRange) {
  Collect sink;
  const auto ids = torch::tensor({{0, 5, 0, 7, 0}}, torch::kLong);
  EXPECT_THROW(model_->synthesize(ids, torch::tensor({5}), 0.667f, 0.8f, 1.0f, 0, sink, {}, 4),
               std::runtime_error);
  ASSERT_TRUE(model_->synthesize(ids, torch::tensor({5}), 0.667f, 0.8f, 1.0f, 0, sink, {}, 3));
  EXPECT_EQ(static_cast<int64_t>(sink.wave.size()) % 256, 0);
}

TEST_F(SmallPiper, Bfloat16DecodingStaysCloseForResblockType2) {
  if (!bfloat16_missing(cpu_features()).empty()) GTEST_SKIP() << "no native bfloat16 here";
  torch::NoGradGuard no_grad;
  const auto z = torch::randn({1, 16, 6});
  const auto fp32 = model_->dec->forward(z, speaker(1));
  model_->dec->use_bfloat16(true);
  const auto bf16 = model_->dec->forward(z, speaker(1));
  model_->dec->use_bfloat16(false);
  EXPECT_LT((bf16 - fp32).abs().max().item<float>(), 0.05f);
  EXPECT_EQ((model_->dec->forward(z, speaker(1)) - fp32).abs().max().item<float>(), 0.0f);
}

}  // namespace

namespace {

TEST(VoiceShapes, TheDeterministicPredictorTakesThePlaceOfTheStochasticOne) {
  VoiceDescription voice = small_piper_voice();
  voice.duration_predictor.stochastic = false;
  voice.duration_predictor.filter_channels = 12;
  KorvaVITS model(voice);
  scale_weights(*model);
  model->eval();
  const auto params = model->named_parameters();
  EXPECT_FALSE(model->dp);
  EXPECT_EQ(params["dp.conv_1.weight"].sizes().vec(), (Shape{12, 16, 3}));
  EXPECT_EQ(params["dp.proj.weight"].sizes().vec(), (Shape{1, 12, 1}));
  EXPECT_EQ(params["dp.cond.weight"].sizes().vec(), (Shape{16, 8, 1}));
  EXPECT_EQ(params.find("dp.flows.0.translation"), nullptr);
  // No noise in the durations: the same seed and any duration noise give the same audio.
  const auto ids = torch::tensor({{0, 5, 0, 7, 0}}, torch::kLong);
  const auto a = model->infer(ids, torch::tensor({5}), 0.0f, 0.0f, 1.0f, 0, {}, 1);
  const auto b = model->infer(ids, torch::tensor({5}), 0.0f, 5.0f, 1.0f, 0, {}, 1);
  ASSERT_EQ(a.sizes(), b.sizes());
  EXPECT_EQ((a - b).abs().max().item<float>(), 0.0f);
}

}  // namespace
