// Vector versions of raw-row conversions, chosen at run time by what the
// processor supports. Each converts as many pixels as it can in whole
// vectors and returns that count; the caller converts the rest (and
// everything, on processors without the instructions) the scalar way.
#pragma once

#include <cstddef>
#include <cstdint>

namespace telorus::viewer {

// An 8-bit true-colour format whose channel maxima are all at most 15: each
// channel's index is (pixel & mask) >> shift, and its 0..255 level comes
// from a 16-entry table.
struct Levels8 {
  std::uint8_t mask[3] = {};   // red, green, blue: channel bits in the pixel
  std::uint8_t shift[3] = {};  // below 8
  std::uint8_t level[3][16] = {};
};

// Converts up to `count` pixels of `source` into 0x00RRGGBB words at `dest`.
std::size_t ConvertLevels8Vector(const std::uint8_t* source, std::size_t count, std::uint32_t* dest,
                                 const Levels8& levels);

// Converts up to `count` 32-bit little-endian pixels whose red, green and
// blue are at shifts 16, 8 and 0 into memory pixels (the top byte cleared).
std::size_t ConvertRgb32Vector(const std::uint8_t* source, std::size_t count, std::uint32_t* dest);

}  // namespace telorus::viewer
