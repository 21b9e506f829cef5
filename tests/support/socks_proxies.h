// Real SOCKS proxies for tests, started by the tests themselves on
// 127.0.0.1 on a free port and stopped when the object goes: dante (SOCKS 4
// and 5, RFC 1929 user/password against the password database) and
// microsocks (SOCKS 5, optional user/password).
#pragma once

#include <cstdint>
#include <string>

#include "support/x_servers.h"

namespace telorus::test {

class SocksProxy {
 public:
  SocksProxy() = default;
  SocksProxy(const SocksProxy&) = delete;
  SocksProxy& operator=(const SocksProxy&) = delete;
  virtual ~SocksProxy();

  bool Ok() const { return ok_; }
  // Why the proxy is not usable, when Ok() is false.
  const std::string& Problem() const { return problem_; }
  std::uint16_t Port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }

 protected:
  // Starts argv and waits for the port to accept connections.
  void Start(const std::vector<std::string>& argv, const std::string& what);

  Process process_;
  long brokerId_ = -1;  // on Windows: the broker's number for the proxy
  std::uint16_t port_ = 0;
  bool ok_ = false;
  std::string problem_;
  std::vector<std::string> files_;  // removed on destruction
};

struct DanteOptions {
  // Clients authenticate with RFC 1929 user/password (kUser, kPassword).
  bool userPassword = false;
  // Requests for this destination port on 127.0.0.1 are refused by the
  // ruleset (0: none).
  std::uint16_t blockedPort = 0;
};

class DanteProxy : public SocksProxy {
 public:
  // The account the user/password mode knows. It exists only in private
  // copies of the password files, bind-mounted over /etc/passwd and
  // /etc/shadow in the proxy's own mount namespace.
  static constexpr const char* kUser = "telorustest";
  static constexpr const char* kPassword = "s3cret-pw";

  explicit DanteProxy(const DanteOptions& options = {});
};

class MicrosocksProxy : public SocksProxy {
 public:
  // With a user, clients must authenticate with user/password.
  explicit MicrosocksProxy(const std::string& user = "", const std::string& password = "");
};

}  // namespace telorus::test
