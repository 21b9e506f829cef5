#include "support/scripted_server.h"

#include "support/bsd_sockets.h"

#include <random>
#include <stdexcept>

namespace telorus::test {

const char* ChunkingName(Chunking c) {
  switch (c) {
    case Chunking::Whole: return "whole";
    case Chunking::ByteByByte: return "byte-by-byte";
    case Chunking::Random: return "random";
  }
  return "?";
}

ScriptedServer::ScriptedServer(Chunking chunking, std::uint32_t seed) : chunking_(chunking), seed_(seed) {
  listenFd_ = OpenTcpSocket();
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listenFd_, 4) != 0)
    throw std::runtime_error("scripted server cannot listen");
  socklen_t len = sizeof sa;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.sin_port);
}

ScriptedServer::~ScriptedServer() {
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);
  if (clientFd_ >= 0) ::shutdown(clientFd_, SHUT_RDWR);
  if (thread_.joinable()) thread_.join();
  if (reader_.joinable()) reader_.join();
  if (clientFd_ >= 0) CloseSocketFd(clientFd_);
  if (listenFd_ >= 0) CloseSocketFd(listenFd_);
}

ScriptedServer& ScriptedServer::Send(std::string bytes) {
  steps_.push_back({Step::kSend, std::move(bytes), 0, {}, {}});
  return *this;
}
ScriptedServer& ScriptedServer::Expect(std::size_t count) {
  steps_.push_back({Step::kExpect, {}, count, {}, {}});
  return *this;
}
ScriptedServer& ScriptedServer::Pause(std::chrono::milliseconds ms) {
  steps_.push_back({Step::kPause, {}, 0, ms, {}});
  return *this;
}
ScriptedServer& ScriptedServer::Close() {
  steps_.push_back({Step::kClose, {}, 0, {}, {}});
  return *this;
}
ScriptedServer& ScriptedServer::Reset() {
  steps_.push_back({Step::kReset, {}, 0, {}, {}});
  return *this;
}
ScriptedServer& ScriptedServer::Do(std::function<void()> action) {
  steps_.push_back({Step::kDo, {}, 0, {}, std::move(action)});
  return *this;
}

void ScriptedServer::Start() {
  thread_ = std::thread([this] { Run(); });
}

bool ScriptedServer::WaitDone(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return done_; });
}

std::string ScriptedServer::Received() {
  std::lock_guard lock(mutex_);
  return received_;
}

std::string ScriptedServer::Failure() {
  std::lock_guard lock(mutex_);
  return failure_;
}

void ScriptedServer::Fail(const std::string& why) {
  std::lock_guard lock(mutex_);
  if (failure_.empty()) failure_ = why;
}

void ScriptedServer::SendChunked(const std::string& bytes) {
  std::mt19937 rng(seed_++);
  std::size_t off = 0;
  while (off < bytes.size()) {
    std::size_t n = bytes.size() - off;
    if (chunking_ == Chunking::ByteByByte) n = 1;
    if (chunking_ == Chunking::Random) n = std::min<std::size_t>(n, 1 + rng() % 64);
    const char* p = bytes.data() + off;
    std::size_t left = n;
    while (left > 0) {
      ssize_t w = ::send(clientFd_, p, left, MSG_NOSIGNAL);
      if (w <= 0) return Fail("send failed: client gone");
      p += w;
      left -= static_cast<std::size_t>(w);
    }
    off += n;
    // A pause lets each chunk arrive as its own read on the client side.
    if (chunking_ != Chunking::Whole && off < bytes.size())
      std::this_thread::sleep_for(std::chrono::microseconds(chunking_ == Chunking::ByteByByte ? 150 : 400));
  }
}

void ScriptedServer::Run() {
  pollfd p{static_cast<decltype(pollfd::fd)>(listenFd_), POLLIN, 0};
  if (Poll(&p, 1, 10000) <= 0) {
    Fail("no client connected");
  } else {
    clientFd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    int one = 1;
    setsockopt(clientFd_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    // Everything the client sends is recorded as it arrives.
    reader_ = std::thread([this] {
      char buf[65536];
      for (;;) {
        ssize_t n = ::recv(clientFd_, buf, sizeof buf, 0);
        std::lock_guard lock(mutex_);
        if (n <= 0) {
          clientClosed_ = true;
          changed_.notify_all();
          return;
        }
        received_.append(buf, static_cast<std::size_t>(n));
        changed_.notify_all();
      }
    });
    std::size_t expected = 0;
    for (auto& step : steps_) {
      if (!Failure().empty()) break;
      {
        std::lock_guard lock(mutex_);
        if (done_) break;
      }
      switch (step.kind) {
        case Step::kSend: SendChunked(step.bytes); break;
        case Step::kExpect: {
          expected += step.count;
          std::unique_lock lock(mutex_);
          if (!changed_.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return received_.size() >= expected || clientClosed_ || done_; }) ||
              received_.size() < expected) {
            lock.unlock();
            Fail("expected " + std::to_string(expected) + " bytes from the client");
          }
          break;
        }
        case Step::kPause: std::this_thread::sleep_for(step.pause); break;
        case Step::kClose: ::shutdown(clientFd_, SHUT_WR); break;
        case Step::kReset: {
          // Stop the reader first, then close with a zero linger: the
          // client sees a reset.
          ::shutdown(clientFd_, SHUT_RD);
          if (reader_.joinable()) reader_.join();
          linger l{1, 0};
          setsockopt(clientFd_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
          CloseSocketFd(clientFd_);
          clientFd_ = -1;
          break;
        }
        case Step::kDo: step.action(); break;
      }
    }
  }
  std::lock_guard lock(mutex_);
  done_ = true;
  changed_.notify_all();
}

}  // namespace telorus::test
