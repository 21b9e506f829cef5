// The viewer component: construction, properties, connecting, the socket and
// timer handlers and the outgoing session messages. The protocol steps are in
// TelorusEngine.cpp, the display in TelorusDisplay.cpp, and keys, mouse,
// clipboard and bell in TelorusInput.cpp.
#include "viewer/Telorus.h"

#include <algorithm>
#include <utility>

#include "socket/Resolve.h"
#include "viewer/big_endian.h"

namespace telorus::viewer {

using socket::TUSocket;
using socket::wsConnected;

std::int32_t EncodingOf(TVNCCodec codec) {
  switch (codec) {
    case vncRAW: return 0;
    case vncCopyRect: return 1;
    case vncRRE: return 2;
    case vncCoRRE: return 4;
    case vncHextile: return 5;
  }
  return 5;
}

bool CodecFromName(std::string_view name, TVNCCodec* codec) {
  static constexpr std::pair<std::string_view, TVNCCodec> kCodecs[] = {
      {"raw", vncRAW}, {"copyrect", vncCopyRect}, {"rre", vncRRE}, {"corre", vncCoRRE}, {"hextile", vncHextile}};
  for (const auto& [n, c] : kCodecs)
    if (name == n) {
      *codec = c;
      return true;
    }
  return false;
}

// ---- TTimer ----

TTimer::TTimer()
    : FNotifier([this](const platform::Message& m) {
        if (m.msg != platform::kTimerMessage) return;
        if (auto h = OnTimer) h(Sender);
      }) {}

void TTimer::SetInterval(unsigned ms) {
  FInterval = ms;
  Apply();
}

void TTimer::SetEnabled(bool enabled) {
  FEnabled = enabled;
  Apply();
}

void TTimer::Apply() {
  // An interval of 0 stops the timer, whatever the enabled flag says.
  if (FEnabled && FInterval > 0)
    FNotifier.SetTimer(1, FInterval);
  else
    FNotifier.KillTimer(1);
}

// ---- Construction ----

TQuarneTelorus::TQuarneTelorus(platform::Window& window, platform::Clipboard& clipboard, platform::Bell& bell,
                               TComponent* owner)
    : TComponent(owner), FWindow(window), FClipboard(clipboard), FBell(bell) {
  FSocket = std::make_unique<TUSocket>(this);
  FSocket->OnDataAvailable = MethodEvent(this, &TQuarneTelorus::HandleDataAvailable);
  FSocket->OnSessionConnected = MethodEvent(this, &TQuarneTelorus::HandleSessionConnected);
  FSocket->OnSessionClosed = MethodEvent(this, &TQuarneTelorus::HandleSessionClosed);
  FSocket->OnDnsLookupDone = MethodEvent(this, &TQuarneTelorus::HandleDnsLookupDone);
  FSocket->SendBlockSize = 0xFFFF;
  FSocket->SetLineMode(false);  // the session reads raw bytes
  FUpdateTimer.Sender = this;
  FUpdateTimer.OnTimer = MethodEvent(this, &TQuarneTelorus::UpdateTick);
  FWindow.SetCursorShape(-3);  // cross-hair
  FWindow.SetBackground(FColor);
  FWindow.SetHook([this](platform::WindowMessage& message) { HandleWindowMessage(message); });
  FDecoder.SetCopyRectNotice([this](std::uint16_t x, std::uint16_t y) {
    DoStatus("CopyRect Codec:" + std::to_string(x) + "," + std::to_string(y));
    return FStatus == VNCSessionStart;  // a status handler may have disconnected
  });
}

TQuarneTelorus::~TQuarneTelorus() {
  BeginDestroy();
  FWindow.SetHook(nullptr);
  FUpdateTimer.OnTimer = nullptr;
  FUpdateTimer.SetEnabled(false);
  // The socket closes an open connection without raising OnSessionClosed.
  FSocket.reset();
  FFrameBitmap.reset();
}

// ---- Properties ----

void TQuarneTelorus::SetPixelFormat(TemuPixelFmt v) {
  FPixelFormat = v;
  if (v == VNC8Bit)
    SetEightBitFormat();
  else
    RestoreServerFormat();
}

void TQuarneTelorus::SetFrameUpdateDelay(std::uint16_t v) {
  FFrameUpdateDelay = v;
  FUpdateTimer.SetInterval(v);
}

void TQuarneTelorus::SetCodec(TVNCCodec v) {
  FCodec = v;
  SendEncodings(v);
}

void TQuarneTelorus::SetRequestFreames(bool v) {
  FRequestFreames = v;
  FUpdateTimer.SetEnabled(v);
}

// ---- Connecting ----

void TQuarneTelorus::Connect() {
  if (socket::Trim(FServer).empty()) {
    DoConnectError("Server Address Is Not Set!");
    return;
  }
  if (FPort == 0) {
    DoConnectError("Server Port Is Not Set!");
    return;
  }
  FSocket->DnsLookup(FServer);
}

void TQuarneTelorus::DisConnect() {
  if (FSocket) FSocket->Close();
}

void TQuarneTelorus::HandleDnsLookupDone(TObject*, std::uint16_t error) {
  if (error != 0) {
    DoConnectError("Dns Lookup Error!");
    return;
  }
  FSocket->SetAddr(FSocket->DnsResult());
  FSocket->SetPort(std::to_string(FPort));
  FSocket->SetProto("tcp");
  FSocket->Connect();
}

void TQuarneTelorus::HandleSessionConnected(TObject*, std::uint16_t error) {
  if (error != 0) {
    DoConnectError("Connect Error!Error Number:" + std::to_string(error));
    return;
  }
  FStatus = VNCVersion;
}

void TQuarneTelorus::HandleSessionClosed(TObject*, std::uint16_t) {
  if (auto h = OnConnectClose) h(this);
  ClearSession();
}

void TQuarneTelorus::ClearSession() {
  FStatus = VNCVersion;
  FDesktopName.clear();
  FFrameWidth = 0;
  FFrameHeight = 0;
  FReceive.Clear();
  FColourEntriesToSkip = 0;
  SessionCloseDisplay();
  FFrameBitmap.reset();
}

void TQuarneTelorus::Fail(const std::string& status) {
  DoStatus(status);
  if (FSocket->State() != socket::wsClosed) FSocket->Close();
  FReceive.Clear();
}

// ---- Events ----

void TQuarneTelorus::DoStatus(const std::string& text) {
  if (auto h = OnStatus) h(this, text);
}

bool TQuarneTelorus::StatusInSession(const std::string& text) {
  DoStatus(text);
  return FSocket && FSocket->State() == socket::wsConnected;
}

void TQuarneTelorus::DoConnectError(const std::string& text) {
  if (auto h = OnConnectError) h(this, text);
}

// ---- Outgoing messages ----

bool TQuarneTelorus::SocketConnected() const { return FSocket && FSocket->State() == wsConnected; }

void TQuarneTelorus::Send(const void* data, std::size_t length) {
  // Client messages go out only over an open connection.
  if (SocketConnected()) FSocket->Send(data, static_cast<std::int32_t>(length));
}

void TQuarneTelorus::SendClientInit() {
  std::uint8_t shared = FShareDesktop ? 1 : 0;
  Send(&shared, 1);
}

void TQuarneTelorus::SendPixelFormat(const PixelFormats::Message& message) { Send(message.data(), message.size()); }

// The protocol allows SetEncodings, SetPixelFormat and update requests only
// once the handshake is over; before that the choices are only stored, and
// the session start announces them.
void TQuarneTelorus::SendEncodings(TVNCCodec codec) {
  if (!SocketConnected() || !IsSessionRunning()) return;
  std::uint8_t head[4] = {2, 0, 0, 1};
  std::uint8_t encoding[4];
  WriteU32BE(encoding, static_cast<std::uint32_t>(EncodingOf(codec)));
  Send(head, 4);
  Send(encoding, 4);
}

void TQuarneTelorus::SetEightBitFormat() {
  PixelFormats::Message message = FFormats.SetEightBitFormat();
  if (SocketConnected() && IsSessionRunning()) SendPixelFormat(message);
}

void TQuarneTelorus::RestoreServerFormat() {
  if (!IsSessionRunning()) return;
  PixelFormats::Message message;
  std::string refused = FFormats.RestoreServerFormat(message);
  if (!refused.empty()) {
    // A colour-mapped server cannot be shown in its own format: 8 bits stay.
    DoStatus(refused);
    return;
  }
  if (SocketConnected()) SendPixelFormat(message);
}

void TQuarneTelorus::UpdateRequest() {
  if (!SocketConnected() || !IsSessionRunning()) return;
  std::uint8_t msg[10];
  msg[0] = 3;
  msg[1] = FUpdateRequestCount == 0 ? 0 : 1;
  ++FUpdateRequestCount;
  WriteU16BE(msg + 2, 0);
  WriteU16BE(msg + 4, 0);
  WriteU16BE(msg + 6, static_cast<std::uint16_t>(FFrameWidth));
  WriteU16BE(msg + 8, static_cast<std::uint16_t>(FFrameHeight));
  Send(msg, sizeof msg);
}

void TQuarneTelorus::UpdateTick(TObject*) {
  if (!IsSessionRunning() || !FRequestFreames) return;
  UpdateRequest();
  CheckLocalClipboard();
}

}  // namespace telorus::viewer
