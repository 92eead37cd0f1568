#pragma once
// The weight-norm fold as a second pass through manifest_load_tensor computes it:
// what the binder's fold from its record cache must equal bit for bit.

#include <torch/torch.h>

#include <string>
#include <vector>

#include "weights/manifest.h"

inline torch::Tensor reference_fold(const Manifest &manifest, const std::string &base) {
  const torch::Tensor g = manifest_load_tensor(manifest, base + ".weight_g");
  const torch::Tensor v = manifest_load_tensor(manifest, base + ".weight_v");
  std::vector<int64_t> dims;
  for (int64_t d = 1; d < v.dim(); ++d) dims.push_back(d);
  const torch::Tensor norm = v.norm(2, dims, /*keepdim=*/true);
  return v * torch::where(norm == 0, torch::zeros_like(norm), g / norm);
}
