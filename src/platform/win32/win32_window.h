// The viewer's window on Windows: a real child window with scroll bars, the
// cross cursor, and GDI drawing from the framebuffer's DIB section (BitBlt;
// scaled copies box-filtered as halftone mode does), delivering its paint, size, focus, key and
// mouse messages to the window hook. Plus the clipboard as CF_TEXT and
// MessageBeep. It knows nothing of RFB.
#pragma once

#include <windows.h>

#include "platform/window.h"

namespace telorus::platform::win32 {

class Win32Window : public Window {
 public:
  // A child window of `parent` at (x, y) of its client area, or a
  // top-level popup window at (x, y) of the screen when parent is null.
  Win32Window(HWND parent, int x, int y, int width, int height);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  HWND Handle() const { return hwnd_; }

  int Width() const override;
  int Height() const override;
  int ClientWidth() const override;
  int ClientHeight() const override;

  ScrollBarState ScrollBar(ScrollBarKind bar) const override;
  void SetScrollRange(ScrollBarKind bar, int range) override;
  void SetScrollPosition(ScrollBarKind bar, int position) override;
  void SetScrollVisible(ScrollBarKind bar, bool visible) override;

  bool CopyFromSurface(const Surface& surface, Rect source, std::int64_t destX, std::int64_t destY) override;
  using Window::StretchFromSurface;
  bool StretchFromSurface(const Surface& surface, Rect source, Rect dest, Rect clip) override;
  void DrawDashedOutline(Rect area) override;
  void Invalidate() override;
  void SetBackground(TColor colour) override;
  void SetCursorShape(int cursor) override;
  void SetFocus() override;
  bool Focused() const override;
  KeyboardState KeyState() const override;
  void SetEnabled(bool enabled) override { EnableWindow(hwnd_, enabled); }
  bool Enabled() const override { return IsWindowEnabled(hwnd_) != 0; }
  void SetVisible(bool visible) override { ShowWindow(hwnd_, visible ? SW_SHOW : SW_HIDE); }
  bool Visible() const override { return (GetWindowLongA(hwnd_, GWL_STYLE) & WS_VISIBLE) != 0; }

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  ScrollBarState& Bar(ScrollBarKind bar) { return bar == ScrollBarKind::Horizontal ? horizontal_ : vertical_; }
  void ApplyScrollBar(ScrollBarKind bar);
  void UserScroll(ScrollBarKind bar, WORD request);
  void MouseMessage(WindowMessageKind kind, MouseButtonKind button, WPARAM wParam, LPARAM lParam);
  void Wheel(bool horizontal, WPARAM wParam, LPARAM lParam);
  // The device context to draw on: the paint message's, or the window's.
  HDC AcquireDc();
  void ReleaseDc(HDC dc);
  // A memory DC with the surface's bitmap selected, or null for plain memory.
  HDC SourceDc(const Surface& surface);

  HWND hwnd_ = nullptr;
  HDC paintDc_ = nullptr;
  HDC memoryDc_ = nullptr;
  HGDIOBJ memoryDcDefault_ = nullptr;
  HBRUSH background_ = nullptr;
  HCURSOR cursor_ = nullptr;
  ScrollBarState horizontal_;
  ScrollBarState vertical_;
  bool applyingBars_ = false;
  Surface scratch_;  // scaled copies are filtered here, then copied
};

class Win32Clipboard : public Clipboard {
 public:
  std::string Text() override;
  void SetText(const std::string& text) override;
};

class Win32Bell : public Bell {
 public:
  void Beep() override { MessageBeep(0); }
};

}  // namespace telorus::platform::win32
