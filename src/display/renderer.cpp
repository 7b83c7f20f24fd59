// Cell drawing, the text cursor, and the pens of the 16-colour palette.
//
// Glyphs come from the loaded bitmap font (scaled by an integer factor) or,
// without one, from a system font, with the CP437 block, shade and box
// characters built from rectangles when that font cannot show them.
#include "display/renderer.h"

#include "display/fonts.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "terminal/terminal.h"

const uint32_t kTermPaletteRgb[16] = {
    0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA, 0xAA5500, 0xAAAAAA,
    0x555555, 0x5555FF, 0x55FF55, 0x55FFFF, 0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF,
};

uint32_t term_palette_component32(uint8_t c) {
  switch (c) {
    case 0x00:
      return 0;
    case 0xFF:
      return 0xFFFFFFFFu;
    default:
      // 0xAA -> 0xAAAAAAA0: the byte repeated into the top 28 bits.
      return static_cast<uint32_t>(c) * 0x01010101u & 0xFFFFFFF0u;
  }
}

static int pen_of(const Terminal* t, int index) {
  return t->pens[(index >= 0 && index < 16) ? index : 7];
}

static void fill(Terminal* t, int index, int x1, int y1, int x2, int y2) {
  if (x2 < x1 || y2 < y1) return;
  plat_set_apen(t->rport, pen_of(t, index));
  plat_rect_fill(t->rport, x1, y1, x2, y2);
}

// ------------------------------------------------------------ bitmap glyphs --

// The glyph of term_draw_bitmap_glyph_abs, for a terminal with a drawing
// port and the bitmap renderer; inlined into draw_cell, which draws most of
// what a session shows.
[[gnu::always_inline]] static inline void draw_bitmap_glyph(Terminal* t, int x, int y, uint8_t ch,
                                                            int fg, int bg) {
  if (!g_bitmap_font.valid) return;
  int height = t->bitmap_glyph_height > 0 ? t->bitmap_glyph_height : g_bitmap_font.height;
  int scale = t->bitmap_scale > 0 ? t->bitmap_scale : g_bitmap_font.scale;
  if (height <= 0 || scale <= 0) return;
  // 256 glyphs of at most 16 rows: a larger height would read past the table.
  if (height > 16) return;

  int fg_pen = pen_of(t, fg);
  int bg_pen = pen_of(t, bg);
  bool exact_cell = t->cell_w == 8 * scale && t->cell_h == height * scale;
  bool blank = ch == 0 || ch == 32;
  if (!exact_cell) {
    plat_set_apen(t->rport, bg_pen);
    plat_rect_fill(t->rport, x, y, x + t->cell_w - 1, y + t->cell_h - 1);
    if (blank) return;
    bg_pen = -1;  // background already painted over the whole cell
  }
  // One call paints the background and every run of set bits of every row:
  // the same pixels as a fill per run, without a platform call per run.  A
  // blank cell that the glyph covers exactly is a glyph without set bits:
  // the same pixels as the background fill, on the glyph's fast path.
  static constexpr uint8_t kNoBits[16] = {};
  const uint8_t* rows = blank ? kNoBits : &g_bitmap_font.glyphs[ch * height];
  plat_draw_glyph(t->rport, x, y, rows, height, scale, fg_pen, bg_pen);
}

void term_draw_bitmap_glyph_abs(Terminal* t, int x, int y, uint8_t ch, int fg, int bg) {
  if (!t || !t->bitmap_renderer || !t->rport) return;
  draw_bitmap_glyph(t, x, y, ch, fg, bg);
}

void term_draw_bitmap_text(Terminal* t, int x, int y, const char* text, int len) {
  if (!t || !text) return;
  for (int i = 0; i < len; i++)
    term_draw_bitmap_glyph_abs(t, x + i * t->cell_w, y, static_cast<uint8_t>(text[i]), 0, 7);
}

// ------------------------------------------------------- system-font glyphs --

struct BoxArms {
  uint8_t left, right, up, down, wide_h, wide_v;
};

// Arms of the box-drawing characters 179..218.  The mixed single/double
// junctions and corners are approximated by a full cross.
static constexpr BoxArms kBoxArms[40] = {
    {0, 0, 1, 1, 0, 0},  // 179
    {1, 0, 1, 1, 0, 0},  // 180
    {1, 1, 1, 1, 0, 0},  // 181
    {1, 1, 1, 1, 0, 0},  // 182
    {1, 1, 1, 1, 0, 0},  // 183
    {1, 1, 1, 1, 0, 0},  // 184
    {1, 0, 1, 1, 0, 0},  // 185
    {0, 0, 1, 1, 0, 1},  // 186
    {1, 0, 0, 1, 1, 1},  // 187
    {1, 0, 1, 0, 1, 1},  // 188
    {1, 1, 1, 1, 0, 0},  // 189
    {1, 1, 1, 1, 0, 0},  // 190
    {1, 0, 0, 1, 0, 0},  // 191
    {0, 1, 1, 0, 0, 0},  // 192
    {1, 1, 1, 0, 0, 0},  // 193
    {1, 1, 0, 1, 0, 0},  // 194
    {0, 1, 1, 1, 0, 0},  // 195
    {1, 1, 0, 0, 0, 0},  // 196
    {1, 1, 1, 1, 0, 0},  // 197
    {1, 1, 1, 1, 0, 0},  // 198
    {1, 1, 1, 1, 0, 0},  // 199
    {0, 1, 1, 0, 1, 1},  // 200
    {0, 1, 0, 1, 1, 1},  // 201
    {1, 1, 1, 0, 0, 0},  // 202
    {1, 1, 0, 1, 0, 0},  // 203
    {0, 1, 1, 1, 0, 0},  // 204
    {1, 1, 0, 0, 1, 0},  // 205
    {1, 1, 1, 1, 0, 0},  // 206
    {1, 1, 1, 1, 0, 0},  // 207
    {1, 1, 1, 1, 0, 0},  // 208
    {1, 1, 1, 1, 0, 0},  // 209
    {1, 1, 1, 1, 0, 0},  // 210
    {1, 1, 1, 1, 0, 0},  // 211
    {1, 1, 1, 1, 0, 0},  // 212
    {1, 1, 1, 1, 0, 0},  // 213
    {1, 1, 1, 1, 0, 0},  // 214
    {1, 1, 1, 1, 0, 0},  // 215
    {1, 1, 1, 1, 0, 0},  // 216
    {1, 0, 1, 0, 0, 0},  // 217
    {0, 1, 0, 1, 0, 0},  // 218
};

// Block, shade and box characters 176..223 built from rectangles in fg.
static void draw_built_picture(Terminal* t, int x, int y, uint8_t ch, int fg) {
  int w = t->cell_w;
  int h = t->cell_h;
  int cx = x + w / 2;
  int cy = y + h / 2;
  int x_end = x + w - 1;
  int y_end = y + h - 1;
  switch (ch) {
    case 219:
      fill(t, fg, x, y, x_end, y_end);
      return;
    case 220:
      fill(t, fg, x, cy, x_end, y_end);
      return;
    case 223:
      fill(t, fg, x, y, x_end, cy);
      return;
    case 221:
      fill(t, fg, x, y, cx, y_end);
      return;
    case 222:
      fill(t, fg, cx, y, x_end, y_end);
      return;
    case 176:
      for (int py = y + 2; py <= y_end; py += 4)
        for (int px = x + 2; px <= x_end; px += 4) fill(t, fg, px, py, px, py);
      return;
    case 177:
      for (int px = x + 1; px <= x_end; px += 3) fill(t, fg, px, y, px, y_end);
      for (int py = y + 2; py <= y_end; py += 5) fill(t, fg, x, py, x_end, py);
      return;
    case 178:
      fill(t, fg, x, y, x_end, y_end);
      for (int py = y + 1; py <= y_end; py += 4)
        for (int px = x + 1; px <= x_end; px += 4) fill(t, 0, px, py, px, py);
      return;
    default:
      break;
  }
  if (ch < 179 || ch > 218) return;
  const BoxArms& a = kBoxArms[ch - 179];
  int half = (h > 13 ? 2 : 1) / 2;
  int wide_h = a.wide_h;
  int wide_v = a.wide_v;
  if (a.left) fill(t, fg, x, cy - half, cx, cy + half + wide_h);
  if (a.right) fill(t, fg, cx, cy - half, x_end, cy + half + wide_h);
  if (a.up) fill(t, fg, cx - half, y, cx + half + wide_v, cy);
  if (a.down) fill(t, fg, cx - half, cy, cx + half + wide_v, y_end);
}

static void draw_text_char(Terminal* t, int x, int y, uint8_t ch, int fg, int bg, bool jam1) {
  char c = static_cast<char>(ch);
  plat_set_font(t->rport, t->font);
  plat_set_apen(t->rport, pen_of(t, fg));
  plat_set_bpen(t->rport, pen_of(t, bg));
  plat_set_drmd(t->rport, jam1 ? PLAT_JAM1 : PLAT_JAM2);
  plat_move(t->rport, x, y + t->baseline);
  plat_text(t->rport, &c, 1);
  if (jam1) plat_set_drmd(t->rport, PLAT_JAM2);
}

static void draw_system_font_cell(Terminal* t, int x, int y, uint8_t ch, int fg, int bg) {
  fill(t, bg, x, y, x + t->cell_w - 1, y + t->cell_h - 1);
  if (ch == 0 || ch == 32) return;
  if (t->cp437_font && (ch >= 32 || term_is_displayable_control(ch))) {
    draw_text_char(t, x, y, ch, fg, bg, false);
  } else if (t->petscii == TERM_MODE_PETSCII && font_name_looks_c64(g_active_font)) {
    draw_text_char(t, x, y, ch, fg, bg, true);
  } else if (ch >= 176 && ch <= 223) {
    draw_built_picture(t, x, y, ch, fg);
  } else if (ch >= 32 && ch <= 126) {
    draw_text_char(t, x, y, ch, fg, bg, false);
  } else {
    // A character the font cannot show: one pixel marks the spot.
    int px = x + t->cell_w / 2;
    int py = y + t->cell_h / 2;
    fill(t, fg, px, py, px, py);
  }
}

// ---------------------------------------------------------------- draw_cell --

void draw_cell(Terminal* t, int row, int col) {
  if (!t || !t->window) return;
  if (row < 0 || row >= kTermRows || col < 0 || col >= kTermCols) return;
  bool cursor_here = t->cursor_drawn && t->cursor_drawn_row == row && t->cursor_drawn_col == col;
  // The cell is painted over the cursor (or would be, when drawing resumes).
  if (cursor_here) t->cursor_drawn = 0;
  if (t->drawing_suppressed || !t->rport) return;

  int x = t->origin_x + col * t->cell_w;
  int y = cell_y(t, row);
  const Cell& cell = t->cells[row][col];
  int fg = cell.fg & 15;
  int bg = cell.bg & 15;
  if (t->bitmap_renderer) {
    draw_bitmap_glyph(t, x, y, cell.ch, fg, bg);
    return;
  }
  draw_system_font_cell(t, x, y, cell.ch, fg, bg);
}

// ------------------------------------------------------------------- cursor --

static bool cursor_in_grid(const Terminal* t) {
  return t->row >= 0 && t->row < kTermRows && t->col >= 0 && t->col < kTermCols;
}

static bool cursor_can_show(const Terminal* t) {
  return !t->drawing_suppressed && t->cursor_enabled && !t->cursor_hidden && t->window &&
         t->rport && cursor_in_grid(t);
}

void term_show_cursor(Terminal* t) {
  if (!t || !cursor_can_show(t)) return;
  if (t->cursor_drawn && t->cursor_drawn_row == t->row && t->cursor_drawn_col == t->col) return;
  term_hide_cursor(t);

  int x = t->origin_x + t->col * t->cell_w;
  int y = cell_y(t, t->row);
  int colour = (t->cells[t->row][t->col].bg & 15) == 15 ? 0 : 15;
  int bottom = y + t->cell_h - 1;
  int x1 = x + 1;
  int x2 = x + t->cell_w - 2;
  auto bar = [&](int rows) {
    int top = bottom - rows + 1;
    if (top < y) top = y;
    fill(t, colour, x1, top, x2, bottom);
  };

  if (t->bitmap_renderer || font_name_looks_c64(g_active_font)) {
    bar(2);
  } else {
    char underscore = '_';
    plat_set_font(t->rport, t->font);
    plat_set_apen(t->rport, pen_of(t, colour));
    plat_set_drmd(t->rport, PLAT_JAM1);
    plat_move(t->rport, x, y + t->baseline);
    plat_text(t->rport, &underscore, 1);
    plat_set_drmd(t->rport, PLAT_JAM2);
    if (!font_name_looks_amiga_font(g_active_font)) bar(t->cell_h <= 9 ? 3 : 2);
  }

  t->cursor_drawn_row = t->row;
  t->cursor_drawn_col = t->col;
  t->cursor_blink_visible = 1;
  t->cursor_drawn = 1;
  t->cursor_last_blink_ms = clock_ms();
}

void term_hide_cursor(Terminal* t) {
  if (!t || !t->cursor_drawn) return;
  t->cursor_drawn = 0;
  if (t->drawing_suppressed) return;
  draw_cell(t, t->cursor_drawn_row, t->cursor_drawn_col);
}

void term_update_cursor_blink(Terminal* t) {
  if (!t || !cursor_can_show(t)) return;
  if (t->cursor_drawn && (t->cursor_drawn_row != t->row || t->cursor_drawn_col != t->col)) {
    term_show_cursor(t);
    return;
  }
  if (!t->cursor_drawn && t->cursor_blink_visible) {
    term_show_cursor(t);
    return;
  }
  uint32_t now = clock_ms();
  if (t->cursor_last_blink_ms != 0 && now - t->cursor_last_blink_ms < 500) return;
  if (t->cursor_drawn) {
    term_hide_cursor(t);
    t->cursor_blink_visible = 0;
    t->cursor_last_blink_ms = now;
  } else {
    term_show_cursor(t);
  }
}

// ------------------------------------------------------------ area and pens --

void term_clear_drawable_area_raw(Terminal* t) {
  if (!t || !t->window || !t->rport || t->drawing_suppressed) return;
  PlatWindowGeometry g = plat_window_geometry(t->window);
  fill(t, 0, g.border_left, g.border_top, g.width - g.border_right - 1,
       g.height - g.border_bottom - 1);
}

void term_setup_pens(Terminal* t, PlatScreen* screen, bool own_screen) {
  if (!t) return;
  for (int i = 0; i < 16; i++) {
    t->pens[i] = i;
    t->pen_owned[i] = 0;
  }
  if (own_screen) return;
  for (int i = 0; i < 16; i++) {
    uint32_t rgb = kTermPaletteRgb[i];
    int pen = plat_obtain_best_pen(screen, term_palette_component32((rgb >> 16) & 0xFF),
                                   term_palette_component32((rgb >> 8) & 0xFF),
                                   term_palette_component32(rgb & 0xFF));
    if (pen >= 0) {
      t->pens[i] = pen;
      t->pen_owned[i] = 1;
    }
  }
  t->pens_obtained = 1;
}

void term_release_pens(Terminal* t, PlatScreen* screen) {
  if (!t || !t->pens_obtained) return;
  for (int i = 0; i < 16; i++) {
    if (t->pen_owned[i] && screen) plat_release_pen(screen, t->pens[i]);
    t->pen_owned[i] = 0;
  }
  t->pens_obtained = 0;
}
