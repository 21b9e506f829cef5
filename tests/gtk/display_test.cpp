// The GTK widget on a real X display against TigerVNC's Xvnc: what the X
// server holds for the viewer's window equals the server's screen, one to
// one and scrolled; a stretched picture equals a nearest-neighbour reference
// exactly and a box-filtered one within a tolerance; the scroll bars show
// exactly when AutoScroll is set and the picture is larger than the window;
// a window shown after the session started paints the picture as well.
#include <cmath>

#include "gtk/gtk_fixture.h"
#include "platform/scale.h"

namespace telorus::test {
namespace {

using namespace std::chrono_literals;
using platform::ScrollBarKind;

constexpr int kFrameW = 640, kFrameH = 480;

struct Server {
  Server() : xvnc(kFrameW, kFrameH, 24) {
    if (xvnc.Ok()) PaintTestPicture(xvnc.Display(), kFrameW, kFrameH);
  }
  XvncServer xvnc;
};

// Filters differ in their weights at sharp edges: the tolerance against
// the area average is 12 levels on every pixel but those of at most 3 %
// (edges and noise), and none may be off by more than 128. The picture
// must differ from a sampled one: it is filtered.
platform::Surface BoxReference(const ScreenImage& screen, int width, int height) {
  platform::Surface source(kFrameW, kFrameH);
  for (int y = 0; y < kFrameH; ++y)
    for (int x = 0; x < kFrameW; ++x) source.SetPixel(x, y, screen.At(x, y));
  platform::Surface box(width, height);
  platform::ScaleAreaAverage(source, {0, 0, kFrameW, kFrameH}, box.View(), {0, 0, width, height},
                             {0, 0, width, height});
  return box;
}

void ExpectSmoothNearABoxFilter(WindowedViewer& w, const ScreenImage& screen, int width, int height) {
  const platform::Surface box = BoxReference(screen, width, height);
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::size_t beyond12 = SIZE_MAX, beyond128 = SIZE_MAX, nearestMisses = 0;
  w.MatchWindow([&](const ScreenImage& image) {
    auto reference = [&](int x, int y) { return box.GetPixel(x, y); };
    beyond12 = CountDifferences(image, width, height, reference, 12);
    beyond128 = CountDifferences(image, width, height, reference, 128);
    nearestMisses = CountDifferences(
        image, width, height, [&](int x, int y) { return screen.At(x * kFrameW / width, y * kFrameH / height); });
    return beyond12 <= pixels * 3 / 100 && beyond128 == 0 && nearestMisses > 0 ? 0 : 1;
  });
  EXPECT_LE(beyond12, pixels * 3 / 100);
  EXPECT_EQ(beyond128, 0u);
  EXPECT_GT(nearestMisses, pixels / 100) << "the smooth picture is filtered, not sampled";
}

TEST(GtkDisplay, OneToOneAndScrolledTheWindowEqualsTheServersScreen) {
  Server server;
  ASSERT_TRUE(server.xvnc.Ok()) << server.xvnc.Problem();
  const ScreenImage screen = CaptureScreen(server.xvnc.Display());
  WindowedViewer w(400, 300);
  w.viewer.SetAutoScroll(true);
  w.Connect(server.xvnc.Port());
  ASSERT_TRUE(w.WaitFirstUpdate()) << w.error;
  ASSERT_TRUE(w.window.ScrollBarShown(ScrollBarKind::Horizontal));
  const int cw = w.window.ClientWidth(), ch = w.window.ClientHeight();
  ASSERT_LT(cw, 400);
  ASSERT_LT(ch, 300);
  auto shifted = [&](int dx, int dy) {
    return [&, dx, dy](const ScreenImage& image) {
      return CountDifferences(image, cw, ch, [&](int x, int y) { return screen.At(x + dx, y + dy); });
    };
  };
  EXPECT_EQ(w.MatchWindow(shifted(0, 0)), 0u);
  // The host moves the view: the bars follow and the picture with them.
  w.viewer.SetxPosition(150);
  w.viewer.SetyPosition(100);
  EXPECT_EQ(w.window.ScrollBar(ScrollBarKind::Horizontal).position, 150);
  EXPECT_EQ(w.MatchWindow(shifted(150, 100)), 0u);
  // The user drags a bar: its position is the view offset.
  GtkWidget* hbar = gtk_grid_get_child_at(GTK_GRID(w.window.Widget()), 0, 1);
  gtk_range_set_value(GTK_RANGE(hbar), 40);
  EXPECT_EQ(w.MatchWindow(shifted(40, 100)), 0u);
}

// A host may start the session before its window is on screen: the
// framebuffer is then plain memory, and the window, once shown, paints it
// through an image it shares with the X server.
TEST(GtkDisplay, AWindowShownAfterTheSessionStartedShowsTheScreenToo) {
  Server server;
  ASSERT_TRUE(server.xvnc.Ok()) << server.xvnc.Problem();
  const ScreenImage screen = CaptureScreen(server.xvnc.Display());
  WindowedViewer w(kFrameW, kFrameH);
  gtk_widget_hide(w.top);
  gtk_widget_unrealize(w.top);
  w.Connect(server.xvnc.Port());
  ASSERT_TRUE(w.WaitFirstUpdate()) << w.error;
  gtk_widget_show_all(w.top);
  ASSERT_TRUE(PumpUntil([&] { return w.window.Width() == kFrameW && gtk_widget_get_mapped(w.window.DrawingArea()); }));
  EXPECT_EQ(w.MatchWindow([&](const ScreenImage& image) {
    return CountDifferences(image, kFrameW, kFrameH, [&](int x, int y) { return screen.At(x, y); });
  }),
            0u);
}

TEST(GtkDisplay, BeyondThePictureTheWindowShowsItsBackground) {
  Server server;
  ASSERT_TRUE(server.xvnc.Ok()) << server.xvnc.Problem();
  const ScreenImage screen = CaptureScreen(server.xvnc.Display());
  WindowedViewer w(700, 520);
  w.viewer.SetColor(0x00336699);  // a colour value: red in the low byte
  w.Connect(server.xvnc.Port());
  ASSERT_TRUE(w.WaitFirstUpdate()) << w.error;
  EXPECT_EQ(w.MatchWindow([&](const ScreenImage& image) {
    return CountDifferences(image, 700, 520,
                            [&](int x, int y) { return x < kFrameW && y < kFrameH ? screen.At(x, y) : 0x336699u; });
  }),
            0u);
}

// The window pixel (x, y) of a picture scaled by 4/5 takes the source pixel
// under its centre.
std::uint32_t NearestReference(const ScreenImage& screen, int x, int y) {
  return screen.At(static_cast<int>(std::floor((x + 0.5) * 5 / 4)), static_cast<int>(std::floor((y + 0.5) * 5 / 4)));
}

TEST(GtkDisplay, StretchedNearestIsExactAndSmoothIsCloseToABoxFilter) {
  Server server;
  ASSERT_TRUE(server.xvnc.Ok()) << server.xvnc.Problem();
  const ScreenImage screen = CaptureScreen(server.xvnc.Display());
  // 640 x 480 onto 512 x 384: blocks of five pixels become four.
  WindowedViewer w(512, 384);
  w.viewer.SetAutoScroll(true);
  w.viewer.SetStretch(true);
  w.window.SetScaleFilter(platform::gtk::ScaleFilter::Nearest);
  w.Connect(server.xvnc.Port());
  ASSERT_TRUE(w.WaitFirstUpdate()) << w.error;
  EXPECT_FALSE(w.window.ScrollBarShown(ScrollBarKind::Horizontal)) << "no bars on a stretched picture";
  EXPECT_EQ(w.MatchWindow([&](const ScreenImage& image) {
    return CountDifferences(image, 512, 384, [&](int x, int y) { return NearestReference(screen, x, y); });
  }),
            0u);

  // Smooth: each window pixel near the average of the 1.25 x 1.25 source
  // pixels it covers.
  w.window.SetScaleFilter(platform::gtk::ScaleFilter::Smooth);
  ExpectSmoothNearABoxFilter(w, screen, 512, 384);
}

TEST(GtkDisplay, SmoothReductionBeyondHalfSizeAveragesWhatEachPixelCovers) {
  Server server;
  ASSERT_TRUE(server.xvnc.Ok()) << server.xvnc.Problem();
  const ScreenImage screen = CaptureScreen(server.xvnc.Display());
  // 640 x 480 onto 200 x 150: 3.2 source pixels a side per window pixel.
  WindowedViewer w(200, 150);
  w.viewer.SetStretch(true);
  w.Connect(server.xvnc.Port());
  ASSERT_TRUE(w.WaitFirstUpdate()) << w.error;
  ExpectSmoothNearABoxFilter(w, screen, 200, 150);
  // The picture's one-pixel line (10,350)-(600,360) stays in every column,
  // as faint as the average makes it: a filter that samples a few rows
  // would lose it in a third of them.
  const platform::Surface box = BoxReference(screen, 200, 150);
  const ScreenImage shown = CaptureWindow(LocalDisplay(), XidOf(w.top));
  std::size_t lost = 0;
  for (int x = 10; x < 185; ++x) {
    const int row = (350 + (x * 640 / 200 - 10) * 10 / 590) * 150 / 480;
    for (int y = row - 1; y <= row + 1; ++y) {
      const std::uint32_t a = shown.At(x, y), b = box.GetPixel(x, y);
      for (int c = 0; c < 24; c += 8) lost += std::abs(int((a >> c) & 0xFF) - int((b >> c) & 0xFF)) > 12;
    }
  }
  EXPECT_EQ(lost, 0u);
}

TEST(GtkDisplay, ScrollBarsShowOnlyWithAutoScrollAndALargerPicture) {
  Server server;
  ASSERT_TRUE(server.xvnc.Ok()) << server.xvnc.Problem();
  struct Case {
    int width, height;
    bool autoScroll, stretch;
    bool horizontal, vertical;
  };
  const Case cases[] = {
      {400, 300, false, false, false, false},  // larger picture, no AutoScroll
      {400, 300, true, false, true, true},     // both axes larger
      {700, 300, true, false, false, true},    // only taller than the window
      {700, 560, true, false, false, false},   // the picture fits
      {400, 300, true, true, false, false},    // stretched
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + (c.autoScroll ? " autoscroll" : "") +
                 (c.stretch ? " stretch" : ""));
    WindowedViewer w(c.width, c.height);
    w.viewer.SetAutoScroll(c.autoScroll);
    w.viewer.SetStretch(c.stretch);
    w.Connect(server.xvnc.Port());
    ASSERT_TRUE(w.WaitFirstUpdate()) << w.error;
    PumpFor(100ms);
    GtkWidget* hbar = gtk_grid_get_child_at(GTK_GRID(w.window.Widget()), 0, 1);
    GtkWidget* vbar = gtk_grid_get_child_at(GTK_GRID(w.window.Widget()), 1, 0);
    EXPECT_EQ(gtk_widget_get_mapped(hbar), c.horizontal);
    EXPECT_EQ(gtk_widget_get_mapped(vbar), c.vertical);
    // The drawing area is what is left beside the bars that show.
    GtkAllocation area;
    gtk_widget_get_allocation(w.window.DrawingArea(), &area);
    EXPECT_EQ(area.width, w.window.ClientWidth());
    EXPECT_EQ(area.height, w.window.ClientHeight());
  }
}

}  // namespace
}  // namespace telorus::test
