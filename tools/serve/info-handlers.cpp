#include "info-handlers.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

#include "json-error.h"

void answer_voices(ServerContext &context, httplib::Response &response) {
  if (!context.worker.ready()) return send_error(response, 503, "the voice is still loading");
  response.set_content(voice_card_json(context.worker.voice()).dump(2) + "\n", "application/json");
}

void answer_health(ServerContext &context, httplib::Response &response) {
  const char *state = context.stopping ? "stopping" : context.worker.ready() ? "ready" : "loading";
  response.status = context.stopping || !context.worker.ready() ? 503 : 200;
  response.set_content(nlohmann::json{{"status", state}}.dump() + "\n", "application/json");
}

void answer_metrics(ServerContext &context, httplib::Response &response) {
  response.set_content(context.metrics.text(context.worker.depth(), context.worker.busy()),
                       "text/plain; version=0.0.4");
}
