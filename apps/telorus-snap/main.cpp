// telorus-snap HOST[:PORT] [session options, encodings among them]
//              [--8bit] [--updates N] [--timeout SECONDS] [--accept-certificate] -o FILE.png
//
// Connects to an RFB server through the viewer component, requests updates,
// and writes the framebuffer as a PNG. The viewer's status texts are printed
// as they come; on failure the error text is printed and the exit code is 1.
// PORT is the TCP port (default 5900).
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "platform/headless/headless_window.h"
#include "platform/message_loop.h"
#include "common/session_options.h"
#include "png_writer.h"
#include "telorus_version.h"
#include "viewer/Telorus.h"

namespace {

using namespace telorus;
using namespace telorus::viewer;

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "telorus-snap: %s\n", problem);
  std::fprintf(stderr,
               "usage: telorus-snap HOST[:PORT] [options] -o FILE.png\n"
               "%s"
               "  --8bit               asks for the 8-bit pixel format\n"
               "  --updates N          the updates to wait for (default 1)\n"
               "  --timeout S          seconds to wait for them (default 30)\n"
               "  --accept-certificate goes on with a certificate that does not verify\n"
               "  --version            prints the version\n",
               apps::kSessionOptionsUsage);
  return 2;
}

bool ParseCount(const std::string& text, long min, long max, long* out) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < min || v > max) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string target, output;
  apps::SessionOptions session;
  bool acceptCertificate = false;
  bool eightBit = false;
  long updates = 1, timeoutSeconds = 30;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* what) -> const char* {
      if (i + 1 >= argc) return nullptr;
      (void)what;
      return argv[++i];
    };
    std::string problem;
    if (const int taken = apps::TakeSessionOption(argc, argv, i, session, problem); taken != 0) {
      if (taken < 0) return Usage(problem.c_str());
    } else if (a == "--version") {
      std::printf("telorus-snap %s\n", TELORUS_VERSION);
      return 0;
    } else if (a == "--accept-certificate") {
      acceptCertificate = true;
    } else if (a == "--8bit") {
      eightBit = true;
    } else if (a == "--updates") {
      const char* v = value("--updates");
      if (!v || !ParseCount(v, 1, 1000000, &updates)) return Usage("--updates takes a whole number of at least 1");
    } else if (a == "--timeout") {
      const char* v = value("--timeout");
      if (!v || !ParseCount(v, 1, 86400, &timeoutSeconds)) return Usage("--timeout takes seconds, at least 1");
    } else if (a == "-o") {
      const char* v = value("-o");
      if (!v) return Usage("-o needs a file name");
      output = v;
    } else if (!a.empty() && a[0] == '-') {
      return Usage(("unknown option " + a).c_str());
    } else if (target.empty()) {
      target = a;
    } else {
      return Usage("only one server may be given");
    }
  }
  if (target.empty()) return Usage("no server given");
  if (output.empty()) return Usage("no output file given (-o FILE.png)");

  std::string host = target;
  long port = 5900;
  if (auto colon = target.rfind(':'); colon != std::string::npos) {
    host = target.substr(0, colon);
    if (!ParseCount(target.substr(colon + 1), 1, 65535, &port)) return Usage("the port must be 1 to 65535");
  }

  platform::HeadlessWindow window(1, 1);
  platform::HeadlessClipboard clipboard;
  platform::HeadlessBell bell;
  TQuarneTelorus viewer(window, clipboard, bell);
  viewer.SetServer(host);
  viewer.SetPort(static_cast<std::int32_t>(port));
  apps::ApplySessionOptions(session, viewer);
  if (eightBit) viewer.SetPixelFormat(VNC8Bit);

  std::string error;
  long completed = 0;
  bool finished = false;
  viewer.OnStatus = [](TObject*, const std::string& text) { std::fprintf(stderr, "status: %s\n", text.c_str()); };
  viewer.OnConnectError = [&](TObject*, const std::string& text) {
    error = text;
    finished = true;
  };
  viewer.OnAuthFail = [&](TObject*) { error = "authentication failed"; };
  viewer.OnCertificate = [&](TObject*, const CertificateInfo& c, bool& accept) {
    std::fprintf(stderr, "certificate: %s\n  subject %s\n  issuer %s\n  SHA-256 %s\n", c.problem.c_str(),
                 c.subject.c_str(), c.issuer.c_str(), c.sha256.c_str());
    accept = acceptCertificate;
  };
  viewer.OnConnected = [&](TObject*) {
    std::fprintf(stderr, "connected: %dx%d \"%s\"\n", viewer.RemoteDeskWidth(), viewer.RemoteDeskHeight(),
                 viewer.RemoteHostName().c_str());
  };
  viewer.OnUpdateComplete = [&](TObject*) {
    if (++completed >= updates) {
      finished = true;
      return;
    }
    viewer.UpdateRequest();
  };
  viewer.OnConnectClose = [&](TObject*) {
    if (!finished) {
      if (error.empty()) error = "the server closed the connection";
      finished = true;
    }
  };
  // The first request asks for the whole screen; later ones for changes.
  bool requested = false;
  auto onConnected = viewer.OnConnected;
  viewer.OnConnected = [&](TObject* s) {
    onConnected(s);
    requested = true;
  };

  try {
    viewer.Connect();
  } catch (const std::exception& e) {
    // The socket refuses before any connection exists (no socket library,
    // an unknown protocol or port name).
    std::fprintf(stderr, "telorus-snap: %s\n", e.what());
    return 1;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (!finished && std::chrono::steady_clock::now() < deadline) {
    platform::RunUntil([&] { return finished || requested; }, std::chrono::milliseconds(100));
    if (requested) {
      requested = false;
      viewer.UpdateRequest();
    }
  }
  if (!finished) error = "timed out after " + std::to_string(timeoutSeconds) + " s waiting for updates";
  const FrameBitmap* fb = viewer.Framebuffer();
  if (error.empty() && !fb) error = "no framebuffer";
  if (!error.empty()) {
    std::fprintf(stderr, "telorus-snap: %s\n", error.c_str());
    return 1;
  }
  const int width = fb->Width(), height = fb->Height();
  std::string problem =
      apps::WritePng(output, width, height, [&](int x, int y) { return fb->Surface().GetPixel(x, y); });
  viewer.DisConnect();  // frees the framebuffer
  if (!problem.empty()) {
    std::fprintf(stderr, "telorus-snap: %s\n", problem.c_str());
    return 1;
  }
  std::fprintf(stderr, "wrote %s (%dx%d, %ld update%s)\n", output.c_str(), width, height, completed,
               completed == 1 ? "" : "s");
  return 0;
}
