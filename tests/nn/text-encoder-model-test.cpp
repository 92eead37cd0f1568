// Text encoder outputs on the golden archive against the reference statistics and values.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <torch/torch.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "nn/text-encoder.h"
#include "weights/binder.h"
#include "weights/manifest.h"

namespace {

const std::string kCasesPath = KORVA_GOLDEN_DIR "/cases.json";

// |ours - expected| / max(1, |expected|) for every value, against the cases' stats_rel.
void expect_close(const std::vector<double> &ours, const nlohmann::json &expected, double rel,
                  const std::string &what) {
  ASSERT_EQ(ours.size(), expected.size()) << what;
  double worst = 0;
  size_t where = 0;
  for (size_t i = 0; i < ours.size(); ++i) {
    const double e = expected[i].get<double>();
    const double err = std::abs(ours[i] - e) / std::max(1.0, std::abs(e));
    if (err > worst) worst = err, where = i;
  }
  EXPECT_LE(worst, rel) << what << ": largest relative difference " << worst << " at " << where;
}

std::vector<double> values(const torch::Tensor &t) {
  auto d = t.to(torch::kDouble).contiguous();
  return {d.data_ptr<double>(), d.data_ptr<double>() + d.numel()};
}

TEST(TextEncoderGolden, MatchesReferenceOutputs) {
  std::ifstream cases_file(kCasesPath);
  if (!cases_file) GTEST_SKIP() << "shared golden data absent (" << kCasesPath << ")";
  if (!std::ifstream(KORVA_GOLDEN_ARCHIVE)) GTEST_SKIP() << "no golden archive at " KORVA_GOLDEN_ARCHIVE;
  const auto cases = nlohmann::json::parse(cases_file);
  const double rel = cases["tolerance"]["stats_rel"].get<double>();

  std::unique_ptr<Manifest> manifest(manifest_open_path(KORVA_GOLDEN_ARCHIVE));
  ASSERT_TRUE(manifest);
  TextEncoder encoder;
  encoder->eval();
  const auto to_checkpoint = [](const std::string &name) { return "text_encoder." + name; };
  ASSERT_EQ(manifest_bind_parameters(*manifest, *encoder, to_checkpoint), 111);

  torch::NoGradGuard no_grad;
  for (const auto &c : cases["cases"]) {
    const std::string name = c["name"].get<std::string>();
    SCOPED_TRACE(name);
    const auto ids = torch::tensor(c["ids"].get<std::vector<int64_t>>(), torch::kLong).unsqueeze(0);
    const auto out = encoder(ids, torch::tensor({ids.size(1)}, torch::kLong));
    const auto &stats = c["expected"]["stats"];

    const auto &enc = stats["enc_out"];
    expect_close(values(torch::stack({out.x.min(), out.x.max(), out.x.mean(), out.x.std()})),
                 {enc["min"], enc["max"], enc["mean"], enc["std"]}, rel, name + " enc_out stats");
    const int64_t first = std::min<int64_t>(10, ids.size(1));
    expect_close(values(out.x[0][0].slice(0, 0, first)), stats["enc_out_0_0_first10"], rel,
                 name + " enc_out[0,0,:10]");
    expect_close(values(out.x[0].slice(0, 0, 5).select(1, 0)), stats["enc_out_0_first5_0"], rel,
                 name + " enc_out[0,:5,0]");
    expect_close(values(out.m_p[0].slice(0, 0, 5).select(1, 0)), stats["m_p_0_first5_0"], rel,
                 name + " m_p[0,:5,0]");
    expect_close(values(out.logs_p[0].slice(0, 0, 5).select(1, 0)), stats["logs_p_0_first5_0"], rel,
                 name + " logs_p[0,:5,0]");
    expect_close(values(torch::stack({out.m_p.min(), out.m_p.max()})),
                 {stats["m_p"]["min"], stats["m_p"]["max"]}, rel, name + " m_p stats");
  }
}

}  // namespace
