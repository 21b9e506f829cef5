// Whole reads and writes on a blocking socket, for the benchmark's own
// recorder and replay server.
#pragma once

#include <sys/socket.h>

#include <cstddef>

namespace telorus::bench {

inline bool ReadAll(int fd, void* buf, std::size_t n) {
  auto* p = static_cast<char*>(buf);
  while (n > 0) {
    ssize_t r = ::recv(fd, p, n, 0);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

inline bool WriteAll(int fd, const void* buf, std::size_t n) {
  auto* p = static_cast<const char*>(buf);
  while (n > 0) {
    ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

}  // namespace telorus::bench
