// The terminal's contract with the layers above it, watched through a
// recording fake: which hooks each operation calls, in which order, with the
// grid already changed when a cell is drawn, and nothing asked while the
// terminal cannot draw.
#include "terminal/hooks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/display.h"
#include "terminal/active_font.h"
#include "terminal/petscii.h"
#include "terminal/terminal.h"

namespace {

std::vector<std::string> g_calls;

void log_call(const char* fmt, int a = 0, int b = 0, int c = 0, int d = 0, int e = 0) {
  char buf[96];
  snprintf(buf, sizeof buf, fmt, a, b, c, d, e);
  g_calls.push_back(buf);
}

// A cell is logged with the character the grid holds when it is drawn.
void fake_draw_cell(Terminal* t, int row, int col) {
  log_call("cell %d,%d %c", row, col, t->cells[row][col].ch);
}
void fake_fill(Terminal*, int x1, int y1, int x2, int y2, int colour) {
  log_call("fill %d,%d-%d,%d %d", x1, y1, x2, y2, colour);
}
void fake_scroll_up(Terminal*, int cols) {
  log_call("scroll %d", cols);
}
void fake_move_cells(Terminal*, int src_row, int src_col, int dst_row, int dst_col, int rows,
                     int cols) {
  char buf[96];
  snprintf(buf, sizeof buf, "move %d,%d-%d,%d %dx%d", src_row, src_col, dst_row, dst_col, rows,
           cols);
  g_calls.push_back(buf);
}
void fake_hide_cursor(Terminal*) {
  log_call("hide");
}
void fake_show_cursor(Terminal*) {
  log_call("show");
}
void fake_draw_status(Terminal*) {
  log_call("status");
}
void fake_flash(Terminal*) {
  log_call("flash");
}
int fake_load_charset(Terminal* t) {
  log_call("charset %d", t->petscii_lower);
  return 1;
}
void fake_reply(Terminal*, const char* bytes, size_t len) {
  g_calls.push_back("reply " + std::string(bytes, len));
}

// A terminal of 8 x 16 cells bound to a headless window (so that the
// window's size is there to ask), with the fake in place of the display.
class HookFake : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = g_term_hooks;
    g_term_hooks = TermHooks{
        fake_draw_cell,   fake_fill,        fake_scroll_up, fake_move_cells,   fake_hide_cursor,
        fake_show_cursor, fake_draw_status, fake_flash,     fake_load_charset, fake_reply,
        nullptr,          nullptr,          nullptr};
    set_active_font(kFontCP437);
    term_init_record(t_.get());
    PlatWindowSpec spec;
    spec.inner_width = kTermCols * 8;
    spec.inner_height = kTermRows * 16;
    window_ = plat_open_window(spec);
    ASSERT_NE(window_, nullptr);
    t_->window = t_->rport = window_;
    t_->cell_w = 8;
    t_->cell_h = 16;
    g_calls.clear();
  }
  void TearDown() override {
    plat_close_window(window_);
    g_term_hooks = saved_;
    clock_test_reset();
  }
  void push(const std::string& bytes) {
    for (unsigned char c : bytes) term_consume_byte(t_.get(), c);
  }
  // The calls in order; the cursor's hide, which the terminal asks for
  // before any change near it and the display answers only when a cursor
  // is drawn, is left out unless asked for.
  std::string calls(bool with_hide = false) const {
    std::string out;
    for (const auto& c : g_calls) {
      if (!with_hide && c == "hide") continue;
      out += (out.empty() ? "" : "; ") + c;
    }
    return out;
  }

  std::unique_ptr<Terminal> t_ = std::make_unique<Terminal>();
  PlatWindow* window_ = nullptr;
  TermHooks saved_{};
};

TEST_F(HookFake, EachOperationAsksForItsDrawing) {
  struct Case {
    const char* name;
    int row, col;  // cursor before the bytes
    int top_bar;
    std::string bytes;
    std::string calls;
  };
  const Case cases[] = {
      {"a character draws its cell at once", 3, 5, 0, "AB", "cell 3,5 A; cell 3,6 B"},
      {"a line feed on the last row scrolls", 24, 0, 0, "\n", "scroll 80; fill 0,384-639,399 0"},
      {"with the status bar it is redrawn after a scroll", 24, 0, 1, "\n",
       "scroll 80; fill 0,384-639,399 0; status"},
      {"erase to end of line fills the span", 2, 78, 0, "\x1b[K", "fill 624,32-639,47 0"},
      {"clear screen fills the window", 0, 0, 0, "\x1b[2J", "fill 0,0-639,399 0"},
      {"the bell flashes", 0, 0, 0, "\a", "flash"},
      {"a status report is answered", 4, 9, 0, "\x1b[6n", "reply \x1b[5;10R"},
      {"device attributes are answered", 0, 0, 0, "\x1b[c", "reply \x1b[?1;2c"},
      {"inserted characters: one copy of the rest of the row, one fill", 3, 5, 0, "\x1b[2@",
       "move 3,5-3,7 1x73; fill 40,48-55,63 0"},
      {"deleted characters: one copy, the fill at the right end", 3, 5, 0, "\x1b[2P",
       "move 3,7-3,5 1x73; fill 624,48-639,63 0"},
      {"a delete at column 79 only fills", 3, 79, 0, "\x1b[P", "fill 632,48-639,63 0"},
      {"erased characters: one fill, nothing moves", 3, 5, 0, "\x1b[3X", "fill 40,48-63,63 0"},
      {"an inserted line: the rows below move down in one copy", 0, 0, 0, "\x1b[L",
       "move 0,0-1,0 24x80; fill 0,0-639,15 0"},
      {"deleted lines: the rows below move up in one copy", 20, 0, 0, "\x1b[2M",
       "move 22,0-20,0 3x80; fill 0,368-639,399 0"},
      {"deleting every line only fills", 0, 0, 0, "\x1b[25M", "fill 0,0-639,399 0"},
      {"a region's line feed moves the region only", 3, 0, 0, "\x1b[2;4r\x1b[4;1H\n",
       "move 2,0-1,0 2x80; fill 0,48-639,63 0"},
      {"reverse index at the top scrolls the screen down", 0, 0, 0, "\x1bM",
       "move 0,0-1,0 24x80; fill 0,0-639,15 0"},
      {"scroll up by two is two whole-screen scrolls", 0, 0, 0, "\x1b[2S",
       "scroll 80; fill 0,384-639,399 0; scroll 80; fill 0,384-639,399 0"},
      {"scroll down in a region", 0, 0, 0, "\x1b[5;10r\x1b[2T",
       "move 4,0-6,0 4x80; fill 0,64-639,95 0"},
      {"the alignment pattern draws every cell", 0, 0, 0, "\x1b#8", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Terminal* t = t_.get();
    t->row = c.row;
    t->col = c.col;
    t->top_bar = c.top_bar;
    t->reply_socket = 0;
    g_calls.clear();
    push(c.bytes);
    if (c.bytes == "\x1b#8")
      EXPECT_EQ(std::count(g_calls.begin(), g_calls.end(), "cell 24,79 E"), 1);
    else
      EXPECT_EQ(calls(), c.calls);
    t->scroll_top = t->scroll_bottom = 0;
  }
}

TEST_F(HookFake, WithoutTheCopyHookMovedCellsAreDrawnOneByOne) {
  g_term_hooks.move_cells = nullptr;
  Terminal* t = t_.get();
  for (int c = 70; c < kTermCols; c++)
    t->cells[3][c] = Cell{static_cast<uint8_t>('A' + c - 70), 7, 0, 0};
  t->row = 3;
  t->col = 70;
  push("\x1b[2@");
  // Columns 72..79 now hold what 70..77 held; the two blanks are one fill.
  EXPECT_EQ(calls(),
            "cell 3,72 A; cell 3,73 B; cell 3,74 C; cell 3,75 D; cell 3,76 E; cell 3,77 F; "
            "cell 3,78 G; cell 3,79 H; fill 560,48-575,63 0");
}

TEST_F(HookFake, HidingTheCursorRemovesItAtOnce) {
  push("\x1b[?25l");
  EXPECT_EQ(calls(true), "hide; hide; hide; hide; hide");
  EXPECT_EQ(t_->cursor_hidden, 1);
}

TEST_F(HookFake, NoFillScrollOrReplyWhileTheTerminalCannotDraw) {
  Terminal* t = t_.get();
  t->reply_socket = -1;  // no peer: no answer either
  t->drawing_suppressed = 1;
  push("te\x1b[2J\x1b[K\x1b[6n");
  t->row = 24;
  push("\n");
  // Only the cells are asked for: the display forgets a cursor under them.
  EXPECT_EQ(calls(), "cell 0,0 t; cell 0,1 e");
  g_calls.clear();
  t->drawing_suppressed = 0;
  t->window = t->rport = nullptr;
  push("x\x1b[2J");
  EXPECT_EQ(calls(), "cell 24,0 x");
  EXPECT_EQ(t->cells[24][0].ch, ' ');  // the grid changed all the same
  t->window = t->rport = window_;
}

TEST_F(HookFake, BellFlashesAtMostEvery120Ms) {
  uint32_t now = 1000;
  for (uint32_t step : {0u, 50u, 69u, 1u, 200u}) {
    now += step;
    clock_test_set_ms(now);
    push("\a");
  }
  // 1000 flashes; 1050 and 1119 are too close; 1120 and 1320 flash.
  EXPECT_EQ(calls(), "flash; flash; flash");
}

TEST_F(HookFake, CharacterSetSwitchLoadsGlyphsAndRedraws) {
  Terminal* t = t_.get();
  t->petscii = TERM_MODE_PETSCII;
  set_active_font(kFontC64UpGfx40);
  t->cells[0][0].ch = 'Q';
  petscii_consume_byte(t, 0x0E);  // lower case
  // The glyphs first, then the whole grid again in the new set.
  EXPECT_EQ(calls().substr(0, 22), "charset 1; cell 0,0 Q;");
  g_calls.clear();
  petscii_consume_byte(t, 0x0E);  // the set already shown
  EXPECT_EQ(calls(), "");
  set_active_font(kFontCP437);
}

TEST(TermHooks, WithoutHooksOnlyTheGridChanges) {
  TermHooks saved = g_term_hooks;
  g_term_hooks = TermHooks{};
  auto t = std::make_unique<Terminal>();
  term_init_record(t.get());
  PlatWindowSpec spec;
  spec.inner_width = kTermCols * 8;
  spec.inner_height = kTermRows * 16;
  t->window = t->rport = plat_open_window(spec);
  t->cell_w = 8;
  t->cell_h = 16;
  t->reply_socket = 0;
  for (unsigned char c : std::string("Hi\a\x1b[6n\x1b[2J!")) term_consume_byte(t.get(), c);
  EXPECT_EQ(t->cells[0][0].ch, '!');
  plat_close_window(t->window);
  g_term_hooks = saved;
}

}  // namespace
