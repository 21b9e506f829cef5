// The control's boundary as data: the type library TelorusXControl with its
// dual interface ITelorusX, the event interface ITelorusXEvents, the class
// TelorusX and four enumerations, their identifiers, DISPIDs, entry order,
// types, flags and help strings. The type-library generator writes the
// compiled library from this description; the control's dispatch
// implementation then answers from that library. Hosts bind to every value
// here, so none of them ever changes.
//
// Library 1.1 added members without touching those of 1.0: the dual
// interface ITelorusX2, which derives from ITelorusX and continues its
// vtable, the event interface ITelorusXEvents2 with its own connection
// point, and the enumeration TxVNCProtocol. The class keeps ITelorusX as its
// default interface and ITelorusXEvents as its default source, and lists the
// new ones after them. Later additions follow the same way: a new interface
// deriving from the last, new events on a new event interface, new values
// at the end of an enumeration.
//
// Library 1.2 added ITelorusX3, deriving from ITelorusX2, with the encoding
// settings, and four values at the end of TxVNCCodec.
#pragma once

#include <cstdint>
#include <span>

namespace telorus::control {

struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};

inline constexpr Guid kLibraryGuid = {0x59B0147D, 0xFF5C, 0x4A5C, {0x9C, 0x18, 0x93, 0x84, 0x8C, 0xD3, 0x40, 0x39}};
inline constexpr Guid kITelorusXGuid = {0x884AAD5F, 0x7644, 0x4065, {0xBF, 0xCD, 0x19, 0xA8, 0x3E, 0xC1, 0xB4, 0xF1}};
inline constexpr Guid kITelorusXEventsGuid = {
    0xA51168AE, 0xB56F, 0x4187, {0xB9, 0xB0, 0x92, 0x4E, 0x2F, 0x18, 0x7A, 0xA3}};
inline constexpr Guid kTelorusXGuid = {0xE8FAB492, 0xD916, 0x40EA, {0xA0, 0x25, 0x41, 0x75, 0x1B, 0x74, 0x0A, 0x47}};
inline constexpr Guid kTxVNCConnectStatusGuid = {
    0x9EB6E445, 0x6ED2, 0x43D0, {0xBA, 0x32, 0x9B, 0x9B, 0x03, 0xFC, 0x61, 0x15}};
inline constexpr Guid kTxemuPixelFmtGuid = {
    0x58F3781F, 0xA600, 0x465C, {0xB2, 0x44, 0xCF, 0x1D, 0x00, 0x39, 0xAF, 0x55}};
inline constexpr Guid kTxVNCCodecGuid = {0x9561796A, 0xE93B, 0x4901, {0xB4, 0xCC, 0xD9, 0xA1, 0xBF, 0xC9, 0x2A, 0xBE}};
inline constexpr Guid kTxMouseButtonGuid = {
    0xCE3B9F35, 0x17EA, 0x4385, {0xBF, 0x49, 0xD5, 0xFA, 0x52, 0x3B, 0x19, 0xF2}};
// Added in 1.1.
inline constexpr Guid kITelorusX2Guid = {0xA65A7FE2, 0x1339, 0x4556, {0xAA, 0x1B, 0x31, 0x5A, 0x0C, 0xA5, 0xAA, 0x2A}};
inline constexpr Guid kITelorusXEvents2Guid = {
    0xBEBB7E40, 0x3BD2, 0x4B9B, {0x8C, 0xF7, 0x09, 0xA5, 0xF1, 0x71, 0xA0, 0x72}};
inline constexpr Guid kTxVNCProtocolGuid = {
    0x2101CC73, 0x3AD7, 0x445F, {0x85, 0x2E, 0x3D, 0xDA, 0xCC, 0x67, 0x10, 0x38}};
// Added in 1.2.
inline constexpr Guid kITelorusX3Guid = {0x1A5AFEE7, 0x5075, 0x4120, {0xB1, 0x94, 0xC3, 0xA1, 0x69, 0x5F, 0x75, 0x57}};

inline constexpr const char* kLibraryName = "TelorusXControl";
inline constexpr const char* kLibraryHelp = "TelorusXControl Library";
inline constexpr const char* kInterfaceName = "ITelorusX";
inline constexpr const char* kInterfaceHelp = "Dispatch interface for TelorusX Control";
inline constexpr const char* kEventsName = "ITelorusXEvents";
inline constexpr const char* kEventsHelp = "Events interface for TelorusX Control";
inline constexpr const char* kClassName = "TelorusX";
inline constexpr const char* kClassHelp = "TelorusX Control";
inline constexpr const char* kInterface2Name = "ITelorusX2";
inline constexpr const char* kInterface2Help = "Dispatch interface for TelorusX Control: protocol and security";
inline constexpr const char* kEvents2Name = "ITelorusXEvents2";
inline constexpr const char* kEvents2Help = "Events interface for TelorusX Control: the certificate question";
inline constexpr const char* kInterface3Name = "ITelorusX3";
inline constexpr const char* kInterface3Help = "Dispatch interface for TelorusX Control: encodings";
// The library's version, which registration writes too. The class and the
// types added in 1.2 carry it; the types of 1.0 keep kFirstVersionMinor and
// those of 1.1 kSecondVersionMinor.
inline constexpr std::uint16_t kVersionMajor = 1;
inline constexpr std::uint16_t kVersionMinor = 2;
inline constexpr std::uint16_t kFirstVersionMinor = 0;
inline constexpr std::uint16_t kSecondVersionMinor = 1;

// The automation types of the members and their parameters.
enum class AutoType : std::uint8_t {
  Long,
  Bstr,
  Bool,  // VARIANT_BOOL
  UShort,
  OleColor,
  Short,
  TxVNCConnectStatus,
  TxemuPixelFmt,
  TxVNCCodec,
  TxVNCProtocol,
  Date,  // DATE: days since 1899-12-30 as a double
};

enum class MemberKind : std::uint8_t {
  Method,            // no parameters
  MethodWithResult,  // one out-parameter "Value", the return value
  MethodWithInput,   // one in-parameter, named by `parameter`
  PropertyGet,       // one out-parameter "Value", the return value
  PropertyPut,       // one unnamed in-parameter
};

// One entry of ITelorusX or ITelorusX2, in vtable order.
struct Member {
  std::int32_t dispid;
  const char* name;
  MemberKind kind;
  AutoType type;  // of the value or parameter (unused for Method)
  bool hidden;
  const char* parameter = nullptr;  // MethodWithInput
};

struct EventParameter {
  const char* name;
  AutoType type;
  bool byReference;  // in and out, through a pointer
};

// One method of an event interface, in DISPID order.
struct Event {
  std::int32_t dispid;
  const char* name;
  std::span<const EventParameter> parameters;
};

struct EnumMember {
  const char* name;
  std::int32_t value;
};

struct Enumeration {
  const char* name;
  Guid guid;
  std::span<const EnumMember> members;  // each member's help string is its name
};

std::span<const Member> InterfaceMembers();
std::span<const Event> Events();
// In library order: TxVNCConnectStatus, TxemuPixelFmt, TxVNCCodec, TxMouseButton.
std::span<const Enumeration> Enumerations();

// What 1.1 added: ITelorusX2's own entries (after ITelorusX's in the
// vtable), ITelorusXEvents2's events, and TxVNCProtocol. In the library they
// follow all the types of 1.0, in the order ITelorusX2, ITelorusXEvents2,
// TxVNCProtocol.
std::span<const Member> Interface2Members();
std::span<const Event> Events2();
std::span<const Enumeration> Enumerations2();

// What 1.2 added: ITelorusX3's own entries (after ITelorusX2's in the
// vtable), after all the types of 1.1 in the library.
std::span<const Member> Interface3Members();

// The event DISPIDs.
inline constexpr std::int32_t kDispOnAuthFail = 201;
inline constexpr std::int32_t kDispOnConnectError = 202;
inline constexpr std::int32_t kDispOnConnectClose = 203;
inline constexpr std::int32_t kDispOnConnected = 204;
inline constexpr std::int32_t kDispOnFrameSize = 205;
inline constexpr std::int32_t kDispOnHostName = 206;
inline constexpr std::int32_t kDispOnStatus = 207;
inline constexpr std::int32_t kDispOnKeyPress = 208;
inline constexpr std::int32_t kDispOnClick = 209;
// ITelorusX2's own members take DISPIDs from 301, clear of ITelorusX's. The
// events of ITelorusXEvents2 start at 301 too, clear of ITelorusXEvents'
// 201-209: one sink object may serve both event interfaces and tell the
// events apart by DISPID alone.
inline constexpr std::int32_t kDispProtocol = 301;
inline constexpr std::int32_t kDispSecurityTypes = 302;
inline constexpr std::int32_t kDispUserName = 303;
inline constexpr std::int32_t kDispCaFile = 304;
inline constexpr std::int32_t kDispEncrypted = 305;
inline constexpr std::int32_t kDispOnCertificate = 301;
// ITelorusX3's own members take DISPIDs from 401.
inline constexpr std::int32_t kDispAllowOtherEncodings = 401;
inline constexpr std::int32_t kDispCompressLevel = 402;
inline constexpr std::int32_t kDispJpegQuality = 403;
inline constexpr std::int32_t kDispAutoQuality = 404;

}  // namespace telorus::control
