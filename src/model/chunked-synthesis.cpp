#include "model/chunked-synthesis.h"

#include <ATen/record_function.h>
#include <torch/torch.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "log/log.h"
#include "nn/coupling-flow.h"
#include "nn/debug-dump.h"
#include "nn/hifigan-decoder.h"

namespace {

// min / max / NaN over a tensor seen window by window; a NaN minimum or maximum
// sticks, as it would over the whole tensor.
struct Extremes {
  float min = std::numeric_limits<float>::infinity();
  float max = -std::numeric_limits<float>::infinity();
  bool has_nan = false;

  void add(const torch::Tensor &t) {
    fold(min, t.min().item<float>(), [](float a, float b) { return b < a; });
    fold(max, t.max().item<float>(), [](float a, float b) { return b > a; });
    has_nan = has_nan || t.isnan().any().item<bool>();
  }

 private:
  template <typename Better>
  static void fold(float &acc, float value, Better better) {
    if (!std::isnan(acc) && (std::isnan(value) || better(acc, value))) acc = value;
  }
};

// Runs the reverse flow window by window into a whole-utterance latent z, which
// is small (inter_channels values a frame); only the decoder's activations are large.
class FlowPass {
 public:
  FlowPass(FlowImpl &flow, const torch::Tensor &z_p, const torch::Tensor &y_mask,
           const torch::Tensor &g, int64_t max_window)
      : flow_(flow),
        z_p_(z_p),
        y_mask_(y_mask),
        g_(g),
        frames_(z_p.size(2)),
        context_(flow.context_frames()),
        max_window_(max_window),
        z_(torch::empty_like(z_p)),
        layers_(static_cast<size_t>(flow.n_flows)) {}

  const torch::Tensor &z() const { return z_; }

  // Makes z exact on frames [0, frame); reports once the last frame is done.
  void advance_to(int64_t frame) {
    while (done_ < frame) {
      // Windows grow with the work done so far: short at first, for early audio.
      const int64_t grow = std::min(max_window_, std::max<int64_t>(done_, 1));
      run_window(done_, std::min(frames_, done_ + std::max(frame - done_, grow)));
      if (done_ == frames_) report();
    }
  }

 private:
  struct LayerStats {
    double abs_change_sum = 0.0;
    Extremes range;
  };

  void run_window(int64_t begin, int64_t end) {
    RECORD_USER_SCOPE("korva::flow");
    // The latent holds frames [lo, hi); each layer needs the context of the layers after it.
    int64_t context = context_;
    int64_t lo = std::max<int64_t>(0, begin - context);
    int64_t hi = std::min(frames_, end + context);
    auto kept = [&](const torch::Tensor &t) { return t.narrow(2, begin - lo, end - begin); };
    auto latent = z_p_.narrow(2, lo, hi - lo);
    for (int i = flow_.n_flows - 1; i >= 0; --i) {
      const auto layer = flow_.flows[i]->as<ResidualCouplingLayerImpl>();
      latent = torch::flip(latent, {1});
      const auto before = latent;
      latent = layer->forward(latent, y_mask_.narrow(2, lo, hi - lo), true, g_);
      if (stats_) {
        auto &stats = layers_[static_cast<size_t>(i)];
        stats.abs_change_sum += (kept(latent) - kept(before)).abs().sum().item<double>();
        stats.range.add(kept(latent));
      }
      // The later layers read less around the window: the rest is dropped.
      context -= layer->enc->context_frames();
      const int64_t from = std::max<int64_t>(0, begin - context);
      const int64_t to = std::min(frames_, end + context);
      latent = latent.narrow(2, from - lo, to - from);
      lo = from;
      hi = to;
    }
    if (stats_) after_flow_.add(kept(latent));
    z_.narrow(2, begin, end - begin).copy_(kept(latent * y_mask_.narrow(2, lo, hi - lo)));
    done_ = end;
  }

  void report() const {
    if (stats_) print_stats();
    if (dump_with_header("C:/tmp/korva_z_input.bin", z_))
      log_line(LogLevel::kInfo, "[korva] Saved z input: [%d, %d, %d] to korva_z_input.bin",
               static_cast<int>(z_.size(0)), static_cast<int>(z_.size(1)),
               static_cast<int>(z_.size(2)));
  }

  void print_stats() const {
    const double elements = static_cast<double>(z_.numel());
    for (int i = flow_.n_flows - 1; i >= 0; --i) {
      const auto &stats = layers_[static_cast<size_t>(i)];
      log_line(LogLevel::kInfo, "[korva] flow[%d] mean_abs_change=%.6f z range=[%.3f, %.3f]", i,
               stats.abs_change_sum / elements, stats.range.min, stats.range.max);
    }
    log_line(LogLevel::kInfo, "[korva] z (after flow) stats: min=%.3f max=%.3f hasnan=%d",
             after_flow_.min, after_flow_.max, after_flow_.has_nan ? 1 : 0);
  }

  FlowImpl &flow_;
  const torch::Tensor z_p_, y_mask_, g_;
  const int64_t frames_, context_, max_window_;
  torch::Tensor z_;
  int64_t done_ = 0;
  // The statistics are only gathered for their lines.
  const bool stats_ = log_enabled(LogLevel::kInfo);
  std::vector<LayerStats> layers_;
  Extremes after_flow_;
};

}  // namespace

bool synthesize_chunked(FlowImpl &flow, DecoderImpl &dec, const torch::Tensor &z_p,
                        const torch::Tensor &y_mask, WaveSink &sink, const ChunkSizes &sizes,
                        const torch::Tensor &g) {
  const int64_t frames = z_p.size(2);
  const int64_t context = dec.context_frames();
  FlowPass flow_pass(flow, z_p, y_mask, g, sizes.max_flow);
  Extremes output;
  const bool stats = log_enabled(LogLevel::kInfo);
  sink.begin(frames * dec.samples_per_frame());
  int64_t window = sizes.first_decode;
  for (int64_t begin = 0; begin < frames;) {
    const int64_t end = std::min(frames, begin + window);
    const int64_t lo = std::max<int64_t>(0, begin - context);
    const int64_t hi = std::min(frames, end + context);
    flow_pass.advance_to(hi);
    auto wave =
        dec.forward_frames(flow_pass.z().narrow(2, lo, hi - lo), begin - lo, end - lo, g)
            .contiguous();
    if (stats) output.add(wave);
    // tanh keeps infinities finite but not NaN: a NaN weight reaches every later sample.
    const bool finite = stats
                            ? !(output.has_nan || std::isinf(output.min) || std::isinf(output.max))
                            : torch::isfinite(wave).all().item<bool>();
    if (!finite) throw std::runtime_error("non-finite waveform samples from the decoder");
    if (!sink.write(wave.data_ptr<float>(), wave.numel())) return false;
    begin = end;
    window = std::min(sizes.max_decode, 2 * window);
  }
  if (stats)
    log_line(LogLevel::kInfo, "[korva] decoder output stats: min=%.3f max=%.3f hasnan=%d",
             output.min, output.max, output.has_nan ? 1 : 0);
  return true;
}
