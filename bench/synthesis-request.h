// The request the in-process figures time: the ~10 s paragraph through
// korva_tts / korva_tts_stream at 48 kHz, or, given token ids or the voice's
// own rate, one request of korva_synthesize_ids / korva_synthesize with those
// options (for voices of another front-end and rate, and for comparing with
// other implementations on the same ids and seed).
#pragma once

#include <string>

#include "synthesis-options.h"

// Whether the request goes through korva_options (ids or the native rate given).
bool uses_request_options(const Options &options);

// Seconds of audio of one request, or -1 when it failed.
double speak_request(const Options &options);

// Seconds from the start of a streamed request to its first chunk, or -1.
double seconds_to_first_audio(const Options &options);

// The function a request goes through: korva_tts (korva_tts_stream when
// streamed), korva_synthesize or korva_synthesize_ids.
std::string request_function(const Options &options, bool streamed);

// What is spoken, for the section titles: "~10 s paragraph" or "123 token ids",
// with the rate when it is the voice's own.
std::string describe_request(const Options &options);
