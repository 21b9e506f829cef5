// Internals shared by the Linux message loop, socket wrappers and resolver.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <poll.h>

#include "platform/message_loop.h"

namespace telorus::platform::posix {

class Loop;

// A queued record. `prepare`, when set, runs on the owning thread right
// before the record is handed to its receiver; returning false drops it.
struct Record {
  Message message;
  std::function<bool()> prepare;
  bool quit = false;
  std::uintptr_t timerId = 0;
  bool isTimer = false;
};

// What the readiness emulation knows about one socket handle, from its
// creation to its close. Guarded by SocketTable::mutex.
struct SocketState {
  int type = 0;  // SOCK_STREAM, SOCK_DGRAM, SOCK_RAW
  bool listening = false;
  bool connecting = false;       // non-blocking connect under way
  bool connected = false;        // stream: connect completed or accepted
  int deferredConnectError = 0;  // a connect that failed at once, reported later as a record
  bool hasDeferredConnect = false;
  bool sendShutdown = false;
  bool eof = false;       // the peer's end of stream has been read or seen
  bool finished = false;  // close reported and nothing more can be reported
  // Registration (WSAAsyncSelect).
  Loop* loop = nullptr;
  WindowId target = 0;
  std::uint32_t msg = 0;
  long mask = 0;
  // Re-enabling state: a bit is armed when its next record may be queued.
  bool readArmed = true;
  bool writeArmed = false;
  bool acceptArmed = true;
  bool closeDone = false;
  // The peer ended the stream while data was still queued: as on Winsock,
  // the close record waits until that data has been read.
  bool peerEnded = false;
};

class SocketTable {
 public:
  static SocketTable& Instance();
  std::mutex mutex;
  std::unordered_map<int, SocketState> sockets;
};

struct Timer {
  WindowId target = 0;
  std::uintptr_t id = 0;
  std::chrono::milliseconds interval{0};
  std::chrono::steady_clock::time_point due;
  bool queued = false;
};

class Loop {
 public:
  Loop();
  ~Loop();
  Loop(const Loop&) = delete;
  Loop& operator=(const Loop&) = delete;

  static Loop& Current();

  // Any thread.
  void Enqueue(Record record);
  // Owning thread only.
  void AddHandler(WindowId id, MessageHandler handler);
  void RemoveHandler(WindowId id);
  void SetTimer(WindowId target, std::uintptr_t id, unsigned intervalMs);
  void KillTimer(WindowId target, std::uintptr_t id);
  // Drops every queued record for which `match` is true.
  void Purge(const std::function<bool(const Record&)>& match);
  // Hands a record to its receiver now, on this thread (a SendMessage).
  void DispatchNow(Record record);

  bool PumpPending();
  // For a foreign main loop (GLib's) that polls on this loop's behalf: the
  // descriptors to watch with their poll events, and the milliseconds until
  // a timer is due (0 when records are waiting or something is ready
  // without polling; -1 when nothing is timed). Changes nothing.
  int WaitSet(std::vector<pollfd>* fds);
  // Collects readiness once and delivers the records queued at that moment,
  // not those that their handlers cause: a bounded slice of work, after
  // which the foreign loop may paint and take input. True if a quit record
  // was taken.
  bool PumpSlice();
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout, bool* quitSeen);
  LoopCounts Counts();

 private:
  // Polls the registered sockets and the wake descriptor for up to
  // `timeoutMs` (0: do not block) and turns readiness and due timers into
  // queued records.
  void Collect(int timeoutMs);
  // The poll events a registered socket wants now, and whether its next
  // record is due without polling (a deferred connect, or a close behind
  // data that has since been read).
  static short WantedEvents(int fd, const SocketState& s, bool* readyNow);
  void QueueDueTimers(std::chrono::steady_clock::time_point now);
  int MillisecondsToNextTimer(std::chrono::steady_clock::time_point now) const;
  bool PopRecord(Record* out);
  void Deliver(Record& record);

  std::mutex mutex_;  // guards queue_
  std::deque<Record> queue_;
  int wakeFd_ = -1;
  // Owning thread only.
  std::unordered_map<WindowId, std::shared_ptr<MessageHandler>> handlers_;
  std::vector<Timer> timers_;
};

// The loop that owns a receiver, for posts from any thread; null if gone.
Loop* LoopOf(WindowId id);
WindowId RegisterReceiver(Loop* loop);
// Queues a record for a receiver from any thread; false if it is gone.
bool PostRecord(WindowId target, Record record);
void UnregisterReceiver(WindowId id);

}  // namespace telorus::platform::posix
