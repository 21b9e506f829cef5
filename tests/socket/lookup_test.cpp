// Name and address lookups of a socket, reported through OnDnsLookupDone.
#include <gtest/gtest.h>

#include "platform/net.h"
#include "socket_fixture.h"
#include "support/resolver_confinement.h"

namespace telorus::test {
namespace {

using namespace socket;
namespace net = platform::net;
using Events = std::vector<std::string>;

class LookupTest : public SocketTest {
 protected:
  void TearDown() override {
    net::SetHostResolverForTesting(nullptr);
    SocketTest::TearDown();
  }
};

TEST_F(LookupTest, DottedAddressCompletesInsideDnsLookup) {
  sock->DnsLookup("192.168.1.10");
  EXPECT_EQ(log->events, (Events{"DnsLookupDone(0)"}));
  EXPECT_EQ(sock->DnsResult(), "192.168.1.10");
  EXPECT_EQ(sock->DnsResultList(), (std::vector<std::string>{"192.168.1.10"}));
}

TEST_F(LookupTest, LocalhostCompletesAsynchronously) {
  sock->DnsLookup("localhost");
  EXPECT_TRUE(log->events.empty());
  EXPECT_EQ(sock->DnsResult(), "");
  ASSERT_TRUE(WaitFor("DnsLookupDone(0)"));
  EXPECT_EQ(sock->DnsResult(), "127.0.0.1");
  EXPECT_EQ(sock->DnsResultList().front(), "127.0.0.1");
}

TEST_F(LookupTest, AllAddressesInResolverOrder) {
  net::SetHostResolverForTesting([](const std::string&, bool, net::HostEntry* out) {
    out->addresses = {net::InetAddr("10.0.0.3"), net::InetAddr("10.0.0.1"), net::InetAddr("10.0.0.2")};
    return 0;
  });
  sock->DnsLookup("three.example");
  ASSERT_TRUE(WaitFor("DnsLookupDone(0)"));
  EXPECT_EQ(sock->DnsResultList(), (std::vector<std::string>{"10.0.0.3", "10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(sock->DnsResult(), "10.0.0.3");
}

TEST_F(LookupTest, SecondLookupCancelsTheFirstAndOnlyItReports) {
  net::SetHostResolverForTesting([](const std::string& name, bool, net::HostEntry* out) {
    out->addresses = {net::InetAddr(name == "first.example" ? "10.0.0.1" : "10.0.0.2")};
    return 0;
  });
  sock->DnsLookup("first.example");
  sock->DnsLookup("second.example");
  ASSERT_TRUE(WaitFor("DnsLookupDone(0)"));
  Settle();
  EXPECT_EQ(log->events, (Events{"DnsLookupDone(0)"}));
  EXPECT_EQ(sock->DnsResult(), "10.0.0.2");
}

TEST_F(LookupTest, CancelReports10004AndNothingElse) {
  sock->CancelDnsLookup();
  EXPECT_TRUE(log->events.empty()) << "nothing pending: nothing happens";
  sock->DnsLookup("localhost");
  sock->CancelDnsLookup();
  EXPECT_EQ(log->events, (Events{"DnsLookupDone(10004)"}));
  Settle();
  EXPECT_EQ(log->events.size(), 1u);
  EXPECT_EQ(sock->DnsResult(), "");
}

TEST_F(LookupTest, UnknownNameReportsTheResolverError) {
  net::SetHostResolverForTesting([](const std::string&, bool, net::HostEntry*) { return net::kWsaHostNotFound; });
  sock->DnsLookup("nobody.example");
  ASSERT_TRUE(WaitFor("DnsLookupDone(11001)"));
  EXPECT_EQ(sock->DnsResult(), "");
  EXPECT_TRUE(sock->DnsResultList().empty());
}

TEST_F(LookupTest, UnknownNameThroughTheSystemResolverStaysOnThisMachine) {
  if (!ResolverIsConfined())
    GTEST_SKIP() << "the system resolver here names a non-loopback server; run under scripts/confined.sh";
  std::uint16_t error = 0;
  sock->OnDnsLookupDone = [&](TObject*, std::uint16_t e) { error = e ? e : 1; };
  sock->DnsLookup("no-such-host.telorus.invalid");
  ASSERT_TRUE(RunLoopUntil([&] { return error != 0; }, std::chrono::seconds(10)));
  EXPECT_NE(error, 1) << "the lookup must fail";
  EXPECT_EQ(sock->DnsResult(), "");
}

TEST_F(LookupTest, EarlyCompletionIsHandledAfterTheStartReturns) {
  net::SetHostResolverForTesting(
      [](const std::string&, bool, net::HostEntry* out) {
        out->addresses = {net::InetAddr("10.9.8.7")};
        return 0;
      },
      /*inline_completion=*/true);
  sock->DnsLookup("early.example");
  EXPECT_EQ(log->events, (Events{"DnsLookupDone(0)"})) << "handled inside DnsLookup, once";
  EXPECT_EQ(sock->DnsResult(), "10.9.8.7");
  Settle();
  EXPECT_EQ(log->events.size(), 1u);
}

TEST_F(LookupTest, ReverseLookupGivesTheOfficialName) {
  net::SetHostResolverForTesting([](const std::string& text, bool byAddress, net::HostEntry* out) {
    if (!byAddress || text != "10.1.2.3") return net::kWsaHostNotFound;
    out->officialName = "ten.example";
    return 0;
  });
  sock->ReverseDnsLookup("10.1.2.3");
  ASSERT_TRUE(WaitFor("DnsLookupDone(0)"));
  EXPECT_EQ(sock->DnsResult(), "ten.example");
  EXPECT_EQ(sock->DnsResultList(), (std::vector<std::string>{"ten.example"}));
}

TEST_F(LookupTest, InvalidNamesAreRefused) {
  try {
    sock->DnsLookup("");
    FAIL();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "DNS lookup: invalid host name.");
  }
  int errors = 0;
  sock->OnError = [&](TObject*) { ++errors; };
  sock->DnsLookup("");
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(log->events, (Events{"DnsLookupDone(10022)"}));
  sock->ReverseDnsLookup(std::string(257, '1'));
  EXPECT_EQ(errors, 2);
  EXPECT_EQ(log->events, (Events{"DnsLookupDone(10022)", "DnsLookupDone(10022)"}));
}

TEST_F(LookupTest, DestroyingTheSocketCancelsSilently) {
  sock->DnsLookup("localhost");
  sock.reset();
  EXPECT_TRUE(log->events.empty());
  RunLoopUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_TRUE(log->events.empty());
}

TEST_F(LookupTest, LookupThenConnectLikeTheViewer) {
  sock->OnDnsLookupDone = [&](TObject*, std::uint16_t e) {
    ASSERT_EQ(e, 0);
    sock->SetAddr(sock->DnsResult());
    sock->SetPort(listener.PortText());
    sock->SetProto("tcp");
    sock->Connect();
  };
  sock->DnsLookup("localhost");
  ASSERT_TRUE(WaitFor("SessionConnected(0)"));
  EXPECT_EQ(sock->PeerAddr(), "127.0.0.1");
}

}  // namespace
}  // namespace telorus::test
