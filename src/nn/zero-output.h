#pragma once
// Layers that a voice sets to nothing by construction: whether a convolution's
// parameters make its output exactly +0, so that the work around it can be skipped.

#include <torch/types.h>

// True when every weight is zero and every bias is +0: the convolution then maps
// any finite input to +0 exactly (a product is +-0, and +0 added to +-0 is +0).
// A -0 bias or a missing one could give -0, which would change the sign of a sum
// that is zero, so those are not counted.
bool outputs_positive_zero(const torch::Tensor &weight, const torch::Tensor &bias);
