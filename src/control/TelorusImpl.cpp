#include "control/TelorusImpl.h"

#include <exception>
#include <new>

#include "control/TelorusXControl_TLB.h"

namespace telorus::control {

using viewer::TQuarneTelorus;

namespace {
VariantBool ToVariantBool(bool v) { return v ? -1 : 0; }
// Any non-zero value is true.
bool FromVariantBool(VariantBool v) { return v != 0; }
// Enumerations reach the viewer as their low 8 bits.
std::uint8_t LowByte(std::int32_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
}  // namespace

double UnixTimeToDate(std::int64_t seconds) {
  constexpr std::int64_t kSecondsPerDay = 86400;
  constexpr std::int64_t kDaysFrom1899To1970 = 25569;
  // Whole days and the seconds into the day, both rounded towards the past.
  std::int64_t days = seconds / kSecondsPerDay;
  std::int64_t rest = seconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  days += kDaysFrom1899To1970;
  const double fraction = static_cast<double>(rest) / kSecondsPerDay;
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

template <typename F>
HResult TTelorusX::Guard(F&& body) {
  HResult code = kEUnexpected;
  std::string description;
  std::uint32_t helpContext = 0;
  try {
    body();
    return kSOk;
  } catch (const EOleSysError& e) {
    if (e.ErrorCode() < 0) code = e.ErrorCode();
    description = e.Message();
    helpContext = e.HelpContext();
  } catch (const std::exception& e) {
    description = e.what();
  } catch (...) {
    description = "Unexpected failure";
  }
  try {
    FHost.SetErrorInfo(FHost.ToWide(description), helpContext);
  } catch (...) {
    // The result still tells the host the member failed.
  }
  return code;
}

TQuarneTelorus& TTelorusX::V() {
  if (!FViewer) throw EOleSysError("The control has no viewer", kEUnexpected);
  return *FViewer;
}

WideString TTelorusX::ToWideString(const std::string& text) {
  if (text.empty()) return std::nullopt;  // an empty string is returned as a null string
  return FHost.ToWide(text);
}

std::string TTelorusX::FromWideString(const WideString& text) { return text ? FHost.ToAnsi(*text) : std::string(); }

void TTelorusX::Fire(std::int32_t dispid, std::vector<EventArgument> arguments, EventInterface target) {
  try {
    FHost.FireEvent(target, dispid, arguments);
  } catch (...) {
    // Firing an event never fails towards the viewer.
  }
}

void TTelorusX::BindViewer(TQuarneTelorus& viewer) {
  FViewer = &viewer;
  auto text = [this](const std::string& s) {
    EventArgument a;
    a.kind = EventArgument::Kind::String;
    a.text = FHost.ToWide(s);
    return a;
  };
  auto number = [](std::int32_t n) {
    EventArgument a;
    a.number = n;
    return a;
  };
  viewer.OnAuthFail = [this](TObject*) { Fire(kDispOnAuthFail); };
  viewer.OnConnectError = [this, text](TObject*, const std::string& m) { Fire(kDispOnConnectError, {text(m)}); };
  viewer.OnConnectClose = [this](TObject*) { Fire(kDispOnConnectClose); };
  viewer.OnConnected = [this](TObject*) { Fire(kDispOnConnected); };
  viewer.OnFrameSize = [this, number](TObject*, std::int32_t w, std::int32_t h) {
    Fire(kDispOnFrameSize, {number(w), number(h)});
  };
  viewer.OnHostName = [this, text](TObject*, const std::string& n) { Fire(kDispOnHostName, {text(n)}); };
  viewer.OnStatus = [this, text](TObject*, const std::string& m) { Fire(kDispOnStatus, {text(m)}); };
  viewer.OnKeyPress = [this](TObject*, char& key) {
    // The key travels as a 16-bit integer by reference; the host's value
    // comes back as its low 8 bits.
    std::int16_t value = static_cast<std::uint8_t>(key);
    EventArgument a;
    a.kind = EventArgument::Kind::ShortByReference;
    a.reference = &value;
    Fire(kDispOnKeyPress, {a});
    key = static_cast<char>(value & 0xFF);
  };
  viewer.OnClick = [this](TObject*) { Fire(kDispOnClick); };
  viewer.OnCertificate = [this, text](TObject*, const viewer::CertificateInfo& c, bool& accept) {
    // Accept travels as an automation boolean by reference, false unless the
    // host's handler sets it; any non-zero value accepts.
    auto date = [](std::int64_t seconds) {
      EventArgument a;
      a.kind = EventArgument::Kind::Date;
      a.date = UnixTimeToDate(seconds);
      return a;
    };
    VariantBool value = ToVariantBool(accept);
    EventArgument answer;
    answer.kind = EventArgument::Kind::BoolByReference;
    answer.reference = &value;
    Fire(
        kDispOnCertificate,
        {text(c.subject), text(c.issuer), date(c.notBefore), date(c.notAfter), text(c.sha256), text(c.problem), answer},
        EventInterface::Events2);
    accept = FromVariantBool(value);
  };
}

// ---- ITelorusX ----

HResult TTelorusX::Connect() {
  return Guard([&] { V().Connect(); });
}
HResult TTelorusX::DisConnect() {
  return Guard([&] { V().DisConnect(); });
}
HResult TTelorusX::Start() {
  return Guard([&] { V().Start(); });
}
HResult TTelorusX::UpdateRequest() {
  return Guard([&] { V().UpdateRequest(); });
}

HResult TTelorusX::get_Status(std::int32_t* Value) {
  return Guard([&] { *Value = V().Status(); });
}
HResult TTelorusX::get_RemoteDeskWidth(std::int32_t* Value) {
  return Guard([&] { *Value = V().RemoteDeskWidth(); });
}
HResult TTelorusX::get_RemoteDeskHeight(std::int32_t* Value) {
  return Guard([&] { *Value = V().RemoteDeskHeight(); });
}
HResult TTelorusX::get_RemoteHostName(WideString* Value) {
  return Guard([&] {
    *Value = std::nullopt;  // cleared before the conversion
    *Value = ToWideString(V().RemoteHostName());
  });
}
HResult TTelorusX::get_Connected(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().IsSessionRunning()); });
}
HResult TTelorusX::get_xPosition(std::int32_t* Value) {
  return Guard([&] { *Value = V().xPosition(); });
}
HResult TTelorusX::set_xPosition(std::int32_t Value) {
  return Guard([&] { V().SetxPosition(Value); });
}
HResult TTelorusX::get_yPosition(std::int32_t* Value) {
  return Guard([&] { *Value = V().yPosition(); });
}
HResult TTelorusX::set_yPosition(std::int32_t Value) {
  return Guard([&] { V().SetyPosition(Value); });
}
HResult TTelorusX::get_Color(std::uint32_t* Value) {
  return Guard([&] { *Value = V().Color(); });
}
HResult TTelorusX::set_Color(std::uint32_t Value) {
  return Guard([&] { V().SetColor(Value); });
}
HResult TTelorusX::get_Port(std::int32_t* Value) {
  return Guard([&] { *Value = V().Port(); });
}
HResult TTelorusX::set_Port(std::int32_t Value) {
  return Guard([&] { V().SetPort(Value); });
}
HResult TTelorusX::get_Server(WideString* Value) {
  return Guard([&] {
    *Value = std::nullopt;
    *Value = ToWideString(V().Server());
  });
}
HResult TTelorusX::set_Server(const WideString& Value) {
  return Guard([&] { V().SetServer(FromWideString(Value)); });
}
HResult TTelorusX::get_Password(WideString* Value) {
  return Guard([&] {
    *Value = std::nullopt;
    *Value = ToWideString(V().Password());
  });
}
HResult TTelorusX::set_Password(const WideString& Value) {
  return Guard([&] { V().SetPassword(FromWideString(Value)); });
}
HResult TTelorusX::get_ShareDesktop(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().ShareDesktop()); });
}
HResult TTelorusX::set_ShareDesktop(VariantBool Value) {
  return Guard([&] { V().SetShareDesktop(FromVariantBool(Value)); });
}
HResult TTelorusX::get_PixelFormat(std::int32_t* Value) {
  return Guard([&] { *Value = V().PixelFormat(); });
}
HResult TTelorusX::set_PixelFormat(std::int32_t Value) {
  return Guard([&] { V().SetPixelFormat(static_cast<viewer::TemuPixelFmt>(LowByte(Value))); });
}
HResult TTelorusX::get_FrameUpdateDelay(std::uint16_t* Value) {
  return Guard([&] { *Value = V().FrameUpdateDelay(); });
}
HResult TTelorusX::set_FrameUpdateDelay(std::uint16_t Value) {
  return Guard([&] { V().SetFrameUpdateDelay(Value); });
}
HResult TTelorusX::get_EnableBell(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().EnableBell()); });
}
HResult TTelorusX::set_EnableBell(VariantBool Value) {
  return Guard([&] { V().SetEnableBell(FromVariantBool(Value)); });
}
HResult TTelorusX::get_Display(std::int32_t* Value) {
  return Guard([&] { *Value = V().Display(); });
}
HResult TTelorusX::set_Display(std::int32_t Value) {
  return Guard([&] { V().SetDisplay(Value); });
}
HResult TTelorusX::get_AutoScroll(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().AutoScroll()); });
}
HResult TTelorusX::set_AutoScroll(VariantBool Value) {
  return Guard([&] { V().SetAutoScroll(FromVariantBool(Value)); });
}
HResult TTelorusX::get_Codec(std::int32_t* Value) {
  return Guard([&] { *Value = V().Codec(); });
}
HResult TTelorusX::set_Codec(std::int32_t Value) {
  return Guard([&] { V().SetCodec(static_cast<viewer::TVNCCodec>(LowByte(Value))); });
}
HResult TTelorusX::get_TransferKeys(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().TransferKeys()); });
}
HResult TTelorusX::set_TransferKeys(VariantBool Value) {
  return Guard([&] { V().SetTransferKeys(FromVariantBool(Value)); });
}
HResult TTelorusX::get_TransferLocalClipboard(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().TransferLocalClipboard()); });
}
HResult TTelorusX::set_TransferLocalClipboard(VariantBool Value) {
  return Guard([&] { V().SetTransferLocalClipboard(FromVariantBool(Value)); });
}
HResult TTelorusX::get_TransferMouse(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().TransferMouse()); });
}
HResult TTelorusX::set_TransferMouse(VariantBool Value) {
  return Guard([&] { V().SetTransferMouse(FromVariantBool(Value)); });
}
HResult TTelorusX::get_TransferServerClipBoard(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().TransferServerClipBoard()); });
}
HResult TTelorusX::set_TransferServerClipBoard(VariantBool Value) {
  return Guard([&] { V().SetTransferServerClipBoard(FromVariantBool(Value)); });
}
HResult TTelorusX::get_RequestFreames(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().RequestFreames()); });
}
HResult TTelorusX::set_RequestFreames(VariantBool Value) {
  return Guard([&] { V().SetRequestFreames(FromVariantBool(Value)); });
}
HResult TTelorusX::get_Stretch(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().Stretch()); });
}
HResult TTelorusX::set_Stretch(VariantBool Value) {
  return Guard([&] { V().SetStretch(FromVariantBool(Value)); });
}

// ---- The members of the window-control base ----

HResult TTelorusX::DisableAutoRange() {
  return Guard([&] { V().DisableAutoRange(); });
}
HResult TTelorusX::EnableAutoRange() {
  return Guard([&] { V().EnableAutoRange(); });
}
HResult TTelorusX::get_DoubleBuffered(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().DoubleBuffered()); });
}
HResult TTelorusX::set_DoubleBuffered(VariantBool Value) {
  return Guard([&] { V().SetDoubleBuffered(FromVariantBool(Value)); });
}
HResult TTelorusX::get_AlignDisabled(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().AlignDisabled()); });
}
HResult TTelorusX::get_VisibleDockClientCount(std::int32_t* Value) {
  return Guard([&] { *Value = V().VisibleDockClientCount(); });
}
HResult TTelorusX::DrawTextBiDiModeFlagsReadingOnly(std::int32_t* Value) {
  // DT_RTLREADING when the text reads right to left.
  return Guard([&] { *Value = V().UseRightToLeftReading() ? 0x20000 : 0; });
}
HResult TTelorusX::get_Enabled(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().Enabled()); });
}
HResult TTelorusX::set_Enabled(VariantBool Value) {
  return Guard([&] { V().SetEnabled(FromVariantBool(Value)); });
}
HResult TTelorusX::InitiateAction() {
  return Guard([&] { V().InitiateAction(); });
}
HResult TTelorusX::IsRightToLeft(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().IsRightToLeft()); });
}
HResult TTelorusX::UseRightToLeftReading(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().UseRightToLeftReading()); });
}
HResult TTelorusX::UseRightToLeftScrollBar(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().UseRightToLeftScrollBar()); });
}
HResult TTelorusX::get_Visible(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().Visible()); });
}
HResult TTelorusX::set_Visible(VariantBool Value) {
  return Guard([&] { V().SetVisible(FromVariantBool(Value)); });
}
HResult TTelorusX::SetSubComponent(VariantBool IsSubComponent) {
  return Guard([&] { V().SetSubComponent(FromVariantBool(IsSubComponent)); });
}

// ---- ITelorusX2 ----

HResult TTelorusX::get_Protocol(std::int32_t* Value) {
  return Guard([&] { *Value = V().Protocol(); });
}
HResult TTelorusX::set_Protocol(std::int32_t Value) {
  return Guard([&] {
    const std::uint8_t protocol = LowByte(Value);
    // The viewer has no answer for a version it does not know.
    if (protocol > viewer::vncProtocol38)
      throw EOleSysError("Protocol " + std::to_string(Value) + " is not 0 (3.3), 1 (3.7) or 2 (3.8)", kEInvalidArg);
    V().SetProtocol(static_cast<viewer::TVNCProtocol>(protocol));
  });
}
HResult TTelorusX::get_SecurityTypes(WideString* Value) {
  return Guard([&] {
    *Value = std::nullopt;
    *Value = ToWideString(V().SecurityTypes());
  });
}
HResult TTelorusX::set_SecurityTypes(const WideString& Value) {
  // Checked by the viewer at Connect, which reports an unknown name.
  return Guard([&] { V().SetSecurityTypes(FromWideString(Value)); });
}
HResult TTelorusX::get_UserName(WideString* Value) {
  return Guard([&] {
    *Value = std::nullopt;
    *Value = ToWideString(V().UserName());
  });
}
HResult TTelorusX::set_UserName(const WideString& Value) {
  return Guard([&] { V().SetUserName(FromWideString(Value)); });
}
HResult TTelorusX::get_CaFile(WideString* Value) {
  return Guard([&] {
    *Value = std::nullopt;
    *Value = ToWideString(V().CaFile());
  });
}
HResult TTelorusX::set_CaFile(const WideString& Value) {
  return Guard([&] { V().SetCaFile(FromWideString(Value)); });
}
HResult TTelorusX::get_Encrypted(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().Encrypted()); });
}

// ---- ITelorusX3 ----

namespace {
void CheckLevel(const char* name, std::int32_t value, const char* none) {
  if (value < -1 || value > 9)
    throw EOleSysError(std::string(name) + " " + std::to_string(value) + " is not -1 (" + none + ") or 0 to 9",
                       kEInvalidArg);
}
}  // namespace

HResult TTelorusX::get_AllowOtherEncodings(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().AllowOtherEncodings()); });
}
HResult TTelorusX::set_AllowOtherEncodings(VariantBool Value) {
  return Guard([&] { V().SetAllowOtherEncodings(FromVariantBool(Value)); });
}
HResult TTelorusX::get_CompressLevel(std::int32_t* Value) {
  return Guard([&] { *Value = V().CompressLevel(); });
}
HResult TTelorusX::set_CompressLevel(std::int32_t Value) {
  return Guard([&] {
    CheckLevel("CompressLevel", Value, "the server's choice");
    V().SetCompressLevel(Value);
  });
}
HResult TTelorusX::get_JpegQuality(std::int32_t* Value) {
  return Guard([&] { *Value = V().JpegQuality(); });
}
HResult TTelorusX::set_JpegQuality(std::int32_t Value) {
  return Guard([&] {
    CheckLevel("JpegQuality", Value, "lossless");
    V().SetJpegQuality(Value);
  });
}
HResult TTelorusX::get_AutoQuality(VariantBool* Value) {
  return Guard([&] { *Value = ToVariantBool(V().AutoQuality()); });
}
HResult TTelorusX::set_AutoQuality(VariantBool Value) {
  return Guard([&] { V().SetAutoQuality(FromVariantBool(Value)); });
}

}  // namespace telorus::control
