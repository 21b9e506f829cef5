#include "support/x_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "support/loopback.h"

extern char** environ;

namespace telorus::test {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> CStrings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (auto& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

std::vector<std::string> Environment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    bool overridden = false;
    for (const auto& x : extra)
      overridden = overridden || kv.substr(0, kv.find('=') + 1) == x.substr(0, x.find('=') + 1);
    if (!overridden) env.push_back(kv);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::string TempFile(const std::string& stem) {
  std::string path = "/tmp/telorus-" + stem + "-XXXXXX";
  int fd = mkstemp(path.data());
  if (fd >= 0) ::close(fd);
  return path;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}
}  // namespace

Process::Process(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  std::vector<std::string> args = argv;
  std::vector<std::string> envs = Environment(env);
  auto a = CStrings(args);
  auto e = CStrings(envs);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The servers are chatty: keep the test output readable.
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  pid_ = posix_spawnp(&pid, a[0], &actions, nullptr, a.data(), e.data()) == 0 ? pid : -1;
  posix_spawn_file_actions_destroy(&actions);
}

Process::~Process() { Stop(); }

Process& Process::operator=(Process&& o) noexcept {
  if (this != &o) {
    Stop();
    pid_ = o.pid_;
    o.pid_ = -1;
  }
  return *this;
}

bool Process::Running() {
  if (pid_ <= 0) return false;
  int status;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

void Process::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string RunWithDisplay(int display, const std::vector<std::string>& argv, int* status) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  std::vector<std::string> args = argv;
  std::vector<std::string> envs = Environment({"DISPLAY=:" + std::to_string(display)});
  auto a = CStrings(args);
  auto e = CStrings(envs);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  // Only stdout may hold the pipe: a command that leaves a process behind
  // (xclip serving a selection) must not keep the read below waiting.
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, a[0], &actions, nullptr, a.data(), e.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  std::string out;
  if (rc == 0) {
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    int st = 0;
    waitpid(pid, &st, 0);
    if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  } else if (status) {
    *status = -1;
  }
  ::close(fds[0]);
  return out;
}

bool WaitForTcpPort(std::uint16_t port, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

int FreeDisplayNumber() {
  // Spread parallel test processes apart, then probe upwards.
  static int next = 40 + static_cast<int>(getpid() % 400);
  for (int tries = 0; tries < 500; ++tries) {
    int n = next++;
    if (next > 900) next = 40;
    if (!FileExists("/tmp/.X11-unix/X" + std::to_string(n)) && !FileExists("/tmp/.X" + std::to_string(n) + "-lock"))
      return n;
  }
  throw std::runtime_error("no free X display number");
}

// The process that holds display n's lock file (0 when there is none).
static long LockOwner(int n) {
  std::FILE* f = std::fopen(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), "r");
  if (!f) return 0;
  long pid = 0;
  if (std::fscanf(f, "%ld", &pid) != 1) pid = 0;
  std::fclose(f);
  return pid;
}

XvfbServer::XvfbServer(int width, int height, int depth) {
  std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
  // A test process running in parallel may pick the same number at the same
  // moment: the display is ours only when its lock file names our server.
  for (int attempt = 0; attempt < 5 && !ok_; ++attempt) {
    display_ = FreeDisplayNumber();
    process_ = Process({"Xvfb", ":" + std::to_string(display_), "-screen", "0", screen, "-nolisten", "tcp"});
    std::string sock = "/tmp/.X11-unix/X" + std::to_string(display_);
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline && process_.Running()) {
      int status = -1;
      if (FileExists(sock) && LockOwner(display_) == process_.Pid()) {
        RunWithDisplay(display_, {"xdpyinfo"}, &status);
        if (status == 0) {
          ok_ = true;
          break;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ok_) process_.Stop();
  }
}

RfbServer::~RfbServer() {
  if (!passwordFile_.empty()) ::unlink(passwordFile_.c_str());
}

X11VncServer::X11VncServer(int width, int height, int depth, const std::string& password,
                           const std::vector<std::string>& extra)
    : xvfb_(width, height, depth) {
  display_ = xvfb_.Display();
  if (!xvfb_.Ok()) {
    problem_ = "Xvfb did not start";
    return;
  }
  port_ = UnusedPort();
  std::vector<std::string> argv = {"x11vnc",
                                   "-display",
                                   ":" + std::to_string(xvfb_.Display()),
                                   "-rfbport",
                                   std::to_string(port_),
                                   "-listen",
                                   "127.0.0.1",
                                   "-rfbportv6",
                                   "-1",
                                   "-forever",
                                   "-shared",
                                   "-nocursor",
                                   "-noxrecord",
                                   "-nomodtweak"};
  if (password.empty()) {
    argv.push_back("-nopw");
  } else {
    passwordFile_ = TempFile("x11vnc-pass");
    int status = -1;
    RunWithDisplay(xvfb_.Display(), {"x11vnc", "-storepasswd", password, passwordFile_}, &status);
    argv.push_back("-rfbauth");
    argv.push_back(passwordFile_);
  }
  argv.insert(argv.end(), extra.begin(), extra.end());
  vnc_ = Process(argv);
  ok_ = WaitForTcpPort(port_, std::chrono::seconds(15)) && vnc_.Running();
  if (!ok_) problem_ = "x11vnc did not start listening";
}

XvncServer::XvncServer(int width, int height, int depth, const std::string& password, const std::string& desktopName,
                       const std::vector<std::string>& securityArgs) {
  std::vector<std::string> security = {"-SecurityTypes", "None"};
  if (!password.empty()) {
    passwordFile_ = TempFile("xvnc-pass");
    std::string cmd = "printf '%s\\n' '" + password + "' | vncpasswd -f > " + passwordFile_;
    if (std::system(cmd.c_str()) != 0) {
      problem_ = "vncpasswd failed";
      return;
    }
    security = {"-SecurityTypes", "VncAuth", "-PasswordFile", passwordFile_};
  }
  if (!securityArgs.empty()) {
    security = securityArgs;
    if (!passwordFile_.empty()) security.insert(security.end(), {"-PasswordFile", passwordFile_});
  }
  // As for Xvfb: the display is ours only when its lock file names our
  // server; one that lost the number to a parallel test process is retried.
  for (int attempt = 0; attempt < 4 && !ok_; ++attempt) {
    display_ = FreeDisplayNumber();
    port_ = UnusedPort();
    std::vector<std::string> argv = {"Xvnc",          ":" + std::to_string(display_),
                                     "-geometry",     std::to_string(width) + "x" + std::to_string(height),
                                     "-depth",        std::to_string(depth),
                                     "-rfbport",      std::to_string(port_),
                                     "-interface",    "127.0.0.1",
                                     "-nolisten",     "tcp",
                                     "-AlwaysShared", "-desktop",
                                     desktopName};
    argv.insert(argv.end(), security.begin(), security.end());
    process_ = Process(argv);
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < deadline && process_.Running() && !ok_)
      ok_ = WaitForTcpPort(port_, std::chrono::milliseconds(200)) && LockOwner(display_) == process_.Pid();
    if (!ok_) process_.Stop();
  }
  if (!ok_) problem_ = "Xvnc did not start listening";
}

ScreenImage CaptureScreen(int display) {
  int status = -1;
  std::string data = RunWithDisplay(display, {"xwd", "-root", "-silent"}, &status);
  if (status != 0) throw std::runtime_error("xwd failed");
  return ParseXwd(data);
}

}  // namespace telorus::test
