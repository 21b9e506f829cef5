// Input against a scripted server: keys and the mouse as bytes on the wire,
// the host's events after them, the wheel, the clipboard both ways and the
// bell in the stream.
#include "session_fixture.h"

namespace telorus::test {
namespace {

using platform::MouseButtonKind;
using platform::WindowMessage;
using platform::WindowMessageKind;
using Kind = platform::WindowMessageKind;

constexpr int kFrameWidth = 1024, kFrameHeight = 768;

using rfb::KeyEvent;
std::string Press(std::uint32_t keysym) { return KeyEvent(true, keysym) + KeyEvent(false, keysym); }
std::string Pointer(int mask, int x, int y) {
  return rfb::U8(5) + rfb::U8(static_cast<std::uint32_t>(mask)) + rfb::Be16(static_cast<std::uint32_t>(x)) +
         rfb::Be16(static_cast<std::uint32_t>(y));
}

class InputTest : public ViewerSessionTest {
 protected:
  InputTest() : ViewerSessionTest(Chunking::Whole) {}

  void StartSession(const std::function<void()>& moreScript = {}) {
    window.Resize(512, 384);
    NoAuthHandshake(rfb::TrueColour32(), kFrameWidth, kFrameHeight);
    if (moreScript) moreScript();
    Go();
    ASSERT_TRUE(WaitEvent("Connected"));
    ASSERT_TRUE(RunUntil([&] { return server.Received().size() >= 21; }));
  }

  // What the viewer sends while `action` runs: an update request follows it
  // as a marker, and once the marker has arrived so has everything before.
  std::string SentBy(const std::function<void()>& action) {
    const std::size_t before = server.Received().size();
    action();
    viewer.UpdateRequest();
    const std::string tail = rfb::Be16(0) + rfb::Be16(0) + rfb::Be16(kFrameWidth) + rfb::Be16(kFrameHeight);
    EXPECT_TRUE(RunUntil([&] {
      const std::string r = server.Received();
      return r.size() >= before + 10 && r.compare(r.size() - 8, 8, tail) == 0 && r[r.size() - 10] == 3;
    }));
    const std::string r = server.Received();
    return r.substr(before, r.size() - before - 10);
  }
  void Key(bool down, std::uint16_t code, bool system = false) {
    window.Inject(WindowMessage::Key(down, code, system));
  }
  void Tap(std::uint16_t code, bool system = false) {
    Key(true, code, system);
    Key(false, code, system);
  }
  void Mouse(Kind kind, int x, int y, std::uint32_t flags, MouseButtonKind button = MouseButtonKind::Left) {
    window.Inject(WindowMessage::Mouse(kind, x, y, flags, button));
  }
  void Click(MouseButtonKind button, std::uint32_t flag, int x, int y) {
    Mouse(Kind::ButtonDown, x, y, flag, button);
    Mouse(Kind::ButtonUp, x, y, 0, button);
  }
};

TEST_F(InputTest, KeysGoOutAsKeysymsWithTheCaseOfShiftAndCapsLock) {
  StartSession();
  std::string sent = SentBy([&] {
    window.SetKeyState({.leftShift = true, .shift = true});
    Tap('A');
    window.SetKeyState({.leftShift = true, .shift = true, .capsLock = true});
    Tap('A');
    window.SetKeyState({.capsLock = true});
    Tap('A');
    window.SetKeyState({.shift = true});  // the right Shift key only
    Tap('A');
    // The case is decided again at the release.
    window.SetKeyState({.leftShift = true, .shift = true});
    Key(true, 'Q');
    window.SetKeyState({});
    Key(false, 'Q');
  });
  EXPECT_EQ(sent, Press('A') + Press('a') + Press('A') + Press('a') + KeyEvent(true, 'Q') + KeyEvent(false, 'q'));

  sent = SentBy([&] {
    for (std::uint16_t code : {0x11, 0x5B, 0x5C, 0x5D, 0x31, 0x60, 0x6F, 0x70, 0x7F, 0xBA, 0xDE, 0x2E, 0x0D, 0x90})
      Tap(code);
    Tap(0x12, true);  // Alt and F4 as system keys
    Tap(0x73, true);
  });
  EXPECT_EQ(sent, Press(0xFFE3) + Press(0xFFEB) + Press(0xFFEC) + Press(0xFF67) + Press('1') + Press(0xFFB0) +
                      Press(0xFFAF) + Press(0xFFBE) + Press(0xFFCD) + Press(';') + Press('\'') + Press(0xFFFF) +
                      Press(0xFF0D) + Press(0x90) + Press(0xFFE9) + Press(0xFFC1));
}

TEST_F(InputTest, AKeysymFromTheWindowGoesAsItIsAndTheHostSeesTheKeysCode) {
  StartSession();
  std::vector<std::uint16_t> hostCodes;
  viewer.OnKeyDown = [&](TObject*, std::uint16_t& key, TShiftState) { hostCodes.push_back(key); };
  // AltGr+Q on a German keyboard types '@'; a key of another layout types
  // 'ü': neither has a virtual-key code that the table would turn into it.
  auto withKeysym = [](bool down, std::uint16_t code, std::uint32_t keysym) {
    WindowMessage m = WindowMessage::Key(down, code);
    m.keysym = keysym;
    return m;
  };
  window.SetKeyState({.leftShift = true, .shift = true});  // no case rule applies to a keysym
  const std::string sent = SentBy([&] {
    window.Inject(withKeysym(true, 'Q', '@'));
    window.Inject(withKeysym(false, 'Q', '@'));
    window.Inject(withKeysym(true, 0, 0xFC));
    window.Inject(withKeysym(false, 0, 0xFC));
  });
  EXPECT_EQ(sent, Press('@') + Press(0xFC));
  EXPECT_EQ(hostCodes, (std::vector<std::uint16_t>{'Q', 0}));
}

TEST_F(InputTest, HostKeyEventsComeAfterTheServerHasTheKey) {
  StartSession();
  Events seen;
  viewer.OnKeyDown = [&](TObject*, std::uint16_t& key, TShiftState shift) {
    seen.push_back("down " + std::to_string(key) + " " + std::to_string(shift));
    viewer.SetTransferKeys(false);  // too late for this key: it went out already
  };
  viewer.OnKeyUp = [&](TObject*, std::uint16_t& key, TShiftState) { seen.push_back("up " + std::to_string(key)); };
  viewer.OnKeyPress = [&](TObject*, char& key) {
    seen.push_back(std::string("press ") + key);
    if (key == 'a') key = 'b';
  };
  window.SetKeyState({.control = true});
  const std::string sent = SentBy([&] {
    Key(true, 0x24);
    EXPECT_EQ(window.Inject(WindowMessage::Character('a')).key, 'b') << "the host replaced the character";
    EXPECT_EQ(window.Inject(WindowMessage::Character('z')).key, 'z');
    Key(false, 0x24);
  });
  EXPECT_EQ(sent, KeyEvent(true, 0xFF50));
  EXPECT_EQ(seen, (Events{"down 36 4", "press a", "press z", "up 36"}));
}

TEST_F(InputTest, NothingIsForwardedWhenOffBeforeTheSessionOrInADesigner) {
  int hostEvents = 0;
  viewer.OnKeyDown = [&](TObject*, std::uint16_t&, TShiftState) { ++hostEvents; };
  viewer.OnMouseDown = [&](TObject*, TMouseButton, TShiftState, std::int32_t, std::int32_t) { ++hostEvents; };
  Tap('A');
  Click(MouseButtonKind::Left, platform::kMkLButton, 5, 5);
  StartSession();
  EXPECT_EQ(server.Received(), std::string("RFB 003.003\n") + '\0' + rfb::SetEncodings(5))
      << "input before the session is lost for the server";
  viewer.SetTransferKeys(false);
  viewer.SetTransferMouse(false);
  EXPECT_EQ(SentBy([&] {
              Tap('A');
              Click(MouseButtonKind::Left, platform::kMkLButton, 5, 5);
            }),
            "");
  viewer.SetTransferKeys(true);
  viewer.SetTransferMouse(true);
  viewer.SetDesigning(true);
  window.LoseFocus();
  EXPECT_EQ(SentBy([&] {
              Tap('A');
              Click(MouseButtonKind::Left, platform::kMkLButton, 5, 5);
            }),
            "");
  EXPECT_FALSE(window.Focused()) << "a designer's clicks do not take the focus";
  EXPECT_EQ(hostEvents, 6) << "the host saw every key and button";
}

TEST_F(InputTest, PointerMaskAndPositionInBothModes) {
  StartSession();
  Events seen;
  viewer.OnMouseDown = [&](TObject*, TMouseButton b, TShiftState s, std::int32_t x, std::int32_t y) {
    seen.push_back("down " + std::to_string(b) + " " + std::to_string(s) + " " + std::to_string(x) + "," +
                   std::to_string(y));
  };
  viewer.OnMouseUp = [&](TObject*, TMouseButton b, TShiftState, std::int32_t, std::int32_t) {
    seen.push_back("up " + std::to_string(b));
  };
  viewer.OnClick = [&](TObject*) { seen.push_back("click"); };
  using platform::kMkLButton, platform::kMkRButton, platform::kMkMButton, platform::kMkShift, platform::kMkControl;
  std::string sent = SentBy([&] {
    Mouse(Kind::MouseMove, 3, 4, 0);
    EXPECT_FALSE(window.Focused()) << "moves do not take the focus";
    Click(MouseButtonKind::Left, kMkLButton | kMkShift, 10, 20);
    EXPECT_TRUE(window.Focused());
    Click(MouseButtonKind::Right, kMkRButton | kMkControl, 10, 20);
    Mouse(Kind::ButtonDown, 1, 1, kMkLButton);
    Mouse(Kind::ButtonDown, 1, 1, kMkLButton | kMkRButton, MouseButtonKind::Right);
    Mouse(Kind::ButtonUp, 1, 1, kMkLButton, MouseButtonKind::Right);
    Mouse(Kind::ButtonUp, 600, 1, 0);  // released outside the window: no click
    Click(MouseButtonKind::Middle, kMkMButton, 2, 2);
    // A double click's second press reaches the server as a press.
    Mouse(Kind::DoubleClick, 7, 7, kMkLButton);
    Mouse(Kind::ButtonUp, 7, 7, 0);
    Mouse(Kind::MouseMove, -5, -9, kMkLButton);  // a captured drag beyond the top-left corner
  });
  EXPECT_EQ(sent, Pointer(0, 3, 4) + Pointer(1, 10, 20) + Pointer(0, 10, 20) + Pointer(4, 10, 20) + Pointer(0, 10, 20) +
                      Pointer(1, 1, 1) + Pointer(5, 1, 1) + Pointer(1, 1, 1) + Pointer(0, 600, 1) + Pointer(2, 2, 2) +
                      Pointer(0, 2, 2) + Pointer(1, 7, 7) + Pointer(0, 7, 7) + Pointer(1, 0, 0));
  EXPECT_EQ(seen[0], "down 0 9 10,20") << "left button with Shift";
  EXPECT_EQ(seen[1], "click") << "the click comes before the release's event";
  EXPECT_EQ(seen[2], "up 0");
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "click"), 1) << "none for a release outside, none for a double click";
  EXPECT_EQ(seen[seen.size() - 2], "down 0 72 7,7") << "the double click is marked";

  // One to one the offsets are added; stretched, the click goes back through
  // the picture's scale.
  viewer.SetxPosition(300);
  EXPECT_EQ(SentBy([&] { Mouse(Kind::MouseMove, 100, 50, 0); }), Pointer(0, 400, 50));
  viewer.SetStretch(true);
  EXPECT_EQ(SentBy([&] { Mouse(Kind::MouseMove, 100, 50, 0); }), Pointer(0, 200, 100));
  window.Resize(800, 600);  // 1024 x 768 shown at 4/5
  EXPECT_EQ(SentBy([&] { Mouse(Kind::MouseMove, 799, 599, 0); }), Pointer(0, 999, 749));
}

TEST_F(InputTest, TheWheelIsOffByDefaultThenSendsButtonsFourToSeven) {
  StartSession();
  auto wheel = [&](int delta, bool horizontal = false) {
    window.Inject(WindowMessage::WheelTurn(delta, 30, 40, 0, horizontal));
  };
  EXPECT_EQ(SentBy([&] { wheel(120); }), "");
  viewer.SetTransferWheel(true);
  const std::string sent = SentBy([&] {
    wheel(240);
    wheel(-120);
    wheel(60);  // half a notch, then the other half
    wheel(60);
    wheel(120, true);
    window.Inject(WindowMessage::WheelTurn(-120, 30, 40, platform::kMkLButton));
  });
  const std::string up = Pointer(8, 30, 40) + Pointer(0, 30, 40);
  EXPECT_EQ(sent, up + up + Pointer(16, 30, 40) + Pointer(0, 30, 40) + up + Pointer(64, 30, 40) + Pointer(0, 30, 40) +
                      Pointer(17, 30, 40) + Pointer(1, 30, 40));
}

// How often `what` occurs in `text`.
std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(InputTest, ClipboardBothWaysWithoutEchoingTheServersText) {
  clipboard.SetText("local");
  StartSession([&] {
    server.Pause(300ms).Send(rfb::ServerCutText("a\nb\r\nc"));
    // With the server clipboard off the text is dropped; the bell marks it.
    server.Pause(300ms).Send(rfb::ServerCutText("dropped") + rfb::Bell());
  });
  viewer.SetEnableBell(true);
  viewer.SetFrameUpdateDelay(20);
  viewer.SetRequestFreames(true);
  ASSERT_TRUE(RunUntil([&] { return clipboard.Text() == "a\r\nb\r\nc"; }));
  viewer.SetTransferServerClipBoard(false);
  ASSERT_TRUE(RunUntil([&] { return bell.Beeps() == 1; }));
  EXPECT_EQ(clipboard.Text(), "a\r\nb\r\nc");
  // Some ticks later nothing but the first local text has gone out.
  Settle();
  clipboard.SetText("x\r\ny");
  auto cutText = [](const std::string& text) {
    return rfb::U8(6) + std::string(3, '\0') + rfb::Be32(static_cast<std::uint32_t>(text.size() + 1)) + text + '\0';
  };
  ASSERT_TRUE(RunUntil([&] { return Occurrences(server.Received(), cutText("x\r\ny")) == 1; }));
  Settle();
  const std::string sent = server.Received();
  EXPECT_EQ(Occurrences(sent, rfb::U8(6) + std::string(3, '\0')), 2u) << "two texts went out";
  EXPECT_EQ(Occurrences(sent, cutText("local")), 1u);
  EXPECT_EQ(Occurrences(sent, cutText("x\r\ny")), 1u);
}

TEST_F(InputTest, ABellEndsNothingInTheRead) {
  // Each bell arrives in one read with an update behind it, and nothing
  // follows: the update must be shown all the same, with or without the
  // bell's sound.
  const auto fmt = rfb::TrueColour32();
  const std::string update =
      rfb::UpdateHeader(1) + rfb::RectHeader(0, 0, 1, 1, 0) + rfb::RawPixels(fmt, {rfb::Rgb(1, 2, 3)});
  viewer.SetEnableBell(true);
  viewer.OnUpdateComplete = [&](TObject*) {
    ++updates;
    viewer.SetEnableBell(false);
  };
  StartSession([&] { server.Send(rfb::Bell() + update).Pause(200ms).Send(rfb::Bell() + update); });
  ASSERT_TRUE(RunUntil([&] { return updates == 2; }));
  EXPECT_EQ(bell.Beeps(), 1);
  EXPECT_EQ(viewer.Framebuffer()->Surface().GetPixel(0, 0), rfb::Rgb(1, 2, 3));
}

}  // namespace
}  // namespace telorus::test
