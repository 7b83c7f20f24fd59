// Opening the terminal's surface in the three window modes on the headless
// desktop: sizes, scale, origin, placement, the fall-back from full screen,
// failure without a display, and the pens.
#include "display/surface.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/renderer.h"
#include "platform/display.h"
#include "support/open_window.h"
#include "terminal/terminal.h"

namespace {

enum Mode { kNormal, kMedium, kFull };

class Surface : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_globals();
    t_ = std::make_unique<Terminal>();
    term_init_record(t_.get());
  }
  void TearDown() override {
    term_close(t_.get());
    plat_headless_set_display_available(true);
    plat_headless_set_desktop(1920, 1080, 24);
    reset_globals();
  }

  static void reset_globals() {
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    g_screen_w = 640;
    g_screen_h = 480;
    g_screen_depth = 4;
    g_fullscreen_scale = 1;
    g_c64_40_dynamic_scale = 1;
    g_next_window_pos_valid = 0;
    g_runtime_top_bar_enabled = 1;
    set_active_font("CP437");
  }

  int open(Mode mode, const char* font, bool petscii = false, bool top_bar = false) {
    display_set_window_mode((mode == kFull)     ? DISPLAY_MODE_FULLSCREEN
                            : (mode == kMedium) ? DISPLAY_MODE_MEDIUM
                                                : DISPLAY_MODE_WINDOW);
    g_runtime_top_bar_enabled = top_bar ? 1 : 0;
    set_active_font(font);
    return test_term_open(t_.get(), "Kavel test", petscii ? 1 : 0);
  }

  Terminal* t() { return t_.get(); }
  PlatWindowGeometry geometry() { return plat_window_geometry(t_->window); }

  std::unique_ptr<Terminal> t_;
};

TEST_F(Surface, FullScreenScaleOriginAndTopBar) {
  struct Case {
    int desk_w, desk_h;
    bool bar;
    int scale, cell_w, cell_h, origin_x, origin_y;
  };
  const Case cases[] = {
      // 1920/640 = 3 but 1080/400 = 2: scale 2, the 1280-pixel grid centred.
      {1920, 1080, false, 2, 16, 32, 320, 0},
      // The bar moves the grid down by two cell heights.
      {1920, 1080, true, 2, 16, 32, 320, 64},
      // 26 rows of 16 pixels (416) fit 480 rows.
      {640, 480, true, 1, 8, 16, 0, 32},
      {2560, 1440, true, 3, 24, 48, 320, 96},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.desk_w) + "x" + std::to_string(c.desk_h) + (c.bar ? " bar" : ""));
    plat_headless_set_desktop(c.desk_w, c.desk_h, 24);
    ASSERT_EQ(open(kFull, "CP437", false, c.bar), 0);
    EXPECT_EQ(g_fullscreen_scale, c.scale);
    EXPECT_EQ(t()->fullscreen, 1);
    EXPECT_EQ(t()->top_bar, c.bar ? 1 : 0);
    EXPECT_EQ(t()->cell_w, c.cell_w);
    EXPECT_EQ(t()->cell_h, c.cell_h);
    EXPECT_EQ(t()->origin_x, c.origin_x);
    EXPECT_EQ(t()->origin_y, c.origin_y);
    ASSERT_NE(t()->screen, nullptr);
    EXPECT_EQ(plat_window_screen(t()->window), t()->screen);
    PlatWindowGeometry g = geometry();
    EXPECT_EQ(g.width, c.desk_w);
    EXPECT_EQ(g.height, c.desk_h);
    // The first clear draws the status bar when it is on: its left end is grey.
    int bar_x0 = (c.desk_w - 80 * 8 * c.scale) / 2;
    EXPECT_EQ(plat_read_pixel(t()->window, bar_x0, 0), c.bar ? 7 : 0);
    term_close(t());
  }
}

TEST_F(Surface, WindowSizesAndPlacement) {
  struct Case {
    const char* name;
    Mode mode;
    const char* font;
    bool petscii;
    int desk_w, desk_h;
    int cell_w, cell_h, inner_w, inner_h, left, top, origin_x, origin_y, lower;
    int usable_w = 0, usable_h = 0;  // the desktop beside panels (0: all of it)
    int medium = -1;                 // the medium flag expected (-1: as asked)
  };
  const Case cases[] = {
      {"normal CP437", kNormal, "CP437", false, 1920, 1080, 8, 16, 640, 400, 640, 340, 0, 0, 0},
      {"medium CP437", kMedium, "CP437", false, 1920, 1080, 16, 32, 1280, 800, 320, 140, 0, 0, 0},
      {"normal C64 40", kNormal, "C64 Low/Up [40]", true, 1920, 1080, 16, 16, 640, 400, 640, 340, 0,
       0, 1},
      {"medium C64 40", kMedium, "C64 Up/GFX [40]", true, 1920, 1080, 24, 24, 960, 600, 480, 240, 0,
       0, 0},
      // The 960x600 medium window does not fit 800x600: the normal window.
      {"medium C64 40 small desktop", kMedium, "C64 Up/GFX [40]", true, 800, 600, 16, 16, 640, 400,
       80, 100, 0, 0, 0, 0, 0, 0},
      // A panel leaves 780 rows: 1280x800 would be cut by the window
      // manager, the 14-row font at scale 2 (1280x700) fits.
      {"medium CP437 beside a panel", kMedium, "CP437", false, 1920, 1080, 16, 28, 1280, 700, 320,
       190, 0, 0, 0, 1920, 780},
      // A 1366x768 laptop whose panel and frame leave 1366x690: the 8-row
      // font at scale 2.
      {"medium CP437 on a laptop", kMedium, "CP437", false, 1366, 768, 16, 16, 1280, 400, 43, 184,
       0, 0, 0, 1366, 690},
      // Less than 1280 columns: no medium window fits, the normal one opens.
      {"medium CP437 that fits nowhere", kMedium, "CP437", false, 1200, 800, 8, 16, 640, 400, 280,
       200, 0, 0, 0, 1200, 700, 0},
      {"medium C64 80", kMedium, "C64 Low/Up [80]", true, 1920, 1080, 16, 16, 1280, 400, 320, 340,
       0, 0, 1},
      // An ANSI terminal with a 40-column C64 font shows all 80 columns.
      {"medium C64 40 in ANSI", kMedium, "C64 Up/GFX [40]", false, 1920, 1080, 24, 24, 1920, 600, 0,
       240, 0, 0, 0},
      {"normal window larger than the desktop", kNormal, "CP437", false, 600, 300, 8, 16, 640, 400,
       0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plat_headless_set_desktop(c.desk_w, c.desk_h, 24);
    plat_headless_set_usable_area(c.usable_w, c.usable_h);
    ASSERT_EQ(open(c.mode, c.font, c.petscii, true), 0);
    plat_headless_set_usable_area(0, 0);
    int medium = c.medium >= 0 ? c.medium : (c.mode == kMedium ? 1 : 0);
    EXPECT_EQ(t()->medium_window, medium);
    EXPECT_EQ(display_window_mode(), medium ? DISPLAY_MODE_MEDIUM : DISPLAY_MODE_WINDOW);
    EXPECT_EQ(t()->top_bar, 0);  // the bar exists only in full screen
    EXPECT_EQ(t()->cell_w, c.cell_w);
    EXPECT_EQ(t()->cell_h, c.cell_h);
    PlatWindowGeometry g = geometry();
    EXPECT_EQ(g.width, c.inner_w);
    EXPECT_EQ(g.height, c.inner_h);
    EXPECT_EQ(g.left, c.left);
    EXPECT_EQ(g.top, c.top);
    EXPECT_EQ(t()->origin_x, c.origin_x);
    EXPECT_EQ(t()->origin_y, c.origin_y);
    EXPECT_EQ(t()->petscii, c.petscii ? TERM_MODE_PETSCII : TERM_MODE_ANSI);
    EXPECT_EQ(t()->petscii_lower, c.lower);
    EXPECT_EQ(t()->cp437_font, std::string(c.font) == "CP437" ? 1 : 0);
    // Cleared by the first clear screen.
    EXPECT_EQ(t()->cells[24][79].ch, ' ');
    EXPECT_EQ(t()->cells[24][79].fg, 7);
    term_close(t());
  }
}

TEST_F(Surface, RememberedPositionIsUsedOnce) {
  g_next_window_left = 100;
  g_next_window_top = 50;
  g_next_window_pos_valid = 1;
  ASSERT_EQ(open(kNormal, "CP437"), 0);
  EXPECT_EQ(geometry().left, 100);
  EXPECT_EQ(geometry().top, 50);
  EXPECT_EQ(g_next_window_pos_valid, 0);
  term_close(t());

  ASSERT_EQ(open(kNormal, "CP437"), 0);
  EXPECT_EQ(geometry().left, (1920 - 640) / 2);
  EXPECT_EQ(geometry().top, (1080 - 400) / 2);
}

TEST_F(Surface, FullScreenThatDoesNotFitFallsBackToAWindow) {
  // A system font whose 80 columns are wider than a 600-pixel desktop.
  PlatFont* probe = plat_open_font("DejaVu Sans Mono", 16);
  if (!probe) GTEST_SKIP() << "DejaVu Sans Mono (fonts-dejavu-core) is not installed";
  plat_close_font(probe);

  plat_headless_set_desktop(600, 480, 24);
  ASSERT_EQ(open(kFull, "DejaVu Sans Mono", false, true), 0);
  ASSERT_GT(80 * t()->cell_w, 600);
  EXPECT_EQ(g_fullscreen, 0);
  EXPECT_EQ(g_medium_window, 0);
  EXPECT_EQ(g_custom_screen, 0);
  EXPECT_EQ(t()->fullscreen, 0);
  EXPECT_EQ(t()->top_bar, 0);
  EXPECT_EQ(t()->screen, nullptr);
  EXPECT_NE(t()->font, nullptr);
  PlatScreen* desk = plat_lock_desktop_screen();
  EXPECT_EQ(plat_window_screen(t()->window), desk);
  plat_unlock_screen(desk);
  // Wider than the desktop: at the left edge, not at a negative position.
  EXPECT_EQ(geometry().left, 0);
  EXPECT_EQ(geometry().width, 80 * t()->cell_w);
}

TEST_F(Surface, OpenFailsCleanlyWithoutADisplay) {
  plat_headless_set_display_available(false);
  for (Mode mode : {kNormal, kMedium, kFull}) {
    SCOPED_TRACE(mode);
    // Whatever the record held before, a failed open leaves it cleared.
    std::memset(t(), 0xAB, sizeof(Terminal));
    EXPECT_EQ(open(mode, "CP437", false, true), -1);
    EXPECT_EQ(t()->window, nullptr);
    EXPECT_EQ(t()->screen, nullptr);
    EXPECT_EQ(t()->font, nullptr);
    EXPECT_EQ(t()->pens_obtained, 0);
    EXPECT_EQ(t()->cell_w, 0);
    EXPECT_EQ(t()->scrollback, nullptr);
    EXPECT_EQ(t()->reply_socket, -1);  // no reply goes to descriptor 0
    EXPECT_EQ(t()->fg, 7);
    EXPECT_EQ(g_fullscreen, 0);  // a failed full screen degrades
    EXPECT_EQ(g_custom_screen, 0);
  }
  // Closing a cleared record is harmless.
  term_close(t());
  EXPECT_EQ(t()->window, nullptr);
  EXPECT_EQ(t()->reply_socket, -1);
}

TEST_F(Surface, WindowPensAreObtainedAndReleased) {
  PlatScreen* desk = plat_lock_desktop_screen();
  ASSERT_NE(desk, nullptr);
  // The register a new colour gets while nobody holds the terminal's pens.
  const uint32_t probe = term_palette_component32(0x12);
  int free_pen = plat_obtain_best_pen(desk, probe, probe, probe);
  ASSERT_GE(free_pen, 0);
  plat_release_pen(desk, free_pen);

  ASSERT_EQ(open(kNormal, "CP437"), 0);
  EXPECT_EQ(t()->pens_obtained, 1);
  for (int i = 0; i < 16; i++) {
    EXPECT_EQ(t()->pen_owned[i], 1) << i;
    EXPECT_EQ(plat_pen_rgb(desk, t()->pens[i]), kTermPaletteRgb[i]) << i;
  }
  int while_open = plat_obtain_best_pen(desk, probe, probe, probe);
  EXPECT_NE(while_open, free_pen);
  plat_release_pen(desk, while_open);

  term_close(t());
  int after_close = plat_obtain_best_pen(desk, probe, probe, probe);
  EXPECT_EQ(after_close, free_pen);
  plat_release_pen(desk, after_close);
  plat_unlock_screen(desk);
}

TEST_F(Surface, OwnScreenUsesItsRegistersAndFallsBackToDepthFour) {
  struct Case {
    int desk_depth, screen_depth;
  };
  for (Case c : {Case{24, 24}, Case{8, 8}, Case{12, 4}}) {
    SCOPED_TRACE(c.desk_depth);
    plat_headless_set_desktop(1280, 800, c.desk_depth);
    ASSERT_EQ(open(kFull, "CP437"), 0);
    ASSERT_NE(t()->screen, nullptr);
    EXPECT_EQ(plat_screen_depth(t()->screen), c.screen_depth);
    EXPECT_EQ(t()->pens_obtained, 0);
    for (int i = 0; i < 16; i++) {
      EXPECT_EQ(t()->pens[i], i);
      EXPECT_EQ(t()->pen_owned[i], 0);
      EXPECT_EQ(plat_pen_rgb(t()->screen, i), kTermPaletteRgb[i]) << i;
    }
    term_close(t());
  }
}

TEST_F(Surface, OriginFollowsTheTopBarWithinTheRoomLeft) {
  // 640x400 exactly: the grid fills the screen, so switching the bar on
  // afterwards has no room to move it down.
  plat_headless_set_desktop(640, 400, 24);
  ASSERT_EQ(open(kFull, "CP437", false, false), 0);
  EXPECT_EQ(t()->origin_y, 0);
  t()->top_bar = 1;
  term_update_origin(t());
  EXPECT_EQ(t()->origin_y, 0);
  term_close(t());

  // A 40-column C64 picture in full screen is centred in the 640x400 layout.
  plat_headless_set_desktop(1920, 1080, 24);
  ASSERT_EQ(open(kFull, "C64 Up/GFX [40]", true, true), 0);
  EXPECT_EQ(t()->cell_w, 16);
  EXPECT_EQ(t()->origin_x, (1280 - 640) / 2 + 320);
  EXPECT_EQ(t()->origin_y, (800 - 400) / 2 + 32);
  t()->top_bar = 0;
  term_update_origin(t());
  EXPECT_EQ(t()->origin_y, (800 - 400) / 2);
}

}  // namespace
