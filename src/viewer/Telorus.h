// TQuarneTelorus, the viewer component: an RFB client that keeps a local
// framebuffer and shows it in a window.
//
// The viewer owns one TUSocket, an update timer and one RfbSession, and is
// driven only by the socket's events, the timer and its owner's calls, all on
// one thread. The session (rfb_session.h) walks the handshake and frames the
// server's messages and rectangles into the framebuffer; it reports to the
// viewer through its handler interface, which the viewer implements: each
// finished rectangle is copied to the window, and the reports become the
// viewer's events. Its window's messages reach it through one hook:
// painting, and the keys and mouse it forwards to the server before the
// host's own events see them. Progress and problems are reported through its
// events with fixed texts; it throws nothing of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/message_loop.h"
#include "platform/window.h"
#include "socket/Component.h"
#include "socket/USocket.h"
#include "viewer/frame_bitmap.h"
#include "viewer/link_meter.h"
#include "viewer/pixel_format.h"
#include "viewer/rfb_session.h"
#include "viewer/security_types.h"
#include "viewer/socket_transport.h"

namespace telorus::viewer {

// The codec announced first. Values after vncHextile were added later; a
// host that sets only the first five sees the same behaviour as before.
enum TVNCCodec : std::uint8_t {
  vncRAW,
  vncCopyRect,
  vncRRE,
  vncCoRRE,
  vncHextile,
  vncZlib,
  vncTight,
  vncZRLE,
  vncTRLE
};
enum TemuPixelFmt : std::uint8_t { VNCAuto, VNC8Bit };

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TOnVNCConnectError = std::function<void(TObject* Sender, const std::string& ErrorMsg)>;
using TFrameSizeEvent = std::function<void(TObject* Sender, std::int32_t FrameWidth, std::int32_t FrameHeight)>;
using THostNameEvent = std::function<void(TObject* Sender, const std::string& HostName)>;
// The server's certificate did not verify; Accept (false when raised) set to
// true goes on with it.
using TCertificateEvent = std::function<void(TObject* Sender, const CertificateInfo& Certificate, bool& Accept)>;

// The modifier keys and mouse buttons held during an input event (a set of
// these flags).
using TShiftState = std::uint8_t;
enum : TShiftState { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64 };
enum TMouseButton : std::uint8_t { mbLeft, mbRight, mbMiddle };

// The window's input events, as the host sees them after the input went to
// the server. Key is the virtual-key code (down and up) or the typed 8-bit
// character (press); a handler may change it, which affects only what the
// window does with the message afterwards.
using TKeyEvent = std::function<void(TObject* Sender, std::uint16_t& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TObject* Sender, char& Key)>;
using TMouseEvent =
    std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, std::int32_t X, std::int32_t Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, std::int32_t X, std::int32_t Y)>;

// The RFB encoding number announced for each codec.
std::int32_t EncodingOf(TVNCCodec codec);
// The codec of a lower-case name as tools take it on their command lines
// ("raw", "copyrect", "rre", "corre", "hextile", "zlib", "tight", "zrle",
// "trle"); false for any other name.
bool CodecFromName(std::string_view name, TVNCCodec* codec);
// Every codec's name, comma-separated, for usage texts.
const char* CodecNames();

// What SetEncodings announces: `codec` first; with `others`, every other
// encoding after it (CopyRect, then the most compact first); then the
// compression level (0..9, or -1 for none) and the JPEG quality (0..9, or
// -1 for lossless), which matter to Tight, ZRLE and Zlib servers.
std::vector<std::int32_t> EncodingList(TVNCCodec codec, bool others, int compressLevel, int jpegQuality);

// A timer component: an interval in milliseconds, an enabled flag and a
// handler called on the owning thread after each interval while enabled.
class TTimer {
 public:
  TTimer();
  void SetInterval(unsigned ms);
  unsigned Interval() const { return FInterval; }
  void SetEnabled(bool enabled);
  bool Enabled() const { return FEnabled; }
  TNotifyEvent OnTimer;
  TObject* Sender = nullptr;

 private:
  void Apply();
  platform::Notifier FNotifier;
  unsigned FInterval = 1000;
  bool FEnabled = false;
};

class TQuarneTelorus : public TComponent, private RfbSessionHandler {
 public:
  // The window, clipboard and bell are the platform's; they outlive the viewer.
  TQuarneTelorus(platform::Window& window, platform::Clipboard& clipboard, platform::Bell& bell,
                 TComponent* owner = nullptr);
  ~TQuarneTelorus() override;

  // ---- Published properties ----
  std::int32_t Port() const { return FPort; }
  void SetPort(std::int32_t v) { FPort = v; }
  const std::string& Server() const { return FServer; }
  void SetServer(const std::string& v) { FServer = v; }
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& v) {
    FPassword = v;
    FSession->SetPassword(v);
  }
  bool ShareDesktop() const { return FShareDesktop; }
  void SetShareDesktop(bool v) {
    FShareDesktop = v;
    FSession->SetShared(v);
  }
  TemuPixelFmt PixelFormat() const { return FPixelFormat; }
  void SetPixelFormat(TemuPixelFmt v);
  std::uint16_t FrameUpdateDelay() const { return FFrameUpdateDelay; }
  void SetFrameUpdateDelay(std::uint16_t v);
  bool EnableBell() const { return FEnableBell; }
  void SetEnableBell(bool v) { FEnableBell = v; }
  std::int32_t Display() const { return FDisplay; }
  void SetDisplay(std::int32_t v) { FDisplay = v; }
  bool AutoScroll() const { return FAutoScroll; }
  void SetAutoScroll(bool v);
  TVNCCodec Codec() const { return FCodec; }
  void SetCodec(TVNCCodec v);
  bool TransferKeys() const { return FTransferKeys; }
  void SetTransferKeys(bool v) { FTransferKeys = v; }
  bool TransferLocalClipboard() const { return FTransferLocalClipboard; }
  void SetTransferLocalClipboard(bool v) { FTransferLocalClipboard = v; }
  bool TransferMouse() const { return FTransferMouse; }
  void SetTransferMouse(bool v) { FTransferMouse = v; }
  bool TransferServerClipBoard() const { return FTransferServerClipBoard; }
  void SetTransferServerClipBoard(bool v) { FTransferServerClipBoard = v; }
  bool RequestFreames() const { return FRequestFreames; }
  void SetRequestFreames(bool v);
  bool Stretch() const { return FStretch; }
  void SetStretch(bool v);
  // The window's background, shown where there is no picture.
  platform::TColor Color() const { return FColor; }
  void SetColor(platform::TColor v);
  // Wheel steps go to the server as presses and releases of buttons 4 and 5
  // (6 and 7 for a horizontal wheel). Off by default.
  bool TransferWheel() const { return FTransferWheel; }
  void SetTransferWheel(bool v) { FTransferWheel = v; }
  // The highest protocol version answered: 3.3 by default, where the server
  // chooses the security type; from 3.7 the viewer chooses it from
  // SecurityTypes. Takes effect at the next connection.
  TVNCProtocol Protocol() const { return FProtocol; }
  void SetProtocol(TVNCProtocol v) { FProtocol = v; }
  // The accepted security types, preferred first (security_types.h names
  // them); read at Connect, which refuses a list with an unknown name.
  const std::string& SecurityTypes() const { return FSecurityTypes; }
  void SetSecurityTypes(const std::string& v) { FSecurityTypes = v; }
  // The user name of Plain authentication (with Password).
  const std::string& UserName() const { return FUserName; }
  void SetUserName(const std::string& v) { FUserName = v; }
  // A PEM file of the CAs that X509 certificates must chain to; empty for
  // the system's trust store.
  const std::string& CaFile() const { return FCaFile; }
  void SetCaFile(const std::string& v) { FCaFile = v; }
  // Whether the running session is encrypted.
  bool Encrypted() const { return FSession->Encrypted(); }
  // Whether the encodings other than Codec are announced after it (off by
  // default: only Codec is announced).
  bool AllowOtherEncodings() const { return FAllowOtherEncodings; }
  void SetAllowOtherEncodings(bool v);
  // The compression level asked of the server, 0 (fastest) to 9 (smallest);
  // -1 (the default) asks for none and leaves it to the server.
  std::int32_t CompressLevel() const { return FCompressLevel; }
  void SetCompressLevel(std::int32_t v);
  // The JPEG quality Tight servers may use, 0 to 9; -1 (the default) for
  // lossless pictures only. Never asked for where the build has no JPEG.
  std::int32_t JpegQuality() const { return FJpegQuality; }
  void SetJpegQuality(std::int32_t v);
  // Chooses the JPEG quality from the measured throughput of the link:
  // lossless on a fast link, lower qualities as it gets slower; a picture
  // shown in JPEG that then stands still for a second is asked for again,
  // whole and lossless. Overrides JpegQuality while on. Off by default.
  bool AutoQuality() const { return FAutoQuality; }
  void SetAutoQuality(bool v);
  // With RequestFreames: a request only when the last one is answered, and
  // the next one as soon as it is, instead of one at every tick. The update
  // rate then follows the link, and the server never queues updates the
  // link cannot carry (which would show the picture seconds late). Off by
  // default.
  bool PacedRequests() const { return FPacedRequests; }
  void SetPacedRequests(bool v) {
    FPacedRequests = v;
    FRequestOutstanding = false;
  }
  // The quality in force: JpegQuality, or what AutoQuality chose.
  std::int32_t QualityInUse() const;

  // ---- Events ----
  TNotifyEvent OnAuthFail;
  TOnVNCConnectError OnConnectError;
  TNotifyEvent OnConnectClose;
  TNotifyEvent OnConnected;
  TFrameSizeEvent OnFrameSize;
  THostNameEvent OnHostName;
  TOnVNCConnectError OnStatus;
  // An X509 certificate that did not verify (unknown issuer, wrong name,
  // expired): the connection goes on only if a handler accepts it.
  TCertificateEvent OnCertificate;
  // Not one of the published events: raised when a whole FramebufferUpdate
  // has been decoded and shown, for tools that wait for complete frames.
  TNotifyEvent OnUpdateComplete;
  // The window's input events.
  TKeyEvent OnKeyDown;
  TKeyPressEvent OnKeyPress;
  TKeyEvent OnKeyUp;
  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMousemove;
  TMouseEvent OnMouseUp;
  TNotifyEvent OnClick;

  // ---- Operations ----
  void Connect();
  void DisConnect();
  void Start() {}
  void UpdateRequest();
  platform::Window& Canvas() { return FWindow; }

  // ---- Public state ----
  TxVNCConnectStatus Status() const { return FSession->State(); }
  bool IsSessionRunning() const { return FSession->Running(); }
  std::int32_t RemoteDeskWidth() const { return FSession->FrameWidth(); }
  std::int32_t RemoteDeskHeight() const { return FSession->FrameHeight(); }
  const std::string& RemoteHostName() const { return FSession->DesktopName(); }
  std::int32_t xPosition() const { return FxPosition; }
  std::int32_t yPosition() const { return FyPosition; }
  void SetxPosition(std::int32_t value);
  void SetyPosition(std::int32_t value);
  std::int32_t UpdateRequestCount() const { return FSession->UpdateRequestCount(); }
  const viewer::PixelFormat& CurrentPixelFormat() const { return FSession->Formats().CurrentPixelFormat(); }
  const viewer::PixelFormat& ServerPixelFormat() const { return FSession->Formats().ServerPixelFormat(); }
  // The local framebuffer; null outside a session.
  const FrameBitmap* Framebuffer() const { return FSession->Frame(); }
  // Bytes received on the current connection.
  std::uint64_t BytesReceived() const { return FSession->BytesReceived(); }
  socket::TUSocket& Socket() { return *FSocket; }

  // Bytes asked of the socket per data event. The protocol engine is
  // correct for any size; larger reads cost far fewer system calls. The
  // default, 512 KiB, was the fastest in the benchmark: larger reads no
  // longer fit the processor cache together with the pixels they become.
  std::int32_t ReceiveChunk() const { return FSession->ReceiveChunk(); }
  void SetReceiveChunk(std::int32_t bytes) { FSession->SetReceiveChunk(bytes); }

  // Hands bytes to the engine as if the socket had just delivered them, with
  // the engine in `state` (for fuzzing and replay tools; a host never calls
  // this). Messages the engine sends meanwhile go nowhere unless the socket
  // is connected.
  void InjectReceived(const void* data, std::size_t length);
  void SetStatusForTesting(TxVNCConnectStatus state) { FSession->SetStateForTesting(state); }
  // The pause between OnConnected and SetEncodings at session start (10 ms);
  // the fuzz target sets 0 so that a run does not spend its time asleep.
  void SetSessionStartPauseForTesting(int milliseconds) { FSession->SetStartPause(milliseconds); }

  // Paints the whole picture (the window's paint message).
  void Paint();
  // Copies one finished rectangle to the window.
  void PaintUpdatedRect(int x, int y, int width, int height);

  // ---- What the window-control base offers a host ----
  bool Enabled() const { return FWindow.Enabled(); }
  void SetEnabled(bool v) { FWindow.SetEnabled(v); }
  bool Visible() const { return FWindow.Visible(); }
  void SetVisible(bool v) { FWindow.SetVisible(v); }
  bool DoubleBuffered() const { return FDoubleBuffered; }
  void SetDoubleBuffered(bool v) { FDoubleBuffered = v; }
  // Suspends the scroll-range updates; the last EnableAutoRange recomputes
  // the ranges when a scroll bar is shown.
  void DisableAutoRange() { ++FAutoRangeSuspensions; }
  void EnableAutoRange();
  // The viewer aligns no children and docks none.
  bool AlignDisabled() const { return false; }
  std::int32_t VisibleDockClientCount() const { return 0; }
  // The viewer's text runs left to right, whatever the system supports.
  bool IsRightToLeft() const { return false; }
  bool UseRightToLeftReading() const { return false; }
  bool UseRightToLeftScrollBar() const { return false; }
  void InitiateAction() {}  // no action is associated with the viewer
  bool IsSubComponent() const { return FSubComponent; }
  void SetSubComponent(bool v) { FSubComponent = v; }

  // ---- Input ----
  // The window procedure: every message of the viewer's window.
  void HandleWindowMessage(platform::WindowMessage& message);
  void SendKeyEvent(bool down, std::uint32_t key);
  void SendVirtualKey(std::uint16_t code, bool down);
  static std::uint32_t TranslateVirtualKey(std::uint16_t code);
  // flags: the mouse message's MK_* key-state flags; x, y: client position.
  void SendPointerEvent(std::uint32_t flags, std::int32_t x, std::int32_t y);

 private:
  // Socket and timer handlers.
  void HandleDataAvailable(TObject* sender, std::uint16_t error);
  void HandleSessionConnected(TObject* sender, std::uint16_t error);
  void HandleSessionClosed(TObject* sender, std::uint16_t error);
  void HandleDnsLookupDone(TObject* sender, std::uint16_t error);
  void UpdateTick(TObject* sender);

  // What the session reports (RfbSessionHandler).
  void SessionStatus(const std::string& text) override { DoStatus(text); }
  void SessionFrameSize(std::int32_t width, std::int32_t height) override;
  platform::Surface CreateFrameSurface(int width, int height) override;
  void SessionAuthFailed() override;
  void SessionHostName(const std::string& name) override;
  void SessionConnected() override;
  void SessionRunning() override { SessionStartDisplay(); }
  void SessionRectangle(int x, int y, int width, int height) override { PaintUpdatedRect(x, y, width, height); }
  void SessionUpdateComplete() override;
  void SessionBell() override { ServerBell(); }
  void SessionCutText(const std::string& text) override { ServerClipboardText(text); }
  void SessionClose() override;
  void SessionConnectError(const std::string& text) override { DoConnectError(text); }
  bool SessionCertificate(const CertificateInfo& info) override;

  // The encodings announced for a codec.
  void SendEncodings(TVNCCodec codec);
  void CheckLocalClipboard();
  void ServerBell();
  void ServerClipboardText(const std::string& text);
  void DoStatus(const std::string& text);
  void DoConnectError(const std::string& text);
  void ClearSession();
  void SessionStartDisplay();
  void SessionCloseDisplay();
  void RefreshOffsetsFromScrollBars();
  void SetOffset(platform::ScrollBarKind bar, std::int32_t value);
  // The whole framebuffer one to one at the view offsets.
  void CopyWholePicture();
  // The scaled copy of framebuffer area [left, right) x [top, bottom).
  void ScaledCopy(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom);

  // Input helpers.
  void ForwardKey(std::uint16_t code, bool down);
  void MouseButtonMessage(const platform::WindowMessage& message);
  void ForwardWheel(const platform::WindowMessage& message);
  void PointerEvent(std::uint8_t mask, std::int32_t x, std::int32_t y);
  TShiftState KeyShiftState() const;
  TShiftState MouseShiftState(std::uint32_t flags) const;

  platform::Window& FWindow;
  platform::Clipboard& FClipboard;
  platform::Bell& FBell;
  std::unique_ptr<socket::TUSocket> FSocket;
  std::unique_ptr<SocketTransport> FTransport;
  std::unique_ptr<RfbSession> FSession;
  TTimer FUpdateTimer;

  // Properties.
  std::int32_t FPort = 0;
  std::string FServer;
  std::string FPassword;
  bool FShareDesktop = false;
  TemuPixelFmt FPixelFormat = VNCAuto;
  std::uint16_t FFrameUpdateDelay = 20;
  bool FEnableBell = false;
  std::int32_t FDisplay = 0;
  bool FAutoScroll = false;
  TVNCCodec FCodec = vncHextile;
  bool FAllowOtherEncodings = false;
  std::int32_t FCompressLevel = -1;
  std::int32_t FJpegQuality = -1;
  bool FAutoQuality = false;
  LinkMeter FLinkMeter;
  bool FPacedRequests = false;
  bool FRequestOutstanding = false;
  bool FLossyShown = false;       // AutoQuality: JPEG shown since the last lossless picture
  bool FLosslessRefresh = false;  // AutoQuality: the whole screen is being fetched lossless
  std::chrono::steady_clock::time_point FLastChange{};
  std::chrono::steady_clock::time_point FRequestSent{};
  bool FTransferKeys = true;
  bool FTransferLocalClipboard = true;
  bool FTransferMouse = true;
  bool FTransferServerClipBoard = true;
  bool FRequestFreames = true;
  bool FStretch = false;
  platform::TColor FColor = platform::kClBtnFace;
  bool FTransferWheel = false;
  TVNCProtocol FProtocol = vncProtocol33;
  std::string FSecurityTypes{kDefaultSecurityTypes};
  std::string FUserName;
  std::string FCaFile;

  // Session.
  std::string FLastClipboardText;
  std::int32_t FxPosition = 0;
  std::int32_t FyPosition = 0;

  // The window-control base.
  bool FDoubleBuffered = false;
  int FAutoRangeSuspensions = 0;
  bool FSubComponent = false;

  // Input.
  bool FClickPending = false;            // the left button went down in the window
  std::int32_t FWheelRemainder[2] = {};  // vertical, horizontal: part of a notch
};

}  // namespace telorus::viewer
