// Reading the output of `xwd`: a ZPixmap image of a TrueColor or a
// PseudoColor visual.
#include <stdexcept>

#include "support/x_servers.h"

namespace telorus::test {
namespace {

std::uint32_t Be32(const unsigned char* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

}  // namespace

ScreenImage ParseXwd(const std::string& data) {
  auto* p = reinterpret_cast<const unsigned char*>(data.data());
  if (data.size() < 100) throw std::runtime_error("xwd: short header");
  auto field = [&](int i) { return Be32(p + 4 * i); };
  std::uint32_t headerSize = field(0), format = field(2), width = field(4), height = field(5);
  std::uint32_t byteOrder = field(7), bitsPerPixel = field(11), bytesPerLine = field(12), visualClass = field(13);
  std::uint32_t masks[3] = {field(14), field(15), field(16)};
  std::uint32_t ncolors = field(19);
  if (format != 2) throw std::runtime_error("xwd: not ZPixmap");
  std::size_t colormapAt = headerSize;
  std::size_t imageAt = colormapAt + 12u * ncolors;
  if (data.size() < imageAt + std::size_t(bytesPerLine) * height) throw std::runtime_error("xwd: short image");
  std::vector<std::uint32_t> colormap(256, 0);
  for (std::uint32_t i = 0; i < ncolors; ++i) {
    const unsigned char* c = p + colormapAt + 12u * i;
    std::uint32_t pixel = Be32(c);
    std::uint32_t r = c[4], g = c[6], b = c[8];  // high byte of each 16-bit channel
    if (pixel < colormap.size()) colormap[pixel] = r | (g << 8) | (b << 16);
  }
  ScreenImage img;
  img.width = static_cast<int>(width);
  img.height = static_cast<int>(height);
  img.pixels.resize(std::size_t(width) * height);
  std::uint32_t bpp = bitsPerPixel / 8;
  for (std::uint32_t y = 0; y < height; ++y) {
    const unsigned char* row = p + imageAt + std::size_t(bytesPerLine) * y;
    for (std::uint32_t x = 0; x < width; ++x) {
      const unsigned char* px = row + x * bpp;
      std::uint32_t v = 0;
      for (std::uint32_t k = 0; k < bpp; ++k) v |= std::uint32_t(px[k]) << (8 * (byteOrder == 0 ? k : bpp - 1 - k));
      std::uint32_t colour;
      if (visualClass == 4 || visualClass == 5) {  // TrueColor, DirectColor
        colour = 0;
        for (int c = 0; c < 3; ++c) {
          std::uint32_t m = masks[c];
          if (!m) continue;
          int shift = __builtin_ctz(m);
          std::uint32_t max = m >> shift;
          std::uint32_t level = ((v & m) >> shift) * 255 / max;
          colour |= level << (8 * c);
        }
      } else {
        colour = v < colormap.size() ? colormap[v] : 0;
      }
      img.pixels[std::size_t(y) * width + x] = colour;
    }
  }
  return img;
}

}  // namespace telorus::test
