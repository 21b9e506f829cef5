// The scaling of a stretched viewer: the block pairs, the widened copies of
// single rectangles, the ratios without a block pair, and the pointer's way
// back through the same transform, checked on a headless window's pixels.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "platform/headless/headless_window.h"
#include "viewer/stretch.h"

namespace telorus::viewer {
namespace {

using platform::HeadlessWindow;
using platform::Rect;
using platform::Surface;

TEST(StretchBlocks, PairsOfTheExamples) {
  struct Case {
    int frame, view, s, d, copyWidth;
  };
  // The copy width is the destination of a copy of the whole frame.
  for (const Case& c : {Case{1024, 800, 5, 4, 820}, Case{1600, 800, 2, 1, 800}, Case{1000, 600, 3, 2, 668},
                        Case{1280, 700, 2, 1, 640}, Case{1000, 900, 10, 9, 900}, Case{768, 768, 1, 1, 768}}) {
    SCOPED_TRACE(std::to_string(c.frame) + " onto " + std::to_string(c.view));
    const BlockPair pair = StretchBlocks(c.frame, c.view);
    EXPECT_EQ(pair.source, c.s);
    EXPECT_EQ(pair.dest, c.d);
    const AxisScale scale(c.frame, c.view);
    EXPECT_TRUE(scale.UsesBlocks());
    const ScaledSpan whole = scale.Span(0, c.frame);
    EXPECT_EQ(whole.dest, 0);
    EXPECT_EQ(whole.destLength, c.copyWidth);
  }
}

// A frame whose every pixel has a colour of its own.
Surface NumberedFrame(int width, int height) {
  Surface frame(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) frame.SetPixel(x, y, static_cast<std::uint32_t>(y * width + x + 1) & 0xFFFFFF);
  return frame;
}

void Copy(HeadlessWindow& window, const Surface& frame, const AxisScale& h, const AxisScale& v, Rect area) {
  const ScaledSpan x = h.Span(area.left, area.right), y = v.Span(area.top, area.bottom);
  ASSERT_TRUE(window.StretchFromSurface(
      frame, {x.source, y.source, x.source + x.sourceLength, y.source + y.sourceLength},
      {x.dest, y.dest, x.dest + x.destLength, y.dest + y.destLength}, {x.clipFrom, y.clipFrom, x.clipTo, y.clipTo}));
}

struct Ratio {
  int frameWidth, viewWidth, frameHeight, viewHeight;
};
// Block pairs, a third exactly, below a third, upscaling, mixed axes, and
// extents whose products overflow 16 bits.
const Ratio kRatios[] = {{1024, 800, 12, 12}, {1000, 600, 9, 6},    {1000, 900, 30, 10}, {300, 100, 7, 20},
                         {300, 99, 40, 3},    {64, 200, 48, 49},    {100, 101, 5, 16},   {1920, 500, 10, 9},
                         {7, 1, 3, 2},        {40000, 39999, 2, 2}, {50000, 123, 2, 7}};

TEST(StretchBlocks, RectanglesAndThePointerFollowTheWholeFrame) {
  // Copying the frame rectangle by rectangle must give exactly the window
  // that one copy of the whole frame gives, at every ratio; and a click on
  // a window pixel goes to the framebuffer pixel shown there, give or take
  // the rounding of one pixel.
  std::mt19937 rng(3);
  for (const Ratio& r : kRatios) {
    SCOPED_TRACE(std::to_string(r.frameWidth) + "x" + std::to_string(r.frameHeight) + " onto " +
                 std::to_string(r.viewWidth) + "x" + std::to_string(r.viewHeight));
    const Surface frame = NumberedFrame(r.frameWidth, r.frameHeight);
    const AxisScale h(r.frameWidth, r.viewWidth), v(r.frameHeight, r.viewHeight);
    HeadlessWindow whole(r.viewWidth, r.viewHeight), parts(r.viewWidth, r.viewHeight);
    Copy(whole, frame, h, v, {0, 0, r.frameWidth, r.frameHeight});
    const int maxWidth = std::max(1, r.frameWidth / 7);
    for (int top = 0; top < r.frameHeight;) {
      const int bottom = std::min<int>(r.frameHeight, top + 1 + static_cast<int>(rng() % 5));
      for (int left = 0; left < r.frameWidth;) {
        const int right =
            std::min<int>(r.frameWidth, left + 1 + static_cast<int>(rng() % static_cast<unsigned>(maxWidth)));
        Copy(parts, frame, h, v, {left, top, right, bottom});
        left = right;
      }
      top = bottom;
    }
    int differing = 0;
    for (int y = 0; y < r.viewHeight; ++y)
      for (int x = 0; x < r.viewWidth; ++x) differing += whole.PixelAt(x, y) != parts.PixelAt(x, y);
    EXPECT_EQ(differing, 0);
    // The picture spans the window: exactly without a block pair, and within
    // the rounding of the pair with one.
    int shown = 0;
    std::int64_t worst = 0;
    for (int x = 0; x < r.viewWidth; ++x) {
      const std::int64_t pixel = whole.PixelAt(x, 0);
      if (pixel == 0) continue;  // beyond the picture
      ++shown;
      worst = std::max(worst, std::abs(h.ToFrame(x) - (pixel - 1)));
    }
    EXPECT_LE(worst, 1);
    if (h.UsesBlocks()) {
      EXPECT_GE(4 * shown, 3 * r.viewWidth);
    } else {
      EXPECT_EQ(shown, r.viewWidth);
    }
  }
}

TEST(StretchBlocks, AWindowOfNoExtentDrawsNothing) {
  const AxisScale none(640, 0);
  EXPECT_EQ(none.ToFrame(100), 0);
  EXPECT_EQ(none.Span(0, 640).destLength, 0);
}

}  // namespace
}  // namespace telorus::viewer
