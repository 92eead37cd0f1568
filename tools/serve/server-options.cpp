#include "server-options.h"

#include <arpa/inet.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "cli-error.h"
#include "voice-sources.h"

const char *const kServerHelp =
    "usage: korva serve -m [NAME=]VOICE.pt|DIR ... [--host ADDRESS] [--port N]\n"
    "                   [--workers N] [--queue N] [--api-key KEY] [--wyoming-port N] ...\n"
    "       (korva-serve takes the same options)\n"
    "\n"
    "Speaks over HTTP (and Wyoming, when given a port) with the voices given:\n"
    "  GET  /                  a page to try the voices in a browser\n"
    "  POST /v1/audio/speech   {\"input\": TEXT, \"voice\": NAME, \"response_format\": \"wav\" | \"pcm\", ...}\n"
    "  GET  /v1/voices         the voices: names, sample rates, front-ends, speakers\n"
    "  GET  /health            200 when ready, 503 while loading or stopping (no key needed)\n"
    "  GET  /metrics           counters in the Prometheus text format\n"
    "\n"
    "  -m, --model [NAME=]VOICE.pt | DIR\n"
    "                          a voice (named NAME, or after its file), or every *.pt\n"
    "                          in DIR; repeat for several; the first is the default\n"
    "      --host ADDRESS      HTTP address (default 127.0.0.1: this machine only); any\n"
    "                          other needs --api-key or --insecure-no-auth\n"
    "      --port N            HTTP port (default 5002; 0 picks a free one)\n"
    "      --api-key KEY       every request but /health and / must carry\n"
    "                          \"Authorization: Bearer KEY\" (default: $KORVA_API_KEY)\n"
    "      --insecure-no-auth  listen beyond loopback without a key\n"
    "      --workers N         requests spoken at once (default 2)\n"
    "      --threads N         threads of each request (default 0: the machine's cores\n"
    "                          shared among the requests running)\n"
    "      --queue N           requests that may wait for a worker (default 4);\n"
    "                          beyond them the answer is 503 with Retry-After\n"
    "      --max-input BYTES   longest text of a request (default 4096); longer: 413\n"
    "      --max-audio SECONDS most audio one request may ask for, pauses included\n"
    "                          (default 600); more: refused (413) or broken off\n"
    "      --timeout SECONDS   longest wait for a client to take audio, and in the\n"
    "                          queue (default 30)\n"
    "      --request-timeout SECONDS\n"
    "                          a whole request must arrive within it (default 10)\n"
    "      --max-client-connections N\n"
    "                          open connections per client address (default 32)\n"
    "      --wyoming-port N    also speak the Wyoming protocol on this TCP port\n"
    "                          (0 picks a free one; default: no Wyoming)\n"
    "      --wyoming-host ADDRESS\n"
    "                          Wyoming's address (default 127.0.0.1); Wyoming has no key\n"
    "      --espeak-data DIR   espeak-ng data directory (default: espeak-ng's own)\n"
    "  -h, --help              this text\n"
    "      --version           the version\n"
    "  -v, --verbose           also the library's progress lines and statistics\n"
    "\n"
    "SIGTERM or SIGINT stops taking requests, lets the running ones finish, and exits 0.\n"
    "One access-log line per request goes to standard error, with the library's\n"
    "warnings (with -v, everything it logs).\n";

namespace {

// A whole number in [low, high] given to option `name`.
long parse_count(const std::string &name, const std::string &text, long low, long high) {
  const char *begin = text.c_str();
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(begin, &end, 10);
  if (end == begin || *end != '\0' || errno == ERANGE || value < low || value > high) {
    throw UsageError("--" + name + " needs a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", got '" + text + "'");
  }
  return value;
}

double parse_seconds(const std::string &name, const std::string &text, double high) {
  char *end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !std::isfinite(value) || value <= 0 || value > high) {
    throw UsageError("--" + name + " needs a number of seconds above 0, at most " +
                     std::to_string(static_cast<long>(high)) + ", got '" + text + "'");
  }
  return value;
}

}  // namespace

bool is_loopback(const std::string &host) {
  if (host == "localhost") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

const std::vector<OptionSpec> &server_option_specs() {
  static const std::vector<OptionSpec> known{
      {"model", 'm'},
      {"host", 0},
      {"port", 0},
      {"workers", 0},
      {"threads", 0},
      {"queue", 0},
      {"max-input", 0},
      {"max-audio", 0},
      {"timeout", 0},
      {"request-timeout", 0},
      {"max-client-connections", 0},
      {"api-key", 0},
      {"insecure-no-auth", 0, true},
      {"wyoming-port", 0},
      {"wyoming-host", 0},
      {"espeak-data", 0},
  };
  return known;
}

ServerOptions server_options(const ParsedArgs &args, const char *environment_key) {
  if (!args.operands.empty()) throw UsageError("unexpected operand '" + args.operands[0] + "'");
  ServerOptions options;
  options.voices = voice_sources(args.values("model"));
  if (options.voices.empty()) throw UsageError("no voice given: pass -m VOICE.pt");
  if (const auto host = args.value("host")) options.host = *host;
  if (const auto port = args.value("port")) options.port = parse_count("port", *port, 0, 65535);
  if (const auto n = args.value("workers")) options.workers = parse_count("workers", *n, 1, 64);
  if (const auto n = args.value("threads")) options.threads = parse_count("threads", *n, 0, 256);
  if (const auto queue = args.value("queue")) options.queue = parse_count("queue", *queue, 0, 1024);
  if (const auto bytes = args.value("max-input")) {
    options.max_input = parse_count("max-input", *bytes, 1, 1 << 20);
  }
  if (const auto seconds = args.value("max-audio")) {
    // A WAV file's sizes are 32-bit: 12 h of 16-bit samples at 48 kHz still fit.
    options.max_audio = parse_seconds("max-audio", *seconds, 12 * 3600);
  }
  if (const auto seconds = args.value("timeout")) {
    options.timeout = parse_count("timeout", *seconds, 1, 3600);
  }
  if (const auto seconds = args.value("request-timeout")) {
    options.request_timeout = parse_count("request-timeout", *seconds, 1, 3600);
  }
  if (const auto n = args.value("max-client-connections")) {
    options.max_client_connections = parse_count("max-client-connections", *n, 1, 512);
  }
  if (const auto key = args.value("api-key")) {
    options.api_key = *key;
  } else if (environment_key) {
    options.api_key = environment_key;
  }
  if (!is_loopback(options.host) && options.api_key.empty() && !args.value("insecure-no-auth")) {
    throw UsageError("--host " + options.host +
                     " reaches beyond this machine: give --api-key (or KORVA_API_KEY), or "
                     "--insecure-no-auth to serve anyone without a key");
  }
  if (const auto port = args.value("wyoming-port")) {
    options.wyoming_port = parse_count("wyoming-port", *port, 0, 65535);
  }
  if (const auto host = args.value("wyoming-host")) options.wyoming_host = *host;
  if (const auto dir = args.value("espeak-data")) options.espeak_data = *dir;
  return options;
}
