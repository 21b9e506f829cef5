// picture-error SERVER.xwd VIEWER.xwd
//
// How far a viewer's picture is from the server's screen: finds where the
// server's screen lies in a screenshot of the viewer's display (window
// decorations, menus and status bars move it), then prints the PSNR in dB
// over the whole picture (99 when equal) and the offset found:
//   "PSNR DX DY"
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/x_servers.h"

namespace {

using telorus::test::ScreenImage;

ScreenImage Load(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream data;
  data << in.rdbuf();
  return telorus::test::ParseXwd(data.str());
}

int Channel(std::uint32_t colour, int c) { return static_cast<int>((colour >> (8 * c)) & 0xFF); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: picture-error SERVER.xwd VIEWER.xwd\n");
    return 2;
  }
  try {
    const ScreenImage server = Load(argv[1]);
    const ScreenImage viewer = Load(argv[2]);
    const int maxDx = viewer.width - server.width, maxDy = viewer.height - server.height;
    if (maxDx < 0 || maxDy < 0) {
      std::fprintf(stderr, "picture-error: the viewer's display is smaller than the server's screen\n");
      return 1;
    }
    // The offset: the one whose sparse samples differ least.
    long best = -1;
    int bestDx = 0, bestDy = 0;
    for (int dy = 0; dy <= maxDy; ++dy) {
      for (int dx = 0; dx <= maxDx; ++dx) {
        long sum = 0;
        for (int y = 7; y < server.height && (best < 0 || sum < best); y += server.height / 23) {
          for (int x = 11; x < server.width; x += server.width / 31) {
            const std::uint32_t a = server.At(x, y), b = viewer.At(x + dx, y + dy);
            for (int c = 0; c < 3; ++c) sum += std::abs(Channel(a, c) - Channel(b, c));
          }
        }
        if (best < 0 || sum < best) {
          best = sum;
          bestDx = dx;
          bestDy = dy;
        }
      }
    }
    double squares = 0;
    for (int y = 0; y < server.height; ++y) {
      for (int x = 0; x < server.width; ++x) {
        const std::uint32_t a = server.At(x, y), b = viewer.At(x + bestDx, y + bestDy);
        for (int c = 0; c < 3; ++c) {
          const double d = Channel(a, c) - Channel(b, c);
          squares += d * d;
        }
      }
    }
    const double mse = squares / (3.0 * server.width * server.height);
    std::printf("%.1f %d %d\n", mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse), bestDx, bestDy);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "picture-error: %s\n", e.what());
    return 1;
  }
  return 0;
}
