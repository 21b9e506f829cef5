// TCustomSocksUSocket: a TCP client connection through a SOCKS 4, 4A or 5
// proxy. Part of "socket/USocket.h"; include that header, not this one.
//
// With SocksServer set, Connect opens the connection to the proxy; the
// negotiation (method choice, user code and password, the CONNECT request)
// then runs inside the data notifications, and the application sees
// OnSessionConnected only when the proxy has granted the connection (or with
// the failure's code when it has not). Afterwards data passes unchanged. With
// no proxy every operation is the core's.
#pragma once

#ifndef TELORUS_SOCKET_USOCKET_CORE
#error "include socket/USocket.h instead"
#endif

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace telorus::socket {

enum TSocksAuthentication : std::uint8_t { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState : std::uint8_t { socksAuthStart, socksAuthSuccess, socksAuthFailure, socksAuthNotRequired };

using TSocksErrorEvent = std::function<void(TObject* Sender, std::int32_t Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(TObject* Sender, TSocksAuthState AuthState)>;

const char* SocksAuthStateName(TSocksAuthState state);

// Codes reported through OnSocksError and OnSessionConnected when a
// negotiation fails (besides the platform's own error numbers).
inline constexpr std::int32_t kSocksLogicError = 20001;
inline constexpr std::int32_t kSocksVersionError = 20002;
inline constexpr std::int32_t kSocksMethodNotAcceptable = 20003;
inline constexpr std::int32_t kSocksGeneralFailure = 20004;
inline constexpr std::int32_t kSocksConnectionRefused = 20008;
inline constexpr std::int32_t kSocksAddressTypeNotSupported = 20011;
inline constexpr std::int32_t kSocksUnassignedError = 20012;
inline constexpr std::int32_t kSocksInternalError = 20013;
inline constexpr std::int32_t kSocksAuthenticationFailed = 20015;
inline constexpr std::int32_t kSocksRequestRejected = 20016;
inline constexpr std::int32_t kSocksCannotResolveDestination = 20017;

// The longest name, user code or password a request can carry: SOCKS 5
// gives each a one-byte length.
inline constexpr std::size_t kSocksMaxField = 255;

class TCustomSocksUSocket : public TCustomUSocket {
 public:
  using TCustomUSocket::TCustomUSocket;

  // ---- Properties ----
  const std::string& SocksLevel() const { return FSocksLevel; }
  void SetSocksLevel(const std::string& value);
  const std::string& SocksServer() const { return FSocksServer; }
  virtual void SetSocksServer(const std::string& value);
  const std::string& SocksPort() const { return FSocksPort; }
  virtual void SetSocksPort(const std::string& value);
  const std::string& SocksUsercode() const { return FSocksUsercode; }
  void SetSocksUsercode(const std::string& value) { FSocksUsercode = value; }
  const std::string& SocksPassword() const { return FSocksPassword; }
  void SetSocksPassword(const std::string& value) { FSocksPassword = value; }
  TSocksAuthentication SocksAuthentication() const { return FSocksAuthentication; }
  void SetSocksAuthentication(TSocksAuthentication value) { FSocksAuthentication = value; }

  // ---- Events ----
  TSessionConnected OnSocksConnected;
  TSocksErrorEvent OnSocksError;
  TSocksAuthStateEvent OnSocksAuthState;

  // ---- Operations ----
  void Connect() override;
  void Listen() override;
  std::int32_t RcvdCount() override;

 protected:
  virtual void DoSocksConnected(std::uint16_t error);
  virtual void DoSocksError(std::int32_t error, const std::string& msg);

  void ResetDefaults() override;
  std::int32_t RecvRaw(void* buffer, std::int32_t size, int flags) override;
  void DoSessionConnected(std::uint16_t error) override;
  bool DoDataAvailable(std::uint16_t error) override;
  void DoSessionClosed(std::uint16_t error) override;

  void DoSocksAuthState(TSocksAuthState state);
  void SendSocksAuthRequest();
  void SendSocksConnectRequest();
  void FailSocksNegotiation(std::int32_t code, const std::string& msg);

  // Whether a negotiation with the proxy is running (data is not the
  // application's yet).
  bool SocksNegotiating() const { return FSocksState != kSocksPassThrough; }

 private:
  enum SocksState : std::uint8_t {
    kSocksPassThrough = 0,
    kSocksWaitMethod = 1,  // also while the connection to the proxy is being made
    kSocksWaitAuth = 2,
    kSocksWaitConnect = 3,
  };
  // The longest reply: a level-5 connect reply with a 255-byte name.
  static constexpr std::int32_t kReplyCapacity = 7 + 255;

  bool LevelIs4() const { return !FSocksLevel.empty() && FSocksLevel[0] == '4'; }
  // Reads what the proxy sent into the reply buffer, at most `limit` bytes
  // in all; false when nothing could be read.
  bool ReceiveReply(std::int32_t limit);
  bool ConnectGranted();
  // Checks the lengths a request can carry; the refusal text, or empty.
  std::string RequestTooLong() const;

  std::string FSocksLevel = "5";
  std::string FSocksServer;
  std::string FSocksPort;
  std::string FSocksUsercode;
  std::string FSocksPassword;
  TSocksAuthentication FSocksAuthentication = socksNoAuthentication;

  SocksState FSocksState = kSocksPassThrough;
  bool FSocksServerAssigned = false;
  std::uint8_t FSocksMethod = 0;
  std::uint16_t FSocksDestPort = 0;  // host order
  std::array<std::uint8_t, kReplyCapacity> FSocksReply{};
  std::int32_t FSocksReplyCount = 0;
  // Application bytes that came in the same read as a level-5 connect reply.
  std::int32_t FLeftoverCount = 0;
  std::int32_t FLeftoverPos = 0;
};

}  // namespace telorus::socket
