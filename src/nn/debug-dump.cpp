#include "nn/debug-dump.h"

#include <torch/torch.h>

#include <cstdio>

namespace {

void write_values(FILE *f, const torch::Tensor &t) {
  auto c = t.detach().to(torch::kCPU, torch::kFloat).contiguous();
  fwrite(c.data_ptr<float>(), sizeof(float), static_cast<size_t>(c.numel()), f);
}

}  // namespace

void dump_raw(const char *path, const torch::Tensor &t) {
  FILE *f = fopen(path, "wb");
  if (!f) return;
  write_values(f, t);
  fclose(f);
}

bool dump_with_header(const char *path, const torch::Tensor &t) {
  FILE *f = fopen(path, "wb");
  if (!f) return false;
  const int32_t sizes[3] = {static_cast<int32_t>(t.size(0)), static_cast<int32_t>(t.size(1)),
                            static_cast<int32_t>(t.size(2))};
  fwrite(sizes, sizeof(int32_t), 3, f);
  write_values(f, t);
  fclose(f);
  return true;
}
