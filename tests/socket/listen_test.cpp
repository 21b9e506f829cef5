// The server side used by the tests of other layers: listening, accepting
// and adopting a connection with Dup, and the local bind.
#include <gtest/gtest.h>

#include "socket_fixture.h"
#include "support/raised.h"

namespace telorus::test {
namespace {

using namespace socket;
using Events = std::vector<std::string>;

class ListenTest : public SocketTest {};

TEST_F(ListenTest, ListenAcceptAndDupExchangeData) {
  sock->SetAddr("127.0.0.1");
  sock->SetPort("0");
  sock->Listen();
  EXPECT_EQ(log->events, (Events{"ChangeState(wsClosed,wsBound)", "ChangeState(wsBound,wsListening)"}));
  std::string port = sock->LocalBoundPort();
  ASSERT_NE(port, "error");

  TUSocket client;
  EventLog clientLog(client);
  client.SetAddr("127.0.0.1");
  client.SetPort(port);
  client.Connect();

  TUSocket served;
  EventLog servedLog(served);
  sock->OnSessionAvailable = [&](TObject*, std::uint16_t e) {
    ASSERT_EQ(e, 0);
    served.Dup(sock->Accept());
  };
  ASSERT_TRUE(RunLoopUntil([&] { return served.State() == wsConnected && clientLog.Has("DataSent(0)"); }));
  EXPECT_FALSE(servedLog.Has("SessionConnected(0)")) << "no OnSessionConnected for an adopted handle";
  EXPECT_EQ(served.PeerAddr(), "127.0.0.1");

  client.SendText("to the server");
  ASSERT_TRUE(RunLoopUntil([&] { return servedLog.received == "to the server"; }));
  served.SendText("and back");
  ASSERT_TRUE(RunLoopUntil([&] { return clientLog.received == "and back"; }));
  // The client's close (lingering on with a zero timeout, the default) ends
  // the stream; the served side sees it closed, orderly or reset.
  client.Close();
  ASSERT_TRUE(RunLoopUntil([&] { return served.State() == wsClosed; }));
  EXPECT_EQ(servedLog.Count("SessionClosed(0)") + servedLog.Count("SessionClosed(10054)"), 1u);
  sock->Close();
}

TEST_F(ListenTest, PortInUseReportsBind10048) {
  sock->SetAddr("127.0.0.1");
  sock->SetPort(listener.PortText());
  try {
    sock->Listen();
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Error 10048 in function Bind\r\nAddress already in use");
  }
  EXPECT_EQ(sock->Handle(), INVALID_SOCKET) << "the handle is closed after a failed bind";
  EXPECT_EQ(sock->State(), wsClosed);
}

TEST_F(ListenTest, ConfigurationAndStateErrors) {
  auto message = RaisedMessage;
  EXPECT_EQ(message([&] { sock->Listen(); }), "Error 10022 in function listen: port not assigned\r\nInvalid argument");
  EXPECT_EQ(message([&] { sock->Accept(); }), "Error 10022 in function not a listening socket\r\nInvalid argument");
  EXPECT_EQ(message([&] { sock->Dup(INVALID_SOCKET); }), "Error 10022 in function Dup\r\nInvalid argument");
  EXPECT_EQ(sock->State(), wsClosed);
}

TEST_F(ListenTest, ConnectFromABoundLocalPortShowsTheBoundPort) {
  sock->SetAddr("127.0.0.1");
  sock->SetPort(listener.PortText());
  sock->SetLocalAddr("127.0.0.1");
  sock->Connect();
  std::string local = sock->LocalPort();
  EXPECT_NE(local, "0") << "the port actually bound";
  ASSERT_TRUE(WaitFor("SessionConnected(0)"));
  EXPECT_EQ(sock->LocalBoundPort(), local);
}

}  // namespace
}  // namespace telorus::test
