// rfb-replay --port-file F --repeat R [--time-file T] RECORDING
//
// Serves a recording made by rfb-record to one client: answers the RFB 3.3
// handshake itself (no password), sends the recorded ServerInit, then sends
// the recorded updates R times as fast as the socket takes them, reading and
// discarding whatever the client sends. The port it listens on (loopback,
// chosen by the kernel) is written to F. With --time-file, the seconds from
// the first update byte to the last one taken by the socket are written to
// T: bytes leave only as fast as the client reads them, so this times any
// client the same way, one whose code we cannot instrument included.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "blocking_io.h"
#include <chrono>
#include <thread>

namespace {

using telorus::bench::ReadAll;
using telorus::bench::WriteAll;

std::uint32_t Be32(const std::string& s, std::size_t at) {
  auto b = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + i])); };
  return (b(0) << 24) | (b(1) << 16) | (b(2) << 8) | b(3);
}

int Fail(const char* what) {
  std::fprintf(stderr, "rfb-replay: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string portFile, recording, timeFile;
  int repeat = 1;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--port-file" && i + 1 < argc)
      portFile = argv[++i];
    else if (a == "--repeat" && i + 1 < argc)
      repeat = std::atoi(argv[++i]);
    else if (a == "--time-file" && i + 1 < argc)
      timeFile = argv[++i];
    else
      recording = a;
  }
  std::ifstream in(recording, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string data = ss.str();
  if (data.size() < 16 || data.compare(0, 8, "TLRREC1\n") != 0) return Fail("not a recording");
  std::uint32_t initLength = Be32(data, 8);
  std::string serverInit = data.substr(12, initLength);
  const std::uint32_t perRepeat = Be32(data, 12 + initLength);
  std::string updates = data.substr(12 + initLength + 4);

  int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(lfd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(lfd, 1) != 0)
    return Fail("cannot listen");
  socklen_t len = sizeof sa;
  getsockname(lfd, reinterpret_cast<sockaddr*>(&sa), &len);
  if (FILE* f = std::fopen(portFile.c_str(), "w")) {
    std::fprintf(f, "%u\n", ntohs(sa.sin_port));
    std::fclose(f);
  }
  int fd = ::accept(lfd, nullptr, nullptr);
  if (fd < 0) return Fail("accept failed");
  char version[12];
  unsigned char shared;
  const char scheme[4] = {0, 0, 0, 1};
  if (!WriteAll(fd, "RFB 003.003\n", 12) || !ReadAll(fd, version, 12) || !WriteAll(fd, scheme, 4) ||
      !ReadAll(fd, &shared, 1) || !WriteAll(fd, serverInit.data(), serverInit.size()))
    return Fail("handshake failed");
  std::thread([fd] {
    char sink[65536];
    while (::recv(fd, sink, sizeof sink, 0) > 0) {
    }
  }).detach();
  const auto start = std::chrono::steady_clock::now();
  int sent = 0;
  for (; sent < repeat; ++sent)
    if (!WriteAll(fd, updates.data(), updates.size())) break;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!timeFile.empty())
    if (FILE* f = std::fopen(timeFile.c_str(), "w")) {
      std::fprintf(f, "%d %.6f %u\n", sent, seconds, perRepeat);
      std::fclose(f);
    }
  // Stay until the client has had everything and goes away.
  char sink;
  ::shutdown(fd, SHUT_WR);
  while (::recv(fd, &sink, 1, MSG_PEEK) > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ::close(fd);
  return 0;
}
