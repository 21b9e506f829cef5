// Writes an RGB image as a PNG file with libpng.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace telorus::apps {

// `pixel(x, y)` gives a colour value: red in bits 0-7, green 8-15, blue 16-23.
// Returns an empty string on success, else what went wrong.
std::string WritePng(const std::string& path, int width, int height,
                     const std::function<std::uint32_t(int x, int y)>& pixel);

}  // namespace telorus::apps
