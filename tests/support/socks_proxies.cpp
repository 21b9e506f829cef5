#include "support/socks_proxies.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/loopback.h"

namespace telorus::test {
namespace {

std::string TempPath(const std::string& stem) {
  std::string path = "/tmp/telorus-" + stem + "-XXXXXX";
  int fd = mkstemp(path.data());
  if (fd >= 0) ::close(fd);
  return path;
}

bool Executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// SHA-512 crypt of DanteProxy::kPassword.
constexpr const char* kPasswordHash =
    "$6$telorussalt$AEdeuLtdss9LwOlv4sljV6/TuEKVHPM7gNK8YlXZYpMH5bApvB8BZpBvN6buZ5rMGWPQl1xKNlf9IND9a6umL/";

}  // namespace

SocksProxy::~SocksProxy() {
  process_.Stop();
  for (const auto& f : files_) std::remove(f.c_str());
}

void SocksProxy::Start(const std::vector<std::string>& argv, const std::string& what) {
  process_ = Process(argv);
  if (!process_.Running()) {
    problem_ = what + " did not start";
    return;
  }
  if (!WaitForTcpPort(port_, std::chrono::seconds(10))) {
    problem_ = what + " does not accept connections on port " + std::to_string(port_);
    return;
  }
  ok_ = true;
}

DanteProxy::DanteProxy(const DanteOptions& options) {
  if (!Executable("/usr/sbin/danted")) {
    problem_ = "danted is not installed (package dante-server)";
    return;
  }
  port_ = UnusedPort();
  std::string conf = TempPath("danted-conf");
  files_.push_back(conf);
  {
    std::ofstream out(conf);
    out << "logoutput: /dev/null\n"
        << "internal: 127.0.0.1 port = " << port_ << "\n"
        << "external: 127.0.0.1\n"
        << "clientmethod: none\n"
        << "socksmethod: " << (options.userPassword ? "username" : "none") << "\n"
        << "user.privileged: root\n"
        << "user.unprivileged: nobody\n"
        << "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n";
    if (options.blockedPort != 0)
      out << "socks block { from: 127.0.0.0/8 to: 127.0.0.1/32 port = " << options.blockedPort << " }\n";
    out << "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 command: connect }\n";
  }
  if (!options.userPassword) {
    Start({"/usr/sbin/danted", "-f", conf, "-N", "1"}, "danted");
    return;
  }
  if (geteuid() != 0 || std::system("unshare -m true >/dev/null 2>&1") != 0) {
    problem_ = "dante's user/password mode needs a private mount namespace (root and unshare -m)";
    return;
  }
  // Private copies of the password files with the test account; the real
  // files are never changed.
  std::string passwd = TempPath("passwd");
  std::string shadow = TempPath("shadow");
  files_.push_back(passwd);
  files_.push_back(shadow);
  {
    std::ofstream out(passwd);
    out << ReadFile("/etc/passwd") << kUser << ":x:54321:54321::/nonexistent:/usr/sbin/nologin\n";
  }
  {
    std::ofstream out(shadow);
    out << ReadFile("/etc/shadow") << kUser << ":" << kPasswordHash << ":19000:0:99999:7:::\n";
  }
  Start({"unshare", "-m", "sh", "-c",
         "mount --bind \"$0\" /etc/passwd && mount --bind \"$1\" /etc/shadow && exec /usr/sbin/danted -f \"$2\" -N 1",
         passwd, shadow, conf},
        "danted (user/password)");
}

MicrosocksProxy::MicrosocksProxy(const std::string& user, const std::string& password) {
  if (!Executable("/usr/bin/microsocks")) {
    problem_ = "microsocks is not installed (package microsocks)";
    return;
  }
  port_ = UnusedPort();
  std::vector<std::string> argv = {"/usr/bin/microsocks", "-i", "127.0.0.1", "-p",
                                   std::to_string(port_), "-b", "127.0.0.1"};
  if (!user.empty()) argv.insert(argv.end(), {"-u", user, "-P", password});
  Start(argv, "microsocks");
}

}  // namespace telorus::test
