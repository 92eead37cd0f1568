#include "server.h"

#include <httplib.h>

#include <cstdio>
#include <thread>

#include "access-log.h"
#include "cli-error.h"
#include "info-handlers.h"
#include "json-error.h"
#include "speech-handler.h"
#include "stop-signals.h"

namespace {

// HTTP threads beyond the running and waiting requests: they answer health
// checks, metrics and refusals while the engine is busy.
constexpr size_t kSpareThreads = 16;

const char *route_of(const std::string &path) {
  for (const char *route : {"/v1/audio/speech", "/v1/voices", "/health", "/metrics"}) {
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

void configure(httplib::Server &http, ServerContext &context) {
  const ServerOptions &options = context.options;
  const size_t threads = static_cast<size_t>(options.queue) + 1 + kSpareThreads;
  http.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  http.set_read_timeout(options.timeout);
  http.set_write_timeout(options.timeout);
  // JSON may spell one byte of text as a six-byte escape.
  http.set_payload_max_length(6 * options.max_input + 4096);
  http.set_pre_routing_handler([](const httplib::Request &, httplib::Response &) {
    note_request_start();
    return httplib::Server::HandlerResponse::Unhandled;
  });
  http.set_error_handler(httplib::Server::HandlerWithResponse(library_error));
  http.set_logger([&context](const httplib::Request &request, const httplib::Response &response) {
    context.metrics.count_response(route_of(request.path), response.status);
    if (broken_off(response)) context.metrics.count_broken_stream();
    write_access_line(request, response);
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

// Binds the listening socket; returns the port (the chosen one for port 0).
int bind(httplib::Server &http, const ServerOptions &options) {
  const int port = options.port == 0
                       ? http.bind_to_any_port(options.host)
                       : (http.bind_to_port(options.host, options.port) ? options.port : -1);
  if (port <= 0) {
    throw CommandError("cannot listen on " + options.host + ":" + std::to_string(options.port));
  }
  return port;
}

}  // namespace

int run_server(const ServerOptions &options) {
  StopSignals signals;  // before any thread starts
  Metrics metrics;
  InFlight in_flight;
  SynthesisWorker worker({options.voice, options.espeak_data, static_cast<size_t>(options.queue),
                          std::chrono::seconds(options.timeout)});
  ServerContext context{options, worker, metrics, in_flight};
  httplib::Server http;
  configure(http, context);
  const int port = bind(http, options);
  std::fprintf(stderr, "[serve] listening on http://%s:%d\n", options.host.c_str(), port);
  std::thread listener([&http] { http.listen_after_bind(); });

  std::string error;
  if (!worker.wait_loaded(&error)) {
    http.stop();
    listener.join();
    throw CommandError(error);
  }
  std::fprintf(stderr, "[serve] ready: %d speaker(s), queue of %d\n", worker.voice().n_speakers(),
               options.queue);

  const char *signal = signals.wait();
  std::fprintf(stderr, "[serve] %s: stopping once the running request is answered\n", signal);
  context.stopping = true;
  worker.close();
  in_flight.wait_idle();
  http.stop();
  listener.join();
  std::fprintf(stderr, "[serve] stopped\n");
  return 0;
}
