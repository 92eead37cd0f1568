#include "wyoming-protocol.h"

#include <memory>

#include "wyoming-session.h"

namespace {

std::string error_event(const std::string &text, const std::string &code) {
  return encode_wyoming_event({"error", {{"text", text}, {"code", code}}, ""});
}

bool is_speech(const std::string &type) {
  return type == "synthesize" || type == "synthesize-chunk" || type == "synthesize-stop";
}

}  // namespace

WyomingProtocol::WyomingProtocol(ServerContext &context, Note note)
    // The text of one event is held to the HTTP input limit, JSON escapes included.
    : Protocol(std::move(note)),
      context_(context),
      limits_{65536, 6 * context.options.max_input + 4096, 65536} {}

Protocol::Framing WyomingProtocol::frame(Connection &connection) {
  const WyomingFraming wyoming = frame_wyoming_event(connection.buffer, limits_);
  Framing framing;
  if (wyoming.state == WyomingFraming::State::kMalformed) {
    note_refusal(connection, 400);
    framing.state = Framing::State::kRefused;
    framing.reply = error_event(wyoming.error, "bad-event");
  } else if (wyoming.state == WyomingFraming::State::kComplete) {
    framing.state = Framing::State::kComplete;
    framing.length = wyoming.length;
    framing.speech = is_speech(wyoming.type);
  }
  return framing;
}

bool WyomingProtocol::answer(Connection &connection) {
  if (!connection.session) {
    connection.session = std::make_shared<WyomingSession>(
        context_, connection.fd, std::chrono::seconds(context_.options.timeout));
  }
  auto &session = *static_cast<WyomingSession *>(connection.session.get());
  WyomingEvent event;
  try {
    event = parse_wyoming_event(std::string_view(connection.buffer).substr(0, connection.message_length));
  } catch (const std::exception &error) {
    session.refuse(error.what(), "bad-event");
    return false;
  }
  connection.buffer.erase(0, connection.message_length);
  return session.handle(event);
}

std::string WyomingProtocol::late_reply() const {
  return error_event("the event did not arrive whole within " +
                         std::to_string(context_.options.request_timeout) + " s",
                     "timeout");
}

std::string WyomingProtocol::idle_reply(const Connection &connection) const {
  const auto *session = static_cast<const WyomingSession *>(connection.session.get());
  if (!session || !session->streaming()) return "";
  return error_event("the streaming session got no event within " +
                         std::to_string(context_.options.request_timeout) +
                         " s: it ends, with what was not yet spoken",
                     "timeout");
}

std::string WyomingProtocol::crowded_reply() const {
  return error_event("too many connections from this address", "too-many-connections");
}
