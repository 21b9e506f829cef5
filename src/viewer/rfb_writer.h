// The builder of every message the viewer sends: each method lays out one
// client message in wire order and hands it to the transport. Nothing is
// sent while the transport is not open.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "viewer/transport.h"

namespace telorus::viewer {

class RfbWriter {
 public:
  void SetTransport(Transport* transport) { transport_ = transport; }
  bool Open() const { return transport_ && transport_->Open(); }

  // Handshake.
  // "RFB 003.00m\n" for version 3.m.
  void ProtocolVersion(int minor);
  void SecurityType(std::uint8_t type);
  void ChallengeResponse(const std::string& response);
  void ClientInit(bool shared);
  // VeNCrypt: the version the client takes, its subtype, Plain credentials.
  void VeNCryptVersion(std::uint8_t major, std::uint8_t minor);
  void VeNCryptSubtype(std::uint32_t subtype);
  void PlainCredentials(const std::string& user, const std::string& password);

  // Session messages.
  void SetPixelFormat(const std::array<std::uint8_t, 20>& message);
  // The 4-byte header and the encodings go as two sends.
  void SetEncodings(std::span<const std::int32_t> encodings);
  void FramebufferUpdateRequest(bool incremental, std::uint16_t x, std::uint16_t y, std::uint16_t width,
                                std::uint16_t height);
  void KeyEvent(bool down, std::uint32_t keysym);
  void PointerEvent(std::uint8_t buttonMask, std::uint16_t x, std::uint16_t y);
  // The 8-byte header, then the text with a terminating zero byte.
  void ClientCutText(const std::string& text);

 private:
  void Send(const void* data, std::size_t length);
  Transport* transport_ = nullptr;
};

}  // namespace telorus::viewer
