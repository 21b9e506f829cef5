// The viewer against real RFB servers started here on loopback: x11vnc on
// Xvfb and TigerVNC's Xvnc, with and without a password, at several depths,
// in RFB 3.3 and, with every security type they offer, 3.8. The framebuffer
// must equal what the X server itself reports (xwd), pixel for pixel.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/headless/headless_window.h"
#include "support/loop_check.h"
#ifndef _WIN32
#include "support/test_certificates.h"
#endif
#include "support/x_servers.h"
#include "viewer/Telorus.h"
#include "viewer/compressed_decoders.h"

namespace telorus::test {
namespace {

using namespace viewer;
using namespace std::chrono_literals;

// A viewer session against a real server, run on the test's loop.
class Session {
 public:
  Session(std::uint16_t port, const std::string& password, TVNCCodec codec, TemuPixelFmt format = VNCAuto,
          const std::function<void(TQuarneTelorus&)>& configure = {}) {
    v.SetServer("127.0.0.1");
    v.SetPort(port);
    v.SetPassword(password);
    v.SetCodec(codec);
    if (format == VNC8Bit) v.SetPixelFormat(VNC8Bit);
    v.OnStatus = [this](TObject*, const std::string& t) { statuses.push_back(t); };
    v.OnConnectError = [this](TObject*, const std::string& t) { error = t; };
    v.OnAuthFail = [this](TObject*) { authFailed = true; };
    v.OnConnectClose = [this](TObject*) { closed = true; };
    v.OnUpdateComplete = [this](TObject*) { ++updates; };
    v.OnCertificate = [this](TObject*, const CertificateInfo& c, bool&) { certificateProblem = c.problem; };
    if (configure) configure(v);
    v.Connect();
  }
  ~Session() {
    v.DisConnect();
    platform::PumpPending();
  }
  bool WaitRunning() {
    return RunLoopUntil([&] { return v.IsSessionRunning() || closed || !error.empty(); }, 20s) && v.IsSessionRunning();
  }
  // Requests updates until the framebuffer matches the screen, or the
  // timeout passes; returns the number of differing pixels at the end.
  std::size_t MatchScreen(int display, std::chrono::seconds timeout = 30s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t diff = SIZE_MAX;
    bool full = true;
    while (std::chrono::steady_clock::now() < deadline) {
      int before = updates;
      if (full) v.UpdateRequest();
      full = false;
      RunLoopUntil([&] { return updates > before || closed; }, 3s);
      if (closed) return diff;
      diff = Differences(CaptureScreen(display));
      if (diff == 0) return 0;
      v.UpdateRequest();
    }
    return diff;
  }
  std::size_t Differences(const ScreenImage& screen) {
    const FrameBitmap* fb = v.Framebuffer();
    if (!fb || fb->Width() != screen.width || fb->Height() != screen.height) return SIZE_MAX;
    std::size_t n = 0;
    for (int y = 0; y < screen.height; ++y)
      for (int x = 0; x < screen.width; ++x) n += fb->Surface().GetPixel(x, y) != screen.At(x, y);
    return n;
  }

  platform::HeadlessWindow window{1024, 768};
  platform::HeadlessClipboard clipboard;
  platform::HeadlessBell bell;
  TQuarneTelorus v{window, clipboard, bell};
  std::vector<std::string> statuses;
  std::string error;
  bool authFailed = false;
  std::string certificateProblem;
  bool closed = false;
  int updates = 0;
};

// Puts recognisable content on the screen: a root colour and an image with
// gradients, flat areas and noise, set as the root background.
void PaintTestPicture(int display, int width, int height) {
  std::string image = "/tmp/telorus-test-picture-" + std::to_string(display) + ".png";
  // `display` stays to keep the picture on the root window, in the
  // background and away from the output that RunWithDisplay reads.
  std::string cmd = "(convert -size " + std::to_string(width) + "x" + std::to_string(height) +
                    " gradient:'#102030-#a0c0e0' -fill '#ff8000' -draw 'rectangle 40,40 300,200'"
                    " -fill white -draw 'rectangle 320,60 700,400' \\( -size 200x150 plasma:fractal -seed 3 \\)"
                    " -geometry +400+420 -composite " +
                    image + " && display -window root " + image + ") >/dev/null 2>&1 &";
  int status = -1;
  RunWithDisplay(display, {"sh", "-c", cmd}, &status);
  ASSERT_EQ(status, 0);
  std::this_thread::sleep_for(1500ms);
  RunWithDisplay(display, {"rm", "-f", image});  // the root window keeps the picture
}

struct ServerCase {
  const char* name;
  bool xvnc;
  int depth;
  const char* password;
  TVNCCodec codec;
};

class RealServerTest : public ::testing::TestWithParam<ServerCase> {};

TEST_P(RealServerTest, FramebufferEqualsTheScreen) {
  const ServerCase& c = GetParam();
  std::unique_ptr<X11VncServer> x11;
  std::unique_ptr<XvncServer> xvnc;
  std::uint16_t port;
  int display;
  if (c.xvnc) {
    xvnc = std::make_unique<XvncServer>(800, 600, c.depth, c.password);
    ASSERT_TRUE(xvnc->Ok()) << xvnc->Problem();
    port = xvnc->Port();
    display = xvnc->Display();
  } else {
    x11 = std::make_unique<X11VncServer>(800, 600, c.depth, c.password);
    ASSERT_TRUE(x11->Ok()) << x11->Problem();
    port = x11->Port();
    display = x11->Display();
  }
  PaintTestPicture(display, 800, 600);
  Session s(port, c.password, c.codec);
  ASSERT_TRUE(s.WaitRunning()) << s.error;
  EXPECT_EQ(s.v.RemoteDeskWidth(), 800);
  EXPECT_EQ(s.MatchScreen(display), 0u);
  EXPECT_FALSE(s.authFailed);
  // The compressed encodings were used: the whole session took less than
  // half of one screen in raw pixels.
  if (c.codec >= vncZlib) {
    EXPECT_LT(s.v.BytesReceived(), 800u * 600u * (c.depth == 16 ? 2u : 4u) / 2);
  }
}

const ServerCase kCases[] = {
    {"x11vnc24_raw", false, 24, "", vncRAW},
    {"x11vnc24_rre", false, 24, "", vncRRE},
    {"x11vnc24_corre", false, 24, "", vncCoRRE},
    {"x11vnc24_hextile_password", false, 24, "sesame", vncHextile},
    {"x11vnc16_hextile", false, 16, "", vncHextile},
    {"x11vnc16_raw_password", false, 16, "pw16", vncRAW},
    {"xvnc24_hextile", true, 24, "", vncHextile},
    {"xvnc24_rre_password", true, 24, "tiger", vncRRE},
    {"xvnc16_raw", true, 16, "", vncRAW},
    {"xvnc16_hextile_password", true, 16, "tiger16", vncHextile},
    // The compressed encodings, lossless.
    {"x11vnc24_zlib", false, 24, "", vncZlib},
    {"x11vnc16_zrle", false, 16, "", vncZRLE},
    {"x11vnc24_zrle", false, 24, "", vncZRLE},
    {"x11vnc24_tight", false, 24, "", vncTight},
    {"x11vnc16_tight_password", false, 16, "pw16", vncTight},
    {"xvnc24_zrle", true, 24, "", vncZRLE},
    {"xvnc16_zrle", true, 16, "", vncZRLE},
    {"xvnc24_tight", true, 24, "", vncTight},
    {"xvnc16_tight", true, 16, "", vncTight},
    {"xvnc24_tight_password", true, 24, "tiger", vncTight},
    {"x11vnc16_zlib", false, 16, "", vncZlib},  // TigerVNC has no Zlib
};

INSTANTIATE_TEST_SUITE_P(Servers, RealServerTest, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

// The same screen in 8-bit colour through each compressed encoding and
// through Hextile: the server quantises, so the pictures must be the same.
TEST(RealServer8Bit, CompressedEncodingsEqualHextile) {
  XvncServer server(640, 480, 24);
  ASSERT_TRUE(server.Ok()) << server.Problem();
  PaintTestPicture(server.Display(), 640, 480);
  auto picture = [&](TVNCCodec codec) {
    Session s(server.Port(), "", codec, VNC8Bit);
    std::vector<platform::Colour> pixels;
    if (!s.WaitRunning()) return pixels;
    const int before = s.updates;
    s.v.UpdateRequest();
    if (!RunLoopUntil([&] { return s.updates > before; }, 10s)) return pixels;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) pixels.push_back(s.v.Framebuffer()->Surface().GetPixel(x, y));
    return pixels;
  };
  const auto hextile = picture(vncHextile);
  ASSERT_EQ(hextile.size(), 640u * 480u);
  for (const TVNCCodec codec : {vncTight, vncZRLE}) {  // TigerVNC has no Zlib
    EXPECT_TRUE(picture(codec) == hextile) << "codec " << int(codec);
  }
}

// Tight with JPEG: within a stated error of the screen, with every other
// encoding offered after it, and fewer bytes than lossless.
TEST(RealServerJpeg, TightJpegIsCloseToTheScreen) {
  if (!TightDecoder::JpegAvailable()) GTEST_SKIP() << "this build has no JPEG";
  XvncServer server(800, 600, 24);
  ASSERT_TRUE(server.Ok()) << server.Problem();
  PaintTestPicture(server.Display(), 800, 600);
  const ScreenImage screen = CaptureScreen(server.Display());
  auto run = [&](int quality, double& psnr) -> std::uint64_t {
    Session s(server.Port(), "", vncTight, VNCAuto, [&](TQuarneTelorus& v) {
      v.SetAllowOtherEncodings(true);
      v.SetJpegQuality(quality);
    });
    if (!s.WaitRunning()) return 0;
    const int before = s.updates;
    s.v.UpdateRequest();
    if (!RunLoopUntil([&] { return s.updates > before; }, 10s)) return 0;
    double squares = 0;
    const platform::Surface& fb = s.v.Framebuffer()->Surface();
    for (int y = 0; y < 600; ++y) {
      for (int x = 0; x < 800; ++x) {
        const platform::Colour a = fb.GetPixel(x, y), b = screen.At(x, y);
        for (int shift = 0; shift < 24; shift += 8) {
          const double d = double((a >> shift) & 0xFF) - double((b >> shift) & 0xFF);
          squares += d * d;
        }
      }
    }
    const double mse = squares / (800.0 * 600.0 * 3.0);
    psnr = mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
    return s.v.BytesReceived();
  };
  double lossyPsnr = 0, losslessPsnr = 0;
  const std::uint64_t lossy = run(8, lossyPsnr);
  const std::uint64_t lossless = run(-1, losslessPsnr);
  EXPECT_GE(lossyPsnr, 35.0);
  std::printf("Tight JPEG quality 8: %.1f dB, %llu bytes against %llu lossless\n", lossyPsnr,
              static_cast<unsigned long long>(lossy), static_cast<unsigned long long>(lossless));
  EXPECT_EQ(losslessPsnr, 99) << "without a quality the picture is exact";
  EXPECT_LT(lossy, lossless);
  EXPECT_GT(lossy, 0u);
}

TEST(RealServerAuth, WrongPasswordFails) {
  X11VncServer server(320, 240, 24, "right");
  ASSERT_TRUE(server.Ok()) << server.Problem();
  Session s(server.Port(), "wrong", vncHextile);
  ASSERT_TRUE(RunLoopUntil([&] { return s.closed; }, 20s));
  EXPECT_TRUE(s.authFailed);
  EXPECT_NE(std::find(s.statuses.begin(), s.statuses.end(), "Logon Fail!"), s.statuses.end());
  EXPECT_EQ(s.v.Status(), VNCVersion);
}

TEST(RealServer8Bit, EightBitFormatGivesBgr233Levels) {
  X11VncServer server(320, 240, 24);
  ASSERT_TRUE(server.Ok()) << server.Problem();
  RunWithDisplay(server.Display(), {"xsetroot", "-solid", "#ff0000"});
  std::this_thread::sleep_for(1500ms);
  Session s(server.Port(), "", vncHextile, VNC8Bit);
  ASSERT_TRUE(s.WaitRunning()) << s.error;
  int before = s.updates;
  s.v.UpdateRequest();
  ASSERT_TRUE(RunLoopUntil([&] { return s.updates > before; }, 10s));
  EXPECT_EQ(s.v.CurrentPixelFormat().bitsPerPixel, 8);
  EXPECT_EQ(s.v.Framebuffer()->Surface().GetPixel(10, 10), 0x0000FFu) << "pure red in BGR233";
}

TEST(RealServer8Bit, ColourMappedServerUnderAutoGetsEightBit) {
  X11VncServer server(320, 240, 8);
  ASSERT_TRUE(server.Ok()) << server.Problem();
  RunWithDisplay(server.Display(), {"xsetroot", "-solid", "#00ff00"});
  std::this_thread::sleep_for(1500ms);
  Session s(server.Port(), "", vncHextile, VNCAuto);
  ASSERT_TRUE(s.WaitRunning()) << s.error;
  EXPECT_EQ(s.v.ServerPixelFormat().trueColour, 0);
  EXPECT_EQ(s.v.CurrentPixelFormat().bitsPerPixel, 8);
  int before = s.updates;
  s.v.UpdateRequest();
  ASSERT_TRUE(RunLoopUntil([&] { return s.updates > before; }, 10s));
  EXPECT_EQ(s.v.Framebuffer()->Surface().GetPixel(5, 5), 0x00FF00u);
}

TEST(RealServerCopyRect, MovingAWindowOnXvncComesAsCopyRect) {
  XvncServer server(640, 480, 24);
  ASSERT_TRUE(server.Ok()) << server.Problem();
  PaintTestPicture(server.Display(), 640, 480);
  Process xterm({"xterm", "-geometry", "40x10+20+20", "-bg", "white", "-fg", "black", "-e", "sleep", "60"},
                {"DISPLAY=:" + std::to_string(server.Display())});
  std::this_thread::sleep_for(1500ms);
  Session s(server.Port(), "", vncCopyRect);
  ASSERT_TRUE(s.WaitRunning()) << s.error;
  ASSERT_EQ(s.MatchScreen(server.Display()), 0u);
  std::string ids = RunWithDisplay(server.Display(), {"xdotool", "search", "--class", "xterm"});
  ASSERT_FALSE(ids.empty()) << "xterm window not found";
  std::string id = ids.substr(0, ids.find('\n'));
  // Away from the pointer (the middle of the screen): Xvnc paints the
  // cursor into the framebuffer when its shape changes, and xwd does not.
  RunWithDisplay(server.Display(), {"xdotool", "windowmove", id, "360", "300"});
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(s.MatchScreen(server.Display()), 0u);
  bool copyRect = false;
  for (const auto& t : s.statuses) copyRect = copyRect || t.rfind("CopyRect Codec:", 0) == 0;
  EXPECT_TRUE(copyRect) << "the server moved the window with a CopyRect";
}

TEST(RealServerBigScreens, FullHdAndUhdDecode) {
  for (auto [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    X11VncServer server(w, h, 24);
    ASSERT_TRUE(server.Ok()) << server.Problem();
    PaintTestPicture(server.Display(), w, h);
    Session s(server.Port(), "", vncRAW);
    ASSERT_TRUE(s.WaitRunning()) << s.error;
    EXPECT_EQ(s.MatchScreen(server.Display(), 60s), 0u);
  }
}

}  // namespace
}  // namespace telorus::test

// TLS and the servers' security arguments exist only in the Linux build.
#ifndef _WIN32
namespace telorus::test {
namespace {

// Xvnc with one security type at a time, over 3.8: the picture must be the
// screen's, and the session encrypted exactly when the type says so.
struct SecureCase {
  const char* type;
  bool encrypted;
};

class SecureXvncTest : public ::testing::TestWithParam<SecureCase> {};

TEST_P(SecureXvncTest, FramebufferEqualsTheScreen) {
  REQUIRE_TEST_CERTIFICATES();
  const SecureCase& c = GetParam();
  const TestCertificates& certs = Certificates();
  XvncServer server(
      640, 480, 24, "tiger", "secure",
      {"-SecurityTypes", c.type, "-X509Cert", certs.Path("good.pem"), "-X509Key", certs.Path("leaf.key")});
  ASSERT_TRUE(server.Ok()) << server.Problem();
  PaintTestPicture(server.Display(), 640, 480);
  Session s(server.Port(), "tiger", vncHextile, VNCAuto, [&](TQuarneTelorus& v) {
    v.SetProtocol(vncProtocol38);
    v.SetSecurityTypes(c.type);
    v.SetCaFile(certs.Path("ca.pem"));
  });
  ASSERT_TRUE(s.WaitRunning()) << s.error;
  EXPECT_EQ(s.v.Encrypted(), c.encrypted);
  EXPECT_EQ(s.MatchScreen(server.Display()), 0u);
  EXPECT_EQ(s.certificateProblem, "");
}

const SecureCase kSecureCases[] = {{"None", false},  {"VncAuth", false}, {"TLSNone", true},
                                   {"TLSVnc", true}, {"X509None", true}, {"X509Vnc", true}};

INSTANTIATE_TEST_SUITE_P(Types, SecureXvncTest, ::testing::ValuesIn(kSecureCases),
                         [](const auto& p) { return std::string(p.param.type); });

// x11vnc's SSL mode with VeNCrypt: X509 and VNC authentication, the
// default list choosing it.
TEST(SecureX11Vnc, X509VncShowsTheScreen) {
  REQUIRE_TEST_CERTIFICATES();
  const TestCertificates& certs = Certificates();
  // x11vnc takes RSA keys only, key and certificate in one file.
  X11VncServer server(320, 240, 24, "sesame", {"-ssl", certs.Path("rsa-with-key.pem")});
  ASSERT_TRUE(server.Ok()) << server.Problem();
  PaintTestPicture(server.Display(), 320, 240);
  Session s(server.Port(), "sesame", vncHextile, VNCAuto, [&](TQuarneTelorus& v) {
    v.SetProtocol(vncProtocol38);
    v.SetCaFile(certs.Path("ca.pem"));
  });
  ASSERT_TRUE(s.WaitRunning()) << s.error;
  EXPECT_TRUE(s.v.Encrypted());
  EXPECT_NE(std::find(s.statuses.begin(), s.statuses.end(), "Security Type: X509Vnc"), s.statuses.end());
  EXPECT_EQ(s.MatchScreen(server.Display()), 0u);
}

// What real servers refuse, and what the viewer refuses of them: each ends
// with its text, before any picture.
TEST(SecureXvncRefusals, EachSaysWhy) {
  REQUIRE_TEST_CERTIFICATES();
  const TestCertificates& certs = Certificates();
  struct Case {
    const char* name;
    const char* serverTypes;
    const char* certificate;
    const char* viewerTypes;
    const char* ca;  // empty: the system's store
    const char* password;
    const char* error;  // the last OnConnectError
  };
  const Case cases[] = {
      {"wrong password under TLS", "TLSVnc", "good", "TLSVnc", "ca.pem", "wrong", "Authentication failure"},
      {"untrusted certificate", "X509Vnc", "good", "X509Vnc", "", "tiger",
       "The certificate is not trusted (issuer unknown)"},
      {"wrong name", "X509Vnc", "named", "X509Vnc", "ca.pem", "tiger", "The certificate is not for 127.0.0.1"},
      {"expired certificate", "X509None", "expired", "X509None", "ca.pem", "tiger", "The certificate has expired"},
      {"only forbidden types", "VncAuth", "good", "X509Vnc,TLSVnc", "ca.pem", "tiger",
       "The server offers the security types VncAuth, and none of them is accepted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XvncServer server(160, 120, 24, "tiger", "refusals",
                      {"-SecurityTypes", c.serverTypes, "-X509Cert", certs.Path(std::string(c.certificate) + ".pem"),
                       "-X509Key", certs.Path("leaf.key")});
    ASSERT_TRUE(server.Ok()) << server.Problem();
    Session s(server.Port(), c.password, vncHextile, VNCAuto, [&](TQuarneTelorus& v) {
      v.SetProtocol(vncProtocol38);
      v.SetSecurityTypes(c.viewerTypes);
      if (*c.ca) v.SetCaFile(certs.Path(c.ca));
    });
    ASSERT_TRUE(RunLoopUntil([&] { return s.closed; }, 20s));
    EXPECT_EQ(s.error, c.error);
    EXPECT_EQ(s.updates, 0);
    EXPECT_FALSE(s.v.IsSessionRunning());
  }
}

// telorus-snap speaks 3.8 by default and takes its password from a file
// vncpasswd wrote or from standard input, never from its command line.
TEST(SnapTool, TakesThePasswordFromAFileOrStandardInputOverTls) {
  REQUIRE_TEST_CERTIFICATES();
  const TestCertificates& certs = Certificates();
  XvncServer server(
      200, 100, 24, "file-pw", "snap",
      {"-SecurityTypes", "X509Vnc", "-X509Cert", certs.Path("good.pem"), "-X509Key", certs.Path("leaf.key")});
  ASSERT_TRUE(server.Ok()) << server.Problem();
  const std::string dir = ::testing::TempDir();
  const std::string passwordFile = dir + "telorus-snap-passwd", png = dir + "telorus-snap.png";
  ASSERT_EQ(std::system(("printf 'file-pw\\n' | vncpasswd -f > '" + passwordFile + "'").c_str()), 0);
  const std::string snap = std::string(TELORUS_SNAP) + " 127.0.0.1:" + std::to_string(server.Port()) + " --ca '" +
                           certs.Path("ca.pem") + "' -o '" + png + "'";
  auto run = [](const std::string& command) {
    const int status = std::system((command + " 2>/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  std::remove(png.c_str());
  EXPECT_EQ(run(snap + " --password-file '" + passwordFile + "'"), 0);
  EXPECT_TRUE(std::ifstream(png).good());
  std::remove(png.c_str());
  EXPECT_EQ(run("printf 'file-pw\\n' | " + snap + " --password -"), 0);
  EXPECT_TRUE(std::ifstream(png).good());
  // A wrong password fails; so does a certificate for another name.
  EXPECT_EQ(run("printf 'wrong\\n' | " + snap + " --password -"), 1);
  EXPECT_EQ(run(std::string(TELORUS_SNAP) + " localhost:" + std::to_string(server.Port()) + " --ca '" +
                certs.Path("ca.pem") + "' --password-file '" + passwordFile + "' -o '" + png + "'"),
            1);
  std::remove(passwordFile.c_str());
  std::remove(png.c_str());
}

}  // namespace
}  // namespace telorus::test
#endif
