// Opening, placing and closing the terminal's surface in each window mode.
#include "display/surface.h"

#include <algorithm>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/renderer.h"
#include "display/statusbar.h"
#include "display/term_hooks.h"
#include "platform/display.h"
#include "terminal/terminal.h"

namespace {

constexpr const char* kScreenTitle = "Kavel Screen";
// The full-screen layout is a 640 x 400 picture times an integer scale.
constexpr int kLayoutW = 640;
constexpr int kLayoutH = 400;

bool is_c64_40_column_font() {
  return font_name_looks_c64(g_active_font) && !c64_font_uses_80_columns(g_active_font);
}

// Columns that show text.  The same rule as the screen model's: a PETSCII
// terminal shows the active C64 font's columns, everything else 80.  It is
// repeated here because the display layer sits below the screen model.
int visible_cols(int petscii) {
  if (!petscii) return kTermCols;
  int n = c64_visible_cols_for_font();
  return (n >= 1 && n <= kTermCols) ? n : kTermCols;
}

// Glyph source for the terminal: the bitmap renderer when the active font has
// usable files, else a system font.  false when neither is available.
bool prepare_glyphs(Terminal* t) {
  int cw = 0, ch = 0, baseline = 0, glyph_h = 0, scale = 0, kind = 0;
  if (bitmap_renderer_prepare_terminal(t->top_bar, &cw, &ch, &baseline, &glyph_h, &scale, &kind)) {
    t->bitmap_renderer = 1;
    t->bitmap_kind = kind;
    t->font_owned = 0;
    t->cp437_font = kind == BITMAP_KIND_CP437 ? 1 : 0;
    t->bitmap_glyph_height = glyph_h;
    t->bitmap_scale = scale;
    t->cell_w = cw;
    t->cell_h = ch;
    t->baseline = baseline;
    return true;
  }
  int cp437 = 0;
  PlatFont* font = open_terminal_font(&cp437);
  if (!font) return false;
  t->font = font;
  t->cp437_font = cp437;
  terminal_metrics_from_font(font, cp437, &t->cell_w, &t->cell_h, &t->baseline);
  return true;
}

// What the first clear screen does to a freshly opened record: the window
// painted in the blank background (palette index 0, which also covers the
// PETSCII side gutters), every cell a blank in light grey on black, the
// cursor home and the status bar drawn.  Done here rather than through the
// screen model, which sits above this layer; with no scrollback attached,
// no cursor drawn and the initial attributes, the two are the same.
// Whether a medium window is worth opening: larger than the normal window
// (a bitmap font at scale 2 or more, or the fixed 40-column C64 picture) and
// small enough for the usable desktop, frame included.
bool medium_window_fits(const Terminal* t) {
  int w = 0, h = 0;
  surface_terminal_inner_size(t->petscii == TERM_MODE_PETSCII, 1, t->cell_w, t->cell_h, &w, &h);
  bool c64_40 = t->petscii == TERM_MODE_PETSCII && is_c64_40_column_font();
  if (!c64_40 && t->bitmap_renderer && t->bitmap_scale <= 1) return false;
  int uw = 0, uh = 0;
  if (!plat_desktop_usable_area(&uw, &uh)) return true;
  return w <= uw && h <= uh;
}

void clear_fresh_screen(Terminal* t) {
  term_clear_drawable_area_raw(t);
  for (auto& row : t->cells)
    for (Cell& cell : row) cell = Cell{' ', 7, 0, 0};
  t->col = 0;
  t->row = 0;
  term_draw_session_status(t);
}

}  // namespace

// ------------------------------------------------------------ own screen --

void kavel_screen_load_palette(PlatScreen* screen) {
  if (!screen) return;
  uint32_t rgb[3 * kTermPalette];
  for (int i = 0; i < kTermPalette; i++) {
    uint32_t c = kTermPaletteRgb[i];
    rgb[3 * i] = term_palette_component32(static_cast<uint8_t>(c >> 16));
    rgb[3 * i + 1] = term_palette_component32(static_cast<uint8_t>(c >> 8));
    rgb[3 * i + 2] = term_palette_component32(static_cast<uint8_t>(c));
  }
  plat_screen_load_rgb32(screen, 0, kTermPalette, rgb);
  // Each register again on its own: some displays only take a register
  // change that comes one register at a time.
  for (int i = 0; i < kTermPalette; i++)
    plat_screen_set_rgb32(screen, i, rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
}

PlatScreen* open_kavel_screen() {
  PlatScreen* screen = plat_open_screen(g_screen_w, g_screen_h, g_screen_depth, kScreenTitle);
  if (!screen && g_screen_depth != 4)
    screen = plat_open_screen(g_screen_w, g_screen_h, 4, kScreenTitle);
  if (!screen) return nullptr;
  kavel_screen_load_palette(screen);
  return screen;
}

// ------------------------------------------------------------- the pieces --

PlatWindow* surface_open_fullscreen_window(const char* title, PlatScreen** screen_out) {
  if (screen_out) *screen_out = nullptr;
  PlatScreen* screen = open_kavel_screen();
  if (!screen) return nullptr;
  PlatWindowSpec spec;
  spec.title = title ? title : "";
  spec.screen = screen;
  spec.left = 0;
  spec.top = 0;
  spec.inner_width = plat_screen_width(screen);
  spec.inner_height = plat_screen_height(screen);
  spec.borderless = true;
  PlatWindow* window = plat_open_window(spec);
  if (!window) {
    plat_close_screen(screen);
    return nullptr;
  }
  if (screen_out) *screen_out = screen;
  return window;
}

void surface_fall_back_to_window() {
  display_set_window_mode(DISPLAY_MODE_WINDOW);
}

PlatWindow* surface_open_desktop_window(const char* title, int inner_w, int inner_h,
                                        const WindowRequest* req) {
  PlatScreen* desk = plat_lock_desktop_screen();
  int left = 0;
  int top = 0;
  choose_window_position(inner_w, inner_h, desk, req, &left, &top);
  PlatWindowSpec spec;
  spec.title = title ? title : "";
  spec.screen = desk;
  spec.left = left;
  spec.top = top;
  spec.inner_width = inner_w;
  spec.inner_height = inner_h;
  PlatWindow* window = plat_open_window(spec);
  plat_unlock_screen(desk);
  return window;
}

void surface_terminal_inner_size(int petscii, int medium, int cell_w, int cell_h, int* inner_w,
                                 int* inner_h) {
  int w = visible_cols(petscii) * cell_w;
  int h = kTermRows * cell_h;
  if (medium && petscii && is_c64_40_column_font()) {
    // The 40-column picture at scale 3; a smaller scale is centred in it.
    // Only a PETSCII terminal shows 40 columns: an ANSI terminal with a C64
    // font draws all 80 at that scale and gets a window that holds them.
    w = 960;
    h = 600;
  }
  if (inner_w) *inner_w = w;
  if (inner_h) *inner_h = h;
}

// ---------------------------------------------------------------- term_open --

void surface_apply_request(const WindowRequest* req) {
  if (req->font) set_active_font(req->font);
  if (req->mode != display_window_mode()) display_set_window_mode(req->mode);
  if (req->c64_scale > 0) g_c64_40_dynamic_scale = req->c64_scale;
}

int term_open(Terminal* t, const WindowRequest* req) {
  if (!t || !req) return -1;
  const char* title = req->title;
  surface_apply_request(req);
  display_install_term_hooks();
  term_init_record(t);
  t->fullscreen = g_fullscreen ? 1 : 0;
  t->medium_window = g_medium_window ? 1 : 0;
  t->petscii = req->petscii ? TERM_MODE_PETSCII : TERM_MODE_ANSI;
  t->window_owned = 1;
  t->font_owned = 1;

  t->top_bar = t->fullscreen ? (g_runtime_top_bar_enabled ? 1 : 0) : 0;
  t->bold = 0;
  t->reverse = 0;
  t->cell_w = 10;
  t->cell_h = 20;
  t->baseline = 16;
  if (t->petscii == TERM_MODE_PETSCII) {
    t->petscii_lower =
        font_name_looks_c64(g_active_font) && font_name_looks_c64_lower_font_local(g_active_font)
            ? 1
            : 0;
    t->petscii_after_cr = 0;
  }
  if (t->fullscreen) prepare_borderless_fullscreen_layout();

  bool glyphs = prepare_glyphs(t);
  if (t->medium_window && (!glyphs || !medium_window_fits(t))) {
    // No medium window fits this desktop: the normal window, as a full
    // screen that cannot be had falls back to it.
    if (glyphs && t->font) plat_close_font(t->font);
    t->font = nullptr;
    t->medium_window = 0;
    surface_fall_back_to_window();
    glyphs = prepare_glyphs(t);
  }
  if (!glyphs) {
    term_init_record(t);
    return -1;
  }

  PlatWindow* window = nullptr;
  PlatScreen* screen = nullptr;
  if (t->fullscreen) {
    if (prepare_fixed_fullscreen_screen(t->cell_w, t->cell_h, t->top_bar, req->petscii))
      window = surface_open_fullscreen_window(title, &screen);
    if (window) {
      t->screen = screen;
      t->screen_owned = 1;
    } else {
      t->fullscreen = 0;
      t->medium_window = 0;
      surface_fall_back_to_window();
    }
  }
  if (!window) {
    t->top_bar = 0;
    int inner_w = 0, inner_h = 0;
    surface_terminal_inner_size(t->petscii == TERM_MODE_PETSCII, t->medium_window, t->cell_w,
                                t->cell_h, &inner_w, &inner_h);
    window = surface_open_desktop_window(title, inner_w, inner_h, req);
  }
  if (!window) {
    if (t->font_owned && t->font) plat_close_font(t->font);
    term_init_record(t);
    return -1;
  }
  t->window = window;
  t->rport = window;

  if (t->font) plat_set_font(window, t->font);
  plat_set_drmd(window, PLAT_JAM2);
  term_update_origin(t);

  if (t->screen_owned)
    term_setup_pens(t, t->screen, true);
  else
    term_setup_pens(t, plat_window_screen(window), false);

  clear_fresh_screen(t);
  return 0;
}

void term_close(Terminal* t) {
  if (!t) return;
  PlatScreen* window_screen = plat_window_screen(t->window);
  if (t->pens_obtained && plat_screen_has_colormap(window_screen))
    term_release_pens(t, window_screen);
  // The window goes before its screen: a screen with a window still open on
  // it cannot be closed.
  if (t->window && t->window_owned) plat_close_window(t->window);
  if (t->screen && t->screen_owned) plat_close_screen(t->screen);
  if (t->font && t->font_owned) plat_close_font(t->font);
  term_init_record(t);
}

// ------------------------------------------------------------------ origin --

void term_update_origin(Terminal* t) {
  if (!t || !t->window) return;
  PlatWindowGeometry g = plat_window_geometry(t->window);
  int grid_w = visible_cols(t->petscii == TERM_MODE_PETSCII) * t->cell_w;
  int grid_h = kTermRows * t->cell_h;

  if (t->fullscreen) {
    prepare_borderless_fullscreen_layout();
    int w = g.width > 0 ? g.width : kLayoutW;
    int h = g.height;
    int s = std::max(1, std::min(w / kLayoutW, h / kLayoutH));
    int x0 = std::max(0, (w - kLayoutW * s) / 2);
    int ox = (kLayoutW * g_fullscreen_scale - grid_w) / 2 + x0;
    int oy = (kLayoutH * g_fullscreen_scale - grid_h) / 2;
    if (t->top_bar) {
      // The grid moves down to make room for the bar, but never off the
      // bottom of the screen.
      int shift = t->cell_h > 0 ? 2 * t->cell_h : 40;
      int room = std::max(0, h - grid_h - oy);
      oy += std::min(shift, room);
    }
    t->origin_x = std::max(0, ox);
    t->origin_y = std::max(0, oy);
    return;
  }
  if (t->medium_window) {
    int inner_w = g.width - g.border_left - g.border_right;
    int inner_h = g.height - g.border_top - g.border_bottom;
    t->origin_x = std::max(g.border_left, g.border_left + (inner_w - grid_w) / 2);
    t->origin_y = std::max(g.border_top, g.border_top + (inner_h - grid_h) / 2);
    return;
  }
  t->origin_x = g.border_left;
  t->origin_y = g.border_top;
}
