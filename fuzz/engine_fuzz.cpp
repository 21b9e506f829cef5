// Fuzzes the session engine with server bytes: the handshake, the server's
// initialisation (size, pixel format, name) and the messages of a session,
// in every pixel format. The session runs in memory, with no socket.
//
// Input, byte 0: bits 0-1 where the input's own bytes take over (0 and 3:
// after a complete handshake built from the header below, so the rest is
// session messages; 1: right after the server's version, so the input
// holds the scheme and everything after it; 2: after the scheme, or after a
// password logon, so the input holds ServerInit and what follows); bit 2 a
// password logon (scheme 2, challenge, result 0) instead of scheme 1; bit 3
// the viewer asks for the 8-bit format; bits 4-6 the codec announced; bit 7
// the pixel format comes from the input rather than from the table of
// formats real servers announce.
// Byte 1: the piece size in which the rest arrives (1 to 64, or 256-byte
// multiples from 128 up).
// Bytes 2-5: width and height (big-endian; the harness keeps each below
// 1024 so a framebuffer stays small). Byte 6: the table's format. Then, with
// bit 7, the 16 bytes of a PIXEL_FORMAT. Then the name length (one byte) and
// the name. The rest is the server's stream.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "loopback_peer.h"
#include "platform/surface.h"
#include "viewer/Telorus.h"
#include "viewer/rfb_session.h"
#include "memory_session.h"

namespace {

using namespace telorus;

std::string Be16(std::uint16_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }
std::string Be32(std::uint32_t v) {
  return Be16(static_cast<std::uint16_t>(v >> 16)) + Be16(static_cast<std::uint16_t>(v));
}

// PIXEL_FORMAT: bits, depth, big-endian, true colour, maxima, shifts.
std::string Format(int bpp, int depth, int bigEndian, int trueColour, int rmax, int gmax, int bmax, int rs, int gs,
                   int bs) {
  std::string f = {static_cast<char>(bpp), static_cast<char>(depth), static_cast<char>(bigEndian),
                   static_cast<char>(trueColour)};
  f += Be16(static_cast<std::uint16_t>(rmax)) + Be16(static_cast<std::uint16_t>(gmax)) +
       Be16(static_cast<std::uint16_t>(bmax));
  f += {static_cast<char>(rs), static_cast<char>(gs), static_cast<char>(bs), 0, 0, 0};
  return f;
}

// The formats real servers announce (x11vnc on Xvfb at depths 24, 16, 15,
// 30 and 8; TigerVNC with bgr888), their big-endian twins and the 8-bit
// true-colour format the viewer asks for.
const std::string kFormats[] = {
    Format(32, 24, 0, 255, 255, 255, 255, 16, 8, 0),
    Format(16, 16, 0, 1, 31, 63, 31, 11, 5, 0),
    Format(16, 15, 0, 1, 31, 31, 31, 10, 5, 0),
    Format(32, 30, 0, 1, 1023, 1023, 1023, 20, 10, 0),
    Format(8, 8, 0, 0, 0, 0, 0, 0, 0, 0),
    Format(32, 24, 0, 1, 255, 255, 255, 0, 8, 16),
    Format(32, 24, 1, 1, 255, 255, 255, 16, 8, 0),
    Format(16, 16, 1, 1, 31, 63, 31, 11, 5, 0),
    Format(8, 8, 0, 1, 7, 7, 3, 0, 3, 6),
    Format(8, 6, 0, 1, 3, 3, 3, 4, 2, 0),
    Format(16, 12, 1, 1, 15, 15, 15, 8, 4, 0),
    Format(32, 24, 1, 1, 255, 255, 255, 0, 8, 16),
};
constexpr std::size_t kFormatCount = sizeof kFormats / sizeof kFormats[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  const int takeover = data[0] & 3;
  const bool password = (data[0] & 4) != 0;
  const bool eightBit = (data[0] & 8) != 0;
  const int codec = ((data[0] >> 4) & 7) % 5;
  const bool formatFromInput = (data[0] & 0x80) != 0;
  const std::size_t piece = data[1] < 128 ? 1 + data[1] % 64 : 256u * (data[1] - 127u);
  const std::uint16_t width = static_cast<std::uint16_t>(((data[2] << 8) | data[3]) & 0x3FF);
  const std::uint16_t height = static_cast<std::uint16_t>(((data[4] << 8) | data[5]) & 0x3FF);
  std::string format = kFormats[data[6] % kFormatCount];
  std::size_t at = 7;
  if (formatFromInput) {
    if (size < at + 16) return 0;
    format.assign(reinterpret_cast<const char*>(data + at), 16);
    at += 16;
  }
  if (size < at + 1) return 0;
  const std::size_t nameLength = std::min<std::size_t>(data[at], size - at - 1);
  const std::string name(reinterpret_cast<const char*>(data + at + 1), nameLength);
  at += 1 + nameLength;

  // The server's side up to where the input takes over.
  std::string stream = "RFB 003.008\n";
  if (takeover != 1) {
    if (password) {
      stream += Be32(2) + std::string(16, '\x5a') + Be32(0);
    } else {
      stream += Be32(1);
    }
    if (takeover != 2) {
      stream += Be16(width) + Be16(height) + format + Be32(static_cast<std::uint32_t>(name.size())) + name;
    }
  }
  stream.append(reinterpret_cast<const char*>(data + at), size - at);

  fuzz::MemoryTransport transport;
  fuzz::Handler handler(transport);
  viewer::RfbSession session(handler, transport);
  handler.session = &session;
  handler.debug = std::getenv("ENGINE_FUZZ_DEBUG") != nullptr;
  session.SetPassword("fuzzpass");
  session.SetWantEightBit(eightBit);
  session.SetEncodings({viewer::EncodingOf(static_cast<viewer::TVNCCodec>(codec))});
  session.SetStartPause(0);
  session.Begin();
  for (std::size_t i = 0; i < stream.size() && transport.open; i += piece) {
    session.Inject(stream.data() + i, std::min(piece, stream.size() - i));
  }
  return 0;
}
