#include "display/term_hooks.h"

#include "display/fonts.h"
#include "display/renderer.h"
#include "display/statusbar.h"
#include "platform/display.h"
#include "terminal/hooks.h"
#include "terminal/terminal.h"

namespace {

constexpr const char* kCharsetFile[2] = {"c64_upper.f8", "c64_lower.f8"};

void fill(Terminal* t, int x1, int y1, int x2, int y2, int colour) {
  plat_set_apen(t->rport, t->pens[colour]);
  plat_rect_fill(t->rport, x1, y1, x2, y2);
}

void scroll_up(Terminal* t, int cols) {
  int top = cell_y(t, 0);
  plat_clip_blit(t->rport, t->origin_x, top + t->cell_h, t->origin_x, top, cols * t->cell_w,
                 (kTermRows - 1) * t->cell_h);
}

void move_cells(Terminal* t, int src_row, int src_col, int dst_row, int dst_col, int rows,
                int cols) {
  plat_clip_blit(t->rport, t->origin_x + src_col * t->cell_w, cell_y(t, src_row),
                 t->origin_x + dst_col * t->cell_w, cell_y(t, dst_row), cols * t->cell_w,
                 rows * t->cell_h);
}

void fill_blank(Terminal* t, int x1, int y1, int x2, int y2, const Cell* blank) {
  plat_set_apen(t->rport, term_cell_bg_pen(t, *blank));
  plat_rect_fill(t->rport, x1, y1, x2, y2);
}

void flash(Terminal* t) {
  plat_display_beep(t->window);
}

// The glyphs live in the one bitmap font, which a window drawn over a covered
// terminal (drawing suppressed: the in-session phonebook) draws with: a
// terminal that does not draw loads none, and whoever lets it draw again
// loads the set then in force.
int load_charset(Terminal* t) {
  if (t->drawing_suppressed) return -1;
  if (!t->bitmap_renderer || t->bitmap_kind != BITMAP_KIND_C64) return -1;
  int scale = t->bitmap_scale > 0 ? t->bitmap_scale : g_bitmap_font.scale;
  if (!bitmap_font_load(kCharsetFile[t->petscii_lower ? 1 : 0], 8, scale)) return 0;
  t->bitmap_glyph_height = g_bitmap_font.height;
  t->bitmap_scale = g_bitmap_font.scale;
  return 1;
}

}  // namespace

void display_install_term_hooks() {
  g_term_hooks.draw_cell = draw_cell;
  g_term_hooks.fill = fill;
  g_term_hooks.scroll_up = scroll_up;
  g_term_hooks.move_cells = move_cells;
  g_term_hooks.hide_cursor = term_hide_cursor;
  g_term_hooks.show_cursor = term_show_cursor;
  g_term_hooks.draw_status = term_draw_session_status;
  g_term_hooks.flash = flash;
  g_term_hooks.load_charset = load_charset;
  g_term_hooks.fill_blank = fill_blank;
  g_term_hooks.sync_palette = term_sync_cell_pens;
  g_term_hooks.font_available = term_font_drawable;
}
