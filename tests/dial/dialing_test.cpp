// The dialing box in the headless menu window: the time line, the name
// rules, the geometry at the three dialog scales (golden images), the once a
// second refresh, the cancel keys and the box's removal.
#include "dial/dialing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "display/modes.h"
#include "display/statusbar.h"
#include "display/ui_surface.h"
#include "menu/ui_draw.h"
#include "phonebook/phonebook.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "session/input.h"
#include "support/golden_image.h"
#include "util/text.h"

// A namespace of its own: the file's event helpers share names with those of
// support/events.h and of the files batched with it.
namespace dialing_test {

namespace {

PlatEvent event(uint32_t cls, int code, uint16_t qualifier = 0, bool repeat = false) {
  PlatEvent e;
  e.cls = cls;
  e.code = static_cast<uint16_t>(code);
  e.qualifier = qualifier;
  e.repeat = repeat;
  return e;
}

PhoneEntry named(const char* name) {
  PhoneEntry e{};
  safe_copy(e.name, sizeof e.name, name);
  return e;
}

class Dialing : public ::testing::Test {
 protected:
  void SetUp() override {
    plat_headless_set_desktop(1920, 1200, 24);
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    g_runtime_top_bar_enabled = 0;
    std::tm noon{};
    noon.tm_hour = 12;
    statusbar_test_set_local_time(&noon);
    session_input_reset();
    clock_test_set_ms(100000);
  }
  void TearDown() override {
    ui_close(&ui);
    ui_end_dialing_status();
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    plat_headless_set_desktop(1920, 1080, 24);
    statusbar_test_set_local_time(nullptr);
    clock_test_reset();
    session_input_reset();
  }
  void open(int mode) {
    display_set_window_mode(mode);
    ASSERT_EQ(ui_open_menu(&ui, "Kavel"), 0);
  }
  void inject(const PlatEvent& e) { plat_inject_event(ui.window, e); }
  std::vector<uint8_t> pixels() const {
    const uint8_t* p = plat_window_pixels(ui.window);
    size_t n = static_cast<size_t>(plat_window_inner_width(ui.window)) *
               static_cast<size_t>(plat_window_inner_height(ui.window));
    return std::vector<uint8_t>(p, p + n);
  }
  int pen_at(int x, int y) const { return plat_read_pixel(ui.window, x, y); }

  UiContext ui{};
};

}  // namespace

TEST(DialingTimeLine, MinutesAndSecondsSinceTheStart) {
  struct {
    const char* name;
    uint32_t start, now;
    const char* line;
  } cases[] = {
      {"at the start", 5000, 5000, "Time Remaining: 00:00"},
      {"just under a second", 5000, 5999, "Time Remaining: 00:00"},
      {"61 minutes 5 seconds", 5000, 5000 + (61 * 60 + 5) * 1000, "Time Remaining: 61:05"},
      {"minutes are not cut at 60", 0, 100u * 60 * 1000, "Time Remaining: 100:00"},
      {"a clock before the start", 90000, 30000, "Time Remaining: 00:00"},
      {"across the 32-bit wrap", 0xFFFFF000u, 0xFFFFF000u + 12000, "Time Remaining: 00:12"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    clock_test_set_ms(c.now);
    char line[80];
    connect_time_line_from_start(c.start, line);
    EXPECT_STREQ(line, c.line);
  }
  clock_test_reset();
}

TEST_F(Dialing, BeginNamesTheBoardAndStartsTheClock) {
  open(DISPLAY_MODE_WINDOW);
  PhoneEntry board = named("Sky Harbor");
  PhoneEntry nameless = named("");
  PhoneEntry longest{};
  memset(longest.name, 'L', sizeof longest.name - 1);
  auto at = [](const char* address) {
    PhoneEntry e = named("Sky Harbor");
    safe_copy(e.address, sizeof e.address, address);
    return e;
  };
  PhoneEntry ssh = at("SSH://guest@sky.example:2222"), tls = at("telnets://sky.example"),
             telnet = at("telnet://sky.example:23");
  struct {
    const char* name;
    const PhoneEntry* entry;
    std::string shown;
    const char* kind;
  } cases[] = {
      {"the entry's name", &board, "Sky Harbor", ""},
      {"an empty name", &nameless, "BBS", ""},
      {"no entry", nullptr, "BBS", ""},
      {"at most 79 characters", &longest, std::string(79, 'L'), ""},
      {"an SSH address shows the kind", &ssh, "Sky Harbor", "SSH"},
      {"Telnet over TLS", &tls, "Sky Harbor", "TLS"},
      {"telnet:// shows none", &telnet, "Sky Harbor", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    clock_test_set_ms(123456);
    ui_begin_dialing_status(&ui, c.entry);
    EXPECT_EQ(std::string(g_connect_popup_bbs_name), c.shown);
    EXPECT_STREQ(g_connect_popup_kind, c.kind);
    EXPECT_EQ(g_connect_popup_dialing_mode, 1);
    EXPECT_EQ(g_connect_popup_start_ms, 123456u);
    EXPECT_EQ(g_connect_popup_time_rect_valid, 1);
    EXPECT_STREQ(g_connect_popup_last_time_line, "Time Remaining: 00:00");
  }
}

TEST_F(Dialing, BoxGeometryAtEachDialogScale) {
  struct {
    const char* name;
    int mode;
    int scale;
    const char* golden;
  } cases[] = {
      {"window", DISPLAY_MODE_WINDOW, 1, "dialing_window"},
      {"medium window", DISPLAY_MODE_MEDIUM, 2, "dialing_medium"},
      {"full screen on 1920x1200", DISPLAY_MODE_FULLSCREEN, 3, "dialing_fullscreen"},
  };
  PhoneEntry board = named("Sky Harbor");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    open(c.mode);
    ASSERT_EQ(ui_dialog_cp437_scale(&ui), c.scale);
    clock_test_set_ms(100000);
    ui_begin_dialing_status(&ui, &board);
    clock_test_set_ms(100000 + 83 * 1000);  // 1 minute 23 seconds later
    ui_draw_dialing_status(&ui, g_connect_popup_start_ms);

    int s = c.scale;
    int x, y, w, h;
    ui_dialing_box_rect(&ui, &x, &y, &w, &h);
    // "Dialing Sky Harbor" (18) and the time line (21) are narrower than
    // the floor of max(224s, 240).
    EXPECT_EQ(w, std::max(224 * s, 240));
    EXPECT_EQ(h, std::max(96 * s, 96));
    int inner_w = plat_window_inner_width(ui.window);
    int inner_h = plat_window_inner_height(ui.window);
    EXPECT_EQ(x, (inner_w - w) / 2);
    EXPECT_EQ(y, (inner_h - h) / 2);
    EXPECT_EQ(g_connect_popup_time_x, x + 16 * s);
    EXPECT_EQ(g_connect_popup_time_y, y + 64 * s);
    EXPECT_EQ(g_connect_popup_time_w, w - 32 * s);
    EXPECT_EQ(g_connect_popup_time_h, 16 * s);
    EXPECT_STREQ(g_connect_popup_last_time_line, "Time Remaining: 01:23");
    // Face, white top-left edge, dark grey shadow, black around.
    EXPECT_EQ(pen_at(x + w / 2, y + h - 8), ui.pens[UI_GREY]);
    EXPECT_EQ(pen_at(x, y), ui.pens[UI_WHITE]);
    EXPECT_EQ(pen_at(x + w + 2, y + h + 2), ui.pens[UI_DARK_GREY]);
    EXPECT_EQ(pen_at(x - 1, y - 1), ui.pens[UI_BLACK]);
    if (c.mode == DISPLAY_MODE_FULLSCREEN) {
      golden::expect_golden(c.golden, ui.window, x - 8, y - 8, w + 20, h + 20);
    } else {
      golden::expect_golden(c.golden, ui.window, 0, 0, inner_w, inner_h);
    }
    ui_close(&ui);
  }
}

TEST_F(Dialing, ALongNameWidensTheBoxAndATightWindowPlacesItAtTheEdge) {
  open(DISPLAY_MODE_WINDOW);
  PhoneEntry board = named("The Very Long Name of a Bulletin Board");  // 38
  ui_begin_dialing_status(&ui, &board);
  int x, y, w, h;
  ui_dialing_box_rect(&ui, &x, &y, &w, &h);
  EXPECT_EQ(w, static_cast<int>(strlen("Dialing ") + 38) * 8 + 32);
  EXPECT_EQ(x, (640 - w) / 2);

  // 79 characters: wider than the window, so it starts 8 pixels in.
  PhoneEntry longest{};
  memset(longest.name, 'W', sizeof longest.name - 1);
  ui_begin_dialing_status(&ui, &longest);
  ui_dialing_box_rect(&ui, &x, &y, &w, &h);
  EXPECT_EQ(w, (8 + 79) * 8 + 32);
  EXPECT_EQ(x, 8);
}

TEST_F(Dialing, TheTimeLineMovesOnOnceASecondAndOnlyWhenItChanged) {
  open(DISPLAY_MODE_WINDOW);
  PhoneEntry board = named("Sky Harbor");
  clock_test_set_ms(200000);
  ui_begin_dialing_status(&ui, &board);
  std::vector<uint8_t> first = pixels();

  struct {
    uint32_t at;  // ms after the start
    const char* line;
    uint32_t last_draw;  // ms after the start
  } steps[] = {
      {400, "Time Remaining: 00:00", 0},      // under a second: nothing
      {999, "Time Remaining: 00:00", 0},      // still under a second
      {1500, "Time Remaining: 00:01", 1500},  // drawn
      {2400, "Time Remaining: 00:01", 1500},  // under a second since
      {2600, "Time Remaining: 00:02", 2600},
      {(61 * 60 + 5) * 1000, "Time Remaining: 61:05", (61 * 60 + 5) * 1000},
  };
  for (const auto& st : steps) {
    SCOPED_TRACE(st.at);
    clock_test_set_ms(200000 + st.at);
    EXPECT_EQ(ui_poll_connect_cancel(&ui), 0);
    EXPECT_STREQ(g_connect_popup_last_time_line, st.line);
    EXPECT_EQ(g_connect_popup_last_draw_ms, 200000 + st.last_draw);
  }
  // Only the time line's rectangle changed.
  std::vector<uint8_t> now = pixels();
  int width = plat_window_inner_width(ui.window);
  for (size_t i = 0; i < now.size(); i++) {
    if (now[i] == first[i]) continue;
    int px = static_cast<int>(i) % width;
    int py = static_cast<int>(i) / width;
    ASSERT_GE(px, g_connect_popup_time_x);
    ASSERT_LT(px, g_connect_popup_time_x + g_connect_popup_time_w);
    ASSERT_GE(py, g_connect_popup_time_y);
    ASSERT_LE(py, g_connect_popup_time_y + g_connect_popup_time_h);
  }
  EXPECT_NE(now, first);
}

TEST_F(Dialing, CancelKeysAndTheCloseButton) {
  const uint16_t alt = PLAT_QUAL_LALT;
  struct {
    const char* name;
    std::vector<PlatEvent> events;
    int cancel;
    int close_requested;
  } cases[] = {
      {"Escape", {event(PLAT_EV_VANILLAKEY, 27)}, 1, 0},
      {"Escape with Shift and Alt", {event(PLAT_EV_VANILLAKEY, 27, PLAT_QUAL_LSHIFT | alt)}, 1, 0},
      {"raw Escape", {event(PLAT_EV_RAWKEY, RAWKEY_ESCAPE, PLAT_QUAL_CONTROL)}, 1, 0},
      {"the close button", {event(PLAT_EV_CLOSE, 0)}, 1, 1},
      {"a release of Escape", {event(PLAT_EV_RAWKEY, 0x45 | 0x80)}, 0, 0},
      {"other keys and the mouse",
       {event(PLAT_EV_VANILLAKEY, 'q'), event(PLAT_EV_VANILLAKEY, 13), event(PLAT_EV_RAWKEY, 0x4C),
        event(PLAT_EV_MOUSEBUTTON, PLAT_SELECTDOWN)},
       0,
       0},
      {"a refresh redraws and goes on", {event(PLAT_EV_REFRESH, 0)}, 0, 0},
      {"Escape after other input",
       {event(PLAT_EV_VANILLAKEY, 'x'), event(PLAT_EV_RAWKEY, 0x45)},
       1,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    open(DISPLAY_MODE_WINDOW);
    ui_begin_dialing_status(&ui, nullptr);
    for (const auto& e : c.events) inject(e);
    EXPECT_EQ(ui_poll_connect_cancel(&ui), c.cancel);
    EXPECT_EQ(ui.close_requested, c.close_requested);
    PlatEvent left;
    EXPECT_EQ(plat_get_event(ui.window, &left), 0);  // the queue was emptied
    ui_close(&ui);
    ui.close_requested = 0;
  }
}

TEST_F(Dialing, AltEnterSwitchesTheMenuWindowOncePerPress) {
  open(DISPLAY_MODE_WINDOW);
  PhoneEntry board = named("Sky Harbor");
  ui_begin_dialing_status(&ui, &board);
  inject(event(PLAT_EV_VANILLAKEY, 13, PLAT_QUAL_LALT));
  // The keyboard's repeat of the held keys is no new press.
  inject(event(PLAT_EV_VANILLAKEY, 13, PLAT_QUAL_LALT, true));
  EXPECT_EQ(ui_poll_connect_cancel(&ui), 0);
  EXPECT_EQ(display_window_mode(), DISPLAY_MODE_MEDIUM);
  EXPECT_EQ(ui.medium_window, 1);
  EXPECT_STREQ(plat_window_title(ui.window), "Kavel");
  // The box is drawn in the new window at its scale.
  int x, y, w, h;
  ui_dialing_box_rect(&ui, &x, &y, &w, &h);
  EXPECT_EQ(w, 448);
  EXPECT_EQ(pen_at(x + w / 2, y + h - 8), ui.pens[UI_GREY]);

  // Released, then pressed again (raw): the next mode.
  inject(event(PLAT_EV_RAWKEY, 0x44 | 0x80));
  clock_test_advance_ms(300);
  inject(event(PLAT_EV_RAWKEY, RAWKEY_RETURN, PLAT_QUAL_RCOMMAND));
  EXPECT_EQ(ui_poll_connect_cancel(&ui), 0);
  EXPECT_EQ(display_window_mode(), DISPLAY_MODE_FULLSCREEN);
  EXPECT_EQ(ui.fullscreen, 1);
  EXPECT_EQ(g_connect_popup_dialing_mode, 1);
}

TEST_F(Dialing, ClearingRemovesTheWholeBox) {
  struct {
    const char* name;
    int mode;
    const char* board;
  } cases[] = {
      {"window", DISPLAY_MODE_WINDOW, "Sky Harbor"},
      {"medium window", DISPLAY_MODE_MEDIUM, "Sky Harbor"},
      {"full screen", DISPLAY_MODE_FULLSCREEN, "Sky Harbor"},
      {"a box wider than the cleared area", DISPLAY_MODE_WINDOW,
       "A Name Long Enough To Make The Box Wider"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    open(c.mode);
    PhoneEntry board = named(c.board);
    ui_begin_dialing_status(&ui, &board);
    ui_clear_connecting_status(&ui);
    EXPECT_EQ(g_connect_popup_time_rect_valid, 0);
    EXPECT_STREQ(g_connect_popup_last_time_line, "");
    std::vector<uint8_t> px = pixels();
    for (uint8_t p : px) ASSERT_EQ(p, ui.pens[UI_BLACK]);
    ui_close(&ui);
  }
}

TEST_F(Dialing, NothingIsDrawnWithoutAWindow) {
  UiContext none{};
  ui_begin_dialing_status(&none, nullptr);
  EXPECT_EQ(g_connect_popup_dialing_mode, 1);
  EXPECT_EQ(g_connect_popup_time_rect_valid, 0);
  EXPECT_EQ(ui_poll_connect_cancel(&none), 0);
  ui_clear_connecting_status(&none);
  ui_end_dialing_status();
  EXPECT_EQ(g_connect_popup_dialing_mode, 0);
}

}  // namespace dialing_test
