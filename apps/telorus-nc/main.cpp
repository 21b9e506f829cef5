// telorus-nc: a small command-line tool on TUSocket, so that the socket
// component can be driven from a shell (see Usage() for the options).
//
// As a client, standard input goes to the socket and the socket goes to
// standard output. With --listen it accepts connections (each handed to a
// fresh socket with Dup) or receives datagrams. With --events every socket
// event is printed with its arguments on standard error. Standard input is
// watched by a reader thread that posts each chunk to the main thread's loop,
// so everything the sockets do happens on one thread, as in a host program.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "platform/message_loop.h"
#include "platform/net.h"
#include "socket/USocket.h"
#include "telorus_version.h"

namespace {

using namespace telorus;
using namespace telorus::socket;

constexpr std::uint32_t kMsgStdinData = platform::kUserMessage + 100;
constexpr std::uint32_t kMsgStdinEnd = platform::kUserMessage + 101;

int Usage() {
  std::fprintf(stderr,
               "usage: telorus-nc HOST PORT [options]        connect, stdin -> socket -> stdout\n"
               "       telorus-nc --listen [ADDR] PORT [options]\n"
               "options:\n"
               "  --events              print every socket event on stderr\n"
               "  --listen              accept TCP connections on ADDR:PORT (default ADDR 0.0.0.0),\n"
               "                        each adopted by a fresh socket; stdin goes to every client\n"
               "  --udp                 datagrams: as a client each stdin chunk is sent to HOST:PORT;\n"
               "                        with --listen stdin answers the last sender\n"
               "  --broadcast           with --udp: send to 255.255.255.255 (HOST may be left out)\n"
               "  --multicast GROUP     with --udp: send to GROUP, or with --listen join GROUP on ADDR\n"
               "  --socks HOST:PORT     connect through a SOCKS proxy (TCP client only)\n"
               "  --socks-level L       4, 4A or 5 (default 5)\n"
               "  --socks-user U        user code (level 5: user/password authentication; level 4: user id)\n"
               "  --socks-pass P        password for --socks-user\n"
               "  --line                line mode: one read per complete line\n"
               "  --line-end HEX        the line end marker in hex (default 0d0a)\n"
               "  --echo                in line mode, echo received bytes to the peer\n"
               "  --edit                in line mode, apply backspace and tab editing\n"
               "PORT 0 with --listen picks a free port; the port is printed on stderr.\n"
               "telorus-nc --version prints the version.\n");
  return 2;
}

struct Options {
  std::string host, port;
  bool events = false;
  bool listen = false;
  bool udp = false;
  bool broadcast = false;
  std::string multicast;
  std::string socksServer, socksPort, socksLevel = "5", socksUser, socksPass;
  bool socks = false;
  bool line = false;
  std::string lineEnd = "\r\n";
  bool echo = false;
  bool edit = false;
};

bool ParseHex(const std::string& hex, std::string* out) {
  if (hex.empty() || hex.size() % 2 != 0) return false;
  out->clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    char* end = nullptr;
    std::string byte = hex.substr(i, 2);
    long v = std::strtol(byte.c_str(), &end, 16);
    if (end != byte.c_str() + 2) return false;
    out->push_back(static_cast<char>(v));
  }
  return true;
}

// Parses the command line; false on a usage error.
bool Parse(int argc, char** argv, Options* o) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* into) {
      if (i + 1 >= argc) return false;
      *into = argv[++i];
      return true;
    };
    if (a == "--events") {
      o->events = true;
    } else if (a == "--listen") {
      o->listen = true;
    } else if (a == "--udp") {
      o->udp = true;
    } else if (a == "--broadcast") {
      o->broadcast = true;
    } else if (a == "--multicast") {
      if (!value(&o->multicast)) return false;
    } else if (a == "--socks") {
      std::string hp;
      if (!value(&hp)) return false;
      auto colon = hp.rfind(':');
      if (colon == std::string::npos || colon == 0 || colon + 1 == hp.size()) return false;
      o->socks = true;
      o->socksServer = hp.substr(0, colon);
      o->socksPort = hp.substr(colon + 1);
    } else if (a == "--socks-level") {
      if (!value(&o->socksLevel)) return false;
    } else if (a == "--socks-user") {
      if (!value(&o->socksUser)) return false;
    } else if (a == "--socks-pass") {
      if (!value(&o->socksPass)) return false;
    } else if (a == "--line") {
      o->line = true;
    } else if (a == "--line-end") {
      std::string hex;
      if (!value(&hex) || !ParseHex(hex, &o->lineEnd)) return false;
    } else if (a == "--echo") {
      o->echo = true;
    } else if (a == "--edit") {
      o->edit = true;
    } else if (a.rfind("--", 0) == 0) {
      return false;
    } else {
      positional.push_back(a);
    }
  }
  if (o->broadcast && !o->multicast.empty()) return false;
  if ((o->broadcast || !o->multicast.empty()) && !o->udp) return false;
  if (o->socks && (o->listen || o->udp)) return false;
  if (o->listen) {
    if (o->broadcast) return false;
    if (positional.size() == 1) {
      o->host = "0.0.0.0";
      o->port = positional[0];
    } else if (positional.size() == 2) {
      o->host = positional[0];
      o->port = positional[1];
    } else {
      return false;
    }
    return true;
  }
  if ((o->broadcast || !o->multicast.empty()) && positional.size() == 1) {
    o->host = o->broadcast ? "255.255.255.255" : o->multicast;
    o->port = positional[0];
    return true;
  }
  if (positional.size() != 2) return false;
  o->host = o->broadcast ? "255.255.255.255" : !o->multicast.empty() ? o->multicast : positional[0];
  o->port = positional[1];
  return true;
}

// Chunks read from stdin, handed from the reader thread to the loop.
struct StdinQueue {
  std::mutex mutex;
  std::string pending;
};

void StartStdinReader(StdinQueue& input, platform::WindowId target) {
  std::thread([&input, target] {
    char buf[4096];
    for (;;) {
      ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
      if (n <= 0) break;
      {
        std::lock_guard lock(input.mutex);
        input.pending.append(buf, static_cast<std::size_t>(n));
      }
      if (!platform::PostTo(target, kMsgStdinData, 0, 0)) return;
    }
    platform::PostTo(target, kMsgStdinEnd, 0, 0);
  }).detach();
}

class Tool {
 public:
  explicit Tool(const Options& o) : o_(o) {}
  int Run();

 private:
  void Event(const std::string& line) {
    if (o_.events) std::fprintf(stderr, "event: %s%s\n", prefix_.c_str(), line.c_str());
  }
  // Installs the handlers every socket gets: events, data to stdout, errors.
  void Attach(TUSocket& s, const std::string& name);
  void ApplyLineOptions(TUSocket& s);
  void OnStdin(const platform::Message& m);
  int RunClient();
  int RunListener();

  const Options& o_;
  std::string prefix_;
  TUSocket sock_;
  std::set<TUSocket*> clients_;  // adopted connections of a TCP listener; freed with PostFree
  SockAddrIn lastSender_;
  bool haveSender_ = false;
  int clientNumber_ = 0;
  bool sessionUp_ = false;
  int exitCode_ = 0;
  bool done_ = false;
  bool stdinEnded_ = false;
  StdinQueue input_;
};

void Tool::ApplyLineOptions(TUSocket& s) {
  if (!o_.line) return;
  s.SetLineEnd(o_.lineEnd);
  s.SetLineEcho(o_.echo);
  s.SetLineEdit(o_.edit);
  s.SetLineMode(true);
}

void Tool::Attach(TUSocket& s, const std::string& name) {
  const std::string tag = name.empty() ? "" : "[" + name + "] ";
  s.OnChangeState = [this, tag](TObject*, TSocketState from, TSocketState to) {
    Event(tag + "OnChangeState " + SocketStateName(from) + " -> " + SocketStateName(to));
  };
  s.OnDataAvailable = [this, tag, &s](TObject*, std::uint16_t error) {
    char buf[4096];
    int n;
    std::string from;
    if (o_.udp && !o_.line) {
      SockAddrIn sender;
      n = s.ReceiveFrom(buf, sizeof buf, &sender);
      if (n >= 0) {
        lastSender_ = sender;
        haveSender_ = true;
        from = " from " + platform::net::InetNtoa(sender.address) + ":" +
               std::to_string(platform::net::NetToHost16(sender.port));
      }
    } else {
      n = s.Receive(buf, sizeof buf);
    }
    Event(tag + "OnDataAvailable " + std::to_string(error) + " (read " + std::to_string(n) + from + ")");
    if (n > 0) {
      std::fwrite(buf, 1, static_cast<std::size_t>(n), stdout);
      std::fflush(stdout);
    }
  };
  s.OnSendData = [this, tag](TObject*, std::int32_t bytes) { Event(tag + "OnSendData " + std::to_string(bytes)); };
  s.OnDataSent = [this, tag, &s](TObject*, std::uint16_t error) {
    Event(tag + "OnDataSent " + std::to_string(error));
    // All of stdin is out: a stream client tells the peer, a datagram
    // client is finished.
    if (stdinEnded_ && !o_.listen && sessionUp_) {
      if (o_.udp)
        done_ = true;
      else
        s.ShutDown(1);
    }
  };
  s.OnSessionAvailable = [this, tag](TObject*, std::uint16_t error) {
    Event(tag + "OnSessionAvailable " + std::to_string(error));
  };
  s.OnLineLimitExceeded = [this, tag](TObject*, std::int32_t length, bool&) {
    Event(tag + "OnLineLimitExceeded " + std::to_string(length));
  };
  s.OnSocksConnected = [this, tag](TObject*, std::uint16_t error) {
    Event(tag + "OnSocksConnected " + std::to_string(error));
  };
  s.OnSocksAuthState = [this, tag](TObject*, TSocksAuthState state) {
    Event(tag + "OnSocksAuthState " + SocksAuthStateName(state));
  };
  s.OnSocksError = [this, tag](TObject*, std::int32_t error, const std::string& msg) {
    Event(tag + "OnSocksError " + std::to_string(error) + " " + msg);
    std::fprintf(stderr, "telorus-nc: SOCKS error %d: %s\n", error, msg.c_str());
    exitCode_ = 1;
  };
  s.OnError = [this, &s](TObject*) {
    std::fprintf(stderr, "telorus-nc: socket error %d: %s\n", s.LastError(), SocketErrorText(s.LastError()).c_str());
    exitCode_ = 1;
    if (&s == &sock_) done_ = true;
  };
}

void Tool::OnStdin(const platform::Message& m) {
  if (m.msg == kMsgStdinEnd) {
    stdinEnded_ = true;
    if (!o_.listen && sessionUp_ && sock_.State() == wsConnected && sock_.AllSent()) {
      if (o_.udp)
        done_ = true;
      else
        sock_.ShutDown(1);
    }
    return;
  }
  std::string chunk;
  {
    std::lock_guard lock(input_.mutex);
    chunk.swap(input_.pending);
  }
  if (chunk.empty()) return;
  auto size = static_cast<std::int32_t>(chunk.size());
  if (!o_.listen) {
    if (sessionUp_ && sock_.State() == wsConnected) sock_.SendText(chunk);
  } else if (o_.udp) {
    if (haveSender_) sock_.SendTo(lastSender_, chunk.data(), size);
  } else {
    for (TUSocket* c : clients_)
      if (c->State() == wsConnected) c->SendText(chunk);
  }
}

int Tool::RunClient() {
  sock_.OnDnsLookupDone = [this](TObject*, std::uint16_t error) {
    Event("OnDnsLookupDone " + std::to_string(error) + " " + sock_.DnsResult());
    if (error != 0) {
      std::fprintf(stderr, "telorus-nc: cannot resolve %s: %s\n", o_.host.c_str(), SocketErrorText(error).c_str());
      exitCode_ = 1;
      done_ = true;
      return;
    }
    sock_.SetAddr(sock_.DnsResult());
    sock_.SetPort(o_.port);
    sock_.SetProto(o_.udp ? "udp" : "tcp");
    if (!o_.multicast.empty()) {
      sock_.SetMultiCast(true);
      sock_.SetMultiCastAddrStr(o_.multicast);
    }
    sock_.Connect();
  };
  sock_.OnSessionConnected = [this](TObject*, std::uint16_t error) {
    Event("OnSessionConnected " + std::to_string(error));
    // Through a proxy the socket is connected to the proxy long before
    // this: only now does data reach the destination.
    sessionUp_ = error == 0;
    if (error != 0) {
      std::fprintf(stderr, "telorus-nc: cannot connect to %s:%s: %s\n", o_.host.c_str(), o_.port.c_str(),
                   error >= 20000 ? "refused by the SOCKS proxy" : SocketErrorText(error).c_str());
      exitCode_ = 1;
    }
  };
  sock_.OnSessionClosed = [this](TObject*, std::uint16_t error) {
    Event("OnSessionClosed " + std::to_string(error));
    done_ = true;
  };
  ApplyLineOptions(sock_);

  try {
    if (o_.socks) {
      // The proxy resolves the destination (levels 5 and 4A) or the socket
      // does it when it builds a level-4 request: no lookup here.
      sock_.SetSocksServer(o_.socksServer);
      sock_.SetSocksPort(o_.socksPort);
      sock_.SetSocksLevel(o_.socksLevel);
      if (!o_.socksUser.empty()) {
        sock_.SetSocksUsercode(o_.socksUser);
        sock_.SetSocksPassword(o_.socksPass);
        if (o_.socksLevel == "5") sock_.SetSocksAuthentication(socksAuthenticateUsercode);
      }
      sock_.SetAddr(o_.host);
      sock_.SetPort(o_.port);
      sock_.Connect();
    } else {
      sock_.DnsLookup(o_.host);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "telorus-nc: %s\n", e.what());
    return 1;
  }
  return 0;
}

int Tool::RunListener() {
  sock_.SetProto(o_.udp ? "udp" : "tcp");
  sock_.SetAddr(o_.host);
  sock_.SetPort(o_.port);
  sock_.SetReuseAddr(true);
  if (!o_.multicast.empty()) {
    sock_.SetMultiCast(true);
    sock_.SetMultiCastAddrStr(o_.multicast);
  }
  sock_.OnSessionConnected = [this](TObject*, std::uint16_t error) {
    Event("OnSessionConnected " + std::to_string(error));
  };
  sock_.OnSessionClosed = [this](TObject*, std::uint16_t error) {
    Event("OnSessionClosed " + std::to_string(error));
    done_ = true;
  };
  sock_.OnSessionAvailable = [this](TObject*, std::uint16_t error) {
    Event("OnSessionAvailable " + std::to_string(error));
    if (error != 0) return;
    SocketHandle h = sock_.Accept();
    if (h == INVALID_SOCKET) return;
    // Each connection gets a socket of its own, freed after it closes.
    auto* client = new TUSocket();
    std::string name = "client " + std::to_string(++clientNumber_);
    Attach(*client, name);
    client->OnSessionClosed = [this, client, name](TObject*, std::uint16_t e) {
      Event("[" + name + "] OnSessionClosed " + std::to_string(e));
      clients_.erase(client);
      client->PostFree();
    };
    ApplyLineOptions(*client);
    clients_.insert(client);
    client->Dup(h);
    std::fprintf(stderr, "telorus-nc: %s connected from %s:%s\n", name.c_str(), client->PeerAddr().c_str(),
                 client->PeerPort().c_str());
  };
  if (!o_.udp) ApplyLineOptions(sock_);
  try {
    sock_.Listen();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "telorus-nc: %s\n", e.what());
    return 1;
  }
  if (done_) return 1;
  std::fprintf(stderr, "telorus-nc: listening on %s:%s (%s)\n", sock_.LocalBoundAddr().c_str(),
               sock_.LocalBoundPort().c_str(), o_.udp ? "udp" : "tcp");
  return 0;
}

int Tool::Run() {
  Attach(sock_, "");
  platform::Notifier stdinNotifier([this](const platform::Message& m) { OnStdin(m); });
  int started = o_.listen ? RunListener() : RunClient();
  if (started != 0) return started;

  // A client starts reading stdin once connected, so nothing is read early.
  if (!o_.listen) platform::RunUntil([&] { return done_ || sessionUp_; }, std::chrono::hours(24));
  if (!done_) {
    StartStdinReader(input_, stdinNotifier.Id());
    platform::RunUntil([&] { return done_; }, std::chrono::hours(24 * 365));
  }
  for (TUSocket* c : clients_) c->PostFree();
  clients_.clear();
  platform::PumpPending();
  return exitCode_;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("telorus-nc %s\n", TELORUS_VERSION);
    return 0;
  }
  Options options;
  if (!Parse(argc, argv, &options)) return Usage();
  Tool tool(options);
  return tool.Run();
}
