// The in-session phonebook in headless windows over a session whose BBS end
// is a socket pair: its key table, the connection served underneath, the
// peer hanging up, window modes, and delete and sort through the crash-safe
// save.
#include "session/phonebook_overlay.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "display/modes.h"
#include "display/surface.h"
#include "display/ui_surface.h"
#include "link/connect.h"
#include "menu/entry_list.h"
#include "menu/line_edit.h"
#include "menu/ui_input.h"
#include "phonebook/phonebook.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/dos.h"
#include "session/input.h"
#include "session/session.h"
#include "session/session_loop.h"
#include "session/session_test_util.h"
#include "support/open_window.h"
#include "support/session_link.h"
#include "support/test_support.h"
#include "terminal/terminal.h"
#include "util/text.h"

// A namespace of its own: the file's event helpers share names with those of
// support/events.h and of the files batched with it.
namespace phonebook_overlay_test {

namespace {

constexpr const char* kTitle = "Kavel - bbs.example:23";
constexpr uint16_t kAlt = PLAT_QUAL_LALT;

PlatEvent ev(uint32_t cls, int code, uint16_t qualifier = 0, bool repeat = false) {
  PlatEvent e;
  e.cls = cls;
  e.code = static_cast<uint16_t>(code);
  e.qualifier = qualifier;
  e.repeat = repeat;
  return e;
}
PlatEvent key(int ch, uint16_t qualifier = 0) {
  return ev(PLAT_EV_VANILLAKEY, ch, qualifier);
}
PlatEvent raw(int code, uint16_t qualifier = 0) {
  return ev(PLAT_EV_RAWKEY, code, qualifier);
}

PhoneEntry entry(const std::string& name) {
  PhoneEntry e{};
  safe_copy(e.name, sizeof e.name, name.c_str());
  safe_copy(e.address, sizeof e.address, (name + ".example").c_str());
  e.port = 23;
  e.terminal = kTerminalAnsi;
  safe_copy(e.font, sizeof e.font, "CP437");
  return e;
}

std::string contents(const std::string& path) {
  std::vector<unsigned char> b = read_file_bytes(path);
  return std::string(b.begin(), b.end());
}

// The test's script: called at the top of every pass with the overlay's
// display and the pass number (from 1).  A script that never ends the
// overlay is stopped with a close request after 400 passes.
std::function<void(UiContext*, int)> g_script;
int g_pass = 0;
int g_overlays = 0;  // overlays opened (passes with number 1)

void run_script(UiContext* overlay) {
  ++g_pass;
  if (g_pass == 1) g_overlays++;
  if (g_script) g_script(overlay, g_pass);
  if (g_pass > 400) plat_inject_event(overlay->window, ev(PLAT_EV_CLOSE, 0));
}

// A session bound to a terminal in a headless window, as a direct session
// binds it, with the BBS end of its socket in the test's hands, and its loop.
struct Rig {
  SocketPair pair;
  Session s;
  std::unique_ptr<Terminal> t = std::make_unique<Terminal>();
  std::unique_ptr<uint8_t[]> buf = std::make_unique<uint8_t[]>(kRecvChunkTransfer);
  SessionLoop loop;
  SessionRequest req;
  Phonebook pb{};
  int selected = 0;
  int first = 0;
  int running = 1;  // the loop's flags once the overlay has closed
  int closed_by_peer = 0;
  bool open = false;

  Rig() {
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    g_runtime_top_bar_enabled = 0;
    session_input_reset();
    ui_input_reset();
    session_init(&s);
    test_session_on_socket(&s, pair.ours);
    term_init_record(t.get());
    open = test_term_open(t.get(), kTitle) == 0;
    if (open) session_bind_terminal(&s, t.get(), nullptr, "bbs.example");
    session_loop_init(&loop, &s, nullptr, kTitle, buf.get());
    loop.request = &req;
    g_phonebook_overlay_pass_hook = run_script;
    // A popup whose key a test forgot gives up instead of waiting for ever.
    g_ui_wait_idle_limit = 2;
    g_pass = 0;
    g_overlays = 0;
  }
  ~Rig() {
    g_phonebook_overlay_pass_hook = nullptr;
    g_script = nullptr;
    g_ui_wait_idle_limit = 0;
    session_release_terminal(&s);
    phonebook_free(&pb);
    display_set_window_mode(DISPLAY_MODE_WINDOW);
    session_input_reset();
    ui_input_reset();
  }
  void add(std::initializer_list<const char*> names) {
    for (const char* n : names) {
      PhoneEntry e = entry(n);
      phonebook_append(&pb, &e);
    }
  }
  // Opens the overlay in the session loop and runs the loop's turns until
  // it has closed.
  int open_and_run() {
    g_pass = 0;
    int r = session_open_phonebook_menu(&loop);
    while (r == 0 && loop.mode.ops) session_pump_turn(&loop);
    running = loop.running;
    closed_by_peer = loop.closed_by_peer;
    return r;
  }
  int run(const char* path) {
    req = SessionRequest{.phonebook = &pb,
                         .phonebook_path = path,
                         .selected_index = &selected,
                         .first_visible_index = &first};
    return open_and_run();
  }
  std::string row(int r) const {
    std::string out;
    for (int c = 0; c < kTermCols; c++) {
      uint8_t ch = t->cells[r][c].ch;
      out.push_back(static_cast<char>(ch ? ch : ' '));
    }
    return out.substr(0, out.find_last_not_of(' ') + 1);
  }
  std::vector<uint8_t> terminal_pixels() const {
    const uint8_t* p = plat_window_pixels(t->window);
    size_t n = static_cast<size_t>(plat_window_inner_width(t->window)) *
               static_cast<size_t>(plat_window_inner_height(t->window));
    return std::vector<uint8_t>(p, p + n);
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < pb.count; i++) out.emplace_back(pb.entries[i].name);
    return out;
  }
};

void inject(UiContext* overlay, std::initializer_list<PlatEvent> events) {
  for (const auto& e : events) plat_inject_event(overlay->window, e);
}

}  // namespace

TEST(PhonebookOverlayKeys, TheKeyTable) {
  session_input_reset();
  clock_test_set_ms(500000);
  struct {
    const char* name;
    PlatEvent event;
    int action;
  } cases[] = {
      {"close button", ev(PLAT_EV_CLOSE, 0), OVERLAY_QUIT},
      {"refresh", ev(PLAT_EV_REFRESH, 0), OVERLAY_REFRESH},
      {"Escape", key(27), OVERLAY_CLOSE},
      {"raw Escape with Alt", raw(0x45, kAlt), OVERLAY_CLOSE},
      {"Delete", key(127), OVERLAY_DELETE},
      {"raw Delete with Alt", raw(0x46, kAlt), OVERLAY_DELETE},
      {"k", key('k'), OVERLAY_UP},
      {"J", key('J'), OVERLAY_DOWN},
      {"cursor up", raw(0x4C), OVERLAY_UP},
      {"cursor down", raw(0x4D), OVERLAY_DOWN},
      {"cursor left", raw(0x4F), OVERLAY_PAGE_UP},
      {"Page Up", raw(0x48), OVERLAY_PAGE_UP},
      {"0x5A", raw(0x5A), OVERLAY_PAGE_UP},
      {"cursor right", raw(0x4E), OVERLAY_PAGE_DOWN},
      {"Page Down", raw(0x49), OVERLAY_PAGE_DOWN},
      {"0x5B", raw(0x5B), OVERLAY_PAGE_DOWN},
      {"0x6E", raw(0x6E), OVERLAY_PAGE_DOWN},
      {"Home", raw(0x70), OVERLAY_HOME},
      {"0x4A", raw(0x4A), OVERLAY_HOME},
      {"0x5C", raw(0x5C), OVERLAY_HOME},
      {"End", raw(0x71), OVERLAY_END},
      {"0x5D", raw(0x5D), OVERLAY_END},
      {"F11 (0x4B, End on other keyboards) is no key here", raw(RAWKEY_F11), OVERLAY_NONE},
      {"F12 (0x6F, Page Up on other keyboards) is no key here", raw(RAWKEY_F12), OVERLAY_NONE},
      {"Alt+A", key('a', kAlt), OVERLAY_ADD},
      {"Amiga+E", key('E', PLAT_QUAL_RCOMMAND), OVERLAY_EDIT},
      {"Alt+s", key('s', kAlt), OVERLAY_SORT},
      {"Alt+Z", key('Z', PLAT_QUAL_RALT), OVERLAY_HELP},
      {"raw Alt+A", raw(0x20, kAlt), OVERLAY_ADD},
      {"raw Alt+E", raw(0x12, kAlt), OVERLAY_EDIT},
      {"raw Alt+S", raw(0x21, kAlt), OVERLAY_SORT},
      {"raw Alt+Z", raw(0x31, kAlt), OVERLAY_HELP},
      {"Alt+k moves as k", key('k', kAlt), OVERLAY_UP},
      {"raw Alt+cursor down moves", raw(0x4D, kAlt), OVERLAY_DOWN},
      {"Alt+Escape", key(27, kAlt), OVERLAY_CLOSE},
      {"a held Alt+E repeats nothing", ev(PLAT_EV_VANILLAKEY, 'e', kAlt, true), OVERLAY_NONE},
      {"plain letters", key('e'), OVERLAY_NONE},
      {"Return without Alt", key(13), OVERLAY_NONE},
      {"a release", raw(0x4C | 0x80), OVERLAY_NONE},
      {"mouse move", ev(PLAT_EV_MOUSEMOVE, 0), OVERLAY_NONE},
      {"a click outside the depth areas", ev(PLAT_EV_MOUSEBUTTON, PLAT_SELECTDOWN), OVERLAY_NONE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(phonebook_overlay_action(c.event, nullptr), c.action);
  }
  clock_test_reset();
}

TEST(PhonebookOverlayKeys, AltEnterAndAltTActOncePerPress) {
  session_input_reset();
  clock_test_set_ms(600000);
  EXPECT_EQ(phonebook_overlay_action(key(13, kAlt), nullptr), OVERLAY_MODE);
  clock_test_advance_ms(100);
  // Held: its repeat and a press within the held time are refused.
  EXPECT_EQ(phonebook_overlay_action(ev(PLAT_EV_VANILLAKEY, 13, kAlt, true), nullptr),
            OVERLAY_NONE);
  EXPECT_EQ(phonebook_overlay_action(raw(0x44, kAlt), nullptr), OVERLAY_NONE);
  // Released: the next press acts.
  EXPECT_EQ(phonebook_overlay_action(raw(0x44 | 0x80), nullptr), OVERLAY_NONE);
  EXPECT_EQ(g_key_filter.alt_enter_down, 0);
  clock_test_advance_ms(100);
  EXPECT_EQ(phonebook_overlay_action(raw(0x43, PLAT_QUAL_LCOMMAND), nullptr), OVERLAY_MODE);

  EXPECT_EQ(phonebook_overlay_action(key('t', kAlt), nullptr), OVERLAY_TOP_BAR);
  clock_test_advance_ms(100);
  EXPECT_EQ(phonebook_overlay_action(raw(0x14, kAlt), nullptr), OVERLAY_NONE);
  EXPECT_EQ(phonebook_overlay_action(raw(0x14 | 0x80), nullptr), OVERLAY_NONE);
  clock_test_advance_ms(100);
  EXPECT_EQ(phonebook_overlay_action(raw(0x14, kAlt), nullptr), OVERLAY_TOP_BAR);
  clock_test_reset();
  session_input_reset();
}

TEST(PhonebookOverlay, BytesArrivingWhileItIsOpenReachTheGrid) {
  Rig rig;
  ASSERT_TRUE(rig.open);
  rig.add({"Alpha", "Beta"});
  std::vector<uint8_t> covered;
  std::string title;
  bool unchanged_while_open = false;
  g_script = [&](UiContext* o, int pass) {
    if (pass == 1) {
      title = plat_window_title(o->window);
      covered = rig.terminal_pixels();
      ASSERT_EQ(write(rig.pair.peer, "Hello while covered", 19), 19);
      return;
    }
    if (rig.row(0) == "Hello while covered") {
      // Received, but not drawn over the overlay.
      unchanged_while_open = rig.terminal_pixels() == covered;
      inject(o, {key(27)});
    }
  };
  EXPECT_EQ(rig.run(nullptr), 0);
  EXPECT_EQ(title, kPhonebookOverlayTitle);
  EXPECT_TRUE(unchanged_while_open);
  EXPECT_EQ(rig.running, 1);
  EXPECT_EQ(rig.closed_by_peer, 0);
  EXPECT_EQ(rig.row(0), "Hello while covered");
  // Closed: the terminal draws again, what arrived is on screen, the cursor
  // is back and the terminal's window has the keyboard.
  EXPECT_EQ(rig.t->drawing_suppressed, 0);
  EXPECT_NE(rig.terminal_pixels(), covered);
  EXPECT_EQ(rig.t->cursor_drawn, 1);
  EXPECT_TRUE(plat_window_is_active(rig.t->window));
}

TEST(PhonebookOverlay, TheBbsHangingUpClosesIt) {
  Rig rig;
  ASSERT_TRUE(rig.open);
  rig.add({"Alpha"});
  g_script = [&](UiContext*, int pass) {
    if (pass == 1) {
      ASSERT_EQ(write(rig.pair.peer, "Goodbye", 7), 7);
      close(rig.pair.peer);
      rig.pair.peer = -1;
    }
  };
  EXPECT_EQ(rig.run(nullptr), 0);
  EXPECT_LT(g_pass, 50);  // by itself, without a key
  EXPECT_EQ(rig.running, 0);
  EXPECT_EQ(rig.closed_by_peer, 1);
  // The grid is drawn as it is now, for the "Disconnected" notice over it.
  EXPECT_EQ(rig.row(0), "Goodbye");
  EXPECT_EQ(rig.t->drawing_suppressed, 0);
}

TEST(PhonebookOverlay, TheSessionLoopOpensItAndEndsWhenThePeerCloses) {
  Rig rig;
  ASSERT_TRUE(rig.open);
  rig.add({"Alpha"});
  SessionLoop& loop = rig.loop;
  rig.req.phonebook = &rig.pb;
  g_script = [&](UiContext*, int pass) {
    if (pass == 1) {
      close(rig.pair.peer);
      rig.pair.peer = -1;
    }
  };
  plat_inject_event(rig.t->window, key('e', kAlt));
  int turns = 0;
  while (session_pump_turn(&loop) && ++turns < 100) {
  }
  EXPECT_EQ(g_overlays, 1);
  EXPECT_EQ(loop.running, 0);
  EXPECT_EQ(loop.closed_by_peer, 1);  // the session then shows "Disconnected"
  EXPECT_EQ(rig.s.request_phonebook, 0);
}

TEST(PhonebookOverlay, ItsSessionHotkeysWaitOrAreDropped) {
  Rig rig;
  ASSERT_TRUE(rig.open);
  g_script = [&](UiContext* o, int pass) {
    if (pass == 1) {
      // In the covered terminal's window: Alt+Enter, Alt+T, Alt+E.
      plat_inject_event(rig.t->window, key(13, kAlt));
      plat_inject_event(rig.t->window, raw(0x44 | 0x80));
      plat_inject_event(rig.t->window, key('t', kAlt));
      plat_inject_event(rig.t->window, key('e', kAlt));
    } else if (pass == 3) {
      inject(o, {key(27)});
    }
  };
  EXPECT_EQ(rig.run(nullptr), 0);
  EXPECT_EQ(g_overlays, 1);
  EXPECT_EQ(rig.s.request_fullscreen, 1);  // served by the session loop next
  EXPECT_EQ(rig.s.request_top_bar, 0);
  EXPECT_EQ(rig.s.request_phonebook, 0);
  EXPECT_EQ(display_window_mode(), DISPLAY_MODE_WINDOW);
}

TEST(PhonebookOverlay, CtrlCEndsTheSession) {
  Rig rig;
  ASSERT_TRUE(rig.open);
  g_script = [&](UiContext*, int pass) {
    if (pass == 2) dos_raise_break();
  };
  EXPECT_EQ(rig.run(nullptr), 0);
  EXPECT_EQ(rig.running, 0);
  EXPECT_EQ(rig.closed_by_peer, 0);
  EXPECT_EQ(dos_check_break(), 0);
}

TEST(PhonebookOverlay, AltEnterInsideChangesTheOverlaysModeAndThenTheTerminals) {
  Rig rig;
  ASSERT_TRUE(rig.open);
  rig.add({"Alpha"});
  for (unsigned char c : std::string("kept text")) session_data_byte(&rig.s, c);
  int overlay_mode = -1;
  g_script = [&](UiContext* o, int pass) {
    if (pass == 1) inject(o, {key(13, kAlt)});
    if (pass == 2) {
      overlay_mode = o->medium_window ? DISPLAY_MODE_MEDIUM : DISPLAY_MODE_WINDOW;
      inject(o, {key(27)});
    }
  };
  EXPECT_EQ(rig.run(nullptr), 0);
  EXPECT_EQ(overlay_mode, DISPLAY_MODE_MEDIUM);
  EXPECT_EQ(rig.running, 1);
  EXPECT_EQ(display_window_mode(), DISPLAY_MODE_MEDIUM);
  EXPECT_EQ(rig.t->medium_window, 1);
  EXPECT_EQ(plat_window_inner_width(rig.t->window), 1280);
  EXPECT_STREQ(plat_window_title(rig.t->window), kTitle);
  EXPECT_EQ(rig.row(0), "kept text");
}

TEST(PhonebookOverlay, MovesAndTheListPositionSurvivesReopening) {
  Rig rig;
  ASSERT_TRUE(rig.open);
  for (int i = 0; i < 12; i++) {
    PhoneEntry e = entry("Board " + std::to_string(i));
    phonebook_append(&rig.pb, &e);
  }
  struct {
    const char* name;
    std::vector<PlatEvent> keys;
    int selected, first;
  } cases[] = {
      {"End", {raw(0x71)}, 11, 5},
      {"up twice", {key('k'), raw(0x4C)}, 9, 5},
      {"a page back", {raw(0x48)}, 2, 2},
      {"a page on", {raw(0x4E)}, 9, 3},
      {"a page on stops at the last", {raw(0x49)}, 11, 5},
      {"down at the last stays", {key('j')}, 11, 5},
      {"Home", {raw(0x70)}, 0, 0},
      {"up at the first stays", {raw(0x4C)}, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int drawn_selected = -1, drawn_offset = -1;
    int before_selected = rig.selected, before_first = rig.first;
    g_script = [&](UiContext* o, int pass) {
      if (pass == 2) {
        // Reopened where the last overlay left the list.
        drawn_selected = g_entry_last_selected;
        drawn_offset = g_entry_last_offset;
        for (const auto& k : c.keys) plat_inject_event(o->window, k);
        plat_inject_event(o->window, key(27));
      }
    };
    EXPECT_EQ(rig.run(nullptr), 0);
    EXPECT_EQ(drawn_selected, before_selected);
    EXPECT_EQ(drawn_offset, before_first);
    EXPECT_EQ(rig.selected, c.selected);
    EXPECT_EQ(rig.first, c.first);
  }
}

TEST(PhonebookOverlay, AnEmptyPhonebookIgnoresEverythingButAdding) {
  Rig rig;
  ASSERT_TRUE(rig.open);
  // Each key is followed by Escape: had it opened a popup or a form, the
  // Escape would have gone there and the overlay would still be open after
  // the pass.
  const PlatEvent keys[] = {key('e', kAlt), key('s', kAlt), key(127),  raw(0x46),
                            raw(0x4D),      raw(0x71),      raw(0x49), key('j')};
  for (const auto& k : keys) {
    SCOPED_TRACE(k.code);
    int passes = 0;
    g_script = [&](UiContext* o, int pass) {
      passes = pass;
      if (pass == 1) inject(o, {k, key(27)});
    };
    EXPECT_EQ(rig.run(nullptr), 0);
    EXPECT_EQ(passes, 1);
    EXPECT_EQ(rig.selected, 0);
    EXPECT_EQ(rig.first, 0);
    EXPECT_EQ(rig.pb.count, 0u);
  }
}

namespace {

// A phonebook file in a temporary directory, loaded into the rig.
struct BookFile {
  TempDir dir;
  std::string path = dir.file("kavel.phonebook");
  void save(Rig* rig, std::initializer_list<const char*> names) {
    rig->add(names);
    ASSERT_EQ(phonebook_save(&rig->pb, path.c_str()), 0);
  }
};

int fail_replacing(const char* from, const char* to) {
  return strstr(from, ".tmp") ? -1 : rename(from, to);
}

}  // namespace

TEST(PhonebookOverlay, DeleteSavesTheWholeBookAndKeepsThePreviousAsBak) {
  Rig rig;
  ASSERT_TRUE(rig.open);
  BookFile book;
  book.save(&rig, {"Alpha", "Beta", "Gamma"});
  const std::string before = contents(book.path);
  rig.selected = 1;
  g_script = [&](UiContext* o, int pass) {
    if (pass == 1) inject(o, {key(127), key('y')});
    if (pass == 2) inject(o, {key(27)});
  };
  EXPECT_EQ(rig.run(book.path.c_str()), 0);
  EXPECT_EQ(rig.names(), (std::vector<std::string>{"Alpha", "Gamma"}));
  EXPECT_EQ(rig.selected, 1);  // the entry after it moved up
  EXPECT_EQ(contents(book.path + ".bak"), before);
  Phonebook reread{};
  ASSERT_EQ(phonebook_load(&reread, book.path.c_str()), 0);
  EXPECT_EQ(reread.count, 2u);
  EXPECT_STREQ(reread.entries[1].name, "Gamma");
  phonebook_free(&reread);

  // Deleting the last entry selects the new last one; "no" deletes nothing.
  g_script = [&](UiContext* o, int pass) {
    if (pass == 1) inject(o, {key(127), key('n'), raw(0x71), key(127), key('y'), key(27)});
  };
  EXPECT_EQ(rig.run(book.path.c_str()), 0);
  EXPECT_EQ(rig.names(), (std::vector<std::string>{"Alpha"}));
  EXPECT_EQ(rig.selected, 0);
}

TEST(PhonebookOverlay, AFailedSaveNeverDamagesTheFileOrLosesTheBak) {
  Rig rig;
  ASSERT_TRUE(rig.open);
  BookFile book;
  book.save(&rig, {"Alpha", "Beta"});
  rig.add({"Gamma"});  // a second save: now there is a .bak
  ASSERT_EQ(phonebook_save(&rig.pb, book.path.c_str()), 0);
  const std::string file_before = contents(book.path);
  const std::string bak_before = contents(book.path + ".bak");

  struct {
    const char* name;
    std::function<void()> arrange;
    std::function<void()> undo;
    std::vector<PlatEvent> keys;  // ends with 'j', which only the message takes
  } cases[] = {
      {"the new file cannot take the name (delete)",
       [] { phonebook_test_set_rename(fail_replacing); },
       [] { phonebook_test_set_rename(nullptr); },
       {key(127), key('y'), key('j')}},
      {"a read-only file (delete)",
       [&] { chmod(book.path.c_str(), 0444); },
       [&] { chmod(book.path.c_str(), 0600); },
       {key(127), key('y'), key('j')}},
      {"the new file cannot take the name (sort)",
       [] { phonebook_test_set_rename(fail_replacing); },
       [] { phonebook_test_set_rename(nullptr); },
       {key('s', kAlt), raw(0x4D), key(13), key('j')}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rig.selected = 0;
    c.arrange();
    g_script = [&](UiContext* o, int pass) {
      if (pass == 1) {
        for (const auto& k : c.keys) plat_inject_event(o->window, k);
      }
      if (pass == 2) inject(o, {key(27)});
    };
    EXPECT_EQ(rig.run(book.path.c_str()), 0);
    c.undo();
    // The message took the 'j': the selection did not move down.
    EXPECT_EQ(rig.selected, 0);
    EXPECT_EQ(contents(book.path), file_before);
    EXPECT_EQ(contents(book.path + ".bak"), bak_before);
    struct stat st;
    EXPECT_NE(stat((book.path + ".tmp").c_str(), &st), 0);
  }
}

TEST(PhonebookOverlay, SortingKeepsTheSameEntrySelected) {
  Rig rig;
  ASSERT_TRUE(rig.open);
  BookFile book;
  book.save(&rig, {"Charlie", "Alpha", "Echo", "Bravo", "Delta", "Golf", "Foxtrot", "Hotel"});
  rig.selected = 7;  // Hotel
  rig.first = 1;
  g_script = [&](UiContext* o, int pass) {
    if (pass == 1) inject(o, {key('s', kAlt), key(13)});  // by name
    if (pass == 2) inject(o, {key(27)});
  };
  EXPECT_EQ(rig.run(book.path.c_str()), 0);
  EXPECT_EQ(rig.names(), (std::vector<std::string>{"Alpha", "Bravo", "Charlie", "Delta", "Echo",
                                                   "Foxtrot", "Golf", "Hotel"}));
  EXPECT_EQ(rig.selected, 7);
  EXPECT_EQ(rig.first, 1);
  Phonebook reread{};
  ASSERT_EQ(phonebook_load(&reread, book.path.c_str()), 0);
  EXPECT_STREQ(reread.entries[0].name, "Alpha");
  phonebook_free(&reread);

  // Cancelled: nothing changes.
  rig.selected = 2;
  g_script = [&](UiContext* o, int pass) {
    if (pass == 1) inject(o, {key('s', kAlt), key(27), key(27)});
  };
  EXPECT_EQ(rig.run(book.path.c_str()), 0);
  EXPECT_EQ(rig.selected, 2);
  EXPECT_EQ(rig.names()[0], "Alpha");
}

TEST(PhonebookOverlay, WithoutAPathNothingIsSaved) {
  // The menu hands no path when it refuses to save over a file it could not
  // read whole.
  Rig rig;
  ASSERT_TRUE(rig.open);
  TempDir dir;
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  rig.add({"Alpha", "Beta"});
  g_script = [&](UiContext* o, int pass) {
    if (pass == 1) inject(o, {key(127), key('y'), key('j')});
    if (pass == 2) inject(o, {key(27)});
  };
  EXPECT_EQ(rig.run(nullptr), 0);
  EXPECT_EQ(rig.selected, 0);  // the message took the 'j'
  EXPECT_EQ(rig.pb.count, 1u);
  struct stat st;
  EXPECT_NE(stat(dir.file("kavel.phonebook").c_str(), &st), 0);
  ASSERT_EQ(chdir(cwd), 0);
}

TEST(PhonebookOverlay, OnTheDirectPathItReadsAndSavesTheFile) {
  Rig rig;
  ASSERT_TRUE(rig.open);
  BookFile book;
  book.save(&rig, {"Alpha", "Beta", "Gamma"});
  phonebook_free(&rig.pb);
  int seen = -1;
  int selected = 0, first = 0;
  g_script = [&](UiContext* o, int pass) {
    if (pass == 2) {
      seen = g_entry_last_count;
      inject(o, {raw(0x4D), key(127), key('y'), key(27)});
    }
  };
  rig.req = SessionRequest{.phonebook_path = book.path.c_str(),
                           .selected_index = &selected,
                           .first_visible_index = &first};
  EXPECT_EQ(rig.open_and_run(), 0);
  EXPECT_EQ(seen, 3);
  Phonebook reread{};
  ASSERT_EQ(phonebook_load(&reread, book.path.c_str()), 0);
  ASSERT_EQ(reread.count, 2u);
  EXPECT_STREQ(reread.entries[1].name, "Gamma");
  phonebook_free(&reread);
}

TEST(PhonebookOverlay, ItCannotStartWithoutATerminalWindow) {
  Session s;
  session_init(&s);
  SessionLoop loop;
  session_loop_init(&loop, &s, nullptr, kTitle, nullptr);
  EXPECT_EQ(session_open_phonebook_menu(&loop), -1);
  Terminal t;
  term_init_record(&t);
  s.terminal = &t;
  EXPECT_EQ(session_open_phonebook_menu(&loop), -1);
  EXPECT_EQ(loop.running, 1);
  EXPECT_EQ(loop.mode.ops, nullptr);
}

TEST(PhonebookOverlay, AltEAndAltAOpenTheEntryEditorAndSaveTheBook) {
  Rig rig;
  ASSERT_TRUE(rig.open);
  BookFile book;
  book.save(&rig, {"Alpha", "Beta"});
  rig.selected = 1;
  const int saved_feedback = g_ui_saved_feedback_ticks;
  g_ui_saved_feedback_ticks = 0;
  auto type = [](UiContext* o, const char* text) {
    for (const char* p = text; *p; p++) plat_inject_event(o->window, key(*p));
  };
  // Alt+E on Beta: Return edits the name, Return ends the field, Alt+S saves.
  g_script = [&](UiContext* o, int pass) {
    if (pass != 1) return;
    inject(o, {key('e', kAlt), key(13)});
    type(o, " Two");
    inject(o, {key(13), key('s', kAlt), key(27)});
  };
  EXPECT_EQ(rig.run(book.path.c_str()), 0);
  EXPECT_EQ(rig.names(), (std::vector<std::string>{"Alpha", "Beta Two"}));
  Phonebook reread{};
  ASSERT_EQ(phonebook_load(&reread, book.path.c_str()), 0);
  ASSERT_EQ(reread.count, 2u);
  EXPECT_STREQ(reread.entries[1].name, "Beta Two");
  phonebook_free(&reread);

  // Alt+A: a name and an address, then Alt+S; the new entry is selected.
  g_script = [&](UiContext* o, int pass) {
    if (pass != 1) return;
    inject(o, {key('a', kAlt), key(13)});
    type(o, "Gamma");
    inject(o, {key(13), raw(0x4D), key(13)});
    type(o, "gamma.example");
    inject(o, {key(13), key('s', kAlt), key(27)});
  };
  EXPECT_EQ(rig.run(book.path.c_str()), 0);
  ASSERT_EQ(rig.pb.count, 3u);
  EXPECT_STREQ(rig.pb.entries[rig.selected].name, "Gamma");
  ASSERT_EQ(phonebook_load(&reread, book.path.c_str()), 0);
  EXPECT_EQ(reread.count, 3u);
  phonebook_free(&reread);
  g_ui_saved_feedback_ticks = saved_feedback;
}

TEST(PhonebookOverlay, TheEditorIsRefusedWhereNothingMayBeSaved) {
  // Without a path (the menu could not read its phonebook whole) the editor
  // is not offered: a message says why and takes the next key.
  Rig rig;
  ASSERT_TRUE(rig.open);
  rig.add({"Alpha", "Beta"});
  for (const PlatEvent& k : {key('e', kAlt), key('a', kAlt)}) {
    g_script = [&](UiContext* o, int pass) {
      if (pass == 1) inject(o, {k, key('j')});
      if (pass == 2) inject(o, {key(27)});
    };
    EXPECT_EQ(rig.run(nullptr), 0);
    EXPECT_EQ(rig.selected, 0);  // the message took the 'j'
    EXPECT_EQ(rig.pb.count, 2u);
  }
}

}  // namespace phonebook_overlay_test
