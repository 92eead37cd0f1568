// korva inspect: the table of tensors of a weights archive, without loading it.

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli-error.h"
#include "command.h"
#include "korva.h"
#include "weights/manifest.h"

namespace {

constexpr const char *kHelp =
    "usage: korva inspect VOICE.pt\n"
    "\n"
    "Prints the number of tensors in the weights archive VOICE.pt, then one line\n"
    "per tensor, sorted by name: name, shape, storage key, offset (float32 elements).\n"
    "\n"
    "  -h, --help     this text\n"
    "      --version  the version\n";

std::string format_shape(const std::vector<int64_t> &shape) {
  std::string text = "[";
  for (size_t i = 0; i < shape.size(); ++i) {
    if (i > 0) text += ',';
    text += std::to_string(shape[i]);
  }
  return text + "]";
}

int run_inspect(const ParsedArgs &args) {
  if (args.operands.size() != 1) throw UsageError("inspect needs exactly one archive");
  const std::string &path = args.operands[0];
  std::unique_ptr<Manifest, decltype(&manifest_close)> manifest(manifest_open_path(path),
                                                                &manifest_close);
  if (!manifest) throw CommandError("cannot read the archive '" + path + "'");

  // The table is a hash map: sort for output that is stable and diffable.
  std::vector<const std::pair<const std::string, ManifestEntry> *> rows;
  size_t name_width = 0;
  for (const auto &row : manifest->entries) {
    rows.push_back(&row);
    name_width = std::max(name_width, row.first.size());
  }
  std::sort(rows.begin(), rows.end(), [](auto a, auto b) { return a->first < b->first; });

  std::printf("%zu tensors\n", rows.size());
  for (const auto *row : rows) {
    const ManifestEntry &entry = row->second;
    std::printf("%-*s  %-14s  %s  %d\n", static_cast<int>(name_width), row->first.c_str(),
                format_shape(entry.shape).c_str(), entry.storage_key.c_str(), entry.offset);
  }
  if (std::fflush(stdout) != 0) throw CommandError("cannot write to standard output");
  return 0;
}

}  // namespace

const Command &inspect_command() {
  static const Command command{"inspect", "list the tensors of a weights archive", kHelp, {},
                               run_inspect};
  return command;
}
