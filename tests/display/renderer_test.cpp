// The cell renderer: pixel rules checked directly, and golden images of
// glyph runs, the cursor colours and the pictures built for a system font.
// (Golden images: tests/support/golden_image.h.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/png.h"
#include "support/golden_image.h"
#include "support/test_support.h"
#include "terminal/headless_terminal.h"

namespace {

// Test glyphs: row patterns chosen so every run shape appears.
void load_test_font(int height, int scale) {
  std::memset(g_bitmap_font.glyphs, 0, sizeof g_bitmap_font.glyphs);
  const uint8_t rows[8] = {0x81, 0xFF, 0x3C, 0x00, 0xAA, 0x18, 0xF0, 0x0F};
  for (int ch = 1; ch < 256; ch++)
    for (int r = 0; r < height; r++)
      g_bitmap_font.glyphs[ch * height + r] =
          static_cast<uint8_t>(rows[(r + ch) % 8] ^ (ch & 0x42));
  // Space and NUL carry ink too: it must never be drawn.
  for (int r = 0; r < height; r++) {
    g_bitmap_font.glyphs[0 * height + r] = 0xFF;
    g_bitmap_font.glyphs[32 * height + r] = 0xFF;
  }
  g_bitmap_font.height = height;
  g_bitmap_font.scale = scale;
  g_bitmap_font.valid = 1;
}

using golden::expect_golden;
using golden::rgb_at;

// A terminal drawing with the real 8x16 PC glyphs at scale 1.
bool open_cp437(HeadlessTerminal* h) {
  return bitmap_font_load("cp437.f16", 16, 1) && h->open_bitmap(16, 1, true);
}

void feed(Terminal* t, const std::string& bytes) {
  for (unsigned char c : bytes) term_consume_byte(t, c);
}

void put(Terminal* t, int row, int col, uint8_t ch, int fg, int bg) {
  t->cells[row][col] = Cell{ch, static_cast<uint8_t>(fg), static_cast<uint8_t>(bg), 0};
  draw_cell(t, row, col);
}

bool cell_is_plain(PlatWindow* w, const Terminal* t, int row, int col, uint32_t rgb) {
  int x0 = t->origin_x + col * t->cell_w;
  int y0 = cell_y(t, row);
  for (int y = y0; y < y0 + t->cell_h; y++)
    for (int x = x0; x < x0 + t->cell_w; x++)
      if (rgb_at(w, x, y) != rgb) return false;
  return true;
}

PlatFont* open_dejavu() {
  return plat_open_font("DejaVu Sans Mono.font", 16);
}

TEST(Renderer, SpaceAndNulCellsShowOnlyTheirBackground) {
  load_test_font(16, 1);
  HeadlessTerminal bitmap;
  ASSERT_TRUE(bitmap.open_bitmap(16, 1, true));
  PlatFont* font = open_dejavu();
  ASSERT_NE(font, nullptr);
  HeadlessTerminal system;
  ASSERT_TRUE(system.open_system_font(font, false));
  for (HeadlessTerminal* h : {&bitmap, &system}) {
    Terminal* t = h->term();
    put(t, 1, 1, ' ', 15, 4);
    put(t, 1, 2, 0, 15, 2);
    put(t, 1, 3, 'A', 15, 4);
    EXPECT_TRUE(cell_is_plain(h->window(), t, 1, 1, kTermPaletteRgb[4]));
    EXPECT_TRUE(cell_is_plain(h->window(), t, 1, 2, kTermPaletteRgb[2]));
    EXPECT_FALSE(cell_is_plain(h->window(), t, 1, 3, kTermPaletteRgb[4]));
  }
  bitmap.close();
  system.close();
  plat_close_font(font);
}

TEST(Renderer, BitmapRunsScaleToSquaresAndBars) {
  load_test_font(8, 2);
  // Glyph 200: row 0 = 0x81 (the two edge pixels), row 1 = 0xFF (all eight).
  g_bitmap_font.glyphs[200 * 8 + 0] = 0x81;
  g_bitmap_font.glyphs[200 * 8 + 1] = 0xFF;
  for (int r = 2; r < 8; r++) g_bitmap_font.glyphs[200 * 8 + r] = 0;
  HeadlessTerminal h;
  ASSERT_TRUE(h.open_bitmap(8, 2, true, 5));
  Terminal* t = h.term();
  put(t, 2, 3, 200, 14, 1);
  int x = t->origin_x + 3 * 16;
  int y = cell_y(t, 2);
  const uint32_t fg = kTermPaletteRgb[14], bg = kTermPaletteRgb[1];
  for (int dy = 0; dy < 16; dy++)
    for (int dx = 0; dx < 16; dx++) {
      bool ink = (dy < 2 && (dx < 2 || dx >= 14)) || (dy >= 2 && dy < 4);
      ASSERT_EQ(rgb_at(h.window(), x + dx, y + dy), ink ? fg : bg) << dx << "," << dy;
    }
  // Neighbouring cells untouched.
  EXPECT_EQ(rgb_at(h.window(), x - 1, y), kTermPaletteRgb[0]);
  EXPECT_EQ(rgb_at(h.window(), x + 16, y), kTermPaletteRgb[0]);
}

TEST(Renderer, GoldenGlyphRunsAtScaleTwo) {
  load_test_font(8, 2);
  HeadlessTerminal h;
  ASSERT_TRUE(h.open_bitmap(8, 2, true));
  Terminal* t = h.term();
  const struct {
    uint8_t ch;
    int fg, bg;
  } cells[] = {{'A', 14, 1}, {' ', 15, 4}, {0, 15, 2}, {'g', 15, 0}, {0xDB, 12, 8}, {0x07, 7, 5}};
  for (int i = 0; i < 6; i++) put(t, 0, i, cells[i].ch, cells[i].fg, cells[i].bg);
  expect_golden("renderer_bitmap_scale2", h.window(), 0, 0, 6 * 16, 16);
}

TEST(Renderer, CursorIsWhiteExceptOverAWhiteBackground) {
  load_test_font(16, 1);
  HeadlessTerminal h;
  ASSERT_TRUE(h.open_bitmap(16, 1, true));
  Terminal* t = h.term();
  t->cursor_enabled = 1;
  put(t, 0, 0, ' ', 7, 15);
  put(t, 0, 1, ' ', 7, 1);
  put(t, 0, 2, ' ', 0, 7);

  for (int col = 0; col < 3; col++) {
    t->row = 0;
    t->col = col;
    term_show_cursor(t);
    ASSERT_TRUE(t->cursor_drawn);
    int x = col * 8;
    uint32_t bar = t->cells[0][col].bg == 15 ? kTermPaletteRgb[0] : kTermPaletteRgb[15];
    uint32_t bg = kTermPaletteRgb[t->cells[0][col].bg];
    // A two-pixel bar at the bottom, one pixel in from each side.
    for (int dy = 0; dy < 16; dy++)
      for (int dx = 0; dx < 8; dx++) {
        bool in_bar = dy >= 14 && dx >= 1 && dx <= 6;
        ASSERT_EQ(rgb_at(h.window(), x + dx, dy), in_bar ? bar : bg)
            << col << ":" << dx << "," << dy;
      }
  }
  // Shown at the last cell; the first two are restored.
  EXPECT_TRUE(cell_is_plain(h.window(), t, 0, 0, kTermPaletteRgb[15]));
  EXPECT_TRUE(cell_is_plain(h.window(), t, 0, 1, kTermPaletteRgb[1]));
  term_hide_cursor(t);
  EXPECT_TRUE(cell_is_plain(h.window(), t, 0, 2, kTermPaletteRgb[7]));
}

TEST(Renderer, GoldenCursorOverWhiteAndOverColour) {
  load_test_font(8, 2);
  const struct {
    const char* name;
    int fg, bg;
  } cases[] = {{"renderer_cursor_on_white", 1, 15}, {"renderer_cursor_on_blue", 15, 1}};
  for (const auto& c : cases) {
    HeadlessTerminal h;
    ASSERT_TRUE(h.open_bitmap(8, 2, true));
    Terminal* t = h.term();
    t->cursor_enabled = 1;
    put(t, 0, 0, 'A', c.fg, c.bg);
    term_show_cursor(t);
    expect_golden(c.name, h.window(), 0, 0, 16, 16);
  }
}

TEST(Renderer, SystemFontBuildsBlocksShadesAndBoxes) {
  PlatFont* font = open_dejavu();
  ASSERT_NE(font, nullptr);
  HeadlessTerminal h;
  ASSERT_TRUE(h.open_system_font(font, false));
  Terminal* t = h.term();
  ASSERT_GT(t->cell_h, 13);  // three-pixel lines below
  const uint32_t fg = kTermPaletteRgb[14], bg = kTermPaletteRgb[1];
  int w = t->cell_w, ch = t->cell_h;

  put(t, 0, 0, 219, 14, 1);
  EXPECT_TRUE(cell_is_plain(h.window(), t, 0, 0, fg));

  // 196: a horizontal line three pixels thick through the centre.
  put(t, 0, 1, 196, 14, 1);
  int x = w, cy = ch / 2;
  for (int dy = 0; dy < ch; dy++) {
    bool line = dy >= cy - 1 && dy <= cy + 1;
    EXPECT_EQ(rgb_at(h.window(), x, dy), line ? fg : bg) << dy;
    EXPECT_EQ(rgb_at(h.window(), x + w - 1, dy), line ? fg : bg) << dy;
  }

  // 200 (double corner up-right): both arms one pixel wider.
  put(t, 0, 2, 200, 14, 1);
  x = 2 * w;
  int cx = x + w / 2;
  EXPECT_EQ(rgb_at(h.window(), x + w - 1, cy + 2), fg);  // right arm, widened
  EXPECT_EQ(rgb_at(h.window(), x + w - 1, cy + 3), bg);
  EXPECT_EQ(rgb_at(h.window(), cx + 2, 0), fg);  // up arm, widened
  EXPECT_EQ(rgb_at(h.window(), cx + 3, 0), bg);
  EXPECT_EQ(rgb_at(h.window(), x, cy), bg);       // no left arm
  EXPECT_EQ(rgb_at(h.window(), cx, ch - 1), bg);  // no down arm

  // 240 cannot be shown: one pixel at the centre.
  put(t, 0, 3, 240, 14, 1);
  x = 3 * w;
  int ink = 0;
  for (int dy = 0; dy < ch; dy++)
    for (int dx = 0; dx < w; dx++) ink += rgb_at(h.window(), x + dx, dy) == fg;
  EXPECT_EQ(ink, 1);
  EXPECT_EQ(rgb_at(h.window(), x + w / 2, ch / 2), fg);

  h.close();
  plat_close_font(font);
}

TEST(Renderer, GoldenSystemFontPicturesAndBoxArms) {
  PlatFont* font = open_dejavu();
  ASSERT_NE(font, nullptr);
  HeadlessTerminal h;
  ASSERT_TRUE(h.open_system_font(font, false));
  Terminal* t = h.term();
  // Row 0: every built character 176..223 in yellow on blue; row 1: text,
  // an unshowable character and the same pictures in two other colours.
  for (int i = 0; i < 48; i++) put(t, 0, i, static_cast<uint8_t>(176 + i), 14, 1);
  const char* text = "Ab1~";
  for (int i = 0; i < 4; i++) put(t, 1, i, static_cast<uint8_t>(text[i]), 15, 0);
  put(t, 1, 4, 240, 10, 0);
  put(t, 1, 5, 0x01, 10, 0);
  put(t, 1, 6, 178, 12, 15);
  put(t, 1, 7, 197, 0, 7);
  expect_golden("renderer_sysfont_pictures", h.window(), 0, 0, 48 * t->cell_w, 2 * t->cell_h);
  h.close();
  plat_close_font(font);
}

TEST(Renderer, PensAreObtainedInAWindowAndReleasedAtClose) {
  PlatScreen* desktop = plat_lock_desktop_screen();
  ASSERT_NE(desktop, nullptr);
  Terminal t;
  term_init_record(&t);
  term_setup_pens(&t, desktop, false);
  EXPECT_TRUE(t.pens_obtained);
  for (int i = 0; i < 16; i++) {
    EXPECT_TRUE(t.pen_owned[i]) << i;
    EXPECT_EQ(plat_pen_rgb(desktop, t.pens[i]), kTermPaletteRgb[i]) << i;
  }
  term_release_pens(&t, desktop);
  EXPECT_FALSE(t.pens_obtained);
  for (int i = 0; i < 16; i++) EXPECT_FALSE(t.pen_owned[i]);

  // On the program's own screen the registers are the palette.
  term_setup_pens(&t, desktop, true);
  for (int i = 0; i < 16; i++) {
    EXPECT_EQ(t.pens[i], i);
    EXPECT_FALSE(t.pen_owned[i]);
  }
  plat_unlock_screen(desktop);
}

// An iCE art piece of our own: blinking cells on the eight backgrounds in
// shaded blocks and text.  With iCE colours the blink makes the background
// bright; without, the text shows in one half of the blink and not in the
// other, on the dark backgrounds.
TEST(Renderer, GoldenIceColoursAndBlinkPhases) {
  std::string art = "\x1b[0m";
  for (int row = 0; row < 6; row++) {
    for (int bg = 0; bg < 8; bg++) {
      art += "\x1b[0;" + std::string(row % 2 ? "5;" : "") + "3" + std::to_string(7 - bg) + ";4" +
             std::to_string(bg) + "m";
      art += row < 2 ? "\xb0\xb1\xb2 iCE " : row < 4 ? " Kavel " : "\xdc\xdf\xdb\xdd\xde  ";
    }
    art += "\x1b[0m\r\n";
  }
  const struct {
    const char* name;
    bool ice;
    int blink_hidden;
  } cases[] = {{"renderer_ice_colours", true, 0},
               {"renderer_blink_shown", false, 0},
               {"renderer_blink_hidden", false, 1}};
  for (const auto& c : cases) {
    HeadlessTerminal h;
    ASSERT_TRUE(open_cp437(&h));
    Terminal* t = h.term();
    t->blink_hidden = c.blink_hidden;
    feed(t, (c.ice ? "\x1b[?33h" : "") + art);
    expect_golden(c.name, h.window(), 0, 0, 56 * 8, 6 * 16);
  }
}

// A screen of RGB colours: ramps of red, green and blue backgrounds, the
// greys of the 256-colour table, text in RGB and 256-colour foregrounds.
TEST(Renderer, GoldenTrueColourScreen) {
  HeadlessTerminal h;
  ASSERT_TRUE(open_cp437(&h));
  Terminal* t = h.term();
  std::string s;
  for (int channel = 0; channel < 3; channel++) {
    for (int step = 0; step < 16; step++) {
      int v = step * 17;
      int rgb[3] = {channel == 0 ? v : 0, channel == 1 ? v : 0, channel == 2 ? v : 0};
      s += "\x1b[48;2;" + std::to_string(rgb[0]) + ";" + std::to_string(rgb[1]) + ";" +
           std::to_string(rgb[2]) + "m     ";
    }
  }
  for (int n = 232; n < 256; n++) s += "\x1b[48;5;" + std::to_string(n) + "m   ";
  s += "\x1b[0m\r\n\x1b[1;255;160;0t24-bit colour \x1b[38;2;80;200;255;48;2;40;0;60m"
       "on RGB \x1b[38;5;196;48;5;22m256 colours\x1b[0;1;38;5;46m bold\x1b[0;5;38;5;201m blink"
       "\x1b[0m\r\n";
  // The rest of the screen: a plane of hues (across) and brightness (down),
  // shaded blocks in RGB on RGB, 80 columns a row (each row wraps to the
  // next).
  for (int row = 0; row < 20; row++) {
    for (int block = 0; block < 8; block++) {
      int v = 255 - (row / 2) * 24;
      int rgb[3] = {block & 4 ? v : v / 4, block & 2 ? v : v / 4, block & 1 ? v : v / 4};
      s += "\x1b[48;2;" + std::to_string(rgb[0]) + ";" + std::to_string(rgb[1]) + ";" +
           std::to_string(rgb[2]) + ";38;2;" + std::to_string(255 - rgb[0]) + ";" +
           std::to_string(255 - rgb[1]) + ";" + std::to_string(255 - rgb[2]) + "m";
      s += row % 2 ? "\xb0\xb1\xb2\xdb\xdb\xb2\xb1\xb0  " : "  RGB  \xfe  ";
    }
  }
  s.pop_back();  // the bottom-right cell stays empty: writing it would scroll
  feed(t, s);
  expect_golden("renderer_true_colour", h.window(), 0, 0, 80 * 8, 25 * 16);
}

// Fonts selected by number in the middle of a line: each run keeps its font.
TEST(Renderer, GoldenFontChangeMidLine) {
  HeadlessTerminal h;
  ASSERT_TRUE(open_cp437(&h));
  Terminal* t = h.term();
  feed(t,
       "PC font \x1b[0;42 DTopaz \x1b[0;40 DTopaz+ \x1b[0;32 DC64 UPPER \x1b[0;33 DC64 lower "
       "\x1b[0;0 Dand back: \xc9\xcd\xbb");
  for (int font = TERM_FONT_CP437; font < TERM_FONT_COUNT; font++)
    EXPECT_TRUE(term_font_drawable(t, font)) << font;
  expect_golden("renderer_font_change", h.window(), 0, 0, 80 * 8, 16);
  // A full redraw (a mode change, the palette) draws each run in its font.
  term_redraw_all(t);
  expect_golden("renderer_font_change", h.window(), 0, 0, 80 * 8, 16);
}

// A palette change recolours what is on screen at once; blinking text is
// drawn again when the blink turns, and nothing else is.
TEST(Renderer, PaletteChangesAndBlinkRedrawWhatTheyChange) {
  HeadlessTerminal h;
  ASSERT_TRUE(open_cp437(&h));
  Terminal* t = h.term();
  feed(t, "\x1b[44m \x1b[5;42m \x1b[0m");
  EXPECT_EQ(rgb_at(h.window(), 0, 0), kTermPaletteRgb[1]);
  feed(t, "\x1b]4;4;rgb:12/34/56\x1b\\");  // ANSI 4 is blue
  EXPECT_EQ(rgb_at(h.window(), 0, 0), 0x123456u);
  // The standard pens (status bar, dialogs) keep the standard palette.
  EXPECT_EQ(plat_pen_rgb(plat_window_screen(h.window()), t->pens[1]), kTermPaletteRgb[1]);
  feed(t, "\x1b]104\x07");
  EXPECT_EQ(rgb_at(h.window(), 0, 0), kTermPaletteRgb[1]);

  feed(t, "\x1b[1;2H\x1b[5;31;42mX");
  ASSERT_EQ(t->cells[0][1].ch, 'X');
  auto ink = [&]() {
    int n = 0;
    for (int y = 0; y < 16; y++)
      for (int x = 8; x < 16; x++) n += rgb_at(h.window(), x, y) == kTermPaletteRgb[4];
    return n;
  };
  clock_test_set_ms(1000);  // an even half-second: shown
  term_update_cursor_blink(t);
  int shown = ink();
  EXPECT_GT(shown, 0);
  plat_watch_rect(h.window(), 0, 0, 7, 15);  // the plain cell beside it
  clock_test_set_ms(1500);
  term_update_cursor_blink(t);
  EXPECT_EQ(ink(), 0);
  EXPECT_TRUE(plat_watch_intact(h.window()));
  clock_test_set_ms(2000);
  term_update_cursor_blink(t);
  EXPECT_EQ(ink(), shown);
  feed(t, "\x1b[?33h");  // iCE: no blinking, a bright background instead
  clock_test_set_ms(2500);
  term_update_cursor_blink(t);
  EXPECT_EQ(ink(), shown);
  EXPECT_EQ(rgb_at(h.window(), 8, 0), kTermPaletteRgb[10]);
  clock_test_reset();
}

// The pens of extended colours go back to the screen with the surface: a
// second terminal still gets an exact colour after a first one asked for
// more colours than the screen has registers.
TEST(Renderer, ExtendedColourPensAreReleasedWithTheSurface) {
  auto draw_colours = [](Terminal* t, int base) {
    std::string s;
    for (int i = 0; i < 300; i++) {
      int v = base + i * 20;
      s += "\x1b[48;2;" + std::to_string(v % 256) + ";" + std::to_string(v / 256 % 256) + ";" +
           std::to_string((v / 65536) * 60 % 256) + "m ";
    }
    feed(t, s);
  };
  for (int round = 0; round < 2; round++) {
    HeadlessTerminal h;
    ASSERT_TRUE(open_cp437(&h));
    Terminal* t = h.term();
    feed(t, "\x1b[48;2;3;250;129m ");
    EXPECT_EQ(rgb_at(h.window(), 0, 0), 0x03FA81u) << round;
    draw_colours(t, round * 7);
  }
}

}  // namespace
