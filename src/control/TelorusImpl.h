// TTelorusX, the control's facade: every member of the dual interfaces
// ITelorusX and ITelorusX2 forwarded to the viewer with the conversions
// hosts rely on (booleans as -1 and 0, enumerations by their low 8 bits,
// strings through the ANSI code page, an empty string returned as a null
// string), each run inside a guard that turns an exception into a failure
// result with error information; and the viewer's events turned into
// late-bound calls on the host's event sinks. It knows no COM: the hosting
// layer (win32/) supplies the code page, the sinks and the error
// information through ControlHost.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "socket/Component.h"
#include "viewer/Telorus.h"

namespace telorus::control {

using HResult = std::int32_t;
inline constexpr HResult kSOk = 0;
inline constexpr HResult kEUnexpected = static_cast<HResult>(0x8000FFFFu);
inline constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057u);

// An automation string: std::nullopt is a null BSTR.
using WideString = std::optional<std::u16string>;
// An automation boolean: -1 true, 0 false.
using VariantBool = std::int16_t;

// One positional argument of an event.
struct EventArgument {
  enum class Kind { Long, String, ShortByReference, Date, BoolByReference } kind = Kind::Long;
  std::int32_t number = 0;
  std::u16string text;
  double date = 0;                    // an automation DATE
  std::int16_t* reference = nullptr;  // a 16-bit integer or a VariantBool, in and out
};

// The outgoing interface an event belongs to; each has its own sink.
enum class EventInterface : std::uint8_t {
  Events,   // ITelorusXEvents
  Events2,  // ITelorusXEvents2
};

// A Unix time in seconds as an automation DATE (days since 1899-12-30
// 00:00 UTC; before that day the fraction still counts forward within the
// day, so 1899-12-29 06:00 is -1.25).
double UnixTimeToDate(std::int64_t seconds);

// The services of the hosting layer.
class ControlHost {
 public:
  virtual ~ControlHost() = default;
  // The system's default ANSI code page, both ways.
  virtual std::u16string ToWide(const std::string& text) = 0;
  virtual std::string ToAnsi(const std::u16string& text) = 0;
  // A late-bound method call on the sink of `target`, if one is connected
  // (nothing otherwise); whatever the sink returns is ignored.
  virtual void FireEvent(EventInterface target, std::int32_t dispid, std::vector<EventArgument>& arguments) = 0;
  // Leaves error information for the caller of a failing member.
  virtual void SetErrorInfo(const std::u16string& description, std::uint32_t helpContext) = 0;
};

// An exception that carries the platform error code the member returns.
class EOleSysError : public Exception {
 public:
  EOleSysError(const std::string& message, HResult code, std::uint32_t helpContext = 0)
      : Exception(message), FErrorCode(code), FHelpContext(helpContext) {}
  HResult ErrorCode() const { return FErrorCode; }
  std::uint32_t HelpContext() const { return FHelpContext; }

 private:
  HResult FErrorCode;
  std::uint32_t FHelpContext;
};

class TTelorusX {
 public:
  explicit TTelorusX(ControlHost& host) : FHost(host) {}
  TTelorusX(const TTelorusX&) = delete;
  TTelorusX& operator=(const TTelorusX&) = delete;

  // Takes the viewer and hooks its events to the sink, replacing whatever
  // handlers it had.
  void BindViewer(viewer::TQuarneTelorus& viewer);
  viewer::TQuarneTelorus* Viewer() const { return FViewer; }

  // ---- ITelorusX, in entry order ----
  HResult Connect();
  HResult DisConnect();
  HResult Start();
  HResult UpdateRequest();
  HResult get_Status(std::int32_t* Value);
  HResult get_RemoteDeskWidth(std::int32_t* Value);
  HResult get_RemoteDeskHeight(std::int32_t* Value);
  HResult get_RemoteHostName(WideString* Value);
  HResult get_Connected(VariantBool* Value);
  HResult get_xPosition(std::int32_t* Value);
  HResult set_xPosition(std::int32_t Value);
  HResult get_yPosition(std::int32_t* Value);
  HResult set_yPosition(std::int32_t Value);
  HResult get_Color(std::uint32_t* Value);
  HResult set_Color(std::uint32_t Value);
  HResult get_Port(std::int32_t* Value);
  HResult set_Port(std::int32_t Value);
  HResult get_Server(WideString* Value);
  HResult set_Server(const WideString& Value);
  HResult get_Password(WideString* Value);
  HResult set_Password(const WideString& Value);
  HResult get_ShareDesktop(VariantBool* Value);
  HResult set_ShareDesktop(VariantBool Value);
  HResult get_PixelFormat(std::int32_t* Value);
  HResult set_PixelFormat(std::int32_t Value);
  HResult get_FrameUpdateDelay(std::uint16_t* Value);
  HResult set_FrameUpdateDelay(std::uint16_t Value);
  HResult get_EnableBell(VariantBool* Value);
  HResult set_EnableBell(VariantBool Value);
  HResult get_Display(std::int32_t* Value);
  HResult set_Display(std::int32_t Value);
  HResult get_AutoScroll(VariantBool* Value);
  HResult set_AutoScroll(VariantBool Value);
  HResult get_Codec(std::int32_t* Value);
  HResult set_Codec(std::int32_t Value);
  HResult get_TransferKeys(VariantBool* Value);
  HResult set_TransferKeys(VariantBool Value);
  HResult get_TransferLocalClipboard(VariantBool* Value);
  HResult set_TransferLocalClipboard(VariantBool Value);
  HResult get_TransferMouse(VariantBool* Value);
  HResult set_TransferMouse(VariantBool Value);
  HResult get_TransferServerClipBoard(VariantBool* Value);
  HResult set_TransferServerClipBoard(VariantBool Value);
  HResult get_RequestFreames(VariantBool* Value);
  HResult set_RequestFreames(VariantBool Value);
  HResult get_Stretch(VariantBool* Value);
  HResult set_Stretch(VariantBool Value);
  HResult DisableAutoRange();
  HResult EnableAutoRange();
  HResult get_DoubleBuffered(VariantBool* Value);
  HResult set_DoubleBuffered(VariantBool Value);
  HResult get_AlignDisabled(VariantBool* Value);
  HResult get_VisibleDockClientCount(std::int32_t* Value);
  HResult DrawTextBiDiModeFlagsReadingOnly(std::int32_t* Value);
  HResult get_Enabled(VariantBool* Value);
  HResult set_Enabled(VariantBool Value);
  HResult InitiateAction();
  HResult IsRightToLeft(VariantBool* Value);
  HResult UseRightToLeftReading(VariantBool* Value);
  HResult UseRightToLeftScrollBar(VariantBool* Value);
  HResult get_Visible(VariantBool* Value);
  HResult set_Visible(VariantBool Value);
  HResult SetSubComponent(VariantBool IsSubComponent);

  // ---- ITelorusX2's own members, in entry order ----
  // Protocol is a TxVNCProtocol: its low 8 bits must be 0 (3.3), 1 (3.7) or
  // 2 (3.8); any other value is refused with E_INVALIDARG and the viewer's
  // setting stays.
  HResult get_Protocol(std::int32_t* Value);
  HResult set_Protocol(std::int32_t Value);
  HResult get_SecurityTypes(WideString* Value);
  HResult set_SecurityTypes(const WideString& Value);
  HResult get_UserName(WideString* Value);
  HResult set_UserName(const WideString& Value);
  HResult get_CaFile(WideString* Value);
  HResult set_CaFile(const WideString& Value);
  HResult get_Encrypted(VariantBool* Value);

  // ---- ITelorusX3's own members, in entry order ----
  // CompressLevel and JpegQuality take -1 (none asked for: the server's
  // choice, and lossless pictures) or 0 to 9; any other value is refused
  // with E_INVALIDARG and the viewer's setting stays.
  HResult get_AllowOtherEncodings(VariantBool* Value);
  HResult set_AllowOtherEncodings(VariantBool Value);
  HResult get_CompressLevel(std::int32_t* Value);
  HResult set_CompressLevel(std::int32_t Value);
  HResult get_JpegQuality(std::int32_t* Value);
  HResult set_JpegQuality(std::int32_t Value);
  HResult get_AutoQuality(VariantBool* Value);
  HResult set_AutoQuality(VariantBool Value);

 private:
  // Runs a member: an exception becomes its code (when it carries a
  // negative one) or E_UNEXPECTED, with its message as the description.
  template <typename F>
  HResult Guard(F&& body);
  viewer::TQuarneTelorus& V();
  WideString ToWideString(const std::string& text);
  std::string FromWideString(const WideString& text);
  void Fire(std::int32_t dispid, std::vector<EventArgument> arguments = {},
            EventInterface target = EventInterface::Events);

  ControlHost& FHost;
  viewer::TQuarneTelorus* FViewer = nullptr;
};

}  // namespace telorus::control
