// KorvaVITSImpl::synthesize: token ids -> prior -> durations -> alignment ->
// latent -> reverse flow -> waveform, with the diagnostic lines of every call.
#include <ATen/CPUGeneratorImpl.h>
#include <ATen/record_function.h>
#include <torch/torch.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "log/log.h"
#include "model/alignment.h"
#include "model/flush-denormals.h"
#include "model/korva-vits.h"
#include "nn/debug-dump.h"

namespace {

float min_of(const torch::Tensor &t) { return t.min().item<float>(); }
float max_of(const torch::Tensor &t) { return t.max().item<float>(); }
float mean_of(const torch::Tensor &t) { return t.mean().item<float>(); }
int has_nan(const torch::Tensor &t) { return t.isnan().any().item<bool>() ? 1 : 0; }

// "<label> v0 v1 ...", each value with `format`.
void print_values(const char *label, const torch::Tensor &values, const char *format = " %.6f") {
  auto v = values.to(torch::kCPU, torch::kFloat).contiguous();
  LogLine line(LogLevel::kInfo);
  line.add("%s", label);
  for (int64_t i = 0; i < v.numel(); ++i) line.add(format, v.data_ptr<float>()[i]);
}

torch::Tensor first_channels(const torch::Tensor &t, int64_t n) {
  return t.index({0, torch::indexing::Slice(0, std::min(n, t.size(1))), 0});
}

torch::Tensor first_positions(const torch::Tensor &t, int64_t n) {
  return t.index({0, 0, torch::indexing::Slice(0, std::min(n, t.size(2)))});
}

// Collects the chunks into one [1, S] tensor.
class TensorSink : public WaveSink {
 public:
  void begin(int64_t total_samples) override { wave = torch::empty({1, total_samples}); }
  bool write(const float *samples, int64_t count) override {
    std::memcpy(wave.data_ptr<float>() + filled_, samples,
                static_cast<size_t>(count) * sizeof(float));
    filled_ += count;
    return true;
  }
  torch::Tensor wave;

 private:
  int64_t filled_ = 0;
};

TextEncoderOutput encode(TextEncoderImpl &enc_p, const torch::Tensor &ids,
                         const torch::Tensor &lengths) {
  RECORD_USER_SCOPE("korva::encoder");
  auto enc = enc_p.forward(ids, lengths);
  const auto &x = enc.x;
  if (log_enabled(LogLevel::kInfo)) {
    log_line(LogLevel::kInfo, "[korva] enc_out stats: min=%.3f max=%.3f mean=%.3f std=%.3f",
             min_of(x), max_of(x), mean_of(x), x.std().item<float>());
    print_values("[korva] enc_out[0,0,:10]:", first_positions(x, 10));
    print_values("[korva] enc_out[0,:5,0]:", first_channels(x, 5));
    print_values("[korva] m_p[0,:5,0]:", first_channels(enc.m_p, 5));
    print_values("[korva] logs_p[0,:5,0]:", first_channels(enc.logs_p, 5));
    log_line(LogLevel::kInfo, "[korva] m_p stats: min=%.3f max=%.3f", min_of(enc.m_p),
             max_of(enc.m_p));
  }
  dump_with_header("C:/tmp/sdp_enc_out.bin", x);
  return enc;
}

// Frames per token, w_ceil [1, 1, N].
torch::Tensor frame_counts(KorvaVITSImpl &model, const TextEncoderOutput &enc, float noise_scale_w,
                           float length_scale, const torch::Tensor &g,
                           const at::Generator &generator) {
  RECORD_USER_SCOPE("korva::durations");
  auto logw = model.log_durations(enc, noise_scale_w, g, generator);
  const bool stats = log_enabled(LogLevel::kInfo);
  if (stats)
    log_line(LogLevel::kInfo, "[korva] logw stats: min=%.3f max=%.3f mean=%.3f", min_of(logw),
             max_of(logw), mean_of(logw));

  auto w = torch::exp(logw) * enc.x_mask * length_scale;
  if (stats)
    log_line(LogLevel::kInfo, "[korva] w stats: min=%.3f max=%.3f sum=%.1f", min_of(w), max_of(w),
             w.sum().item<float>());
  // A frame count cannot be made from NaN or infinity.
  if (!torch::isfinite(w).all().item<bool>())
    throw std::runtime_error("non-finite token durations");

  auto w_ceil = torch::ceil(w);
  const float frame_sum = w_ceil.sum().item<float>();
  log_line(LogLevel::kInfo, "[korva] w_ceil sum=%.0f", frame_sum);
  if (frame_sum > static_cast<float>(kMaxFrames)) {
    char message[128];
    snprintf(message, sizeof message, "utterance of %.0f frames exceeds the limit of %lld",
             frame_sum, static_cast<long long>(kMaxFrames));
    throw std::runtime_error(message);
  }
  return w_ceil;
}

// z_p [1, inter, T]: each frame drawn from the prior of the token that owns it.
torch::Tensor sample_prior(const TextEncoderOutput &enc, const torch::Tensor &w_ceil,
                           const torch::Tensor &y_mask, float noise_scale,
                           const at::Generator &generator) {
  RECORD_USER_SCOPE("korva::prior");
  const int64_t frames = y_mask.size(2);
  auto m_p = expand_to_frames(enc.m_p, w_ceil, frames);
  auto logs_p = expand_to_frames(enc.logs_p, w_ceil, frames);
  // One contiguous [1, inter, T] draw: the noise layout decides which value each element gets.
  auto eps = torch::randn(m_p.sizes(), generator, m_p.options());
  auto z_p = (m_p + eps * torch::exp(logs_p) * noise_scale) * y_mask;
  if (log_enabled(LogLevel::kInfo)) {
    log_line(LogLevel::kInfo, "[korva] logs_p (expanded) stats: min=%.3f max=%.3f mean=%.3f",
             min_of(logs_p), max_of(logs_p), mean_of(logs_p));
    auto exp_logs_p = torch::exp(logs_p);
    log_line(LogLevel::kInfo, "[korva] exp(logs_p) stats: min=%.3f max=%.3f", min_of(exp_logs_p),
             max_of(exp_logs_p));
    log_line(LogLevel::kInfo, "[korva] z_p stats: min=%.3f max=%.3f hasnan=%d", min_of(z_p),
             max_of(z_p), has_nan(z_p));
  }
  return z_p;
}

}  // namespace

bool KorvaVITSImpl::synthesize(const torch::Tensor &ids, const torch::Tensor &lengths,
                               float noise_scale, float noise_scale_w, float length_scale, int seed,
                               WaveSink &sink, const ChunkSizes &sizes, int64_t speaker) {
  torch::NoGradGuard no_grad;
  const FlushDenormals flush_denormals;
  const torch::Tensor g = speaker_embedding(speaker);

  // Draws in the order of the design: the duration noise, then the prior's.
  const at::Generator generator = at::make_generator<at::CPUGeneratorImpl>(seed);
  log_line(LogLevel::kInfo, "[korva] Random seed: %d", seed);

  const auto enc = encode(*enc_p, ids, lengths);
  const auto w_ceil = frame_counts(*this, enc, noise_scale_w, length_scale, g, generator);

  auto y_lengths = torch::clamp_min(w_ceil.sum({1, 2}), 1).to(torch::kLong);
  const int64_t frames = std::max<int64_t>(y_lengths.max().item<int64_t>(), 1);
  log_line(LogLevel::kInfo, "[korva] T_dec=%d", static_cast<int>(frames));
  auto y_mask = (torch::arange(frames, torch::kLong).unsqueeze(0) < y_lengths.unsqueeze(1))
                    .unsqueeze(1)
                    .to(enc.x_mask.scalar_type());

  dump_raw("C:/tmp/sdp_wceil.bin", w_ceil);
  if (log_enabled(LogLevel::kInfo))
    print_values("[korva] w_ceil per token:", first_positions(w_ceil, 23), " %.0f");
  // The [N, T] path is built only for its dump: expanding by frame owner needs no matrix.
  dump_with_header("C:/tmp/sdp_attn.bin", [&] { return generate_path(w_ceil, enc.x_mask); });

  const auto z_p = sample_prior(enc, w_ceil, y_mask, noise_scale, generator);
  const auto per_id = w_ceil.reshape({-1}).to(torch::kLong).contiguous();
  sink.durations(std::vector<int64_t>(per_id.data_ptr<int64_t>(),
                                      per_id.data_ptr<int64_t>() + per_id.numel()),
                 dec->samples_per_frame());
  return synthesize_chunked(*flow, *dec, z_p, y_mask, sink, sizes, g);
}

torch::Tensor KorvaVITSImpl::infer(const torch::Tensor &ids, const torch::Tensor &lengths,
                                   float noise_scale, float noise_scale_w, float length_scale,
                                   int seed, const ChunkSizes &sizes, int64_t speaker) {
  TensorSink sink;
  synthesize(ids, lengths, noise_scale, noise_scale_w, length_scale, seed, sink, sizes, speaker);
  return sink.wave;
}
