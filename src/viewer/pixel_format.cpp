#include "viewer/pixel_format.h"

#include <bit>
#include <cstring>

#include "viewer/big_endian.h"
#include "viewer/receive_buffer.h"

namespace telorus::viewer {
namespace {

// Channel level 0..255 of a pixel value, scaled by the channel maximum.
// The shift count is taken modulo 32; max must not be 0.
std::uint32_t ScaledLevel(std::uint32_t pixel, unsigned shift, std::uint32_t max) {
  const std::uint32_t value = (pixel >> (shift & 31u)) & max;
  return value * 255u / max;
}

// Channel level of a raw 32-bit pixel: the 8 bits at the shift.
std::uint32_t RawLevel(std::uint32_t pixel, unsigned shift) { return (pixel >> (shift & 31u)) & 0xFFu; }

// Row loops, one per path and byte order, so the inner loops carry no branch.
template <bool BigEndian>
void TableRow16(const std::uint8_t* source, std::size_t count, std::uint32_t* dest, const std::uint32_t* table) {
  for (std::size_t i = 0; i < count; ++i, source += 2) {
    dest[i] = table[BigEndian ? ReadU16BE(source) : ReadU16LE(source)];
  }
}

template <bool BigEndian>
void Rgb32Row(const std::uint8_t* source, std::size_t count, std::uint32_t* dest) {
  for (std::size_t i = 0; i < count; ++i, source += 4) {
    dest[i] = (BigEndian ? ReadU32BE(source) : ReadU32LE(source)) & 0x00FFFFFFu;
  }
}

template <bool BigEndian>
void Shift32Row(const std::uint8_t* source, std::size_t count, std::uint32_t* dest, unsigned redShift,
                unsigned greenShift, unsigned blueShift) {
  for (std::size_t i = 0; i < count; ++i, source += 4) {
    const std::uint32_t pixel = BigEndian ? ReadU32BE(source) : ReadU32LE(source);
    dest[i] = (RawLevel(pixel, redShift) << 16) | (RawLevel(pixel, greenShift) << 8) | RawLevel(pixel, blueShift);
  }
}

}  // namespace

PixelFormat PixelFormat::FromWire(const std::uint8_t* wire) {
  PixelFormat format;
  format.bitsPerPixel = wire[0];
  format.depth = wire[1];
  format.bigEndian = wire[2];
  format.trueColour = wire[3];
  format.redMax = ReadU16BE(wire + 4);
  format.greenMax = ReadU16BE(wire + 6);
  format.blueMax = ReadU16BE(wire + 8);
  format.redShift = wire[10];
  format.greenShift = wire[11];
  format.blueShift = wire[12];
  return format;
}

std::array<std::uint8_t, PixelFormat::kWireSize> PixelFormat::ToWire() const {
  std::array<std::uint8_t, kWireSize> wire{};
  wire[0] = bitsPerPixel;
  wire[1] = depth;
  wire[2] = bigEndian;
  wire[3] = trueColour;
  WriteU16BE(wire.data() + 4, redMax);
  WriteU16BE(wire.data() + 6, greenMax);
  WriteU16BE(wire.data() + 8, blueMax);
  wire[10] = redShift;
  wire[11] = greenShift;
  wire[12] = blueShift;
  return wire;
}

PixelFormat EightBitFormat() {
  PixelFormat format;
  format.bitsPerPixel = 8;
  format.depth = 8;
  format.bigEndian = 0;
  format.trueColour = 1;
  format.redMax = 7;
  format.greenMax = 7;
  format.blueMax = 3;
  format.redShift = 0;
  format.greenShift = 3;
  format.blueShift = 6;
  return format;
}

std::string CheckPixelFormat(const PixelFormat& format) {
  if (format.bitsPerPixel != 8 && format.bitsPerPixel != 16 && format.bitsPerPixel != 32) {
    return "Unsupported pixel format: " + std::to_string(format.bitsPerPixel) + " bits per pixel";
  }
  if (format.redMax == 0 || format.greenMax == 0 || format.blueMax == 0) {
    return "Unsupported pixel format: a colour channel with maximum 0";
  }
  return {};
}

std::array<std::uint8_t, 20> BuildSetPixelFormat(const PixelFormat& format) {
  std::array<std::uint8_t, 20> message{};  // type 0, three bytes of padding
  const auto wire = format.ToWire();
  std::memcpy(message.data() + 4, wire.data(), wire.size());
  return message;
}

PixelConverter::PixelConverter(const PixelFormat& format, bool fastPaths) : format_(format) {
  if (!CheckPixelFormat(format).empty()) return;
  bytesPerPixel_ = format.BytesPerPixel();
  path_ = Path::General;
  const std::uint16_t maxima[3] = {format.redMax, format.greenMax, format.blueMax};
  for (int c = 0; c < 3; ++c) {
    channelMax_[c] = maxima[c];
    channelLevels_[c].resize(std::size_t{maxima[c]} + 1);
    for (std::uint32_t v = 0; v <= maxima[c]; ++v) {
      channelLevels_[c][v] = static_cast<std::uint8_t>(v * 255u / maxima[c]);
    }
  }
  if (!fastPaths) return;

  switch (format.bitsPerPixel) {
    case 8:
    case 16: {
      table_.resize(std::size_t{1} << format.bitsPerPixel);
      for (std::uint32_t value = 0; value < table_.size(); ++value) {
        table_[value] = GeneralRawToMemory(value);
      }
      path_ = format.bitsPerPixel == 8 ? Path::Table8 : Path::Table16;
      if (format.bitsPerPixel == 8 && format.redMax <= 15 && format.greenMax <= 15 && format.blueMax <= 15) {
        const std::uint8_t shifts[3] = {format.redShift, format.greenShift, format.blueShift};
        for (int c = 0; c < 3; ++c) {
          // A channel shifted out of the byte reads 0: empty mask.
          const unsigned shift = shifts[c] & 31u;
          levels_.shift[c] = static_cast<std::uint8_t>(shift < 8 ? shift : 0);
          levels_.mask[c] = static_cast<std::uint8_t>(shift < 8 ? (maxima[c] << shift) & 0xFF : 0);
          for (unsigned i = 0; i < 16; ++i) levels_.level[c][i] = channelLevels_[c][i & maxima[c]];
        }
        path_ = Path::Levels8;
      }
      break;
    }
    case 32: {
      const bool rgb = (format.redShift & 31u) == 16 && (format.greenShift & 31u) == 8 && (format.blueShift & 31u) == 0;
      path_ = rgb ? Path::Rgb32 : Path::Shift32;
      break;
    }
    default: break;
  }
}

std::uint32_t PixelConverter::GeneralRawToMemory(std::uint32_t pixel) const {
  if (format_.bitsPerPixel == 32) {
    return (RawLevel(pixel, format_.redShift) << 16) | (RawLevel(pixel, format_.greenShift) << 8) |
           RawLevel(pixel, format_.blueShift);
  }
  return ScaledLevel(pixel, format_.redShift, format_.redMax) << 16 |
         ScaledLevel(pixel, format_.greenShift, format_.greenMax) << 8 |
         ScaledLevel(pixel, format_.blueShift, format_.blueMax);
}

void PixelConverter::ConvertRawRow(const std::uint8_t* source, std::size_t count, std::uint32_t* dest) const {
  const bool big = format_.bigEndian != 0;
  switch (path_) {
    case Path::Unusable: return;
    case Path::General:
      for (std::size_t i = 0; i < count; ++i) {
        dest[i] = GeneralRawToMemory(ValueAt(source + i * static_cast<std::size_t>(bytesPerPixel_)));
      }
      return;
    case Path::Levels8: {
      const std::size_t done = ConvertLevels8Vector(source, count, dest, levels_);
      for (std::size_t i = done; i < count; ++i) dest[i] = table_[source[i]];
      return;
    }
    case Path::Table8:
      for (std::size_t i = 0; i < count; ++i) dest[i] = table_[source[i]];
      return;
    case Path::Table16:
      big ? TableRow16<true>(source, count, dest, table_.data())
          : TableRow16<false>(source, count, dest, table_.data());
      return;
    case Path::Rgb32: {
      if (big) {
        Rgb32Row<true>(source, count, dest);
        return;
      }
      const std::size_t done = ConvertRgb32Vector(source, count, dest);
      Rgb32Row<false>(source + 4 * done, count - done, dest + done);
      return;
    }
    case Path::Shift32:
      big ? Shift32Row<true>(source, count, dest, format_.redShift, format_.greenShift, format_.blueShift)
          : Shift32Row<false>(source, count, dest, format_.redShift, format_.greenShift, format_.blueShift);
      return;
  }
}

bool ReadPixelValue(ReceiveBuffer& buffer, const PixelConverter& pixels, std::uint32_t& value) {
  if (!pixels.Usable()) return false;
  const auto size = static_cast<std::size_t>(pixels.BytesPerPixel());
  const std::uint8_t* bytes = buffer.PeekView(size);
  if (bytes == nullptr) return false;
  value = pixels.ValueAt(bytes);
  buffer.Discard(size);
  return true;
}

std::string PixelFormats::ServerInit(const std::uint8_t* wire) {
  server_ = PixelFormat::FromWire(wire);
  std::memcpy(serverWire_.data(), wire, serverWire_.size());
  current_ = PixelConverter(server_);
  if (server_.trueColour == 0) return {};
  return CheckPixelFormat(server_);
}

PixelFormats::Message PixelFormats::SetEightBitFormat() {
  const PixelFormat format = EightBitFormat();
  current_ = PixelConverter(format);
  return BuildSetPixelFormat(format);
}

std::string PixelFormats::RestoreServerFormat(Message& message) {
  if (server_.trueColour == 0) {
    return "The server's own pixel format uses a colour map; keeping the 8-bit format";
  }
  std::string problem = CheckPixelFormat(server_);
  if (!problem.empty()) return problem;
  current_ = PixelConverter(server_);
  message = Message{};
  std::memcpy(message.data() + 4, serverWire_.data(), serverWire_.size());
  return {};
}

}  // namespace telorus::viewer
