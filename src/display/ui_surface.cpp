// Opening, placing and closing the menu's display, and lending it to a
// session.
#include "display/ui_surface.h"

#include <algorithm>
#include <memory>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/renderer.h"
#include "display/surface.h"
#include "display/term_hooks.h"
#include "platform/display.h"

int g_ui_cache_valid = 0;
int g_ui_cache_view = 0;
int g_ui_cache_ansi = 0;
int g_entry_last_count = 0;
int g_entry_last_selected = -1;
int g_entry_last_offset = -1;
int g_transfer_last_selected = -1;

namespace {

constexpr int kLayoutW = 640;
constexpr int kLayoutH = 400;

// The top bar's content offset: two bar cells of 16 x the full-screen scale.
int bar_height(const UiContext* ui) {
  return ui->fullscreen && ui->top_bar ? 2 * 16 * std::max(1, g_fullscreen_scale) : 0;
}

// Pens through the renderer's rules, which work on a terminal's binding.
void setup_pens(UiContext* ui, PlatScreen* screen, bool own_screen) {
  auto view = std::make_unique<Terminal>();
  term_init_record(view.get());
  static_cast<TermBinding&>(*view) = *ui;
  term_setup_pens(view.get(), screen, own_screen);
  static_cast<TermBinding&>(*ui) = *view;
}

void release_pens(UiContext* ui) {
  if (!ui->pens_obtained) return;
  PlatScreen* screen = plat_window_screen(ui->window);
  if (!plat_screen_has_colormap(screen)) return;
  auto view = std::make_unique<Terminal>();
  term_init_record(view.get());
  static_cast<TermBinding&>(*view) = *ui;
  term_release_pens(view.get(), screen);
  static_cast<TermBinding&>(*ui) = *view;
}

void forget_glyphs(UiContext* ui) {
  if (ui->font && ui->font_owned) plat_close_font(ui->font);
  ui->font = nullptr;
  ui->font_owned = 0;
  ui->bitmap_renderer = 0;
  ui->bitmap_kind = BITMAP_KIND_NONE;
  ui->bitmap_text = 0;
  ui->cp437_font = 0;
  ui->bitmap_glyph_height = 0;
  ui->bitmap_scale = 0;
}

// The bitmap renderer for the active font, else a system font.  bbs selects
// the terminal's system-font fall-back, otherwise the menu's.
bool prepare_glyphs(UiContext* ui, int top_bar, bool bbs) {
  forget_glyphs(ui);
  int cw = 0, ch = 0, baseline = 0, glyph_h = 0, scale = 0, kind = 0;
  if (bitmap_renderer_prepare_terminal(top_bar, &cw, &ch, &baseline, &glyph_h, &scale, &kind)) {
    ui->bitmap_renderer = 1;
    ui->bitmap_text = 1;
    ui->bitmap_kind = kind;
    ui->cp437_font = kind == BITMAP_KIND_CP437 ? 1 : 0;
    ui->bitmap_glyph_height = glyph_h;
    ui->bitmap_scale = scale;
    ui->cell_w = cw;
    ui->cell_h = ch;
    ui->baseline = baseline;
    ui->font_height = ch;
    return true;
  }
  int cp437 = 0;
  PlatFont* font = bbs ? open_terminal_font(&cp437) : open_ui_font(&cp437);
  if (!font) return false;
  ui->font = font;
  ui->font_owned = 1;
  ui->cp437_font = cp437;
  if (bbs) {
    terminal_metrics_from_font(font, cp437, &ui->cell_w, &ui->cell_h, &ui->baseline);
  } else {
    ui_metrics_from_font(font, &ui->cell_w, &ui->cell_h, &ui->baseline);
  }
  ui->font_height = plat_font_height(font);
  return true;
}

void inner_size(const UiContext* ui, const WindowRequest* req, int* w, int* h) {
  if (req->bbs_font) {
    surface_terminal_inner_size(req->petscii, ui->medium_window, ui->cell_w, ui->cell_h, w, h);
    return;
  }
  *w = kUiCols * ui->cell_w;
  *h = kUiRows * ui->cell_h;
}

}  // namespace

void ui_invalidate_menu_caches() {
  g_ui_cache_valid = 0;
  g_ui_cache_view = 0;
  g_ui_cache_ansi = 0;
  g_entry_last_count = 0;
  g_entry_last_selected = -1;
  g_entry_last_offset = -1;
  g_transfer_last_selected = -1;
}

void ui_update_origin(UiContext* ui) {
  if (!ui || !ui->window) return;
  PlatWindowGeometry g = plat_window_geometry(ui->window);
  int grid_w = kUiCols * ui->cell_w;
  int grid_h = kUiRows * ui->cell_h;
  ui->top_bar_height = bar_height(ui);
  if (ui->fullscreen) {
    prepare_borderless_fullscreen_layout();
    int w = g.width > 0 ? g.width : kLayoutW;
    int h = g.height;
    int s = std::max(1, std::min(w / kLayoutW, h / kLayoutH));
    int x0 = std::max(0, (w - kLayoutW * s) / 2);
    int ox = (kLayoutW * g_fullscreen_scale - grid_w) / 2 + x0;
    int oy = (kLayoutH * g_fullscreen_scale - grid_h) / 2;
    // The content moves down by the bar's height when shown (the drawers add
    // it); keep it on the screen.
    int room = std::max(0, h - grid_h - ui->top_bar_height);
    ui->origin_x = std::max(0, ox);
    ui->origin_y = std::clamp(oy, 0, room);
    return;
  }
  int inner_w = g.width - g.border_left - g.border_right;
  int inner_h = g.height - g.border_top - g.border_bottom;
  ui->origin_x = std::max(g.border_left, g.border_left + (inner_w - grid_w) / 2);
  ui->origin_y = std::max(g.border_top, g.border_top + (inner_h - grid_h) / 2);
}

int ui_open(UiContext* ui, const WindowRequest* req) {
  if (!ui || !req) return -1;
  const char* title = req->title;
  surface_apply_request(req);
  display_install_term_hooks();
  int close_requested = ui->close_requested;
  *ui = UiContext{};
  ui->close_requested = close_requested;
  ui->fullscreen = g_fullscreen ? 1 : 0;
  ui->medium_window = g_medium_window ? 1 : 0;
  ui->window_owned = 1;
  ui->cell_w = 10;
  ui->cell_h = 20;
  ui->baseline = 16;
  ui->top_bar = ui->fullscreen && g_runtime_top_bar_enabled ? 1 : 0;
  if (ui->fullscreen) prepare_borderless_fullscreen_layout();

  bool bbs = req->bbs_font != 0;
  if (!prepare_glyphs(ui, ui->top_bar, bbs)) {
    *ui = UiContext{};
    ui->close_requested = close_requested;
    return -1;
  }

  PlatWindow* window = nullptr;
  PlatScreen* screen = nullptr;
  if (ui->fullscreen) {
    if (prepare_fixed_fullscreen_screen(ui->cell_w, ui->cell_h, ui->top_bar,
                                        bbs ? req->petscii : 0))
      window = surface_open_fullscreen_window(title, &screen);
    if (window) {
      ui->screen = screen;
      ui->screen_owned = 1;
    } else {
      ui->fullscreen = 0;
      ui->medium_window = 0;
      surface_fall_back_to_window();
      // The glyphs were chosen for full screen; a window takes its own scale.
      if (!prepare_glyphs(ui, 0, bbs)) {
        *ui = UiContext{};
        ui->close_requested = close_requested;
        return -1;
      }
    }
  }
  if (!window) {
    ui->top_bar = 0;
    int w = 0, h = 0;
    inner_size(ui, req, &w, &h);
    if (!bbs && req->inner_w >= w && req->inner_h >= h) {
      w = req->inner_w;
      h = req->inner_h;
    }
    window = surface_open_desktop_window(title, w, h, req);
  }
  if (!window) {
    forget_glyphs(ui);
    *ui = UiContext{};
    ui->close_requested = close_requested;
    return -1;
  }
  ui->window = window;
  ui->rport = window;
  if (ui->font) plat_set_font(window, ui->font);
  plat_set_drmd(window, PLAT_JAM2);
  if (ui->screen_owned) {
    setup_pens(ui, ui->screen, true);
  } else {
    setup_pens(ui, plat_window_screen(window), false);
  }
  ui_update_origin(ui);
  plat_set_apen(window, ui->pens[0]);
  plat_rect_fill(window, 0, 0, plat_window_inner_width(window) - 1,
                 plat_window_inner_height(window) - 1);
  return 0;
}

int ui_open_menu(UiContext* ui, const WindowRequest* req) {
  if (!req) return -1;
  WindowRequest menu = *req;
  menu.font = kFontCP437;
  menu.petscii = 0;
  menu.bbs_font = 0;
  return ui_open(ui, &menu);
}

int ui_open_menu(UiContext* ui, const char* title) {
  WindowRequest req = window_request(title);
  return ui_open_menu(ui, &req);
}

void ui_close(UiContext* ui) {
  if (!ui) return;
  release_pens(ui);
  if (ui->window && ui->window_owned) plat_close_window(ui->window);
  if (ui->screen && ui->screen_owned) plat_close_screen(ui->screen);
  forget_glyphs(ui);
  int close_requested = ui->close_requested;
  *ui = UiContext{};
  ui->close_requested = close_requested;
}

int ui_reopen_for_fullscreen(UiContext* ui, const char* title) {
  if (!ui) return -1;
  int previous = display_window_mode();
  ui_close(ui);
  display_set_window_mode((previous + 1) % 3);
  ui_invalidate_menu_caches();
  if (ui_open_menu(ui, title) == 0) return 0;
  display_set_window_mode(previous);
  ui_open_menu(ui, title);
  return -1;
}

void ui_send_to_back(UiContext* ui) {
  if (!ui || !ui->window) return;
  if (ui->fullscreen && ui->screen) {
    plat_screen_to_back(ui->screen);
  } else {
    plat_window_to_back(ui->window);
  }
}

int ui_use_menu_font(UiContext* ui) {
  if (!ui || !ui->window) return -1;
  set_active_font(kFontCP437);
  ui->top_bar = ui->fullscreen && g_runtime_top_bar_enabled ? 1 : 0;
  if (!prepare_glyphs(ui, ui->top_bar, false)) return -1;
  if (ui->font) plat_set_font(ui->window, ui->font);
  ui_update_origin(ui);
  return 0;
}

int ui_use_bbs_font(UiContext* ui, int top_bar, const WindowRequest* req) {
  if (!ui || !ui->window) return -1;
  if (req) surface_apply_request(req);
  ui->top_bar = top_bar ? 1 : 0;
  if (!prepare_glyphs(ui, ui->top_bar, true)) return -1;
  if (ui->font) plat_set_font(ui->window, ui->font);
  ui_update_origin(ui);
  return 0;
}

int term_attach_ui(Terminal* t, const UiContext* ui) {
  if (!t || !ui || !ui->window) return -1;
  display_install_term_hooks();
  static_cast<TermBinding&>(*t) = *ui;
  // Everything stays the display's: closing the terminal releases nothing.
  t->window_owned = 0;
  t->screen_owned = 0;
  t->font_owned = 0;
  t->pens_obtained = 0;
  for (int32_t& owned : t->pen_owned) owned = 0;
  t->cursor_drawn = 0;
  t->cursor_blink_visible = 0;
  t->cursor_last_blink_ms = 0;
  t->drawing_suppressed = 0;
  t->top_bar = ui->fullscreen ? ui->top_bar : 0;
  term_update_origin(t);
  return 0;
}
