// Figures taken in the benchmark's own process, on the loaded voice and the
// ~10 s paragraph, after one warm-up request per configuration.
#pragma once

#include "synthesis-options.h"

// korva_tts real-time factor per precision and thread count.
void measure_rtf(const Options &options);

// Time from the korva_tts_stream call to its first chunk, per precision.
void measure_first_audio(const Options &options);

// Time per "korva::" scope and the slowest operators of korva_tts_to_file, per
// precision.
void measure_stages(const Options &options);
