// Socket calls with Windows Sockets semantics, on either platform.
//
// Every function here reports failure the Winsock way: a result of -1 (or an
// invalid handle, or 0 for the lookup starters) and an error number in the
// Windows Sockets numbering that LastError() returns (10061 for a refused
// connect, 11001 for an unknown host). On Windows these are thin wrappers on
// Winsock; on Linux they are non-blocking BSD sockets plus an emulation of
// WSAAsyncSelect and WSAAsyncGetHostByName driven by the message loop.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/message_loop.h"

namespace telorus::platform::net {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kInvalidSocket = -1;

// Event bits of an asynchronous select, as Winsock numbers them.
inline constexpr long kFdRead = 1;
inline constexpr long kFdWrite = 2;
inline constexpr long kFdOob = 4;
inline constexpr long kFdAccept = 8;
inline constexpr long kFdConnect = 16;
inline constexpr long kFdClose = 32;

// Windows Sockets error numbers used by name in the code.
inline constexpr int kWsaEintr = 10004;
inline constexpr int kWsaEinval = 10022;
inline constexpr int kWsaEwouldblock = 10035;
inline constexpr int kWsaEnotsock = 10038;
inline constexpr int kWsaEconnaborted = 10053;
inline constexpr int kWsaEconnreset = 10054;
inline constexpr int kWsaEnotconn = 10057;
inline constexpr int kWsaEshutdown = 10058;
inline constexpr int kWsaEtimedout = 10060;
inline constexpr int kWsaEconnrefused = 10061;
inline constexpr int kWsaNotinitialised = 10093;
inline constexpr int kWsaHostNotFound = 11001;
inline constexpr int kWsaTryAgain = 11002;
inline constexpr int kWsaNoRecovery = 11003;
inline constexpr int kWsaNoData = 11004;

// The IPv4 socket address record: family 2, port and address in network order.
struct SockAddrIn {
  std::uint16_t family = 2;
  std::uint16_t port = 0;     // network order
  std::uint32_t address = 0;  // network order
};

// Shapes a 16-bit event word and a 16-bit error into the second parameter of
// a socket or lookup record (Winsock's WSAMAKESELECTREPLY).
constexpr std::intptr_t MakeSelectReply(unsigned events, unsigned error) {
  return static_cast<std::intptr_t>((static_cast<std::uint32_t>(error & 0xFFFF) << 16) | (events & 0xFFFF));
}
constexpr unsigned SelectEvent(std::intptr_t lParam) { return static_cast<unsigned>(lParam) & 0xFFFF; }
constexpr unsigned SelectError(std::intptr_t lParam) { return (static_cast<unsigned>(lParam) >> 16) & 0xFFFF; }

// The error number of the calling thread's last failed call.
int LastError();
void SetLastError(int error);

// errno and resolver codes onto the Windows Sockets numbers (one table).
int ErrorFromErrno(int errnoValue);
int ErrorFromResolver(int gaiCode);

// One process-wide start of the socket library (on Windows: "wsock32.dll"
// loaded at run time and WSAStartup), and its release. Startup returns the
// startup call's error (0 on success). Started() tells whether it is
// currently started.
int Startup();
void Cleanup();
bool Started();

// Called with the message when the library cannot be loaded ("Unable to load
// wsock32.dll Error #126") or lacks an entry point ("Procedure X not found in
// wsock32.dll Error #127"); it must not return (the socket layer raises its
// exception). Without one, std::runtime_error is thrown. Only Windows binds
// a library at run time; elsewhere nothing can fail this way.
using LibraryFailureHandler = std::function<void(const std::string& message)>;
void SetLibraryFailureHandler(LibraryFailureHandler handler);
// Binds another library instead of "wsock32.dll" (empty: the real one), for
// tests of the failure messages. Releases the current binding.
void SetSocketLibraryNameForTesting(const std::string& name);

// Level and option numbers as the platform defines them.
int SolSocket();
int IpprotoTcp();
int IpprotoIp();
int OptReuseAddr();
int OptKeepAlive();
int OptLinger();
int OptBroadcast();
int OptTcpNoDelay();
int OptMulticastTtl();
int OptMulticastIf();
int OptAddMembership();
int MsgOob();
int MsgPeek();

SocketHandle Socket(int family, int type, int protocol);
int CloseSocket(SocketHandle s);
int Shutdown(SocketHandle s, int how);
int SetSockOpt(SocketHandle s, int level, int name, const void* value, int length);
int GetSockOpt(SocketHandle s, int level, int name, void* value, int* length);
int SetLinger(SocketHandle s, std::uint16_t onOff, std::uint16_t seconds);
int Bind(SocketHandle s, const SockAddrIn& local);
int Listen(SocketHandle s, int backlog);
SocketHandle Accept(SocketHandle s, SockAddrIn* peer);
// Non-blocking: a connect that is under way fails with 10035, as on Winsock.
int Connect(SocketHandle s, const SockAddrIn& remote);
int Send(SocketHandle s, const void* data, int length, int flags);
int SendTo(SocketHandle s, const void* data, int length, int flags, const SockAddrIn& to);
int Recv(SocketHandle s, void* buffer, int length, int flags);
int RecvFrom(SocketHandle s, void* buffer, int length, int flags, SockAddrIn* from);
// ioctlsocket(FIONREAD): bytes that one receive would return.
int BytesPending(SocketHandle s, unsigned long* count);
int GetPeerName(SocketHandle s, SockAddrIn* name);
int GetSockName(SocketHandle s, SockAddrIn* name);

// WSAAsyncSelect: replaces any earlier registration of `s`; mask 0 stops the
// notifications. Each record is (target, msg, wParam = s, lParam =
// MakeSelectReply(bit, error)), one bit per record.
int AsyncSelect(SocketHandle s, WindowId target, std::uint32_t msg, long mask);

// Dotted-address conversions (inet_addr / inet_ntoa). InetAddr gives the
// all-ones value for text it cannot read.
std::uint32_t InetAddr(const std::string& text);
std::string InetNtoa(std::uint32_t address);
std::uint16_t HostToNet16(std::uint16_t v);
std::uint16_t NetToHost16(std::uint16_t v);

struct HostEntry {
  std::string officialName;
  std::vector<std::uint32_t> addresses;  // network order, resolver order
};

// Blocking lookups (gethostbyname, getservbyname, getprotobyname).
bool GetHostByName(const std::string& name, HostEntry* result);
bool GetServByName(const std::string& name, const std::string& proto, std::uint16_t* portNetOrder);
bool GetProtoByName(const std::string& name, int* protocol);

// Asynchronous lookups (WSAAsyncGetHostByName / ...ByAddr). The blocking call
// runs on a worker thread; when it completes, *result is filled on the owning
// thread and a record (target, msg, wParam = handle, lParam =
// MakeSelectReply(0, error)) is delivered there. A cancelled lookup delivers
// nothing and never touches *result. Returns the handle, or 0 with
// LastError set.
std::uint32_t AsyncGetHostByName(WindowId target, std::uint32_t msg, const std::string& name, HostEntry* result);
std::uint32_t AsyncGetHostByAddr(WindowId target, std::uint32_t msg, std::uint32_t address, HostEntry* result);
int CancelAsyncRequest(std::uint32_t handle);

// Test seam for the resolver: replaces the system resolver for name and
// address lookups (the function returns a Windows Sockets error number, 0 on
// success). With `inline_completion`, a lookup completes and is delivered
// inside the starting call, before the handle is returned. Pass an empty
// function to restore the system resolver.
using HostResolver = std::function<int(const std::string& nameOrDotted, bool byAddress, HostEntry*)>;
void SetHostResolverForTesting(HostResolver resolver, bool inline_completion = false);

// What is still alive in the process (for leak checks): lookups not yet
// delivered or cancelled, and socket handles not yet closed.
std::size_t PendingLookups();
std::size_t OpenSocketCount();

}  // namespace telorus::platform::net
