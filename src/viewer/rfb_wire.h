// Every number of the RFB protocol that the viewer puts on or reads off the
// wire, named once: message types in both directions, encodings and
// pseudo-encodings, security types and VeNCrypt subtypes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace telorus::viewer::rfb {

// Client to server message types.
inline constexpr std::uint8_t kSetPixelFormat = 0;
inline constexpr std::uint8_t kSetEncodings = 2;
inline constexpr std::uint8_t kFramebufferUpdateRequest = 3;
inline constexpr std::uint8_t kKeyEvent = 4;
inline constexpr std::uint8_t kPointerEvent = 5;
inline constexpr std::uint8_t kClientCutText = 6;

// Server to client message types.
inline constexpr std::uint8_t kFramebufferUpdate = 0;
inline constexpr std::uint8_t kSetColourMapEntries = 1;
inline constexpr std::uint8_t kBell = 2;
inline constexpr std::uint8_t kServerCutText = 3;

// Encodings (rectangle header, SetEncodings). Compared unsigned on receipt.
inline constexpr std::uint32_t kEncodingRaw = 0;
inline constexpr std::uint32_t kEncodingCopyRect = 1;
inline constexpr std::uint32_t kEncodingRRE = 2;
inline constexpr std::uint32_t kEncodingCoRRE = 4;
inline constexpr std::uint32_t kEncodingHextile = 5;
inline constexpr std::uint32_t kEncodingZlib = 6;
inline constexpr std::uint32_t kEncodingTight = 7;
inline constexpr std::uint32_t kEncodingTRLE = 15;
inline constexpr std::uint32_t kEncodingZRLE = 16;

// Pseudo-encodings, as the signed numbers the protocol gives them.
inline constexpr std::int32_t kPseudoJpegQuality0 = -32;  // ... -23 for quality 9
inline constexpr std::int32_t kPseudoDesktopSize = -223;
inline constexpr std::int32_t kPseudoLastRect = -224;
inline constexpr std::int32_t kPseudoCursor = -239;
inline constexpr std::int32_t kPseudoXCursor = -240;
inline constexpr std::int32_t kPseudoCompressLevel0 = -256;  // ... -247 for level 9
inline constexpr std::int32_t kPseudoQemuExtendedKeyEvent = -258;
inline constexpr std::int32_t kPseudoQemuLedState = -261;
inline constexpr std::int32_t kPseudoExtendedDesktopSize = -308;
inline constexpr std::int32_t kPseudoFence = -312;
inline constexpr std::int32_t kPseudoContinuousUpdates = -313;
inline constexpr std::int32_t kPseudoCursorWithAlpha = -314;
inline constexpr std::int32_t kPseudoExtendedClipboard = static_cast<std::int32_t>(0xC0A1E5CEu);

// Security types (the 3.3 "authentication scheme" uses 0 to 2 of them).
inline constexpr std::uint8_t kSecurityInvalid = 0;
inline constexpr std::uint8_t kSecurityNone = 1;
inline constexpr std::uint8_t kSecurityVncAuth = 2;
inline constexpr std::uint8_t kSecurityTLS = 18;  // anonymous TLS, then another security type
inline constexpr std::uint8_t kSecurityVeNCrypt = 19;

// SecurityResult values.
inline constexpr std::uint32_t kSecurityResultOk = 0;
inline constexpr std::uint32_t kSecurityResultFailed = 1;

// VeNCrypt subtypes (u32 on the wire).
inline constexpr std::uint32_t kVeNCryptPlain = 256;
inline constexpr std::uint32_t kVeNCryptTLSNone = 257;
inline constexpr std::uint32_t kVeNCryptTLSVnc = 258;
inline constexpr std::uint32_t kVeNCryptTLSPlain = 259;
inline constexpr std::uint32_t kVeNCryptX509None = 260;
inline constexpr std::uint32_t kVeNCryptX509Vnc = 261;
inline constexpr std::uint32_t kVeNCryptX509Plain = 262;

// Fixed sizes of wire pieces.
inline constexpr std::size_t kProtocolVersionSize = 12;
inline constexpr std::size_t kChallengeSize = 16;
inline constexpr std::size_t kServerInitSize = 24;

}  // namespace telorus::viewer::rfb
