#include "control/TelorusXControl_TLB.h"

namespace telorus::control {
namespace {

using K = MemberKind;
using T = AutoType;

constexpr Member kMembers[] = {
    {201, "Connect", K::Method, T::Long, false},
    {202, "DisConnect", K::Method, T::Long, false},
    {203, "Start", K::Method, T::Long, false},
    {204, "UpdateRequest", K::Method, T::Long, false},
    {205, "Status", K::PropertyGet, T::TxVNCConnectStatus, true},
    {206, "RemoteDeskWidth", K::PropertyGet, T::Long, true},
    {207, "RemoteDeskHeight", K::PropertyGet, T::Long, true},
    {208, "RemoteHostName", K::PropertyGet, T::Bstr, true},
    {209, "Connected", K::PropertyGet, T::Bool, true},
    {210, "xPosition", K::PropertyGet, T::Long, true},
    {210, "xPosition", K::PropertyPut, T::Long, true},
    {211, "yPosition", K::PropertyGet, T::Long, true},
    {211, "yPosition", K::PropertyPut, T::Long, true},
    {-501, "Color", K::PropertyGet, T::OleColor, false},
    {-501, "Color", K::PropertyPut, T::OleColor, false},
    {212, "Port", K::PropertyGet, T::Long, false},
    {212, "Port", K::PropertyPut, T::Long, false},
    {213, "Server", K::PropertyGet, T::Bstr, false},
    {213, "Server", K::PropertyPut, T::Bstr, false},
    {214, "Password", K::PropertyGet, T::Bstr, false},
    {214, "Password", K::PropertyPut, T::Bstr, false},
    {215, "ShareDesktop", K::PropertyGet, T::Bool, false},
    {215, "ShareDesktop", K::PropertyPut, T::Bool, false},
    {216, "PixelFormat", K::PropertyGet, T::TxemuPixelFmt, false},
    {216, "PixelFormat", K::PropertyPut, T::TxemuPixelFmt, false},
    {217, "FrameUpdateDelay", K::PropertyGet, T::UShort, false},
    {217, "FrameUpdateDelay", K::PropertyPut, T::UShort, false},
    {218, "EnableBell", K::PropertyGet, T::Bool, false},
    {218, "EnableBell", K::PropertyPut, T::Bool, false},
    {219, "Display", K::PropertyGet, T::Long, false},
    {219, "Display", K::PropertyPut, T::Long, false},
    {220, "AutoScroll", K::PropertyGet, T::Bool, false},
    {220, "AutoScroll", K::PropertyPut, T::Bool, false},
    {221, "Codec", K::PropertyGet, T::TxVNCCodec, false},
    {221, "Codec", K::PropertyPut, T::TxVNCCodec, false},
    {222, "TransferKeys", K::PropertyGet, T::Bool, false},
    {222, "TransferKeys", K::PropertyPut, T::Bool, false},
    {223, "TransferLocalClipboard", K::PropertyGet, T::Bool, false},
    {223, "TransferLocalClipboard", K::PropertyPut, T::Bool, false},
    {224, "TransferMouse", K::PropertyGet, T::Bool, false},
    {224, "TransferMouse", K::PropertyPut, T::Bool, false},
    {225, "TransferServerClipBoard", K::PropertyGet, T::Bool, false},
    {225, "TransferServerClipBoard", K::PropertyPut, T::Bool, false},
    {226, "RequestFreames", K::PropertyGet, T::Bool, false},
    {226, "RequestFreames", K::PropertyPut, T::Bool, false},
    {227, "Stretch", K::PropertyGet, T::Bool, false},
    {227, "Stretch", K::PropertyPut, T::Bool, false},
    {228, "DisableAutoRange", K::Method, T::Long, false},
    {229, "EnableAutoRange", K::Method, T::Long, false},
    {230, "DoubleBuffered", K::PropertyGet, T::Bool, true},
    {230, "DoubleBuffered", K::PropertyPut, T::Bool, true},
    {231, "AlignDisabled", K::PropertyGet, T::Bool, true},
    {232, "VisibleDockClientCount", K::PropertyGet, T::Long, true},
    {233, "DrawTextBiDiModeFlagsReadingOnly", K::MethodWithResult, T::Long, false},
    {-514, "Enabled", K::PropertyGet, T::Bool, true},
    {-514, "Enabled", K::PropertyPut, T::Bool, true},
    {234, "InitiateAction", K::Method, T::Long, false},
    {235, "IsRightToLeft", K::MethodWithResult, T::Bool, false},
    {236, "UseRightToLeftReading", K::MethodWithResult, T::Bool, false},
    {237, "UseRightToLeftScrollBar", K::MethodWithResult, T::Bool, false},
    {238, "Visible", K::PropertyGet, T::Bool, true},
    {238, "Visible", K::PropertyPut, T::Bool, true},
    {239, "SetSubComponent", K::MethodWithInput, T::Bool, false, "IsSubComponent"},
};

constexpr EventParameter kErrorMsg[] = {{"ErrorMsg", T::Bstr, false}};
constexpr EventParameter kFrameSize[] = {{"FrameWidth", T::Long, false}, {"FrameHeight", T::Long, false}};
constexpr EventParameter kHostName[] = {{"HostName", T::Bstr, false}};
constexpr EventParameter kKey[] = {{"Key", T::Short, true}};

constexpr Event kEvents[] = {
    {kDispOnAuthFail, "OnAuthFail", {}},
    {kDispOnConnectError, "OnConnectError", kErrorMsg},
    {kDispOnConnectClose, "OnConnectClose", {}},
    {kDispOnConnected, "OnConnected", {}},
    {kDispOnFrameSize, "OnFrameSize", kFrameSize},
    {kDispOnHostName, "OnHostName", kHostName},
    {kDispOnStatus, "OnStatus", kErrorMsg},
    {kDispOnKeyPress, "OnKeyPress", kKey},
    {kDispOnClick, "OnClick", {}},
};

constexpr EnumMember kStatus[] = {{"VNCDisConnected", 0}, {"VNCVersion", 1},     {"VNCConnected", 2},
                                  {"VNCAuthType", 3},     {"VNCAuthing", 4},     {"VNCServerInit", 5},
                                  {"VNCHostName", 6},     {"VNCSessionStart", 7}};
constexpr EnumMember kPixelFmt[] = {{"VNCAuto", 0}, {"VNC8Bit", 1}};
// Values from 5 on were appended in 1.2.
constexpr EnumMember kCodec[] = {{"vncRAW", 0},  {"vncCopyRect", 1}, {"vncRRE", 2},  {"vncCoRRE", 3}, {"vncHextile", 4},
                                 {"vncZlib", 5}, {"vncTight", 6},    {"vncZRLE", 7}, {"vncTRLE", 8}};
constexpr EnumMember kMouseButton[] = {{"mbLeft", 0}, {"mbRight", 1}, {"mbMiddle", 2}};

constexpr Enumeration kEnumerations[] = {
    {"TxVNCConnectStatus", kTxVNCConnectStatusGuid, kStatus},
    {"TxemuPixelFmt", kTxemuPixelFmtGuid, kPixelFmt},
    {"TxVNCCodec", kTxVNCCodecGuid, kCodec},
    {"TxMouseButton", kTxMouseButtonGuid, kMouseButton},
};

// ---- 1.1 ----

constexpr Member kMembers2[] = {
    {kDispProtocol, "Protocol", K::PropertyGet, T::TxVNCProtocol, false},
    {kDispProtocol, "Protocol", K::PropertyPut, T::TxVNCProtocol, false},
    {kDispSecurityTypes, "SecurityTypes", K::PropertyGet, T::Bstr, false},
    {kDispSecurityTypes, "SecurityTypes", K::PropertyPut, T::Bstr, false},
    {kDispUserName, "UserName", K::PropertyGet, T::Bstr, false},
    {kDispUserName, "UserName", K::PropertyPut, T::Bstr, false},
    {kDispCaFile, "CaFile", K::PropertyGet, T::Bstr, false},
    {kDispCaFile, "CaFile", K::PropertyPut, T::Bstr, false},
    // State of the running session, hidden from property browsers like Connected.
    {kDispEncrypted, "Encrypted", K::PropertyGet, T::Bool, true},
};

constexpr EventParameter kCertificate[] = {
    {"Subject", T::Bstr, false},  {"Issuer", T::Bstr, false},      {"NotBefore", T::Date, false},
    {"NotAfter", T::Date, false}, {"Fingerprint", T::Bstr, false}, {"Problem", T::Bstr, false},
    {"Accept", T::Bool, true},
};

constexpr Event kEvents2[] = {
    {kDispOnCertificate, "OnCertificate", kCertificate},
};

constexpr EnumMember kProtocol[] = {{"vncProtocol33", 0}, {"vncProtocol37", 1}, {"vncProtocol38", 2}};

constexpr Enumeration kEnumerations2[] = {
    {"TxVNCProtocol", kTxVNCProtocolGuid, kProtocol},
};

// ---- 1.2 ----

constexpr Member kMembers3[] = {
    {kDispAllowOtherEncodings, "AllowOtherEncodings", K::PropertyGet, T::Bool, false},
    {kDispAllowOtherEncodings, "AllowOtherEncodings", K::PropertyPut, T::Bool, false},
    {kDispCompressLevel, "CompressLevel", K::PropertyGet, T::Long, false},
    {kDispCompressLevel, "CompressLevel", K::PropertyPut, T::Long, false},
    {kDispJpegQuality, "JpegQuality", K::PropertyGet, T::Long, false},
    {kDispJpegQuality, "JpegQuality", K::PropertyPut, T::Long, false},
    {kDispAutoQuality, "AutoQuality", K::PropertyGet, T::Bool, false},
    {kDispAutoQuality, "AutoQuality", K::PropertyPut, T::Bool, false},
};

}  // namespace

std::span<const Member> InterfaceMembers() { return kMembers; }
std::span<const Event> Events() { return kEvents; }
std::span<const Enumeration> Enumerations() { return kEnumerations; }
std::span<const Member> Interface2Members() { return kMembers2; }
std::span<const Event> Events2() { return kEvents2; }
std::span<const Enumeration> Enumerations2() { return kEnumerations2; }
std::span<const Member> Interface3Members() { return kMembers3; }

}  // namespace telorus::control
