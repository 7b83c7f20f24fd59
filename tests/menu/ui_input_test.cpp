// The menu's key filters through injected window events: hotkeys once per
// physical press (the event's repeat mark), the duplicate filter dropping
// only one press delivered twice, and typed characters in CP437.
#include "menu/ui_input.h"

#include <gtest/gtest.h>

#include <vector>

#include "display/modes.h"
#include "display/ui_surface.h"
#include "platform/clock.h"
#include "platform/display.h"

namespace {

PlatEvent key_event(uint32_t cls, uint16_t code, uint16_t qual, bool repeat, int16_t key) {
  PlatEvent ev{cls, code, qual, 0, 0};
  ev.repeat = repeat;
  ev.key = key;
  return ev;
}
PlatEvent key_vanilla(uint16_t ch, uint16_t qual = 0, bool repeat = false, int16_t key = -1) {
  return key_event(PLAT_EV_VANILLAKEY, ch, qual, repeat, key);
}
PlatEvent key_raw(uint16_t code, uint16_t qual = 0, bool repeat = false) {
  return key_event(PLAT_EV_RAWKEY, code, qual, repeat, static_cast<int16_t>(code & 0x7F));
}

class MenuKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    ui_input_reset();
    g_ui_wait_idle_limit = 1;
    ASSERT_EQ(ui_open_menu(&ui, "Kavel"), 0);
    clock_test_set_ms(10000);
  }
  void TearDown() override {
    clock_test_reset();
    ui_close(&ui);
    g_ui_wait_idle_limit = 0;
    ui_input_reset();
  }
  // Every code the waits would hand on for these events, each after ms.
  std::vector<int> codes(const std::vector<PlatEvent>& events, uint32_t ms) {
    std::vector<int> out;
    for (const PlatEvent& ev : events) {
      clock_test_advance_ms(ms);
      plat_inject_event(ui.window, ev);
      int code = ui_poll_key(&ui);
      // What the waits do with a polled code.
      code = ui_filter_duplicate_nav_key(code, ev.cls == PLAT_EV_RAWKEY ? UI_KEY_FORM_RAW : 0,
                                         ev.repeat);
      if (code != 0) out.push_back(code);
    }
    return out;
  }
  UiContext ui{};
};

TEST_F(MenuKeys, HotkeysActOncePerPhysicalPress) {
  const uint16_t alt = PLAT_QUAL_LALT;
  struct Case {
    const char* name;
    std::vector<PlatEvent> events;
    uint32_t ms;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {"held Alt+Return changes the mode once",
       {key_vanilla(13, alt, false, RAWKEY_RETURN), key_vanilla(13, alt, true, RAWKEY_RETURN),
        key_vanilla(13, alt, true, RAWKEY_RETURN)},
       30,
       {MENU_KEY_ALT_RETURN}},
      {"Return still held after Alt is let go does not call the entry",
       {key_vanilla(13, alt, false, RAWKEY_RETURN), key_raw(RAWKEY_LALT + 0x80),
        key_vanilla(13, 0, true, RAWKEY_RETURN), key_raw(RAWKEY_RETURN + 0x80),
        key_vanilla(13, 0, false, RAWKEY_RETURN)},
       30,
       {MENU_KEY_ALT_RETURN, 13}},
      {"two quick real presses of Alt+Return are two changes",
       {key_vanilla(13, alt, false, RAWKEY_RETURN), key_raw(RAWKEY_RETURN + 0x80),
        key_vanilla(13, alt, false, RAWKEY_RETURN)},
       20,
       {MENU_KEY_ALT_RETURN, MENU_KEY_ALT_RETURN}},
      {"held Alt+T toggles once, released and pressed again toggles again",
       {key_raw(0x14, alt), key_raw(0x14, alt, true), key_raw(0x14, alt, true), key_raw(0x14 | PLAT_KEY_UP),
        key_vanilla('t', alt, false, 0x14)},
       50,
       {MENU_KEY_ALT_T, MENU_KEY_ALT_T}},
      {"held Alt+S saves once",
       {key_vanilla('s', alt, false, 0x21), key_vanilla('s', alt, true, 0x21)},
       30,
       {MENU_KEY_ALT_S}},
      {"a held letter without Alt types on",
       {key_vanilla('a', 0, false, 0x20), key_vanilla('a', 0, true, 0x20)},
       30,
       {'a', 'a'}},
  };
  for (const Case& c : cases) {
    ui_input_reset();
    EXPECT_EQ(codes(c.events, c.ms), c.expected) << c.name;
  }
}

TEST_F(MenuKeys, DuplicateFilterDropsOnlyOnePressDeliveredTwice) {
  struct Case {
    const char* name;
    std::vector<PlatEvent> events;
    uint32_t ms;
    std::vector<int> expected;
  };
  const PlatEvent down = key_raw(RAWKEY_DOWN);
  const PlatEvent down_repeat = key_raw(RAWKEY_DOWN, 0, true);
  const PlatEvent down_up = key_raw(RAWKEY_DOWN + 0x80);
  const Case cases[] = {
      {"fast real presses all move",
       {down, down_up, down, down_up, down},
       10,
       {MENU_KEY_DOWN, MENU_KEY_DOWN, MENU_KEY_DOWN}},
      {"a held arrow repeating every 30 ms moves on every repeat",
       {down, down_repeat, down_repeat, down_repeat},
       30,
       {MENU_KEY_DOWN, MENU_KEY_DOWN, MENU_KEY_DOWN, MENU_KEY_DOWN}},
      {"Tab as a raw key and as a translated key within 40 ms is one press",
       {key_raw(RAWKEY_TAB), key_vanilla(9, 0, false, RAWKEY_TAB)},
       10,
       {9}},
      {"the same two forms 40 ms apart are two presses",
       {key_raw(RAWKEY_TAB), key_vanilla(9, 0, false, RAWKEY_TAB)},
       40,
       {9, 9}},
  };
  for (const Case& c : cases) {
    ui_input_reset();
    EXPECT_EQ(codes(c.events, c.ms), c.expected) << c.name;
  }
}

// F11 and F12 have the raw codes that were End and Page Up on the keyboards
// the page table was made for; on this one they are no menu keys.
TEST_F(MenuKeys, F11AndF12AreNoPageKeys) {
  EXPECT_EQ(codes({key_raw(RAWKEY_F11), key_raw(RAWKEY_F12), key_raw(RAWKEY_END), key_raw(RAWKEY_PAGEUP)}, 50),
            (std::vector<int>{MENU_KEY_END, MENU_KEY_PAGE_UP}));
}

TEST(MenuNavFilter, MemoryRules) {
  ui_input_reset();
  clock_test_set_ms(5000);
  EXPECT_EQ(ui_filter_duplicate_nav_key(MENU_KEY_DOWN, UI_KEY_FORM_RAW), MENU_KEY_DOWN);
  clock_test_advance_ms(10);
  // Redraws and ticks pass without touching the memory.
  EXPECT_EQ(ui_filter_duplicate_nav_key(MENU_KEY_TICK), MENU_KEY_TICK);
  EXPECT_EQ(ui_filter_duplicate_nav_key(MENU_KEY_DOWN, UI_KEY_FORM_TRANSLATED), 0);
  // Another key clears it: the same code in the other form is then a press.
  EXPECT_EQ(ui_filter_duplicate_nav_key(MENU_KEY_UP, UI_KEY_FORM_RAW), MENU_KEY_UP);
  EXPECT_EQ(ui_filter_duplicate_nav_key('a'), 'a');
  EXPECT_EQ(ui_filter_duplicate_nav_key(MENU_KEY_UP, UI_KEY_FORM_TRANSLATED), MENU_KEY_UP);
  // A repeat is never a duplicate.
  EXPECT_EQ(ui_filter_duplicate_nav_key(MENU_KEY_UP, UI_KEY_FORM_RAW, true), MENU_KEY_UP);
  clock_test_reset();
}

TEST_F(MenuKeys, TypedCharactersArriveInCp437) {
  struct Case {
    uint16_t ch;
    int code;
  };
  const Case cases[] = {
      {'a', 'a'},    {0x00E9, 130},  // e acute
      {0x00C4, 142},                 // A diaeresis
      {0x2592, 177},                 // medium shade
      {0x0141, 0},                   // L with stroke: CP437 has none, and 0x41 is no stand-in
      {0x20AC, 0},                   // euro sign
  };
  for (const Case& c : cases) {
    ui_input_reset();
    EXPECT_EQ(codes({key_vanilla(c.ch)}, 1),
              c.code == 0 ? std::vector<int>{} : std::vector<int>{c.code})
        << std::hex << c.ch;
  }
}

}  // namespace
