// Host lookups on Windows: WSAAsyncGetHostByName and WSAAsyncGetHostByAddr,
// whose completions arrive at a hidden window of the calling thread; there
// the result is copied out of Winsock's buffer into the caller's HostEntry
// and the caller's record is handed over. An injected test resolver runs on
// a worker thread instead and completes the same way.
#include <winsock.h>
#include <windows.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/net.h"
#include "platform/win32/socket_library.h"

namespace telorus::platform::net {
namespace {

constexpr UINT kLookupDone = WM_USER + 1;
// Handles of injected lookups, far from the ones Winsock gives out.
constexpr std::uint32_t kFirstInjectedHandle = 0x40000000;

struct Hook {
  std::mutex mutex;
  HostResolver resolver;
  bool inlineCompletion = false;
};
Hook& TestHook() {
  static auto* hook = new Hook;
  return *hook;
}

HostEntry FromHostent(const hostent* h) {
  HostEntry entry;
  if (!h) return entry;
  if (h->h_name) entry.officialName = h->h_name;
  if (h->h_addrtype == AF_INET && h->h_length == 4)
    for (char** a = h->h_addr_list; a && *a; ++a) {
      std::uint32_t address;
      std::memcpy(&address, *a, 4);
      entry.addresses.push_back(address);
    }
  return entry;
}

struct Job {
  std::uint32_t handle = 0;
  HWND target = nullptr;
  UINT msg = 0;
  HostEntry* result = nullptr;
  std::vector<char> buffer;  // Winsock's hostent and what it points to
  // Injected lookups.
  std::string text;
  bool byAddress = false;
  HostEntry found;
  int error = 0;
};

class Resolver {
 public:
  static Resolver& Instance() {
    static auto* r = new Resolver;  // its worker runs until the process ends
    return *r;
  }

  std::uint32_t Start(WindowId target, std::uint32_t msg, const std::string& text, bool byAddress,
                      std::uint32_t address, HostEntry* result) {
    HWND window = CompletionWindow();
    if (!window || !IsWindow(reinterpret_cast<HWND>(target))) {
      SetLastError(kWsaEinval);
      return 0;
    }
    auto job = std::make_shared<Job>();
    job->target = reinterpret_cast<HWND>(target);
    job->msg = msg;
    job->result = result;
    HostResolver injected;
    bool inlineCompletion;
    {
      std::lock_guard lock(TestHook().mutex);
      injected = TestHook().resolver;
      inlineCompletion = TestHook().inlineCompletion;
    }
    if (injected) return StartInjected(job, window, text, byAddress, inlineCompletion);

    job->buffer.resize(MAXGETHOSTSTRUCT);
    HANDLE handle;
    if (byAddress) {
      static decltype(&::WSAAsyncGetHostByAddr) slot = nullptr;
      auto* call = win32::Entry("WSAAsyncGetHostByAddr", slot);
      if (!call) return Unavailable();
      handle = call(window, kLookupDone, reinterpret_cast<const char*>(&address), 4, AF_INET, job->buffer.data(),
                    static_cast<int>(job->buffer.size()));
    } else {
      static decltype(&::WSAAsyncGetHostByName) slot = nullptr;
      auto* call = win32::Entry("WSAAsyncGetHostByName", slot);
      if (!call) return Unavailable();
      handle = call(window, kLookupDone, text.c_str(), job->buffer.data(), static_cast<int>(job->buffer.size()));
    }
    if (!handle) {
      static decltype(&::WSAGetLastError) slot = nullptr;
      SetLastError(win32::Entry("WSAGetLastError", slot)());
      return 0;
    }
    job->handle = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle));
    std::lock_guard lock(mutex_);
    active_[job->handle] = job;
    return job->handle;
  }

  int Cancel(std::uint32_t handle) {
    {
      std::lock_guard lock(mutex_);
      auto it = active_.find(handle);
      if (it == active_.end()) {
        SetLastError(10037);  // already completed, or never started
        return -1;
      }
      // Winsock may be writing the result into the job's buffer already:
      // the buffer stays until the completion arrives, whose record is then
      // dropped.
      if (handle < kFirstInjectedHandle) cancelled_[handle] = it->second;
      active_.erase(it);
    }
    if (handle < kFirstInjectedHandle) {
      static decltype(&::WSACancelAsyncRequest) slot = nullptr;
      if (auto* call = win32::Entry("WSACancelAsyncRequest", slot))
        call(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle)));
    }
    return 0;
  }

  std::size_t Pending() {
    std::lock_guard lock(mutex_);
    return active_.size();
  }

  bool Blocking(const std::string& name, HostEntry* result) {
    HostResolver injected;
    {
      std::lock_guard lock(TestHook().mutex);
      injected = TestHook().resolver;
    }
    if (injected) {
      const int err = injected(name, false, result);
      if (err) SetLastError(err);
      return err == 0;
    }
    static decltype(&::gethostbyname) slot = nullptr;
    auto* call = win32::Entry("gethostbyname", slot);
    if (!call) return Unavailable() != 0;
    const hostent* h = call(name.c_str());
    if (!h) {
      static decltype(&::WSAGetLastError) errorSlot = nullptr;
      SetLastError(win32::Entry("WSAGetLastError", errorSlot)());
      return false;
    }
    *result = FromHostent(h);
    return true;
  }

 private:
  static std::uint32_t Unavailable() {
    SetLastError(kWsaNotinitialised);
    return 0;
  }

  std::uint32_t StartInjected(const std::shared_ptr<Job>& job, HWND window, const std::string& text, bool byAddress,
                              bool inlineCompletion) {
    job->text = text;
    job->byAddress = byAddress;
    {
      std::lock_guard lock(mutex_);
      job->handle = nextInjected_++;
      active_[job->handle] = job;
      if (!inlineCompletion) {
        queue_.push_back({job, window});
        if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
      }
    }
    if (inlineCompletion) {
      // Answered at once and handed over before the starter has the handle:
      // the early-completion path of the caller.
      HostResolver injected;
      {
        std::lock_guard lock(TestHook().mutex);
        injected = TestHook().resolver;
      }
      job->error = injected(job->text, job->byAddress, &job->found);
      Complete(job->handle, static_cast<unsigned>(job->error));
    } else {
      wake_.notify_one();
    }
    return job->handle;
  }

  void Work() {
    for (;;) {
      std::pair<std::shared_ptr<Job>, HWND> item;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return !queue_.empty(); });
        item = queue_.front();
        queue_.pop_front();
        if (!active_.count(item.first->handle)) continue;  // cancelled before it started
      }
      HostResolver injected;
      {
        std::lock_guard lock(TestHook().mutex);
        injected = TestHook().resolver;
      }
      auto& job = *item.first;
      job.error = injected ? injected(job.text, job.byAddress, &job.found) : kWsaNoRecovery;
      if (!PostMessageA(item.second, kLookupDone, job.handle, MakeSelectReply(0, static_cast<unsigned>(job.error)))) {
        std::lock_guard lock(mutex_);
        active_.erase(job.handle);  // the thread that asked is gone
      }
    }
  }

 public:
  // On the owning thread: the lookup `handle` has completed with `error`.
  void Complete(std::uint32_t handle, unsigned error) {
    std::shared_ptr<Job> job;
    {
      std::lock_guard lock(mutex_);
      cancelled_.erase(handle);
      auto it = active_.find(handle);
      if (it == active_.end()) return;  // cancelled: the result is not touched
      job = it->second;
      active_.erase(it);
    }
    if (job->result) {
      if (handle >= kFirstInjectedHandle)
        *job->result = std::move(job->found);
      else if (error == 0)
        *job->result = FromHostent(reinterpret_cast<const hostent*>(job->buffer.data()));
    }
    SendMessageA(job->target, job->msg, handle, MakeSelectReply(0, error));
  }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kLookupDone) {
      // WSAGETASYNCERROR: the high word of lParam.
      Instance().Complete(static_cast<std::uint32_t>(wParam), SelectError(lParam));
      return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  }

  // One hidden window per thread receives that thread's completions. It is
  // the loop's own machinery, like the Linux loop's wake descriptor, so it
  // does not count as a notifier.
  static HWND CompletionWindow() {
    thread_local HWND window = nullptr;
    if (window && IsWindow(window)) return window;
    static const bool registered = [] {
      WNDCLASSEXA wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = Proc;
      wc.hInstance = GetModuleHandleA(nullptr);
      wc.lpszClassName = "TelorusLookupWindow";
      return RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    if (!registered) return nullptr;
    window = CreateWindowExA(0, "TelorusLookupWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    return window;
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<std::shared_ptr<Job>, HWND>> queue_;
  std::unordered_map<std::uint32_t, std::shared_ptr<Job>> active_;
  std::unordered_map<std::uint32_t, std::shared_ptr<Job>> cancelled_;
  std::uint32_t nextInjected_ = kFirstInjectedHandle;
  std::thread worker_;
};

}  // namespace

bool GetHostByName(const std::string& name, HostEntry* result) {
  if (!Started()) {
    SetLastError(kWsaNotinitialised);
    return false;
  }
  return Resolver::Instance().Blocking(name, result);
}

std::uint32_t AsyncGetHostByName(WindowId target, std::uint32_t msg, const std::string& name, HostEntry* result) {
  if (!Started()) {
    SetLastError(kWsaNotinitialised);
    return 0;
  }
  return Resolver::Instance().Start(target, msg, name, false, 0, result);
}

std::uint32_t AsyncGetHostByAddr(WindowId target, std::uint32_t msg, std::uint32_t address, HostEntry* result) {
  if (!Started()) {
    SetLastError(kWsaNotinitialised);
    return 0;
  }
  return Resolver::Instance().Start(target, msg, InetNtoa(address), true, address, result);
}

int CancelAsyncRequest(std::uint32_t handle) { return Resolver::Instance().Cancel(handle); }

void SetHostResolverForTesting(HostResolver resolver, bool inline_completion) {
  auto& hook = TestHook();
  std::lock_guard lock(hook.mutex);
  hook.resolver = std::move(resolver);
  hook.inlineCompletion = inline_completion;
}

std::size_t PendingLookups() { return Resolver::Instance().Pending(); }

}  // namespace telorus::platform::net
