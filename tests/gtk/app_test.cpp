// telorus-viewer itself, run on the local display against real servers: its
// window shows the server's screen pixel for pixel (also on a HiDPI display),
// xdotool's input moves the remote pointer, turns its wheel and types into
// an xterm on the server (Shift, AltGr and German keys included), a server
// that wants a password gets it from the dialog, and the F8 menu reconnects,
// sends Ctrl+Alt+Del and stretches the picture.
#include <fstream>
#include <sstream>
#include <thread>

#include "gtk/gtk_fixture.h"
#include "support/loopback.h"
#include "support/scripted_server.h"
#include "viewer/rfb_bytes.h"

namespace telorus::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class App {
 public:
  App(std::vector<std::string> args, std::vector<std::string> env = {}) {
    args.insert(args.begin(), TELORUS_VIEWER_APP);
    env.push_back("DISPLAY=:" + std::to_string(LocalDisplay()));
    env.push_back("GDK_BACKEND=x11");
    process_ = Process(args, env);
  }
  // The X window whose title is exactly `title`, 0 if none shows in time.
  unsigned long WaitWindow(const std::string& title, std::chrono::seconds timeout = 20s) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      std::string ids = Local({"xdotool", "search", "--name", "^" + title + "$"});
      if (!ids.empty()) return std::stoul(ids);
      std::this_thread::sleep_for(100ms);
    }
    return 0;
  }
  bool Running() { return process_.Running(); }
  static std::string Local(const std::vector<std::string>& argv) { return RunWithDisplay(LocalDisplay(), argv); }

 private:
  Process process_;
};

// Captures the window until its top-left width x height equal the server's
// screen; the number of differing pixels at the end.
std::size_t MatchServer(unsigned long window, int display, int width, int height) {
  std::size_t diff = SIZE_MAX;
  const auto deadline = Clock::now() + 20s;
  while (Clock::now() < deadline) {
    const ScreenImage screen = CaptureScreen(display);
    int status = -1;
    const std::string data = RunWithDisplay(LocalDisplay(), {"xwd", "-id", std::to_string(window), "-silent"}, &status);
    if (status == 0) {
      const ScreenImage shown = ParseXwd(data);
      diff = CountDifferences(shown, width, height, [&](int x, int y) { return screen.At(x, y); });
      if (diff == 0) return 0;
    }
    std::this_thread::sleep_for(200ms);
  }
  return diff;
}

std::string ServerPointer(int display) { return RunWithDisplay(display, {"xdotool", "getmouselocation"}); }

bool AwaitPointer(int display, int x, int y) {
  const std::string want = "x:" + std::to_string(x) + " y:" + std::to_string(y) + " ";
  const auto deadline = Clock::now() + 10s;
  while (Clock::now() < deadline) {
    if (ServerPointer(display).rfind(want, 0) == 0) return true;
    std::this_thread::sleep_for(100ms);
  }
  return false;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool AwaitFile(const std::string& path, const std::string& content) {
  const auto deadline = Clock::now() + 10s;
  while (Clock::now() < deadline) {
    if (ReadFile(path) == content) return true;
    std::this_thread::sleep_for(100ms);
  }
  return false;
}

TEST(ViewerApp, ShowsTheScreenMovesThePointerTurnsTheWheelAndTypes) {
  XvncServer server(640, 480, 24, "", "telorus-test");
  ASSERT_TRUE(server.Ok()) << server.Problem();
  PaintTestPicture(server.Display(), 640, 480);
  const std::string typed = "/tmp/telorus-typed-" + std::to_string(server.Display());
  const std::string wheel = "/tmp/telorus-wheel-" + std::to_string(server.Display());
  std::remove(typed.c_str());
  // An xterm on the server writes what it is typed into a file, byte for
  // byte as its ISO-8859-1 locale makes the characters.
  Process xterm({"xterm", "-geometry", "30x4+400+300", "-e", "sh", "-c", "stty -echo; cat > " + typed},
                {"DISPLAY=:" + std::to_string(server.Display()), "LC_ALL=C"});
  std::this_thread::sleep_for(1s);

  App app({"127.0.0.1:" + std::to_string(server.Port())});
  const unsigned long window = app.WaitWindow("telorus-test");
  ASSERT_NE(window, 0u) << "the window is titled with the desktop name";
  EXPECT_EQ(MatchServer(window, server.Display(), 640, 480), 0u);

  // The wheel over the root window: xev on the server sees buttons 4 and 5.
  Process xev({"sh", "-c", "exec xev -root -event button > " + wheel}, {"DISPLAY=:" + std::to_string(server.Display())});
  std::this_thread::sleep_for(500ms);
  App::Local({"xdotool", "mousemove", "--window", std::to_string(window), "100", "120"});
  EXPECT_TRUE(AwaitPointer(server.Display(), 100, 120)) << ServerPointer(server.Display());
  App::Local({"xdotool", "click", "4", "click", "5"});
  std::this_thread::sleep_for(700ms);
  const std::string buttons = ReadFile(wheel);
  EXPECT_NE(buttons.find("button 4,"), std::string::npos) << buttons;
  EXPECT_NE(buttons.find("button 5,"), std::string::npos) << buttons;
  xev.Stop();
  std::remove(wheel.c_str());

  // Over the xterm, on a German keyboard: Shift, AltGr and the umlaut keys.
  App::Local({"setxkbmap", "de"});
  App::Local({"xdotool", "mousemove", "--window", std::to_string(window), "480", "320"});
  ASSERT_TRUE(AwaitPointer(server.Display(), 480, 320));
  App::Local({"xdotool", "windowfocus", "--sync", std::to_string(window)});
  App::Local({"xdotool", "type", "--delay", "30", "Hello World!"});
  App::Local({"xdotool", "keydown", "ISO_Level3_Shift", "key", "q", "keyup", "ISO_Level3_Shift"});
  App::Local({"xdotool", "key", "--delay", "30", "shift+7", "udiaeresis", "Return"});
  App::Local({"setxkbmap", "us"});
  EXPECT_TRUE(AwaitFile(typed, "Hello World!@/\xFC\n")) << "typed: " << ReadFile(typed);
  std::remove(typed.c_str());
}

TEST(ViewerApp, OnAHiDpiDisplayOneRemotePixelIsOneDevicePixel) {
  XvncServer server(320, 240, 24, "", "hidpi");
  ASSERT_TRUE(server.Ok()) << server.Problem();
  PaintTestPicture(server.Display(), 320, 240);
  App app({"127.0.0.1:" + std::to_string(server.Port())}, {"GDK_SCALE=2"});
  const unsigned long window = app.WaitWindow("hidpi");
  ASSERT_NE(window, 0u);
  EXPECT_EQ(MatchServer(window, server.Display(), 320, 240), 0u);
  // Pointer positions are device pixels as well.
  App::Local({"xdotool", "mousemove", "--window", std::to_string(window), "201", "77"});
  EXPECT_TRUE(AwaitPointer(server.Display(), 201, 77)) << ServerPointer(server.Display());
}

TEST(ViewerApp, AsksForThePasswordTheServerWants) {
  XvncServer server(320, 240, 24, "sesame", "locked");
  ASSERT_TRUE(server.Ok()) << server.Problem();
  App app({"127.0.0.1:" + std::to_string(server.Port())});
  const unsigned long dialog = app.WaitWindow("Password");
  ASSERT_NE(dialog, 0u) << "a password dialog";
  App::Local({"xdotool", "windowfocus", "--sync", std::to_string(dialog)});
  App::Local({"xdotool", "type", "--delay", "20", "sesame"});
  App::Local({"xdotool", "key", "Return"});
  EXPECT_NE(app.WaitWindow("locked"), 0u) << "connected with the password typed";
}

TEST(ViewerApp, TheErrorBarAndTheF8MenuReconnectWithTheSameSettings) {
  // A server that hangs up at once: the viewer shows the problem and stays.
  Listener listener;
  App app({"127.0.0.1:" + listener.PortText(), "--codec", "raw"});
  Peer first = listener.Accept(20s);
  ASSERT_TRUE(first.Valid());
  first.Close();
  const unsigned long window = app.WaitWindow("telorus-viewer 127.0.0.1:" + listener.PortText());
  ASSERT_NE(window, 0u);
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(app.Running()) << "a lost connection does not end the viewer";
  App::Local({"xdotool", "mousemove", "--window", std::to_string(window), "50", "50"});
  App::Local({"xdotool", "windowfocus", "--sync", std::to_string(window)});
  App::Local({"xdotool", "key", "alt+r"});  // the error bar's _Reconnect button
  Peer second = listener.Accept(10s);
  ASSERT_TRUE(second.Valid()) << "the error bar's button connects again";
  second.Close();
  std::this_thread::sleep_for(500ms);
  App::Local({"xdotool", "key", "F8"});
  std::this_thread::sleep_for(500ms);
  App::Local({"xdotool", "key", "r"});  // the menu's _Reconnect
  Peer third = listener.Accept(10s);
  EXPECT_TRUE(third.Valid()) << "connected again to the same server";
}

TEST(ViewerApp, TheF8MenuSendsCtrlAltDelAndStretchesThePicture) {
  // A 64x48 screen, red on the left half and blue on the right.
  constexpr int kWidth = 64, kHeight = 48;
  const rfb::PixelFormat format = rfb::TrueColour32();
  std::vector<std::uint32_t> picture(kWidth * kHeight);
  const std::uint32_t kRed = rfb::Rgb(255, 0, 0), kBlue = rfb::Rgb(0, 0, 255);
  for (int i = 0; i < kWidth * kHeight; ++i) picture[i] = i % kWidth < kWidth / 2 ? kRed : kBlue;
  ScriptedServer server;
  server.Send("RFB 003.003\n").Expect(12).Send(rfb::Be32(1)).Expect(1);
  server.Send(rfb::ServerInit(kWidth, kHeight, format, "menu")).Expect(8);
  server.Send(rfb::UpdateHeader(1) + rfb::RectHeader(0, 0, kWidth, kHeight, 0) + rfb::RawPixels(format, picture));
  server.Start();
  App app({"127.0.0.1:" + std::to_string(server.Port()), "--codec", "raw", "--nearest"});
  const unsigned long window = app.WaitWindow("menu");
  ASSERT_NE(window, 0u) << "connected: the desktop name is the title";
  const std::string id = std::to_string(window);
  // Wider than the picture: one to one, x = 200 is beyond it.
  App::Local({"xdotool", "windowsize", "--sync", id, "256", "200"});
  App::Local({"xdotool", "mousemove", "--window", id, "20", "20"});
  App::Local({"xdotool", "windowfocus", "--sync", id});
  // The colour at (x, y) of the window, or ~0 when there is none.
  auto shown = [&](int x, int y) -> std::uint32_t {
    int status = -1;
    const std::string data = RunWithDisplay(LocalDisplay(), {"xwd", "-id", id, "-silent"}, &status);
    if (status != 0) return ~0u;
    const ScreenImage image = ParseXwd(data);
    return x < image.width && y < image.height ? image.At(x, y) & 0xFFFFFF : ~0u;
  };
  auto waitShown = [&](int x, int y, std::uint32_t colour) {
    const auto deadline = Clock::now() + 10s;
    while (Clock::now() < deadline && shown(x, y) != colour) std::this_thread::sleep_for(100ms);
    return shown(x, y);
  };
  ASSERT_EQ(waitShown(20, 10, kRed), kRed) << "the picture is shown";
  EXPECT_NE(shown(200, 10), kBlue) << "one to one, the picture ends at x = 64";

  App::Local({"xdotool", "key", "F8"});
  std::this_thread::sleep_for(500ms);
  App::Local({"xdotool", "key", "d"});  // Send Ctrl+Alt+_Del
  using rfb::KeyEvent;
  const std::string ctrlAltDel = KeyEvent(true, 0xFFE3) + KeyEvent(true, 0xFFE9) + KeyEvent(true, 0xFFFF) +
                                 KeyEvent(false, 0xFFFF) + KeyEvent(false, 0xFFE9) + KeyEvent(false, 0xFFE3);
  const auto deadline = Clock::now() + 10s;
  while (Clock::now() < deadline && server.Received().find(ctrlAltDel) == std::string::npos)
    std::this_thread::sleep_for(100ms);
  EXPECT_NE(server.Received().find(ctrlAltDel), std::string::npos) << "Ctrl, Alt and Delete pressed and released";

  App::Local({"xdotool", "key", "F8"});
  std::this_thread::sleep_for(500ms);
  App::Local({"xdotool", "key", "s"});  // _Stretch to the window
  EXPECT_EQ(waitShown(200, 10, kBlue), kBlue) << "stretched, the right half reaches across the window";
  EXPECT_EQ(shown(20, 10), kRed);
  EXPECT_TRUE(app.Running());
}

}  // namespace
}  // namespace telorus::test
