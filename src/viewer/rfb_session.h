// RfbSession: the client side of one RFB connection at a time, without
// windows, timers or hosts.
//
// The session owns the receive buffer, the decoders, the pixel formats and
// the framebuffer. Bytes come from its transport on each data event; it
// walks the handshake, then frames the server's messages and rectangles,
// draws them into the framebuffer, and reports everything a component needs
// to know through one handler interface. Every outgoing message goes through
// its writer, and only while the transport is open.
//
// A handler may end the session from inside any report (a host's event that
// disconnects): the component then calls `Reset`, and the session notices
// through `Report`, the one place where that is checked, and goes no further.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/surface.h"
#include "viewer/decoders.h"
#include "viewer/frame_bitmap.h"
#include "viewer/pixel_format.h"
#include "viewer/receive_buffer.h"
#include "viewer/rfb_writer.h"
#include "viewer/tls_transport.h"
#include "viewer/transport.h"

namespace telorus::viewer {

// The session's progress, reported unchanged by the control's Status.
enum TxVNCConnectStatus : std::uint8_t {
  VNCDisConnected,
  VNCVersion,
  VNCConnected,
  VNCAuthType,
  VNCAuthing,
  VNCServerInit,
  VNCHostName,
  VNCSessionStart,
};

// What the session waits for inside a running session.
enum class SessionStep : std::uint8_t { AwaitMessage, AwaitRectHeader, RectBody };

// The highest protocol version the viewer answers. 3.3 lets the server
// choose the security type; 3.7 and 3.8 let the viewer choose from the
// server's list.
enum TVNCProtocol : std::uint8_t { vncProtocol33, vncProtocol37, vncProtocol38 };

// Where the security negotiation stands while the state is VNCConnected.
enum class SecurityStep : std::uint8_t {
  Scheme,            // 3.3: the server's 4-byte scheme
  TypeList,          // 3.7/3.8: the server's list of security types
  VeNCryptVersion,   // the server's VeNCrypt version
  VeNCryptAck,       // its answer to ours
  VeNCryptSubtypes,  // its list of subtypes
  SubtypeAck,        // its answer to our TLS or X509 subtype
  TlsHandshake,      // the TLS handshake runs
};

class RfbSessionHandler {
 public:
  virtual ~RfbSessionHandler() = default;
  // A progress or problem text.
  virtual void SessionStatus(const std::string& text) = 0;
  // The server's framebuffer size, before the framebuffer exists.
  virtual void SessionFrameSize(std::int32_t width, std::int32_t height) = 0;
  // The memory of a new framebuffer (black, width x height).
  virtual platform::Surface CreateFrameSurface(int width, int height) = 0;
  // The server refused the logon.
  virtual void SessionAuthFailed() = 0;
  // The handshake is over: the desktop's name is known and the framebuffer
  // exists. Then the session is connected.
  virtual void SessionHostName(const std::string& name) = 0;
  virtual void SessionConnected() = 0;
  // The session's encodings are announced: the display can start.
  virtual void SessionRunning() = 0;
  // A rectangle of the framebuffer has been drawn (a whole rectangle, or a
  // band of a Raw one).
  virtual void SessionRectangle(int x, int y, int width, int height) = 0;
  // A whole FramebufferUpdate has been drawn.
  virtual void SessionUpdateComplete() = 0;
  virtual void SessionBell() = 0;
  virtual void SessionCutText(const std::string& text) = 0;
  // The session cannot go on: close the connection. The reason has been
  // reported as a status already.
  virtual void SessionClose() = 0;
  // Why the connection failed, for the host (a server's reason text, a
  // refused certificate, an impossible negotiation).
  virtual void SessionConnectError(const std::string& text) = 0;
  // The server's certificate did not verify (`info.problem` says how):
  // true to go on with it anyway.
  virtual bool SessionCertificate(const CertificateInfo& info) = 0;
};

class RfbSession {
 public:
  RfbSession(RfbSessionHandler& handler, Transport& transport);
  RfbSession(const RfbSession&) = delete;
  RfbSession& operator=(const RfbSession&) = delete;

  // ---- Settings (read when the handshake needs them) ----
  void SetPassword(const std::string& password) { password_ = password; }
  void SetShared(bool shared) { shared_ = shared; }
  // The viewer asks for the 8-bit format at session start.
  void SetWantEightBit(bool eightBit) { wantEightBit_ = eightBit; }
  // The encodings SetEncodings announces, in order.
  void SetEncodings(std::vector<std::int32_t> encodings) { encodings_ = std::move(encodings); }
  // Bytes asked of the transport per data event.
  void SetReceiveChunk(std::int32_t bytes) { receiveChunk_ = bytes < 1 ? 1 : bytes; }
  std::int32_t ReceiveChunk() const { return receiveChunk_; }
  // The pause between the connected report and SetEncodings (10 ms).
  void SetStartPause(int milliseconds) { startPauseMs_ = milliseconds; }
  // The highest version answered (3.3 by default).
  void SetMaxProtocol(TVNCProtocol protocol) { maxProtocol_ = protocol; }
  // The accepted security types (codes of security_types.h), preferred
  // first; used from 3.7 on.
  void SetSecurityTypes(std::vector<std::uint32_t> codes) { securityTypes_ = std::move(codes); }
  // The user name of Plain authentication.
  void SetUserName(const std::string& user) { userName_ = user; }
  // TLS: the trusted CAs (empty: the system's) and the server's name the
  // certificate must carry.
  void SetCaFile(const std::string& file) { caFile_ = file; }
  void SetServerName(const std::string& name) { serverName_ = name; }
  void SetTlsPriority(const std::string& priority) { tlsPriority_ = priority; }
  // Tests and fuzzing in memory: a TLS subtype goes on without TLS (the
  // bytes that follow are taken as already decrypted) and its certificate
  // counts as verified.
  void SetTlsBypassForTesting(bool bypass) { tlsBypass_ = bypass; }

  // ---- Driving ----
  // The connection stands: the server's version comes next.
  void Begin() { state_ = VNCVersion; }
  // The connection has closed: everything of the session is cleared.
  void Reset();
  // The viewer is about to close the connection: over TLS, the close
  // notification goes first, so the server sees an orderly end.
  void EndTls();
  // A data event of the connection (error: the event's socket error).
  void DataAvailable(std::uint16_t error);
  // Bytes handed over as if the transport had just delivered them.
  void Inject(const void* data, std::size_t length);
  void SetStateForTesting(TxVNCConnectStatus state) { state_ = state; }

  // ---- Outgoing messages of a running session ----
  void AnnounceEncodings();
  // Incremental after the first; `whole` asks for the whole screen again.
  void UpdateRequest(bool whole = false);
  void KeyEvent(bool down, std::uint32_t keysym);
  void PointerEvent(std::uint8_t mask, std::uint16_t x, std::uint16_t y);
  void ClientCutText(const std::string& text);
  // Makes the 8-bit format current, and tells the server when it may.
  void SetEightBitFormat();
  // Makes the server's format current again; a refusal (colour-mapped
  // server) is reported as a status.
  void RestoreServerFormat();

  // ---- State ----
  TxVNCConnectStatus State() const { return state_; }
  bool Running() const { return state_ == VNCSessionStart; }
  // The transport stands and the session runs: client messages may go.
  bool CanSend() const { return writer_.Open() && Running(); }
  bool TransportOpen() const { return writer_.Open(); }
  std::int32_t FrameWidth() const { return frameWidth_; }
  std::int32_t FrameHeight() const { return frameHeight_; }
  const std::string& DesktopName() const { return desktopName_; }
  std::int32_t UpdateRequestCount() const { return updateRequestCount_; }
  const PixelFormats& Formats() const { return formats_; }
  // The version answered to the server (3, 7 or 8; 0 before).
  int NegotiatedMinor() const { return negotiated_; }
  // The security type in use (a code of security_types.h; 0 before).
  std::uint32_t SecurityCode() const { return chosen_; }
  // Whether the session runs over TLS.
  bool Encrypted() const { return active_ != &transport_; }
  // Bytes received on the connection, and those of the last whole
  // FramebufferUpdate with the time from its header to its last rectangle:
  // what the link's throughput is measured from.
  std::uint64_t BytesReceived() const { return bytesReceived_; }
  std::uint64_t LastUpdateBytes() const { return lastUpdateBytes_; }
  double LastUpdateSeconds() const { return lastUpdateSeconds_; }
  FrameBitmap* Frame() { return frame_.get(); }
  const FrameBitmap* Frame() const { return frame_.get(); }

 private:
  // Runs one report to the handler; false when the handler ended the
  // session meanwhile (or the transport fell), so the caller stops.
  template <class F>
  bool Report(F&& report) {
    const std::uint64_t generation = generation_;
    report();
    return generation == generation_ && writer_.Open();
  }
  bool Status(const std::string& text) {
    return Report([&] { handler_.SessionStatus(text); });
  }
  // Ends the session from inside with a status text.
  void Fail(const std::string& status);

  void Process(std::int32_t bytesThisEvent);
  void Received(std::int32_t count);
  void UpdateBegins();
  void UpdateEnds();
  bool StepVersion();
  bool StepSecurity(std::int32_t bytesThisEvent);
  bool StepScheme(std::int32_t bytesThisEvent);
  bool StepTypeList(std::int32_t bytesThisEvent);
  bool StepVeNCryptVersion();
  bool StepVeNCryptAck();
  bool StepVeNCryptSubtypes();
  bool StepSubtypeAck();
  // Goes on with the chosen code once its channel stands (after TLS, or at
  // once for the unencrypted ones).
  bool ContinueSecurity(std::int32_t bytesThisEvent);
  bool StartTls();
  // Advances the TLS handshake; false when it is still running or failed.
  bool ContinueTls();
  bool StepChallenge();
  bool StepLogonResult();
  bool StepSecurityResult();
  // Takes `before` bytes, a u32 length and that many bytes of a reason text;
  // false (nothing taken) while not all of it is buffered.
  bool TakeReason(std::size_t before, std::string& reason);
  // A failure the host hears of twice: a status text and a connection error.
  void FailWithReason(const std::string& status, const std::string& reason);
  bool StepServerInit();
  bool StepHostName();
  bool StepMessage();
  bool StepColourMap();
  bool StepServerCutText();
  bool StepRectHeader();
  bool StepRectBody();
  bool FinishRect();

  RfbSessionHandler& handler_;
  Transport& transport_;  // the plain stream
  Transport* active_;     // what the session reads and writes: plain or TLS
  // The TLS layer while there is one. Held through its base, so that a build
  // without TLS needs none of its code.
  std::unique_ptr<Transport> tlsLayer_;
  TlsTransport* tls_ = nullptr;
  RfbWriter writer_;

  // Settings.
  std::string password_;
  bool shared_ = false;
  bool wantEightBit_ = false;
  std::vector<std::int32_t> encodings_{static_cast<std::int32_t>(kEncodingHextile)};
  std::int32_t receiveChunk_ = 512 * 1024;
  int startPauseMs_ = 10;
  TVNCProtocol maxProtocol_ = vncProtocol33;
  std::vector<std::uint32_t> securityTypes_;
  std::string userName_;
  std::string caFile_;
  std::string serverName_;
  std::string tlsPriority_;
  bool tlsBypass_ = false;

  // The session.
  TxVNCConnectStatus state_ = VNCDisConnected;
  SessionStep step_ = SessionStep::AwaitMessage;
  std::uint64_t generation_ = 0;  // grows at every Reset
  ReceiveBuffer receive_;
  std::int32_t frameWidth_ = 0;
  std::int32_t frameHeight_ = 0;
  std::string desktopName_;
  std::uint32_t nameLength_ = 0;
  PixelFormats formats_;
  std::unique_ptr<FrameBitmap> frame_;
  std::uint32_t rectsInUpdate_ = 0;
  std::uint32_t rectsBegun_ = 0;
  RectangleHeader rect_{};
  RectangleDecoder decoder_;
  std::int32_t updateRequestCount_ = 0;
  std::uint64_t bytesReceived_ = 0;
  std::uint64_t updateStartBytes_ = 0;
  std::chrono::steady_clock::time_point updateStart_{};
  std::uint64_t lastUpdateBytes_ = 0;
  double lastUpdateSeconds_ = 0;
  std::uint32_t colourEntriesToSkip_ = 0;
  // The security negotiation.
  int negotiated_ = 0;
  SecurityStep securityStep_ = SecurityStep::Scheme;
  std::uint32_t chosen_ = 0;
  bool insideAnonTls_ = false;  // the second negotiation, inside anonymous TLS
  bool passwordSent_ = false;
  bool certificatePending_ = false;  // the host is deciding on a certificate
  std::string failureScratch_;
};

}  // namespace telorus::viewer
