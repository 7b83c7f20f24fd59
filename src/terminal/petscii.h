// The Commodore 64 PETSCII interpreter: turns the byte stream of a C64 BBS
// into changes of the Terminal grid.
//
// Each byte is either a control code (colour, cursor movement, reverse video,
// clear, insert, delete, character-set switch) or a character that is stored
// in the cell unchanged: the C64 glyph files are indexed by the PETSCII code
// itself.  Only the first term_visible_cols() columns are used (40 or 80 by
// the active C64 font); wrapping, insert, delete and the cursor keys all work
// within them.  The interpreter keeps no state beyond the Terminal's
// attributes, its character-set flag and its after-CR flag, and sends no
// replies.
#pragma once
#include <cstdint>

struct Terminal;

// The palette index a C64 colour code selects as foreground, or -1 when the
// byte is not a colour code.
int petscii_colour_index(uint8_t code);

// Consumes one byte from the BBS.  Every value is accepted; codes without a
// meaning are ignored.
void petscii_consume_byte(Terminal* t, uint8_t byte);

// Moves the cursor: the row is clamped to 0..24, the column to the visible
// columns.
void petscii_set_cursor(Terminal* t, int row, int col);

// One step left, wrapping to the last visible column of the row above;
// 1 when the cursor moved, 0 at the top-left corner.
int petscii_cursor_left(Terminal* t);

// Switches between the upper case / graphics set (lower 0) and the lower /
// upper case set (lower 1).  With the C64 bitmap font the glyph file of the
// new set is loaded; the grid is redrawn so that everything already on the
// screen changes set, as on the real machine.  Switching to the set already
// shown does nothing.
void petscii_set_charset(Terminal* t, int lower);

// Loads the glyph file of the terminal's current character set at its scale
// (only for the C64 bitmap font); 1 on success, 0 when the file cannot be
// loaded or the terminal does not draw with the C64 bitmap font.  A surface
// that was opened again (window-mode change, 40-column scale change) loads
// the glyphs its font name names; this brings back the set the BBS chose.
int petscii_load_charset_glyphs(Terminal* t);
