// One line of text being edited in a form field: the working text, the
// cursor and the rules for keys and pasted text, and the loop that runs an
// inline editor with its blinking cursor.  Shared by the entry editor and the
// global settings form; the forms draw the row.
#pragma once
#include <cstddef>
#include <string>

#include "display/ui_surface.h"

inline constexpr int kUiLineEditBytes = 256;

struct UiLineEdit {
  char text[kUiLineEditBytes];  // always terminated
  int len;
  int cursor;  // 0..len, a byte offset at the start of a character
  int limit;   // the most bytes the field holds (its capacity less the terminator)
  // The text is the file system's UTF-8 (a directory, a host name) rather
  // than the screen's CP437: typed characters go in as UTF-8, the cursor and
  // the deletion keys move over whole characters, and the screen shows each
  // character as its CP437 picture.  Bytes that are no UTF-8 stay as they
  // are (one character each).
  bool utf8;
  bool masked;  // shown as one "*" per character (a password)
};

// Starts on a copy of field (cut to the limit) with the cursor at its end.
// capacity is the field's size in bytes; the working text holds at most 255.
// The text is CP437 bytes; _utf8 starts a UTF-8 text.
void ui_line_edit_start(UiLineEdit* e, const char* field, size_t capacity);
void ui_line_edit_start_utf8(UiLineEdit* e, const char* field, size_t capacity);

// A typed character: inserted at the cursor while it fits the limit.  Typed
// characters are CP437 codes (the menu's key codes): 32..126 and 128..255;
// control codes and 127 are no text.  1 when inserted.
int ui_line_edit_insert(UiLineEdit* e, int ch);
// Cursor and deletion keys (Left, Right, Home, End, Backspace 8, Delete 127)
// and typed characters.  1 when the key was one of these.
int ui_line_edit_key(UiLineEdit* e, int code);
// Pasted text: inserted at the cursor byte by byte, a tab as a space, every
// other byte outside 32..126 skipped, until the field is full.
void ui_line_edit_paste(UiLineEdit* e, const char* bytes, size_t n);
// The text as the screen shows it, one CP437 byte per cell (a character
// CP437 has no picture for as "?"; masked, "*"), and the cell of the cursor.
std::string ui_line_edit_cells(const UiLineEdit* e, int* cursor_cell);
// The first cell shown in a value area of width cells: the text from its
// start while the cursor fits, else so that the cursor sits in the last cell.
int ui_line_edit_first_visible(const UiLineEdit* e, int width);

// The clipboard's text for a form field (read in CP437, the menu's set,
// whatever set a session left the clipboard in); empty when there is none.
std::string ui_form_clipboard_text();

// Draws the row being edited (blink: the cursor is shown); redraw_form
// repaints the whole form behind it after a damage or a mode change.
struct UiInlineEditView {
  void (*draw_row)(UiContext* ui, const UiLineEdit* e, bool blink, void* ctx);
  void (*redraw_form)(UiContext* ui, void* ctx);
  void* ctx;
};

// Runs the inline editor until Return (1: the text is accepted), Escape or a
// closed window (0), or a failed display-mode change (-1; the close flag is
// set so that the menu ends).  The cursor blinks at 1 Hz on half-second
// waits; Alt+V pastes the clipboard.
int ui_inline_edit_run(UiContext* ui, UiLineEdit* e, const UiInlineEditView& view);

// A form's chooser (the entry type, the modem sound): draw_choice shows the
// choice, redraw_form repaints the form behind it after a mode change
// (null: nothing to repaint) and after a damage when redraw_on_damage.
struct UiChooserView {
  int count;
  bool vertical_keys;  // Up/Down, K/J and Tab move too, not only Left/Right
  bool redraw_on_damage;
  void (*draw_choice)(UiContext* ui, int choice, void* ctx);
  void (*redraw_form)(UiContext* ui, void* ctx);
  void* ctx;
};

// Runs a chooser from *choice until Return (1: *choice is taken), Escape
// or a closed window (0), or a failed display-mode change (-1; the close flag
// is set so that the menu ends).
int ui_chooser_run(UiContext* ui, int* choice, const UiChooserView& view);

// How long the forms' " Saved! " stays, in ticks of 1/50 s (tests shorten it).
extern int g_ui_saved_feedback_ticks;
// Tests: an inline editor or chooser with nothing to read for this many
// half-second ticks answers as if the window closed (0: waits for ever).
extern int g_ui_form_idle_ticks;
