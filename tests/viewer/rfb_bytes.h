// Builders for the bytes an RFB server sends, used to script servers in
// tests. Written from the protocol's message layouts, independently of the
// viewer's own code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace telorus::test::rfb {

inline std::string Be16(std::uint32_t v) { return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)}; }
inline std::string Be32(std::uint32_t v) { return Be16(v >> 16) + Be16(v & 0xFFFF); }
inline std::string U8(std::uint32_t v) { return std::string(1, static_cast<char>(v & 0xFF)); }

// A colour value as the viewer holds it: red in bits 0-7.
inline std::uint32_t Rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}

struct PixelFormat {
  std::uint8_t bitsPerPixel = 32, depth = 24, bigEndian = 0, trueColour = 1;
  std::uint16_t redMax = 255, greenMax = 255, blueMax = 255;
  std::uint8_t redShift = 16, greenShift = 8, blueShift = 0;
};

inline PixelFormat TrueColour32() { return {}; }
inline PixelFormat TrueColour16() { return {16, 16, 0, 1, 31, 63, 31, 11, 5, 0}; }
inline PixelFormat Bgr233() { return {8, 8, 0, 1, 7, 7, 3, 0, 3, 6}; }

inline std::string Encode(const PixelFormat& f) {
  return U8(f.bitsPerPixel) + U8(f.depth) + U8(f.bigEndian) + U8(f.trueColour) + Be16(f.redMax) + Be16(f.greenMax) +
         Be16(f.blueMax) + U8(f.redShift) + U8(f.greenShift) + U8(f.blueShift) + std::string(3, '\0');
}

inline std::string ServerInit(int width, int height, const PixelFormat& f, const std::string& name) {
  return Be16(static_cast<std::uint32_t>(width)) + Be16(static_cast<std::uint32_t>(height)) + Encode(f) +
         Be32(static_cast<std::uint32_t>(name.size())) + name;
}

// The pixel value of a colour in format f (channels scaled to the maxima).
inline std::uint32_t PixelOf(const PixelFormat& f, std::uint32_t colour) {
  auto ch = [](std::uint32_t level, std::uint32_t max) { return (level * max + 127) / 255; };
  return (ch(colour & 0xFF, f.redMax) << f.redShift) | (ch((colour >> 8) & 0xFF, f.greenMax) << f.greenShift) |
         (ch((colour >> 16) & 0xFF, f.blueMax) << f.blueShift);
}

// One pixel value on the wire, in the format's byte order.
inline std::string Pixel(const PixelFormat& f, std::uint32_t colour) {
  std::uint32_t v = PixelOf(f, colour);
  std::string out;
  int n = f.bitsPerPixel / 8;
  for (int i = 0; i < n; ++i) {
    int shift = 8 * (f.bigEndian ? n - 1 - i : i);
    out += static_cast<char>((v >> shift) & 0xFF);
  }
  return out;
}

inline std::string RawPixels(const PixelFormat& f, const std::vector<std::uint32_t>& colours) {
  std::string out;
  for (auto c : colours) out += Pixel(f, c);
  return out;
}

inline std::string UpdateHeader(int rects) { return U8(0) + U8(0) + Be16(static_cast<std::uint32_t>(rects)); }

inline std::string RectHeader(int x, int y, int w, int h, std::uint32_t encoding) {
  return Be16(static_cast<std::uint32_t>(x)) + Be16(static_cast<std::uint32_t>(y)) +
         Be16(static_cast<std::uint32_t>(w)) + Be16(static_cast<std::uint32_t>(h)) + Be32(encoding);
}

struct SubRect {
  std::uint32_t colour;
  int x, y, w, h;
};

inline std::string Rre(const PixelFormat& f, std::uint32_t background, const std::vector<SubRect>& subs) {
  std::string out = Be32(static_cast<std::uint32_t>(subs.size())) + Pixel(f, background);
  for (const auto& s : subs)
    out += Pixel(f, s.colour) + Be16(static_cast<std::uint32_t>(s.x)) + Be16(static_cast<std::uint32_t>(s.y)) +
           Be16(static_cast<std::uint32_t>(s.w)) + Be16(static_cast<std::uint32_t>(s.h));
  return out;
}

inline std::string CoRre(const PixelFormat& f, std::uint32_t background, const std::vector<SubRect>& subs) {
  std::string out = Be32(static_cast<std::uint32_t>(subs.size())) + Pixel(f, background);
  for (const auto& s : subs)
    out += Pixel(f, s.colour) + U8(static_cast<std::uint32_t>(s.x)) + U8(static_cast<std::uint32_t>(s.y)) +
           U8(static_cast<std::uint32_t>(s.w)) + U8(static_cast<std::uint32_t>(s.h));
  return out;
}

// Hextile: every tile gives its background and nothing else.
inline std::string HextileSolidTiles(const PixelFormat& f, int w, int h, std::uint32_t colour) {
  std::string out;
  for (int ty = 0; ty < h; ty += 16)
    for (int tx = 0; tx < w; tx += 16) out += U8(2) + Pixel(f, colour);
  return out;
}

inline std::string Bell() { return U8(2); }

inline std::string ColourMap(int first, int count) {
  std::string out = U8(1) + U8(0) + Be16(static_cast<std::uint32_t>(first)) + Be16(static_cast<std::uint32_t>(count));
  for (int i = 0; i < count; ++i) out += Be16(0x1111u * static_cast<std::uint32_t>(i)) + Be16(0) + Be16(0xFFFF);
  return out;
}

inline std::string ServerCutText(const std::string& text) {
  return U8(3) + std::string(3, '\0') + Be32(static_cast<std::uint32_t>(text.size())) + text;
}

// What the client sends.
inline std::string SetEncodings(std::int32_t encoding) {
  return U8(2) + U8(0) + Be16(1) + Be32(static_cast<std::uint32_t>(encoding));
}
inline std::string SetEncodings(const std::vector<std::int32_t>& encodings) {
  std::string out = U8(2) + U8(0) + Be16(static_cast<std::uint32_t>(encodings.size()));
  for (const std::int32_t e : encodings) out += Be32(static_cast<std::uint32_t>(e));
  return out;
}
inline std::string UpdateRequest(bool incremental, int w, int h) {
  return U8(3) + U8(incremental ? 1 : 0) + Be16(0) + Be16(0) + Be16(static_cast<std::uint32_t>(w)) +
         Be16(static_cast<std::uint32_t>(h));
}
inline std::string SetPixelFormat(const PixelFormat& f) { return U8(0) + std::string(3, '\0') + Encode(f); }
// A key event as this viewer sends it: its two padding bytes are 1.
inline std::string KeyEvent(bool down, std::uint32_t keysym) {
  return U8(4) + U8(down ? 1 : 0) + U8(1) + U8(1) + Be32(keysym);
}

}  // namespace telorus::test::rfb
