// The session's window-mode changes: the Alt-Enter cycle, the top bar and the
// 40-column C64 scale.  A mode change closes the terminal's surface and opens
// a new one; the grid, cursor and interpreter state are carried across.
#include <algorithm>
#include <cstring>
#include <memory>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/renderer.h"
#include "session/display_calls.h"
#include "session/input.h"
#include "session/session.h"
#include "terminal/petscii.h"
#include "terminal/terminal.h"

namespace {

int current_mode() {
  return g_fullscreen ? 2 : g_medium_window ? 1 : 0;
}

void set_mode_globals(Session* s, int mode) {
  if (s->petscii && font_name_looks_c64(g_active_font) && !c64_font_uses_80_columns(g_active_font))
    g_c64_40_dynamic_scale = mode == 1 ? 3 : 2;
  g_fullscreen = mode == 2 ? 1 : 0;
  g_medium_window = mode == 1 ? 1 : 0;
  g_custom_screen = 0;
  g_opening_petscii_terminal = s->petscii;
}

// Everything of the terminal that is not its binding to a surface.
void restore_state(Terminal* t, const Terminal& saved) {
  t->col = saved.col;
  t->row = saved.row;
  t->saved_col = saved.saved_col;
  t->saved_row = saved.saved_row;
  t->fg = saved.fg;
  t->bg = saved.bg;
  t->bold = saved.bold;
  t->reverse = saved.reverse;
  t->petscii = saved.petscii;
  t->petscii_lower = saved.petscii_lower;
  t->petscii_after_cr = saved.petscii_after_cr;
  t->ansi_state = saved.ansi_state;
  t->dec_line_drawing = saved.dec_line_drawing;
  memcpy(t->seq_buf, saved.seq_buf, sizeof t->seq_buf);
  t->seq_len = saved.seq_len;
  t->cursor_enabled = saved.cursor_enabled;
  t->last_bell_ms = saved.last_bell_ms;
  t->bell_rung = saved.bell_rung;
  memcpy(t->status_text, saved.status_text, sizeof t->status_text);
  t->connect_start = saved.connect_start;
  memcpy(t->cells, saved.cells, sizeof t->cells);
}

}  // namespace

int session_apply_window_mode(Session* s, UiContext* ui, const char* title, int mode) {
  (void)ui;  // the menu's window takes this path once the menu exists
  Terminal* t = s->terminal;
  if (!t) return -1;
  if (mode == 3) mode = 0;
  auto saved = std::make_unique<Terminal>(*t);
  int saved_fullscreen = g_fullscreen, saved_medium = g_medium_window,
      saved_custom = g_custom_screen, saved_scale = g_c64_40_dynamic_scale;
  int previous = current_mode();

  set_mode_globals(s, mode);
  term_close(t);
  if (term_open(t, title) != 0) {
    set_mode_globals(s, previous);
    if (term_open(t, title) != 0) {
      g_fullscreen = saved_fullscreen;
      g_medium_window = saved_medium;
      g_custom_screen = saved_custom;
      g_c64_40_dynamic_scale = saved_scale;
      return -1;
    }
  }
  restore_state(t, *saved);
  // The new surface loaded the glyphs its font name names; the BBS may have
  // switched to the other character set since.
  if (t->petscii == TERM_MODE_PETSCII) petscii_load_charset_glyphs(t);
  t->cursor_drawn = 0;
  t->cursor_blink_visible = 0;
  t->cursor_last_blink_ms = 0;
  t->top_bar = t->fullscreen ? g_runtime_top_bar_enabled : 0;
  term_update_origin(t);
  term_clear_drawable_area_raw(t);
  term_redraw_all(t);
  t->reply_socket = s->sock;
  t->scrollback = s->scrollback.lines ? &s->scrollback : nullptr;
  term_show_cursor(t);
  term_draw_session_status(t);
  return 0;
}

int session_toggle_fullscreen(Session* s, UiContext* ui, const char* title) {
  int next = (current_mode() + 1) % 3;
  return session_apply_window_mode(s, ui, title, next);
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
  term_show_cursor(t);
}
