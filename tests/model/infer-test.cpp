// The pipeline on a model with its construction (random) weights: what it
// refuses, and the parts of its bookkeeping that do not depend on the weights.
#include <gtest/gtest.h>
#include <torch/torch.h>

#include <cmath>
#include <stdexcept>

#include "model/korva-vits.h"
#include "nn/elementwise-affine.h"

namespace {

class InferTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    torch::manual_seed(1234);
    model_ = new KorvaVITS();
    (*model_)->eval();
    // Placeholder weights are standard normal and overflow after a few dozen
    // convolutions; scaled by their fan-in they keep every value finite.
    torch::NoGradGuard no_grad;
    for (auto &p : (*model_)->parameters())
      if (p.dim() == 3) p.div_(std::sqrt(static_cast<float>(p.size(1) * p.size(2))));
    (*model_)->enc_p->proj->weight.mul_(0.01f);
  }
  static void TearDownTestSuite() { delete model_; }

  // Runs infer on `n` blank-framed tokens; returns the captured stderr.
  std::string run(float length_scale, torch::Tensor *wave = nullptr, int seed = 0) {
    auto ids = torch::tensor({2, 3, 10, 3, 1}, torch::kLong).unsqueeze(0);
    testing::internal::CaptureStderr();
    try {
      auto out =
          (*model_)->infer(ids, torch::tensor({5}, torch::kLong), 0.66f, 0.66f, length_scale, seed);
      if (wave) *wave = out;
    } catch (...) {
      testing::internal::GetCapturedStderr();
      throw;
    }
    return testing::internal::GetCapturedStderr();
  }

  static KorvaVITS *model_;
};

KorvaVITS *InferTest::model_ = nullptr;

TEST_F(InferTest, TheSeedAloneDecidesTheNoiseAndTheDefaultGeneratorIsLeftAlone) {
  torch::Tensor a, b, c;
  torch::manual_seed(99);
  const float host_draw = torch::randn({1}).item<float>();
  torch::manual_seed(99);
  const std::string log = run(1.0f, &a, 7);
  EXPECT_NE(log.find("[korva] Random seed: 7\n"), std::string::npos) << log;
  // The host's draws from the default generator go on as if nothing had run.
  EXPECT_EQ(torch::randn({1}).item<float>(), host_draw);
  torch::manual_seed(12345);
  run(1.0f, &b, 7);
  run(1.0f, &c, 8);
  EXPECT_TRUE(a.equal(b)) << log;
  EXPECT_FALSE(a.equal(c));
  EXPECT_EQ(a.size(1) % 512, 0);
}

TEST_F(InferTest, WithoutTheDumpDirectoryNoDumpIsReported) {
  // The tests run where "C:/tmp" does not exist.
  const std::string log = run(1.0f);
  EXPECT_EQ(log.find("Saved z input"), std::string::npos);
  EXPECT_NE(log.find("[korva] decoder output stats: "), std::string::npos);
}

TEST_F(InferTest, RefusesUtterancesLongerThanTheFrameLimit) {
  try {
    run(1e9f);
    FAIL() << "expected a refusal";
  } catch (const std::runtime_error &e) {
    EXPECT_NE(std::string(e.what()).find("exceeds the limit of 262144"), std::string::npos);
  }
}

TEST_F(InferTest, RefusesNonFiniteDurations) {
  torch::NoGradGuard no_grad;
  auto &translation = (*model_)->dp->flows[0]->as<ElementwiseAffineImpl>()->translation;
  translation.fill_(std::nanf(""));
  EXPECT_THROW(run(1.0f), std::runtime_error);
  translation.fill_(0.0f);
  EXPECT_NO_THROW(run(1.0f));
}

}  // namespace
