// Input: the viewer's window procedure, which sends what a key or mouse
// message means to the server and then raises the host's events for it; the
// key table; the clipboard in both directions; and the server's bell.
#include <array>
#include <cstring>

#include "viewer/Telorus.h"
#include "viewer/stretch.h"

namespace telorus::viewer {

using platform::MouseButtonKind;
using platform::WindowMessage;
using platform::WindowMessageKind;

namespace {

// Virtual-key code → X keysym, searched from the first row.
struct KeyRow {
  std::uint16_t code;
  std::uint16_t keysym;
};

constexpr std::size_t kKeyRows = 45 + 10 + 6 + 16;

constexpr std::array<KeyRow, kKeyRows> MakeKeyTable() {
  std::array<KeyRow, kKeyRows> rows{};
  const KeyRow fixed[] = {
      {0x08, 0xFF08},
      {0x09, 0xFF09},
      {0x0C, 0xFF0B},
      {0x0D, 0xFF0D},  // BackSpace Tab Clear Return
      {0x10, 0xFFE1},
      {0x11, 0xFFE3},
      {0x12, 0xFFE9},  // Shift Ctrl Alt: the left-hand keysyms
      {0x13, 0xFF13},
      {0x14, 0xFFE5},
      {0x1B, 0xFF1B},
      {0x20, 0x0020},  // Pause Caps_Lock Escape space
      {0x21, 0xFF55},
      {0x22, 0xFF56},
      {0x23, 0xFF57},
      {0x24, 0xFF50},  // Prior Next End Home
      {0x25, 0xFF51},
      {0x26, 0xFF52},
      {0x27, 0xFF53},
      {0x28, 0xFF54},  // Left Up Right Down
      {0x29, 0xFF60},
      {0x2B, 0xFF62},
      {0x2C, 0xFF61},
      {0x2D, 0xFF63},  // Select Execute Print Insert
      {0x2E, 0xFFFF},
      {0x2F, 0xFF6A},  // Delete Help
      // The Windows logo keys and the Applications key. Their codes are
      // those of '[', '\' and ']' as characters, so without these rows the
      // logo key typed '[' on the remote desktop.
      {0x5B, 0xFFEB},
      {0x5C, 0xFFEC},
      {0x5D, 0xFF67},  // Super_L Super_R Menu
      {0xA0, 0xFFE1},
      {0xA1, 0xFFE2},
      {0xA2, 0xFFE3},
      {0xA3, 0xFFE4},  // Shift_L/R Control_L/R
      {0xA4, 0xFFE9},
      {0xA5, 0xFFEA},  // Alt_L/R
      // The punctuation keys give their unshifted character; Shift travels
      // as a key event of its own.
      {0xBA, 0x003B},
      {0xBB, 0x003D},
      {0xBC, 0x002C},
      {0xBD, 0x002D},  // ; = , -
      {0xBE, 0x002E},
      {0xBF, 0x002F},
      {0xC0, 0x0060},
      {0xDB, 0x005B},  // . / ` [
      {0xDC, 0x005C},
      {0xDD, 0x005D},
      {0xDE, 0x0027},  // \ ] '
  };
  std::size_t n = 0;
  for (const KeyRow& row : fixed) rows[n++] = row;
  for (std::uint16_t c = 0x60; c <= 0x69; ++c) rows[n++] = {c, static_cast<std::uint16_t>(c + 0xFF50)};  // KP_0..KP_9
  for (std::uint16_t c = 0x6A; c <= 0x6F; ++c)
    rows[n++] = {c, static_cast<std::uint16_t>(c + 0xFF40)};  // KP_Multiply..
  for (std::uint16_t c = 0x70; c <= 0x7F; ++c) rows[n++] = {c, static_cast<std::uint16_t>(c + 0xFF4E)};  // F1..F16
  return rows;
}

constexpr std::array<KeyRow, kKeyRows> KeyTable = MakeKeyTable();

// RFB pointer button mask bits.
constexpr std::uint8_t kButtonLeft = 0x01;
constexpr std::uint8_t kButtonMiddle = 0x02;
constexpr std::uint8_t kButtonRight = 0x04;
constexpr std::uint8_t kWheelUp = 0x08;     // button 4
constexpr std::uint8_t kWheelDown = 0x10;   // button 5
constexpr std::uint8_t kWheelLeft = 0x20;   // button 6
constexpr std::uint8_t kWheelRight = 0x40;  // button 7

std::uint8_t ButtonMask(std::uint32_t flags) {
  // Shift and Ctrl are modifier flags, not buttons: they stay out.
  std::uint8_t mask = 0;
  if (flags & platform::kMkLButton) mask |= kButtonLeft;
  if (flags & platform::kMkMButton) mask |= kButtonMiddle;
  if (flags & platform::kMkRButton) mask |= kButtonRight;
  return mask;
}

TMouseButton ButtonOf(MouseButtonKind kind) {
  switch (kind) {
    case MouseButtonKind::Left: return mbLeft;
    case MouseButtonKind::Right: return mbRight;
    case MouseButtonKind::Middle: return mbMiddle;
  }
  return mbLeft;
}

// Line feeds become carriage return + line feed on the local clipboard; a
// line feed that already has its carriage return keeps the one it has.
std::string ToLocalLineEnds(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  char previous = '\0';
  for (char c : text) {
    if (c == '\n' && previous != '\r') out += '\r';
    out += c;
    previous = c;
  }
  return out;
}

}  // namespace

// ---- The window procedure ----

void TQuarneTelorus::HandleWindowMessage(WindowMessage& m) {
  // In a form designer nothing is forwarded: the messages go straight to the
  // base control's handling (the host's events).
  const bool forward = !Designing();
  switch (m.kind) {
    case WindowMessageKind::Paint: Paint(); return;
    case WindowMessageKind::Size:
      // A stretched picture is rescaled at the next paint.
      if (FStretch && forward) FWindow.Invalidate();
      return;
    case WindowMessageKind::KeyDown:
    case WindowMessageKind::KeyUp: {
      const bool down = m.kind == WindowMessageKind::KeyDown;
      if (forward) {
        // A character the window could not express as a virtual key goes as
        // its own keysym; the key's code is then only for the host's events.
        if (m.keysym != 0)
          SendKeyEvent(down, m.keysym);
        else
          ForwardKey(m.key, down);
      }
      if (auto h = down ? OnKeyDown : OnKeyUp) h(this, m.key, KeyShiftState());
      return;
    }
    case WindowMessageKind::Char: {
      char key = static_cast<char>(m.key);
      if (auto h = OnKeyPress) h(this, key);
      m.key = static_cast<std::uint8_t>(key);
      return;
    }
    case WindowMessageKind::MouseMove:
      if (forward) SendPointerEvent(m.keyFlags, m.x, m.y);
      if (auto h = OnMousemove) h(this, MouseShiftState(m.keyFlags), m.x, m.y);
      return;
    case WindowMessageKind::ButtonDown:
    case WindowMessageKind::ButtonUp:
    case WindowMessageKind::DoubleClick: MouseButtonMessage(m); return;
    case WindowMessageKind::Wheel:
      if (forward) ForwardWheel(m);
      return;
    case WindowMessageKind::SetFocus:
    case WindowMessageKind::KillFocus: return;
  }
}

void TQuarneTelorus::MouseButtonMessage(const WindowMessage& m) {
  if (!Designing()) {
    // The second press of a double click is a press like any other for the
    // server; without it a double click arrives as a single one.
    SendPointerEvent(m.keyFlags, m.x, m.y);
    // Every button message takes the input focus, whether or not it went to
    // the server.
    FWindow.SetFocus();
  }
  const TMouseButton button = ButtonOf(m.button);
  TShiftState shift = MouseShiftState(m.keyFlags);
  if (m.kind == WindowMessageKind::ButtonUp) {
    // A click is a left press and release inside the window; it comes
    // before the release's own event.
    if (button == mbLeft && FClickPending) {
      FClickPending = false;
      const bool inside = m.x >= 0 && m.y >= 0 && m.x < FWindow.ClientWidth() && m.y < FWindow.ClientHeight();
      if (inside)
        if (auto h = OnClick) h(this);
    }
    if (auto h = OnMouseUp) h(this, button, shift, m.x, m.y);
    return;
  }
  if (m.kind == WindowMessageKind::DoubleClick)
    shift |= ssDouble;
  else if (button == mbLeft)
    FClickPending = true;
  if (auto h = OnMouseDown) h(this, button, shift, m.x, m.y);
}

TShiftState TQuarneTelorus::KeyShiftState() const {
  const platform::KeyboardState keys = FWindow.KeyState();
  return static_cast<TShiftState>((keys.shift ? ssShift : 0) | (keys.control ? ssCtrl : 0) | (keys.alt ? ssAlt : 0));
}

TShiftState TQuarneTelorus::MouseShiftState(std::uint32_t flags) const {
  TShiftState shift = FWindow.KeyState().alt ? ssAlt : 0;
  if (flags & platform::kMkShift) shift |= ssShift;
  if (flags & platform::kMkControl) shift |= ssCtrl;
  if (flags & platform::kMkLButton) shift |= ssLeft;
  if (flags & platform::kMkRButton) shift |= ssRight;
  if (flags & platform::kMkMButton) shift |= ssMiddle;
  return shift;
}

// ---- Keys ----

void TQuarneTelorus::ForwardKey(std::uint16_t code, bool down) {
  if (code >= 'A' && code <= 'Z') {
    // Letters: the case comes from the left Shift key and Caps Lock, decided
    // anew at the release. The table is not consulted.
    const platform::KeyboardState keys = FWindow.KeyState();
    const bool upper = keys.leftShift != keys.capsLock;
    SendKeyEvent(down, upper ? code : code + 0x20u);
    return;
  }
  SendVirtualKey(code, down);
}

std::uint32_t TQuarneTelorus::TranslateVirtualKey(std::uint16_t code) {
  for (const KeyRow& row : KeyTable)
    if (row.code == code) return row.keysym;
  // Digits go out as their characters, every other unlisted code as itself.
  return code;
}

void TQuarneTelorus::SendVirtualKey(std::uint16_t code, bool down) { SendKeyEvent(down, TranslateVirtualKey(code)); }

void TQuarneTelorus::SendKeyEvent(bool down, std::uint32_t key) {
  if (FTransferKeys) FSession->KeyEvent(down, key);
}

// ---- Mouse ----

void TQuarneTelorus::SendPointerEvent(std::uint32_t flags, std::int32_t x, std::int32_t y) {
  PointerEvent(ButtonMask(flags), x, y);
}

void TQuarneTelorus::PointerEvent(std::uint8_t mask, std::int32_t x, std::int32_t y) {
  if (!FSession->CanSend() || !FTransferMouse) return;
  std::int64_t rx, ry;
  if (FStretch) {
    // Back through the transform the picture is drawn with.
    rx = AxisScale(FSession->FrameWidth(), FWindow.Width()).ToFrame(x);
    ry = AxisScale(FSession->FrameHeight(), FWindow.Height()).ToFrame(y);
  } else {
    RefreshOffsetsFromScrollBars();
    rx = std::int64_t{x} + FxPosition;
    ry = std::int64_t{y} + FyPosition;
  }
  // A captured mouse left of or above the window reports negative positions:
  // they are the framebuffer's edge, not a wrapped 16-bit number at its far
  // side. Beyond the framebuffer the position is sent as it is; servers clamp.
  if (rx < 0) rx = 0;
  if (ry < 0) ry = 0;
  FSession->PointerEvent(mask, static_cast<std::uint16_t>(rx), static_cast<std::uint16_t>(ry));
}

void TQuarneTelorus::ForwardWheel(const WindowMessage& m) {
  if (!FTransferWheel) return;
  // High-resolution wheels report parts of a notch: they add up.
  std::int32_t& remainder = FWheelRemainder[m.horizontal ? 1 : 0];
  remainder += m.wheelDelta;
  const std::int32_t notches = remainder / platform::kWheelDelta;
  remainder -= notches * platform::kWheelDelta;
  const std::uint8_t held = ButtonMask(m.keyFlags);
  const std::uint8_t button =
      m.horizontal ? (notches > 0 ? kWheelRight : kWheelLeft) : (notches > 0 ? kWheelUp : kWheelDown);
  for (std::int32_t i = 0; i < (notches < 0 ? -notches : notches); ++i) {
    PointerEvent(static_cast<std::uint8_t>(held | button), m.x, m.y);
    PointerEvent(held, m.x, m.y);
  }
}

// ---- Clipboard and bell ----

void TQuarneTelorus::CheckLocalClipboard() {
  if (!IsSessionRunning() || !FTransferLocalClipboard) return;
  std::string text = FClipboard.Text();
  if (text == FLastClipboardText) return;
  FLastClipboardText = text;
  FSession->ClientCutText(text);
}

void TQuarneTelorus::ServerClipboardText(const std::string& text) {
  if (!FTransferServerClipBoard) return;
  FClipboard.SetText(ToLocalLineEnds(text));
  // The server's own text is not news to the server: sending it back would
  // rewrite the remote clipboard with carriage returns inserted. What the
  // clipboard reads back is what the next tick compares against.
  FLastClipboardText = FClipboard.Text();
}

void TQuarneTelorus::ServerBell() {
  if (FEnableBell) FBell.Beep();
}

}  // namespace telorus::viewer
