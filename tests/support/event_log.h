// Records every event of a socket as text ("SessionConnected(0)",
// "ChangeState(wsOpened,wsConnecting)") so tests compare whole sequences.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "socket/USocket.h"

namespace telorus::test {

class EventLog {
 public:
  // Installs a recording handler on every event of `sock`. `then` hooks
  // run after the record is made, so tests can act from inside a handler.
  explicit EventLog(socket::TCustomUSocket& sock);

  std::vector<std::string> events;
  // Called after each record with the event's text.
  std::function<void(const std::string&)> after;
  // OnDataAvailable reads this many bytes per call into `received`
  // (0: reads nothing; the default drains in 4096-byte reads).
  int readSize = 4096;
  std::string received;

  bool Has(const std::string& event) const;
  std::size_t Count(const std::string& event) const;
  // The recorded events without the data and send-progress noise.
  std::vector<std::string> Without(const std::vector<std::string>& prefixes) const;

 private:
  void Add(const std::string& e);
  socket::TCustomUSocket& sock_;
};

}  // namespace telorus::test
