// Datagram sockets: listening, connecting with an ephemeral local port,
// datagrams both ways, and the broadcast and multicast options.
#include <gtest/gtest.h>

#include "platform/net.h"
#include "socket_fixture.h"

namespace telorus::test {
namespace {

using namespace socket;
namespace net = platform::net;
using Events = std::vector<std::string>;

class UdpTest : public SocketTest {
 protected:
  // A UDP listener on 127.0.0.1 with a kernel-chosen port.
  void ListenUdp(TUSocket& s) {
    s.SetProto("udp");
    s.SetAddr("127.0.0.1");
    s.SetPort("0");
    s.Listen();
  }
  static int BroadcastOption(const TUSocket& s) {
    int value = -1;
    int length = sizeof value;
    net::GetSockOpt(s.Handle(), net::SolSocket(), net::OptBroadcast(), &value, &length);
    return value;
  }
};

TEST_F(UdpTest, ListenReachesConnectedInsideTheCall) {
  ListenUdp(*sock);
  EXPECT_EQ(log->events, (Events{"ChangeState(wsClosed,wsBound)", "ChangeState(wsBound,wsListening)",
                                 "ChangeState(wsListening,wsConnected)", "SessionConnected(0)"}));
  EXPECT_NE(sock->LocalBoundPort(), "error");
  EXPECT_EQ(sock->LocalBoundAddr(), "127.0.0.1");
}

TEST_F(UdpTest, ConnectBindsAnEphemeralPortAndDatagramsFlowBothWays) {
  ListenUdp(*sock);
  std::string serverPort = sock->LocalBoundPort();

  TUSocket client;
  EventLog clientLog(client);
  client.SetProto("udp");
  client.SetAddr("127.0.0.1");
  client.SetPort(serverPort);
  client.Connect();
  EXPECT_EQ(clientLog.events,
            (Events{"ChangeState(wsClosed,wsOpened)", "ChangeState(wsOpened,wsConnected)", "SessionConnected(0)"}))
      << "a datagram socket is connected inside Connect";
  EXPECT_NE(client.LocalPort(), "0") << "LocalPort shows the port that was bound";
  EXPECT_EQ(client.LocalPort(), client.LocalBoundPort());
  EXPECT_EQ(BroadcastOption(client), 0) << "not set for an ordinary destination";

  // Client to server through the send chain; the server reads with ReceiveFrom.
  std::string got;
  SockAddrIn from;
  sock->OnDataAvailable = [&](TObject*, std::uint16_t) {
    char buf[256];
    int n = sock->ReceiveFrom(buf, sizeof buf, &from);
    if (n > 0) got.assign(buf, static_cast<std::size_t>(n));
  };
  EXPECT_EQ(client.SendText("ping"), 4);
  ASSERT_TRUE(RunLoopUntil([&] { return !got.empty(); }));
  EXPECT_EQ(got, "ping");
  EXPECT_EQ(std::to_string(net::NetToHost16(from.port)), client.LocalPort());
  EXPECT_EQ(sock->ReadCount(), 4);

  // Server to client with SendTo, outside the chain.
  std::int32_t sentReported = 0;
  sock->OnSendData = [&](TObject*, std::int32_t n) { sentReported = n; };
  EXPECT_EQ(sock->SendTo(from, "pong!", 5), 5);
  EXPECT_EQ(sentReported, 5);
  ASSERT_TRUE(RunLoopUntil([&] { return clientLog.received == "pong!"; }));
  client.Close();
}

TEST_F(UdpTest, BroadcastOptionOnlyForTheAllOnesAddress) {
  sock->SetProto("udp");
  sock->SetAddr("255.255.255.255");
  sock->SetPort("9");
  sock->Connect();  // no datagram is sent: connecting only binds and sets options
  ASSERT_EQ(sock->State(), wsConnected);
  EXPECT_NE(BroadcastOption(*sock), 0);
}

TEST_F(UdpTest, MulticastJoinOnLoopback) {
  sock->SetMultiCast(true);
  sock->SetMultiCastAddrStr("239.255.42.99");
  int errors = 0;
  sock->OnError = [&](TObject*) { ++errors; };
  ListenUdp(*sock);
  if (errors > 0) {
    GTEST_SKIP() << "the kernel refused to join a multicast group on the loopback interface (error "
                 << sock->LastError() << ", " << SocketErrorText(sock->LastError()) << ")";
  }
  EXPECT_EQ(sock->State(), wsConnected);
  EXPECT_TRUE(log->Has("SessionConnected(0)"));
}

}  // namespace
}  // namespace telorus::test
