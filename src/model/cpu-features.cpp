#include "model/cpu-features.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

#if defined(__x86_64__) || defined(__i386__)
struct Registers {
  uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

Registers cpuid(uint32_t leaf, uint32_t subleaf) {
  Registers r;
  if (!__get_cpuid_count(leaf, subleaf, &r.eax, &r.ebx, &r.ecx, &r.edx)) return {};
  return r;
}

bool bit(uint32_t value, int n) { return (value >> n) & 1u; }

// Register state the operating system saves on a context switch: a feature
// whose registers it does not save cannot be used, whatever cpuid says.
uint64_t enabled_state() {
  if (!bit(cpuid(1, 0).ecx, 27)) return 0;  // no OSXSAVE: no xgetbv
  uint32_t lo = 0, hi = 0;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (static_cast<uint64_t>(hi) << 32) | lo;
}

CpuFeatures detect() {
  CpuFeatures f;
  const uint64_t state = enabled_state();
  const bool avx_state = (state & 0x6) == 0x6;                    // XMM and YMM
  const bool avx512_state = avx_state && (state & 0xe0) == 0xe0;  // opmask, ZMM
  const bool amx_state = (state & 0x60000) == 0x60000;            // tile config and data
  const Registers leaf7 = cpuid(7, 0);
  f.avx2 = avx_state && bit(leaf7.ebx, 5);
  f.avx512f = avx512_state && bit(leaf7.ebx, 16);
  f.avx512_bf16 = f.avx512f && leaf7.eax >= 1 && bit(cpuid(7, 1).eax, 5);
  f.amx_bf16 = amx_state && bit(leaf7.edx, 24) && bit(leaf7.edx, 22);
  return f;
}
#else
CpuFeatures detect() { return {}; }
#endif

void hide(CpuFeatures &f, const std::string &name) {
  if (name == "avx2") f.avx2 = false;
  if (name == "avx512f") f.avx512f = false;
  if (name == "avx512_bf16") f.avx512_bf16 = false;
  if (name == "amx_bf16") f.amx_bf16 = false;
}

}  // namespace

CpuFeatures cpu_features() {
  CpuFeatures f = detect();
  if (const char *hidden = std::getenv("KORVA_CPU_HIDE")) {
    std::stringstream names(hidden);
    for (std::string name; std::getline(names, name, ',');) hide(f, name);
  }
  return f;
}

std::string describe_cpu_features(const CpuFeatures &f) {
  std::string out;
  auto add = [&](bool present, const char *name) {
    if (present) out += (out.empty() ? "" : " ") + std::string(name);
  };
  add(f.avx2, "avx2");
  add(f.avx512f, "avx512f");
  add(f.avx512_bf16, "avx512_bf16");
  add(f.amx_bf16, "amx_bf16");
  return out.empty() ? "none of avx2, avx512f, avx512_bf16, amx_bf16" : out;
}

bool bfloat16_pays(const CpuFeatures &f) { return f.amx_bf16; }

std::string bfloat16_missing(const CpuFeatures &f) {
  if (f.avx512_bf16 || f.amx_bf16) return "";
  return "this CPU has neither AVX512_BF16 nor AMX-BF16 (it has " + describe_cpu_features(f) +
         "), so bfloat16 would be emulated, slower and less exact than float32";
}
