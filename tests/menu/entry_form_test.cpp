// The entry editor: field editing, focus movement, the type chooser, Save
// and Cancel against the phonebook and its file, adding, and golden images.
#include "menu/entry_form.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "forms_test_util.h"
#include "menu/line_edit.h"
#include "phonebook/phonebook.h"
#include "support/test_support.h"
#include "util/font_names.h"
#include "util/text.h"

using namespace forms_test;

namespace {

PhoneEntry make_entry(const char* name, const char* address, int port = 23, int fav = 0) {
  PhoneEntry e{};
  safe_copy(e.name, sizeof e.name, name);
  safe_copy(e.address, sizeof e.address, address);
  e.port = port;
  e.terminal = kTerminalAnsi;
  safe_copy(e.font, sizeof e.font, kFontCP437);
  e.favourite = fav;
  return e;
}

// ------------------------------------------------------------ line editing --

TEST(LineEdit, KeysAndPaste) {
  struct Case {
    const char* name;
    const char* start;
    size_t capacity;
    std::vector<int> keys;
    const char* paste;  // pasted after the keys (null: none)
    const char* text;
    int cursor;
  };
  const Case cases[] = {
      {"typing appends at the end", "ab", 80, {'c', 'd'}, nullptr, "abcd", 4},
      {"insert after moving left", "ac", 80, {MENU_KEY_LEFT, 'b'}, nullptr, "abc", 2},
      {"home then type inserts at the start", "bc", 80, {MENU_KEY_HOME, 'a'}, nullptr, "abc", 1},
      {"backspace deletes before the cursor", "abc", 80, {MENU_KEY_LEFT, 8}, nullptr, "ac", 1},
      {"backspace at the start does nothing", "abc", 80, {MENU_KEY_HOME, 8}, nullptr, "abc", 0},
      {"delete removes at the cursor", "abc", 80, {MENU_KEY_HOME, 127}, nullptr, "bc", 0},
      {"delete at the end does nothing", "abc", 80, {127}, nullptr, "abc", 3},
      {"cursor stays inside the text",
       "ab",
       80,
       {MENU_KEY_RIGHT, MENU_KEY_RIGHT, MENU_KEY_HOME, MENU_KEY_LEFT},
       nullptr,
       "ab",
       0},
      {"end goes after the last character",
       "abc",
       80,
       {MENU_KEY_HOME, MENU_KEY_END, 'd'},
       nullptr,
       "abcd",
       4},
      {"a full field takes no more typing",
       "abcd",
       5,
       {'e', MENU_KEY_HOME, 'x'},
       nullptr,
       "abcd",
       0},
      {"a full field takes nothing pasted", "abcd", 5, {}, "xyz", "abcd", 4},
      {"paste stops when the field fills", "ab", 5, {MENU_KEY_HOME}, "xyz", "xyab", 2},
      {"paste turns tabs into spaces and drops control bytes",
       "",
       80,
       {},
       "a\tb\x01\r\nc\x7f\x80\xff"
       "d",
       "a bcd",
       5},
      {"typed CP437 letters are text, control codes are not",
       "",
       80,
       {130, 1, 27, 255, 'x'},
       nullptr,
       "\x82\xffx",
       3},
      {"a field longer than its capacity is cut", "abcdefgh", 4, {}, nullptr, "abc", 3},
  };
  for (const Case& c : cases) {
    UiLineEdit e;
    ui_line_edit_start(&e, c.start, c.capacity);
    for (int k : c.keys) ui_line_edit_key(&e, k);
    if (c.paste) ui_line_edit_paste(&e, c.paste, strlen(c.paste));
    EXPECT_STREQ(e.text, c.text) << c.name;
    EXPECT_EQ(e.len, static_cast<int>(strlen(c.text))) << c.name;
    EXPECT_EQ(e.cursor, c.cursor) << c.name;
  }
}

// A UTF-8 field (a directory, a host name) moves and deletes by characters
// and shows each as one CP437 cell; a password shows stars.
TEST(LineEdit, Utf8FieldsAndMaskedFields) {
  UiLineEdit e;
  ui_line_edit_start_utf8(&e, "/srv/\xe6\x97\xa5", 256);  // 日: no CP437 picture
  int cursor = -1;
  ui_line_edit_key(&e, MENU_KEY_LEFT);
  EXPECT_EQ(e.cursor, 5);
  ui_line_edit_key(&e, 'x');
  EXPECT_STREQ(e.text, "/srv/x\xe6\x97\xa5");
  EXPECT_EQ(ui_line_edit_cells(&e, &cursor), "/srv/x?");
  EXPECT_EQ(cursor, 6);
  ui_line_edit_key(&e, 127);  // Delete takes the whole character
  ui_line_edit_key(&e, 130);  // é, as the menu's CP437 key code
  EXPECT_STREQ(e.text, "/srv/x\xc3\xa9");
  EXPECT_EQ(ui_line_edit_cells(&e, &cursor), "/srv/x\x82");
  ui_line_edit_key(&e, 8);
  EXPECT_STREQ(e.text, "/srv/x");
  // An é does not fit in the last free byte of a field.
  ui_line_edit_start_utf8(&e, "abc", 5);
  EXPECT_EQ(ui_line_edit_insert(&e, 130), 0);
  EXPECT_EQ(ui_line_edit_insert(&e, 'd'), 1);
  ui_line_edit_start(&e, "p\x82ss", 80);
  e.masked = true;
  EXPECT_EQ(ui_line_edit_cells(&e, &cursor), "****");
  EXPECT_EQ(cursor, 4);
}

TEST(LineEdit, TheCursorStaysInTheLastVisibleCell) {
  UiLineEdit e;
  ui_line_edit_start(&e, std::string(40, 'x').c_str(), 80);
  EXPECT_EQ(ui_line_edit_first_visible(&e, 22), 40 - 22 + 1);
  e.cursor = 21;
  EXPECT_EQ(ui_line_edit_first_visible(&e, 22), 0);
  e.cursor = 22;
  EXPECT_EQ(ui_line_edit_first_visible(&e, 22), 1);
}

// ------------------------------------------------------------------ focus --

TEST(EntryFormFocus, OrderAndPartners) {
  // Down walks Name, Address, Port, Type, Terminal, Username, Password,
  // Software, Favourite, Note, Save, Cancel and stays there.
  const int order[] = {0, 1, 2, 3, 10, 5, 6, 4, 8, 9, 11, 12, 12};
  for (size_t i = 0; i + 1 < sizeof order / sizeof order[0]; i++)
    EXPECT_EQ(ui_edit_entry_next_focus(order[i]), order[i + 1]) << order[i];
  for (size_t i = sizeof order / sizeof order[0] - 2; i > 0; i--)
    EXPECT_EQ(ui_edit_entry_previous_focus(order[i]), order[i - 1]) << order[i];
  EXPECT_EQ(ui_edit_entry_previous_focus(EDIT_FOCUS_NAME), EDIT_FOCUS_NAME);
  const int partners[][2] = {{0, 5}, {1, 6}, {2, 4}, {3, 8}, {10, 9}, {11, 12}};
  for (const auto& p : partners) {
    EXPECT_EQ(ui_edit_entry_partner_focus(p[0]), p[1]);
    EXPECT_EQ(ui_edit_entry_partner_focus(p[1]), p[0]);
  }
  EXPECT_EQ(ui_edit_entry_partner_focus(EDIT_FOCUS_CALL_COUNT), EDIT_FOCUS_CALL_COUNT);
}

TEST(EntryFormType, StartingChoice) {
  struct Case {
    const char* font;
    int choice;
  };
  const Case cases[] = {
      {"", 0},
      {"CP437", 0},
      {"Topaz (1200)", 1},
      {"Topaz (Amiga)", 2},
      {"C64 Up/GFX [40]", 3},
      {"C64 Low/Up [40]", 4},
      {"C64 Up/GFX [80]", 5},
      {"C64 Low/Up [80]", 6},
      {"commodore", 3},
      {"Courier.font", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ui_edit_entry_type_choice(c.font), c.choice) << c.font;
}

// ------------------------------------------------------ the editor at work --

class EntryForm : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    path = dir.file("kavel.phonebook");
  }
  void TearDown() override {
    phonebook_free(&pb);
    FormTest::TearDown();
  }
  void load(std::initializer_list<PhoneEntry> entries) {
    for (const PhoneEntry& e : entries) ASSERT_EQ(phonebook_append(&pb, &e), 0);
    ASSERT_EQ(phonebook_save(&pb, path.c_str()), 0);
    file_before = read_file_bytes(path);
  }
  int edit(int index, const std::vector<PlatEvent>& events, int* out = nullptr) {
    inject(events);
    int at = -2;
    int r = ui_edit_entry(&ui, &pb, path.c_str(), index, &at);
    if (out) *out = at;
    return r;
  }
  std::string line_of(const PhoneEntry& e) {
    char buf[4096];
    FILE* f = fmemopen(buf, sizeof buf, "w");
    phonebook_write_entry(f, &e);
    fclose(f);
    return std::string(buf);
  }

  TempDir dir;
  std::string path;
  Phonebook pb{};
  std::vector<unsigned char> file_before;
};

TEST_F(EntryForm, CancelAfterChangesLeavesPhonebookAndFileUntouched) {
  load({make_entry("Alpha", "alpha.example"), make_entry("Beta", "beta.example")});
  PhoneEntry before = pb.entries[1];
  const std::vector<std::vector<PlatEvent>> endings = {
      {kEscape, vanilla('y')}, {kEnd, kReturn}, {PlatEvent{PLAT_EV_CLOSE, 0, 0, 0, 0}}};
  for (const auto& ending : endings) {
    ui.close_requested = 0;
    // Rename, flip Favourite and Terminal, then leave without saving.
    std::vector<PlatEvent> ev = std::vector<PlatEvent>{kReturn} + typed("XYZ") +
                                std::vector<PlatEvent>{kReturn, kRight, kDown, kReturn} + ending;
    EXPECT_EQ(edit(1, ev), 0);
    EXPECT_EQ(memcmp(&pb.entries[1], &before, sizeof before), 0);
    EXPECT_EQ(read_file_bytes(path), file_before);
  }
}

// Escape with unsaved changes asks "Discard changes?" with NO selected:
// Return keeps editing.  Without changes Escape leaves at once.
TEST_F(EntryForm, EscapeAsksBeforeDroppingChanges) {
  load({make_entry("Alpha", "alpha.example")});
  std::vector<PlatEvent> ev = std::vector<PlatEvent>{kReturn} + typed("X") +
                              std::vector<PlatEvent>{kReturn, kEscape, kReturn, alt('s')};
  EXPECT_EQ(edit(0, ev), 1);
  EXPECT_STREQ(pb.entries[0].name, "AlphaX");
  inject({kEscape, vanilla('x')});
  EXPECT_EQ(ui_edit_entry(&ui, &pb, path.c_str(), 0, nullptr), 0);
  EXPECT_EQ(ui_poll_key(&ui), 'x');  // no question took it
}

TEST_F(EntryForm, SaveWritesExactlyTheEditedEntry) {
  load({make_entry("Alpha", "alpha.example"), make_entry("Beta", "beta.example", 2323),
        make_entry("Gamma", "gamma.example")});
  PhoneEntry expected = pb.entries[1];
  safe_copy(expected.name, sizeof expected.name, "Beta BBS");
  expected.port = 6400;
  safe_copy(expected.username, sizeof expected.username, "sysop");
  safe_copy(expected.note, sizeof expected.note, "fast");
  std::vector<PlatEvent> ev = std::vector<PlatEvent>{kReturn} + typed(" BBS") +
                              std::vector<PlatEvent>{kReturn, kDown, kDown, kReturn} +
                              std::vector<PlatEvent>(4, kBackspace) + typed("6400") +
                              std::vector<PlatEvent>{kReturn, kHome, kRight, kReturn} +
                              typed("sysop") +
                              std::vector<PlatEvent>{kReturn, kEnd, kUp, kUp, kReturn} +
                              typed("fast") + std::vector<PlatEvent>{kReturn, alt('s')};
  int at = -1;
  EXPECT_EQ(edit(1, ev, &at), 1);
  EXPECT_EQ(at, 1);
  EXPECT_EQ(memcmp(&pb.entries[1], &expected, sizeof expected), 0);
  std::string file(file_before.begin(), file_before.end());
  std::string old_line = line_of(make_entry("Beta", "beta.example", 2323));
  file.replace(file.find(old_line), old_line.size(), line_of(expected));
  std::vector<unsigned char> now = read_file_bytes(path);
  EXPECT_EQ(std::string(now.begin(), now.end()), file);
}

TEST_F(EntryForm, PortsOutsideTheRangeAreStoredAs23) {
  const char* ports[] = {"0", "65536", "99999999999999999999", "abc", " 2323 "};
  const int expected[] = {23, 23, 23, 23, 2323};
  load({make_entry("Alpha", "alpha.example", 1000)});
  for (int i = 0; i < 5; i++) {
    std::vector<PlatEvent> ev = std::vector<PlatEvent>{kDown, kDown, kReturn} +
                                std::vector<PlatEvent>(5, kBackspace) + typed(ports[i]) +
                                std::vector<PlatEvent>{kReturn, alt('s')};
    EXPECT_EQ(edit(0, ev), 1) << ports[i];
    EXPECT_EQ(pb.entries[0].port, expected[i]) << ports[i];
  }
}

TEST_F(EntryForm, LeftAndRightGoNowhereFromTheirOwnColumn) {
  load({make_entry("Alpha", "alpha.example", 1000)});
  // Left on Port (left column) stays there: Return edits the port.  Right
  // on Username (right column) stays there: Return edits the user name.
  std::vector<PlatEvent> ev = std::vector<PlatEvent>{kDown, kDown, kLeft, kReturn} +
                              std::vector<PlatEvent>(4, kBackspace) + typed("2424") +
                              std::vector<PlatEvent>{kReturn, kHome, kRight, kRight, kReturn} +
                              typed("guest") + std::vector<PlatEvent>{kReturn, alt('s')};
  EXPECT_EQ(edit(0, ev), 1);
  EXPECT_EQ(pb.entries[0].port, 2424);
  EXPECT_STREQ(pb.entries[0].software, "");
  EXPECT_STREQ(pb.entries[0].username, "guest");
  EXPECT_STREQ(pb.entries[0].name, "Alpha");
}

// The address is a host name, the file system's and the resolver's UTF-8;
// the other text fields keep the screen's CP437.
TEST_F(EntryForm, TheAddressIsStoredAsUtf8) {
  load({make_entry("Caf", "b")});
  // é and ü arrive as the keyboard gives them, Unicode characters.
  std::vector<PlatEvent> ev =
      std::vector<PlatEvent>{kReturn, kEnd, vanilla(0xE9), kReturn, kDown, kReturn, kEnd,
                             vanilla(0xFC)} +
      typed("cher.example") + std::vector<PlatEvent>{kReturn, alt('s')};
  EXPECT_EQ(edit(0, ev), 1);
  EXPECT_STREQ(pb.entries[0].name, "Caf\x82");
  EXPECT_STREQ(pb.entries[0].address, "b\xc3\xbc" "cher.example");
}

TEST_F(EntryForm, FavouriteOnTheFifthEntryMovesItAfterTheFavourites) {
  load({make_entry("F1", "f1", 23, 1), make_entry("F2", "f2", 23, 1), make_entry("N1", "n1"),
        make_entry("N2", "n2"), make_entry("N3", "n3")});
  int at = -1;
  // Favourite is Type's partner: Down x3 to Type, Right, Return toggles.
  EXPECT_EQ(edit(4, {kDown, kDown, kDown, kRight, kReturn, alt('s')}, &at), 1);
  EXPECT_EQ(at, 2);
  const char* order[] = {"F1", "F2", "N3", "N1", "N2"};
  for (int i = 0; i < 5; i++) EXPECT_STREQ(pb.entries[i].name, order[i]);
  // And a former favourite goes to the top of the others.
  EXPECT_EQ(edit(0, {kDown, kDown, kDown, kRight, kReturn, alt('s')}, &at), 1);
  EXPECT_EQ(at, 2);
  const char* order2[] = {"F2", "N3", "F1", "N1", "N2"};
  for (int i = 0; i < 5; i++) EXPECT_STREQ(pb.entries[i].name, order2[i]);
}

TEST_F(EntryForm, TypeChooserSetsTheTerminal) {
  load({make_entry("Alpha", "alpha.example")});
  // CP437 (0) -> Right x3 -> "C64 Up/GFX [40]".
  std::vector<PlatEvent> to_type = {kDown, kDown, kDown, kReturn};
  EXPECT_EQ(edit(0, to_type + std::vector<PlatEvent>{kRight, kRight, kRight, kReturn, alt('s')}),
            1);
  EXPECT_STREQ(pb.entries[0].font, kFontC64UpGfx40);
  EXPECT_EQ(pb.entries[0].terminal, kTerminalPetscii);
  // Left from "C64 Up/GFX [40]" three times is CP437 again, and ANSI; Left
  // from the first wraps to the last.
  EXPECT_EQ(edit(0, to_type + std::vector<PlatEvent>{kLeft, kLeft, kLeft, kReturn, alt('s')}), 1);
  EXPECT_STREQ(pb.entries[0].font, kFontCP437);
  EXPECT_EQ(pb.entries[0].terminal, kTerminalAnsi);
  EXPECT_EQ(edit(0, to_type + std::vector<PlatEvent>{kLeft, kReturn, alt('s')}), 1);
  EXPECT_STREQ(pb.entries[0].font, kFontC64LowUp80);
  // Escape leaves the chooser without a change.
  EXPECT_EQ(edit(0, to_type + std::vector<PlatEvent>{kRight, kEscape, alt('s')}), 1);
  EXPECT_STREQ(pb.entries[0].font, kFontC64LowUp80);
}

TEST_F(EntryForm, NameAndAddressAreRequired) {
  load({make_entry("Alpha", "alpha.example")});
  // Blank the name (spaces only count as blank: the file would trim them),
  // save: the message, a key, and the editor goes on; Escape leaves.
  std::vector<PlatEvent> ev = std::vector<PlatEvent>{kReturn} +
                              std::vector<PlatEvent>(5, kBackspace) + typed("   ") +
                              std::vector<PlatEvent>{kReturn, alt('s'), vanilla(' '), kEscape};
  EXPECT_EQ(edit(0, ev), 0);
  EXPECT_STREQ(pb.entries[0].name, "Alpha");
  EXPECT_EQ(read_file_bytes(path), file_before);
}

TEST_F(EntryForm, PasteIntoAFieldFromTheDesktop) {
  load({make_entry("Alpha", "alpha.example")});
  // Another program copied text with a tab, a line end and a box-drawing
  // character: the tab becomes a space, the line end goes, and the box
  // character (CP437 196) is outside 32..126 and is skipped.
  const char text[] = "Board\tOne\r\n\xe2\x94\x80!";
  plat_headless_clipboard_set_text(text, sizeof text - 1);
  std::vector<PlatEvent> ev = {kReturn, kHome, alt('v'), kReturn, alt('s')};
  EXPECT_EQ(edit(0, ev), 1);
  EXPECT_STREQ(pb.entries[0].name, "Board One!Alpha");
  // A clipboard holding no text pastes nothing.
  plat_headless_clipboard_set_nontext();
  EXPECT_EQ(edit(0, {kReturn, alt('v'), kReturn, alt('s')}), 1);
  EXPECT_STREQ(pb.entries[0].name, "Board One!Alpha");
}

TEST_F(EntryForm, AFullFieldTakesNothingPasted) {
  PhoneEntry e = make_entry(std::string(79, 'n').c_str(), "a");
  load({e});
  plat_headless_clipboard_set_text("more", 4);
  EXPECT_EQ(edit(0, {kReturn, alt('v'), vanilla('x'), kReturn, alt('s')}), 1);
  EXPECT_EQ(std::string(pb.entries[0].name), std::string(79, 'n'));
}

TEST_F(EntryForm, AReadOnlyFileIsReported) {
  load({make_entry("Alpha", "alpha.example")});
  ASSERT_EQ(chmod(path.c_str(), 0400), 0);
  std::vector<PlatEvent> ev = std::vector<PlatEvent>{kReturn} + typed("!") +
                              std::vector<PlatEvent>{kReturn, alt('s'), vanilla(' ')};
  EXPECT_EQ(edit(0, ev), 0);
  EXPECT_EQ(read_file_bytes(path), file_before);
  chmod(path.c_str(), 0600);
}

TEST_F(EntryForm, AddThenCancelLeavesTheListAsItWas) {
  load({make_entry("Alpha", "a"), make_entry("Beta", "b")});
  Phonebook copy{};
  for (uint32_t i = 0; i < pb.count; i++) phonebook_append(&copy, &pb.entries[i]);
  inject(std::vector<PlatEvent>{kReturn, vanilla('Z'), kReturn, kEscape, vanilla('y')});
  int at = -5;
  EXPECT_EQ(ui_add_entry(&ui, &pb, path.c_str(), &at), 0);
  ASSERT_EQ(pb.count, 2u);
  EXPECT_EQ(memcmp(pb.entries, copy.entries, 2 * sizeof(PhoneEntry)), 0);
  EXPECT_EQ(at, 1);  // the last entry: nothing follows the provisional one
  EXPECT_EQ(read_file_bytes(path), file_before);
  phonebook_free(&copy);
}

TEST_F(EntryForm, AddAFavouriteSavesItInItsPlace) {
  load({make_entry("F1", "f1", 23, 1), make_entry("N1", "n1")});
  inject(std::vector<PlatEvent>{kReturn} + typed("New") +
         std::vector<PlatEvent>{kReturn, kDown, kReturn} + typed("new.example") +
         std::vector<PlatEvent>{kReturn, kDown, kDown, kRight, kReturn, alt('s')});
  int at = -5;
  EXPECT_EQ(ui_add_entry(&ui, &pb, path.c_str(), &at), 1);
  ASSERT_EQ(pb.count, 3u);
  EXPECT_EQ(at, 1);
  EXPECT_STREQ(pb.entries[1].name, "New");
  EXPECT_STREQ(pb.entries[1].address, "new.example");
  EXPECT_EQ(pb.entries[1].port, 23);
  Phonebook back{};
  ASSERT_EQ(phonebook_load(&back, path.c_str()), 0);
  ASSERT_EQ(back.count, 3u);
  EXPECT_STREQ(back.entries[1].name, "New");
  phonebook_free(&back);
}

TEST_F(EntryForm, EditRefusesBadArguments) {
  load({make_entry("Alpha", "a")});
  int at = 7;
  EXPECT_EQ(ui_edit_entry(&ui, &pb, path.c_str(), 1, &at), 0);
  EXPECT_EQ(at, 1);
  EXPECT_EQ(ui_edit_entry(&ui, &pb, nullptr, 0, &at), 0);
  EXPECT_EQ(ui_edit_entry(&ui, &pb, path.c_str(), -1, &at), 0);
}

// ---------------------------------------------------------------- pictures --

TEST_F(EntryForm, FormGolden) {
  PhoneEntry e = make_entry("Kavel Test Board", "bbs.example.org", 2323);
  safe_copy(e.username, sizeof e.username, "sysop");
  safe_copy(e.password, sizeof e.password, "secret");
  safe_copy(e.software, sizeof e.software, "Mystic");
  safe_copy(e.note, sizeof e.note,
            "A note long enough to be cut at the edge of its column, really");
  e.call_count = 42;
  e.favourite = 1;
  ui_draw_edit_entry_menu(&ui, &e, EDIT_FOCUS_ADDRESS, -1, true);
  golden("form_entry");
  // Rows: the focused one on blue, the others on black; Call Count cyan.
  EXPECT_EQ(pen_at_cell(14, 20), pen_of(UI_BLUE));
  EXPECT_EQ(pen_at_cell(13, 20), pen_of(UI_BLACK));
  // Moving the focus to Save redraws Address unfocused and the buttons.
  ui_draw_edit_entry_menu(&ui, &e, EDIT_FOCUS_SAVE, EDIT_FOCUS_ADDRESS, false);
  EXPECT_EQ(pen_at_cell(14, 20), pen_of(UI_BLACK));
  EXPECT_EQ(pen_at_cell(22, 3), pen_of(UI_BLUE));
}

TEST_F(EntryForm, TypeChooserGolden) {
  PhoneEntry e = make_entry("Kavel Test Board", "bbs.example.org", 2323);
  ui_draw_edit_entry_menu(&ui, &e, EDIT_FOCUS_TYPE, -1, true);
  ui_draw_edit_entry_type_chooser(&ui, 3);
  golden("form_entry_type_chooser");
  EXPECT_EQ(pen_at_cell(16, 5), pen_of(2));
}

}  // namespace
