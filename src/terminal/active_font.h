// The active font: the one font name the whole program draws with at a time
// (the session's, or the menu's), normalised.  The screen model reads it for
// the C64 rules (visible columns, letter case), the display layer for the
// glyph source.
//
// Only the two functions below write it.  Every write bumps a serial number,
// so a reader that derives something costly from the name (the interpreter's
// C64 test for every printed letter) can keep its answer until the serial
// changes.
#pragma once
#include <cstdint>

#include "util/font_names.h"

// Read-only view of the name (at most 79 characters).
extern const char (&g_active_font)[kFontNameBytes];

// Makes the normalised choice of name the active font; null or empty names
// CP437.
void set_active_font(const char* name);
// Puts back a name exactly as it was saved from g_active_font (an empty name
// stays empty), without normalising it.
void active_font_restore(const char* saved);
// Changes with every write of the active font.
uint32_t active_font_serial();

// Columns a PETSCII terminal shows with the active font: 80 for a C64 font
// named for 80 columns, else 40.
int c64_visible_cols_for_font();
