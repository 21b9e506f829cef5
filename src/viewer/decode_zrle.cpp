// ZRLE and TRLE: tiles of raw pixels, one colour, packed palettes or runs;
// ZRLE's 64 x 64 tiles come out of its zlib stream, TRLE's 16 x 16 ones
// straight off the wire.
#include <algorithm>

#include "viewer/big_endian.h"
#include "viewer/compressed_decoders.h"
#include "viewer/frame_bitmap.h"
#include "viewer/pixel_format.h"
#include "viewer/receive_buffer.h"

namespace telorus::viewer {

namespace {

// ZRLE's window: far more than the largest tile (64 x 64 runs of one pixel
// of four bytes with a length byte each is 20 KiB).
constexpr std::size_t kZrleWindow = std::size_t{64} << 10;

// Decodes a tile straight into the framebuffer where it lies wholly on it,
// otherwise aside and then the part that lies on it.
TileRunDecoder::Outcome DecodeTile(TileRunDecoder& tiles, FrameBitmap& frame, const std::uint8_t* data,
                                   std::size_t length, std::int64_t x, std::int64_t y, int width, int height, bool trle,
                                   std::size_t& used) {
  platform::Surface& surface = frame.Surface();
  const bool inside = x + width <= surface.Width() && y + height <= surface.Height();
  std::uint32_t* out = inside ? surface.Row(static_cast<int>(y)) + x : nullptr;
  const std::ptrdiff_t stride = surface.Stride() / 4;
  const auto outcome = tiles.Tile(data, length, width, height, trle, used, out, stride);
  if (outcome != TileRunDecoder::Outcome::Done) return outcome;
  if (tiles.Solid()) {
    surface.FillRect({x, y, x + width, y + height}, platform::MemoryToColour(tiles.SolidPixel()));
  } else if (!inside) {
    PutBlock(surface, x, y, width, height, tiles.Pixels(), static_cast<std::size_t>(width));
  }
  return outcome;
}

}  // namespace

// ---- Tiles ----

TileRunDecoder::Outcome TileRunDecoder::Tile(const std::uint8_t* data, std::size_t length, int width, int height,
                                             bool trle, std::size_t& used, std::uint32_t* out, std::ptrdiff_t stride) {
  if (length < 1) return Outcome::Short;
  if (out == nullptr) {
    out = pixels_.data();
    stride = width;
  }
  const std::uint8_t subencoding = data[0];
  const auto px = static_cast<std::size_t>(PixelBytes());
  const int count = width * height;
  std::size_t at = 1;
  solid_ = false;

  // Reads a palette of `size` entries at `at`; entries past it are black, so
  // an index beyond the palette reads black rather than memory.
  auto readPalette = [&](int size) -> bool {
    if (length - at < static_cast<std::size_t>(size) * px) return false;
    row_.Convert(data + at, static_cast<std::size_t>(size), palette_.data());
    std::fill(palette_.begin() + size, palette_.end(), 0u);
    at += static_cast<std::size_t>(size) * px;
    paletteSize_ = size;
    return true;
  };

  if (subencoding == 0) {  // raw
    const std::size_t bytes = static_cast<std::size_t>(count) * px;
    if (length - at < bytes) return Outcome::Short;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * px;
    for (int y = 0; y < height; ++y) {
      row_.Convert(data + at + rowBytes * static_cast<std::size_t>(y), static_cast<std::size_t>(width),
                   out + stride * y);
    }
    used = at + bytes;
    return Outcome::Done;
  }
  if (subencoding == 1) {  // one colour
    if (length - at < px) return Outcome::Short;
    solidPixel_ = row_.One(data + at);
    solid_ = true;
    used = at + px;
    return Outcome::Done;
  }
  if (subencoding <= 16 || (trle && subencoding == 127)) {  // packed palette
    int size = subencoding;
    if (subencoding == 127) {
      if (paletteSize_ < 2 || paletteSize_ > 16) return Bad("TRLE tile reuses a palette it does not have");
      size = paletteSize_;
    } else if (!readPalette(size)) {
      return Outcome::Short;
    }
    const int bits = size == 2 ? 1 : size <= 4 ? 2 : 4;
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * bits + 7) / 8;
    if (length - at < rowBytes * height) return Outcome::Short;
    const std::uint8_t* packed = data + at;
    const unsigned mask = (1u << bits) - 1;
    for (int y = 0; y < height; ++y, packed += rowBytes) {
      std::uint32_t* row = out + stride * y;
      for (int x = 0; x < width; ++x) {
        const int bit = x * bits;
        const unsigned index = (packed[bit >> 3] >> (8 - bits - (bit & 7))) & mask;
        row[x] = palette_[index];
      }
    }
    used = at + rowBytes * height;
    return Outcome::Done;
  }
  if (subencoding == 128) return Runs(data, length, at, width, height, false, used, out, stride);
  if (subencoding == 129) {
    if (!trle) return Bad("ZRLE tile of unused sub-encoding 129");
    if (paletteSize_ < 1) return Bad("TRLE tile reuses a palette it does not have");
    return Runs(data, length, at, width, height, true, used, out, stride);
  }
  if (subencoding >= 130) {
    if (!readPalette(subencoding - 128)) return Outcome::Short;
    return Runs(data, length, at, width, height, true, used, out, stride);
  }
  return Bad(trle ? "TRLE tile of an unused sub-encoding" : "ZRLE tile of an unused sub-encoding");
}

TileRunDecoder::Outcome TileRunDecoder::Runs(const std::uint8_t* data, std::size_t length, std::size_t at, int width,
                                             int height, bool indexed, std::size_t& used, std::uint32_t* out,
                                             std::ptrdiff_t stride) {
  const auto px = static_cast<std::size_t>(PixelBytes());
  const int count = width * height;
  // Runs go on from the end of one row to the start of the next.
  std::uint32_t* row = out;
  int column = 0;
  int done = 0;
  while (done < count) {
    std::uint32_t pixel;
    bool longRun = true;
    if (indexed) {
      if (at >= length) return Outcome::Short;
      const std::uint8_t index = data[at++];
      pixel = palette_[index & 127u];
      longRun = (index & 128u) != 0;
    } else {
      if (length - at < px) return Outcome::Short;
      pixel = row_.One(data + at);
      at += px;
    }
    int run = 1;
    if (longRun) {
      for (;;) {
        if (at >= length) return Outcome::Short;
        const std::uint8_t part = data[at++];
        run += part;
        if (run > count - done) return Bad("Run longer than its tile");
        if (part != 255) break;
      }
    }
    done += run;
    if (column + run < width) {  // most runs stay within their row
      std::uint32_t* at0 = row + column;
      for (int i = 0; i < run; ++i) at0[i] = pixel;
      column += run;
      continue;
    }
    while (run > 0) {
      const int n = std::min(run, width - column);
      std::fill(row + column, row + column + n, pixel);
      column += n;
      run -= n;
      if (column == width) {
        column = 0;
        row += stride;
      }
    }
  }
  used = at;
  return Outcome::Done;
}

// ---- ZRLE ----

ZrleDecoder::ZrleDecoder() : window_(kZrleWindow) {}

void ZrleDecoder::Begin(const RectangleHeader& rect) {
  rect_ = rect;
  stage_ = 0;
  tileX_ = rect.x;
  tileY_ = rect.y;
  failure_.clear();
}

DecodeResult ZrleDecoder::Step(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels) {
  if (stage_ == 0) {
    std::uint8_t length[4];
    if (!buffer.TakeBytes(length, sizeof length)) return DecodeResult::NeedMore;
    window_.BeginBlock(stream_, ReadU32BE(length));
    stage_ = 1;
    return DecodeResult::PieceDone;
  }
  tiles_.SetFormat(pixels, ZrleCompactPixel(pixels));
  const std::uint32_t inputAtStart = window_.InputLeft();
  bool drew = false;
  InflatedWindow::Pull last = InflatedWindow::Pull::Progress;
  const std::int64_t right = std::int64_t{rect_.x} + rect_.width;
  const std::int64_t bottom = std::int64_t{rect_.y} + rect_.height;
  while (stage_ == 1) {
    if (tileY_ >= bottom || rect_.width == 0) {
      stage_ = 2;
      break;
    }
    const int width = static_cast<int>(std::min<std::int64_t>(64, right - tileX_));
    const int height = static_cast<int>(std::min<std::int64_t>(64, bottom - tileY_));
    std::size_t used = 0;
    const auto outcome =
        DecodeTile(tiles_, frame, window_.Data(), window_.Available(), tileX_, tileY_, width, height, false, used);
    if (outcome == TileRunDecoder::Outcome::Bad) return Fail(tiles_.Error());
    if (outcome == TileRunDecoder::Outcome::Short) {
      if (window_.Available() == window_.Capacity()) return Fail("ZRLE tile larger than a tile can be");
      last = window_.More(buffer);
      if (last == InflatedWindow::Pull::Progress) continue;
      break;
    }
    drew = true;
    window_.Consume(used);
    tileX_ += 64;
    if (tileX_ >= right) {
      tileX_ = rect_.x;
      tileY_ += 64;
    }
  }
  if (stage_ == 2 && window_.DrainBlock(buffer, last)) return DecodeResult::Finished;
  return InflateStepEnd(window_, last, stage_ == 1, "ZRLE rectangle data ends inside a tile",
                        "ZRLE rectangle data could not be used", drew || window_.InputLeft() != inputAtStart);
}

// ---- TRLE ----

void TrleDecoder::Begin(const RectangleHeader& rect) {
  rect_ = rect;
  tileX_ = rect.x;
  tileY_ = rect.y;
  failure_.clear();
}

DecodeResult TrleDecoder::Step(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels) {
  tiles_.SetFormat(pixels, ZrleCompactPixel(pixels));
  const std::int64_t right = std::int64_t{rect_.x} + rect_.width;
  const std::int64_t bottom = std::int64_t{rect_.y} + rect_.height;
  bool drew = false;
  while (tileY_ < bottom && rect_.width != 0) {
    const int width = static_cast<int>(std::min<std::int64_t>(16, right - tileX_));
    const int height = static_cast<int>(std::min<std::int64_t>(16, bottom - tileY_));
    const std::size_t unread = buffer.Unread();
    std::size_t used = 0;
    const auto outcome =
        DecodeTile(tiles_, frame, buffer.PeekView(unread), unread, tileX_, tileY_, width, height, true, used);
    if (outcome == TileRunDecoder::Outcome::Bad) return Fail(tiles_.Error());
    if (outcome == TileRunDecoder::Outcome::Short) {
      return drew ? DecodeResult::PieceDone : DecodeResult::NeedMore;
    }
    drew = true;
    buffer.Discard(used);
    tileX_ += 16;
    if (tileX_ >= right) {
      tileX_ = rect_.x;
      tileY_ += 16;
    }
  }
  return DecodeResult::Finished;
}

}  // namespace telorus::viewer
