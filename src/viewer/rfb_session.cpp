// The session engine: received bytes are appended to the receive buffer and
// consumed by one step per state. A step that lacks bytes takes nothing and
// ends the pass; the next data event resumes it.
#include "viewer/rfb_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "viewer/big_endian.h"
#include "viewer/rfb_wire.h"
#include "viewer/security_types.h"
#include "viewer/vncdes.h"

namespace telorus::viewer {

RfbSession::RfbSession(RfbSessionHandler& handler, Transport& transport)
    : handler_(handler), transport_(transport), active_(&transport) {
  ParseSecurityTypes(kDefaultSecurityTypes, securityTypes_, failureScratch_);
  writer_.SetTransport(&transport_);
  decoder_.SetCopyRectNotice([this](std::uint16_t x, std::uint16_t y) {
    return Status("CopyRect Codec:" + std::to_string(x) + "," + std::to_string(y)) && Running();
  });
}

void RfbSession::Reset() {
  ++generation_;
  state_ = VNCVersion;
  desktopName_.clear();
  frameWidth_ = 0;
  frameHeight_ = 0;
  receive_.Clear();
  colourEntriesToSkip_ = 0;
  frame_.reset();
  decoder_.NewConnection();
  bytesReceived_ = 0;
  active_ = &transport_;
  writer_.SetTransport(active_);
  tls_ = nullptr;
  tlsLayer_.reset();
  negotiated_ = 0;
  securityStep_ = SecurityStep::Scheme;
  chosen_ = 0;
  insideAnonTls_ = false;
  passwordSent_ = false;
  certificatePending_ = false;
}

void RfbSession::EndTls() {
#if TELORUS_HAVE_TLS
  if (tls_ && Encrypted()) tls_->Bye();
#endif
}

void RfbSession::FailWithReason(const std::string& status, const std::string& reason) {
  handler_.SessionStatus(status);
  handler_.SessionConnectError(reason);
  handler_.SessionClose();
  receive_.Clear();
}

void RfbSession::Fail(const std::string& status) {
  handler_.SessionStatus(status);
  handler_.SessionClose();
  receive_.Clear();
}

// ---- Reading ----

void RfbSession::DataAvailable(std::uint16_t error) {
  // A host deciding on a certificate may run a nested loop (a dialog): the
  // data that comes meanwhile is taken (the socket goes on announcing what
  // nobody reads) and waits in the buffer for the decision.
  if (certificatePending_) {
    std::uint8_t* space = receive_.PrepareWrite(static_cast<std::size_t>(receiveChunk_));
    if (!space) return Fail("Receive Buffer Overflow!");
    const std::int32_t got = active_->Receive(space, static_cast<std::size_t>(receiveChunk_));
    if (got > 0) Received(got);
    if (got < 0) FailWithReason("TLS Fail!", active_->FailureText());
    return;
  }
  const std::uint64_t generation = generation_;
  // While TLS is being set up, the data is the handshake's; what came while
  // the host decided on the certificate is handled first.
  if (state_ == VNCConnected && securityStep_ == SecurityStep::TlsHandshake) {
    if (!ContinueTls()) return;
    if (receive_.Unread() > 0) Process(0);
    if (generation != generation_) return;
  }
  // One read per event on the socket itself (it raises the event again while
  // bytes remain); over TLS, reads go on while decrypted bytes are waiting,
  // since no event of the socket announces those.
  do {
    std::uint8_t* space = receive_.PrepareWrite(static_cast<std::size_t>(receiveChunk_));
    if (!space) {
      Fail("Receive Buffer Overflow!");
      return;
    }
    const std::int32_t got = active_->Receive(space, static_cast<std::size_t>(receiveChunk_));
    if (got < 0 && Encrypted()) {
      FailWithReason("TLS Fail!", active_->FailureText());
      return;
    }
    if (error != 0 || got <= 0) return;
    Received(got);
    Process(got);
  } while (generation == generation_ && Encrypted() && active_->Pending());
}

void RfbSession::Inject(const void* data, std::size_t length) {
  if (length == 0) return;
  if (!receive_.Append(data, length)) {
    Fail("Receive Buffer Overflow!");
    return;
  }
  bytesReceived_ += length;
  Process(static_cast<std::int32_t>(length));
}

void RfbSession::Received(std::int32_t count) {
  receive_.Commit(static_cast<std::size_t>(count));
  bytesReceived_ += static_cast<std::uint64_t>(count);
}

void RfbSession::UpdateBegins() {
  updateStartBytes_ = bytesReceived_ - receive_.Unread();
  updateStart_ = std::chrono::steady_clock::now();
}

void RfbSession::UpdateEnds() {
  lastUpdateBytes_ = bytesReceived_ - receive_.Unread() - updateStartBytes_;
  lastUpdateSeconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - updateStart_).count();
}

void RfbSession::Process(std::int32_t bytesThisEvent) {
  for (;;) {
    bool progressed = false;
    switch (state_) {
      case VNCDisConnected: return;
      case VNCVersion: progressed = StepVersion(); break;
      case VNCConnected: progressed = StepSecurity(bytesThisEvent); break;
      case VNCAuthType: progressed = StepChallenge(); break;
      case VNCAuthing: progressed = negotiated_ <= 3 ? StepLogonResult() : StepSecurityResult(); break;
      case VNCServerInit: progressed = StepServerInit(); break;
      case VNCHostName: progressed = StepHostName(); break;
      case VNCSessionStart:
        switch (step_) {
          case SessionStep::AwaitMessage: progressed = StepMessage(); break;
          case SessionStep::AwaitRectHeader: progressed = StepRectHeader(); break;
          case SessionStep::RectBody: progressed = StepRectBody(); break;
        }
        break;
    }
    if (!progressed) return;
  }
}

// ---- The handshake ----

namespace {

// The version of "RFB xxx.yyy\n"; false when the text is not of that form.
bool ParseVersion(const char* text, int& major, int& minor) {
  if (std::memcmp(text, "RFB ", 4) != 0 || text[7] != '.' || text[11] != '\n') return false;
  major = minor = 0;
  for (int i = 4; i < 11; ++i) {
    if (i == 7) continue;
    if (text[i] < '0' || text[i] > '9') return false;
    (i < 7 ? major : minor) = (i < 7 ? major : minor) * 10 + (text[i] - '0');
  }
  return true;
}

std::string Names(const std::vector<std::uint32_t>& codes) {
  std::string out;
  for (std::uint32_t c : codes) out += (out.empty() ? "" : ",") + SecurityTypeName(c);
  return out.empty() ? "none" : out;
}

bool Contains(const std::vector<std::uint32_t>& codes, std::uint32_t code) {
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

}  // namespace

bool RfbSession::StepVersion() {
  char version[rfb::kProtocolVersionSize];
  if (!receive_.TakeBytes(version, sizeof version)) return false;
  if (!Status("Server Support Version:" + std::string(version, sizeof version))) return false;
  if (maxProtocol_ == vncProtocol33) {
    // Whatever the server offers, this client speaks 3.3.
    negotiated_ = 3;
  } else {
    // The lower of the server's version and ours. 3.4 to 3.6 are 3.3 with
    // another number, 3.889 (Apple's) and anything newer than 3.8 take 3.8.
    int major = 0, minor = 0;
    if (!ParseVersion(version, major, minor) || major < 3 || (major == 3 && minor < 3)) {
      std::string shown(version, sizeof version - 1);
      for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
      FailWithReason("Unsupported Server Version!", "The server speaks an unsupported protocol version: " + shown);
      return false;
    }
    const int server = (major > 3 || minor >= 8) ? 8 : minor == 7 ? 7 : 3;
    negotiated_ = std::min(server, maxProtocol_ == vncProtocol38 ? 8 : 7);
  }
  writer_.ProtocolVersion(negotiated_);
  state_ = VNCConnected;
  securityStep_ = negotiated_ == 3 ? SecurityStep::Scheme : SecurityStep::TypeList;
  return true;
}

bool RfbSession::StepSecurity(std::int32_t bytesThisEvent) {
  switch (securityStep_) {
    case SecurityStep::Scheme: return StepScheme(bytesThisEvent);
    case SecurityStep::TypeList: return StepTypeList(bytesThisEvent);
    case SecurityStep::VeNCryptVersion: return StepVeNCryptVersion();
    case SecurityStep::VeNCryptAck: return StepVeNCryptAck();
    case SecurityStep::VeNCryptSubtypes: return StepVeNCryptSubtypes();
    case SecurityStep::SubtypeAck: return StepSubtypeAck();
    case SecurityStep::TlsHandshake: return false;  // its bytes go to TLS
  }
  return false;
}

bool RfbSession::StepTypeList(std::int32_t bytesThisEvent) {
  std::uint8_t count;
  if (!receive_.PeekByte(count)) return false;
  if (count == 0) {
    // No type at all: the reason follows.
    std::string reason;
    if (!TakeReason(1, reason)) return false;
    FailWithReason("Connection Fail!", reason.empty() ? "The server refused the connection" : reason);
    return false;
  }
  if (receive_.Unread() < 1u + count) return false;
  std::uint8_t types[256];
  receive_.TakeBytes(types, 1u + count);
  std::vector<std::uint32_t> offered(types + 1, types + 1 + count);
  if (!Status("Security Types: " + Names(offered))) return false;
  // Our first preference whose security type the server offers. Inside
  // anonymous TLS, which the list accepted with whatever it carries, the
  // choice is VNC authentication, or None.
  static const std::vector<std::uint32_t> kInsideTls = {rfb::kSecurityVncAuth, rfb::kSecurityNone};
  std::uint32_t code = 0;
  for (std::uint32_t c : insideAnonTls_ ? kInsideTls : securityTypes_) {
    if (Contains(offered, SecurityTypeOf(c))) {
      code = c;
      break;
    }
  }
  if (code == 0) {
    FailWithReason("No Supported Security Type!",
                   "The server offers the security types " + Names(offered) + ", and none of them is accepted");
    return false;
  }
  const std::uint8_t type = SecurityTypeOf(code);
  writer_.SecurityType(type);
  if (type == rfb::kSecurityVeNCrypt) {
    securityStep_ = SecurityStep::VeNCryptVersion;
    return true;
  }
  chosen_ = code;
  if (!Status("Security Type: " + SecurityTypeName(code))) return false;
  if (type == rfb::kSecurityTLS) return StartTls();
  return ContinueSecurity(bytesThisEvent);
}

bool RfbSession::StepVeNCryptVersion() {
  std::uint8_t version[2];
  if (!receive_.TakeBytes(version, sizeof version)) return false;
  if (version[0] != 0 || version[1] < 2) {
    FailWithReason("VeNCrypt Fail!", "The server offers VeNCrypt " + std::to_string(version[0]) + "." +
                                         std::to_string(version[1]) + "; this viewer speaks 0.2");
    return false;
  }
  writer_.VeNCryptVersion(0, 2);
  securityStep_ = SecurityStep::VeNCryptAck;
  return true;
}

bool RfbSession::StepVeNCryptAck() {
  std::uint8_t ack;
  if (!receive_.TakeBytes(&ack, 1)) return false;
  if (ack != 0) {
    FailWithReason("VeNCrypt Fail!", "The server refused VeNCrypt 0.2");
    return false;
  }
  securityStep_ = SecurityStep::VeNCryptSubtypes;
  return true;
}

bool RfbSession::StepVeNCryptSubtypes() {
  std::uint8_t count;
  if (!receive_.PeekByte(count)) return false;
  if (receive_.Unread() < 1u + 4u * count) return false;
  receive_.Discard(1);
  std::vector<std::uint32_t> offered(count);
  for (std::uint32_t& c : offered) {
    std::uint8_t wire[4];
    receive_.TakeBytes(wire, sizeof wire);
    c = ReadU32BE(wire);
  }
  if (!Status("VeNCrypt Subtypes: " + Names(offered))) return false;
  std::uint32_t code = 0;
  for (std::uint32_t c : securityTypes_)
    if (c >= rfb::kVeNCryptPlain && Contains(offered, c)) {
      code = c;
      break;
    }
  if (code == 0) {
    FailWithReason("No Supported Security Type!",
                   "The server offers the VeNCrypt subtypes " + Names(offered) + ", and none of them is accepted");
    return false;
  }
  chosen_ = code;
  writer_.VeNCryptSubtype(code);
  if (!Status("Security Type: " + SecurityTypeName(code))) return false;
  if (code == rfb::kVeNCryptPlain) return ContinueSecurity(0);
  securityStep_ = SecurityStep::SubtypeAck;
  return true;
}

bool RfbSession::StepSubtypeAck() {
  std::uint8_t ack;
  if (!receive_.TakeBytes(&ack, 1)) return false;
  if (ack != 1) {
    FailWithReason("VeNCrypt Fail!", "The server refused the subtype " + SecurityTypeName(chosen_));
    return false;
  }
  return StartTls();
}

bool RfbSession::StartTls() {
  if (tlsBypass_) return ContinueSecurity(0);
  if (receive_.Unread() != 0) {
    // The server speaks first only after our ClientHello.
    FailWithReason("TLS Fail!", "The server sent data before the TLS handshake");
    return false;
  }
#if TELORUS_HAVE_TLS
  TlsSettings settings;
  settings.anonymous = !UsesCertificate(chosen_);
  settings.caFile = caFile_;
  settings.serverName = serverName_;
  settings.priority = tlsPriority_;
  auto layer = std::make_unique<TlsTransport>(transport_, std::move(settings));
  tls_ = layer.get();
  tlsLayer_ = std::move(layer);
  securityStep_ = SecurityStep::TlsHandshake;
  if (!Status("TLS Handshake Start")) return false;
  // Sends the ClientHello. The server's answer comes as data events, or, on
  // a fast link, already while this first step runs: then the handshake is
  // over here and the session goes on with what follows it.
  return ContinueTls();
#else
  FailWithReason("TLS Not Available!", "This viewer was built without TLS");
  return false;
#endif
}

bool RfbSession::ContinueTls() {
#if TELORUS_HAVE_TLS
  switch (tls_->Handshake()) {
    case TlsTransport::Step::InProgress: return false;
    case TlsTransport::Step::Failed: FailWithReason("TLS Fail!", tls_->FailureText()); return false;
    case TlsTransport::Step::Done: break;
  }
  active_ = tls_;
  writer_.SetTransport(active_);
  if (!Status("TLS Established")) return false;
  if (UsesCertificate(chosen_)) {
    const CertificateInfo& info = tls_->Peer();
    if (!info.problem.empty()) {
      bool accept = false;
      certificatePending_ = true;
      const bool alive = Report([&] { accept = handler_.SessionCertificate(info); });
      certificatePending_ = false;
      if (!alive) return false;
      if (!accept) {
        FailWithReason("Certificate Refused!", info.problem);
        return false;
      }
    }
  }
  return ContinueSecurity(0);
#else
  return false;
#endif
}

bool RfbSession::ContinueSecurity(std::int32_t bytesThisEvent) {
  switch (chosen_) {
    case rfb::kSecurityTLS:
      // Anonymous TLS carries a second negotiation, now encrypted.
      insideAnonTls_ = true;
      securityStep_ = SecurityStep::TypeList;
      return true;
    case rfb::kSecurityNone:
    case rfb::kVeNCryptTLSNone:
    case rfb::kVeNCryptX509None:
      if (!Status("no authentication is needed")) return false;
      // Before 3.8 the plain None type has no SecurityResult.
      if (chosen_ == rfb::kSecurityNone && negotiated_ < 8) {
        writer_.ClientInit(shared_);
        state_ = VNCServerInit;
      } else {
        state_ = VNCAuthing;
      }
      return true;
    case rfb::kSecurityVncAuth:
    case rfb::kVeNCryptTLSVnc:
    case rfb::kVeNCryptX509Vnc:
      if (!Status("VNC authentication is to be used" + std::to_string(bytesThisEvent))) return false;
      state_ = VNCAuthType;
      return true;
    default:  // the Plain family
      if (!Status("Send User Name And Password!")) return false;
      writer_.PlainCredentials(userName_, password_);
      passwordSent_ = true;
      state_ = VNCAuthing;
      return true;
  }
}

bool RfbSession::StepScheme(std::int32_t bytesThisEvent) {
  std::uint8_t scheme[4];
  if (!receive_.TakeBytes(scheme, sizeof scheme)) return false;
  // A viewer that would speak a newer version, answering a 3.3 server, still
  // holds to the types it accepts.
  if (maxProtocol_ != vncProtocol33 && (scheme[3] == rfb::kSecurityNone || scheme[3] == rfb::kSecurityVncAuth) &&
      !Contains(securityTypes_, scheme[3])) {
    FailWithReason("No Supported Security Type!",
                   "The server requires the security type " + SecurityTypeName(scheme[3]) + ", which is not accepted");
    return false;
  }
  switch (scheme[3]) {
    case rfb::kSecurityInvalid:
      // The reason string that follows is not read.
      handler_.SessionStatus("Connection Fail!");
      handler_.SessionClose();
      return false;
    case rfb::kSecurityNone:
      if (!Status("no authentication is needed")) return false;
      writer_.ClientInit(shared_);
      state_ = VNCServerInit;
      return true;
    case rfb::kSecurityVncAuth:
      if (!Status("VNC authentication is to be used" + std::to_string(bytesThisEvent))) return false;
      state_ = VNCAuthType;
      return true;
    default:
      handler_.SessionStatus("Error Authentication Type!");
      handler_.SessionClose();
      return false;
  }
}

bool RfbSession::StepChallenge() {
  std::uint8_t challenge[rfb::kChallengeSize];
  if (!receive_.TakeBytes(challenge, sizeof challenge)) return false;
  if (!Status("Send Password!")) return false;
  writer_.ChallengeResponse(
      EncryptChallenge(std::string_view(reinterpret_cast<const char*>(challenge), sizeof challenge), password_));
  passwordSent_ = true;
  state_ = VNCAuthing;
  return true;
}

bool RfbSession::StepLogonResult() {
  std::uint8_t result[4];
  if (!receive_.TakeBytes(result, sizeof result)) return false;
  const std::uint32_t value = ReadU32BE(result);
  char text[32];
  std::snprintf(text, sizeof text, "Logon Result:%x", value);
  if (!Status(text)) return false;
  if (value != rfb::kSecurityResultOk) {
    handler_.SessionStatus("Logon Fail!");
    handler_.SessionAuthFailed();
    handler_.SessionClose();
    return false;
  }
  if (!Status("Logon Success!")) return false;
  writer_.ClientInit(shared_);
  state_ = VNCServerInit;
  updateRequestCount_ = 0;
  return true;
}

bool RfbSession::TakeReason(std::size_t before, std::string& reason) {
  std::uint8_t head[8];
  if (!receive_.PeekBytes(head, before + 4)) return false;
  const std::uint64_t length = ReadU32BE(head + before);
  const std::uint64_t whole = before + 4 + length;
  // A reason that could never be buffered is dropped with its header.
  if (!receive_.CanHold(whole)) {
    receive_.Discard(before + 4);
    return true;
  }
  if (receive_.Unread() < whole) return false;
  receive_.Discard(before + 4);
  reason.resize(static_cast<std::size_t>(length));
  receive_.TakeBytes(reason.data(), reason.size());
  return true;
}

bool RfbSession::StepSecurityResult() {
  std::uint8_t head[4];
  if (!receive_.PeekBytes(head, 4)) return false;
  const std::uint32_t value = ReadU32BE(head);
  // From 3.8 on a failure carries its reason.
  std::string reason;
  if (value != rfb::kSecurityResultOk && negotiated_ >= 8) {
    if (!TakeReason(4, reason)) return false;
  } else {
    receive_.Discard(4);
  }
  char text[32];
  std::snprintf(text, sizeof text, "Logon Result:%x", value);
  if (!Status(text)) return false;
  if (value != rfb::kSecurityResultOk) {
    handler_.SessionStatus("Logon Fail!");
    handler_.SessionAuthFailed();
    if (!reason.empty()) handler_.SessionConnectError(reason);
    handler_.SessionClose();
    return false;
  }
  if (!Status("Logon Success!")) return false;
  writer_.ClientInit(shared_);
  state_ = VNCServerInit;
  if (passwordSent_) updateRequestCount_ = 0;
  return true;
}

bool RfbSession::StepServerInit() {
  std::uint8_t init[rfb::kServerInitSize];
  if (!receive_.TakeBytes(init, sizeof init)) return false;
  frameWidth_ = ReadU16BE(init);
  frameHeight_ = ReadU16BE(init + 2);
  if (!Report([&] { handler_.SessionFrameSize(frameWidth_, frameHeight_); })) return false;
  // The name length is a 32-bit field: read it whole, so a long name keeps
  // the stream in step.
  nameLength_ = ReadU32BE(init + 20);
  std::string problem = formats_.ServerInit(init + 4);
  if (!problem.empty()) {
    Fail("Unsupported Pixel Format! " + problem);
    return false;
  }
  state_ = VNCHostName;
  frame_ = FrameBitmap::Create(frameWidth_, frameHeight_, problem,
                               [this](int w, int h) { return handler_.CreateFrameSurface(w, h); });
  if (!frame_) {
    Fail("Framebuffer Not Created! " + problem);
    return false;
  }
  return true;
}

bool RfbSession::StepHostName() {
  if (!receive_.CanHold(nameLength_)) {
    Fail("Receive Buffer Overflow!");
    return false;
  }
  if (receive_.Unread() < nameLength_) return false;
  std::string name(nameLength_, '\0');
  receive_.TakeBytes(name.data(), nameLength_);
  desktopName_ = name;
  if (!Status("HostName: " + name)) return false;
  // The session starts here; the messages it sends are allowed from now on.
  state_ = VNCSessionStart;
  step_ = SessionStep::AwaitMessage;
  if (!formats_.ServerPixelFormat().trueColour || wantEightBit_) SetEightBitFormat();
  if (!Report([&] { handler_.SessionHostName(desktopName_); }) || !Running()) return false;
  if (!Report([&] { handler_.SessionConnected(); }) || !Running()) return false;
  if (startPauseMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(startPauseMs_));
  AnnounceEncodings();
  handler_.SessionRunning();
  return true;
}

// ---- Server messages ----

bool RfbSession::StepMessage() {
  if (colourEntriesToSkip_ > 0) return StepColourMap();
  std::uint8_t type;
  if (!receive_.PeekByte(type)) return false;
  switch (type) {
    case rfb::kFramebufferUpdate: {
      std::uint8_t head[4];
      if (!receive_.PeekBytes(head, sizeof head)) return false;
      UpdateBegins();
      receive_.Discard(sizeof head);
      rectsInUpdate_ = ReadU16BE(head + 2);
      rectsBegun_ = 0;
      // An update of no rectangles is over at once.
      if (rectsInUpdate_ == 0) {
        step_ = SessionStep::AwaitMessage;
        UpdateEnds();
        return Report([&] { handler_.SessionUpdateComplete(); }) && Running();
      }
      step_ = SessionStep::AwaitRectHeader;
      return true;
    }
    case rfb::kSetColourMapEntries: {
      std::uint8_t head[6];
      if (!receive_.TakeBytes(head, sizeof head)) return false;
      // No colour map is kept (a colour-mapped server is asked for true
      // colour); the entries are skipped by their count so the stream stays
      // in step.
      colourEntriesToSkip_ = ReadU16BE(head + 4);
      return true;
    }
    case rfb::kBell:
      receive_.TakeBytes(&type, 1);
      handler_.SessionBell();
      // A bell ends nothing: what follows it is handled in the same pass.
      return true;
    case rfb::kServerCutText: return StepServerCutText();
    default:
      // An unknown message cannot be framed: drop everything buffered.
      receive_.Clear();
      return false;
  }
}

bool RfbSession::StepColourMap() {
  // Six bytes per entry, taken as they arrive.
  const std::uint64_t bytes = std::uint64_t(colourEntriesToSkip_) * 6;
  const std::uint64_t whole = std::min<std::uint64_t>(bytes, receive_.Unread()) / 6 * 6;
  if (whole == 0) return false;
  receive_.Discard(static_cast<std::size_t>(whole));
  colourEntriesToSkip_ -= static_cast<std::uint32_t>(whole / 6);
  return true;
}

bool RfbSession::StepServerCutText() {
  std::uint8_t head[8];
  if (!receive_.PeekBytes(head, sizeof head)) return false;
  const std::uint64_t length = ReadU32BE(head + 4);
  // 64-bit arithmetic: a length near 2^32 cannot wrap the test.
  if (!receive_.CanHold(length + 8)) {
    Fail("Receive Buffer Overflow!");
    return false;
  }
  if (receive_.Unread() < length + 8) return false;
  receive_.TakeBytes(head, sizeof head);
  std::string text(static_cast<std::size_t>(length), '\0');
  receive_.TakeBytes(text.data(), text.size());
  text.resize(std::strlen(text.c_str()));  // up to the first NUL
  handler_.SessionCutText(text);
  return true;
}

bool RfbSession::StepRectHeader() {
  std::uint8_t head[RectangleHeader::kWireSize];
  if (!receive_.TakeBytes(head, sizeof head)) return false;
  rect_ = RectangleHeader::FromWire(head);
  decoder_.BeginRectangle(rect_);
  ++rectsBegun_;
  step_ = SessionStep::RectBody;
  return true;
}

bool RfbSession::StepRectBody() {
  if (!frame_) return false;
  for (;;) {
    const std::uint32_t rowsBefore = decoder_.RawRowsDone();
    const DecodeResult result = decoder_.DecodeStep(receive_, *frame_, formats_.Converter());
    // A Raw rectangle reaches the window band by band, each band as soon as
    // it is drawn: a large one shows its progress (a full screen of Raw takes
    // seconds on a slow link), and the band is copied while still in cache.
    const std::uint32_t rowsDrawn = decoder_.RawRowsDone() - rowsBefore;
    if (rect_.encoding == rfb::kEncodingRaw && rowsDrawn > 0) {
      if (!Report([&] {
            handler_.SessionRectangle(rect_.x, rect_.y + static_cast<int>(rowsBefore), rect_.width,
                                      static_cast<int>(rowsDrawn));
          }) ||
          !Running())
        return false;
    }
    switch (result) {
      case DecodeResult::PieceDone: continue;
      case DecodeResult::NeedMore: return false;
      case DecodeResult::Failed: Fail(decoder_.FailureText()); return false;
      case DecodeResult::Finished: return FinishRect();
    }
  }
}

bool RfbSession::FinishRect() {
  // Raw rectangles with pixels were copied band by band as they were drawn.
  const bool copiedAlready = rect_.encoding == rfb::kEncodingRaw && rect_.width != 0 && rect_.height != 0;
  if (!copiedAlready) {
    if (!Report([&] { handler_.SessionRectangle(rect_.x, rect_.y, rect_.width, rect_.height); }) || !Running())
      return false;
  }
  if (rectsBegun_ < rectsInUpdate_) {
    step_ = SessionStep::AwaitRectHeader;
    return true;
  }
  step_ = SessionStep::AwaitMessage;
  UpdateEnds();
  return Report([&] { handler_.SessionUpdateComplete(); }) && Running();
}

// ---- Outgoing messages ----

// The protocol allows SetEncodings, SetPixelFormat and update requests only
// once the handshake is over; before that the choices are only stored, and
// the session start announces them.
void RfbSession::AnnounceEncodings() {
  if (CanSend()) writer_.SetEncodings(encodings_);
}

void RfbSession::UpdateRequest(bool whole) {
  if (!CanSend()) return;
  const bool incremental = updateRequestCount_ != 0 && !whole;
  ++updateRequestCount_;
  writer_.FramebufferUpdateRequest(incremental, 0, 0, static_cast<std::uint16_t>(frameWidth_),
                                   static_cast<std::uint16_t>(frameHeight_));
}

void RfbSession::KeyEvent(bool down, std::uint32_t keysym) {
  if (CanSend()) writer_.KeyEvent(down, keysym);
}

void RfbSession::PointerEvent(std::uint8_t mask, std::uint16_t x, std::uint16_t y) {
  if (CanSend()) writer_.PointerEvent(mask, x, y);
}

void RfbSession::ClientCutText(const std::string& text) {
  if (writer_.Open()) writer_.ClientCutText(text);
}

void RfbSession::SetEightBitFormat() {
  const PixelFormats::Message message = formats_.SetEightBitFormat();
  if (CanSend()) writer_.SetPixelFormat(message);
}

void RfbSession::RestoreServerFormat() {
  if (!Running()) return;
  PixelFormats::Message message;
  const std::string refused = formats_.RestoreServerFormat(message);
  if (!refused.empty()) {
    // A colour-mapped server cannot be shown in its own format: 8 bits stay.
    handler_.SessionStatus(refused);
    return;
  }
  writer_.SetPixelFormat(message);
}

}  // namespace telorus::viewer
