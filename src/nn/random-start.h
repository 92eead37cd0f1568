#pragma once
// The random start of the weights that the network modules draw when built, so
// that a voice whose archive leaves a parameter out still runs (the load warns
// about it). A load that fills every parameter throws those draws away, and
// drawing some 10^7 normal values takes a tenth of a second: within a
// DeferredRandomStart the modules' weights start empty, and draw_unfilled()
// afterwards gives the random start to those that nothing filled.

#include <torch/types.h>

#include <vector>

// Normal random values of `sizes`, or, within a DeferredRandomStart on this
// thread, an empty tensor that the scope draws later if nothing fills it.
torch::Tensor random_start(at::IntArrayRef sizes);

class DeferredRandomStart {
 public:
  DeferredRandomStart();
  ~DeferredRandomStart();
  DeferredRandomStart(const DeferredRandomStart &) = delete;
  DeferredRandomStart &operator=(const DeferredRandomStart &) = delete;

  // Draws the values of every tensor made in the scope that has not been written
  // since (its version counter unchanged); returns how many it drew. The draws
  // come from a generator of the scope's own, seeded alike every time: loads
  // that leave the same parameters out start them alike, whatever else runs,
  // and the host's generator is left as it was.
  int draw_unfilled();

 private:
  friend torch::Tensor random_start(at::IntArrayRef sizes);
  std::vector<torch::Tensor> deferred_;
  DeferredRandomStart *outer_;
};
