// The socket core: construction, configuration, connecting, closing, error
// reporting and the dispatch of notifier records.
#include "socket/USocket.h"

#include "socket/Resolve.h"
#include "socket/SocketLibrary.h"

namespace telorus::socket {
namespace net = platform::net;

const char* SocketStateName(TSocketState state) {
  switch (state) {
    case wsInvalidState: return "wsInvalidState";
    case wsOpened: return "wsOpened";
    case wsBound: return "wsBound";
    case wsConnecting: return "wsConnecting";
    case wsConnected: return "wsConnected";
    case wsAccepting: return "wsAccepting";
    case wsListening: return "wsListening";
    case wsClosed: return "wsClosed";
  }
  return "?";
}

TCustomUSocket::TCustomUSocket(TComponent* owner) : TComponent(owner) {
  OpenNotifier();
  SendBlockSize = 1460;
  FMultiCastIpTTL = 1;
  ResetDefaults();
  AddSocketInstance();
}

TCustomUSocket::~TCustomUSocket() {
  BeginDestroy();
  try {
    CancelDnsLookup();
  } catch (...) {
  }
  if (FState != wsClosed) {
    try {
      Close();
    } catch (...) {
    }
  }
  if (FSocketHandle != INVALID_SOCKET) {
    // A close that failed still must not leak the handle.
    net::CloseSocket(FSocketHandle);
    FSocketHandle = INVALID_SOCKET;
  }
  RemoveSocketInstance();
  DiscardSendChain();
  CloseNotifier();
}

// ---- Notifier ----

void TCustomUSocket::OpenNotifier() {
  FNotifier = std::make_unique<platform::Notifier>([this](const platform::Message& m) {
    TMessage msg{m.msg, m.wParam, m.lParam, 0};
    DispatchNotification(msg);
  });
  if (FNotifier->Id() == 0) {
    FNotifier.reset();
    RaiseError("Cannot create a hidden window for TUSocket");
  }
}

void TCustomUSocket::CloseNotifier() { FNotifier.reset(); }

void TCustomUSocket::DispatchNotification(TMessage& msg) {
  if (msg.Msg == kMsgFreeRequest) {
    delete this;
    return;
  }
  try {
    switch (msg.Msg) {
      case kMsgSocketEvent: HandleSocketEvent(msg); break;
      case kMsgHostLookupDone: HandleHostLookupDone(msg); break;
      case kMsgAddrLookupDone: HandleAddrLookupDone(msg); break;
      case kMsgCloseRequest: Close(); break;
      case kMsgTestRequest: throw ESocketException("Test exception in USocket");
      default: break;
    }
  } catch (const std::exception& e) {
    HandleBackgroundError(e);
  } catch (...) {
    HandleBackgroundError(Exception("Unknown exception in a socket event handler"));
  }
}

void TCustomUSocket::HandleSocketEvent(TMessage& msg) {
  if (static_cast<SocketHandle>(msg.WParam) != FSocketHandle || FPaused) return;
  const unsigned events = net::SelectEvent(msg.LParam);
  const auto error = static_cast<std::uint16_t>(net::SelectError(msg.LParam));

  if (events & net::kFdConnect) {
    if (FState != wsConnected) {
      ChangeState(wsConnected);
      DoSessionConnected(error);
      if (error != 0 && FState != wsClosed) Close();
    }
  }
  if (events & net::kFdRead) {
    if (FState != wsConnected) {
      ChangeState(wsConnected);
      DoSessionConnected(error);
    }
    ReceiveLoop(error, FComponentOptions);
  }
  if (events & net::kFdWrite) {
    TryToSend();
    if (FAllSent) DoDataSent(error);
  }
  if (events & net::kFdAccept) DoSessionAvailable(error);
  if ((events & net::kFdClose) && FState != wsConnecting) {
    // Deliver everything still queued before the close is announced.
    ReceiveLoop(0, FComponentOptions & static_cast<TUSocketOptions>(~OptionBit(wsoNoReceiveLoop)));
    if (!FSessionClosedSignalled) {
      FSessionClosedSignalled = true;
      DoSessionClosed(error);
    }
    if (FState != wsClosed) Close();
  }
}

void TCustomUSocket::PostClose() {
  if (FNotifier) FNotifier->Post(kMsgCloseRequest, 0, 0);
}

void TCustomUSocket::PostFree() {
  if (FNotifier) FNotifier->Post(kMsgFreeRequest, 0, 0);
}

bool TCustomUSocket::PumpAndNoteQuit() {
  bool quit = platform::PumpPending();
  if (quit) FTerminated = true;
  return quit;
}

void TCustomUSocket::PumpMessages() { PumpAndNoteQuit(); }

// ---- Properties ----

void TCustomUSocket::SetRemoteText(std::string& field, bool& assigned, bool& resolved, const std::string& value,
                                   const char* name) {
  if (assigned && value == field) return;
  if (FState != wsClosed) {
    RaiseError(std::string("Cannot change ") + name + " if not closed");
    return;
  }
  field = Trim(value);
  if (field.empty()) {
    assigned = false;
  } else {
    resolved = false;
    assigned = true;
  }
}

void TCustomUSocket::SetAddr(const std::string& value) {
  SetRemoteText(FAddrStr, FAddrAssigned, FAddrResolved, value, "Addr");
}

void TCustomUSocket::SetPort(const std::string& value) {
  SetRemoteText(FPortStr, FPortAssigned, FPortResolved, value, "Port");
}

void TCustomUSocket::SetProto(const std::string& value) {
  SetRemoteText(FProtoStr, FProtoAssigned, FProtoResolved, value, "Proto");
}

void TCustomUSocket::SetLocalPort(const std::string& value) {
  if (FState != wsClosed) {
    RaiseError("Cannot change LocalPort if not closed");
    return;
  }
  FLocalPortStr = value;
  FLocalPortResolved = false;
}

void TCustomUSocket::SetLocalAddr(const std::string& value) {
  if (FState != wsClosed) {
    RaiseError("Cannot change LocalAddr if not closed");
    return;
  }
  FLocalAddr = value.empty() ? "0.0.0.0" : value;
}

TSocketSendFlags TCustomUSocket::SendFlags() {
  switch (FSendFlags) {
    case 0: return wsSendNormal;
    case 1: return wsSendUrgent;
    default: RaiseError("Invalid internal SendFlags"); return wsSendNormal;
  }
}

void TCustomUSocket::SetSendFlags(int value) {
  switch (value) {
    case wsSendNormal: FSendFlags = 0; break;
    case wsSendUrgent: FSendFlags = 1; break;
    default: RaiseError("Invalid SendFlags"); break;
  }
}

std::string TCustomUSocket::PeerAddr() {
  if (FState != wsConnected) return "error";
  SockAddrIn peer;
  if (net::GetPeerName(FSocketHandle, &peer) != 0) {
    ReportSocketError("GetPeerName");
    return "error";
  }
  return net::InetNtoa(peer.address);
}

std::string TCustomUSocket::PeerPort() {
  if (FState != wsConnected) return "error";
  SockAddrIn peer;
  if (net::GetPeerName(FSocketHandle, &peer) != 0) {
    ReportSocketError("GetPeerPort");
    return "error";
  }
  return std::to_string(net::NetToHost16(peer.port));
}

std::int32_t TCustomUSocket::GetPeerName(SockAddrIn* name) {
  if (FState != wsConnected) return -1;
  return net::GetPeerName(FSocketHandle, name);
}

std::int32_t TCustomUSocket::GetSockName(SockAddrIn* name) { return net::GetSockName(FSocketHandle, name); }

std::string TCustomUSocket::LocalBoundPort() {
  if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
  SockAddrIn local;
  if (net::GetSockName(FSocketHandle, &local) != 0) return "error";
  return std::to_string(net::NetToHost16(local.port));
}

std::string TCustomUSocket::LocalBoundAddr() {
  if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
  SockAddrIn local;
  if (net::GetSockName(FSocketHandle, &local) != 0) return "error";
  return net::InetNtoa(local.address);
}

bool TCustomUSocket::TimeValueIsSet(const TTimeVal& tv) { return tv.Seconds != 0 || tv.Microseconds != 0; }

void TCustomUSocket::ClearTimeValue(TTimeVal& tv) { tv = TTimeVal{}; }

bool TCustomUSocket::CompareTimeValues(const TTimeVal& a, const TTimeVal& b, bool wantEqual) {
  bool equal = a.Seconds == b.Seconds && a.Microseconds == b.Microseconds;
  return equal == wantEqual;
}

// ---- Events ----

void TCustomUSocket::ChangeState(TSocketState newState) {
  TSocketState old = FState;
  FState = newState;
  DoChangeState(old, newState);
}

// Each Do… copies the handler before calling it, so a handler may replace
// or clear itself.
bool TCustomUSocket::DoDataAvailable(std::uint16_t error) {
  if (auto h = OnDataAvailable) {
    h(this, error);
    return true;
  }
  return false;
}

void TCustomUSocket::DoSessionAvailable(std::uint16_t error) {
  if (auto h = OnSessionAvailable) h(this, error);
}

void TCustomUSocket::DoSessionConnected(std::uint16_t error) {
  if (auto h = OnSessionConnected) h(this, error);
}

void TCustomUSocket::DoSessionClosed(std::uint16_t error) {
  if (auto h = OnSessionClosed) h(this, error);
}

void TCustomUSocket::DoDataSent(std::uint16_t error) {
  if (auto h = OnDataSent) h(this, error);
}

void TCustomUSocket::DoChangeState(TSocketState oldState, TSocketState newState) {
  if (auto h = OnChangeState) h(this, oldState, newState);
}

void TCustomUSocket::DoDnsLookupDone(std::uint16_t error) {
  if (auto h = OnDnsLookupDone) h(this, error);
}

void TCustomUSocket::DoError() {
  if (auto h = OnError) h(this);
}

void TCustomUSocket::DoSendData(std::int32_t count) {
  if (auto h = OnSendData) h(this, count);
}

// ---- Errors ----

void TCustomUSocket::RaiseError(const std::string& message) {
  if (OnError) {
    DoError();
    return;
  }
  throw ESocketException(message);
}

void TCustomUSocket::RaiseErrorFmt(const std::string& message) { RaiseError(message); }

void TCustomUSocket::ReportSocketError(const std::string& operation) {
  int e = net::LastError();
  std::string message = SocketErrorMessage(e, operation);
  if (e == net::kWsaEconnreset || e == net::kWsaEnotconn) {
    if (FSocketHandle != INVALID_SOCKET) {
      net::CloseSocket(FSocketHandle);
      FSocketHandle = INVALID_SOCKET;
    }
    if (FState != wsClosed) DoSessionClosed(static_cast<std::uint16_t>(e));
    ChangeState(wsClosed);
  }
  FLastError = e;
  RaiseError(message);
}

void TCustomUSocket::HandleBackgroundError(const std::exception& e) {
  bool canClose = true;
  if (auto h = OnBgException) {
    try {
      h(this, e, canClose);
    } catch (...) {
    }
  }
  if (canClose) {
    try {
      Abort();
    } catch (...) {
    }
  }
}

// ---- Connecting ----

bool TCustomUSocket::ResolveRemote(bool forListen) {
  try {
    EnsureSocketLibrary();
    if (!FProtoResolved) {
      FProto = ResolveProto(FProtoStr);
      // A listener is a datagram or a stream socket; a client may also be raw.
      if (forListen)
        FSocketType = FProto == 17 ? 2 : 1;
      else
        FSocketType = FProto == 6 ? 1 : FProto == 17 ? 2 : 3;
      FProtoResolved = true;
    }
    if (!FPortResolved) {
      FPortNum = ResolvePort(FPortStr, FProtoStr);
      FRemoteAddress.port = net::HostToNet16(FPortNum);
      FPortResolved = true;
    }
    if (!forListen && !FLocalPortResolved) {
      FLocalPortNum = ResolvePort(FLocalPortStr, FProtoStr);
      FLocalPortResolved = true;
    }
    if (!FAddrResolved) {
      FRemoteAddress.address = ResolveHost(FAddrStr);
      FAddrResolved = true;
    }
  } catch (const std::exception& e) {
    RaiseError(std::string(forListen ? "listen: " : "connect: ") + e.what());
    return false;
  }
  return true;
}

bool TCustomUSocket::Register(long mask, const char* operation) {
  if (net::AsyncSelect(FSocketHandle, NotifierHandle(), kMsgSocketEvent, mask) != 0) {
    ReportSocketError(operation);
    return false;
  }
  FSelectedEvents = mask;
  return true;
}

void TCustomUSocket::Connect() {
  if (FSocketHandle != INVALID_SOCKET && FState != wsClosed) {
    RaiseError("Connect: Socket already in use");
    return;
  }
  if (!FPortAssigned) return RaiseError("Connect: No Port Specified");
  if (!FAddrAssigned) return RaiseError("Connect: No IP Address Specified");
  if (!FProtoAssigned) return RaiseError("Connect: No Protocol Specified");
  if (!ResolveRemote(false)) return;

  DiscardSendChain();
  FSocketHandle = net::Socket(FAddrFamily, FSocketType, FProto);
  if (FSocketHandle == INVALID_SOCKET) {
    ReportSocketError("Connect (socket)");
    return;
  }
  ChangeState(wsOpened);
  if (FState != wsOpened) {
    net::SetLastError(net::kWsaEinval);
    ReportSocketError("Connect (Invalid operation in OnChangeState)");
    return;
  }
  if (FSocketType == 2) {
    ConnectDatagram();
    return;
  }
  int on = 1;
  if (net::SetSockOpt(FSocketHandle, net::SolSocket(), net::OptReuseAddr(), &on, sizeof on) != 0) {
    ReportSocketError("setsockopt(SO_REUSEADDR)");
    return;
  }
  if ((FComponentOptions & OptionBit(wsoTcpNoDelay)) &&
      net::SetSockOpt(FSocketHandle, net::IpprotoTcp(), net::OptTcpNoDelay(), &on, sizeof on) != 0) {
    ReportSocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
    return;
  }
  ApplyLinger();
  if (net::SetSockOpt(FSocketHandle, net::SolSocket(), net::OptKeepAlive(), &on, sizeof on) != 0) {
    ReportSocketError("setsockopt(SO_KEEPALIVE)");
    return;
  }
  if (FLocalPortNum != 0 || FLocalAddr != "0.0.0.0") BindLocal();
  if (!Register(kConnectEvents, "WSAAsyncSelect")) return;
  if (net::Connect(FSocketHandle, FRemoteAddress) == 0 || net::LastError() == net::kWsaEwouldblock) {
    ChangeState(wsConnecting);
  } else {
    FLastError = net::LastError();
    ReportSocketError("Connect");
  }
}

void TCustomUSocket::ApplyLinger() {
  if (FLingerOnOff == wsLingerNoSet) return;
  if (FSocketHandle == INVALID_SOCKET) {
    RaiseError("Cannot set linger option at this time");
    return;
  }
  if (net::SetLinger(FSocketHandle, FLingerOnOff, static_cast<std::uint16_t>(FLingerTimeout & 0xFFFF)) != 0)
    ReportSocketError("setsockopt(SO_LINGER)");
}

// ---- Closing ----

void TCustomUSocket::Close() { DoClose(true, 0); }

void TCustomUSocket::ShutDown(int how) {
  if (FSocketHandle != INVALID_SOCKET) net::Shutdown(FSocketHandle, how);
}

void TCustomUSocket::DoClose(bool shutdownFirst, std::uint16_t error) {
  if (FSocketHandle == INVALID_SOCKET) {
    if (FState != wsClosed) {
      ChangeState(wsClosed);
      ResetDefaults();
    }
    return;
  }
  if (FState == wsClosed) return;
  if (shutdownFirst) ShutDown(1);
  for (;;) {
    if (net::CloseSocket(FSocketHandle) == 0) break;
    int e = net::LastError();
    if (e == net::kWsaEwouldblock) {
      FLastError = e;
      PumpMessages();
      continue;
    }
    FSocketHandle = INVALID_SOCKET;
    if (e == net::kWsaNotinitialised) break;
    net::SetLastError(e);
    ReportSocketError("Disconnect (closesocket)");
    return;
  }
  FSocketHandle = INVALID_SOCKET;
  ChangeState(wsClosed);
  if (!Destroying() && !FSessionClosedSignalled) {
    FSessionClosedSignalled = true;
    DoSessionClosed(error);
  }
  try {
    ResetDefaults();
  } catch (...) {
  }
}

void TCustomUSocket::Abort() {
  CancelDnsLookup();
  DiscardSendChain();
  if (FState == wsConnected && FProto == 6) {
    FLingerOnOff = wsLingerOff;
    ApplyLinger();
  }
  DoClose(false, 0);
}

void TCustomUSocket::ResetDefaults() {
  FRemoteAddress = SockAddrIn{};
  FAddrFamily = 2;
  FPortAssigned = false;
  FAddrAssigned = false;
  FAddrResolved = false;
  FPortResolved = false;
  FProtoResolved = false;
  FLocalPortResolved = false;
  FProtoAssigned = true;
  FProto = 6;
  FProtoStr = "tcp";
  FSocketType = 1;
  FLocalPortStr = "0";
  FLocalAddr = "0.0.0.0";
  FLingerOnOff = wsLingerOn;
  FLingerTimeout = 0;
  FSocketHandle = INVALID_SOCKET;
  FSelectedEvents = 0;
  FState = wsClosed;
  FAllSent = true;
  FPaused = false;
  FReadCount = 0;
  FSessionClosedSignalled = false;
  FFlushTimeout = 60;
}

int TCustomUSocket::Pause() {
  FPaused = true;
  return net::AsyncSelect(FSocketHandle, NotifierHandle(), 0, 0);
}

int TCustomUSocket::Resume() {
  FPaused = false;
  return net::AsyncSelect(FSocketHandle, NotifierHandle(), kMsgSocketEvent, FSelectedEvents);
}

}  // namespace telorus::socket
