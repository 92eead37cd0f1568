// The three archive exports through the shared library's C interface.

#include <gtest/gtest.h>

#include "korva.h"
#include "weights/test-archive.h"

namespace {

TEST(ManifestExports, OpenCountClose) {
  const std::string path = test_archive::temp_path("voice.pt");
  test_archive::write(path, {{{"a", {2}, {1, 2}}, {"b", {1}, {3}}}, {{"c", {}, {4}}}});
  testing::internal::CaptureStderr();
  Manifest *m = manifest_open(path.c_str());
  const std::string log = testing::internal::GetCapturedStderr();
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(manifest_count(m), 3);
  EXPECT_EQ(log, "[manifest] Loaded 3 tensor entries from " + path + "\n");
  manifest_close(m);
}

TEST(ManifestExports, FailuresGiveNull) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(manifest_open(nullptr), nullptr);
  EXPECT_EQ(manifest_open("/nonexistent/voice.pt"), nullptr);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("[manifest] Failed: no path given\n"), std::string::npos) << log;
  EXPECT_NE(log.find("[manifest] Failed: "), std::string::npos) << log;

  const std::string path = test_archive::temp_path("quoted.pt");
  test_archive::write_raw(path, R"({"a": {"offset": "4"}})", {});
  testing::internal::CaptureStderr();
  EXPECT_EQ(manifest_open(path.c_str()), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[manifest] Failed: invalid stoll argument\n");
}

TEST(ManifestExports, NullHandles) {
  EXPECT_EQ(manifest_count(nullptr), -1);
  manifest_close(nullptr);
}

}  // namespace
