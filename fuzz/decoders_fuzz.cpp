// Fuzzes the rectangle decoders directly: the input chooses the pixel format
// (8, 16 or 32 bits, either byte order) and then holds rectangle headers and
// their data, fed to the decoder in input-chosen pieces on a small
// framebuffer, as the engine does.
#include <cstddef>
#include <cstdint>
#include <string>

#include "viewer/decoders.h"
#include "viewer/frame_bitmap.h"
#include "viewer/pixel_format.h"
#include "viewer/receive_buffer.h"

using namespace telorus::viewer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  static const PixelFormat kFormats[] = {
      {32, 24, 0, 1, 255, 255, 255, 16, 8, 0},
      {32, 24, 1, 1, 255, 255, 255, 0, 8, 16},
      {16, 16, 0, 1, 31, 63, 31, 11, 5, 0},
      {16, 15, 1, 1, 31, 31, 31, 10, 5, 0},
      EightBitFormat(),
  };
  const PixelConverter pixels(kFormats[data[0] % 5]);
  const std::size_t piece = 1 + data[1] % 97;
  data += 2;
  size -= 2;
  std::string error;
  auto frame = FrameBitmap::Create(64, 48, error);
  ReceiveBuffer buffer(1 << 20);
  RectangleDecoder decoder;
  bool inRectangle = false;
  while (size > 0 || buffer.Unread() > 0) {
    const std::size_t n = size < piece ? size : piece;
    if (n > 0 && !buffer.Append(data, n)) return 0;
    data += n;
    size -= n;
    for (;;) {
      if (!inRectangle) {
        std::uint8_t header[RectangleHeader::kWireSize];
        if (!buffer.TakeBytes(header, sizeof header)) break;
        decoder.BeginRectangle(RectangleHeader::FromWire(header));
        inRectangle = true;
      }
      DecodeResult r = decoder.DecodeStep(buffer, *frame, pixels);
      if (r == DecodeResult::PieceDone) continue;
      if (r == DecodeResult::NeedMore) break;
      if (r == DecodeResult::Failed) return 0;
      inRectangle = false;
    }
    if (n == 0) break;
  }
  return 0;
}
