#pragma once
// Diagnostic dumps of intermediate tensors as float32 in row-major order.
// A file that cannot be created is skipped silently: the dumps are best effort.

#include <torch/types.h>

#include <functional>

// Raw values only.
void dump_raw(const char *path, const torch::Tensor &t);

// Three int32 sizes (dimensions 0, 1, 2 of a 3-D tensor), then the values.
// Returns whether the file was written.
bool dump_with_header(const char *path, const torch::Tensor &t);

// As above, but `make` runs only once the file is open: for tensors that exist
// only to be dumped.
bool dump_with_header(const char *path, const std::function<torch::Tensor()> &make);
