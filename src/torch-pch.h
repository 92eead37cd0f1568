#pragma once
// Precompiled for every translation unit of the libtorch areas.
#include <torch/torch.h>
