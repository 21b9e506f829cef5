// rfb-record --port P --encoding N [--8bit] --requests K -o FILE
//
// A minimal RFB 3.3 client that records a server's framebuffer updates for
// the benchmark: it logs in without a password, optionally asks for the
// 8-bit true-colour format, announces one encoding, sends K full
// (non-incremental) update requests and writes everything the server sends
// after its initialisation message to FILE, together with that message, in
// the form rfb-replay serves:
//   "TLRREC1\n", u32 length of ServerInit, ServerInit, u32 update count K,
//   then the recorded server-to-client bytes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "blocking_io.h"

namespace {

using telorus::bench::ReadAll;
using telorus::bench::WriteAll;

int Connect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return -1;
  return fd;
}

void PutBe32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

int Fail(const char* what) {
  std::fprintf(stderr, "rfb-record: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0, encoding = 0, requests = 10, quietMs = 700;
  bool eightBit = false;
  std::string out;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--port" && i + 1 < argc)
      port = std::atoi(argv[++i]);
    else if (a == "--encoding" && i + 1 < argc)
      encoding = std::atoi(argv[++i]);
    else if (a == "--requests" && i + 1 < argc)
      requests = std::atoi(argv[++i]);
    else if (a == "--quiet" && i + 1 < argc)
      quietMs = std::atoi(argv[++i]);
    else if (a == "--8bit")
      eightBit = true;
    else if (a == "-o" && i + 1 < argc)
      out = argv[++i];
    else
      return Fail("usage: rfb-record --port P --encoding N [--8bit] --requests K [--quiet MS] -o FILE");
  }
  if (port <= 0 || out.empty() || requests < 1)
    return Fail("usage: rfb-record --port P --encoding N [--8bit] --requests K [--quiet MS] -o FILE");
  int fd = Connect(port);
  if (fd < 0) return Fail("cannot connect");
  char version[12];
  unsigned char scheme[4];
  if (!ReadAll(fd, version, 12) || !WriteAll(fd, "RFB 003.003\n", 12) || !ReadAll(fd, scheme, 4))
    return Fail("handshake failed");
  if (scheme[3] != 1) return Fail("the server wants a password or refused");
  unsigned char shared = 1;
  unsigned char init[24];
  if (!WriteAll(fd, &shared, 1) || !ReadAll(fd, init, 24)) return Fail("no ServerInit");
  std::uint32_t nameLength = (std::uint32_t(init[20]) << 24) | (init[21] << 16) | (init[22] << 8) | init[23];
  std::string name(nameLength, '\0');
  if (!ReadAll(fd, name.data(), nameLength)) return Fail("no desktop name");
  int width = (init[0] << 8) | init[1], height = (init[2] << 8) | init[3];
  std::string serverInit(reinterpret_cast<char*>(init), 24);
  if (eightBit) {
    // The recorded stream is in BGR233; the replayed ServerInit says so.
    unsigned char fmt[16] = {8, 8, 0, 1, 0, 7, 0, 7, 0, 3, 0, 3, 6, 0, 0, 0};
    unsigned char msg[20] = {0};
    std::memcpy(msg + 4, fmt, 16);
    if (!WriteAll(fd, msg, 20)) return Fail("send failed");
    std::memcpy(serverInit.data() + 4, fmt, 16);
  }
  serverInit += name;
  unsigned char enc[8] = {2, 0, 0, 1};
  PutBe32(enc + 4, static_cast<std::uint32_t>(encoding));
  if (!WriteAll(fd, enc, 8)) return Fail("send failed");
  std::string recorded;
  char buf[1 << 16];
  for (int r = 0; r < requests; ++r) {
    unsigned char req[10] = {3, 0, 0, 0, 0, 0};
    req[6] = static_cast<unsigned char>(width >> 8);
    req[7] = static_cast<unsigned char>(width);
    req[8] = static_cast<unsigned char>(height >> 8);
    req[9] = static_cast<unsigned char>(height);
    if (!WriteAll(fd, req, 10)) return Fail("send failed");
    // Take what arrives until the server has been quiet for a while: the
    // answer to this request is complete then.
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, recorded.empty() ? 5000 : quietMs) <= 0) break;
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      recorded.append(buf, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  FILE* f = std::fopen(out.c_str(), "wb");
  if (!f) return Fail("cannot write the output file");
  unsigned char len[4];
  std::fputs("TLRREC1\n", f);
  PutBe32(len, static_cast<std::uint32_t>(serverInit.size()));
  std::fwrite(len, 1, 4, f);
  std::fwrite(serverInit.data(), 1, serverInit.size(), f);
  PutBe32(len, static_cast<std::uint32_t>(requests));
  std::fwrite(len, 1, 4, f);
  std::fwrite(recorded.data(), 1, recorded.size(), f);
  std::fclose(f);
  std::fprintf(stderr, "rfb-record: %d requests, %zu bytes, %dx%d\n", requests, recorded.size(), width, height);
  return 0;
}
