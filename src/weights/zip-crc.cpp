#include "weights/zip-crc.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kEntrySignature = 0x02014b50;
constexpr size_t kEndBytes = 22;
constexpr size_t kZip64LocatorBytes = 20;
constexpr size_t kZip64EndBytes = 56;
constexpr size_t kEntryBytes = 46;
constexpr size_t kMaxComment = 0xffff;

// The file's last bytes, from offset `base` on, with little-endian fields read
// at file offsets; a field outside them reads as 0 (and fails the checks below).
struct Bytes {
  const std::string &data;
  uint64_t base;
  uint64_t file_size() const { return base + data.size(); }
  uint64_t get(uint64_t at, int width) const {
    if (at < base || at - base > data.size() || data.size() - (at - base) < uint64_t(width))
      return 0;
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i)
      value = (value << 8) | static_cast<unsigned char>(data[at - base + uint64_t(i)]);
    return value;
  }
  std::string text(uint64_t at, uint64_t size) const {
    if (at < base || at - base > data.size() || data.size() - (at - base) < size) return {};
    return data.substr(at - base, size);
  }
};

// Offset of the end-of-directory record: the last signature whose comment ends at the end.
bool find_end(const Bytes &b, uint64_t *end) {
  if (b.file_size() < kEndBytes) return false;
  const uint64_t last = b.file_size() - kEndBytes;
  const uint64_t first = std::max(b.base, last > kMaxComment ? last - kMaxComment : 0);
  for (uint64_t at = last + 1; at-- > first;) {
    if (b.get(at, 4) == kEndSignature && at + kEndBytes + b.get(at + 20, 2) == b.file_size()) {
      *end = at;
      return true;
    }
  }
  return false;
}

// Where the directory starts and how many entries it has, zip64 included.
bool locate_directory(const Bytes &b, uint64_t end, uint64_t *start, uint64_t *entries) {
  *entries = b.get(end + 10, 2);
  *start = b.get(end + 16, 4);
  if (*entries != 0xffff && *start != 0xffffffff) return true;
  if (end < kZip64LocatorBytes || b.get(end - kZip64LocatorBytes, 4) != kZip64LocatorSignature)
    return false;
  const uint64_t zip64_end = b.get(end - kZip64LocatorBytes + 8, 8);
  if (b.get(zip64_end, 4) != kZip64EndSignature || zip64_end + kZip64EndBytes > end) return false;
  *entries = b.get(zip64_end + 32, 8);
  *start = b.get(zip64_end + 48, 8);
  return true;
}

// From the archive's last bytes, which start at file offset `base`; a directory
// that starts before them sets *needs to its start.
ZipCrcs crcs_of_tail(const std::string &tail, uint64_t base, uint64_t *needs) {
  const Bytes b{tail, base};
  ZipCrcs crcs;
  uint64_t end = 0, at = 0, entries = 0;
  if (!find_end(b, &end) || !locate_directory(b, end, &at, &entries)) return {};
  if (at < base) {
    *needs = at;
    return {};
  }
  for (uint64_t i = 0; i < entries; ++i) {
    if (b.get(at, 4) != kEntrySignature) return {};
    const uint64_t name_bytes = b.get(at + 28, 2);
    const uint64_t next = at + kEntryBytes + name_bytes + b.get(at + 30, 2) + b.get(at + 32, 2);
    if (next > b.file_size()) return {};
    std::string name = b.text(at + kEntryBytes, name_bytes);
    if (name.size() != name_bytes) return {};
    // The reader names records without the archive's top folder.
    const size_t slash = name.find('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    crcs[name] = static_cast<uint32_t>(b.get(at + 16, 4));
    at = next;
  }
  return crcs;
}

}  // namespace

ZipCrcs zip_record_crcs_of(const std::string &archive) {
  uint64_t needs = 0;
  return crcs_of_tail(archive, 0, &needs);
}

ZipCrcs zip_record_crcs(const std::string &path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  const auto size = static_cast<uint64_t>(in.tellg());
  // The end records and the longest comment first, then the directory if it starts earlier.
  uint64_t base = size - std::min<uint64_t>(size, kMaxComment + kEndBytes + kZip64LocatorBytes);
  for (int pass = 0; pass < 2; ++pass) {
    std::string tail(size - base, '\0');
    in.seekg(static_cast<std::streamoff>(base)).read(tail.data(), static_cast<std::streamsize>(tail.size()));
    if (!in) return {};
    uint64_t needs = base;
    ZipCrcs crcs = crcs_of_tail(tail, base, &needs);
    if (needs == base) return crcs;
    base = needs;
  }
  return {};
}

void verify_record_crc(const ZipCrcs &crcs, const std::string &record, const void *data,
                       size_t size) {
  const auto listed = crcs.find(record);
  if (listed == crcs.end()) return;
  uLong crc = crc32(0L, Z_NULL, 0);
  const auto *bytes = static_cast<const Bytef *>(data);
  for (size_t done = 0; done < size;) {
    const auto n = static_cast<uInt>(std::min<size_t>(size - done, 1u << 30));
    crc = crc32(crc, bytes + done, n);
    done += n;
  }
  if (static_cast<uint32_t>(crc) != listed->second)
    throw std::runtime_error("record " + record +
                             " does not match its CRC-32: the archive is damaged");
}
