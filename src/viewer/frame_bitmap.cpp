#include "viewer/frame_bitmap.h"

#include <new>

#include "viewer/pixel_format.h"

namespace telorus::viewer {

std::unique_ptr<FrameBitmap> FrameBitmap::Create(int width, int height, std::string& error, const Allocator& allocate) {
  if (width <= 0 || height <= 0) {
    error = "Framebuffer of " + std::to_string(width) + "x" + std::to_string(height) + " pixels has no area";
    return nullptr;
  }
  const std::uint64_t bytes = std::uint64_t(width) * std::uint64_t(height) * 4u;
  if (bytes > kMaxBytes) {
    error = "Framebuffer of " + std::to_string(width) + "x" + std::to_string(height) + " pixels is too large";
    return nullptr;
  }
  try {
    return std::make_unique<FrameBitmap>(allocate(width, height));
  } catch (const std::bad_alloc&) {
    error =
        "Not enough memory for a framebuffer of " + std::to_string(width) + "x" + std::to_string(height) + " pixels";
    return nullptr;
  }
}

void FrameBitmap::PlotRawPixels(const PixelConverter& pixels, const std::uint8_t* data, std::int64_t x, std::int64_t y,
                                std::int64_t width, std::int64_t height) {
  if (!pixels.Usable() || width <= 0 || height <= 0) return;
  const platform::Rect visible = surface_.Clip({x, y, x + width, y + height});
  if (visible.Empty()) return;
  const auto bytesPerPixel = static_cast<std::uint64_t>(pixels.BytesPerPixel());
  const std::uint64_t rowBytes = static_cast<std::uint64_t>(width) * bytesPerPixel;
  const auto skipped = static_cast<std::uint64_t>(visible.left - x) * bytesPerPixel;
  const auto count = static_cast<std::size_t>(visible.Width());
  for (std::int64_t row = visible.top; row < visible.bottom; ++row) {
    const std::uint8_t* source = data + static_cast<std::uint64_t>(row - y) * rowBytes + skipped;
    pixels.ConvertRawRow(source, count, surface_.Row(static_cast<int>(row)) + visible.left);
  }
}

}  // namespace telorus::viewer
