#include "platform/gtk/gtk_keys.h"

#include <gdk/gdk.h>

namespace telorus::platform::gtk {
namespace {

struct Pair {
  unsigned keyval;
  std::uint16_t code;
};

constexpr Pair kNamed[] = {
    {GDK_KEY_BackSpace, 0x08},
    {GDK_KEY_Tab, 0x09},
    {GDK_KEY_ISO_Left_Tab, 0x09},
    {GDK_KEY_Clear, 0x0C},
    {GDK_KEY_Return, 0x0D},
    {GDK_KEY_KP_Enter, 0x0D},
    {GDK_KEY_Shift_L, 0x10},
    {GDK_KEY_Shift_R, 0x10},
    {GDK_KEY_Control_L, 0x11},
    {GDK_KEY_Control_R, 0x11},
    {GDK_KEY_Alt_L, 0x12},
    {GDK_KEY_Alt_R, 0x12},
    {GDK_KEY_Meta_L, 0x12},
    {GDK_KEY_Meta_R, 0x12},
    {GDK_KEY_Pause, 0x13},
    {GDK_KEY_Caps_Lock, 0x14},
    {GDK_KEY_Escape, 0x1B},
    {GDK_KEY_space, 0x20},
    {GDK_KEY_Page_Up, 0x21},
    {GDK_KEY_Page_Down, 0x22},
    {GDK_KEY_End, 0x23},
    {GDK_KEY_Home, 0x24},
    {GDK_KEY_Left, 0x25},
    {GDK_KEY_Up, 0x26},
    {GDK_KEY_Right, 0x27},
    {GDK_KEY_Down, 0x28},
    {GDK_KEY_Select, 0x29},
    {GDK_KEY_Execute, 0x2B},
    {GDK_KEY_Print, 0x2C},
    {GDK_KEY_Sys_Req, 0x2C},
    {GDK_KEY_Insert, 0x2D},
    {GDK_KEY_Delete, 0x2E},
    {GDK_KEY_Help, 0x2F},
    {GDK_KEY_Super_L, 0x5B},
    {GDK_KEY_Super_R, 0x5C},
    {GDK_KEY_Menu, 0x5D},
    {GDK_KEY_Num_Lock, 0x90},
    {GDK_KEY_Scroll_Lock, 0x91},
    // The keypad with Num Lock off gives the navigation keys, as on Windows.
    {GDK_KEY_KP_Home, 0x24},
    {GDK_KEY_KP_Up, 0x26},
    {GDK_KEY_KP_Page_Up, 0x21},
    {GDK_KEY_KP_Left, 0x25},
    {GDK_KEY_KP_Begin, 0x0C},
    {GDK_KEY_KP_Right, 0x27},
    {GDK_KEY_KP_End, 0x23},
    {GDK_KEY_KP_Down, 0x28},
    {GDK_KEY_KP_Page_Down, 0x22},
    {GDK_KEY_KP_Insert, 0x2D},
    {GDK_KEY_KP_Delete, 0x2E},
    {GDK_KEY_KP_Multiply, 0x6A},
    {GDK_KEY_KP_Add, 0x6B},
    {GDK_KEY_KP_Separator, 0x6C},
    {GDK_KEY_KP_Subtract, 0x6D},
    {GDK_KEY_KP_Decimal, 0x6E},
    {GDK_KEY_KP_Divide, 0x6F},
    // The US punctuation keys by their VK_OEM codes.
    {GDK_KEY_semicolon, 0xBA},
    {GDK_KEY_equal, 0xBB},
    {GDK_KEY_comma, 0xBC},
    {GDK_KEY_minus, 0xBD},
    {GDK_KEY_period, 0xBE},
    {GDK_KEY_slash, 0xBF},
    {GDK_KEY_grave, 0xC0},
    {GDK_KEY_bracketleft, 0xDB},
    {GDK_KEY_backslash, 0xDC},
    {GDK_KEY_bracketright, 0xDD},
    {GDK_KEY_apostrophe, 0xDE},
};

bool IsAltGr(unsigned keyval) {
  return keyval == GDK_KEY_ISO_Level3_Shift || keyval == GDK_KEY_Mode_switch || keyval == GDK_KEY_ISO_Level3_Latch ||
         keyval == GDK_KEY_ISO_Level3_Lock || keyval == GDK_KEY_ISO_Level5_Shift;
}

bool IsDeadKey(unsigned keyval) { return keyval >= GDK_KEY_dead_grave && keyval <= 0xFE93; }

bool IsKeypad(unsigned keyval) { return keyval >= GDK_KEY_KP_Space && keyval <= GDK_KEY_KP_9; }

// Whether the key's code and the keyboard state, sent as they are, make
// `actual` on any server: true for the unshifted character, for letters
// (whose case the viewer derives from Shift and Caps Lock) and for keys
// that type no character. A shifted digit or punctuation character is not:
// servers that take keysyms as the characters typed (TigerVNC's) would
// type the unshifted one.
bool CodeSaysIt(unsigned base, unsigned actual) {
  if (actual == base) return true;
  if (base >= GDK_KEY_a && base <= GDK_KEY_z) return actual == base - GDK_KEY_a + GDK_KEY_A;
  return gdk_keyval_to_unicode(base) == 0 || base == GDK_KEY_Tab;
}

}  // namespace

std::uint16_t VirtualKeyOf(unsigned keyval) {
  if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return static_cast<std::uint16_t>('A' + (keyval - GDK_KEY_a));
  if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return static_cast<std::uint16_t>(keyval);
  if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return static_cast<std::uint16_t>(keyval);
  if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9)
    return static_cast<std::uint16_t>(0x60 + (keyval - GDK_KEY_KP_0));
  if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F24) return static_cast<std::uint16_t>(0x70 + (keyval - GDK_KEY_F1));
  for (const Pair& p : kNamed)
    if (p.keyval == keyval) return p.code;
  return 0;
}

KeyTranslation TranslateKey(unsigned base, unsigned shiftLevel, unsigned actual) {
  KeyTranslation t;
  if (IsAltGr(actual) || IsAltGr(base)) return t;
  // The keypad follows Num Lock, so its keys go by the value the event has.
  if (IsKeypad(actual)) {
    t.virtualKey = VirtualKeyOf(actual);
    t.deliver = t.virtualKey != 0;
    return t;
  }
  const std::uint16_t baseCode = VirtualKeyOf(base);
  if (baseCode != 0 && actual == shiftLevel && CodeSaysIt(base, actual)) {
    t.virtualKey = baseCode;
    t.deliver = true;
    return t;
  }
  if (gdk_keyval_to_unicode(actual) != 0 || IsDeadKey(actual)) {
    t.virtualKey = baseCode;
    t.keysym = actual;
    t.deliver = true;
    return t;
  }
  t.virtualKey = VirtualKeyOf(actual);
  if (t.virtualKey == 0) t.virtualKey = baseCode;
  t.deliver = t.virtualKey != 0;
  return t;
}

}  // namespace telorus::platform::gtk
