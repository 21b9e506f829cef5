// Plain blocking BSD sockets on 127.0.0.1 that play the far side of a
// connection in tests: a listener on a free port and the accepted peer.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace telorus::test {

class Peer {
 public:
  explicit Peer(int fd = -1) : fd_(fd) {}
  ~Peer();
  Peer(Peer&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Peer& operator=(Peer&& o) noexcept;
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool Valid() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  void SendAll(const std::string& data);
  // Reads until `count` bytes arrived, the peer closed, or the timeout passed.
  std::string ReadExactly(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Reads until the peer closes (or the timeout passes).
  std::string ReadToEnd(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  void SetReceiveBuffer(int bytes);
  void ShutdownWrite();
  // An abortive close: the other side sees a reset.
  void Reset();
  void Close();

 private:
  int fd_;
};

class Listener {
 public:
  Listener();  // listens on 127.0.0.1, port 0
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  std::uint16_t Port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }
  // Waits up to the timeout for one connection; an invalid Peer if none.
  Peer Accept(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  void SetReceiveBuffer(int bytes);  // applies to connections accepted later

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// A loopback port that nobody listens on (bound, then released).
std::uint16_t UnusedPort();

// `size` bytes that do not repeat with a short period, so that a lost,
// doubled or reordered stretch of a long transfer shows.
std::string PatternBytes(std::size_t size);

}  // namespace telorus::test
