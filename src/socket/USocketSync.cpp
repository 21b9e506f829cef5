// The synchronous wait: pump messages until a handler sets the flag.
#include <chrono>
#include <thread>

#include "socket/USocket.h"

namespace telorus::socket {
namespace {

// Milliseconds of a monotonic clock, wrapping like a 32-bit tick count.
std::int32_t TickCount() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count();
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
}

}  // namespace

std::int32_t TCustomSyncUSocket::RunAndWait(const std::function<void()>& proc, bool& flag) {
  flag = false;
  if (proc) proc();
  return WaitForFlag(flag);
}

std::int32_t TCustomSyncUSocket::WaitForFlag(bool& flag) {
  FTimeStop = static_cast<std::int32_t>(static_cast<std::uint32_t>(TickCount()) + static_cast<std::uint32_t>(FTimeout));
  for (;;) {
    if (flag) return 0;
    // The difference, not the values, is compared, so the wrap of the tick
    // count does not end a wait early.
    bool timedOut = FTimeout > 0 && static_cast<std::int32_t>(static_cast<std::uint32_t>(TickCount()) -
                                                              static_cast<std::uint32_t>(FTimeStop)) > 0;
    if (timedOut || FTerminated) return kSyncWaitFailed;
    try {
      PumpMessages();
    } catch (...) {
      // The wait reports only through its result.
    }
    std::this_thread::yield();
  }
}

}  // namespace telorus::socket
