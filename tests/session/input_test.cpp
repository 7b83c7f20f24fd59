#include "session/input.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/surface.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "session/session.h"
#include "session/session_loop.h"
#include "session/session_test_util.h"
#include "support/open_window.h"
#include "support/session_link.h"
#include "terminal/terminal.h"
#include "util/text.h"

// A namespace of its own: the file's event helpers share names with those of
// support/events.h and of the files batched with it.
namespace input_test {

namespace {

constexpr uint16_t ALT = PLAT_QUAL_LALT;
constexpr uint16_t SHIFT = PLAT_QUAL_LSHIFT;
constexpr uint16_t CTRL = PLAT_QUAL_CONTROL;
constexpr uint16_t CAPS = PLAT_QUAL_CAPSLOCK;

PlatEvent vanilla(int ch, uint16_t q = 0) {
  PlatEvent e;
  e.cls = PLAT_EV_VANILLAKEY;
  e.code = static_cast<uint16_t>(ch);
  e.qualifier = q;
  return e;
}
PlatEvent raw(int code, uint16_t q = 0) {
  PlatEvent e;
  e.cls = PLAT_EV_RAWKEY;
  e.code = static_cast<uint16_t>(code);
  e.qualifier = q;
  return e;
}
// A key as the desktop delivers it: with the raw code of its physical key,
// and marked when it is the keyboard's auto-repeat.
PlatEvent keyed(PlatEvent e, int key, bool repeat = false) {
  e.key = static_cast<int16_t>(key);
  e.repeat = repeat;
  return e;
}
PlatEvent event(uint32_t cls, uint16_t code = 0, int x = 0, int y = 0) {
  PlatEvent e;
  e.cls = cls;
  e.code = code;
  e.x = static_cast<int16_t>(x);
  e.y = static_cast<int16_t>(y);
  return e;
}

// A session bound to a terminal in a headless window, with the peer end of
// its socket readable by the test.
struct InputRig {
  SocketPair pair;
  Session s;
  std::unique_ptr<Terminal> t = std::make_unique<Terminal>();
  int running = 1;
  int menu_quit = 0;
  uint32_t now = 100000;

  explicit InputRig(int petscii = 0) {
    session_input_reset();
    clock_test_set_ms(now);
    session_init(&s);
    test_session_on_socket(&s, pair.ours);
    s.petscii = petscii;
    term_init_record(t.get());
    PlatWindowSpec spec;
    spec.inner_width = 640;
    spec.inner_height = 400;
    t->window = plat_open_window(spec);
    t->rport = t->window;
    t->petscii = petscii ? TERM_MODE_PETSCII : TERM_MODE_ANSI;
    s.terminal = t.get();
  }
  ~InputRig() {
    plat_close_window(t->window);
    clock_test_reset();
    session_input_reset();
  }
  // Delivers the events one call at a time, the clock moving on by step ms
  // between them, and returns what reached the socket.
  void wait(uint32_t ms) {
    now += ms;
    clock_test_set_ms(now);
  }
  std::string press(const std::vector<PlatEvent>& events, uint32_t step = 30) {
    for (const auto& e : events) {
      plat_inject_event(t->window, e);
      session_handle_window_messages(&s, &running);
      now += step;
      clock_test_set_ms(now);
    }
    return pair.drain_peer();
  }
};

struct KeyCase {
  const char* name;
  std::vector<PlatEvent> events;
  std::string sent;
  int running = 1;
};

void run_cases(const std::vector<KeyCase>& cases, int petscii) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InputRig rig(petscii);
    EXPECT_EQ(rig.press(c.events), c.sent);
    EXPECT_EQ(rig.running, c.running);
  }
}

TEST(ExitConfirm, AsksOverTheTerminalAndEndsOnYes) {
  struct Case {
    const char* name;
    bool window;
    bool menu;
    std::vector<PlatEvent> events;
    int running, quit;
  };
  const Case cases[] = {
      {"Escape stays", true, true, {vanilla(27)}, 1, 0},
      {"no stays", true, false, {vanilla('n')}, 1, 0},
      {"closing the window exits", true, true, {event(PLAT_EV_CLOSE, 0)}, 0, 1},
      {"yes exits", true, true, {vanilla('y')}, 0, 1},
      {"yes without a menu", true, false, {vanilla('\r')}, 0, 0},
      {"no window: exit at once", false, true, {}, 0, 1},
  };
  display_set_window_mode(DISPLAY_MODE_WINDOW);
  set_active_font(kFontCP437);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session s;
    session_init(&s);
    auto t = std::make_unique<Terminal>();
    term_init_record(t.get());
    if (c.window) {
      ASSERT_EQ(test_term_open(t.get(), "Kavel"), 0);
    }
    s.terminal = t.get();
    int quit = 0;
    s.menu_quit = c.menu ? &quit : nullptr;
    int running = 1;
    for (const PlatEvent& ev : c.events) plat_inject_event(t->window, ev);
    session_confirm_exit_kavel(&s, &running);
    EXPECT_EQ(running, c.running);
    EXPECT_EQ(quit, c.quit);
    term_close(t.get());
  }
}

}  // namespace

TEST(SessionInput, AnsiKeys) {
  run_cases(
      {
          {"letter", {vanilla('a')}, "a"},
          {"Return sends CR only", {vanilla(13)}, "\r"},
          {"line feed also sends CR", {vanilla(10)}, "\r"},
          {"Backspace", {vanilla(8)}, "\x08"},
          {"Delete", {vanilla(127)}, "\x1b[3~"},
          {"Escape", {vanilla(27)}, "\x1b"},
          {"Ctrl-C is an ordinary byte", {vanilla(3)}, "\x03"},
          {"byte 255 (a no-break space) is doubled", {vanilla(0xA0)}, bytes({255, 255})},
          // Typed characters go out in CP437, what an ANSI board shows.
          {"u umlaut is CP437 0x81", {vanilla(0xFC)}, "\x81"},
          {"o and a umlaut, sharp s",
           {vanilla(0xF6), vanilla(0xE4), vanilla(0xDF)},
           "\x94\x84\xe1"},
          {"y diaeresis is 0x98, not 255", {vanilla(0xFF)}, "\x98"},
          {"box drawing and pound", {vanilla(0x2554), vanilla(0xA3)}, "\xc9\x9c"},
          {"a character CP437 lacks is not sent",
           {vanilla(0x20AC), vanilla(0x17A), vanilla('x')},
           "x"},
          {"function keys (xterm / VT220)",
           {raw(RAWKEY_F1), raw(RAWKEY_F1 + 1), raw(RAWKEY_F1 + 2), raw(RAWKEY_F1 + 3),
            raw(RAWKEY_F1 + 4), raw(RAWKEY_F1 + 5), raw(RAWKEY_F1 + 6), raw(RAWKEY_F1 + 7),
            raw(RAWKEY_F1 + 8), raw(RAWKEY_F1 + 9), raw(RAWKEY_F11), raw(RAWKEY_F12)},
           "\x1bOP\x1bOQ\x1bOR\x1bOS\x1b[15~\x1b[17~\x1b[18~\x1b[19~\x1b[20~\x1b[21~\x1b[23~"
           "\x1b[24~"},
          {"Insert", {raw(RAWKEY_INSERT)}, "\x1b[2~"},
          {"NUL is ignored", {vanilla(0)}, ""},
          {"Ctrl-] hangs up at once", {vanilla(29), vanilla('a')}, "", 0},
          {"cursor keys", {raw(0x4C), raw(0x4D), raw(0x4E), raw(0x4F)}, "\x1b[A\x1b[B\x1b[C\x1b[D"},
          {"page and position keys",
           {raw(0x48), raw(0x49), raw(0x70), raw(0x71)},
           "\x1b[5~\x1b[6~\x1b[1~\x1b[4~"},
          {"the other page key codes",
           {raw(0x5A), raw(0x6E), raw(0x5C), raw(0x5D)},
           "\x1b[5~\x1b[6~\x1b[1~\x1b[4~"},
          {"Shift with cursor keys pages",
           {raw(0x4C, SHIFT), raw(0x4D, SHIFT), raw(0x4F, SHIFT), raw(0x4E, SHIFT)},
           "\x1b[5~\x1b[6~\x1b[1~\x1b[4~"},
          {"raw Return, Enter, Tab", {raw(0x44), raw(0x43), raw(0x42)}, "\r\r\t"},
          {"raw Backspace and Delete", {raw(0x41), raw(0x46)}, "\x08\x1b[3~"},
          {"raw Escape", {raw(0x45)}, "\x1b"},
          {"raw letters and Shift, Caps Lock",
           {raw(0x20), raw(0x20, SHIFT), raw(0x20, CAPS), raw(0x20, CAPS | SHIFT)},
           "aAAa"},
          {"raw digits and punctuation",
           {raw(0x01), raw(0x01, SHIFT), raw(0x0B), raw(0x3A)},
           "1!-/"},
          {"raw space", {raw(0x40)}, " "},
          {"raw Ctrl-] hangs up", {raw(0x1B, CTRL)}, "", 0},
          {"raw ] without Control is a character", {raw(0x1B)}, "]"},
          {"releases and unmapped codes send nothing",
           {raw(0x20 | PLAT_KEY_UP), raw(RAWKEY_HELP), raw(0x2B), raw(0x7A)},
           ""},
          {"modifier presses send nothing",
           {raw(RAWKEY_CONTROL, CTRL), raw(RAWKEY_LALT, ALT), raw(RAWKEY_CAPSLOCK, CAPS),
            raw(RAWKEY_LAMIGA, PLAT_QUAL_LCOMMAND)},
           ""},
          {"Alt with a letter outside the table is sent", {vanilla('q', ALT)}, "q"},
          {"Alt with a digit is sent", {vanilla('7', ALT)}, "7"},
          {"raw Alt letter outside the table is sent", {raw(0x10, ALT)}, "q"},
          {"close request ends the session", {event(PLAT_EV_CLOSE), vanilla('a')}, "", 0},
          {"other mouse buttons and moves are ignored",
           {event(PLAT_EV_MOUSEBUTTON, PLAT_MENUDOWN), event(PLAT_EV_MOUSEMOVE, 0, 3, 3)},
           ""},
      },
      0);
}

TEST(SessionInput, PetsciiKeys) {
  run_cases(
      {
          {"cursor keys are single bytes",
           {raw(0x4C), raw(0x4D), raw(0x4E), raw(0x4F)},
           bytes({0x91, 0x11, 0x1D, 0x9D})},
          {"Page Up and Page Down: no C64 key", {raw(0x48), raw(0x49)}, ""},
          {"CLR/HOME: Home, Shift+Home clears, End clears",
           {raw(RAWKEY_HOME), raw(RAWKEY_HOME, SHIFT), raw(RAWKEY_END)},
           bytes({0x13, 0x93, 0x93})},
          {"INST: Insert, Shift with Backspace or Delete",
           {raw(RAWKEY_INSERT), vanilla(8, SHIFT), vanilla(127, SHIFT), raw(0x41, SHIFT)},
           bytes({0x94, 0x94, 0x94, 0x94})},
          {"F1..F8 are the C64's function keys",
           {raw(RAWKEY_F1), raw(RAWKEY_F1 + 1), raw(RAWKEY_F1 + 2), raw(RAWKEY_F1 + 3),
            raw(RAWKEY_F1 + 4), raw(RAWKEY_F1 + 5), raw(RAWKEY_F1 + 6), raw(RAWKEY_F1 + 7),
            raw(RAWKEY_F1 + 8), raw(RAWKEY_F12)},
           bytes({0x85, 0x89, 0x86, 0x8A, 0x87, 0x8B, 0x88, 0x8C})},
          {"Ctrl+1..8: the first eight colours (by key, whatever it types)",
           {keyed(vanilla('1', CTRL), 0x01), keyed(vanilla(0, CTRL), 0x02),
            keyed(vanilla('3', CTRL), 0x03), keyed(vanilla('4', CTRL), 0x04),
            keyed(vanilla('5', CTRL), 0x05), keyed(vanilla(30, CTRL), 0x06),
            keyed(vanilla('7', CTRL), 0x07), keyed(vanilla('8', CTRL), 0x08)},
           bytes({0x90, 0x05, 0x1C, 0x9F, 0x9C, 0x1E, 0x1F, 0x9E})},
          {"Ctrl+9 and Ctrl+0: reverse on and off",
           {keyed(vanilla('9', CTRL), 0x09), keyed(raw(0x0A, CTRL), 0x0A)},
           bytes({0x12, 0x92})},
          {"Alt (the Commodore key) +1..8: the second eight colours",
           {keyed(vanilla('1', ALT), 0x01), keyed(vanilla('2', ALT), 0x02),
            keyed(vanilla('3', ALT), 0x03), keyed(vanilla('4', ALT), 0x04),
            keyed(vanilla('5', ALT), 0x05), keyed(vanilla('6', ALT), 0x06),
            keyed(vanilla('7', ALT), 0x07), keyed(vanilla('8', ALT), 0x08)},
           bytes({0x81, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B})},
          {"typed characters in PETSCII: pound, arrows; none for a backslash or euro",
           {vanilla(0xA3), vanilla(0x2191), vanilla(0x2190), vanilla('\\'), vanilla(0x20AC),
            vanilla('@')},
           bytes({0x5C, 0x5E, 0x5F, 0x40})},
          {"Backspace and Delete send DEL", {vanilla(8), vanilla(127)}, bytes({0x14, 0x14})},
          {"Ctrl-C sends RUN/STOP once per 250 ms", {vanilla(3), vanilla(3)}, "\x03"},
          {"raw Ctrl with C sends RUN/STOP", {raw(0x33, CTRL)}, "\x03"},
          {"upper-case set: letters go out as 0x41..", {vanilla('a'), vanilla('Z')}, "AZ"},
          {"digits and punctuation unchanged", {vanilla('1'), vanilla('@')}, "1@"},
          {"Shift with cursor keys is the cursor key (the C64's own are shifted)",
           {raw(0x4C, SHIFT), raw(0x4D, SHIFT), raw(0x4F, SHIFT), raw(0x4E, SHIFT)},
           bytes({0x91, 0x11, 0x9D, 0x1D})},
          {"raw Backspace and Delete send DEL", {raw(0x41), raw(0x46)}, bytes({0x14, 0x14})},
      },
      1);
}

TEST(SessionInput, PetsciiLettersFollowTheSetTheBbsShows) {
  // The character set is the BBS's choice (14 lower case, 142 upper case);
  // the key encoding follows it.  Columns: the bytes with the lower-case set,
  // then with the upper-case set.
  struct {
    const char* name;
    std::vector<PlatEvent> events;
    std::string lower, upper;
  } cases[] = {
      {"a", {vanilla('a')}, "A", "A"},
      // Shift with a letter is 0xC1..0xDA in both sets, as on a C64: in the
      // upper-case set that is the graphics character on the key.
      {"Shift-a", {raw(0x60), vanilla('A', SHIFT), raw(0x60 | PLAT_KEY_UP)}, "\xc1", "\xc1"},
      {"right Shift-z", {vanilla('Z', PLAT_QUAL_RSHIFT)}, "\xda", "\xda"},
      // Caps Lock gives capitals: in the upper-case set letters are capitals.
      {"Caps Lock A", {vanilla('A', CAPS)}, "\xc1", "A"},
      {"raw a, raw Shift-a", {raw(0x20), raw(0x20, SHIFT)}, "A\xc1", "A\xc1"},
      {"a Shift press shifts the next letter only",
       {raw(0x61), vanilla('m'), vanilla('n')},
       "\xcdN",
       "\xcdN"},
      {"Shift pressed and released, then d",
       {raw(0x60), raw(0x60 | PLAT_KEY_UP), vanilla('d')},
       "D",
       "D"},
      {"a printable non-letter uses up a Shift press",
       {raw(0x61), vanilla('!', SHIFT), vanilla('e')},
       "!E",
       "!E"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (int set : {14, 142}) {
      InputRig rig(1);
      rig.t->petscii_lower = set == 14 ? 0 : 1;  // the other set, so the BBS switches
      session_data_byte(&rig.s, static_cast<uint8_t>(set));
      ASSERT_EQ(rig.t->petscii_lower, set == 14 ? 1 : 0);
      EXPECT_EQ(rig.press(c.events), set == 14 ? c.lower : c.upper);
    }
  }
}

TEST(SessionInput, RunStopAtMostEvery250Ms) {
  // Presses at these times (ms after the first); a refused press does not
  // restart the wait.
  struct {
    uint32_t at;
    bool sent;
  } presses[] = {{0, true},    {249, false}, {250, true},  {300, false},
                 {499, false}, {500, true},  {1500, true}, {1501, false}};
  InputRig rig(1);
  uint32_t start = rig.now;
  for (size_t i = 0; i < std::size(presses); i++) {
    SCOPED_TRACE(presses[i].at);
    rig.now = start + presses[i].at;
    clock_test_set_ms(rig.now);
    // Ctrl-C arrives as the character 3 or as the raw C key with Control.
    PlatEvent e = i % 2 ? raw(0x33, CTRL) : vanilla(3, CTRL);
    plat_inject_event(rig.t->window, e);
    session_handle_window_messages(&rig.s, &rig.running);
    EXPECT_EQ(rig.pair.drain_peer(), presses[i].sent ? "\x03" : "");
  }
  EXPECT_EQ(rig.running, 1);

  // In an ANSI session Ctrl-C is an ordinary byte, as often as it comes.
  InputRig ansi(0);
  EXPECT_EQ(ansi.press({vanilla(3), vanilla(3), vanilla(3)}, 10), "\x03\x03\x03");
}

TEST(SessionInput, HotkeysSetRequestsAndAct) {
  {
    InputRig rig;
    rig.press({vanilla('e', ALT)});
    EXPECT_EQ(rig.s.request_phonebook, 1);
    rig.press({raw(0x14, PLAT_QUAL_RCOMMAND)});  // the Amiga keys count like Alt
    EXPECT_EQ(rig.s.request_top_bar, 1);
    rig.press({vanilla(13, PLAT_QUAL_RALT)});
    EXPECT_EQ(rig.s.request_fullscreen, 1);
    EXPECT_EQ(rig.running, 1);
    EXPECT_EQ(rig.pair.drain_peer(), "");
  }
  {
    InputRig rig;
    safe_copy(rig.s.login_user, sizeof rig.s.login_user, "sysop");
    safe_copy(rig.s.login_password, sizeof rig.s.login_password, "p\xffw");
    EXPECT_EQ(rig.press({vanilla('L', ALT)}), "sysop\rp\xff\xffw\r");
    safe_copy(rig.s.login_user, sizeof rig.s.login_user, "");
    EXPECT_EQ(rig.press({raw(0x28, ALT)}), "p\xff\xffw\r");
    safe_copy(rig.s.login_password, sizeof rig.s.login_password, "");
    EXPECT_EQ(rig.press({vanilla('l', ALT)}), "");
    EXPECT_EQ(rig.running, 1);
  }
}

TEST(SessionInput, DisconnectAndExitQuestions) {
  // The question is answered with keys already queued behind the hotkey.
  // Keys queued behind a hang-up are not sent to the ending connection.
  struct {
    std::vector<PlatEvent> events;
    int running;
    int quit;
  } cases[] = {
      {{vanilla('h', ALT), vanilla('n')}, 1, 0},
      {{vanilla('h', ALT), vanilla('y'), vanilla('a'), raw(0x4C)}, 0, 0},
      {{raw(0x25, ALT), vanilla(27)}, 1, 0},
      {{raw(0x25, ALT), vanilla(13)}, 0, 0},
      {{vanilla('x', ALT), vanilla('n')}, 1, 0},
      {{vanilla('x', ALT), vanilla('y'), vanilla(13)}, 0, 1},
      {{vanilla(29), vanilla('a'), vanilla(13)}, 0, 0},
      {{event(PLAT_EV_CLOSE), vanilla('a')}, 0, 1},
  };
  for (auto& c : cases) {
    InputRig rig;
    rig.s.menu_quit = &rig.menu_quit;
    for (const auto& e : c.events) plat_inject_event(rig.t->window, e);
    session_handle_window_messages(&rig.s, &rig.running);
    EXPECT_EQ(rig.running, c.running);
    EXPECT_EQ(rig.menu_quit, c.quit);
    EXPECT_EQ(rig.pair.drain_peer(), "");
  }
}

TEST(SessionInput, TransfersLimitTheKeys) {
  {
    InputRig rig;
    rig.s.xm.xmodem.active = 1;
    EXPECT_EQ(rig.press({vanilla('a'), vanilla('h', ALT), raw(0x4C), vanilla(29)}), "");
    EXPECT_EQ(rig.running, 1);
    EXPECT_EQ(rig.s.xm.xmodem.active, 1);
    rig.press({raw(0x45)});
    EXPECT_EQ(rig.s.xm.xmodem.active, 0);
  }
  {
    InputRig rig;
    rig.s.zm.zmodem.active = 1;
    EXPECT_EQ(rig.press({vanilla('a')}), "a");  // typing still reaches the BBS
    // Escape cancels instead of being sent: the other side gets the cancel
    // sequence.
    EXPECT_EQ(rig.press({vanilla(27)}), "\x18\x18\x18\x18\x18\x18\x18\x18\b\b\b\b\b\b\b\b");
    EXPECT_EQ(rig.s.zm.zmodem.active, 0);
    EXPECT_EQ(rig.press({vanilla(27)}), "\x1b");
  }
}

TEST(SessionInput, RepeatFilters) {
  InputRig rig;
  // Every real press of Backspace or Delete goes out, however fast (10
  // presses 30 ms apart), and so does the keyboard's repeat of a held key.
  std::vector<PlatEvent> ten(10, keyed(vanilla(8), RAWKEY_BACKSPACE));
  EXPECT_EQ(rig.press(ten, 30), std::string(10, '\x08'));
  std::vector<PlatEvent> held = {keyed(vanilla(127), RAWKEY_DELETE)};
  for (int i = 0; i < 5; i++) held.push_back(keyed(vanilla(127), RAWKEY_DELETE, true));
  rig.wait(100);
  EXPECT_EQ(rig.press(held, 40), "\x1b[3~\x1b[3~\x1b[3~\x1b[3~\x1b[3~\x1b[3~");
  // One press that arrives twice (translated and raw) goes out once...
  rig.wait(100);
  EXPECT_EQ(rig.press({vanilla(8), raw(RAWKEY_BACKSPACE)}, 5), "\x08");
  rig.wait(100);
  EXPECT_EQ(rig.press({raw(RAWKEY_DELETE), vanilla(127)}, 5), "\x1b[3~");
  // ... alternating Backspace and Delete are two keys.
  rig.wait(100);
  EXPECT_EQ(rig.press({vanilla(8), vanilla(127), vanilla(8)}, 30), "\x08\x1b[3~\x08");

  // Alt+Enter held as an X server repeats it: the press, the first repeat
  // after 660 ms, then one every 40 ms for three seconds; Alt let go before
  // Enter.  One mode change, and no carriage return reaches the BBS.
  rig.wait(500);
  int changes = 0;
  std::string sent;
  auto hold = [&](PlatEvent press, uint16_t release, int* count, int* flag) {
    *flag = 0;
    sent += rig.press({keyed(press, release)}, 660);
    *count += *flag;
    for (int i = 0; i < 60; i++) {
      *flag = 0;
      PlatEvent rep = keyed(press, release, true);
      if (i >= 50) rep.qualifier = 0;  // Alt released, the key still held
      sent += rig.press({rep}, 40);
      *count += *flag;
    }
    sent += rig.press({raw(release | PLAT_KEY_UP)}, 100);
  };
  hold(vanilla(13, ALT), RAWKEY_RETURN, &changes, &rig.s.request_fullscreen);
  EXPECT_EQ(changes, 1);
  // Released, then pressed again after 80 ms: the next change.
  rig.s.request_fullscreen = 0;
  rig.press({keyed(vanilla(13, ALT), RAWKEY_RETURN)});
  EXPECT_EQ(rig.s.request_fullscreen, 1);
  rig.press({raw(0x44 | PLAT_KEY_UP)}, 100);

  // Alt+T the same for the top bar.
  int toggles = 0;
  hold(vanilla('t', ALT), 0x14, &toggles, &rig.s.request_top_bar);
  EXPECT_EQ(toggles, 1);
  EXPECT_EQ(sent, "");
  rig.s.request_top_bar = 0;
  rig.press({keyed(vanilla('t', ALT), 0x14)});
  EXPECT_EQ(rig.s.request_top_bar, 1);
  rig.press({raw(0x14 | PLAT_KEY_UP)}, 100);

  // A held key that is no hotkey types on: Alt with a letter outside the
  // table, and plain letters.
  EXPECT_EQ(rig.press({keyed(vanilla('q', ALT), 0x10), keyed(vanilla('q', ALT), 0x10, true),
                       keyed(vanilla('k'), 0x27), keyed(vanilla('k'), 0x27, true)}),
            "qqkk");

  // Alt-S at most every 250 ms, whatever the key state.
  g_key_filter.alt_s_last_ms = 0;
  EXPECT_EQ(alt_s_accept_press(), 1);
  rig.wait(200);
  EXPECT_EQ(alt_s_accept_press(), 0);
  rig.wait(60);
  EXPECT_EQ(alt_s_accept_press(), 1);
}

TEST(SessionInput, FailedSendEndsTheSession) {
  for (const PlatEvent& e : {vanilla('a'), vanilla(13), raw(0x4C), vanilla(8), raw(0x20)}) {
    InputRig rig;
    close(rig.pair.peer);
    rig.pair.peer = -1;
    rig.press({e});
    EXPECT_EQ(rig.running, 0) << e.cls << " " << e.code;
  }
  // RUN/STOP that cannot be sent ends the session too.
  for (const PlatEvent& e : {vanilla(3), raw(0x33, CTRL)}) {
    InputRig rig(1);
    close(rig.pair.peer);
    rig.pair.peer = -1;
    rig.press({e});
    EXPECT_EQ(rig.running, 0) << e.cls << " " << e.code;
  }
}

TEST(SessionInput, ClicksInsideTheGridDoNotHangUp) {
  // The desktop window has no borders of its own: its corners are grid cells.
  InputRig rig;
  rig.press({event(PLAT_EV_MOUSEBUTTON, PLAT_SELECTDOWN, 5, 5),
             event(PLAT_EV_MOUSEBUTTON, PLAT_SELECTDOWN, 10, 390),
             event(PLAT_EV_MOUSEBUTTON, PLAT_SELECTUP, 5, 5)});
  EXPECT_EQ(rig.running, 1);
}

}  // namespace input_test
