// The session's window-mode changes: the Alt-Enter cycle, the top bar and the
// 40-column C64 scale.  A mode change closes the terminal's surface and opens
// a new one; the grid, cursor and interpreter state are carried across.
#include <algorithm>
#include <cstring>
#include <memory>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/renderer.h"
#include "display/statusbar.h"
#include "display/surface.h"
#include "display/ui_surface.h"
#include "session/input.h"
#include "session/session.h"
#include "session/session_transfer.h"
#include "terminal/petscii.h"
#include "terminal/terminal.h"

namespace {

// The terminal's window in a mode, with the 40-column C64 scale that goes
// with it.
WindowRequest mode_request(const Session* s, const char* title, int mode) {
  WindowRequest req = window_request(title);
  req.mode = mode;
  req.petscii = s->petscii;
  req.c64_scale = display_c64_scale_for_mode(mode, s->petscii, g_active_font);
  req.bbs_font = 1;
  return req;
}

}  // namespace

int session_apply_window_mode(Session* s, UiContext* ui, const char* title, int mode) {
  Terminal* t = s->terminal;
  if (!t) return -1;
  if (mode == 3) mode = DISPLAY_MODE_WINDOW;
  auto saved = std::make_unique<Terminal>(*t);
  int previous = display_window_mode();
  int saved_scale = g_c64_40_dynamic_scale;

  // A session called from the menu draws in the menu's display, which owns
  // the window: the display is reopened in the new mode and lent again.
  bool borrowed = ui && ui->window && t->window == ui->window;
  auto reopen = [&](int m) {
    WindowRequest req = mode_request(s, title, m);
    if (!borrowed) return term_open(t, &req);
    if (ui_open(ui, &req) != 0) return -1;
    return term_attach_ui(t, ui);
  };
  term_close(t);
  if (borrowed) ui_close(ui);
  if (reopen(mode) != 0) {
    if (reopen(previous) != 0) {
      display_set_window_mode(previous);
      g_c64_40_dynamic_scale = saved_scale;
      return -1;
    }
  }
  // The grid, cursor, attributes and interpreter state as they were, on the
  // new surface.
  TermBinding bound = *t;
  *t = *saved;
  static_cast<TermBinding&>(*t) = bound;
  // The new surface loaded the glyphs its font name names; the BBS may have
  // switched to the other character set since.
  if (t->petscii == TERM_MODE_PETSCII) petscii_load_charset_glyphs(t);
  t->top_bar = t->fullscreen ? g_runtime_top_bar_enabled : 0;
  term_update_origin(t);
  term_clear_drawable_area_raw(t);
  term_redraw_all(t);
  t->cursor_enabled = 1;  // the new surface shows the session's cursor too
  session_transfer_redraw_status(s);
  term_show_cursor(t);
  term_draw_session_status(t);
  return 0;
}

int session_toggle_fullscreen(Session* s, UiContext* ui, const char* title) {
  int next = (display_window_mode() + 1) % 3;
  int r = session_apply_window_mode(s, ui, title, next);
  // A medium window that does not fit the desktop falls back to the normal
  // window; the cycle then goes on to full screen rather than stopping there.
  if (r == 0 && next == DISPLAY_MODE_MEDIUM && display_window_mode() == DISPLAY_MODE_WINDOW)
    r = session_apply_window_mode(s, ui, title, DISPLAY_MODE_FULLSCREEN);
  return r;
}

void session_toggle_top_bar(Session* s) {
  Terminal* t = s->terminal;
  if (!t || !t->window || !t->rport || !t->fullscreen) return;
  term_hide_cursor(t);
  term_clear_drawable_area_raw(t);
  t->top_bar = t->top_bar ? 0 : 1;
  g_runtime_top_bar_enabled = t->top_bar;
  term_update_origin(t);
  term_clear_drawable_area_raw(t);
  if (!t->drawing_suppressed) term_redraw_all(t);
  session_transfer_redraw_status(s);
  term_show_cursor(t);
}

void session_toggle_c64_40_scale(Session* s) {
  Terminal* t = s->terminal;
  if (!t || !t->petscii || !t->fullscreen || !font_name_looks_c64(g_active_font) ||
      c64_font_uses_80_columns(g_active_font))
    return;
  // A terminal that fell back to a system font has no glyph scale to change.
  if (!t->bitmap_renderer || t->bitmap_kind != BITMAP_KIND_C64) return;
  int base = std::max(1, g_fullscreen_scale);
  int current = t->bitmap_scale > 0 ? t->bitmap_scale : std::max(1, g_bitmap_font.scale);
  int factor = current / base < 2 ? 2 : 1;
  int bar = t->top_bar ? term_session_status_cell_h(t) : 0;
  if (g_screen_w < 320 * base * factor || g_screen_h < 200 * base * factor + bar) return;

  int saved_factor = g_c64_40_dynamic_scale;
  g_c64_40_dynamic_scale = factor;
  int cw, ch, baseline, glyph_h, scale, kind;
  if (!bitmap_renderer_prepare_terminal(t->top_bar, &cw, &ch, &baseline, &glyph_h, &scale, &kind)) {
    // Preparing starts from an empty font: load the old scale back, and the
    // character set the BBS chose with it.
    g_c64_40_dynamic_scale = saved_factor;
    bitmap_renderer_prepare_terminal(t->top_bar, &cw, &ch, &baseline, &glyph_h, &scale, &kind);
    petscii_load_charset_glyphs(t);
    return;
  }
  term_hide_cursor(t);
  t->cell_w = cw;
  t->cell_h = ch;
  t->baseline = baseline;
  t->bitmap_glyph_height = glyph_h;
  t->bitmap_scale = scale;
  petscii_load_charset_glyphs(t);
  term_update_origin(t);
  term_clear_drawable_area_raw(t);
  term_redraw_all(t);
  session_transfer_redraw_status(s);
  term_show_cursor(t);
}
