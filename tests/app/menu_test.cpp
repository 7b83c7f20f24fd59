// The menu controller driven through injected window events in the headless
// window: view clamping and movement, delete, sort, calls and their stamp,
// leaving; the partly read phonebook that must not be saved over; the
// console dialogue over in-memory streams.
#include "app/menu.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "display/modes.h"
#include "menu/entry_list.h"
#include "menu/line_edit.h"
#include "menu/popups.h"
#include "menu/ui_draw.h"
#include "menu/ui_input.h"
#include "phonebook/phonebook.h"
#include "platform/display.h"
#include "session/loop_state.h"
#include "support/events.h"
#include "support/test_support.h"
#include "util/text.h"

namespace {

PhoneEntry entry(const char* name, int port, int favourite = 0) {
  PhoneEntry e{};
  safe_copy(e.name, sizeof e.name, name);
  safe_copy(e.address, sizeof e.address, "bbs.example.org");
  e.port = port;
  e.terminal = 4;
  safe_copy(e.font, sizeof e.font, "CP437");
  e.favourite = favourite;
  return e;
}

// What the fake session saw, and what it does to the phonebook meanwhile.
struct FakeCall {
  int calls = 0;
  std::string host;
  int port = 0;
  std::string name;
  bool had_ui = false;
  int result = 0;
  int delete_index = -1;  // the in-session phonebook deletes this entry
};
FakeCall g_fake;

int fake_session(const SessionRequest* req) {
  Phonebook* pb = req->phonebook;
  g_fake.calls++;
  g_fake.host = req->host;
  g_fake.port = req->port;
  g_fake.name = req->entry ? req->entry->name : "";
  g_fake.had_ui = req->ui != nullptr;
  if (g_fake.delete_index >= 0 && pb && g_fake.delete_index < static_cast<int>(pb->count)) {
    memmove(&pb->entries[g_fake.delete_index], &pb->entries[g_fake.delete_index + 1],
            (pb->count - g_fake.delete_index - 1) * sizeof(PhoneEntry));
    pb->count--;
  }
  return g_fake.result;
}

class MenuController : public ::testing::Test {
 protected:
  void SetUp() override {
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    ui_input_reset();
    g_ui_wait_idle_limit = 2;
    g_ui_popup_timed_ticks = 1;
    g_fake = FakeCall{};
    path = dir.file("kavel.phonebook");
  }
  void TearDown() override {
    menu_finish(&m);
    g_ui_wait_idle_limit = 0;
    g_ui_popup_timed_ticks = 100;
  }
  void write_book(int n) {
    Phonebook pb{};
    for (int i = 0; i < n; i++) {
      char name[32];
      snprintf(name, sizeof name, "Board %02d", i);
      PhoneEntry e = entry(name, 2300 + i);
      phonebook_append(&pb, &e);
    }
    ASSERT_EQ(phonebook_write_to_path(&pb, path.c_str()), 0);
    phonebook_free(&pb);
  }
  void open(int n) {
    write_book(n);
    m.call = fake_session;
    menu_load(&m, path.c_str());
    ASSERT_EQ(menu_open_display(&m), 0);
  }
  // One turn with these window events queued.
  int turn(std::vector<PlatEvent> events) {
    for (const PlatEvent& ev : events) plat_inject_event(m.ui.window, ev);
    ui_input_reset();
    return menu_turn(&m);
  }
  int key(int code) {
    ui_input_reset();
    return menu_dispatch(&m, code);
  }
  Phonebook reload() {
    Phonebook pb{};
    phonebook_load(&pb, path.c_str());
    return pb;
  }

  TempDir dir;
  std::string path;
  MenuState m{};
};

TEST_F(MenuController, MovesAndPagesTheSelection) {
  open(10);
  struct Step {
    const char* name;
    int code;
    int selected, offset;  // after the next turn's clamp
  };
  const Step steps[] = {
      {"down", MENU_KEY_DOWN, 1, 0},
      {"j", 'j', 2, 0},
      {"page down", MENU_KEY_PAGE_DOWN, 9, 3},
      {"page down at the end stays", MENU_KEY_PAGE_DOWN, 9, 3},
      {"down at the end stays", MENU_KEY_DOWN, 9, 3},
      {"up", MENU_KEY_UP, 8, 3},
      {"k", 'k', 7, 3},
      {"page up", MENU_KEY_PAGE_UP, 0, 0},
      {"up at the top stays", MENU_KEY_UP, 0, 0},
      {"end", MENU_KEY_END, 9, 3},
      {"left pages up", MENU_KEY_LEFT, 2, 2},
      {"home resets both", MENU_KEY_HOME, 0, 0},
      {"right pages down", MENU_KEY_RIGHT, 7, 1},
      {"escape does nothing", 27, 7, 1},
      {"q does nothing", 'q', 7, 1},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(key(s.code), 0);
    menu_clamp_view(&m);
    EXPECT_EQ(m.selected, s.selected);
    EXPECT_EQ(m.offset, s.offset);
  }
}

TEST_F(MenuController, ClampsTheView) {
  open(10);
  struct Case {
    int selected, offset, want_selected, want_offset;
  };
  const Case cases[] = {
      {-3, 0, 0, 0}, {15, 0, 9, 3}, {2, 5, 2, 2}, {7, 0, 7, 1}, {6, 0, 6, 0}, {3, -4, 3, 0},
  };
  for (const Case& c : cases) {
    m.selected = c.selected;
    m.offset = c.offset;
    menu_clamp_view(&m);
    EXPECT_EQ(m.selected, c.want_selected);
    EXPECT_EQ(m.offset, c.want_offset);
  }
}

TEST_F(MenuController, TurnsReadInjectedKeys) {
  open(10);
  // Row 6 to row 7 with offset 0 scrolls the list by one.
  m.selected = 6;
  EXPECT_EQ(turn({vanilla('j')}), 0);
  EXPECT_EQ(turn({}), 0);  // the tick: the view is clamped and drawn
  EXPECT_EQ(m.selected, 7);
  EXPECT_EQ(m.offset, 1);
}

TEST_F(MenuController, EmptyPhonebookIgnoresCallEditDeleteSort) {
  open(0);
  for (int code : {13, 10, int{MENU_KEY_ALT_E}, 127, int{MENU_KEY_ALT_S}}) {
    EXPECT_EQ(key(code), 0);
  }
  EXPECT_EQ(g_fake.calls, 0);
  EXPECT_EQ(m.pb.count, 0u);
}

TEST_F(MenuController, DeletingTheLastEntrySelectsTheNewLast) {
  open(5);
  m.selected = 4;
  plat_inject_event(m.ui.window, vanilla('y'));
  EXPECT_EQ(key(127), 0);
  EXPECT_EQ(m.pb.count, 4u);
  EXPECT_EQ(m.selected, 3);
  Phonebook pb = reload();
  EXPECT_EQ(pb.count, 4u);
  phonebook_free(&pb);
  // Answered no: nothing goes.
  plat_inject_event(m.ui.window, vanilla('n'));
  EXPECT_EQ(key(127), 0);
  EXPECT_EQ(m.pb.count, 4u);
}

TEST_F(MenuController, SortKeepsTheSelectedEntry) {
  write_book(0);
  Phonebook pb{};
  const char* names[] = {"zeta",  "Alpha", "mike",    "Bravo", "echo",
                         "delta", "kilo",  "Charlie", "india", "hotel"};
  for (int i = 0; i < 10; i++) {
    PhoneEntry e = entry(names[i], 23 + i, i == 4);
    phonebook_append(&pb, &e);
  }
  ASSERT_EQ(phonebook_write_to_path(&pb, path.c_str()), 0);
  phonebook_free(&pb);
  m.call = fake_session;
  menu_load(&m, path.c_str());
  ASSERT_EQ(menu_open_display(&m), 0);
  m.selected = 0;  // "zeta": last after sorting by name
  plat_inject_event(m.ui.window, vanilla(13));
  EXPECT_EQ(key(MENU_KEY_ALT_S), 0);
  EXPECT_STREQ(m.pb.entries[0].name, "echo");  // the favourite first
  EXPECT_STREQ(m.pb.entries[m.selected].name, "zeta");
  EXPECT_EQ(m.selected, 9);
  EXPECT_EQ(m.offset, 3);  // the seventh visible row
  Phonebook saved = reload();
  EXPECT_STREQ(saved.entries[9].name, "zeta");
  phonebook_free(&saved);
}

TEST_F(MenuController, CloseGadgetLeavesWithoutAQuestion) {
  open(3);
  EXPECT_EQ(turn({PlatEvent{PLAT_EV_CLOSE, 0, 0, 0, 0}}), 1);
  EXPECT_TRUE(m.ui.close_requested);
}

TEST_F(MenuController, AltXAsks) {
  open(3);
  EXPECT_EQ(turn({vanilla('x', PLAT_QUAL_LALT), vanilla('n')}), 0);
  EXPECT_EQ(turn({vanilla('x', PLAT_QUAL_LALT), vanilla('y')}), 1);
}

TEST_F(MenuController, ACallStampsTheCalledEntry) {
  open(3);
  m.selected = 1;
  EXPECT_EQ(key(13), 0);
  EXPECT_EQ(g_fake.calls, 1);
  EXPECT_EQ(g_fake.port, 2301);
  EXPECT_EQ(g_fake.name, "Board 01");
  EXPECT_TRUE(g_fake.had_ui);
  Phonebook pb = reload();
  EXPECT_EQ(pb.entries[1].call_count, 1u);
  EXPECT_STRNE(pb.entries[1].last_call, "");
  EXPECT_EQ(pb.entries[0].call_count, 0u);
  phonebook_free(&pb);
}

TEST_F(MenuController, AnEntryDeletedDuringTheCallStampsNoOther) {
  open(3);
  m.selected = 1;
  g_fake.delete_index = 1;  // the called entry goes; "Board 02" moves to index 1
  plat_inject_event(m.ui.window, vanilla(' '));  // dismisses the message
  EXPECT_EQ(key(13), 0);
  ASSERT_EQ(m.pb.count, 2u);
  EXPECT_EQ(m.pb.entries[1].call_count, 0u);
  EXPECT_EQ(m.pb.entries[0].call_count, 0u);
}

TEST_F(MenuController, FailedAndCancelledCalls) {
  open(2);
  for (int result : {-1, -2, -3}) {
    g_fake.result = result;
    EXPECT_EQ(key(13), 0);
  }
  EXPECT_EQ(g_fake.calls, 3);
  Phonebook pb = reload();
  EXPECT_EQ(pb.entries[0].call_count, 0u);
  phonebook_free(&pb);
}

TEST_F(MenuController, FormsReturnToTheMenuWithTheEntriesUnchanged) {
  open(2);
  for (int code : {int{MENU_KEY_ALT_E}, int{MENU_KEY_ALT_A}, int{MENU_KEY_ALT_G}}) {
    plat_inject_event(m.ui.window, vanilla(' '));
    EXPECT_EQ(key(code), 0);
  }
  EXPECT_EQ(m.pb.count, 2u);
}

TEST_F(MenuController, ModeChangeReopensTheDisplay) {
  open(2);
  EXPECT_EQ(key(MENU_KEY_ALT_RETURN), 0);
  EXPECT_TRUE(m.ui.medium_window);
  EXPECT_EQ(plat_window_inner_width(m.ui.window), 1280);
  EXPECT_EQ(key(MENU_KEY_ALT_RETURN), 0);
  EXPECT_TRUE(m.ui.fullscreen);
  EXPECT_GT(m.ui.top_bar_height, 0);
  EXPECT_EQ(key(MENU_KEY_ALT_T), 0);  // the top bar goes in full screen
  EXPECT_EQ(m.ui.top_bar_height, 0);
  EXPECT_EQ(key(MENU_KEY_ALT_T), 0);
  EXPECT_EQ(key(MENU_KEY_ALT_RETURN), 0);
  EXPECT_FALSE(m.ui.fullscreen);
  EXPECT_FALSE(m.ui.medium_window);
  display_set_window_mode(DISPLAY_MODE_WINDOW);
}

// ------------------------------------------------------- unread phonebooks --

// A file that exists but cannot be read: a directory, a file without read
// permission.  The menu shows it and saves nothing over it.
TEST_F(MenuController, UnreadablePhonebookIsNeverSavedOver) {
  struct Case {
    const char* name;
    bool directory;
  };
  for (const Case c : {Case{"directory", true}, Case{"no permission", false}}) {
    SCOPED_TRACE(c.name);
    TempDir d;
    std::string p = d.file("book");
    if (c.directory) {
      ASSERT_EQ(mkdir(p.c_str(), 0755), 0);
    } else {
      write_book(2);
      ASSERT_EQ(rename(path.c_str(), p.c_str()), 0);
      ASSERT_EQ(chmod(p.c_str(), 0), 0);
      FILE* probe = fopen(p.c_str(), "r");
      if (probe) {  // root reads anything: nothing to test here
        fclose(probe);
        continue;
      }
    }
    MenuState s{};
    s.call = fake_session;
    menu_load(&s, p.c_str());
    EXPECT_TRUE(s.save_refused);
    PhoneEntry e = entry("New", 23);
    phonebook_append(&s.pb, &e);
    EXPECT_NE(menu_save(&s), 0);
    struct stat st;
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(S_ISDIR(st.st_mode), c.directory);
    EXPECT_NE(stat((p + ".bak").c_str(), &st), 0);
    phonebook_free(&s.pb);
    chmod(p.c_str(), 0644);
  }
}

// Alt+Z: the help screen's line under the legend names the phonebook.
TEST_F(MenuController, HelpNamesThePhonebookInUse) {
  open(1);
  plat_inject_event(m.ui.window, vanilla(' '));
  key(MENU_KEY_ALT_Z);
  const int w = plat_window_inner_width(m.ui.window);
  auto row = [&] {
    std::vector<int> px;
    for (int y = ui_cell_y(&m.ui, 23); y < ui_cell_y(&m.ui, 24); y++)
      for (int x = 0; x < w; x++) px.push_back(plat_read_pixel(m.ui.window, x, y));
    return px;
  };
  const std::vector<int> shown = row();
  ui_text_bg_cell(&m.ui, 23, 0, 80, "", UI_WHITE, UI_BLACK);
  EXPECT_NE(row(), shown);  // something was written there
  ui_text_bg_cell(&m.ui, 23, 2, 76, ui_help_phonebook_line(path.c_str()).c_str(), UI_GREY,
                  UI_BLACK);
  EXPECT_EQ(row(), shown);
  EXPECT_EQ(ui_help_phonebook_line(("/" + std::string(100, 'd') + "/kavel.phonebook").c_str()),
            "Phone book: ..." + std::string(45, 'd') + "/kavel.phonebook");
}

TEST_F(MenuController, MissingPhonebookIsANewOne) {
  m.call = fake_session;
  menu_load(&m, dir.file("new.phonebook").c_str());
  EXPECT_FALSE(m.save_refused);
  EXPECT_EQ(m.pb.count, 0u);
}

// ----------------------------------------------------------------- console --

std::string run_console(MenuState* m, const std::string& input) {
  FILE* in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
  char* out_buf = nullptr;
  size_t out_len = 0;
  FILE* out = open_memstream(&out_buf, &out_len);
  menu_console(m, in, out);
  fclose(in);
  fclose(out);
  std::string text(out_buf, out_len);
  free(out_buf);
  return text;
}

TEST_F(MenuController, ConsoleAddsListsDeletesSorts) {
  m.call = fake_session;
  menu_load(&m, path.c_str());
  std::string out = run_console(&m,
                                "A\nZulu Board\nzulu.example\n2323\n\n\n\n\ny\nC64 Up/GFX [40]\n"
                                "a\nAlpha\nalpha.example\n\nsysop\nsecret\nMystic\nnote\nn\n\n"
                                "a\nNo Host\n\n\n\n\n\n\n\n\n"
                                "S\n"
                                "D\n9\n"
                                "D\n2\n"
                                "q\n");
  EXPECT_EQ(out.rfind("Phone book: " + path + "\n", 0), 0u);
  EXPECT_NE(out.find("Phone book is empty.\n"), std::string::npos);
  EXPECT_NE(out.find("\nEnter entry number to call, A add, E type, D delete, P paths, S sort, "
                     "Q quit: "),
            std::string::npos);
  EXPECT_NE(out.find("Name and host are required.\n"), std::string::npos);
  EXPECT_NE(out.find("Invalid entry number.\n"), std::string::npos);
  EXPECT_NE(out.find("Favourite [y/N]: "), std::string::npos);
  EXPECT_NE(out.find(" 1. * Zulu Board"), std::string::npos);
  Phonebook pb = reload();
  ASSERT_EQ(pb.count, 1u);
  // Sorted: the favourite first; then the second entry deleted.
  EXPECT_STREQ(pb.entries[0].name, "Zulu Board");
  EXPECT_EQ(pb.entries[0].port, 2323);
  EXPECT_EQ(pb.entries[0].favourite, 1);
  EXPECT_EQ(pb.entries[0].terminal, 5);
  EXPECT_STREQ(pb.entries[0].font, "C64 Up/GFX [40]");
  phonebook_free(&pb);
}

TEST_F(MenuController, ConsoleEditsTheTypeAndCalls) {
  write_book(2);
  m.call = fake_session;
  menu_load(&m, path.c_str());
  std::string out = run_console(&m, "E\n2\nTopaz (1200)\n2\n");  // end of input leaves
  EXPECT_NE(out.find("Current type: CP437\n"), std::string::npos);
  EXPECT_EQ(g_fake.calls, 1);
  EXPECT_FALSE(g_fake.had_ui);
  EXPECT_EQ(g_fake.port, 2301);
  Phonebook pb = reload();
  EXPECT_STREQ(pb.entries[1].font, "Topaz (1200)");
  EXPECT_EQ(pb.entries[1].call_count, 1u);
  phonebook_free(&pb);
}

TEST_F(MenuController, ConsoleTellsAboutAPartlyReadPhonebook) {
  TempDir d;
  std::string p = d.file("book");
  ASSERT_EQ(mkdir(p.c_str(), 0755), 0);
  m.call = fake_session;
  menu_load(&m, p.c_str());
  // The add is refused with the reason before its questions, and changes
  // nothing (the rest of the answers are read as commands and ignored).
  std::string out = run_console(&m, "a\nX\nx.example\n\n\n\n\n\n\n\nq\n");
  // After the line naming the file, before anything else.
  EXPECT_EQ(out.find(std::string(kMenuMsgPartialLoad) + "\n"), out.find('\n') + 1);
  EXPECT_NE(out.find(std::string(kMenuMsgPartialLoad) + "\n", out.find('\n') + 2),
            std::string::npos);
  EXPECT_EQ(out.find("Name: "), std::string::npos);
  EXPECT_EQ(m.pb.count, 0u);
  struct stat st;
  ASSERT_EQ(stat(p.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

}  // namespace

namespace {

// ---------------------------------------------------------------- bad input --

TEST_F(MenuController, TenThousandEntriesDrawScrollAndSave) {
  write_book(10000);
  m.call = fake_session;
  menu_load(&m, path.c_str());
  ASSERT_EQ(m.pb.count, 10000u);
  ASSERT_EQ(menu_open_display(&m), 0);
  for (int code : {int{MENU_KEY_END}, int{MENU_KEY_PAGE_UP}, int{MENU_KEY_UP}, int{MENU_KEY_HOME},
                   int{MENU_KEY_PAGE_DOWN}}) {
    key(code);
    menu_clamp_view(&m);
    ui_draw_entry_list(&m.ui, &m.pb, m.selected, m.offset);
  }
  EXPECT_EQ(m.selected, 7);
  EXPECT_EQ(m.offset, 1);
  plat_inject_event(m.ui.window, vanilla('y'));
  key(127);
  Phonebook pb = reload();
  EXPECT_EQ(pb.count, 9999u);
  EXPECT_STREQ(pb.entries[7].name, "Board 08");
  phonebook_free(&pb);
}

TEST_F(MenuController, OddFilesDrawAndSaveWithoutLosingEntries) {
  struct Case {
    const char* name;
    std::string bytes;
    unsigned entries;
  };
  std::string long_fields = std::string(5000, 'N') + "|" + std::string(3000, 'h') + "|99999|" +
                            std::string(400, '\\') + "|" + std::string(2000, '|') + "\n";
  std::string garbage;
  for (int i = 0; i < 4096; i++) garbage.push_back(static_cast<char>((i * 7919) % 256));
  std::string control_names = "Bell\a\x1b[2J|host\x01|23\n";
  const Case cases[] = {
      {"very long fields", long_fields + "Ok|ok.example|23\n", 2},
      {"binary garbage", garbage + "\nOk|ok.example|23\n", 0},
      {"control bytes in the fields", control_names, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(write_file_bytes(path, c.bytes));
    MenuState s{};
    s.call = fake_session;
    menu_load(&s, path.c_str());
    EXPECT_FALSE(s.save_refused);
    unsigned loaded = s.pb.count;
    if (c.entries) {
      EXPECT_EQ(loaded, c.entries);
    }
    ASSERT_EQ(menu_open_display(&s), 0);
    for (int sel = 0; sel < static_cast<int>(loaded) + 1; sel++)
      ui_draw_entry_list(&s.ui, &s.pb, sel, 0);
    EXPECT_EQ(menu_save(&s), 0);
    Phonebook back{};
    EXPECT_EQ(phonebook_load(&back, path.c_str()), 0);
    EXPECT_EQ(back.count, loaded);
    phonebook_free(&back);
    menu_finish(&s);
  }
}

}  // namespace

// ------------------------------------------------------------- the forms --

class MenuForms : public MenuController {
 protected:
  void SetUp() override {
    MenuController::SetUp();
    g_ui_saved_feedback_ticks = 0;
    g_ui_form_idle_ticks = 2;
  }
  void TearDown() override {
    g_ui_saved_feedback_ticks = 50;
    g_ui_form_idle_ticks = 0;
    MenuController::TearDown();
  }
  void queue(const std::vector<PlatEvent>& events) {
    for (const PlatEvent& ev : events) plat_inject_event(m.ui.window, ev);
  }
  static std::vector<PlatEvent> typed(const char* text) {
    std::vector<PlatEvent> out;
    for (const char* p = text; *p; p++) out.push_back(vanilla(static_cast<uint8_t>(*p)));
    return out;
  }
};

const PlatEvent kDownKey{PLAT_EV_RAWKEY, RAWKEY_DOWN, 0, 0, 0};
const PlatEvent kRightKey{PLAT_EV_RAWKEY, RAWKEY_RIGHT, 0, 0, 0};
const PlatEvent kAltS = vanilla('s', PLAT_QUAL_LALT);

TEST_F(MenuForms, AltEFollowsTheEntryWhenItBecomesAFavourite) {
  open(5);
  m.selected = 4;
  // Type is three rows down; Favourite beside it.
  queue({kDownKey, kDownKey, kDownKey, kRightKey, vanilla(13), kAltS});
  EXPECT_EQ(key(MENU_KEY_ALT_E), 0);
  EXPECT_EQ(m.selected, 0);
  Phonebook pb = reload();
  ASSERT_EQ(pb.count, 5u);
  EXPECT_STREQ(pb.entries[0].name, "Board 04");
  EXPECT_EQ(pb.entries[0].favourite, 1);
  phonebook_free(&pb);
}

TEST_F(MenuForms, AltAAddsAndSelectsTheNewEntry) {
  open(3);
  std::vector<PlatEvent> ev = {vanilla(13)};
  for (const auto& e : typed("New Board")) ev.push_back(e);
  ev.push_back(vanilla(13));
  ev.push_back(kDownKey);
  ev.push_back(vanilla(13));
  for (const auto& e : typed("new.example")) ev.push_back(e);
  ev.push_back(vanilla(13));
  ev.push_back(kAltS);
  queue(ev);
  EXPECT_EQ(key(MENU_KEY_ALT_A), 0);
  EXPECT_EQ(m.selected, 3);
  Phonebook pb = reload();
  ASSERT_EQ(pb.count, 4u);
  EXPECT_STREQ(pb.entries[3].name, "New Board");
  EXPECT_STREQ(pb.entries[3].address, "new.example");
  phonebook_free(&pb);
}

TEST_F(MenuForms, NoFormOpensOverAPartlyReadPhonebook) {
  open(3);
  std::vector<unsigned char> before = read_file_bytes(path);
  m.save_refused = true;
  // The note is shown and dismissed with a key; an editor would have taken
  // the Return and the typing.
  queue({vanilla(' '), vanilla(13), vanilla('x'), vanilla(13), kAltS});
  EXPECT_EQ(key(MENU_KEY_ALT_E), 0);
  EXPECT_EQ(m.pb.count, 3u);
  EXPECT_STREQ(m.pb.entries[0].name, "Board 00");
  EXPECT_EQ(read_file_bytes(path), before);
}

// Delete, Sort and Import after a partly read phonebook say why (the note
// takes the first key; a question, the sort choice or the picker would have
// taken the second) and leave the list in memory as it was.
TEST_F(MenuForms, DeleteSortAndImportSayWhyAfterAPartlyReadPhonebook) {
  open(3);
  std::vector<unsigned char> before = read_file_bytes(path);
  m.save_refused = true;
  std::swap(m.pb.entries[0], m.pb.entries[2]);  // an order a sort would change
  for (int code : {127, int{MENU_KEY_ALT_S}, int{MENU_KEY_ALT_I}}) {
    SCOPED_TRACE(code);
    queue({vanilla(' '), vanilla('y')});
    EXPECT_EQ(key(code), 0);
    EXPECT_EQ(ui_poll_key(&m.ui), 'y');
    ASSERT_EQ(m.pb.count, 3u);
    EXPECT_STREQ(m.pb.entries[0].name, "Board 02");
  }
  EXPECT_EQ(read_file_bytes(path), before);
}
