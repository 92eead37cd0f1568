#include "model/korva-vits.h"

#include "model/cpu-features.h"

#include <torch/torch.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>

#include "log/log.h"

KorvaVITSImpl::KorvaVITSImpl(const VoiceDescription &voice) {
  const TextEncoderSizes &text = voice.text_encoder;
  const FlowSizes &f = voice.flow;
  const int32_t gin = voice.speakers.conditioned() ? voice.speakers.gin_channels : 0;
  enc_p = register_module("enc_p", TextEncoder(text));
  const DurationPredictorSizes &d = voice.duration_predictor;
  if (d.stochastic) {
    dp = register_module("dp", StochasticDurationPredictor(text.hidden_channels, d, gin));
  } else {
    dp_deterministic = register_module(
        "dp", DurationPredictor(text.hidden_channels, d.filter_channels, d.kernel_size, gin));
  }
  flow = register_module("flow", Flow(text.inter_channels, text.hidden_channels, f.kernel_size,
                                      f.dilation_rate, f.n_layers, f.n_couplings, gin));
  dec = register_module("dec", Decoder(voice.decoder, text.inter_channels, gin));
  if (gin > 0)
    emb_g = register_module("emb_g", torch::nn::Embedding(voice.speakers.n_speakers, gin));
}

torch::Tensor KorvaVITSImpl::speaker_embedding(int64_t speaker) {
  const int64_t count = emb_g ? emb_g->weight.size(0) : 1;
  if (speaker < 0 || speaker >= count)
    throw std::runtime_error("speaker " + std::to_string(speaker) + " out of range 0 to " +
                             std::to_string(count - 1));
  if (!emb_g) return {};
  return emb_g->forward(torch::full({1}, speaker, torch::kLong)).unsqueeze(-1);
}

torch::Tensor KorvaVITSImpl::log_durations(const TextEncoderOutput &enc, float noise_scale_w,
                                           const torch::Tensor &g, at::Generator generator) {
  if (dp_deterministic) return dp_deterministic->forward(enc.x, enc.x_mask, g);
  return dp->forward(enc.x, enc.x_mask, noise_scale_w, std::move(generator), g);
}

void KorvaVITSImpl::use_bfloat16(bool on) {
  const bool pays = on && bfloat16_pays(cpu_features());
  dec->use_bfloat16(pays);
  // A skipped layer never runs: no bfloat16 copy of its weights.
  for (const auto &layer : *flow->flows) {
    auto &coupling = *layer->as<ResidualCouplingLayerImpl>();
    coupling.enc->use_bfloat16(pays && !coupling.skipped);
  }
}

void KorvaVITSImpl::skip_identity_layers(bool skip) {
  const int layers = flow->skip_identity_layers(skip);
  const int steps = dec->skip_identity_steps(skip);
  log_line(LogLevel::kInfo,
           "[korva] Identity layers skipped: %d coupling layers, %d residual steps", layers, steps);
}
