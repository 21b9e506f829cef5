// Socket calls with Windows Sockets semantics on Linux: non-blocking BSD
// sockets, error numbers mapped to the Windows numbering, and the state the
// message loop needs to emulate WSAAsyncSelect.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <strings.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/net.h"
#include "platform/posix/loop.h"

namespace telorus::platform::net {
namespace {

thread_local int tLastError = 0;
std::atomic<bool> gStarted{false};

using posix::SocketState;
using posix::SocketTable;

int Fail(int error) {
  tLastError = error;
  return -1;
}

int FailErrno() { return Fail(ErrorFromErrno(errno)); }

bool Ready() {
  if (gStarted.load()) return true;
  tLastError = kWsaNotinitialised;
  return false;
}

int Fd(SocketHandle s) { return static_cast<int>(s); }

sockaddr_in ToSys(const SockAddrIn& a) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = a.port;
  sa.sin_addr.s_addr = a.address;
  return sa;
}

SockAddrIn FromSys(const sockaddr_in& sa) {
  SockAddrIn a;
  a.family = 2;
  a.port = sa.sin_port;
  a.address = sa.sin_addr.s_addr;
  return a;
}

// Runs `f` on the readiness state of `s`, if it is one of ours.
template <typename F>
void WithState(SocketHandle s, F&& f) {
  auto& table = SocketTable::Instance();
  std::lock_guard lock(table.mutex);
  auto it = table.sockets.find(Fd(s));
  if (it != table.sockets.end()) f(it->second);
}

void Track(int fd, int type, bool connected) {
  auto& table = SocketTable::Instance();
  std::lock_guard lock(table.mutex);
  SocketState st;
  st.type = type;
  st.connected = connected;
  table.sockets[fd] = st;
}

}  // namespace

int LastError() { return tLastError; }
void SetLastError(int error) { tLastError = error; }

int ErrorFromErrno(int e) {
  switch (e) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES:
    case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE:
    case ENFILE: return 10024;
    case EAGAIN: return 10035;  // EWOULDBLOCK is the same number on Linux
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET:
    case EPIPE: return 10054;
    case ENOBUFS:
    case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    default: return 10022;  // no Windows counterpart: an invalid operation here
  }
}

int ErrorFromResolver(int code) {
  switch (code) {
    case 0: return 0;
    case EAI_NONAME: return kWsaHostNotFound;
#ifdef EAI_NODATA
    case EAI_NODATA: return kWsaNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return kWsaNoData;
#endif
    case EAI_AGAIN: return kWsaTryAgain;
    case EAI_FAIL: return kWsaNoRecovery;
    case EAI_MEMORY: return 10055;
    case EAI_SERVICE: return kWsaNoData;
    case EAI_SYSTEM: return ErrorFromErrno(errno);
    default: return kWsaNoRecovery;
  }
}

int Startup() {
  gStarted = true;
  return 0;
}
void Cleanup() { gStarted = false; }
bool Started() { return gStarted.load(); }

// The socket calls are linked in: there is no library to load or look up.
void SetLibraryFailureHandler(LibraryFailureHandler) {}
void SetSocketLibraryNameForTesting(const std::string&) {}

int SolSocket() { return SOL_SOCKET; }
int IpprotoTcp() { return IPPROTO_TCP; }
int IpprotoIp() { return IPPROTO_IP; }
int OptReuseAddr() { return SO_REUSEADDR; }
int OptKeepAlive() { return SO_KEEPALIVE; }
int OptLinger() { return SO_LINGER; }
int OptBroadcast() { return SO_BROADCAST; }
int OptTcpNoDelay() { return TCP_NODELAY; }
int OptMulticastTtl() { return IP_MULTICAST_TTL; }
int OptMulticastIf() { return IP_MULTICAST_IF; }
int OptAddMembership() { return IP_ADD_MEMBERSHIP; }
int MsgOob() { return MSG_OOB; }
int MsgPeek() { return MSG_PEEK; }

SocketHandle Socket(int family, int type, int protocol) {
  if (!Ready()) return kInvalidSocket;
  if (family != AF_INET) return Fail(10047), kInvalidSocket;
  int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (fd < 0) return FailErrno(), kInvalidSocket;
  Track(fd, type, false);
  return fd;
}

int CloseSocket(SocketHandle s) {
  if (!Ready()) return -1;
  posix::Loop* loop = nullptr;
  WindowId target = 0;
  std::uint32_t msg = 0;
  bool known = false;
  {
    auto& table = SocketTable::Instance();
    std::lock_guard lock(table.mutex);
    auto it = table.sockets.find(Fd(s));
    if (it != table.sockets.end()) {
      known = true;
      loop = it->second.loop;
      target = it->second.target;
      msg = it->second.msg;
      table.sockets.erase(it);
    }
  }
  if (!known) return Fail(10038);
  // Records still queued for this handle would be read as records of the
  // next socket that the kernel gives the same number: drop them now.
  if (loop && target) {
    loop->Purge([&](const posix::Record& r) {
      return r.message.target == target && r.message.msg == msg && r.message.wParam == static_cast<std::uintptr_t>(s);
    });
  }
  if (::close(Fd(s)) != 0) return FailErrno();
  return 0;
}

int Shutdown(SocketHandle s, int how) {
  if (!Ready()) return -1;
  if (::shutdown(Fd(s), how) != 0) return FailErrno();
  if (how == SHUT_WR || how == SHUT_RDWR) WithState(s, [](SocketState& st) { st.sendShutdown = true; });
  return 0;
}

int SetSockOpt(SocketHandle s, int level, int name, const void* value, int length) {
  if (!Ready()) return -1;
  if (::setsockopt(Fd(s), level, name, value, static_cast<socklen_t>(length)) != 0) return FailErrno();
  return 0;
}

int GetSockOpt(SocketHandle s, int level, int name, void* value, int* length) {
  if (!Ready()) return -1;
  socklen_t len = static_cast<socklen_t>(*length);
  if (::getsockopt(Fd(s), level, name, value, &len) != 0) return FailErrno();
  *length = static_cast<int>(len);
  return 0;
}

int SetLinger(SocketHandle s, std::uint16_t onOff, std::uint16_t seconds) {
  linger l{onOff, seconds};
  return SetSockOpt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

int Bind(SocketHandle s, const SockAddrIn& local) {
  if (!Ready()) return -1;
  sockaddr_in sa = ToSys(local);
  if (::bind(Fd(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return FailErrno();
  return 0;
}

int Listen(SocketHandle s, int backlog) {
  if (!Ready()) return -1;
  if (::listen(Fd(s), backlog) != 0) return FailErrno();
  WithState(s, [](SocketState& st) {
    st.listening = true;
    st.acceptArmed = true;
  });
  return 0;
}

SocketHandle Accept(SocketHandle s, SockAddrIn* peer) {
  if (!Ready()) return kInvalidSocket;
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  int fd = ::accept4(Fd(s), reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  int err = errno;
  SocketState listener;
  WithState(s, [&](SocketState& st) {
    st.acceptArmed = true;
    listener = st;
  });
  if (fd < 0) return Fail(ErrorFromErrno(err)), kInvalidSocket;
  Track(fd, SOCK_STREAM, true);
  // As on Winsock, the accepted socket has the listening socket's
  // registration, and being connected it can send at once: one write record.
  WithState(fd, [&](SocketState& st) {
    st.loop = listener.loop;
    st.target = listener.target;
    st.msg = listener.msg;
    st.mask = listener.mask;
    st.writeArmed = (listener.mask & kFdWrite) != 0;
  });
  if (peer) *peer = FromSys(sa);
  return fd;
}

int Connect(SocketHandle s, const SockAddrIn& remote) {
  if (!Ready()) return -1;
  sockaddr_in sa = ToSys(remote);
  int r = ::connect(Fd(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  int err = r == 0 ? 0 : errno;
  bool stream = false;
  WithState(s, [&](SocketState& st) { stream = st.type == SOCK_STREAM; });
  if (!stream) return r == 0 ? 0 : Fail(ErrorFromErrno(err));
  if (r == 0 || err == EINPROGRESS) {
    // Completion, even an immediate one, is reported by a connect record.
    WithState(s, [](SocketState& st) { st.connecting = true; });
    return Fail(kWsaEwouldblock);
  }
  if (err == ECONNREFUSED || err == ETIMEDOUT || err == ENETUNREACH || err == EHOSTUNREACH) {
    // Winsock reports these through the connect record, not the call.
    WithState(s, [&](SocketState& st) {
      st.hasDeferredConnect = true;
      st.deferredConnectError = err;
    });
    return Fail(kWsaEwouldblock);
  }
  return Fail(ErrorFromErrno(err));
}

namespace {
int SendError(SocketHandle s, int err) {
  bool shut = false;
  WithState(s, [&](SocketState& st) {
    if (err == EAGAIN || err == EWOULDBLOCK) st.writeArmed = true;
    shut = st.sendShutdown;
  });
  if (err == EPIPE && shut) return Fail(kWsaEshutdown);
  return Fail(ErrorFromErrno(err));
}
}  // namespace

int Send(SocketHandle s, const void* data, int length, int flags) {
  if (!Ready()) return -1;
  ssize_t n = ::send(Fd(s), data, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n < 0) return SendError(s, errno);
  // A partial write means the buffer is full: the next send would block, so
  // a write record must follow when room returns (Winsock would have taken
  // the whole block or refused it with "would block").
  if (n < length) WithState(s, [](SocketState& st) { st.writeArmed = true; });
  return static_cast<int>(n);
}

int SendTo(SocketHandle s, const void* data, int length, int flags, const SockAddrIn& to) {
  if (!Ready()) return -1;
  sockaddr_in sa = ToSys(to);
  ssize_t n = ::sendto(Fd(s), data, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL | MSG_DONTWAIT,
                       reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  if (n < 0) return SendError(s, errno);
  return static_cast<int>(n);
}

int Recv(SocketHandle s, void* buffer, int length, int flags) {
  if (!Ready()) return -1;
  ssize_t n = ::recv(Fd(s), buffer, static_cast<std::size_t>(std::max(length, 0)), flags | MSG_DONTWAIT);
  int err = errno;
  // A receive re-enables the read record; the loop queues another one if
  // data is still waiting.
  WithState(s, [&](SocketState& st) {
    st.readArmed = true;
    if (n == 0 && length > 0 && st.type == SOCK_STREAM) st.eof = true;
  });
  if (n < 0) return Fail(ErrorFromErrno(err));
  return static_cast<int>(n);
}

int RecvFrom(SocketHandle s, void* buffer, int length, int flags, SockAddrIn* from) {
  if (!Ready()) return -1;
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  ssize_t n = ::recvfrom(Fd(s), buffer, static_cast<std::size_t>(std::max(length, 0)), flags | MSG_DONTWAIT,
                         reinterpret_cast<sockaddr*>(&sa), &len);
  int err = errno;
  WithState(s, [](SocketState& st) { st.readArmed = true; });
  if (n < 0) return Fail(ErrorFromErrno(err));
  if (from) *from = FromSys(sa);
  return static_cast<int>(n);
}

int BytesPending(SocketHandle s, unsigned long* count) {
  if (!Ready()) return -1;
  int n = 0;
  if (::ioctl(Fd(s), FIONREAD, &n) != 0) return FailErrno();
  *count = static_cast<unsigned long>(n < 0 ? 0 : n);
  return 0;
}

int GetPeerName(SocketHandle s, SockAddrIn* name) {
  if (!Ready()) return -1;
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getpeername(Fd(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return FailErrno();
  *name = FromSys(sa);
  return 0;
}

int GetSockName(SocketHandle s, SockAddrIn* name) {
  if (!Ready()) return -1;
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(Fd(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return FailErrno();
  *name = FromSys(sa);
  return 0;
}

int AsyncSelect(SocketHandle s, WindowId target, std::uint32_t msg, long mask) {
  if (!Ready()) return -1;
  posix::Loop* loop = nullptr;
  if (mask != 0) {
    loop = posix::LoopOf(target);
    if (!loop) return Fail(kWsaEinval);
  }
  bool found = false;
  WithState(s, [&](SocketState& st) {
    found = true;
    st.loop = loop;
    st.target = mask ? target : 0;
    st.msg = msg;
    st.mask = mask;
    st.readArmed = true;
    st.acceptArmed = true;
    // A socket that can already send gets one write record, as Winsock
    // posts FD_WRITE when a connected or connectionless socket is registered.
    st.writeArmed = (mask & kFdWrite) && (st.type != SOCK_STREAM || st.connected);
  });
  if (!found) return Fail(kWsaEnotsock);
  return 0;
}

std::uint32_t InetAddr(const std::string& text) {
  in_addr a{};
  if (inet_aton(text.c_str(), &a) == 0) return 0xFFFFFFFFu;
  return a.s_addr;
}

std::string InetNtoa(std::uint32_t address) {
  in_addr a{};
  a.s_addr = address;
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

std::uint16_t HostToNet16(std::uint16_t v) { return htons(v); }
std::uint16_t NetToHost16(std::uint16_t v) { return ntohs(v); }

bool GetServByName(const std::string& name, const std::string& proto, std::uint16_t* portNetOrder) {
  if (!Ready()) return false;
  servent entry{};
  servent* found = nullptr;
  char buf[1024];
  int rc = getservbyname_r(name.c_str(), proto.empty() ? nullptr : proto.c_str(), &entry, buf, sizeof buf, &found);
  if (rc != 0 || !found) {
    tLastError = kWsaNoData;
    return false;
  }
  *portNetOrder = static_cast<std::uint16_t>(found->s_port);
  return true;
}

bool GetProtoByName(const std::string& name, int* protocol) {
  if (!Ready()) return false;
  protoent entry{};
  protoent* found = nullptr;
  char buf[1024];
  int rc = getprotobyname_r(name.c_str(), &entry, buf, sizeof buf, &found);
  if (rc == 0 && found) {
    *protocol = found->p_proto;
    return true;
  }
  // A minimal system may have no /etc/protocols (Debian's netbase is not
  // installed by default), while Windows always knows these: answer them
  // from their assigned numbers rather than fail every connect.
  static constexpr struct {
    const char* name;
    int number;
  } kWellKnown[] = {{"ip", 0}, {"icmp", 1}, {"tcp", 6}, {"udp", 17}, {"ipv6", 41}, {"ipv6-icmp", 58}};
  for (const auto& known : kWellKnown) {
    if (strcasecmp(name.c_str(), known.name) == 0) {
      *protocol = known.number;
      return true;
    }
  }
  tLastError = kWsaNoData;
  return false;
}

std::size_t OpenSocketCount() {
  auto& table = SocketTable::Instance();
  std::lock_guard lock(table.mutex);
  return table.sockets.size();
}

}  // namespace telorus::platform::net
