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
#include "viewer/vncdes.h"

namespace telorus::viewer {

RfbSession::RfbSession(RfbSessionHandler& handler, Transport& transport) : handler_(handler), transport_(transport) {
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
}

void RfbSession::Fail(const std::string& status) {
  handler_.SessionStatus(status);
  handler_.SessionClose();
  receive_.Clear();
}

// ---- Reading ----

void RfbSession::DataAvailable(std::uint16_t error) {
  std::uint8_t* space = receive_.PrepareWrite(static_cast<std::size_t>(receiveChunk_));
  if (!space) {
    Fail("Receive Buffer Overflow!");
    return;
  }
  const std::int32_t got = transport_.Receive(space, static_cast<std::size_t>(receiveChunk_));
  if (error != 0 || got <= 0) return;
  receive_.Commit(static_cast<std::size_t>(got));
  Process(got);
}

void RfbSession::Inject(const void* data, std::size_t length) {
  if (length == 0) return;
  if (!receive_.Append(data, length)) {
    Fail("Receive Buffer Overflow!");
    return;
  }
  Process(static_cast<std::int32_t>(length));
}

void RfbSession::Process(std::int32_t bytesThisEvent) {
  for (;;) {
    bool progressed = false;
    switch (state_) {
      case VNCDisConnected: return;
      case VNCVersion: progressed = StepVersion(); break;
      case VNCConnected: progressed = StepScheme(bytesThisEvent); break;
      case VNCAuthType: progressed = StepChallenge(); break;
      case VNCAuthing: progressed = StepLogonResult(); break;
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

bool RfbSession::StepVersion() {
  char version[rfb::kProtocolVersionSize];
  if (!receive_.TakeBytes(version, sizeof version)) return false;
  if (!Status("Server Support Version:" + std::string(version, sizeof version))) return false;
  // Whatever the server offers, this client speaks 3.3.
  writer_.ProtocolVersion(3);
  state_ = VNCConnected;
  return true;
}

bool RfbSession::StepScheme(std::int32_t bytesThisEvent) {
  std::uint8_t scheme[4];
  if (!receive_.TakeBytes(scheme, sizeof scheme)) return false;
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
      if (!receive_.TakeBytes(head, sizeof head)) return false;
      rectsInUpdate_ = ReadU16BE(head + 2);
      rectsBegun_ = 0;
      // An update of no rectangles is over at once.
      if (rectsInUpdate_ == 0) {
        step_ = SessionStep::AwaitMessage;
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
    case rfb::kServerCutText:
      return StepServerCutText();
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
  return Report([&] { handler_.SessionUpdateComplete(); }) && Running();
}

// ---- Outgoing messages ----

// The protocol allows SetEncodings, SetPixelFormat and update requests only
// once the handshake is over; before that the choices are only stored, and
// the session start announces them.
void RfbSession::AnnounceEncodings() {
  if (CanSend()) writer_.SetEncodings(encodings_);
}

void RfbSession::UpdateRequest() {
  if (!CanSend()) return;
  const bool incremental = updateRequestCount_ != 0;
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
