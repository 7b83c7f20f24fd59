// The terminal bound to a headless window: what is drawn incrementally must
// equal a full redraw of the grid, suppressed drawing leaves the window
// alone, the cursor follows and blinks, the bell is rate-limited.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "terminal/headless_terminal.h"

namespace {

// A font whose every glyph is a distinct pseudo-random pattern, so any cell
// drawn in the wrong place, colour or glyph shows up in the pixels.
void load_noise_font(int height, int scale) {
  std::mt19937 rng(1234);
  for (auto& b : g_bitmap_font.glyphs) b = static_cast<uint8_t>(rng());
  g_bitmap_font.height = height;
  g_bitmap_font.scale = scale;
  g_bitmap_font.valid = 1;
}

std::vector<uint8_t> pixels(PlatWindow* w) {
  const uint8_t* p = plat_window_pixels(w);
  size_t n = static_cast<size_t>(plat_window_inner_width(w)) * plat_window_inner_height(w);
  return std::vector<uint8_t>(p, p + n);
}

void feed(Terminal* t, const std::string& s) {
  for (unsigned char c : s) term_consume_byte(t, c);
}

// A deterministic stream exercising every drawing path: text with colours
// and reverse video, wraps, scrolls, erases, cursor jumps, clear screens.
std::string busy_stream() {
  std::mt19937 rng(99);
  std::string s;
  for (int i = 0; i < 400; i++) {
    switch (rng() % 9) {
      case 0:
        s += "\x1b[" + std::to_string(rng() % 30) + ";" + std::to_string(rng() % 90) + "H";
        break;
      case 1:
        s += "\x1b[" + std::to_string(rng() % 2) + ";3" + std::to_string(rng() % 8) + ";4" +
             std::to_string(rng() % 8) + "m";
        break;
      case 2:
        s += "\x1b[" + std::to_string(rng() % 3) + "K";
        break;
      case 3:
        s += "\x1b[" + std::to_string(rng() % 2) + "J";
        break;
      case 4:
        s += "\r\n\n";
        break;
      case 5:
        s += rng() % 2 ? "\x1b[7m" : "\x1b[27m";
        break;
      case 6:
        if (rng() % 20 == 0) s += "\x1b[2J";
        break;
      default:
        for (int k = 0, n = rng() % 120; k < n; k++)
          s.push_back(static_cast<char>(32 + rng() % 224));
    }
  }
  return s;
}

// The editing functions and the scrolling region, mixed with coloured text,
// reverse video and cursor jumps: every block copy and fill they make must
// leave the pixels the grid describes.
std::string editing_stream() {
  std::mt19937 rng(4242);
  auto num = [&](int n) { return std::to_string(rng() % n); };
  std::string s;
  for (int i = 0; i < 600; i++) {
    switch (rng() % 12) {
      case 0:
        s += "\x1b[" + num(27) + ";" + num(82) + "H";
        break;
      case 1:
        s += "\x1b[" + num(2) + ";3" + num(8) + ";4" + num(8) + (rng() % 4 ? "m" : ";7m");
        break;
      case 2: {
        static const char kFinals[] = "@PXLMST";
        s += "\x1b[" + num(30) + kFinals[rng() % 7];
        break;
      }
      case 3:
        s += rng() % 3 ? "\x1b[" + num(26) + ";" + num(26) + "r" : "\x1b[r";
        break;
      case 4:
        s += rng() % 2 ? "\x1b"
                         "M"
                       : "\x1b"
                         "D";
        break;
      case 5:
        s += "\n\n\n";
        break;
      case 6:
        s += "x\x1b[" + num(200) + "b";
        break;
      case 7:
        s += rng() % 2 ? "\x1b[?7l" : "\x1b[?7h";
        break;
      default:
        for (int k = 0, n = rng() % 100; k < n; k++)
          s.push_back(static_cast<char>(32 + rng() % 224));
    }
  }
  return s;
}

// Pixels of the grid area that differ between the live window and one
// painted from the live grid alone.
size_t diff_from_full_redraw(HeadlessTerminal& live, HeadlessTerminal& fresh) {
  std::memcpy(fresh.term()->cells, live.term()->cells, sizeof live.term()->cells);
  term_redraw_all(fresh.term());
  // Only the grid: a clear screen also paints the margins in its colour.
  const Terminal* t = live.term();
  size_t diffs = 0;
  for (int y = t->origin_y; y < t->origin_y + kTermRows * t->cell_h; y++)
    for (int x = t->origin_x; x < t->origin_x + kTermCols * t->cell_w; x++)
      diffs += plat_read_pixel(live.window(), x, y) != plat_read_pixel(fresh.window(), x, y);
  return diffs;
}

TEST(TerminalWindow, IncrementalDrawingEqualsFullRedraw) {
  struct Geometry {
    int height, scale, margin;
  } cases[] = {{16, 1, 0}, {8, 2, 0}, {16, 1, 7}, {14, 2, 3}};
  const std::string streams[] = {busy_stream(), editing_stream()};
  for (const Geometry& g : cases) {
    for (const std::string& stream : streams) {
      SCOPED_TRACE("glyph height " + std::to_string(g.height) + " scale " +
                   std::to_string(g.scale) + " margin " + std::to_string(g.margin) +
                   (&stream == &streams[0] ? ", busy stream" : ", editing stream"));
      load_noise_font(g.height, g.scale);
      HeadlessTerminal live, fresh;
      ASSERT_TRUE(live.open_bitmap(g.height, g.scale, true, g.margin));
      ASSERT_TRUE(fresh.open_bitmap(g.height, g.scale, true, g.margin));
      // Compared along the way too: a late clear would hide an earlier fault.
      const size_t step = stream.size() / 16 + 1;
      for (size_t at = 0; at < stream.size(); at += step) {
        feed(live.term(), stream.substr(at, step));
        ASSERT_EQ(diff_from_full_redraw(live, fresh), 0u) << "after byte " << at + step;
      }
    }
  }
}

TEST(TerminalWindow, SuppressedDrawingUpdatesOnlyTheGrid) {
  load_noise_font(16, 1);
  HeadlessTerminal h;
  ASSERT_TRUE(h.open_bitmap(16, 1, true));
  Terminal* t = h.term();
  feed(t, "before\r\n");
  std::vector<uint8_t> shown = pixels(h.window());
  t->drawing_suppressed = 1;
  feed(t, "\x1b[41mhidden text\x1b[2J\x1b[5;5Hmore\x1b[K\n\n");
  for (int i = 0; i < 30; i++) feed(t, "scroll\r\n");
  EXPECT_EQ(pixels(h.window()), shown);
  EXPECT_EQ(t->cells[24][0].ch, ' ');
  EXPECT_EQ(t->cells[23][0].ch, 's');
  t->drawing_suppressed = 0;
  term_redraw_all(t);
  EXPECT_NE(pixels(h.window()), shown);
}

TEST(TerminalWindow, CursorFollowsMovesAndBlinks) {
  load_noise_font(16, 1);
  HeadlessTerminal h;
  ASSERT_TRUE(h.open_bitmap(16, 1, true));
  Terminal* t = h.term();
  clock_test_set_ms(10000);
  t->cursor_enabled = 1;
  std::vector<uint8_t> blank = pixels(h.window());

  term_update_cursor_blink(t);
  EXPECT_TRUE(t->cursor_drawn);
  std::vector<uint8_t> with_cursor = pixels(h.window());
  EXPECT_NE(with_cursor, blank);

  // A move shows the cursor at the new cell on the next pass, at once.
  clock_test_advance_ms(10);
  feed(t, "\x1b[3;7H");
  EXPECT_FALSE(t->cursor_drawn);
  EXPECT_EQ(pixels(h.window()), blank);
  term_update_cursor_blink(t);
  EXPECT_TRUE(t->cursor_drawn);
  EXPECT_EQ(t->cursor_drawn_row, 2);
  EXPECT_EQ(t->cursor_drawn_col, 6);

  // 500 ms on, 500 ms off.
  clock_test_advance_ms(499);
  term_update_cursor_blink(t);
  EXPECT_TRUE(t->cursor_drawn);
  clock_test_advance_ms(1);
  term_update_cursor_blink(t);
  EXPECT_FALSE(t->cursor_drawn);
  EXPECT_EQ(pixels(h.window()), blank);
  clock_test_advance_ms(499);
  term_update_cursor_blink(t);
  EXPECT_FALSE(t->cursor_drawn);
  clock_test_advance_ms(1);
  term_update_cursor_blink(t);
  EXPECT_TRUE(t->cursor_drawn);

  // The host hides the cursor: it goes at once and stays away until shown.
  feed(t, "\x1b[?25l");
  EXPECT_FALSE(t->cursor_drawn);
  EXPECT_EQ(pixels(h.window()), blank);
  clock_test_advance_ms(5000);
  term_update_cursor_blink(t);
  term_show_cursor(t);
  EXPECT_FALSE(t->cursor_drawn);
  feed(t, "\x1b[?25h");
  term_update_cursor_blink(t);
  EXPECT_TRUE(t->cursor_drawn);

  // Writing over the cursor cell removes it first; disabled, it never shows.
  feed(t, "x");
  EXPECT_FALSE(t->cursor_drawn);
  t->cursor_enabled = 0;
  clock_test_advance_ms(5000);
  term_update_cursor_blink(t);
  EXPECT_FALSE(t->cursor_drawn);
  clock_test_reset();
}

TEST(TerminalWindow, BellFlashesAtMostEvery120Ms) {
  load_noise_font(16, 1);
  HeadlessTerminal h;
  ASSERT_TRUE(h.open_bitmap(16, 1, true));
  Terminal* t = h.term();
  g_beep_sound_enabled = 1;
  clock_test_set_ms(0xFFFFFFF0u);  // the 32-bit wrap falls inside the test
  feed(t, "\a");
  EXPECT_EQ(plat_window_beep_count(h.window()), 1);
  clock_test_advance_ms(119);
  feed(t, "\a\a");
  EXPECT_EQ(plat_window_beep_count(h.window()), 1);
  clock_test_advance_ms(1);
  feed(t, "\a");
  EXPECT_EQ(plat_window_beep_count(h.window()), 2);
  g_beep_sound_enabled = 0;
  clock_test_advance_ms(1000);
  feed(t, "\a");
  EXPECT_EQ(plat_window_beep_count(h.window()), 2);
  g_beep_sound_enabled = 1;
  clock_test_reset();
}

TEST(TerminalWindow, PetsciiFortyColumnsKeepHiddenColumnsBlankAndGuttersBlack) {
  set_active_font(kFontC64UpGfx40);
  ASSERT_EQ(c64_visible_cols_for_font(), 40);
  load_noise_font(8, 2);
  HeadlessTerminal h;
  Terminal* t = h.term();
  t->petscii = TERM_MODE_PETSCII;
  ASSERT_TRUE(h.open_bitmap(8, 2, false, 16));
  t->bg = 6;
  t->reverse = 1;
  t->bold = 1;
  t->fg = 1;
  term_clear_screen(t);
  // PETSCII blanks ignore reverse video.
  EXPECT_EQ(t->cells[0][0].fg, 9);
  EXPECT_EQ(t->cells[0][0].bg, 6);
  for (int c = 0; c < kTermCols; c++) {
    t->cells[0][c] = Cell{'#', 3, 5, 0};
    t->cells[24][c] = Cell{'#', 3, 5, 0};
  }
  term_scroll_up(t);
  for (int r : {0, 23, 24}) {
    for (int c = 40; c < kTermCols; c++) {
      const Cell& cell = t->cells[r][c];
      ASSERT_TRUE(cell.ch == ' ' && cell.fg == 7 && cell.bg == 0 && cell.flags == 0)
          << "row " << r << " col " << c;
    }
  }
  EXPECT_EQ(t->cells[23][0].ch, '#');
  EXPECT_EQ(t->cells[24][0].fg, 9);
  EXPECT_EQ(t->cells[24][0].bg, 6);

  // The strips beside the 40 visible columns are palette black.
  int right = t->origin_x + 40 * t->cell_w;
  for (int y = cell_y(t, 0); y < cell_y(t, 25); y += 7) {
    EXPECT_EQ(plat_read_pixel(h.window(), 0, y), t->pens[0]);
    EXPECT_EQ(plat_read_pixel(h.window(), t->origin_x - 1, y), t->pens[0]);
    EXPECT_EQ(plat_read_pixel(h.window(), right, y), t->pens[0]);
    EXPECT_EQ(plat_read_pixel(h.window(), plat_window_inner_width(h.window()) - 1, y), t->pens[0]);
  }
  set_active_font(kFontCP437);
}

TEST(ScrollbackRing, OverwritesTheOldestLineWhenFull) {
  std::vector<ScrollbackLine> lines(kScrollbackLines);
  ScrollbackRing ring{lines.data(), 0, 0};
  for (int i = 0; i < kScrollbackLines; i++)
    scrollback_add_line(&ring, ("line " + std::to_string(i)).c_str());
  EXPECT_EQ(ring.count, 1000);
  EXPECT_EQ(ring.start, 0);
  scrollback_add_line(&ring, "newest");
  scrollback_add_line(&ring, "newer still");
  EXPECT_EQ(ring.count, 1000);
  EXPECT_EQ(ring.start, 2);
  EXPECT_STREQ(lines[ring.start], "line 2");
  EXPECT_STREQ(lines[(ring.start + 998) % 1000], "newest");
  EXPECT_STREQ(lines[(ring.start + 999) % 1000], "newer still");

  // Long text is cut at 80 characters; nothing happens without storage.
  scrollback_add_line(&ring, std::string(120, 'w').c_str());
  EXPECT_EQ(std::strlen(lines[(ring.start + 999) % 1000]), 80u);
  ScrollbackRing empty{nullptr, 0, 0};
  scrollback_add_line(&empty, "x");
  scrollback_add_line(nullptr, "x");
  EXPECT_EQ(empty.count, 0);
}

TEST(ScrollbackRing, RowTextReadsNulAsSpaceAndDropsTrailingBlanks) {
  Cell row[kTermCols] = {};
  char out[kScrollbackLineBytes];
  cell_row_to_text(row, out);
  EXPECT_STREQ(out, "");
  row[2].ch = 'a';
  row[5].ch = 'b';
  row[6].ch = ' ';
  cell_row_to_text(row, out);
  EXPECT_STREQ(out, "  a  b");
  row[79].ch = 'z';
  cell_row_to_text(row, out);
  EXPECT_EQ(std::strlen(out), 80u);
  EXPECT_EQ(out[79], 'z');
}

}  // namespace
