// The per-thread message loop: the one place where notifications, posted
// requests and timer ticks are queued and handed out, one at a time, on the
// thread that owns their receiver.
//
// The model is a window message queue. A Notifier is a hidden window: it has a
// WindowId, records posted to it are queued on the thread that created it and
// delivered there in arrival order. On Windows the notifier is a real hidden
// window and the queue is the thread's message queue; on Linux it is our own
// loop on poll() with a wake descriptor.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace telorus::platform {

// Identifies a receiver of records (an HWND on Windows). 0 means none.
using WindowId = std::uintptr_t;

// Message numbers shared with the Windows form.
inline constexpr std::uint32_t kUserMessage = 1024;     // WM_USER
inline constexpr std::uint32_t kTimerMessage = 0x0113;  // WM_TIMER, wParam = timer id

struct Message {
  WindowId target = 0;
  std::uint32_t msg = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

using MessageHandler = std::function<void(const Message&)>;

// A hidden receiver of records, owned by one thread (the creating one).
// Move-only; destroying it discards every record still queued for it and
// every timer it set.
class Notifier {
 public:
  explicit Notifier(MessageHandler handler);
  ~Notifier();
  Notifier(const Notifier&) = delete;
  Notifier& operator=(const Notifier&) = delete;
  Notifier(Notifier&& other) noexcept;
  Notifier& operator=(Notifier&& other) noexcept;

  // 0 when the platform could not create the receiver.
  WindowId Id() const noexcept { return id_; }

  // Queues a record for this receiver. Safe from any thread.
  bool Post(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) const;

  // Periodic timer: every interval a kTimerMessage record with wParam = id is
  // queued, never more than one outstanding per timer (like WM_TIMER).
  // Setting an existing id restarts it with the new interval.
  void SetTimer(std::uintptr_t id, unsigned intervalMs);
  void KillTimer(std::uintptr_t id);

 private:
  void Release() noexcept;
  WindowId id_ = 0;
};

// Queues a record for any receiver, from any thread. False if it is gone.
bool PostTo(WindowId target, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);

// Delivers every record that is waiting on the calling thread (turning socket
// readiness and due timers into records first) without blocking. Safe to call
// from inside a handler, at any depth. A quit record is taken off the queue
// and not dispatched; the return value tells whether one was taken.
bool PumpPending();

// Queues a quit record on the calling thread's loop.
void PostQuit();

// Runs the calling thread's loop, blocking between records, until `done`
// returns true or `timeout` passes. Returns done(). A quit record ends the
// run too (and is consumed); quitSeen reports it when given.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout, bool* quitSeen = nullptr);

// Runs until a quit record arrives.
void Run();

// What the calling thread's loop still holds: receivers, queued records,
// timers and registered sockets. Tests check these are all zero at the end.
struct LoopCounts {
  std::size_t notifiers = 0;
  std::size_t queued = 0;
  std::size_t timers = 0;
  std::size_t sockets = 0;
};
LoopCounts CurrentLoopCounts();

}  // namespace telorus::platform
