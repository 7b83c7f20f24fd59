#include "display/fonts.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "display/modes.h"
#include "platform/display.h"
#include "platform/dos.h"
#include "util/text.h"

BitmapFont g_bitmap_font;

// ----------------------------------------------------------- font drawer --

namespace {

struct FontFileSpec {
  const char* name;  // the name the start-up report uses
  int height;        // glyph rows
  long size;         // exact byte size of a raw file; 0 for a disk font
  bool disk;         // AmigaOS disk font rather than raw glyph rows
  std::array<const char*, 6> spellings;
};

// In the order of the start-up check: every file here is required.
constexpr FontFileSpec kFontFiles[] = {
    {"cp437.f8", 8, 2048, false, {"cp437.f8", "CP437.F8"}},
    {"cp437.f14", 14, 3584, false, {"cp437.f14", "CP437.F14"}},
    {"cp437.f16", 16, 4096, false, {"cp437.f16", "CP437.F16"}},
    {"c64_upper.f8",
     8,
     2048,
     false,
     {"c64_upper.f8", "C64_UPPER.F8", "c64_upgfx.f8", "C64_UPGFX.F8", "c64_up_gfx.f8",
      "C64_UP_GFX.F8"}},
    {"c64_lower.f8",
     8,
     2048,
     false,
     {"c64_lower.f8", "C64_LOWER.F8", "c64_lowup.f8", "C64_LOWUP.F8", "c64_low_up.f8",
      "C64_LOW_UP.F8"}},
    {"topaz_amiga.f14", 14, 3584, false, {"topaz_amiga.f14"}},
    {"topaz_amiga.f16", 16, 4096, false, {"topaz_amiga.f16", "Topaz_Amiga.f16", "TOPAZ_AMIGA.F16"}},
    {"Topaz+1200/14", 14, 0, true, {"Topaz+1200/14"}},
    {"Topaz+1200/16", 16, 0, true, {"Topaz+1200/16"}},
};
constexpr size_t kFontFileCount = sizeof kFontFiles / sizeof kFontFiles[0];

constexpr const char* kFontDirs[] = {"PROGDIR:Fonts/", "PROGDIR:fonts/", "Fonts/", "fonts/"};

// A disk font file is read into a buffer of this size and must end inside it.
constexpr size_t kDiskFontMaxFile = 32768;
// The decoder itself accepts anything up to this size.
constexpr size_t kDiskFontMaxParse = 65536;
constexpr size_t kDiskFontMinSize = 134;

struct FontFileCache {
  int loaded = 0;
  int failed = 0;
  std::string path;
  std::vector<uint8_t> bytes;
};

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

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

// Expands "PROGDIR:" like dos_expand_path, honouring the test override.
static std::string expand_font_path(const char* path) {
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
  FileHandle f(fopen(path.c_str(), "rb"));
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
  FileHandle f(fopen(path.c_str(), "rb"));
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

static uint32_t read_be16(const uint8_t* p) {
  return static_cast<uint32_t>(p[0] << 8 | p[1]);
}

static uint32_t read_be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

int bitmap_font_parse_disk_font(const uint8_t* data, size_t size, int height, uint8_t out[4096]) {
  if (!data || !out || height < 1 || height > 16) return -1;
  if (size < kDiskFontMinSize || size > kDiskFontMaxParse) return -1;
  // TextFont fields; the hunk's contents start at file offset 32 and every
  // pointer in it is relative to that.
  if (read_be16(data + 110) != static_cast<uint32_t>(height)) return -1;  // tf_YSize
  if (read_be16(data + 114) > 8) return -1;                               // tf_XSize
  int lo = data[122];
  int hi = data[123];
  if (lo > hi) return -1;
  int64_t size64 = static_cast<int64_t>(size);
  int64_t char_data = static_cast<int64_t>(static_cast<int32_t>(read_be32(data + 124))) + 32;
  int64_t modulo = read_be16(data + 128);
  int64_t char_loc = static_cast<int64_t>(static_cast<int32_t>(read_be32(data + 130))) + 32;
  if (char_data < 0 || char_loc < 0) return -1;
  if (char_data + modulo * height > size64) return -1;
  if (char_loc + int64_t{hi - lo + 1} * 4 > size64) return -1;

  memset(out, 0, 4096);
  for (int c = lo; c <= hi; ++c) {
    const uint8_t* loc = data + char_loc + int64_t{c - lo} * 4;
    int64_t bit_offset = read_be16(loc);
    int width = std::min<int>(static_cast<int>(read_be16(loc + 2)), 8);
    for (int r = 0; r < height; ++r) {
      uint8_t row = 0;
      for (int k = 0; k < width; ++k) {
        int64_t bit = bit_offset + k;
        int64_t at = char_data + r * modulo + bit / 8;
        // A glyph may reach past the end of the last row; such bits are blank.
        if (at < size64 && (data[at] >> (7 - bit % 8)) & 1) row |= static_cast<uint8_t>(0x80 >> k);
      }
      out[c * height + r] = row;
    }
  }
  return 0;
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

// ---------------------------------------------------------- console text --

static void font_console(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

static void font_console(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vfprintf(stdout, fmt, ap);
  va_end(ap);
  fflush(stdout);
}

// Whether a required file is present: it opens as a regular file and, when a
// size is expected, is exactly that long.
static bool startup_font_ok(const std::string& path, long size) {
  FileHandle f(fopen(path.c_str(), "rb"));
  if (!f) return false;
  struct stat st;
  if (fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (size == 0) return true;
  if (fseek(f.get(), 0, SEEK_END) != 0) return false;
  return ftell(f.get()) == size;
}

// Every spelling the loader accepts counts, not only the name in the report:
// a drawer whose files the terminal can load must not stop the program.
static bool startup_font_present(const FontFileSpec& spec) {
  for (const char* dir : kFontDirs) {
    std::string base = expand_font_path(dir);
    for (const char* spelling : spec.spellings) {
      if (!spelling) break;
      if (startup_font_ok(base + spelling, spec.size)) return true;
    }
  }
  return false;
}

int startup_validate_runtime_fonts() {
  int failures = 0;
  for (const FontFileSpec& spec : kFontFiles) {
    if (startup_font_present(spec)) continue;
    if (failures == 0) font_console("\nRequired runtime font missing or invalid:\n");
    font_console("  PROGDIR:Fonts/%s\n", spec.name);
    ++failures;
  }
  if (failures == 0) return 0;
  font_console("\nPlease reinstall the Kavel Fonts drawer.\n");
  font_console("\nPress Return to exit...");
  (void)getchar();
  return -1;
}

// -------------------------------------------------------- scale selection --

namespace {
enum class WindowMode { Normal, Medium, Full };
}

static WindowMode current_window_mode() {
  if (g_fullscreen) return WindowMode::Full;
  if (g_medium_window) return WindowMode::Medium;
  return WindowMode::Normal;
}

// Whether the desktop screen holds w x h pixels; true when there is none to ask.
static bool desktop_holds(int64_t w, int64_t h) {
  PlatScreen* desk = plat_lock_desktop_screen();
  if (!desk) return true;
  bool fits = w <= plat_screen_width(desk) && h <= plat_screen_height(desk);
  plat_unlock_screen(desk);
  return fits;
}

bool bitmap_font_candidate_fits(int height, int scale, int top_bar) {
  int64_t w = int64_t{640} * scale;
  int64_t h = int64_t{top_bar ? 26 : 25} * height * scale;
  switch (current_window_mode()) {
    case WindowMode::Full:
      return w <= g_screen_w && h <= g_screen_h;
    case WindowMode::Medium:
      return desktop_holds(w, h);
    case WindowMode::Normal:
      break;
  }
  return true;
}

bool c64_bitmap_font_candidate_fits(int scale, int top_bar) {
  int64_t w = int64_t{c64_visible_cols_for_font()} * 8 * scale;
  int64_t h = int64_t{200} * scale;
  if (current_window_mode() == WindowMode::Full) {
    if (top_bar) {
      // The top bar spans the whole layout width.
      int64_t full_w = int64_t{640} * g_fullscreen_scale;
      h += int64_t{16} * g_fullscreen_scale;
      w = std::max(w, full_w);
    }
    return w <= g_screen_w && h <= g_screen_h;
  }
  return desktop_holds(w, int64_t{top_bar ? 208 : 200} * scale);
}

// The scale a Topaz or CP437 font starts from in the current mode.
static int start_scale() {
  switch (current_window_mode()) {
    case WindowMode::Full:
      return std::max(g_fullscreen_scale, 1);
    case WindowMode::Medium:
      return 2;
    case WindowMode::Normal:
      break;
  }
  return 1;
}

// The largest scale from start down to 1 whose grid fits; 0 when none does.
static int step_down_scale(int height, int start, int top_bar) {
  for (int s = start; s >= 1; --s) {
    if (bitmap_font_candidate_fits(height, s, top_bar)) return s;
  }
  return 0;
}

static bool load_cp437(int height, int scale) {
  char file[16];
  snprintf(file, sizeof file, "cp437.f%d", height);
  return bitmap_font_load(file, height, scale) == 1;
}

static bool prepare_cp437(int top_bar, int* height, int* scale) {
  switch (current_window_mode()) {
    case WindowMode::Full: {
      int s = step_down_scale(16, start_scale(), top_bar);
      if (s == 0 || !load_cp437(16, s)) return false;
      *height = 16;
      *scale = s;
      return true;
    }
    case WindowMode::Medium: {
      static constexpr int kCandidates[][2] = {{16, 2}, {14, 2}, {8, 2}, {16, 1}};
      for (const auto& cand : kCandidates) {
        if (bitmap_font_candidate_fits(cand[0], cand[1], top_bar) && load_cp437(cand[0], cand[1])) {
          *height = cand[0];
          *scale = cand[1];
          return true;
        }
      }
      return false;
    }
    case WindowMode::Normal:
      break;
  }
  if (!bitmap_font_candidate_fits(16, 1, top_bar) || !load_cp437(16, 1)) return false;
  *height = 16;
  *scale = 1;
  return true;
}

static int c64_scale(int top_bar) {
  bool cols80 = c64_visible_cols_for_font() == 80;
  int scale = 1;
  switch (current_window_mode()) {
    case WindowMode::Full: {
      int base = std::max(g_fullscreen_scale, 1);
      scale = base;
      if (!cols80 && g_c64_40_dynamic_scale == 2) {
        scale = 2 * base;
        // The doubled 40-column picture does not fit desktops of exactly a
        // multiple of 640x400 with the top bar (1280x800, 2560x1600); the
        // plain full-screen scale always fits, so the session keeps a
        // terminal instead of failing to open one.
        if (!c64_bitmap_font_candidate_fits(scale, top_bar)) scale = base;
      }
      return c64_bitmap_font_candidate_fits(scale, top_bar) ? scale : 0;
    }
    case WindowMode::Medium:
      scale = cols80 ? 2 : 3;
      break;
    case WindowMode::Normal:
      scale = cols80 ? 1 : 2;
      break;
  }
  // Window modes step down to 2 and then 1 when the screen is too small.
  for (int smaller : {2, 1}) {
    if (c64_bitmap_font_candidate_fits(scale, top_bar)) return scale;
    scale = std::min(scale, smaller);
  }
  return c64_bitmap_font_candidate_fits(scale, top_bar) ? scale : 0;
}

int bitmap_renderer_prepare_terminal(int top_bar, int* cell_w, int* cell_h, int* baseline,
                                     int* glyph_height, int* scale, int* kind) {
  memset(&g_bitmap_font, 0, sizeof g_bitmap_font);
  WindowMode mode = current_window_mode();
  if (mode == WindowMode::Full) prepare_borderless_fullscreen_layout();
  const char* name = g_active_font;
  int h = 0;
  int s = 0;
  int k = BITMAP_KIND_NONE;

  if (font_name_looks_topaz_1200_font(name)) {
    h = mode == WindowMode::Full ? 16 : 14;
    s = step_down_scale(h, start_scale(), top_bar);
    if (s == 0) return 0;
    char file[24];
    snprintf(file, sizeof file, "Topaz+1200/%d", h);
    if (!bitmap_font_load(file, h, s)) {
      font_console("Kavel font warning: external Topaz+1200/%d unavailable in PROGDIR:Fonts/.\n",
                   h);
      return 0;
    }
    k = BITMAP_KIND_TOPAZ_1200;
  } else if (font_name_looks_topaz_amiga_font(name)) {
    h = 16;
    s = step_down_scale(h, start_scale(), top_bar);
    if (s == 0) return 0;
    if (bitmap_font_load("topaz_amiga.f16", h, s)) {
      k = BITMAP_KIND_TOPAZ_AMIGA;
    } else {
      font_console(
          "Kavel font warning: external Topaz Amiga font unavailable in PROGDIR:Fonts/; falling "
          "back to CP437 bitmap.\n");
      if (!prepare_cp437(top_bar, &h, &s)) return 0;
      k = BITMAP_KIND_CP437;
    }
  } else if (font_name_looks_c64(name)) {
    h = 8;
    s = c64_scale(top_bar);
    if (s == 0) return 0;
    const char* file = font_name_looks_c64_lower_font_local(name) ? "c64_lower.f8" : "c64_upper.f8";
    if (!bitmap_font_load(file, h, s)) {
      font_console("Kavel font warning: external C64 font file unavailable in PROGDIR:Fonts/.\n");
      return 0;
    }
    k = BITMAP_KIND_C64;
  } else if (font_name_looks_cp437(name)) {
    if (!prepare_cp437(top_bar, &h, &s)) return 0;
    k = BITMAP_KIND_CP437;
  } else {
    return 0;
  }

  if (cell_w) *cell_w = 8 * s;
  if (cell_h) *cell_h = h * s;
  if (baseline) *baseline = h * s - 1;
  if (glyph_height) *glyph_height = h;
  if (scale) *scale = s;
  if (kind) *kind = k;
  return 1;
}

// ----------------------------------------------------------- system fonts --

PlatFont* try_open_font_exact(const char* name, int height, int flags) {
  (void)flags;  // style flags: the platform opens the face as it is
  if (!name || !*name || height <= 0) return nullptr;
  PlatFont* font = plat_open_font(name, height);
  if (font && plat_font_height(font) != height) {
    plat_close_font(font);
    return nullptr;
  }
  return font;
}

PlatFont* try_open_named_font(const char* name, int height, int flags) {
  if (!name || !*name) return nullptr;
  if (PlatFont* f = try_open_font_exact(name, height, flags)) return f;
  for (const char* dir : {"PROGDIR:Fonts/", "PROGDIR:fonts/"}) {
    char path[256];
    snprintf(path, sizeof path, "%s%s", dir, name);
    std::string full = expand_font_path(path);
    if (PlatFont* f = try_open_font_exact(full.c_str(), height, flags)) return f;
  }
  return nullptr;
}

static PlatFont* open_first(std::initializer_list<const char*> names,
                            std::initializer_list<int> heights) {
  for (const char* n : names) {
    for (int h : heights) {
      if (PlatFont* f = try_open_named_font(n, h, 0)) return f;
    }
  }
  return nullptr;
}

static bool medium_window_mode() {
  return current_window_mode() == WindowMode::Medium;
}

// Monospaced faces worth a larger size in the medium window.
static PlatFont* open_medium_window_font() {
  return open_first({"Courier New.font", "CourierNew.font", "XCourier.font",
                     "DejaVu Sans Mono.font", "Bitstream Vera Sans Mono.font"},
                    {24, 22, 20});
}

// A system font the user named for the terminal, at any usable height.
static PlatFont* open_user_system_font(const char* name) {
  char norm[80];
  normalize_font_choice(name, norm);
  if (!norm[0] || font_name_looks_cp437(norm) || font_name_looks_amiga_font(norm) ||
      font_name_looks_c64(norm)) {
    return nullptr;
  }
  char with_ext[96];
  if (font_name_contains(norm, ".font")) {
    safe_copy(with_ext, sizeof with_ext, norm);
  } else {
    snprintf(with_ext, sizeof with_ext, "%s.font", norm);
  }
  static constexpr int kMediumHeights[] = {24, 22, 20, 18, 16, 15, 14, 13, 12, 11, 10, 9, 8};
  static constexpr int kOtherHeights[] = {16, 8, 9, 10, 11, 12, 13, 14, 15, 18, 20};
  bool medium = medium_window_mode();
  const int* heights = medium ? kMediumHeights : kOtherHeights;
  size_t count = medium ? std::size(kMediumHeights) : std::size(kOtherHeights);
  for (const char* variant : {static_cast<const char*>(with_ext), static_cast<const char*>(norm)}) {
    if (variant == norm && strcmp(with_ext, norm) == 0) break;  // nothing new to try
    for (size_t i = 0; i < count; ++i) {
      if (PlatFont* f = try_open_named_font(variant, heights[i], 0)) return f;
    }
  }
  return nullptr;
}

PlatFont* open_terminal_font(int* cp437_flag) {
  if (cp437_flag) *cp437_flag = 0;
  const char* name = g_active_font;
  if (font_name_looks_amiga_font(name)) {
    font_console(
        "Kavel font warning: embedded Topaz bitmap backend unavailable for %s; no runtime Topaz "
        "font fallback used.\n",
        name[0] ? name : "Topaz");
    return nullptr;
  }
  if (name[0] && !font_name_looks_cp437(name)) return open_user_system_font(name);
  if (medium_window_mode()) {
    if (PlatFont* f = open_medium_window_font()) return f;
  }
  return open_first({"Courier New.font", "CourierNew.font", "courier.font", "XCourier.font",
                     "Bitstream Vera Sans Mono.font", "DejaVu Sans Mono.font"},
                    {16});
}

PlatFont* open_ui_font(int* cp437_flag) {
  if (cp437_flag) *cp437_flag = 0;
  if (medium_window_mode()) {
    if (PlatFont* f = open_medium_window_font()) return f;
  }
  return open_first({"DejaVu Sans Mono.font", "Bitstream Vera Sans Mono.font", "Courier New.font",
                     "CourierNew.font", "XCourier.font", "courier.font"},
                    {14});
}

void terminal_metrics_from_font(const PlatFont* font, int cp437_flag, int* cell_w, int* cell_h,
                                int* baseline) {
  int w = 10;
  int h = 20;
  int b = 16;
  if (font) {
    int fw = plat_font_width(font);
    int fh = plat_font_height(font);
    int fb = plat_font_baseline(font);
    bool settle = true;
    if (cp437_flag) {
      w = fw ? fw : 10;
      h = fh ? fh : 20;
      b = fb;
    } else if (font_name_looks_c64(g_active_font)) {
      int cap = medium_window_mode() ? 16 : 8;
      w = std::min(fw ? fw : 8, cap);
      h = std::min(fh ? fh : 8, cap);
      b = std::min(fb ? fb : h - 2, h - 1);
      if (b < 6) {
        // Tiny faces that report a baseline too high to place glyphs in
        // the cell: put it near the bottom, and take these metrics as final.
        if (h > 7) {
          b = h - 2;
          if (w <= 5) w = 8;
        }
        settle = false;
      }
    } else if (font_name_looks_amiga_font(g_active_font)) {
      w = fw ? fw : 8;
      h = fh ? fh : 20;
      b = fb;
    } else {
      // Any other face is centred vertically in the standard 10 x 20 cell.
      w = 10;
      h = 20;
      b = fb + (20 - fh) / 2;
    }
    if (settle) {
      if (w < 6) w = 8;
      if (h <= 7) h = 16;
    }
  }
  if (cell_w) *cell_w = w;
  if (cell_h) *cell_h = h;
  if (baseline) *baseline = b;
}

void ui_metrics_from_font(const PlatFont* font, int* cell_w, int* line_h, int* baseline) {
  int w = 10;
  int lh = 18;
  int b = 14;
  if (font) {
    int fw = plat_font_width(font);
    int fh = plat_font_height(font);
    w = fw ? fw : 10;
    if (w < 6) w = 8;
    lh = fh ? fh + 3 : 18;
    if (lh < 12) lh = 16;
    b = plat_font_baseline(font) + 1;
  }
  if (cell_w) *cell_w = w;
  if (line_h) *line_h = lh;
  if (baseline) *baseline = b;
}
