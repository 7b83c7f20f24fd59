// The menu's drawing vocabulary, shared by every screen drawn over the menu
// display: the phonebook list, the entry editor and settings form, the
// popups, the import picker and the dialing box.
//
// How to use it:
//   - Cell text: ui_text_bg_cell(ui, row, col, width, text, fg, bg) fills
//     `width` cells with bg and writes the text from the first (callers pad
//     or cut it; ui_put_entry_field builds fixed-column lines).  Rows and
//     columns are those of the 80 x 25 menu grid, below the top bar.
//   - Plain lines (messages, fall-back layouts): ui_text(ui, row, text, fg).
//   - Popups: ui_popup_place gives the box's corner, ui_draw_beveled_box the
//     box, ui_dialog_text_abs / ui_dialog_text_centred its text in the 8x16
//     CP437 glyphs at the dialog scale (ui_dialog_cp437_scale: 1, 2 in the
//     medium window, the full-screen scale).  Every popup geometry is given
//     in multiples of that scale s.
//   - Whole screens: ui_clear_drawable_area_raw, ui_draw_ansi_buffer.
//   - The full-screen top bar: ui_draw_cp437_status_text_abs and the metrics
//     ui_menu_status_cell_w / _h.
// Colours are PC palette indices 0..15 (16 and above draw as 7).  Every call
// does nothing while the display has no window or drawing port.  Anything
// that draws over the phonebook list calls ui_invalidate_menu_caches
// (display/ui_surface.h) so that the list repaints itself afterwards.
#pragma once
#include <cstddef>
#include <cstdint>

#include "display/ui_surface.h"

enum : int {
  UI_BLACK = 0,
  UI_BLUE = 1,
  UI_RED = 4,
  UI_GREY = 7,
  UI_DARK_GREY = 8,
  UI_LIGHT_CYAN = 11,
  UI_YELLOW = 14,
  UI_WHITE = 15,
};

bool ui_can_draw(const UiContext* ui);
// The display pen of a palette colour (16 and above: 7).
int ui_pen(const UiContext* ui, int colour);
void ui_set_pen(UiContext* ui, int colour);
// A pixel rectangle (inclusive corners) in a palette colour.
void ui_fill(UiContext* ui, int x0, int y0, int x1, int y1, int colour);
// Makes the display's text font and draw mode current again.
void ui_restore_font(UiContext* ui);

// Top-left pixel of a menu cell (the top bar offset included).
int ui_cell_x(const UiContext* ui, int col);
int ui_cell_y(const UiContext* ui, int row);

// A plain line (messages, the layouts without art): it starts 8 pixels and
// two cells right of the origin (ui_text_left), colour on black, or on bg.
void ui_text(UiContext* ui, int row, const char* text, int colour);
void ui_text_on(UiContext* ui, int row, const char* text, int colour, int bg);
int ui_text_left(const UiContext* ui);
// Cells (row, col .. col + width - 1) filled with bg (clipped at the window's
// right edge), then the text from the first cell in colour (negative gives 7,
// above 15 gives 15).
void ui_text_bg_cell(UiContext* ui, int row, int col, int width, const char* text, int colour,
                     int bg);
// The hint "Escape returns to BBS." at column 31, yellow on black.
void ui_text_cell(UiContext* ui, int row);
// Bitmap-font text at a pixel position (cell top); nothing without the font.
void ui_draw_bitmap_text_abs(UiContext* ui, int x, int y, const char* text, int colour, int bg);

// Dialog text: 8x16 CP437 glyphs at the dialog scale, baseline 15s below the
// cell top.  Without the glyph file only the backgrounds are drawn.
int ui_dialog_cp437_scale(const UiContext* ui);
int ui_text_px(const UiContext* ui, const char* text);
void ui_dialog_text_abs(UiContext* ui, int x, int baseline_y, const char* text, int colour, int bg);
// The same centred on a box of width w from x.
void ui_dialog_text_centred(UiContext* ui, int x, int w, int baseline_y, const char* text,
                            int colour, int bg);

// A popup box: dark grey shadow 4 pixels right and down, light grey face,
// white top and left edges and dark grey bottom and right edges, 2 pixels.
void ui_draw_beveled_box(UiContext* ui, int x0, int y0, int x1, int y1);
// Where a popup of w x h goes: centred in the window (never nearer than 8
// pixels to the left border; 8 pixels below the top when less than 16 spare);
// in full screen with a C64 font active, centred on the 640 x s layout.
void ui_popup_place(const UiContext* ui, int w, int h, int* x, int* y);

// Top-bar cells: the glyph in black on white, 8x16 at the full-screen scale,
// at the very top of the display.
void ui_draw_cp437_status_glyph_abs(UiContext* ui, int x, uint8_t ch);
void ui_draw_cp437_status_text_abs(UiContext* ui, int x, const char* text);
int ui_menu_status_cell_w(const UiContext* ui);
int ui_menu_status_cell_h(const UiContext* ui);
// The top bar's height while shown (2 status cells), else 0.
int ui_menu_content_y_offset(const UiContext* ui);
// Whether a click at (x, y) hits the top bar's depth button.
bool ui_menu_status_button_hit(const UiContext* ui, int x, int y);
// The bar's left edge and width in pixels (80 status cells, centred).
int ui_menu_status_bar_x0(const UiContext* ui);

// Black over the window's whole inner area.
void ui_clear_drawable_area_raw(UiContext* ui);
// Clears the display and draws an ANSI/CP437 picture through a temporary
// terminal bound to the display, moved down by the top bar.  1 on success,
// 0 when the display is not open or the terminal cannot be had.
int ui_draw_ansi_buffer(UiContext* ui, const uint8_t* bytes, size_t len);
// The inline editors' cursor: a white underline 2 pixels high at the bottom
// of the cell.
void ui_underscore_cursor_cell(UiContext* ui, int row, int col);

// Copies at most width bytes of text into line (a 74-byte line, kept
// terminated) from column col, never past the line's end.
inline constexpr int kUiEntryLineLen = 74;
void ui_put_entry_field(char* line, int col, int width, const char* text);
