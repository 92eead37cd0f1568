#pragma once
// Storage records of one archive, each read once and kept only while a caller
// still has a use for it.

#include <caffe2/serialize/inline_container.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "weights/manifest.h"
#include "weights/zip-crc.h"

class RecordCache {
 public:
  // `uses`: how many times each storage key will be taken. Opens the archive
  // (throws what the archive reader throws).
  RecordCache(const std::string &path, std::unordered_map<std::string, int> uses);

  // The record "data/<storage_key>", read on its first use. After its last
  // declared use the cache forgets it, so it is freed as soon as the caller's
  // pointers (and tensors viewing it) are gone; a key taken more often than
  // declared is simply read again. Throws what the archive reader throws, and
  // std::runtime_error for a record that does not match its CRC-32.
  std::shared_ptr<const ArchiveRecord> take(const std::string &storage_key);

  // Records read from the archive so far.
  int reads() const { return reads_; }

 private:
  caffe2::serialize::PyTorchStreamReader reader_;
  ZipCrcs crcs_;
  std::unordered_map<std::string, int> uses_;
  std::unordered_map<std::string, std::shared_ptr<const ArchiveRecord>> records_;
  int reads_ = 0;
};
