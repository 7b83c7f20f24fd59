// layers: display
// Arbitrary bytes as font files: decoded directly as a Topaz-style disk font
// at every glyph height, and written into a private font drawer where the
// loader reads them as a raw 8x16 font and as both disk fonts.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "display/fonts.h"

namespace {

std::string g_drawer_root;

void remove_drawer() {
  std::error_code ec;
  std::filesystem::remove_all(g_drawer_root, ec);
}

std::string make_drawer() {
  char tmpl[] = "/tmp/kavel-fuzz-fonts-XXXXXX";
  if (!mkdtemp(tmpl)) abort();
  std::string dir = tmpl;
  g_drawer_root = dir;
  atexit(remove_drawer);
  std::string fonts = dir + "/Fonts";
  std::string topaz = fonts + "/Topaz+1200";
  if (mkdir(fonts.c_str(), 0700) != 0 || mkdir(topaz.c_str(), 0700) != 0) abort();
  fonts_test_set_progdir_override(dir.c_str());
  return fonts;
}

void put(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size && fwrite(data, 1, size, f) != size) abort();
  fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string fonts = make_drawer();
  static uint8_t glyphs[4096];

  for (int height = 0; height <= 17; ++height) {
    if (bitmap_font_parse_disk_font(data, size, height, glyphs) == 0 &&
        (height < 1 || height > 16 || size < 134)) {
      abort();  // accepted something it must refuse
    }
  }

  put(fonts + "/cp437.f16", data, size);
  put(fonts + "/Topaz+1200/14", data, size);
  put(fonts + "/Topaz+1200/16", data, size);
  bitmap_font_cache_reset();
  // The working directory's Fonts/ may hold a real font that the lookup
  // finds when ours is refused; only a load of our own file is checked.
  int loaded = bitmap_font_load("cp437.f16", 16, 1);
  if (loaded == 1 && fonts + "/cp437.f16" == g_bitmap_font.path &&
      (size != 4096 || memcmp(g_bitmap_font.glyphs, data, 4096) != 0)) {
    abort();
  }
  // The direct glyph view reads the same cached file as the loader.
  const uint8_t* pc = bitmap_font_cp437_16_glyphs();
  if ((pc != nullptr) != (loaded == 1) || (pc && memcmp(pc, g_bitmap_font.glyphs, 4096) != 0)) {
    abort();
  }
  bitmap_font_load("Topaz+1200/14", 14, 2);
  bitmap_font_load("Topaz+1200/16", 16, 1);
  return 0;
}
