#include "nn/random-start.h"

#include <ATen/CPUGeneratorImpl.h>
#include <torch/torch.h>

namespace {

thread_local DeferredRandomStart *current = nullptr;

}  // namespace

torch::Tensor random_start(at::IntArrayRef sizes) {
  if (!current) return torch::randn(sizes);
  auto values = torch::empty(sizes);
  current->deferred_.push_back(values);
  return values;
}

DeferredRandomStart::DeferredRandomStart() : outer_(current) { current = this; }

DeferredRandomStart::~DeferredRandomStart() { current = outer_; }

int DeferredRandomStart::draw_unfilled() {
  torch::NoGradGuard no_grad;
  at::Generator own = at::make_generator<at::CPUGeneratorImpl>(0);
  int drawn = 0;
  for (auto &values : deferred_) {
    if (values._version() != 0) continue;
    values.normal_(0.0, 1.0, own);
    ++drawn;
  }
  deferred_.clear();
  return drawn;
}
