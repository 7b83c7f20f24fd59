// System fonts: faces opened by name at an exact height, the fall-backs for
// the terminal and the menu, and the cell metrics derived from a face.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string>

#include "display/font_drawer.h"
#include "display/fonts.h"
#include "display/modes.h"
#include "platform/display.h"
#include "util/text.h"

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
  return display_window_mode() == DISPLAY_MODE_MEDIUM;
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

bool terminal_system_font_available(const char* name) {
  PlatFont* f = open_user_system_font(name);
  if (!f) return false;
  plat_close_font(f);
  return true;
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
