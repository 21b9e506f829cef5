// A 32-bit RGB drawing surface: the memory behind the viewer's framebuffer.
//
// Pixels are 32-bit words laid out as 0x00RRGGBB in host order, which is the
// memory layout of a 32-bit Windows DIB section (bytes blue, green, red,
// unused) and of a cairo RGB24 image, so the same class can own its memory or
// sit over a bitmap that the windowing system allocated.
//
// Colours passed to the drawing operations are colour values: red in bits
// 0-7, green in 8-15, blue in 16-23, the top byte ignored.
// `ColourToMemory` and `MemoryToColour` convert between the two packings.
//
// Every operation clips to the surface. Nothing is ever written outside the
// width x height pixels, whatever coordinates or sizes the caller passes
// (negative, huge, or overflowing when added together).
//
// Rows are addressed through `Row(y)`; the stride is in bytes and may be
// negative, which is how a bottom-up bitmap is wrapped (pass the address of
// its top row and minus its row pitch).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace telorus::platform {

using Colour = std::uint32_t;

inline constexpr std::uint32_t ColourToMemory(Colour colour) {
  return ((colour & 0xFFu) << 16) | (colour & 0xFF00u) | ((colour >> 16) & 0xFFu);
}

inline constexpr Colour MemoryToColour(std::uint32_t pixel) {
  return ((pixel & 0xFFu) << 16) | (pixel & 0xFF00u) | ((pixel >> 16) & 0xFFu);
}

// A half-open rectangle: columns left .. right-1, rows top .. bottom-1.
struct Rect {
  std::int64_t left = 0;
  std::int64_t top = 0;
  std::int64_t right = 0;
  std::int64_t bottom = 0;

  bool Empty() const { return right <= left || bottom <= top; }
  std::int64_t Width() const { return right - left; }
  std::int64_t Height() const { return bottom - top; }
};

// Non-owning description of pixel memory in the surface's layout: the
// destination of `Surface::BlitTo` (a window's back buffer, another surface).
struct SurfaceView {
  std::uint32_t* pixels = nullptr;  // top row
  int width = 0;
  int height = 0;
  std::ptrdiff_t stride = 0;  // bytes from one row to the next, may be negative

  std::uint32_t* Row(int y) const {
    return reinterpret_cast<std::uint32_t*>(reinterpret_cast<std::byte*>(pixels) + stride * y);
  }
};

class Surface {
 public:
  // An empty 0 x 0 surface.
  Surface() = default;

  // A surface that owns zero-initialised (black) memory of width x height.
  // Non-positive sizes give an empty surface. Throws std::bad_alloc when the
  // memory cannot be had.
  Surface(int width, int height);

  // A surface over memory that someone else owns and keeps alive for the
  // surface's lifetime. `stride` is the distance in bytes from row y to row
  // y + 1 and must be at least width * 4 in magnitude.
  Surface(std::uint32_t* pixels, int width, int height, std::ptrdiff_t stride);

  // A surface over a bitmap of the windowing system: `native` (an HBITMAP
  // on Windows) owns the memory and is released with the surface. Windows
  // copy from such a surface with the system's own blits.
  Surface(std::uint32_t* pixels, int width, int height, std::ptrdiff_t stride, std::shared_ptr<void> native);

  Surface(Surface&& other) noexcept;
  Surface& operator=(Surface&& other) noexcept;
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;
  ~Surface();

  int Width() const { return width_; }
  int Height() const { return height_; }
  std::ptrdiff_t Stride() const { return stride_; }
  std::uint32_t* Pixels() { return pixels_; }
  const std::uint32_t* Pixels() const { return pixels_; }
  SurfaceView View() { return {pixels_, width_, height_, stride_}; }
  // The windowing system's bitmap behind the memory, or null.
  void* NativeBitmap() const { return native_.get(); }

  // Row y, 0 <= y < Height(). For hot paths that have clipped with `Clip`.
  std::uint32_t* Row(int y) {
    return reinterpret_cast<std::uint32_t*>(reinterpret_cast<std::byte*>(pixels_) + stride_ * y);
  }
  const std::uint32_t* Row(int y) const {
    return reinterpret_cast<const std::uint32_t*>(reinterpret_cast<const std::byte*>(pixels_) + stride_ * y);
  }

  // The part of `area` that lies on the surface (empty if none does).
  Rect Clip(Rect area) const {
    const Rect clipped{area.left > 0 ? area.left : 0, area.top > 0 ? area.top : 0,
                       area.right < width_ ? area.right : width_, area.bottom < height_ ? area.bottom : height_};
    return clipped.Empty() ? Rect{} : clipped;
  }

  // The colour value at (x, y); 0 outside the surface.
  Colour GetPixel(int x, int y) const;

  // The four drawing operations.
  void SetPixel(std::int64_t x, std::int64_t y, Colour colour);
  // Inline: decoders fill many small rectangles (Hextile subrectangles of
  // a few pixels), where a call and a library fill would cost more than the
  // stores. Rows of four pixels or more are written four at a time, the last
  // four overlapping the ones before, so no row ends in a pixel-by-pixel
  // tail.
  void FillRect(Rect area, Colour colour) {
    const Rect clipped = Clip(area);
    if (clipped.Empty()) return;
    const std::uint32_t pixel = ColourToMemory(colour);
    const auto count = static_cast<std::size_t>(clipped.Width());
    const std::uint32_t four[4] = {pixel, pixel, pixel, pixel};
    for (auto y = static_cast<int>(clipped.top); y < clipped.bottom; ++y) {
      std::uint32_t* row = Row(y) + clipped.left;
      if (count < 4) {
        for (std::size_t i = 0; i < count; ++i) row[i] = pixel;
        continue;
      }
      for (std::size_t i = 0; i + 4 < count; i += 4) std::memcpy(row + i, four, sizeof four);
      std::memcpy(row + count - 4, four, sizeof four);
    }
  }

  // Copies the width x height block at (srcX, srcY) to (destX, destY) within
  // this surface, with the result of copying through a temporary whatever
  // the overlap. Only pixels whose source and destination both lie on the
  // surface are copied; the others are left as they were.
  void CopyRect(std::int64_t srcX, std::int64_t srcY, std::int64_t width, std::int64_t height, std::int64_t destX,
                std::int64_t destY);

  // Copies the source block (srcX, srcY, srcW, srcH) of this surface onto
  // the destination block (destX, destY, destW, destH) of `dest`, scaling
  // by nearest neighbour when the sizes differ. Destination pixels outside
  // `dest` and those whose source pixel lies outside this surface are not
  // written. `dest` must not share memory with this surface. Returns false
  // (and writes nothing) when `dest` has no memory or a size is negative.
  bool BlitTo(const SurfaceView& dest, std::int64_t destX, std::int64_t destY, std::int64_t destW, std::int64_t destH,
              std::int64_t srcX, std::int64_t srcY, std::int64_t srcW, std::int64_t srcH) const;

  // One-to-one form of `BlitTo`.
  bool BlitTo(const SurfaceView& dest, std::int64_t destX, std::int64_t destY, std::int64_t width, std::int64_t height,
              std::int64_t srcX, std::int64_t srcY) const {
    return BlitTo(dest, destX, destY, width, height, srcX, srcY, width, height);
  }

 private:
  std::unique_ptr<std::uint32_t[]> owned_;
  std::shared_ptr<void> native_;
  std::uint32_t* pixels_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  std::ptrdiff_t stride_ = 0;
};

// A black width x height surface in memory that the platform's windows
// draw from directly: a 32-bit DIB section on Windows, plain memory
// elsewhere. Throws std::bad_alloc when it cannot be had.
Surface CreateBitmapSurface(int width, int height);

}  // namespace telorus::platform
