#include "nn/debug-dump.h"

#include <torch/torch.h>

#include <cstdio>
#include <memory>

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

bool dump_with_header(const char *path, const std::function<torch::Tensor()> &make) {
  std::unique_ptr<FILE, int (*)(FILE *)> f(fopen(path, "wb"), fclose);
  if (!f) return false;
  const auto t = make();
  const int32_t sizes[3] = {static_cast<int32_t>(t.size(0)), static_cast<int32_t>(t.size(1)),
                            static_cast<int32_t>(t.size(2))};
  fwrite(sizes, sizeof(int32_t), 3, f.get());
  write_values(f.get(), t);
  return true;
}

bool dump_with_header(const char *path, const torch::Tensor &t) {
  return dump_with_header(path, [&t] { return t; });
}
