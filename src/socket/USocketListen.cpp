// The server and datagram side: listening, accepting, adopting a handle, the
// local bind, and datagram specifics.
#include "socket/Resolve.h"
#include "socket/SocketLibrary.h"
#include "socket/USocket.h"

namespace telorus::socket {
namespace net = platform::net;

void TCustomUSocket::BindLocal() {
  SockAddrIn local;
  local.port = net::HostToNet16(FLocalPortNum);
  local.address = ResolveHost(FLocalAddr);
  if (net::Bind(FSocketHandle, local) != 0) {
    RaiseErrorFmt("winsock.bind failed, error #" + std::to_string(net::LastError()));
    return;
  }
  SockAddrIn bound;
  if (net::GetSockName(FSocketHandle, &bound) != 0) {
    RaiseErrorFmt("winsock.getsockname failed, error #" + std::to_string(net::LastError()));
    return;
  }
  FLocalPortNum = net::NetToHost16(bound.port);
  FLocalPortStr = std::to_string(FLocalPortNum);
}

void TCustomUSocket::ConnectDatagram() {
  BindLocal();
  if (FMultiCast) {
    if (FMultiCastIpTTL != 1) {
      int ttl = FMultiCastIpTTL;
      if (net::SetSockOpt(FSocketHandle, net::IpprotoIp(), net::OptMulticastTtl(), &ttl, sizeof ttl) != 0) {
        ReportSocketError("setsockopt(IP_MULTICAST_TTL)");
        return;
      }
    }
    if (FLocalAddr != "0.0.0.0") {
      std::uint32_t iface = ResolveHost(FLocalAddr);
      if (net::SetSockOpt(FSocketHandle, net::IpprotoIp(), net::OptMulticastIf(), &iface, sizeof iface) != 0) {
        ReportSocketError("setsockopt(IP_MULTICAST_IF)");
        return;
      }
    }
  }
  if (FRemoteAddress.address == 0xFFFFFFFFu) {
    int on = 1;
    if (net::SetSockOpt(FSocketHandle, net::SolSocket(), net::OptBroadcast(), &on, sizeof on) != 0) {
      ReportSocketError("setsockopt(SO_BROADCAST)");
      return;
    }
  }
  if (!Register(kConnectEvents, "WSAAsyncSelect")) return;
  ChangeState(wsConnected);
  DoSessionConnected(0);
}

void TCustomUSocket::Listen() {
  auto refuse = [this](const char* operation) {
    net::SetLastError(net::kWsaEinval);
    ReportSocketError(operation);
  };
  if (!FPortAssigned) return refuse("listen: port not assigned");
  if (!FProtoAssigned) return refuse("listen: protocol not assigned");
  if (!FAddrAssigned) return refuse("listen: address not assigned");
  if (!ResolveRemote(true)) return;
  DiscardSendChain();
  FSocketHandle = net::Socket(FAddrFamily, FSocketType, FProto);
  if (FSocketHandle == INVALID_SOCKET) {
    ReportSocketError("socket");
    return;
  }
  if (FSocketType == 2 && FReuseAddr) {
    int on = 1;
    if (net::SetSockOpt(FSocketHandle, net::SolSocket(), net::OptReuseAddr(), &on, sizeof on) != 0) {
      ReportSocketError("setsockopt(SO_REUSEADDR)");
      return;
    }
  }
  if (net::Bind(FSocketHandle, FRemoteAddress) != 0) {
    // The handle is closed once the report is done, also when the report
    // raises.
    auto closeHandle = [this] {
      if (FSocketHandle == INVALID_SOCKET) return;
      net::CloseSocket(FSocketHandle);
      FSocketHandle = INVALID_SOCKET;
    };
    try {
      ReportSocketError("Bind");
    } catch (...) {
      closeHandle();
      throw;
    }
    closeHandle();
    return;
  }
  ChangeState(wsBound);
  if (FSocketType == 2 && FMultiCast) {
    // The membership request: the group, then the interface.
    // A resolver failure passes to the caller as it is.
    std::uint32_t request[2] = {net::InetAddr(FMultiCastAddrStr), ResolveHost(FAddrStr)};
    if (net::SetSockOpt(FSocketHandle, net::IpprotoIp(), net::OptAddMembership(), request, sizeof request) != 0) {
      ReportSocketError("setsockopt(IP MULTICAST)");
      return;
    }
  }
  if (FSocketType == 1) {
    if (net::Listen(FSocketHandle, 5) != 0) {
      ReportSocketError("Listen");
      return;
    }
    ChangeState(wsListening);
  } else if (FSocketType == 2 || FSocketType == 3) {
    ChangeState(wsListening);
    ChangeState(wsConnected);
    DoSessionConnected(0);
  } else {
    ReportSocketError("Listen: unexpected protocol.");
    return;
  }
  Register(kListenEvents, "WSAASyncSelect");
}

SocketHandle TCustomUSocket::Accept() {
  if (FState != wsListening) {
    net::SetLastError(net::kWsaEinval);
    ReportSocketError("not a listening socket");
    return INVALID_SOCKET;
  }
  FAcceptedHandle = net::Accept(FSocketHandle, &FRemoteAddress);
  if (FAcceptedHandle == INVALID_SOCKET) {
    ReportSocketError("Accept");
    return INVALID_SOCKET;
  }
  return FAcceptedHandle;
}

void TCustomUSocket::Dup(SocketHandle newHandle) {
  if (newHandle == 0 || newHandle == INVALID_SOCKET) {
    net::SetLastError(net::kWsaEinval);
    ReportSocketError("Dup");
    return;
  }
  if (FState != wsClosed) {
    if (FSocketHandle != INVALID_SOCKET && net::CloseSocket(FSocketHandle) != 0) {
      ReportSocketError("Dup (closesocket)");
      return;
    }
    FSocketHandle = INVALID_SOCKET;
    ChangeState(wsClosed);
  }
  FSocketHandle = newHandle;
  ApplyLinger();
  if (!Register(kDupEvents, "WSAAsyncSelect")) return;
  ChangeState(wsConnected);
}

std::int32_t TCustomUSocket::RecvFromRaw(void* buffer, std::int32_t size, int flags, SockAddrIn* from) {
  return net::RecvFrom(FSocketHandle, buffer, size, flags, from);
}

std::int32_t TCustomUSocket::ReceiveFrom(void* buffer, std::int32_t size, SockAddrIn* from) {
  std::int32_t n = RecvFromRaw(buffer, size, 0, from);
  if (n < 0)
    FLastError = net::LastError();
  else
    FReadCount += n;
  return n;
}

std::int32_t TCustomUSocket::SendTo(const SockAddrIn& dest, const void* data, std::int32_t len) {
  SockAddrIn to = dest;
  std::int32_t n = net::SendTo(FSocketHandle, data, len, FSendFlags, to);
  if (n > 0) DoSendData(n);
  return n;
}

}  // namespace telorus::socket
