// Asynchronous lookups: completion on the owning thread, cancellation,
// the inline (early) completion path, and unknown names kept on this machine.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/net.h"
#include "support/loop_check.h"
#include "support/resolver_confinement.h"

namespace telorus::platform::net {
namespace {

using namespace std::chrono_literals;

class ResolverTest : public test::LoopTest {
 protected:
  void SetUp() override { ASSERT_EQ(Startup(), 0); }
  void TearDown() override {
    SetHostResolverForTesting(nullptr);
    notifier.reset();
    test::LoopTest::TearDown();
  }

  struct Done {
    std::uint32_t handle;
    unsigned error;
  };
  std::vector<Done> done;
  std::unique_ptr<Notifier> notifier = std::make_unique<Notifier>([this](const Message& m) {
    done.push_back({static_cast<std::uint32_t>(m.wParam), SelectError(m.lParam)});
  });
};

TEST_F(ResolverTest, LocalhostCompletesLaterOnTheOwningThread) {
  HostEntry result;
  std::uint32_t h = AsyncGetHostByName(notifier->Id(), 1026, "localhost", &result);
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(done.empty()) << "never inside the starting call";
  ASSERT_TRUE(RunUntil([&] { return !done.empty(); }, 5s));
  EXPECT_EQ(done[0].handle, h);
  EXPECT_EQ(done[0].error, 0u);
  ASSERT_FALSE(result.addresses.empty());
  EXPECT_EQ(InetNtoa(result.addresses[0]), "127.0.0.1");
}

TEST_F(ResolverTest, ACancelledLookupDeliversNothingAndLeavesTheResultAlone) {
  HostEntry result;
  result.officialName = "untouched";
  std::uint32_t h = AsyncGetHostByName(notifier->Id(), 1026, "localhost", &result);
  ASSERT_EQ(CancelAsyncRequest(h), 0);
  EXPECT_EQ(CancelAsyncRequest(h), -1) << "a second cancel finds nothing";
  RunUntil([] { return false; }, 200ms);
  EXPECT_TRUE(done.empty());
  EXPECT_EQ(result.officialName, "untouched");
  EXPECT_EQ(PendingLookups(), 0u);
}

TEST_F(ResolverTest, InjectedResolverAnswersBothDirectionsWithItsErrors) {
  SetHostResolverForTesting([](const std::string& text, bool byAddress, HostEntry* out) {
    if (byAddress) {
      out->officialName = "host-of-" + text;
      return 0;
    }
    if (text != "three.example") return kWsaHostNotFound;
    out->addresses = {InetAddr("10.0.0.3"), InetAddr("10.0.0.1"), InetAddr("10.0.0.2")};
    return 0;
  });
  HostEntry a, b, c;
  AsyncGetHostByName(notifier->Id(), 1026, "three.example", &a);
  AsyncGetHostByName(notifier->Id(), 1026, "nobody.example", &b);
  AsyncGetHostByAddr(notifier->Id(), 1027, InetAddr("10.1.2.3"), &c);
  ASSERT_TRUE(RunUntil([&] { return done.size() == 3; }, 5s));
  EXPECT_EQ(done[0].error, 0u);
  ASSERT_EQ(a.addresses.size(), 3u);
  EXPECT_EQ(InetNtoa(a.addresses[0]), "10.0.0.3");
  EXPECT_EQ(done[1].error, static_cast<unsigned>(kWsaHostNotFound));
  EXPECT_EQ(c.officialName, "host-of-10.1.2.3");

  HostEntry sync;
  EXPECT_FALSE(GetHostByName("nobody.example", &sync));
  EXPECT_EQ(LastError(), kWsaHostNotFound);
}

TEST_F(ResolverTest, InlineCompletionIsDeliveredBeforeTheHandleIsReturned) {
  SetHostResolverForTesting(
      [](const std::string&, bool, HostEntry* out) {
        out->addresses = {InetAddr("127.0.0.2")};
        return 0;
      },
      /*inline_completion=*/true);
  HostEntry result;
  std::uint32_t h = AsyncGetHostByName(notifier->Id(), 1026, "anything", &result);
  ASSERT_EQ(done.size(), 1u) << "delivered inside the start call";
  EXPECT_EQ(done[0].handle, h);
  EXPECT_EQ(InetNtoa(result.addresses.at(0)), "127.0.0.2");
}

TEST_F(ResolverTest, UnknownNameFailsWithoutLeavingTheMachine) {
  if (!test::ResolverIsConfined())
    GTEST_SKIP() << "the system resolver here names a non-loopback server; run under scripts/confined.sh";
  HostEntry result;
  AsyncGetHostByName(notifier->Id(), 1026, "no-such-host.telorus.invalid", &result);
  ASSERT_TRUE(RunUntil([&] { return !done.empty(); }, 10s));
  EXPECT_NE(done[0].error, 0u);
  EXPECT_TRUE(result.addresses.empty());
}

}  // namespace
}  // namespace telorus::platform::net
