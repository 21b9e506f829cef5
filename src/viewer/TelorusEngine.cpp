// The RFB 3.3 session engine: received bytes are appended to the receive
// buffer and consumed by one step per engine state. A step that lacks bytes
// takes nothing and ends the pass; the next data event resumes it.
#include <chrono>
#include <cstring>
#include <thread>

#include "viewer/Telorus.h"
#include "viewer/vncdes.h"
#include "viewer/big_endian.h"

namespace telorus::viewer {

namespace {

// The server messages.
constexpr std::uint8_t kFramebufferUpdate = 0;
constexpr std::uint8_t kSetColourMapEntries = 1;
constexpr std::uint8_t kBell = 2;
constexpr std::uint8_t kServerCutText = 3;

}  // namespace

void TQuarneTelorus::HandleDataAvailable(TObject*, std::uint16_t error) {
  std::uint8_t* space = FReceive.PrepareWrite(static_cast<std::size_t>(FReceiveChunk));
  if (!space) {
    Fail("Receive Buffer Overflow!");
    return;
  }
  std::int32_t got = FSocket->Receive(space, FReceiveChunk);
  if (error != 0 || got <= 0) return;
  FReceive.Commit(static_cast<std::size_t>(got));
  ProcessBuffer(got);
}

void TQuarneTelorus::InjectReceived(const void* data, std::size_t length) {
  if (length == 0) return;
  if (!FReceive.Append(data, length)) {
    Fail("Receive Buffer Overflow!");
    return;
  }
  ProcessBuffer(static_cast<std::int32_t>(length));
}

void TQuarneTelorus::ProcessBuffer(std::int32_t bytesThisEvent) {
  for (;;) {
    bool progressed = false;
    switch (FStatus) {
      case VNCDisConnected: return;
      case VNCVersion: progressed = StepVersion(); break;
      case VNCConnected: progressed = StepScheme(bytesThisEvent); break;
      case VNCAuthType: progressed = StepChallenge(); break;
      case VNCAuthing: progressed = StepLogonResult(); break;
      case VNCServerInit: progressed = StepServerInit(); break;
      case VNCHostName: progressed = StepHostName(); break;
      case VNCSessionStart:
        switch (FSessionStep) {
          case SessionStep::AwaitMessage: progressed = StepMessage(); break;
          case SessionStep::AwaitRectHeader: progressed = StepRectHeader(); break;
          case SessionStep::RectBody: progressed = StepRectBody(); break;
        }
        break;
    }
    if (!progressed) return;
  }
}

bool TQuarneTelorus::StepVersion() {
  char version[12];
  if (!FReceive.TakeBytes(version, sizeof version)) return false;
  if (!StatusInSession("Server Support Version:" + std::string(version, sizeof version))) return false;
  // Whatever the server offers, this client speaks 3.3.
  Send("RFB 003.003\n", 12);
  FStatus = VNCConnected;
  return true;
}

bool TQuarneTelorus::StepScheme(std::int32_t bytesThisEvent) {
  std::uint8_t scheme[4];
  if (!FReceive.TakeBytes(scheme, sizeof scheme)) return false;
  switch (scheme[3]) {
    case 0:
      // The reason string that follows is not read.
      DoStatus("Connection Fail!");
      FSocket->Close();
      return false;
    case 1:
      if (!StatusInSession("no authentication is needed")) return false;
      SendClientInit();
      FStatus = VNCServerInit;
      return true;
    case 2:
      if (!StatusInSession("VNC authentication is to be used" + std::to_string(bytesThisEvent))) return false;
      FStatus = VNCAuthType;
      return true;
    default:
      DoStatus("Error Authentication Type!");
      FSocket->Close();
      return false;
  }
}

bool TQuarneTelorus::StepChallenge() {
  std::uint8_t challenge[16];
  if (!FReceive.TakeBytes(challenge, sizeof challenge)) return false;
  if (!StatusInSession("Send Password!")) return false;
  std::string response =
      EncryptChallenge(std::string_view(reinterpret_cast<const char*>(challenge), sizeof challenge), FPassword);
  Send(response.data(), response.size());
  FStatus = VNCAuthing;
  return true;
}

bool TQuarneTelorus::StepLogonResult() {
  std::uint8_t result[4];
  if (!FReceive.TakeBytes(result, sizeof result)) return false;
  std::uint32_t value = ReadU32BE(result);
  char text[32];
  std::snprintf(text, sizeof text, "Logon Result:%x", value);
  if (!StatusInSession(text)) return false;
  if (value != 0) {
    DoStatus("Logon Fail!");
    if (auto h = OnAuthFail) h(this);
    FSocket->Close();
    return false;
  }
  if (!StatusInSession("Logon Success!")) return false;
  SendClientInit();
  FStatus = VNCServerInit;
  FUpdateRequestCount = 0;
  return true;
}

bool TQuarneTelorus::StepServerInit() {
  std::uint8_t init[24];
  if (!FReceive.TakeBytes(init, sizeof init)) return false;
  FFrameWidth = ReadU16BE(init);
  FFrameHeight = ReadU16BE(init + 2);
  if (auto h = OnFrameSize) h(this, FFrameWidth, FFrameHeight);
  if (FStatus != VNCServerInit) return false;  // the handler ended the session
  // The name length is a 32-bit field: read it whole, so a long name keeps
  // the stream in step.
  FNameLength = ReadU32BE(init + 20);
  std::string problem = FFormats.ServerInit(init + 4);
  if (!problem.empty()) {
    Fail("Unsupported Pixel Format! " + problem);
    return false;
  }
  FStatus = VNCHostName;
  FFrameBitmap = FrameBitmap::Create(FFrameWidth, FFrameHeight, problem,
                                     [this](int w, int h) { return FWindow.CreateSurface(w, h); });
  if (!FFrameBitmap) {
    Fail("Framebuffer Not Created! " + problem);
    return false;
  }
  return true;
}

bool TQuarneTelorus::StepHostName() {
  if (!FReceive.CanHold(FNameLength)) {
    Fail("Receive Buffer Overflow!");
    return false;
  }
  if (FReceive.Unread() < FNameLength) return false;
  std::string name(FNameLength, '\0');
  FReceive.TakeBytes(name.data(), FNameLength);
  FDesktopName = name;
  if (!StatusInSession("HostName: " + name)) return false;
  // The session starts here; the messages it sends are allowed from now on.
  FStatus = VNCSessionStart;
  FSessionStep = SessionStep::AwaitMessage;
  if (!ServerPixelFormat().trueColour || FPixelFormat == VNC8Bit) SetEightBitFormat();
  if (auto h = OnHostName) h(this, FDesktopName);
  if (FStatus != VNCSessionStart) return false;  // the handler disconnected
  if (auto h = OnConnected) h(this);
  if (FStatus != VNCSessionStart) return false;
  if (FSessionStartPauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(FSessionStartPauseMs));
  SendEncodings(FCodec);
  SessionStartDisplay();
  return true;
}

bool TQuarneTelorus::StepMessage() {
  if (FColourEntriesToSkip > 0) return StepColourMap();
  std::uint8_t type;
  if (!FReceive.PeekByte(type)) return false;
  switch (type) {
    case kFramebufferUpdate: {
      std::uint8_t head[4];
      if (!FReceive.TakeBytes(head, sizeof head)) return false;
      FRectsInUpdate = ReadU16BE(head + 2);
      FRectsBegun = 0;
      // An update of no rectangles is over at once.
      if (FRectsInUpdate == 0) {
        FSessionStep = SessionStep::AwaitMessage;
        if (auto h = OnUpdateComplete) h(this);
        return FStatus == VNCSessionStart;
      }
      FSessionStep = SessionStep::AwaitRectHeader;
      return true;
    }
    case kSetColourMapEntries: {
      std::uint8_t head[6];
      if (!FReceive.TakeBytes(head, sizeof head)) return false;
      // No colour map is kept (a colour-mapped server is asked for true
      // colour); the entries are skipped by their count so the stream stays
      // in step.
      FColourEntriesToSkip = ReadU16BE(head + 4);
      return true;
    }
    case kBell: {
      FReceive.TakeBytes(&type, 1);
      ServerBell();
      // A bell ends nothing: what follows it is handled in the same pass.
      return true;
    }
    case kServerCutText:
      return StepServerCutText();
    default:
      // An unknown message cannot be framed: drop everything buffered.
      FReceive.Clear();
      return false;
  }
}

bool TQuarneTelorus::StepColourMap() {
  // Six bytes per entry, taken as they arrive.
  std::uint64_t bytes = std::uint64_t(FColourEntriesToSkip) * 6;
  std::uint64_t whole = std::min<std::uint64_t>(bytes, FReceive.Unread()) / 6 * 6;
  if (whole == 0) return false;
  FReceive.Discard(static_cast<std::size_t>(whole));
  FColourEntriesToSkip -= static_cast<std::uint32_t>(whole / 6);
  return true;
}

bool TQuarneTelorus::StepServerCutText() {
  std::uint8_t head[8];
  if (!FReceive.PeekBytes(head, sizeof head)) return false;
  std::uint64_t length = ReadU32BE(head + 4);
  // 64-bit arithmetic: a length near 2^32 cannot wrap the test.
  if (!FReceive.CanHold(length + 8)) {
    Fail("Receive Buffer Overflow!");
    return false;
  }
  if (FReceive.Unread() < length + 8) return false;
  FReceive.TakeBytes(head, sizeof head);
  std::string text(static_cast<std::size_t>(length), '\0');
  FReceive.TakeBytes(text.data(), text.size());
  text.resize(std::strlen(text.c_str()));  // up to the first NUL
  ServerClipboardText(text);
  return true;
}

bool TQuarneTelorus::StepRectHeader() {
  std::uint8_t head[RectangleHeader::kWireSize];
  if (!FReceive.TakeBytes(head, sizeof head)) return false;
  FRect = RectangleHeader::FromWire(head);
  FDecoder.BeginRectangle(FRect);
  ++FRectsBegun;
  FSessionStep = SessionStep::RectBody;
  return true;
}

bool TQuarneTelorus::StepRectBody() {
  if (!FFrameBitmap) return false;
  for (;;) {
    const std::uint32_t rowsBefore = FDecoder.RawRowsDone();
    const DecodeResult result = FDecoder.DecodeStep(FReceive, *FFrameBitmap, FFormats.Converter());
    // A Raw rectangle reaches the window band by band, each band as soon as
    // it is drawn: a large one shows its progress (a full screen of Raw takes
    // seconds on a slow link), and the band is copied while still in cache.
    const std::uint32_t rowsDrawn = FDecoder.RawRowsDone() - rowsBefore;
    if (FRect.encoding == kEncodingRaw && rowsDrawn > 0) {
      PaintUpdatedRect(FRect.x, FRect.y + static_cast<int>(rowsBefore), FRect.width,
                       static_cast<int>(rowsDrawn));
      // A status handler ("Bitblt Fail!") may have ended the session.
      if (FStatus != VNCSessionStart) return false;
    }
    switch (result) {
      case DecodeResult::PieceDone: continue;
      case DecodeResult::NeedMore: return false;
      case DecodeResult::Failed: Fail(FDecoder.FailureText()); return false;
      case DecodeResult::Finished:
        FinishRect();
        return FStatus == VNCSessionStart;
    }
  }
}

void TQuarneTelorus::FinishRect() {
  // Raw rectangles with pixels were copied band by band as they were drawn.
  const bool copiedAlready = FRect.encoding == kEncodingRaw && FRect.width != 0 && FRect.height != 0;
  if (!copiedAlready) {
    PaintUpdatedRect(FRect.x, FRect.y, FRect.width, FRect.height);
    if (FStatus != VNCSessionStart) return;
  }
  if (FRectsBegun < FRectsInUpdate) {
    FSessionStep = SessionStep::AwaitRectHeader;
    return;
  }
  FSessionStep = SessionStep::AwaitMessage;
  if (auto h = OnUpdateComplete) h(this);
}

}  // namespace telorus::viewer
