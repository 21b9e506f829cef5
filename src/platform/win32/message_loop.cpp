// The Windows message loop: notifiers are hidden message-only windows of the
// class "XSocketWindowClass", records are posted window messages, timers are
// window timers, and the pump is PeekMessage on the thread's own queue, so
// socket notifications, lookups, timers and every toolkit message share one
// queue.
#include <windows.h>

#include <atomic>
#include <memory>
#include <set>
#include <utility>

#include "platform/message_loop.h"
#include "platform/win32/notifier_class.h"

namespace telorus::platform {
namespace {

constexpr const char* kClassName = "XSocketWindowClass";

std::atomic<bool> gClassRegistered{false};
std::atomic<int> gNotifierWindows{0};

// What the loop's leak check reads for the calling thread.
thread_local std::size_t tNotifiers = 0;
thread_local std::set<std::pair<HWND, UINT_PTR>> tTimers;
thread_local std::size_t tSockets = 0;

// The handler of a notifier, held by the window (GWLP_USERDATA). A copy of
// the shared pointer is taken before each call: the handler may destroy its
// own notifier.
using HandlerBox = std::shared_ptr<MessageHandler>;

LRESULT CALLBACK NotifierProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* box = reinterpret_cast<HandlerBox*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (box && *box && msg != WM_NCDESTROY) {
    // A tick of a timer that has been killed since is stale.
    if (msg == WM_TIMER && !tTimers.count({hwnd, wParam})) return 0;
    HandlerBox handler = *box;
    (*handler)(Message{reinterpret_cast<WindowId>(hwnd), msg, wParam, lParam});
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

bool EnsureClass() {
  if (gClassRegistered) return true;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = NotifierProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kClassName;
  if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  gClassRegistered = true;
  return true;
}

bool TakeQuit(const MSG& m) { return m.message == WM_QUIT; }

void Dispatch(MSG& m) {
  TranslateMessage(&m);
  DispatchMessageA(&m);
}

}  // namespace

namespace win32 {

const char* NotifierClassName() { return kClassName; }

void UnregisterNotifierClass() {
  if (!gClassRegistered || gNotifierWindows > 0) return;
  if (UnregisterClassA(kClassName, GetModuleHandleA(nullptr))) gClassRegistered = false;
}

void CountRegisteredSocket(int change) {
  if (change < 0 && tSockets == 0) return;
  tSockets = static_cast<std::size_t>(static_cast<long long>(tSockets) + change);
}

std::size_t RegisteredSocketsOfThisThread() { return tSockets; }

}  // namespace win32

Notifier::Notifier(MessageHandler handler) {
  if (!EnsureClass()) return;
  HWND hwnd =
      CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!hwnd) return;
  SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                    reinterpret_cast<LONG_PTR>(new HandlerBox(std::make_shared<MessageHandler>(std::move(handler)))));
  id_ = reinterpret_cast<WindowId>(hwnd);
  ++gNotifierWindows;
  ++tNotifiers;
}

Notifier::~Notifier() { Release(); }

Notifier::Notifier(Notifier&& other) noexcept : id_(other.id_) { other.id_ = 0; }

Notifier& Notifier::operator=(Notifier&& other) noexcept {
  if (this != &other) {
    Release();
    id_ = other.id_;
    other.id_ = 0;
  }
  return *this;
}

void Notifier::Release() noexcept {
  if (!id_) return;
  HWND hwnd = reinterpret_cast<HWND>(id_);
  id_ = 0;
  for (auto it = tTimers.begin(); it != tTimers.end();) {
    if (it->first == hwnd) {
      ::KillTimer(hwnd, it->second);
      it = tTimers.erase(it);
    } else {
      ++it;
    }
  }
  auto* box = reinterpret_cast<HandlerBox*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
  // Messages still queued for the window are dropped with it.
  DestroyWindow(hwnd);
  delete box;  // a handler running now holds its own reference
  --gNotifierWindows;
  if (tNotifiers > 0) --tNotifiers;
}

bool Notifier::Post(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) const {
  return PostTo(id_, msg, wParam, lParam);
}

void Notifier::SetTimer(std::uintptr_t id, unsigned intervalMs) {
  if (!id_) return;
  HWND hwnd = reinterpret_cast<HWND>(id_);
  if (::SetTimer(hwnd, id, intervalMs < 1 ? 1 : intervalMs, nullptr)) tTimers.insert({hwnd, id});
}

void Notifier::KillTimer(std::uintptr_t id) {
  if (!id_) return;
  HWND hwnd = reinterpret_cast<HWND>(id_);
  ::KillTimer(hwnd, id);
  // A tick already queued is dropped when it arrives (NotifierProc).
  tTimers.erase({hwnd, id});
}

bool PostTo(WindowId target, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
  return target != 0 && PostMessageA(reinterpret_cast<HWND>(target), msg, wParam, lParam) != 0;
}

bool PumpPending() {
  bool quit = false;
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (TakeQuit(m)) {
      quit = true;
      continue;
    }
    Dispatch(m);
  }
  return quit;
}

void PostQuit() { PostQuitMessage(0); }

bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout, bool* quitSeen) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout.count());
  for (;;) {
    if (done()) return true;
    MSG m;
    if (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (TakeQuit(m)) {
        if (quitSeen) *quitSeen = true;
        return done();
      }
      Dispatch(m);
      continue;
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return done();
    const ULONGLONG left = deadline - now;
    MsgWaitForMultipleObjectsEx(0, nullptr, left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(left), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

void Run() {
  bool quit = false;
  while (!quit) RunUntil([&] { return quit; }, std::chrono::hours(24), &quit);
}

LoopCounts CurrentLoopCounts() {
  LoopCounts c;
  c.notifiers = tNotifiers;
  c.timers = tTimers.size();
  // The queue cannot be counted on Windows; posted messages are either there
  // or not.
  c.queued = HIWORD(GetQueueStatus(QS_POSTMESSAGE)) != 0 ? 1 : 0;
  c.sockets = win32::RegisteredSocketsOfThisThread();
  return c;
}

}  // namespace telorus::platform
