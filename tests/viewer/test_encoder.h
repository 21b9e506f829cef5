// Test-side helpers for the decoder tests: an encoder that writes rectangles
// the way a server does, a reference image painted from the same description
// by simple per-pixel code, and a feeder that plays a byte stream into the
// decoders in chunks, the way the session engine would.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/surface.h"
#include "viewer/decoders.h"
#include "viewer/pixel_format.h"

namespace telorus::viewer::test {

using platform::Colour;
using Bytes = std::vector<std::uint8_t>;

// A true-colour format: bits per pixel, channel maxima and shifts.
PixelFormat TrueColour(int bpp, int red, int green, int blue, int redShift, int greenShift, int blueShift,
                       bool bigEndian);

// The colour a pixel value stands for, worked out from the format field by
// field (every channel scaled by its maximum).
Colour ExpectedColour(const PixelFormat& format, std::uint32_t pixel);

// Appends one pixel value in the format's size and byte order.
void PutPixel(Bytes& out, const PixelFormat& format, std::uint32_t pixel);
void PutU16(Bytes& out, std::uint16_t value);
void PutU32(Bytes& out, std::uint32_t value);

struct Subrect {
  std::uint32_t pixel = 0;
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
};

struct HextileTile {
  std::uint8_t subencoding = 0;
  std::uint32_t background = 0;    // written when bit 2 is set
  std::uint32_t foreground = 0;    // written when bit 4 is set
  std::vector<std::uint32_t> raw;  // written when bit 1 is set
  std::vector<Subrect> subrects;   // x, y, width, height within the tile (1..16)
};

// One rectangle on the wire: header and body.
struct EncodedRect {
  RectangleHeader header;
  Bytes body;
};

EncodedRect EncodeRaw(const RectangleHeader& header, const PixelFormat& format,
                      const std::vector<std::uint32_t>& pixels);
EncodedRect EncodeCopyRect(const RectangleHeader& header, std::uint16_t sourceX, std::uint16_t sourceY);
EncodedRect EncodeRRE(const RectangleHeader& header, const PixelFormat& format, std::uint32_t background,
                      const std::vector<Subrect>& subrects, bool compact);
EncodedRect EncodeHextile(const RectangleHeader& header, const PixelFormat& format,
                          const std::vector<HextileTile>& tiles);

Bytes Serialise(const std::vector<EncodedRect>& rects);

// Tiles of a Hextile rectangle in wire order: x, y, width, height.
struct TileGeometry {
  int x, y, width, height;
};
std::vector<TileGeometry> TileWalk(const RectangleHeader& header);

// The expected framebuffer, painted pixel by pixel.
class ReferenceImage {
 public:
  ReferenceImage(int width, int height)
      : width_(width), height_(height), pixels_(static_cast<std::size_t>(width * height), 0) {}

  void Set(std::int64_t x, std::int64_t y, Colour colour);
  void Fill(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height, Colour colour);
  Colour At(int x, int y) const { return pixels_[static_cast<std::size_t>(y * width_ + x)]; }
  int Width() const { return width_; }
  int Height() const { return height_; }

  void PaintRaw(const RectangleHeader& header, const PixelFormat& format, const std::vector<std::uint32_t>& pixels);
  void PaintCopyRect(const RectangleHeader& header, int sourceX, int sourceY);
  void PaintRRE(const RectangleHeader& header, const PixelFormat& format, std::uint32_t background,
                const std::vector<Subrect>& subrects);
  // Hextile colours carry over between rectangles, as in the decoder.
  void PaintHextile(const RectangleHeader& header, const PixelFormat& format, const std::vector<HextileTile>& tiles);

 private:
  int width_;
  int height_;
  std::vector<Colour> pixels_;
  Colour hextileBackground_ = 0;
  Colour hextileForeground_ = 0;
};

// First mismatching pixel between the framebuffer and the reference, as text;
// empty when they agree everywhere.
std::string CompareWith(const platform::Surface& surface, const ReferenceImage& expected);

enum class Chunking { Whole, OneByte, Random };
std::string ChunkingName(Chunking chunking);

struct FeedResult {
  int finishedRects = 0;
  std::vector<std::pair<std::uint16_t, std::uint16_t>> copyRectSources;
  std::string problem;  // a broken decoder contract, or a Failed result
};

// Feeds `stream` (rectangle headers and bodies, back to back) into `decoder`
// in chunks, checking the step contract at every call: NeedMore takes
// nothing, and the stream ends exactly at the end of the last rectangle.
FeedResult Feed(const Bytes& stream, Chunking chunking, std::uint32_t seed, RectangleDecoder& decoder,
                FrameBitmap& frame, const PixelConverter& pixels);

}  // namespace telorus::viewer::test
