#include "viewer/encoding_decoder.h"

#include <cstring>

#include "viewer/big_endian.h"
#include "viewer/pixel_format.h"

namespace telorus::viewer {

namespace {

// The bits of the format that carry colour.
std::uint64_t ColourMask(const PixelFormat& f) {
  return (std::uint64_t{f.redMax} << (f.redShift & 63u)) | (std::uint64_t{f.greenMax} << (f.greenShift & 63u)) |
         (std::uint64_t{f.blueMax} << (f.blueShift & 63u));
}

}  // namespace

CompactPixel ZrleCompactPixel(const PixelConverter& pixels) {
  const PixelFormat& f = pixels.Format();
  const int full = pixels.BytesPerPixel();
  if (!f.trueColour || f.bitsPerPixel != 32 || f.depth > 24) return {CompactPixel::Kind::Full, full};
  const std::uint64_t mask = ColourMask(f);
  if (mask < (std::uint64_t{1} << 24)) return {CompactPixel::Kind::Low3, 3};
  if ((mask & 0xFFu) == 0 && mask < (std::uint64_t{1} << 32)) return {CompactPixel::Kind::High3, 3};
  return {CompactPixel::Kind::Full, full};
}

CompactPixel TightCompactPixel(const PixelConverter& pixels) {
  const PixelFormat& f = pixels.Format();
  if (f.trueColour && f.bitsPerPixel == 32 && f.depth == 24 && f.redMax == 255 && f.greenMax == 255 &&
      f.blueMax == 255) {
    return {CompactPixel::Kind::Rgb, 3};
  }
  return {CompactPixel::Kind::Full, pixels.BytesPerPixel()};
}

void CompactPixelRow::Set(const PixelConverter& pixels, CompactPixel layout) {
  pixels_ = &pixels;
  layout_ = layout;
  const bool little = pixels.Format().bigEndian == 0;
  direct_ = layout.kind == CompactPixel::Kind::Rgb || (layout.kind == CompactPixel::Kind::Low3 && little &&
                                                       pixels.ConversionPath() == PixelConverter::Path::Rgb32);
}

void CompactPixelRow::Convert(const std::uint8_t* source, std::size_t count, std::uint32_t* dest) {
  switch (layout_.kind) {
    case CompactPixel::Kind::Full: pixels_->ConvertRawRow(source, count, dest); return;
    case CompactPixel::Kind::Rgb: {
      // Four bytes are loaded for each pixel but the last (the fourth is the
      // next pixel's), so no byte past the row is read.
      std::size_t i = 0;
      for (; i + 1 < count; ++i, source += 3) dest[i] = __builtin_bswap32(ReadU32LE(source)) >> 8;
      for (; i < count; ++i, source += 3) {
        dest[i] = (std::uint32_t{source[0]} << 16) | (std::uint32_t{source[1]} << 8) | source[2];
      }
      return;
    }
    case CompactPixel::Kind::Low3:
    case CompactPixel::Kind::High3: break;
  }
  if (direct_) {
    std::size_t i = 0;
    for (; i + 1 < count; ++i, source += 3) dest[i] = ReadU32LE(source) & 0x00FFFFFFu;
    for (; i < count; ++i, source += 3) {
      dest[i] = source[0] | (std::uint32_t{source[1]} << 8) | (std::uint32_t{source[2]} << 16);
    }
    return;
  }
  // Rebuild whole pixels in the format's byte order, then convert them as
  // raw pixels. The three bytes sit at the start of the four unless they are
  // the low bytes of a big-endian value or the high bytes of a little-endian
  // one.
  const bool big = pixels_->Format().bigEndian != 0;
  const std::size_t offset = (layout_.kind == CompactPixel::Kind::Low3) == big ? 1 : 0;
  if (widened_.size() < count * 4) widened_.resize(count * 4);
  std::uint8_t* out = widened_.data();
  for (std::size_t i = 0; i < count; ++i, source += 3, out += 4) {
    out[0] = out[1] = out[2] = out[3] = 0;
    std::memcpy(out + offset, source, 3);
  }
  pixels_->ConvertRawRow(widened_.data(), count, dest);
}

void PutPixels(platform::Surface& surface, std::int64_t x, std::int64_t y, const std::uint32_t* pixels,
               std::int64_t count) {
  const platform::Rect visible = surface.Clip({x, y, x + count, y + 1});
  if (visible.Empty()) return;
  std::memcpy(surface.Row(static_cast<int>(y)) + visible.left, pixels + (visible.left - x),
              static_cast<std::size_t>(visible.Width()) * 4);
}

void PutBlock(platform::Surface& surface, std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height,
              const std::uint32_t* pixels, std::size_t stride) {
  const platform::Rect visible = surface.Clip({x, y, x + width, y + height});
  if (visible.Empty()) return;
  const auto bytes = static_cast<std::size_t>(visible.Width()) * 4;
  for (std::int64_t row = visible.top; row < visible.bottom; ++row) {
    std::memcpy(surface.Row(static_cast<int>(row)) + visible.left,
                pixels + static_cast<std::size_t>(row - y) * stride + (visible.left - x), bytes);
  }
}

}  // namespace telorus::viewer
