// System fonts: FreeType faces found through fontconfig, rendered monochrome
// because pens do not blend.  A font is opened only when fontconfig resolves
// the asked family itself; its "height" is the whole line (ascent plus
// descent), as the height of a disk font is, so text never reaches outside
// the rows the caller reserved for it.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/dos.h"
#include "platform/internal.h"

namespace {

struct SysGlyph {
  bool loaded = false;
  int left = 0;  // columns from the pen position to the bitmap
  int top = 0;   // rows from the bitmap's top down to the baseline
  int width = 0;
  int rows = 0;
  int advance = 0;
  std::vector<uint8_t> bits;  // width x rows, 1 = foreground
};

FT_Library g_ft = nullptr;
bool g_ft_failed = false;
bool g_fc_ready = false;

FT_Library ft_library() {
  if (!g_ft && !g_ft_failed && FT_Init_FreeType(&g_ft) != 0) {
    g_ft = nullptr;
    g_ft_failed = true;
  }
  return g_ft;
}

bool ends_with_font(const std::string& s) {
  return s.size() >= 5 && strcasecmp(s.c_str() + s.size() - 5, ".font") == 0;
}

// The face file fontconfig resolves for exactly this family; empty when it
// would substitute another one.
bool match_family(const std::string& family, std::string* file, int* index) {
  if (!g_fc_ready) {
    if (!FcInit()) return false;
    g_fc_ready = true;
    // fontconfig keeps caches that only FcFini gives back; releasing them at
    // exit keeps leak checkers quiet about memory we do not own.
    atexit(FcFini);
  }
  FcPattern* pat = FcPatternCreate();
  if (!pat) return false;
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pat, FC_SLANT, FC_SLANT_ROMAN);
  FcPatternAddInteger(pat, FC_WEIGHT, FC_WEIGHT_REGULAR);
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pat, &result);
  FcPatternDestroy(pat);
  if (!match) return false;
  bool same = false;
  FcChar8* name = nullptr;
  for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; i++) {
    if (strcasecmp(reinterpret_cast<const char*>(name), family.c_str()) == 0) {
      same = true;
      break;
    }
  }
  FcChar8* path = nullptr;
  int idx = 0;
  if (same && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch) {
    *file = reinterpret_cast<const char*>(path);
    if (FcPatternGetInteger(match, FC_INDEX, 0, &idx) != FcResultMatch) idx = 0;
    *index = idx;
  } else {
    same = false;
  }
  FcPatternDestroy(match);
  return same;
}

int ceil_pixels(FT_Pos v) {
  return static_cast<int>((v + 63) >> 6);
}

// Sizes the face so that ascent plus descent fit in height rows; returns the
// ascent (the baseline) or -1 when no size fits.
int fit_face(FT_Face face, int height) {
  if (!FT_IS_SCALABLE(face)) {
    if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(height)) != 0) return -1;
    int asc = ceil_pixels(face->size->metrics.ascender);
    return std::clamp(asc, 1, height);
  }
  // Quarter-pixel steps down from the full height; a face whose line does
  // not fit even at half the height is not usable at this height.
  for (FT_F26Dot6 size = FT_F26Dot6{height} * 64; size >= FT_F26Dot6{height} * 32; size -= 16) {
    if (FT_Set_Char_Size(face, 0, size, 72, 72) != 0) return -1;
    int asc = ceil_pixels(face->size->metrics.ascender);
    int desc = ceil_pixels(-face->size->metrics.descender);
    if (asc + desc <= height) return asc;
  }
  return -1;
}

}  // namespace

struct PlatFont {
  FT_Face face = nullptr;
  int height = 0;
  int width = 0;
  int baseline = 0;
  std::array<SysGlyph, 256> glyphs;
};

namespace {

const SysGlyph& glyph_for(PlatFont* font, uint8_t code) {
  SysGlyph& g = font->glyphs[code];
  if (g.loaded) return g;
  g.loaded = true;
  // ISO-8859-1: the byte value is the Unicode code point.
  if (FT_Load_Char(font->face, code, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) {
    g.advance = font->width;
    return g;
  }
  FT_GlyphSlot slot = font->face->glyph;
  g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
  g.left = slot->bitmap_left;
  g.top = slot->bitmap_top;
  const FT_Bitmap& bm = slot->bitmap;
  g.width = static_cast<int>(bm.width);
  g.rows = static_cast<int>(bm.rows);
  g.bits.assign(static_cast<size_t>(g.width) * static_cast<size_t>(g.rows), 0);
  for (int r = 0; r < g.rows; r++) {
    const uint8_t* src = bm.buffer + static_cast<ptrdiff_t>(r) * bm.pitch;
    for (int c = 0; c < g.width; c++) {
      bool on = bm.pixel_mode == FT_PIXEL_MODE_MONO ? (src[c >> 3] & (0x80 >> (c & 7))) != 0
                                                    : src[c] >= 128;
      g.bits[static_cast<size_t>(r) * static_cast<size_t>(g.width) + static_cast<size_t>(c)] =
          on ? 1 : 0;
    }
  }
  return g;
}

PlatFont* open_face(const std::string& file, int index, int height) {
  FT_Library lib = ft_library();
  if (!lib) return nullptr;
  FT_Face face = nullptr;
  if (FT_New_Face(lib, file.c_str(), index, &face) != 0) return nullptr;
  int baseline = fit_face(face, height);
  if (baseline < 0) {
    FT_Done_Face(face);
    return nullptr;
  }
  auto* font = new PlatFont();
  font->face = face;
  font->height = height;
  font->baseline = std::min(baseline, height);
  int width = 0;
  if (FT_Load_Char(face, 'M', FT_LOAD_TARGET_MONO) == 0) {
    width = static_cast<int>((face->glyph->advance.x + 32) >> 6);
  }
  if (width <= 0) width = ceil_pixels(face->size->metrics.max_advance);
  font->width = std::max(width, 1);
  return font;
}

}  // namespace

PlatFont* plat_open_font(const char* name, int height) {
  if (!name || !*name || height <= 0 || height > 512) return nullptr;
  std::string n = name;
  if (n.find(':') != std::string::npos || n.find('/') != std::string::npos) {
    // A path: only a file that exists and that FreeType can read.
    std::string path = dos_expand_path(name);
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    return open_face(path, 0, height);
  }
  if (ends_with_font(n)) n.resize(n.size() - 5);
  if (n.empty()) return nullptr;
  std::string file;
  int index = 0;
  if (!match_family(n, &file, &index)) return nullptr;
  return open_face(file, index, height);
}

void plat_close_font(PlatFont* font) {
  if (!font) return;
  for (PlatWindow* w = plat_window_list(); w; w = w->next) {
    if (w->font == font) w->font = nullptr;
  }
  FT_Done_Face(font->face);
  delete font;
}

int plat_font_width(const PlatFont* font) {
  return font ? font->width : 0;
}
int plat_font_height(const PlatFont* font) {
  return font ? font->height : 0;
}
int plat_font_baseline(const PlatFont* font) {
  return font ? font->baseline : 0;
}

void plat_set_font(PlatWindow* window, PlatFont* font) {
  if (window) window->font = font;
}

void plat_move(PlatWindow* window, int x, int y) {
  if (!window) return;
  window->pen_x = x;
  window->pen_y = y;
}

void plat_text(PlatWindow* window, const char* text, int len) {
  if (!window || !window->font || !text || len <= 0) return;
  PlatFont* font = window->font;
  const int W = window->width;
  const int H = window->height;
  // The font's line box; glyph pixels outside it are not drawn.
  const int box_top = window->pen_y - font->baseline;
  const int box_bottom = box_top + font->height - 1;
  const int ry0 = std::max(box_top, 0);
  const int ry1 = std::min(box_bottom, H - 1);
  plat_settle_rows(window, ry0, ry1);
  int x = window->pen_x;
  int dx0 = W, dx1 = -1;
  for (int i = 0; i < len; i++) {
    const SysGlyph& g = glyph_for(font, static_cast<uint8_t>(text[i]));
    if (window->drmd == PLAT_JAM2 && ry0 <= ry1) {
      int x0 = std::max(x, 0), x1 = std::min(x + g.advance - 1, W - 1);
      if (x0 <= x1) {
        for (int y = ry0; y <= ry1; y++) plat_fill_row_span(window, y, x0, x1, window->bpen);
        dx0 = std::min(dx0, x0);
        dx1 = std::max(dx1, x1);
      }
    }
    for (int r = 0; r < g.rows; r++) {
      int y = window->pen_y - g.top + r;
      if (y < ry0 || y > ry1) continue;
      const uint8_t* src = g.bits.data() + static_cast<size_t>(r) * static_cast<size_t>(g.width);
      for (int c = 0; c < g.width; c++) {
        int px = x + g.left + c;
        if (!src[c] || px < 0 || px >= W) continue;
        *plat_pixel(window, px, y) = window->apen;
        dx0 = std::min(dx0, px);
        dx1 = std::max(dx1, px);
      }
    }
    x += g.advance;
  }
  window->pen_x = x;
  if (dx0 <= dx1 && ry0 <= ry1) plat_add_dirty(window, dx0, ry0, dx1, ry1);
}
