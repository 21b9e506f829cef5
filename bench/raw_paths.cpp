// raw-paths: what drawing Raw pixels one drawing call at a time costs
// against converting whole rows straight into the framebuffer's memory.
// Decodes a 1920x1080 Raw rectangle in the 32-bit and the 8-bit format both
// ways and prints milliseconds per frame and the ratio. A third figure is
// what the viewer does with a window: rows converted a band at a time, each
// band copied to a 1920x1080 window surface at once.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/surface.h"
#include "viewer/decoders.h"
#include "viewer/frame_bitmap.h"
#include "viewer/pixel_format.h"

using namespace telorus;
using Clock = std::chrono::steady_clock;

namespace {

viewer::PixelFormat Format(int bpp) {
  viewer::PixelFormat f;
  if (bpp == 32) {
    f = {32, 24, 0, 1, 255, 255, 255, 16, 8, 0};
  } else {
    f = viewer::EightBitFormat();
  }
  return f;
}

template <typename F>
double MillisecondsPerFrame(int frames, F&& decode) {
  auto start = Clock::now();
  for (int i = 0; i < frames; ++i) decode();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / frames;
}

}  // namespace

int main() {
  const int w = 1920, h = 1080, frames = 20;
  std::printf("%-8s %14s %16s %8s %18s\n", "format", "rows ms/frame", "per-pixel ms/f", "ratio", "rows+window ms/f");
  for (int bpp : {32, 8}) {
    viewer::PixelConverter pixels(Format(bpp));
    std::vector<std::uint8_t> data(static_cast<std::size_t>(w) * h * (bpp / 8));
    std::mt19937 rng(1);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    std::string error;
    auto frame = viewer::FrameBitmap::Create(w, h, error);
    double rows = MillisecondsPerFrame(frames, [&] { frame->PlotRawPixels(pixels, data.data(), 0, 0, w, h); });
    // One drawing call per pixel, the colour formed per pixel.
    const int bytes = bpp / 8;
    double perPixel = MillisecondsPerFrame(frames, [&] {
      const std::uint8_t* p = data.data();
      platform::Surface& s = frame->Surface();
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x, p += bytes) s.SetPixel(x, y, pixels.PixelToColor(pixels.ValueAt(p)));
    });
    platform::Surface window(w, h);
    const int band = static_cast<int>(viewer::RectangleDecoder::kRawBandBytes / (std::size_t{w} * 4));
    double withWindow = MillisecondsPerFrame(frames, [&] {
      for (int y = 0; y < h; y += band) {
        const int rowsNow = std::min(band, h - y);
        frame->PlotRawPixels(pixels, data.data() + std::size_t{w} * y * bytes, 0, y, w, rowsNow);
        frame->Surface().BlitTo(window.View(), 0, y, w, rowsNow, 0, y);
      }
    });
    std::printf("%-8s %14.2f %16.2f %8.1f %18.2f\n", bpp == 32 ? "32-bit" : "8-bit", rows, perPixel, perPixel / rows,
                withWindow);
  }
  return 0;
}
