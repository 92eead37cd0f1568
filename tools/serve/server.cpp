#include "server.h"

#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "access-log.h"
#include "api-key.h"
#include "cli-error.h"
#include "connection-gate.h"
#include "http-protocol.h"
#include "info-handlers.h"
#include "json-error.h"
#include "page.h"
#include "speech-handler.h"
#include "stop-signals.h"
#include "wyoming-protocol.h"

namespace {

// Threads for what never waits on a synthesis: health, lists, the page.
constexpr size_t kQuickThreads = 4;
// Speech threads beyond the requests a synthesis may hold (running and
// queued): they answer the refusals when every synthesis is taken.
constexpr size_t kSpareSpeechThreads = 4;

const char *route_of(const std::string &path) {
  for (const char *route : {"/", "/v1/audio/speech", "/v1/voices", "/health", "/metrics"}) {
    if (path == route) return route;
  }
  return "other";
}

// Errors the HTTP library answers itself (unknown path, body too large, bad
// request line) get the same JSON body as the server's own.
httplib::Server::HandlerResponse library_error(const httplib::Request &,
                                               httplib::Response &response) {
  if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
  const int status = response.status;
  send_error(response, status,
             status == 404   ? "no such endpoint"
             : status == 413 ? "the request body is too large"
                             : "the request could not be read");
  return httplib::Server::HandlerResponse::Handled;
}

// Every path but /health (probes carry no key) and the page (a browser's
// navigation cannot carry one; the page asks for it) needs the key.
httplib::Server::HandlerResponse check_key(const ApiKey &key, const httplib::Request &request,
                                           httplib::Response &response) {
  note_request_start();
  if (!key.required() || request.path == "/health" || request.path == "/") {
    return httplib::Server::HandlerResponse::Unhandled;
  }
  if (key.admits(request.get_header_value("Authorization"))) {
    return httplib::Server::HandlerResponse::Unhandled;
  }
  response.set_header("WWW-Authenticate", "Bearer");
  send_error(response, 401, "this server needs \"Authorization: Bearer KEY\" with its API key");
  return httplib::Server::HandlerResponse::Handled;
}

void route(HttpRoutes &http, ServerContext &context, const ApiKey &key) {
  http.set_pre_routing_handler([&key](const httplib::Request &request, httplib::Response &response) {
    return check_key(key, request, response);
  });
  http.set_error_handler(httplib::Server::HandlerWithResponse(library_error));
  http.set_logger([&context](const httplib::Request &request, const httplib::Response &response) {
    context.metrics.count_response(route_of(request.path), response.status);
    if (broken_off(response)) context.metrics.count_broken_stream();
    write_access_line(request, response);
  });
  http.Get("/", [](const httplib::Request &, httplib::Response &response) {
    response.set_content(kPageHtml, "text/html; charset=utf-8");
  });
  http.Post("/v1/audio/speech",
            [&context](const httplib::Request &request, httplib::Response &response) {
              answer_speech(context, request, response);
            });
  http.Get("/v1/voices", [&context](const httplib::Request &, httplib::Response &response) {
    answer_voices(context, response);
  });
  http.Get("/health", [&context](const httplib::Request &, httplib::Response &response) {
    answer_health(context, response);
  });
  http.Get("/metrics", [&context](const httplib::Request &, httplib::Response &response) {
    answer_metrics(context, response);
  });
}

// The gate's refusals, in the access log and the counters as requests.
void note_refusal(Metrics &metrics, const Connection &connection, int status) {
  metrics.count_response("other", status);
  std::fprintf(stderr, "%s:%d (refused before reading) %d\n", connection.peer_address.c_str(),
               connection.peer_port, status);
}

}  // namespace

int run_server(const ServerOptions &options) {
  StopSignals signals;  // before any thread starts
  Metrics metrics;
  InFlight in_flight;
  const std::vector<VoiceSource> voices = options.voices;
  const VoiceLoading loading{options.espeak_data, options.threads};
  SynthesisPool pool({[voices, loading] { return load_voice_shelf(voices, loading); },
                      static_cast<size_t>(options.workers), static_cast<size_t>(options.queue)});
  ServerContext context{options, pool, metrics, in_flight};
  const ApiKey key(options.api_key);
  HttpRoutes routes;
  route(routes, context, key);
  const auto note = [&metrics](const Connection &connection, int status) {
    note_refusal(metrics, connection, status);
  };
  // JSON may spell one byte of text as a six-byte escape.
  HttpProtocol http(routes,
                    {6 * options.max_input + 4096, std::chrono::seconds(options.timeout),
                     std::chrono::seconds(options.request_timeout), 100},
                    context.stopping, note);
  WyomingProtocol wyoming(context, note);

  ConnectionGate gate({std::chrono::seconds(options.request_timeout),
                       static_cast<size_t>(options.max_client_connections), kQuickThreads,
                       static_cast<size_t>(options.workers + options.queue) + kSpareSpeechThreads});
  int port = 0, wyoming_port = 0;
  try {
    port = gate.listen(options.host, options.port, http);
    if (options.wyoming_port >= 0) {
      wyoming_port = gate.listen(options.wyoming_host, options.wyoming_port, wyoming);
    }
  } catch (const std::runtime_error &error) {
    throw CommandError(error.what());
  }
  gate.start();
  std::fprintf(stderr, "[serve] listening on http://%s:%d\n", options.host.c_str(), port);
  if (options.wyoming_port >= 0) {
    std::fprintf(stderr, "[serve] Wyoming on tcp://%s:%d\n", options.wyoming_host.c_str(),
                 wyoming_port);
    if (!is_loopback(options.wyoming_host)) {
      std::fprintf(stderr, "[serve] WARNING: Wyoming has no key: anyone who reaches %s:%d may "
                           "ask for speech\n", options.wyoming_host.c_str(), wyoming_port);
    }
  }

  std::string error;
  if (!pool.wait_loaded(&error)) {
    gate.stop();
    throw CommandError(error);
  }
  std::fprintf(stderr, "[serve] ready: %zu voice(s), %d worker(s), queue of %d\n",
               pool.shelf().voices().size(), options.workers, options.queue);

  const char *signal = signals.wait();
  std::fprintf(stderr, "[serve] %s: stopping once the running requests are answered\n", signal);
  context.stopping = true;
  pool.close();
  in_flight.wait_idle();
  gate.stop();
  std::fprintf(stderr, "[serve] stopped\n");
  return 0;
}
