#include "platform/surface.h"
#include "platform/headless/headless_window.h"
#include "platform/scale.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace telorus::platform {
namespace {

constexpr std::uint32_t kGuard = 0xDEADBEEFu;
constexpr int kGuardWords = 64;

// A surface over external memory surrounded by guard words, with padding
// between rows, so that a write anywhere outside the pixels shows up.
class GuardedSurface {
 public:
  GuardedSurface(int width, int height, int padWords = 3, bool bottomUp = false)
      : width_(width),
        height_(height),
        pitch_(width + padWords),
        memory_(static_cast<std::size_t>(2 * kGuardWords + pitch_ * height), kGuard) {
    std::uint32_t* first = memory_.data() + kGuardWords;
    for (int y = 0; y < height; ++y) std::fill_n(first + y * pitch_, width, 0u);
    const auto pitchBytes = static_cast<std::ptrdiff_t>(pitch_) * 4;
    surface_ = bottomUp ? Surface(first + (height - 1) * pitch_, width, height, -pitchBytes)
                        : Surface(first, width, height, pitchBytes);
  }

  Surface& surface() { return surface_; }

  // Every word that is not a pixel still holds the guard.
  bool GuardsIntact() const {
    for (std::size_t i = 0; i < memory_.size(); ++i) {
      const auto offset = static_cast<std::int64_t>(i) - kGuardWords;
      const bool pixel = offset >= 0 && offset < std::int64_t{pitch_} * height_ && offset % pitch_ < width_;
      if (!pixel && memory_[i] != kGuard) return false;
    }
    return true;
  }

 private:
  int width_;
  int height_;
  int pitch_;
  std::vector<std::uint32_t> memory_;
  Surface surface_;
};

// The expected image as plain colour values.
using Image = std::vector<std::vector<Colour>>;

Image Snapshot(const Surface& surface) {
  Image image(static_cast<std::size_t>(surface.Height()),
              std::vector<Colour>(static_cast<std::size_t>(surface.Width())));
  for (int y = 0; y < surface.Height(); ++y) {
    for (int x = 0; x < surface.Width(); ++x) image[y][x] = surface.GetPixel(x, y);
  }
  return image;
}

void Paint(Surface& surface, std::uint32_t seed) {
  std::mt19937 random(seed);
  for (int y = 0; y < surface.Height(); ++y) {
    for (int x = 0; x < surface.Width(); ++x) surface.SetPixel(x, y, random() & 0xFFFFFFu);
  }
}

TEST(Surface, ColourValuesAreStoredAsDibPixels) {
  Surface surface(2, 1);
  surface.SetPixel(0, 0, 0x00332211u);  // red 0x11, green 0x22, blue 0x33
  EXPECT_EQ(surface.Pixels()[0], 0x00112233u);
  EXPECT_EQ(surface.GetPixel(0, 0), 0x00332211u);
  EXPECT_EQ(surface.Pixels()[1], 0u);  // starts black
}

TEST(Surface, DrawingOutsideIsDroppedAndGuardsStayIntact) {
  for (const bool bottomUp : {false, true}) {
    GuardedSurface guarded(7, 5, 3, bottomUp);
    Surface& surface = guarded.surface();
    const std::int64_t huge = std::int64_t{1} << 62;
    for (const auto& [x, y] : std::vector<std::pair<std::int64_t, std::int64_t>>{
             {-1, 0}, {0, -1}, {7, 0}, {0, 5}, {7, 5}, {-huge, 2}, {huge, 2}}) {
      surface.SetPixel(x, y, 0xFFFFFF);
    }
    surface.FillRect({-10, -10, 100, 100}, 0x0000FF);
    surface.FillRect({-huge, -huge, huge, huge}, 0x00FF00);
    surface.FillRect({5, 3, 3, 5}, 0xFFFFFF);  // inverted: nothing
    surface.CopyRect(0, 0, 100, 100, 3, 2);
    surface.CopyRect(-50, -50, 100, 100, -3, -2);
    surface.CopyRect(0, 0, huge, huge, -huge, huge);
    EXPECT_TRUE(guarded.GuardsIntact()) << "bottomUp " << bottomUp;
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 7; ++x) EXPECT_EQ(surface.GetPixel(x, y), 0x00FF00u);
    }
  }
}

TEST(Surface, FillRectCoversColumnsLeftToRightMinusOne) {
  GuardedSurface guarded(6, 4);
  Surface& surface = guarded.surface();
  surface.FillRect({1, 1, 4, 3}, 0x123456);
  surface.FillRect({-3, 3, 2, 10}, 0xABCDEF);  // clipped at left and bottom
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) {
      Colour expected = 0;
      if (x >= 1 && x < 4 && y >= 1 && y < 3) expected = 0x123456;
      if (x < 2 && y == 3) expected = 0xABCDEF;
      EXPECT_EQ(surface.GetPixel(x, y), expected) << x << "," << y;
    }
  }
  EXPECT_TRUE(guarded.GuardsIntact());
}

// CopyRect must equal copying through a temporary, for every direction of
// overlap, with parts of source or destination off the surface.
TEST(Surface, CopyRectOverlapInAllDirectionsMatchesCopyThroughTemporary) {
  constexpr int kWidth = 13;
  constexpr int kHeight = 11;
  int cases = 0;
  for (const bool bottomUp : {false, true}) {
    for (int dy = -4; dy <= 4; dy += 2) {
      for (int dx = -5; dx <= 5; ++dx) {
        for (const auto& [sx, sy, w, h] :
             std::vector<std::array<int, 4>>{{3, 3, 6, 5}, {0, 0, kWidth, kHeight}, {-2, 4, 8, 9}, {8, -3, 9, 6}}) {
          GuardedSurface guarded(kWidth, kHeight, 2, bottomUp);
          Surface& surface = guarded.surface();
          Paint(surface, static_cast<std::uint32_t>(cases));
          const Image before = Snapshot(surface);
          Image expected = before;
          for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
              const int fromX = sx + x, fromY = sy + y, toX = sx + dx + x, toY = sy + dy + y;
              const bool inside = fromX >= 0 && fromX < kWidth && fromY >= 0 && fromY < kHeight && toX >= 0 &&
                                  toX < kWidth && toY >= 0 && toY < kHeight;
              if (inside) expected[toY][toX] = before[fromY][fromX];
            }
          }
          surface.CopyRect(sx, sy, w, h, sx + dx, sy + dy);
          ASSERT_EQ(Snapshot(surface), expected) << "dx " << dx << " dy " << dy << " src " << sx << "," << sy;
          ASSERT_TRUE(guarded.GuardsIntact());
          ++cases;
        }
      }
    }
  }
  EXPECT_EQ(cases, 2 * 5 * 11 * 4);
}

TEST(Surface, BlitOneToOneClipsBothSides) {
  Surface source(5, 4);
  Paint(source, 1);
  GuardedSurface guarded(6, 3);
  Surface& dest = guarded.surface();
  // Destination (-1, 1), source (2, 0), 5 x 4: only columns whose source and
  // destination both exist arrive.
  ASSERT_TRUE(source.BlitTo(dest.View(), -1, 1, 5, 4, 2, 0));
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 6; ++x) {
      const int fromX = x + 1 + 2, fromY = y - 1;
      const bool copied = y >= 1 && fromX < 5 && x < 4;
      EXPECT_EQ(dest.GetPixel(x, y), copied ? source.GetPixel(fromX, fromY) : 0u) << x << "," << y;
    }
  }
  EXPECT_TRUE(guarded.GuardsIntact());
  EXPECT_FALSE(source.BlitTo(SurfaceView{}, 0, 0, 1, 1, 0, 0));
  EXPECT_FALSE(source.BlitTo(dest.View(), 0, 0, -1, 1, 0, 0));
}

TEST(Surface, BlitScaledSamplesNearestSourcePixel) {
  Surface source(4, 2);
  Paint(source, 2);
  GuardedSurface guarded(9, 5);
  Surface& dest = guarded.surface();
  // 4 x 2 doubled to 8 x 4 at (1, 1): the last column and row are clipped by
  // nothing, the guard row/column beyond stay untouched.
  ASSERT_TRUE(source.BlitTo(dest.View(), 1, 1, 8, 4, 0, 0, 4, 2));
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 9; ++x) {
      const bool inside = x >= 1 && y >= 1;
      EXPECT_EQ(dest.GetPixel(x, y), inside ? source.GetPixel((x - 1) / 2, (y - 1) / 2) : 0u);
    }
  }
  // Halving takes every second pixel; a destination reaching off the
  // surface is clipped.
  GuardedSurface small(2, 1);
  ASSERT_TRUE(source.BlitTo(small.surface().View(), 0, 0, 3, 1, 0, 1, 6, 2));
  EXPECT_EQ(small.surface().GetPixel(0, 0), source.GetPixel(0, 1));
  EXPECT_EQ(small.surface().GetPixel(1, 0), source.GetPixel(2, 1));
  EXPECT_TRUE(guarded.GuardsIntact());
  EXPECT_TRUE(small.GuardsIntact());
}

TEST(HeadlessWindow, ReceivesCopiesAndKeepsABoundedLogOfTheRecentOnes) {
  Surface source(4, 4);
  source.FillRect({0, 0, 4, 4}, 0x0000FF);
  HeadlessWindow window(8, 8);
  const std::size_t total = 3 * HeadlessWindow::kCopyLogKeeps + 5;
  for (std::size_t i = 0; i < total; ++i) {
    ASSERT_TRUE(window.CopyFromSurface(source, {0, 0, 1 + static_cast<std::int64_t>(i % 4), 1},
                                       static_cast<std::int64_t>(i % 7), 2));
  }
  EXPECT_EQ(window.PixelAt(0, 2), 0x0000FFu);
  EXPECT_EQ(window.PixelAt(7, 2), 0x0000FFu);  // copy (6, 2) of two columns, clipped
  EXPECT_EQ(window.PixelAt(0, 3), 0u);
  const auto& log = window.Copies();
  ASSERT_GE(log.size(), HeadlessWindow::kCopyLogKeeps);
  ASSERT_LT(log.size(), 2 * HeadlessWindow::kCopyLogKeeps);
  // The newest copy is last, and the kept ones are in order.
  for (std::size_t back = 0; back < log.size(); ++back) {
    const std::size_t i = total - 1 - back;
    const auto& copy = log[log.size() - 1 - back];
    ASSERT_EQ(copy.dest.left, static_cast<std::int64_t>(i % 7)) << back;
    ASSERT_EQ(copy.source.Width(), 1 + static_cast<std::int64_t>(i % 4)) << back;
  }
}

}  // namespace
}  // namespace telorus::platform

namespace telorus::platform {
namespace {

TEST(ScaleAreaAverage, EachPixelIsTheAverageOfTheAreaItCovers) {
  // Three columns onto two: the middle source column is shared half and half.
  Surface from(3, 1);
  from.SetPixel(0, 0, 0x000000);
  from.SetPixel(1, 0, 0x0000F0);
  from.SetPixel(2, 0, 0x00F000);
  Surface to(2, 1);
  ScaleAreaAverage(from, {0, 0, 3, 1}, to.View(), {0, 0, 2, 1}, {0, 0, 2, 1});
  // Pixel 0 covers column 0 and half of column 1, pixel 1 the rest.
  EXPECT_EQ(to.GetPixel(0, 0), 0x000050u);  // red 240 * 0.5 / 1.5
  EXPECT_EQ(to.GetPixel(1, 0), 0x00A050u);  // (red 120 + green 240) / 1.5

  // A uniform picture stays uniform at any ratio, and a part drawn alone
  // equals the same part of the whole.
  Surface flat(37, 23);
  flat.FillRect({0, 0, 37, 23}, 0x123456);
  Surface whole(50, 9), part(50, 9);
  ScaleAreaAverage(flat, {0, 0, 37, 23}, whole.View(), {0, 0, 50, 9}, {0, 0, 50, 9});
  ScaleAreaAverage(flat, {0, 0, 37, 23}, part.View(), {0, 0, 50, 9}, {10, 2, 20, 5});
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 50; ++x) {
      ASSERT_EQ(whole.GetPixel(x, y), 0x123456u) << x << "," << y;
      const bool inside = x >= 10 && x < 20 && y >= 2 && y < 5;
      ASSERT_EQ(part.GetPixel(x, y), inside ? 0x123456u : 0u) << x << "," << y;
    }
}

}  // namespace
}  // namespace telorus::platform
