// Socket calls on Windows: thin wrappers on Windows Sockets 1.1, whose
// entry points are bound at run time from "wsock32.dll". Winsock itself
// provides the notification rules (WSAAsyncSelect) that the Linux loop
// emulates.
#include <winsock.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/net.h"
#include "platform/win32/notifier_class.h"
#include "platform/win32/socket_library.h"

namespace telorus::platform::net {
namespace {

thread_local int tLastError = 0;

// The library binding. Every slot is cleared when the library is released.
struct Binding {
  std::string name = "wsock32.dll";
  HMODULE module = nullptr;
  bool started = false;
  std::vector<void**> slots;
  LibraryFailureHandler onFailure;
};

Binding& Library() {
  static auto* binding = new Binding;
  return *binding;
}

[[noreturn]] void LibraryFailure(const std::string& message) {
  if (auto handler = Library().onFailure) handler(message);
  throw std::runtime_error(message);
}

// Sockets registered with WSAAsyncSelect, for the loop's leak check and for
// dropping their queued records when they are closed.
struct Registration {
  HWND target = nullptr;
  UINT msg = 0;
  DWORD thread = 0;
};
std::mutex gRegistrationsMutex;
std::unordered_map<SOCKET, Registration>& Registrations() {
  static auto* map = new std::unordered_map<SOCKET, Registration>;
  return *map;
}
std::atomic<std::size_t> gOpenSockets{0};

int Fail(int error) {
  tLastError = error;
  return -1;
}

bool Ready() {
  if (Library().started) return true;
  tLastError = kWsaNotinitialised;
  return false;
}

// The last error of a failed call, as the library reports it.
int FailFromLibrary() {
  static decltype(&::WSAGetLastError) slot = nullptr;
  return Fail(win32::Entry("WSAGetLastError", slot)());
}

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

SOCKET Sys(SocketHandle s) { return static_cast<SOCKET>(s); }

}  // namespace
}  // namespace telorus::platform::net

namespace telorus::platform::win32 {

void* EntryPoint(const char* name, void** slot) {
  if (*slot) return *slot;
  auto& lib = net::Library();
  if (!lib.module) {
    // Not loaded (released, or never started): the call fails the Winsock
    // way.
    return nullptr;
  }
  FARPROC proc = GetProcAddress(lib.module, name);
  if (!proc) {
    net::LibraryFailure("Procedure " + std::string(name) + " not found in " + lib.name + " Error #" +
                        std::to_string(GetLastError()));
  }
  *slot = reinterpret_cast<void*>(proc);
  lib.slots.push_back(slot);
  return *slot;
}

}  // namespace telorus::platform::win32

namespace telorus::platform::net {

using win32::Entry;

// Each wrapper binds its entry point on first use into a slot of its own.
#define TELORUS_WSOCK(fn)                    \
  static decltype(&::fn) fn##Slot = nullptr; \
  auto* fn##Call = Entry(#fn, fn##Slot)

int LastError() { return tLastError; }
void SetLastError(int error) { tLastError = error; }

int ErrorFromErrno(int errnoValue) { return errnoValue == 0 ? 0 : 10000 + errnoValue; }
int ErrorFromResolver(int code) { return code; }

void SetLibraryFailureHandler(LibraryFailureHandler handler) { Library().onFailure = std::move(handler); }

void SetSocketLibraryNameForTesting(const std::string& name) {
  Cleanup();
  Library().name = name.empty() ? "wsock32.dll" : name;
}

int Startup() {
  auto& lib = Library();
  if (lib.started) return 0;
  if (!lib.module) {
    lib.module = LoadLibraryA(lib.name.c_str());
    if (!lib.module) LibraryFailure("Unable to load " + lib.name + " Error #" + std::to_string(GetLastError()));
  }
  WSADATA data{};
  TELORUS_WSOCK(WSAStartup);
  const int rc = WSAStartupCall(0x0101, &data);
  if (rc != 0) return rc;
  lib.started = true;
  return 0;
}

void Cleanup() {
  auto& lib = Library();
  if (lib.module) {
    if (lib.started) {
      TELORUS_WSOCK(WSACleanup);
      WSACleanupCall();
    }
    FreeLibrary(lib.module);
    lib.module = nullptr;
  }
  for (void** slot : lib.slots) *slot = nullptr;
  lib.slots.clear();
  lib.started = false;
  win32::UnregisterNotifierClass();
}

bool Started() { return Library().started; }

// Winsock 1.1 numbers (wsock32 translates them for the newer stack).
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
  TELORUS_WSOCK(socket);
  SOCKET s = socketCall(family, type, protocol);
  if (s == INVALID_SOCKET) return FailFromLibrary(), kInvalidSocket;
  ++gOpenSockets;
  return static_cast<SocketHandle>(s);
}

namespace {
// Records already queued for a socket that is being closed would be read as
// records of the next socket that Winsock gives the same handle: drop them.
void DropQueuedRecords(SOCKET s, const Registration& r) {
  if (!r.target || r.thread != GetCurrentThreadId()) return;
  std::vector<MSG> others;
  MSG m;
  while (PeekMessageA(&m, r.target, r.msg, r.msg, PM_REMOVE | PM_NOYIELD)) {
    if (m.wParam != s) others.push_back(m);
  }
  for (const MSG& o : others) PostMessageA(o.hwnd, o.message, o.wParam, o.lParam);
}
}  // namespace

int CloseSocket(SocketHandle s) {
  if (!Ready()) return -1;
  TELORUS_WSOCK(closesocket);
  if (closesocketCall(Sys(s)) != 0) return FailFromLibrary();
  if (gOpenSockets > 0) --gOpenSockets;
  Registration r;
  bool registered = false;
  {
    std::lock_guard lock(gRegistrationsMutex);
    auto it = Registrations().find(Sys(s));
    if (it != Registrations().end()) {
      r = it->second;
      registered = true;
      Registrations().erase(it);
    }
  }
  if (registered) {
    if (r.thread == GetCurrentThreadId()) win32::CountRegisteredSocket(-1);
    DropQueuedRecords(Sys(s), r);
  }
  return 0;
}

int Shutdown(SocketHandle s, int how) {
  if (!Ready()) return -1;
  TELORUS_WSOCK(shutdown);
  return shutdownCall(Sys(s), how) != 0 ? FailFromLibrary() : 0;
}

int SetSockOpt(SocketHandle s, int level, int name, const void* value, int length) {
  if (!Ready()) return -1;
  TELORUS_WSOCK(setsockopt);
  return setsockoptCall(Sys(s), level, name, static_cast<const char*>(value), length) != 0 ? FailFromLibrary() : 0;
}

int GetSockOpt(SocketHandle s, int level, int name, void* value, int* length) {
  if (!Ready()) return -1;
  TELORUS_WSOCK(getsockopt);
  return getsockoptCall(Sys(s), level, name, static_cast<char*>(value), length) != 0 ? FailFromLibrary() : 0;
}

int SetLinger(SocketHandle s, std::uint16_t onOff, std::uint16_t seconds) {
  linger l{onOff, seconds};
  return SetSockOpt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

int Bind(SocketHandle s, const SockAddrIn& local) {
  if (!Ready()) return -1;
  sockaddr_in sa = ToSys(local);
  TELORUS_WSOCK(bind);
  return bindCall(Sys(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ? FailFromLibrary() : 0;
}

int Listen(SocketHandle s, int backlog) {
  if (!Ready()) return -1;
  TELORUS_WSOCK(listen);
  return listenCall(Sys(s), backlog) != 0 ? FailFromLibrary() : 0;
}

SocketHandle Accept(SocketHandle s, SockAddrIn* peer) {
  if (!Ready()) return kInvalidSocket;
  sockaddr_in sa{};
  int len = sizeof sa;
  TELORUS_WSOCK(accept);
  SOCKET a = acceptCall(Sys(s), reinterpret_cast<sockaddr*>(&sa), &len);
  if (a == INVALID_SOCKET) return FailFromLibrary(), kInvalidSocket;
  ++gOpenSockets;
  if (peer) *peer = FromSys(sa);
  return static_cast<SocketHandle>(a);
}

int Connect(SocketHandle s, const SockAddrIn& remote) {
  if (!Ready()) return -1;
  sockaddr_in sa = ToSys(remote);
  TELORUS_WSOCK(connect);
  return connectCall(Sys(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ? FailFromLibrary() : 0;
}

int Send(SocketHandle s, const void* data, int length, int flags) {
  if (!Ready()) return -1;
  TELORUS_WSOCK(send);
  const int n = sendCall(Sys(s), static_cast<const char*>(data), length, flags);
  return n == SOCKET_ERROR ? FailFromLibrary() : n;
}

int SendTo(SocketHandle s, const void* data, int length, int flags, const SockAddrIn& to) {
  if (!Ready()) return -1;
  sockaddr_in sa = ToSys(to);
  TELORUS_WSOCK(sendto);
  const int n =
      sendtoCall(Sys(s), static_cast<const char*>(data), length, flags, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  return n == SOCKET_ERROR ? FailFromLibrary() : n;
}

int Recv(SocketHandle s, void* buffer, int length, int flags) {
  if (!Ready()) return -1;
  TELORUS_WSOCK(recv);
  const int n = recvCall(Sys(s), static_cast<char*>(buffer), length, flags);
  return n == SOCKET_ERROR ? FailFromLibrary() : n;
}

int RecvFrom(SocketHandle s, void* buffer, int length, int flags, SockAddrIn* from) {
  if (!Ready()) return -1;
  sockaddr_in sa{};
  int len = sizeof sa;
  TELORUS_WSOCK(recvfrom);
  const int n = recvfromCall(Sys(s), static_cast<char*>(buffer), length, flags, reinterpret_cast<sockaddr*>(&sa), &len);
  if (n == SOCKET_ERROR) return FailFromLibrary();
  if (from) *from = FromSys(sa);
  return n;
}

int BytesPending(SocketHandle s, unsigned long* count) {
  if (!Ready()) return -1;
  u_long n = 0;
  TELORUS_WSOCK(ioctlsocket);
  if (ioctlsocketCall(Sys(s), static_cast<long>(FIONREAD), &n) != 0) return FailFromLibrary();
  *count = n;
  return 0;
}

int GetPeerName(SocketHandle s, SockAddrIn* name) {
  if (!Ready()) return -1;
  sockaddr_in sa{};
  int len = sizeof sa;
  TELORUS_WSOCK(getpeername);
  if (getpeernameCall(Sys(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return FailFromLibrary();
  *name = FromSys(sa);
  return 0;
}

int GetSockName(SocketHandle s, SockAddrIn* name) {
  if (!Ready()) return -1;
  sockaddr_in sa{};
  int len = sizeof sa;
  TELORUS_WSOCK(getsockname);
  if (getsocknameCall(Sys(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return FailFromLibrary();
  *name = FromSys(sa);
  return 0;
}

int AsyncSelect(SocketHandle s, WindowId target, std::uint32_t msg, long mask) {
  if (!Ready()) return -1;
  TELORUS_WSOCK(WSAAsyncSelect);
  if (WSAAsyncSelectCall(Sys(s), reinterpret_cast<HWND>(target), msg, mask) != 0) return FailFromLibrary();
  std::lock_guard lock(gRegistrationsMutex);
  auto it = Registrations().find(Sys(s));
  const bool was = it != Registrations().end();
  if (mask != 0) {
    if (!was) win32::CountRegisteredSocket(+1);
    Registrations()[Sys(s)] = {reinterpret_cast<HWND>(target), msg, GetCurrentThreadId()};
  } else if (was) {
    win32::CountRegisteredSocket(-1);
    Registrations().erase(it);
  }
  return 0;
}

std::uint32_t InetAddr(const std::string& text) {
  if (!Ready()) return 0xFFFFFFFFu;
  TELORUS_WSOCK(inet_addr);
  return inet_addrCall(text.c_str());
}

std::string InetNtoa(std::uint32_t address) {
  if (!Ready()) return {};
  in_addr a{};
  a.s_addr = address;
  TELORUS_WSOCK(inet_ntoa);
  const char* text = inet_ntoaCall(a);
  return text ? text : "";
}

std::uint16_t HostToNet16(std::uint16_t v) { return static_cast<std::uint16_t>((v << 8) | (v >> 8)); }
std::uint16_t NetToHost16(std::uint16_t v) { return static_cast<std::uint16_t>((v << 8) | (v >> 8)); }

bool GetServByName(const std::string& name, const std::string& proto, std::uint16_t* portNetOrder) {
  if (!Ready()) return false;
  TELORUS_WSOCK(getservbyname);
  const servent* found = getservbynameCall(name.c_str(), proto.empty() ? nullptr : proto.c_str());
  if (!found) return FailFromLibrary(), false;
  *portNetOrder = static_cast<std::uint16_t>(found->s_port);
  return true;
}

bool GetProtoByName(const std::string& name, int* protocol) {
  if (!Ready()) return false;
  TELORUS_WSOCK(getprotobyname);
  const protoent* found = getprotobynameCall(name.c_str());
  if (!found) return FailFromLibrary(), false;
  *protocol = found->p_proto;
  return true;
}

std::size_t OpenSocketCount() { return gOpenSockets.load(); }

}  // namespace telorus::platform::net
