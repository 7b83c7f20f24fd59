// The keyboard and mouse map, fed SDL's numbers as plain ints.
#include "platform/keymap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kLetter = KM_SC_A - 'a';  // scancode of a letter: kLetter + 'x'

KeyInput key(int kind, int scancode, int keycode, int mods, const char* text = "") {
  KeyInput in;
  in.kind = kind;
  in.scancode = scancode;
  in.keycode = keycode;
  in.mods = mods;
  std::strncpy(in.text, text, sizeof in.text - 1);
  return in;
}

KeyInput mouse(int kind, int button, int x, int y, int wheel = 0) {
  KeyInput in;
  in.kind = kind;
  in.button = button;
  in.x = x;
  in.y = y;
  in.wheel_y = wheel;
  return in;
}

struct Want {
  uint32_t cls;
  uint16_t code;
  uint16_t qual;
};

std::vector<PlatEvent> run(const KeyInput& in) {
  PlatEvent out[40];
  int n = keymap_translate(in, out, 40);
  return std::vector<PlatEvent>(out, out + n);
}

constexpr uint32_t V = PLAT_EV_VANILLAKEY;
constexpr uint32_t R = PLAT_EV_RAWKEY;
constexpr int SHIFT = KM_MOD_LSHIFT;
constexpr int CTRL = KM_MOD_LCTRL;
constexpr int ALT = KM_MOD_LALT;

TEST(Keymap, KeysBecomeTheEventsTheSessionExpects) {
  struct Case {
    const char* what;
    KeyInput in;
    std::vector<Want> want;
  } cases[] = {
      {"a", key(KEYIN_DOWN, kLetter + 'a', 'a', 0, "a"), {{V, 'a', 0}}},
      {"Shift-a", key(KEYIN_DOWN, kLetter + 'a', 'a', SHIFT, "A"), {{V, 'A', PLAT_QUAL_LSHIFT}}},
      {"Caps a",
       key(KEYIN_DOWN, kLetter + 'a', 'a', KM_MOD_CAPS, "A"),
       {{V, 'A', PLAT_QUAL_CAPSLOCK}}},
      {"e acute", key(KEYIN_DOWN, kLetter + 'e', 'e', 0, "\xC3\xA9"), {{V, 0xE9, 0}}},
      {"euro sign: Unicode",
       key(KEYIN_DOWN, kLetter + 'e', 'e', 0, "\xE2\x82\xAC"),
       {{V, 0x20AC, 0}}},
      {"beyond 16 bits: dropped", key(KEYIN_TEXT, 0, 0, 0, "\xF0\x9F\x98\x80"), {}},
      {"AltGr-q types @", key(KEYIN_DOWN, kLetter + 'q', 'q', KM_MOD_MODE, "@"), {{V, '@', 0}}},
      {"Ctrl-C", key(KEYIN_DOWN, kLetter + 'c', 'c', CTRL), {{V, 3, PLAT_QUAL_CONTROL}}},
      {"Ctrl-]",
       key(KEYIN_DOWN, KM_SC_RIGHTBRACKET, ']', KM_MOD_RCTRL),
       {{V, 29, PLAT_QUAL_CONTROL}}},
      {"Ctrl-Shift-a",
       key(KEYIN_DOWN, kLetter + 'a', 'a', CTRL | SHIFT),
       {{V, 1, PLAT_QUAL_CONTROL | PLAT_QUAL_LSHIFT}}},
      {"Alt-t gives the letter once",
       key(KEYIN_DOWN, kLetter + 't', 't', ALT, "t"),
       {{V, 't', PLAT_QUAL_LALT}}},
      {"Alt-Shift-e gives the base letter",
       key(KEYIN_DOWN, kLetter + 'e', 'e', ALT | SHIFT, "E"),
       {{V, 'e', PLAT_QUAL_LALT | PLAT_QUAL_LSHIFT}}},
      {"Super-b",
       key(KEYIN_DOWN, kLetter + 'b', 'b', KM_MOD_RGUI, "b"),
       {{V, 'b', PLAT_QUAL_RCOMMAND}}},
      {"Alt wins over Ctrl",
       key(KEYIN_DOWN, kLetter + 'x', 'x', ALT | CTRL),
       {{V, 'x', PLAT_QUAL_LALT | PLAT_QUAL_CONTROL}}},
      {"Return", key(KEYIN_DOWN, KM_SC_RETURN, 13, 0), {{V, 13, 0}}},
      {"Alt-Return", key(KEYIN_DOWN, KM_SC_RETURN, 13, KM_MOD_RALT), {{V, 13, PLAT_QUAL_RALT}}},
      {"keypad Enter", key(KEYIN_DOWN, KM_SC_KP_ENTER, 0, 0), {{V, 13, 0}}},
      {"Backspace", key(KEYIN_DOWN, KM_SC_BACKSPACE, 8, 0), {{V, 8, 0}}},
      {"Shift-Tab", key(KEYIN_DOWN, KM_SC_TAB, 9, SHIFT), {{V, 9, PLAT_QUAL_LSHIFT}}},
      {"Escape", key(KEYIN_DOWN, KM_SC_ESCAPE, 27, 0), {{V, 27, 0}}},
      {"Delete", key(KEYIN_DOWN, KM_SC_DELETE, 127, 0), {{V, 127, 0}}},
      {"cursor up", key(KEYIN_DOWN, KM_SC_UP, 0, 0), {{R, RAWKEY_UP, 0}}},
      {"Shift-cursor left",
       key(KEYIN_DOWN, KM_SC_LEFT, 0, SHIFT),
       {{R, RAWKEY_LEFT, PLAT_QUAL_LSHIFT}}},
      {"Page Down", key(KEYIN_DOWN, KM_SC_PAGEDOWN, 0, 0), {{R, RAWKEY_PAGEDOWN, 0}}},
      {"Home", key(KEYIN_DOWN, KM_SC_HOME, 0, 0), {{R, RAWKEY_HOME, 0}}},
      {"End", key(KEYIN_DOWN, KM_SC_END, 0, 0), {{R, RAWKEY_END, 0}}},
      {"Insert", key(KEYIN_DOWN, KM_SC_INSERT, 0, 0), {{R, RAWKEY_INSERT, 0}}},
      {"F1", key(KEYIN_DOWN, KM_SC_F1, 0, 0), {{R, RAWKEY_F1, 0}}},
      {"F10", key(KEYIN_DOWN, KM_SC_F1 + 9, 0, 0), {{R, RAWKEY_F1 + 9, 0}}},
      {"F11", key(KEYIN_DOWN, KM_SC_F1 + 10, 0, 0), {{R, RAWKEY_F11, 0}}},
      {"F12", key(KEYIN_DOWN, KM_SC_F12, 0, 0), {{R, RAWKEY_F12, 0}}},
      {"Help", key(KEYIN_DOWN, KM_SC_HELP, 0, 0), {{R, RAWKEY_HELP, 0}}},
      {"left Shift press",
       key(KEYIN_DOWN, KM_SC_LSHIFT, 0, SHIFT),
       {{R, RAWKEY_LSHIFT, PLAT_QUAL_LSHIFT}}},
      {"right Shift press",
       key(KEYIN_DOWN, KM_SC_RSHIFT, 0, KM_MOD_RSHIFT),
       {{R, RAWKEY_RSHIFT, PLAT_QUAL_RSHIFT}}},
      // Modifier presses are raw keys (any key ends the "Disconnected" notice).
      {"Ctrl press",
       key(KEYIN_DOWN, KM_SC_LCTRL, 0, CTRL),
       {{R, RAWKEY_CONTROL, PLAT_QUAL_CONTROL}}},
      {"Alt press", key(KEYIN_DOWN, KM_SC_LALT, 0, ALT), {{R, RAWKEY_LALT, PLAT_QUAL_LALT}}},
      {"Caps Lock press",
       key(KEYIN_DOWN, KM_SC_CAPSLOCK, 0, KM_MOD_CAPS),
       {{R, RAWKEY_CAPSLOCK, PLAT_QUAL_CAPSLOCK}}},
      {"Super press",
       key(KEYIN_DOWN, KM_SC_LGUI, 0, KM_MOD_LGUI),
       {{R, RAWKEY_LAMIGA, PLAT_QUAL_LCOMMAND}}},
      {"left Shift release", key(KEYIN_UP, KM_SC_LSHIFT, 0, 0), {{R, RAWKEY_LSHIFT | 0x80, 0}}},
      {"T release", key(KEYIN_UP, kLetter + 't', 't', ALT), {{R, 0x14 | 0x80, PLAT_QUAL_LALT}}},
      {"Return release", key(KEYIN_UP, KM_SC_RETURN, 13, 0), {{R, RAWKEY_RETURN | 0x80, 0}}},
      {"keypad Enter release",
       key(KEYIN_UP, KM_SC_KP_ENTER, 0, 0),
       {{R, RAWKEY_KP_ENTER | 0x80, 0}}},
      {"cursor release", key(KEYIN_UP, KM_SC_DOWN, 0, 0), {{R, RAWKEY_DOWN | 0x80, 0}}},
      {"keypad 8 without Num Lock", key(KEYIN_DOWN, KM_SC_KP_1 + 7, 0, 0), {{R, RAWKEY_UP, 0}}},
      {"its release", key(KEYIN_UP, KM_SC_KP_1 + 7, 0, 0), {{R, RAWKEY_UP | 0x80, 0}}},
      {"keypad 8 with Num Lock",
       key(KEYIN_DOWN, KM_SC_KP_1 + 7, 0, KM_MOD_NUM, "8"),
       {{V, '8', 0}}},
      {"keypad period without Num Lock", key(KEYIN_DOWN, KM_SC_KP_PERIOD, 0, 0), {{V, 127, 0}}},
      {"composed text", key(KEYIN_TEXT, 0, 0, 0, "a\xC3\xBC"), {{V, 'a', 0}, {V, 0xFC, 0}}},
      {"broken UTF-8 is dropped", key(KEYIN_TEXT, 0, 0, 0, "\xC3(x"), {{V, '(', 0}, {V, 'x', 0}}},
      {"dead key alone", key(KEYIN_DOWN, KM_SC_APOSTROPHE, '\'', 0), {}},
  };
  for (const Case& c : cases) {
    std::vector<PlatEvent> got = run(c.in);
    ASSERT_EQ(got.size(), c.want.size()) << c.what;
    for (const PlatEvent& e : got) EXPECT_FALSE(e.repeat) << c.what;
    for (size_t i = 0; i < got.size(); i++) {
      EXPECT_EQ(got[i].cls, c.want[i].cls) << c.what;
      EXPECT_EQ(got[i].code, c.want[i].code) << c.what;
      EXPECT_EQ(got[i].qualifier, c.want[i].qual) << c.what;
    }
  }
}

TEST(Keymap, MouseButtonsWheelAndMotion) {
  struct Case {
    const char* what;
    KeyInput in;
    std::vector<Want> want;
  } cases[] = {
      {"left press",
       mouse(KEYIN_BUTTON_DOWN, KM_MOUSE_LEFT, 12, 34),
       {{PLAT_EV_MOUSEBUTTON, PLAT_SELECTDOWN, 0}}},
      {"left release",
       mouse(KEYIN_BUTTON_UP, KM_MOUSE_LEFT, 12, 34),
       {{PLAT_EV_MOUSEBUTTON, PLAT_SELECTUP, 0}}},
      {"right press",
       mouse(KEYIN_BUTTON_DOWN, KM_MOUSE_RIGHT, 12, 34),
       {{PLAT_EV_MOUSEBUTTON, PLAT_MENUDOWN, 0}}},
      {"right release",
       mouse(KEYIN_BUTTON_UP, KM_MOUSE_RIGHT, 12, 34),
       {{PLAT_EV_MOUSEBUTTON, PLAT_MENUUP, 0}}},
      {"middle button", mouse(KEYIN_BUTTON_DOWN, KM_MOUSE_MIDDLE, 12, 34), {}},
      {"wheel up", mouse(KEYIN_WHEEL, 0, 12, 34, 1), {{R, RAWKEY_WHEEL_UP, 0}}},
      {"wheel down two notches",
       mouse(KEYIN_WHEEL, 0, 12, 34, -2),
       {{R, RAWKEY_WHEEL_DOWN, 0}, {R, RAWKEY_WHEEL_DOWN, 0}}},
      {"motion", mouse(KEYIN_MOTION, 0, 12, 34), {{PLAT_EV_MOUSEMOVE, 0, 0}}},
  };
  for (const Case& c : cases) {
    std::vector<PlatEvent> got = run(c.in);
    ASSERT_EQ(got.size(), c.want.size()) << c.what;
    for (size_t i = 0; i < got.size(); i++) {
      EXPECT_EQ(got[i].cls, c.want[i].cls) << c.what;
      EXPECT_EQ(got[i].code, c.want[i].code) << c.what;
      EXPECT_EQ(got[i].x, 12) << c.what;
      EXPECT_EQ(got[i].y, 34) << c.what;
    }
  }
  KeyInput far = mouse(KEYIN_MOTION, 0, 100000, -100000);
  std::vector<PlatEvent> got = run(far);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].x, 32767);
  EXPECT_EQ(got[0].y, -32768);
}

TEST(Keymap, UsRawCodes) {
  struct {
    int scancode;
    int raw;
  } cases[] = {
      {kLetter + 'e', 0x12},   {kLetter + 't', 0x14},
      {kLetter + 'u', 0x16},   {kLetter + 's', 0x21},
      {kLetter + 'd', 0x22},   {kLetter + 'h', 0x25},
      {kLetter + 'l', 0x28},   {kLetter + 'x', 0x32},
      {kLetter + 'c', 0x33},   {kLetter + 'v', 0x34},
      {kLetter + 'b', 0x35},   {KM_SC_RIGHTBRACKET, 0x1B},
      {kLetter + 'q', 0x10},   {kLetter + 'p', 0x19},
      {kLetter + 'a', 0x20},   {kLetter + 'z', 0x31},
      {kLetter + 'm', 0x37},   {KM_SC_SLASH, 0x3A},
      {KM_SC_GRAVE, 0x00},     {KM_SC_1, 0x01},
      {KM_SC_0, 0x0A},         {KM_SC_BACKSLASH, 0x0D},
      {KM_SC_SPACE, 0x40},     {KM_SC_RETURN, 0x44},
      {KM_SC_BACKSPACE, 0x41}, {KM_SC_ESCAPE, 0x45},
      {KM_SC_DELETE, 0x46},    {0, -1},
      {KM_SC_COUNT, -1},       {-3, -1},
  };
  for (const auto& c : cases) EXPECT_EQ(keymap_raw_code(c.scancode), c.raw) << c.scancode;
}

TEST(Keymap, QualifierBits) {
  struct {
    int mods;
    uint16_t qual;
  } cases[] = {
      {KM_MOD_LSHIFT, PLAT_QUAL_LSHIFT}, {KM_MOD_RSHIFT, PLAT_QUAL_RSHIFT},
      {KM_MOD_CAPS, PLAT_QUAL_CAPSLOCK}, {KM_MOD_LCTRL, PLAT_QUAL_CONTROL},
      {KM_MOD_RCTRL, PLAT_QUAL_CONTROL}, {KM_MOD_LALT, PLAT_QUAL_LALT},
      {KM_MOD_RALT, PLAT_QUAL_RALT},     {KM_MOD_LGUI, PLAT_QUAL_LCOMMAND},
      {KM_MOD_RGUI, PLAT_QUAL_RCOMMAND}, {KM_MOD_NUM | KM_MOD_MODE, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(keymap_qualifier(c.mods), c.qual) << c.mods;
}

// Whatever key and modifiers: a press is delivered in one form only, so the
// session never acts on it twice, and a release is always one raw key-up.
TEST(Keymap, NoPressIsDeliveredTwice) {
  const int mod_sets[] = {0, SHIFT, CTRL, ALT, KM_MOD_LGUI, ALT | SHIFT, CTRL | SHIFT, KM_MOD_NUM};
  for (int sc = 0; sc < KM_SC_COUNT; sc++) {
    // Give character keys the text a US keyboard would type.
    int raw = keymap_raw_code(sc);
    char text[2] = {0, 0};
    int keycode = 0;
    if (sc >= KM_SC_A && sc < KM_SC_A + 26) keycode = 'a' + (sc - KM_SC_A);
    if (sc == KM_SC_SPACE) keycode = ' ';
    if (sc == KM_SC_RIGHTBRACKET) keycode = ']';
    for (int mods : mod_sets) {
      text[0] = (keycode && !(mods & CTRL)) ? static_cast<char>(keycode) : 0;
      std::vector<PlatEvent> down = run(key(KEYIN_DOWN, sc, keycode, mods, text));
      ASSERT_LE(down.size(), 1u) << "scancode " << sc << " mods " << mods;
      for (const PlatEvent& e : down) {
        if (e.cls == R) {
          EXPECT_EQ(e.code & PLAT_KEY_UP, 0) << sc;
        }
      }
      std::vector<PlatEvent> up = run(key(KEYIN_UP, sc, keycode, mods));
      if (raw < 0) {
        EXPECT_TRUE(up.empty()) << sc;
      } else {
        ASSERT_EQ(up.size(), 1u) << sc;
        EXPECT_EQ(up[0].cls, R);
        EXPECT_NE(up[0].code & PLAT_KEY_UP, 0) << sc;
      }
    }
  }
}

TEST(Keymap, OutputIsBoundedByTheCallersArray) {
  PlatEvent out[3];
  KeyInput in = key(KEYIN_TEXT, 0, 0, 0, "abcdefgh");
  EXPECT_EQ(keymap_translate(in, out, 3), 3);
  EXPECT_EQ(out[2].code, 'c');
  EXPECT_EQ(keymap_translate(in, nullptr, 3), 0);
  EXPECT_EQ(keymap_translate(in, out, 0), 0);
}

}  // namespace

TEST(Keymap, RawCodesGiveTheirUsCharacters) {
  // The characters of raw codes that arrive without one (tests and other
  // sources of raw presses); keypad codes and codes without a key give 0.
  struct {
    uint16_t code, qualifier;
    uint8_t ch;
  } cases[] = {
      {0x00, 0, '`'},
      {0x00, PLAT_QUAL_LSHIFT, '~'},
      {0x0D, 0, '\\'},
      {0x0D, PLAT_QUAL_LSHIFT, '|'},
      {0x10, 0, 'q'},
      {0x1B, PLAT_QUAL_LSHIFT, '}'},
      {0x2A, PLAT_QUAL_LSHIFT, '"'},
      {0x31, 0, 'z'},
      {0x3A, PLAT_QUAL_LSHIFT, '?'},
      {0x33, PLAT_QUAL_CAPSLOCK, 'C'},
      {0x40, PLAT_QUAL_LSHIFT, ' '},
      {0x46, 0, 127},
      {0x2B, 0, 0},
      {0x30, 0, 0},
      {0x47, 0, 0},
      {0xFF, 0, 0},
      {0x41, 0, 8},
      {0x42, PLAT_QUAL_LSHIFT, 9},
      {0x43, 0, 13},
      {0x45, PLAT_QUAL_CAPSLOCK, 27},
      {0x4A, 0, 0},
      {0x0F, 0, 0},
      {0x80, 0, 0},
      {0x10, PLAT_QUAL_RSHIFT | PLAT_QUAL_CAPSLOCK, 'q'},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(keymap_raw_char(c.code, c.qualifier), c.ch) << std::hex << c.code;
  }
}

// Layouts with AltGr: what the desktop delivers for a German, Polish and
// French keyboard (keycode = the unshifted key, text = what the key typed).
KeyInput altgr_key(int scancode, int keycode, const char* text, int more_mods = 0) {
  KeyInput in = key(KEYIN_DOWN, scancode, keycode, KM_MOD_RALT | more_mods, text);
  in.altgr = true;
  return in;
}

TEST(Keymap, AltGrTypesAndLeftAltIsTheHotkeyKey) {
  struct Case {
    const char* what;
    KeyInput in;
    std::vector<Want> want;
  } cases[] = {
      {"de AltGr+Q: @", altgr_key(kLetter + 'q', 'q', "@"), {{V, '@', 0}}},
      {"de AltGr+8: [", altgr_key(KM_SC_1 + 7, '8', "["), {{V, '[', 0}}},
      {"de AltGr+7: {", altgr_key(KM_SC_1 + 6, '7', "{"), {{V, '{', 0}}},
      {"de AltGr+sharp s: backslash", altgr_key(KM_SC_MINUS, 0xDF, "\\"), {{V, '\\', 0}}},
      {"de AltGr+<: |", altgr_key(KM_SC_NONUSBACKSLASH, '<', "|"), {{V, '|', 0}}},
      {"de AltGr++: ~", altgr_key(KM_SC_RIGHTBRACKET, '+', "~"), {{V, '~', 0}}},
      {"de AltGr+E: euro", altgr_key(kLetter + 'e', 'e', "\xE2\x82\xAC"), {{V, 0x20AC, 0}}},
      {"de AltGr+X: guillemet, no hotkey",
       altgr_key(kLetter + 'x', 'x', "\xC2\xAB"),
       {{V, 0xAB, 0}}},
      {"de AltGr+H: h-bar, no hotkey", altgr_key(kLetter + 'h', 'h', "\xC4\xA7"), {{V, 0x127, 0}}},
      {"pl AltGr+X: z acute", altgr_key(kLetter + 'x', 'x', "\xC5\xBA"), {{V, 0x17A, 0}}},
      {"fr AltGr+0: @", altgr_key(KM_SC_0, 0xE0, "@"), {{V, '@', 0}}},
      {"AltGr+Shift keeps Shift",
       altgr_key(kLetter + 'a', 'a', "\xC3\x86", SHIFT),
       {{V, 0xC6, PLAT_QUAL_LSHIFT}}},
      {"AltGr with a key that types nothing", altgr_key(KM_SC_RETURN, 13, ""), {{V, 13, 0}}},
      {"AltGr press itself", altgr_key(KM_SC_RALT, 0, ""), {{R, RAWKEY_RALT, 0}}},
      // The left Alt key stays the hotkey key on every layout.
      {"de left Alt+X", key(KEYIN_DOWN, kLetter + 'x', 'x', ALT, "x"), {{V, 'x', PLAT_QUAL_LALT}}},
      {"left Alt with AltGr held",
       altgr_key(kLetter + 'x', 'x', "\xC2\xAB", ALT),
       {{V, 'x', PLAT_QUAL_LALT}}},
      // A US keyboard's right Alt is no AltGr: it is Alt.
      {"us right Alt+X",
       key(KEYIN_DOWN, kLetter + 'x', 'x', KM_MOD_RALT, "x"),
       {{V, 'x', PLAT_QUAL_RALT}}},
      {"Mode switch is no hotkey qualifier",
       key(KEYIN_DOWN, kLetter + 'q', 'q', KM_MOD_MODE, "@"),
       {{V, '@', 0}}},
      // Ctrl+] is the key beside P, whatever that key types.
      {"de Ctrl with the key beside P (+)",
       key(KEYIN_DOWN, KM_SC_RIGHTBRACKET, '+', CTRL),
       {{V, 29, PLAT_QUAL_CONTROL}}},
      {"fr Ctrl with the key beside P ($)",
       key(KEYIN_DOWN, KM_SC_RIGHTBRACKET, '$', CTRL),
       {{V, 29, PLAT_QUAL_CONTROL}}},
      {"Ctrl with ] elsewhere is no hang-up",
       key(KEYIN_DOWN, KM_SC_1 + 8, ']', CTRL),
       {{V, ']', PLAT_QUAL_CONTROL}}},
      // Ctrl with a key without a control character: the key, with Control.
      {"Ctrl+1", key(KEYIN_DOWN, KM_SC_1, '1', CTRL), {{V, '1', PLAT_QUAL_CONTROL}}},
      {"fr Ctrl+& (the 1 key)", key(KEYIN_DOWN, KM_SC_1, '&', CTRL), {{V, '&', PLAT_QUAL_CONTROL}}},
  };
  for (const Case& c : cases) {
    std::vector<PlatEvent> got = run(c.in);
    ASSERT_EQ(got.size(), c.want.size()) << c.what;
    for (size_t i = 0; i < got.size(); i++) {
      EXPECT_EQ(got[i].cls, c.want[i].cls) << c.what;
      EXPECT_EQ(got[i].code, c.want[i].code) << c.what;
      EXPECT_EQ(got[i].qualifier, c.want[i].qual) << c.what;
    }
  }
}

// What the keys of this keyboard are to the page tables of the screens: the
// page and position keys (the keypad's too, without Num Lock) are, F11 and
// F12 are not, though their raw codes are in the tables' lists.
TEST(Keymap, PageKeysOfThisKeyboard) {
  struct Case {
    int scancode;
    KeymapPageKey page;
  } cases[] = {
      {KM_SC_PAGEUP, KEYMAP_PAGE_UP},     {KM_SC_PAGEDOWN, KEYMAP_PAGE_DOWN},
      {KM_SC_HOME, KEYMAP_PAGE_HOME},     {KM_SC_END, KEYMAP_PAGE_END},
      {KM_SC_KP_1 + 8, KEYMAP_PAGE_UP},   {KM_SC_KP_1, KEYMAP_PAGE_END},
      {KM_SC_F1 + 10, KEYMAP_PAGE_NONE},  {KM_SC_F12, KEYMAP_PAGE_NONE},
      {KM_SC_INSERT, KEYMAP_PAGE_NONE},   {KM_SC_UP, KEYMAP_PAGE_NONE},
  };
  for (const Case& c : cases) {
    std::vector<PlatEvent> got = run(key(KEYIN_DOWN, c.scancode, 0, 0));
    ASSERT_EQ(got.size(), 1u) << c.scancode;
    ASSERT_EQ(got[0].cls, R) << c.scancode;
    EXPECT_EQ(keymap_page_key(got[0].code), c.page) << c.scancode;
  }
  // The other codes of the tables' lists still count (injected events, the
  // keypads of other keyboards).
  for (uint16_t code : {0x5A, 0x5B, 0x6E, 0x4A, 0x5C, 0x5D})
    EXPECT_NE(keymap_page_key(code), KEYMAP_PAGE_NONE) << code;
}

TEST(Keymap, EventsCarryThePhysicalKeyAndTheRepeatMark) {
  KeyInput held = key(KEYIN_DOWN, KM_SC_RETURN, 13, ALT);
  held.repeat = true;
  std::vector<PlatEvent> got = run(held);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(got[0].repeat);
  EXPECT_EQ(got[0].key, RAWKEY_RETURN);

  got = run(key(KEYIN_DOWN, kLetter + 'x', 'x', 0, "x"));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_FALSE(got[0].repeat);
  EXPECT_EQ(got[0].key, 0x32);  // the X key's raw code, on a vanilla key

  // A release is never a repeat; text without a key has no key.
  KeyInput up = key(KEYIN_UP, KM_SC_RETURN, 13, 0);
  up.repeat = true;
  got = run(up);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_FALSE(got[0].repeat);
  got = run(key(KEYIN_TEXT, 0, 0, 0, "a"));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].key, -1);
}
