#include "model/chunked-synthesis.h"

#include <ATen/record_function.h>
#include <torch/torch.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <stdexcept>

#include "log/log.h"
#include "model/flush-denormals.h"
#include "model/threads.h"
#include "nn/coupling-flow.h"
#include "nn/debug-dump.h"
#include "nn/hifigan-decoder.h"
#include "nn/window-decoder.h"

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
// Each layer keeps its output so far, so that a window computes every layer's new
// frames once: a layer reads its input's context from what the layer before it
// already holds instead of recomputing it.
class FlowPass {
 public:
  FlowPass(FlowImpl &flow, const torch::Tensor &z_p, const torch::Tensor &y_mask,
           const torch::Tensor &g, int64_t max_window)
      : flow_(flow),
        z_p_(z_p),
        y_mask_(y_mask),
        g_(g),
        frames_(z_p.size(2)),
        max_window_(max_window),
        z_(torch::empty_like(z_p)),
        layers_(static_cast<size_t>(flow.n_flows)) {
    // In the order the layers run: the last one first.
    int64_t after = flow.context_frames();
    for (int i = flow.n_flows - 1; i >= 0; --i) {
      auto &layer = layers_[static_cast<size_t>(i)];
      layer.coupling = flow.flows[i]->as<ResidualCouplingLayerImpl>();
      layer.context = layer.coupling->enc->context_frames();
      after -= layer.context;
      layer.read_after = after;
      // The last to run writes into z itself.
      layer.output = i == 0 ? z_ : torch::empty_like(z_p);
    }
  }

  const torch::Tensor &z() const { return z_; }

  // Makes z exact on frames [0, frame); reports once the last frame is done.
  void advance_to(int64_t frame) {
    while (done_ < frame) {
      // Windows grow with the work done so far: short at first, for early audio,
      // then each three times the frames before it, so that few windows pay for
      // the context they recompute and for small convolutions.
      const int64_t grow = std::min(max_window_, 3 * std::max<int64_t>(done_, 1));
      run_window(std::min(frames_, done_ + std::max(frame - done_, grow)));
      if (done_ == frames_) report();
    }
  }

 private:
  struct Layer {
    ResidualCouplingLayerImpl *coupling = nullptr;
    int64_t context = 0;     // frames its output reads on each side of a frame
    int64_t read_after = 0;  // frames the layers after it read beyond theirs
    torch::Tensor output;    // exact on frames [0, done)
    int64_t done = 0;
    double abs_change_sum = 0.0;
    Extremes range;
  };

  // Makes z exact on frames [0, end).
  void run_window(int64_t end) {
    RECORD_USER_SCOPE("korva::flow");
    const torch::Tensor *input = &z_p_;
    for (int i = flow_.n_flows - 1; i >= 0; --i) {
      auto &layer = layers_[static_cast<size_t>(i)];
      const int64_t from = layer.done;
      const int64_t to = std::min(frames_, end + layer.read_after);
      if (to > from) run_layer(layer, *input, from, to);
      input = &layer.output;
    }
    if (stats_) after_flow_.add(z_.narrow(2, done_, end - done_));
    done_ = end;
  }

  // Frames [from, to) of the layer's output, from its input on those frames and
  // their context, which the layer before it holds already.
  void run_layer(Layer &layer, const torch::Tensor &input, int64_t from, int64_t to) {
    const int64_t lo = std::max<int64_t>(0, from - layer.context);
    const int64_t hi = std::min(frames_, to + layer.context);
    const auto mask = y_mask_.narrow(2, lo, hi - lo);
    const auto flipped = torch::flip(input.narrow(2, lo, hi - lo), {1});
    const auto fresh =
        layer.coupling->forward(flipped, mask, true, g_).narrow(2, from - lo, to - from);
    if (stats_) {
      const auto before = flipped.narrow(2, from - lo, to - from);
      layer.abs_change_sum += (fresh - before).abs().sum().item<double>();
      layer.range.add(fresh);
    }
    // The last layer to run gives z, masked.
    const bool last = &layer == &layers_.front();
    layer.output.narrow(2, from, to - from)
        .copy_(last ? fresh * mask.narrow(2, from - lo, to - from) : fresh);
    layer.done = to;
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
      const auto &layer = layers_[static_cast<size_t>(i)];
      log_line(LogLevel::kInfo, "[korva] flow[%d] mean_abs_change=%.6f z range=[%.3f, %.3f]", i,
               layer.abs_change_sum / elements, layer.range.min, layer.range.max);
    }
    log_line(LogLevel::kInfo, "[korva] z (after flow) stats: min=%.3f max=%.3f hasnan=%d",
             after_flow_.min, after_flow_.max, after_flow_.has_nan ? 1 : 0);
  }

  FlowImpl &flow_;
  const torch::Tensor z_p_, y_mask_, g_;
  const int64_t frames_, max_window_;
  torch::Tensor z_;
  int64_t done_ = 0;
  // The statistics are only gathered for their lines.
  const bool stats_ = log_enabled(LogLevel::kInfo);
  std::vector<Layer> layers_;  // indexed as the flow's layers
  Extremes after_flow_;
};

// The first convolution's bias with the speaker's condition added (the decoder adds
// cond(g) right after it), or undefined for a voice of one speaker.
torch::Tensor conditioned_bias(DecoderImpl &dec, const torch::Tensor &g) {
  if (!dec.cond || !g.defined()) return {};
  return (dec.conv_pre->bias + dec.cond->forward(g).view({-1})).contiguous();
}

// Checks a window's samples (and adds them to the statistics when they are
// logged) and hands them on; false when the sink stopped.
bool deliver(const float *samples, int64_t count, bool stats, Extremes &output,
             WaveSink &sink) {
  const auto wave = torch::from_blob(const_cast<float *>(samples), {count});
  if (stats) output.add(wave);
  // tanh keeps infinities finite but not NaN: a NaN weight reaches every later sample.
  const bool finite = stats ? !(output.has_nan || std::isinf(output.min) || std::isinf(output.max))
                            : torch::isfinite(wave).all().item<bool>();
  if (!finite) throw std::runtime_error("non-finite waveform samples from the decoder");
  return sink.write(samples, count);
}

// One window's decoding: its frames, buffers and samples.
struct Lane {
  explicit Lane(const WindowDecoder &dec)
      : work(dec.make_workspace()),
        samples(static_cast<size_t>(dec.window_frames() * dec.samples_per_frame())) {}
  std::unique_ptr<WindowDecoder::Workspace> work;
  std::vector<float> samples;
  int64_t begin = 0, end = 0;
};

// Windows of fixed sizes on the window decoder: the first on `first`, on all of the
// request's threads, for early audio; every later one on `rest`, `lanes` windows at
// once, each on a thread of its own (`rest` built for one thread):
// small convolutions gain little from a second thread, whole windows do.
bool decode_fixed_windows(FlowPass &flow_pass, const WindowDecoder &first,
                          const WindowDecoder &rest, int lanes, const torch::Tensor &pre_bias,
                          bool stats, Extremes &output, WaveSink &sink) {
  const int64_t frames = flow_pass.z().size(2);
  const float *z = flow_pass.z().data_ptr<float>();
  const float *bias = pre_bias.defined() ? pre_bias.data_ptr<float>() : nullptr;
  // The latent frames a window reads are made exact, window after window, as one
  // window at a time would: the flow's windows, and so its rounding, stay the same.
  const auto ready = [&](const WindowDecoder &dec, Lane &lane, int64_t begin) {
    flow_pass.advance_to(std::min(frames, begin + dec.first_frame() + dec.frames_read()));
    lane.begin = begin;
    lane.end = std::min(frames, begin + dec.window_frames());
  };
  const auto hand_on = [&](const Lane &lane) {
    return deliver(lane.samples.data(), (lane.end - lane.begin) * rest.samples_per_frame(),
                   stats, output, sink);
  };
  {
    RECORD_USER_SCOPE("korva::decoder");
    Lane lane(first);
    ready(first, lane, 0);
    first.decode(z, frames, 0, lane.samples.data(), *lane.work, bias);
    if (!hand_on(lane)) return false;
  }
  std::vector<Lane> group;
  for (int i = 0; i < lanes && first.window_frames() < frames; ++i) group.emplace_back(rest);
  for (int64_t begin = first.window_frames(); begin < frames;) {
    RECORD_USER_SCOPE("korva::decoder");
    size_t used = 0;
    for (; used < group.size() && begin < frames; ++used) {
      ready(rest, group[used], begin);
      begin = group[used].end;
    }
    at::parallel_for(0, static_cast<int64_t>(used), 1, [&](int64_t from, int64_t to) {
      const FlushDenormals flush_denormals;
      for (int64_t i = from; i < to; ++i) {
        Lane &lane = group[static_cast<size_t>(i)];
        rest.decode(z, frames, lane.begin, lane.samples.data(), *lane.work, bias);
      }
    });
    for (size_t i = 0; i < used; ++i)
      if (!hand_on(group[i])) return false;
  }
  return true;
}

// Windows that double from sizes.first_decode up to sizes.max_decode on the
// decoder's own tensor operations.
bool decode_growing_windows(FlowPass &flow_pass, DecoderImpl &dec, const ChunkSizes &sizes,
                            const torch::Tensor &g, bool stats, Extremes &output,
                            WaveSink &sink) {
  const int64_t frames = flow_pass.z().size(2);
  const int64_t context = dec.context_frames();
  int64_t window = sizes.first_decode;
  for (int64_t begin = 0; begin < frames;) {
    const int64_t end = std::min(frames, begin + window);
    const int64_t lo = std::max<int64_t>(0, begin - context);
    const int64_t hi = std::min(frames, end + context);
    flow_pass.advance_to(hi);
    auto wave =
        dec.forward_frames(flow_pass.z().narrow(2, lo, hi - lo), begin - lo, end - lo, g)
            .contiguous();
    if (!deliver(wave.data_ptr<float>(), wave.numel(), stats, output, sink)) return false;
    begin = end;
    window = std::min(sizes.max_decode, 2 * window);
  }
  return true;
}

}  // namespace

bool synthesize_chunked(FlowImpl &flow, DecoderImpl &dec, const torch::Tensor &z_p,
                        const torch::Tensor &y_mask, WaveSink &sink, const ChunkSizes &sizes,
                        const torch::Tensor &g) {
  const int64_t frames = z_p.size(2);
  FlowPass flow_pass(flow, z_p, y_mask, g, sizes.max_flow);
  Extremes output;
  const bool stats = log_enabled(LogLevel::kInfo);
  sink.begin(frames * dec.samples_per_frame());
  const auto first = dec.window_decoder(sizes.first_decode);
  // Later windows are decoded as many at once as the request has threads, one a thread.
  const int lanes = at::get_num_threads();
  std::shared_ptr<const WindowDecoder> rest;
  {
    const ThreadScope one(1);
    rest = dec.window_decoder(sizes.max_decode);
  }
  const bool done = first && rest ? decode_fixed_windows(flow_pass, *first, *rest, lanes,
                                                         conditioned_bias(dec, g), stats, output,
                                                         sink)
                                  : decode_growing_windows(flow_pass, dec, sizes, g, stats,
                                                           output, sink);
  if (!done) return false;
  if (stats)
    log_line(LogLevel::kInfo, "[korva] decoder output stats: min=%.3f max=%.3f hasnan=%d",
             output.min, output.max, output.has_nan ? 1 : 0);
  return true;
}
