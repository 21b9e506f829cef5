// telorus-peer-broker [--port-file FILE]: runs real servers, proxies and
// commands for test processes under Wine (see peer_broker.h). It listens on
// a free port of 127.0.0.1, prints it and writes it to FILE, and serves each
// connection on a thread of its own until it is killed.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "support/bsd_sockets.h"
#include "support/peer_broker.h"
#include "support/socks_proxies.h"
#include "support/x_servers.h"

namespace telorus::test {
namespace {

class Connection {
 public:
  explicit Connection(int fd) : fd_(fd) {}
  ~Connection() { CloseSocketFd(fd_); }

  void Serve() {
    std::string line;
    while (ReadLine(&line)) Handle(broker::Split(line));
    // The client is gone: everything it started stops now, with the objects.
  }

 private:
  bool ReadLine(std::string* line) {
    line->clear();
    char c;
    for (;;) {
      if (::recv(fd_, &c, 1, 0) != 1) return false;
      if (c == '\n') return true;
      *line += c;
    }
  }

  void Answer(const std::vector<std::string>& fields, const std::string& block = {}) {
    const std::string out = broker::Join(fields) + block;
    std::size_t off = 0;
    while (off < out.size()) {
      const ssize_t n = ::send(fd_, out.data() + off, out.size() - off, MSG_NOSIGNAL);
      if (n <= 0) return;
      off += static_cast<std::size_t>(n);
    }
  }

  std::string Keep(std::shared_ptr<void> object, Process* process = nullptr) {
    const std::string id = std::to_string(next_++);
    objects_[id] = {std::move(object), process};
    return id;
  }

  void Handle(const std::vector<std::string>& f) {
    const std::string& what = f[0];
    auto number = [&](std::size_t i) { return i < f.size() ? std::atoi(f[i].c_str()) : 0; };
    auto text = [&](std::size_t i) { return i < f.size() ? f[i] : std::string(); };
    if (what == "x11vnc" || what == "xvnc") {
      std::shared_ptr<RfbServer> server;
      if (what == "x11vnc")
        server = std::make_shared<X11VncServer>(number(1), number(2), number(3), text(4));
      else
        server = std::make_shared<XvncServer>(number(1), number(2), number(3), text(4), text(5));
      if (!server->Ok()) return Answer({"fail", server->Problem()});
      const std::string port = std::to_string(server->Port()), display = std::to_string(server->Display());
      return Answer({"ok", Keep(server), port, display});
    }
    if (what == "dante" || what == "microsocks") {
      std::shared_ptr<SocksProxy> proxy;
      if (what == "dante")
        proxy = std::make_shared<DanteProxy>(DanteOptions{number(1) != 0, static_cast<std::uint16_t>(number(2))});
      else
        proxy = std::make_shared<MicrosocksProxy>(text(1), text(2));
      if (!proxy->Ok()) return Answer({"fail", proxy->Problem()});
      const std::string port = proxy->PortText();
      return Answer({"ok", Keep(proxy), port});
    }
    if (what == "spawn") {
      const auto envEnd = static_cast<std::ptrdiff_t>(std::min(f.size(), 2 + static_cast<std::size_t>(number(1))));
      std::vector<std::string> env(f.begin() + std::min<std::ptrdiff_t>(2, envEnd), f.begin() + envEnd);
      std::vector<std::string> argv(f.begin() + envEnd, f.end());
      if (argv.empty()) return Answer({"fail", "nothing to start"});
      auto process = std::make_shared<Process>(argv, env);
      Process* raw = process.get();
      return Answer({"ok", Keep(std::move(process), raw)});
    }
    if (what == "running") {
      auto it = objects_.find(text(1));
      const bool running = it != objects_.end() && it->second.process && it->second.process->Running();
      return Answer({"ok", running ? "1" : "0"});
    }
    if (what == "stop") {
      objects_.erase(text(1));
      return Answer({"ok"});
    }
    if (what == "run") {
      std::vector<std::string> argv(f.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(2, f.size())),
                                    f.end());
      int status = -1;
      const std::string out = argv.empty() ? std::string() : RunWithDisplay(number(1), argv, &status);
      return Answer({"ok", std::to_string(status), std::to_string(out.size())}, out);
    }
    Answer({"fail", "unknown request " + what});
  }

  struct Entry {
    std::shared_ptr<void> object;
    Process* process = nullptr;  // set for spawned commands
  };
  int fd_;
  std::map<std::string, Entry> objects_;
  long next_ = 1;
};

}  // namespace
}  // namespace telorus::test

int main(int argc, char** argv) {
  using namespace telorus::test;
  std::string portFile;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--port-file") == 0 && i + 1 < argc) portFile = argv[++i];
  const int fd = OpenTcpSocket();
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 16) != 0) {
    std::perror("telorus-peer-broker");
    return 1;
  }
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  const unsigned port = ntohs(sa.sin_port);
  std::printf("%u\n", port);
  std::fflush(stdout);
  if (!portFile.empty()) {
    if (FILE* f = std::fopen(portFile.c_str(), "w")) {
      std::fprintf(f, "%u\n", port);
      std::fclose(f);
    }
  }
  for (;;) {
    const int client = ::accept(fd, nullptr, nullptr);
    if (client < 0) continue;
    std::thread([client] { Connection(client).Serve(); }).detach();
  }
}
