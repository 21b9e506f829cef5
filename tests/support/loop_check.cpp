#include "support/loop_check.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/message_loop.h"
#include "platform/net.h"

namespace telorus::test {

bool RunLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  // Short slices: the condition may depend on another thread (a scripted
  // server), whose progress does not wake this thread's loop.
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    platform::RunUntil(done, std::chrono::milliseconds(5));
  }
  return true;
}

void ExpectLoopClean() {
  platform::PumpPending();
  auto c = platform::CurrentLoopCounts();
  EXPECT_EQ(c.notifiers, 0u) << "notifiers still registered";
  EXPECT_EQ(c.queued, 0u) << "records still queued";
  EXPECT_EQ(c.timers, 0u) << "timers still set";
  EXPECT_EQ(c.sockets, 0u) << "sockets still registered";
  EXPECT_EQ(platform::net::OpenSocketCount(), 0u) << "socket handles still open";
  EXPECT_EQ(platform::net::PendingLookups(), 0u) << "lookups still pending";
}

bool RunningUnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
  return false;
#endif
}

}  // namespace telorus::test
