#pragma once
// Wyoming on the gate: events framed by their header line, each answered by
// the connection's session.

#include <functional>

#include "protocol.h"
#include "server-context.h"
#include "wyoming-event.h"

class WyomingProtocol : public Protocol {
 public:
  // `note` hears the gate's refusals (client, status).
  WyomingProtocol(ServerContext &context, std::function<void(const Connection &, int)> note);

  Framing frame(Connection &connection) override;
  bool answer(Connection &connection) override;
  std::string late_reply() const override;
  std::string crowded_reply() const override;
  void note_refusal(const Connection &connection, int status) override { note_(connection, status); }

 private:
  ServerContext &context_;
  const WyomingLimits limits_;
  std::function<void(const Connection &, int)> note_;
};
