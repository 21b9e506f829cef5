// `FrameBitmap`: the viewer's local copy of the remote framebuffer, exactly
// the remote size, 32 bits per pixel, black when created. It is a drawing
// surface (platform::Surface) plus `PlotRawPixels`, which converts raw pixel
// data straight into the surface's memory a row at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/surface.h"

namespace telorus::viewer {

class PixelConverter;

class FrameBitmap {
 public:
  // Refuse framebuffers above 1 GiB (16384 x 16384 pixels).
  static constexpr std::uint64_t kMaxBytes = std::uint64_t{1} << 30;

  using Allocator = std::function<platform::Surface(int width, int height)>;

  // A black width x height framebuffer in memory from `allocate` (which
  // throws std::bad_alloc when short); nullptr and an error text when the
  // size is zero, too large, or memory is short.
  static std::unique_ptr<FrameBitmap> Create(int width, int height, std::string& error,
                                             const Allocator& allocate = platform::CreateBitmapSurface);

  // A framebuffer over an existing surface (e.g. a bitmap of the windowing
  // system).
  explicit FrameBitmap(platform::Surface surface) : surface_(std::move(surface)) {}

  int Width() const { return surface_.Width(); }
  int Height() const { return surface_.Height(); }
  platform::Surface& Surface() { return surface_; }
  const platform::Surface& Surface() const { return surface_; }

  // `PlotRawPixels`: draws width x height raw pixel values, packed row after
  // row with `BytesPerPixel` bytes each, with the top-left corner at (x, y).
  // Pixels off the framebuffer are skipped; nothing is drawn when the format
  // is unusable. `data` must hold width * height * BytesPerPixel bytes.
  void PlotRawPixels(const PixelConverter& pixels, const std::uint8_t* data, std::int64_t x, std::int64_t y,
                     std::int64_t width, std::int64_t height);

 private:
  platform::Surface surface_;
};

}  // namespace telorus::viewer
