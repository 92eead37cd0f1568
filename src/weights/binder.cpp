// Fills a module's parameters from the archive: plain copies, and weight-normalised
// pairs folded into the weights that have no plain entry. Both happen in one walk,
// so that each storage record is read once and freed after its last use; the
// folds' lines are held back and printed after the walk, as a second pass over the
// parameters would print them.

#include "weights/binder.h"

#include <ATen/ExpandUtils.h>
#include <torch/torch.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <unordered_map>
#include <vector>

#include "log/log.h"
#include "weights/manifest.h"
#include "weights/record-cache.h"

namespace {

struct Prefix {
  const char *model;
  const char *checkpoint;
};
constexpr Prefix kPrefixes[] = {
    {"enc_p.", "text_encoder."}, {"dp.", "duration_predictor."}, {"dec.", "waveform_decoder."}};

bool contains(const std::string &text, const char *part) {
  return text.find(part) != std::string::npos;
}

// A weight with no plain entry of its own, which a weight_g/weight_v pair may fill.
bool is_fold_candidate(const Manifest &manifest, const std::string &key) {
  return contains(key, ".weight") && !contains(key, ".weight_g") && !contains(key, ".weight_v") &&
         manifest.entries.count(key) == 0;
}

struct PairKeys {
  std::string g, v;
};

PairKeys pair_keys(const std::string &key) {
  const std::string base = key.substr(0, key.rfind(".weight"));
  return {base + ".weight_g", base + ".weight_v"};
}

bool has_pair(const Manifest &manifest, const PairKeys &pair) {
  return manifest.entries.count(pair.g) != 0 && manifest.entries.count(pair.v) != 0;
}

// How often the walk below takes each storage record, so that each can be freed after its last use.
std::unordered_map<std::string, int> count_record_uses(const Manifest &manifest,
                                                       const std::vector<std::string> &keys) {
  std::unordered_map<std::string, int> uses;
  for (const std::string &key : keys) {
    const auto found = manifest.entries.find(key);
    if (found != manifest.entries.end()) {
      ++uses[found->second.storage_key];
    } else if (is_fold_candidate(manifest, key)) {
      const PairKeys pair = pair_keys(key);
      if (!has_pair(manifest, pair)) continue;
      ++uses[manifest.entries.at(pair.g).storage_key];
      ++uses[manifest.entries.at(pair.v).storage_key];
    }
  }
  return uses;
}

// Plain copy of one parameter that has an entry; returns whether it was filled.
bool copy_plain(const ManifestEntry &entry, RecordCache &cache, const std::string &name,
                const std::string &key, torch::Tensor &param) {
  std::shared_ptr<const ArchiveRecord> record = cache.take(entry.storage_key);
  if (entry.shape.size() != static_cast<size_t>(param.dim())) {
    log_line(LogLevel::kWarning, "[manifest] Dim mismatch: %s ours=%zu ckpt=%zu", name.c_str(),
             static_cast<size_t>(param.dim()), entry.shape.size());
    return false;
  }
  if (c10::IntArrayRef(entry.shape) != param.sizes()) {
    LogLine line(LogLevel::kWarning);
    line.add("[manifest] Shape mismatch: %s ours=%s ckpt=[", name.c_str(),
             format_shape(param.sizes()).c_str());
    for (const int64_t size : entry.shape) line.add("%ld,", static_cast<long>(size));
    line.add("]");
    return false;
  }
  LogBuffer log;
  const torch::Tensor values = manifest_record_view(entry, std::move(record), key, log);
  if (!values.defined()) {
    log.flush();
    return false;
  }
  torch::NoGradGuard no_grad;
  param.copy_(values);
  return true;
}

// One half of a pair with manifest_load_tensor's checks and lines (into `log`), but from the cache.
torch::Tensor take_half(const Manifest &manifest, RecordCache &cache, const std::string &name,
                        LogBuffer &log) {
  const ManifestEntry &entry = manifest.entries.at(name);
  try {
    return manifest_record_view(entry, cache.take(entry.storage_key), name, log);
  } catch (const std::exception &error) {
    log.add(LogLevel::kError,
            "[manifest] Failed to load tensor " + name + ": " + exception_text(error));
  } catch (...) {
    log.add(LogLevel::kError, "[manifest] Failed to load tensor " + name + ": unknown error");
  }
  return {};
}

// Folds the pair into a weight that has no plain entry; returns whether it was filled.
// Its lines go to `log`; errors of the arithmetic are thrown.
bool fold_weight_norm(const Manifest &manifest, RecordCache &cache, const std::string &key,
                      torch::Tensor &param, LogBuffer &log) {
  const PairKeys pair = pair_keys(key);
  // g is one value per row: a copy lets its record go before v's is read, which lowers the peak.
  torch::Tensor g = take_half(manifest, cache, pair.g, log);
  if (g.defined()) g = g.clone();
  const torch::Tensor v = take_half(manifest, cache, pair.v, log);
  if (!g.defined() || !v.defined()) return false;

  std::vector<int64_t> dims;
  for (int64_t d = 1; d < v.dim(); ++d) dims.push_back(d);
  const torch::Tensor norm = v.norm(2, dims, /*keepdim=*/true);
  // A zero direction row would give 0 / 0; its weight is zero instead of NaN.
  const torch::Tensor scale = torch::where(norm == 0, torch::zeros_like(norm), g / norm);
  const std::vector<int64_t> w_sizes = at::infer_size(v.sizes(), scale.sizes());
  if (c10::IntArrayRef(w_sizes) != param.sizes()) {
    log.add(LogLevel::kWarning, "[manifest] WN shape mismatch: " + key + " expected " +
                                    format_shape(param.sizes()) + " got " + format_shape(w_sizes));
    return false;
  }
  torch::NoGradGuard no_grad;
  // The product v * scale written straight into the parameter: no weight-sized temporary.
  at::mul_out(param, v, scale);
  log.add(LogLevel::kInfo,
          "[manifest] WN fold: " + key + " (from " + pair.g + " + " + pair.v + ")");
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
    const auto params = model.named_parameters(/*recurse=*/true);
    std::vector<std::string> keys;
    keys.reserve(params.size());
    for (const auto &item : params) keys.push_back(key_map ? key_map(item.key()) : item.key());
    RecordCache cache(manifest.path, count_record_uses(manifest, keys));

    int loaded = 0;
    int skipped = 0;
    int folded = 0;
    LogBuffer fold_log;                     // printed after the plain copies' lines
    std::optional<std::string> fold_error;  // ends the binding once those lines are out
    for (size_t i = 0; i < params.size(); ++i) {
      const std::string &name = params[i].key();
      const std::string &key = keys[i];
      torch::Tensor param = params[i].value();
      const auto found = manifest.entries.find(key);
      if (found != manifest.entries.end()) {
        if (copy_plain(found->second, cache, name, key, param)) {
          ++loaded;
        } else {
          ++skipped;
        }
        continue;
      }
      log_line(LogLevel::kInfo, "[manifest] SKIP: %s -> %s", name.c_str(), key.c_str());
      ++skipped;
      if (fold_error || !is_fold_candidate(manifest, key) || !has_pair(manifest, pair_keys(key)))
        continue;
      try {
        if (fold_weight_norm(manifest, cache, key, param, fold_log)) ++folded;
      } catch (const std::exception &error) {
        fold_error = exception_text(error);
      } catch (...) {
        fold_error = "unknown error";
      }
    }
    fold_log.flush();
    if (fold_error) {
      log_line(LogLevel::kError, "[manifest] Load failed: %s", fold_error->c_str());
      return -1;
    }
    loaded += folded;
    log_line(LogLevel::kInfo, "[manifest] Loaded %d, skipped %d", loaded, skipped);
    return loaded;
  } catch (const std::exception &error) {
    log_line(LogLevel::kError, "[manifest] Load failed: %s", exception_text(error));
  } catch (...) {
    log_line(LogLevel::kError, "[manifest] Load failed: unknown error");
  }
  return -1;
}
