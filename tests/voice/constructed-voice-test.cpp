// The constructed default voice, run through the engine's own networks: its
// durations, its identity flow and the waveforms its decoder writes.
#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "model/korva-vits.h"
#include "text/tokenizer.h"
#include "weights/binder.h"
#include "weights/manifest.h"

namespace {

constexpr int64_t kFrame = 512;
constexpr int kEdgeFrames = 30;

// Frames each phone gets at length scale 1, by class.
struct Expected {
  const char *symbols;  // space-separated
  int frames;
};
const Expected kTable[] = {
    {"a e i o u æ ɑ ɔ ɛ ʌ ɚ", 11}, {"ɪ ʊ ə", 8},       {"w j l ɹ", 8},   {"m n ŋ", 10},
    {"f s ʃ θ", 9},               {"v z ʒ ð", 7},      {"p t k", 6},     {"b d ɡ", 5},
    {"h", 5},                     {". ! ?", 22},       {", : ;", 16},    {"…", 30},
};

int32_t id_of(const std::string &symbol) {
  int32_t ids[8];
  const int n = tokenize(symbol.c_str(), ids, 8);
  EXPECT_EQ(n, 5) << symbol;  // start, blank, symbol, blank, end
  return ids[2];
}

std::vector<std::string> split(const std::string &text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// Expected frames of every id 0..48 at length scale 1.
std::vector<int> table_frames() {
  std::vector<int> frames(49, 0);
  frames[1] = frames[2] = kEdgeFrames;  // end, start
  for (const Expected &row : kTable)
    for (const std::string &s : split(row.symbols)) frames[id_of(s)] = row.frames;
  return frames;
}

std::vector<float> read_period(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<float> out(256);
  in.read(reinterpret_cast<char *>(out.data()), out.size() * sizeof(float));
  if (!in) out.clear();
  return out;
}

class ConstructedVoiceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    torch::NoGradGuard no_grad;
    model_ = new KorvaVITS();
    (*model_)->eval();
    std::unique_ptr<Manifest> manifest(manifest_open_path(KORVA_DEFAULT_VOICE));
    ASSERT_NE(manifest, nullptr) << "no voice at " KORVA_DEFAULT_VOICE;
    testing::internal::CaptureStderr();
    bound_ = manifest_bind_parameters(*manifest, **model_, remap_checkpoint_key);
    // As the engine runs the voice, which keeps the tests below fast.
    (*model_)->skip_identity_layers(true);
    testing::internal::GetCapturedStderr();
  }
  static void TearDownTestSuite() { delete model_; }

  void SetUp() override { ASSERT_GT(bound_, 0) << "the voice did not bind"; }

  // The duration pipeline as infer runs it: frames per token, [N].
  static torch::Tensor frames_of(const std::vector<int64_t> &ids, int seed, float length_scale) {
    torch::NoGradGuard no_grad;
    const auto id_tensor = torch::tensor(ids, torch::kLong).unsqueeze(0);
    const auto lengths = torch::tensor({static_cast<int64_t>(ids.size())}, torch::kLong);
    testing::internal::CaptureStderr();
    const auto enc = (*model_)->enc_p->forward(id_tensor, lengths);
    const auto logw =
        (*model_)->dp->forward(enc.x, enc.x_mask, 0.66f, at::detail::createCPUGenerator(seed));
    testing::internal::GetCapturedStderr();
    return torch::ceil(torch::exp(logw) * enc.x_mask * length_scale).flatten();
  }

  // The waveform before peak normalisation for framed symbols.
  static torch::Tensor speak(const std::vector<std::string> &symbols) {
    std::vector<int64_t> ids{2, 3};
    for (const auto &s : symbols) {
      ids.push_back(id_of(s));
      ids.push_back(3);
    }
    ids.push_back(1);
    testing::internal::CaptureStderr();
    auto out = (*model_)->infer(torch::tensor(ids, torch::kLong).unsqueeze(0),
                                torch::tensor({static_cast<int64_t>(ids.size())}, torch::kLong),
                                0.66f, 0.66f, 1.0f, 0);
    testing::internal::GetCapturedStderr();
    return out.flatten();
  }

  static KorvaVITS *model_;
  static int bound_;
};

KorvaVITS *ConstructedVoiceTest::model_ = nullptr;
int ConstructedVoiceTest::bound_ = 0;

std::vector<int64_t> every_id() {
  std::vector<int64_t> ids(49);
  for (int64_t i = 0; i < 49; ++i) ids[i] = i;
  return ids;
}

TEST_F(ConstructedVoiceTest, DurationsFollowTheTableWhateverTheNoise) {
  const std::vector<int> expected = table_frames();
  for (int seed : {0, 1, 7, 123, 4096}) {
    const auto frames = frames_of(every_id(), seed, 1.0f);
    for (int64_t id = 0; id < 49; ++id)
      EXPECT_EQ(frames[id].item<float>(), expected[id]) << "id " << id << " seed " << seed;
  }
}

TEST_F(ConstructedVoiceTest, SlowerSpeechStretchesEveryPhoneTheSameWay) {
  const std::vector<int> expected = table_frames();
  for (float scale : {1.1f, 1.3f}) {
    const auto frames = frames_of(every_id(), 5, scale);
    for (int64_t id = 0; id < 49; ++id) {
      const double want = expected[id] == 0 ? 0.0 : std::ceil(scale * (expected[id] - 0.5));
      EXPECT_EQ(frames[id].item<float>(), want) << "id " << id << " length scale " << scale;
    }
  }
}

TEST_F(ConstructedVoiceTest, BlankSpaceAndTieTakeNoFrames) {
  const std::vector<int64_t> ids{2, 3, id_of("a"), 3, id_of(" "), 3, id_of("\u0361"), 3, 1};
  const auto frames = frames_of(ids, 3, 1.3f);
  for (size_t i : {1, 3, 4, 5, 6, 7}) EXPECT_EQ(frames[i].item<float>(), 0.0f) << "position " << i;
  // and the pipeline agrees: start, a, end and nothing else
  EXPECT_EQ(speak({"a", " ", "\u0361"}).size(0), (2 * kEdgeFrames + 11) * kFrame);
}

TEST_F(ConstructedVoiceTest, FlowIsTheIdentity) {
  torch::NoGradGuard no_grad;
  torch::manual_seed(11);
  const auto z_p = torch::randn({1, 192, 40});
  const auto mask = torch::ones({1, 1, 40});
  auto z = z_p;
  auto &flows = (*model_)->flow->flows;
  // Computed, not skipped: the weights themselves must make it the identity.
  (*model_)->flow->skip_identity_layers(false);
  for (int i = (*model_)->flow->n_flows - 1; i >= 0; --i)
    z = flows->ptr<ResidualCouplingLayerImpl>(i)->forward(z.flip(1), mask, true, torch::Tensor());
  EXPECT_EQ((*model_)->flow->skip_identity_layers(true), 4);
  EXPECT_TRUE(torch::equal(z, z_p));
}

TEST_F(ConstructedVoiceTest, SkippedCouplingLayersKeepNoBfloat16Copy) {
  // The identity flow never runs: a bfloat16 copy of its weights would be ~55 MB unused.
  (*model_)->use_bfloat16(true);
  for (const auto &layer : *(*model_)->flow->flows) {
    const auto &enc = *layer->as<ResidualCouplingLayerImpl>()->enc;
    EXPECT_FALSE(enc.bfloat16);
    EXPECT_FALSE(enc.in_layers->ptr<WNConv1dImpl>(0)->weight_bf16.defined());
  }
  (*model_)->use_bfloat16(false);
}

TEST_F(ConstructedVoiceTest, SteadyVowelRepeatsItsTargetPeriod) {
  for (const char *vowel : {"ɑ", "i", "u"}) {
    const auto target = read_period(std::string(KORVA_DEFAULT_VOICE_PERIODS) + "/" +
                                    std::to_string(id_of(vowel)) + ".f32");
    ASSERT_EQ(target.size(), 256u) << "no target period for " << vowel;
    const auto wave = speak({vowel});
    // the vowel's frames 30..40; its first and last two frames blend with silence
    const int64_t begin = (kEdgeFrames + 2) * kFrame, end = (kEdgeFrames + 9) * kFrame;
    float worst = 0.0f;
    for (int64_t n = begin; n < end; ++n)
      worst = std::max(worst, std::fabs(wave[n].item<float>() - target[n % 256]));
    EXPECT_LT(worst, 1e-3f) << vowel;
  }
}

TEST_F(ConstructedVoiceTest, StopIsSilentThenReleasedBeforeTheVowel) {
  const auto wave = speak({"ɑ", "t", "ɑ"}).abs();
  // ɑ owns frames 30..40, t 41..46, ɑ from 47; the first vowel leaks into frame 41
  const int64_t closure = 42 * kFrame + kFrame / 2, onset = 47 * kFrame;
  const int64_t burst = onset - 1000;
  EXPECT_LT(wave.slice(0, closure, burst).max().item<float>(), 1e-3f);
  // the next vowel fades in only from frame 46 on, 768 samples before its onset
  EXPECT_GT(wave.slice(0, burst, burst + 200).max().item<float>(), 0.05f);
}

TEST_F(ConstructedVoiceTest, SkippingItsIdentityLayersLeavesEverySampleAsItWas) {
  const std::vector<std::string> word{"m", "ɑ", "t", "ɑ"};
  const auto skipped = speak(word);
  testing::internal::CaptureStderr();
  (*model_)->skip_identity_layers(false);
  testing::internal::GetCapturedStderr();
  const auto all = speak(word);
  testing::internal::CaptureStderr();
  (*model_)->skip_identity_layers(true);
  const std::string log = testing::internal::GetCapturedStderr();
  // Every coupling layer and every residual step is the identity by construction.
  EXPECT_NE(log.find("Identity layers skipped: 4 coupling layers, 36 residual steps"),
            std::string::npos)
      << log;
  ASSERT_EQ(all.sizes(), skipped.sizes());
  // The same bits, -0 and +0 told apart.
  EXPECT_TRUE(torch::equal(all.view(torch::kInt), skipped.view(torch::kInt)));
}

}  // namespace
