// Cell drawing, the text cursor, and the pens of the colours.
//
// Glyphs come from the loaded bitmap font (scaled by an integer factor) or,
// without one, from a system font, with the CP437 block, shade and box
// characters built from rectangles when that font cannot show them.
//
// A cell of plain text (no flag but bold) is drawn on the shortest path; a
// cell that blinks, names an extended colour or another font takes the
// longer one.  The pens of the host's palette and of the extended colours
// are obtained on the surface's screen as they are first needed, and
// released with the surface.
#include "display/renderer.h"

#include <cstring>

#include "display/fonts.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "terminal/terminal.h"

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

// The standard palette's pen (the cursor, the status bar, dialogs).
static int pen_of(const Terminal* t, int index) {
  return t->pens[(index >= 0 && index < 16) ? index : 7];
}

static void fill_pen(Terminal* t, int pen, int x1, int y1, int x2, int y2) {
  if (x2 < x1 || y2 < y1) return;
  plat_set_apen(t->rport, pen);
  plat_rect_fill(t->rport, x1, y1, x2, y2);
}

static void fill(Terminal* t, int index, int x1, int y1, int x2, int y2) {
  fill_pen(t, pen_of(t, index), x1, y1, x2, y2);
}

// ------------------------------------------------------------------- pens --

static uint32_t component32(uint32_t rgb, int shift) {
  return term_palette_component32(static_cast<uint8_t>((rgb >> shift) & 0xFF));
}

// A pen showing rgb on the surface's screen: a shared one (owned, released
// with the surface), or when the screen's registers are all taken the pen
// of the nearest of the sixteen colours (not owned).
static int obtain_pen(Terminal* t, uint32_t rgb, int32_t* owned) {
  PlatScreen* screen = plat_window_screen(t->window);
  int pen =
      plat_obtain_best_pen(screen, component32(rgb, 16), component32(rgb, 8), component32(rgb, 0));
  if (pen >= 0) {
    *owned = 1;
    t->pens_obtained = 1;
    return pen;
  }
  *owned = 0;
  int best = 0, best_distance = -1;
  for (int i = 0; i < kTermPalette; i++) {
    uint32_t c = kTermPaletteRgb[i];
    int dr = static_cast<int>((c >> 16) & 0xFF) - static_cast<int>((rgb >> 16) & 0xFF);
    int dg = static_cast<int>((c >> 8) & 0xFF) - static_cast<int>((rgb >> 8) & 0xFF);
    int db = static_cast<int>(c & 0xFF) - static_cast<int>(rgb & 0xFF);
    int d = dr * dr + dg * dg + db * db;
    if (best_distance < 0 || d < best_distance) {
      best = i;
      best_distance = d;
    }
  }
  return t->pens[best];
}

static void release_pen(Terminal* t, int pen) {
  PlatScreen* screen = plat_window_screen(t->window);
  if (screen) plat_release_pen(screen, pen);
}

// The pen of an extended slot, obtained again when the colour it shows has
// changed (a slot reused, an entry of the 256-colour table changed).
static int ext_pen(Terminal* t, int slot) {
  if (slot <= 0 || slot >= kTermExtColours) return t->cell_pens[7];
  uint32_t key = kColourRgb | term_ext_rgb(t, slot);
  if (t->ext_pen_rgb[slot] == key) return t->ext_pens[slot];
  if (t->ext_pen_owned[slot]) release_pen(t, t->ext_pens[slot]);
  t->ext_pens[slot] = obtain_pen(t, key & 0xFFFFFF, &t->ext_pen_owned[slot]);
  t->ext_pen_rgb[slot] = key;
  return t->ext_pens[slot];
}

int term_cell_fg_pen(Terminal* t, const Cell& c) {
  return (c.flags & CELL_FG_EXT) ? ext_pen(t, c.fg) : t->cell_pens[c.fg & 15];
}

int term_cell_bg_pen(Terminal* t, const Cell& c) {
  if (c.flags & CELL_BG_EXT) return ext_pen(t, c.bg);
  int bg = c.bg & 15;
  // iCE colours: blink is the bright half of the background.
  if ((c.flags & CELL_BLINK) && t->ice_colours && bg < 8) bg += 8;
  return t->cell_pens[bg];
}

void term_sync_cell_pens(Terminal* t) {
  if (!t || !t->window || t->cell_pens_serial == t->palette_serial) return;
  for (int i = 0; i < kTermPalette; i++) {
    if (t->cell_pen_owned[i]) release_pen(t, t->cell_pens[i]);
    t->cell_pen_owned[i] = 0;
    uint32_t entry = t->palette_override[i];
    t->cell_pens[i] = entry ? obtain_pen(t, entry & 0xFFFFFF, &t->cell_pen_owned[i]) : t->pens[i];
  }
  t->cell_pens_serial = t->palette_serial;
}

// ------------------------------------------------------------- other fonts --

namespace {

// A font of the Fonts drawer as the cells written in it draw it: its glyphs
// at the terminal's glyph height (from the file of that height, or the
// tallest file resampled row by row).
struct AltFont {
  int height = 0;
  bool ok = false;
  uint8_t glyphs[4096];
};
AltFont g_alt_fonts[TERM_FONT_COUNT];

struct FontFile {
  const char* name;
  int height;
};
constexpr FontFile kAltFontFiles[TERM_FONT_COUNT][3] = {
    {},
    {{"cp437.f8", 8}, {"cp437.f14", 14}, {"cp437.f16", 16}},
    {{"Topaz+1200/14", 14}, {"Topaz+1200/16", 16}, {}},
    {{"topaz_amiga.f14", 14}, {"topaz_amiga.f16", 16}, {}},
    {{"c64_upper.f8", 8}, {}, {}},
    {{"c64_lower.f8", 8}, {}, {}},
};

// The glyph rows of one file, read through the font loader (which loads
// into the program's one bitmap font: that is put back as it was).
bool read_glyphs(const FontFile& file, uint8_t out[4096]) {
  static BitmapFont saved;
  saved = g_bitmap_font;
  bool ok = bitmap_font_load(file.name, file.height, 1) != 0;
  if (ok) memcpy(out, g_bitmap_font.glyphs, sizeof g_bitmap_font.glyphs);
  g_bitmap_font = saved;
  return ok;
}

bool load_alt_font(int font, int height, uint8_t out[4096]) {
  const FontFile* exact = nullptr;
  const FontFile* tallest = nullptr;
  for (const FontFile& f : kAltFontFiles[font]) {
    if (!f.name) continue;
    if (f.height == height) exact = &f;
    if (!tallest || f.height > tallest->height) tallest = &f;
  }
  const FontFile* file = exact ? exact : tallest;
  static uint8_t source[4096];
  if (!file || !read_glyphs(*file, source)) return false;
  for (int ch = 0; ch < 256; ch++)
    for (int r = 0; r < height; r++)
      out[ch * height + r] = source[ch * file->height + r * file->height / height];
  return true;
}

}  // namespace

static const uint8_t* alt_font_glyphs(const Terminal* t, int font) {
  if (font <= 0 || font >= TERM_FONT_COUNT) return nullptr;
  int height = t->bitmap_glyph_height > 0 ? t->bitmap_glyph_height : g_bitmap_font.height;
  if (height <= 0 || height > 16) return nullptr;
  AltFont& f = g_alt_fonts[font];
  if (f.height != height) {
    f.height = height;
    f.ok = load_alt_font(font, height, f.glyphs);
  }
  return f.ok ? f.glyphs : nullptr;
}

bool term_font_drawable(Terminal* t, int font) {
  return t && t->bitmap_renderer && alt_font_glyphs(t, font) != nullptr;
}

// ------------------------------------------------------------ bitmap glyphs --

// The glyph of term_draw_bitmap_glyph_abs and of draw_cell, for a terminal
// with a drawing port and the bitmap renderer, from a table of 256 glyphs
// at the terminal's glyph height; inlined into draw_cell, which draws most
// of what a session shows.
[[gnu::always_inline]] static inline void draw_bitmap_glyph(Terminal* t, int x, int y, uint8_t ch,
                                                            int fg_pen, int bg_pen,
                                                            const uint8_t* glyphs) {
  if (!g_bitmap_font.valid) return;
  int height = t->bitmap_glyph_height > 0 ? t->bitmap_glyph_height : g_bitmap_font.height;
  int scale = t->bitmap_scale > 0 ? t->bitmap_scale : g_bitmap_font.scale;
  if (height <= 0 || scale <= 0) return;
  // 256 glyphs of at most 16 rows: a larger height would read past the table.
  if (height > 16) return;

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
  const uint8_t* rows = blank ? kNoBits : &glyphs[ch * height];
  plat_draw_glyph(t->rport, x, y, rows, height, scale, fg_pen, bg_pen);
}

void term_draw_bitmap_glyph_abs(Terminal* t, int x, int y, uint8_t ch, int fg, int bg) {
  if (!t || !t->bitmap_renderer || !t->rport) return;
  draw_bitmap_glyph(t, x, y, ch, pen_of(t, fg), pen_of(t, bg), g_bitmap_font.glyphs);
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

// Block, shade and box characters 176..223 built from rectangles in fg (a
// pen; the dark shade's holes in the pen of the cells' black).
static void draw_built_picture(Terminal* t, int x, int y, uint8_t ch, int fg) {
  auto fill = [t](int pen, int x1, int y1, int x2, int y2) { fill_pen(t, pen, x1, y1, x2, y2); };
  int w = t->cell_w;
  int h = t->cell_h;
  int cx = x + w / 2;
  int cy = y + h / 2;
  int x_end = x + w - 1;
  int y_end = y + h - 1;
  switch (ch) {
    case 219:
      fill(fg, x, y, x_end, y_end);
      return;
    case 220:
      fill(fg, x, cy, x_end, y_end);
      return;
    case 223:
      fill(fg, x, y, x_end, cy);
      return;
    case 221:
      fill(fg, x, y, cx, y_end);
      return;
    case 222:
      fill(fg, cx, y, x_end, y_end);
      return;
    case 176:
      for (int py = y + 2; py <= y_end; py += 4)
        for (int px = x + 2; px <= x_end; px += 4) fill(fg, px, py, px, py);
      return;
    case 177:
      for (int px = x + 1; px <= x_end; px += 3) fill(fg, px, y, px, y_end);
      for (int py = y + 2; py <= y_end; py += 5) fill(fg, x, py, x_end, py);
      return;
    case 178:
      fill(fg, x, y, x_end, y_end);
      for (int py = y + 1; py <= y_end; py += 4)
        for (int px = x + 1; px <= x_end; px += 4) fill(t->cell_pens[0], px, py, px, py);
      return;
    default:
      break;
  }
  if (ch < 179 || ch > 218) return;
  const BoxArms& a = kBoxArms[ch - 179];
  int half = (h > 13 ? 2 : 1) / 2;
  int wide_h = a.wide_h;
  int wide_v = a.wide_v;
  if (a.left) fill(fg, x, cy - half, cx, cy + half + wide_h);
  if (a.right) fill(fg, cx, cy - half, x_end, cy + half + wide_h);
  if (a.up) fill(fg, cx - half, y, cx + half + wide_v, cy);
  if (a.down) fill(fg, cx - half, cy, cx + half + wide_v, y_end);
}

// fg and bg are pens.
static void draw_text_char(Terminal* t, int x, int y, uint8_t ch, int fg, int bg, bool jam1) {
  char c = static_cast<char>(ch);
  plat_set_font(t->rport, t->font);
  plat_set_apen(t->rport, fg);
  plat_set_bpen(t->rport, bg);
  plat_set_drmd(t->rport, jam1 ? PLAT_JAM1 : PLAT_JAM2);
  plat_move(t->rport, x, y + t->baseline);
  plat_text(t->rport, &c, 1);
  if (jam1) plat_set_drmd(t->rport, PLAT_JAM2);
}

// fg and bg are pens.
static void draw_system_font_cell(Terminal* t, int x, int y, uint8_t ch, int fg, int bg) {
  fill_pen(t, bg, x, y, x + t->cell_w - 1, y + t->cell_h - 1);
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
    fill_pen(t, fg, px, py, px, py);
  }
}

// ---------------------------------------------------------------- draw_cell --

// A cell that blinks, names an extended colour or another font.  Blinking
// text is not shown in the blink's hidden half (with iCE colours it never
// blinks: its background is bright instead).
[[gnu::noinline]] static void draw_extended_cell(Terminal* t, int x, int y, const Cell& cell) {
  int fg_pen = term_cell_fg_pen(t, cell);
  int bg_pen = term_cell_bg_pen(t, cell);
  uint8_t ch = cell.ch;
  if ((cell.flags & CELL_BLINK) && !t->ice_colours && t->blink_hidden) ch = ' ';
  if (t->bitmap_renderer) {
    int font = (cell.flags & CELL_FONT_MASK) >> CELL_FONT_SHIFT;
    const uint8_t* glyphs = font ? alt_font_glyphs(t, font) : nullptr;
    draw_bitmap_glyph(t, x, y, ch, fg_pen, bg_pen, glyphs ? glyphs : g_bitmap_font.glyphs);
    return;
  }
  draw_system_font_cell(t, x, y, ch, fg_pen, bg_pen);
}

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
  if (cell.flags & ~CELL_BOLD) [[unlikely]] {
    draw_extended_cell(t, x, y, cell);
    return;
  }
  int fg_pen = t->cell_pens[cell.fg & 15];
  int bg_pen = t->cell_pens[cell.bg & 15];
  if (t->bitmap_renderer) {
    draw_bitmap_glyph(t, x, y, cell.ch, fg_pen, bg_pen, g_bitmap_font.glyphs);
    return;
  }
  draw_system_font_cell(t, x, y, cell.ch, fg_pen, bg_pen);
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
  const Cell& under = t->cells[t->row][t->col];
  bool white =
      (under.flags & CELL_BG_EXT) ? term_ext_rgb(t, under.bg) == 0xFFFFFF : (under.bg & 15) == 15;
  int colour = white ? 0 : 15;
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

// Blinking text shows and hides every 500 ms (a free-running phase of the
// clock); only the cells that blink are drawn again.
static void update_text_blink(Terminal* t) {
  if (!term_can_draw(t)) return;
  int hidden = t->ice_colours ? 0 : static_cast<int>((clock_ms() / 500) & 1);
  if (hidden == t->blink_hidden) return;
  t->blink_hidden = hidden;
  for (int r = 0; r < kTermRows; r++)
    for (int c = 0; c < kTermCols; c++)
      if (t->cells[r][c].flags & CELL_BLINK) draw_cell(t, r, c);
}

void term_update_cursor_blink(Terminal* t) {
  if (!t) return;
  update_text_blink(t);
  if (!cursor_can_show(t)) return;
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

// The cells draw in the standard palette until the host changes it.
static void reset_cell_pens(Terminal* t) {
  for (int i = 0; i < 16; i++) {
    t->cell_pens[i] = t->pens[i];
    t->cell_pen_owned[i] = 0;
  }
  t->cell_pens_serial = 0;
  for (int i = 0; i < kTermExtColours; i++) {
    t->ext_pens[i] = 0;
    t->ext_pen_rgb[i] = 0;
    t->ext_pen_owned[i] = 0;
  }
}

void term_setup_pens(Terminal* t, PlatScreen* screen, bool own_screen) {
  if (!t) return;
  for (int i = 0; i < 16; i++) {
    t->pens[i] = i;
    t->pen_owned[i] = 0;
  }
  if (own_screen) {
    reset_cell_pens(t);
    return;
  }
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
  reset_cell_pens(t);
}

void term_release_pens(Terminal* t, PlatScreen* screen) {
  if (!t || !t->pens_obtained) return;
  for (int i = 0; i < 16; i++) {
    if (t->pen_owned[i] && screen) plat_release_pen(screen, t->pens[i]);
    t->pen_owned[i] = 0;
    if (t->cell_pen_owned[i] && screen) plat_release_pen(screen, t->cell_pens[i]);
  }
  for (int i = 0; i < kTermExtColours; i++)
    if (t->ext_pen_owned[i] && screen) plat_release_pen(screen, t->ext_pens[i]);
  reset_cell_pens(t);
  t->pens_obtained = 0;
}
