// Files that are not sound archives: each gives its message and no crash.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <random>

#include "module-tree.h"
#include "test-archive.h"
#include "weights/binder.h"
#include "weights/manifest.h"

namespace {

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Opens `path`, expecting failure with a "[manifest] Failed: " line.
void expect_open_fails(const std::string &path) {
  testing::internal::CaptureStderr();
  Manifest *m = manifest_open_path(path);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(m, nullptr) << path;
  delete m;
  EXPECT_EQ(log.rfind("[manifest] Failed: ", 0), 0u) << log;
  EXPECT_EQ(log.find("frame #"), std::string::npos) << "backtrace in the message: " << log;
}

TEST(HostileArchive, UnreadableFilesFailToOpen) {
  const std::string good = test_archive::temp_path("good.pt");
  test_archive::write(good, {{{"t", {4}, test_archive::ramp(4, 0)}}});
  const std::string bytes = read_file(good);

  for (const size_t keep : {bytes.size() / 2, bytes.size() - 10, size_t{20}, size_t{0}}) {
    const std::string truncated =
        test_archive::temp_path("truncated-" + std::to_string(keep) + ".pt");
    write_file(truncated, bytes.substr(0, keep));
    expect_open_fails(truncated);
  }
  const std::string text = test_archive::temp_path("text.pt");
  write_file(text, "this is not a zip archive\n");
  expect_open_fails(text);
  expect_open_fails(test_archive::temp_path("does-not-exist.pt"));
}

TEST(HostileArchive, GarbageManifestNeverCrashes) {
  std::mt19937 random(7);
  const std::string alphabet = "{}[]\":, 0123456789-abc\t\n";
  for (int round = 0; round < 200; ++round) {
    std::string manifest(static_cast<size_t>(random() % 300), ' ');
    for (char &c : manifest) c = alphabet[random() % alphabet.size()];
    const std::string path = test_archive::temp_path("garbage.pt");
    test_archive::write_raw(path, manifest, {{"0", test_archive::ramp(8, 0)}});
    testing::internal::CaptureStderr();
    std::unique_ptr<Manifest> m(manifest_open_path(path));
    if (m) {
      for (const auto &entry : m->entries) manifest_load_tensor(*m, entry.first);
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.find("[manifest] Failed: ") == 0, m == nullptr) << manifest << "\n" << log;
  }
}

TEST(HostileArchive, RecordShorterThanItsEntries) {
  const std::string path = test_archive::temp_path("short.pt");
  test_archive::write_raw(
      path,
      R"({"w": {"storage_key": "0", "offset": 0, "shape": [4, 2], "numel": 8},)"
      R"( "p.weight_g": {"storage_key": "0", "offset": 0, "shape": [4, 1], "numel": 4},)"
      R"( "p.weight_v": {"storage_key": "0", "offset": 2, "shape": [4, 2], "numel": 8}})",
      {{"0", test_archive::ramp(5, 1)}});
  testing::internal::CaptureStderr();
  std::unique_ptr<Manifest> m(manifest_open_path(path));
  testing::internal::GetCapturedStderr();
  ASSERT_TRUE(m);

  auto model = module_tree::make({{"w", {4, 2}}, {"p.weight", {4, 2}}});
  testing::internal::CaptureStderr();
  const int loaded = manifest_bind_parameters(*m, *model, KeyMap());
  EXPECT_EQ(loaded, 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[manifest] Data too small for w\n"
            "[manifest] SKIP: p.weight -> p.weight\n"
            "[manifest] Data too small for p.weight_v\n"
            "[manifest] Loaded 0, skipped 2\n");
}

// Binds the archive at `path` into a tree of the one parameter "w" [4]; the bind's result and log.
std::pair<int, std::string> bind_one(const std::string &path) {
  testing::internal::CaptureStderr();
  std::unique_ptr<Manifest> m(manifest_open_path(path));
  auto model = module_tree::make({{"w", {4}}});
  const int loaded = m ? manifest_bind_parameters(*m, *model, KeyMap()) : -2;
  return {loaded, testing::internal::GetCapturedStderr()};
}

std::string archive_of_two_records() {
  const std::string path = test_archive::temp_path("two-records.pt");
  test_archive::write_raw(path, "{\"w\": " + test_archive::entry_json("0", 0, {4}, 4) + "}",
                          {{"0", test_archive::ramp(4, 1)}, {"1", test_archive::ramp(4, 100)}});
  return read_file(path);
}

TEST(HostileArchive, RecordsAreCheckedAgainstTheirCrc) {
  const std::string bytes = archive_of_two_records();
  const std::string good = test_archive::temp_path("crc-good.pt");
  write_file(good, bytes);
  EXPECT_EQ(bind_one(good).first, 1);

  // One bit of the record's first value flipped.
  const std::vector<float> first = test_archive::ramp(4, 1);
  const size_t at = bytes.find(std::string(reinterpret_cast<const char *>(first.data()), 16));
  ASSERT_NE(at, std::string::npos);
  std::string flipped = bytes;
  flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
  const std::string path = test_archive::temp_path("crc-flipped.pt");
  write_file(path, flipped);
  const auto [loaded, log] = bind_one(path);
  EXPECT_EQ(loaded, -1);
  EXPECT_NE(log.find("[manifest] Load failed: record data/0 does not match its CRC-32: the archive "
                     "is damaged\n"),
            std::string::npos)
      << log;
}

TEST(HostileArchive, ADirectoryEntryPointingAtAnotherRecordIsCaught) {
  std::string bytes = archive_of_two_records();
  // The central directory entries of data/0 and data/1: point the first at the second's data.
  const auto entry_of = [&](const std::string &name) {
    for (size_t at = bytes.find("PK\x01\x02"); at != std::string::npos;
         at = bytes.find("PK\x01\x02", at + 1))
      if (bytes.compare(at + 46 + bytes.substr(at + 46).find('/') + 1, name.size(), name) == 0)
        return at;
    return std::string::npos;
  };
  const size_t zero = entry_of("data/0"), one = entry_of("data/1");
  ASSERT_NE(zero, std::string::npos);
  ASSERT_NE(one, std::string::npos);
  bytes.replace(zero + 42, 4, bytes.substr(one + 42, 4));  // the local header offset
  const std::string path = test_archive::temp_path("crc-redirected.pt");
  write_file(path, bytes);
  const auto [loaded, log] = bind_one(path);
  EXPECT_LE(loaded, 0) << log;
  EXPECT_TRUE(log.find("CRC-32") != std::string::npos ||
              log.find("[manifest] Failed") != std::string::npos)
      << log;
}

}  // namespace
