// telorus-viewer itself, run on the local display against real servers: its
// window shows the server's screen pixel for pixel (also on a HiDPI display),
// xdotool's input moves the remote pointer, turns its wheel and types into
// an xterm on the server (Shift, AltGr and German keys included), a server
// that wants a password, or a user name and password, gets them from the
// dialog, a certificate that does not verify is refused or accepted and
// remembered from its dialog, and the F8 menu reconnects, sends
// Ctrl+Alt+Del and stretches the picture.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "gtk/gtk_fixture.h"
#include "support/loopback.h"
#include "support/scripted_server.h"
#include "support/test_certificates.h"
#include "viewer/rfb_bytes.h"

namespace telorus::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class App {
 public:
  // With `errors`, the app's standard error goes to that file.
  App(std::vector<std::string> args, std::vector<std::string> env = {}, const std::string& errors = "") {
    args.insert(args.begin(), TELORUS_VIEWER_APP);
    if (!errors.empty()) args.insert(args.begin(), {"sh", "-c", "f=$1; shift; exec \"$@\" 2>\"$f\"", "sh", errors});
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
  // Whether no window is titled exactly `title` (any more) within the timeout.
  static bool WindowGone(const std::string& title) {
    const auto deadline = Clock::now() + 10s;
    while (!Local({"xdotool", "search", "--name", "^" + title + "$"}).empty()) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(100ms);
    }
    return true;
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

bool AwaitText(const std::string& path, const std::string& text) {
  const auto deadline = Clock::now() + 20s;
  while (Clock::now() < deadline) {
    if (ReadFile(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(100ms);
  }
  return false;
}

// A directory of its own, removed with everything in it.
struct TempDir {
  TempDir() {
    char name[] = "/tmp/telorus-app-XXXXXX";
    if (mkdtemp(name)) path = name;
  }
  ~TempDir() {
    if (!path.empty()) std::filesystem::remove_all(path);
  }
  std::string path;
};

// The SHA-256 fingerprint of a PEM certificate as certtool reckons it, in
// the viewer's "AB:CD:..." form.
std::string Fingerprint(const std::string& pem) {
  const std::string hex =
      RunWithDisplay(LocalDisplay(), {"certtool", "--fingerprint", "--hash", "sha256", "--infile", pem});
  std::string pairs;
  for (std::size_t i = 0; i + 1 < hex.size() && hex[i] != '\n'; i += 2) {
    if (!pairs.empty()) pairs += ':';
    pairs += static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i])));
    pairs += static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i + 1])));
  }
  return pairs;
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
  Process xev({"sh", "-c", "exec xev -root -event button > " + wheel},
              {"DISPLAY=:" + std::to_string(server.Display())});
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

TEST(ViewerApp, AsksForTheUserNameAndPasswordThatPlainWants) {
  Listener listener;
  App app({"127.0.0.1:" + listener.PortText(), "--security", "Plain"});
  // The server's side up to the choice of Plain (VeNCrypt 0.2, subtype 256);
  // what the viewer answered.
  auto offerPlain = [](Peer& peer) {
    peer.SendAll("RFB 003.008\n");
    std::string answered = peer.ReadExactly(12);
    peer.SendAll(rfb::U8(1) + rfb::U8(19));
    answered += peer.ReadExactly(1);
    peer.SendAll(rfb::U8(0) + rfb::U8(2));
    answered += peer.ReadExactly(2);
    peer.SendAll(rfb::U8(0) + rfb::U8(1) + rfb::Be32(256));
    return answered + peer.ReadExactly(4);
  };
  const std::string plainChosen = "RFB 003.008\n" + rfb::U8(19) + rfb::U8(0) + rfb::U8(2) + rfb::Be32(256);
  Peer first = listener.Accept(20s);
  ASSERT_TRUE(first.Valid());
  EXPECT_EQ(offerPlain(first), plainChosen);
  EXPECT_EQ(first.ReadToEnd(), "") << "nothing is sent before the user has answered";
  const unsigned long dialog = app.WaitWindow("User Name and Password");
  ASSERT_NE(dialog, 0u) << "a dialog asks for both";
  App::Local({"xdotool", "windowfocus", "--sync", std::to_string(dialog)});
  App::Local({"xdotool", "type", "--delay", "20", "alice"});
  App::Local({"xdotool", "key", "Tab"});
  App::Local({"xdotool", "type", "--delay", "20", "sesame"});
  App::Local({"xdotool", "key", "Return"});
  Peer second = listener.Accept(10s);
  ASSERT_TRUE(second.Valid()) << "connected again once answered";
  EXPECT_EQ(offerPlain(second), plainChosen);
  EXPECT_EQ(second.ReadExactly(8 + 11), rfb::Be32(5) + rfb::Be32(6) + "alicesesame");
  second.SendAll(rfb::Be32(0));
  EXPECT_EQ(second.ReadExactly(1).size(), 1u) << "ClientInit";
  second.SendAll(rfb::ServerInit(32, 24, rfb::TrueColour32(), "plain"));
  EXPECT_NE(app.WaitWindow("plain"), 0u) << "the session runs";
}

TEST(ViewerApp, RemembersAnAcceptedCertificateAndRefusesAChangedOne) {
  REQUIRE_TEST_CERTIFICATES();
  TempDir dir;
  ASSERT_FALSE(dir.path.empty());
  // Two certificates for 127.0.0.1 from CAs nobody trusts here.
  const std::string firstSha256 = Fingerprint(Certificates().Path("good.pem"));
  const std::string secondSha256 = Fingerprint(Certificates().Path("stranger.pem"));
  ASSERT_EQ(firstSha256.size(), 95u);
  ASSERT_NE(firstSha256, secondSha256);
  // The server reads its certificate file for each connection.
  auto serve = [&](const std::string& name) {
    std::filesystem::copy_file(Certificates().Path(name + ".pem"), dir.path + "/server.pem",
                               std::filesystem::copy_options::overwrite_existing);
  };
  serve("good");
  XvncServer server(320, 240, 24, "", "secure",
                    {"-SecurityTypes", "X509None", "-X509Cert", dir.path + "/server.pem", "-X509Key",
                     Certificates().Path("leaf.key")});
  ASSERT_TRUE(server.Ok()) << server.Problem();
  PaintTestPicture(server.Display(), 320, 240);
  const std::string target = "127.0.0.1:" + std::to_string(server.Port());
  const std::string knownCerts = dir.path + "/config/telorus/known_certs";
  const std::vector<std::string> env = {"XDG_CONFIG_HOME=" + dir.path + "/config"};
  {
    App app({target}, env, dir.path + "/errors-1");
    unsigned long dialog = app.WaitWindow("Certificate Not Verified");
    ASSERT_NE(dialog, 0u) << "the certificate is offered for acceptance";
    App::Local({"xdotool", "windowfocus", "--sync", std::to_string(dialog)});
    App::Local({"xdotool", "key", "Return"});
    EXPECT_TRUE(AwaitText(dir.path + "/errors-1", "The certificate of " + target + " was refused"))
        << "refused unless accepted: " << ReadFile(dir.path + "/errors-1");
    EXPECT_FALSE(std::filesystem::exists(dir.path + "/config")) << "a refused certificate is not remembered";
    ASSERT_TRUE(App::WindowGone("Certificate Not Verified"));
    // The error bar's Reconnect asks again.
    const unsigned long window = app.WaitWindow("telorus-viewer " + target);
    ASSERT_NE(window, 0u);
    App::Local({"xdotool", "mousemove", "--window", std::to_string(window), "50", "50"});
    App::Local({"xdotool", "windowfocus", "--sync", std::to_string(window)});
    App::Local({"xdotool", "key", "alt+r"});
    dialog = app.WaitWindow("Certificate Not Verified");
    ASSERT_NE(dialog, 0u);
    App::Local({"xdotool", "windowfocus", "--sync", std::to_string(dialog)});
    App::Local({"xdotool", "key", "alt+a"});  // _Accept and remember
    const unsigned long shown = app.WaitWindow("secure");
    ASSERT_NE(shown, 0u) << "connected: " << ReadFile(dir.path + "/errors-1");
    EXPECT_EQ(MatchServer(shown, server.Display(), 320, 240), 0u);
    EXPECT_EQ(ReadFile(knownCerts), target + " " + firstSha256 + "\n");
  }
  ASSERT_TRUE(App::WindowGone("secure"));
  {
    // The same certificate again: no question.
    App app({target}, env);
    EXPECT_NE(app.WaitWindow("secure"), 0u) << "a remembered certificate is taken as it is";
  }
  ASSERT_TRUE(App::WindowGone("secure"));
  serve("stranger");
  App app({target}, env, dir.path + "/errors-3");
  const std::string warning =
      "The certificate of " + target + " has changed since it was accepted (remembered SHA-256 " + firstSha256 +
      ", now " + secondSha256 + "). It may not be the same server: the connection was refused. Remove the line for " +
      target + " from " + knownCerts + " to accept the new one.";
  EXPECT_TRUE(AwaitText(dir.path + "/errors-3", warning)) << ReadFile(dir.path + "/errors-3");
  EXPECT_EQ(App::Local({"xdotool", "search", "--name", "^Certificate Not Verified$"}), "")
      << "a changed certificate is not offered for acceptance";
  EXPECT_EQ(App::Local({"xdotool", "search", "--name", "^secure$"}), "");
  EXPECT_EQ(ReadFile(knownCerts), target + " " + firstSha256 + "\n");
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
