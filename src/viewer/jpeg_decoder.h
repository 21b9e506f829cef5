// JPEG pictures (Tight's JPEG rectangles) decoded straight into the
// framebuffer with libjpeg-turbo, where the build has it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/surface.h"

namespace telorus::viewer {

class JpegDecoder {
 public:
  JpegDecoder();
  ~JpegDecoder();
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  // Whether this build decodes JPEG at all.
  static bool Available();

  // Draws the picture in `data` with its top-left corner at (x, y), clipped
  // to the surface. False, with a reason, when the data is no JPEG picture
  // or its size is not width x height.
  bool Decode(const std::uint8_t* data, std::size_t length, platform::Surface& surface, std::int64_t x, std::int64_t y,
              int width, int height, std::string& error);

 private:
  void* handle_ = nullptr;
  std::vector<std::uint32_t> scratch_;  // for pictures that reach off the surface
};

}  // namespace telorus::viewer
