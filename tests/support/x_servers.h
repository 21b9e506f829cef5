// Real RFB servers for integration tests, started on loopback by the tests
// themselves: Xvfb with x11vnc, and TigerVNC's Xvnc. Plus the X server's own
// view of its screen (xwd) to compare pixels against.
//
// Under Wine the same classes ask the peer broker, a Linux program that the
// test script starts, to run the servers and commands on the Linux side;
// whatever a test process started there ends with the process.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace telorus::test {

// A child process, killed (and reaped) on destruction.
class Process {
 public:
  Process() = default;
  explicit Process(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
  ~Process();
  Process(Process&& o) noexcept : pid_(o.pid_) { o.pid_ = -1; }
  Process& operator=(Process&& o) noexcept;
  bool Running();
  void Stop();
  long Pid() const { return pid_; }

 private:
  long pid_ = -1;  // on Windows: the broker's number for the process
};

// Runs a command to completion with DISPLAY set; returns its stdout.
// `status` receives the exit status when given.
std::string RunWithDisplay(int display, const std::vector<std::string>& argv, int* status = nullptr);

bool WaitForTcpPort(std::uint16_t port, std::chrono::milliseconds timeout);

// An X display nobody uses (its socket and lock file are absent).
int FreeDisplayNumber();

class XvfbServer {
 public:
  XvfbServer(int width, int height, int depth);
  int Display() const { return display_; }
  bool Ok() const { return ok_; }

 private:
  int display_ = 0;
  Process process_;
  bool ok_ = false;
};

// What the tests need of a running RFB server.
class RfbServer {
 public:
  RfbServer() = default;
  RfbServer(const RfbServer&) = delete;
  RfbServer& operator=(const RfbServer&) = delete;
  ~RfbServer();  // removes the password file
  bool Ok() const { return ok_; }
  std::uint16_t Port() const { return port_; }
  int Display() const { return display_; }
  // Why the server is not usable, when Ok() is false.
  const std::string& Problem() const { return problem_; }

 protected:
  int display_ = 0;
  std::uint16_t port_ = 0;
  bool ok_ = false;
  std::string problem_;
  std::string passwordFile_;
  long brokerId_ = -1;  // on Windows: the broker's number for the server
};

// x11vnc on its own Xvfb. An empty password means no authentication.
class X11VncServer : public RfbServer {
 public:
  // `extra`: more x11vnc arguments (-ssl PEM, ...).
  X11VncServer(int width, int height, int depth, const std::string& password = "",
               const std::vector<std::string>& extra = {});

#ifndef _WIN32
 private:
  XvfbServer xvfb_;
  Process vnc_;
#endif
};

// TigerVNC's Xvnc: an X server and RFB server in one.
class XvncServer : public RfbServer {
 public:
  // `security`, when given, replaces the security arguments that the
  // password chooses (-SecurityTypes ..., -X509Cert ...); the password file
  // is still written and named for the VNC-authenticated types.
  XvncServer(int width, int height, int depth, const std::string& password = "",
             const std::string& desktopName = "telorus-test", const std::vector<std::string>& security = {});

#ifndef _WIN32
 private:
  Process process_;
#endif
};

// The root window as the X server holds it, as colour values (red in bits
// 0-7, green 8-15, blue 16-23), row by row.
struct ScreenImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};
// Reads `xwd -root` of the display (TrueColor or PseudoColor).
ScreenImage CaptureScreen(int display);
// Parses xwd output; throws std::runtime_error on a format it cannot read.
ScreenImage ParseXwd(const std::string& data);

}  // namespace telorus::test
