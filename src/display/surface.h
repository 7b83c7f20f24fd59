// The terminal's display surface in the three window modes: a normal window
// on the desktop, a medium window (the same grid at a larger integer scale)
// and full screen (an own screen covered by one borderless window).
//
// The mode comes from the request (display/modes.h), which makes it the
// program's window mode.  A full-screen request
// that cannot be met (the grid does not fit, or the own screen or its window
// cannot be opened) degrades to a normal window and clears those globals, so
// the next mode change starts from the window modes again.
//
// The helpers below term_open are the steps it is made of; the menu window
// opens the same way with its own record and size.
#pragma once

struct Terminal;
struct PlatScreen;
struct PlatWindow;
struct WindowRequest;

// Opens the terminal's surface as the request says (its mode, PETSCII,
// C64 scale, font, place and title; display/modes.h) and clears the screen.
// 0 on success; -1 when neither a bitmap font nor a system font is usable or
// no window opens (the record is then cleared).
int term_open(Terminal* t, const WindowRequest* req);
// Releases the pens, closes the window, the own screen and the font where
// the terminal owns them, and clears the record.
void term_close(Terminal* t);
// Recomputes origin_x / origin_y (the top-left pixel of cell 0,0) from the
// window and the mode.  Nothing without a window.
void term_update_origin(Terminal* t);

// Opens the own full-screen screen "Kavel Screen" at g_screen_w x g_screen_h
// and g_screen_depth (depth 4 as a second try) with the palette in registers
// 0..15; null when it cannot be opened.
PlatScreen* open_kavel_screen();
// Loads the 16 palette colours into registers 0..15 of an own screen.
void kavel_screen_load_palette(PlatScreen* screen);

// Opens the own screen and the borderless window that covers it; null when
// either fails (a screen that was opened is closed again).
PlatWindow* surface_open_fullscreen_window(const char* title, PlatScreen** screen_out);
// Forgets a full-screen request that could not be met.
void surface_fall_back_to_window();
// Opens a window on the desktop screen with the given inner size, at the
// request's place, else the remembered position (used once), else centred.
PlatWindow* surface_open_desktop_window(const char* title, int inner_w, int inner_h,
                                        const WindowRequest* req = nullptr);
// What every opening does first: the request's font made active, its mode
// selected and its C64 scale set.
void surface_apply_request(const WindowRequest* req);
// The window's inner size for a terminal grid: columns x cell_w by
// 25 x cell_h, with 960 x 600 for a 40-column C64 terminal in a medium window.
void surface_terminal_inner_size(int petscii, int medium, int cell_w, int cell_h, int* inner_w,
                                 int* inner_h);
