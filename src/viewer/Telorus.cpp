// The viewer component: construction, properties, connecting, the socket and
// timer handlers, and what the session reports. The protocol itself is in
// rfb_session.cpp, the display in TelorusDisplay.cpp, and keys, mouse,
// clipboard and bell in TelorusInput.cpp.
#include "viewer/Telorus.h"

#include <algorithm>
#include <utility>

#include "socket/Resolve.h"
#include "viewer/compressed_decoders.h"
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
    case vncZlib: return rfb::kEncodingZlib;
    case vncTight: return rfb::kEncodingTight;
    case vncZRLE: return rfb::kEncodingZRLE;
    case vncTRLE: return rfb::kEncodingTRLE;
  }
  return rfb::kEncodingHextile;
}

namespace {

constexpr std::pair<std::string_view, TVNCCodec> kCodecs[] = {
    {"raw", vncRAW},   {"copyrect", vncCopyRect}, {"rre", vncRRE},   {"corre", vncCoRRE}, {"hextile", vncHextile},
    {"zlib", vncZlib}, {"tight", vncTight},       {"zrle", vncZRLE}, {"trle", vncTRLE}};

// The order of the others after the chosen codec: CopyRect (a moved window
// costs 16 bytes), then the most compact encodings first.
constexpr TVNCCodec kPreference[] = {vncCopyRect, vncTight, vncZRLE, vncTRLE, vncHextile,
                                     vncZlib,     vncCoRRE, vncRRE,  vncRAW};

}  // namespace

bool CodecFromName(std::string_view name, TVNCCodec* codec) {
  for (const auto& [n, c] : kCodecs)
    if (name == n) {
      *codec = c;
      return true;
    }
  return false;
}

const char* CodecNames() { return "raw, copyrect, rre, corre, hextile, zlib, tight, zrle, trle"; }

std::vector<std::int32_t> EncodingList(TVNCCodec codec, bool others, int compressLevel, int jpegQuality) {
  std::vector<std::int32_t> list{EncodingOf(codec)};
  if (others) {
    for (const TVNCCodec c : kPreference)
      if (c != codec) list.push_back(EncodingOf(c));
  }
  if (compressLevel >= 0 && compressLevel <= 9) list.push_back(rfb::kPseudoCompressLevel0 + compressLevel);
  if (jpegQuality >= 0 && jpegQuality <= 9 && TightDecoder::JpegAvailable())
    list.push_back(rfb::kPseudoJpegQuality0 + jpegQuality);
  return list;
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
  FSession->SetEncodings(EncodingList(FCodec, false, -1, -1));
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

void TQuarneTelorus::SetAllowOtherEncodings(bool v) {
  FAllowOtherEncodings = v;
  SendEncodings(FCodec);
}

void TQuarneTelorus::SetCompressLevel(std::int32_t v) {
  FCompressLevel = v >= 0 && v <= 9 ? v : -1;
  SendEncodings(FCodec);
}

void TQuarneTelorus::SetJpegQuality(std::int32_t v) {
  FJpegQuality = v >= 0 && v <= 9 ? v : -1;
  SendEncodings(FCodec);
}

void TQuarneTelorus::SetAutoQuality(bool v) {
  FAutoQuality = v;
  FLinkMeter.Reset();
  SendEncodings(FCodec);
}

std::int32_t TQuarneTelorus::QualityInUse() const { return FAutoQuality ? FLinkMeter.Quality() : FJpegQuality; }

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
  // A new connection is a new link: its quality is measured afresh.
  FLinkMeter.Reset();
  FRequestOutstanding = false;
  FLossyShown = false;
  FLosslessRefresh = false;
  FSession->SetEncodings(EncodingList(FCodec, FAllowOtherEncodings, FCompressLevel, QualityInUse()));
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
  if (FAutoQuality) {
    const int before = FLinkMeter.Quality();
    FLinkMeter.Sample(FSession->LastUpdateBytes(), FSession->LastUpdateSeconds());
    const bool changed = FSession->LastUpdateBytes() > 4;  // more than an empty update
    if (FLosslessRefresh) {
      FLosslessRefresh = false;
      FLossyShown = false;
      SendEncodings(FCodec);
    } else if (FLinkMeter.Quality() != before) {
      SendEncodings(FCodec);
    }
    if (changed) {
      FLastChange = std::chrono::steady_clock::now();
      if (QualityInUse() >= 0 && !FLosslessRefresh) FLossyShown = true;
    }
  }
  if (FPacedRequests) {
    FRequestOutstanding = false;
    if (FRequestFreames && IsSessionRunning()) UpdateTick(this);
  }
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
  FSession->SetEncodings(EncodingList(codec, FAllowOtherEncodings, FCompressLevel, QualityInUse()));
  FSession->AnnounceEncodings();
}

void TQuarneTelorus::UpdateRequest() { FSession->UpdateRequest(); }

void TQuarneTelorus::UpdateTick(TObject*) {
  if (!IsSessionRunning() || !FRequestFreames) return;
  const auto now = std::chrono::steady_clock::now();
  // A picture shown in JPEG that has stood still for a second is asked for
  // again, whole and lossless; JPEG comes back once it has arrived.
  if (FAutoQuality && FLossyShown && !FLosslessRefresh && QualityInUse() >= 0 &&
      now - FLastChange > std::chrono::seconds(1)) {
    FLosslessRefresh = true;
    FSession->SetEncodings(EncodingList(FCodec, FAllowOtherEncodings, FCompressLevel, -1));
    FSession->AnnounceEncodings();
    FSession->UpdateRequest(true);
    FRequestOutstanding = true;
    FRequestSent = now;
  }
  // Paced: a request goes out only when the last one has been answered (or
  // has waited a second, in case an answer never came).
  if (!FPacedRequests || !FRequestOutstanding || now - FRequestSent > std::chrono::seconds(1)) {
    UpdateRequest();
    FRequestOutstanding = true;
    FRequestSent = now;
  }
  CheckLocalClipboard();
}

}  // namespace telorus::viewer
