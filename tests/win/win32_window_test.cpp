// The viewer on a real Win32 window, drawn by Wine's X11 driver on Xvfb: a
// screenshot of the window against the framebuffer one to one, scrolled and
// stretched, and window messages reaching the server as RFB input.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>

#include "platform/win32/win32_window.h"
#include "screen.h"
#include "support/loop_check.h"
#include "support/scripted_server.h"
#include "viewer/Telorus.h"
#include "../viewer/rfb_bytes.h"

namespace telorus::test {
namespace {

using namespace viewer;
using namespace std::chrono_literals;

constexpr int kFrameWidth = 160, kFrameHeight = 120;

std::uint32_t Pattern(int x, int y) {
  return rfb::Rgb(static_cast<std::uint32_t>(x * 37 % 256), static_cast<std::uint32_t>(y * 53 % 256),
                  static_cast<std::uint32_t>((x ^ y) * 7 % 256));
}

class Win32WindowTest : public LoopTest {
 protected:
  void TearDown() override {
    viewer.reset();
    window.reset();
    platform::PumpPending();
    LoopTest::TearDown();
  }

  // A window of the given size with a viewer showing the pattern, plus the
  // bytes `more` once the client has sent `moreAfter` bytes after its first
  // update request.
  void Show(int width, int height, const std::function<void(TQuarneTelorus&)>& configure = {}) {
    window = std::make_unique<platform::win32::Win32Window>(nullptr, 300, 300, width, height);
    ASSERT_NE(window->Handle(), nullptr);
    viewer = std::make_unique<TQuarneTelorus>(*window, clipboard, bell);
    viewer->OnUpdateComplete = [this](TObject*) { ++updates; };
    if (configure) configure(*viewer);
    const auto fmt = rfb::TrueColour32();
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < kFrameHeight; ++y)
      for (int x = 0; x < kFrameWidth; ++x) pixels.push_back(Pattern(x, y));
    server.Send("RFB 003.008\n").Expect(12).Send(rfb::Be32(1)).Expect(1);
    server.Send(rfb::ServerInit(kFrameWidth, kFrameHeight, fmt, "win")).Expect(8 + 10);
    server.Send(rfb::UpdateHeader(1) + rfb::RectHeader(0, 0, kFrameWidth, kFrameHeight, 0) +
                rfb::RawPixels(fmt, pixels));
    server.Start();
    viewer->SetServer("127.0.0.1");
    viewer->SetPort(server.Port());
    viewer->Connect();
    ASSERT_TRUE(RunLoopUntil([&] { return viewer->IsSessionRunning(); }, 10s));
    viewer->UpdateRequest();
    ASSERT_TRUE(RunLoopUntil([&] { return updates == 1; }, 10s));
  }

  // Waits until the screen shows what `expected` says in every pixel, and
  // returns the pixels that still differ.
  int ScreenDiffers(const std::function<std::uint32_t(int, int)>& expected, int tolerance = 0) {
    int wrong = 0;
    for (int attempt = 0; attempt < 40; ++attempt) {
      RedrawWindow(window->Handle(), nullptr, nullptr, RDW_UPDATENOW);
      platform::PumpPending();
      const Shot shot = Screenshot(window->Handle());
      wrong = 0;
      for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x) {
          const std::uint32_t a = shot.At(x, y), b = expected(x, y);
          for (int c = 0; c < 24; c += 8)
            if (std::abs(static_cast<int>((a >> c) & 0xFF) - static_cast<int>((b >> c) & 0xFF)) > tolerance) {
              ++wrong;
              break;
            }
        }
      if (wrong == 0) break;
      if (attempt == 39)
        ADD_FAILURE() << "screen (0,0) " << std::hex << shot.At(0, 0) << " expected " << expected(0, 0) << "; (10,10) "
                      << shot.At(10, 10) << " expected " << expected(10, 10);
      Sleep(50);
    }
    return wrong;
  }

  std::unique_ptr<platform::win32::Win32Window> window;
  platform::win32::Win32Clipboard clipboard;
  platform::win32::Win32Bell bell;
  std::unique_ptr<TQuarneTelorus> viewer;
  ScriptedServer server;
  int updates = 0;
};

TEST_F(Win32WindowTest, TheScreenShowsTheFramebufferOneToOneAndScrolled) {
  Show(120, 90, [](TQuarneTelorus& v) { v.SetAutoScroll(true); });
  const LONG style = GetWindowLongA(window->Handle(), GWL_STYLE);
  EXPECT_TRUE((style & WS_HSCROLL) && (style & WS_VSCROLL)) << "a picture larger than the window gets scroll bars";
  EXPECT_EQ(ScreenDiffers(Pattern), 0);
  viewer->SetxPosition(20);
  viewer->SetyPosition(9);
  EXPECT_EQ(ScreenDiffers([](int x, int y) { return Pattern(x + 20, y + 9); }), 0);
  // The user drags a bar: the window scrolls by its own scroll message.
  SendMessageA(window->Handle(), WM_HSCROLL, MAKEWPARAM(SB_LINELEFT, 0), 0);
  EXPECT_EQ(ScreenDiffers([](int x, int y) { return Pattern(x + 4, y + 9); }), 0);
}

TEST_F(Win32WindowTest, AStretchedViewIsABoxFilteredPicture) {
  // Half the frame on each axis: every window pixel shows a 2 x 2 block.
  Show(kFrameWidth / 2, kFrameHeight / 2, [](TQuarneTelorus& v) { v.SetStretch(true); });
  auto box = [](int x, int y) {
    std::uint32_t out = 0;
    for (int c = 0; c < 24; c += 8) {
      std::uint32_t sum = 0;
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) sum += (Pattern(2 * x + dx, 2 * y + dy) >> c) & 0xFF;
      out |= ((sum + 2) / 4) << c;
    }
    return out;
  };
  // The window's filter weighs in fixed point: within one level of each
  // channel of the exact box.
  EXPECT_EQ(ScreenDiffers(box, 1), 0);
}

TEST_F(Win32WindowTest, WindowMessagesReachTheServerAsInput) {
  Show(kFrameWidth, kFrameHeight);
  const std::size_t before = server.Received().size();
  HWND hwnd = window->Handle();
  PostMessageA(hwnd, WM_KEYDOWN, 'A', 0);
  PostMessageA(hwnd, WM_KEYUP, 'A', 0);
  PostMessageA(hwnd, WM_KEYDOWN, VK_LWIN, 0);
  PostMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 40));
  PostMessageA(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(31, 41));
  const std::string expected = rfb::KeyEvent(true, 'a') + rfb::KeyEvent(false, 'a') + rfb::KeyEvent(true, 0xFFEB) +
                               rfb::U8(5) + rfb::U8(1) + rfb::Be16(30) + rfb::Be16(40) + rfb::U8(5) + rfb::U8(0) +
                               rfb::Be16(31) + rfb::Be16(41);
  ASSERT_TRUE(RunLoopUntil([&] { return server.Received().size() >= before + expected.size(); }, 5s));
  EXPECT_EQ(server.Received().substr(before), expected);
  EXPECT_EQ(GetFocus(), hwnd) << "a click takes the focus";
}

}  // namespace
}  // namespace telorus::test
