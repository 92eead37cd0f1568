#pragma once
// A module tree whose parameters carry given dotted names, standing in for the
// voice model wherever only the names and shapes matter.

#include <torch/nn/module.h>
#include <torch/torch.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

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

}  // namespace module_tree
