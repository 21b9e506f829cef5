// Host lookups on Linux: the blocking resolver calls, and their asynchronous
// form (one worker thread, completions delivered on the owning thread).
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/net.h"
#include "platform/posix/loop.h"

namespace telorus::platform::net {
namespace {

struct Hook {
  std::mutex mutex;
  HostResolver resolver;
  bool inlineCompletion = false;
};

Hook& TestHook() {
  static auto* hook = new Hook;
  return *hook;
}

int SystemLookup(const std::string& text, bool byAddress, HostEntry* out) {
  if (byAddress) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = InetAddr(text);
    char host[NI_MAXHOST];
    int rc = getnameinfo(reinterpret_cast<sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0, NI_NAMEREQD);
    if (rc != 0) return ErrorFromResolver(rc);
    out->officialName = host;
    out->addresses = {sa.sin_addr.s_addr};
    return 0;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(text.c_str(), nullptr, &hints, &list);
  if (rc != 0) return ErrorFromResolver(rc);
  out->officialName = (list && list->ai_canonname) ? list->ai_canonname : text;
  out->addresses.clear();
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    auto* sa = reinterpret_cast<sockaddr_in*>(ai->ai_addr);
    std::uint32_t a = sa->sin_addr.s_addr;
    bool seen = false;
    for (auto x : out->addresses) seen = seen || x == a;
    if (!seen) out->addresses.push_back(a);
  }
  freeaddrinfo(list);
  return out->addresses.empty() ? kWsaNoData : 0;
}

int Lookup(const std::string& text, bool byAddress, HostEntry* out) {
  HostResolver resolver;
  {
    auto& hook = TestHook();
    std::lock_guard lock(hook.mutex);
    resolver = hook.resolver;
  }
  return resolver ? resolver(text, byAddress, out) : SystemLookup(text, byAddress, out);
}

// One asynchronous lookup, from its start until it is delivered or cancelled.
struct Job {
  std::uint32_t handle = 0;
  WindowId target = 0;
  std::uint32_t msg = 0;
  std::string text;
  bool byAddress = false;
  HostEntry* result = nullptr;  // touched only on the owning thread
  HostEntry found;
  int error = 0;
};

class Resolver {
 public:
  static Resolver& Instance() {
    static auto* r = new Resolver;  // its worker runs until the process ends
    return *r;
  }

  std::uint32_t Start(WindowId target, std::uint32_t msg, std::string text, bool byAddress, HostEntry* result) {
    posix::Loop* loop = posix::LoopOf(target);
    if (!loop) {
      SetLastError(kWsaEinval);
      return 0;
    }
    auto job = std::make_shared<Job>();
    job->target = target;
    job->msg = msg;
    job->text = std::move(text);
    job->byAddress = byAddress;
    job->result = result;
    bool inlineCompletion;
    {
      std::lock_guard lock(TestHook().mutex);
      inlineCompletion = TestHook().inlineCompletion;
    }
    {
      std::lock_guard lock(mutex_);
      if (++next_ == 0) ++next_;
      job->handle = next_;
      active_[job->handle] = job;
      if (!inlineCompletion) {
        queue_.push_back(job);
        if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
      }
    }
    if (inlineCompletion) {
      // The lookup is answered at once and its record handed over before the
      // starter has the handle: the early-completion path of the caller.
      job->error = Lookup(job->text, job->byAddress, &job->found);
      loop->DispatchNow(MakeRecord(job));
    } else {
      wake_.notify_one();
    }
    return job->handle;
  }

  int Cancel(std::uint32_t handle) {
    std::lock_guard lock(mutex_);
    if (active_.erase(handle) == 0) {
      SetLastError(10037);  // already completed, or never started
      return -1;
    }
    return 0;
  }

  std::size_t Pending() {
    std::lock_guard lock(mutex_);
    return active_.size();
  }

 private:
  posix::Record MakeRecord(const std::shared_ptr<Job>& job) {
    posix::Record r;
    r.message = Message{job->target, job->msg, job->handle, MakeSelectReply(0, static_cast<unsigned>(job->error))};
    // Runs on the owning thread just before delivery: a cancelled lookup is
    // dropped without touching the caller's result.
    r.prepare = [this, job] {
      {
        std::lock_guard lock(mutex_);
        if (active_.erase(job->handle) == 0) return false;
      }
      if (job->result) *job->result = std::move(job->found);
      return true;
    };
    return r;
  }

  void Work() {
    for (;;) {
      std::shared_ptr<Job> job;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return !queue_.empty(); });
        job = queue_.front();
        queue_.pop_front();
        if (!active_.count(job->handle)) continue;  // cancelled before it started
      }
      job->error = Lookup(job->text, job->byAddress, &job->found);
      if (!posix::PostRecord(job->target, MakeRecord(job))) {
        std::lock_guard lock(mutex_);
        active_.erase(job->handle);  // its receiver is gone
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Job>> queue_;
  std::unordered_map<std::uint32_t, std::shared_ptr<Job>> active_;
  std::uint32_t next_ = 0;
  std::thread worker_;
};

}  // namespace

bool GetHostByName(const std::string& name, HostEntry* result) {
  if (!Started()) {
    SetLastError(kWsaNotinitialised);
    return false;
  }
  int err = Lookup(name, false, result);
  if (err) SetLastError(err);
  return err == 0;
}

std::uint32_t AsyncGetHostByName(WindowId target, std::uint32_t msg, const std::string& name, HostEntry* result) {
  if (!Started()) {
    SetLastError(kWsaNotinitialised);
    return 0;
  }
  return Resolver::Instance().Start(target, msg, name, false, result);
}

std::uint32_t AsyncGetHostByAddr(WindowId target, std::uint32_t msg, std::uint32_t address, HostEntry* result) {
  if (!Started()) {
    SetLastError(kWsaNotinitialised);
    return 0;
  }
  return Resolver::Instance().Start(target, msg, InetNtoa(address), true, result);
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
