// telorus-echo-server [--port-file FILE]: echoes every connection's bytes
// back on a free loopback port, one thread per connection. The chosen port
// is printed on stdout and, with --port-file, written to FILE.
#include "support/bsd_sockets.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  std::string portFile;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--port-file") == 0 && i + 1 < argc) portFile = argv[++i];

  int fd = telorus::test::OpenTcpSocket();
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 16) != 0) {
    std::perror("telorus-echo-server");
    return 1;
  }
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  unsigned port = ntohs(sa.sin_port);
  std::printf("%u\n", port);
  std::fflush(stdout);
  if (!portFile.empty()) {
    if (FILE* f = std::fopen(portFile.c_str(), "w")) {
      std::fprintf(f, "%u\n", port);
      std::fclose(f);
    }
  }
  for (;;) {
    int c = static_cast<int>(::accept(fd, nullptr, nullptr));
    if (c < 0) continue;
    std::thread([c] {
      char buf[65536];
      for (;;) {
        ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        for (ssize_t off = 0; off < n;) {
          ssize_t w = ::send(c, buf + off, static_cast<std::size_t>(n - off), MSG_NOSIGNAL);
          if (w <= 0) break;
          off += w;
        }
      }
      telorus::test::CloseSocketFd(c);
    }).detach();
  }
}
