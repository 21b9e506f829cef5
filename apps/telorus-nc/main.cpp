// telorus-nc HOST PORT [--events]
//
// A small command-line client on TUSocket: standard input goes to the
// socket, the socket goes to standard output. With --events every socket
// event is printed with its arguments on standard error. Standard input is
// watched by a reader thread that posts each chunk to the main thread's loop,
// so everything the socket does happens on one thread, as in a host program.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/message_loop.h"
#include "socket/USocket.h"

namespace {

using namespace telorus;
using namespace telorus::socket;

constexpr std::uint32_t kMsgStdinData = platform::kUserMessage + 100;
constexpr std::uint32_t kMsgStdinEnd = platform::kUserMessage + 101;

int Usage() {
  std::fprintf(stderr, "usage: telorus-nc HOST PORT [--events]\n");
  return 2;
}

// Chunks read from stdin, handed from the reader thread to the loop.
struct StdinQueue {
  std::mutex mutex;
  std::string pending;
};

void Event(bool on, const std::string& line) {
  if (on) std::fprintf(stderr, "event: %s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string host, port;
  bool events = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--events")
      events = true;
    else if (a.rfind("--", 0) == 0)
      return Usage();
    else if (host.empty())
      host = a;
    else if (port.empty())
      port = a;
    else
      return Usage();
  }
  if (host.empty() || port.empty()) return Usage();

  TUSocket sock;
  int exitCode = 0;
  bool done = false;
  bool stdinEnded = false;
  StdinQueue input;

  sock.OnChangeState = [&](TObject*, TSocketState o, TSocketState n) {
    Event(events, std::string("OnChangeState ") + SocketStateName(o) + " -> " + SocketStateName(n));
  };
  sock.OnDnsLookupDone = [&](TObject*, std::uint16_t error) {
    Event(events, "OnDnsLookupDone " + std::to_string(error) + " " + sock.DnsResult());
    if (error != 0) {
      std::fprintf(stderr, "telorus-nc: cannot resolve %s: %s\n", host.c_str(), SocketErrorText(error).c_str());
      exitCode = 1;
      done = true;
      return;
    }
    sock.SetAddr(sock.DnsResult());
    sock.SetPort(port);
    sock.SetProto("tcp");
    sock.Connect();
  };
  sock.OnSessionConnected = [&](TObject*, std::uint16_t error) {
    Event(events, "OnSessionConnected " + std::to_string(error));
    if (error != 0) {
      std::fprintf(stderr, "telorus-nc: cannot connect to %s:%s: %s\n", host.c_str(), port.c_str(),
                   SocketErrorText(error).c_str());
      exitCode = 1;
    }
  };
  sock.OnDataAvailable = [&](TObject*, std::uint16_t error) {
    char buf[4096];
    int n = sock.Receive(buf, sizeof buf);
    Event(events, "OnDataAvailable " + std::to_string(error) + " (read " + std::to_string(n) + ")");
    if (n > 0) {
      std::fwrite(buf, 1, static_cast<std::size_t>(n), stdout);
      std::fflush(stdout);
    }
  };
  sock.OnSendData = [&](TObject*, std::int32_t bytes) { Event(events, "OnSendData " + std::to_string(bytes)); };
  sock.OnDataSent = [&](TObject*, std::uint16_t error) {
    Event(events, "OnDataSent " + std::to_string(error));
    if (stdinEnded) sock.ShutDown(1);  // all of stdin is out: tell the peer
  };
  sock.OnSessionClosed = [&](TObject*, std::uint16_t error) {
    Event(events, "OnSessionClosed " + std::to_string(error));
    done = true;
  };
  sock.OnError = [&](TObject*) {
    std::fprintf(stderr, "telorus-nc: socket error %d: %s\n", sock.LastError(),
                 SocketErrorText(sock.LastError()).c_str());
    exitCode = 1;
    done = true;
  };

  platform::Notifier stdinNotifier([&](const platform::Message& m) {
    if (m.msg == kMsgStdinEnd) {
      stdinEnded = true;
      if (sock.State() == wsConnected && sock.AllSent()) sock.ShutDown(1);
      return;
    }
    std::string chunk;
    {
      std::lock_guard lock(input.mutex);
      chunk.swap(input.pending);
    }
    if (!chunk.empty() && sock.State() == wsConnected) sock.SendText(chunk);
  });

  try {
    sock.DnsLookup(host);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "telorus-nc: %s\n", e.what());
    return 1;
  }

  // Start reading stdin only once connected, so nothing is read early.
  platform::RunUntil([&] { return done || sock.State() == wsConnected; }, std::chrono::hours(24));
  if (!done) {
    platform::WindowId target = stdinNotifier.Id();
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
    platform::RunUntil([&] { return done; }, std::chrono::hours(24));
  }
  return exitCode;
}
