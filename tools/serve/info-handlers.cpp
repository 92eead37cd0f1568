#include "info-handlers.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

#include "json-error.h"

void answer_voices(ServerContext &context, httplib::Response &response) {
  if (!context.pool.ready()) return send_error(response, 503, "the voices are still loading");
  const VoiceShelf &shelf = context.pool.shelf();
  nlohmann::json voices = nlohmann::json::array();
  for (const VoiceCard &card : shelf.voices()) voices.push_back(voice_card_json(card));
  const nlohmann::json body{{"default", shelf.voices().front().name}, {"voices", voices}};
  response.set_content(body.dump(2) + "\n", "application/json");
}

void answer_health(ServerContext &context, httplib::Response &response) {
  const char *state = context.stopping ? "stopping" : context.pool.ready() ? "ready" : "loading";
  response.status = context.stopping || !context.pool.ready() ? 503 : 200;
  response.set_content(nlohmann::json{{"status", state}}.dump() + "\n", "application/json");
}

void answer_metrics(ServerContext &context, httplib::Response &response) {
  response.set_content(context.metrics.text(context.synthesis_state()),
                       "text/plain; version=0.0.4");
}
