// TTelorusX against a real viewer on a headless window, with a host that
// converts strings as Latin-1 and records the events it is asked to fire:
// the conversions of every kind of member, the guard's failures, the base
// members and the events of a session with their arguments.
#include <gtest/gtest.h>

#include "control/TelorusImpl.h"
#include "viewer/session_fixture.h"

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
  void FireEvent(std::int32_t dispid, std::vector<EventArgument>& arguments) override {
    if (!sinkConnected) return;
    std::string line = std::to_string(dispid);
    for (EventArgument& a : arguments) {
      line += " ";
      if (a.kind == EventArgument::Kind::Long) line += std::to_string(a.number);
      if (a.kind == EventArgument::Kind::String) line += ToAnsi(a.text);
      if (a.kind == EventArgument::Kind::ShortByReference) {
        line += "&" + std::to_string(*a.reference);
        if (keyReply) *a.reference = *keyReply;
      }
    }
    fired.push_back(line);
  }
  void SetErrorInfo(const std::u16string& description, std::uint32_t) override { error = ToAnsi(description); }

  bool sinkConnected = true;
  std::optional<std::int16_t> keyReply;
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

}  // namespace
}  // namespace telorus::test
