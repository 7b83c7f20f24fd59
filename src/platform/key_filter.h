// Key presses as the program acts on them: once per physical press.
//
// A desktop may deliver one press twice (as a raw key and as a translated
// character), the keyboard repeats a held key, and a hotkey must act once
// however long it is held.  Every screen that reads keys (the menu's waits,
// the session's input, the dialing display, the in-session phonebook) asks
// this one record, so a key held while one screen gives way to the next
// (Alt+Enter on the dialing display, Alt+E into the in-session phonebook)
// does not act again there.  The record is process-wide and outlives every
// session for that reason.
#pragma once
#include <cstdint>

struct PlatEvent;

// The form a key arrived in.
enum : int { KEY_FORM_TRANSLATED = 0, KEY_FORM_RAW = 1 };

struct KeyFilterState {
  // Alt+Enter: the last accepted press, the last press seen (accepted or
  // not: key repeat keeps refreshing it) and whether the key is held.
  bool alt_enter_has_last;
  uint32_t alt_enter_last_ms;
  uint32_t alt_enter_seen_ms;
  int alt_enter_down;
  // Alt+T, the same.
  bool alt_t_has_last;
  uint32_t alt_t_last_ms;
  uint32_t alt_t_seen_ms;
  int alt_t_down;
  // Alt+S: the last accepted press.
  bool alt_s_has_last;
  uint32_t alt_s_last_ms;
  // Backspace and Delete: the last accepted kind (1 Backspace, 2 Delete)
  // and the form it came in.
  bool edit_has_last;
  int edit_last_kind;
  int edit_last_form;
  uint32_t edit_last_ms;
  // The menu's navigation codes: the last accepted one, its form and when
  // (0: none).
  int nav_last_key;
  int nav_last_form;
  uint32_t nav_last_ms;
  // RUN/STOP in a PETSCII session.
  bool stop_has_last;
  uint32_t stop_last_ms;
  int shift_down;  // a Shift went down and no character used it yet
  // The physical key (raw code) whose press a hotkey took, while it is
  // held: its repeats stay with the hotkey, also after Alt is let go.
  bool hotkey_held;
  int hotkey_key;
};
extern KeyFilterState g_key_filter;

// Forgets every time and held key (tests; nothing in the program resets it).
void key_filter_reset();

// A key release (a raw key with the release bit): the held hotkey, Shift,
// Enter and T are no longer down.
void key_filter_release(const PlatEvent& ev);
// The keyboard's repeat of the key a hotkey took: it belongs to that hotkey.
bool key_filter_hotkey_repeat(const PlatEvent& ev);
// A hotkey took this press: its physical key's repeats are the hotkey's
// until it is released.
void key_filter_take_hotkey(const PlatEvent& ev);

// The press filters of the hotkeys that change the display: 1 accepts the
// press.  Alt+Enter: not within 80 ms of the last accepted one, nor every
// 140 ms while held; Alt+T: not within 80 ms, nor every 250 ms while held;
// Alt+S: not within 250 ms.
int alt_enter_accept_press();
int alt_t_accept_press();
int alt_s_accept_press();

// Backspace (kind 1) and Delete (kind 2): refuses only the same key
// arriving again in the other form within 80 ms, the one press a desktop may
// deliver twice.
int key_filter_edit_accept(int kind, int form);

// A navigation key (code: the screen's own code for it): refuses the last
// accepted code arriving again in the other form within 40 ms.  A press in
// the same form is a new press and a repeat is a held key moving on: neither
// is refused.  1 accepts.
int key_filter_nav_accept(int code, int form, bool repeat);
// A key that is no navigation key breaks a pair: the next navigation press
// is a new one.
void key_filter_nav_forget();

// RUN/STOP at most once per 250 ms: 1 accepts.
int key_filter_stop_accept();
