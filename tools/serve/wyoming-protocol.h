#pragma once
// Wyoming on the gate: events framed by their header line, each answered by
// the connection's session.

#include "protocol.h"
#include "server-context.h"
#include "wyoming-event.h"

class WyomingProtocol : public Protocol {
 public:
  WyomingProtocol(ServerContext &context, Note note);

  Framing frame(Connection &connection) override;
  bool answer(Connection &connection) override;
  std::string late_reply() const override;
  std::string crowded_reply() const override;
  // An error event when a streaming session is left open.
  std::string idle_reply(const Connection &connection) const override;

 private:
  ServerContext &context_;
  const WyomingLimits limits_;
};
