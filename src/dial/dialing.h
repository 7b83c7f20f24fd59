// The dialing display: the small "Info" box that a call from the menu shows
// while the dial sound plays and the connection is being made, with the BBS
// name and a time line that moves on once a second, and the menu window's
// input during that time (Escape or closing the window cancels the call,
// Alt+Enter changes the window mode).
//
// Use from the menu path of a session:
//   ui_begin_dialing_status(ui, entry);        // the box, drawn at once
//   ... every tick: if (ui_poll_connect_cancel(ui)) -> cancelled ...
//   ui_end_dialing_status();                   // connected, failed or cancelled
// and the menu removes the box with ui_clear_connecting_status before it
// shows "Unable to connect".
#pragma once
#include <cstdint>

struct UiContext;
struct PhoneEntry;

// The dialing display's state, process-wide like the menu's screen cache.
extern char g_connect_popup_bbs_name[80];      // shown after "Dialing "
extern int g_connect_popup_dialing_mode;       // 1 while the display is up
extern uint32_t g_connect_popup_start_ms;      // when dialing began
extern uint32_t g_connect_popup_last_draw_ms;  // last time-line drawing; 0 = never
extern int g_connect_popup_time_rect_valid;    // the time line's rectangle is known
extern int g_connect_popup_time_x;
extern int g_connect_popup_time_y;
extern int g_connect_popup_time_w;
extern int g_connect_popup_time_h;
extern char g_connect_popup_last_time_line[80];  // the text last drawn there
// The entry's connection kind after the name, "Dialing NAME (SSH)"; "" for
// Telnet.
extern char g_connect_popup_kind[16];

// "Time Remaining: MM:SS" with the minutes and seconds since start_ms on the
// millisecond clock (minutes are not reduced modulo 60; a clock that reads
// before the start gives 00:00).
void connect_time_line_from_start(uint32_t start_ms, char out[80]);

// Starts the display: the BBS name is the entry's name, or "BBS" without an
// entry or with an empty name (at most 79 characters); the clock starts now
// and the box is drawn.
void ui_begin_dialing_status(UiContext* ui, const PhoneEntry* entry);
// Clears the window and draws the box in full (with the full-screen top bar
// when it is shown).  Nothing without a window.
void ui_draw_dialing_status(UiContext* ui, uint32_t start_ms);
// Where the box goes for the current name and time: the corner and size in
// window pixels.
void ui_dialing_box_rect(const UiContext* ui, int* x, int* y, int* w, int* h);
// Removes the box (black where it was) and forgets the time line.
void ui_clear_connecting_status(UiContext* ui);
// The display is down: connected, failed or cancelled.
void ui_end_dialing_status();

// Empties the menu window's input: Escape (translated or raw, any
// qualifier) or a close request (which also sets the menu's quit request)
// cancel; a refresh request redraws the box; Alt+Enter switches the window
// mode once per press (ui_toggle_connect_fullscreen).  Then, unless a cancel
// came, moves the time line on (at most once a second, only when its text
// changed).  1 when the user cancelled, else 0; 0 without a window.
int ui_poll_connect_cancel(UiContext* ui);
// The next window mode for the menu window, with the box drawn again in it.
// 0, or -1 when the mode could not be changed (the previous mode is open
// again when that worked; ui->window is null when nothing could be opened).
int ui_toggle_connect_fullscreen(UiContext* ui);
