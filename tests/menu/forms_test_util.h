// Shared set-up of the form tests: a menu display in the headless window,
// injected key events, waits that give up quickly when a test runs out of
// input, and the confirmation pause shortened.
#pragma once
#include <gtest/gtest.h>

#include <ctime>
#include <vector>

#include "display/modes.h"
#include "display/statusbar.h"
#include "display/ui_surface.h"
#include "menu/line_edit.h"
#include "menu/ui_draw.h"
#include "menu/ui_input.h"
#include "platform/clipboard.h"
#include "platform/display.h"
#include "support/events.h"
#include "support/golden_image.h"

namespace forms_test {

inline PlatEvent alt(char letter) {
  return vanilla(static_cast<uint16_t>(letter), PLAT_QUAL_LALT);
}
inline const PlatEvent kUp = raw(RAWKEY_UP);
inline const PlatEvent kDown = raw(RAWKEY_DOWN);
inline const PlatEvent kLeft = raw(RAWKEY_LEFT);
inline const PlatEvent kRight = raw(RAWKEY_RIGHT);
inline const PlatEvent kHome = raw(RAWKEY_HOME);
inline const PlatEvent kEnd = raw(RAWKEY_END);
inline const PlatEvent kReturn = vanilla(13);
inline const PlatEvent kEscape = vanilla(27);
inline const PlatEvent kBackspace = vanilla(8);
inline const PlatEvent kDelete = vanilla(127);

// Events typing a text.
inline std::vector<PlatEvent> typed(const char* text) {
  std::vector<PlatEvent> out;
  for (const char* p = text; *p; p++) out.push_back(vanilla(static_cast<uint8_t>(*p)));
  return out;
}

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    g_runtime_top_bar_enabled = 1;
    std::tm noon{};
    noon.tm_hour = 12;
    statusbar_test_set_local_time(&noon);
    ui_input_reset();
    g_ui_wait_idle_limit = 1;
    g_ui_form_idle_ticks = 2;
    g_ui_saved_feedback_ticks = 0;
    plat_headless_set_clipboard_available(true);
    plat_clipboard_set_charset(CHARSET_CP437);
    plat_headless_clipboard_set_nontext();
    ASSERT_EQ(ui_open_menu(&ui, "Kavel"), 0);
    ui_invalidate_menu_caches();
  }
  void TearDown() override {
    ui_close(&ui);
    statusbar_test_set_local_time(nullptr);
    g_ui_wait_idle_limit = 0;
    g_ui_form_idle_ticks = 0;
    g_ui_saved_feedback_ticks = 50;
    plat_headless_clipboard_set_nontext();
    display_set_window_mode(DISPLAY_MODE_WINDOW);
  }
  void inject(const std::vector<PlatEvent>& events) {
    for (const PlatEvent& ev : events) plat_inject_event(ui.window, ev);
  }
  void golden(const char* name) {
    golden::expect_golden(name, ui.window, 0, 0, plat_window_inner_width(ui.window),
                          plat_window_inner_height(ui.window));
  }
  // The pen at the middle of a menu cell's bottom quarter (a cell's
  // background where glyphs rarely reach) and at its centre line.
  int pen_at_cell(int row, int col) const {
    return plat_read_pixel(ui.window, ui_cell_x(&ui, col) + 1, ui_cell_y(&ui, row) + ui.cell_h - 1);
  }
  int pen_of(int colour) const { return ui.pens[colour]; }

  UiContext ui{};
};

// Joins event lists.
inline std::vector<PlatEvent> operator+(std::vector<PlatEvent> a, const std::vector<PlatEvent>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace forms_test
