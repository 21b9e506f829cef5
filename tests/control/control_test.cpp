// TTelorusX against a real viewer on a headless window, with a host that
// converts strings as Latin-1 and records the events it is asked to fire:
// the conversions of every kind of member, the guard's failures, the base
// members and the events of a session with their arguments; ITelorusX2's
// members, and the certificate question over TLS answered by the sink.
#include <gtest/gtest.h>

#include <cstdio>

#include "control/TelorusImpl.h"
#include "viewer/session_fixture.h"
#ifdef TELORUS_CONTROL_TESTS_TLS
#include "support/test_certificates.h"
#include "support/tls_scripted_server.h"
#endif

namespace telorus::test {
namespace {

using namespace control;

class FakeHost : public ControlHost {
 public:
  std::u16string ToWide(const std::string& text) override {
    std::u16string out;
    for (char c : text) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
  }
  std::string ToAnsi(const std::u16string& text) override {
    if (text == u"refuse") throw EOleSysError("the host refused the text", static_cast<HResult>(0x80070057));
    std::string out;
    for (char16_t c : text) out += static_cast<char>(c);
    return out;
  }
  // Events of ITelorusXEvents2 are recorded with "2:" before the DISPID,
  // arguments separated by "|".
  void FireEvent(EventInterface target, std::int32_t dispid, std::vector<EventArgument>& arguments) override {
    if (target == EventInterface::Events2 ? !sink2Connected : !sinkConnected) return;
    std::string line = (target == EventInterface::Events2 ? "2:" : "") + std::to_string(dispid);
    for (EventArgument& a : arguments) {
      line += target == EventInterface::Events2 ? "|" : " ";
      if (a.kind == EventArgument::Kind::Long) line += std::to_string(a.number);
      if (a.kind == EventArgument::Kind::String) line += ToAnsi(a.text);
      if (a.kind == EventArgument::Kind::Date) {
        char date[32];
        std::snprintf(date, sizeof date, "%.6f", a.date);
        line += date;
      }
      if (a.kind == EventArgument::Kind::ShortByReference) {
        line += "&" + std::to_string(*a.reference);
        if (keyReply) *a.reference = *keyReply;
      }
      if (a.kind == EventArgument::Kind::BoolByReference) {
        line += "&" + std::to_string(*a.reference);
        if (acceptReply) *a.reference = *acceptReply;
      }
    }
    fired.push_back(line);
  }
  void SetErrorInfo(const std::u16string& description, std::uint32_t) override { error = ToAnsi(description); }

  bool sinkConnected = true;
  bool sink2Connected = true;
  std::optional<std::int16_t> keyReply;
  std::optional<std::int16_t> acceptReply;
  Events fired;
  std::string error;
};

class ControlTest : public ViewerSessionTest {
 protected:
  ControlTest() : ViewerSessionTest(Chunking::Whole) { control.BindViewer(viewer); }
  FakeHost host;
  TTelorusX control{host};
};

TEST_F(ControlTest, MembersConvertAsAutomationExpects) {
  VariantBool b = 5;
  EXPECT_EQ(control.set_ShareDesktop(1), kSOk);
  EXPECT_EQ(control.get_ShareDesktop(&b), kSOk);
  EXPECT_EQ(b, -1) << "any non-zero value is true, and true reads as -1";
  EXPECT_EQ(control.set_Stretch(0), kSOk);
  control.get_Stretch(&b);
  EXPECT_EQ(b, 0);

  std::int32_t n = 0;
  control.set_PixelFormat(257);
  control.get_PixelFormat(&n);
  EXPECT_EQ(n, VNC8Bit) << "enumerations by their low 8 bits";
  control.set_Codec(260);
  control.get_Codec(&n);
  EXPECT_EQ(n, vncHextile);

  WideString text = u"stale";
  control.set_Server(u"");
  EXPECT_EQ(control.get_Server(&text), kSOk);
  EXPECT_FALSE(text.has_value()) << "an empty string comes back as a null string";
  control.set_Password(std::nullopt);
  EXPECT_EQ(viewer.Password(), "");
  control.set_Server(u"h\u00f6st");
  control.get_Server(&text);
  EXPECT_EQ(*text, u"h\u00f6st");
  EXPECT_EQ(viewer.Server(), "h\xf6st") << "8-bit in the viewer";

  std::uint16_t delay = 0;
  control.set_FrameUpdateDelay(65535);
  control.get_FrameUpdateDelay(&delay);
  EXPECT_EQ(delay, 65535);
  std::uint32_t colour = 0;
  control.set_Color(0x80000005u);
  control.get_Color(&colour);
  EXPECT_EQ(colour, 0x80000005u) << "colours pass unchanged";
  control.set_Port(-3);
  control.get_Port(&n);
  EXPECT_EQ(n, -3) << "no member validates its argument";
  EXPECT_EQ(control.Start(), kSOk);

  // The base members.
  control.set_Enabled(0);
  EXPECT_FALSE(window.Enabled());
  control.set_Visible(7);
  control.get_Visible(&b);
  EXPECT_EQ(b, -1);
  control.set_DoubleBuffered(-1);
  control.get_DoubleBuffered(&b);
  EXPECT_EQ(b, -1);
  control.get_AlignDisabled(&b);
  EXPECT_EQ(b, 0);
  control.get_VisibleDockClientCount(&n);
  EXPECT_EQ(n, 0);
  control.DrawTextBiDiModeFlagsReadingOnly(&n);
  EXPECT_EQ(n, 0);
  control.IsRightToLeft(&b);
  EXPECT_EQ(b, 0);
  control.SetSubComponent(1);
  EXPECT_TRUE(viewer.IsSubComponent());
}

TEST_F(ControlTest, TheGuardTurnsExceptionsIntoResultsWithTheirDescription) {
  // An exception with a negative code of its own returns that code.
  EXPECT_EQ(control.set_Server(u"refuse"), static_cast<HResult>(0x80070057));
  EXPECT_EQ(host.error, "the host refused the text");
  // Any other exception is E_UNEXPECTED: the socket refuses a second
  // connection while the first is open.
  server.Start();
  viewer.SetServer("127.0.0.1");
  viewer.SetPort(server.Port());
  ASSERT_EQ(control.Connect(), kSOk);
  EXPECT_EQ(control.Connect(), kEUnexpected);
  EXPECT_NE(host.error.find("Socket already in use"), std::string::npos) << host.error;
  TTelorusX unbound(host);
  std::int32_t n;
  EXPECT_EQ(unbound.get_Status(&n), kEUnexpected);
}

TEST_F(ControlTest, ViewerEventsReachTheSinkWithTheirArgumentsInOrder) {
  NoAuthHandshake(rfb::TrueColour32(), 64, 48, "desk");
  server.Pause(200ms);
  VariantBool connected = 1;
  control.get_Connected(&connected);
  EXPECT_EQ(connected, 0);
  control.set_Server(u"127.0.0.1");
  control.set_Port(server.Port());
  server.Start();
  control.Connect();
  ASSERT_TRUE(RunUntil([&] { return viewer.IsSessionRunning(); }));
  control.get_Connected(&connected);
  EXPECT_EQ(connected, -1);
  control.DisConnect();
  EXPECT_EQ(host.fired, (Events{"207 Server Support Version:RFB 003.008\n", "207 no authentication is needed",
                                "205 64 48", "207 HostName: desk", "206 desk", "204", "203"}));

  // The key by reference: the host's 321 reaches the viewer as 65.
  host.fired.clear();
  host.keyReply = 321;
  EXPECT_EQ(window.Inject(platform::WindowMessage::Character('x')).key, 65);
  EXPECT_EQ(host.fired, (Events{"208 &120"}));
  host.keyReply.reset();
  EXPECT_EQ(window.Inject(platform::WindowMessage::Character('x')).key, 'x') << "left alone, the key is unchanged";
  host.fired.clear();
  // Without a sink nothing is fired and the key stays.
  host.sinkConnected = false;
  host.keyReply = 321;
  EXPECT_EQ(window.Inject(platform::WindowMessage::Character('y')).key, 'y');
  window.Inject(platform::WindowMessage::Mouse(platform::WindowMessageKind::ButtonDown, 1, 1, platform::kMkLButton));
  window.Inject(platform::WindowMessage::Mouse(platform::WindowMessageKind::ButtonUp, 1, 1, 0));
  EXPECT_EQ(host.fired, Events{});
  host.sinkConnected = true;
  window.Inject(platform::WindowMessage::Mouse(platform::WindowMessageKind::ButtonDown, 1, 1, platform::kMkLButton));
  window.Inject(platform::WindowMessage::Mouse(platform::WindowMessageKind::ButtonUp, 1, 1, 0));
  EXPECT_EQ(host.fired.back(), "209") << "a click";
}

TEST_F(ControlTest, SecurityMembersConvertAndAnOutOfRangeProtocolIsRefused) {
  std::int32_t n = -1;
  EXPECT_EQ(control.get_Protocol(&n), kSOk);
  EXPECT_EQ(n, vncProtocol33) << "3.3 by default";
  EXPECT_EQ(control.set_Protocol(2), kSOk);
  EXPECT_EQ(viewer.Protocol(), vncProtocol38);
  EXPECT_EQ(control.set_Protocol(257), kSOk);
  EXPECT_EQ(viewer.Protocol(), vncProtocol37) << "enumerations by their low 8 bits";
  for (std::int32_t bad : {3, 255, -1}) {
    host.error.clear();
    EXPECT_EQ(control.set_Protocol(bad), kEInvalidArg) << bad;
    EXPECT_NE(host.error.find("is not 0 (3.3), 1 (3.7) or 2 (3.8)"), std::string::npos) << host.error;
    EXPECT_EQ(viewer.Protocol(), vncProtocol37) << "a refused value keeps the setting";
  }
  control.get_Protocol(&n);
  EXPECT_EQ(n, vncProtocol37);

  WideString text;
  EXPECT_EQ(control.get_SecurityTypes(&text), kSOk);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, std::u16string(kDefaultSecurityTypes.begin(), kDefaultSecurityTypes.end()));
  control.set_SecurityTypes(u"VncAuth,None");
  EXPECT_EQ(viewer.SecurityTypes(), "VncAuth,None");
  control.set_UserName(u"j\u00f6rg");
  EXPECT_EQ(viewer.UserName(), "j\xf6rg") << "8-bit in the viewer";
  control.get_UserName(&text);
  EXPECT_EQ(*text, u"j\u00f6rg");
  control.set_CaFile(u"/etc/ca.pem");
  EXPECT_EQ(viewer.CaFile(), "/etc/ca.pem");
  control.set_CaFile(std::nullopt);
  EXPECT_EQ(control.get_CaFile(&text), kSOk);
  EXPECT_FALSE(text.has_value()) << "an empty string comes back as a null string";
  EXPECT_EQ(control.set_UserName(u"refuse"), kEInvalidArg) << "the guard covers the new members too";
  VariantBool encrypted = 5;
  EXPECT_EQ(control.get_Encrypted(&encrypted), kSOk);
  EXPECT_EQ(encrypted, 0);
  TTelorusX unbound(host);
  EXPECT_EQ(unbound.get_Protocol(&n), kEUnexpected);

  // The list is the viewer's to check, at Connect.
  control.set_SecurityTypes(u"VncAuth,Bogus");
  control.set_Server(u"127.0.0.1");
  control.set_Port(5900);
  EXPECT_EQ(control.Connect(), kSOk);
  EXPECT_EQ(host.fired, (Events{"202 Unknown security type: Bogus"}));
}

TEST(UnixTimeToDate, CountsDaysFrom1899WithTheTimeOfDayAsFraction) {
  EXPECT_EQ(UnixTimeToDate(0), 25569.0);
  EXPECT_EQ(UnixTimeToDate(86400 + 43200), 25570.5);
  EXPECT_EQ(UnixTimeToDate(1704067200), 45292.0);  // 2024-01-01 00:00 UTC
  // Before 1899-12-30 the whole days count back, the fraction still forward.
  EXPECT_EQ(UnixTimeToDate(-2209226400), -1.25);  // 1899-12-29 06:00
}

#ifdef TELORUS_CONTROL_TESTS_TLS
const std::string kTlsInit = rfb::ServerInit(4, 2, rfb::TrueColour32(), "tls desk");

// A VeNCrypt X509Vnc server with the certificate "stranger", whose issuer
// the viewer does not know; `accepted` plays on to a running session.
void PlayX509Vnc(TlsScriptedServer& tls, bool accepted) {
  tls.Send("RFB 003.008\n").Expect(12).Send(rfb::U8(1) + rfb::U8(19)).Expect(1).Send(rfb::U8(0) + rfb::U8(2));
  tls.Expect(2).Send(rfb::U8(0) + rfb::U8(1) + rfb::Be32(261)).Expect(4).Send(rfb::U8(1));
  tls.StartTls(Certificates().Path("stranger.pem"), Certificates().Path("leaf.key"));
  if (accepted)
    tls.Send(std::string(16, 'c')).Expect(16).Send(rfb::Be32(0)).Expect(1).Send(kTlsInit).Expect(8).Pause(2s);
  else
    tls.Send(std::string(16, 'c')).Pause(200ms).Close();
}

TEST_F(ControlTest, TheCertificateQuestionGoesToTheSecondSinkAndItsAnswerDecides) {
  REQUIRE_TEST_CERTIFICATES();
  control.set_Protocol(2);
  control.set_SecurityTypes(u"X509Vnc");
  control.set_Password(u"pw");
  control.set_Server(u"127.0.0.1");

  // Left as raised, Accept refuses: the session ends with the problem.
  {
    TlsScriptedServer tls;
    PlayX509Vnc(tls, false);
    tls.Start();
    control.set_Port(tls.Port());
    ASSERT_EQ(control.Connect(), kSOk);
    ASSERT_TRUE(RunUntil([&] { return !host.fired.empty() && host.fired.back() == "203"; }));
    ASSERT_TRUE(tls.WaitDone());
    EXPECT_EQ(tls.ReceivedOverTls(), "") << "no answer to the challenge";
    const auto asked = std::find_if(host.fired.begin(), host.fired.end(),
                                    [](const std::string& e) { return e.rfind("2:301|", 0) == 0; });
    ASSERT_NE(asked, host.fired.end());
    // Subject, Issuer, NotBefore and NotAfter as DATEs, Fingerprint, Problem, Accept.
    std::vector<std::string> fields;
    for (std::size_t from = 0, bar; from != std::string::npos; from = bar == std::string::npos ? bar : bar + 1) {
      bar = asked->find('|', from);
      fields.push_back(asked->substr(from, bar == std::string::npos ? bar : bar - from));
    }
    ASSERT_EQ(fields.size(), 8u) << *asked;
    EXPECT_NE(fields[1].find("vnc.test"), std::string::npos) << *asked;
    EXPECT_NE(fields[2].find("Telorus other CA"), std::string::npos) << *asked;
    EXPECT_EQ(fields[3], "45292.000000") << "2024-01-01 00:00 UTC";
    EXPECT_EQ(fields[4], "69399.000000") << "2090-01-01 00:00 UTC";
    EXPECT_EQ(fields[5].size(), 32u * 3 - 1) << "AB:CD:... of 32 bytes";
    EXPECT_EQ(fields[6], "The certificate is not trusted (issuer unknown)");
    EXPECT_EQ(fields[7], "&0");
    EXPECT_NE(std::find(asked, host.fired.end(), "202 The certificate is not trusted (issuer unknown)"),
              host.fired.end());
  }

  // Any non-zero answer accepts: the session runs, encrypted. The events of
  // the first interface stay on their own sink.
  host.fired.clear();
  host.acceptReply = 1;
  host.sinkConnected = false;
  {
    TlsScriptedServer tls;
    PlayX509Vnc(tls, true);
    tls.Start();
    control.set_Port(tls.Port());
    ASSERT_EQ(control.Connect(), kSOk);
    ASSERT_TRUE(RunUntil([&] { return viewer.IsSessionRunning(); }));
    VariantBool encrypted = 0;
    EXPECT_EQ(control.get_Encrypted(&encrypted), kSOk);
    EXPECT_EQ(encrypted, -1);
    ASSERT_EQ(host.fired.size(), 1u);
    EXPECT_EQ(host.fired[0].rfind("2:301|", 0), 0u) << host.fired[0];
    control.DisConnect();
  }

  // Without a sink for the second interface nobody accepts.
  host.fired.clear();
  host.sinkConnected = true;
  host.sink2Connected = false;
  {
    TlsScriptedServer tls;
    PlayX509Vnc(tls, false);
    tls.Start();
    control.set_Port(tls.Port());
    ASSERT_EQ(control.Connect(), kSOk);
    ASSERT_TRUE(RunUntil([&] { return !host.fired.empty() && host.fired.back() == "203"; }));
    EXPECT_NE(std::find(host.fired.begin(), host.fired.end(), "202 The certificate is not trusted (issuer unknown)"),
              host.fired.end());
    EXPECT_EQ(tls.ReceivedOverTls(), "");
  }
}
#endif

}  // namespace
}  // namespace telorus::test
