// Hextile: the rectangle is walked in 16 x 16 tiles, left to right and top to
// bottom; each tile is a sub-encoding byte, then either raw pixels or an
// optional background, an optional foreground and optional subrectangles.
#include "viewer/decoders.h"
#include "viewer/frame_bitmap.h"
#include "viewer/pixel_format.h"
#include "viewer/receive_buffer.h"

namespace telorus::viewer {

DecodeResult RectangleDecoder::DecodeHextile(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels) {
  // A rectangle without area has no tiles, and so no data.
  if (rect_.width == 0 || rect_.height == 0) return DecodeResult::Finished;

  // Pieces are decoded one after another for as long as they are buffered,
  // rather than one per call: a tile is two or three small pieces, and the
  // trip back to the engine between them would cost more than the piece. A
  // call that decoded something reports PieceDone, so NeedMore still means
  // that nothing was taken.
  bool decodedAny = false;
  for (;;) {
    const DecodeResult result = HextilePiece(buffer, frame, pixels);
    if (result == DecodeResult::PieceDone) {
      decodedAny = true;
      continue;
    }
    if (result == DecodeResult::NeedMore && decodedAny) return DecodeResult::PieceDone;
    return result;
  }
}

DecodeResult RectangleDecoder::HextilePiece(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels) {
  switch (hextile_.HextileStage) {
    case 0: {
      std::uint8_t subencoding = 0;
      if (!buffer.TakeBytes(&subencoding, 1)) return DecodeResult::NeedMore;
      hextile_.TileSubencoding = subencoding;
      hextile_.HextileStage = 1;
      return DecodeResult::PieceDone;
    }
    case 1: return HextileTileBody(buffer, frame, pixels);
    default: return HextileSubrects(buffer, frame, pixels);
  }
}

DecodeResult RectangleDecoder::HextileTileBody(ReceiveBuffer& buffer, FrameBitmap& frame,
                                               const PixelConverter& pixels) {
  HextileState& tile = hextile_;
  const std::int32_t right = std::int32_t{rect_.x} + rect_.width;
  const std::int32_t bottom = std::int32_t{rect_.y} + rect_.height;
  tile.TileWidth = right - tile.TileX < 16 ? right - tile.TileX : 16;
  tile.TileHeight = bottom - tile.TileY < 16 ? bottom - tile.TileY : 16;
  const auto bytesPerPixel = static_cast<std::size_t>(pixels.BytesPerPixel());
  const std::uint8_t subencoding = tile.TileSubencoding;

  if (subencoding & kHextileRaw) {
    const std::size_t size =
        static_cast<std::size_t>(tile.TileWidth) * static_cast<std::size_t>(tile.TileHeight) * bytesPerPixel;
    const std::uint8_t* data = buffer.PeekView(size);
    if (data == nullptr) return DecodeResult::NeedMore;
    frame.PlotRawPixels(pixels, data, tile.TileX, tile.TileY, tile.TileWidth, tile.TileHeight);
    buffer.Discard(size);
    tile.HextileStage = 0;
    return NextTile();
  }

  const std::size_t size = ((subencoding & kHextileBackgroundSpecified) ? bytesPerPixel : 0) +
                           ((subencoding & kHextileForegroundSpecified) ? bytesPerPixel : 0) +
                           ((subencoding & kHextileAnySubrects) ? 1 : 0);
  const std::uint8_t* body = buffer.PeekView(size);
  if (body == nullptr) return DecodeResult::NeedMore;
  if (subencoding & kHextileBackgroundSpecified) {
    tile.HextileBackground = pixels.PixelToColor(pixels.ValueAt(body));
    body += bytesPerPixel;
  }
  // Every tile that is not raw starts as its background, given or kept.
  frame.Surface().FillRect(
      {tile.TileX, tile.TileY, std::int64_t{tile.TileX} + tile.TileWidth, std::int64_t{tile.TileY} + tile.TileHeight},
      tile.HextileBackground);
  if (subencoding & kHextileForegroundSpecified) {
    tile.HextileForeground = pixels.PixelToColor(pixels.ValueAt(body));
    body += bytesPerPixel;
  }
  tile.TileSubrectCount = 0;
  if (subencoding & kHextileAnySubrects) tile.TileSubrectCount = *body;
  buffer.Discard(size);
  if (subencoding & kHextileAnySubrects) {
    tile.HextileStage = 2;
    return DecodeResult::PieceDone;
  }
  return NextTile();
}

DecodeResult RectangleDecoder::HextileSubrects(ReceiveBuffer& buffer, FrameBitmap& frame,
                                               const PixelConverter& pixels) {
  HextileState& tile = hextile_;
  const bool coloured = (tile.TileSubencoding & kHextileSubrectsColoured) != 0;
  const std::size_t pixelSize = coloured ? static_cast<std::size_t>(pixels.BytesPerPixel()) : 0;
  const std::size_t subrectSize = pixelSize + 2;
  const std::size_t size = std::size_t{tile.TileSubrectCount} * subrectSize;
  const std::uint8_t* subrect = buffer.PeekView(size);
  if (subrect == nullptr) return DecodeResult::NeedMore;

  platform::Surface& surface = frame.Surface();
  for (unsigned i = 0; i < tile.TileSubrectCount; ++i, subrect += subrectSize) {
    // A coloured subrectangle's colour becomes the kept foreground.
    if (coloured) tile.HextileForeground = pixels.PixelToColor(pixels.ValueAt(subrect));
    const std::uint8_t position = subrect[pixelSize];
    const std::uint8_t extent = subrect[pixelSize + 1];
    const std::int64_t left = std::int64_t{tile.TileX} + (position >> 4);
    const std::int64_t top = std::int64_t{tile.TileY} + (position & 0x0F);
    surface.FillRect({left, top, left + (extent >> 4) + 1, top + (extent & 0x0F) + 1}, tile.HextileForeground);
  }
  buffer.Discard(size);
  return NextTile();
}

// `NextTile`: moves the tile cursor on; Finished after the last tile.
DecodeResult RectangleDecoder::NextTile() {
  HextileState& tile = hextile_;
  const std::int32_t right = std::int32_t{rect_.x} + rect_.width;
  const std::int32_t bottom = std::int32_t{rect_.y} + rect_.height;
  if (tile.TileX >= right - 16 && tile.TileY >= bottom - 16) return DecodeResult::Finished;
  tile.TileX += 16;
  if (tile.TileX < right) {
    tile.HextileStage = 0;
    return DecodeResult::PieceDone;
  }
  tile.TileY += 16;
  tile.TileX = rect_.x;
  if (tile.TileY < bottom) {
    tile.HextileStage = 0;
    return DecodeResult::PieceDone;
  }
  return DecodeResult::Finished;
}

}  // namespace telorus::viewer
