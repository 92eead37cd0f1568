#pragma once
// Wyoming events on the wire: one line of JSON (type, and the lengths of what
// follows), then `data_length` bytes of JSON data, then `payload_length`
// bytes of payload. Data may also stand inline in the header line as "data";
// both are read and merged, the data bytes winning.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

struct WyomingEvent {
  std::string type;
  nlohmann::json data = nlohmann::json::object();
  std::string payload;
};

struct WyomingFraming {
  enum class State { kIncomplete, kComplete, kMalformed };
  State state = State::kIncomplete;
  size_t length = 0;  // kComplete: bytes of the whole event
  std::string type;   // kComplete
  std::string error;  // kMalformed: why
};

struct WyomingLimits {
  size_t header = 65536;  // bytes of the header line
  size_t data = 65536;
  size_t payload = 65536;
};

// Where the event at the start of `bytes` ends, from its header line alone.
WyomingFraming frame_wyoming_event(std::string_view bytes, const WyomingLimits &limits);

// The event of a whole frame (the `length` bytes frame_wyoming_event found);
// throws std::runtime_error when its data is not a JSON object.
WyomingEvent parse_wyoming_event(std::string_view frame);

// The bytes of `event`, its data as data_length bytes.
std::string encode_wyoming_event(const WyomingEvent &event);
