// A window without a display: client size, scroll bars kept as state, and a
// pixel buffer that receives every copy, with a log of the recent copies. The viewer
// runs on it in headless tools and tests, which inject the messages a real
// window would deliver and check what reached the "screen" pixel by pixel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/window.h"

namespace telorus::platform {

class HeadlessWindow : public Window {
 public:
  HeadlessWindow(int clientWidth, int clientHeight);

  // The headless window has no frame: its outer size is its client size.
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int ClientWidth() const override { return width_; }
  int ClientHeight() const override { return height_; }
  // A new size: the window is invalidated and its hook receives Size.
  void Resize(int clientWidth, int clientHeight);

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
  void SetCursorShape(int cursor) override { cursor_ = cursor; }
  void SetFocus() override;
  bool Focused() const override { return focused_; }
  KeyboardState KeyState() const override { return keys_; }
  void SetEnabled(bool enabled) override { enabled_ = enabled; }
  bool Enabled() const override { return enabled_; }
  void SetVisible(bool visible) override { visible_ = visible; }
  bool Visible() const override { return visible_; }

  // ---- What tests drive ----
  // Hands a message to the hook as the window would; returns it as the hook
  // left it.
  WindowMessage Inject(WindowMessage message);
  // The paint message, if anything is invalid (what UpdateWindow does): the
  // background is erased in the background colour, then the hook paints.
  void PaintNow();
  bool Invalid() const { return invalid_; }
  void SetKeyState(const KeyboardState& keys) { keys_ = keys; }
  void LoseFocus();

  struct Copy {
    Rect source;
    Rect dest;  // for one-to-one copies: the source size at the destination
    bool scaled = false;
    Rect clip;  // scaled copies: the window pixels written
  };
  // The log keeps at least the last kCopyLogKeeps copies (a long session
  // must not grow it without end), oldest first.
  static constexpr std::size_t kCopyLogKeeps = 4096;
  const std::vector<Copy>& Copies() const { return copies_; }
  void ClearCopies() { copies_.clear(); }
  int Invalidations() const { return invalidations_; }
  int Cursor() const { return cursor_; }
  // Client-area pixels as colour values (red in bits 0-7); 0 until something
  // is copied or painted there.
  std::uint32_t PixelAt(int x, int y) const;
  Colour Background() const { return background_; }
  // Makes the next one-to-one copies fail, as a failed blit would.
  void FailCopies(bool fail) { failCopies_ = fail; }

 private:
  void Clamp(ScrollBarState& bar, int client);
  void Log(const Copy& copy);

  int width_;
  int height_;
  Surface pixels_;  // the client area
  ScrollBarState horizontal_;
  ScrollBarState vertical_;
  std::vector<Copy> copies_;
  int invalidations_ = 0;
  bool invalid_ = true;  // a new window has never been painted
  Colour background_ = 0;
  int cursor_ = 0;
  bool focused_ = false;
  bool enabled_ = true;
  bool visible_ = true;
  KeyboardState keys_;
  bool failCopies_ = false;
};

class HeadlessClipboard : public Clipboard {
 public:
  std::string Text() override { return text_; }
  void SetText(const std::string& text) override {
    text_ = text;
    ++writes_;
  }
  int Writes() const { return writes_; }

 private:
  std::string text_;
  int writes_ = 0;
};

class HeadlessBell : public Bell {
 public:
  void Beep() override { ++beeps_; }
  int Beeps() const { return beeps_; }

 private:
  int beeps_ = 0;
};

}  // namespace telorus::platform
