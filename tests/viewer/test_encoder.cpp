#include "test_encoder.h"

#include <algorithm>
#include <random>

#include "viewer/frame_bitmap.h"
#include "viewer/receive_buffer.h"

namespace telorus::viewer::test {

PixelFormat TrueColour(int bpp, int red, int green, int blue, int redShift, int greenShift, int blueShift,
                       bool bigEndian) {
  PixelFormat format;
  format.bitsPerPixel = static_cast<std::uint8_t>(bpp);
  format.depth = static_cast<std::uint8_t>(bpp == 32 ? 24 : bpp);
  format.bigEndian = bigEndian ? 1 : 0;
  format.trueColour = 1;
  format.redMax = static_cast<std::uint16_t>(red);
  format.greenMax = static_cast<std::uint16_t>(green);
  format.blueMax = static_cast<std::uint16_t>(blue);
  format.redShift = static_cast<std::uint8_t>(redShift);
  format.greenShift = static_cast<std::uint8_t>(greenShift);
  format.blueShift = static_cast<std::uint8_t>(blueShift);
  return format;
}

Colour ExpectedColour(const PixelFormat& format, std::uint32_t pixel) {
  const auto level = [pixel](unsigned shift, std::uint32_t max) {
    std::uint32_t value = pixel;
    for (unsigned i = 0; i < shift % 32; ++i) value /= 2;
    value %= (max + 1);  // maxima in these tests are all 2^n - 1
    return value * 255 / max;
  };
  return level(format.redShift, format.redMax) | (level(format.greenShift, format.greenMax) << 8) |
         (level(format.blueShift, format.blueMax) << 16);
}

void PutPixel(Bytes& out, const PixelFormat& format, std::uint32_t pixel) {
  const int size = format.bitsPerPixel / 8;
  for (int i = 0; i < size; ++i) {
    const int byte = format.bigEndian ? size - 1 - i : i;
    out.push_back(static_cast<std::uint8_t>(pixel >> (8 * byte)));
  }
}

void PutU16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void PutU32(Bytes& out, std::uint32_t value) {
  PutU16(out, static_cast<std::uint16_t>(value >> 16));
  PutU16(out, static_cast<std::uint16_t>(value));
}

EncodedRect EncodeRaw(const RectangleHeader& header, const PixelFormat& format,
                      const std::vector<std::uint32_t>& pixels) {
  EncodedRect rect{header, {}};
  rect.header.encoding = kEncodingRaw;
  for (const std::uint32_t pixel : pixels) PutPixel(rect.body, format, pixel);
  return rect;
}

EncodedRect EncodeCopyRect(const RectangleHeader& header, std::uint16_t sourceX, std::uint16_t sourceY) {
  EncodedRect rect{header, {}};
  rect.header.encoding = kEncodingCopyRect;
  PutU16(rect.body, sourceX);
  PutU16(rect.body, sourceY);
  return rect;
}

EncodedRect EncodeRRE(const RectangleHeader& header, const PixelFormat& format, std::uint32_t background,
                      const std::vector<Subrect>& subrects, bool compact) {
  EncodedRect rect{header, {}};
  rect.header.encoding = compact ? kEncodingCoRRE : kEncodingRRE;
  PutU32(rect.body, static_cast<std::uint32_t>(subrects.size()));
  PutPixel(rect.body, format, background);
  for (const Subrect& sub : subrects) {
    PutPixel(rect.body, format, sub.pixel);
    if (compact) {
      for (const std::uint16_t v : {sub.x, sub.y, sub.width, sub.height}) {
        rect.body.push_back(static_cast<std::uint8_t>(v));
      }
    } else {
      for (const std::uint16_t v : {sub.x, sub.y, sub.width, sub.height}) PutU16(rect.body, v);
    }
  }
  return rect;
}

EncodedRect EncodeHextile(const RectangleHeader& header, const PixelFormat& format,
                          const std::vector<HextileTile>& tiles) {
  EncodedRect rect{header, {}};
  rect.header.encoding = kEncodingHextile;
  for (const HextileTile& tile : tiles) {
    rect.body.push_back(tile.subencoding);
    if (tile.subencoding & kHextileRaw) {
      for (const std::uint32_t pixel : tile.raw) PutPixel(rect.body, format, pixel);
      continue;
    }
    if (tile.subencoding & kHextileBackgroundSpecified) PutPixel(rect.body, format, tile.background);
    if (tile.subencoding & kHextileForegroundSpecified) PutPixel(rect.body, format, tile.foreground);
    if (tile.subencoding & kHextileAnySubrects) {
      rect.body.push_back(static_cast<std::uint8_t>(tile.subrects.size()));
      for (const Subrect& sub : tile.subrects) {
        if (tile.subencoding & kHextileSubrectsColoured) PutPixel(rect.body, format, sub.pixel);
        rect.body.push_back(static_cast<std::uint8_t>((sub.x << 4) | sub.y));
        rect.body.push_back(static_cast<std::uint8_t>(((sub.width - 1) << 4) | (sub.height - 1)));
      }
    }
  }
  return rect;
}

Bytes Serialise(const std::vector<EncodedRect>& rects) {
  Bytes stream;
  for (const EncodedRect& rect : rects) {
    PutU16(stream, rect.header.x);
    PutU16(stream, rect.header.y);
    PutU16(stream, rect.header.width);
    PutU16(stream, rect.header.height);
    PutU32(stream, rect.header.encoding);
    stream.insert(stream.end(), rect.body.begin(), rect.body.end());
  }
  return stream;
}

std::vector<TileGeometry> TileWalk(const RectangleHeader& header) {
  std::vector<TileGeometry> tiles;
  const int right = header.x + header.width;
  const int bottom = header.y + header.height;
  for (int y = header.y; y < bottom; y += 16) {
    for (int x = header.x; x < right; x += 16) {
      tiles.push_back({x, y, std::min(16, right - x), std::min(16, bottom - y)});
    }
  }
  return tiles;
}

void ReferenceImage::Set(std::int64_t x, std::int64_t y, Colour colour) {
  if (x >= 0 && y >= 0 && x < width_ && y < height_) {
    pixels_[static_cast<std::size_t>(y * width_ + x)] = colour;
  }
}

void ReferenceImage::Fill(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height, Colour colour) {
  for (std::int64_t row = y; row < y + height; ++row) {
    for (std::int64_t column = x; column < x + width; ++column) Set(column, row, colour);
  }
}

void ReferenceImage::PaintRaw(const RectangleHeader& header, const PixelFormat& format,
                              const std::vector<std::uint32_t>& pixels) {
  for (int row = 0; row < header.height; ++row) {
    for (int column = 0; column < header.width; ++column) {
      Set(header.x + column, header.y + row,
          ExpectedColour(format, pixels[static_cast<std::size_t>(row * header.width + column)]));
    }
  }
}

void ReferenceImage::PaintCopyRect(const RectangleHeader& header, int sourceX, int sourceY) {
  const std::vector<Colour> before = pixels_;
  for (int row = 0; row < header.height; ++row) {
    for (int column = 0; column < header.width; ++column) {
      const int fromX = sourceX + column, fromY = sourceY + row;
      if (fromX < width_ && fromY < height_) {
        Set(header.x + column, header.y + row, before[static_cast<std::size_t>(fromY * width_ + fromX)]);
      }
    }
  }
}

void ReferenceImage::PaintRRE(const RectangleHeader& header, const PixelFormat& format, std::uint32_t background,
                              const std::vector<Subrect>& subrects) {
  Fill(header.x, header.y, header.width, header.height, ExpectedColour(format, background));
  for (const Subrect& sub : subrects) {
    Fill((header.x + sub.x) % 65536, (header.y + sub.y) % 65536, sub.width, sub.height,
         ExpectedColour(format, sub.pixel));
  }
}

void ReferenceImage::PaintHextile(const RectangleHeader& header, const PixelFormat& format,
                                  const std::vector<HextileTile>& tiles) {
  const std::vector<TileGeometry> walk = TileWalk(header);
  for (std::size_t i = 0; i < walk.size(); ++i) {
    const TileGeometry& at = walk[i];
    const HextileTile& tile = tiles[i];
    if (tile.subencoding & kHextileRaw) {
      for (int row = 0; row < at.height; ++row) {
        for (int column = 0; column < at.width; ++column) {
          Set(at.x + column, at.y + row,
              ExpectedColour(format, tile.raw[static_cast<std::size_t>(row * at.width + column)]));
        }
      }
      continue;
    }
    if (tile.subencoding & kHextileBackgroundSpecified) {
      hextileBackground_ = ExpectedColour(format, tile.background);
    }
    Fill(at.x, at.y, at.width, at.height, hextileBackground_);
    if (tile.subencoding & kHextileForegroundSpecified) {
      hextileForeground_ = ExpectedColour(format, tile.foreground);
    }
    if (tile.subencoding & kHextileAnySubrects) {
      for (const Subrect& sub : tile.subrects) {
        if (tile.subencoding & kHextileSubrectsColoured) {
          hextileForeground_ = ExpectedColour(format, sub.pixel);
        }
        Fill(at.x + sub.x, at.y + sub.y, sub.width, sub.height, hextileForeground_);
      }
    }
  }
}

std::string CompareWith(const platform::Surface& surface, const ReferenceImage& expected) {
  if (surface.Width() != expected.Width() || surface.Height() != expected.Height()) {
    return "size differs";
  }
  for (int y = 0; y < expected.Height(); ++y) {
    for (int x = 0; x < expected.Width(); ++x) {
      if (surface.GetPixel(x, y) != expected.At(x, y)) {
        char text[96];
        std::snprintf(text, sizeof text, "pixel (%d,%d) is %06X, expected %06X", x, y, surface.GetPixel(x, y),
                      expected.At(x, y));
        return text;
      }
    }
  }
  return {};
}

std::string ChunkingName(Chunking chunking) {
  switch (chunking) {
    case Chunking::Whole: return "Whole";
    case Chunking::OneByte: return "OneByte";
    case Chunking::Random: return "RandomSplits";
  }
  return "?";
}

FeedResult Feed(const Bytes& stream, Chunking chunking, std::uint32_t seed, RectangleDecoder& decoder,
                FrameBitmap& frame, const PixelConverter& pixels) {
  FeedResult result;
  ReceiveBuffer buffer;
  decoder.SetCopyRectNotice([&result](std::uint16_t x, std::uint16_t y) {
    result.copyRectSources.emplace_back(x, y);
    return true;
  });
  std::mt19937 random(seed);
  bool awaitingHeader = true;
  std::size_t at = 0;
  while (at < stream.size()) {
    std::size_t chunk = stream.size() - at;
    if (chunking == Chunking::OneByte) chunk = 1;
    if (chunking == Chunking::Random) chunk = std::min<std::size_t>(chunk, 1 + random() % 40);
    if (!buffer.Append(stream.data() + at, chunk)) {
      result.problem = "buffer refused data";
      return result;
    }
    at += chunk;

    for (int guard = 0;; ++guard) {
      if (guard > 1000000) {
        result.problem = "decoder does not make progress";
        return result;
      }
      if (awaitingHeader) {
        std::uint8_t header[RectangleHeader::kWireSize];
        if (!buffer.TakeBytes(header, sizeof header)) break;
        decoder.BeginRectangle(RectangleHeader::FromWire(header));
        awaitingHeader = false;
      }
      const std::size_t before = buffer.Unread();
      const DecodeResult step = decoder.DecodeStep(buffer, frame, pixels);
      if (step == DecodeResult::NeedMore) {
        if (buffer.Unread() != before) {
          result.problem = "NeedMore took bytes";
          return result;
        }
        break;
      }
      if (step == DecodeResult::Failed) {
        result.problem = "Failed: " + decoder.FailureText();
        return result;
      }
      if (step == DecodeResult::Finished) {
        ++result.finishedRects;
        awaitingHeader = true;
      }
    }
  }
  if (!awaitingHeader) result.problem = "stream ended inside a rectangle";
  if (buffer.Unread() != 0) result.problem = "bytes left over after the last rectangle";
  return result;
}

}  // namespace telorus::viewer::test
