#include "png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace telorus::apps {

std::string WritePng(const std::string& path, int width, int height,
                     const std::function<std::uint32_t(int x, int y)>& pixel) {
  if (width <= 0 || height <= 0) return "the image is empty";
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) return "cannot open " + path + ": " + std::strerror(errno);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    return "libpng could not start";
  }
  std::vector<png_byte> row(static_cast<std::size_t>(width) * 3);
  // libpng reports errors by longjmp; nothing with a destructor is created
  // between here and the end of the writing.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return "libpng failed while writing " + path;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint32_t c = pixel(x, y);
      row[static_cast<std::size_t>(x) * 3 + 0] = static_cast<png_byte>(c & 0xFF);
      row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<png_byte>((c >> 8) & 0xFF);
      row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<png_byte>((c >> 16) & 0xFF);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return {};
}

}  // namespace telorus::apps
