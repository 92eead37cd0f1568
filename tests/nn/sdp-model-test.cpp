// Duration predictor on the golden archive: logw and the dumped intermediate values of
// every reference case, fed by the text encoder bound from the same archive.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <torch/torch.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dump-directory.h"
#include "nn/stochastic-duration-predictor.h"
#include "nn/text-encoder.h"
#include "weights/binder.h"
#include "weights/manifest.h"

namespace {

const std::string kCasesPath = KORVA_GOLDEN_DIR "/cases.json";

// Largest |ours - expected|, divided by max(1, |expected|) when `relative`.
void expect_near(const std::vector<float> &ours, const nlohmann::json &expected, double bound,
                 bool relative, const std::string &what) {
  ASSERT_EQ(ours.size(), expected.size()) << what;
  double worst = 0;
  size_t where = 0;
  for (size_t i = 0; i < ours.size(); ++i) {
    const double e = expected[i].get<double>();
    const double err = std::abs(ours[i] - e) / (relative ? std::max(1.0, std::abs(e)) : 1.0);
    if (err > worst) worst = err, where = i;
  }
  EXPECT_LE(worst, bound) << what << ": largest difference " << worst << " at " << where;
}

std::vector<float> values(const torch::Tensor &t) {
  auto c = t.to(torch::kFloat).contiguous();
  return {c.data_ptr<float>(), c.data_ptr<float>() + c.numel()};
}

TEST(SdpGolden, LogwAndDumpsMatchTheReference) {
  std::ifstream cases_file(kCasesPath);
  if (!cases_file) GTEST_SKIP() << "shared golden data absent (" << kCasesPath << ")";
  if (!std::ifstream(KORVA_GOLDEN_ARCHIVE)) GTEST_SKIP() << "no golden archive at " KORVA_GOLDEN_ARCHIVE;
  const auto cases = nlohmann::json::parse(cases_file);
  const double logw_abs = cases["tolerance"]["logw_abs"].get<double>();
  const double rel = cases["tolerance"]["stats_rel"].get<double>();

  std::unique_ptr<Manifest> manifest(manifest_open_path(KORVA_GOLDEN_ARCHIVE));
  ASSERT_TRUE(manifest);
  TextEncoder encoder;
  StochasticDurationPredictor dp;
  encoder->eval();
  dp->eval();
  const auto bind = [&](torch::nn::Module &module, const std::string &prefix) {
    return manifest_bind_parameters(*manifest, module,
                                    [&](const std::string &name) { return prefix + name; });
  };
  ASSERT_EQ(bind(*encoder, "text_encoder."), 111);
  ASSERT_EQ(bind(*dp, "duration_predictor."), 284);

  torch::NoGradGuard no_grad;
  ScopedDumpDirectory dumps(true);
  for (const auto &c : cases["cases"]) {
    const std::string name = c["name"].get<std::string>();
    SCOPED_TRACE(name);
    const auto ids = torch::tensor(c["ids"].get<std::vector<int64_t>>(), torch::kLong).unsqueeze(0);
    const auto enc = encoder(ids, torch::tensor({ids.size(1)}, torch::kLong));
    ::testing::internal::CaptureStderr();
    const auto logw = dp(enc.x, enc.x_mask, c["noise_scale_w"].get<float>(),
                         at::detail::createCPUGenerator(c["seed"].get<uint64_t>()));
    ::testing::internal::GetCapturedStderr();

    const auto &expected = c["expected"];
    expect_near(values(logw), expected["logw"], logw_abs, false, name + " logw");
    const auto &stats = expected["stats"];
    const auto h = torch::tensor(dumps.read_floats("sdp_h.bin"));
    expect_near(values(torch::stack({h.min(), h.max(), h.mean()})),
                {stats["sdp_h"]["min"], stats["sdp_h"]["max"], stats["sdp_h"]["mean"]}, rel, true,
                name + " h");
    const auto noise = torch::tensor(dumps.read_floats("sdp_noise.bin"));
    expect_near(values(torch::stack({noise.min(), noise.max()})),
                {stats["sdp_noise"]["min"], stats["sdp_noise"]["max"]}, rel, true, name + " noise");
    for (const auto &step : stats["sdp_steps"]) {
      const int s = step["step"].get<int>();
      ASSERT_EQ(step["flow"].get<int>(), dp->flow_order()[static_cast<size_t>(s)]);
      // z[0, :, 0] of a [1, 2, T] dump: elements 0 and T.
      const auto z = dumps.read_floats("sdp_step" + std::to_string(s) + ".bin");
      ASSERT_EQ(z.size(), static_cast<size_t>(2 * ids.size(1)));
      expect_near({z[0], z[ids.size(1)]}, step["z"], rel, true, name + " step " + std::to_string(s));
    }
  }
}

}  // namespace
