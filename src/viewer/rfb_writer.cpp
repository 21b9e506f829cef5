#include "viewer/rfb_writer.h"

#include <cstdio>
#include <vector>

#include "viewer/big_endian.h"
#include "viewer/rfb_wire.h"

namespace telorus::viewer {

void RfbWriter::Send(const void* data, std::size_t length) {
  if (Open()) transport_->Send(data, length);
}

void RfbWriter::ProtocolVersion(int minor) {
  char text[13];
  std::snprintf(text, sizeof text, "RFB 003.%03d\n", minor);
  Send(text, rfb::kProtocolVersionSize);
}

void RfbWriter::SecurityType(std::uint8_t type) { Send(&type, 1); }

void RfbWriter::ChallengeResponse(const std::string& response) { Send(response.data(), response.size()); }

void RfbWriter::ClientInit(bool shared) {
  const std::uint8_t flag = shared ? 1 : 0;
  Send(&flag, 1);
}

void RfbWriter::VeNCryptVersion(std::uint8_t major, std::uint8_t minor) {
  const std::uint8_t version[2] = {major, minor};
  Send(version, sizeof version);
}

void RfbWriter::VeNCryptSubtype(std::uint32_t subtype) {
  std::uint8_t wire[4];
  WriteU32BE(wire, subtype);
  Send(wire, sizeof wire);
}

void RfbWriter::PlainCredentials(const std::string& user, const std::string& password) {
  std::string message(8, '\0');
  WriteU32BE(reinterpret_cast<std::uint8_t*>(message.data()), static_cast<std::uint32_t>(user.size()));
  WriteU32BE(reinterpret_cast<std::uint8_t*>(message.data()) + 4, static_cast<std::uint32_t>(password.size()));
  message += user;
  message += password;
  Send(message.data(), message.size());
}

void RfbWriter::SetPixelFormat(const std::array<std::uint8_t, 20>& message) { Send(message.data(), message.size()); }

void RfbWriter::SetEncodings(std::span<const std::int32_t> encodings) {
  std::uint8_t head[4] = {rfb::kSetEncodings, 0};
  WriteU16BE(head + 2, static_cast<std::uint16_t>(encodings.size()));
  std::vector<std::uint8_t> list(encodings.size() * 4);
  for (std::size_t i = 0; i < encodings.size(); ++i)
    WriteU32BE(list.data() + 4 * i, static_cast<std::uint32_t>(encodings[i]));
  Send(head, sizeof head);
  Send(list.data(), list.size());
}

void RfbWriter::FramebufferUpdateRequest(bool incremental, std::uint16_t x, std::uint16_t y, std::uint16_t width,
                                         std::uint16_t height) {
  std::uint8_t msg[10] = {rfb::kFramebufferUpdateRequest, static_cast<std::uint8_t>(incremental ? 1 : 0)};
  WriteU16BE(msg + 2, x);
  WriteU16BE(msg + 4, y);
  WriteU16BE(msg + 6, width);
  WriteU16BE(msg + 8, height);
  Send(msg, sizeof msg);
}

void RfbWriter::KeyEvent(bool down, std::uint32_t keysym) {
  // The two padding bytes go as 1 and 1, as they always have.
  std::uint8_t msg[8] = {rfb::kKeyEvent, static_cast<std::uint8_t>(down ? 1 : 0), 1, 1};
  WriteU32BE(msg + 4, keysym);
  Send(msg, sizeof msg);
}

void RfbWriter::PointerEvent(std::uint8_t buttonMask, std::uint16_t x, std::uint16_t y) {
  std::uint8_t msg[6] = {rfb::kPointerEvent, buttonMask};
  WriteU16BE(msg + 2, x);
  WriteU16BE(msg + 4, y);
  Send(msg, sizeof msg);
}

void RfbWriter::ClientCutText(const std::string& text) {
  std::uint8_t head[8] = {rfb::kClientCutText, 0, 0, 0};
  WriteU32BE(head + 4, static_cast<std::uint32_t>(text.size() + 1));
  Send(head, sizeof head);
  Send(text.c_str(), text.size() + 1);
}

}  // namespace telorus::viewer
