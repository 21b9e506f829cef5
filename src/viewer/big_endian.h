// Multi-byte RFB fields are big-endian on the wire; pixel values are in the
// pixel format's byte order, usually little-endian. These are the only
// conversions between wire bytes and host integers in the viewer.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace telorus::viewer {

inline std::uint16_t ReadU16BE(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

inline std::uint32_t ReadU32BE(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

inline void WriteU16BE(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 8);
  p[1] = static_cast<std::uint8_t>(value);
}

inline void WriteU32BE(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 24);
  p[1] = static_cast<std::uint8_t>(value >> 16);
  p[2] = static_cast<std::uint8_t>(value >> 8);
  p[3] = static_cast<std::uint8_t>(value);
}

inline std::uint16_t ReadU16LE(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

inline std::uint32_t ReadU32LE(const std::uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
  } else {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
  }
}

}  // namespace telorus::viewer
