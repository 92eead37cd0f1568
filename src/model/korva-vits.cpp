#include "model/korva-vits.h"

#include <torch/torch.h>

#include <stdexcept>
#include <string>

KorvaVITSImpl::KorvaVITSImpl(const VoiceDescription &voice) {
  // TODO(shapes): build the deterministic predictor; its tensors are described in voice-json.md.
  if (!voice.duration_predictor.stochastic)
    throw std::runtime_error(
        "voice.json: duration_predictor.kind: the deterministic duration predictor is not "
        "supported by this engine yet");
  const TextEncoderSizes &text = voice.text_encoder;
  const FlowSizes &f = voice.flow;
  const int32_t gin = voice.speakers.conditioned() ? voice.speakers.gin_channels : 0;
  enc_p = register_module("enc_p", TextEncoder(text));
  dp = register_module("dp", StochasticDurationPredictor(text.hidden_channels,
                                                         voice.duration_predictor, gin));
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
