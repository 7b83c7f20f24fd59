// Keyboard and mouse in a session: key encoding for the BBS (ANSI sequences
// or PETSCII bytes), the hotkeys with their repeat filters, the mouse hot
// zones and the window-mode changes the hotkeys request.
#pragma once
#include <cstdint>

struct Session;
struct UiContext;

// Repeat-filter and key state (milliseconds on the program clock).
extern uint32_t g_alt_enter_last_ms;
extern int g_alt_enter_down;
extern uint32_t g_alt_t_last_ms;
extern int g_alt_t_down;
extern uint32_t g_alt_s_last_ms;
extern int g_session_edit_key_last_kind;  // 1 Backspace, 2 Delete
extern uint32_t g_session_edit_key_last_ms;
extern uint32_t g_petscii_stop_last_ms;
extern int g_session_shift_down;  // a Shift went down and no character used it yet

// Forgets every repeat-filter time and held-key flag (a new session, tests).
void session_input_reset();

// Drains the session window's input without waiting.  Clears *running to end
// the session; may set the session's full-screen, top bar and phonebook
// requests, which the loop serves after it returns.
void session_handle_window_messages(Session* s, int* running);

// The byte a character goes out as: unchanged in ANSI mode; letters follow
// the C64's case rules in PETSCII mode.
uint8_t petscii_outgoing_key_byte(Session* s, uint8_t ch, uint16_t qualifier);

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
int session_edit_key_accept(int kind);

// The US QWERTY character of an Amiga raw key code (0 when unmapped).
uint8_t session_rawkey_char(uint16_t code, uint16_t qualifier);

// Window modes: cycle window -> medium -> full screen -> window, or switch
// to one (0 window, 1 medium, 2 full screen, 3 as window) keeping the grid.
// -1 when no window could be opened (the session then ends).
int session_toggle_fullscreen(Session* s, UiContext* ui, const char* title);
int session_apply_window_mode(Session* s, UiContext* ui, const char* title, int mode);
void session_toggle_top_bar(Session* s);
void session_toggle_c64_40_scale(Session* s);
