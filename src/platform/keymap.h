// Turns the desktop's keyboard and mouse input into the program's events
// (classes, Amiga raw key codes and qualifier bits of display.h).
//
// The input is described without SDL types: the numbers are SDL2's scancodes,
// keycodes and modifier bits copied as plain ints (the SDL backend checks at
// compile time that they agree), so the mapping is tested without a display.
//
// Rules: a key that produces a character arrives as a vanilla key with that
// character (Unicode, 16 bits) and the current qualifiers; with Ctrl as the control
// character (a key without one gives its base character with the Control
// qualifier); with the left Alt or Super as the plain base character, so
// hotkeys compare letters.  AltGr (the right Alt key on layouts that give it
// that role) is no Alt: the key types what AltGr makes of it, and the event
// carries no Alt qualifier.  Ctrl with the key beside P is 29 (the hang-up
// key) on every layout.  Return, Backspace, Tab, Escape and Delete are
// vanilla keys 13, 8, 9, 27, 127; cursor and page keys, Home, End, Insert,
// F-keys and Help are raw keys.  A key press is delivered once, in one form;
// every key release is a raw key with bit 0x80; Shift presses are raw 0x60 /
// 0x61, the other modifiers' presses raw 0x62..0x67.  Every key event carries
// the raw code of its physical key and whether it is an auto-repeat.
#pragma once
#include <cstdint>

#include "platform/display.h"

enum KeyInputKind : int {
  KEYIN_DOWN = 0,  // key pressed (or repeated); text = what it typed
  KEYIN_UP = 1,    // key released
  KEYIN_TEXT = 2,  // text typed without a key of its own (compose, input method)
  KEYIN_BUTTON_DOWN = 3,
  KEYIN_BUTTON_UP = 4,
  KEYIN_WHEEL = 5,  // wheel_y > 0 away from the user
  KEYIN_MOTION = 6,
};

struct KeyInput {
  int kind = KEYIN_DOWN;
  int scancode = 0;    // SDL_Scancode
  int keycode = 0;     // SDL_Keycode
  int mods = 0;        // SDL_Keymod bits
  char text[32] = {};  // UTF-8, as SDL_TEXTINPUT gives it
  int button = 0;      // 1 left, 2 middle, 3 right
  int wheel_y = 0;
  int x = 0;
  int y = 0;
  bool repeat = false;  // KEYIN_DOWN: the keyboard's auto-repeat of a held key
  bool altgr = false;   // the right Alt held is AltGr on the current layout
};

// SDL2 modifier bits.
enum : int {
  KM_MOD_LSHIFT = 0x0001,
  KM_MOD_RSHIFT = 0x0002,
  KM_MOD_LCTRL = 0x0040,
  KM_MOD_RCTRL = 0x0080,
  KM_MOD_LALT = 0x0100,
  KM_MOD_RALT = 0x0200,
  KM_MOD_LGUI = 0x0400,
  KM_MOD_RGUI = 0x0800,
  KM_MOD_NUM = 0x1000,
  KM_MOD_CAPS = 0x2000,
  KM_MOD_MODE = 0x4000,  // AltGr: selects characters, is no hotkey qualifier
};

// SDL2 scancodes used by the map (USB HID usage numbers).
enum : int {
  KM_SC_A = 4,   // A..Z are 4..29
  KM_SC_1 = 30,  // 1..9 are 30..38
  KM_SC_0 = 39,
  KM_SC_RETURN = 40,
  KM_SC_ESCAPE = 41,
  KM_SC_BACKSPACE = 42,
  KM_SC_TAB = 43,
  KM_SC_SPACE = 44,
  KM_SC_MINUS = 45,
  KM_SC_EQUALS = 46,
  KM_SC_LEFTBRACKET = 47,
  KM_SC_RIGHTBRACKET = 48,
  KM_SC_BACKSLASH = 49,
  KM_SC_NONUSHASH = 50,
  KM_SC_SEMICOLON = 51,
  KM_SC_APOSTROPHE = 52,
  KM_SC_GRAVE = 53,
  KM_SC_COMMA = 54,
  KM_SC_PERIOD = 55,
  KM_SC_SLASH = 56,
  KM_SC_CAPSLOCK = 57,
  KM_SC_F1 = 58,  // F1..F12 are 58..69
  KM_SC_F12 = 69,
  KM_SC_INSERT = 73,
  KM_SC_HOME = 74,
  KM_SC_PAGEUP = 75,
  KM_SC_DELETE = 76,
  KM_SC_END = 77,
  KM_SC_PAGEDOWN = 78,
  KM_SC_RIGHT = 79,
  KM_SC_LEFT = 80,
  KM_SC_DOWN = 81,
  KM_SC_UP = 82,
  KM_SC_KP_DIVIDE = 84,
  KM_SC_KP_MULTIPLY = 85,
  KM_SC_KP_MINUS = 86,
  KM_SC_KP_PLUS = 87,
  KM_SC_KP_ENTER = 88,
  KM_SC_KP_1 = 89,  // KP_1..KP_9 are 89..97
  KM_SC_KP_0 = 98,
  KM_SC_KP_PERIOD = 99,
  KM_SC_NONUSBACKSLASH = 100,
  KM_SC_HELP = 117,
  KM_SC_LCTRL = 224,
  KM_SC_LSHIFT = 225,
  KM_SC_LALT = 226,
  KM_SC_LGUI = 227,
  KM_SC_RCTRL = 228,
  KM_SC_RSHIFT = 229,
  KM_SC_RALT = 230,
  KM_SC_RGUI = 231,
  KM_SC_COUNT = 512,
};

// Keycodes of character keys are the character itself (SDL2 convention).
enum : int {
  KM_MOUSE_LEFT = 1,
  KM_MOUSE_MIDDLE = 2,
  KM_MOUSE_RIGHT = 3,
};

// Writes the events for one input into out (at most max); returns how many.
int keymap_translate(const KeyInput& in, PlatEvent* out, int max);
// The qualifier bits (PLAT_QUAL_*) of a set of SDL modifier bits.
uint16_t keymap_qualifier(int mods);
// The character an Amiga raw key code types on the US keyboard with these
// qualifiers (Shift, Caps Lock for letters); 0 for a code without one.  The
// editing keys give their vanilla codes (Backspace 8, Tab 9, Return and
// Enter 13, Escape 27, Delete 127).
uint8_t keymap_raw_char(uint16_t code, uint16_t qualifier);
// The Amiga raw key code of a scancode on the US keyboard; -1 for none.
int keymap_raw_code(int scancode);

// The page and position keys of the program's screens.  Each has three raw
// codes (the main key and the numeric pads of the keyboards the tables were
// made for: Page Up 0x48, 0x5A, 0x6F; Page Down 0x49, 0x5B, 0x6E; Home 0x4A,
// 0x5C, 0x70; End 0x4B, 0x5D, 0x71).  Two of them, 0x4B and 0x6F, are F11
// and F12 on this keyboard: they are no page keys, here or anywhere, and a
// screen that asks this function never mistakes them for one.
enum KeymapPageKey : int {
  KEYMAP_PAGE_NONE = 0,
  KEYMAP_PAGE_UP,
  KEYMAP_PAGE_DOWN,
  KEYMAP_PAGE_HOME,
  KEYMAP_PAGE_END,
};
KeymapPageKey keymap_page_key(uint16_t code);
