// The viewer component: construction, properties, connecting, the socket and
// timer handlers, and what the session reports. The protocol itself is in
// rfb_session.cpp, the display in TelorusDisplay.cpp, and keys, mouse,
// clipboard and bell in TelorusInput.cpp.
#include "viewer/Telorus.h"

#include <algorithm>
#include <utility>

#include "socket/Resolve.h"
#include "viewer/rfb_wire.h"

namespace telorus::viewer {

using socket::TUSocket;
using socket::wsConnected;

std::int32_t EncodingOf(TVNCCodec codec) {
  switch (codec) {
    case vncRAW: return rfb::kEncodingRaw;
    case vncCopyRect: return rfb::kEncodingCopyRect;
    case vncRRE: return rfb::kEncodingRRE;
    case vncCoRRE: return rfb::kEncodingCoRRE;
    case vncHextile: return rfb::kEncodingHextile;
  }
  return rfb::kEncodingHextile;
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
  FTransport = std::make_unique<SocketTransport>(*FSocket);
  FSession = std::make_unique<RfbSession>(static_cast<RfbSessionHandler&>(*this), *FTransport);
  FSession->SetEncodings({EncodingOf(FCodec)});
  FUpdateTimer.Sender = this;
  FUpdateTimer.OnTimer = MethodEvent(this, &TQuarneTelorus::UpdateTick);
  FWindow.SetCursorShape(-3);  // cross-hair
  FWindow.SetBackground(FColor);
  FWindow.SetHook([this](platform::WindowMessage& message) { HandleWindowMessage(message); });
}

TQuarneTelorus::~TQuarneTelorus() {
  BeginDestroy();
  FWindow.SetHook(nullptr);
  FUpdateTimer.OnTimer = nullptr;
  FUpdateTimer.SetEnabled(false);
  // The socket closes an open connection without raising OnSessionClosed.
  FSocket.reset();
  FSession.reset();
  FTransport.reset();
}

// ---- Properties ----

void TQuarneTelorus::SetPixelFormat(TemuPixelFmt v) {
  FPixelFormat = v;
  FSession->SetWantEightBit(v == VNC8Bit);
  if (v == VNC8Bit)
    FSession->SetEightBitFormat();
  else
    FSession->RestoreServerFormat();
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
  std::vector<std::uint32_t> types;
  std::string problem;
  if (!ParseSecurityTypes(FSecurityTypes, types, problem)) {
    DoConnectError(problem);
    return;
  }
  FSession->SetMaxProtocol(FProtocol);
  FSession->SetSecurityTypes(std::move(types));
  FSession->SetUserName(FUserName);
  FSession->SetCaFile(FCaFile);
  FSession->SetServerName(socket::Trim(FServer));
  FSocket->DnsLookup(FServer);
}

void TQuarneTelorus::DisConnect() {
  if (!FSocket) return;
  FSession->EndTls();
  FSocket->Close();
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
  FSession->Begin();
}

void TQuarneTelorus::HandleDataAvailable(TObject*, std::uint16_t error) { FSession->DataAvailable(error); }

void TQuarneTelorus::InjectReceived(const void* data, std::size_t length) { FSession->Inject(data, length); }

void TQuarneTelorus::HandleSessionClosed(TObject*, std::uint16_t) {
  if (auto h = OnConnectClose) h(this);
  ClearSession();
}

void TQuarneTelorus::ClearSession() {
  FSession->Reset();
  SessionCloseDisplay();
}

// ---- What the session reports ----

void TQuarneTelorus::SessionFrameSize(std::int32_t width, std::int32_t height) {
  if (auto h = OnFrameSize) h(this, width, height);
}

platform::Surface TQuarneTelorus::CreateFrameSurface(int width, int height) {
  return FWindow.CreateSurface(width, height);
}

void TQuarneTelorus::SessionAuthFailed() {
  if (auto h = OnAuthFail) h(this);
}

void TQuarneTelorus::SessionHostName(const std::string& name) {
  if (auto h = OnHostName) h(this, name);
}

void TQuarneTelorus::SessionConnected() {
  if (auto h = OnConnected) h(this);
}

void TQuarneTelorus::SessionUpdateComplete() {
  if (auto h = OnUpdateComplete) h(this);
}

bool TQuarneTelorus::SessionCertificate(const CertificateInfo& info) {
  bool accept = false;
  if (auto h = OnCertificate) h(this, info, accept);
  return accept;
}

void TQuarneTelorus::SessionClose() {
  if (FSocket->State() != socket::wsClosed) FSocket->Close();
}

// ---- Events ----

void TQuarneTelorus::DoStatus(const std::string& text) {
  if (auto h = OnStatus) h(this, text);
}

void TQuarneTelorus::DoConnectError(const std::string& text) {
  if (auto h = OnConnectError) h(this, text);
}

// ---- Outgoing messages ----

void TQuarneTelorus::SendEncodings(TVNCCodec codec) {
  FSession->SetEncodings({EncodingOf(codec)});
  FSession->AnnounceEncodings();
}

void TQuarneTelorus::UpdateRequest() { FSession->UpdateRequest(); }

void TQuarneTelorus::UpdateTick(TObject*) {
  if (!IsSessionRunning() || !FRequestFreames) return;
  UpdateRequest();
  CheckLocalClipboard();
}

}  // namespace telorus::viewer
