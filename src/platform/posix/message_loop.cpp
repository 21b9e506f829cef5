// The Linux message loop: a per-thread queue of records dispatched one at a
// time, fed by posts from any thread, timers, and socket readiness that is
// turned into Winsock-style notification records (see net.h).
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <stdexcept>

#include "platform/net.h"
#include "platform/posix/loop.h"

namespace telorus::platform::posix {
namespace {

using Clock = std::chrono::steady_clock;

struct ReceiverRegistry {
  std::mutex mutex;
  std::unordered_map<WindowId, Loop*> owners;
  WindowId next = 1;
};

// Never destroyed: worker threads may still post while the process exits.
ReceiverRegistry& Receivers() {
  static auto* registry = new ReceiverRegistry;
  return *registry;
}

Record SocketRecord(const SocketState& s, int fd, unsigned event, int error) {
  Record r;
  r.message = Message{s.target, s.msg, static_cast<std::uintptr_t>(fd),
                      net::MakeSelectReply(event, static_cast<unsigned>(error))};
  return r;
}

int PendingSocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

}  // namespace

SocketTable& SocketTable::Instance() {
  static auto* table = new SocketTable;
  return *table;
}

Loop* LoopOf(WindowId id) {
  auto& reg = Receivers();
  std::lock_guard lock(reg.mutex);
  auto it = reg.owners.find(id);
  return it == reg.owners.end() ? nullptr : it->second;
}

WindowId RegisterReceiver(Loop* loop) {
  auto& reg = Receivers();
  std::lock_guard lock(reg.mutex);
  WindowId id = reg.next++;
  reg.owners.emplace(id, loop);
  return id;
}

bool PostRecord(WindowId target, Record record) {
  // The registry lock is held while enqueueing so that the loop cannot be
  // destroyed between the lookup and the post.
  auto& reg = Receivers();
  std::lock_guard lock(reg.mutex);
  auto it = reg.owners.find(target);
  if (it == reg.owners.end()) return false;
  record.message.target = target;
  it->second->Enqueue(std::move(record));
  return true;
}

void UnregisterReceiver(WindowId id) {
  auto& reg = Receivers();
  std::lock_guard lock(reg.mutex);
  reg.owners.erase(id);
}

Loop::Loop() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (wakeFd_ < 0) throw std::runtime_error("cannot create the message loop's wake descriptor");
}

Loop::~Loop() {
  // Receivers still registered to this loop can no longer be posted to.
  {
    auto& reg = Receivers();
    std::lock_guard lock(reg.mutex);
    std::erase_if(reg.owners, [this](const auto& entry) { return entry.second == this; });
  }
  {
    auto& table = SocketTable::Instance();
    std::lock_guard lock(table.mutex);
    for (auto& [fd, state] : table.sockets)
      if (state.loop == this) state.loop = nullptr, state.mask = 0;
  }
  close(wakeFd_);
}

Loop& Loop::Current() {
  thread_local Loop loop;
  return loop;
}

void Loop::Enqueue(Record record) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(record));
  }
  std::uint64_t one = 1;
  // The descriptor is non-blocking; a full counter still means "wake up".
  [[maybe_unused]] auto n = write(wakeFd_, &one, sizeof one);
}

void Loop::AddHandler(WindowId id, MessageHandler handler) {
  handlers_[id] = std::make_shared<MessageHandler>(std::move(handler));
}

void Loop::RemoveHandler(WindowId id) {
  handlers_.erase(id);
  std::erase_if(timers_, [id](const Timer& t) { return t.target == id; });
  Purge([id](const Record& r) { return r.message.target == id; });
}

void Loop::SetTimer(WindowId target, std::uintptr_t id, unsigned intervalMs) {
  auto interval = std::chrono::milliseconds(std::max(1u, intervalMs));
  for (auto& t : timers_) {
    if (t.target == target && t.id == id) {
      t.interval = interval;
      t.due = Clock::now() + interval;
      return;
    }
  }
  timers_.push_back(Timer{target, id, interval, Clock::now() + interval, false});
}

void Loop::KillTimer(WindowId target, std::uintptr_t id) {
  std::erase_if(timers_, [&](const Timer& t) { return t.target == target && t.id == id; });
  Purge([&](const Record& r) { return r.isTimer && r.message.target == target && r.timerId == id; });
}

void Loop::Purge(const std::function<bool(const Record&)>& match) {
  std::lock_guard lock(mutex_);
  std::erase_if(queue_, match);
}

void Loop::QueueDueTimers(Clock::time_point now) {
  for (auto& t : timers_) {
    if (t.queued || now < t.due) continue;
    t.queued = true;
    t.due = now + t.interval;
    Record r;
    r.message = Message{t.target, kTimerMessage, t.id, 0};
    r.isTimer = true;
    r.timerId = t.id;
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(r));
  }
}

int Loop::MillisecondsToNextTimer(Clock::time_point now) const {
  int best = -1;
  for (const auto& t : timers_) {
    if (t.queued) continue;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.due - now).count();
    int v = ms < 0 ? 0 : static_cast<int>(std::min<long long>(ms, 1 << 30));
    if (best < 0 || v < best) best = v;
  }
  return best;
}

short Loop::WantedEvents(int fd, const SocketState& s, bool* readyNow) {
  *readyNow = false;
  if (s.loop == nullptr || s.mask == 0 || s.finished) return 0;
  if (s.hasDeferredConnect) {
    *readyNow = true;
    return 0;
  }
  if (s.peerEnded && !s.closeDone) {
    int pending = 0;
    if (ioctl(fd, FIONREAD, &pending) == 0 && pending <= 0) {
      *readyNow = true;
      return 0;
    }
  }
  short events = 0;
  if (s.connecting) {
    events = POLLOUT;
  } else if (s.listening) {
    if ((s.mask & net::kFdAccept) && s.acceptArmed) events = POLLIN;
  } else if (s.type != SOCK_STREAM) {
    if ((s.mask & net::kFdRead) && s.readArmed) events |= POLLIN;
    if ((s.mask & net::kFdWrite) && s.writeArmed) events |= POLLOUT;
  } else if (s.connected) {
    if ((s.mask & net::kFdRead) && s.readArmed && !s.eof) events |= POLLIN;
    if ((s.mask & net::kFdWrite) && s.writeArmed) events |= POLLOUT;
    if ((s.mask & net::kFdClose) && !s.closeDone && !s.peerEnded) events |= POLLRDHUP;
  }
  return events;
}

int Loop::WaitSet(std::vector<pollfd>* fds) {
  fds->clear();
  fds->push_back(pollfd{wakeFd_, POLLIN, 0});
  bool ready = false;
  {
    auto& table = SocketTable::Instance();
    std::lock_guard lock(table.mutex);
    for (auto& [fd, s] : table.sockets) {
      if (s.loop != this) continue;
      bool now = false;
      const short events = WantedEvents(fd, s, &now);
      ready = ready || now;
      if (events) fds->push_back(pollfd{fd, events, 0});
    }
  }
  {
    std::lock_guard lock(mutex_);
    ready = ready || !queue_.empty();
  }
  if (ready) return 0;
  return MillisecondsToNextTimer(Clock::now());
}

bool Loop::PumpSlice() {
  Collect(0);
  std::size_t count;
  {
    std::lock_guard lock(mutex_);
    count = queue_.size();
  }
  bool quit = false;
  Record r;
  // Handlers may pump (and so take records) themselves: stop when the
  // queue runs dry before the count does.
  while (count-- > 0 && PopRecord(&r)) {
    if (r.quit) {
      quit = true;
      continue;
    }
    Deliver(r);
  }
  return quit;
}

// Socket readiness, Winsock style. Each registered socket contributes the
// poll events for the bits that are armed; what poll reports becomes one
// record per bit, and the bit is disarmed until the call that re-enables it
// (recv for read, accept for accept, a send that would block for write).
void Loop::Collect(int timeoutMs) {
  std::vector<pollfd> fds;
  fds.push_back(pollfd{wakeFd_, POLLIN, 0});
  std::vector<Record> ready;
  auto& table = SocketTable::Instance();
  {
    std::lock_guard lock(table.mutex);
    for (auto& [fd, s] : table.sockets) {
      if (s.loop != this || s.mask == 0 || s.finished) continue;
      if (s.hasDeferredConnect) {
        // A connect that failed at once is still reported as a record.
        s.hasDeferredConnect = false;
        s.connecting = false;
        if (s.mask & net::kFdConnect)
          ready.push_back(SocketRecord(s, fd, net::kFdConnect, net::ErrorFromErrno(s.deferredConnectError)));
        continue;
      }
      if (s.peerEnded && !s.closeDone) {
        int pending = 0;
        if (ioctl(fd, FIONREAD, &pending) == 0 && pending <= 0) {
          s.closeDone = true;
          s.finished = true;  // nothing is left to tell about this stream
          if (s.mask & net::kFdClose) ready.push_back(SocketRecord(s, fd, net::kFdClose, 0));
          continue;
        }
      }
      bool readyNow = false;
      const short events = WantedEvents(fd, s, &readyNow);
      if (events) fds.push_back(pollfd{fd, events, 0});
    }
  }
  if (!ready.empty()) timeoutMs = 0;
  {
    std::lock_guard lock(mutex_);
    if (!queue_.empty()) timeoutMs = 0;
  }
  int nextTimer = MillisecondsToNextTimer(Clock::now());
  if (nextTimer >= 0 && (timeoutMs < 0 || nextTimer < timeoutMs)) timeoutMs = nextTimer;

  int n = poll(fds.data(), fds.size(), timeoutMs);
  if (n > 0) {
    if (fds[0].revents & POLLIN) {
      std::uint64_t count;
      while (read(wakeFd_, &count, sizeof count) > 0) {
      }
    }
    std::lock_guard lock(table.mutex);
    for (std::size_t i = 1; i < fds.size(); ++i) {
      short rev = fds[i].revents;
      if (!rev) continue;
      int fd = fds[i].fd;
      auto it = table.sockets.find(fd);
      if (it == table.sockets.end()) continue;
      SocketState& s = it->second;
      if (s.loop != this || s.mask == 0) continue;

      if (s.connecting) {
        int err = PendingSocketError(fd);
        s.connecting = false;
        s.connected = (err == 0);
        if (s.mask & net::kFdConnect)
          ready.push_back(SocketRecord(s, fd, net::kFdConnect, err ? net::ErrorFromErrno(err) : 0));
        if (err == 0 && (s.mask & net::kFdWrite)) {
          ready.push_back(SocketRecord(s, fd, net::kFdWrite, 0));
          s.writeArmed = false;
        }
        continue;
      }
      if (s.listening) {
        if ((rev & POLLIN) && s.acceptArmed) {
          s.acceptArmed = false;
          ready.push_back(SocketRecord(s, fd, net::kFdAccept, 0));
        }
        continue;
      }
      if (s.type != SOCK_STREAM) {
        if ((rev & (POLLIN | POLLERR)) && s.readArmed && (s.mask & net::kFdRead)) {
          s.readArmed = false;
          ready.push_back(SocketRecord(s, fd, net::kFdRead, 0));
        } else if (rev & POLLERR) {
          PendingSocketError(fd);  // clears a queued ICMP error
        }
        if ((rev & POLLOUT) && s.writeArmed) {
          s.writeArmed = false;
          ready.push_back(SocketRecord(s, fd, net::kFdWrite, 0));
        }
        continue;
      }
      // Connected stream.
      int closeError = 0;
      bool peerGone = (rev & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
      if ((rev & POLLIN) && s.readArmed && (s.mask & net::kFdRead)) {
        char probe;
        ssize_t got = recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (got > 0) {
          s.readArmed = false;
          ready.push_back(SocketRecord(s, fd, net::kFdRead, 0));
        } else if (got == 0) {
          s.eof = true;
          peerGone = true;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          closeError = errno;
          peerGone = true;
        }
      }
      if ((rev & POLLOUT) && s.writeArmed && (s.mask & net::kFdWrite)) {
        s.writeArmed = false;
        ready.push_back(SocketRecord(s, fd, net::kFdWrite, 0));
      }
      if (peerGone) {
        if (!closeError) closeError = PendingSocketError(fd);
        int pending = 0;
        if (!closeError && !s.closeDone && ioctl(fd, FIONREAD, &pending) == 0 && pending > 0) {
          // An orderly end behind data not read yet: the close record
          // follows once the data is gone (a reset is told at once).
          s.peerEnded = true;
        } else if (!s.closeDone && (s.mask & net::kFdClose)) {
          s.closeDone = true;
          ready.push_back(SocketRecord(s, fd, net::kFdClose, closeError ? net::ErrorFromErrno(closeError) : 0));
        }
        // Nothing more can be told about a stream whose peer is gone once
        // its close is reported and its data is no longer wanted: stop
        // polling it so a lingering hang-up does not spin the loop.
        if (s.closeDone && (rev & (POLLHUP | POLLERR)) && (!s.readArmed || s.eof)) s.finished = true;
        if (s.closeDone && s.eof) s.finished = true;
      }
    }
  }
  QueueDueTimers(Clock::now());
  if (!ready.empty()) {
    std::lock_guard lock(mutex_);
    for (auto& r : ready) queue_.push_back(std::move(r));
  }
}

bool Loop::PopRecord(Record* out) {
  std::lock_guard lock(mutex_);
  if (queue_.empty()) return false;
  *out = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

void Loop::Deliver(Record& record) {
  auto it = handlers_.find(record.message.target);
  if (it == handlers_.end()) return;                     // receiver destroyed: the record is stale
  std::shared_ptr<MessageHandler> handler = it->second;  // may be removed by the call
  if (record.isTimer) {
    for (auto& t : timers_)
      if (t.target == record.message.target && t.id == record.timerId) t.queued = false;
  }
  if (record.prepare && !record.prepare()) return;
  (*handler)(record.message);
}

void Loop::DispatchNow(Record record) { Deliver(record); }

bool Loop::PumpPending() {
  bool quit = false;
  Collect(0);
  Record r;
  for (;;) {
    if (!PopRecord(&r)) {
      // Handlers may have re-armed sockets (a receive leaving data queued):
      // look once more before returning.
      Collect(0);
      if (!PopRecord(&r)) break;
    }
    if (r.quit) {
      quit = true;
      continue;
    }
    Deliver(r);
  }
  return quit;
}

bool Loop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout, bool* quitSeen) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    Record r;
    if (PopRecord(&r)) {
      if (r.quit) {
        if (quitSeen) *quitSeen = true;
        return done();
      }
      Deliver(r);
      continue;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return done();
    Collect(static_cast<int>(std::min<long long>(left, 1 << 30)));
  }
}

LoopCounts Loop::Counts() {
  LoopCounts c;
  c.notifiers = handlers_.size();
  c.timers = timers_.size();
  {
    std::lock_guard lock(mutex_);
    c.queued = queue_.size();
  }
  auto& table = SocketTable::Instance();
  std::lock_guard lock(table.mutex);
  for (auto& [fd, s] : table.sockets)
    if (s.loop == this && s.mask != 0) ++c.sockets;
  return c;
}

}  // namespace telorus::platform::posix

namespace telorus::platform {

using posix::Loop;

Notifier::Notifier(MessageHandler handler) {
  Loop& loop = Loop::Current();
  id_ = posix::RegisterReceiver(&loop);
  loop.AddHandler(id_, std::move(handler));
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
  Loop* loop = posix::LoopOf(id_);
  posix::UnregisterReceiver(id_);
  if (loop) loop->RemoveHandler(id_);
  id_ = 0;
}

bool Notifier::Post(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) const {
  return PostTo(id_, msg, wParam, lParam);
}

void Notifier::SetTimer(std::uintptr_t id, unsigned intervalMs) {
  if (Loop* loop = posix::LoopOf(id_)) loop->SetTimer(id_, id, intervalMs);
}

void Notifier::KillTimer(std::uintptr_t id) {
  if (Loop* loop = posix::LoopOf(id_)) loop->KillTimer(id_, id);
}

bool PostTo(WindowId target, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
  posix::Record r;
  r.message = Message{target, msg, wParam, lParam};
  return posix::PostRecord(target, std::move(r));
}

bool PumpPending() { return Loop::Current().PumpPending(); }

void PostQuit() {
  posix::Record r;
  r.quit = true;
  Loop::Current().Enqueue(std::move(r));
}

bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout, bool* quitSeen) {
  return Loop::Current().RunUntil(done, timeout, quitSeen);
}

void Run() {
  bool quit = false;
  while (!quit) Loop::Current().RunUntil([&] { return quit; }, std::chrono::hours(24), &quit);
}

LoopCounts CurrentLoopCounts() { return Loop::Current().Counts(); }

}  // namespace telorus::platform
