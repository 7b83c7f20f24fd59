// Boxes painted over the terminal while a session runs: the shared drawing
// primitives, the yes/no confirm and the "Disconnected" notice.
//
// A box is drawn straight into the window's pixels on top of the cell grid
// and leaves the grid alone; the next full redraw of the terminal removes it.
// All box text uses the 8x16 CP437 glyphs, scaled, whatever font the
// terminal uses.  Colours are palette indices: 0 body text, 1 titles and
// highlights, 4 warnings, 7 box face, 8 shadow, 15 highlighted text and
// bevel light.
#pragma once
#include <cstdint>

struct Terminal;

// Dialog scale s: the full-screen scale in full screen, 2 in the medium
// window, 1 otherwise (and without a terminal).  Text cells are 8s x 16s with
// the baseline 15s below the cell top.
int term_dialog_cp437_scale(const Terminal* t);
int term_dialog_cell_w(const Terminal* t);
int term_dialog_cell_h(const Terminal* t);
int term_dialog_baseline(const Terminal* t);
// Width of a text in dialog cells, in pixels.
int text_px(const Terminal* t, const char* text);

// Top-left corner of a width x height box centred on the visible grid, kept
// at least 4 pixels inside the window's left and top borders.
void term_center_dialog_box(Terminal* t, int width, int height, int* x, int* y);
// The stricter clamp of the transfer dialogs and status boxes, applied after
// centring: at least 8 pixels inside the left and top borders.
void term_clamp_transfer_dialog_box(Terminal* t, int* x, int* y);

// Box face, bevel and shadow; inclusive corners.
void draw_beveled_box(Terminal* t, int x1, int y1, int x2, int y2);
// One glyph cell at pixel (x, y) (top-left): background bg, glyph in fg.
void term_draw_cp437_dialog_glyph_abs(Terminal* t, int x, int y, uint8_t ch, int fg, int bg,
                                      int scale);
// Text left to right from x with its baseline at y, on the box face (7) or on
// a given background.
void term_dialog_text(Terminal* t, int x, int baseline_y, const char* text, int fg);
void term_dialog_text_bg(Terminal* t, int x, int baseline_y, const char* text, int fg, int bg);

// The yes/no box: position and size, and one drawing of it with YES
// (selection 1) or NO (selection 0) highlighted.  An empty question reads
// "Continue?".
void term_yes_no_box_rect(Terminal* t, int* x, int* y, int* width, int* height);
void term_draw_yes_no_confirm(Terminal* t, const char* question, int selection);
// Asks a yes/no question over the terminal and waits for the answer on the
// window: 1 yes, 0 no.  Arrows move the selection; Return or Enter takes it;
// y and n answer directly, Escape answers no and closing the window yes.
// Without a window there is nobody to ask and the answer is no.
int term_confirm_yes_no(Terminal* t, const char* question);

// The "Disconnected" notice with its "Press any key" hint; the session waits
// for the key itself.
void term_disconnected_box_rect(Terminal* t, int* x, int* y, int* width, int* height);
void term_draw_disconnected_notice(Terminal* t);
