// The scrollback viewer through injected mouse and key events in the
// headless window: collecting the text, scrolling, selections in both
// directions, the clipboard's FTXT bytes, the header, the scratch file and
// what a drag repaints.
#include "scrollback/viewer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "display/fonts.h"
#include "platform/clipboard.h"
#include "platform/clipboard_text.h"
#include "support/test_support.h"
#include "terminal/headless_terminal.h"
#include "util/ftxt.h"

namespace {

PlatEvent mouse(uint32_t cls, uint16_t code, int x, int y) {
  PlatEvent ev{cls, code, 0, static_cast<int16_t>(x), static_cast<int16_t>(y)};
  return ev;
}

class Viewer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(bitmap_font_load("cp437.f16", 16, 1), 1);
    ASSERT_TRUE(ht.open_bitmap(16, 1, true));
    t = ht.term();
    ring.lines = ring_lines.data();
    t->scrollback = &ring;
    term_clear_screen(t);
    scrollback_set_temp_dir(dir.path().c_str());
    plat_headless_set_clipboard_available(true);
    plat_clipboard_set_charset(CHARSET_CP437);
    plat_headless_clipboard_set_nontext();
  }
  void TearDown() override {
    if (open) scrollback_viewer_close(&v);
    scrollback_set_temp_dir(nullptr);
    plat_headless_clipboard_set_nontext();
  }
  void capture(int n, const char* fmt = "line %d") {
    for (int i = 0; i < n; i++) {
      char text[81];
      snprintf(text, sizeof text, fmt, i);
      scrollback_add_line(&ring, text);
    }
  }
  void screen_text(int row, const char* text) {
    for (int c = 0; text[c]; c++) t->cells[row][c].ch = static_cast<uint8_t>(text[c]);
  }
  void start() {
    ASSERT_EQ(scrollback_viewer_open(&v, t), 0);
    open = true;
  }
  // The pixel centre of a text position on screen.
  int x_of(int col) const { return 2 + col * 8 + 4; }
  int y_of(int line) const { return 1 + (line - v.top + 1) * 16 + 8; }
  int handle(const PlatEvent& ev) { return scrollback_viewer_handle(&v, ev); }
  void drag(int line0, int col0, int line1, int col1) {
    handle(mouse(PLAT_EV_MOUSEBUTTON, PLAT_SELECTDOWN, x_of(col0), y_of(line0)));
    handle(mouse(PLAT_EV_MOUSEMOVE, 0, x_of(col1), y_of(line1)));
    handle(mouse(PLAT_EV_MOUSEBUTTON, PLAT_SELECTUP, x_of(col1), y_of(line1)));
  }
  std::string clipboard() {
    std::string text;
    if (!clipboard_read_text(&text)) return "<none>";
    return text;
  }

  TempDir dir;
  HeadlessTerminal ht;
  Terminal* t = nullptr;
  std::vector<ScrollbackLine> ring_lines = std::vector<ScrollbackLine>(kScrollbackLines);
  ScrollbackRing ring{};
  ScrollbackViewer v;
  bool open = false;
};

TEST_F(Viewer, NineHundredNinetyCapturedLinesKeepTheNewestThousand) {
  capture(990);
  screen_text(0, "screen top");
  start();
  ASSERT_EQ(v.text.total, 1000);
  // The oldest 15 captured lines went; the 25 screen rows follow the rest.
  EXPECT_STREQ(v.text.lines[0], "line 15");
  EXPECT_STREQ(v.text.lines[974], "line 989");
  EXPECT_STREQ(v.text.lines[975], "screen top");
  for (int i = 976; i < 1000; i++) EXPECT_STREQ(v.text.lines[i], "") << i;
  // 400 pixels of 16: 23 rows less two.
  EXPECT_EQ(v.visible_rows, 23);
  EXPECT_EQ(v.top, 1000 - 23);
}

TEST_F(Viewer, ScrollingKeys) {
  capture(100);
  start();
  const int last = 125 - 23;
  struct Case {
    const char* name;
    uint16_t code;
    uint16_t qual;
    int from, to;
  };
  const Case cases[] = {
      {"up", RAWKEY_UP, 0, 50, 49},
      {"up at the top", RAWKEY_UP, 0, 0, 0},
      {"wheel up", RAWKEY_WHEEL_UP, 0, 50, 49},
      {"down", RAWKEY_DOWN, 0, 50, 51},
      {"down at the end", RAWKEY_DOWN, 0, last, last},
      {"wheel down", RAWKEY_WHEEL_DOWN, 0, 50, 51},
      {"page up", RAWKEY_PAGEUP, 0, 50, 27},
      {"page up near the top", RAWKEY_PAGEUP, 0, 10, 0},
      {"page down", RAWKEY_PAGEDOWN, 0, 10, 33},
      {"page down at the end keeps the last page", RAWKEY_PAGEDOWN, 0, last, last},
      {"page down near the end", RAWKEY_PAGEDOWN, 0, last - 5, last},
      {"home", RAWKEY_HOME, 0, 50, 0},
      {"end", RAWKEY_END, 0, 5, last},
      {"shift left", RAWKEY_LEFT, PLAT_QUAL_LSHIFT, 50, 0},
      {"shift right", RAWKEY_RIGHT, PLAT_QUAL_RSHIFT, 5, last},
      {"left alone does nothing", RAWKEY_LEFT, 0, 50, 50},
      {"a key release does nothing", RAWKEY_UP + 0x80, 0, 50, 50},
  };
  for (const Case& c : cases) {
    v.top = c.from;
    EXPECT_EQ(handle(PlatEvent{PLAT_EV_RAWKEY, c.code, c.qual, 0, 0}), 0) << c.name;
    EXPECT_EQ(v.top, c.to) << c.name;
  }
  EXPECT_EQ(handle(PlatEvent{PLAT_EV_RAWKEY, RAWKEY_ESCAPE, 0, 0, 0}), 1);
  EXPECT_EQ(handle(PlatEvent{PLAT_EV_VANILLAKEY, 27, 0, 0, 0}), 1);
  EXPECT_EQ(handle(PlatEvent{PLAT_EV_CLOSE, 0, 0, 0, 0}), 1);
}

TEST_F(Viewer, SelectionsAndTheClipboardText) {
  // Lines 5, 6, 7 of the text hold known characters.
  capture(5, "filler %d");
  scrollback_add_line(&ring, "abcdefghijklmnopqrstuvwxyz");
  scrollback_add_line(&ring, "The whole sixth line");
  scrollback_add_line(&ring, "0123456789");
  start();
  v.top = 0;
  struct Case {
    const char* name;
    int line0, col0, line1, col1;
    const char* copied;
    const char* message;
  };
  const Case cases[] = {
      {"a click copies the character under the mouse", 5, 2, 5, 2, "c", "Copied selection."},
      {"a click beyond the end of a line copies nothing", 7, 40, 7, 40, "<unchanged>",
       "Clipboard copy failed."},
      {"down over three lines", 5, 10, 7, 3, "klmnopqrstuvwxyz\nThe whole sixth line\n0123",
       "Copied selection."},
      {"upward from the later position to the anchor column", 7, 3, 5, 10,
       "lmnopqrstuvwxyz\nThe whole sixth line\n012", "Copied selection."},
      {"an empty line in the middle keeps its line feed", 7, 0, 9, 79, "0123456789\n\n",
       "Copied selection."},
  };
  for (const Case& c : cases) {
    std::string before = clipboard();
    drag(c.line0, c.col0, c.line1, c.col1);
    std::string expect = strcmp(c.copied, "<unchanged>") == 0 ? before : c.copied;
    EXPECT_EQ(clipboard(), expect) << c.name;
    EXPECT_STREQ(v.message, c.message) << c.name;
    // What was copied stays highlighted until the next click.
    int from = 0, to = 0;
    scrollback_selected_span(&v, std::min(c.line0, c.line1), &from, &to);
    EXPECT_EQ(to > from, strcmp(c.message, "Copied selection.") == 0) << c.name;
  }
}

TEST_F(Viewer, TheClipboardHoldsOneFtxtFormWithOneChrsChunk) {
  scrollback_add_line(&ring, "Hello");
  start();
  v.top = 0;
  drag(0, 0, 0, 4);  // five bytes: a pad byte follows
  PlatClipboard* unit = plat_clipboard_open(0);
  ASSERT_NE(unit, nullptr);
  std::vector<uint8_t> form(64);
  PlatClipRequest req;
  req.command = PLAT_CLIP_CMD_READ;
  req.data = form.data();
  req.length = static_cast<uint32_t>(form.size());
  ASSERT_EQ(plat_clipboard_do(unit, &req), PLAT_CLIP_OK);
  plat_clipboard_close(unit);
  form.resize(req.actual);
  const uint8_t expected[] = {'F', 'O', 'R', 'M', 0, 0, 0, 18,  'F', 'T', 'X', 'T', 'C',
                              'H', 'R', 'S', 0,   0, 0, 5, 'H', 'e', 'l', 'l', 'o', 0};
  EXPECT_EQ(form, std::vector<uint8_t>(expected, expected + sizeof expected));
  // And the desktop sees the text as UTF-8.
  std::string desktop;
  ASSERT_TRUE(plat_headless_clipboard_text(&desktop));
  EXPECT_EQ(desktop, "Hello");
}

TEST_F(Viewer, Cp437TextReachesTheDesktopAsTheCharactersShown) {
  scrollback_add_line(&ring, "\xc9\xcd\xbb \x82t\xe9 \xb0\xb1\xb2");
  start();
  v.top = 0;
  drag(0, 0, 0, 10);
  std::string desktop;
  ASSERT_TRUE(plat_headless_clipboard_text(&desktop));
  EXPECT_EQ(desktop, "╔═╗ étΘ ░▒▓");
}

TEST_F(Viewer, TheHeaderKeepsTheCopyMessageWhileScrolling) {
  capture(60);
  start();
  v.top = 20;
  EXPECT_EQ(v.message[0], '\0');
  drag(v.top + 1, 0, v.top + 1, 3);
  EXPECT_STREQ(v.message, "Copied selection.");
  handle(PlatEvent{PLAT_EV_RAWKEY, RAWKEY_UP, 0, 0, 0});
  EXPECT_STREQ(v.message, "Copied selection.");
  handle(mouse(PLAT_EV_MOUSEBUTTON, PLAT_SELECTDOWN, x_of(0), y_of(v.top)));
  EXPECT_STREQ(v.message, "Selecting...");
  // A scroll clears the active selection.
  handle(PlatEvent{PLAT_EV_RAWKEY, RAWKEY_DOWN, 0, 0, 0});
  EXPECT_FALSE(v.sel.active);
}

TEST_F(Viewer, MousePositions) {
  capture(3);
  start();
  v.top = 0;
  int line = -1, col = -1;
  EXPECT_EQ(scrollback_mouse_to_pos(&v, 10, 5, &line, &col), 0);  // the header band
  EXPECT_EQ(scrollback_mouse_to_pos(&v, 0, 17, &line, &col), 1);  // first text row
  EXPECT_EQ(line, 0);
  EXPECT_EQ(col, 0);
  EXPECT_EQ(scrollback_mouse_to_pos(&v, 639, 17 + 16 * 2, &line, &col), 1);
  EXPECT_EQ(line, 2);
  EXPECT_EQ(col, 79);
  EXPECT_EQ(scrollback_mouse_to_pos(&v, 10, 1 + 16 * 24, &line, &col), 0);  // below the rows
}

TEST_F(Viewer, TheScratchFileIsPrivateAndGoesOnClose) {
  scrollback_add_line(&ring, "secret line");
  // A symbolic link planted where a fixed name would have been is left alone.
  std::string planted = dir.file("kavel_scrollback.tmp");
  std::string victim = dir.file("victim");
  write_file_bytes(victim, "untouched");
  ASSERT_EQ(symlink(victim.c_str(), planted.c_str()), 0);
  start();
  ASSERT_FALSE(v.temp_path.empty());
  struct stat st;
  ASSERT_EQ(lstat(v.temp_path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::vector<unsigned char> bytes = read_file_bytes(v.temp_path);
  std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text.rfind("secret line\n", 0), 0u);
  // A second viewer (another copy of the program) gets its own file.
  ScrollbackViewer second;
  ASSERT_EQ(scrollback_viewer_open(&second, t), 0);
  EXPECT_NE(second.temp_path, v.temp_path);
  std::string second_path = second.temp_path;
  scrollback_viewer_close(&second);
  EXPECT_FALSE(std::filesystem::exists(second_path));
  EXPECT_TRUE(std::filesystem::exists(v.temp_path));
  std::string path = v.temp_path;
  scrollback_viewer_close(&v);
  open = false;
  EXPECT_FALSE(std::filesystem::exists(path));
  std::vector<unsigned char> victim_bytes = read_file_bytes(victim);
  EXPECT_EQ(std::string(victim_bytes.begin(), victim_bytes.end()), "untouched");
}

TEST_F(Viewer, ADragRepaintsOnlyTheRowsWhoseSelectionChanged) {
  capture(990, "%080d");
  start();
  v.top = 100;
  scrollback_window_draw(&v);
  int first = v.top;
  handle(mouse(PLAT_EV_MOUSEBUTTON, PLAT_SELECTDOWN, x_of(0), y_of(first)));
  long total_pixels = 0;
  int moves = 0;
  // Down the window one row at a time, then across the last row.
  for (int line = first; line < first + v.visible_rows; line++) {
    handle(mouse(PLAT_EV_MOUSEMOVE, 0, x_of(40), y_of(line)));
    total_pixels += v.last_delta_pixels;
    moves++;
    EXPECT_LE(v.last_delta_rows, 2) << line;
  }
  for (int col = 41; col < 80; col++) {
    handle(mouse(PLAT_EV_MOUSEMOVE, 0, x_of(col), y_of(first + v.visible_rows - 1)));
    EXPECT_EQ(v.last_delta_rows, 1);
    total_pixels += v.last_delta_pixels;
    moves++;
  }
  printf("drag over %d moves: %.0f pixels repainted per move (one row is %d)\n", moves,
         static_cast<double>(total_pixels) / moves, 640 * 16);
  // The same position twice repaints nothing.
  v.last_delta_rows = -1;
  handle(mouse(PLAT_EV_MOUSEMOVE, 0, x_of(79), y_of(first + v.visible_rows - 1)));
  EXPECT_EQ(v.last_delta_rows, -1);
}

TEST_F(Viewer, TheTerminalsFontComesBackOnClose) {
  // A CP437 terminal drawn at scale 2 (the medium window): the viewer uses
  // the 8x16 glyphs of the normal window and gives the scale-2 font back.
  ASSERT_EQ(bitmap_font_load("cp437.f16", 16, 2), 1);
  start();
  EXPECT_EQ(v.view->cell_w, 8);
  EXPECT_EQ(v.view->cell_h, 16);
  EXPECT_EQ(g_bitmap_font.scale, 1);
  scrollback_viewer_close(&v);
  open = false;
  EXPECT_EQ(g_bitmap_font.scale, 2);
  // A C64 terminal keeps its own glyphs and metrics in the viewer.
  ASSERT_EQ(bitmap_font_load("c64_upper.f8", 8, 2), 1);
  BitmapFont c64 = g_bitmap_font;
  t->bitmap_kind = BITMAP_KIND_C64;
  t->cell_w = 16;
  t->cell_h = 16;
  start();
  EXPECT_EQ(v.view->cell_w, 16);
  EXPECT_FALSE(v.font_changed);
  scrollback_viewer_close(&v);
  open = false;
  EXPECT_EQ(memcmp(&g_bitmap_font, &c64, sizeof c64), 0);
}

TEST_F(Viewer, PictureOfASelection) {
  scrollback_add_line(&ring, "Welcome to the Kavel test board");
  scrollback_add_line(&ring, "\xda\xc4\xc4\xc4\xbf box \xb0\xb1\xb2\xdb");
  screen_text(2, "Last screen row text");
  start();
  v.top = 0;
  handle(mouse(PLAT_EV_MOUSEBUTTON, PLAT_SELECTDOWN, x_of(11), y_of(0)));
  handle(mouse(PLAT_EV_MOUSEMOVE, 0, x_of(8), y_of(1)));
  std::string out = binary_path("scrollback_selection.png");
  ASSERT_EQ(plat_save_window_png(v.window, out.c_str()), 0);
  // Selected text is white on brown; the rest light grey on black.
  EXPECT_EQ(plat_read_pixel(v.window, x_of(20) - 4, y_of(0) + 7), t->pens[6]);
  EXPECT_EQ(plat_read_pixel(v.window, x_of(2) - 4, y_of(0) + 7), t->pens[0]);
  // Released: copied, and still shown; the next click starts afresh.
  handle(mouse(PLAT_EV_MOUSEBUTTON, PLAT_SELECTUP, x_of(8), y_of(1)));
  EXPECT_STREQ(v.message, "Copied selection.");
  EXPECT_EQ(plat_read_pixel(v.window, x_of(20) - 4, y_of(0) + 7), t->pens[6]);
  handle(mouse(PLAT_EV_MOUSEBUTTON, PLAT_SELECTDOWN, x_of(0), y_of(2)));
  EXPECT_EQ(plat_read_pixel(v.window, x_of(20) - 4, y_of(0) + 7), t->pens[0]);
}

}  // namespace
