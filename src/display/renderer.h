// The cell renderer: turns grid cells into pixels, draws and blinks the text
// cursor, and owns the 16-colour palette and the pens that realise it.
#pragma once
#include <cstdint>

struct Terminal;
struct PlatScreen;

// The palette in PC order as 0xRRGGBB.
extern const uint32_t kTermPaletteRgb[16];
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

// The underline cursor: white, or black over a white background.
void term_show_cursor(Terminal* t);
void term_hide_cursor(Terminal* t);
// Called on every pass of the session loop: follows cursor moves at once and
// blinks 500 ms on, 500 ms off.
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
