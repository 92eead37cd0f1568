// Figures that need a process of their own: the load, and the peak memory of
// a request that no earlier request has raised. The benchmark re-runs itself
// with --child-load / --child-synth and reads what the child prints.
#pragma once

#include <string>

#include "synthesis-options.h"

// Child: loads the voice, prints the load time, the resident size before the
// load and the peak after it (s, MiB, MiB).
int child_load(const std::string &voice);

// Child: synthesises the "short" or "long" text as the process's first request
// (seed 0), writes the float samples to `out` and prints the audio length and
// the peak resident size during the request (s, MiB).
int child_synth(const std::string &voice, int precision, const std::string &text,
                const std::string &out);

void measure_load(const Options &options);

// Peak RSS for the 10 s and the 60 s text, and the SNR of each precision's
// samples against fp32's for the same text and seed.
void measure_memory(const Options &options);
