// Keyboard and mouse in a session: key encoding for the BBS (ANSI sequences
// or PETSCII bytes), the hotkeys with their repeat filters, the mouse hot
// zones and the window-mode changes the hotkeys request.
#pragma once
#include <cstdint>

#include "platform/key_filter.h"

struct Session;
struct UiContext;

// Forgets every repeat-filter time and held-key flag (a new process, tests):
// the key filter (platform/key_filter.h) is the one record of them.
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
