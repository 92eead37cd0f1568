#pragma once
// The CRC-32 of each record as the archive's zip central directory lists it.
// libtorch's reader does not check them, so a damaged record, or a directory
// entry pointing at another record, would load as if it were sound.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

// Record name (without the archive's top folder, as the reader names records)
// -> CRC-32. Empty when the file has no readable central directory; the
// archive reader then reports why it cannot open it.
using ZipCrcs = std::unordered_map<std::string, uint32_t>;
ZipCrcs zip_record_crcs(const std::string &path);

// The same, from the bytes of a whole archive.
ZipCrcs zip_record_crcs_of(const std::string &archive);

// Throws std::runtime_error naming `record` when its listed CRC-32 is not that
// of the `size` bytes at `data`; records the directory does not list pass.
void verify_record_crc(const ZipCrcs &crcs, const std::string &record, const void *data,
                       size_t size);
