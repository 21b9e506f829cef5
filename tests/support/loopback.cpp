#include "support/loopback.h"

#include "support/bsd_sockets.h"

#include <stdexcept>

namespace telorus::test {

namespace {

using Clock = std::chrono::steady_clock;

bool WaitReadable(int fd, Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left < 0) left = 0;
  pollfd p{static_cast<decltype(pollfd::fd)>(fd), POLLIN, 0};
  return Poll(&p, 1, static_cast<int>(left)) > 0;
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

}  // namespace

Peer::~Peer() { Close(); }

Peer& Peer::operator=(Peer&& o) noexcept {
  if (this != &o) {
    Close();
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

void Peer::SendAll(const std::string& data) {
  std::size_t off = 0;
  while (off < data.size()) {
    ssize_t n = ::send(fd_, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n <= 0) throw std::runtime_error("peer send failed");
    off += static_cast<std::size_t>(n);
  }
}

std::string Peer::ReadExactly(std::size_t count, std::chrono::milliseconds timeout) {
  std::string out;
  auto deadline = Clock::now() + timeout;
  char buf[65536];
  while (out.size() < count && WaitReadable(fd_, deadline)) {
    ssize_t n = ::recv(fd_, buf, std::min(sizeof buf, count - out.size()), 0);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

std::string Peer::ReadToEnd(std::chrono::milliseconds timeout) {
  std::string out;
  auto deadline = Clock::now() + timeout;
  char buf[65536];
  while (WaitReadable(fd_, deadline)) {
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

void Peer::SetReceiveBuffer(int bytes) {
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

void Peer::ShutdownWrite() { ::shutdown(fd_, SHUT_WR); }

void Peer::Reset() {
  linger l{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
  Close();
}

void Peer::Close() {
  if (fd_ >= 0) CloseSocketFd(fd_);
  fd_ = -1;
}

Listener::Listener() {
  fd_ = OpenTcpSocket();
  sockaddr_in sa = Loopback(0);
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd_, 16) != 0)
    throw std::runtime_error("cannot listen on loopback");
  socklen_t len = sizeof sa;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.sin_port);
}

Listener::~Listener() {
  if (fd_ >= 0) CloseSocketFd(fd_);
}

Peer Listener::Accept(std::chrono::milliseconds timeout) {
  if (!WaitReadable(fd_, Clock::now() + timeout)) return Peer();
  return Peer(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
}

void Listener::SetReceiveBuffer(int bytes) {
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

std::uint16_t UnusedPort() {
  int fd = OpenTcpSocket();
  sockaddr_in sa = Loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  CloseSocketFd(fd);
  return ntohs(sa.sin_port);
}

std::string PatternBytes(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

}  // namespace telorus::test
