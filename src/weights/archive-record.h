#pragma once
// Reads one named record of a weights archive as text: for the records beside
// the tensors, such as the voice description.

#include <optional>
#include <string>

// The record's bytes, or nullopt when the archive has no record of that name.
// Throws what the archive reader throws for an archive it cannot open.
std::optional<std::string> read_archive_record(const std::string &path, const std::string &name);
