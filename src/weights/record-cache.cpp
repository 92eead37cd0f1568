#include "weights/record-cache.h"

#include <utility>

RecordCache::RecordCache(const std::string &path, std::unordered_map<std::string, int> uses)
    : reader_(path), crcs_(zip_record_crcs(path)), uses_(std::move(uses)) {}

std::shared_ptr<const ArchiveRecord> RecordCache::take(const std::string &storage_key) {
  auto found = records_.find(storage_key);
  std::shared_ptr<const ArchiveRecord> record;
  if (found != records_.end()) {
    record = found->second;
  } else {
    const std::string name = "data/" + storage_key;
    auto read = reader_.getRecord(name);
    ++reads_;
    verify_record_crc(crcs_, name, std::get<0>(read).get(), std::get<1>(read));
    record = std::make_shared<const ArchiveRecord>(
        ArchiveRecord{std::move(std::get<0>(read)), std::get<1>(read)});
  }
  int &left = uses_[storage_key];
  if (--left > 0) {
    records_[storage_key] = record;
  } else if (found != records_.end()) {
    records_.erase(found);
  }
  return record;
}
