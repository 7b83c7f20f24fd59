// Boxes over the terminal: metrics, centring and clamping, the beveled box,
// CP437 text, the yes/no confirm answering injected window events, and
// golden images of the confirm box and the disconnected notice.
#include "transfer/dialogs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/renderer.h"
#include "display/surface.h"
#include "platform/display.h"
#include "support/events.h"
#include "support/golden_image.h"
#include "support/open_window.h"
#include "terminal/terminal.h"

namespace {

TEST(DialogMetrics, ScaleFollowsTheWindowMode) {
  struct Case {
    const char* name;
    int fullscreen, medium, fullscreen_scale, s;
  };
  const Case cases[] = {
      {"window", 0, 0, 3, 1},
      {"medium window", 0, 1, 3, 2},
      {"full screen scale 3", 1, 0, 3, 3},
      {"full screen scale 0 counts as 1", 1, 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Terminal t{};
    t.fullscreen = c.fullscreen;
    t.medium_window = c.medium;
    g_fullscreen_scale = c.fullscreen_scale;
    EXPECT_EQ(term_dialog_cp437_scale(&t), c.s);
    EXPECT_EQ(term_dialog_cell_w(&t), 8 * c.s);
    EXPECT_EQ(term_dialog_cell_h(&t), 16 * c.s);
    EXPECT_EQ(term_dialog_baseline(&t), 15 * c.s);
    EXPECT_EQ(text_px(&t, "Disconnect?"), 11 * 8 * c.s);
  }
  g_fullscreen_scale = 1;
  EXPECT_EQ(term_dialog_cp437_scale(nullptr), 1);
  EXPECT_EQ(text_px(nullptr, nullptr), 0);
}

TEST(DialogPlacement, CentringAndBothClamps) {
  struct Case {
    const char* name;
    int origin_x, origin_y, cell_w, cell_h, box_w, box_h;
    int x, y;                  // after centring
    int clamped_x, clamped_y;  // after the transfer dialogs' clamp
  };
  const Case cases[] = {
      {"centred in a 640x400 grid", 0, 0, 8, 16, 168, 80, 236, 160, 236, 160},
      {"origin counts", 30, 20, 8, 16, 168, 80, 266, 180, 266, 180},
      // A 160x50 grid under a 168x80 box: pulled 4 (or 8) pixels inside.
      {"larger than the grid", 0, 0, 2, 2, 168, 80, 4, 4, 8, 8},
      // (160 - 163) / 2 truncates toward zero: -1, not -2.
      {"odd difference", 10, 10, 2, 2, 163, 50, 9, 10, 9, 10},
      {"three becomes four", 3, 3, 8, 16, 640, 400, 4, 4, 8, 8},
      {"four is left by the first clamp", 4, 0, 2, 16, 160, 392, 4, 4, 8, 8},
      {"left alone by both", 8, 8, 8, 16, 640, 400, 8, 8, 8, 8},
      {"seven becomes eight", 7, 7, 8, 16, 640, 400, 7, 7, 8, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Terminal t{};
    t.origin_x = c.origin_x;
    t.origin_y = c.origin_y;
    t.cell_w = c.cell_w;
    t.cell_h = c.cell_h;
    int x = -1, y = -1;
    term_center_dialog_box(&t, c.box_w, c.box_h, &x, &y);
    EXPECT_EQ(x, c.x);
    EXPECT_EQ(y, c.y);
    term_clamp_transfer_dialog_box(&t, &x, &y);
    EXPECT_EQ(x, c.clamped_x);
    EXPECT_EQ(y, c.clamped_y);
  }
}

TEST(DialogPlacement, PetsciiCentresOnTheVisibleColumns) {
  set_active_font("C64 Up/GFX [40]");
  Terminal t{};
  t.petscii = TERM_MODE_PETSCII;
  t.cell_w = 16;
  t.cell_h = 16;
  int x = 0, y = 0;
  term_center_dialog_box(&t, 168, 80, &x, &y);
  EXPECT_EQ(x, (40 * 16 - 168) / 2);
  EXPECT_EQ(y, (400 - 80) / 2);
  set_active_font("CP437");
}

// A terminal in a real headless window with some text on it.
class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    g_next_window_pos_valid = 0;
    set_active_font("CP437");
    t_ = std::make_unique<Terminal>();
    term_init_record(t_.get());
  }
  void TearDown() override {
    term_close(t_.get());
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    plat_headless_set_desktop(1920, 1080, 24);
  }

  void open(bool medium = false) {
    display_set_window_mode(medium ? DISPLAY_MODE_MEDIUM : DISPLAY_MODE_WINDOW);
    ASSERT_EQ(test_term_open(t_.get(), "Kavel"), 0);
    t_->cursor_enabled = 1;
    const char* text = "Welcome to the Kavel test board. Type HELP for the menu.";
    for (int row = 0; row < kTermRows; row += 3) {
      t_->fg = 1 + row % 14;
      t_->row = row;
      t_->col = row % 7;
      for (const char* p = text; *p; p++) term_put_char(t_.get(), static_cast<uint8_t>(*p));
    }
    t_->fg = 7;
    term_show_cursor(t_.get());
  }

  Terminal* t() { return t_.get(); }
  PlatWindow* w() { return t_->window; }

  std::vector<uint8_t> snapshot() {
    int width = plat_window_inner_width(w());
    int height = plat_window_inner_height(w());
    const uint8_t* p = plat_window_pixels(w());
    return std::vector<uint8_t>(p, p + static_cast<size_t>(width) * static_cast<size_t>(height));
  }

  int pen(int x, int y) { return plat_read_pixel(w(), x, y); }
  int palette(int index) { return t_->pens[index]; }

  std::unique_ptr<Terminal> t_;
};

TEST_F(Dialogs, BoxSizes) {
  struct Case {
    bool medium;
    int yes_no_w, yes_no_h, notice_w, notice_h;
  };
  for (Case c : {Case{false, 168, 80, 176, 80}, Case{true, 320, 160, 320, 160}}) {
    SCOPED_TRACE(c.medium ? "medium window" : "window");
    open(c.medium);
    int x = 0, y = 0, bw = 0, bh = 0;
    term_yes_no_box_rect(t(), &x, &y, &bw, &bh);
    EXPECT_EQ(bw, c.yes_no_w);
    EXPECT_EQ(bh, c.yes_no_h);
    int grid_w = 80 * t()->cell_w, grid_h = 25 * t()->cell_h;
    EXPECT_EQ(x, t()->origin_x + (grid_w - bw) / 2);
    EXPECT_EQ(y, t()->origin_y + (grid_h - bh) / 2);
    term_disconnected_box_rect(t(), &x, &y, &bw, &bh);
    EXPECT_EQ(bw, c.notice_w);
    EXPECT_EQ(bh, c.notice_h);
    term_close(t());
  }
}

TEST_F(Dialogs, BeveledBoxEdgesAndShadow) {
  open();
  term_fill_rect(t(), 0, 0, 200, 200, 0);
  draw_beveled_box(t(), 10, 10, 59, 39);
  struct Probe {
    int x, y, colour;
  };
  const Probe probes[] = {
      {10, 10, 15}, {11, 11, 15}, {57, 10, 15}, {10, 37, 15},  // light top and left
      {12, 12, 7},  {57, 37, 7},  {30, 25, 7},                 // face
      {59, 39, 8},  {58, 38, 8},  {58, 10, 8},  {10, 39, 8},   // dark bottom and right
      {63, 43, 8},  {14, 43, 8},  {63, 14, 8},                 // shadow
      {64, 44, 0},  {13, 43, 0},  {63, 13, 0},  {9, 9, 0},     // outside
  };
  for (const Probe& p : probes) EXPECT_EQ(pen(p.x, p.y), palette(p.colour)) << p.x << "," << p.y;
}

TEST_F(Dialogs, TextCellsAndSpaces) {
  open();
  term_fill_rect(t(), 0, 0, 100, 100, 0);
  // Spaces draw only their background.
  term_dialog_text_bg(t(), 0, 15, "   ", 0, 4);
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 24; x++) ASSERT_EQ(pen(x, y), palette(4)) << x << "," << y;
  EXPECT_EQ(pen(24, 0), palette(0));

  // Nothing for an empty text, and nothing while drawing is suppressed.
  std::vector<uint8_t> before = snapshot();
  term_dialog_text(t(), 0, 15, "", 1);
  t()->drawing_suppressed = 1;
  term_dialog_text(t(), 0, 15, "ABC", 1);
  term_draw_yes_no_confirm(t(), "Disconnect?", 1);
  term_draw_disconnected_notice(t());
  t()->drawing_suppressed = 0;
  EXPECT_EQ(snapshot(), before);
}

TEST_F(Dialogs, GoldenConfirmAndDisconnectedNotice) {
  open();
  int x = 0, y = 0, bw = 0, bh = 0;
  term_yes_no_box_rect(t(), &x, &y, &bw, &bh);
  term_draw_yes_no_confirm(t(), "Disconnect?", 1);
  golden::expect_golden("dialog_confirm_yes", w(), x, y, bw + 4, bh + 4);
  term_draw_yes_no_confirm(t(), "Disconnect?", 0);
  golden::expect_golden("dialog_confirm_no", w(), x, y, bw + 4, bh + 4);

  term_redraw_all(t());
  term_disconnected_box_rect(t(), &x, &y, &bw, &bh);
  term_draw_disconnected_notice(t());
  golden::expect_golden("dialog_disconnected", w(), x, y, bw + 4, bh + 4);
  term_close(t());

  open(true);
  term_yes_no_box_rect(t(), &x, &y, &bw, &bh);
  term_draw_yes_no_confirm(t(), "", 1);  // "Continue?"
  golden::expect_golden("dialog_confirm_medium", w(), x, y, bw + 4, bh + 4);
}

TEST_F(Dialogs, ConfirmAnswersKeysAndCloseRequests) {
  struct Case {
    const char* name;
    std::vector<PlatEvent> events;
    int answer;
  };
  const Case cases[] = {
      {"Return takes YES", {vanilla('\r')}, 1},
      {"line feed takes the selection", {raw(RAWKEY_RIGHT), vanilla('\n')}, 0},
      {"right then Return", {raw(RAWKEY_RIGHT), vanilla('\r')}, 0},
      {"down then raw Return", {raw(RAWKEY_DOWN), raw(RAWKEY_RETURN)}, 0},
      {"right, left, keypad Enter", {raw(RAWKEY_RIGHT), raw(RAWKEY_LEFT), raw(RAWKEY_KP_ENTER)}, 1},
      {"down, up, Return", {raw(RAWKEY_DOWN), raw(RAWKEY_UP), vanilla('\r')}, 1},
      {"key releases are ignored",
       {raw(static_cast<uint16_t>(int{RAWKEY_DOWN} | PLAT_KEY_UP)), vanilla('\r')},
       1},
      {"y", {raw(RAWKEY_RIGHT), vanilla('y')}, 1},
      {"Y", {vanilla('Y')}, 1},
      {"n", {vanilla('n')}, 0},
      {"N", {vanilla('N')}, 0},
      {"Escape", {vanilla(27)}, 0},
      {"raw Escape", {raw(RAWKEY_ESCAPE)}, 0},
      {"close request answers yes", {raw(RAWKEY_RIGHT), close_request()}, 1},
      {"other keys wait", {vanilla('x'), vanilla(' '), raw(RAWKEY_F1), vanilla('n')}, 0},
      {"refresh redraws and waits", {refresh_request(), vanilla('N')}, 0},
  };
  open();
  const std::vector<uint8_t> before = snapshot();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const PlatEvent& ev : c.events) plat_inject_event(w(), ev);
    EXPECT_EQ(term_confirm_yes_no(t(), "Disconnect?"), c.answer);
    // The box is gone again: the terminal was redrawn with its cursor.
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(t()->cursor_drawn, 1);
    // Every event was used up by the dialog.
    PlatEvent left;
    EXPECT_EQ(plat_get_event(w(), &left), 0);
  }
}

TEST_F(Dialogs, ConfirmWithoutAWindowSaysNo) {
  Terminal bare{};
  term_init_record(&bare);
  EXPECT_EQ(term_confirm_yes_no(&bare, "Disconnect?"), 0);
  EXPECT_EQ(term_confirm_yes_no(nullptr, "Disconnect?"), 0);
}

}  // namespace
