// The BSD socket calls the test peers use, on Linux and on Windows (where
// Winsock 2 provides them under a few other names). Test code only: the
// product binds its own socket library at run time.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>

namespace telorus::test {
// Winsock is started once, before the first test peer is made.
inline bool StartWinsockForTests() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}
inline int CloseSocketFd(int fd) { return closesocket(static_cast<SOCKET>(fd)); }
inline int Poll(pollfd* fds, unsigned count, int timeoutMs) { return WSAPoll(fds, count, timeoutMs); }
inline int SocketError() { return WSAGetLastError(); }
}  // namespace telorus::test

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0
#endif
#define SOCK_CLOEXEC 0
#define SHUT_RD SD_RECEIVE
#define SHUT_WR SD_SEND
#define SHUT_RDWR SD_BOTH
inline int accept4(int fd, sockaddr* address, socklen_t* length, int) {
  return static_cast<int>(::accept(static_cast<SOCKET>(fd), address, length));
}
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace telorus::test {
inline bool StartWinsockForTests() { return true; }
inline int CloseSocketFd(int fd) { return ::close(fd); }
inline int Poll(pollfd* fds, unsigned count, int timeoutMs) { return ::poll(fds, count, timeoutMs); }
inline int SocketError() { return errno; }
}  // namespace telorus::test
#endif

namespace telorus::test {
// A TCP socket of the test peers (after starting Winsock where needed).
inline int OpenTcpSocket() {
  StartWinsockForTests();
  return static_cast<int>(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
}
}  // namespace telorus::test
