// Fuzzes the session engine with arbitrary server bytes after each
// handshake state. The first input byte picks the state (VNCVersion through
// VNCSessionStart); a valid server handshake up to that state is fed first,
// then the rest of the input, in pieces whose sizes come from the input too.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/headless/headless_window.h"
#include "platform/message_loop.h"
#include "viewer/Telorus.h"

namespace {

using namespace telorus;

std::string Be32(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// The server's side of a handshake without a password, piece by piece.
const std::string kPieces[] = {
    "RFB 003.008\n",                                                   // version
    Be32(1),                                                           // scheme: none
    std::string("\0\x40\0\x30", 4) +                                   // 64 x 48
        std::string("\x20\x18\0\x01\0\xff\0\xff\0\xff\x10\x08\0\0\0\0", 16) + Be32(4),  // 32 bpp, name length 4
    "desk",                                                            // name
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  platform::HeadlessWindow window(64, 48);
  platform::HeadlessClipboard clipboard;
  platform::HeadlessBell bell;
  viewer::TQuarneTelorus v(window, clipboard, bell);
  v.SetEnableBell(true);
  v.SetStatusForTesting(viewer::VNCVersion);
  const int stage = data[0] % 5;  // how many handshake pieces precede the fuzz bytes
  const std::size_t split = 1 + data[1] % 64;
  data += 2;
  size -= 2;
  for (int i = 0; i < stage; ++i) v.InjectReceived(kPieces[i].data(), kPieces[i].size());
  while (size > 0) {
    std::size_t n = size < split ? size : split;
    v.InjectReceived(data, n);
    data += n;
    size -= n;
  }
  platform::PumpPending();
  return 0;
}
