#pragma once
// The command line of the speech server (korva-serve, and korva serve).

#include <cstddef>
#include <string>
#include <vector>

#include "args.h"
#include "voice-shelf.h"

struct ServerOptions {
  std::vector<VoiceSource> voices;  // the first is the default
  std::string espeak_data;          // espeak-ng data directory; empty: espeak-ng's own
  std::string host = "127.0.0.1";
  int port = 5002;
  int workers = 2;          // requests spoken at once
  int threads = 0;          // threads of each request; 0: the cores shared among those running
  int queue = 4;            // requests that may wait for a worker
  size_t max_input = 4096;  // bytes of text per request
  double max_audio = 600;   // seconds of audio per request
  int timeout = 30;         // seconds: a client taking audio, and the longest wait in the queue
  int request_timeout = 10;         // seconds for a whole request (or Wyoming event) to arrive
  int max_client_connections = 32;  // open connections per client address
  std::string api_key;              // empty: no key asked for
  int wyoming_port = -1;            // -1: no Wyoming listener; 0: a free port
  std::string wyoming_host = "127.0.0.1";
};

extern const char *const kServerHelp;

const std::vector<OptionSpec> &server_option_specs();

// The options of a parsed command line (and KORVA_API_KEY from `environment_key`,
// NULL when unset); throws UsageError for a bad value or operand, and for a
// non-loopback HTTP address without a key unless --insecure-no-auth is given.
ServerOptions server_options(const ParsedArgs &args, const char *environment_key);

// Whether `host` names this machine only: 127.0.0.0/8, ::1 or "localhost".
bool is_loopback(const std::string &host);
