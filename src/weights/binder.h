#pragma once
// Copies checkpoint tensors into a module's parameters by name, folding
// weight-normalised pairs (weight_g, weight_v) into plain weights.

#include <torch/nn/module.h>

#include <functional>
#include <string>
#include <vector>

struct Manifest;

using KeyMap = std::function<std::string(const std::string &)>;

// Model parameter name -> checkpoint key ("enc_p." -> "text_encoder.", ...).
std::string remap_checkpoint_key(const std::string &name);

// "[384, 192, 11]".
std::string format_shape(c10::IntArrayRef sizes);

// Returns the number of parameters filled, or -1 when an error ended the binding.
int manifest_bind_parameters(const Manifest &manifest, torch::nn::Module &model, KeyMap key_map);
