#include "server-options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "cli-error.h"

const char *const kServerHelp =
    "usage: korva serve -m VOICE.pt [--host ADDRESS] [--port N] [--queue N]\n"
    "                   [--max-input BYTES] [--timeout SECONDS] [--espeak-data DIR]\n"
    "       (korva-serve takes the same options)\n"
    "\n"
    "Speaks over HTTP with the voice in VOICE.pt, one request at a time:\n"
    "  POST /v1/audio/speech   {\"input\": TEXT, \"response_format\": \"wav\" | \"pcm\", ...}\n"
    "  GET  /v1/voices         the loaded voice: sample rate, speakers\n"
    "  GET  /health            200 when ready, 503 while loading or stopping\n"
    "  GET  /metrics           counters in the Prometheus text format\n"
    "\n"
    "  -m, --model VOICE.pt    weights archive of the voice (required)\n"
    "      --host ADDRESS      address to listen on (default 127.0.0.1: this machine only)\n"
    "      --port N            TCP port (default 5002; 0 picks a free one)\n"
    "      --queue N           requests that may wait for the engine (default 4);\n"
    "                          beyond them the answer is 503 with Retry-After\n"
    "      --max-input BYTES   longest input text (default 4096); longer: 413\n"
    "      --timeout SECONDS   socket read and write timeout, and the longest wait in\n"
    "                          the queue (default 30)\n"
    "      --espeak-data DIR   espeak-ng data directory (default: espeak-ng's own)\n"
    "  -h, --help              this text\n"
    "      --version           the version\n"
    "  -v, --verbose           also the library's progress lines and statistics\n"
    "\n"
    "SIGTERM or SIGINT stops taking requests, lets the running one finish, and exits 0.\n"
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

}  // namespace

const std::vector<OptionSpec> &server_option_specs() {
  static const std::vector<OptionSpec> known{
      {"model", 'm'},   {"host", 0},    {"port", 0},        {"queue", 0},
      {"max-input", 0}, {"timeout", 0}, {"espeak-data", 0},
  };
  return known;
}

ServerOptions server_options(const ParsedArgs &args) {
  if (!args.operands.empty()) throw UsageError("unexpected operand '" + args.operands[0] + "'");
  ServerOptions options;
  const auto voice = args.value("model");
  if (!voice) throw UsageError("no voice given: pass -m VOICE.pt");
  options.voice = *voice;
  if (const auto host = args.value("host")) options.host = *host;
  if (const auto port = args.value("port")) options.port = parse_count("port", *port, 0, 65535);
  if (const auto queue = args.value("queue")) options.queue = parse_count("queue", *queue, 0, 1024);
  if (const auto bytes = args.value("max-input")) {
    options.max_input = parse_count("max-input", *bytes, 1, 1 << 20);
  }
  if (const auto seconds = args.value("timeout")) {
    options.timeout = parse_count("timeout", *seconds, 1, 3600);
  }
  if (const auto dir = args.value("espeak-data")) options.espeak_data = *dir;
  return options;
}
