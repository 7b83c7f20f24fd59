// Display and dialog calls the session makes into the terminal's window code
// (the window modes, the full-screen status bar and the in-terminal dialog
// boxes).  They are declared here, with the signatures the session relies on,
// until their own headers (display/surface.h, display/statusbar.h,
// transfer/dialogs.h) exist; then this file only includes those.
#pragma once

struct Terminal;
struct Session;

// Opens the terminal's surface in the current window mode; 0 or -1 (the
// record is then cleared).  term_close releases pens, window, own screen and
// font as owned and clears the record.
int term_open(Terminal* t, const char* title);
void term_close(Terminal* t);
// Recomputes origin_x / origin_y from the window and the mode.
void term_update_origin(Terminal* t);

// The full-screen status bar: the whole bar, and only its connected time.
void term_draw_session_status(Terminal* t);
void term_draw_session_elapsed_status(Terminal* t);
// Status-bar metrics (cell width and height, left edge) used by the mouse.
int term_session_status_cell_w(const Terminal* t);
int term_session_status_cell_h(const Terminal* t);
int term_session_status_x0(const Terminal* t);

// The yes/no box over the terminal: 1 yes, 0 no.
int term_confirm_yes_no(Terminal* t, const char* question);
// The "Disconnected" notice; the session waits for the key itself.
void term_draw_disconnected_notice(Terminal* t);
// Asks "Exit Kavel?" when there is a window; on yes (or without a window)
// sets the menu's quit request and clears *running.
void session_confirm_exit_kavel(Session* s, int* running);
