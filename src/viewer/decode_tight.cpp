// Tight: one colour, a JPEG picture, or filtered rows (copy, palette,
// gradient), compressed by one of four persistent zlib streams once they
// reach 12 bytes.
#include <algorithm>

#include "viewer/compressed_decoders.h"
#include "viewer/frame_bitmap.h"
#include "viewer/jpeg_decoder.h"
#include "viewer/pixel_format.h"
#include "viewer/receive_buffer.h"

namespace telorus::viewer {

namespace {

constexpr std::size_t kBandBytes = std::size_t{256} << 10;
// Filtered data shorter than this is sent as it is.
constexpr std::uint64_t kMinCompressed = 12;

constexpr std::uint8_t kMethodFill = 8;
constexpr std::uint8_t kMethodJpeg = 9;
constexpr std::uint8_t kMethodNoZlib = 0x0A;        // basic, without zlib
constexpr std::uint8_t kMethodNoZlibFilter = 0x0E;  // the same, with a filter byte
constexpr std::uint8_t kReadFilter = 0x40;

constexpr std::uint8_t kFilterCopy = 0;
constexpr std::uint8_t kFilterPalette = 1;
constexpr std::uint8_t kFilterGradient = 2;

}  // namespace

int ReadCompactLength(const std::uint8_t* data, std::size_t length, std::uint32_t& value) {
  if (length < 1) return 0;
  value = data[0] & 0x7Fu;
  if ((data[0] & 0x80u) == 0) return 1;
  if (length < 2) return 0;
  value |= std::uint32_t{data[1] & 0x7Fu} << 7;
  if ((data[1] & 0x80u) == 0) return 2;
  if (length < 3) return 0;
  value |= std::uint32_t{data[2]} << 14;
  return 3;
}

TightDecoder::TightDecoder() : window_(kBandBytes), jpeg_(std::make_unique<JpegDecoder>()) {}
TightDecoder::~TightDecoder() = default;

bool TightDecoder::JpegAvailable() { return JpegDecoder::Available(); }

void TightDecoder::NewConnection() {
  for (Inflater& stream : streams_) stream.Reset();
}

void TightDecoder::Begin(const RectangleHeader& rect) {
  rect_ = rect;
  stage_ = 0;
  rowsDone_ = 0;
  failure_.clear();
}

DecodeResult TightDecoder::Step(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels) {
  if (stage_ == 0) return Header(buffer, frame, pixels);
  // The sizes of this rectangle's rows were fixed by its header.
  if (TightCompactPixel(pixels).bytes != row_.Layout().bytes || pixels.BytesPerPixel() != pixels_->BytesPerPixel()) {
    return Fail("Pixel format changed inside a Tight rectangle");
  }
  if (stage_ == 1) return Jpeg(buffer, frame);
  return Rows(buffer, frame);
}

DecodeResult TightDecoder::Header(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels) {
  const std::size_t length = buffer.Unread();
  const std::uint8_t* data = buffer.PeekView(length);
  if (length < 1) return DecodeResult::NeedMore;
  const std::uint8_t control = data[0];
  const std::uint8_t method = control >> 4;
  pixels_ = &pixels;
  row_.Set(pixels, TightCompactPixel(pixels));
  const auto px = static_cast<std::size_t>(row_.Layout().bytes);
  std::size_t at = 1;

  // The streams named by the low four bits are reset before anything of the
  // rectangle is decoded, whatever its method.
  auto takeHeader = [&] {
    buffer.Discard(at);
    for (int i = 0; i < 4; ++i) {
      if (control & (1u << i)) streams_[static_cast<std::size_t>(i)].Reset();
    }
  };

  if (method == kMethodFill) {
    if (length - at < px) return DecodeResult::NeedMore;
    const std::uint32_t pixel = row_.One(data + at);
    at += px;
    takeHeader();
    frame.Surface().FillRect(
        {rect_.x, rect_.y, std::int64_t{rect_.x} + rect_.width, std::int64_t{rect_.y} + rect_.height},
        platform::MemoryToColour(pixel));
    return DecodeResult::Finished;
  }
  if (method == kMethodJpeg) {
    const int lengthBytes = ReadCompactLength(data + at, length - at, jpegLength_);
    if (lengthBytes == 0) return DecodeResult::NeedMore;
    at += static_cast<std::size_t>(lengthBytes);
    if (!buffer.CanHold(jpegLength_)) return Fail("Tight JPEG picture larger than the receive buffer");
    takeHeader();
    stage_ = 1;
    return DecodeResult::PieceDone;
  }
  const bool basic = (method & 8u) == 0;
  if (!basic && method != kMethodNoZlib && method != kMethodNoZlibFilter) {
    return Fail("Tight rectangle of unknown compression method " + std::to_string(method));
  }

  filter_ = Filter::Copy;
  int colours = 0;
  if (control & kReadFilter) {
    if (length - at < 1) return DecodeResult::NeedMore;
    const std::uint8_t id = data[at++];
    if (id == kFilterPalette) {
      if (length - at < 1) return DecodeResult::NeedMore;
      colours = data[at++] + 1;
      if (length - at < static_cast<std::size_t>(colours) * px) return DecodeResult::NeedMore;
      row_.Convert(data + at, static_cast<std::size_t>(colours), palette_.data());
      // An index past the palette reads black.
      std::fill(palette_.begin() + colours, palette_.end(), 0u);
      at += static_cast<std::size_t>(colours) * px;
      filter_ = Filter::Palette;
    } else if (id == kFilterGradient) {
      if (pixels.BytesPerPixel() == 1) return Fail("Tight gradient filter on 8-bit pixels");
      filter_ = Filter::Gradient;
    } else if (id != kFilterCopy) {
      return Fail("Tight rectangle of unknown filter " + std::to_string(id));
    }
  }
  switch (filter_) {
    case Filter::Palette: rowBytes_ = colours == 2 ? (std::size_t{rect_.width} + 7) / 8 : rect_.width; break;
    default: rowBytes_ = std::size_t{rect_.width} * px; break;
  }
  const std::uint64_t dataSize = std::uint64_t{rowBytes_} * rect_.height;
  compressed_ = basic && dataSize >= kMinCompressed;
  std::uint32_t compressedLength = 0;
  if (compressed_) {
    const int lengthBytes = ReadCompactLength(data + at, length - at, compressedLength);
    if (lengthBytes == 0) return DecodeResult::NeedMore;
    at += static_cast<std::size_t>(lengthBytes);
  }
  takeHeader();
  if (compressed_) window_.BeginBlock(streams_[(control >> 4) & 3u], compressedLength);
  out_.resize(rect_.width);
  if (filter_ == Filter::Gradient) above_.assign(std::size_t{rect_.width} * 3, 0);
  stage_ = 2;
  return DecodeResult::PieceDone;
}

DecodeResult TightDecoder::Jpeg(ReceiveBuffer& buffer, FrameBitmap& frame) {
  const std::uint8_t* picture = buffer.PeekView(jpegLength_);
  if (picture == nullptr) return DecodeResult::NeedMore;
  std::string error;
  if (!jpeg_->Decode(picture, jpegLength_, frame.Surface(), rect_.x, rect_.y, rect_.width, rect_.height, error)) {
    return Fail(error);
  }
  buffer.Discard(jpegLength_);
  return DecodeResult::Finished;
}

DecodeResult TightDecoder::Rows(ReceiveBuffer& buffer, FrameBitmap& frame) {
  const std::uint32_t bandRows =
      static_cast<std::uint32_t>(std::max<std::size_t>(1, kBandBytes / std::max<std::size_t>(1, rowBytes_)));
  if (!compressed_) {
    // Short data and Tight without zlib come as they are, row by row.
    if (rowBytes_ == 0 || rowsDone_ == rect_.height) return DecodeResult::Finished;
    if (!buffer.CanHold(rowBytes_)) return Fail("Tight row larger than the receive buffer");
    const auto rows = static_cast<std::uint32_t>(
        std::min<std::size_t>({std::size_t{rect_.height} - rowsDone_, buffer.Unread() / rowBytes_, bandRows}));
    if (rows == 0) return DecodeResult::NeedMore;
    DrawRows(frame, buffer.PeekView(rows * rowBytes_), rows);
    buffer.Discard(rows * rowBytes_);
    return rowsDone_ == rect_.height ? DecodeResult::Finished : DecodeResult::PieceDone;
  }

  const std::uint32_t inputAtStart = window_.InputLeft();
  bool progress = false;
  InflatedWindow::Pull last = InflatedWindow::Pull::Progress;
  while (stage_ == 2) {
    if (rowsDone_ == rect_.height || rowBytes_ == 0) {
      stage_ = 3;
      break;
    }
    if (!window_.Ensure(buffer, rowBytes_, progress, last)) break;
    const auto rows =
        static_cast<std::uint32_t>(std::min<std::size_t>(rect_.height - rowsDone_, window_.Available() / rowBytes_));
    DrawRows(frame, window_.Data(), rows);
    window_.Consume(rows * rowBytes_);
    progress = true;
  }
  if (stage_ == 3 && window_.DrainBlock(buffer, last)) return DecodeResult::Finished;
  return InflateStepEnd(window_, last, stage_ == 2, "Tight rectangle data ends before its pixels",
                        "Tight rectangle data could not be used", progress || window_.InputLeft() != inputAtStart);
}

void TightDecoder::DrawRows(FrameBitmap& frame, const std::uint8_t* data, std::uint32_t count) {
  const std::size_t width = rect_.width;
  platform::Surface& surface = frame.Surface();
  // Rows that lie wholly on the framebuffer are converted straight into it.
  const bool across = std::int64_t{rect_.x} + rect_.width <= surface.Width();
  for (std::uint32_t i = 0; i < count; ++i, data += rowBytes_) {
    const std::int64_t y = std::int64_t{rect_.y} + rowsDone_;
    const bool direct = across && y < surface.Height();
    std::uint32_t* out = direct ? surface.Row(static_cast<int>(y)) + rect_.x : out_.data();
    switch (filter_) {
      case Filter::Copy: row_.Convert(data, width, out); break;
      case Filter::Palette:
        if (rowBytes_ < width) {  // two colours, a bit each, leftmost first
          for (std::size_t x = 0; x < width; ++x) out[x] = palette_[(data[x >> 3] >> (7 - (x & 7))) & 1u];
        } else {
          for (std::size_t x = 0; x < width; ++x) out[x] = palette_[data[x]];
        }
        break;
      case Filter::Gradient: GradientRow(data, out); break;
    }
    if (!direct) PutPixels(surface, rect_.x, y, out, static_cast<std::int64_t>(width));
    ++rowsDone_;
  }
}

// Each channel was sent as its difference from a prediction made of the
// pixel to the left, the one above and the one above-left (zero outside the
// rectangle), clamped to the channel's range.
void TightDecoder::GradientRow(const std::uint8_t* data, std::uint32_t* out) {
  const std::size_t width = rect_.width;
  const PixelFormat& f = pixels_->Format();
  const bool rgb = row_.Layout().kind == CompactPixel::Kind::Rgb;
  const std::uint16_t max[3] = {rgb ? std::uint16_t{255} : f.redMax, rgb ? std::uint16_t{255} : f.greenMax,
                                rgb ? std::uint16_t{255} : f.blueMax};
  const unsigned shift[3] = {f.redShift & 31u, f.greenShift & 31u, f.blueShift & 31u};
  const auto px = static_cast<std::size_t>(row_.Layout().bytes);
  int left[3] = {0, 0, 0};
  int aboveLeft[3] = {0, 0, 0};
  std::uint16_t* above = above_.data();
  const bool big = f.bigEndian != 0;
  const int bytes = pixels_->BytesPerPixel();
  if (!rgb) raw_.resize(width * static_cast<std::size_t>(bytes));
  std::uint8_t* raw = raw_.data();
  for (std::size_t x = 0; x < width; ++x, data += px, above += 3) {
    int difference[3];
    if (rgb) {
      difference[0] = data[0];
      difference[1] = data[1];
      difference[2] = data[2];
    } else {
      const std::uint32_t value = pixels_->ValueAt(data);
      for (int c = 0; c < 3; ++c) difference[c] = static_cast<int>((value >> shift[c]) & max[c]);
    }
    std::uint32_t channels[3];
    for (int c = 0; c < 3; ++c) {
      const int predicted = std::clamp(left[c] + above[c] - aboveLeft[c], 0, int{max[c]});
      const int value = (predicted + difference[c]) & max[c];
      aboveLeft[c] = above[c];
      above[c] = static_cast<std::uint16_t>(value);
      left[c] = value;
      channels[c] = static_cast<std::uint32_t>(value);
    }
    if (rgb) {
      out[x] = (channels[0] << 16) | (channels[1] << 8) | channels[2];
    } else {
      // Rebuild the pixel value; the row is converted as raw pixels are.
      const std::uint32_t value = (channels[0] << shift[0]) | (channels[1] << shift[1]) | (channels[2] << shift[2]);
      for (int b = 0; b < bytes; ++b) {
        const int position = big ? bytes - 1 - b : b;
        raw[b] = static_cast<std::uint8_t>(value >> (8 * position));
      }
      raw += bytes;
    }
  }
  if (!rgb) pixels_->ConvertRawRow(raw_.data(), width, out);
}

}  // namespace telorus::viewer
