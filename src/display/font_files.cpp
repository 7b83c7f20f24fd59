// The Fonts drawer: each required file found once in the drawer's
// directories and spellings, kept in a per-file cache, and loaded into the
// program's one bitmap font.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/font_drawer.h"
#include "display/fonts.h"
#include "platform/dos.h"
#include "util/text.h"

BitmapFont g_bitmap_font;

namespace {

struct FontFileCache {
  int loaded = 0;
  int failed = 0;
  std::string path;
  std::vector<uint8_t> bytes;
};

}  // namespace

static std::array<FontFileCache, kFontFileCount> g_font_cache;
static std::string g_progdir_override;
static bool g_progdir_override_set = false;

void fonts_test_set_progdir_override(const char* dir) {
  g_progdir_override_set = dir != nullptr;
  g_progdir_override = dir ? dir : "";
}

void bitmap_font_cache_reset() {
  for (FontFileCache& c : g_font_cache) c = FontFileCache{};
}

std::string expand_font_path(const char* path) {
  static constexpr char kProgdir[] = "PROGDIR:";
  if (g_progdir_override_set && strncmp(path, kProgdir, sizeof kProgdir - 1) == 0) {
    return g_progdir_override + "/" + (path + sizeof kProgdir - 1);
  }
  return dos_expand_path(path);
}

static const FontFileSpec* font_file_spec(const char* name, size_t* index) {
  for (size_t i = 0; i < kFontFileCount; ++i) {
    if (strcmp(kFontFiles[i].name, name) == 0) {
      if (index) *index = i;
      return &kFontFiles[i];
    }
  }
  return nullptr;
}

// A raw font holds exactly size bytes: that many can be read and then the
// file ends.
static bool read_raw_font(const std::string& path, size_t size, std::vector<uint8_t>* out) {
  FontFileHandle f(fopen(path.c_str(), "rb"));
  if (!f) return false;
  std::vector<uint8_t> buf(size);
  if (fread(buf.data(), 1, size, f.get()) != size) return false;
  if (fgetc(f.get()) != EOF) return false;
  *out = std::move(buf);
  return true;
}

// A disk font is read whole; it must hold at least one byte and end within
// kDiskFontMaxFile bytes (a longer file is rejected, not cut).
static bool read_disk_font(const std::string& path, std::vector<uint8_t>* out) {
  FontFileHandle f(fopen(path.c_str(), "rb"));
  if (!f) return false;
  std::vector<uint8_t> buf(kDiskFontMaxFile + 1);
  size_t n = fread(buf.data(), 1, buf.size(), f.get());
  if (n < 1 || n > kDiskFontMaxFile) return false;
  buf.resize(n);
  *out = std::move(buf);
  return true;
}

// The cached contents of one font file, searched in every directory and
// spelling on first use.  Null when it failed everywhere, now or earlier.
static const FontFileCache* font_cache_fetch(size_t index) {
  FontFileCache& c = g_font_cache[index];
  if (c.loaded) return &c;
  if (c.failed) return nullptr;
  const FontFileSpec& spec = kFontFiles[index];
  for (const char* dir : kFontDirs) {
    std::string base = expand_font_path(dir);
    for (const char* spelling : spec.spellings) {
      if (!spelling) break;
      std::string path = base + spelling;
      std::vector<uint8_t> bytes;
      bool ok;
      if (spec.disk) {
        uint8_t scratch[4096];
        ok = read_disk_font(path, &bytes) &&
             bitmap_font_parse_disk_font(bytes.data(), bytes.size(), spec.height, scratch) == 0;
      } else {
        ok = read_raw_font(path, static_cast<size_t>(spec.size), &bytes);
      }
      if (ok) {
        c.loaded = 1;
        c.path = std::move(path);
        c.bytes = std::move(bytes);
        return &c;
      }
    }
  }
  c.failed = 1;
  return nullptr;
}

int bitmap_font_load(const char* file, int height, int scale) {
  if (!file || scale < 1) return 0;
  size_t index = 0;
  const FontFileSpec* spec = font_file_spec(file, &index);
  if (!spec || spec->height != height) return 0;
  const FontFileCache* c = font_cache_fetch(index);
  if (!c) return 0;
  uint8_t glyphs[4096] = {};
  if (spec->disk) {
    if (bitmap_font_parse_disk_font(c->bytes.data(), c->bytes.size(), height, glyphs) != 0) {
      return 0;
    }
  } else {
    memcpy(glyphs, c->bytes.data(), c->bytes.size());
  }
  memcpy(g_bitmap_font.glyphs, glyphs, sizeof glyphs);
  g_bitmap_font.height = height;
  g_bitmap_font.scale = scale;
  g_bitmap_font.valid = 1;
  safe_copy(g_bitmap_font.path, sizeof g_bitmap_font.path, c->path.c_str());
  return 1;
}

const uint8_t* bitmap_font_cp437_16_glyphs() {
  size_t index = 0;
  if (!font_file_spec("cp437.f16", &index)) return nullptr;
  const FontFileCache* c = font_cache_fetch(index);
  // A raw file is only cached at its exact size, 256 glyphs of 16 rows.
  return c && c->bytes.size() == 4096 ? c->bytes.data() : nullptr;
}

void font_console(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stdout, fmt, ap);
  va_end(ap);
  fflush(stdout);
}
