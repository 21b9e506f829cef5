// Whether the system resolver can only ask servers on this machine: every
// "nameserver" line of /etc/resolv.conf names a loopback address. Tests that
// look up unknown names through the system resolver run only then.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace telorus::test {

inline bool ResolverIsConfined() {
  std::ifstream conf("/etc/resolv.conf");
  std::string line;
  bool any = false;
  while (std::getline(conf, line)) {
    std::istringstream words(line);
    std::string key, server;
    if (!(words >> key) || key != "nameserver") continue;
    words >> server;
    any = true;
    if (server.rfind("127.", 0) != 0 && server != "::1") return false;
  }
  // No nameserver line means glibc's default, 127.0.0.1.
  (void)any;
  return true;
}

}  // namespace telorus::test
