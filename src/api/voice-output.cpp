#include "api/voice-output.h"

#include "api/timing-sink.h"

Outcome VoiceOutput::speak(const Utterance &utterance, const SourcedText &spoken, float rate) {
  Request request = request_;
  request.length_scale /= rate;
  TimingSink timed(chain_.voice_side(), utterance, spoken,
                   {request_.on_timing, request_.timing_user}, chain_.clock());
  return run_model(model_, voice_, utterance.ids, request, timed);
}

bool VoiceOutput::pause(float seconds) {
  return chain_.silence(chain_.clock().output_samples_of(seconds));
}
