// The test peers under Wine: the classes of x_servers.h and socks_proxies.h
// asking the peer broker (peer_broker.h) to do the work on the Linux side.
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "support/bsd_sockets.h"
#include "support/peer_broker.h"
#include "support/socks_proxies.h"
#include "support/x_servers.h"

namespace telorus::test {
namespace {

class BrokerClient {
 public:
  static BrokerClient& Instance() {
    static auto* client = new BrokerClient;  // its connection ends with the process
    return *client;
  }

  // Sends a request; the answer's fields, with `block` receiving a counted
  // block when the answer announces one (its last field). An answer of
  // {"fail", why} when the broker cannot be reached.
  std::vector<std::string> Request(const std::vector<std::string>& fields, std::string* block = nullptr) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0 && !Connect()) return {"fail", problem_};
    const std::string line = broker::Join(fields);
    if (!SendAll(line)) return Lost();
    std::string answer;
    char c;
    for (;;) {
      if (::recv(fd_, &c, 1, 0) != 1) return Lost();
      if (c == '\n') break;
      answer += c;
    }
    std::vector<std::string> out = broker::Split(answer);
    if (block && out.size() >= 2 && out[0] == "ok") {
      std::size_t size = std::strtoull(out.back().c_str(), nullptr, 10);
      block->clear();
      char buf[65536];
      while (block->size() < size) {
        const int n = ::recv(fd_, buf, static_cast<int>(std::min(sizeof buf, size - block->size())), 0);
        if (n <= 0) return Lost();
        block->append(buf, static_cast<std::size_t>(n));
      }
    }
    return out;
  }

 private:
  bool Connect() {
    const char* port = std::getenv(broker::kPortVariable);
    if (!port || !*port) {
      problem_ = std::string("no peer broker: ") + broker::kPortVariable + " is not set (run through scripts/test.sh)";
      return false;
    }
    fd_ = OpenTcpSocket();
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(std::atoi(port)));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::connect(static_cast<SOCKET>(fd_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      if (fd_ >= 0) CloseSocketFd(fd_);
      fd_ = -1;
      problem_ = std::string("the peer broker on port ") + port + " does not answer";
      return false;
    }
    return true;
  }

  bool SendAll(const std::string& data) {
    std::size_t off = 0;
    while (off < data.size()) {
      const int n = ::send(static_cast<SOCKET>(fd_), data.data() + off, static_cast<int>(data.size() - off), 0);
      if (n <= 0) return false;
      off += static_cast<std::size_t>(n);
    }
    return true;
  }

  std::vector<std::string> Lost() {
    CloseSocketFd(fd_);
    fd_ = -1;
    problem_ = "the connection to the peer broker was lost";
    return {"fail", problem_};
  }

  std::mutex mutex_;
  int fd_ = -1;
  std::string problem_;
};

std::vector<std::string> Ask(const std::vector<std::string>& fields, std::string* block = nullptr) {
  std::vector<std::string> answer = BrokerClient::Instance().Request(fields, block);
  if (answer.empty()) answer = {"fail", "empty answer from the peer broker"};
  return answer;
}

std::string Field(const std::vector<std::string>& f, std::size_t i) { return i < f.size() ? f[i] : std::string(); }

void StopOnBroker(long id) {
  if (id >= 0) Ask({"stop", std::to_string(id)});
}

}  // namespace

Process::Process(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  std::vector<std::string> request = {"spawn", std::to_string(env.size())};
  request.insert(request.end(), env.begin(), env.end());
  request.insert(request.end(), argv.begin(), argv.end());
  const auto answer = Ask(request);
  if (answer[0] == "ok") pid_ = std::atol(Field(answer, 1).c_str());
}

Process::~Process() { Stop(); }

Process& Process::operator=(Process&& o) noexcept {
  if (this != &o) {
    Stop();
    pid_ = o.pid_;
    o.pid_ = -1;
  }
  return *this;
}

bool Process::Running() {
  if (pid_ < 0) return false;
  return Field(Ask({"running", std::to_string(pid_)}), 1) == "1";
}

void Process::Stop() {
  StopOnBroker(pid_);
  pid_ = -1;
}

std::string RunWithDisplay(int display, const std::vector<std::string>& argv, int* status) {
  std::vector<std::string> request = {"run", std::to_string(display)};
  request.insert(request.end(), argv.begin(), argv.end());
  std::string out;
  const auto answer = Ask(request, &out);
  if (status) *status = answer[0] == "ok" ? std::atoi(Field(answer, 1).c_str()) : -1;
  return answer[0] == "ok" ? out : std::string();
}

bool WaitForTcpPort(std::uint16_t port, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = OpenTcpSocket();
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(static_cast<SOCKET>(fd), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    CloseSocketFd(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

int FreeDisplayNumber() { throw std::runtime_error("X displays are numbered by the peer broker on the Linux side"); }

XvfbServer::XvfbServer(int, int, int) {}

RfbServer::~RfbServer() { StopOnBroker(brokerId_); }

namespace {
void Started(const std::vector<std::string>& answer, long* id, std::uint16_t* port, int* display, bool* ok,
             std::string* problem) {
  if (answer[0] != "ok") {
    *problem = Field(answer, 1);
    return;
  }
  *id = std::atol(Field(answer, 1).c_str());
  *port = static_cast<std::uint16_t>(std::atoi(Field(answer, 2).c_str()));
  if (display) *display = std::atoi(Field(answer, 3).c_str());
  *ok = true;
}
}  // namespace

// The broker starts servers with their usual arguments only.
X11VncServer::X11VncServer(int width, int height, int depth, const std::string& password,
                           const std::vector<std::string>& extra) {
  if (!extra.empty()) {
    problem_ = "the peer broker starts x11vnc without extra arguments";
    return;
  }
  Started(Ask({"x11vnc", std::to_string(width), std::to_string(height), std::to_string(depth), password}), &brokerId_,
          &port_, &display_, &ok_, &problem_);
}

XvncServer::XvncServer(int width, int height, int depth, const std::string& password, const std::string& desktopName,
                       const std::vector<std::string>& security) {
  if (!security.empty()) {
    problem_ = "the peer broker starts Xvnc with its usual security types only";
    return;
  }
  Started(Ask({"xvnc", std::to_string(width), std::to_string(height), std::to_string(depth), password, desktopName}),
          &brokerId_, &port_, &display_, &ok_, &problem_);
}

ScreenImage CaptureScreen(int display) {
  int status = -1;
  const std::string data = RunWithDisplay(display, {"xwd", "-root", "-silent"}, &status);
  if (status != 0) throw std::runtime_error("xwd failed");
  return ParseXwd(data);
}

SocksProxy::~SocksProxy() { StopOnBroker(brokerId_); }

void SocksProxy::Start(const std::vector<std::string>&, const std::string& what) {
  problem_ = what + " is started by the peer broker";
}

DanteProxy::DanteProxy(const DanteOptions& options) {
  Started(Ask({"dante", options.userPassword ? "1" : "0", std::to_string(options.blockedPort)}), &brokerId_, &port_,
          nullptr, &ok_, &problem_);
}

MicrosocksProxy::MicrosocksProxy(const std::string& user, const std::string& password) {
  Started(Ask({"microsocks", user, password}), &brokerId_, &port_, nullptr, &ok_, &problem_);
}

}  // namespace telorus::test
