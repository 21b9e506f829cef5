// The synchronous wait: the thread's messages keep flowing while a caller
// waits for a flag that its own handlers set; a quit message ends the wait.
#include <thread>

#include <gtest/gtest.h>

#include "platform/message_loop.h"
#include "socket_fixture.h"

namespace telorus::test {
namespace {

using namespace socket;
using namespace std::chrono_literals;

class SyncTest : public SocketTest {};

TEST_F(SyncTest, RunAndWaitReturnsZeroOnceAHandlerSetsTheFlag) {
  ConnectPeer();
  bool answered = true;  // RunAndWait clears it before starting
  std::string got;
  sock->OnDataAvailable = [&](TObject*, std::uint16_t) {
    char buf[64];
    int n = sock->Receive(buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    if (got == "pong") answered = true;
  };
  std::string request;
  std::thread server([&] {
    request = peer.ReadExactly(4);
    std::this_thread::sleep_for(50ms);
    peer.SendAll("pong");
  });
  std::int32_t result = sock->RunAndWait([&] { sock->SendText("ping"); }, answered);
  server.join();
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(answered);
  EXPECT_EQ(got, "pong") << "the wait ran the data notification";
  EXPECT_EQ(request, "ping") << "the procedure ran";
}

TEST_F(SyncTest, WaitForAConnectionAndForALine) {
  bool connected = false;
  sock->OnSessionConnected = [&](TObject*, std::uint16_t e) {
    EXPECT_EQ(e, 0);
    connected = true;
  };
  sock->SetAddr("127.0.0.1");
  sock->SetPort(listener.PortText());
  EXPECT_EQ(sock->RunAndWait([&] { sock->Connect(); }, connected), 0);
  EXPECT_EQ(sock->State(), wsConnected);
  peer = listener.Accept();
  ASSERT_TRUE(peer.Valid());

  sock->SetLineMode(true);
  std::string line;
  bool gotLine = false;
  sock->OnDataAvailable = [&](TObject*, std::uint16_t) {
    char buf[64];
    int n = sock->Receive(buf, sizeof buf);
    if (n > 0) line.assign(buf, static_cast<std::size_t>(n));
    gotLine = true;
  };
  std::thread server([&] {
    peer.SendAll("250 o");
    std::this_thread::sleep_for(50ms);
    peer.SendAll("k\r\n");
  });
  EXPECT_EQ(sock->WaitForFlag(gotLine), 0);
  server.join();
  EXPECT_EQ(line, "250 ok\r\n") << "the flag was set by the line, not by the first piece";
}

TEST_F(SyncTest, FlagAlreadySetReturnsAtOnceWithoutPumping) {
  bool flag = true;
  bool pumped = false;
  platform::Notifier probe([&](const platform::Message&) { pumped = true; });
  probe.Post(platform::kUserMessage + 1, 0, 0);
  EXPECT_EQ(sock->WaitForFlag(flag), 0);
  EXPECT_FALSE(pumped);
  platform::PumpPending();
  EXPECT_TRUE(pumped);
}

TEST_F(SyncTest, AQuitMessageEndsTheWaitWith12001) {
  bool flag = false;
  EXPECT_FALSE(sock->Terminated());
  std::int32_t result = sock->RunAndWait([] { platform::PostQuit(); }, flag);
  EXPECT_EQ(result, kSyncWaitFailed);
  EXPECT_EQ(result, 12001);
  EXPECT_FALSE(flag);
  EXPECT_TRUE(sock->Terminated());
  // The quit is remembered: later waits end at once too, unless the flag is set.
  EXPECT_EQ(sock->WaitForFlag(flag), 12001);
  flag = true;
  EXPECT_EQ(sock->WaitForFlag(flag), 0);
}

TEST_F(SyncTest, RunAndWaitWithoutAProcedureOnlyWaits) {
  bool flag = true;
  platform::Notifier setter([&](const platform::Message&) { flag = true; });
  setter.Post(platform::kUserMessage + 2, 0, 0);
  EXPECT_EQ(sock->RunAndWait(nullptr, flag), 0) << "the flag is cleared, then set by a queued record";
}

}  // namespace
}  // namespace telorus::test
