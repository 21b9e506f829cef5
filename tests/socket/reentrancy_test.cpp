// Operations called from inside event handlers, and exceptions escaping
// handlers.
#include <gtest/gtest.h>

#include "socket/SocketLibrary.h"
#include "socket_fixture.h"

namespace telorus::test {
namespace {

using namespace socket;
using Events = std::vector<std::string>;

class ReentrancyTest : public SocketTest {};

TEST_F(ReentrancyTest, CloseFromInsideEachHandlerClosesOnce) {
  for (const std::string trigger : {"SessionConnected(0)", "DataSent(0)", "DataAvailable(0)", "SendData(5)"}) {
    SCOPED_TRACE(trigger);
    log->events.clear();
    log->after = [&](const std::string& e) {
      if (e == trigger) sock->Close();
    };
    sock->SetAddr("127.0.0.1");
    sock->SetPort(listener.PortText());
    sock->Connect();
    ASSERT_TRUE(WaitFor("ChangeState(wsConnecting,wsConnected)"));
    peer = listener.Accept();
    if (trigger != "SessionConnected(0)") {
      ASSERT_TRUE(WaitFor("DataSent(0)") || log->Has("SessionClosed(0)"));
      if (sock->State() == wsConnected) {
        if (trigger == "DataAvailable(0)") peer.SendAll("ping");
        if (trigger == "SendData(5)") sock->SendText("hello");
      }
    }
    ASSERT_TRUE(WaitFor("SessionClosed(0)"));
    Settle();
    EXPECT_EQ(log->Count("SessionClosed(0)"), 1u);
    EXPECT_EQ(sock->State(), wsClosed);
    EXPECT_EQ(sock->Handle(), INVALID_SOCKET);
    EXPECT_EQ(peer.ReadToEnd(std::chrono::seconds(2)).size() <= 5, true);
  }
}

TEST_F(ReentrancyTest, SendFromHandlersReachesThePeer) {
  log->after = [&](const std::string& e) {
    if (e == "SessionConnected(0)") sock->SendText("hello ");
    if (e == "DataAvailable(0)" && !log->received.empty()) {
      sock->SendText("echo:" + log->received);
      log->received.clear();
    }
  };
  sock->SetAddr("127.0.0.1");
  sock->SetPort(listener.PortText());
  sock->Connect();
  peer = listener.Accept();
  ASSERT_TRUE(peer.Valid());
  ASSERT_TRUE(RunLoopUntil([&] { return sock->State() == wsConnected; }));
  EXPECT_EQ(peer.ReadExactly(6), "hello ");
  peer.SendAll("abc");
  ASSERT_TRUE(WaitFor("SendData(8)"));
  EXPECT_EQ(peer.ReadExactly(8), "echo:abc");
}

TEST_F(ReentrancyTest, PostFreeFromInsideHandlersFreesLater) {
  for (const std::string trigger : {"SessionConnected(0)", "DataAvailable(0)", "SessionClosed(0)", "DataSent(0)"}) {
    SCOPED_TRACE(trigger);
    int before = SocketInstanceCount();
    auto* owned = new TUSocket;  // handed to the loop by PostFree
    EventLog ownedLog(*owned);
    bool posted = false;
    ownedLog.after = [&](const std::string& e) {
      if (e == trigger && !posted) {
        posted = true;
        owned->PostFree();
        EXPECT_EQ(SocketInstanceCount(), before + 1) << "not freed inside the handler";
      }
    };
    owned->SetAddr("127.0.0.1");
    owned->SetPort(listener.PortText());
    owned->Connect();
    Peer p = listener.Accept();
    ASSERT_TRUE(RunLoopUntil([&] { return ownedLog.Has("DataSent(0)") || posted; }));
    if (!posted) {
      if (trigger == "DataAvailable(0)") p.SendAll("x");
      if (trigger == "SessionClosed(0)") p.Close();
    }
    ASSERT_TRUE(RunLoopUntil([&] { return SocketInstanceCount() == before; }))
        << "the free request was never carried out";
  }
}

TEST_F(ReentrancyTest, ExceptionInHandlerReachesOnBgExceptionAndMayKeepTheSocket) {
  std::string seenMessage;
  sock->OnBgException = [&](TObject*, const std::exception& e, bool& canClose) {
    seenMessage = e.what();
    canClose = false;
  };
  ConnectPeer();
  sock->OnDataSent = [](TObject*, std::uint16_t) { throw Exception("handler failed"); };
  sock->SendText("x");
  ASSERT_TRUE(RunLoopUntil([&] { return !seenMessage.empty(); }));
  EXPECT_EQ(seenMessage, "handler failed");
  EXPECT_EQ(sock->State(), wsConnected) << "CanClose false keeps the connection";

  seenMessage.clear();
  ASSERT_TRUE(sock->NotifierHandle() != 0);
  platform::PostTo(sock->NotifierHandle(), kMsgTestRequest, 0, 0);
  ASSERT_TRUE(RunLoopUntil([&] { return !seenMessage.empty(); }));
  EXPECT_EQ(seenMessage, "Test exception in USocket");
}

TEST_F(ReentrancyTest, ExceptionWithoutOnBgExceptionAbortsTheConnection) {
  ConnectPeer();
  sock->OnDataSent = [](TObject*, std::uint16_t) { throw std::runtime_error("not even an Exception"); };
  sock->SendText("x");
  ASSERT_TRUE(WaitFor("SessionClosed(0)"));
  EXPECT_EQ(sock->State(), wsClosed);
  EXPECT_EQ(peer.ReadToEnd(std::chrono::seconds(2)), "x");
}

TEST_F(ReentrancyTest, ExceptionInDataHandlerEndsTheReceiveLoopSilently) {
  bool bg = false;
  sock->OnBgException = [&](TObject*, const std::exception&, bool&) { bg = true; };
  ConnectPeer();
  int calls = 0;
  sock->OnDataAvailable = [&](TObject*, std::uint16_t) {
    ++calls;
    char b[1];
    sock->Receive(b, 1);
    throw Exception("bad data");
  };
  peer.SendAll("abc");
  ASSERT_TRUE(RunLoopUntil([&] { return calls >= 1; }));
  Settle();
  EXPECT_FALSE(bg) << "receive-loop exceptions do not reach OnBgException";
  EXPECT_EQ(sock->State(), wsConnected);
}

TEST_F(ReentrancyTest, ConnectFailingInsideLookupDoneGoesToBackgroundOrToTheCaller) {
  // Dotted address: OnDnsLookupDone runs inside DnsLookup, so its exception
  // reaches the caller.
  sock->OnDnsLookupDone = [&](TObject*, std::uint16_t) { sock->Connect(); };
  EXPECT_THROW(sock->DnsLookup("127.0.0.1"), ESocketException);

  // A name: the handler runs from the loop, and the exception goes to
  // HandleBackgroundError.
  std::string bgMessage;
  sock->OnBgException = [&](TObject*, const std::exception& e, bool&) { bgMessage = e.what(); };
  EXPECT_NO_THROW(sock->DnsLookup("localhost"));
  ASSERT_TRUE(RunLoopUntil([&] { return !bgMessage.empty(); }));
  EXPECT_EQ(bgMessage, "Connect: No Port Specified");
}

TEST_F(ReentrancyTest, PostCloseClosesFromTheLoop) {
  ConnectPeer();
  sock->PostClose();
  EXPECT_EQ(sock->State(), wsConnected) << "not inside the call";
  ASSERT_TRUE(WaitFor("SessionClosed(0)"));
  EXPECT_EQ(log->events, (Events{"ChangeState(wsConnected,wsClosed)", "SessionClosed(0)"}));
}

TEST_F(ReentrancyTest, AbortDropsUnsentDataAndClosesWithoutHalfClose) {
  ConnectPeer();
  peer.SetReceiveBuffer(4096);
  std::string big(8 * 1024 * 1024, 'a');
  sock->Send(big.data(), static_cast<std::int32_t>(big.size()));
  ASSERT_FALSE(sock->AllSent());
  sock->Abort();
  EXPECT_TRUE(sock->SendChain().empty());
  EXPECT_EQ(log->Without({"SendData"}), (Events{"ChangeState(wsConnected,wsClosed)", "SessionClosed(0)"}));
  EXPECT_LT(peer.ReadToEnd(std::chrono::seconds(5)).size(), big.size());
}

TEST_F(ReentrancyTest, PauseDropsNotificationsUntilResume) {
  ConnectPeer();
  sock->Pause();
  peer.SendAll("while paused");
  Settle();
  EXPECT_TRUE(log->events.empty());
  sock->Resume();
  ASSERT_TRUE(RunLoopUntil([&] { return log->received == "while paused"; }));
}

}  // namespace
}  // namespace telorus::test
