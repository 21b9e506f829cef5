#include "platform/window.h"

namespace telorus::platform {

Colour DefaultColourValue(TColor colour) {
  const std::uint32_t marker = colour >> 24;
  if (marker != 0xFF && marker != 0x80) return colour & 0xFFFFFFu;
  // The default Windows palette of the system colours a control may use.
  switch (colour & 0xFFu) {
    case 5: return 0xFFFFFF;   // window
    case 8: return 0x000000;   // window text
    case 1: return 0x000000;   // desktop
    case 12: return 0xABABAB;  // application workspace
    case 15: return 0xF0F0F0;  // button face
    case 16: return 0xA0A0A0;  // button shadow
    default: return 0xF0F0F0;
  }
}

}  // namespace telorus::platform
