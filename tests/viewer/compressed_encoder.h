// Test-side encoders for the compressed encodings, written the way servers
// write them: Zlib and ZRLE through one persistent deflate stream flushed at
// the end of each rectangle, TRLE plain, Tight with its four streams, reset
// bits, fill, copy, palette and gradient filters. Sub-encodings are chosen
// from the picture's content as a server would choose them, alternating
// between the choices that fit so that every one is used.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "test_encoder.h"

namespace telorus::viewer::test {

class TestDeflater {
 public:
  explicit TestDeflater(int level = 6);
  ~TestDeflater();
  TestDeflater(const TestDeflater&) = delete;
  TestDeflater& operator=(const TestDeflater&) = delete;
  // The compressed bytes of `data`, flushed so that they inflate whole.
  Bytes Compress(const Bytes& data);
  void Reset();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// ZRLE's and TRLE's CPIXEL, Tight's TPIXEL.
void PutCompactPixel(Bytes& out, const PixelFormat& format, std::uint32_t pixel, bool tight);

EncodedRect EncodeZlib(const RectangleHeader& header, const PixelFormat& format,
                       const std::vector<std::uint32_t>& pixels, TestDeflater& stream);

// The tiles' bytes, uncompressed: 64 x 64 for ZRLE, 16 x 16 for TRLE (whose
// tiles reuse the palette of the tile before when it is the same).
class TileEncoder {
 public:
  TileEncoder(const PixelFormat& format, bool trle) : format_(format), trle_(trle) {}
  Bytes Encode(const RectangleHeader& header, const std::vector<std::uint32_t>& pixels);

 private:
  void EncodeTile(Bytes& out, const std::vector<std::uint32_t>& tile, int width, int height);
  void PutRunLength(Bytes& out, int run);

  PixelFormat format_;
  bool trle_;
  unsigned turn_ = 0;
  std::vector<std::uint32_t> lastPalette_;
};

EncodedRect EncodeZrle(const RectangleHeader& header, const PixelFormat& format,
                       const std::vector<std::uint32_t>& pixels, TestDeflater& stream);
EncodedRect EncodeTrle(const RectangleHeader& header, const std::vector<std::uint32_t>& pixels, TileEncoder& tiles);

enum class TightMethod { Fill, Copy, Palette, Gradient };

// Tight basic compression and fill: `stream` (0..3) compresses, the streams
// in `resets` (bits 0..3) are reset first on both sides.
class TightEncoder {
 public:
  explicit TightEncoder(const PixelFormat& format) : format_(format) {}
  EncodedRect Encode(const RectangleHeader& header, const std::vector<std::uint32_t>& pixels, TightMethod method,
                     int stream, std::uint8_t resets = 0);
  // A JPEG rectangle around already compressed picture data.
  static EncodedRect Jpeg(const RectangleHeader& header, const Bytes& jpeg);
  static void PutCompactLength(Bytes& out, std::uint32_t length);

 private:
  PixelFormat format_;
  std::array<TestDeflater, 4> streams_;
};

}  // namespace telorus::viewer::test
