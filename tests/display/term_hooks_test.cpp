// The terminal's drawing through the display's hooks where it matters most
// for speed: a full screen wider than the grid, scrolled line after line
// while text, the cursor and the status bar are drawn between the scrolls
// as a session draws them.  The whole screen is compared with golden images,
// pixel for pixel, so the outer columns beside the grid are checked too.
#include "display/term_hooks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "display/modes.h"
#include "display/renderer.h"
#include "display/statusbar.h"
#include "display/surface.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "support/golden_image.h"
#include "support/open_window.h"
#include "terminal/active_font.h"
#include "terminal/petscii.h"
#include "terminal/terminal.h"
#include "util/text.h"

namespace {

// Lines of coloured text, some wrapping at the right edge, some erased to
// the end, CP437 shades and blocks, and now and then the cursor sent up to
// overwrite an earlier line: 70 lines, so the grid scrolls about 50 times.
std::string ansi_stream() {
  std::string s = "\x1b[0m\x1b[2J\x1b[H";
  for (int n = 0; n < 70; n++) {
    s += "\x1b[1;3" + std::to_string(1 + n % 7) + "m" + std::to_string(100000 + n * 37);
    s += " \x1b[0;3" + std::to_string((n + 3) % 8) + ";4" + std::to_string(n % 8) + "m";
    s += " The quick brown fox jumps over the lazy dog \xb0\xb1\xb2\xdb\xdd\xde ";
    if (n % 9 == 4) s += "and keeps running past the right edge of the screen, wrapping.";
    s += "\x1b[0m";
    if (n % 5 == 2) s += "\x1b[44m\x1b[K";
    if (n % 11 == 7) s += "\x1b[3A\x1b[20C\x1b[1;33mOVERWRITTEN\x1b[0m\x1b[3B";
    s += "\r\n";
  }
  s += "\x1b[1;37mlast line, cursor after it";
  return s;
}

// The same for a Commodore 64 board in 40 columns: colours, reverse video,
// graphics characters.
std::string petscii_stream() {
  const char colours[] = {0x1C,
                          0x1E,
                          0x1F,
                          0x05,
                          static_cast<char>(0x9E),
                          static_cast<char>(0x9F),
                          static_cast<char>(0x9C),
                          static_cast<char>(0x81)};
  std::string s = "\x93";
  for (int n = 0; n < 60; n++) {
    s += colours[n % 8];
    if (n % 3 == 0) s += '\x12';
    s += "LINE " + std::to_string(1000 + n) + " ";
    s += '\x92';
    for (int k = 0; k < 6 + n % 20; k++) s += static_cast<char>(0xA0 + (n + k) % 32);
    s += '\r';
  }
  return s;
}

class FullScreenScroll : public ::testing::Test {
 protected:
  void SetUp() override {
    plat_headless_set_desktop(1920, 1080, 24);
    display_set_window_mode(DISPLAY_MODE_FULLSCREEN);
    g_runtime_top_bar_enabled = 1;
    clock_test_set_ms(5000);
    std::tm tm{};
    tm.tm_hour = 21;
    tm.tm_min = 47;
    statusbar_test_set_local_time(&tm);
    t_ = std::make_unique<Terminal>();
    term_init_record(t_.get());
  }
  void TearDown() override {
    term_close(t_.get());
    statusbar_test_set_local_time(nullptr);
    clock_test_reset();
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    set_active_font("CP437");
  }

  // Opens the terminal as a session does, then feeds the stream byte by
  // byte, with the cursor blink and the status bar's time served every
  // 512 bytes (a session's read) and a second passing half way.
  void run(const char* font, bool petscii, const std::string& stream) {
    set_active_font(font);
    ASSERT_EQ(test_term_open(t_.get(), "Kavel", petscii ? 1 : 0), 0);
    Terminal* t = t_.get();
    ASSERT_TRUE(t->fullscreen && t->top_bar);
    safe_copy(t->status_text, sizeof t->status_text, "Kavel Test BBS");
    t->connect_start = clock_epoch_seconds() - 3725;
    t->cursor_enabled = 1;
    term_draw_session_status(t);
    for (size_t i = 0; i < stream.size(); i++) {
      if (petscii) {
        petscii_consume_byte(t, static_cast<uint8_t>(stream[i]));
      } else {
        term_consume_byte(t, static_cast<uint8_t>(stream[i]));
      }
      if (i % 512 == 511) {
        term_draw_session_elapsed_status(t);
        term_update_cursor_blink(t);
      }
      if (i == stream.size() / 2) clock_test_advance_ms(1000);
    }
    term_draw_session_elapsed_status(t);
    term_update_cursor_blink(t);
  }

  std::unique_ptr<Terminal> t_;
};

TEST_F(FullScreenScroll, AnsiGridCentredOnTheScreen) {
  run("CP437", false, ansi_stream());
  ASSERT_EQ(t_->origin_x, 320);
  golden::expect_golden("fullscreen_scroll_ansi", t_->window, 0, 0, 1920, 1080);
}

TEST_F(FullScreenScroll, Petscii40ColumnsCentredOnTheScreen) {
  run("C64 Up/GFX [40]", true, petscii_stream());
  golden::expect_golden("fullscreen_scroll_petscii40", t_->window, 0, 0, 1920, 1080);
}

}  // namespace
