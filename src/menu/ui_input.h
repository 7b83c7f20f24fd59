// The menu's keyboard: window input turned into menu key codes, the waits
// every menu screen reads them with, and the duplicate filter for
// navigation keys.
#pragma once
#include <cstdint>

#include "display/ui_surface.h"
#include "platform/key_filter.h"

// Menu key codes.  Characters are themselves (1..255; 8 Backspace, 9 Tab,
// 10 line feed, 13 Return, 27 Escape, 127 Delete); a negative code means the
// window was closed (or there is none).
enum MenuKey : int {
  MENU_KEY_REDRAW = 4096,  // the window's contents were damaged
  MENU_KEY_TICK = 4097,    // the timed wait's time passed
  MENU_KEY_ALT_RETURN = 4098,
  MENU_KEY_ALT_E = 4099,
  MENU_KEY_ALT_A = 4100,
  MENU_KEY_ALT_D = 4101,
  MENU_KEY_ALT_X = 4102,
  MENU_KEY_ALT_S = 4103,
  MENU_KEY_ALT_Z = 4104,
  MENU_KEY_ALT_I = 4105,
  MENU_KEY_ALT_G = 4106,
  MENU_KEY_ALT_V = 4107,
  MENU_KEY_ALT_T = 4108,
  MENU_KEY_DEPTH = 4109,  // top bar depth button: handled inside the waits
  MENU_KEY_UP = 4112,
  MENU_KEY_DOWN = 4113,
  MENU_KEY_RIGHT = 4114,
  MENU_KEY_LEFT = 4115,
  MENU_KEY_PAGE_UP = 4116,
  MENU_KEY_PAGE_DOWN = 4117,
  MENU_KEY_HOME = 4118,
  MENU_KEY_END = 4119,
  MENU_KEY_SHIFT_TAB = 4120,
};

// The next key code from the window's queued input; 0 when nothing is
// queued, -1 when the window was closed (the close flag is then set) or
// there is no window.
int ui_poll_key(UiContext* ui);
// Waits for a key code other than 0.  While the full-screen top bar is
// shown, the clock is redrawn once a second.
int ui_wait_key(UiContext* ui);
// The same for at most the given time; MENU_KEY_TICK when it passed.
int ui_wait_key_timeout(UiContext* ui, int seconds, int microseconds);
// The form a key arrived in (the key filter's forms).
enum : int { UI_KEY_FORM_TRANSLATED = KEY_FORM_TRANSLATED, UI_KEY_FORM_RAW = KEY_FORM_RAW };
// Drops a navigation code (arrows, pages, Home, End, Tab, Shift+Tab) that is
// the last accepted press delivered a second time: the same code in the
// other form within 40 ms (platform/key_filter.h).  Presses in the same form are real presses and
// a repeat (repeat set) is a held key moving on: neither is ever dropped.
// 0 when dropped.  The waits pass the form and repeat mark of the event.
int ui_filter_duplicate_nav_key(int code, int form = UI_KEY_FORM_TRANSLATED, bool repeat = false);

// Hotkeys (Alt or Amiga with a letter or Return) act once per physical
// press: the keyboard's repeats of a held hotkey give no code, nor do the
// repeats of its key after Alt is let go, until that key is released.

// Forgets the filters' memory, the key filter's included (tests).
void ui_input_reset();

// Tests: a wait gives up and answers -1 after this many idle seconds with
// nothing to read (0, the default, waits for ever).
extern int g_ui_wait_idle_limit;
