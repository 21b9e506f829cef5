// The SOCKS 4, 4A and 5 client: proxy set-up in Connect, then the
// negotiation, one reply at a time, inside the data notifications.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "socket/Resolve.h"
#include "socket/SocketLibrary.h"
#include "socket/USocket.h"

namespace telorus::socket {
namespace net = platform::net;

namespace {

void PutBe16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v & 0xFF));
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Code and text of a level-5 connect reply that is not a success.
std::pair<std::int32_t, std::string> Socks5Failure(std::uint8_t reply) {
  switch (reply) {
    case 1: return {20004, "general SOCKS server failure"};
    case 2: return {20005, "connection not allowed by ruleset"};
    case 3: return {20006, "network unreachable"};
    case 4: return {20007, "host unreachable"};
    case 5: return {20008, "connection refused"};
    case 6: return {20009, "time to live expired"};
    case 7: return {20010, "command not supported"};
    case 8: return {20011, "address type not supported"};
    default: return {kSocksUnassignedError, "unassigned error #" + std::to_string(reply)};
  }
}

}  // namespace

const char* SocksAuthStateName(TSocksAuthState state) {
  switch (state) {
    case socksAuthStart: return "socksAuthStart";
    case socksAuthSuccess: return "socksAuthSuccess";
    case socksAuthFailure: return "socksAuthFailure";
    case socksAuthNotRequired: return "socksAuthNotRequired";
  }
  return "?";
}

// ---- Properties ----

void TCustomSocksUSocket::SetSocksLevel(const std::string& value) {
  if (FState != wsClosed) {
    RaiseError("Can't change socks level if not closed");
    return;
  }
  std::string level = Upper(value);
  if (level != "4" && level != "4A" && level != "5") {
    RaiseError("Invalid socks level. Must be 4, 4A or 5.");
    return;
  }
  FSocksLevel = level;
}

void TCustomSocksUSocket::SetSocksServer(const std::string& value) {
  if (FState != wsClosed) {
    RaiseError("Can't change socks server if not closed");
    return;
  }
  FSocksServer = Trim(value);
  FSocksServerAssigned = !FSocksServer.empty();
}

void TCustomSocksUSocket::SetSocksPort(const std::string& value) {
  if (FState != wsClosed) {
    RaiseError("Can't change socks port if not closed");
    return;
  }
  FSocksPort = Trim(value);
}

void TCustomSocksUSocket::ResetDefaults() {
  TCustomUSocket::ResetDefaults();
  FSocksState = kSocksPassThrough;
  FSocksServer.clear();
  FSocksPort.clear();
  FSocksLevel = "5";
  FLeftoverCount = 0;
  FSocksServerAssigned = false;
}

// ---- Events ----

void TCustomSocksUSocket::DoSocksConnected(std::uint16_t error) {
  if (auto h = OnSocksConnected) h(this, error);
}

void TCustomSocksUSocket::DoSocksError(std::int32_t error, const std::string& msg) {
  if (auto h = OnSocksError) h(this, error, msg);
}

void TCustomSocksUSocket::DoSocksAuthState(TSocksAuthState state) {
  if (auto h = OnSocksAuthState) h(this, state);
}

// ---- Connecting ----

std::string TCustomSocksUSocket::RequestTooLong() const {
  // Level 4 and 4A requests are built to fit whatever they carry; level 5
  // gives the name, the user code and the password one length byte each.
  if (LevelIs4()) return {};
  if (FAddrStr.size() > kSocksMaxField) return "socks destination name longer than 255 bytes";
  if (FSocksAuthentication == socksAuthenticateUsercode) {
    if (FSocksUsercode.size() > kSocksMaxField) return "socks user code longer than 255 bytes";
    if (FSocksPassword.size() > kSocksMaxField) return "socks password longer than 255 bytes";
  }
  return {};
}

void TCustomSocksUSocket::Connect() {
  if (!FSocksServerAssigned) {
    TCustomUSocket::Connect();
    return;
  }
  // Refused before anything is touched: a negotiation must not restart on a
  // connection that is in use.
  if (FSocketHandle != INVALID_SOCKET && FState != wsClosed) {
    RaiseError("Connect: Socket already in use");
    return;
  }
  if (Lower(FProtoStr) != "tcp") {
    RaiseError("tcp is the only protocol supported thru socks server");
    return;
  }
  if (std::string tooLong = RequestTooLong(); !tooLong.empty()) {
    RaiseError("connect: " + tooLong);
    return;
  }
  try {
    EnsureSocketLibrary();
    // The TCP connection goes to the proxy; the destination travels in the
    // CONNECT request.
    if (!FPortResolved) {
      FPortNum = ResolvePort(FSocksPort, FProtoStr);
      FRemoteAddress.port = net::HostToNet16(FPortNum);
      FPortResolved = true;
    }
    if (!FAddrResolved) {
      FRemoteAddress.address = ResolveHost(FSocksServer);
      FAddrResolved = true;
    }
    FSocksDestPort = ResolvePort(FPortStr, FProtoStr);
  } catch (const std::exception& e) {
    RaiseError(std::string("connect: ") + e.what());
    return;
  }
  FSocksState = kSocksWaitMethod;
  FSocksReplyCount = 0;
  TCustomUSocket::Connect();
}

void TCustomSocksUSocket::Listen() {
  if (FSocksServerAssigned) {
    RaiseError("Listening is not supported thru socks server");
    return;
  }
  TCustomUSocket::Listen();
}

void TCustomSocksUSocket::DoSessionConnected(std::uint16_t error) {
  if (FSocksState != kSocksWaitMethod) {
    TCustomUSocket::DoSessionConnected(error);
    return;
  }
  DoSocksConnected(error);
  if (error != 0) {
    // The proxy could not be reached: the application learns it directly.
    TCustomUSocket::DoSessionConnected(error);
    return;
  }
  if (LevelIs4()) {
    SendSocksConnectRequest();
    return;
  }
  FSocksMethod = FSocksAuthentication == socksAuthenticateUsercode ? 0x02 : 0x00;
  const std::uint8_t greeting[3] = {0x05, 0x01, FSocksMethod};
  Send(greeting, sizeof greeting);
}

void TCustomSocksUSocket::SendSocksAuthRequest() {
  FSocksState = kSocksWaitAuth;
  DoSocksAuthState(socksAuthStart);
  if (FSocksUsercode.size() > kSocksMaxField || FSocksPassword.size() > kSocksMaxField) {
    // Changed after Connect checked them: a length byte cannot carry them.
    FailSocksNegotiation(kSocksLogicError, FSocksUsercode.size() > kSocksMaxField
                                               ? "socks user code longer than 255 bytes"
                                               : "socks password longer than 255 bytes");
    return;
  }
  // RFC 1929: version 1, then the user code and the password, each with a
  // one-byte length.
  std::string request;
  request.push_back(0x01);
  request.push_back(static_cast<char>(FSocksUsercode.size()));
  request += FSocksUsercode;
  request.push_back(static_cast<char>(FSocksPassword.size()));
  request += FSocksPassword;
  try {
    Send(request.data(), static_cast<std::int32_t>(request.size()));
  } catch (...) {
  }
}

void TCustomSocksUSocket::SendSocksConnectRequest() {
  FSocksState = kSocksWaitConnect;
  std::string request;
  if (LevelIs4()) {
    request = {0x04, 0x01};
    PutBe16(request, FSocksDestPort);
    std::uint32_t address = 0;  // network order
    if (FSocksLevel == "4A") {
      // 0.0.0.1: the proxy resolves the name that follows the user code.
      const std::uint8_t invalid[4] = {0, 0, 0, 1};
      std::memcpy(&address, invalid, 4);
    } else {
      try {
        address = ResolveHost(FAddrStr);
      } catch (const std::exception& e) {
        const char* kind = dynamic_cast<const ESocketException*>(&e) ? "ESocketException" : "Exception";
        DoSocksError(kSocksCannotResolveDestination, std::string(kind) + " " + e.what());
        DoClose(true, static_cast<std::uint16_t>(kSocksCannotResolveDestination));
        return;
      }
    }
    request.append(reinterpret_cast<const char*>(&address), 4);
    request += FSocksUsercode;
    request.push_back('\0');
    if (FSocksLevel == "4A") {
      request += FAddrStr;
      request.push_back('\0');
    }
  } else {
    if (FAddrStr.size() > kSocksMaxField) {
      FailSocksNegotiation(kSocksLogicError, "socks destination name longer than 255 bytes");
      return;
    }
    // The destination always travels as a name, even a dotted one: the
    // proxy resolves it.
    request = {0x05, 0x01, 0x00, 0x03};
    request.push_back(static_cast<char>(FAddrStr.size()));
    request += FAddrStr;
    PutBe16(request, FSocksDestPort);
  }
  try {
    Send(request.data(), static_cast<std::int32_t>(request.size()));
  } catch (...) {
  }
}

void TCustomSocksUSocket::FailSocksNegotiation(std::int32_t code, const std::string& msg) {
  DoSocksError(code, msg);
  FSocksState = kSocksPassThrough;
  DoSessionConnected(static_cast<std::uint16_t>(code));
  DoClose(true, static_cast<std::uint16_t>(code));
}

// ---- The negotiation ----

bool TCustomSocksUSocket::ReceiveReply(std::int32_t limit) {
  std::int32_t room = std::min(limit, kReplyCapacity) - FSocksReplyCount;
  if (room < 0) room = 0;
  std::int32_t n = Receive(FSocksReply.data() + FSocksReplyCount, room);
  if (n < 0) return false;
  FSocksReplyCount += n;
  return true;
}

bool TCustomSocksUSocket::ConnectGranted() {
  FSocksState = kSocksPassThrough;
  DoSessionConnected(0);
  bool result = DoDataAvailable(0);
  // Bytes that came with the reply are not in the system's queue, so the
  // receive loop would not call again for them: keep delivering while a
  // handler takes some.
  while (result && FLeftoverCount > 0 && FSocketHandle != INVALID_SOCKET && !SocksNegotiating()) {
    std::int32_t before = FLeftoverCount;
    result = DoDataAvailable(0);
    if (FLeftoverCount >= before) break;
  }
  return result;
}

bool TCustomSocksUSocket::DoDataAvailable(std::uint16_t error) {
  if (FSocksState == kSocksPassThrough) return TCustomUSocket::DoDataAvailable(error);
  if (error != 0) {
    FailSocksNegotiation(error, "data receive error");
    return false;
  }
  switch (FSocksState) {
    case kSocksWaitMethod: {
      if (!ReceiveReply(kReplyCapacity)) return true;
      if (LevelIs4()) {
        FailSocksNegotiation(kSocksLogicError, "TUSocket logic error");
        return true;
      }
      if (FSocksReplyCount < 2) return true;
      FSocksReplyCount = 0;  // anything after the two bytes is dropped
      if (FSocksReply[0] != 0x05) {
        FailSocksNegotiation(kSocksVersionError, "socks version error");
      } else if (FSocksReply[1] == 0x00) {
        if (FSocksMethod == 0x02) DoSocksAuthState(socksAuthNotRequired);
        SendSocksConnectRequest();
      } else if (FSocksReply[1] == 0x02) {
        SendSocksAuthRequest();
      } else {
        FailSocksNegotiation(kSocksMethodNotAcceptable, "authentification method not acceptable");
      }
      return true;
    }
    case kSocksWaitAuth: {
      if (!ReceiveReply(kReplyCapacity)) return true;
      if (FSocksReplyCount >= 1 && FSocksReply[0] != 0x01) {
        FailSocksNegotiation(kSocksVersionError, "socks version error");
        return true;
      }
      if (FSocksReplyCount < 2) return true;
      if (FSocksReplyCount > 2) {
        FailSocksNegotiation(kSocksLogicError, "too much data availaible");
        return true;
      }
      if (FSocksReply[1] != 0x00) {
        FailSocksNegotiation(kSocksAuthenticationFailed, "socks authentication failed");
        return true;
      }
      FSocksReplyCount = 0;
      DoSocksAuthState(socksAuthSuccess);
      SendSocksConnectRequest();
      return true;
    }
    case kSocksWaitConnect: {
      if (LevelIs4()) {
        if (!ReceiveReply(8)) return true;
        if (FSocksReplyCount < 8) return true;
        FSocksReplyCount = 0;
        if (FSocksReply[0] != 0x00) {
          FailSocksNegotiation(kSocksVersionError, "socks version error");
          return true;
        }
        // Bytes 2 to 7 (port and address) are not needed.
        switch (FSocksReply[1]) {
          case 90: return ConnectGranted();
          case 91: FailSocksNegotiation(kSocksRequestRejected, "request rejected or failed"); break;
          case 92: FailSocksNegotiation(kSocksConnectionRefused, "connection refused"); break;
          case 93: FailSocksNegotiation(kSocksAuthenticationFailed, "authentification failed"); break;
          default:
            FailSocksNegotiation(kSocksUnassignedError, "unassigned error #" + std::to_string(FSocksReply[1]));
            break;
        }
        return true;
      }
      if (!ReceiveReply(kReplyCapacity)) return true;
      if (FSocksReplyCount >= 1 && FSocksReply[0] != 0x05) {
        FailSocksNegotiation(kSocksVersionError, "socks version error");
        return true;
      }
      if (FSocksReplyCount >= 2 && FSocksReply[1] != 0x00) {
        auto [code, text] = Socks5Failure(FSocksReply[1]);
        FailSocksNegotiation(code, text);
        return true;
      }
      if (FSocksReplyCount < 5) return true;
      std::int32_t length;
      switch (FSocksReply[3]) {
        case 0x01: length = 10; break;                  // IPv4 address and port
        case 0x03: length = 7 + FSocksReply[4]; break;  // length-prefixed name and port
        default: FailSocksNegotiation(kSocksAddressTypeNotSupported, "address type not supported"); return true;
      }
      if (FSocksReplyCount < length) return true;
      // The bound address is of no use here; what follows the reply is the
      // application's first data.
      FLeftoverCount = std::max(0, FSocksReplyCount - length);
      FLeftoverPos = length;
      return ConnectGranted();
    }
    default: FailSocksNegotiation(kSocksInternalError, "internal error"); return false;
  }
}

void TCustomSocksUSocket::DoSessionClosed(std::uint16_t error) {
  // A proxy that closes instead of answering the user code and password
  // has refused them.
  if (FSocksState == kSocksWaitAuth) DoSocksAuthState(socksAuthFailure);
  TCustomUSocket::DoSessionClosed(error);
}

// ---- Receiving ----

std::int32_t TCustomSocksUSocket::RcvdCount() {
  if (FLeftoverCount > 0) return FLeftoverCount;
  return TCustomUSocket::RcvdCount();
}

std::int32_t TCustomSocksUSocket::RecvRaw(void* buffer, std::int32_t size, int flags) {
  if (FLeftoverCount > 0 && size > 0) {
    std::int32_t n = std::min(size, FLeftoverCount);
    std::memcpy(buffer, FSocksReply.data() + FLeftoverPos, static_cast<std::size_t>(n));
    FLeftoverPos += n;
    FLeftoverCount -= n;
    return n;
  }
  return TCustomUSocket::RecvRaw(buffer, size, flags);
}

}  // namespace telorus::socket
