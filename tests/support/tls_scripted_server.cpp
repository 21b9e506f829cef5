#include "support/tls_scripted_server.h"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace telorus::test {

struct TlsScriptedServer::Tls {
  gnutls_session_t session = nullptr;
  gnutls_anon_server_credentials_t anon = nullptr;
  gnutls_certificate_credentials_t x509 = nullptr;
  ~Tls() {
    if (session) gnutls_deinit(session);
    if (anon) gnutls_anon_free_server_credentials(anon);
    if (x509) gnutls_certificate_free_credentials(x509);
  }
};

TlsScriptedServer::TlsScriptedServer() {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listenFd_, 4) != 0)
    throw std::runtime_error("TLS scripted server cannot listen");
  socklen_t len = sizeof sa;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.sin_port);
}

TlsScriptedServer::~TlsScriptedServer() {
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  ::shutdown(listenFd_, SHUT_RDWR);
  if (clientFd_ >= 0) ::shutdown(clientFd_, SHUT_RDWR);
  if (thread_.joinable()) thread_.join();
  delete tls_;
  if (clientFd_ >= 0) ::close(clientFd_);
  ::close(listenFd_);
}

TlsScriptedServer& TlsScriptedServer::Add(Step::Kind kind, std::string bytes, std::size_t count) {
  Step step;
  step.kind = kind;
  step.bytes = std::move(bytes);
  step.count = count;
  steps_.push_back(std::move(step));
  return *this;
}
TlsScriptedServer& TlsScriptedServer::Send(std::string bytes) { return Add(Step::kSend, std::move(bytes)); }
TlsScriptedServer& TlsScriptedServer::Expect(std::size_t count) { return Add(Step::kExpect, {}, count); }
TlsScriptedServer& TlsScriptedServer::StartTls(std::string certificate, std::string key) {
  Add(Step::kStartTls);
  steps_.back().certificate = std::move(certificate);
  steps_.back().key = std::move(key);
  return *this;
}
TlsScriptedServer& TlsScriptedServer::Alert() { return Add(Step::kAlert); }
TlsScriptedServer& TlsScriptedServer::Bye() { return Add(Step::kBye); }
TlsScriptedServer& TlsScriptedServer::Pause(std::chrono::milliseconds ms) {
  Add(Step::kPause);
  steps_.back().pause = ms;
  return *this;
}
TlsScriptedServer& TlsScriptedServer::Close() { return Add(Step::kClose); }

void TlsScriptedServer::Start() {
  thread_ = std::thread([this] { Run(); });
}

bool TlsScriptedServer::WaitDone(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return done_; });
}

std::string TlsScriptedServer::Received() {
  std::lock_guard lock(mutex_);
  return received_;
}

std::string TlsScriptedServer::ReceivedOverTls() {
  std::lock_guard lock(mutex_);
  return tlsFrom_ == std::string::npos ? std::string() : received_.substr(tlsFrom_);
}

bool TlsScriptedServer::SawCloseNotify() {
  std::lock_guard lock(mutex_);
  return closeNotify_;
}

std::string TlsScriptedServer::Failure() {
  std::lock_guard lock(mutex_);
  return failure_;
}

void TlsScriptedServer::Fail(const std::string& why) {
  std::lock_guard lock(mutex_);
  if (failure_.empty()) failure_ = why;
}

bool TlsScriptedServer::Write(const std::string& bytes) {
  std::size_t off = 0;
  while (off < bytes.size()) {
    const ssize_t n = tls_ ? gnutls_record_send(tls_->session, bytes.data() + off, bytes.size() - off)
                           : ::send(clientFd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<std::size_t>(n);
  }
  return true;
}

std::size_t TlsScriptedServer::Read(std::size_t count, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::size_t got = 0;
  char buffer[65536];
  while (got < count) {
    // Decrypted bytes may be waiting with nothing on the socket.
    if (!(tls_ && gnutls_record_check_pending(tls_->session) > 0)) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{clientFd_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    }
    const std::size_t want = std::min(sizeof buffer, count - got);
    const ssize_t n = tls_ ? gnutls_record_recv(tls_->session, buffer, want) : ::recv(clientFd_, buffer, want, 0);
    if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED) continue;
    if (n == 0 && tls_) {
      std::lock_guard lock(mutex_);
      closeNotify_ = true;
    }
    if (n <= 0) break;
    std::lock_guard lock(mutex_);
    received_.append(buffer, static_cast<std::size_t>(n));
    got += static_cast<std::size_t>(n);
    changed_.notify_all();
  }
  return got;
}

bool TlsScriptedServer::Handshake(const Step& step) {
  tls_ = new Tls;
  gnutls_init(&tls_->session, GNUTLS_SERVER);
  if (step.certificate.empty()) {
    gnutls_anon_allocate_server_credentials(&tls_->anon);
    gnutls_credentials_set(tls_->session, GNUTLS_CRD_ANON, tls_->anon);
    gnutls_priority_set_direct(tls_->session, "NORMAL:+ANON-ECDH:+ANON-DH", nullptr);
  } else {
    gnutls_certificate_allocate_credentials(&tls_->x509);
    if (gnutls_certificate_set_x509_key_file(tls_->x509, step.certificate.c_str(), step.key.c_str(),
                                             GNUTLS_X509_FMT_PEM) < 0)
      return false;
    gnutls_credentials_set(tls_->session, GNUTLS_CRD_CERTIFICATE, tls_->x509);
    gnutls_set_default_priority(tls_->session);
  }
  // Sends without SIGPIPE: a client that has gone must not end the test.
  gnutls_transport_set_int(tls_->session, clientFd_);
  gnutls_transport_set_push_function(tls_->session, [](gnutls_transport_ptr_t fd, const void* data, std::size_t n) {
    return ::send(static_cast<int>(reinterpret_cast<std::intptr_t>(fd)), data, n, MSG_NOSIGNAL);
  });
  gnutls_handshake_set_timeout(tls_->session, 10000);
  int result;
  do {
    result = gnutls_handshake(tls_->session);
  } while (result < 0 && gnutls_error_is_fatal(result) == 0);
  std::lock_guard lock(mutex_);
  tlsFrom_ = received_.size();
  return result >= 0;
}

void TlsScriptedServer::Run() {
  pollfd p{listenFd_, POLLIN, 0};
  if (::poll(&p, 1, 10000) <= 0) {
    Fail("no client connected");
  } else {
    clientFd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    int one = 1;
    setsockopt(clientFd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    for (const Step& step : steps_) {
      if (!Failure().empty()) break;
      bool ok = true;
      switch (step.kind) {
        case Step::kSend: ok = Write(step.bytes); break;
        case Step::kExpect: ok = Read(step.count, std::chrono::seconds(10)) == step.count; break;
        case Step::kStartTls: ok = Handshake(step); break;
        case Step::kAlert:
          ok = tls_ && gnutls_alert_send(tls_->session, GNUTLS_AL_FATAL, GNUTLS_A_ACCESS_DENIED) >= 0;
          break;
        case Step::kBye: ok = tls_ && gnutls_bye(tls_->session, GNUTLS_SHUT_WR) >= 0; break;
        case Step::kPause: std::this_thread::sleep_for(step.pause); break;
        case Step::kClose: ::shutdown(clientFd_, SHUT_WR); break;
      }
      if (!ok) Fail("step " + std::to_string(&step - steps_.data()) + " failed");
    }
    // Whatever else the client sends now is recorded too.
    Read(1 << 20, std::chrono::milliseconds(300));
  }
  std::lock_guard lock(mutex_);
  done_ = true;
  changed_.notify_all();
}

}  // namespace telorus::test
