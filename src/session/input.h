// Keyboard and mouse in a session: key encoding for the BBS (ANSI sequences
// or PETSCII bytes), the hotkeys with their repeat filters, the mouse hot
// zones and the window-mode changes the hotkeys request.
#pragma once
#include <cstdint>

struct Session;
struct UiContext;

// The repeat filters and held-key flags (milliseconds on the program clock).
// One record for the whole process, not one per Session: a key still held
// from the dialing display must not act again in the session that follows,
// so the state outlives each connection.
struct SessionKeyState {
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
  // and the form it came in (0 translated, 1 raw).
  bool edit_has_last;
  int edit_last_kind;
  int edit_last_form;
  uint32_t edit_last_ms;
  // RUN/STOP in a PETSCII session.
  bool stop_has_last;
  uint32_t stop_last_ms;
  int shift_down;  // a Shift went down and no character used it yet
  // The physical key (raw code) whose press a hotkey took, while it is
  // held: its repeats stay with the hotkey, also after Alt is let go.
  bool hotkey_held;
  int hotkey_key;
};
extern SessionKeyState g_session_keys;

// Forgets every repeat-filter time and held-key flag (a new session, tests).
void session_input_reset();

// Drains the session window's input without waiting.  Clears *running to end
// the session; may set the session's full-screen, top bar and phonebook
// requests, which the loop serves after it returns.
void session_handle_window_messages(Session* s, int* running);

// The byte a character goes out as: unchanged in ANSI mode; letters follow
// the C64's case rules in PETSCII mode.
uint8_t petscii_outgoing_key_byte(Session* s, uint8_t ch, uint16_t qualifier);

// The byte a typed character (Unicode) goes out as in the session's
// character set; -1 when the set has no such character (nothing is sent).
int session_typed_char_byte(const Session* s, uint32_t ch);

// Whether a raw key code is one of the hotkey letters' keys.
bool hotkey_rawcode_known(uint16_t code);

// Asks "Exit Kavel?" when the session's terminal has a window; on yes (or
// without a window) sets the menu's quit request, if any, and clears
// *running.  On no nothing changes.
void session_confirm_exit_kavel(Session* s, int* running);

// Senders: 0 on success, non-zero when the send failed.
int session_send_backspace(Session* s);
int session_send_delete(Session* s);
int session_send_petscii_stop(Session* s);
int session_send_login(Session* s);

// Repeat filters: 1 accepts the press.
int alt_enter_accept_press();
int alt_t_accept_press();
int alt_s_accept_press();
// Backspace (kind 1) and Delete (kind 2) in translated (form 0) or raw (form
// 1) form: refuses only the same key arriving again in the other form within
// 80 ms, the one press a desktop may deliver twice.
int session_edit_key_accept(int kind, int form = 0);

// Window modes: cycle window -> medium -> full screen -> window, or switch
// to one (0 window, 1 medium, 2 full screen, 3 as window) keeping the grid.
// -1 when no window could be opened (the session then ends).
int session_toggle_fullscreen(Session* s, UiContext* ui, const char* title);
int session_apply_window_mode(Session* s, UiContext* ui, const char* title, int mode);
void session_toggle_top_bar(Session* s);
void session_toggle_c64_40_scale(Session* s);
