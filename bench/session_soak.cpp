// telorus-session-soak PORT PASSWORD CLOSED-PORT [SESSIONS]
//
// One viewer in one process runs SESSIONS sessions (default 1000) one after
// the other against a real server on 127.0.0.1:PORT: connect, log on, ask
// for the whole screen, wait for that update, disconnect. Every 10th logon
// uses a wrong password (it must end in OnAuthFail and the close) and every
// 25th connects to CLOSED-PORT, where nobody listens (it must end in
// OnConnectError with 10061 and the close). Every 100 sessions it prints
// the open descriptors, the heap bytes in use and the failures so far; at
// the end the sessions per outcome and the time taken.
#include <dirent.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/headless/headless_window.h"
#include "platform/message_loop.h"
#include "viewer/Telorus.h"

using namespace telorus;
using Clock = std::chrono::steady_clock;

namespace {

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
    n -= 3;  // ".", ".." and the directory's own descriptor
  }
  return n;
}

std::size_t HeapInUse() { return mallinfo2().uordblks; }

enum class Kind { Good, WrongPassword, ClosedPort };

const char* KindName(Kind k) {
  switch (k) {
    case Kind::Good: return "session";
    case Kind::WrongPassword: return "wrong password";
    case Kind::ClosedPort: return "closed port";
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: telorus-session-soak PORT PASSWORD CLOSED-PORT [SESSIONS]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const std::string password = argv[2];
  const int closedPort = std::atoi(argv[3]);
  const int sessions = argc > 4 ? std::atoi(argv[4]) : 1000;

  platform::HeadlessWindow window(1024, 768);
  platform::HeadlessClipboard clipboard;
  platform::HeadlessBell bell;
  viewer::TQuarneTelorus v(window, clipboard, bell);
  v.SetServer("127.0.0.1");
  v.SetRequestFreames(false);  // the soak asks for the one update itself
  v.SetCodec(viewer::vncHextile);

  // What the current session has seen.
  bool connected = false, updated = false, authFail = false, closed = false;
  std::string connectError, lastStatus;
  v.OnConnected = [&](TObject*) {
    connected = true;
    v.UpdateRequest();
  };
  v.OnUpdateComplete = [&](TObject*) {
    if (!updated && connected) {
      updated = true;
      v.DisConnect();
    }
  };
  v.OnAuthFail = [&](TObject*) { authFail = true; };
  v.OnConnectError = [&](TObject*, const std::string& text) { connectError = text; };
  v.OnStatus = [&](TObject*, const std::string& text) { lastStatus = text; };
  v.OnConnectClose = [&](TObject*) { closed = true; };

  int good = 0, wrong = 0, refused = 0, failures = 0;
  const int descriptorsAtStart = OpenDescriptors();
  const std::size_t heapAtStart = HeapInUse();
  std::size_t heapPeak = heapAtStart;
  std::printf("%8s %6s %9s %12s %9s\n", "sessions", "fds", "heap KiB", "heap peak KiB", "failures");
  std::printf("%8d %6d %9zu %12zu %9d\n", 0, descriptorsAtStart, heapAtStart / 1024, heapPeak / 1024, 0);
  const auto start = Clock::now();
  for (int i = 1; i <= sessions; ++i) {
    const Kind kind = i % 25 == 0 ? Kind::ClosedPort : i % 10 == 0 ? Kind::WrongPassword : Kind::Good;
    connected = updated = authFail = closed = false;
    connectError.clear();
    lastStatus.clear();
    v.SetPort(kind == Kind::ClosedPort ? closedPort : port);
    // Only the first 8 characters of a VNC password count: the wrong one
    // must differ there.
    v.SetPassword(kind == Kind::WrongPassword ? "not-the-password" : password);
    v.Connect();
    const bool ended = platform::RunUntil([&] { return closed; }, std::chrono::seconds(20));
    bool ok = false;
    switch (kind) {
      case Kind::Good: ok = ended && connected && updated && !authFail && connectError.empty(); break;
      case Kind::WrongPassword: ok = ended && authFail && !connected; break;
      case Kind::ClosedPort: ok = ended && connectError == "Connect Error!Error Number:10061" && !connected; break;
    }
    ok = ok && v.Status() == viewer::VNCVersion && v.Framebuffer() == nullptr;
    if (ok) {
      (kind == Kind::Good ? good : kind == Kind::WrongPassword ? wrong : refused) += 1;
    } else {
      ++failures;
      std::printf(
          "session %d (%s) failed: %s; connected %d, update %d, auth fail %d, error \"%s\", last status \"%s\"\n", i,
          KindName(kind), ended ? "ended" : "did not end in 20 s", connected, updated, authFail, connectError.c_str(),
          lastStatus.c_str());
      if (!ended) v.DisConnect();
      platform::RunUntil([&] { return closed; }, std::chrono::seconds(5));
    }
    platform::PumpPending();
    const std::size_t heap = HeapInUse();
    if (heap > heapPeak) heapPeak = heap;
    if (i % 100 == 0) {
      std::printf("%8d %6d %9zu %12zu %9d\n", i, OpenDescriptors(), heap / 1024, heapPeak / 1024, failures);
      std::fflush(stdout);
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf(
      "good sessions %d, wrong passwords refused %d, closed ports refused %d, failures %d, %.1f s (%.1f ms "
      "per session)\n",
      good, wrong, refused, failures, seconds, 1000.0 * seconds / sessions);
  std::printf(
      "descriptors %d at the start, %d at the end; heap in use %zu KiB at the start, %zu KiB at the end, "
      "%zu KiB at most\n",
      descriptorsAtStart, OpenDescriptors(), heapAtStart / 1024, HeapInUse() / 1024, heapPeak / 1024);
  return failures == 0 ? 0 : 1;
}
