// The full-screen status bar: its texts, its layout against the clock, the
// once-a-second update, and golden images of the whole bar.
#include "display/statusbar.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/surface.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "support/golden_image.h"
#include "support/open_window.h"
#include "support/test_support.h"
#include "terminal/terminal.h"
#include "util/text.h"

namespace {

constexpr int64_t kHour = 3600;

std::tm clock_at(int hour, int minute) {
  std::tm tm{};
  tm.tm_hour = hour;
  tm.tm_min = minute;
  return tm;
}

std::string duration_of(int64_t seconds_ago) {
  Terminal t{};
  t.connect_start = clock_epoch_seconds() - seconds_ago;
  char out[kStatusTimeText];
  term_connected_duration_string(&t, out);
  return out;
}

TEST(StatusTexts, TwelveHourClock) {
  struct Case {
    int hour, minute;
    const char* text;
  };
  const Case cases[] = {
      {13, 5, "1:05 PM"},   {0, 30, "12:30 AM"}, {12, 0, "12:00 PM"},
      {11, 59, "11:59 AM"}, {23, 9, "11:09 PM"}, {1, 0, "1:00 AM"},
  };
  for (const Case& c : cases) {
    std::tm tm = clock_at(c.hour, c.minute);
    char out[kStatusTimeText];
    format_time_12(&tm, out);
    EXPECT_STREQ(out, c.text) << c.hour << ":" << c.minute;
  }
  char out[kStatusTimeText];
  format_time_12(nullptr, out);
  EXPECT_STREQ(out, "--:-- --");
}

TEST(StatusTexts, ConnectedDuration) {
  clock_test_set_ms(1000);  // freezes the wall clock for the whole test
  EXPECT_EQ(duration_of(26 * kHour + 3 * 60 + 4), "26:03:04");  // 1 day 2:03:04
  EXPECT_EQ(duration_of(59), "00:00:59");
  EXPECT_EQ(duration_of(0), "00:00:00");
  EXPECT_EQ(duration_of(-10), "00:00:00");  // a start in the future
  EXPECT_EQ(duration_of(100 * kHour + 5), "100:00:05");

  Terminal unknown{};
  unknown.connect_start = 0;
  char out[kStatusTimeText];
  term_connected_duration_string(&unknown, out);
  EXPECT_STREQ(out, "00:00:00");
  // However long ago, the text stays within its capacity.
  unknown.connect_start = INT64_MIN + 1;
  term_connected_duration_string(&unknown, out);
  EXPECT_LT(strlen(out), kStatusTimeText);
  clock_test_reset();
}

TEST(StatusTexts, TitleCutsTheNameTo23Characters) {
  clock_test_set_ms(1000);
  Terminal t{};
  t.connect_start = clock_epoch_seconds() - 65;
  char title[128];
  term_session_status_title(&t, title, sizeof title);
  EXPECT_STREQ(title, "Kavel v0.20 - Connected to Kavel for 00:01:05");

  safe_copy(t.status_text, sizeof t.status_text, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123");  // 30
  term_session_status_title(&t, title, sizeof title);
  EXPECT_STREQ(title, "Kavel v0.20 - Connected to ABCDEFGHIJKLMNOPQRSTUVW for 00:01:05");
  // Over SSH, TLS or RLogin the kind follows the (cut) name; Telnet shows none.
  term_status_set_link_kind("RLogin");
  term_session_status_title(&t, title, sizeof title);
  EXPECT_STREQ(title, "Kavel v0.20 - Connected to ABCDEFGHIJKLMNOPQRSTUVW (RLogin) for 00:01:05");
  term_status_set_link_kind("");
  term_session_status_title(&t, title, sizeof title);
  EXPECT_STREQ(title, "Kavel v0.20 - Connected to ABCDEFGHIJKLMNOPQRSTUVW for 00:01:05");
  clock_test_reset();
}

// A full-screen terminal with the bar on, a fixed clock and connection time.
class StatusBar : public ::testing::Test {
 protected:
  void SetUp() override {
    display_set_window_mode(DISPLAY_MODE_FULLSCREEN);
    g_runtime_top_bar_enabled = 1;
    set_active_font("CP437");
    clock_test_set_ms(5000);
    set_clock(13, 5);
    t_ = std::make_unique<Terminal>();
    term_init_record(t_.get());
  }
  void TearDown() override {
    term_close(t_.get());
    statusbar_test_set_local_time(nullptr);
    clock_test_reset();
    plat_headless_set_desktop(1920, 1080, 24);
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    g_runtime_top_bar_enabled = 1;
    set_active_font("CP437");
  }

  void set_clock(int hour, int minute) {
    std::tm tm = clock_at(hour, minute);
    statusbar_test_set_local_time(&tm);
  }

  void open(int desk_w, int desk_h, const char* name, int64_t seconds_ago) {
    plat_headless_set_desktop(desk_w, desk_h, 24);
    ASSERT_EQ(test_term_open(t_.get(), "Kavel", petscii_), 0);
    ASSERT_EQ(t_->top_bar, 1);
    safe_copy(t_->status_text, sizeof t_->status_text, name);
    t_->connect_start = clock_epoch_seconds() - seconds_ago;
  }

  Terminal* t() { return t_.get(); }
  PlatWindow* w() { return t_->window; }

  // Covers the bar's strip in red (palette 4) to see what is drawn over it.
  void paint_bar_red() {
    plat_set_apen(w(), t_->pens[4]);
    plat_rect_fill(w(), 0, 0, 639, 15);
  }

  std::vector<uint8_t> pens(int x0, int y0, int width, int height) {
    std::vector<uint8_t> out;
    for (int y = y0; y < y0 + height; y++)
      for (int x = x0; x < x0 + width; x++)
        out.push_back(static_cast<uint8_t>(plat_read_pixel(w(), x, y)));
    return out;
  }

  std::unique_ptr<Terminal> t_;
  int petscii_ = 0;  // the next open is a PETSCII terminal
};

TEST_F(StatusBar, Metrics) {
  open(1920, 1080, "BBS", 0);
  EXPECT_EQ(term_session_status_cell_w(t()), 16);
  EXPECT_EQ(term_session_status_cell_h(t()), 32);
  EXPECT_EQ(term_session_status_x0(t()), (1920 - 1280) / 2);

  // Outside full screen the terminal's own cells, 10 x 20 when unset.
  Terminal plain{};
  plain.origin_x = 33;
  EXPECT_EQ(term_session_status_cell_w(&plain), 10);
  EXPECT_EQ(term_session_status_x0(&plain), 33);
  EXPECT_EQ(term_session_status_cell_h(&plain), 20);
}

TEST_F(StatusBar, GoldenBarAtScaleOneAndIconAtScaleTwo) {
  open(640, 480, "Kavel Test BBS", 26 * kHour + 3 * 60 + 4);
  term_draw_session_status(t());
  golden::expect_golden("statusbar_scale1", w(), 0, 0, 640, 16);

  term_close(t());
  set_clock(0, 30);
  open(1920, 1080, "Harbour Lights", 59);
  term_draw_session_status(t());
  // The right end of the bar: clock, separator and depth icon.
  golden::expect_golden("statusbar_icon_scale2", w(), 320 + 66 * 16, 0, 14 * 16, 32);
}

TEST_F(StatusBar, DrawingLeavesTheTerminalFontAlone) {
  display_set_window_mode(DISPLAY_MODE_FULLSCREEN);
  set_active_font("C64 Up/GFX [80]");
  petscii_ = 1;
  open(1920, 1080, "BBS", 10);
  ASSERT_EQ(t()->bitmap_kind, BITMAP_KIND_C64);
  auto before = std::make_unique<BitmapFont>(g_bitmap_font);
  term_draw_session_status(t());
  term_draw_session_elapsed_status(t());
  EXPECT_EQ(std::memcmp(before.get(), &g_bitmap_font, sizeof(BitmapFont)), 0);
  // The bar text really came from the CP437 file: black glyph pixels.
  std::vector<uint8_t> bar = pens(term_session_status_x0(t()), 0, 640 * 2, 32);
  EXPECT_NE(std::count(bar.begin(), bar.end(), 0), 0);
}

TEST_F(StatusBar, TitleGivesWayToTheClock) {
  // Over a million hours of connection make the title 68 characters long;
  // with an 8-character clock there is room for 67.
  const char* name = "ABCDEFGHIJKLMNOPQRSTUVW";  // 23 characters
  open(640, 480, name, 1'200'000 * kHour);
  set_clock(0, 30);
  char title[128];
  term_session_status_title(t(), title, sizeof title);
  ASSERT_EQ(strlen(title), 68u);
  term_draw_session_status(t());

  const int sw = 8;
  const int cx = 80 * sw - 3 * sw - 8 * sw;  // the clock's left edge
  // References drawn lower down the screen in the same cells.
  term_draw_cp437_status_text(t(), cx, 100, "12:30 AM", 8);
  term_draw_cp437_status_text(t(), sw, 200, title, 67);
  EXPECT_EQ(pens(cx, 0, 8 * sw, 16), pens(cx, 100, 8 * sw, 16)) << "clock";
  EXPECT_EQ(pens(sw, 0, 67 * sw, 16), pens(sw, 200, 67 * sw, 16)) << "title";
  // The cell between the cut title and the clock is plain grey.
  std::vector<uint8_t> gap = pens(cx - sw, 0, sw, 16);
  EXPECT_EQ(std::count(gap.begin(), gap.end(), 7), static_cast<long>(gap.size()));
}

// While a capture runs "CAP" stands before the clock (within the same
// second too: the flag is part of what was painted), and goes with it.
TEST_F(StatusBar, CaptureFlagBeforeTheClock) {
  open(640, 480, "BBS", 5);
  set_clock(0, 30);
  term_draw_session_status(t());
  const int sw = 8;
  const int cap = 80 * sw - 3 * sw - 13 * sw;  // "CAP  12:30 AM" ends where the clock did
  const std::vector<uint8_t> without = pens(0, 0, 640, 16);
  term_status_set_capture(t(), 1);
  EXPECT_EQ(term_status_capture(), 1);
  term_draw_cp437_status_text(t(), cap, 100, "CAP  12:30 AM", 13);
  EXPECT_EQ(pens(cap, 0, 13 * sw, 16), pens(cap, 100, 13 * sw, 16));
  term_status_set_capture(t(), 0);
  EXPECT_EQ(pens(0, 0, 640, 16), without);
}

TEST_F(StatusBar, ElapsedUpdateMatchesAFullRedraw) {
  struct Case {
    const char* name;
    int64_t seconds_ago;
  };
  const Case cases[] = {
      {"Kavel Test BBS", 26 * kHour + 3 * 60 + 4},
      {"", 59},
      {"ABCDEFGHIJKLMNOPQRSTUVW", 9 * kHour + 59 * 60 + 59},
      // Past 100 hours the time has nine characters; the update must still
      // move the last digit.
      {"Long Haul", 100 * kHour + 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    open(640, 480, c.name, c.seconds_ago);
    term_draw_session_status(t());
    clock_test_advance_ms(1000);
    term_draw_session_elapsed_status(t());
    std::vector<uint8_t> updated = pens(0, 0, 640, 16);
    term_draw_session_status(t());
    EXPECT_EQ(updated, pens(0, 0, 640, 16));
    term_close(t());
  }
}

TEST_F(StatusBar, ElapsedUpdateStopsAtTheRightLimit) {
  // Prefix 55 characters, time 13: only 12 fit before column 69.
  open(640, 480, "ABCDEFGHIJKLMNOPQRSTUVW", 1'200'000 * kHour);
  const int sw = 8;
  paint_bar_red();
  term_draw_session_elapsed_status(t());
  std::vector<uint8_t> before_time = pens(0, 0, 56 * sw, 16);
  std::vector<uint8_t> time = pens(56 * sw, 0, 12 * sw, 16);
  std::vector<uint8_t> after_time = pens(68 * sw, 0, 12 * sw, 16);
  EXPECT_EQ(std::count(before_time.begin(), before_time.end(), 4),
            static_cast<long>(before_time.size()));
  EXPECT_EQ(std::count(after_time.begin(), after_time.end(), 4),
            static_cast<long>(after_time.size()));
  EXPECT_EQ(std::count(time.begin(), time.end(), 4), 0);
}

TEST_F(StatusBar, NothingIsDrawnWithoutTheBarOrWhileSuppressed) {
  open(640, 480, "BBS", 10);
  paint_bar_red();
  std::vector<uint8_t> red = pens(0, 0, 640, 16);
  t()->top_bar = 0;
  term_draw_session_status(t());
  term_draw_cp437_status_text(t(), 0, 0, "ABC", 3);
  t()->top_bar = 1;
  t()->drawing_suppressed = 1;
  term_draw_session_elapsed_status(t());
  EXPECT_EQ(pens(0, 0, 640, 16), red);
  t()->drawing_suppressed = 0;
  term_draw_session_status(t());
  EXPECT_NE(pens(0, 0, 640, 16), red);
}

TEST_F(StatusBar, MissingGlyphFileLeavesAPlainGreyStripWithTheIcon) {
  open(640, 480, "Kavel Test BBS", 10);
  ASSERT_EQ(t()->bitmap_kind, BITMAP_KIND_CP437);
  auto before = std::make_unique<BitmapFont>(g_bitmap_font);
  // No font drawer anywhere: not beside the program, not in the current
  // directory.
  TempDir empty;
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(empty.path().c_str()), 0);
  fonts_test_set_progdir_override(empty.path().c_str());
  bitmap_font_cache_reset();

  term_draw_session_status(t());
  std::vector<uint8_t> text_part = pens(0, 0, 77 * 8, 16);
  std::vector<uint8_t> icon_part = pens(77 * 8, 0, 3 * 8, 16);
  // The terminal's own glyphs survive the failed look-up.
  bool font_kept = std::memcmp(before.get(), &g_bitmap_font, sizeof(BitmapFont)) == 0;

  fonts_test_set_progdir_override(nullptr);
  bitmap_font_cache_reset();
  ASSERT_EQ(chdir(cwd), 0);

  EXPECT_EQ(std::count(text_part.begin(), text_part.end(), 7), static_cast<long>(text_part.size()));
  EXPECT_GT(std::count(icon_part.begin(), icon_part.end(), 0), 20);
  EXPECT_TRUE(font_kept);
}

TEST_F(StatusBar, ABarAskedForAgainShowsWhatAFullRepaintShows) {
  // The terminal asks for the bar after every scroll.  Whatever happened
  // in between, the bar must then show what painting it from scratch shows.
  struct Case {
    const char* what;
    void (*between)(Terminal* t);
    bool changes_the_bar;  // the bar is not the one painted before
    bool clock_set_by_test = false;
  };
  static const uint8_t kBlock[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const Case cases[] = {
      {"nothing", [](Terminal*) {}, false},
      {"a scroll of the grid", [](Terminal* t) { term_scroll_up(t); }, false},
      {"a fill over part of it",
       [](Terminal* t) {
         plat_set_apen(t->rport, t->pens[4]);
         plat_rect_fill(t->rport, 400, 3, 420, 40);
       },
       false},
      {"a glyph over the depth icon",
       [](Terminal* t) { plat_draw_glyph(t->rport, 1560, 0, kBlock, 16, 2, t->pens[4], -1); },
       false},
      {"the elapsed time, a second later",
       [](Terminal* t) {
         clock_test_advance_ms(1000);
         term_draw_session_elapsed_status(t);
       },
       true},
      {"the elapsed time, in the same second",
       [](Terminal* t) { term_draw_session_elapsed_status(t); }, false},
      {"a second later", [](Terminal*) { clock_test_advance_ms(1000); }, true},
      {"another BBS name",
       [](Terminal* t) { safe_copy(t->status_text, sizeof t->status_text, "Other Board"); }, true},
      {"another connect time", [](Terminal* t) { t->connect_start -= 60; }, true},
      {"another minute on the clock",
       [](Terminal*) {
         std::tm tm = clock_at(13, 6);
         statusbar_test_set_local_time(&tm);
       },
       true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.clock_set_by_test) statusbar_test_set_local_time(nullptr);
    open(1920, 1080, "Kavel Test BBS", 3 * kHour);
    const int x0 = term_session_status_x0(t());
    term_draw_session_status(t());
    const std::vector<uint8_t> painted = pens(x0, 0, 1280, 32);
    c.between(t());
    term_draw_session_status(t());
    const std::vector<uint8_t> again = pens(x0, 0, 1280, 32);
    // From scratch: with the whole strip painted over first.
    plat_set_apen(w(), t()->pens[4]);
    plat_rect_fill(w(), 0, 0, 1919, 31);
    term_draw_session_status(t());
    const std::vector<uint8_t> scratch = pens(x0, 0, 1280, 32);
    EXPECT_EQ(again, scratch);
    EXPECT_EQ(painted != scratch, c.changes_the_bar);
    term_close(t());
    set_clock(13, 5);
    clock_test_set_ms(5000);
  }
}

}  // namespace
