// Connections through SOCKS 4, 4A and 5 proxies: the bytes of every request
// on the wire, every reply the client must understand (played by a scripted
// proxy, whole and split), the events in order with their codes, the reset
// of the proxy settings after a close, and real proxies (dante, microsocks).
#include <atomic>

#include <gtest/gtest.h>

#include "platform/net.h"
#include "socket_fixture.h"
#include "support/raised.h"
#include "support/resolver_confinement.h"
#include "support/scripted_server.h"
#include "support/socks_proxies.h"

namespace telorus::test {
namespace {

using namespace socket;
using namespace std::chrono_literals;
using Events = std::vector<std::string>;
namespace net = platform::net;

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

std::string Be16(std::uint16_t v) { return Bytes({v >> 8, v & 0xFF}); }

// A level-5 CONNECT request for a destination given as a name.
std::string Socks5Request(const std::string& name, std::uint16_t port) {
  return Bytes({5, 1, 0, 3, static_cast<int>(name.size())}) + name + Be16(port);
}

// A level-5 reply with an IPv4 bound address.
std::string Socks5Reply(int code) { return Bytes({5, code, 0, 1, 127, 0, 0, 1, 0x1F, 0x90}); }

// A level-4 reply.
std::string Socks4Reply(int code) { return Bytes({0, code, 0x1F, 0x90, 127, 0, 0, 1}); }

// Records the SOCKS events in the same log as the socket's own.
void LogSocksEvents(TUSocket& s, EventLog& log) {
  s.OnSocksConnected = [&log](TObject*, std::uint16_t e) {
    log.events.push_back("SocksConnected(" + std::to_string(e) + ")");
  };
  s.OnSocksError = [&log](TObject*, std::int32_t e, const std::string& msg) {
    log.events.push_back("SocksError(" + std::to_string(e) + "," + msg + ")");
  };
  s.OnSocksAuthState = [&log](TObject*, TSocksAuthState st) {
    log.events.push_back(std::string("SocksAuthState(") + SocksAuthStateName(st) + ")");
  };
}

const std::vector<std::string> kNoise = {"DataAvailable", "DataSent", "SendData"};

class SocksTest : public SocketTest {
 protected:
  void SetUp() override { LogSocksEvents(*sock, *log); }
  void TearDown() override {
    sock->OnSocksConnected = nullptr;
    sock->OnSocksError = nullptr;
    sock->OnSocksAuthState = nullptr;
    net::SetHostResolverForTesting({});
    SocketTest::TearDown();
  }

  // Destination addr:port through the proxy on proxyPort at `level`.
  void Through(std::uint16_t proxyPort, const std::string& level, const std::string& addr, const std::string& port) {
    sock->SetAddr(addr);
    sock->SetPort(port);
    sock->SetSocksServer("127.0.0.1");
    sock->SetSocksPort(std::to_string(proxyPort));
    sock->SetSocksLevel(level);
  }

  void ExpectProxySettingsReset() {
    EXPECT_EQ(sock->SocksServer(), "");
    EXPECT_EQ(sock->SocksPort(), "");
    EXPECT_EQ(sock->SocksLevel(), "5");
  }

  // What the host sees before any negotiation: the TCP connection to the
  // proxy coming up.
  static Events Opening() {
    return {"ChangeState(wsClosed,wsOpened)", "ChangeState(wsOpened,wsConnecting)",
            "ChangeState(wsConnecting,wsConnected)", "SocksConnected(0)"};
  }
  static Events Plus(Events a, const Events& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
};

// ---- Level 5 through a scripted proxy ----

class Socks5GrantTest : public SocksTest, public ::testing::WithParamInterface<Chunking> {};

TEST_P(Socks5GrantTest, GreetingRequestAndApplicationBytesThatCameWithTheReply) {
  ScriptedServer proxy(GetParam());
  const std::string greeting = Bytes({5, 1, 0});
  const std::string request = Socks5Request("127.0.0.1", 5900);
  proxy.Expect(3).Send(Bytes({5, 0})).Expect(request.size()).Send(Socks5Reply(0) + "RFB 003.008\n");
  proxy.Pause(50ms).Send("after").Close();
  proxy.Start();

  Through(proxy.Port(), "5", "127.0.0.1", "5900");
  std::int32_t pendingAtConnect = -1;
  log->after = [&](const std::string& e) {
    if (e == "SessionConnected(0)") pendingAtConnect = sock->RcvdCount();
  };
  sock->Connect();
  ASSERT_TRUE(WaitFor("SessionClosed(0)")) << proxy.Failure();
  EXPECT_EQ(proxy.Received(), greeting + request);
  EXPECT_EQ(log->received, "RFB 003.008\nafter");
  EXPECT_EQ(log->Without(kNoise),
            Plus(Opening(), {"SessionConnected(0)", "SessionClosed(0)", "ChangeState(wsConnected,wsClosed)"}));
  if (GetParam() == Chunking::Whole) {
    EXPECT_EQ(pendingAtConnect, 12) << "RcvdCount reports the bytes that came with the reply";
    // The first data event follows the connect event at once and carries them.
    auto at = std::find(log->events.begin(), log->events.end(), "SessionConnected(0)");
    ASSERT_NE(at, log->events.end());
    ASSERT_NE(at + 1, log->events.end());
    EXPECT_EQ(*(at + 1), "DataAvailable(0)");
  }
  EXPECT_EQ(sock->ReadCount(), 0) << "reset by the close";
  ExpectProxySettingsReset();
}

INSTANTIATE_TEST_SUITE_P(Chunkings, Socks5GrantTest,
                         ::testing::Values(Chunking::Whole, Chunking::ByteByByte, Chunking::Random), [](const auto& p) {
                           std::string n = ChunkingName(p.param);
                           n.erase(std::remove(n.begin(), n.end(), '-'), n.end());
                           return n;
                         });

TEST_F(SocksTest, LeftoverBytesAreReadBeforeTheNetworkInSmallReads) {
  ScriptedServer proxy;
  const std::string request = Socks5Request("127.0.0.1", 23);
  proxy.Expect(3).Send(Bytes({5, 0})).Expect(request.size()).Send(Socks5Reply(0) + "0123456789");
  proxy.Pause(100ms).Send("ABC").Close();
  proxy.Start();
  Through(proxy.Port(), "5", "127.0.0.1", "23");
  log->readSize = 4;
  sock->Connect();
  ASSERT_TRUE(WaitFor("SessionClosed(0)")) << proxy.Failure();
  EXPECT_EQ(log->received, "0123456789ABC") << "every leftover byte is delivered, in order, before new ones";
}

TEST_F(SocksTest, UserPasswordWithAnAuthenticationReplySplitByteByByte) {
  ScriptedServer proxy;
  const std::string greeting = Bytes({5, 1, 2});
  const std::string auth = Bytes({1, 4}) + "user" + Bytes({6}) + "secret";
  const std::string request = Socks5Request("localhost", 80);
  std::atomic<std::size_t> seenBetween{0};
  proxy.Expect(3).Send(Bytes({5, 2})).Expect(auth.size()).Send(Bytes({1}));
  proxy.Pause(150ms).Do([&] { seenBetween = proxy.Received().size(); });
  proxy.Send(Bytes({0})).Expect(request.size()).Send(Socks5Reply(0));
  proxy.Start();

  Through(proxy.Port(), "5", "localhost", "80");
  sock->SetSocksAuthentication(socksAuthenticateUsercode);
  sock->SetSocksUsercode("user");
  sock->SetSocksPassword("secret");
  sock->Connect();
  ASSERT_TRUE(WaitFor("SessionConnected(0)")) << proxy.Failure();
  ASSERT_TRUE(proxy.WaitDone());
  EXPECT_EQ(seenBetween.load(), greeting.size() + auth.size()) << "nothing is sent on half a reply";
  EXPECT_EQ(proxy.Received(), greeting + auth + request);
  EXPECT_EQ(log->Without(kNoise), Plus(Opening(), {"SocksAuthState(socksAuthStart)", "SocksAuthState(socksAuthSuccess)",
                                                   "SessionConnected(0)"}));
  EXPECT_EQ(sock->State(), wsConnected);
  sock->Close();
  ExpectProxySettingsReset();
  EXPECT_EQ(sock->SocksUsercode(), "user") << "credentials survive a close";
  EXPECT_EQ(sock->SocksPassword(), "secret");
  EXPECT_EQ(sock->SocksAuthentication(), socksAuthenticateUsercode);
}

TEST_F(SocksTest, AuthNotRequiredAlthoughUserPasswordWasOffered) {
  ScriptedServer proxy;
  const std::string request = Socks5Request("127.0.0.1", 81);
  proxy.Expect(3).Send(Bytes({5, 0})).Expect(request.size()).Send(Socks5Reply(0));
  proxy.Start();
  Through(proxy.Port(), "5", "127.0.0.1", "81");
  sock->SetSocksAuthentication(socksAuthenticateUsercode);
  sock->SetSocksUsercode("u");
  sock->SetSocksPassword("p");
  sock->Connect();
  ASSERT_TRUE(WaitFor("SessionConnected(0)")) << proxy.Failure();
  ASSERT_TRUE(proxy.WaitDone());
  EXPECT_EQ(proxy.Received(), Bytes({5, 1, 2}) + request) << "the connect request follows at once";
  EXPECT_EQ(log->Without(kNoise), Plus(Opening(), {"SocksAuthState(socksAuthNotRequired)", "SessionConnected(0)"}));
  sock->Close();
}

TEST_F(SocksTest, ReplyWithANameAsBoundAddress) {
  ScriptedServer proxy(Chunking::ByteByByte);
  const std::string request = Socks5Request("127.0.0.1", 82);
  std::string reply = Bytes({5, 0, 0, 3, 9}) + "localhost" + Be16(8080);
  proxy.Expect(3).Send(Bytes({5, 0})).Expect(request.size()).Send(reply + "xyz");
  proxy.Start();
  Through(proxy.Port(), "5", "127.0.0.1", "82");
  sock->Connect();
  ASSERT_TRUE(RunLoopUntil([&] { return log->received == "xyz"; })) << proxy.Failure();
  EXPECT_EQ(log->Count("SessionConnected(0)"), 1u);
  sock->Close();
}

TEST_F(SocksTest, ProxyClosingWhileTheAuthenticationReplyIsAwaitedIsAnAuthFailure) {
  ScriptedServer proxy;
  proxy.Expect(3).Send(Bytes({5, 2})).Expect(2 + 1 + 1 + 1).Close();
  proxy.Start();
  Through(proxy.Port(), "5", "127.0.0.1", "83");
  sock->SetSocksAuthentication(socksAuthenticateUsercode);
  sock->SetSocksUsercode("a");
  sock->SetSocksPassword("b");
  sock->Connect();
  ASSERT_TRUE(WaitFor("SessionClosed(0)")) << proxy.Failure();
  EXPECT_EQ(log->Without(kNoise), Plus(Opening(), {"SocksAuthState(socksAuthStart)", "SocksAuthState(socksAuthFailure)",
                                                   "SessionClosed(0)", "ChangeState(wsConnected,wsClosed)"}));
  ExpectProxySettingsReset();
}

TEST_F(SocksTest, UnreachableProxyReportsTheConnectError) {
  Through(UnusedPort(), "5", "127.0.0.1", "84");
  sock->Connect();
  ASSERT_TRUE(WaitFor("SessionClosed(0)"));
  EXPECT_EQ(log->Without(kNoise),
            (Events{"ChangeState(wsClosed,wsOpened)", "ChangeState(wsOpened,wsConnecting)",
                    "ChangeState(wsConnecting,wsConnected)", "SocksConnected(10061)", "SessionConnected(10061)",
                    "ChangeState(wsConnected,wsClosed)", "SessionClosed(0)"}));
  ExpectProxySettingsReset();
}

// ---- Every failing reply: OnSocksError, OnSessionConnected with the code,
// then the close ----

struct FailureCase {
  std::string name;
  std::string level;
  bool userPassword;
  // The proxy's answers, each after the client's next request.
  std::vector<std::string> replies;
  std::int32_t code;
  std::string text;
};

class SocksFailureTest : public SocksTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SocksFailureTest, ReportsTheCodeAndCloses) {
  const FailureCase& c = GetParam();
  const std::string dest = "10.0.0.1";
  std::vector<std::size_t> requestSizes;
  if (c.level == "5") {
    requestSizes.push_back(3);
    if (c.userPassword) requestSizes.push_back(1 + 1 + 2 + 1 + 2);
    requestSizes.push_back(Socks5Request(dest, 23).size());
  } else {
    requestSizes.push_back(8 + 1);
  }
  ScriptedServer proxy;
  for (std::size_t i = 0; i < c.replies.size(); ++i) proxy.Expect(requestSizes.at(i)).Send(c.replies[i]);
  proxy.Start();

  Through(proxy.Port(), c.level, dest, "23");
  if (c.userPassword) {
    sock->SetSocksAuthentication(socksAuthenticateUsercode);
    sock->SetSocksUsercode("me");
    sock->SetSocksPassword("pw");
  }
  sock->Connect();
  const std::string code = std::to_string(c.code);
  ASSERT_TRUE(WaitFor("SessionClosed(" + code + ")")) << proxy.Failure();
  Events expected = Opening();
  if (c.userPassword && c.replies.size() >= 2) expected.push_back("SocksAuthState(socksAuthStart)");
  expected = Plus(expected, {"SocksError(" + code + "," + c.text + ")", "SessionConnected(" + code + ")",
                             "ChangeState(wsConnected,wsClosed)", "SessionClosed(" + code + ")"});
  EXPECT_EQ(log->Without(kNoise), expected);
  EXPECT_EQ(sock->State(), wsClosed);
  ExpectProxySettingsReset();
}

std::vector<FailureCase> FailureCases() {
  std::vector<FailureCase> cases = {
      {"MethodRefused", "5", false, {Bytes({5, 0xFF})}, 20003, "authentification method not acceptable"},
      {"MethodReplyVersion", "5", false, {Bytes({4, 0})}, 20002, "socks version error"},
      {"AuthReplyVersion", "5", true, {Bytes({5, 2}), Bytes({2, 0})}, 20002, "socks version error"},
      {"AuthRefused", "5", true, {Bytes({5, 2}), Bytes({1, 1})}, 20015, "socks authentication failed"},
      {"AuthReplyTooLong", "5", true, {Bytes({5, 2}), Bytes({1, 0, 0})}, 20001, "too much data availaible"},
      {"ConnectReplyVersion",
       "5",
       false,
       {Bytes({5, 0}), Bytes({4, 0, 0, 1, 0, 0, 0, 0, 0, 0})},
       20002,
       "socks version error"},
      {"AddressTypeIPv6",
       "5",
       false,
       {Bytes({5, 0}), Bytes({5, 0, 0, 4, 0, 0, 0, 0, 0, 0})},
       20011,
       "address type not supported"},
      {"Socks4Rejected", "4", false, {Socks4Reply(91)}, 20016, "request rejected or failed"},
      {"Socks4Refused", "4", false, {Socks4Reply(92)}, 20008, "connection refused"},
      {"Socks4AuthFailed", "4", false, {Socks4Reply(93)}, 20015, "authentification failed"},
      {"Socks4Unassigned", "4", false, {Socks4Reply(95)}, 20012, "unassigned error #95"},
      {"Socks4ReplyVersion", "4", false, {Bytes({4, 90, 0, 0, 0, 0, 0, 0})}, 20002, "socks version error"},
  };
  const std::vector<std::pair<int, std::string>> table = {
      {1, "general SOCKS server failure"}, {2, "connection not allowed by ruleset"},
      {3, "network unreachable"},          {4, "host unreachable"},
      {5, "connection refused"},           {6, "time to live expired"},
      {7, "command not supported"},        {8, "address type not supported"},
      {9, "unassigned error #9"},          {255, "unassigned error #255"}};
  for (const auto& [reply, text] : table) {
    std::int32_t code = reply <= 8 ? 20003 + reply : 20012;
    cases.push_back(
        {"Socks5Reply" + std::to_string(reply), "5", false, {Bytes({5, 0}), Socks5Reply(reply)}, code, text});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Replies, SocksFailureTest, ::testing::ValuesIn(FailureCases()),
                         [](const auto& p) { return p.param.name; });

// ---- Levels 4 and 4A ----

TEST_F(SocksTest, Socks4RequestCarriesTheResolvedAddressAndUserCode) {
  ScriptedServer proxy;
  const std::string request = Bytes({0x04, 0x01, 0x00, 0x17, 0x0A, 0x00, 0x00, 0x01, 0x61, 0x62, 0x00});
  proxy.Expect(request.size()).Send(Socks4Reply(90) + "hi");
  proxy.Start();
  Through(proxy.Port(), "4", "10.0.0.1", "23");
  sock->SetSocksUsercode("ab");
  sock->Connect();
  ASSERT_TRUE(RunLoopUntil([&] { return log->received == "hi"; })) << proxy.Failure();
  EXPECT_EQ(proxy.Received(), request);
  EXPECT_EQ(log->Without(kNoise), Plus(Opening(), {"SessionConnected(0)"}));
  sock->Close();
  ExpectProxySettingsReset();
}

TEST_F(SocksTest, Socks4aSendsTheNameForTheProxyToResolve) {
  std::vector<std::string> lookedUp;
  net::SetHostResolverForTesting([&](const std::string& name, bool, net::HostEntry*) {
    lookedUp.push_back(name);
    return net::kWsaHostNotFound;
  });
  ScriptedServer proxy;
  const std::string request =
      Bytes({0x04, 0x01, 0x00, 0x50, 0, 0, 0, 1}) + "ab" + Bytes({0}) + "target.test" + Bytes({0});
  proxy.Expect(request.size()).Send(Socks4Reply(90));
  proxy.Start();
  Through(proxy.Port(), "4a", "target.test", "80");
  EXPECT_EQ(sock->SocksLevel(), "4A");
  sock->SetSocksUsercode("ab");
  sock->Connect();
  ASSERT_TRUE(WaitFor("SessionConnected(0)")) << proxy.Failure();
  ASSERT_TRUE(proxy.WaitDone());
  EXPECT_EQ(proxy.Received(), request);
  EXPECT_TRUE(lookedUp.empty()) << "the client resolves nothing at level 4A";
  sock->Close();
}

TEST_F(SocksTest, Socks4DestinationThatCannotBeResolvedLocally) {
  net::SetHostResolverForTesting([](const std::string&, bool, net::HostEntry*) { return net::kWsaHostNotFound; });
  ScriptedServer proxy;
  proxy.Pause(300ms);
  proxy.Start();
  Through(proxy.Port(), "4", "nowhere.test", "80");
  sock->Connect();
  ASSERT_TRUE(WaitFor("SessionClosed(20017)"));
  EXPECT_EQ(log->Without(kNoise),
            Plus(Opening(), {"SocksError(20017,ESocketException USocketResolveHost: Cannot convert host address "
                             "'nowhere.test', Error #11001)",
                             "ChangeState(wsConnected,wsClosed)", "SessionClosed(20017)"}))
      << "no OnSessionConnected for a destination that cannot be resolved";
  EXPECT_EQ(proxy.Received(), "") << "no request is sent";
}

// ---- Configuration ----

TEST_F(SocksTest, PropertySettersAndRefusals) {
  auto message = RaisedMessage;
  EXPECT_EQ(sock->SocksLevel(), "5");
  sock->SetSocksLevel("4a");
  EXPECT_EQ(sock->SocksLevel(), "4A");
  EXPECT_EQ(message([&] { sock->SetSocksLevel("6"); }), "Invalid socks level. Must be 4, 4A or 5.");
  EXPECT_EQ(sock->SocksLevel(), "4A") << "a refused level leaves the level unchanged";
  sock->SetSocksServer("  127.0.0.1 ");
  EXPECT_EQ(sock->SocksServer(), "127.0.0.1");
  sock->SetSocksPort(" 1080 ");
  EXPECT_EQ(sock->SocksPort(), "1080");

  sock->SetProto("udp");
  sock->SetAddr("127.0.0.1");
  sock->SetPort("9");
  EXPECT_EQ(message([&] { sock->Connect(); }), "tcp is the only protocol supported thru socks server");
  EXPECT_EQ(message([&] { sock->Listen(); }), "Listening is not supported thru socks server");
  EXPECT_EQ(sock->Handle(), INVALID_SOCKET);

  // With OnError assigned the refusal fires it instead and changes nothing.
  int errors = 0;
  sock->OnError = [&](TObject*) { ++errors; };
  sock->SetSocksLevel("x");
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(sock->SocksLevel(), "4A");
}

TEST_F(SocksTest, SettersRefuseWhileOpen) {
  ScriptedServer proxy;
  proxy.Expect(3).Pause(300ms);
  proxy.Start();
  Through(proxy.Port(), "5", "127.0.0.1", "85");
  sock->Connect();
  auto message = RaisedMessage;
  EXPECT_EQ(message([&] { sock->SetSocksLevel("4"); }), "Can't change socks level if not closed");
  EXPECT_EQ(message([&] { sock->SetSocksServer("127.0.0.2"); }), "Can't change socks server if not closed");
  EXPECT_EQ(message([&] { sock->SetSocksPort("1"); }), "Can't change socks port if not closed");
  EXPECT_EQ(message([&] { sock->Connect(); }), "Connect: Socket already in use");
  ASSERT_TRUE(WaitFor("SocksConnected(0)"));
  EXPECT_EQ(sock->SocksLevel(), "5");
  EXPECT_EQ(sock->SocksServer(), "127.0.0.1");
  sock->Close();
  ExpectProxySettingsReset();
}

TEST_F(SocksTest, BlankServerConnectsDirectly) {
  sock->SetSocksServer("   ");
  EXPECT_EQ(sock->SocksServer(), "");
  ConnectPeer();
  peer.SendAll("direct");
  ASSERT_TRUE(RunLoopUntil([&] { return log->received == "direct"; }));
  EXPECT_FALSE(log->Has("SocksConnected(0)"));
}

TEST_F(SocksTest, OverLongFieldsAreRefusedBeforeConnecting) {
  auto message = RaisedMessage;
  const std::string longName(256, 'n');
  Through(UnusedPort(), "5", longName, "80");
  EXPECT_EQ(message([&] { sock->Connect(); }), "connect: socks destination name longer than 255 bytes");
  sock->SetAddr("127.0.0.1");
  sock->SetSocksAuthentication(socksAuthenticateUsercode);
  sock->SetSocksUsercode(std::string(256, 'u'));
  EXPECT_EQ(message([&] { sock->Connect(); }), "connect: socks user code longer than 255 bytes");
  sock->SetSocksUsercode("u");
  sock->SetSocksPassword(std::string(300, 'p'));
  EXPECT_EQ(message([&] { sock->Connect(); }), "connect: socks password longer than 255 bytes");
  EXPECT_EQ(sock->Handle(), INVALID_SOCKET) << "nothing was opened";
  EXPECT_TRUE(log->events.empty());
}

TEST_F(SocksTest, LongestFieldsFitTheRequests) {
  // 255-byte name, user code and password: the largest a level-5 request
  // carries, far beyond a fixed 128-byte buffer.
  const std::string name(255, 'n'), user(255, 'u'), password(255, 'p');
  const std::string auth = Bytes({1, 255}) + user + Bytes({255}) + password;
  const std::string request = Socks5Request(name, 7);
  const std::string reply = Bytes({5, 0, 0, 3, 255}) + name + Be16(7);
  ScriptedServer proxy(Chunking::Random);
  proxy.Expect(3).Send(Bytes({5, 2})).Expect(auth.size()).Send(Bytes({1, 0})).Expect(request.size());
  proxy.Send(reply + "tail");
  proxy.Start();
  Through(proxy.Port(), "5", name, "7");
  sock->SetSocksAuthentication(socksAuthenticateUsercode);
  sock->SetSocksUsercode(user);
  sock->SetSocksPassword(password);
  sock->Connect();
  ASSERT_TRUE(RunLoopUntil([&] { return log->received == "tail"; })) << proxy.Failure();
  EXPECT_EQ(proxy.Received(), Bytes({5, 1, 2}) + auth + request);
  sock->Close();
}

// ---- Real proxies ----

class RealProxyTest : public SocksTest {
 protected:
  // Connects through the proxy to `listener`, exchanges data both ways and
  // closes; the events are those of a direct connection plus the proxy's.
  void ExchangeThrough(std::uint16_t proxyPort, const std::string& level) {
    Through(proxyPort, level, "127.0.0.1", listener.PortText());
    sock->Connect();
    ASSERT_TRUE(WaitFor("SessionConnected(0)")) << ::testing::PrintToString(log->events);
    peer = listener.Accept();
    ASSERT_TRUE(peer.Valid());
    sock->SendText("through the proxy");
    EXPECT_EQ(peer.ReadExactly(17), "through the proxy");
    peer.SendAll("and back");
    ASSERT_TRUE(RunLoopUntil([&] { return log->received == "and back"; }));
    peer.Close();
    ASSERT_TRUE(WaitFor("SessionClosed(0)"));
    ExpectProxySettingsReset();
  }
  // Connects through the proxy and expects the negotiation to fail with code.
  void FailThrough(std::uint16_t proxyPort, const std::string& level, const std::string& addr, const std::string& port,
                   std::int32_t code, const std::string& text) {
    Through(proxyPort, level, addr, port);
    sock->Connect();
    const std::string c = std::to_string(code);
    ASSERT_TRUE(WaitFor("SessionClosed(" + c + ")")) << ::testing::PrintToString(log->events);
    auto events = log->Without(kNoise);
    std::vector<std::string> tail(events.end() - std::min<std::size_t>(4, events.size()), events.end());
    EXPECT_EQ(tail, (Events{"SocksError(" + c + "," + text + ")", "SessionConnected(" + c + ")",
                            "ChangeState(wsConnected,wsClosed)", "SessionClosed(" + c + ")"}));
    ExpectProxySettingsReset();
  }
};

#define REQUIRE_PROXY(p) \
  if (!(p).Ok()) GTEST_SKIP() << (p).Problem()

TEST_F(RealProxyTest, DanteLevels5And4) {
  DanteProxy dante;
  REQUIRE_PROXY(dante);
  ExchangeThrough(dante.Port(), "5");
  EXPECT_EQ(log->Without(kNoise),
            Plus(Opening(), {"SessionConnected(0)", "SessionClosed(0)", "ChangeState(wsConnected,wsClosed)"}));
  log->events.clear();
  log->received.clear();
  ExchangeThrough(dante.Port(), "4");
  EXPECT_EQ(log->Without(kNoise),
            Plus(Opening(), {"SessionConnected(0)", "SessionClosed(0)", "ChangeState(wsConnected,wsClosed)"}));
}

TEST_F(RealProxyTest, DanteRefusals) {
  std::uint16_t blocked = UnusedPort();
  DanteProxy dante({false, blocked});
  REQUIRE_PROXY(dante);
  // A closed port, and a ruleset refusal (whose reply names the address).
  FailThrough(dante.Port(), "5", "127.0.0.1", std::to_string(UnusedPort()), 20008, "connection refused");
  log->events.clear();
  FailThrough(dante.Port(), "5", "127.0.0.1", std::to_string(blocked), 20005, "connection not allowed by ruleset");
  log->events.clear();
  FailThrough(dante.Port(), "4", "127.0.0.1", std::to_string(UnusedPort()), 20016, "request rejected or failed");
  log->events.clear();
  FailThrough(dante.Port(), "4A", "localhost", listener.PortText(), 20016, "request rejected or failed");
}

TEST_F(RealProxyTest, DanteUnknownDestinationName) {
  if (!ResolverIsConfined()) GTEST_SKIP() << "the proxy would ask a DNS server off this machine";
  DanteProxy dante;
  REQUIRE_PROXY(dante);
  FailThrough(dante.Port(), "5", "no-such-host.telorus.test", "80", 20007, "host unreachable");
}

TEST_F(RealProxyTest, DanteUserPassword) {
  DanteProxy dante({true, 0});
  REQUIRE_PROXY(dante);
  sock->SetSocksAuthentication(socksAuthenticateUsercode);
  sock->SetSocksUsercode(DanteProxy::kUser);
  sock->SetSocksPassword(DanteProxy::kPassword);
  ExchangeThrough(dante.Port(), "5");
  EXPECT_EQ(log->Without(kNoise),
            Plus(Opening(), {"SocksAuthState(socksAuthStart)", "SocksAuthState(socksAuthSuccess)",
                             "SessionConnected(0)", "SessionClosed(0)", "ChangeState(wsConnected,wsClosed)"}));

  log->events.clear();
  sock->SetSocksPassword("wrong");
  FailThrough(dante.Port(), "5", "127.0.0.1", listener.PortText(), 20015, "socks authentication failed");
  EXPECT_TRUE(log->Has("SocksAuthState(socksAuthStart)"));

  log->events.clear();
  sock->SetSocksAuthentication(socksNoAuthentication);
  FailThrough(dante.Port(), "5", "127.0.0.1", listener.PortText(), 20003, "authentification method not acceptable");
}

TEST_F(RealProxyTest, MicrosocksWithoutAuthentication) {
  MicrosocksProxy proxy;
  REQUIRE_PROXY(proxy);
  ExchangeThrough(proxy.Port(), "5");
  EXPECT_EQ(log->Without(kNoise),
            Plus(Opening(), {"SessionConnected(0)", "SessionClosed(0)", "ChangeState(wsConnected,wsClosed)"}));
  // Level 4 is not spoken there: it answers 05 FF and closes, before a
  // whole level-4 reply has come, which ends as a plain close.
  log->events.clear();
  Through(proxy.Port(), "4", "127.0.0.1", listener.PortText());
  sock->Connect();
  ASSERT_TRUE(WaitFor("SessionClosed(0)"));
  EXPECT_EQ(log->Without(kNoise), Plus(Opening(), {"SessionClosed(0)", "ChangeState(wsConnected,wsClosed)"}));
}

TEST_F(RealProxyTest, MicrosocksUserPassword) {
  MicrosocksProxy proxy("alice", "wonderland");
  REQUIRE_PROXY(proxy);
  sock->SetSocksAuthentication(socksAuthenticateUsercode);
  sock->SetSocksUsercode("alice");
  sock->SetSocksPassword("wonderland");
  ExchangeThrough(proxy.Port(), "5");
  EXPECT_TRUE(log->Has("SocksAuthState(socksAuthSuccess)"));

  log->events.clear();
  sock->SetSocksPassword("looking-glass");
  FailThrough(proxy.Port(), "5", "127.0.0.1", listener.PortText(), 20015, "socks authentication failed");
}

}  // namespace
}  // namespace telorus::test
