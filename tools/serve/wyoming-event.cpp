#include "wyoming-event.h"

#include <stdexcept>

namespace {

using nlohmann::json;

// The version of the protocol this server writes in its headers.
constexpr const char *kVersion = "1.9.0";

// A length field of the header: absent or null is 0.
bool read_length(const json &header, const char *name, size_t limit, size_t *length,
                 std::string *error) {
  const auto found = header.find(name);
  if (found == header.end() || found->is_null()) {
    *length = 0;
    return true;
  }
  if (!found->is_number_unsigned()) {
    *error = std::string("\"") + name + "\" must be a whole number of bytes";
    return false;
  }
  *length = found->get<size_t>();
  if (*length > limit) {
    *error = std::string("\"") + name + "\" is " + std::to_string(*length) +
             " bytes; this server takes at most " + std::to_string(limit);
    return false;
  }
  return true;
}

}  // namespace

WyomingFraming frame_wyoming_event(std::string_view bytes, const WyomingLimits &limits) {
  WyomingFraming framing;
  const auto malformed = [&](const std::string &error) {
    framing.state = WyomingFraming::State::kMalformed;
    framing.error = error;
    return framing;
  };
  const size_t newline = bytes.find('\n');
  if (newline == std::string_view::npos || newline > limits.header) {
    if (bytes.size() > limits.header) {
      return malformed("the header line is over " + std::to_string(limits.header) + " bytes");
    }
    return framing;
  }
  const json header = json::parse(bytes.substr(0, newline), nullptr, false);
  if (header.is_discarded() || !header.is_object()) {
    return malformed("the header line is not a JSON object");
  }
  const auto type = header.find("type");
  if (type == header.end() || !type->is_string() || type->get_ref<const std::string &>().empty()) {
    return malformed("the header has no \"type\"");
  }
  const auto inline_data = header.find("data");
  if (inline_data != header.end() && !inline_data->is_null() && !inline_data->is_object()) {
    return malformed("\"data\" must be a JSON object");
  }
  size_t data = 0, payload = 0;
  if (!read_length(header, "data_length", limits.data, &data, &framing.error) ||
      !read_length(header, "payload_length", limits.payload, &payload, &framing.error)) {
    return malformed(framing.error);
  }
  framing.type = type->get<std::string>();
  framing.length = newline + 1 + data + payload;
  if (bytes.size() >= framing.length) framing.state = WyomingFraming::State::kComplete;
  return framing;
}

WyomingEvent parse_wyoming_event(std::string_view frame) {
  const size_t newline = frame.find('\n');
  const json header = json::parse(frame.substr(0, newline));
  WyomingEvent event;
  event.type = header.at("type").get<std::string>();
  const auto inline_data = header.find("data");
  if (inline_data != header.end() && inline_data->is_object()) event.data = *inline_data;
  size_t data_length = 0;
  const auto length = header.find("data_length");
  if (length != header.end() && length->is_number_unsigned()) data_length = length->get<size_t>();
  if (data_length > 0) {
    const json data = json::parse(frame.substr(newline + 1, data_length), nullptr, false);
    if (data.is_discarded() || !data.is_object()) {
      throw std::runtime_error("the event's data is not a JSON object");
    }
    event.data.update(data);
  }
  event.payload = std::string(frame.substr(newline + 1 + data_length));
  return event;
}

std::string encode_wyoming_event(const WyomingEvent &event) {
  json header{{"type", event.type}, {"version", kVersion}};
  std::string data;
  if (!event.data.empty()) {
    data = event.data.dump(-1, ' ', false, json::error_handler_t::replace);
    header["data_length"] = data.size();
  }
  if (!event.payload.empty()) header["payload_length"] = event.payload.size();
  return header.dump() + "\n" + data + event.payload;
}
