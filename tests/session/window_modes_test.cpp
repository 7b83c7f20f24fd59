// A PETSCII session's terminal across window-mode changes and the 40-column
// scale toggle, on the headless desktop with the real C64 glyph files: the
// character set the BBS chose stays on screen, the grid survives, and the
// scale toggle keeps to full screen, 40 columns and the room it has.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/renderer.h"
#include "display/surface.h"
#include "platform/display.h"
#include "session/input.h"
#include "session/session.h"
#include "session/session_loop.h"
#include "support/open_window.h"
#include "support/test_support.h"
#include "terminal/terminal.h"

namespace {

enum Mode { kWindow = 0, kMedium = 1, kFull = 2 };

class C64Session : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_globals();
    session_init(&s_);
    s_.petscii = 1;
    term_init_record(t_.get());
  }
  void TearDown() override {
    s_.terminal = nullptr;
    term_close(t_.get());
    plat_headless_set_desktop(1920, 1080, 24);
    reset_globals();
  }
  static void reset_globals() {
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    g_screen_w = 640;
    g_screen_h = 480;
    g_fullscreen_scale = 1;
    g_c64_40_dynamic_scale = 1;
    g_runtime_top_bar_enabled = 1;
    g_next_window_pos_valid = 0;
    set_active_font("CP437");
  }

  // Opens the terminal as the session start does for this font and mode.
  bool open(Mode mode, const char* font, int petscii = 1) {
    set_active_font(font);
    bool forty = !c64_font_uses_80_columns(g_active_font);
    if (forty) g_c64_40_dynamic_scale = mode == kMedium ? 3 : 2;
    display_set_window_mode((mode == kFull)     ? DISPLAY_MODE_FULLSCREEN
                            : (mode == kMedium) ? DISPLAY_MODE_MEDIUM
                                                : DISPLAY_MODE_WINDOW);
    if (test_term_open(t_.get(), "Kavel - c64", petscii) != 0) return false;
    term_clear_screen(t_.get());
    s_.terminal = t_.get();
    return true;
  }

  void feed(std::initializer_list<int> codes) {
    for (int c : codes) session_data_byte(&s_, static_cast<uint8_t>(c));
  }

  // Whether the loaded glyphs are those of the named C64 file.
  static bool glyphs_are(const char* file) {
    std::vector<unsigned char> want = read_file_bytes(binary_path(std::string("Fonts/") + file));
    return want.size() == 2048 && g_bitmap_font.valid && g_bitmap_font.height == 8 &&
           memcmp(g_bitmap_font.glyphs, want.data(), want.size()) == 0;
  }

  Session s_;
  std::unique_ptr<Terminal> t_ = std::make_unique<Terminal>();
};

TEST_F(C64Session, CharacterSetTheBbsChoseSurvivesEveryModeChange) {
  ASSERT_TRUE(open(kWindow, kFontC64UpGfx40));
  ASSERT_TRUE(glyphs_are("c64_upper.f8"));
  // Lower case, then "Hi" in red with a reversed "!".
  feed({14, 28, 0xC8, 0x49, 18, '!'});
  ASSERT_EQ(t_->petscii_lower, 1);
  ASSERT_TRUE(glyphs_are("c64_lower.f8"));
  Cell before[kTermRows][kTermCols];
  memcpy(before, t_->cells, sizeof before);

  struct Step {
    Mode mode;
    int inner_w, inner_h, scale;
  } steps[] = {
      {kMedium, 960, 600, 3},  // 40 columns in the medium window: 960 x 600
      {kFull, 1920, 1080, 4},  // full screen doubles 40 columns: 2 x 2
      {kWindow, 640, 400, 2},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.mode);
    ASSERT_EQ(session_apply_window_mode(&s_, nullptr, "Kavel - c64", step.mode), 0);
    EXPECT_EQ(plat_window_inner_width(t_->window), step.inner_w);
    EXPECT_EQ(plat_window_inner_height(t_->window), step.inner_h);
    EXPECT_EQ(t_->bitmap_scale, step.scale);
    EXPECT_EQ(t_->petscii_lower, 1);
    EXPECT_TRUE(glyphs_are("c64_lower.f8"));
    EXPECT_EQ(g_bitmap_font.scale, step.scale);
    EXPECT_EQ(memcmp(before, t_->cells, sizeof before), 0);
    EXPECT_EQ(t_->reverse, 1);  // the attributes carried across as well
    EXPECT_EQ(t_->fg, 4);
  }
  // Back to the font's own set: the glyph file follows again.
  feed({142});
  EXPECT_TRUE(glyphs_are("c64_upper.f8"));
}

TEST_F(C64Session, ModeChangeKeepsEverythingButTheSurface) {
  s_.petscii = 0;
  ASSERT_TRUE(open(kWindow, kFontCP437, 0));
  Terminal* t = t_.get();
  // State that term_open would reset, each field with a value of its own.
  feed({'x', 27, '7', 27, '(', '0', 27, '[', '3', '1'});  // saved cursor, DEC set, ESC [ 31 pending
  t->cursor_enabled = 1;
  t->bold = 1;
  t->last_bell_ms = 4242;
  t->bell_rung = 1;
  t->reply_socket = 17;
  ScrollbackRing ring{};
  t->scrollback = &ring;
  t->connect_start = 1234567;
  strcpy(t->status_text, "Board");
  auto before = std::make_unique<Terminal>();
  memcpy(static_cast<void*>(before.get()), static_cast<const void*>(t), sizeof *t);

  for (Mode mode : {kMedium, kFull, kWindow}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(session_apply_window_mode(&s_, nullptr, "Kavel - ansi", mode), 0);
    EXPECT_EQ(t->fullscreen, mode == kFull ? 1 : 0);
    EXPECT_EQ(t->medium_window, mode == kMedium ? 1 : 0);
    EXPECT_NE(t->window, nullptr);
    // Everything that is not the binding came through unchanged, field by
    // field and, for fields a test does not name, byte for byte.
    EXPECT_EQ(t->saved_col, 1);
    EXPECT_EQ(t->bold, 1);
    EXPECT_EQ(t->cursor_enabled, 1);
    EXPECT_EQ(t->cursor_drawn, 1);  // shown on the new surface at once
    EXPECT_EQ(t->dec_line_drawing, 1);
    EXPECT_EQ(t->ansi_state, ANSI_CSI);
    EXPECT_EQ(std::string(t->seq_buf, t->seq_len), "31");
    EXPECT_EQ(t->last_bell_ms, 4242u);
    EXPECT_EQ(t->reply_socket, 17);
    EXPECT_EQ(t->scrollback, &ring);
    EXPECT_EQ(t->connect_start, 1234567);
    EXPECT_STREQ(t->status_text, "Board");
    const auto* now = reinterpret_cast<const unsigned char*>(t);
    const auto* was = reinterpret_cast<const unsigned char*>(before.get());
    EXPECT_EQ(memcmp(now + sizeof(TermBinding), was + sizeof(TermBinding),
                     sizeof(Terminal) - sizeof(TermBinding)),
              0);
  }
  t->scrollback = nullptr;
}

TEST_F(C64Session, FortyColumnScaleToggleInFullScreen) {
  plat_headless_set_desktop(1920, 1080, 24);
  ASSERT_TRUE(open(kFull, kFontC64LowUp40));
  ASSERT_EQ(g_fullscreen_scale, 2);
  ASSERT_EQ(t_->bitmap_scale, 4);
  feed({142});  // the BBS picks the upper-case set of a lower-case font
  ASSERT_TRUE(glyphs_are("c64_upper.f8"));

  struct {
    int scale, cell;
  } expected[] = {{2, 16}, {4, 32}, {2, 16}};
  for (const auto& e : expected) {
    session_toggle_c64_40_scale(&s_);
    EXPECT_EQ(t_->bitmap_scale, e.scale);
    EXPECT_EQ(t_->cell_w, e.cell);
    EXPECT_EQ(t_->cell_h, e.cell);
    EXPECT_EQ(g_c64_40_dynamic_scale, e.scale == 4 ? 2 : 1);
    EXPECT_TRUE(glyphs_are("c64_upper.f8"));
    EXPECT_EQ(g_bitmap_font.scale, e.scale);
    // The grid stays centred across the 1920-pixel screen.
    EXPECT_EQ(t_->origin_x, (1920 - 40 * e.cell) / 2);
  }

  // Without the room for the doubled grid (and the status bar) nothing changes.
  g_screen_h = 800;
  session_toggle_c64_40_scale(&s_);
  EXPECT_EQ(t_->bitmap_scale, 2);
  EXPECT_TRUE(glyphs_are("c64_upper.f8"));
  g_runtime_top_bar_enabled = 0;
  t_->top_bar = 0;
  session_toggle_c64_40_scale(&s_);
  EXPECT_EQ(t_->bitmap_scale, 4);  // 800 rows hold 25 x 32 without the bar
}

TEST_F(C64Session, ScaleToggleLeavesOtherTerminalsAlone) {
  struct {
    const char* name;
    Mode mode;
    const char* font;
    int petscii;
  } cases[] = {
      {"40 columns in a window", kWindow, kFontC64UpGfx40, 1},
      {"40 columns in the medium window", kMedium, kFontC64UpGfx40, 1},
      {"80 columns in full screen", kFull, kFontC64UpGfx80, 1},
      {"an ANSI session in full screen", kFull, kFontCP437, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    s_.petscii = c.petscii;
    ASSERT_TRUE(open(c.mode, c.font, c.petscii));
    int scale = t_->bitmap_scale, cell_w = t_->cell_w, dynamic = g_c64_40_dynamic_scale;
    session_toggle_c64_40_scale(&s_);
    EXPECT_EQ(t_->bitmap_scale, scale);
    EXPECT_EQ(t_->cell_w, cell_w);
    EXPECT_EQ(g_c64_40_dynamic_scale, dynamic);
    s_.terminal = nullptr;
    term_close(t_.get());
    reset_globals();
  }
}

}  // namespace
