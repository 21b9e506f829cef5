// A loopback RFB server that plays a script and can switch to TLS midway
// (GnuTLS, anonymous or with a certificate), as VeNCrypt and anonymous TLS
// servers do. One client, one thread, steps in order: Send, Expect (read
// exactly n bytes, recorded), StartTls, Alert (a fatal TLS alert), Bye (the
// TLS close notification), Pause and Close. After the last step it keeps
// reading for a moment, so that a test sees anything the client sent after
// the script's end (after a refusal: nothing).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace telorus::test {

class TlsScriptedServer {
 public:
  TlsScriptedServer();
  ~TlsScriptedServer();
  TlsScriptedServer(const TlsScriptedServer&) = delete;
  TlsScriptedServer& operator=(const TlsScriptedServer&) = delete;

  std::uint16_t Port() const { return port_; }

  TlsScriptedServer& Send(std::string bytes);
  TlsScriptedServer& Expect(std::size_t count);
  // Anonymous when no certificate is given (PEM files).
  TlsScriptedServer& StartTls(std::string certificate = "", std::string key = "");
  TlsScriptedServer& Alert();
  TlsScriptedServer& Bye();
  TlsScriptedServer& Pause(std::chrono::milliseconds ms);
  TlsScriptedServer& Close();

  void Start();
  bool WaitDone(std::chrono::milliseconds timeout = std::chrono::seconds(15));
  // Everything the client sent, decrypted where it came over TLS.
  std::string Received();
  // The bytes received after TLS started (decrypted).
  std::string ReceivedOverTls();
  std::string Failure();
  // Whether the client ended TLS with its close notification.
  bool SawCloseNotify();

 private:
  struct Step {
    enum Kind { kSend, kExpect, kStartTls, kAlert, kBye, kPause, kClose } kind = kSend;
    std::string bytes;
    std::size_t count = 0;
    std::string certificate, key;
    std::chrono::milliseconds pause{0};
  };
  TlsScriptedServer& Add(Step::Kind kind, std::string bytes = {}, std::size_t count = 0);
  void Run();
  bool Write(const std::string& bytes);
  // Reads up to `count` bytes within `timeout`; what arrived is recorded.
  std::size_t Read(std::size_t count, std::chrono::milliseconds timeout);
  bool Handshake(const Step& step);
  void Fail(const std::string& why);

  int listenFd_ = -1;
  int clientFd_ = -1;
  std::uint16_t port_ = 0;
  std::vector<Step> steps_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string received_;
  std::size_t tlsFrom_ = std::string::npos;
  std::string failure_;
  bool done_ = false;
  bool closeNotify_ = false;
  struct Tls;
  Tls* tls_ = nullptr;
};

}  // namespace telorus::test
