// The scrollback viewer: a second window, "Kavel Scrollback", that shows the
// session's captured history followed by the current screen as plain text
// (up to 1000 lines of at most 80 characters), scrolls with the keyboard and
// the wheel, and copies a mouse selection to the clipboard when the button
// is released.  While it is open the session does not run: the viewer reads
// only its own window.
//
//   scrollback_viewer_run(terminal);      // the whole thing (Alt+B)
//
// The pieces are public so that tests can feed events one by one:
//   ScrollbackViewer v;
//   if (scrollback_viewer_open(&v, t) == 0) {
//     while (!scrollback_viewer_handle(&v, event)) ...;
//     scrollback_viewer_close(&v);
//   }
// The clipboard text is in the set the clipboard device is set to: the
// session sets it (CP437, or the C64 set on screen) before it opens this.
#pragma once
#include <cstddef>
#include <memory>
#include <string>

#include "display/fonts.h"
#include "platform/display.h"
#include "terminal/terminal.h"

inline constexpr int kScrollbackViewerLines = 1000;

// The viewer's text: the newest 1000 lines, each at most 80 characters.
struct ScrollbackText {
  std::unique_ptr<ScrollbackLine[]> lines;  // kScrollbackViewerLines slots
  int total = 0;
};
// Appends a line cut to 80 bytes; with 1000 held the oldest goes first.
void scrollback_collect_append(ScrollbackText* text, const char* line);
// The captured lines from oldest to newest, then the 25 screen rows (blank
// rows too, as empty lines).  -1 without memory.
int scrollback_collect(ScrollbackText* text, const Terminal* t);

struct ScrollbackSelection {
  bool active = false;
  int anchor_line = 0;
  int anchor_col = 0;
  int cursor_line = 0;
  int cursor_col = 0;  // the column after the last selected character
};
// The two ends in text order: anchor first unless the cursor lies on an
// earlier line, or on the same line at a smaller column.
void scrollback_selection_bounds(const ScrollbackSelection* sel, int* start_line, int* start_col,
                                 int* end_line, int* end_col);

struct ScrollbackViewer {
  Terminal* term = nullptr;
  std::unique_ptr<Terminal> view;  // fonts and cell metrics, bound to the viewer's window
  std::unique_ptr<BitmapFont> saved_font;
  bool font_changed = false;
  PlatFont* sys_font = nullptr;  // the fall-back text font the viewer opened
  PlatWindow* window = nullptr;
  ScrollbackText text;
  int top = 0;
  int visible_rows = 0;
  // The selection is shown while active: from a press on a line until the
  // next click, so that what was copied stays in view.  dragging: the button
  // is still down and moves extend it.
  ScrollbackSelection sel;
  bool dragging = false;
  char message[80] = {};
  std::string temp_path;  // the scratch file of the text ("" when none)
  // What the last selection change repainted: rows and pixels.
  int last_delta_rows = 0;
  long last_delta_pixels = 0;
};

// Opens the viewer over a terminal that has a window: collects the text,
// writes the scratch file, opens the window and draws it.  0, or -1 when it
// could not open (everything released, the terminal's cursor shown again).
int scrollback_viewer_open(ScrollbackViewer* v, Terminal* t);
// Acts on one event of the viewer's window; 1 when the viewer is to close.
int scrollback_viewer_handle(ScrollbackViewer* v, const PlatEvent& ev);
// Closes the window, restores the font, deletes the scratch file and hands
// the display back to the terminal (redrawn, cursor shown).
void scrollback_viewer_close(ScrollbackViewer* v);
// Open, the event loop until closed, close.  Nothing without a window.
void scrollback_viewer_run(Terminal* t);

// A mouse position to a text position: 0 when it is not on a line.
int scrollback_mouse_to_pos(const ScrollbackViewer* v, int x, int y, int* line, int* col);
// The selected columns [*from, *to) of a line (an empty range when none).
void scrollback_selected_span(const ScrollbackViewer* v, int line, int* from, int* to);
// The selected text, lines joined by line feeds; false when empty.
bool scrollback_selection_text(const ScrollbackViewer* v, std::string* out);

// Drawing: everything, header and rows, one row, the rows whose selection
// changed between two states.
void scrollback_window_draw(ScrollbackViewer* v);
void scrollback_window_redraw_view(ScrollbackViewer* v);
void scrollback_window_draw_row(ScrollbackViewer* v, int text_row);
void scrollback_redraw_selection_delta(ScrollbackViewer* v, const ScrollbackSelection& before);

// Tests: called once the viewer's window is open and drawn, so that a test
// can queue the window's events (null: nothing).
extern void (*g_scrollback_viewer_opened)(ScrollbackViewer* v);

// Where the scratch file goes (default: the program's directory); tests
// point it elsewhere.  Empty restores the default.
void scrollback_set_temp_dir(const char* dir);
