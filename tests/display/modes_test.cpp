#include "display/modes.h"

#include <gtest/gtest.h>

#include "display/fonts.h"
#include "platform/display.h"

namespace {

class Modes : public ::testing::Test {
 protected:
  void TearDown() override {
    plat_headless_set_desktop(1920, 1080, 24);
    g_next_window_pos_valid = 0;
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    set_active_font("CP437");
  }
};

TEST_F(Modes, FullScreenLayoutScalesTheDesktop) {
  struct Case {
    int w, h, depth;
    int scale, want_depth;
  } cases[] = {
      {1920, 1080, 24, 2, 24},  // 1920/640 = 3, 1080/400 = 2
      {640, 480, 8, 1, 8},     {3840, 2160, 32, 5, 32},
      {800, 399, 24, 1, 24},  // too low for even one 640x400 picture
      {2560, 1600, 16, 4, 16},
  };
  for (const Case& c : cases) {
    plat_headless_set_desktop(c.w, c.h, c.depth);
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    prepare_borderless_fullscreen_layout();
    EXPECT_EQ(g_screen_w, c.w);
    EXPECT_EQ(g_screen_h, c.h);
    EXPECT_EQ(g_fullscreen_scale, c.scale) << c.w << "x" << c.h;
    EXPECT_EQ(g_screen_depth, c.want_depth);
    EXPECT_EQ(g_custom_screen, 1);
  }

  // Without a desktop the last size stands; unusable values become 640x480x4.
  plat_headless_set_display_available(false);
  g_screen_w = 1280, g_screen_h = 800, g_screen_depth = 8;
  prepare_borderless_fullscreen_layout();
  EXPECT_EQ(g_fullscreen_scale, 2);
  EXPECT_EQ(g_screen_depth, 8);
  g_screen_w = 0, g_screen_h = -3, g_screen_depth = 0;
  prepare_borderless_fullscreen_layout();
  plat_headless_set_display_available(true);
  EXPECT_EQ(g_screen_w, 640);
  EXPECT_EQ(g_screen_h, 480);
  EXPECT_EQ(g_screen_depth, 4);
  EXPECT_EQ(g_fullscreen_scale, 1);
}

TEST_F(Modes, FitTestMeasuresTheGridAndTheTopBar) {
  struct Case {
    int w, h;
    const char* font;
    int petscii, cw, ch, top_bar;
    bool fits;
  } cases[] = {
      {1920, 1080, "CP437", 0, 16, 32, 1, true},
      {640, 480, "CP437", 0, 8, 16, 1, true},  // 26 x 16 = 416 rows
      {640, 400, "CP437", 0, 8, 16, 1, false},
      {640, 400, "CP437", 0, 8, 16, 0, true},
      // A 40-column C64 picture of 320 pixels: the top bar needs the full 640.
      {600, 480, "C64 Up/GFX [40]", 1, 8, 8, 0, true},
      {600, 480, "C64 Up/GFX [40]", 1, 8, 8, 1, false},
      {640, 415, "C64 Up/GFX [40]", 1, 16, 16, 1, false},  // 400 + 16 rows
      {640, 416, "C64 Up/GFX [40]", 1, 16, 16, 1, true},
      {600, 480, "C64 Up/GFX [40]", 0, 8, 8, 0, false},  // not PETSCII: 80 columns
  };
  for (const Case& c : cases) {
    plat_headless_set_desktop(c.w, c.h, 24);
    set_active_font(c.font);
    EXPECT_EQ(prepare_fixed_fullscreen_screen(c.cw, c.ch, c.top_bar, c.petscii), c.fits)
        << c.w << "x" << c.h << " " << c.font << " petscii " << c.petscii << " bar " << c.top_bar;
  }
}

TEST_F(Modes, WindowPositionRememberedOnceThenCentredOnScreen) {
  plat_headless_set_desktop(1920, 1080, 24);
  PlatScreen* desk = plat_lock_desktop_screen();
  ASSERT_NE(desk, nullptr);
  struct Case {
    int remembered;  // 1: g_next_window_left/top set to rx, ry first
    int rx, ry, w, h;
    int left, top;
  } cases[] = {
      {0, 0, 0, 800, 600, 560, 240},        {0, 0, 0, 801, 601, 559, 239},
      {1, 100, 50, 800, 600, 100, 50},      {0, 0, 0, 2000, 1200, 0, 0},
      {1, 1800, 1000, 800, 600, 1120, 480}, {1, -5, -7, 800, 600, 0, 0},
      {1, 1800, 1000, 2000, 1200, 0, 0},
  };
  for (const Case& c : cases) {
    g_next_window_pos_valid = c.remembered;
    g_next_window_left = c.rx;
    g_next_window_top = c.ry;
    int left = -1, top = -1;
    choose_window_position(c.w, c.h, desk, &left, &top);
    EXPECT_EQ(left, c.left) << c.w << "x" << c.h << " at " << c.rx << "," << c.ry;
    EXPECT_EQ(top, c.top);
    EXPECT_EQ(g_next_window_pos_valid, 0);
  }
  // The remembered position is used once: the next window is centred again.
  g_next_window_pos_valid = 1;
  g_next_window_left = 100;
  g_next_window_top = 50;
  int left, top;
  choose_window_position(640, 400, desk, &left, &top);
  choose_window_position(640, 400, desk, &left, &top);
  EXPECT_EQ(left, 640);
  EXPECT_EQ(top, 340);
  plat_unlock_screen(desk);

  choose_window_position(640, 400, nullptr, &left, &top);  // no screen: its own size
  EXPECT_EQ(left, 0);
  EXPECT_EQ(top, 0);
}

TEST_F(Modes, DepthGadgetAreaInTheTopRightCorner) {
  struct Case {
    int title, x, y;
    bool hit;
  } cases[] = {
      {0, 1860, 0, true},   {0, 1859, 0, false},  {0, 1919, 19, true},
      {0, 1919, 20, false}, {0, 1920, 5, false},  {0, 1900, -1, false},
      {11, 1872, 11, true}, {11, 1871, 0, false}, {11, 1872, 12, false},  // h 12, w 48
      {20, 1857, 20, true}, {20, 1856, 0, false}, {20, 1857, 21, false},  // h 21, w 63
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fullscreen_screen_depth_hit(1920, c.title, c.x, c.y), c.hit)
        << "title " << c.title << " at " << c.x << "," << c.y;
  }
}

}  // namespace
