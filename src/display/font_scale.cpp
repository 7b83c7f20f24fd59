// Scale selection: which glyph file and integer scale the active font gets
// in the current window mode, stepping down until the grid fits.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/font_drawer.h"
#include "display/fonts.h"
#include "display/modes.h"
#include "platform/display.h"

namespace {
enum class WindowMode { Normal, Medium, Full };
}

static WindowMode current_window_mode() {
  if (g_fullscreen) return WindowMode::Full;
  if (g_medium_window) return WindowMode::Medium;
  return WindowMode::Normal;
}

// Whether a desktop window of w x h inner pixels fits beside the panels and
// docks, frame included; true when there is no display to ask.  A window
// larger than that is cut by the window manager, hiding the last rows.
static bool desktop_holds(int64_t w, int64_t h) {
  int uw = 0, uh = 0;
  if (!plat_desktop_usable_area(&uw, &uh)) return true;
  return w <= uw && h <= uh;
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

// Whether the system font name opens; the answer for the last name and
// window mode is kept (every terminal open and mode change asks, and a
// missing family costs fontconfig a search per height).  A missing name is
// told on the console the first time only.
static bool system_font_installed(const char* name) {
  static std::string last_name;
  static WindowMode last_mode = WindowMode::Normal;
  static bool last_answer = false;
  static std::vector<std::string> told;
  WindowMode mode = current_window_mode();
  if (last_name != name || last_mode != mode) {
    last_name = name;
    last_mode = mode;
    last_answer = terminal_system_font_available(name);
  }
  if (!last_answer && std::find(told.begin(), told.end(), last_name) == told.end()) {
    told.push_back(last_name);
    font_console("Kavel font warning: system font \"%s\" not found; using the CP437 bitmap font.\n",
                 name);
  }
  return last_answer;
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
  } else if (system_font_installed(name)) {
    return 0;  // the terminal draws with the system font
  } else {
    // A phonebook from another machine names a font this one does not
    // have: the terminal opens with the CP437 glyphs rather than not at all.
    if (!prepare_cp437(top_bar, &h, &s)) return 0;
    k = BITMAP_KIND_CP437;
  }

  if (cell_w) *cell_w = 8 * s;
  if (cell_h) *cell_h = h * s;
  if (baseline) *baseline = h * s - 1;
  if (glyph_height) *glyph_height = h;
  if (scale) *scale = s;
  if (kind) *kind = k;
  return 1;
}
