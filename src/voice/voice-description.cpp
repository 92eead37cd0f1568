#include "voice/voice-description.h"

int64_t DecoderSizes::samples_per_frame() const {
  int64_t samples = 1;
  for (const int32_t rate : upsample_rates) samples *= rate;
  return samples;
}

const char *front_end_name(FrontEndKind kind) {
  switch (kind) {
    case FrontEndKind::kEspeak:
      return "espeak";
    case FrontEndKind::kCharacters:
      return "characters";
    case FrontEndKind::kPiper:
      return "piper";
    case FrontEndKind::kKorva:
      break;
  }
  return "korva";
}
