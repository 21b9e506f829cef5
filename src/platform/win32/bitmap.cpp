// The framebuffer's memory on Windows: a 32-bit top-down DIB section, so the
// viewer's window copies from it with BitBlt and StretchBlt. The decoders
// write the memory through the surface's operations (never a GDI call per
// pixel); GDI only reads it.
#include <windows.h>

#include <new>

#include "platform/surface.h"

namespace telorus::platform {

Surface CreateBitmapSurface(int width, int height) {
  if (width <= 0 || height <= 0) return Surface();
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down: row 0 first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) throw std::bad_alloc();
  // The memory of a new DIB section is zero: black, as the framebuffer starts.
  std::shared_ptr<void> owner(bitmap, [](void* b) { DeleteObject(static_cast<HBITMAP>(b)); });
  return Surface(static_cast<std::uint32_t*>(bits), width, height, static_cast<std::ptrdiff_t>(width) * 4,
                 std::move(owner));
}

}  // namespace telorus::platform
