// Pixel formats: the RFB pixel-format record, conversion of the server's
// pixel values to colours, and the two formats the viewer switches between
// (the server's own and 8-bit BGR233).
//
//   PixelFormat      the 16-byte record, channel maxima in host order
//   CheckPixelFormat whether the decoders can use a format (8, 16 or 32 bits
//                    per pixel, every channel maximum non-zero)
//   PixelConverter   everything per-format the decoders need, with fast paths
//                    chosen once when the format changes:
//                    `PixelToColor` for single colours, `ReadPixelValue`, and
//                    `ConvertRawRow` for raw pixel data (`PlotRawPixels`)
//   PixelFormats     `CurrentPixelFormat`, `ServerPixelFormat`,
//                    `BytesPerPixel`, `SetEightBitFormat`,
//                    `RestoreServerFormat` and the server initialisation
//
// Pixel values are read least significant byte first, or most significant
// byte first when the format's big-endian flag is set.
//
// Colours: `PixelToColor` scales every channel by its maximum to 0..255.
// Raw pixel data of 8 and 16 bits per pixel is converted the same way; raw
// 32-bit pixels take the 8 bits at each channel's shift without scaling, so
// for 32-bit formats whose maxima are not 255 the two differ on purpose.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/surface.h"
#include "viewer/big_endian.h"
#include "viewer/pixel_rows_simd.h"

namespace telorus::viewer {

class ReceiveBuffer;

using platform::Colour;

struct PixelFormat {
  static constexpr std::size_t kWireSize = 16;

  std::uint8_t bitsPerPixel = 0;
  std::uint8_t depth = 0;
  std::uint8_t bigEndian = 0;
  std::uint8_t trueColour = 0;
  std::uint16_t redMax = 0;
  std::uint16_t greenMax = 0;
  std::uint16_t blueMax = 0;
  std::uint8_t redShift = 0;
  std::uint8_t greenShift = 0;
  std::uint8_t blueShift = 0;

  // From / to the 16 wire bytes (maxima big-endian there, padding zero).
  static PixelFormat FromWire(const std::uint8_t* wire);
  std::array<std::uint8_t, kWireSize> ToWire() const;

  int BytesPerPixel() const { return bitsPerPixel / 8; }
  bool operator==(const PixelFormat&) const = default;
};

// BGR233: 8 bits per pixel, red in bits 0-2, green in 3-5, blue in 6-7.
PixelFormat EightBitFormat();

// Empty when the decoders can use `format`; otherwise the reason, as a text
// fit for a status message.
std::string CheckPixelFormat(const PixelFormat& format);

// The 20-byte SetPixelFormat message announcing `format`.
std::array<std::uint8_t, 20> BuildSetPixelFormat(const PixelFormat& format);

class PixelConverter {
 public:
  // How raw pixel data is converted; everything but `General` gives results
  // identical to it, pixel for pixel.
  enum class Path {
    Unusable,  // the format fails `CheckPixelFormat`: nothing can be decoded
    General,   // the formula, pixel by pixel
    Table8,    // 8 bits: a 256-entry table
    Levels8,   // 8 bits, every maximum at most 15: three 16-entry level
               // tables, looked up 16 pixels at a time where the processor can
    Table16,   // 16 bits: a 65536-entry table
    Rgb32,     // 32 bits with shifts 16/8/0: the value masked to 24 bits
    Shift32,   // other 32-bit formats: three shifts and masks
  };

  // An unusable converter.
  PixelConverter() = default;
  // `fastPaths` false forces the `General` path (for comparisons).
  explicit PixelConverter(const PixelFormat& format, bool fastPaths = true);

  bool Usable() const { return path_ != Path::Unusable; }
  Path ConversionPath() const { return path_; }
  const PixelFormat& Format() const { return format_; }
  int BytesPerPixel() const { return bytesPerPixel_; }

  // The pixel value whose `BytesPerPixel` bytes start at `bytes`, in the
  // format's byte order, zero-extended to 32 bits.
  std::uint32_t ValueAt(const std::uint8_t* bytes) const {
    switch (bytesPerPixel_) {
      case 1: return bytes[0];
      case 2: return format_.bigEndian ? ReadU16BE(bytes) : ReadU16LE(bytes);
      case 4: return format_.bigEndian ? ReadU32BE(bytes) : ReadU32LE(bytes);
      default: return 0;
    }
  }

  // `PixelToColor`: the colour value of one pixel value, every channel scaled
  // by its maximum.
  Colour PixelToColor(std::uint32_t pixel) const {
    if (!Usable()) return 0;
    return Level(0, pixel >> (format_.redShift & 31u)) | (Level(1, pixel >> (format_.greenShift & 31u)) << 8) |
           (Level(2, pixel >> (format_.blueShift & 31u)) << 16);
  }

  // Converts `count` packed raw pixels at `source` into surface memory
  // pixels (0x00RRGGBB words) at `dest`.
  void ConvertRawRow(const std::uint8_t* source, std::size_t count, std::uint32_t* dest) const;

 private:
  std::uint32_t GeneralRawToMemory(std::uint32_t pixel) const;
  // The level of channel c for a pixel value shifted down to the channel.
  std::uint32_t Level(int c, std::uint32_t shifted) const { return channelLevels_[c][shifted & channelMax_[c]]; }

  PixelFormat format_{};
  Path path_ = Path::Unusable;
  int bytesPerPixel_ = 0;
  std::vector<std::uint32_t> table_;  // memory pixels, for the table paths
  Levels8 levels_;                    // for `Levels8`
  // 0..255 level of every channel value 0..max, red, green, blue: the
  // scaling of `PixelToColor` without a division per channel.
  std::vector<std::uint8_t> channelLevels_[3];
  std::uint32_t channelMax_[3] = {};
};

// `ReadPixelValue`: takes one pixel value from the buffer; false (nothing
// taken) when fewer than `BytesPerPixel` bytes are buffered or the format is
// unusable.
bool ReadPixelValue(ReceiveBuffer& buffer, const PixelConverter& pixels, std::uint32_t& value);

// The pixel formats of a session.
class PixelFormats {
 public:
  using Message = std::array<std::uint8_t, 20>;

  // Server initialisation: `CurrentPixelFormat` and `ServerPixelFormat` :=
  // the 16 wire bytes of ServerInit's pixel format. Returns an error text
  // when the server's format is true colour but unusable. A colour-mapped
  // format is accepted here: the session start replaces it with BGR233.
  std::string ServerInit(const std::uint8_t* wire);

  // `SetEightBitFormat`: makes BGR233 current; returns the SetPixelFormat
  // message for it, which the engine sends when it may.
  Message SetEightBitFormat();

  // `RestoreServerFormat`: makes `ServerPixelFormat` current again and puts
  // the SetPixelFormat message for it (the format's 16 bytes exactly as the
  // server announced them) into `message`. Refused with an error
  // text, changing nothing, when the server's format is colour-mapped or
  // unusable (the viewer keeps no colour map, so BGR233 stays in force).
  std::string RestoreServerFormat(Message& message);

  const PixelFormat& CurrentPixelFormat() const { return current_.Format(); }
  const PixelFormat& ServerPixelFormat() const { return server_; }
  int BytesPerPixel() const { return CurrentPixelFormat().BytesPerPixel(); }
  const PixelConverter& Converter() const { return current_; }

 private:
  PixelFormat server_{};
  std::array<std::uint8_t, PixelFormat::kWireSize> serverWire_{};  // as announced
  PixelConverter current_;
};

}  // namespace telorus::viewer
