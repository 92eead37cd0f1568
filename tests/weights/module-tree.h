#pragma once
// A module tree whose parameters carry given dotted names, standing in for the
// voice model wherever only the names and shapes matter.

#include <torch/nn/module.h>
#include <torch/torch.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "weights/binder.h"
#include "weights/manifest.h"

namespace module_tree {

using ParamSpec = std::pair<std::string, std::vector<int64_t>>;

// Parameters are registered in the order given (so walks visit them in that
// order when names sharing a prefix are listed together), filled with `fill`.
inline std::shared_ptr<torch::nn::Module> make(const std::vector<ParamSpec> &params,
                                               float fill = -1.0f) {
  auto root = std::make_shared<torch::nn::Module>();
  for (const ParamSpec &param : params) {
    torch::nn::Module *node = root.get();
    size_t start = 0;
    for (size_t dot = param.first.find('.'); dot != std::string::npos;
         dot = param.first.find('.', start)) {
      const std::string part = param.first.substr(start, dot - start);
      auto children = node->named_children();
      auto *child = children.find(part);
      node = child ? child->get()
                   : node->register_module(part, std::make_shared<torch::nn::Module>()).get();
      start = dot + 1;
    }
    node->register_parameter(param.first.substr(start), torch::full(param.second, fill));
  }
  return root;
}

// The model's name for a checkpoint key: the key mapping read backwards.
inline std::string model_name(const std::string &key) {
  for (const char *model_prefix : {"enc_p.", "dp.", "dec."}) {
    const std::string checkpoint_prefix = remap_checkpoint_key(model_prefix);
    if (key.compare(0, checkpoint_prefix.size(), checkpoint_prefix) == 0) {
      return model_prefix + key.substr(checkpoint_prefix.size());
    }
  }
  return key;
}

// The voice's parameters as an archive stores them: one per plain tensor and one
// "weight" per weight_g/weight_v pair, in archive order (the model's registration order).
inline std::vector<ParamSpec> for_archive(const Manifest &manifest) {
  std::vector<std::pair<const std::string *, const ManifestEntry *>> entries;
  for (const auto &item : manifest.entries) entries.emplace_back(&item.first, &item.second);
  std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) {
    return std::make_pair(std::atoi(a.second->storage_key.c_str()), a.second->offset) <
           std::make_pair(std::atoi(b.second->storage_key.c_str()), b.second->offset);
  });
  std::vector<ParamSpec> params;
  for (const auto &entry : entries) {
    std::string name = model_name(*entry.first);
    const size_t at = name.rfind(".weight_");
    if (at != std::string::npos && name.compare(at, 9, ".weight_g") == 0) continue;
    if (at != std::string::npos) name = name.substr(0, at) + ".weight";
    params.emplace_back(name, entry.second->shape);
  }
  return params;
}

}  // namespace module_tree
