#include "api/voice-facts.h"

VoiceFacts voice_facts(const VoiceDescription &voice) {
  VoiceFacts facts;
  facts.sample_rate = voice.sample_rate;
  facts.n_speakers = voice.speakers.conditioned() ? voice.speakers.n_speakers : 1;
  facts.n_vocab = voice.text_encoder.n_vocab;
  facts.speaker_ids.insert(voice.speakers.names.begin(), voice.speakers.names.end());
  facts.noise_scale = voice.inference.noise_scale;
  facts.noise_scale_w = voice.inference.noise_scale_w;
  facts.length_scale = voice.inference.length_scale;
  if (voice.front_end.sentence_silence) facts.sentence_silence = *voice.front_end.sentence_silence;
  facts.korva_front_end = voice.front_end.kind == FrontEndKind::kKorva;
  return facts;
}
