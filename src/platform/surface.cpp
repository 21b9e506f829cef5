#include "platform/surface.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace telorus::platform {
namespace {

// Coordinates and sizes beyond these magnitudes cannot touch a surface (whose
// sides are below 2^31) and are refused, so that sums and products of two of
// them never overflow 64 bits.
constexpr std::int64_t kCopyLimit = std::int64_t{1} << 61;
constexpr std::int64_t kBlitLimit = std::int64_t{1} << 30;

bool Within(std::int64_t value, std::int64_t limit) { return value >= -limit && value <= limit; }

}  // namespace

Surface::Surface(int width, int height) {
  if (width <= 0 || height <= 0) return;
  const auto count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  owned_ = std::make_unique<std::uint32_t[]>(count);  // value-initialised: black
  pixels_ = owned_.get();
  width_ = width;
  height_ = height;
  stride_ = static_cast<std::ptrdiff_t>(width) * 4;
}

Surface::Surface(std::uint32_t* pixels, int width, int height, std::ptrdiff_t stride) {
  if (pixels == nullptr || width <= 0 || height <= 0) return;
  pixels_ = pixels;
  width_ = width;
  height_ = height;
  stride_ = stride;
}

Surface::Surface(std::uint32_t* pixels, int width, int height, std::ptrdiff_t stride, std::shared_ptr<void> native)
    : Surface(pixels, width, height, stride) {
  native_ = std::move(native);
}

Surface::Surface(Surface&& other) noexcept
    : owned_(std::move(other.owned_)),
      native_(std::move(other.native_)),
      pixels_(std::exchange(other.pixels_, nullptr)),
      width_(std::exchange(other.width_, 0)),
      height_(std::exchange(other.height_, 0)),
      stride_(std::exchange(other.stride_, 0)) {}

Surface& Surface::operator=(Surface&& other) noexcept {
  if (this != &other) {
    owned_ = std::move(other.owned_);
    native_ = std::move(other.native_);
    pixels_ = std::exchange(other.pixels_, nullptr);
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
    stride_ = std::exchange(other.stride_, 0);
  }
  return *this;
}

Surface::~Surface() = default;

#ifndef _WIN32
Surface CreateBitmapSurface(int width, int height) { return Surface(width, height); }
#endif

Colour Surface::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return MemoryToColour(Row(y)[x]);
}

void Surface::SetPixel(std::int64_t x, std::int64_t y, Colour colour) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  Row(static_cast<int>(y))[x] = ColourToMemory(colour);
}

void Surface::CopyRect(std::int64_t srcX, std::int64_t srcY, std::int64_t width, std::int64_t height,
                       std::int64_t destX, std::int64_t destY) {
  if (width <= 0 || height <= 0) return;
  if (!Within(srcX, kCopyLimit) || !Within(srcY, kCopyLimit) || !Within(width, kCopyLimit) ||
      !Within(height, kCopyLimit) || !Within(destX, kCopyLimit) || !Within(destY, kCopyLimit)) {
    return;
  }
  const std::int64_t offsetX = destX - srcX;
  const std::int64_t offsetY = destY - srcY;
  // Source pixels that are on the surface and whose destination is too.
  const std::int64_t left = std::max({srcX, std::int64_t{0}, -offsetX});
  const std::int64_t right = std::min({srcX + width, std::int64_t{width_}, width_ - offsetX});
  const std::int64_t top = std::max({srcY, std::int64_t{0}, -offsetY});
  const std::int64_t bottom = std::min({srcY + height, std::int64_t{height_}, height_ - offsetY});
  if (right <= left || bottom <= top) return;

  const auto bytes = static_cast<std::size_t>(right - left) * sizeof(std::uint32_t);
  const auto copyRow = [&](std::int64_t y) {
    std::memmove(Row(static_cast<int>(y + offsetY)) + (left + offsetX), Row(static_cast<int>(y)) + left, bytes);
  };
  // Moving down, the rows below are read before they are overwritten only if
  // the walk starts at the bottom; moving up (or sideways) walk from the top.
  // memmove takes care of overlap within a row.
  if (offsetY > 0) {
    for (std::int64_t y = bottom - 1; y >= top; --y) copyRow(y);
  } else {
    for (std::int64_t y = top; y < bottom; ++y) copyRow(y);
  }
}

bool Surface::BlitTo(const SurfaceView& dest, std::int64_t destX, std::int64_t destY, std::int64_t destW,
                     std::int64_t destH, std::int64_t srcX, std::int64_t srcY, std::int64_t srcW,
                     std::int64_t srcH) const {
  if (dest.pixels == nullptr || destW < 0 || destH < 0 || srcW < 0 || srcH < 0) return false;
  for (const std::int64_t value : {destX, destY, destW, destH, srcX, srcY, srcW, srcH}) {
    if (!Within(value, kBlitLimit)) return false;
  }
  if (destW == 0 || destH == 0 || srcW == 0 || srcH == 0 || pixels_ == nullptr) return true;

  const std::int64_t dLeft = std::max<std::int64_t>(destX, 0);
  const std::int64_t dRight = std::min<std::int64_t>(destX + destW, dest.width);
  const std::int64_t dTop = std::max<std::int64_t>(destY, 0);
  const std::int64_t dBottom = std::min<std::int64_t>(destY + destH, dest.height);
  if (dRight <= dLeft || dBottom <= dTop) return true;

  if (srcW == destW && srcH == destH) {
    // One to one: the visible destination span of each row, narrowed further
    // to columns and rows whose source is on this surface.
    const std::int64_t left = std::max(dLeft, destX - srcX);
    const std::int64_t right = std::min(dRight, destX - srcX + width_);
    const std::int64_t top = std::max(dTop, destY - srcY);
    const std::int64_t bottom = std::min(dBottom, destY - srcY + height_);
    if (right <= left || bottom <= top) return true;
    const auto bytes = static_cast<std::size_t>(right - left) * sizeof(std::uint32_t);
    for (std::int64_t y = top; y < bottom; ++y) {
      const std::uint32_t* from = Row(static_cast<int>(y - destY + srcY)) + (left - destX + srcX);
      std::memcpy(dest.Row(static_cast<int>(y)) + left, from, bytes);
    }
    return true;
  }

  // Scaled: nearest neighbour, sampling the source at each destination
  // pixel's position. Columns map the same way on every row, so they are
  // worked out once; -1 marks a column whose source is off the surface.
  std::vector<std::int32_t> sourceColumn(static_cast<std::size_t>(dRight - dLeft));
  for (std::int64_t x = dLeft; x < dRight; ++x) {
    const std::int64_t sx = srcX + (x - destX) * srcW / destW;
    sourceColumn[static_cast<std::size_t>(x - dLeft)] = (sx >= 0 && sx < width_) ? static_cast<std::int32_t>(sx) : -1;
  }
  for (std::int64_t y = dTop; y < dBottom; ++y) {
    const std::int64_t sy = srcY + (y - destY) * srcH / destH;
    if (sy < 0 || sy >= height_) continue;
    const std::uint32_t* from = Row(static_cast<int>(sy));
    std::uint32_t* to = dest.Row(static_cast<int>(y)) + dLeft;
    for (std::size_t i = 0; i < sourceColumn.size(); ++i) {
      if (sourceColumn[i] >= 0) to[i] = from[sourceColumn[i]];
    }
  }
  return true;
}

}  // namespace telorus::platform
