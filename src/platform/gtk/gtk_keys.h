// GDK key values to the virtual-key codes a Windows window delivers for the
// same physical key.
#pragma once

#include <cstdint>

namespace telorus::platform::gtk {

// The virtual-key code of a key value, 0 when Windows has none for it.
// Letters give their upper-case letter, digits their digit, the US
// punctuation keys their VK_OEM code, and both sides of Shift, Ctrl and Alt
// the generic codes 0x10, 0x11 and 0x12.
std::uint16_t VirtualKeyOf(unsigned keyval);

// What one key event is sent as.
struct KeyTranslation {
  bool deliver = false;  // false: the key stays local (AltGr itself)
  std::uint16_t virtualKey = 0;
  std::uint32_t keysym = 0;  // non-zero: the character to send as it is
};

// Decides how a key goes to the viewer, from the key's level-0 value in the
// current group (`base`: the unshifted character printed on it), its value
// with only Shift and Caps Lock applied (`shiftLevel`) and the value the
// event carries (`actual`, every modifier applied).
//
// A key whose base has a virtual-key code and that types its base (or, for
// a letter, the letter in either case) goes as that code: the viewer's
// table and case rules apply, and Shift travels as its own key. Anything
// else that types a character - a shifted digit or punctuation key, AltGr
// combinations, keys of other layouts whose characters the table lacks,
// dead keys - goes as the character's own keysym, with the base's code (if
// any) for the host's events: the table's unshifted character would type
// '1' for Shift+1 on servers that take keysyms as characters. The AltGr key
// itself (ISO_Level3_Shift, Mode_switch) is not delivered: the server makes
// the character with its own modifiers.
KeyTranslation TranslateKey(unsigned base, unsigned shiftLevel, unsigned actual);

}  // namespace telorus::platform::gtk
