#include "synthesis-request.h"

#include <chrono>
#include <cstdlib>

#include "bench-support.h"
#include "synthesis-texts.h"

namespace {

korva_options request_options(const Options &options) {
  korva_options request;
  korva_options_default(&request, sizeof request);
  request.native_rate = options.native_rate ? 1 : 0;
  request.seed = options.seed;
  return request;
}

// Hz of what the request gives.
double output_rate(const Options &options) {
  korva_voice_info info;
  if (!options.native_rate || korva_get_voice_info(&info, sizeof info) != 0) return kSampleRate;
  return info.sample_rate;
}

int synthesize(const Options &options, korva_audio_cb callback, void *user) {
  const korva_options request = request_options(options);
  return options.ids.empty()
             ? korva_synthesize(kParagraph, &request, callback, user)
             : korva_synthesize_ids(options.ids.data(), static_cast<int>(options.ids.size()),
                                    &request, callback, user);
}

int count_samples(const float *, int count, void *user) {
  *static_cast<long long *>(user) += count;
  return 0;
}

struct FirstChunk {
  std::chrono::steady_clock::time_point start;
  double seconds = -1.0;
};

// Stops the synthesis at the first chunk: the rest does not change the figure.
int on_first_chunk(const float *, int, void *user) {
  auto *first = static_cast<FirstChunk *>(user);
  first->seconds = seconds_since(first->start);
  return 1;
}

}  // namespace

bool uses_request_options(const Options &options) {
  return !options.ids.empty() || options.native_rate;
}

double speak_request(const Options &options) {
  if (!uses_request_options(options)) {
    int n = 0;
    float *samples = korva_tts(kParagraph, &n, 1.0f);
    free(samples);
    return samples ? n / kSampleRate : -1.0;
  }
  long long n = 0;
  if (synthesize(options, count_samples, &n) != 0) return -1.0;
  return static_cast<double>(n) / output_rate(options);
}

double seconds_to_first_audio(const Options &options) {
  FirstChunk first{std::chrono::steady_clock::now()};
  const int status = uses_request_options(options)
                         ? synthesize(options, on_first_chunk, &first)
                         : korva_tts_stream(kParagraph, 1.0f, on_first_chunk, &first);
  return status == 0 ? first.seconds : -1.0;
}

std::string request_function(const Options &options, bool streamed) {
  if (!options.ids.empty()) return "korva_synthesize_ids";
  if (options.native_rate) return "korva_synthesize";
  return streamed ? "korva_tts_stream" : "korva_tts";
}

std::string describe_request(const Options &options) {
  std::string what =
      options.ids.empty() ? "~10 s paragraph" : std::to_string(options.ids.size()) + " token ids";
  if (options.native_rate)
    what += " at " + std::to_string(static_cast<int>(output_rate(options))) + " Hz";
  return what;
}
