// The cell renderer: turns grid cells into pixels, draws and blinks the text
// cursor and blinking text, and owns the pens that realise the palette, the
// host's changes to it and the extended colours.
#pragma once
#include <cstdint>

#include "terminal/terminal.h"

struct PlatScreen;

// The palette in PC order as 0xRRGGBB (the terminal's default palette).
inline constexpr const auto& kTermPaletteRgb = kTermDefaultPalette;
// A palette component as the platform's 32-bit left-justified fraction
// (0xAA -> 0xAAAAAAA0, 0xFF -> 0xFFFFFFFF, 0 -> 0).
uint32_t term_palette_component32(uint8_t c);

// Draws cell (row, col) of the grid.  Nothing without a window, outside the
// grid, or while drawing is suppressed (a cursor drawn there is forgotten).
void draw_cell(Terminal* t, int row, int col);
// One bitmap glyph with its background at a pixel position.
void term_draw_bitmap_glyph_abs(Terminal* t, int x, int y, uint8_t ch, int fg, int bg);
// A run of bitmap glyphs, black on light grey, one cell apart.
void term_draw_bitmap_text(Terminal* t, int x, int y, const char* text, int len);

// The pens a cell's colours show in on its terminal's surface: the palette
// as the host set it, an extended colour, iCE's bright background.  Pens of
// colours not yet shown are obtained on the surface's screen.
int term_cell_fg_pen(Terminal* t, const Cell& c);
int term_cell_bg_pen(Terminal* t, const Cell& c);
// Brings the pens of the cells' sixteen colours up to the palette the host
// set (after a change, and on a new surface); term_redraw_all asks for it.
void term_sync_cell_pens(Terminal* t);
// Whether cells can be drawn in a font of the Fonts drawer (TERM_FONT_*):
// the terminal draws with bitmap fonts and the font's file loads.
bool term_font_drawable(Terminal* t, int font);

// The underline cursor: white, or black over a white background.
void term_show_cursor(Terminal* t);
void term_hide_cursor(Terminal* t);
// Called on every pass of the session loop: follows cursor moves at once and
// blinks 500 ms on, 500 ms off; blinking text (without iCE colours) shows
// and hides every 500 ms with it, only its cells drawn again.
void term_update_cursor_blink(Terminal* t);

// Fills the window's whole inner area with palette index 0.
void term_clear_drawable_area_raw(Terminal* t);

// Pen set-up for term_open.  On the program's own screen (own_screen true,
// its registers 0..15 already hold the palette) pen i is register i.  In a
// window on a shared screen the best-matching shared pen is obtained for each
// colour, falling back to pen i when none can be had.
void term_setup_pens(Terminal* t, PlatScreen* screen, bool own_screen);
// Releases the pens obtained by term_setup_pens on the same screen.
void term_release_pens(Terminal* t, PlatScreen* screen);
