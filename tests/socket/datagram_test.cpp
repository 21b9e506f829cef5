// The server side beyond the basics: several connections accepted and
// adopted, Dup onto a socket in use, the bind failure's report, Listen's
// refusals, and datagram specifics (shared ports, boundaries that follow the
// send chain's blocks, the multicast sending options).
#include <gtest/gtest.h>

#include "platform/net.h"
#include "socket_fixture.h"
#include "support/raised.h"

namespace telorus::test {
namespace {

using namespace socket;
namespace net = platform::net;
using Events = std::vector<std::string>;

class DatagramTest : public SocketTest {
 protected:
  void ListenOn(TUSocket& s, const std::string& proto, const std::string& port) {
    s.SetProto(proto);
    s.SetAddr("127.0.0.1");
    s.SetPort(port);
    s.Listen();
  }
  static std::string Message(const std::function<void()>& f) { return RaisedMessage(f); }
};

TEST_F(DatagramTest, EachAcceptedConnectionIsAdoptedByAFreshSocket) {
  ListenOn(*sock, "tcp", "0");
  ASSERT_EQ(sock->State(), wsListening);
  const std::string port = sock->LocalBoundPort();

  std::vector<std::unique_ptr<TUSocket>> served;
  std::vector<std::unique_ptr<EventLog>> servedLogs;
  sock->OnSessionAvailable = [&](TObject*, std::uint16_t error) {
    EXPECT_EQ(error, 0);
    served.push_back(std::make_unique<TUSocket>());
    servedLogs.push_back(std::make_unique<EventLog>(*served.back()));
    served.back()->Dup(sock->Accept());
  };
  TUSocket a, b;
  EventLog aLog(a), bLog(b);
  for (TUSocket* c : {&a, &b}) {
    c->SetAddr("127.0.0.1");
    c->SetPort(port);
    c->Connect();
  }
  ASSERT_TRUE(RunLoopUntil([&] { return served.size() == 2 && aLog.Has("DataSent(0)") && bLog.Has("DataSent(0)"); }));
  EXPECT_EQ(sock->State(), wsListening) << "the listener goes on listening";
  for (auto& l : servedLogs)
    EXPECT_EQ(l->Without({"DataSent"}), (Events{"ChangeState(wsClosed,wsConnected)"})) << "no OnSessionConnected";

  // Each adopted socket talks to its own client.
  a.SendText("from a");
  b.SendText("from b");
  ASSERT_TRUE(RunLoopUntil([&] { return servedLogs[0]->received.size() == 6 && servedLogs[1]->received.size() == 6; }));
  EXPECT_NE(servedLogs[0]->received, servedLogs[1]->received);
  EXPECT_EQ(served[0]->PeerPort(), servedLogs[0]->received == "from a" ? a.LocalBoundPort() : b.LocalBoundPort());
  served[0]->SendText("reply");
  TUSocket& first = servedLogs[0]->received == "from a" ? a : b;
  EventLog& firstLog = &first == &a ? aLog : bLog;
  ASSERT_TRUE(RunLoopUntil([&] { return firstLog.received == "reply"; }));
  a.Close();
  b.Close();
  ASSERT_TRUE(RunLoopUntil([&] { return served[0]->State() == wsClosed && served[1]->State() == wsClosed; }));
  sock->Close();
}

TEST_F(DatagramTest, DupOntoASocketInUseDropsTheOldConnectionSilently) {
  ConnectPeer();
  // A second connection, accepted through a listening socket.
  TUSocket listening;
  ListenOn(listening, "tcp", "0");
  TUSocket incoming;
  incoming.SetAddr("127.0.0.1");
  incoming.SetPort(listening.LocalBoundPort());
  incoming.Connect();
  SocketHandle accepted = INVALID_SOCKET;
  listening.OnSessionAvailable = [&](TObject*, std::uint16_t) { accepted = listening.Accept(); };
  ASSERT_TRUE(RunLoopUntil([&] { return accepted != INVALID_SOCKET; }));

  log->events.clear();
  sock->Dup(accepted);
  EXPECT_EQ(log->events, (Events{"ChangeState(wsConnected,wsClosed)", "ChangeState(wsClosed,wsConnected)"}))
      << "no OnSessionClosed for the connection that was dropped";
  EXPECT_EQ(peer.ReadToEnd(std::chrono::seconds(2)), "") << "the old peer sees its connection end";
  ASSERT_TRUE(RunLoopUntil([&] { return incoming.State() == wsConnected; }));
  incoming.SendText("new");
  ASSERT_TRUE(RunLoopUntil([&] { return log->received == "new"; }));
  incoming.Close();
  listening.Close();
  sock->Close();
}

TEST_F(DatagramTest, BindFailureIsReportedWhileTheHandleStillExists) {
  TUSocket first;
  ListenOn(first, "tcp", "0");
  const std::string port = first.LocalBoundPort();
  bool handleDuringReport = false;
  sock->OnError = [&](TObject*) { handleDuringReport = sock->Handle() != INVALID_SOCKET; };
  ListenOn(*sock, "tcp", port);
  EXPECT_TRUE(handleDuringReport) << "the handle is closed after the report";
  EXPECT_EQ(sock->LastError(), 10048);
  EXPECT_EQ(sock->Handle(), INVALID_SOCKET);
  EXPECT_EQ(sock->State(), wsClosed);
  EXPECT_TRUE(log->events.empty()) << "no state change before a successful bind";
  first.Close();
}

TEST_F(DatagramTest, ListenRefusesAnIncompleteConfiguration) {
  sock->SetPort("0");
  sock->SetProto("");
  EXPECT_EQ(Message([&] { sock->Listen(); }),
            "Error 10022 in function listen: protocol not assigned\r\nInvalid argument");
  sock->SetProto("tcp");
  EXPECT_EQ(Message([&] { sock->Listen(); }),
            "Error 10022 in function listen: address not assigned\r\nInvalid argument");
  sock->SetAddr("127.0.0.1");
  sock->SetPort("no-such-service-here");
  std::string m = Message([&] { sock->Listen(); });
  EXPECT_EQ(m.rfind("listen: USocketResolvePort: Cannot convert port 'no-such-service-here'", 0), 0u) << m;
  EXPECT_EQ(sock->Handle(), INVALID_SOCKET);
}

TEST_F(DatagramTest, UdpPortInUseAndSharedWithReuseAddr) {
  TUSocket first;
  first.SetReuseAddr(true);
  ListenOn(first, "udp", "0");
  const std::string port = first.LocalBoundPort();
  EXPECT_EQ(Message([&] { ListenOn(*sock, "udp", port); }), "Error 10048 in function Bind\r\nAddress already in use")
      << "without ReuseAddr";
  sock->SetReuseAddr(true);
  ListenOn(*sock, "udp", port);
  EXPECT_EQ(sock->State(), wsConnected) << "both ask for the port to be shared";
  first.Close();
}

TEST_F(DatagramTest, DatagramBoundariesFollowTheSendChainBlocks) {
  ListenOn(*sock, "udp", "0");
  std::vector<std::string> datagrams;
  sock->OnDataAvailable = [&](TObject*, std::uint16_t) {
    char buf[256];
    SockAddrIn from;
    int n = sock->ReceiveFrom(buf, sizeof buf, &from);
    if (n > 0) datagrams.emplace_back(buf, static_cast<std::size_t>(n));
  };
  TUSocket client;
  client.SendBlockSize = 4;
  client.SetProto("udp");
  client.SetAddr("127.0.0.1");
  client.SetPort(sock->LocalBoundPort());
  client.Connect();
  EXPECT_EQ(client.SendText("abcdefghij"), 10);
  ASSERT_TRUE(RunLoopUntil([&] { return datagrams.size() == 3; }));
  EXPECT_EQ(datagrams, (std::vector<std::string>{"abcd", "efgh", "ij"}));
  EXPECT_EQ(sock->ReadCount(), 10);
  client.Close();
  sock->Close();
}

TEST_F(DatagramTest, MulticastSendingOptions) {
  sock->SetMultiCast(true);
  sock->SetMultiCastIpTTL(5);
  sock->SetLocalAddr("127.0.0.1");
  sock->SetProto("udp");
  sock->SetAddr("239.255.42.98");
  sock->SetPort("9");
  int errors = 0;
  sock->OnError = [&](TObject*) { ++errors; };
  sock->Connect();
  if (errors > 0)
    GTEST_SKIP() << "the kernel refused a multicast option on the loopback interface (error " << sock->LastError()
                 << ", " << SocketErrorText(sock->LastError()) << ")";
  ASSERT_EQ(sock->State(), wsConnected);
  int ttl = 0;
  int length = sizeof ttl;
  ASSERT_EQ(net::GetSockOpt(sock->Handle(), net::IpprotoIp(), net::OptMulticastTtl(), &ttl, &length), 0);
  EXPECT_EQ(ttl, 5);
  std::uint32_t iface = 0;
  length = sizeof iface;
  ASSERT_EQ(net::GetSockOpt(sock->Handle(), net::IpprotoIp(), net::OptMulticastIf(), &iface, &length), 0);
  EXPECT_EQ(net::InetNtoa(iface), "127.0.0.1");
  EXPECT_EQ(sock->LocalBoundAddr(), "127.0.0.1");
}

TEST_F(DatagramTest, DefaultMulticastTtlIsLeftToThePlatform) {
  sock->SetMultiCast(true);
  sock->SetProto("udp");
  sock->SetAddr("239.255.42.97");
  sock->SetPort("9");
  sock->Connect();
  int ttl = 0;
  int length = sizeof ttl;
  ASSERT_EQ(net::GetSockOpt(sock->Handle(), net::IpprotoIp(), net::OptMulticastTtl(), &ttl, &length), 0);
  EXPECT_EQ(ttl, 1) << "the platform's default";
  int broadcast = -1;
  length = sizeof broadcast;
  net::GetSockOpt(sock->Handle(), net::SolSocket(), net::OptBroadcast(), &broadcast, &length);
  EXPECT_EQ(broadcast, 0);
}

}  // namespace
}  // namespace telorus::test
