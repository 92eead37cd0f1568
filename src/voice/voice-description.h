#pragma once
// What a voice is: every size its networks are built with, its speakers, rate,
// text front-end and inference defaults. Read from the archive's optional
// "voice.json" record; a default-constructed description is the constructed
// voice, whose sizes were constants before voices could describe themselves.
// A plain struct: it knows no tensors.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct TextEncoderSizes {
  int32_t n_vocab = 49;  // token ids 0 .. n_vocab - 1
  int32_t inter_channels = 192;  // the acoustic latent, prior mean and log-deviation
  int32_t hidden_channels = 192;
  int32_t filter_channels = 768;  // feed-forward width
  int32_t n_heads = 2;
  int32_t n_layers = 6;
  int32_t kernel_size = 3;  // feed-forward convolutions
  int32_t window_size = 4;  // relative positions -w .. +w
};

struct DurationPredictorSizes {
  bool stochastic = true;  // false: the deterministic convolutional predictor
  int32_t filter_channels = 192;
  int32_t kernel_size = 3;
  int32_t n_dds_layers = 3;  // stochastic only
  int32_t n_flows = 4;       // spline flows, stochastic only
  int32_t num_bins = 10;
  float tail_bound = 5.0f;  // the splines' interval [-b, b]
  // The post_* networks and the first spline flow serve training only. The
  // constructed voice's archive carries them and binds them; a described voice's
  // converter leaves them out.
  bool training_parts = true;
};

struct FlowSizes {
  int32_t n_couplings = 4;
  int32_t kernel_size = 11;  // WaveNet convolutions
  int32_t dilation_rate = 1;
  int32_t n_layers = 8;  // WaveNet layers per coupling
};

struct DecoderSizes {
  // Type 1: per dilation a dilated and a plain convolution; type 2: the dilated one only.
  int32_t resblock = 1;
  std::vector<int32_t> resblock_kernel_sizes = {3, 7, 11};
  std::vector<std::vector<int32_t>> resblock_dilation_sizes = {{1, 3, 5}, {1, 3, 5}, {1, 3, 5}};
  std::vector<int32_t> upsample_rates = {8, 8, 4, 2};
  std::vector<int32_t> upsample_kernel_sizes = {16, 16, 8, 4};
  int32_t upsample_initial_channel = 1024;

  // Output samples per latent frame: the product of the upsample rates.
  int64_t samples_per_frame() const;
};

struct Speakers {
  int32_t n_speakers = 0;  // 0 or 1: one speaker, no speaker conditioning
  int32_t gin_channels = 0;  // speaker embedding width
  std::map<std::string, int32_t> names;  // name -> id, where the voice names them

  bool conditioned() const { return n_speakers > 1; }
};

enum class FrontEndKind { kKorva, kEspeak, kCharacters, kPiper };

struct FrontEndTable {
  FrontEndKind kind = FrontEndKind::kKorva;
  std::string language = "en-us";  // espeak-ng voice of the espeak front-end
  // Symbol (one code point; a string for characters) -> token id.
  std::map<std::string, int32_t> symbols;
  std::optional<int32_t> blank;  // between symbols and at both ends
  std::optional<int32_t> start, end;  // first and last ids, where the voice frames with them
  // piper only, from the voice's own config: each phoneme replaced by the
  // phonemes it maps to before the table is applied, seconds of silence between
  // sentences (the request's default when given) and after each listed phoneme.
  std::map<std::string, std::vector<std::string>> phoneme_map;
  std::optional<float> sentence_silence;
  std::map<std::string, float> phoneme_silence;
};

struct InferenceDefaults {
  float noise_scale = 0.66f;
  float noise_scale_w = 0.66f;
  float length_scale = 1.0f;
};

struct VoiceDescription {
  int32_t sample_rate = 48000;  // Hz, of the decoder's output
  TextEncoderSizes text_encoder;
  DurationPredictorSizes duration_predictor;
  FlowSizes flow;
  DecoderSizes decoder;
  Speakers speakers;
  FrontEndTable front_end;
  InferenceDefaults inference;
};

// "korva", "espeak", "characters" or "piper".
const char *front_end_name(FrontEndKind kind);
