// The manifest scanner and its field readers, on archives written at test time.

#include <gtest/gtest.h>

#include <memory>

#include "test-archive.h"
#include "weights/manifest.h"

namespace {

using ManifestPtr = std::unique_ptr<Manifest>;

// Opens an archive holding `manifest` and one record "0" of 16 floats; stderr is kept in `log`.
ManifestPtr open_with(const std::string &manifest, std::string *log = nullptr) {
  const std::string path = test_archive::temp_path("archive.pt");
  test_archive::write_raw(path, manifest, {{"0", test_archive::ramp(16, 0)}});
  testing::internal::CaptureStderr();
  ManifestPtr opened(manifest_open_path(path));
  const std::string text = testing::internal::GetCapturedStderr();
  if (log) *log = text;
  return opened;
}

TEST(FieldReaders, StringField) {
  EXPECT_EQ(json_string_field(R"({"storage_key": "12", "offset": 0})", "storage_key"), "12");
  EXPECT_EQ(json_string_field(R"({"offset": 0})", "storage_key"), "");
  EXPECT_EQ(json_string_field(R"({"storage_key" 7})", "storage_key"), "");
  EXPECT_EQ(json_string_field(R"({"storage_key": "12})", "storage_key"), "12}");
}

TEST(FieldReaders, IntField) {
  EXPECT_EQ(json_int_field(R"({"offset": 40, "numel": 3})", "offset"), 40);
  EXPECT_EQ(json_int_field("{\"offset\":\t -7}", "offset"), -7);
  EXPECT_EQ(json_int_field(R"({"numel": 3})", "offset"), 0);
  EXPECT_EQ(json_int_field(R"({"offset" 3})", "offset"), 0);
  EXPECT_THROW(json_int_field(R"({"offset": "4"})", "offset"), std::invalid_argument);
  EXPECT_THROW(json_int_field(R"({"offset": 99999999999999999999})", "offset"), std::out_of_range);
}

TEST(FieldReaders, IntArrayField) {
  using V = std::vector<int64_t>;
  EXPECT_EQ(json_int_array_field(R"({"shape": [192, 1]})", "shape"), (V{192, 1}));
  EXPECT_EQ(json_int_array_field(R"({"shape": []})", "shape"), V{});
  EXPECT_EQ(json_int_array_field(R"({"shape": [3, x, -2]})", "shape"), (V{3, -2}));
  EXPECT_EQ(json_int_array_field(R"({"shape": [3, 4})", "shape"), V{});
  EXPECT_EQ(json_int_array_field(R"({"stride": [1]})", "shape"), V{});
  EXPECT_THROW(json_int_array_field(R"({"shape": [3, -]})", "shape"), std::invalid_argument);
}

TEST(ManifestOpen, ReadsEveryField) {
  std::string log;
  const ManifestPtr m =
      open_with(R"({"a.weight": {"storage_key": "0", "offset": 10, "shape": [2, 3],)"
                R"( "stride": [3, 1], "numel": 6}})",
                &log);
  ASSERT_TRUE(m);
  ASSERT_EQ(m->entries.size(), 1u);
  const ManifestEntry &e = m->entries.at("a.weight");
  EXPECT_EQ(e.storage_key, "0");
  EXPECT_EQ(e.offset, 10);
  EXPECT_EQ(e.shape, (std::vector<int64_t>{2, 3}));
  EXPECT_EQ(e.stride, (std::vector<int64_t>{3, 1}));
  EXPECT_EQ(e.numel, 6);
  EXPECT_NE(log.find("[manifest] Loaded 1 tensor entries from "), std::string::npos) << log;
}

TEST(ManifestOpen, EmptyAndMissingManifest) {
  std::string log;
  const ManifestPtr empty = open_with("{}", &log);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->entries.empty());
  EXPECT_NE(log.find("[manifest] Loaded 0 tensor entries from "), std::string::npos) << log;

  const std::string path = test_archive::temp_path("no-manifest.pt");
  test_archive::write_raw(path, "", {{"0", {1.0f}}}, "");
  testing::internal::CaptureStderr();
  EXPECT_EQ(manifest_open_path(path), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[manifest] No manifest.json in " + path + "\n");
}

TEST(ManifestOpen, FindsManifestByNameSubstring) {
  const std::string path = test_archive::temp_path("nested.pt");
  test_archive::write_raw(path, R"({"t": {"storage_key": "0", "shape": [1], "numel": 1}})",
                          {{"0", {1.0f}}}, "meta/voice-manifest.json");
  testing::internal::CaptureStderr();
  const ManifestPtr m(manifest_open_path(path));
  testing::internal::GetCapturedStderr();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->entries.count("t"), 1u);
}

TEST(ManifestOpen, ScannerQuirks) {
  // A numeric member is passed over; names holding field words are never entries;
  // missing fields read as empty; the later of two equal names wins.
  const ManifestPtr m = open_with(R"({"version": 2, "x.offset": {"offset": 1},)"
                                  R"( "shape_proj": {"numel": 4}, "my.storage_key": {},)"
                                  R"( "bare": {}, "dup": {"offset": 1}, "dup": {"offset": 5}})");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->entries.size(), 2u);
  ASSERT_EQ(m->entries.count("bare"), 1u);
  EXPECT_EQ(m->entries.at("bare").storage_key, "");
  EXPECT_TRUE(m->entries.at("bare").shape.empty());
  EXPECT_EQ(m->entries.at("bare").numel, 0);
  EXPECT_EQ(m->entries.at("dup").offset, 5);
  EXPECT_EQ(m->entries.count("version"), 0u);
}

TEST(ManifestOpen, StringMemberShiftsTheNextName) {
  // The scan resumes after the member name, so the string value becomes the next name.
  const ManifestPtr m = open_with(R"({"format": "korva", "t": {"offset": 3}})");
  ASSERT_TRUE(m);
  ASSERT_EQ(m->entries.size(), 1u);
  EXPECT_EQ(m->entries.count("t"), 0u);
  EXPECT_EQ(m->entries.begin()->second.offset, 3);
}

TEST(ManifestOpen, StructuralGapKeepsEntriesSoFar) {
  const ManifestPtr m = open_with(R"({"a": {"offset": 1}, "b": {"offset": 2)");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->entries.size(), 1u);
  EXPECT_EQ(m->entries.count("a"), 1u);
}

TEST(ManifestOpen, RejectedNumbersFailTheWholeOpen) {
  std::string log;
  EXPECT_FALSE(open_with(R"({"a": {"offset": "4"}})", &log));
  EXPECT_EQ(log, "[manifest] Failed: invalid stoll argument\n");
  EXPECT_FALSE(open_with(R"({"a": {"numel": 123456789012345678901}})", &log));
  EXPECT_EQ(log, "[manifest] Failed: stoll argument out of range\n");
}

TEST(ManifestOpen, OffsetOutside32BitsFailsInsteadOfWrapping) {
  std::string log;
  for (const char *offset : {"4294967297", "4294967296", "2147483648", "-2147483649"}) {
    EXPECT_FALSE(open_with(std::string(R"({"a": {"offset": )") + offset + "}}", &log));
    EXPECT_EQ(log, std::string("[manifest] Failed: offset ") + offset +
                       " of a does not fit in 32 bits\n");
  }
  const ManifestPtr m = open_with(R"({"a": {"offset": 2147483647}})");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->entries.at("a").offset, INT32_MAX);
}

}  // namespace
