#include "socket_fixture.h"

#include <gtest/gtest.h>

namespace telorus::test {

void SocketTest::TearDown() {
  // Handlers set by the test body may capture its locals, which are gone by
  // now: put plain recording handlers back before the destructor reports.
  if (sock) {
    sock->OnError = nullptr;
    sock->OnBgException = nullptr;
    log = std::make_unique<EventLog>(*sock);
  }
  sock.reset();
  log.reset();
  peer.Close();
  LoopTest::TearDown();
}

void SocketTest::ConnectPeer() {
  sock->SetAddr("127.0.0.1");
  sock->SetPort(listener.PortText());
  sock->Connect();
  ASSERT_TRUE(WaitFor("DataSent(0)")) << "connect did not complete";
  peer = listener.Accept();
  ASSERT_TRUE(peer.Valid());
  log->events.clear();
}

bool SocketTest::WaitFor(const std::string& event, std::chrono::milliseconds timeout) {
  return RunLoopUntil([&] { return log->Has(event); }, timeout);
}

void SocketTest::Settle() {
  std::size_t n;
  do {
    n = log->events.size();
    RunLoopUntil([] { return false; }, std::chrono::milliseconds(30));
  } while (log->events.size() != n);
}

}  // namespace telorus::test
