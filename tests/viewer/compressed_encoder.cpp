#include "compressed_encoder.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace telorus::viewer::test {

struct TestDeflater::State {
  z_stream z{};
};

TestDeflater::TestDeflater(int level) : state_(std::make_unique<State>()) {
  if (deflateInit(&state_->z, level) != Z_OK) throw std::runtime_error("deflateInit");
}

TestDeflater::~TestDeflater() { deflateEnd(&state_->z); }

void TestDeflater::Reset() { deflateReset(&state_->z); }

Bytes TestDeflater::Compress(const Bytes& data) {
  z_stream& z = state_->z;
  Bytes out(deflateBound(&z, data.size()) + 64);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, Z_SYNC_FLUSH);
  // Z_BUF_ERROR: nothing to flush (an empty rectangle after a flushed one).
  if ((result != Z_OK && result != Z_BUF_ERROR) || z.avail_in != 0) throw std::runtime_error("deflate");
  out.resize(out.size() - z.avail_out);
  return out;
}

namespace {

std::uint64_t ColourBits(const PixelFormat& f) {
  return (std::uint64_t{f.redMax} << f.redShift) | (std::uint64_t{f.greenMax} << f.greenShift) |
         (std::uint64_t{f.blueMax} << f.blueShift);
}

bool TightRgb(const PixelFormat& f) {
  return f.trueColour && f.bitsPerPixel == 32 && f.depth == 24 && f.redMax == 255 && f.greenMax == 255 &&
         f.blueMax == 255;
}

std::vector<std::uint32_t> Distinct(const std::vector<std::uint32_t>& pixels) {
  std::vector<std::uint32_t> colours;
  for (const std::uint32_t p : pixels) {
    if (std::find(colours.begin(), colours.end(), p) == colours.end()) colours.push_back(p);
    if (colours.size() > 256) break;
  }
  return colours;
}

std::uint8_t IndexOf(const std::vector<std::uint32_t>& palette, std::uint32_t pixel) {
  return static_cast<std::uint8_t>(std::find(palette.begin(), palette.end(), pixel) - palette.begin());
}

}  // namespace

void PutCompactPixel(Bytes& out, const PixelFormat& format, std::uint32_t pixel, bool tight) {
  if (tight) {
    if (TightRgb(format)) {
      out.push_back(static_cast<std::uint8_t>(pixel >> format.redShift));
      out.push_back(static_cast<std::uint8_t>(pixel >> format.greenShift));
      out.push_back(static_cast<std::uint8_t>(pixel >> format.blueShift));
      return;
    }
    PutPixel(out, format, pixel);
    return;
  }
  Bytes full;
  PutPixel(full, format, pixel);
  if (format.bitsPerPixel != 32 || format.depth > 24) {
    out.insert(out.end(), full.begin(), full.end());
    return;
  }
  const bool low = ColourBits(format) < (std::uint64_t{1} << 24);
  // The three bytes that carry colour, in the format's byte order.
  const std::size_t first = low == (format.bigEndian != 0) ? 1 : 0;
  out.insert(out.end(), full.begin() + static_cast<std::ptrdiff_t>(first),
             full.begin() + static_cast<std::ptrdiff_t>(first) + 3);
}

EncodedRect EncodeZlib(const RectangleHeader& header, const PixelFormat& format,
                       const std::vector<std::uint32_t>& pixels, TestDeflater& stream) {
  EncodedRect rect{header, {}};
  rect.header.encoding = rfb::kEncodingZlib;
  Bytes raw;
  for (const std::uint32_t pixel : pixels) PutPixel(raw, format, pixel);
  const Bytes compressed = stream.Compress(raw);
  PutU32(rect.body, static_cast<std::uint32_t>(compressed.size()));
  rect.body.insert(rect.body.end(), compressed.begin(), compressed.end());
  return rect;
}

// ---- Tiles ----

Bytes TileEncoder::Encode(const RectangleHeader& header, const std::vector<std::uint32_t>& pixels) {
  const int size = trle_ ? 16 : 64;
  Bytes out;
  for (int y = 0; y < header.height; y += size) {
    for (int x = 0; x < header.width; x += size) {
      const int width = std::min(size, header.width - x);
      const int height = std::min(size, header.height - y);
      std::vector<std::uint32_t> tile;
      for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
          tile.push_back(pixels[static_cast<std::size_t>((y + row) * header.width + x + column)]);
        }
      }
      EncodeTile(out, tile, width, height);
    }
  }
  return out;
}

void TileEncoder::PutRunLength(Bytes& out, int run) {
  for (run -= 1; run >= 255; run -= 255) out.push_back(255);
  out.push_back(static_cast<std::uint8_t>(run));
}

void TileEncoder::EncodeTile(Bytes& out, const std::vector<std::uint32_t>& tile, int width, int height) {
  const std::vector<std::uint32_t> palette = Distinct(tile);
  const bool alternate = (turn_++ & 1u) != 0;
  const bool reuse = trle_ && palette == lastPalette_;
  auto putPalette = [&] {
    for (const std::uint32_t p : palette) PutCompactPixel(out, format_, p, false);
    lastPalette_ = palette;
  };
  auto runs = [&](bool indexed) {
    for (std::size_t i = 0; i < tile.size();) {
      std::size_t j = i;
      while (j < tile.size() && tile[j] == tile[i]) ++j;
      const int run = static_cast<int>(j - i);
      if (indexed) {
        const std::uint8_t index = IndexOf(palette, tile[i]);
        out.push_back(run == 1 ? index : static_cast<std::uint8_t>(index | 128u));
        if (run > 1) PutRunLength(out, run);
      } else {
        PutCompactPixel(out, format_, tile[i], false);
        PutRunLength(out, run);
      }
      i = j;
    }
  };

  if (palette.size() == 1 && !alternate) {
    out.push_back(1);
    PutCompactPixel(out, format_, palette[0], false);
    return;
  }
  if (palette.size() >= 2 && palette.size() <= 16 && !alternate) {
    if (reuse) {
      out.push_back(127);
    } else {
      out.push_back(static_cast<std::uint8_t>(palette.size()));
      putPalette();
    }
    const int bits = palette.size() == 2 ? 1 : palette.size() <= 4 ? 2 : 4;
    for (int y = 0; y < height; ++y) {
      std::uint8_t byte = 0;
      int used = 0;
      for (int x = 0; x < width; ++x) {
        byte = static_cast<std::uint8_t>(
            byte | (IndexOf(palette, tile[static_cast<std::size_t>(y * width + x)]) << (8 - bits - used)));
        used += bits;
        if (used == 8) {
          out.push_back(byte);
          byte = 0;
          used = 0;
        }
      }
      if (used > 0) out.push_back(byte);
    }
    return;
  }
  if (palette.size() >= 2 && palette.size() <= 127) {
    if (reuse) {
      out.push_back(129);
    } else {
      out.push_back(static_cast<std::uint8_t>(128 + palette.size()));
      putPalette();
    }
    runs(true);
    return;
  }
  if (alternate || palette.size() == 1) {
    out.push_back(128);
    runs(false);
    return;
  }
  out.push_back(0);
  for (const std::uint32_t p : tile) PutCompactPixel(out, format_, p, false);
}

EncodedRect EncodeZrle(const RectangleHeader& header, const PixelFormat& format,
                       const std::vector<std::uint32_t>& pixels, TestDeflater& stream) {
  EncodedRect rect{header, {}};
  rect.header.encoding = rfb::kEncodingZRLE;
  TileEncoder tiles(format, false);
  const Bytes compressed = stream.Compress(tiles.Encode(header, pixels));
  PutU32(rect.body, static_cast<std::uint32_t>(compressed.size()));
  rect.body.insert(rect.body.end(), compressed.begin(), compressed.end());
  return rect;
}

EncodedRect EncodeTrle(const RectangleHeader& header, const std::vector<std::uint32_t>& pixels, TileEncoder& tiles) {
  EncodedRect rect{header, tiles.Encode(header, pixels)};
  rect.header.encoding = rfb::kEncodingTRLE;
  return rect;
}

// ---- Tight ----

void TightEncoder::PutCompactLength(Bytes& out, std::uint32_t length) {
  out.push_back(static_cast<std::uint8_t>((length & 0x7F) | (length > 0x7F ? 0x80 : 0)));
  if (length > 0x7F) {
    out.push_back(static_cast<std::uint8_t>(((length >> 7) & 0x7F) | (length > 0x3FFF ? 0x80 : 0)));
    if (length > 0x3FFF) out.push_back(static_cast<std::uint8_t>(length >> 14));
  }
}

EncodedRect TightEncoder::Jpeg(const RectangleHeader& header, const Bytes& jpeg) {
  EncodedRect rect{header, {0x90}};
  rect.header.encoding = rfb::kEncodingTight;
  PutCompactLength(rect.body, static_cast<std::uint32_t>(jpeg.size()));
  rect.body.insert(rect.body.end(), jpeg.begin(), jpeg.end());
  return rect;
}

EncodedRect TightEncoder::Encode(const RectangleHeader& header, const std::vector<std::uint32_t>& pixels,
                                 TightMethod method, int stream, std::uint8_t resets) {
  EncodedRect rect{header, {}};
  rect.header.encoding = rfb::kEncodingTight;
  for (int i = 0; i < 4; ++i) {
    if (resets & (1u << i)) streams_[static_cast<std::size_t>(i)].Reset();
  }
  if (method == TightMethod::Fill) {
    rect.body.push_back(static_cast<std::uint8_t>(0x80 | resets));
    PutCompactPixel(rect.body, format_, pixels.empty() ? 0 : pixels[0], true);
    return rect;
  }
  const bool filterByte = method != TightMethod::Copy;
  rect.body.push_back(static_cast<std::uint8_t>((stream << 4) | (filterByte ? 0x40 : 0) | resets));
  Bytes data;
  if (method == TightMethod::Copy) {
    for (const std::uint32_t p : pixels) PutCompactPixel(data, format_, p, true);
  } else if (method == TightMethod::Palette) {
    const std::vector<std::uint32_t> palette = Distinct(pixels);
    if (palette.size() > 256) throw std::runtime_error("palette of more than 256 colours");
    rect.body.push_back(1);
    rect.body.push_back(static_cast<std::uint8_t>(palette.size() - 1));
    for (const std::uint32_t p : palette) PutCompactPixel(rect.body, format_, p, true);
    for (int y = 0; y < header.height; ++y) {
      std::uint8_t byte = 0;
      int used = 0;
      for (int x = 0; x < header.width; ++x) {
        const std::uint8_t index = IndexOf(palette, pixels[static_cast<std::size_t>(y * header.width + x)]);
        if (palette.size() != 2) {
          data.push_back(index);
          continue;
        }
        byte = static_cast<std::uint8_t>(byte | (index << (7 - used)));
        if (++used == 8) {
          data.push_back(byte);
          byte = 0;
          used = 0;
        }
      }
      if (palette.size() == 2 && used > 0) data.push_back(byte);
    }
  } else {  // gradient
    rect.body.push_back(2);
    const PixelFormat& f = format_;
    const unsigned shift[3] = {f.redShift, f.greenShift, f.blueShift};
    const std::uint32_t max[3] = {f.redMax, f.greenMax, f.blueMax};
    auto value = [&](int x, int y, int c) -> int {
      if (x < 0 || y < 0) return 0;
      return static_cast<int>((pixels[static_cast<std::size_t>(y * header.width + x)] >> shift[c]) & max[c]);
    };
    for (int y = 0; y < header.height; ++y) {
      for (int x = 0; x < header.width; ++x) {
        std::uint32_t difference = 0;
        Bytes rgb;
        for (int c = 0; c < 3; ++c) {
          const int predicted =
              std::clamp(value(x - 1, y, c) + value(x, y - 1, c) - value(x - 1, y - 1, c), 0, static_cast<int>(max[c]));
          const auto d = static_cast<std::uint32_t>(value(x, y, c) - predicted) & max[c];
          difference |= d << shift[c];
          rgb.push_back(static_cast<std::uint8_t>(d));
        }
        if (TightRgb(f)) {
          data.insert(data.end(), rgb.begin(), rgb.end());
        } else {
          PutPixel(data, f, difference);
        }
      }
    }
  }
  if (data.size() < 12) {
    rect.body.insert(rect.body.end(), data.begin(), data.end());
    return rect;
  }
  const Bytes compressed = streams_[static_cast<std::size_t>(stream)].Compress(data);
  PutCompactLength(rect.body, static_cast<std::uint32_t>(compressed.size()));
  rect.body.insert(rect.body.end(), compressed.begin(), compressed.end());
  return rect;
}

}  // namespace telorus::viewer::test
