// The events a host sees, in order and with their arguments, for connects,
// closes from either side, and failures.
#include <thread>

#include <gtest/gtest.h>

#include "socket_fixture.h"
#include "support/raised.h"

namespace telorus::test {
namespace {

using namespace socket;
using namespace std::chrono_literals;
using Events = std::vector<std::string>;

class EventOrderTest : public SocketTest {};

TEST_F(EventOrderTest, SuccessfulConnect) {
  sock->SetAddr("127.0.0.1");
  sock->SetPort(listener.PortText());
  sock->Connect();
  EXPECT_EQ(log->events, (Events{"ChangeState(wsClosed,wsOpened)", "ChangeState(wsOpened,wsConnecting)"}))
      << "inside Connect";
  EXPECT_EQ(sock->State(), wsConnecting);
  ASSERT_TRUE(WaitFor("DataSent(0)"));
  Settle();
  EXPECT_EQ(log->events, (Events{"ChangeState(wsClosed,wsOpened)", "ChangeState(wsOpened,wsConnecting)",
                                 "ChangeState(wsConnecting,wsConnected)", "SessionConnected(0)", "DataSent(0)"}));
  EXPECT_EQ(sock->PeerAddr(), "127.0.0.1");
  EXPECT_EQ(sock->PeerPort(), listener.PortText());
  EXPECT_EQ(sock->LocalBoundAddr(), "127.0.0.1");
  EXPECT_NE(sock->LocalBoundPort(), "error");
}

TEST_F(EventOrderTest, RefusedConnectClosesAndResetsTheConfiguration) {
  sock->SetAddr("127.0.0.1");
  sock->SetPort(std::to_string(UnusedPort()));
  sock->SetProto("tcp");
  sock->Connect();
  ASSERT_TRUE(WaitFor("SessionClosed(0)"));
  Settle();
  EXPECT_EQ(log->events, (Events{"ChangeState(wsClosed,wsOpened)", "ChangeState(wsOpened,wsConnecting)",
                                 "ChangeState(wsConnecting,wsConnected)", "SessionConnected(10061)",
                                 "ChangeState(wsConnected,wsClosed)", "SessionClosed(0)"}));
  EXPECT_EQ(sock->State(), wsClosed);
  EXPECT_EQ(sock->Proto(), "tcp");
  EXPECT_EQ(sock->PeerAddr(), "error");
  EXPECT_EQ(sock->PeerPort(), "error");
  // Addr and Port keep their texts but count as unassigned.
  EXPECT_EQ(sock->Addr(), "127.0.0.1");
  try {
    sock->Connect();
    FAIL() << "Connect without setting Port again must refuse";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Connect: No Port Specified");
  }
  sock->SetPort(listener.PortText());
  try {
    sock->Connect();
    FAIL() << "Connect without setting Addr again must refuse";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Connect: No IP Address Specified");
  }
}

TEST_F(EventOrderTest, PeerCloseDeliversAllQueuedDataBeforeSessionClosed) {
  ConnectPeer();
  log->readSize = 256;
  std::string payload(5000, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + i % 26);
  peer.SendAll(payload);
  peer.Close();
  ASSERT_TRUE(WaitFor("SessionClosed(0)"));
  Settle();
  EXPECT_EQ(log->received, payload);
  auto noData = log->Without({"DataAvailable"});
  EXPECT_EQ(noData, (Events{"SessionClosed(0)", "ChangeState(wsConnected,wsClosed)"}));
  EXPECT_EQ(log->events.back(), "ChangeState(wsConnected,wsClosed)");
  EXPECT_GE(log->Count("DataAvailable(0)"), 5000u / 256) << "256 bytes per event";
  EXPECT_EQ(sock->State(), wsClosed);
}

TEST_F(EventOrderTest, PeerCloseWithNoReceiveLoopStillDrainsAtClose) {
  sock->SetComponentOptions(OptionBit(wsoNoReceiveLoop));
  ConnectPeer();
  log->readSize = 100;
  peer.SendAll(std::string(1000, 'q'));
  peer.Close();
  ASSERT_TRUE(WaitFor("SessionClosed(0)"));
  EXPECT_EQ(log->received.size(), 1000u);
}

TEST_F(EventOrderTest, LocalCloseFiresOnceAndRestoresDefaults) {
  sock->SetLingerOnOff(wsLingerNoSet);
  sock->SetLingerTimeout(30);
  sock->SetLocalAddr("127.0.0.1");
  sock->SetFlushTimeout(5);
  ConnectPeer();
  sock->Close();
  EXPECT_EQ(log->events, (Events{"ChangeState(wsConnected,wsClosed)", "SessionClosed(0)"}));
  sock->Close();
  Settle();
  EXPECT_EQ(log->Count("SessionClosed(0)"), 1u) << "a second Close does nothing";
  EXPECT_EQ(sock->LingerOnOff(), wsLingerOn);
  EXPECT_EQ(sock->LingerTimeout(), 0);
  EXPECT_EQ(sock->LocalAddr(), "0.0.0.0");
  EXPECT_EQ(sock->LocalPort(), "0");
  EXPECT_EQ(sock->Proto(), "tcp");
  EXPECT_EQ(sock->FlushTimeout(), 60);
  EXPECT_EQ(peer.ReadToEnd(), "") << "the peer sees an orderly end";
}

TEST_F(EventOrderTest, SendOnAResetConnectionClosesWithTheError) {
  ConnectPeer();
  peer.Reset();
  std::this_thread::sleep_for(50ms);  // let the reset arrive, without pumping
  int n = sock->SendText("after the reset");
  EXPECT_EQ(n, 15) << "the data was accepted into the chain";
  EXPECT_EQ(log->Without({"SendData"}), (Events{"ChangeState(wsConnected,wsClosed)", "SessionClosed(10054)"}));
  EXPECT_EQ(sock->State(), wsClosed);
  Settle();
  EXPECT_EQ(log->Count("SessionClosed(10054)") + log->Count("SessionClosed(0)"), 1u);
}

TEST_F(EventOrderTest, PeerResetWhileIdleIsReportedAsSessionClosed10054) {
  if (RunningUnderWine()) GTEST_SKIP() << "Wine 8 reports a reset connection as a close with error 0";
  ConnectPeer();
  peer.Reset();
  ASSERT_TRUE(WaitFor("SessionClosed(10054)"));
  Settle();
  EXPECT_EQ(log->Without({"DataAvailable"}), (Events{"SessionClosed(10054)", "ChangeState(wsConnected,wsClosed)"}));
}

TEST_F(EventOrderTest, SendWhenNotConnectedReports10057) {
  try {
    sock->SendText("x");
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Error 10057 in function Send\r\nSocket is not connected");
  }
  EXPECT_EQ(sock->LastError(), 10057);

  // With OnError the call returns -1; a socket still connecting loses its
  // handle and is closed with the error.
  int errors = 0;
  sock->OnError = [&](TObject*) { ++errors; };
  sock->SetAddr("127.0.0.1");
  sock->SetPort(listener.PortText());
  sock->Connect();
  ASSERT_EQ(sock->State(), wsConnecting);
  log->events.clear();
  EXPECT_EQ(sock->SendText("too early"), -1);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(log->events, (Events{"SessionClosed(10057)", "ChangeState(wsConnecting,wsClosed)"}));
  EXPECT_EQ(sock->Handle(), INVALID_SOCKET);
  Settle();
  EXPECT_FALSE(log->Has("SessionConnected(0)")) << "records of the dropped handle are ignored";
}

TEST_F(EventOrderTest, SettersRefuseWhileOpenButAcceptTheSameText) {
  ConnectPeer();
  EXPECT_NO_THROW(sock->SetPort(listener.PortText()));
  EXPECT_NO_THROW(sock->SetAddr("127.0.0.1"));
  auto refused = RaisedMessage;
  EXPECT_EQ(refused([&] { sock->SetPort("1"); }), "Cannot change Port if not closed");
  EXPECT_EQ(refused([&] { sock->SetAddr("10.0.0.1"); }), "Cannot change Addr if not closed");
  EXPECT_EQ(refused([&] { sock->SetProto("udp"); }), "Cannot change Proto if not closed");
  EXPECT_EQ(refused([&] { sock->SetLocalPort("1"); }), "Cannot change LocalPort if not closed");
  EXPECT_EQ(refused([&] { sock->SetLocalAddr("1.2.3.4"); }), "Cannot change LocalAddr if not closed");
  EXPECT_EQ(refused([&] { sock->Connect(); }), "Connect: Socket already in use");
  EXPECT_EQ(refused([&] { sock->SetSendFlags(7); }), "Invalid SendFlags");
  EXPECT_EQ(sock->SendFlags(), wsSendNormal);
  sock->SetSendFlags(wsSendUrgent);
  EXPECT_EQ(sock->SendFlags(), wsSendUrgent);
}

TEST_F(EventOrderTest, ConfigurationErrorsGoToOnErrorWhenAssigned) {
  int errors = 0;
  sock->OnError = [&](TObject*) { ++errors; };
  sock->Connect();
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(sock->Handle(), INVALID_SOCKET) << "no handle was created";
  EXPECT_TRUE(log->events.empty());

  sock->SetPort("1");
  sock->SetAddr("   ");
  sock->Connect();
  EXPECT_EQ(errors, 2) << "a blank Addr counts as unassigned";

  sock->SetAddr("127.0.0.1");
  sock->SetProto("");
  sock->Connect();
  EXPECT_EQ(errors, 3);

  sock->OnError = nullptr;
  sock->SetProto("nonsense-proto");
  try {
    sock->Connect();
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("connect: USocketResolveProto: Cannot convert protocol 'nonsense-proto'", 0),
              0u)
        << e.what();
  }
}

TEST_F(EventOrderTest, ChangingStateInsideOnChangeStateIsRefused) {
  sock->SetAddr("127.0.0.1");
  sock->SetPort(listener.PortText());
  sock->OnChangeState = [&](TObject*, TSocketState, TSocketState n) {
    if (n == wsOpened) sock->Close();
  };
  try {
    sock->Connect();
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Error 10022 in function Connect (Invalid operation in OnChangeState)\r\nInvalid argument");
  }
  EXPECT_EQ(sock->State(), wsClosed);
}

}  // namespace
}  // namespace telorus::test
