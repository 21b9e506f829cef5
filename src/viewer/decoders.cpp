#include "viewer/decoders.h"

#include <algorithm>

#include "viewer/big_endian.h"
#include "viewer/compressed_decoders.h"
#include "viewer/frame_bitmap.h"
#include "viewer/pixel_format.h"
#include "viewer/receive_buffer.h"

namespace telorus::viewer {

RectangleHeader RectangleHeader::FromWire(const std::uint8_t* wire) {
  return {ReadU16BE(wire), ReadU16BE(wire + 2), ReadU16BE(wire + 4), ReadU16BE(wire + 6), ReadU32BE(wire + 8)};
}

RectangleDecoder::RectangleDecoder() {
  table_.emplace_back(rfb::kEncodingZlib, std::make_unique<ZlibDecoder>());
  table_.emplace_back(rfb::kEncodingTight, std::make_unique<TightDecoder>());
  table_.emplace_back(rfb::kEncodingTRLE, std::make_unique<TrleDecoder>());
  table_.emplace_back(rfb::kEncodingZRLE, std::make_unique<ZrleDecoder>());
}

RectangleDecoder::~RectangleDecoder() = default;

void RectangleDecoder::NewConnection() {
  for (auto& entry : table_) entry.second->NewConnection();
  current_ = nullptr;
}

bool RectangleDecoder::Decodes(std::uint32_t encoding) const {
  if (encoding == kEncodingRaw || encoding == kEncodingCopyRect || encoding == kEncodingRRE ||
      encoding == kEncodingCoRRE || encoding == kEncodingHextile) {
    return true;
  }
  return std::any_of(table_.begin(), table_.end(), [&](const auto& entry) { return entry.first == encoding; });
}

void RectangleDecoder::BeginRectangle(const RectangleHeader& header) {
  rect_ = header;
  failure_.clear();
  current_ = nullptr;
  for (auto& entry : table_) {
    if (entry.first == header.encoding) {
      current_ = entry.second.get();
      current_->Begin(header);
    }
  }
  switch (header.encoding) {
    case kEncodingRaw: rawRowsDone_ = 0; break;
    case kEncodingRRE:
    case kEncodingCoRRE: rre_.RreStage = 0; break;
    case kEncodingHextile:
      hextile_.TileX = header.x;
      hextile_.TileY = header.y;
      hextile_.HextileStage = 0;
      break;
    default: break;
  }
}

DecodeResult RectangleDecoder::DecodeStep(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels) {
  const std::uint32_t encoding = rect_.encoding;
  if (encoding == kEncodingCopyRect) return DecodeCopyRect(buffer, frame);
  if (!Decodes(encoding)) return DecodeResult::Finished;
  if (!pixels.Usable()) {
    const std::string problem = CheckPixelFormat(pixels.Format());
    return Fail(problem.empty() ? "Unusable pixel format" : problem);
  }
  if (current_ != nullptr) {
    const DecodeResult result = current_->Step(buffer, frame, pixels);
    if (result == DecodeResult::Failed) failure_ = current_->FailureText();
    return result;
  }
  switch (encoding) {
    case kEncodingRaw: return DecodeRaw(buffer, frame, pixels);
    case kEncodingRRE: return DecodeRRE(buffer, frame, pixels, false);
    case kEncodingCoRRE: return DecodeRRE(buffer, frame, pixels, true);
    default: return DecodeHextile(buffer, frame, pixels);
  }
}

DecodeResult RectangleDecoder::Fail(std::string text) {
  failure_ = std::move(text);
  return DecodeResult::Failed;
}

bool RectangleDecoder::Fits(const ReceiveBuffer& buffer, std::uint64_t size, const char* what) {
  if (buffer.CanHold(size)) return true;
  failure_ = std::string(what) + " of " + std::to_string(size) + " bytes exceeds the receive buffer limit of " +
             std::to_string(buffer.Cap()) + " bytes";
  return false;
}

// Raw: the pixel data is taken a band of whole rows at a time, as the rows
// arrive. A part of a row is left in the buffer until the row is complete.
// Rows are drawn while their bytes are fresh in the cache, and a rectangle of
// any size decodes with a receive buffer of one row (256 KiB at most). A band
// covers at most kRawBandBytes of framebuffer, so that the engine's copy of
// the band to the window still finds it in the cache.
DecodeResult RectangleDecoder::DecodeRaw(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels) {
  const std::size_t rowBytes = std::size_t{rect_.width} * static_cast<std::size_t>(pixels.BytesPerPixel());
  const std::uint32_t rowsLeft = rect_.height - rawRowsDone_;
  if (rowBytes == 0 || rowsLeft == 0) return DecodeResult::Finished;
  if (!Fits(buffer, rowBytes, "Raw row")) return DecodeResult::Failed;
  const std::size_t bandRows = std::max<std::size_t>(1, kRawBandBytes / (std::size_t{rect_.width} * 4));
  const auto rows = static_cast<std::uint32_t>(std::min<std::size_t>({rowsLeft, buffer.Unread() / rowBytes, bandRows}));
  if (rows == 0) return DecodeResult::NeedMore;
  const std::size_t size = rows * rowBytes;
  frame.PlotRawPixels(pixels, buffer.PeekView(size), rect_.x, std::int64_t{rect_.y} + rawRowsDone_, rect_.width, rows);
  buffer.Discard(size);
  rawRowsDone_ += rows;
  return rawRowsDone_ == rect_.height ? DecodeResult::Finished : DecodeResult::PieceDone;
}

// CopyRect: source position, then a block copy within the framebuffer.
DecodeResult RectangleDecoder::DecodeCopyRect(ReceiveBuffer& buffer, FrameBitmap& frame) {
  std::uint8_t source[4];
  if (!buffer.TakeBytes(source, sizeof source)) return DecodeResult::NeedMore;
  const std::uint16_t sourceX = ReadU16BE(source);
  const std::uint16_t sourceY = ReadU16BE(source + 2);
  if (copyRectNotice_) {
    const CopyRectNotice notice = copyRectNotice_;
    if (!notice(sourceX, sourceY)) return DecodeResult::Finished;
  }
  frame.Surface().CopyRect(sourceX, sourceY, rect_.width, rect_.height, rect_.x, rect_.y);
  return DecodeResult::Finished;
}

// RRE and CoRRE: a header (subrectangle count and background pixel), then the
// whole subrectangle list in one piece.
DecodeResult RectangleDecoder::DecodeRRE(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels,
                                         bool compact) {
  const auto bytesPerPixel = static_cast<std::size_t>(pixels.BytesPerPixel());
  platform::Surface& surface = frame.Surface();

  if (rre_.RreStage == 0) {
    const std::uint8_t* header = buffer.PeekView(4 + bytesPerPixel);
    if (header == nullptr) return DecodeResult::NeedMore;
    rre_.SubrectCount = ReadU32BE(header);
    const Colour background = pixels.PixelToColor(pixels.ValueAt(header + 4));
    buffer.Discard(4 + bytesPerPixel);
    surface.FillRect({rect_.x, rect_.y, std::int64_t{rect_.x} + rect_.width, std::int64_t{rect_.y} + rect_.height},
                     background);
    if (rre_.SubrectCount == 0) return DecodeResult::Finished;
    rre_.RreStage = 1;
    return DecodeResult::PieceDone;
  }

  const std::size_t subrectSize = bytesPerPixel + (compact ? 4 : 8);
  const std::uint64_t listSize = std::uint64_t{rre_.SubrectCount} * subrectSize;
  if (!Fits(buffer, listSize, compact ? "CoRRE subrectangle list" : "RRE subrectangle list")) {
    return DecodeResult::Failed;
  }
  const std::uint8_t* subrect = buffer.PeekView(static_cast<std::size_t>(listSize));
  if (subrect == nullptr) return DecodeResult::NeedMore;
  for (std::uint32_t i = 0; i < rre_.SubrectCount; ++i, subrect += subrectSize) {
    const Colour colour = pixels.PixelToColor(pixels.ValueAt(subrect));
    const std::uint8_t* geometry = subrect + bytesPerPixel;
    std::uint16_t subX, subY, subWidth, subHeight;
    if (compact) {
      subX = geometry[0];
      subY = geometry[1];
      subWidth = geometry[2];
      subHeight = geometry[3];
    } else {
      subX = ReadU16BE(geometry);
      subY = ReadU16BE(geometry + 2);
      subWidth = ReadU16BE(geometry + 4);
      subHeight = ReadU16BE(geometry + 6);
    }
    // Positions are relative to the rectangle, in 16-bit arithmetic.
    const auto left = static_cast<std::uint16_t>(rect_.x + subX);
    const auto top = static_cast<std::uint16_t>(rect_.y + subY);
    surface.FillRect({left, top, std::int64_t{left} + subWidth, std::int64_t{top} + subHeight}, colour);
  }
  buffer.Discard(static_cast<std::size_t>(listSize));
  return DecodeResult::Finished;
}

}  // namespace telorus::viewer
