// Socket notification records, checked against the Winsock rules
// the socket component relies on: one record per event, re-enabled by the
// call that consumes it, in order, and never for a closed handle.
#ifndef _WIN32
#include <netdb.h>
#endif

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/net.h"
#include "support/loop_check.h"
#include "support/loopback.h"

namespace telorus::platform::net {
namespace {

using namespace std::chrono_literals;
using test::Listener;
using test::Peer;

struct Seen {
  SocketHandle socket;
  unsigned event;
  unsigned error;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << "{sock " << s.socket << " event " << s.event << " error " << s.error << "}";
}

class ReadinessTest : public test::LoopTest {
 protected:
  void SetUp() override { ASSERT_EQ(Startup(), 0); }
  void TearDown() override {
    notifier.reset();
    test::LoopTest::TearDown();
  }

  SockAddrIn Loopback(std::uint16_t port) {
    SockAddrIn a;
    a.port = HostToNet16(port);
    a.address = InetAddr("127.0.0.1");
    return a;
  }

  // A registered stream socket connecting to `port`.
  SocketHandle ConnectTo(std::uint16_t port) {
    SocketHandle s = Socket(2, 1, 6);
    EXPECT_NE(s, kInvalidSocket);
    EXPECT_EQ(AsyncSelect(s, notifier->Id(), 1025, 59), 0);
    EXPECT_EQ(Connect(s, Loopback(port)), -1);
    EXPECT_EQ(LastError(), kWsaEwouldblock);
    return s;
  }

  // Lets the loop settle: pumps until nothing new arrived for a moment.
  void Settle() {
    std::size_t n;
    do {
      n = seen.size();
      RunUntil([] { return false; }, 30ms);
    } while (seen.size() != n);
  }

  std::vector<Seen> seen;
  std::unique_ptr<Notifier> notifier = std::make_unique<Notifier>([this](const Message& m) {
    seen.push_back({static_cast<SocketHandle>(m.wParam), SelectEvent(m.lParam), SelectError(m.lParam)});
  });
};

TEST_F(ReadinessTest, ConnectGivesOneConnectRecordThenOneWriteRecord) {
  Listener listener;
  SocketHandle s = ConnectTo(listener.Port());
  Peer peer = listener.Accept();
  ASSERT_TRUE(peer.Valid());
  Settle();
  EXPECT_EQ(seen, (std::vector<Seen>{{s, kFdConnect, 0}, {s, kFdWrite, 0}}))
      << "no stream of write records while the socket just stays writable";
  CloseSocket(s);
}

TEST_F(ReadinessTest, RefusedConnectIsReportedThroughTheConnectRecord) {
  SocketHandle s = ConnectTo(test::UnusedPort());
  Settle();
  EXPECT_EQ(seen, (std::vector<Seen>{{s, kFdConnect, 10061}}));
  CloseSocket(s);
}

TEST_F(ReadinessTest, ReadRecordIsReEnabledByReceiveOnlyWhileDataRemains) {
  Listener listener;
  SocketHandle s = ConnectTo(listener.Port());
  Peer peer = listener.Accept();
  Settle();
  seen.clear();
  peer.SendAll("0123456789");
  Settle();
  peer.SendAll("more");  // new data while a read record is outstanding: no second record
  Settle();
  EXPECT_EQ(seen, (std::vector<Seen>{{s, kFdRead, 0}}));

  char buf[64];
  ASSERT_EQ(Recv(s, buf, 4, 0), 4);
  Settle();
  EXPECT_EQ(seen.size(), 2u) << "a receive that leaves data queued brings another read record";
  ASSERT_EQ(Recv(s, buf, sizeof buf, 0), 10);
  Settle();
  EXPECT_EQ(seen.size(), 2u) << "nothing left: no record";
  EXPECT_EQ(Recv(s, buf, sizeof buf, 0), -1);
  EXPECT_EQ(LastError(), kWsaEwouldblock);
  unsigned long pending = 99;
  EXPECT_EQ(BytesPending(s, &pending), 0);
  EXPECT_EQ(pending, 0u);
  CloseSocket(s);
}

TEST_F(ReadinessTest, WriteRecordFollowsOnlyASendThatWouldBlock) {
  Listener listener;
  SocketHandle s = ConnectTo(listener.Port());
  Peer peer = listener.Accept();
  Settle();
  seen.clear();
  std::string block(65536, 'x');
  std::size_t sent = 0;
  for (;;) {
    int n = Send(s, block.data(), static_cast<int>(block.size()), 0);
    if (n < 0) {
      EXPECT_EQ(LastError(), kWsaEwouldblock);
      break;
    }
    sent += static_cast<std::size_t>(n);
  }
  Settle();
  EXPECT_TRUE(seen.empty()) << "the buffer is full: no write record yet";
  std::string got = peer.ReadExactly(sent);
  EXPECT_EQ(got.size(), sent);
  Settle();
  EXPECT_EQ(seen, (std::vector<Seen>{{s, kFdWrite, 0}}));
  CloseSocket(s);
}

TEST_F(ReadinessTest, PeerCloseGivesOneCloseRecordOnceTheQueuedDataIsRead) {
  Listener listener;
  SocketHandle s = ConnectTo(listener.Port());
  Peer peer = listener.Accept();
  Settle();
  seen.clear();
  peer.SendAll("last words");
  peer.Close();
  Settle();
  // Winsock holds an orderly close back while data waits to be read.
  EXPECT_EQ(seen, (std::vector<Seen>{{s, kFdRead, 0}}));
  char buf[64];
  EXPECT_EQ(Recv(s, buf, sizeof buf, 0), 10) << "the data is all there";
  Settle();
  EXPECT_EQ(seen, (std::vector<Seen>{{s, kFdRead, 0}, {s, kFdClose, 0}}));
  EXPECT_EQ(Recv(s, buf, sizeof buf, 0), 0);
  Settle();
  EXPECT_EQ(seen.size(), 2u) << "the close record is never repeated";
  CloseSocket(s);
}

TEST_F(ReadinessTest, PeerResetGivesCloseRecordWith10054) {
  if (test::RunningUnderWine()) GTEST_SKIP() << "Wine 8 reports a reset connection as a close with error 0";
  Listener listener;
  SocketHandle s = ConnectTo(listener.Port());
  Peer peer = listener.Accept();
  Settle();
  seen.clear();
  peer.Reset();
  Settle();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), (Seen{s, kFdClose, 10054}));
  EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [](const Seen& x) { return x.event == kFdClose; }), 1);
  CloseSocket(s);
}

TEST_F(ReadinessTest, AcceptRecordPerPendingConnectionReEnabledByAccept) {
  SocketHandle l = Socket(2, 1, 6);
  ASSERT_EQ(Bind(l, Loopback(0)), 0);
  ASSERT_EQ(Listen(l, 5), 0);
  SockAddrIn bound;
  ASSERT_EQ(GetSockName(l, &bound), 0);
  ASSERT_EQ(AsyncSelect(l, notifier->Id(), 1025, 43), 0);

  SocketHandle c1 = Socket(2, 1, 6), c2 = Socket(2, 1, 6);
  Connect(c1, Loopback(NetToHost16(bound.port)));
  Connect(c2, Loopback(NetToHost16(bound.port)));
  Settle();
  auto of = [&](SocketHandle h) {
    std::vector<Seen> out;
    for (const Seen& x : seen)
      if (x.socket == h) out.push_back(x);
    return out;
  };
  EXPECT_EQ(seen, (std::vector<Seen>{{l, kFdAccept, 0}}));
  SockAddrIn from;
  SocketHandle a1 = Accept(l, &from);
  ASSERT_NE(a1, kInvalidSocket);
  EXPECT_EQ(InetNtoa(from.address), "127.0.0.1");
  Settle();
  EXPECT_EQ(of(l).size(), 2u) << "the second connection is announced after the first accept";
  // An accepted socket has the listening socket's registration, and can
  // send at once.
  EXPECT_EQ(of(a1), (std::vector<Seen>{{a1, kFdWrite, 0}}));
  SocketHandle a2 = Accept(l, &from);
  ASSERT_NE(a2, kInvalidSocket);
  Settle();
  EXPECT_EQ(of(l).size(), 2u);
  EXPECT_EQ(of(a2), (std::vector<Seen>{{a2, kFdWrite, 0}}));
  for (SocketHandle s : {a1, a2, c1, c2, l}) CloseSocket(s);
}

TEST_F(ReadinessTest, ClosingAHandleDropsItsQueuedRecords) {
  Listener listener;
  SocketHandle s = ConnectTo(listener.Port());
  Peer peer = listener.Accept();
  Settle();
  seen.clear();
  // A receiver ahead in the queue closes the socket while the read record
  // for data that arrived after it is queued behind it.
  bool closed = false;
  Notifier closer([&](const Message&) {
    CloseSocket(s);
    closed = true;
  });
  closer.Post(kUserMessage + 1, 0, 0);
  peer.SendAll("data");
  std::this_thread::sleep_for(20ms);
  PumpPending();
  EXPECT_TRUE(closed);
  EXPECT_TRUE(seen.empty()) << "a record for a closed handle must not be delivered: " << testing::PrintToString(seen);
}

TEST_F(ReadinessTest, MaskZeroStopsRecordsAndReRegisteringResumesThem) {
  Listener listener;
  SocketHandle s = ConnectTo(listener.Port());
  Peer peer = listener.Accept();
  Settle();
  seen.clear();
  ASSERT_EQ(AsyncSelect(s, notifier->Id(), 0, 0), 0);
  peer.SendAll("while paused");
  Settle();
  EXPECT_TRUE(seen.empty());
  ASSERT_EQ(AsyncSelect(s, notifier->Id(), 1025, 59), 0);
  Settle();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front().event, static_cast<unsigned>(kFdRead));
  CloseSocket(s);
}

TEST(ErrorTable, MapsErrnoAndResolverCodesToWindowsNumbers) {
#ifdef _WIN32
  GTEST_SKIP() << "Winsock reports Windows Sockets numbers itself: there are no errno or resolver codes to map";
#else
  EXPECT_EQ(ErrorFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(ErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(ErrorFromErrno(ETIMEDOUT), 10060);
  EXPECT_EQ(ErrorFromErrno(EWOULDBLOCK), 10035);
  EXPECT_EQ(ErrorFromErrno(EADDRINUSE), 10048);
  EXPECT_EQ(ErrorFromErrno(ENOTCONN), 10057);
  EXPECT_EQ(ErrorFromErrno(EHOSTUNREACH), 10065);
  EXPECT_EQ(ErrorFromErrno(ENOTSOCK), 10038);
  EXPECT_EQ(ErrorFromErrno(0), 0);
  EXPECT_EQ(ErrorFromResolver(EAI_NONAME), 11001);
  EXPECT_EQ(ErrorFromResolver(EAI_AGAIN), 11002);
  EXPECT_EQ(ErrorFromResolver(EAI_FAIL), 11003);
#endif
}

TEST(ErrorTable, CallsBeforeStartupFailWithNotInitialised) {
  Cleanup();
  EXPECT_EQ(Socket(2, 1, 6), kInvalidSocket);
  EXPECT_EQ(LastError(), kWsaNotinitialised);
  EXPECT_EQ(Startup(), 0);
}

}  // namespace
}  // namespace telorus::platform::net
