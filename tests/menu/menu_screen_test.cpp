// The menu's screens in the headless window: the phonebook list and its
// incremental drawing, the version and clock, the popups, the help screen
// and the import picker, with golden images of each; the key translation and
// the waits driven by injected window events.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <tuple>
#include <utility>
#include <vector>

#include "display/modes.h"
#include "display/statusbar.h"
#include "display/ui_surface.h"
#include "menu/entry_list.h"
#include "menu/import_picker.h"
#include "menu/popups.h"
#include "menu/ui_draw.h"
#include "menu/ui_input.h"
#include "phonebook/import.h"
#include "phonebook/phonebook.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "support/events.h"
#include "support/golden_image.h"
#include "support/test_support.h"
#include "util/text.h"

namespace {

PhoneEntry entry(const char* name, const char* address, int port, const char* font = "CP437") {
  PhoneEntry e{};
  safe_copy(e.name, sizeof e.name, name);
  safe_copy(e.address, sizeof e.address, address);
  e.port = port;
  e.terminal = 4;
  safe_copy(e.font, sizeof e.font, font);
  return e;
}

class MenuScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    g_runtime_top_bar_enabled = 1;
    std::tm noon{};
    noon.tm_hour = 12;
    noon.tm_min = 0;
    statusbar_test_set_local_time(&noon);
    ui_input_reset();
    g_ui_popup_timed_ticks = 1;
    g_ui_wait_idle_limit = 2;
    ASSERT_EQ(ui_open_menu(&ui, "Kavel"), 0);
    ui_invalidate_menu_caches();
  }
  void TearDown() override {
    ui_close(&ui);
    phonebook_free(&pb);
    statusbar_test_set_local_time(nullptr);
    g_ui_wait_idle_limit = 0;
    g_ui_popup_timed_ticks = 100;
  }
  void fill(int n) {
    for (int i = 0; i < n; i++) {
      char name[32];
      snprintf(name, sizeof name, "Board %02d", i);
      PhoneEntry e = entry(name, "bbs.example.org", 2300 + i);
      ASSERT_EQ(phonebook_append(&pb, &e), 0);
    }
  }
  void golden(const char* name) {
    golden::expect_golden(name, ui.window, 0, 0, plat_window_inner_width(ui.window),
                          plat_window_inner_height(ui.window));
  }
  std::vector<uint8_t> pixels() {
    const uint8_t* p = plat_window_pixels(ui.window);
    size_t n = static_cast<size_t>(plat_window_inner_width(ui.window)) *
               static_cast<size_t>(plat_window_inner_height(ui.window));
    return std::vector<uint8_t>(p, p + n);
  }
  void inject(const PlatEvent& ev) { plat_inject_event(ui.window, ev); }

  UiContext ui{};
  Phonebook pb{};
};

TEST_F(MenuScreen, OpensAGridSizedWindowWithTheCp437Glyphs) {
  EXPECT_TRUE(ui.bitmap_text);
  EXPECT_EQ(ui.cell_w, 8);
  EXPECT_EQ(ui.cell_h, 16);
  EXPECT_EQ(plat_window_inner_width(ui.window), 640);
  EXPECT_EQ(plat_window_inner_height(ui.window), 400);
  EXPECT_EQ(ui.top_bar_height, 0);
}

TEST_F(MenuScreen, MainScreenGolden) {
  PhoneEntry fav = entry("Favourite Board", "fav.example.net", 23);
  fav.favourite = 1;
  phonebook_append(&pb, &fav);
  PhoneEntry c64 = entry("C64 Corner", "c64.example", 6400, "C64 Up/GFX [40]");
  safe_copy(c64.software, sizeof c64.software, "  Image BBS");
  phonebook_append(&pb, &c64);
  fill(3);
  ui_draw_entry_list(&ui, &pb, 1, 0);
  golden("menu_main");
}

TEST_F(MenuScreen, EmptyPhonebookSaysSo) {
  ui_draw_entry_list(&ui, &pb, 0, 0);
  golden("menu_empty");
}

TEST_F(MenuScreen, MovingTheSelectionRepaintsOnlyTwoRows) {
  fill(10);
  ui_draw_entry_list(&ui, &pb, 2, 0);
  std::vector<uint8_t> before = pixels();
  ui_draw_entry_list(&ui, &pb, 3, 0);
  std::vector<uint8_t> after = pixels();
  int width = plat_window_inner_width(ui.window);
  int changed_rows_min = 1 << 30, changed_rows_max = -1;
  size_t changed = 0;
  for (size_t i = 0; i < before.size(); i++) {
    if (before[i] == after[i]) continue;
    changed++;
    int y = static_cast<int>(i) / width;
    changed_rows_min = std::min(changed_rows_min, y);
    changed_rows_max = std::max(changed_rows_max, y);
  }
  // Rows 13 and 14 of the grid (entries 2 and 3) and nothing else.
  EXPECT_GT(changed, 0u);
  EXPECT_GE(changed_rows_min, (kMenuListFirstRow + 2) * ui.cell_h);
  EXPECT_LT(changed_rows_max, (kMenuListFirstRow + 4) * ui.cell_h);
  EXPECT_EQ(g_entry_last_selected, 3);
  golden("menu_selection_moved");
}

TEST_F(MenuScreen, ListShowsSevenRowsFromTheOffset) {
  fill(20);
  ui_draw_entry_list(&ui, &pb, 19, 13);
  EXPECT_EQ(g_entry_last_offset, 13);
  EXPECT_EQ(g_entry_last_count, 20);
  // A changed offset repaints the rows (the art stays).
  ui_draw_entry_list(&ui, &pb, 0, 0);
  EXPECT_EQ(g_entry_last_offset, 0);
  EXPECT_EQ(g_ui_cache_ansi, 1);
}

TEST(EntryRow, FieldsSitInTheirColumns) {
  Phonebook pb{};
  PhoneEntry e = entry("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "a-very-long-host-name.example.org", 65535);
  e.favourite = 1;
  phonebook_append(&pb, &e);
  char line[kUiEntryLineLen + 1];
  ui_format_entry_row(&pb, 0, line);
  EXPECT_EQ(strlen(line), 74u);
  // The "* " prefix takes two of the name's 24 bytes.
  EXPECT_EQ(std::string(line, 24), "* ABCDEFGHIJKLMNOPQRSTUV");
  EXPECT_EQ(std::string(line + 28, 22), "a-very-long-host-name.");
  EXPECT_EQ(std::string(line + 54, 5), "65535");
  EXPECT_EQ(std::string(line + 63, 11), "CP437      ");
  // The port column shows the port the call uses: one in the address wins.
  for (const char* address : {"127.0.0.1:2331", "telnet://[::1]:2331/"}) {
    PhoneEntry local = entry("Local", address, 23);
    phonebook_append(&pb, &local);
    ui_format_entry_row(&pb, static_cast<int>(pb.count) - 1, line);
    EXPECT_EQ(std::string(line + 54, 5), "2331 ") << address;
  }
  // SSH, TLS and RLogin: the host (cut so that the kind shows), the kind and
  // the port as the connection layer's hook gives them; Telnet as written.
  g_entry_list_link_kind = [](const char* address, int, char* host, size_t cap, int* port) {
    snprintf(host, cap, "%s", address + 3);
    *port = 2222;
    return strncmp(address, "ss:", 3) == 0   ? "SSH"
           : strncmp(address, "rl:", 3) == 0 ? "RLogin"
                                             : "";
  };
  for (auto [address, column, shown_port] :
       {std::tuple{"ss:bbs.example.org", "bbs.example.org SSH   ", "2222 "},
        {"rl:a-very-long-host-name.example.org", "a-very-long-hos RLogin", "2222 "},
        {"telnet://bbs.example.org:2323", "telnet://bbs.example.o", "2323 "}}) {
    PhoneEntry e = entry("Kind", address, 23);
    phonebook_append(&pb, &e);
    ui_format_entry_row(&pb, static_cast<int>(pb.count) - 1, line);
    EXPECT_EQ(std::string(line + 28, 22) + "|" + std::string(line + 54, 5),
              std::string(column) + "|" + shown_port);
  }
  g_entry_list_link_kind = nullptr;
  // A field is never written past the line's end.
  char small[kUiEntryLineLen + 1];
  memset(small, '.', kUiEntryLineLen);
  small[kUiEntryLineLen] = '\0';
  ui_put_entry_field(small, 70, 10, "0123456789");
  EXPECT_EQ(std::string(small + 70), "0123");
  phonebook_free(&pb);
}

TEST(MenuClock, TwelveHourDial) {
  struct Case {
    int hour, minute;
    const char* text;
  };
  const Case cases[] = {{0, 5, "12:05 AM"}, {12, 0, "12:00 PM"}, {23, 59, "11:59 PM"}};
  for (const Case& c : cases) {
    std::tm tm{};
    tm.tm_hour = c.hour;
    tm.tm_min = c.minute;
    statusbar_test_set_local_time(&tm);
    char out[kStatusTimeText];
    current_time_12_string(out);
    EXPECT_STREQ(out, c.text);
  }
  statusbar_test_set_local_time(nullptr);
}

// --------------------------------------------------------------- input --

TEST_F(MenuScreen, WindowInputBecomesMenuKeyCodes) {
  struct Case {
    const char* name;
    PlatEvent ev;
    int code;
  };
  const uint16_t alt = PLAT_QUAL_LALT;
  const Case cases[] = {
      {"raw up", raw(RAWKEY_UP), MENU_KEY_UP},
      {"raw down", raw(RAWKEY_DOWN), MENU_KEY_DOWN},
      {"raw right", raw(RAWKEY_RIGHT), MENU_KEY_RIGHT},
      {"raw left", raw(RAWKEY_LEFT), MENU_KEY_LEFT},
      {"page up", raw(RAWKEY_PAGEUP), MENU_KEY_PAGE_UP},
      {"page down", raw(RAWKEY_PAGEDOWN), MENU_KEY_PAGE_DOWN},
      {"home", raw(RAWKEY_HOME), MENU_KEY_HOME},
      {"end", raw(RAWKEY_END), MENU_KEY_END},
      {"raw escape", raw(RAWKEY_ESCAPE), 27},
      {"raw shift tab", raw(RAWKEY_TAB, PLAT_QUAL_LSHIFT), MENU_KEY_SHIFT_TAB},
      {"vanilla return", vanilla(13), 13},
      {"vanilla delete", vanilla(127), 127},
      {"vanilla tab", vanilla(9), 9},
      {"vanilla shift tab", vanilla(9, PLAT_QUAL_RSHIFT), MENU_KEY_SHIFT_TAB},
      {"letter", vanilla('k'), 'k'},
      {"e acute (Unicode) as its CP437 code", vanilla(0xE9), 130},
      {"alt x as character", vanilla('x', alt), MENU_KEY_ALT_X},
      {"alt x as raw key", raw(0x32, alt), MENU_KEY_ALT_X},
      {"amiga key e", vanilla('E', PLAT_QUAL_RCOMMAND), MENU_KEY_ALT_E},
      {"alt a", vanilla('a', alt), MENU_KEY_ALT_A},
      {"alt s", vanilla('s', alt), MENU_KEY_ALT_S},
      {"alt z", vanilla('z', alt), MENU_KEY_ALT_Z},
      {"alt i", vanilla('i', alt), MENU_KEY_ALT_I},
      {"alt g", vanilla('g', alt), MENU_KEY_ALT_G},
      {"alt q is just q", vanilla('q', alt), 'q'},
      {"alt return", vanilla(13, alt), MENU_KEY_ALT_RETURN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui_input_reset();
    inject(c.ev);
    EXPECT_EQ(ui_poll_key(&ui), c.code);
    EXPECT_EQ(ui_poll_key(&ui), 0);
  }
  // Releases are not keys.
  inject(raw(RAWKEY_UP + 0x80));
  EXPECT_EQ(ui_poll_key(&ui), 0);
}

TEST_F(MenuScreen, CloseGadgetSetsTheFlag) {
  inject(PlatEvent{PLAT_EV_CLOSE, 0, 0, 0, 0});
  EXPECT_EQ(ui_wait_key(&ui), -1);
  EXPECT_TRUE(ui.close_requested);
}

TEST_F(MenuScreen, TimedWaitTicks) {
  uint32_t start = clock_ms();
  EXPECT_EQ(ui_wait_key_timeout(&ui, 0, 100000), MENU_KEY_TICK);
  EXPECT_GE(clock_ms() - start, 90u);
  inject(vanilla('j'));
  EXPECT_EQ(ui_wait_key_timeout(&ui, 5, 0), 'j');
}

// -------------------------------------------------------------- popups --

TEST_F(MenuScreen, ConfirmAnswers) {
  struct Case {
    const char* name;
    std::vector<PlatEvent> events;
    int answer;
  };
  const PlatEvent refresh{PLAT_EV_REFRESH, 0, 0, 0, 0};
  const Case cases[] = {
      {"return without moving is no", {vanilla(13)}, 0},
      {"left then return is yes", {raw(RAWKEY_LEFT), vanilla(13)}, 1},
      {"up, down, return is no", {raw(RAWKEY_UP), raw(RAWKEY_DOWN), vanilla(13)}, 0},
      {"y", {vanilla('y')}, 1},
      {"N", {vanilla('N')}, 0},
      {"escape", {vanilla(27)}, 0},
      {"a redraw keeps asking", {refresh, vanilla('Y')}, 1},
      {"closed window is no", {PlatEvent{PLAT_EV_CLOSE, 0, 0, 0, 0}}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui_input_reset();
    for (const PlatEvent& ev : c.events) inject(ev);
    EXPECT_EQ(ui_confirm(&ui, "Delete entry?"), c.answer);
    // The link's question with detail lines answers the same keys the same.
    ui_input_reset();
    for (const PlatEvent& ev : c.events) inject(ev);
    EXPECT_EQ(ui_confirm_details(&ui, "Trust this host key?", "host\nSHA256:abc"), c.answer);
  }
}

TEST(DetailLines, SplitAtLineFeedsAndWrappedAtASpaceOrTheWidth) {
  const std::string p(100, 'p'),
      w = "Nothing was sent; remove that line only if the board really changed.";
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"", {}},
      {"a\n\nb", {"a", "", "b"}},
      {w, {"Nothing was sent; remove that line only if the board really", "changed."}},
      {p, {p.substr(0, 64), p.substr(64)}},
  };
  for (const auto& [text, lines] : cases) EXPECT_EQ(ui_detail_lines(text.c_str()), lines) << text;
}

TEST_F(MenuScreen, SecretAnswersAndShowsOnlyStars) {
  const PlatEvent refresh{PLAT_EV_REFRESH, 0, 0, 0, 0}, close{PLAT_EV_CLOSE, 0, 0, 0, 0};
  auto keys = [&](const char* text) {
    for (const char* p = text; *p; p++) inject(vanilla(*p));
  };
  // Typed keys, the capacity, the answer, what is in out afterwards.
  const std::tuple<const char*, std::vector<PlatEvent>, size_t, int, const char*> cases[] = {
      {"ab\bc", {vanilla(13)}, 16, 1, "ac"}, {"", {vanilla(13)}, 16, 1, ""},
      {"a", {vanilla(27)}, 16, 0, ""},       {"a", {close}, 16, 0, ""},
      {"abcd", {vanilla(13)}, 3, 1, "ab"},   {"x", {refresh, vanilla(13)}, 16, 1, "x"},
  };
  for (const auto& [typed, then, cap, answer, out_text] : cases) {
    ui_input_reset();
    keys(typed);
    for (const PlatEvent& ev : then) inject(ev);
    char out[16];
    memset(out, '#', sizeof out);
    EXPECT_EQ(ui_ask_secret(&ui, "Passphrase for id_ed25519:", out, cap), answer) << typed;
    EXPECT_STREQ(out, out_text) << typed;
  }
  // The field shows stars, never the characters: "ab" and "**" look the same,
  // and not as an empty field.
  std::vector<uint8_t> seen[3];
  for (int i = 0; i < 3; i++) {
    ui_input_reset();
    keys(i == 0 ? "ab\x1b" : i == 1 ? "**\x1b" : "\x1b");
    char out[16];
    ui_ask_secret(&ui, "Password:", out, sizeof out);
    seen[i] = pixels();
  }
  EXPECT_TRUE(seen[0] == seen[1]);
  EXPECT_FALSE(seen[0] == seen[2]);
  // A warning stays through a redraw and goes at the next key.
  ui_clear_drawable_area_raw(&ui);
  ui_input_reset();
  for (const PlatEvent& ev : {refresh, vanilla('q')}) inject(ev);
  ui_warn(&ui, "The host key of [127.0.0.1]:2222 has changed.\nStored key: known_hosts line 7");
  EXPECT_EQ(ui_poll_key(&ui), 0);
  golden("link_warning");
}

TEST_F(MenuScreen, SortChoice) {
  struct Case {
    const char* name;
    std::vector<PlatEvent> events;
    int answer;
  };
  const Case cases[] = {
      {"return", {vanilla(13)}, 0},
      {"down, return", {raw(RAWKEY_DOWN), vanilla(13)}, 1},
      {"s, n, return", {vanilla('s'), vanilla('n'), vanilla(13)}, 0},
      {"S, line feed", {vanilla('S'), vanilla(10)}, 1},
      {"escape", {vanilla(27)}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui_input_reset();
    for (const PlatEvent& ev : c.events) inject(ev);
    EXPECT_EQ(ui_choose_sort_mode(&ui), c.answer);
  }
}

TEST_F(MenuScreen, PopupGoldens) {
  fill(4);
  ui_draw_entry_list(&ui, &pb, 0, 0);
  ui_draw_confirm(&ui, "Exit Kavel?", 0);
  golden("menu_confirm");
  ui_invalidate_menu_caches();
  ui_draw_entry_list(&ui, &pb, 0, 0);
  ui_draw_sort_popup(&ui, 1);
  golden("menu_sort");
  ui_invalidate_menu_caches();
  ui_draw_entry_list(&ui, &pb, 0, 0);
  ui_popup_timed(&ui);
  golden("menu_unable_to_connect");
}

TEST_F(MenuScreen, MessageSurvivesARedraw) {
  inject(PlatEvent{PLAT_EV_REFRESH, 0, 0, 0, 0});
  inject(vanilla('x'));
  EXPECT_EQ(ui_message(&ui, "Could not save phone book."), 'x');
  EXPECT_EQ(g_ui_cache_valid, 0);
  ui_text(&ui, 3, "Could not save phone book.", UI_WHITE);
  golden("menu_message");
  // The text starts 8 pixels and two cells from the origin: the "C" lies in
  // x 24..31 of row 3, nothing in the cell before it.
  auto white_in = [&](int x0) {
    int n = 0;
    for (int y = ui_cell_y(&ui, 3); y < ui_cell_y(&ui, 4); y++)
      for (int x = x0; x < x0 + 8; x++) n += plat_read_pixel(ui.window, x, y) == ui.pens[UI_WHITE];
    return n;
  };
  EXPECT_EQ(white_in(ui.origin_x + 16), 0);
  EXPECT_GT(white_in(ui.origin_x + 24), 0);
}

TEST_F(MenuScreen, HelpScreenUntilAKey) {
  inject(PlatEvent{PLAT_EV_REFRESH, 0, 0, 0, 0});
  inject(vanilla(' '));
  EXPECT_EQ(ui_show_help_screen(&ui), ' ');
  EXPECT_EQ(g_ui_cache_valid, 0);
  golden("menu_help");
}

// ---------------------------------------------------------- import picker --

TEST_F(MenuScreen, ImportPickerListsAndImports) {
  TempDir dir;
  for (int i = 0; i < 7; i++) {
    char name[32];
    snprintf(name, sizeof name, "list%d.LST", i);
    write_file_bytes(dir.file(name), "[Board " + std::to_string(i) + "]\nAddress=host" +
                                         std::to_string(i) + ".example\nPort=2323\n");
  }
  write_file_bytes(dir.file("notes.txt"), "not a list");
  ImportFileList list{};
  ASSERT_EQ(import_scan_directory(dir.path().c_str(), &list), 0);
  ASSERT_EQ(list.count, 7);
  ui_draw_import_picker(&ui, &list, 1, 0, nullptr);
  golden("menu_import_picker");
  import_file_list_free(&list);

  // Down six times: the seventh file scrolls the list by one; Return
  // imports it and the summary waits for a key.
  // A key the picker ignores between them keeps the navigation filter from
  // taking the presses for one repeated press.
  for (int i = 0; i < 6; i++) {
    inject(raw(RAWKEY_DOWN));
    inject(vanilla('x'));
  }
  inject(vanilla(13));
  inject(vanilla(' '));
  std::string pb_path = dir.file("kavel.phonebook");
  int imported = 0, updated = 0, skipped = 0;
  EXPECT_EQ(ui_import_syncterm_list_in(&ui, dir.path().c_str(), &pb, pb_path.c_str(), &imported,
                                       &updated, &skipped),
            0);
  EXPECT_EQ(imported, 1);
  ASSERT_EQ(pb.count, 1u);
  EXPECT_STREQ(pb.entries[0].name, "Board 6");
  Phonebook saved{};
  EXPECT_EQ(phonebook_load(&saved, pb_path.c_str()), 0);
  EXPECT_EQ(saved.count, 1u);
  phonebook_free(&saved);
}

TEST_F(MenuScreen, ImportPickerEscapeImportsNothing) {
  TempDir dir;
  write_file_bytes(dir.file("a.lst"), "[A]\nHost=a.example\n");
  inject(vanilla(27));
  int imported = 0, updated = 0, skipped = 0;
  EXPECT_EQ(ui_import_syncterm_list_in(&ui, dir.path().c_str(), &pb, nullptr, &imported, &updated,
                                       &skipped),
            0);
  EXPECT_EQ(pb.count, 0u);
}

}  // namespace
