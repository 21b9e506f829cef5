// The window a viewer draws into, and the clipboard and bell it uses.
//
// The viewer is a scrolling window control: a client area with a size, two
// scroll bars (range, position, visible mark), invalidation, and copies from
// the framebuffer surface to the window, one to one or scaled. On Windows this
// is a real window and GDI; on Linux a GTK3 widget or the headless window.
//
// Messages in. A window delivers what happens to it (paint, size, focus,
// keys, characters, mouse moves, buttons, the wheel) to one hook, in arrival
// order, on the loop's thread, with the values a Windows window would give:
// virtual-key codes, client coordinates and the MK_* key-state flags.
//
// Drawing. Toolkits that can draw only inside their paint callback (GTK) take
// "copy this area now" as "invalidate this area now"; their paint callback
// then delivers a paint message and the hook copies the picture again, which
// the toolkit clips to what is invalid. The copy operations carry the source
// area and the destination so that both forms fit.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "platform/surface.h"

namespace telorus::platform {

enum class ScrollBarKind { Horizontal, Vertical };

struct ScrollBarState {
  int range = 0;     // content extent in pixels
  int position = 0;  // first visible content pixel
  bool visible = false;
};

// A colour as hosts give it: a colour value (red in bits 0-7), or, with the
// top byte 0xFF (or 0x80, as OLE colours mark it), a system colour whose index
// is the low byte.
using TColor = std::uint32_t;
inline constexpr TColor kClBtnFace = 0xFF00000F;  // COLOR_BTNFACE
inline constexpr TColor kClWindow = 0xFF000005;   // COLOR_WINDOW
inline constexpr TColor kClBlack = 0x00000000;

// The colour value of a colour, with system colours as a Windows desktop
// shows them by default (for windows that have no system palette to ask).
Colour DefaultColourValue(TColor colour);

// The key-state flags of mouse messages (MK_*).
inline constexpr std::uint32_t kMkLButton = 0x01;
inline constexpr std::uint32_t kMkRButton = 0x02;
inline constexpr std::uint32_t kMkShift = 0x04;
inline constexpr std::uint32_t kMkControl = 0x08;
inline constexpr std::uint32_t kMkMButton = 0x10;

// One notch of a mouse wheel (WHEEL_DELTA).
inline constexpr int kWheelDelta = 120;

enum class WindowMessageKind : std::uint8_t {
  Paint,        // repaint: the background is already erased
  Size,         // the client size changed
  SetFocus,     // the window gained the input focus
  KillFocus,    // ... and lost it
  KeyDown,      // key: virtual-key code; systemKey for WM_SYSKEYDOWN
  KeyUp,        // key: virtual-key code; systemKey for WM_SYSKEYUP
  Char,         // key: the typed 8-bit character (WM_CHAR), after its KeyDown
  MouseMove,    // x, y, keyFlags
  ButtonDown,   // button, x, y, keyFlags (the flags include the button)
  ButtonUp,     // button, x, y, keyFlags (the flags no longer include it)
  DoubleClick,  // the second press of a double click, instead of ButtonDown
  Wheel,        // wheelDelta, horizontal, x, y (client), keyFlags
};

enum class MouseButtonKind : std::uint8_t { Left, Right, Middle };

struct WindowMessage {
  WindowMessageKind kind = WindowMessageKind::Paint;
  std::uint16_t key = 0;
  bool systemKey = false;
  MouseButtonKind button = MouseButtonKind::Left;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::uint32_t keyFlags = 0;
  std::int32_t wheelDelta = 0;  // kWheelDelta per notch; positive away from the user (or to the right)
  bool horizontal = false;
  // Key messages: the X keysym of a character the virtual-key code cannot
  // express (an AltGr combination, a key of a non-US layout, a dead key),
  // which the viewer sends as it is; 0 when the code says it all. Windows
  // windows leave it 0.
  std::uint32_t keysym = 0;

  static WindowMessage Of(WindowMessageKind kind) {
    WindowMessage m;
    m.kind = kind;
    return m;
  }
  static WindowMessage Key(bool down, std::uint16_t virtualKey, bool system = false) {
    WindowMessage m = Of(down ? WindowMessageKind::KeyDown : WindowMessageKind::KeyUp);
    m.key = virtualKey;
    m.systemKey = system;
    return m;
  }
  static WindowMessage Character(std::uint8_t c) {
    WindowMessage m = Of(WindowMessageKind::Char);
    m.key = c;
    return m;
  }
  static WindowMessage Mouse(WindowMessageKind kind, std::int32_t x, std::int32_t y, std::uint32_t flags,
                             MouseButtonKind button = MouseButtonKind::Left) {
    WindowMessage m = Of(kind);
    m.x = x;
    m.y = y;
    m.keyFlags = flags;
    m.button = button;
    return m;
  }
  static WindowMessage WheelTurn(std::int32_t delta, std::int32_t x, std::int32_t y, std::uint32_t flags,
                                 bool horizontal = false) {
    WindowMessage m = Mouse(WindowMessageKind::Wheel, x, y, flags);
    m.wheelDelta = delta;
    m.horizontal = horizontal;
    return m;
  }
};

// The keyboard as GetKeyState reports it at the time of the message being
// handled.
struct KeyboardState {
  bool leftShift = false;  // the left Shift key alone
  bool shift = false;      // either Shift key
  bool control = false;
  bool alt = false;
  bool capsLock = false;  // Caps Lock toggled on
};

// Receives every message of a window. The handler may change the message
// (a host that replaces a typed character); the window hands the changed
// message on to its own default handling.
using WindowHook = std::function<void(WindowMessage& message)>;

class Window {
 public:
  virtual ~Window() = default;

  // The one receiver of this window's messages; an empty hook detaches.
  void SetHook(WindowHook hook) { hook_ = std::move(hook); }

  // The outer size of the control (scroll bars included) and its client area.
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual int ClientWidth() const = 0;
  virtual int ClientHeight() const = 0;

  virtual ScrollBarState ScrollBar(ScrollBarKind bar) const = 0;
  virtual void SetScrollRange(ScrollBarKind bar, int range) = 0;
  // Clamps to 0 … range − client extent; the window scrolls its content and
  // has the uncovered part repainted.
  virtual void SetScrollPosition(ScrollBarKind bar, int position) = 0;
  // A bar shows when it is marked visible and its range exceeds the client
  // extent.
  virtual void SetScrollVisible(ScrollBarKind bar, bool visible) = 0;

  // Copies `source` (a block of the surface) to the window with its top-left
  // corner at (destX, destY) of the client area; parts outside the client
  // area are clipped. False when the copy failed.
  virtual bool CopyFromSurface(const Surface& surface, Rect source, std::int64_t destX, std::int64_t destY) = 0;
  // Copies `source` scaled onto `dest` of the client area with the halftone
  // (smoothing) filter, writing only the window pixels inside `clip`: a part
  // of a larger scaled picture is drawn exactly as the whole picture would
  // draw it there.
  virtual bool StretchFromSurface(const Surface& surface, Rect source, Rect dest, Rect clip) = 0;
  bool StretchFromSurface(const Surface& surface, Rect source, Rect dest) {
    return StretchFromSurface(surface, source, dest, dest);
  }
  // Outlines `area` with a dashed pen and draws nothing inside it (how a
  // control shows itself in a form designer).
  virtual void DrawDashedOutline(Rect area) = 0;
  // A black width x height surface in the memory this window copies from
  // fastest (a bitmap of the windowing system, memory it shares with the
  // display server); by default the platform's bitmap surface. Throws
  // std::bad_alloc when it cannot be had.
  virtual Surface CreateSurface(int width, int height) { return CreateBitmapSurface(width, height); }

  // The whole client area is to be repainted: a paint message follows.
  virtual void Invalidate() = 0;
  // The colour the window erases its background with before each paint.
  virtual void SetBackground(TColor colour) = 0;
  // The mouse cursor shown over the client area (−3: cross-hair).
  virtual void SetCursorShape(int cursor) = 0;

  virtual void SetFocus() = 0;
  virtual bool Focused() const = 0;
  // Whether the window takes input, and whether it is shown.
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetVisible(bool visible) = 0;
  virtual bool Visible() const = 0;
  virtual KeyboardState KeyState() const = 0;

 protected:
  // Hands a message to the hook (a copy of it, so the hook may replace
  // itself).
  void Deliver(WindowMessage& message) {
    if (auto hook = hook_) hook(message);
  }

 private:
  WindowHook hook_;
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
