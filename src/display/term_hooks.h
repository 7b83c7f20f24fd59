// The display's side of the terminal's contract (terminal/hooks.h): drawing
// cells, fills and scrolls into the terminal's window, the cursor, the
// status bar, the bell's flash, the C64 character-set glyphs, the host's
// palette and the fonts cells can be drawn in.
#pragma once

// Fills the drawing hooks of g_term_hooks; the reply hook is left as it is.
// term_open calls it, so every surface the display opens draws.
void display_install_term_hooks();
