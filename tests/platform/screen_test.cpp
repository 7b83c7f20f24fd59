// Screens, shared pens, windows, system-font text and the event queue of the
// headless backend.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/display.h"
#include "platform/png.h"
#include "support/test_support.h"

namespace {

uint32_t frac(uint32_t v8) {
  return v8 * 0x01010101u;
}

int obtain(PlatScreen* s, uint32_t rgb) {
  return plat_obtain_best_pen(s, frac(rgb >> 16), frac((rgb >> 8) & 0xFF), frac(rgb & 0xFF));
}

struct DesktopLock {
  PlatScreen* s = plat_lock_desktop_screen();
  ~DesktopLock() { plat_unlock_screen(s); }
};

TEST(Pens, SameColourIsSharedAndCountedUntilTheLastRelease) {
  DesktopLock d;
  ASSERT_NE(d.s, nullptr);
  int a = obtain(d.s, 0x123456);
  int b = obtain(d.s, 0x123456);
  int near = obtain(d.s, 0x143658);  // within a few steps: the same pen
  ASSERT_GE(a, 4);                   // never one of the desktop's own registers
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, near);
  EXPECT_EQ(plat_pen_rgb(d.s, a), 0x123456u);
  int other = obtain(d.s, 0xAA0000);
  EXPECT_NE(other, a);

  plat_release_pen(d.s, a);
  plat_release_pen(d.s, a);
  // Still held once: a new colour must not take the register.
  int c = obtain(d.s, 0x00FF00);
  EXPECT_NE(c, a);
  EXPECT_EQ(plat_pen_rgb(d.s, a), 0x123456u);
  plat_release_pen(d.s, a);
  // Now free: the lowest free register is handed out again.
  int again = obtain(d.s, 0x0000FF);
  EXPECT_EQ(again, a);
  EXPECT_EQ(plat_pen_rgb(d.s, a), 0x0000FFu);
  for (int p : {other, c, again}) plat_release_pen(d.s, p);
}

TEST(Pens, FullMapGivesMinusOneAndReservedRegistersStayPut) {
  DesktopLock d;
  ASSERT_NE(d.s, nullptr);
  uint32_t reserved[4];
  for (int i = 0; i < 4; i++) reserved[i] = plat_pen_rgb(d.s, i);
  std::vector<int> pens;
  // 252 colours at least 16 steps apart: R and G on a 16 x 16 grid.
  auto grid = [](int i) {
    return static_cast<uint32_t>((i % 16) * 16) << 16 | static_cast<uint32_t>((i / 16) * 16) << 8;
  };
  for (int i = 0; i < 252; i++) {
    int p = obtain(d.s, grid(i));
    ASSERT_GE(p, 4) << i;
    pens.push_back(p);
  }
  EXPECT_EQ(obtain(d.s, 0xFEDCBA), -1);
  // An exact match is still shared when the map is full.
  EXPECT_EQ(obtain(d.s, grid(1)), pens[1]);
  plat_release_pen(d.s, pens[1]);
  for (int i = 0; i < 4; i++) EXPECT_EQ(plat_pen_rgb(d.s, i), reserved[i]);
  for (int p : pens) plat_release_pen(d.s, p);
  int freed = obtain(d.s, 0xFEDCBA);
  EXPECT_GE(freed, 4);
  plat_release_pen(d.s, freed);
}

TEST(Screens, OwnScreenPaletteRegistersAreNotHandedOut) {
  PlatScreen* s = plat_open_screen(640, 480, 4, "Kavel Screen");
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(plat_screen_has_colormap(s));
  uint32_t table[16 * 3];
  for (int i = 0; i < 16; i++) {
    table[3 * i] = 0xAAAAAAA0u;
    table[3 * i + 1] = 0x55555550u;
    table[3 * i + 2] = static_cast<uint32_t>(i) << 28;
  }
  plat_screen_load_rgb32(s, 0, 16, table);
  EXPECT_EQ(plat_pen_rgb(s, 0), 0xAA5500u);
  EXPECT_EQ(plat_pen_rgb(s, 15), 0xAA55F0u);
  plat_screen_set_rgb32(s, 4, 0xFFFFFFFF, 0, 0);
  EXPECT_EQ(plat_pen_rgb(s, 4), 0xFF0000u);
  // Depth 4: sixteen registers, all holding the palette.
  EXPECT_EQ(obtain(s, 0x00FF00), -1);
  EXPECT_EQ(obtain(s, 0xFF0000), -1);
  plat_close_screen(s);

  PlatScreen* deep = plat_open_screen(800, 600, 8, "Kavel Screen");
  ASSERT_NE(deep, nullptr);
  plat_screen_load_rgb32(deep, 0, 16, table);
  int p = obtain(deep, 0x00FF00);
  EXPECT_GE(p, 16);
  plat_release_pen(deep, p);
  plat_close_screen(deep);

  EXPECT_EQ(plat_open_screen(640, 480, 12, "x"), nullptr);
  EXPECT_EQ(plat_open_screen(0, 480, 8, "x"), nullptr);
}

TEST(Screens, ClosingAScreenWithAWindowOnItIsRefused) {
  PlatScreen* s = plat_open_screen(320, 200, 8, "Kavel Screen");
  ASSERT_NE(s, nullptr);
  PlatWindowSpec spec;
  spec.screen = s;
  spec.inner_width = 320;
  spec.inner_height = 200;
  spec.borderless = true;
  PlatWindow* w = plat_open_window(spec);
  ASSERT_NE(w, nullptr);
  plat_close_screen(s);  // refused: the window still uses it
  EXPECT_EQ(plat_window_screen(w), s);
  EXPECT_EQ(plat_screen_width(s), 320);
  plat_close_window(w);
  plat_close_screen(s);
}

TEST(Screens, DesktopSizeAndMissingDisplay) {
  plat_headless_set_desktop(1280, 720, 16);
  {
    DesktopLock d;
    ASSERT_NE(d.s, nullptr);
    EXPECT_EQ(plat_screen_width(d.s), 1280);
    EXPECT_EQ(plat_screen_height(d.s), 720);
    EXPECT_EQ(plat_screen_depth(d.s), 16);
  }
  plat_headless_set_desktop(1920, 1080, 24);

  plat_headless_set_display_available(false);
  PlatWindowSpec spec;
  EXPECT_EQ(plat_open_window(spec), nullptr);
  EXPECT_EQ(plat_lock_desktop_screen(), nullptr);
  EXPECT_EQ(plat_open_screen(640, 480, 8, "x"), nullptr);
  plat_headless_set_display_available(true);

  spec.inner_width = 0;
  EXPECT_EQ(plat_open_window(spec), nullptr);
  spec.inner_width = 10;
  PlatWindow* w = plat_open_window(spec);
  ASSERT_NE(w, nullptr);
  plat_close_window(w);
}

TEST(Windows, GeometryTitleActivationAndBeep) {
  PlatWindowSpec spec;
  spec.title = "first";
  spec.left = 100;
  spec.top = 50;
  spec.inner_width = 200;
  spec.inner_height = 120;
  PlatWindow* a = plat_open_window(spec);
  ASSERT_NE(a, nullptr);
  PlatWindowGeometry g = plat_window_geometry(a);
  EXPECT_EQ(g.left, 100);
  EXPECT_EQ(g.top, 50);
  EXPECT_EQ(g.width, 200);
  EXPECT_EQ(g.height, 120);
  EXPECT_EQ(g.border_left + g.border_top + g.border_right + g.border_bottom, 0);
  EXPECT_STREQ(plat_window_title(a), "first");
  plat_set_window_title(a, "Kavel - BBS");
  EXPECT_STREQ(plat_window_title(a), "Kavel - BBS");
  // A new window is an empty (pen 0) window and takes the input focus.
  EXPECT_EQ(plat_read_pixel(a, 199, 119), 0);
  PlatWindow* b = plat_open_window(spec);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(plat_window_is_active(b));
  EXPECT_FALSE(plat_window_is_active(a));
  plat_activate_window(a);
  EXPECT_TRUE(plat_window_is_active(a));
  EXPECT_FALSE(plat_window_is_active(b));

  EXPECT_EQ(plat_window_beep_count(a), 0);
  plat_display_beep(a);
  plat_display_beep(a);
  EXPECT_EQ(plat_window_beep_count(a), 2);
  EXPECT_EQ(plat_window_beep_count(b), 0);
  plat_close_window(b);
  plat_close_window(a);
}

TEST(Windows, PngSnapshotGoesThroughTheColourMap) {
  TempDir dir;
  DesktopLock d;
  PlatWindowSpec spec;
  spec.inner_width = 6;
  spec.inner_height = 3;
  PlatWindow* w = plat_open_window(spec);
  ASSERT_NE(w, nullptr);
  int red = obtain(d.s, 0xAA0000);
  int cyan = obtain(d.s, 0x55FFFF);
  plat_set_apen(w, red);
  plat_rect_fill(w, 0, 0, 5, 2);
  plat_set_apen(w, cyan);
  plat_rect_fill(w, 2, 1, 2, 1);
  ASSERT_EQ(plat_save_window_png(w, dir.file("w.png").c_str()), 0);
  int pw = 0, ph = 0;
  std::vector<uint8_t> rgb;
  ASSERT_EQ(png_read_rgb(dir.file("w.png").c_str(), &pw, &ph, &rgb), 0);
  ASSERT_EQ(pw, 6);
  ASSERT_EQ(ph, 3);
  auto at = [&](int x, int y) {
    size_t i = static_cast<size_t>(y * pw + x) * 3;
    return (uint32_t{rgb[i]} << 16) | (uint32_t{rgb[i + 1]} << 8) | rgb[i + 2];
  };
  EXPECT_EQ(at(0, 0), 0xAA0000u);
  EXPECT_EQ(at(2, 1), 0x55FFFFu);
  EXPECT_EQ(at(5, 2), 0xAA0000u);
  EXPECT_NE(plat_save_window_png(w, (dir.path() + "/missing/w.png").c_str()), 0);
  plat_release_pen(d.s, red);
  plat_release_pen(d.s, cyan);
  plat_close_window(w);
}

// --------------------------------------------------------------- fonts --

TEST(SystemFonts, DejaVuSansMonoOpensAtEveryTerminalHeight) {
  for (int h : {14, 16, 20, 22, 24}) {
    PlatFont* f = plat_open_font("DejaVu Sans Mono.font", h);
    ASSERT_NE(f, nullptr) << h;
    EXPECT_EQ(plat_font_height(f), h);
    EXPECT_GT(plat_font_baseline(f), h / 2);
    EXPECT_LE(plat_font_baseline(f), h);
    EXPECT_GE(plat_font_width(f), h / 3);
    EXPECT_LE(plat_font_width(f), h);
    plat_close_font(f);
  }
  for (const char* name : {"DejaVu Sans Mono", "dejavu sans mono.font"}) {
    PlatFont* f = plat_open_font(name, 16);
    EXPECT_NE(f, nullptr) << name;
    plat_close_font(f);
  }
}

TEST(SystemFonts, UnknownFamiliesAndMissingFilesFail) {
  for (const char* name : {"Kavel No Such Family.font", "Courier New.font_", ".font", "",
                           "PROGDIR:Fonts/none.font", "/nonexistent/x.ttf"}) {
    EXPECT_EQ(plat_open_font(name, 16), nullptr) << name;
  }
  EXPECT_EQ(plat_open_font(nullptr, 16), nullptr);
  EXPECT_EQ(plat_open_font("DejaVu Sans Mono.font", 0), nullptr);
}

class Text : public ::testing::Test {
 protected:
  void SetUp() override {
    PlatWindowSpec spec;
    spec.inner_width = 200;
    spec.inner_height = 60;
    w = plat_open_window(spec);
    font = plat_open_font("DejaVu Sans Mono.font", 20);
    ASSERT_NE(w, nullptr);
    ASSERT_NE(font, nullptr);
    plat_set_font(w, font);
  }
  void TearDown() override {
    plat_close_window(w);
    plat_close_font(font);
  }
  int count(int pen, int x0, int y0, int x1, int y1) const {
    int n = 0;
    for (int y = y0; y <= y1; y++)
      for (int x = x0; x <= x1; x++) n += plat_read_pixel(w, x, y) == pen;
    return n;
  }
  PlatWindow* w = nullptr;
  PlatFont* font = nullptr;
};

TEST_F(Text, Jam1DrawsOnlyForegroundInsideTheLineBox) {
  const int x = 10, base = 30;
  const int top = base - plat_font_baseline(font), bottom = top + plat_font_height(font) - 1;
  plat_set_drmd(w, PLAT_JAM1);
  plat_set_apen(w, 5);
  plat_set_bpen(w, 3);
  plat_move(w, x, base);
  // Accented capitals and descenders: the tallest and deepest Latin-1 glyphs.
  const char text[] = "gÉjÅ|";
  plat_text(w, text, 5);
  const int right = x + 5 * plat_font_width(font) - 1;
  EXPECT_GT(count(5, x, top, right, bottom), 20);
  EXPECT_EQ(count(3, 0, 0, 199, 59), 0);
  EXPECT_EQ(count(5, 0, 0, 199, 59), count(5, x, top, right, bottom));
}

TEST_F(Text, Jam2FillsTheCellBoxThenDrawsTheForeground) {
  const int x = 20, base = 40;
  const int top = base - plat_font_baseline(font), bottom = top + plat_font_height(font) - 1;
  const int cell = plat_font_width(font);
  plat_set_drmd(w, PLAT_JAM2);
  plat_set_apen(w, 5);
  plat_set_bpen(w, 3);
  plat_move(w, x, base);
  plat_text(w, "AM", 2);
  const int right = x + 2 * cell - 1;
  int fg = count(5, x, top, right, bottom);
  int bg = count(3, x, top, right, bottom);
  EXPECT_GT(fg, 20);
  EXPECT_EQ(fg + bg, 2 * cell * plat_font_height(font));
  EXPECT_EQ(count(0, 0, 0, 199, 59), 200 * 60 - fg - bg);
  // The pen moved on by the two advances: a space continues the line.
  plat_text(w, " ", 1);
  EXPECT_EQ(count(3, right + 1, top, right + cell, bottom), cell * plat_font_height(font));
}

// --------------------------------------------------------------- input --

TEST(Events, InjectedEventsComeOutInOrderOnTheirWindow) {
  PlatWindowSpec spec;
  PlatWindow* a = plat_open_window(spec);
  PlatWindow* b = plat_open_window(spec);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  PlatEvent e;
  EXPECT_EQ(plat_get_event(a, &e), 0);
  for (uint16_t c : {'a', 'b', 'c'}) {
    PlatEvent in;
    in.cls = PLAT_EV_VANILLAKEY;
    in.code = c;
    in.qualifier = PLAT_QUAL_LSHIFT;
    plat_inject_event(a, in);
  }
  PlatEvent move;
  move.cls = PLAT_EV_MOUSEMOVE;
  for (int16_t x : {1, 2, 3}) {
    move.x = x;
    plat_inject_event(a, move);
  }
  EXPECT_EQ(plat_get_event(b, &e), 0);
  std::string got;
  while (plat_get_event(a, &e) && e.cls == PLAT_EV_VANILLAKEY) {
    EXPECT_EQ(e.qualifier, PLAT_QUAL_LSHIFT);
    got += static_cast<char>(e.code);
  }
  EXPECT_EQ(got, "abc");
  // Consecutive pointer moves collapse into the latest position.
  EXPECT_EQ(e.cls, PLAT_EV_MOUSEMOVE);
  EXPECT_EQ(e.x, 3);
  EXPECT_EQ(plat_get_event(a, &e), 0);
  plat_close_window(b);
  plat_close_window(a);
}

TEST(Events, QueueOfAnUnreadWindowIsBounded) {
  PlatWindowSpec spec;
  PlatWindow* w = plat_open_window(spec);
  ASSERT_NE(w, nullptr);
  PlatEvent in;
  in.cls = PLAT_EV_RAWKEY;
  for (int i = 0; i < 100000; i++) {
    in.code = static_cast<uint16_t>(i & 0x7F);
    plat_inject_event(w, in);
  }
  int n = 0;
  PlatEvent e;
  while (plat_get_event(w, &e)) n++;
  EXPECT_GT(n, 0);
  EXPECT_LT(n, 100000);
  EXPECT_EQ(e.code, (100000 - 1) & 0x7F);  // the newest events are kept
  plat_close_window(w);
}

TEST(Events, WaitSleepsForItsTimeOutAndWakesForAnEvent) {
  PlatWindowSpec spec;
  PlatWindow* w = plat_open_window(spec);
  ASSERT_NE(w, nullptr);
  using Clock = std::chrono::steady_clock;
  auto ms_since = [](Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
  };
  auto t0 = Clock::now();
  EXPECT_EQ(plat_wait_event(w, 60), 0);
  EXPECT_GE(ms_since(t0), 60);
  EXPECT_LT(ms_since(t0), 600);
  t0 = Clock::now();
  EXPECT_EQ(plat_wait_event(w, 1500), 0);  // an explicit time-out is not shortened
  EXPECT_GE(ms_since(t0), 1500);
  t0 = Clock::now();
  EXPECT_EQ(plat_wait_event(w, -1), 0);  // "for ever" is bounded when headless
  EXPECT_GE(ms_since(t0), 1000);
  EXPECT_LT(ms_since(t0), 3000);

  PlatEvent close;
  close.cls = PLAT_EV_CLOSE;
  plat_inject_event(w, close);
  t0 = Clock::now();
  EXPECT_EQ(plat_wait_event(w, 5000), 1);
  EXPECT_LT(ms_since(t0), 50);

  PlatEvent e;
  ASSERT_EQ(plat_get_event(w, &e), 1);
  std::thread typist([w] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    PlatEvent key;
    key.cls = PLAT_EV_VANILLAKEY;
    key.code = 13;
    plat_inject_event(w, key);
  });
  t0 = Clock::now();
  EXPECT_EQ(plat_wait_event(w, 5000), 1);
  EXPECT_LT(ms_since(t0), 900);
  typist.join();
  ASSERT_EQ(plat_get_event(w, &e), 1);
  EXPECT_EQ(e.code, 13);
  plat_close_window(w);
}

}  // namespace
