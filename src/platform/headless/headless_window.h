// A window without a display: client size, scroll bars kept as state, and a
// pixel buffer that receives every copy, with a log of the recent copies. The viewer
// runs on it in headless tools and tests, which check what reached the
// "screen" pixel by pixel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/window.h"

namespace telorus::platform {

class HeadlessWindow : public Window {
 public:
  HeadlessWindow(int clientWidth, int clientHeight);

  int ClientWidth() const override { return width_; }
  int ClientHeight() const override { return height_; }
  void Resize(int clientWidth, int clientHeight);

  ScrollBarState ScrollBar(ScrollBarKind bar) const override;
  void SetScrollRange(ScrollBarKind bar, int range) override;
  void SetScrollPosition(ScrollBarKind bar, int position) override;
  void SetScrollVisible(ScrollBarKind bar, bool visible) override;

  bool CopyFromSurface(const Surface& surface, Rect source, std::int64_t destX, std::int64_t destY) override;
  bool StretchFromSurface(const Surface& surface, Rect source, Rect dest) override;
  void Invalidate() override;
  void SetCursorShape(int cursor) override { cursor_ = cursor; }

  struct Copy {
    Rect source;
    Rect dest;  // for one-to-one copies: the source size at the destination
    bool scaled = false;
  };
  // The log keeps at least the last kCopyLogKeeps copies (a long session
  // must not grow it without end), oldest first.
  static constexpr std::size_t kCopyLogKeeps = 4096;
  const std::vector<Copy>& Copies() const { return copies_; }
  void ClearCopies() { copies_.clear(); }
  int Invalidations() const { return invalidations_; }
  int Cursor() const { return cursor_; }
  // Client-area pixels as colour values (red in bits 0-7); the background
  // is 0 until something is copied there.
  std::uint32_t PixelAt(int x, int y) const;
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
  int cursor_ = 0;
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
