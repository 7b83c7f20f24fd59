// The keyboard and mouse map: one table from scancodes to Amiga raw codes and
// to how a press is delivered.  A press is delivered in exactly one form
// (vanilla or raw) so the session never acts on one key twice; releases are
// always raw, because that is where the session looks for them.
#include "platform/keymap.h"

#include <array>
#include <cstddef>

namespace {

enum Role : uint8_t {
  ROLE_NONE = 0,
  ROLE_CHAR,      // types a character (text, or Ctrl/Alt forms of it)
  ROLE_VANILLA,   // fixed vanilla code whatever the modifiers
  ROLE_RAW,       // press is a raw key
  ROLE_SHIFT,     // press is a raw key too; the session tracks Shift
  ROLE_MODIFIER,  // press and release are raw keys the session ignores
  ROLE_KEYPAD,    // a character with Num Lock, else a cursor/page key
};

struct KeyInfo {
  Role role = ROLE_NONE;
  uint8_t raw = 0;      // raw code of the key
  uint8_t code = 0;     // ROLE_VANILLA: the character
  uint8_t nav_raw = 0;  // ROLE_KEYPAD without Num Lock: raw press (0: vanilla code)
};

struct Entry {
  int scancode;
  KeyInfo info;
  // The key's characters on the US keyboard, plain and shifted, for raw key
  // codes that reach the program without a character (0: none).
  char us_plain = 0;
  char us_shifted = 0;
};

constexpr Entry kKeys[] = {
    // Digits row: ` 1..9 0 - = \ (0x00..0x0D).
    {KM_SC_GRAVE, {ROLE_CHAR, 0x00}, '`', '~'},
    {KM_SC_1, {ROLE_CHAR, 0x01}, '1', '!'},
    {KM_SC_1 + 1, {ROLE_CHAR, 0x02}, '2', '@'},
    {KM_SC_1 + 2, {ROLE_CHAR, 0x03}, '3', '#'},
    {KM_SC_1 + 3, {ROLE_CHAR, 0x04}, '4', '$'},
    {KM_SC_1 + 4, {ROLE_CHAR, 0x05}, '5', '%'},
    {KM_SC_1 + 5, {ROLE_CHAR, 0x06}, '6', '^'},
    {KM_SC_1 + 6, {ROLE_CHAR, 0x07}, '7', '&'},
    {KM_SC_1 + 7, {ROLE_CHAR, 0x08}, '8', '*'},
    {KM_SC_1 + 8, {ROLE_CHAR, 0x09}, '9', '('},
    {KM_SC_0, {ROLE_CHAR, 0x0A}, '0', ')'},
    {KM_SC_MINUS, {ROLE_CHAR, 0x0B}, '-', '_'},
    {KM_SC_EQUALS, {ROLE_CHAR, 0x0C}, '=', '+'},
    {KM_SC_BACKSLASH, {ROLE_CHAR, 0x0D}, '\\', '|'},
    // QWERTY row (0x10..0x1B).
    {KM_SC_A + 'q' - 'a', {ROLE_CHAR, 0x10}, 'q', 'Q'},
    {KM_SC_A + 'w' - 'a', {ROLE_CHAR, 0x11}, 'w', 'W'},
    {KM_SC_A + 'e' - 'a', {ROLE_CHAR, 0x12}, 'e', 'E'},
    {KM_SC_A + 'r' - 'a', {ROLE_CHAR, 0x13}, 'r', 'R'},
    {KM_SC_A + 't' - 'a', {ROLE_CHAR, 0x14}, 't', 'T'},
    {KM_SC_A + 'y' - 'a', {ROLE_CHAR, 0x15}, 'y', 'Y'},
    {KM_SC_A + 'u' - 'a', {ROLE_CHAR, 0x16}, 'u', 'U'},
    {KM_SC_A + 'i' - 'a', {ROLE_CHAR, 0x17}, 'i', 'I'},
    {KM_SC_A + 'o' - 'a', {ROLE_CHAR, 0x18}, 'o', 'O'},
    {KM_SC_A + 'p' - 'a', {ROLE_CHAR, 0x19}, 'p', 'P'},
    {KM_SC_LEFTBRACKET, {ROLE_CHAR, 0x1A}, '[', '{'},
    {KM_SC_RIGHTBRACKET, {ROLE_CHAR, 0x1B}, ']', '}'},
    // ASDF row (0x20..0x2B).
    {KM_SC_A + 'a' - 'a', {ROLE_CHAR, 0x20}, 'a', 'A'},
    {KM_SC_A + 's' - 'a', {ROLE_CHAR, 0x21}, 's', 'S'},
    {KM_SC_A + 'd' - 'a', {ROLE_CHAR, 0x22}, 'd', 'D'},
    {KM_SC_A + 'f' - 'a', {ROLE_CHAR, 0x23}, 'f', 'F'},
    {KM_SC_A + 'g' - 'a', {ROLE_CHAR, 0x24}, 'g', 'G'},
    {KM_SC_A + 'h' - 'a', {ROLE_CHAR, 0x25}, 'h', 'H'},
    {KM_SC_A + 'j' - 'a', {ROLE_CHAR, 0x26}, 'j', 'J'},
    {KM_SC_A + 'k' - 'a', {ROLE_CHAR, 0x27}, 'k', 'K'},
    {KM_SC_A + 'l' - 'a', {ROLE_CHAR, 0x28}, 'l', 'L'},
    {KM_SC_SEMICOLON, {ROLE_CHAR, 0x29}, ';', ':'},
    {KM_SC_APOSTROPHE, {ROLE_CHAR, 0x2A}, '\'', '"'},
    {KM_SC_NONUSHASH, {ROLE_CHAR, 0x2B}},
    // ZXCV row (0x30..0x3A).
    {KM_SC_NONUSBACKSLASH, {ROLE_CHAR, 0x30}},
    {KM_SC_A + 'z' - 'a', {ROLE_CHAR, 0x31}, 'z', 'Z'},
    {KM_SC_A + 'x' - 'a', {ROLE_CHAR, 0x32}, 'x', 'X'},
    {KM_SC_A + 'c' - 'a', {ROLE_CHAR, 0x33}, 'c', 'C'},
    {KM_SC_A + 'v' - 'a', {ROLE_CHAR, 0x34}, 'v', 'V'},
    {KM_SC_A + 'b' - 'a', {ROLE_CHAR, 0x35}, 'b', 'B'},
    {KM_SC_A + 'n' - 'a', {ROLE_CHAR, 0x36}, 'n', 'N'},
    {KM_SC_A + 'm' - 'a', {ROLE_CHAR, 0x37}, 'm', 'M'},
    {KM_SC_COMMA, {ROLE_CHAR, 0x38}, ',', '<'},
    {KM_SC_PERIOD, {ROLE_CHAR, 0x39}, '.', '>'},
    {KM_SC_SLASH, {ROLE_CHAR, 0x3A}, '/', '?'},
    {KM_SC_SPACE, {ROLE_CHAR, 0x40}, ' ', ' '},
    // Editing keys that arrive as vanilla keys.
    {KM_SC_BACKSPACE, {ROLE_VANILLA, RAWKEY_BACKSPACE, 8}},
    {KM_SC_TAB, {ROLE_VANILLA, RAWKEY_TAB, 9}},
    {KM_SC_KP_ENTER, {ROLE_VANILLA, RAWKEY_KP_ENTER, 13}},
    {KM_SC_RETURN, {ROLE_VANILLA, RAWKEY_RETURN, 13}},
    {KM_SC_ESCAPE, {ROLE_VANILLA, RAWKEY_ESCAPE, 27}},
    {KM_SC_DELETE, {ROLE_VANILLA, RAWKEY_DELETE, 127}},
    // Keys that arrive as raw keys.
    {KM_SC_INSERT, {ROLE_RAW, RAWKEY_INSERT}},
    {KM_SC_PAGEUP, {ROLE_RAW, RAWKEY_PAGEUP}},
    {KM_SC_PAGEDOWN, {ROLE_RAW, RAWKEY_PAGEDOWN}},
    {KM_SC_HOME, {ROLE_RAW, RAWKEY_HOME}},
    {KM_SC_END, {ROLE_RAW, RAWKEY_END}},
    {KM_SC_UP, {ROLE_RAW, RAWKEY_UP}},
    {KM_SC_DOWN, {ROLE_RAW, RAWKEY_DOWN}},
    {KM_SC_RIGHT, {ROLE_RAW, RAWKEY_RIGHT}},
    {KM_SC_LEFT, {ROLE_RAW, RAWKEY_LEFT}},
    {KM_SC_F1, {ROLE_RAW, RAWKEY_F1}},
    {KM_SC_F1 + 1, {ROLE_RAW, RAWKEY_F1 + 1}},
    {KM_SC_F1 + 2, {ROLE_RAW, RAWKEY_F1 + 2}},
    {KM_SC_F1 + 3, {ROLE_RAW, RAWKEY_F1 + 3}},
    {KM_SC_F1 + 4, {ROLE_RAW, RAWKEY_F1 + 4}},
    {KM_SC_F1 + 5, {ROLE_RAW, RAWKEY_F1 + 5}},
    {KM_SC_F1 + 6, {ROLE_RAW, RAWKEY_F1 + 6}},
    {KM_SC_F1 + 7, {ROLE_RAW, RAWKEY_F1 + 7}},
    {KM_SC_F1 + 8, {ROLE_RAW, RAWKEY_F1 + 8}},
    {KM_SC_F1 + 9, {ROLE_RAW, RAWKEY_F1 + 9}},
    {KM_SC_F1 + 10, {ROLE_RAW, RAWKEY_F11}},
    {KM_SC_F12, {ROLE_RAW, RAWKEY_F12}},
    {KM_SC_HELP, {ROLE_RAW, RAWKEY_HELP}},
    // Modifiers.
    {KM_SC_LSHIFT, {ROLE_SHIFT, RAWKEY_LSHIFT}},
    {KM_SC_RSHIFT, {ROLE_SHIFT, RAWKEY_RSHIFT}},
    {KM_SC_CAPSLOCK, {ROLE_MODIFIER, RAWKEY_CAPSLOCK}},
    {KM_SC_LCTRL, {ROLE_MODIFIER, RAWKEY_CONTROL}},
    {KM_SC_RCTRL, {ROLE_MODIFIER, RAWKEY_CONTROL}},
    {KM_SC_LALT, {ROLE_MODIFIER, RAWKEY_LALT}},
    {KM_SC_RALT, {ROLE_MODIFIER, RAWKEY_RALT}},
    {KM_SC_LGUI, {ROLE_MODIFIER, RAWKEY_LAMIGA}},
    {KM_SC_RGUI, {ROLE_MODIFIER, RAWKEY_RAMIGA}},
    // Keypad: Amiga keypad codes; without Num Lock the digits move the cursor.
    {KM_SC_KP_0, {ROLE_KEYPAD, 0x0F, 0, RAWKEY_INSERT}},
    {KM_SC_KP_1, {ROLE_KEYPAD, 0x1D, 0, RAWKEY_END}},
    {KM_SC_KP_1 + 1, {ROLE_KEYPAD, 0x1E, 0, RAWKEY_DOWN}},
    {KM_SC_KP_1 + 2, {ROLE_KEYPAD, 0x1F, 0, RAWKEY_PAGEDOWN}},
    {KM_SC_KP_1 + 3, {ROLE_KEYPAD, 0x2D, 0, RAWKEY_LEFT}},
    {KM_SC_KP_1 + 4, {ROLE_KEYPAD, 0x2E, 0, 0}},
    {KM_SC_KP_1 + 5, {ROLE_KEYPAD, 0x2F, 0, RAWKEY_RIGHT}},
    {KM_SC_KP_1 + 6, {ROLE_KEYPAD, 0x3D, 0, RAWKEY_HOME}},
    {KM_SC_KP_1 + 7, {ROLE_KEYPAD, 0x3E, 0, RAWKEY_UP}},
    {KM_SC_KP_1 + 8, {ROLE_KEYPAD, 0x3F, 0, RAWKEY_PAGEUP}},
    {KM_SC_KP_PERIOD, {ROLE_KEYPAD, 0x3C, 127, 0}},
    {KM_SC_KP_MINUS, {ROLE_CHAR, 0x4A}},
    {KM_SC_KP_PLUS, {ROLE_CHAR, 0x5E}},
    {KM_SC_KP_MULTIPLY, {ROLE_CHAR, 0x5D}},
    {KM_SC_KP_DIVIDE, {ROLE_CHAR, 0x5C}},
};

constexpr std::array<KeyInfo, KM_SC_COUNT> make_table() {
  std::array<KeyInfo, KM_SC_COUNT> t{};
  for (const Entry& e : kKeys) t[static_cast<size_t>(e.scancode)] = e.info;
  return t;
}
constexpr std::array<KeyInfo, KM_SC_COUNT> kTable = make_table();

// Raw code to US character: the character keys of the table, and the
// editing keys that arrive as vanilla keys with their fixed code.
struct RawChars {
  std::array<uint8_t, 0x80> plain{};
  std::array<uint8_t, 0x80> shifted{};
};

constexpr RawChars make_raw_chars() {
  RawChars m{};
  for (const Entry& e : kKeys) {
    uint8_t raw = e.info.raw;
    if (e.info.role == ROLE_CHAR && e.us_plain) {
      m.plain[raw] = static_cast<uint8_t>(e.us_plain);
      m.shifted[raw] = static_cast<uint8_t>(e.us_shifted);
    } else if (e.info.role == ROLE_VANILLA) {
      m.plain[raw] = m.shifted[raw] = e.info.code;
    }
  }
  return m;
}
constexpr RawChars kRawChars = make_raw_chars();

const KeyInfo& info_for(int scancode) {
  static const KeyInfo none{};
  if (scancode < 0 || scancode >= KM_SC_COUNT) return none;
  return kTable[static_cast<size_t>(scancode)];
}

constexpr int kAltMods = KM_MOD_LALT | KM_MOD_RALT | KM_MOD_LGUI | KM_MOD_RGUI;
constexpr int kCtrlMods = KM_MOD_LCTRL | KM_MOD_RCTRL;

// The control character a Ctrl combination types; -1 for none.
int control_char(int base) {
  if (base >= 'a' && base <= 'z') return base - 'a' + 1;
  if (base >= 'A' && base <= 'Z') return base - 'A' + 1;
  switch (base) {
    case '@':
    case '2':
    case ' ':
      return 0;
    case '[':
      return 27;
    case '\\':
      return 28;
    case ']':
      return -1;  // 29 is the key beside P, wherever ']' is (key_down)
    case '^':
    case '6':
      return 30;
    case '_':
    case '-':
    case '/':
      return 31;
    default:
      return -1;
  }
}

struct Out {
  PlatEvent* out;
  int max;
  int n = 0;
  void add(uint32_t cls, uint16_t code, uint16_t qual, int x = 0, int y = 0) {
    if (n >= max) return;
    PlatEvent& e = out[n++];
    e.cls = cls;
    e.code = code;
    e.qualifier = qual;
    e.x = static_cast<int16_t>(x < -32768 ? -32768 : (x > 32767 ? 32767 : x));
    e.y = static_cast<int16_t>(y < -32768 ? -32768 : (y > 32767 ? 32767 : y));
  }
};

// Every character of a UTF-8 text as a vanilla key whose code is the
// Unicode character (the session turns it into its own character set);
// characters beyond the 16 bits of a code and broken sequences are dropped.
void text_keys(const char* text, uint16_t qual, Out* o) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  while (i < sizeof(KeyInput::text) && s[i]) {
    unsigned c = s[i];
    uint32_t cp;
    int len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      i++;
      continue;
    }
    bool ok = true;
    for (int k = 1; k < len; k++) {
      if (i + static_cast<size_t>(k) >= sizeof(KeyInput::text) ||
          (s[i + static_cast<size_t>(k)] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (s[i + static_cast<size_t>(k)] & 0x3F);
    }
    if (!ok) {
      i++;
      continue;
    }
    i += static_cast<size_t>(len);
    if (cp <= 0xFFFF && !(cp >= 0xD800 && cp <= 0xDFFF) && (len == 1 || cp >= 0x80))
      o->add(PLAT_EV_VANILLAKEY, static_cast<uint16_t>(cp), qual);
  }
}

void key_down(const KeyInput& in, int mods, uint16_t qual, Out* o) {
  const KeyInfo& k = info_for(in.scancode);
  switch (k.role) {
    case ROLE_VANILLA:
      o->add(PLAT_EV_VANILLAKEY, k.code, qual);
      return;
    case ROLE_RAW:
    case ROLE_SHIFT:
    case ROLE_MODIFIER:
      // A modifier's press matters only where any key will do (the
      // "Disconnected" notice); the session ignores it.
      o->add(PLAT_EV_RAWKEY, k.raw, qual);
      return;
    case ROLE_KEYPAD:
      if (!in.text[0]) {
        if (k.nav_raw)
          o->add(PLAT_EV_RAWKEY, k.nav_raw, qual);
        else if (k.code)
          o->add(PLAT_EV_VANILLAKEY, k.code, qual);
        return;
      }
      break;  // with Num Lock it types its character
    default:
      break;
  }
  // A character key (or one the table does not know).
  int base = (in.keycode > 0 && in.keycode <= 0xFF) ? in.keycode : -1;
  if (mods & kAltMods) {
    if (base >= 32 && base != 127)
      o->add(PLAT_EV_VANILLAKEY, static_cast<uint16_t>(base), qual);
    else
      text_keys(in.text, qual, o);
    return;
  }
  if (mods & kCtrlMods) {
    // The hang-up key is bound to its place beside P: on many layouts that
    // key is no ']' and ']' needs AltGr, which Ctrl cannot combine with.
    int c = in.scancode == KM_SC_RIGHTBRACKET ? 29 : control_char(base);
    if (c >= 0) {
      o->add(PLAT_EV_VANILLAKEY, static_cast<uint16_t>(c), qual);
    } else if (base > 32 && base < 127) {
      // No control character: the key itself with the Control qualifier
      // (the C64's Ctrl+digit colour keys).
      o->add(PLAT_EV_VANILLAKEY, static_cast<uint16_t>(base), qual);
    } else {
      text_keys(in.text, qual, o);
    }
    return;
  }
  text_keys(in.text, qual, o);
}

}  // namespace

uint16_t keymap_qualifier(int mods) {
  uint16_t q = 0;
  if (mods & KM_MOD_LSHIFT) q |= PLAT_QUAL_LSHIFT;
  if (mods & KM_MOD_RSHIFT) q |= PLAT_QUAL_RSHIFT;
  if (mods & KM_MOD_CAPS) q |= PLAT_QUAL_CAPSLOCK;
  if (mods & kCtrlMods) q |= PLAT_QUAL_CONTROL;
  if (mods & KM_MOD_LALT) q |= PLAT_QUAL_LALT;
  if (mods & KM_MOD_RALT) q |= PLAT_QUAL_RALT;
  if (mods & KM_MOD_LGUI) q |= PLAT_QUAL_LCOMMAND;
  if (mods & KM_MOD_RGUI) q |= PLAT_QUAL_RCOMMAND;
  return q;
}

uint8_t keymap_raw_char(uint16_t code, uint16_t qualifier) {
  if (code >= kRawChars.plain.size()) return 0;
  bool shift = (qualifier & (PLAT_QUAL_LSHIFT | PLAT_QUAL_RSHIFT)) != 0;
  uint8_t ch = shift ? kRawChars.shifted[code] : kRawChars.plain[code];
  if (ch >= 'a' && ch <= 'z') ch = static_cast<uint8_t>(ch - 'a' + 'A');
  if (ch >= 'A' && ch <= 'Z') {
    bool caps = (qualifier & PLAT_QUAL_CAPSLOCK) != 0;
    bool upper = shift != caps;
    if (!upper) ch = static_cast<uint8_t>(ch - 'A' + 'a');
  }
  return ch;
}

KeymapPageKey keymap_page_key(uint16_t code) {
  switch (code) {
    case RAWKEY_PAGEUP:
    case 0x5A:
      return KEYMAP_PAGE_UP;
    case RAWKEY_PAGEDOWN:
    case 0x5B:
    case 0x6E:
      return KEYMAP_PAGE_DOWN;
    case 0x4A:
    case 0x5C:
    case RAWKEY_HOME:
      return KEYMAP_PAGE_HOME;
    case 0x5D:
    case RAWKEY_END:
      return KEYMAP_PAGE_END;
    default:
      // RAWKEY_F11 (0x4B) and RAWKEY_F12 (0x6F) among the rest.
      return KEYMAP_PAGE_NONE;
  }
}

int keymap_raw_code(int scancode) {
  const KeyInfo& k = info_for(scancode);
  return k.role == ROLE_NONE ? -1 : k.raw;
}

int keymap_translate(const KeyInput& in, PlatEvent* out, int max) {
  if (!out || max <= 0) return 0;
  Out o{out, max};
  // AltGr selects characters: it is neither a hotkey qualifier nor Alt.
  const int mods = in.altgr ? (in.mods & ~KM_MOD_RALT) : in.mods;
  const uint16_t qual = keymap_qualifier(mods);
  switch (in.kind) {
    case KEYIN_DOWN:
      key_down(in, mods, qual, &o);
      break;
    case KEYIN_UP: {
      const KeyInfo& k = info_for(in.scancode);
      if (k.role == ROLE_NONE) break;
      // A keypad key releases under the code its press used.
      uint8_t raw = k.raw;
      if (k.role == ROLE_KEYPAD && !(in.mods & KM_MOD_NUM) && k.nav_raw) raw = k.nav_raw;
      o.add(PLAT_EV_RAWKEY, static_cast<uint16_t>(raw | PLAT_KEY_UP), qual);
      break;
    }
    case KEYIN_TEXT:
      text_keys(in.text, qual, &o);
      break;
    case KEYIN_BUTTON_DOWN:
    case KEYIN_BUTTON_UP: {
      bool down = in.kind == KEYIN_BUTTON_DOWN;
      if (in.button == KM_MOUSE_LEFT) {
        o.add(PLAT_EV_MOUSEBUTTON, down ? PLAT_SELECTDOWN : PLAT_SELECTUP, qual, in.x, in.y);
      } else if (in.button == KM_MOUSE_RIGHT) {
        o.add(PLAT_EV_MOUSEBUTTON, down ? PLAT_MENUDOWN : PLAT_MENUUP, qual, in.x, in.y);
      }
      break;
    }
    case KEYIN_WHEEL: {
      uint16_t code = in.wheel_y > 0 ? RAWKEY_WHEEL_UP : RAWKEY_WHEEL_DOWN;
      int notches = in.wheel_y > 0 ? in.wheel_y : -in.wheel_y;
      for (int i = 0; i < notches && i < 8; i++) o.add(PLAT_EV_RAWKEY, code, qual, in.x, in.y);
      break;
    }
    case KEYIN_MOTION:
      o.add(PLAT_EV_MOUSEMOVE, 0, qual, in.x, in.y);
      break;
    default:
      break;
  }
  if (in.kind == KEYIN_DOWN || in.kind == KEYIN_UP) {
    const KeyInfo& k = info_for(in.scancode);
    for (int i = 0; i < o.n; i++) {
      if (k.role != ROLE_NONE) out[i].key = k.raw;
      out[i].repeat = in.kind == KEYIN_DOWN && in.repeat;
    }
  }
  return o.n;
}
