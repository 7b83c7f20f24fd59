#include "platform/png.h"

#include <png.h>

#include <cstdio>
#include <memory>

namespace {
struct FileCloser {
  void operator()(FILE* f) const {
    if (f) fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;
}  // namespace

int png_write_rgb(const char* path, int width, int height, const uint8_t* rgb) {
  if (!path || !rgb || width <= 0 || height <= 0) return -1;
  FilePtr f(fopen(path, "wb"));
  if (!f) return -1;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return -1;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return -1;
  }
  png_init_io(png, f.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; y++) {
    png_write_row(png, rgb + static_cast<size_t>(y) * static_cast<size_t>(width) * 3);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return 0;
}

int png_read_rgb(const char* path, int* width, int* height, std::vector<uint8_t>* rgb) {
  if (!path || !width || !height || !rgb) return -1;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path)) return -1;
  image.format = PNG_FORMAT_RGB;
  rgb->assign(PNG_IMAGE_SIZE(image), 0);
  if (!png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr)) {
    png_image_free(&image);
    return -1;
  }
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  return 0;
}
