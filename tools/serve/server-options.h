#pragma once
// The command line of the speech server (korva-serve, and korva serve).

#include <cstddef>
#include <string>
#include <vector>

#include "args.h"

struct ServerOptions {
  std::string voice;        // weights archive to load
  std::string espeak_data;  // espeak-ng data directory; empty: espeak-ng's own
  std::string host = "127.0.0.1";
  int port = 5002;
  int queue = 4;            // requests that may wait while one is synthesised
  size_t max_input = 4096;  // bytes of "input" text per request
  int timeout = 30;         // seconds: socket reads and writes, and the longest wait in the queue
};

extern const char *const kServerHelp;

const std::vector<OptionSpec> &server_option_specs();

// The options of a parsed command line; throws UsageError for a bad value or operand.
ServerOptions server_options(const ParsedArgs &args);
