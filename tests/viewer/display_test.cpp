// The display against a scripted server: the window's pixels one to one,
// at the view offsets, with scroll bars, stretched, without a session and in
// a form designer.
#include "session_fixture.h"

namespace telorus::test {
namespace {

using platform::ScrollBarKind;

constexpr int kFrameWidth = 64, kFrameHeight = 48;

std::uint32_t Pattern(int x, int y) {
  return rfb::Rgb(static_cast<std::uint32_t>(x * 3), static_cast<std::uint32_t>(y * 5), 77);
}

class DisplayTest : public ViewerSessionTest {
 protected:
  DisplayTest() : ViewerSessionTest(Chunking::Whole) {}

  // A session whose first update paints the pattern over the whole frame,
  // followed by `more` when the second update request arrives.
  void ShowPattern(const std::string& more = {}) {
    const auto fmt = rfb::TrueColour32();
    NoAuthHandshake(fmt, kFrameWidth, kFrameHeight);
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < kFrameHeight; ++y)
      for (int x = 0; x < kFrameWidth; ++x) pixels.push_back(Pattern(x, y));
    server.Expect(10).Send(rfb::UpdateHeader(1) + rfb::RectHeader(0, 0, kFrameWidth, kFrameHeight, 0) +
                           rfb::RawPixels(fmt, pixels));
    if (!more.empty()) server.Expect(10).Send(more);
    Go();
    ASSERT_TRUE(WaitEvent("Connected"));
    viewer.UpdateRequest();
    ASSERT_TRUE(RunUntil([&] { return updates == 1; }));
  }

  // Window pixels that differ from what `expected` says, over the window.
  int Differences(const std::function<std::uint32_t(int, int)>& expected) const {
    int wrong = 0;
    for (int y = 0; y < window.ClientHeight(); ++y)
      for (int x = 0; x < window.ClientWidth(); ++x) wrong += window.PixelAt(x, y) != expected(x, y);
    return wrong;
  }
  // The picture at offset (dx, dy), the background beyond it.
  std::function<std::uint32_t(int, int)> Shifted(int dx, int dy) const {
    return [this, dx, dy](int x, int y) {
      const int fx = x + dx, fy = y + dy;
      return fx < kFrameWidth && fy < kFrameHeight ? Pattern(fx, fy) : window.Background();
    };
  }
};

TEST_F(DisplayTest, OneToOneAtTheClampedOffsets) {
  window.Resize(100, 80);  // larger than the picture
  ShowPattern();
  window.PaintNow();
  EXPECT_EQ(Differences(Shifted(0, 0)), 0) << "the picture at the top-left corner, the background beyond";
  EXPECT_EQ(window.Background(), 0xF0F0F0u) << "Color is the button face";
  viewer.SetxPosition(5);
  EXPECT_EQ(viewer.xPosition(), 0) << "a picture that fits does not move";

  window.Resize(40, 30);
  window.PaintNow();
  viewer.SetxPosition(1000000);
  EXPECT_EQ(viewer.xPosition(), kFrameWidth - 40 - 1);
  viewer.SetxPosition(-5);
  EXPECT_EQ(viewer.xPosition(), 0);
  // Without scroll bars, setting an offset copies the whole picture at once.
  viewer.SetxPosition(10);
  viewer.SetyPosition(7);
  EXPECT_EQ(Differences(Shifted(10, 7)), 0);
  window.Invalidate();
  window.PaintNow();
  EXPECT_EQ(Differences(Shifted(10, 7)), 0) << "the paint message uses the same offsets";
}

TEST_F(DisplayTest, ScrollBarsFollowAutoScrollAndTheUser) {
  window.Resize(40, 30);
  viewer.SetAutoScroll(true);
  ShowPattern();
  const auto h = window.ScrollBar(ScrollBarKind::Horizontal), v = window.ScrollBar(ScrollBarKind::Vertical);
  EXPECT_EQ(h.range, kFrameWidth);
  EXPECT_EQ(v.range, kFrameHeight);
  EXPECT_TRUE(h.visible && v.visible);
  viewer.SetxPosition(20);
  EXPECT_EQ(window.ScrollBar(ScrollBarKind::Horizontal).position, 20);
  window.PaintNow();
  EXPECT_EQ(Differences(Shifted(20, 0)), 0);
  // The user drags the vertical bar: the repaint and the offset follow it.
  window.SetScrollPosition(ScrollBarKind::Vertical, 9);
  window.PaintNow();
  EXPECT_EQ(Differences(Shifted(20, 9)), 0);
  EXPECT_EQ(viewer.yPosition(), 9);
  // A rectangle's copy uses the bar's offset too.
  window.SetScrollPosition(ScrollBarKind::Vertical, 0);
  viewer.PaintUpdatedRect(20, 0, 4, 4);
  EXPECT_EQ(window.PixelAt(0, 0), Pattern(20, 0));

  viewer.SetAutoScroll(false);
  EXPECT_FALSE(window.ScrollBar(ScrollBarKind::Horizontal).visible);
  viewer.DisConnect();
  EXPECT_EQ(window.ScrollBar(ScrollBarKind::Horizontal).range, 0);
  window.PaintNow();
  EXPECT_EQ(Differences([&](int, int) { return window.Background(); }), 0) << "no session: the background only";
}

TEST_F(DisplayTest, StretchedDownAndUpRectangleByRectangle) {
  window.Resize(32, 24);
  viewer.SetStretch(true);
  const std::uint32_t red = rfb::Rgb(255, 0, 0);
  // The second update: a 4 x 4 rectangle at (10, 10).
  ShowPattern(rfb::UpdateHeader(1) + rfb::RectHeader(10, 10, 4, 4, 0) +
              rfb::RawPixels(rfb::TrueColour32(), std::vector<std::uint32_t>(16, red)));
  EXPECT_EQ(window.ScrollBar(ScrollBarKind::Horizontal).range, 0) << "no scroll bars while stretched";
  EXPECT_EQ(Differences([](int x, int y) { return Pattern(2 * x, 2 * y); }), 0) << "scale 1/2 by the block pair";

  // Resizing rescales at the next paint; twice the frame has no block pair.
  const int before = window.Invalidations();
  window.Resize(2 * kFrameWidth, 2 * kFrameHeight);
  EXPECT_GT(window.Invalidations(), before);
  window.PaintNow();
  EXPECT_EQ(Differences([](int x, int y) { return Pattern(x / 2, y / 2); }), 0);

  window.ClearCopies();
  viewer.UpdateRequest();
  ASSERT_TRUE(RunUntil([&] { return updates == 2; }));
  EXPECT_EQ(Differences([red](int x, int y) {
              const int fx = x / 2, fy = y / 2;
              return fx >= 10 && fx < 14 && fy >= 10 && fy < 14 ? red : Pattern(fx, fy);
            }),
            0);
  ASSERT_FALSE(window.Copies().empty());
  const platform::Rect clip = window.Copies().back().clip;
  EXPECT_LE(clip.Width() * clip.Height(), 10 * 10) << "only the rectangle's part of the window is drawn";
}

TEST_F(DisplayTest, BackgroundWithoutASessionAndTheOutlineInADesigner) {
  window.PaintNow();
  EXPECT_EQ(Differences([](int, int) { return 0xF0F0F0u; }), 0);
  viewer.SetColor(0x00123456);
  EXPECT_TRUE(window.Invalid());
  window.PaintNow();
  EXPECT_EQ(window.PixelAt(400, 300), 0x123456u);

  viewer.SetDesigning(true);
  window.Invalidate();
  window.PaintNow();
  // A dashed black outline along the border, nothing inside.
  EXPECT_EQ(window.PixelAt(0, 0), 0u);
  EXPECT_EQ(window.PixelAt(0, 599), 0u);
  EXPECT_EQ(window.PixelAt(799, 3), 0u);
  EXPECT_EQ(window.PixelAt(7, 0), 0x123456u) << "a gap between dashes";
  EXPECT_EQ(window.PixelAt(1, 1), 0x123456u);
  EXPECT_EQ(window.PixelAt(400, 300), 0x123456u);
}

}  // namespace
}  // namespace telorus::test
