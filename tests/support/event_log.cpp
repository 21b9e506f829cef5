#include "support/event_log.h"

#include <algorithm>

namespace telorus::test {

using namespace socket;

EventLog::EventLog(TCustomUSocket& sock) : sock_(sock) {
  auto code = [](std::uint16_t e) { return "(" + std::to_string(e) + ")"; };
  sock.OnChangeState = [this](TObject*, TSocketState o, TSocketState n) {
    Add(std::string("ChangeState(") + SocketStateName(o) + "," + SocketStateName(n) + ")");
  };
  sock.OnSessionConnected = [this, code](TObject*, std::uint16_t e) { Add("SessionConnected" + code(e)); };
  sock.OnSessionClosed = [this, code](TObject*, std::uint16_t e) { Add("SessionClosed" + code(e)); };
  sock.OnSessionAvailable = [this, code](TObject*, std::uint16_t e) { Add("SessionAvailable" + code(e)); };
  sock.OnDataSent = [this, code](TObject*, std::uint16_t e) { Add("DataSent" + code(e)); };
  sock.OnSendData = [this](TObject*, std::int32_t n) { Add("SendData(" + std::to_string(n) + ")"); };
  sock.OnDnsLookupDone = [this, code](TObject*, std::uint16_t e) { Add("DnsLookupDone" + code(e)); };
  sock.OnDataAvailable = [this, code](TObject*, std::uint16_t e) {
    if (readSize > 0) {
      std::string buf(static_cast<std::size_t>(readSize), '\0');
      int n = sock_.Receive(buf.data(), readSize);
      if (n > 0) received.append(buf.data(), static_cast<std::size_t>(n));
    }
    Add("DataAvailable" + code(e));
  };
}

void EventLog::Add(const std::string& e) {
  events.push_back(e);
  if (auto h = after) h(e);
}

bool EventLog::Has(const std::string& event) const { return Count(event) > 0; }

std::size_t EventLog::Count(const std::string& event) const {
  return static_cast<std::size_t>(std::count(events.begin(), events.end(), event));
}

std::vector<std::string> EventLog::Without(const std::vector<std::string>& prefixes) const {
  std::vector<std::string> out;
  for (const auto& e : events) {
    bool drop = false;
    for (const auto& p : prefixes) drop = drop || e.rfind(p, 0) == 0;
    if (!drop) out.push_back(e);
  }
  return out;
}

}  // namespace telorus::test
