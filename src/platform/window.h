// The window a viewer draws into, and the clipboard and bell it uses.
//
// The viewer is a scrolling window control: a client area with a size, two
// scroll bars (range, position, visible mark), invalidation, and copies from
// the framebuffer surface to the window, one to one or scaled. On Windows this
// is a real window and GDI; on Linux a GTK3 widget or the headless window
// below. Toolkits that can draw only inside their paint callback (GTK) take
// "copy this area now" as "invalidate this area now" and paint it from the
// framebuffer: the interface carries the source area so both forms fit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/surface.h"

namespace telorus::platform {

enum class ScrollBarKind { Horizontal, Vertical };

struct ScrollBarState {
  int range = 0;     // content extent in pixels
  int position = 0;  // first visible content pixel
  bool visible = false;
};

class Window {
 public:
  virtual ~Window() = default;

  virtual int ClientWidth() const = 0;
  virtual int ClientHeight() const = 0;

  virtual ScrollBarState ScrollBar(ScrollBarKind bar) const = 0;
  virtual void SetScrollRange(ScrollBarKind bar, int range) = 0;
  // Clamps to 0 … range − client extent; the window scrolls its content.
  virtual void SetScrollPosition(ScrollBarKind bar, int position) = 0;
  virtual void SetScrollVisible(ScrollBarKind bar, bool visible) = 0;

  // Copies `source` (a block of the surface) to the window with its top-left
  // corner at (destX, destY) of the client area; parts outside the client
  // area are clipped. False when the copy failed.
  virtual bool CopyFromSurface(const Surface& surface, Rect source, std::int64_t destX, std::int64_t destY) = 0;
  // Copies `source` scaled into `dest` of the client area.
  virtual bool StretchFromSurface(const Surface& surface, Rect source, Rect dest) = 0;
  // The whole client area is to be repainted (from the paint handler).
  virtual void Invalidate() = 0;
  // The mouse cursor shown over the client area (−3: cross-hair).
  virtual void SetCursorShape(int cursor) = 0;
};

// The local clipboard as text.
class Clipboard {
 public:
  virtual ~Clipboard() = default;
  virtual std::string Text() = 0;  // empty when it holds no text
  virtual void SetText(const std::string& text) = 0;
};

// The platform's default alert sound.
class Bell {
 public:
  virtual ~Bell() = default;
  virtual void Beep() = 0;
};

}  // namespace telorus::platform
