// Fills a module's parameters from the archive: plain copies first, then the
// weight-normalised pairs folded into the weights that are still missing.

#include "weights/binder.h"

#include <caffe2/serialize/inline_container.h>
#include <torch/torch.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <unordered_map>

#include "weights/manifest.h"

namespace {

constexpr int64_t kFloatBytes = 4;

struct Prefix {
  const char *model;
  const char *checkpoint;
};
constexpr Prefix kPrefixes[] = {
    {"enc_p.", "text_encoder."}, {"dp.", "duration_predictor."}, {"dec.", "waveform_decoder."}};

bool contains(const std::string &text, const char *part) {
  return text.find(part) != std::string::npos;
}

// Storage key -> the whole record, so a record shared by many tensors is read once.
class RecordCache {
 public:
  explicit RecordCache(const std::string &path) : reader_(path) {}

  const std::pair<at::DataPtr, size_t> &get(const std::string &storage_key) {
    auto found = records_.find(storage_key);
    if (found == records_.end()) {
      auto record = reader_.getRecord("data/" + storage_key);
      found = records_
                  .emplace(storage_key,
                           std::make_pair(std::move(std::get<0>(record)), std::get<1>(record)))
                  .first;
    }
    return found->second;
  }

 private:
  caffe2::serialize::PyTorchStreamReader reader_;
  std::unordered_map<std::string, std::pair<at::DataPtr, size_t>> records_;
};

// First pass for one parameter; returns whether it was filled.
bool copy_plain(const Manifest &manifest, RecordCache &cache, const std::string &name,
                const std::string &key, torch::Tensor &param) {
  const auto found = manifest.entries.find(key);
  if (found == manifest.entries.end()) {
    std::fprintf(stderr, "[manifest] SKIP: %s -> %s\n", name.c_str(), key.c_str());
    return false;
  }
  const ManifestEntry &entry = found->second;
  const auto &record = cache.get(entry.storage_key);

  if (entry.shape.size() != static_cast<size_t>(param.dim())) {
    std::fprintf(stderr, "[manifest] Dim mismatch: %s ours=%zu ckpt=%zu\n", name.c_str(),
                 static_cast<size_t>(param.dim()), entry.shape.size());
    return false;
  }
  if (c10::IntArrayRef(entry.shape) != param.sizes()) {
    std::fprintf(stderr, "[manifest] Shape mismatch: %s ours=%s ckpt=[", name.c_str(),
                 format_shape(param.sizes()).c_str());
    for (const int64_t size : entry.shape) std::fprintf(stderr, "%ld,", static_cast<long>(size));
    std::fprintf(stderr, "]\n");
    return false;
  }
  if (!manifest_entry_fits(entry, static_cast<int64_t>(record.second), key)) return false;

  auto *first = static_cast<float *>(record.first.get()) + entry.offset;
  torch::NoGradGuard no_grad;
  param.copy_(torch::from_blob(first, entry.shape, torch::kFloat32));
  return true;
}

// A weight with no plain entry of its own but a weight_g/weight_v pair.
bool is_fold_candidate(const Manifest &manifest, const std::string &key) {
  return contains(key, ".weight") && !contains(key, ".weight_g") && !contains(key, ".weight_v") &&
         manifest.entries.count(key) == 0;
}

// Second pass for one parameter; returns whether it was filled.
bool fold_weight_norm(const Manifest &manifest, const std::string &key, torch::Tensor &param) {
  const std::string base = key.substr(0, key.rfind(".weight"));
  const std::string g_key = base + ".weight_g";
  const std::string v_key = base + ".weight_v";
  if (manifest.entries.count(g_key) == 0 || manifest.entries.count(v_key) == 0) return false;
  const torch::Tensor g = manifest_load_tensor(manifest, g_key);
  const torch::Tensor v = manifest_load_tensor(manifest, v_key);
  if (!g.defined() || !v.defined()) return false;

  std::vector<int64_t> dims;
  for (int64_t d = 1; d < v.dim(); ++d) dims.push_back(d);
  const torch::Tensor norm = v.norm(2, dims, /*keepdim=*/true);
  // A zero direction row would give 0 / 0; its weight is zero instead of NaN.
  const torch::Tensor scale = torch::where(norm == 0, torch::zeros_like(norm), g / norm);
  const torch::Tensor w = v * scale;
  if (w.sizes() != param.sizes()) {
    std::fprintf(stderr, "[manifest] WN shape mismatch: %s expected %s got %s\n", key.c_str(),
                 format_shape(param.sizes()).c_str(), format_shape(w.sizes()).c_str());
    return false;
  }
  torch::NoGradGuard no_grad;
  param.copy_(w);
  std::fprintf(stderr, "[manifest] WN fold: %s (from %s + %s)\n", key.c_str(), g_key.c_str(),
               v_key.c_str());
  return true;
}

}  // namespace

std::string remap_checkpoint_key(const std::string &name) {
  for (const Prefix &prefix : kPrefixes) {
    const size_t length = std::strlen(prefix.model);
    if (name.compare(0, length, prefix.model) == 0) return prefix.checkpoint + name.substr(length);
  }
  return name;
}

std::string format_shape(c10::IntArrayRef sizes) {
  std::ostringstream text;
  text << '[';
  for (size_t i = 0; i < sizes.size(); ++i) text << (i ? ", " : "") << sizes[i];
  text << ']';
  return text.str();
}

int manifest_bind_parameters(const Manifest &manifest, torch::nn::Module &model, KeyMap key_map) {
  try {
    RecordCache cache(manifest.path);
    int loaded = 0;
    int skipped = 0;
    const auto params = model.named_parameters(/*recurse=*/true);
    for (const auto &item : params) {
      const std::string key = key_map ? key_map(item.key()) : item.key();
      torch::Tensor param = item.value();
      if (copy_plain(manifest, cache, item.key(), key, param)) {
        ++loaded;
      } else {
        ++skipped;
      }
    }
    for (const auto &item : params) {
      const std::string key = key_map ? key_map(item.key()) : item.key();
      torch::Tensor param = item.value();
      if (is_fold_candidate(manifest, key) && fold_weight_norm(manifest, key, param)) ++loaded;
    }
    std::fprintf(stderr, "[manifest] Loaded %d, skipped %d\n", loaded, skipped);
    return loaded;
  } catch (const std::exception &error) {
    std::fprintf(stderr, "[manifest] Load failed: %s\n", exception_text(error));
  } catch (...) {
    std::fprintf(stderr, "[manifest] Load failed: unknown error\n");
  }
  return -1;
}
