// The model against the reference outputs of an independent implementation,
// on the full-size golden archive: durations exactly, values within tolerance.
#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cmath>
#include <memory>

#include "golden-support.h"
#include "model/cpu-features.h"
#include "model/korva-vits.h"
#include "weights/binder.h"
#include "weights/manifest.h"

namespace {

using nlohmann::json;

class GoldenModel : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string why;
    if (!golden_available(&why)) return;
    std::unique_ptr<Manifest> manifest(manifest_open_path(KORVA_GOLDEN_ARCHIVE));
    ASSERT_NE(manifest, nullptr);
    model_ = new KorvaVITS();
    (*model_)->eval();
    testing::internal::CaptureStderr();
    bind_result_ = manifest_bind_parameters(*manifest, **model_, remap_checkpoint_key);
    bind_log_ = testing::internal::GetCapturedStderr();
  }
  static void TearDownTestSuite() {
    delete model_;
    model_ = nullptr;
  }
  void SetUp() override {
    std::string why;
    if (!golden_available(&why)) GTEST_SKIP() << why;
  }

  static KorvaVITS *model_;
  static int bind_result_;
  static std::string bind_log_;
};

KorvaVITS *GoldenModel::model_ = nullptr;
int GoldenModel::bind_result_ = 0;
std::string GoldenModel::bind_log_;

size_t count_occurrences(const std::string &text, const std::string &needle) {
  size_t n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1))
    ++n;
  return n;
}

// Largest |a - b| and where it occurs.
std::pair<double, size_t> max_abs_diff(const float *a, const std::vector<float> &b) {
  std::pair<double, size_t> worst{0.0, 0};
  for (size_t i = 0; i < b.size(); ++i) {
    const double d = std::fabs(static_cast<double>(a[i]) - b[i]);
    if (!(d <= worst.first)) worst = {d, i};
  }
  return worst;
}

void expect_near_rel(double ours, double expected, double rel, const char *what) {
  EXPECT_LE(std::fabs(ours - expected), rel * std::max(1.0, std::fabs(expected)))
      << what << ": ours " << ours << ", expected " << expected;
}

// Values of a dump written with a 3-int header.
std::vector<float> dump_values(const std::string &path, std::vector<int32_t> *sizes) {
  auto raw = read_floats(path);
  if (raw.size() < 3) return {};
  sizes->resize(3);
  std::memcpy(sizes->data(), raw.data(), 3 * sizeof(int32_t));
  return std::vector<float>(raw.begin() + 3, raw.end());
}

TEST_F(GoldenModel, BindsEveryParameterFoldingTheWeightNormalisedOnes) {
  EXPECT_EQ(bind_result_, 694);
  EXPECT_EQ(count_occurrences(bind_log_, "[manifest] SKIP: "), 140u);
  EXPECT_EQ(count_occurrences(bind_log_, "[manifest] WN fold: "), 140u);
  EXPECT_NE(bind_log_.find("[manifest] Loaded 694, skipped 140\n"), std::string::npos);
}

TEST_F(GoldenModel, EveryCaseMatchesTheReference) {
  const json &all = golden_cases();
  const json &tol = all["tolerance"];
  const double stats_rel = tol["stats_rel"], logw_abs = tol["logw_abs"], w_rel = tol["w_rel"],
               wave_abs = tol["wave_abs"];
  for (const json &c : all["cases"]) {
    SCOPED_TRACE(c["name"].get<std::string>());
    const json &e = c["expected"];
    const std::vector<int64_t> ids = c["ids"];
    const int64_t n_tokens = static_cast<int64_t>(ids.size());

    DumpDirectory dumps;
    testing::internal::CaptureStderr();
    auto wave = (*model_)->infer(torch::tensor(ids).unsqueeze(0), torch::tensor({n_tokens}),
                                 c["noise_scale"], c["noise_scale_w"], c["length_scale"],
                                 c["seed"].get<int>());
    const std::string log = testing::internal::GetCapturedStderr();

    // Exact: sizes and frame counts.
    ASSERT_EQ(wave.numel(), e["n_samples"].get<int64_t>()) << log;
    EXPECT_EQ(wave.numel() / 512, e["T"].get<int64_t>());
    const auto w_ceil = read_floats(dumps.file("sdp_wceil.bin"));
    const std::vector<float> expected_w_ceil = e["w_ceil"];
    EXPECT_EQ(w_ceil, expected_w_ceil);

    // Durations: logw is channel 0 of the last duration-predictor step.
    const auto step3 = read_floats(dumps.file("sdp_step3.bin"));
    ASSERT_EQ(step3.size(), static_cast<size_t>(2 * n_tokens));
    const std::vector<double> expected_logw = e["logw"], expected_w = e["w"];
    const double length_scale = c["length_scale"];
    for (int64_t j = 0; j < n_tokens; ++j) {
      EXPECT_NEAR(step3[j], expected_logw[j], logw_abs) << "logw of token " << j;
      const float w = std::exp(step3[j]) * static_cast<float>(length_scale);
      expect_near_rel(w, expected_w[j], w_rel, "w");
    }

    // The waveform, sample by sample, before normalisation.
    const auto reference =
        read_floats(std::string(KORVA_GOLDEN_DIR) + "/" + e["waveform_file"].get<std::string>());
    ASSERT_EQ(reference.size(), static_cast<size_t>(wave.numel()));
    auto samples = wave.contiguous();
    const auto [worst, where] = max_abs_diff(samples.data_ptr<float>(), reference);
    EXPECT_LE(worst, wave_abs) << "largest waveform difference at sample " << where;
    const json &ws = e["wave"];
    EXPECT_NEAR(samples.min().item<float>(), ws["min"].get<double>(), wave_abs);
    EXPECT_NEAR(samples.max().item<float>(), ws["max"].get<double>(), wave_abs);
    EXPECT_NEAR(samples.pow(2).mean().sqrt().item<float>(), ws["rms"].get<double>(), wave_abs);

    // Full-precision statistics from the dumps.
    const json &st = e["stats"];
    std::vector<int32_t> sizes;
    auto enc = torch::tensor(dump_values(dumps.file("sdp_enc_out.bin"), &sizes));
    EXPECT_EQ(sizes, (std::vector<int32_t>{1, 192, static_cast<int32_t>(n_tokens)}));
    expect_near_rel(enc.min().item<float>(), st["enc_out"]["min"], stats_rel, "enc_out min");
    expect_near_rel(enc.max().item<float>(), st["enc_out"]["max"], stats_rel, "enc_out max");
    expect_near_rel(enc.mean().item<float>(), st["enc_out"]["mean"], stats_rel, "enc_out mean");
    expect_near_rel(enc.std().item<float>(), st["enc_out"]["std"], stats_rel, "enc_out std");
    auto h = torch::tensor(read_floats(dumps.file("sdp_h.bin")));
    expect_near_rel(h.min().item<float>(), st["sdp_h"]["min"], stats_rel, "sdp h min");
    expect_near_rel(h.max().item<float>(), st["sdp_h"]["max"], stats_rel, "sdp h max");
    expect_near_rel(h.mean().item<float>(), st["sdp_h"]["mean"], stats_rel, "sdp h mean");
    auto z = torch::tensor(dump_values(dumps.file("korva_z_input.bin"), &sizes));
    const std::vector<int32_t> z_shape = st["z_input_shape"];
    EXPECT_EQ(sizes, z_shape);
    EXPECT_EQ(z.numel(), 192 * e["T"].get<int64_t>());

    // Every diagnostic line, in order.
    const auto ours = inference_lines(log);
    const std::vector<std::string> expected_lines = e["log_lines"];
    ASSERT_EQ(ours.size(), expected_lines.size()) << log;
    for (size_t i = 0; i < ours.size(); ++i)
      EXPECT_TRUE(lines_match(ours[i], expected_lines[i], stats_rel));
  }
}

// The opt-in bfloat16 decoder against the float32 reference: at least 40 dB of
// signal to difference on every case.
TEST_F(GoldenModel, Bfloat16DecoderStaysFortyDecibelsFromTheReference) {
  const std::string missing = bfloat16_missing(cpu_features());
  if (!missing.empty()) GTEST_SKIP() << "needs native bfloat16: " << missing;
  struct Restore {
    ~Restore() { (*model_)->dec->use_bfloat16(false); }
  } restore;
  (*model_)->dec->use_bfloat16(true);
  for (const json &c : golden_cases()["cases"]) {
    SCOPED_TRACE(c["name"].get<std::string>());
    const std::vector<int64_t> ids = c["ids"];
    testing::internal::CaptureStderr();
    auto wave = (*model_)->infer(
        torch::tensor(ids).unsqueeze(0), torch::tensor({static_cast<int64_t>(ids.size())}),
        c["noise_scale"], c["noise_scale_w"], c["length_scale"], c["seed"].get<int>());
    testing::internal::GetCapturedStderr();
    const auto reference = torch::tensor(read_floats(
        std::string(KORVA_GOLDEN_DIR) + "/" + c["expected"]["waveform_file"].get<std::string>()));
    ASSERT_EQ(wave.numel(), reference.numel());
    const double signal = reference.pow(2).sum().item<double>();
    const double noise = (wave.view({-1}) - reference).pow(2).sum().item<double>();
    EXPECT_GE(10.0 * std::log10(signal / noise), 40.0);
  }
}

TEST_F(GoldenModel, AlignmentDumpGivesEveryFrameToExactlyOneToken) {
  const json &c = golden_cases()["cases"][2];
  const std::vector<int64_t> ids = c["ids"];
  DumpDirectory dumps;
  testing::internal::CaptureStderr();
  (*model_)->infer(torch::tensor(ids).unsqueeze(0),
                   torch::tensor({static_cast<int64_t>(ids.size())}), 0.66f, 0.66f, 1.0f, 0);
  testing::internal::GetCapturedStderr();
  std::vector<int32_t> sizes;
  auto attn_values = dump_values(dumps.file("sdp_attn.bin"), &sizes);
  ASSERT_EQ(sizes[1], static_cast<int32_t>(ids.size()));
  auto attn = torch::tensor(attn_values).reshape({sizes[1], sizes[2]});
  EXPECT_TRUE(attn.sum(0).eq(1).all().item<bool>());
  auto w_ceil = torch::tensor(read_floats(dumps.file("sdp_wceil.bin")));
  EXPECT_TRUE(attn.sum(1).equal(w_ceil));
}

}  // namespace
