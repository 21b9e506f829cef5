// The compressed encodings: Zlib (6), Tight (7), TRLE (15) and ZRLE (16).
// See encoding_decoder.h for the contract they share.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "viewer/encoding_decoder.h"
#include "viewer/inflater.h"

namespace telorus::viewer {

class JpegDecoder;

// Zlib: a length, then that many bytes of the connection's one stream,
// which inflate to the rectangle's raw pixels. Rows are drawn as soon as
// they are inflated.
class ZlibDecoder final : public EncodingDecoder {
 public:
  ZlibDecoder();
  void Begin(const RectangleHeader& rect) override;
  DecodeResult Step(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels) override;
  void NewConnection() override { stream_.Reset(); }

 private:
  RectangleHeader rect_;
  std::uint8_t stage_ = 0;  // 0: length; 1: rows; 2: the rest of the block
  std::uint32_t rowsDone_ = 0;
  Inflater stream_;
  InflatedWindow window_;
};

// The tiles of ZRLE (64 x 64, inflated) and TRLE (16 x 16, straight from
// the receive buffer): a sub-encoding byte, then raw pixels, one colour, a
// packed palette, or runs of pixels or palette indices.
class TileRunDecoder {
 public:
  enum class Outcome { Done, Short, Bad };
  // Decodes one tile of `width` x `height` from `data`, which holds
  // `length` bytes; `used` tells how many it took. Short: the tile goes on
  // past `length`. Bad: the data can be no tile (`Error`). The pixels go to
  // `out`, rows `stride` pixels apart (null: into `Pixels`, rows `width`
  // apart), except a tile of one colour, which only sets `SolidPixel`.
  // A tile that turns out Short may have written some of its pixels.
  Outcome Tile(const std::uint8_t* data, std::size_t length, int width, int height, bool trle, std::size_t& used,
               std::uint32_t* out = nullptr, std::ptrdiff_t stride = 0);
  bool Solid() const { return solid_; }
  std::uint32_t SolidPixel() const { return solidPixel_; }
  const std::uint32_t* Pixels() const { return pixels_.data(); }
  const char* Error() const { return error_; }
  void SetFormat(const PixelConverter& pixels, CompactPixel layout) { row_.Set(pixels, layout); }
  int PixelBytes() const { return row_.Layout().bytes; }
  // TRLE: the palette of the last tile that had one, for the tiles that
  // reuse it.
  void ForgetPalette() { paletteSize_ = 0; }

 private:
  Outcome Runs(const std::uint8_t* data, std::size_t length, std::size_t at, int width, int height, bool indexed,
               std::size_t& used, std::uint32_t* out, std::ptrdiff_t stride);
  Outcome Bad(const char* error) {
    error_ = error;
    return Outcome::Bad;
  }

  CompactPixelRow row_;
  std::array<std::uint32_t, 64 * 64> pixels_{};
  std::array<std::uint32_t, 128> palette_{};
  int paletteSize_ = 0;
  bool solid_ = false;
  std::uint32_t solidPixel_ = 0;
  const char* error_ = "";
};

// ZRLE: a length, then a block of the connection's one stream that
// inflates to 64 x 64 tiles.
class ZrleDecoder final : public EncodingDecoder {
 public:
  ZrleDecoder();
  void Begin(const RectangleHeader& rect) override;
  DecodeResult Step(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels) override;
  void NewConnection() override { stream_.Reset(); }

 private:
  RectangleHeader rect_;
  std::uint8_t stage_ = 0;  // 0: length; 1: tiles; 2: the rest of the block
  std::int64_t tileX_ = 0;
  std::int64_t tileY_ = 0;
  Inflater stream_;
  InflatedWindow window_;
  TileRunDecoder tiles_;
};

// TRLE: 16 x 16 tiles as they arrive, without compression.
class TrleDecoder final : public EncodingDecoder {
 public:
  void Begin(const RectangleHeader& rect) override;
  DecodeResult Step(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels) override;
  void NewConnection() override { tiles_.ForgetPalette(); }

 private:
  RectangleHeader rect_;
  std::int64_t tileX_ = 0;
  std::int64_t tileY_ = 0;
  TileRunDecoder tiles_;
};

// Tight: per rectangle a control byte (stream resets and the method), then
// one colour, a JPEG picture, or rows filtered (copy, palette, gradient)
// and, from 12 bytes on, compressed by one of four persistent streams.
class TightDecoder final : public EncodingDecoder {
 public:
  TightDecoder();
  ~TightDecoder() override;
  void Begin(const RectangleHeader& rect) override;
  DecodeResult Step(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels) override;
  void NewConnection() override;
  // Whether this build decodes Tight's JPEG rectangles.
  static bool JpegAvailable();

 private:
  enum class Filter : std::uint8_t { Copy, Palette, Gradient };
  DecodeResult Header(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels);
  DecodeResult Jpeg(ReceiveBuffer& buffer, FrameBitmap& frame);
  DecodeResult Rows(ReceiveBuffer& buffer, FrameBitmap& frame);
  // Draws `count` filtered rows at `data`.
  void DrawRows(FrameBitmap& frame, const std::uint8_t* data, std::uint32_t count);
  void GradientRow(const std::uint8_t* data, std::uint32_t* out);

  RectangleHeader rect_;
  std::uint8_t stage_ = 0;  // 0: header; 1: JPEG; 2: rows; 3: the rest of the block
  Filter filter_ = Filter::Copy;
  bool compressed_ = false;
  std::uint32_t jpegLength_ = 0;
  std::size_t rowBytes_ = 0;
  std::uint32_t rowsDone_ = 0;
  std::array<Inflater, 4> streams_;
  InflatedWindow window_;
  CompactPixelRow row_;
  const PixelConverter* pixels_ = nullptr;
  std::array<std::uint32_t, 256> palette_{};
  std::vector<std::uint32_t> out_;    // one row of memory pixels
  std::vector<std::uint16_t> above_;  // gradient: the row above, per channel
  std::vector<std::uint8_t> raw_;     // gradient: a row rebuilt as raw pixels
  std::unique_ptr<JpegDecoder> jpeg_;
};

// Tight's compact length: one to three bytes. 0 when fewer are given than it
// needs; otherwise the number of bytes, the value in `value`.
int ReadCompactLength(const std::uint8_t* data, std::size_t length, std::uint32_t& value);

}  // namespace telorus::viewer
