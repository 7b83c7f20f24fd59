// The terminal's contract with whoever shows it and talks for it.
//
// The screen model and the interpreters sit below the display and the
// session: they change the grid and then ask, through these hooks, for the
// few things only an upper layer can do: draw a cell, fill or scroll pixels,
// hide or show the cursor, redraw the status bar, flash for the bell, load
// the glyphs of a new C64 character set, send a reply to the BBS, and (for
// what today's boards send) paint blank cells in any colour, follow a
// palette change and say which fonts it can draw.  The
// display layer fills in the drawing hooks (display_install_term_hooks), the
// session the reply (through the Telnet senders, so a 255 goes out doubled),
// and tests a recording fake.  A hook left null does nothing.
//
// Calls are synchronous: a hook runs before the operation that asked for it
// goes on, so every changed cell is drawn at once, as before.  The terminal
// asks for fills, scrolls and the status bar only while it can draw (a
// window and a drawing port, drawing not suppressed); the cell, cursor and
// bell hooks decide that themselves (a cell that cannot be drawn still
// forgets a cursor drawn over it), and a reply is asked for only while the
// terminal has a peer (reply_socket >= 0).
#pragma once
#include <cstddef>
#include <cstdint>

struct Terminal;
struct Cell;

struct TermHooks {
  // Cell (row, col) as the grid now holds it; asked for every changed cell.
  void (*draw_cell)(Terminal* t, int row, int col);
  // A pixel rectangle (inclusive corners, never empty) in the pen of palette
  // index colour (0..15).
  void (*fill)(Terminal* t, int x1, int y1, int x2, int y2, int colour);
  // The pixels of grid rows 1..24 in the first cols columns, one row up; the
  // terminal fills the freed bottom row itself.
  void (*scroll_up)(Terminal* t, int cols);
  // The pixels of a block of rows x cols cells at (src_row, src_col) copied
  // to (dst_row, dst_col); the two may overlap.  Region scrolls, inserted
  // and deleted lines and characters use it; the terminal fills what the
  // move uncovers itself.  Without it the moved cells are drawn one by one.
  void (*move_cells)(Terminal* t, int src_row, int src_col, int dst_row, int dst_col, int rows,
                     int cols);
  void (*hide_cursor)(Terminal* t);
  void (*show_cursor)(Terminal* t);
  // The status bar above the grid; asked for only while t->top_bar is set.
  void (*draw_status)(Terminal* t);
  // The visible bell; the terminal has already applied its rate limit.
  void (*flash)(Terminal* t);
  // Loads the glyphs of the C64 character set t->petscii_lower names: 1
  // loaded, 0 the file could not be loaded, -1 nothing to load (the
  // terminal does not draw with the C64 bitmap font, or its drawing is
  // suppressed: it loads the set in force when it draws again).
  int (*load_charset)(Terminal* t);
  // Answer bytes for the BBS (device attributes, status and cursor reports,
  // answerback); asked for only while t->reply_socket >= 0.
  void (*reply)(Terminal* t, const char* bytes, size_t len);
  // A pixel rectangle (inclusive corners, never empty) in the background
  // blank cells show (a palette index, an extended colour, iCE's bright
  // background).  Without it the terminal fills with the cell's bg index.
  void (*fill_blank)(Terminal* t, int x1, int y1, int x2, int y2, const Cell* blank);
  // Before a full redraw: the pens of the cells' colours made to show the
  // palette as the host set it (and as it is on a new surface).
  void (*sync_palette)(Terminal* t);
  // Whether cells can be drawn in font (TERM_FONT_*, not the session's).
  bool (*font_available)(Terminal* t, int font);
};

// The hooks of the program (one display and one session at a time).
extern TermHooks g_term_hooks;

// --- calls the terminal makes ---------------------------------------------------

inline void term_hook_draw_cell(Terminal* t, int row, int col) {
  if (g_term_hooks.draw_cell) g_term_hooks.draw_cell(t, row, col);
}
inline void term_hook_hide_cursor(Terminal* t) {
  if (g_term_hooks.hide_cursor) g_term_hooks.hide_cursor(t);
}
inline void term_hook_show_cursor(Terminal* t) {
  if (g_term_hooks.show_cursor) g_term_hooks.show_cursor(t);
}
