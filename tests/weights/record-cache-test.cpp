// The binder's record cache: one read per record, freed after its last use.

#include "weights/record-cache.h"

#include <gtest/gtest.h>

#include <memory>

#include "test-archive.h"

namespace {

class RecordCacheTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = test_archive::temp_path("archive.pt");
    test_archive::write_raw(path_, "{}", {{"0", test_archive::ramp(4, 1)}, {"1", {9}}});
  }
  std::string path_;
};

TEST_F(RecordCacheTest, RecordIsReadOnceAndFreedAfterItsLastUse) {
  RecordCache cache(path_, {{"0", 2}});
  std::weak_ptr<const ArchiveRecord> first = cache.take("0");
  EXPECT_FALSE(first.expired()) << "one use left: the cache keeps it";
  auto second = cache.take("0");
  EXPECT_EQ(cache.reads(), 1);
  EXPECT_EQ(second->size, 4 * sizeof(float));
  EXPECT_EQ(static_cast<const float *>(second->data.get())[3], 4.0f);
  EXPECT_EQ(first.lock(), second);

  std::weak_ptr<const ArchiveRecord> last = second;
  second.reset();
  EXPECT_TRUE(last.expired()) << "after its last use only the caller holds the record";
}

TEST_F(RecordCacheTest, UndeclaredUsesReadAgainAndMissingRecordsThrow) {
  RecordCache cache(path_, {});
  EXPECT_EQ(static_cast<const float *>(cache.take("1")->data.get())[0], 9.0f);
  cache.take("1");
  EXPECT_EQ(cache.reads(), 2);
  EXPECT_THROW(cache.take("7"), std::exception);
  EXPECT_THROW(RecordCache(path_ + ".missing", {}), std::exception);
}

}  // namespace
