// The decoders of the compressed encodings, one class per encoding behind
// one interface: `RectangleDecoder` keeps a table of them keyed by encoding
// number and hands each rectangle of theirs to the one it names.
//
// They follow the same contract as the other rectangle decoders (see
// decoders.h): each step peeks before it takes, `NeedMore` means nothing was
// taken, `PieceDone` that something was, `Finished` that the rectangle is
// done, `Failed` (with `FailureText`) that the session cannot go on. Every
// length, count and index from the server is checked before it is used;
// pixels are drawn only through the framebuffer's surface, clipped to it.
//
// What lives longer than a rectangle (zlib streams, a palette) lives as
// long as the connection: `NewConnection` starts it afresh.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "viewer/decoders.h"
#include "viewer/inflater.h"

namespace telorus::viewer {

class EncodingDecoder {
 public:
  virtual ~EncodingDecoder() = default;
  virtual void Begin(const RectangleHeader& rect) = 0;
  virtual DecodeResult Step(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels) = 0;
  virtual void NewConnection() = 0;
  const std::string& FailureText() const { return failure_; }

 protected:
  DecodeResult Fail(std::string text) {
    failure_ = std::move(text);
    return DecodeResult::Failed;
  }
  // How a step of an inflating decoder ends when its rectangle is not done:
  // `last` is the window's last pull; a block that ran out fails with
  // `endsEarly` inside the pixels (`inPixels`), else with `unusable`.
  DecodeResult InflateStepEnd(const InflatedWindow& window, InflatedWindow::Pull last, bool inPixels,
                              const char* endsEarly, const char* unusable, bool progress) {
    switch (last) {
      case InflatedWindow::Pull::Failed: return Fail(window.Error());
      case InflatedWindow::Pull::Exhausted: return Fail(inPixels ? endsEarly : unusable);
      default: return progress ? DecodeResult::PieceDone : DecodeResult::NeedMore;
    }
  }
  std::string failure_;
};

// ---- Pixel helpers shared by the compressed encodings ----

// How a compact pixel (ZRLE's and TRLE's CPIXEL, Tight's TPIXEL) is laid
// out for a pixel format.
struct CompactPixel {
  enum class Kind : std::uint8_t {
    Full,   // a whole pixel value of the format
    Low3,   // the three least significant bytes, in the format's byte order
    High3,  // the three most significant bytes, in the format's byte order
    Rgb,    // Tight: red, green, blue bytes
  };
  Kind kind = Kind::Full;
  int bytes = 0;  // on the wire
};

// ZRLE's and TRLE's CPIXEL, Tight's TPIXEL for a format the decoders can use.
CompactPixel ZrleCompactPixel(const PixelConverter& pixels);
CompactPixel TightCompactPixel(const PixelConverter& pixels);

// Converts compact pixels to memory pixels (0x00RRGGBB words), a row at a
// time, with the converter's fast paths.
class CompactPixelRow {
 public:
  void Set(const PixelConverter& pixels, CompactPixel layout);
  const CompactPixel& Layout() const { return layout_; }
  void Convert(const std::uint8_t* source, std::size_t count, std::uint32_t* dest);
  // One compact pixel.
  std::uint32_t One(const std::uint8_t* source) {
    std::uint32_t pixel = 0;
    Convert(source, 1, &pixel);
    return pixel;
  }

 private:
  const PixelConverter* pixels_ = nullptr;
  CompactPixel layout_;
  bool direct_ = false;  // three bytes that are the memory pixel already
  std::vector<std::uint8_t> widened_;
};

// Writes `count` memory pixels at (x, y) of the surface, clipped to it.
void PutPixels(platform::Surface& surface, std::int64_t x, std::int64_t y, const std::uint32_t* pixels,
               std::int64_t count);
// Writes a block of memory pixels, `stride` pixels from one row to the next.
void PutBlock(platform::Surface& surface, std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height,
              const std::uint32_t* pixels, std::size_t stride);

}  // namespace telorus::viewer
