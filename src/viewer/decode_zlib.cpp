// Zlib: the rectangle's raw pixels through the connection's zlib stream.
#include <algorithm>

#include "viewer/big_endian.h"
#include "viewer/compressed_decoders.h"
#include "viewer/frame_bitmap.h"
#include "viewer/pixel_format.h"
#include "viewer/receive_buffer.h"

namespace telorus::viewer {

namespace {
constexpr std::size_t kBandBytes = std::size_t{256} << 10;
}

ZlibDecoder::ZlibDecoder() : window_(kBandBytes) {}

void ZlibDecoder::Begin(const RectangleHeader& rect) {
  rect_ = rect;
  stage_ = 0;
  rowsDone_ = 0;
  failure_.clear();
}

DecodeResult ZlibDecoder::Step(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels) {
  if (stage_ == 0) {
    std::uint8_t length[4];
    if (!buffer.TakeBytes(length, sizeof length)) return DecodeResult::NeedMore;
    window_.BeginBlock(stream_, ReadU32BE(length));
    stage_ = 1;
    return DecodeResult::PieceDone;
  }
  const std::size_t rowBytes = std::size_t{rect_.width} * static_cast<std::size_t>(pixels.BytesPerPixel());
  const std::uint32_t inputAtStart = window_.InputLeft();
  bool progress = false;
  InflatedWindow::Pull last = InflatedWindow::Pull::Progress;
  while (stage_ == 1) {
    if (rowsDone_ == rect_.height || rowBytes == 0) {
      stage_ = 2;
      break;
    }
    if (!window_.Ensure(buffer, rowBytes, progress, last)) break;
    const auto rows =
        static_cast<std::uint32_t>(std::min<std::size_t>(rect_.height - rowsDone_, window_.Available() / rowBytes));
    frame.PlotRawPixels(pixels, window_.Data(), rect_.x, std::int64_t{rect_.y} + rowsDone_, rect_.width, rows);
    window_.Consume(rows * rowBytes);
    rowsDone_ += rows;
    progress = true;
  }
  if (stage_ == 2 && window_.DrainBlock(buffer, last)) return DecodeResult::Finished;
  return InflateStepEnd(window_, last, stage_ == 1, "Zlib rectangle data ends before its pixels",
                        "Zlib rectangle data could not be used", progress || window_.InputLeft() != inputAtStart);
}

}  // namespace telorus::viewer
