// Version and security negotiation against scripted servers: the version
// answered for what real servers announce, the security-type list and the
// viewer's choice, SecurityResult with and without its reason, VeNCrypt's
// exchange up to its unencrypted Plain subtype, and the refusals, after
// which nothing more is sent. Each under three chunkings.
#include "session_fixture.h"
#include "viewer/vncdes.h"
#include "viewer/security_types.h"

namespace telorus::test {
namespace {

class NegotiationTest : public ::testing::WithParamInterface<Chunking>, public ViewerSessionTest {
 protected:
  NegotiationTest() : ViewerSessionTest(GetParam()) {}

  // Events from the first one that starts with `prefix` to the end.
  Events From(const std::string& prefix) const {
    for (auto it = events.begin(); it != events.end(); ++it)
      if (it->rfind(prefix, 0) == 0) return Events(it, events.end());
    return {};
  }
};

INSTANTIATE_TEST_SUITE_P(Chunkings, NegotiationTest,
                         ::testing::Values(Chunking::Whole, Chunking::ByteByByte, Chunking::Random),
                         [](const auto& param) {
                           std::string n = ChunkingName(param.param);
                           n.erase(std::remove(n.begin(), n.end(), '-'), n.end());
                           return n;
                         });

const std::string kInit = rfb::ServerInit(8, 8, rfb::TrueColour32(), "d");

// For every version a server may announce: what a viewer that speaks up to
// 3.8 (or 3.7) answers, and the rest of the handshake in that version's
// rules. A version below 3.3 is refused before anything is sent.
TEST_P(NegotiationTest, TheVersionAnsweredFollowsTheServersAndTheHandshakeItsRules) {
  struct Case {
    const char* server;
    TVNCProtocol highest;
    int answer;  // the minor version answered; 0: refused
  };
  const Case cases[] = {
      {"RFB 003.008\n", vncProtocol38, 8}, {"RFB 003.007\n", vncProtocol38, 7}, {"RFB 003.889\n", vncProtocol38, 8},
      {"RFB 003.005\n", vncProtocol38, 3}, {"RFB 003.003\n", vncProtocol38, 3}, {"RFB 004.001\n", vncProtocol38, 8},
      {"RFB 003.008\n", vncProtocol37, 7}, {"RFB 002.000\n", vncProtocol38, 0}, {"RFB 003.002\n", vncProtocol38, 0},
      {"XYZ 003.008\n", vncProtocol38, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    ScriptedServer peer(GetParam(), 3);
    platform::HeadlessWindow w(64, 48);
    TQuarneTelorus v(w, clipboard, bell);
    Events seen;
    v.OnConnectError = [&](TObject*, const std::string& t) { seen.push_back("ConnectError(" + t + ")"); };
    v.OnConnected = [&](TObject*) { seen.push_back("Connected"); };
    v.OnConnectClose = [&](TObject*) { seen.push_back("ConnectClose"); };
    v.SetProtocol(c.highest);
    v.SetSecurityTypes("None");
    std::string expected;
    peer.Send(c.server);
    if (c.answer == 0) {
      peer.Pause(300ms).Close();
    } else {
      char answer[13];
      std::snprintf(answer, sizeof answer, "RFB 003.%03d\n", c.answer);
      expected = answer;
      if (c.answer == 3) {
        peer.Expect(12).Send(rfb::Be32(1));
      } else {
        // The list, the client's choice; SecurityResult for None only in 3.8.
        peer.Expect(12).Send(rfb::U8(2) + rfb::U8(2) + rfb::U8(1)).Expect(1);
        expected += rfb::U8(1);
        if (c.answer == 8) peer.Send(rfb::Be32(0));
      }
      peer.Expect(1).Send(kInit).Expect(8);
      expected += std::string(1, '\0') + rfb::SetEncodings(5);
    }
    peer.Start();
    v.SetServer("127.0.0.1");
    v.SetPort(peer.Port());
    v.Connect();
    const std::string last = c.answer == 0 ? "ConnectClose" : "Connected";
    ASSERT_TRUE(RunUntil([&] { return std::find(seen.begin(), seen.end(), last) != seen.end(); }));
    ASSERT_TRUE(RunUntil([&] { return peer.WaitDone(0ms); }));
    EXPECT_EQ(peer.Received(), expected);
    if (c.answer == 0) {
      ASSERT_EQ(seen.size(), 2u);
      EXPECT_EQ(seen[0],
                "ConnectError(The server speaks an unsupported protocol version: " + std::string(c.server, 11) + ")");
    }
    v.DisConnect();
  }
}

// The viewer takes its first preference among the types offered, unknown
// ones and long lists included; with none acceptable, or an empty list with
// its reason, it says why and sends nothing more.
TEST_P(NegotiationTest, TheTypeListIsReadWhateverItHoldsAndTheChoiceIsOurs) {
  // 255 entries: every number but VeNCrypt's, one twice, with None and
  // VncAuth last. The viewer prefers X509Vnc (not offered), then VncAuth.
  std::string list = rfb::U8(254);
  for (int t = 255; t >= 3; --t)
    if (t != 19) list += rfb::U8(static_cast<std::uint32_t>(t));
  list += rfb::U8(1) + rfb::U8(2);
  ASSERT_EQ(list.size(), 255u);
  std::string challenge(16, '\x07');
  viewer.SetProtocol(vncProtocol38);
  viewer.SetSecurityTypes("X509Vnc,VncAuth,None");
  viewer.SetPassword("pw");
  server.Send("RFB 003.008\n").Expect(12).Send(rfb::U8(static_cast<std::uint32_t>(list.size())) + list);
  server.Expect(1).Send(challenge).Expect(16).Send(rfb::Be32(0)).Expect(1).Send(kInit).Expect(8);
  Go();
  ASSERT_TRUE(WaitEvent("Connected"));
  ASSERT_TRUE(RunUntil([&] { return server.WaitDone(0ms); }));
  EXPECT_EQ(server.Received(),
            "RFB 003.008\n" + rfb::U8(2) + EncryptChallenge(challenge, "pw") + '\0' + rfb::SetEncodings(5));
  EXPECT_EQ(viewer.UpdateRequestCount(), 0);
}

TEST_P(NegotiationTest, RefusalsSayWhyAndSendNothingMore) {
  struct Case {
    std::string name;
    std::string types;   // the viewer's SecurityTypes
    std::string script;  // what the server sends after the client's version
    std::string error;   // OnConnectError
    std::string status;  // the last status
  };
  const std::string reason = "No configured security type is supported";
  const Case cases[] = {
      {"empty list with its reason", "None", rfb::U8(0) + rfb::Be32(static_cast<std::uint32_t>(reason.size())) + reason,
       reason, "Connection Fail!"},
      {"only unknown types", std::string(kDefaultSecurityTypes), rfb::U8(3) + rfb::U8(7) + rfb::U8(30) + rfb::U8(200),
       "The server offers the security types 7,30,200, and none of them is accepted", "No Supported Security Type!"},
      {"VncAuth not allowed", "X509Vnc,None", rfb::U8(1) + rfb::U8(2),
       "The server offers the security types VncAuth, and none of them is accepted", "No Supported Security Type!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer peer(GetParam(), 5);
    platform::HeadlessWindow w(64, 48);
    TQuarneTelorus v(w, clipboard, bell);
    Events seen;
    v.OnStatus = [&](TObject*, const std::string& t) { seen.push_back("Status(" + t + ")"); };
    v.OnConnectError = [&](TObject*, const std::string& t) { seen.push_back("ConnectError(" + t + ")"); };
    v.OnConnectClose = [&](TObject*) { seen.push_back("ConnectClose"); };
    v.SetProtocol(vncProtocol38);
    v.SetSecurityTypes(c.types);
    v.SetPassword("pw");
    peer.Send("RFB 003.008\n").Expect(12).Send(c.script).Pause(300ms).Close();
    peer.Start();
    v.SetServer("127.0.0.1");
    v.SetPort(peer.Port());
    v.Connect();
    ASSERT_TRUE(RunUntil([&] { return !seen.empty() && seen.back() == "ConnectClose"; }));
    ASSERT_TRUE(RunUntil([&] { return peer.WaitDone(0ms); }));
    EXPECT_EQ(peer.Received(), "RFB 003.008\n");
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen[seen.size() - 3], "Status(" + c.status + ")");
    EXPECT_EQ(seen[seen.size() - 2], "ConnectError(" + c.error + ")");
  }
}

// A 3.3 server that wants VNC authentication from a viewer whose list does
// not allow it gets no answer to its challenge.
TEST_P(NegotiationTest, AThreeThreeServerStillMeetsTheList) {
  viewer.SetProtocol(vncProtocol38);
  viewer.SetSecurityTypes("None");
  viewer.SetPassword("pw");
  server.Send("RFB 003.003\n").Expect(12).Send(rfb::Be32(2) + std::string(16, 'c')).Pause(300ms).Close();
  Go();
  ASSERT_TRUE(WaitEvent("ConnectClose"));
  ASSERT_TRUE(RunUntil([&] { return server.WaitDone(0ms); }));
  EXPECT_EQ(server.Received(), "RFB 003.003\n");
  EXPECT_TRUE(Has("ConnectError(The server requires the security type VncAuth, which is not accepted)"));
}

// 3.8 sends a reason with a failed SecurityResult and the host hears it;
// 3.7 sends none, and none is read.
TEST_P(NegotiationTest, AFailedSecurityResultCarriesItsReasonFromThreeEightOn) {
  viewer.SetProtocol(vncProtocol38);
  viewer.SetPassword("wrong");
  const std::string reason = "Authentication failure";
  server.Send("RFB 003.008\n").Expect(12).Send(rfb::U8(1) + rfb::U8(2)).Expect(1).Send(std::string(16, 'c'));
  server.Expect(16).Send(rfb::Be32(1) + rfb::Be32(static_cast<std::uint32_t>(reason.size())) + reason);
  server.Pause(300ms).Close();
  Go();
  ASSERT_TRUE(WaitEvent("ConnectClose"));
  EXPECT_EQ(From("Status(Logon Result:"), (Events{"Status(Logon Result:1)", "Status(Logon Fail!)", "AuthFail",
                                                  "ConnectError(" + reason + ")", "ConnectClose"}));
  ASSERT_TRUE(RunUntil([&] { return server.WaitDone(0ms); }));
  EXPECT_EQ(server.Received().size(), 12u + 1 + 16);  // nothing after the response
}

TEST_P(NegotiationTest, AThreeSevenFailureHasNoReason) {
  viewer.SetProtocol(vncProtocol37);
  viewer.SetPassword("wrong");
  server.Send("RFB 003.008\n").Expect(12).Send(rfb::U8(1) + rfb::U8(2)).Expect(1).Send(std::string(16, 'c'));
  server.Expect(16).Send(rfb::Be32(1)).Pause(300ms).Close();
  Go();
  ASSERT_TRUE(WaitEvent("ConnectClose"));
  EXPECT_EQ(From("Status(Logon Result:"),
            (Events{"Status(Logon Result:1)", "Status(Logon Fail!)", "AuthFail", "ConnectClose"}));
  EXPECT_EQ(server.Received().substr(0, 12), "RFB 003.007\n");
}

// VeNCrypt: version 0.2, the subtype list, and Plain, which sends the user
// name and password as they are: only when the list names it. The default
// list goes as far as the subtypes, finds nothing it accepts, and leaves
// with the password unsent.
TEST_P(NegotiationTest, VeNCryptPlainOnlyWhenTheListNamesIt) {
  const std::string subtypes = rfb::U8(1) + rfb::Be32(256);
  viewer.SetProtocol(vncProtocol38);
  viewer.SetSecurityTypes("Plain");
  viewer.SetUserName("alice");
  viewer.SetPassword("s3cret");
  server.Send("RFB 003.008\n").Expect(12).Send(rfb::U8(1) + rfb::U8(19)).Expect(1).Send(rfb::U8(0) + rfb::U8(2));
  server.Expect(2).Send(rfb::U8(0) + subtypes).Expect(4 + 8 + 5 + 6).Send(rfb::Be32(0)).Expect(1);
  server.Send(kInit).Expect(8);
  Go();
  ASSERT_TRUE(WaitEvent("Connected"));
  ASSERT_TRUE(RunUntil([&] { return server.WaitDone(0ms); }));
  EXPECT_EQ(server.Received(), "RFB 003.008\n" + rfb::U8(19) + rfb::U8(0) + rfb::U8(2) + rfb::Be32(256) + rfb::Be32(5) +
                                   rfb::Be32(6) + "alice" + "s3cret" + '\0' + rfb::SetEncodings(5));
  EXPECT_TRUE(Has("Status(Security Type: Plain)"));
  EXPECT_FALSE(viewer.Encrypted());

  ScriptedServer peer(GetParam(), 9);
  platform::HeadlessWindow w(64, 48);
  TQuarneTelorus v(w, clipboard, bell);
  Events seen;
  v.OnConnectError = [&](TObject*, const std::string& t) { seen.push_back("ConnectError(" + t + ")"); };
  v.OnConnectClose = [&](TObject*) { seen.push_back("ConnectClose"); };
  v.SetProtocol(vncProtocol38);
  v.SetUserName("alice");
  v.SetPassword("s3cret");
  peer.Send("RFB 003.008\n").Expect(12).Send(rfb::U8(1) + rfb::U8(19)).Expect(1).Send(rfb::U8(0) + rfb::U8(2));
  peer.Expect(2).Send(rfb::U8(0) + subtypes).Pause(300ms).Close();
  peer.Start();
  v.SetServer("127.0.0.1");
  v.SetPort(peer.Port());
  v.Connect();
  ASSERT_TRUE(RunUntil([&] { return !seen.empty() && seen.back() == "ConnectClose"; }));
  ASSERT_TRUE(RunUntil([&] { return peer.WaitDone(0ms); }));
  EXPECT_EQ(peer.Received(), "RFB 003.008\n" + rfb::U8(19) + rfb::U8(0) + rfb::U8(2));
  EXPECT_EQ(seen.front(), "ConnectError(The server offers the VeNCrypt subtypes Plain, and none of them is accepted)");
}

TEST_P(NegotiationTest, AnOldVeNCryptOrAnUnknownSecurityTypeNameIsRefused) {
  viewer.SetProtocol(vncProtocol38);
  server.Send("RFB 003.008\n").Expect(12).Send(rfb::U8(1) + rfb::U8(19)).Expect(1).Send(rfb::U8(0) + rfb::U8(1));
  server.Pause(300ms).Close();
  Go();
  ASSERT_TRUE(WaitEvent("ConnectClose"));
  EXPECT_TRUE(Has("ConnectError(The server offers VeNCrypt 0.1; this viewer speaks 0.2)"));
  ASSERT_TRUE(RunUntil([&] { return server.WaitDone(0ms); }));
  EXPECT_EQ(server.Received(), "RFB 003.008\n" + rfb::U8(19));

  // A list with a name the viewer does not know: Connect refuses, nothing starts.
  events.clear();
  viewer.SetSecurityTypes("VncAuth,Kerberos");
  viewer.Connect();
  EXPECT_EQ(events, (Events{"ConnectError(Unknown security type: Kerberos)"}));
  EXPECT_EQ(viewer.Status(), VNCVersion);
}

}  // namespace
}  // namespace telorus::test
