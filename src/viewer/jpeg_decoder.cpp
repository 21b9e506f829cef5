#include "viewer/jpeg_decoder.h"

#include "viewer/encoding_decoder.h"

#ifdef TELORUS_HAVE_JPEG
#include <turbojpeg.h>
#endif

namespace telorus::viewer {

#ifdef TELORUS_HAVE_JPEG

namespace {
// A picture that reaches off the framebuffer is decoded aside first; larger
// than this it is refused.
constexpr std::size_t kMaxScratchPixels = std::size_t{16} << 20;

std::string TurboError(void* handle) {
  const char* text = tjGetErrorStr2(handle);
  return text != nullptr ? text : "unknown error";
}
}  // namespace

JpegDecoder::JpegDecoder() = default;

JpegDecoder::~JpegDecoder() {
  if (handle_ != nullptr) tjDestroy(handle_);
}

bool JpegDecoder::Available() { return true; }

bool JpegDecoder::Decode(const std::uint8_t* data, std::size_t length, platform::Surface& surface, std::int64_t x,
                         std::int64_t y, int width, int height, std::string& error) {
  if (handle_ == nullptr) handle_ = tjInitDecompress();
  if (handle_ == nullptr) {
    error = "JPEG decoder could not start";
    return false;
  }
  int pictureWidth = 0;
  int pictureHeight = 0;
  int subsampling = 0;
  int colourspace = 0;
  if (tjDecompressHeader3(handle_, data, static_cast<unsigned long>(length), &pictureWidth, &pictureHeight,
                          &subsampling, &colourspace) != 0) {
    error = "JPEG rectangle is not a JPEG picture: " + TurboError(handle_);
    return false;
  }
  if (pictureWidth != width || pictureHeight != height) {
    error = "JPEG picture of " + std::to_string(pictureWidth) + "x" + std::to_string(pictureHeight) +
            " in a rectangle of " + std::to_string(width) + "x" + std::to_string(height);
    return false;
  }
  if (width == 0 || height == 0) return true;
  const platform::Rect area{x, y, x + width, y + height};
  const platform::Rect visible = surface.Clip(area);
  if (visible.Empty()) return true;
  const bool inside = visible.left == area.left && visible.top == area.top && visible.right == area.right &&
                      visible.bottom == area.bottom;
  // Memory pixels are 0x00RRGGBB words: bytes blue, green, red, unused.
  std::uint8_t* target = nullptr;
  int pitch = 0;
  int flags = TJFLAG_FASTDCT;
  if (inside) {
    const std::ptrdiff_t stride = surface.Stride();
    if (stride >= 0) {
      target = reinterpret_cast<std::uint8_t*>(surface.Row(static_cast<int>(y)) + x);
      pitch = static_cast<int>(stride);
    } else {
      // A bottom-up bitmap: the picture's last row is the lowest address.
      target = reinterpret_cast<std::uint8_t*>(surface.Row(static_cast<int>(y + height - 1)) + x);
      pitch = static_cast<int>(-stride);
      flags |= TJFLAG_BOTTOMUP;
    }
  } else {
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (pixels > kMaxScratchPixels) {
      error = "JPEG rectangle reaches off the framebuffer and is too large to decode";
      return false;
    }
    scratch_.resize(pixels);
    target = reinterpret_cast<std::uint8_t*>(scratch_.data());
    pitch = width * 4;
  }
  if (tjDecompress2(handle_, data, static_cast<unsigned long>(length), target, width, pitch, height, TJPF_BGRX,
                    flags) != 0 &&
      tjGetErrorCode(handle_) == TJERR_FATAL) {
    error = "JPEG picture could not be decoded: " + TurboError(handle_);
    return false;
  }
  // libjpeg-turbo sets the unused byte; the framebuffer keeps it clear.
  if (inside) {
    for (auto row = static_cast<int>(y); row < y + height; ++row) {
      std::uint32_t* pixel = surface.Row(row) + x;
      for (int i = 0; i < width; ++i) pixel[i] &= 0x00FFFFFFu;
    }
  } else {
    for (std::uint32_t& pixel : scratch_) pixel &= 0x00FFFFFFu;
    PutBlock(surface, x, y, width, height, scratch_.data(), static_cast<std::size_t>(width));
  }
  return true;
}

#else  // no libjpeg-turbo in this build

JpegDecoder::JpegDecoder() = default;
JpegDecoder::~JpegDecoder() = default;
bool JpegDecoder::Available() { return false; }

bool JpegDecoder::Decode(const std::uint8_t*, std::size_t, platform::Surface&, std::int64_t, std::int64_t, int, int,
                         std::string& error) {
  error = "JPEG rectangles are not supported by this build";
  return false;
}

#endif

}  // namespace telorus::viewer
