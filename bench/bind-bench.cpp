// Binding a full-size archive: wall time and peak RSS of manifest_open_path +
// manifest_bind_parameters into a module tree with the voice's parameter names.
//   bind-bench ARCHIVE [REPEATS]
// The binder's report lines go to stderr; run with 2>/dev/null. Compare with
// bench/torch_load_bench.py (torch.load of a state dict of the same size).

#include <sys/resource.h>
#include <torch/torch.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "../tests/weights/module-tree.h"
#include "weights/binder.h"
#include "weights/manifest.h"

namespace {

// Peak resident set size of this process so far, in MiB.
double peak_rss_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

// The model's name for a checkpoint key: the key mapping read backwards.
std::string model_name(const std::string &key) {
  for (const char *model_prefix : {"enc_p.", "dp.", "dec."}) {
    const std::string checkpoint_prefix = remap_checkpoint_key(model_prefix);
    if (key.compare(0, checkpoint_prefix.size(), checkpoint_prefix) == 0) {
      return model_prefix + key.substr(checkpoint_prefix.size());
    }
  }
  return key;
}

// One parameter per plain tensor and one "weight" per weight_g/weight_v pair, in archive order.
std::vector<module_tree::ParamSpec> voice_parameters(const Manifest &manifest) {
  std::vector<std::pair<const std::string *, const ManifestEntry *>> entries;
  for (const auto &item : manifest.entries) entries.emplace_back(&item.first, &item.second);
  std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) {
    return std::make_pair(std::atoi(a.second->storage_key.c_str()), a.second->offset) <
           std::make_pair(std::atoi(b.second->storage_key.c_str()), b.second->offset);
  });
  std::vector<module_tree::ParamSpec> params;
  for (const auto &entry : entries) {
    std::string name = model_name(*entry.first);
    const size_t at = name.rfind(".weight_");
    if (at != std::string::npos && name.compare(at, 9, ".weight_g") == 0) continue;
    if (at != std::string::npos) name = name.substr(0, at) + ".weight";
    params.emplace_back(name, entry.second->shape);
  }
  return params;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bind-bench ARCHIVE [REPEATS]\n");
    return 2;
  }
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  std::unique_ptr<Manifest> manifest(manifest_open_path(argv[1]));
  if (!manifest) return 1;
  auto model = module_tree::make(voice_parameters(*manifest), 0.0f);
  const double model_rss = peak_rss_mib();

  std::vector<double> seconds;
  int loaded = 0;
  for (int i = 0; i < repeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<Manifest> opened(manifest_open_path(argv[1]));
    loaded = opened ? manifest_bind_parameters(*opened, *model, remap_checkpoint_key) : -1;
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("| what | value |\n|---|---|\n");
  std::printf("| libtorch | %s, %d threads |\n", TORCH_VERSION, torch::get_num_threads());
  std::printf("| parameters / loaded | %zu / %d |\n", model->parameters().size(), loaded);
  std::printf("| open + bind wall time, median of %d (min-max) | %.3f s (%.3f-%.3f) |\n", repeats,
              seconds[seconds.size() / 2], seconds.front(), seconds.back());
  std::printf("| peak RSS with the model built, before binding | %.0f MiB |\n", model_rss);
  std::printf("| peak RSS after binding | %.0f MiB |\n", peak_rss_mib());
  return loaded > 0 ? 0 : 1;
}
