#pragma once
// What the gate asks of a protocol spoken on one of its listeners: whether the
// bytes received hold one whole message, and to answer it. The gate waits for
// whole messages without a thread per connection; a protocol only ever gets a
// message that has arrived whole.

#include <functional>
#include <string>

#include "connection.h"

class Protocol {
 public:
  // Hears the gate's refusals: the client and the status it was refused with.
  using Note = std::function<void(const Connection &, int)>;

  explicit Protocol(Note note) : note_(std::move(note)) {}
  virtual ~Protocol() = default;

  struct Framing {
    enum class State { kIncomplete, kComplete, kRefused };
    State state = State::kIncomplete;
    size_t length = 0;     // kComplete: bytes of the message at the buffer's start
    bool speech = false;   // kComplete: answering it may take long (a synthesis)
    std::string reply;     // kRefused: sent before the connection is closed;
                           // kIncomplete: sent at once (an interim answer), may be empty
  };
  // Looks at `connection.buffer`; refuses what is malformed or too large.
  virtual Framing frame(Connection &connection) = 0;

  // Answers the message of `connection.message_length` bytes at the buffer's
  // start and removes it from the buffer; returns whether the connection stays open.
  // Runs on one of the gate's threads, one message of a connection at a time.
  virtual bool answer(Connection &connection) = 0;

  // Sent before closing a connection whose message did not arrive whole in
  // time (empty: closed without a word), or whose address holds too many.
  virtual std::string late_reply() const = 0;
  virtual std::string crowded_reply() const = 0;
  // Sent before closing a connection that sent nothing in time after its last
  // answer: an idle one, closed without a word unless it was mid-conversation.
  virtual std::string idle_reply(const Connection &) const { return ""; }
  // A refusal of the gate's or the protocol's own, for the counters and the log.
  void note_refusal(const Connection &connection, int status) const { note_(connection, status); }

 private:
  Note note_;
};
