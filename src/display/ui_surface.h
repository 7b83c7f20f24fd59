// The menu's display: the window (or own full-screen screen) the phonebook
// menu draws in, opened by the same mode rules as a terminal's surface, and
// the same window lent to a session that was called from the menu.
//
// A UiContext is a surface binding (window, screen, pens, glyph source,
// geometry; see TermBinding) plus what only the menu needs.  The menu draws
// its text with the CP437 bitmap font of the terminal renderer, so the
// embedded ANSI screens look exactly as a BBS's art would; without the font
// files it falls back to a system font.
//
// Typical use:
//   UiContext ui{};
//   if (ui_open_menu(&ui, "Kavel") != 0) { ...console... }
//   ... draw, wait ...
//   ui_close(&ui);
// A session called from the menu either takes the window over (full screen:
// ui_use_bbs_font, term_attach_ui) or replaces it (window modes: ui_close,
// ui_open with a request for the session's font and title, term_attach_ui),
// and gives it back with ui_use_menu_font or ui_open_menu.
#pragma once
#include <cstdint>

#include "display/modes.h"
#include "terminal/terminal.h"

struct UiContext : TermBinding {
  int32_t bitmap_text;      // text is drawn with the bitmap font (else the system font)
  int32_t font_height;      // height of the text font
  int32_t top_bar_height;   // content offset while the full-screen top bar is shown
  int32_t close_requested;  // the user closed the window: the menu ends
};

// The menu window's default grid: 80 columns by 25 rows of cells.
inline constexpr int kUiCols = 80;
inline constexpr int kUiRows = 25;

// --- the screen cache of the menu drawers ----------------------------------------
// The screen shows a complete, current picture of view g_ui_cache_view (2 the
// phonebook list, 6 the settings form); g_ui_cache_ansi: drawn from the art.
extern int g_ui_cache_valid;
extern int g_ui_cache_view;
extern int g_ui_cache_ansi;
extern int g_entry_last_count;  // what the list was last drawn with
extern int g_entry_last_selected;
extern int g_entry_last_offset;
extern int g_transfer_last_selected;  // the settings form's last highlighted row
// Anything drawn over the menu (a popup, another view, a session) calls
// this, so that the next list draw repaints the whole screen.
void ui_invalidate_menu_caches();

// --- opening and closing ------------------------------------------------------------

// Opens the display as the request says (full screen degrades to a window
// as term_open does).  With the request's bbs_font the active font's glyphs
// and a terminal-sized window; otherwise the menu's CP437 glyphs, in a
// window of at least the request's inner size.  Keeps the close_requested
// flag.  0 on success, -1 when no window opens.
int ui_open(UiContext* ui, const WindowRequest* req);
// ui_open for the menu: "CP437" active, the menu's glyphs and layout.
int ui_open_menu(UiContext* ui, const WindowRequest* req);
// The same in the current mode with nothing else said.
int ui_open_menu(UiContext* ui, const char* title);
// Releases pens, window, own screen and font; keeps close_requested.
void ui_close(UiContext* ui);
// The next window mode (window -> medium -> full screen -> window): closes
// the menu and opens it again.  When that fails the previous mode is opened
// again and the result is -1.
int ui_reopen_for_fullscreen(UiContext* ui, const char* title);
// Full screen: the own screen goes to the back; otherwise the window does.
void ui_send_to_back(UiContext* ui);

// Glyphs of the open display: the menu's CP437 font (and "CP437" active), or
// the BBS font for a session that keeps the full-screen window (the
// request's font and C64 scale, when a request is given); both recompute
// the geometry.  0 on success, -1 when no glyph source is usable.
int ui_use_menu_font(UiContext* ui);
int ui_use_bbs_font(UiContext* ui, int top_bar, const WindowRequest* req = nullptr);
// Recomputes origin_x / origin_y for the display's mode and cell size.
void ui_update_origin(UiContext* ui);

// Binds a terminal to the display's window without owning anything (window,
// screen, font and pens stay the UiContext's), with the terminal's origin.
// -1 when the display is not open.
int term_attach_ui(Terminal* t, const UiContext* ui);
