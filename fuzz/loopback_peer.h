// The far side of a fuzzed connection, in the fuzzer's own thread: one
// listener on 127.0.0.1 for the whole run, and a plain blocking peer per
// input. The helpers deliver one piece at a time: the piece is written, the
// loop is pumped until the socket under test has taken every byte from the
// system (or has closed), and only then does the next piece go out, so each
// piece arrives as one read and a run is the same every time.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/message_loop.h"

namespace telorus::fuzz {

// Stops the run with a message: libFuzzer reports it as a crash and writes
// the input, which scripts/test.sh prints in hex.
[[noreturn]] inline void Fault(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

class LoopbackListener {
 public:
  LoopbackListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 16) != 0)
      Fault("cannot listen on 127.0.0.1");
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  std::uint16_t Port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }

  // Accepts the connection the socket under test opened, pumping the loop
  // meanwhile (the connect completes inside it). -1 if none came.
  int Accept() {
    for (int i = 0; i < 2000; ++i) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, i == 0 ? 0 : 1) == 1) {
        int c = ::accept(fd_, nullptr, nullptr);
        if (c >= 0) {
          int one = 1;
          ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        }
        return c;
      }
      platform::PumpPending();
    }
    return -1;
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// The one listener of a fuzzing run (the far side's address stays the same
// from input to input).
inline LoopbackListener& SharedListener() {
  static LoopbackListener listener;
  return listener;
}

// The input from `at` on cut into the pieces the far side sends one by one:
// each piece is a length byte (1 + value % 64) and up to that many bytes.
inline std::vector<std::string> SplitPieces(const std::uint8_t* data, std::size_t size, std::size_t at) {
  std::vector<std::string> pieces;
  while (at < size) {
    std::size_t n = 1 + data[at] % 64;
    ++at;
    n = std::min(n, size - at);
    if (n == 0) break;
    pieces.emplace_back(reinterpret_cast<const char*>(data + at), n);
    at += n;
  }
  return pieces;
}

// Bytes the system holds for `fd` that nobody has read yet.
inline int BytesQueued(int fd) {
  int n = 0;
  if (fd < 0 || ::ioctl(fd, FIONREAD, &n) != 0) return 0;
  return n;
}

inline bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) == 1;
}

// Reads whatever `fd` has now, without waiting.
inline std::string ReadAvailable(int fd) {
  std::string out;
  char buf[4096];
  for (;;) {
    ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

// Reads until `want` bytes have come (what the socket under test has sent
// may still be on its way through loopback), or a moment passes without any.
inline std::string ReadUpTo(int fd, std::size_t want) {
  std::string out = ReadAvailable(fd);
  while (out.size() < want && Readable(fd, 1000)) {
    std::string more = ReadAvailable(fd);
    if (more.empty()) break;
    out += more;
  }
  return out;
}

inline void WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return;  // the socket under test has gone
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

// Pumps the loop until it is quiet: two pumps in a row that leave no record
// queued and the bytes the system holds for the socket under test (its
// current handle from `handle`, -1 once closed) unchanged. Bytes may stay
// queued legitimately: a handler that reads nothing gets no further read
// record until new data arrives. A loop that never goes quiet is a hang.
inline void Settle(const std::function<int()>& handle) {
  int quiet = 0;
  int lastQueued = -1;
  for (int round = 0; round < 200000; ++round) {
    platform::PumpPending();
    const int queued = BytesQueued(handle());
    if (platform::CurrentLoopCounts().queued == 0 && queued == lastQueued) {
      if (++quiet == 2) return;
    } else {
      quiet = 0;
    }
    lastQueued = queued;
  }
  Fault("the loop never went quiet (hang)");
}

// Sends one piece and lets the socket under test take it.
inline void Deliver(int peer, const std::uint8_t* data, std::size_t size, const std::function<int()>& handle) {
  WriteAll(peer, data, size);
  const int h = handle();
  if (h >= 0) Readable(h, 1000);  // loopback: the bytes are there at once
  Settle(handle);
}

// Ends the peer's side (an orderly close, or a reset) and runs the loop
// until `closed` says the socket under test saw it.
inline void ClosePeer(int& peer, bool reset, const std::function<bool()>& closed) {
  if (peer >= 0) {
    if (reset) {
      linger l{1, 0};
      ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    ::close(peer);
    peer = -1;
  }
  if (!platform::RunUntil(closed, std::chrono::seconds(5))) Fault("the close never reached the socket (hang)");
}

// After the socket under test is destroyed nothing may be left behind.
inline void ExpectLoopEmpty() {
  platform::PumpPending();
  const auto c = platform::CurrentLoopCounts();
  if (c.notifiers != 0 || c.sockets != 0 || c.timers != 0) Fault("the loop keeps notifiers, sockets or timers");
}

}  // namespace telorus::fuzz
