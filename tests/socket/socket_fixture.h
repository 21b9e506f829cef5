// A TUSocket with its event log, connected to a plain loopback peer.
#pragma once

#include <memory>

#include "socket/USocket.h"
#include "support/event_log.h"
#include "support/loop_check.h"
#include "support/loopback.h"

namespace telorus::test {

class SocketTest : public LoopTest {
 protected:
  void TearDown() override;

  // Creates `sock` (and its log) if needed, connects it to `listener` and
  // accepts the peer; asserts that the connection came up.
  void ConnectPeer();
  // Runs the loop until the log holds `event` (or the timeout passes).
  bool WaitFor(const std::string& event, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Pumps until nothing new is logged for a moment.
  void Settle();

  std::unique_ptr<socket::TUSocket> sock = std::make_unique<socket::TUSocket>();
  std::unique_ptr<EventLog> log = std::make_unique<EventLog>(*sock);
  Listener listener;
  Peer peer;
};

}  // namespace telorus::test
