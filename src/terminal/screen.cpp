// The grid operations: writing, wrapping, scrolling, erasing, scrollback
// capture.  Each change is drawn as it happens (one cell per character, one
// fill per erased row span, one block copy and one fill per scroll).
#include <cstring>

#include "platform/display.h"
#include "terminal/active_font.h"
#include "terminal/hooks.h"
#include "terminal/terminal.h"
#include "util/text.h"

TermScrollObserver g_term_scroll_observer = nullptr;
TermHooks g_term_hooks = {};

// The status bar sits above the grid in full screen; everything that clears,
// scrolls or redraws the grid redraws it too.
static void redraw_status_bar(Terminal* t) {
  if (t->top_bar && g_term_hooks.draw_status) g_term_hooks.draw_status(t);
}

int effective_fg(const Terminal* t) {
  if (!t) return 7;
  if (t->bold && t->fg >= 0 && t->fg <= 7) return t->fg + 8;
  return t->fg;
}

int effective_bg(const Terminal* t) {
  return effective_fg(t);
}

// Blank cells under reverse video, blink, a font or an extended colour:
// the sixteen colours swapped for reverse, the blink flag, the font, and a
// slot of the extended table in place of either colour.  A blank takes
// them too: erasing with blink set in iCE colours gives a bright
// background, as on a PC.  Out of line and returned by value, so that
// plain text (most of what a session shows) pays one test for all of it
// and keeps its cell in a register.
[[gnu::noinline]] static Cell attributed_blank(const Terminal* t) {
  Cell c{' ', 0, 0, 0};
  if (t->reverse) {
    c.fg = static_cast<uint8_t>(t->bg);
    c.bg = static_cast<uint8_t>(effective_bg(t));
  } else {
    c.fg = static_cast<uint8_t>(effective_fg(t));
    c.bg = static_cast<uint8_t>(t->bg);
  }
  if (!t->attr_extra) return c;
  uint8_t flags = static_cast<uint8_t>((t->blink ? CELL_BLINK : 0) |
                                       (t->font_id << CELL_FONT_SHIFT & CELL_FONT_MASK));
  int fg_slot = t->reverse ? t->bg_ext : t->fg_ext;
  int bg_slot = t->reverse ? t->fg_ext : t->bg_ext;
  if (fg_slot > 0 && fg_slot < kTermExtColours) {
    c.fg = static_cast<uint8_t>(fg_slot);
    flags |= CELL_FG_EXT;
  }
  if (bg_slot > 0 && bg_slot < kTermExtColours) {
    c.bg = static_cast<uint8_t>(bg_slot);
    flags |= CELL_BG_EXT;
  }
  c.flags = flags;
  return c;
}

// Colours of a blank cell written by erase (and by scroll and clear in ANSI
// mode): the same reverse-aware choice as for a written character.
// Inlined everywhere: term_put_char builds every written cell from it.
[[gnu::always_inline]] static inline Cell blank_cell(const Terminal* t) {
  if ((t->reverse | t->attr_extra) != 0) [[unlikely]]
    return attributed_blank(t);
  return Cell{' ', static_cast<uint8_t>(effective_fg(t)), static_cast<uint8_t>(t->bg), 0};
}

// A written character: a blank with the character and bold.
[[gnu::always_inline]] static inline Cell written_cell(const Terminal* t, uint8_t ch) {
  Cell c = blank_cell(t);
  c.ch = ch;
  c.flags = static_cast<uint8_t>(c.flags | (t->bold != 0 ? CELL_BOLD : 0));
  return c;
}

// Paints the pixels of blank cells (their background as the display shows
// it: the palette, an extended colour, iCE's bright background).
static void fill_blank(Terminal* t, int x1, int y1, int x2, int y2, const Cell& blank) {
  if (!t->rport || t->drawing_suppressed || x2 < x1 || y2 < y1) return;
  if (g_term_hooks.fill_blank)
    g_term_hooks.fill_blank(t, x1, y1, x2, y2, &blank);
  else
    term_fill_rect(t, x1, y1, x2, y2, blank.bg);
}

// Scroll and clear in PETSCII mode ignore reverse video.
static Cell blank_cell_for_screen(const Terminal* t) {
  if (t->petscii != TERM_MODE_PETSCII) return blank_cell(t);
  return Cell{' ', static_cast<uint8_t>(effective_fg(t)), static_cast<uint8_t>(t->bg & 15), 0};
}

int term_visible_cols(const Terminal* t) {
  if (!t || t->petscii != TERM_MODE_PETSCII) return kTermCols;
  int n = c64_visible_cols_for_font();
  return (n >= 1 && n <= kTermCols) ? n : kTermCols;
}

void term_blank_hidden_columns(Terminal* t) {
  if (!t || t->petscii != TERM_MODE_PETSCII) return;
  int visible = term_visible_cols(t);
  if (visible >= kTermCols) return;
  for (auto& row : t->cells)
    for (int c = visible; c < kTermCols; c++) row[c] = Cell{' ', 7, 0, 0};
}

void term_clear_side_gutters(Terminal* t) {
  if (!t || t->petscii != TERM_MODE_PETSCII || !term_can_draw(t)) return;
  int visible = term_visible_cols(t);
  if (visible >= kTermCols) return;
  PlatWindowGeometry g = plat_window_geometry(t->window);
  int left_edge = t->fullscreen ? 0 : g.border_left;
  int right_edge = t->fullscreen ? g.width - 1 : g.width - g.border_right - 1;
  int y1 = cell_y(t, 0);
  int y2 = cell_y(t, kTermRows - 1) + t->cell_h - 1;
  // term_fill_rect skips an empty area (x2 < x1).
  term_fill_rect(t, left_edge, y1, t->origin_x - 1, y2, 0);
  term_fill_rect(t, t->origin_x + visible * t->cell_w, y1, right_edge, y2, 0);
}

void term_fill_rect(Terminal* t, int x1, int y1, int x2, int y2, int colour) {
  if (!t || !t->rport || t->drawing_suppressed) return;
  if (x2 < x1 || y2 < y1) return;
  int index = (colour >= 0 && colour < kTermPalette) ? colour : 7;
  if (g_term_hooks.fill) g_term_hooks.fill(t, x1, y1, x2, y2, index);
}

// --- the scrolling region ----------------------------------------------------------

void term_scroll_region(const Terminal* t, int* top, int* bottom) {
  *top = 0;
  *bottom = kTermRows - 1;
  if (!t) return;
  // Anything but a valid region of two rows or more is the whole screen:
  // the zeroed record and a damaged pair alike.
  if (t->scroll_top >= 0 && t->scroll_top < t->scroll_bottom && t->scroll_bottom < kTermRows) {
    *top = t->scroll_top;
    *bottom = t->scroll_bottom;
  }
}

static bool region_is_whole_screen(const Terminal* t) {
  int top, bottom;
  term_scroll_region(t, &top, &bottom);
  return top == 0 && bottom == kTermRows - 1;
}

// Line feed with a region set: the region scrolls when the cursor is on its
// bottom row; below the region the cursor stops at row 24 without a scroll.
static void line_down_in_region(Terminal* t) {
  int top, bottom;
  term_scroll_region(t, &top, &bottom);
  if (t->row == bottom) {
    term_scroll_rows_up(t, top, bottom, 1, true);
  } else if (t->row < kTermRows - 1) {
    t->row = t->row < 0 ? 0 : t->row + 1;
  } else {
    t->row = kTermRows - 1;
  }
}

// The pixels of moved cells follow the grid: one block copy through the
// display, or each cell drawn again when the display offers no copy.
static void move_cell_pixels(Terminal* t, int src_row, int src_col, int dst_row, int dst_col,
                             int rows, int cols) {
  if (rows <= 0 || cols <= 0 || !term_can_draw(t)) return;
  if (g_term_hooks.move_cells) {
    g_term_hooks.move_cells(t, src_row, src_col, dst_row, dst_col, rows, cols);
    return;
  }
  for (int r = dst_row; r < dst_row + rows; r++)
    for (int c = dst_col; c < dst_col + cols; c++) term_hook_draw_cell(t, r, c);
}

// Fills the pixels of a block of blank cells with their background.
static void fill_cells(Terminal* t, int row1, int col1, int row2, int col2, const Cell& blank) {
  if (row2 < row1 || col2 < col1 || !term_can_draw(t)) return;
  fill_blank(t, t->origin_x + col1 * t->cell_w, cell_y(t, row1),
             t->origin_x + (col2 + 1) * t->cell_w - 1, cell_y(t, row2 + 1) - 1, blank);
}

// Clamps a row range into the grid and a count to the rows in it; false
// when nothing is left to move.
static bool clamp_rows(int* top, int* bottom, int* n) {
  if (*top < 0) *top = 0;
  if (*bottom > kTermRows - 1) *bottom = kTermRows - 1;
  if (*top > *bottom || *n <= 0) return false;
  if (*n > *bottom - *top + 1) *n = *bottom - *top + 1;
  return true;
}

void term_scroll_rows_up(Terminal* t, int top, int bottom, int n, bool capture) {
  if (!t || !clamp_rows(&top, &bottom, &n)) return;
  if (capture && top == 0 && t->scrollback) {
    char line[kScrollbackLineBytes];
    for (int r = 0; r < n; r++) {
      cell_row_to_text(t->cells[r], line);
      scrollback_add_line(t->scrollback, line);
    }
  }
  term_hook_hide_cursor(t);
  int kept = bottom - top + 1 - n;
  if (kept > 0) memmove(t->cells[top], t->cells[top + n], kept * sizeof t->cells[0]);
  Cell blank = blank_cell(t);
  for (int r = bottom - n + 1; r <= bottom; r++)
    for (auto& cell : t->cells[r]) cell = blank;
  move_cell_pixels(t, top + n, 0, top, 0, kept, kTermCols);
  fill_cells(t, bottom - n + 1, 0, bottom, kTermCols - 1, blank);
}

void term_scroll_rows_down(Terminal* t, int top, int bottom, int n) {
  if (!t || !clamp_rows(&top, &bottom, &n)) return;
  term_hook_hide_cursor(t);
  int kept = bottom - top + 1 - n;
  if (kept > 0) memmove(t->cells[top + n], t->cells[top], kept * sizeof t->cells[0]);
  Cell blank = blank_cell(t);
  for (int r = top; r < top + n; r++)
    for (auto& cell : t->cells[r]) cell = blank;
  move_cell_pixels(t, top, 0, top + n, 0, kept, kTermCols);
  fill_cells(t, top, 0, top + n - 1, kTermCols - 1, blank);
}

void term_reverse_index(Terminal* t) {
  if (!t) return;
  term_hook_hide_cursor(t);
  int top, bottom;
  term_scroll_region(t, &top, &bottom);
  if (t->row == top)
    term_scroll_rows_down(t, top, bottom, 1);
  else if (t->row > 0)
    t->row--;
}

// Whether the cursor row lies in the region (insert and delete line act
// only there).
static bool cursor_in_region(const Terminal* t, int* bottom) {
  int top;
  term_scroll_region(t, &top, bottom);
  return t->row >= top && t->row <= *bottom;
}

void term_insert_lines(Terminal* t, int n) {
  int bottom;
  if (!t || !cursor_in_region(t, &bottom)) return;
  term_scroll_rows_down(t, t->row, bottom, n);
}

void term_delete_lines(Terminal* t, int n) {
  int bottom;
  if (!t || !cursor_in_region(t, &bottom)) return;
  // Deleted lines are not captured: they do not scroll off the screen.
  term_scroll_rows_up(t, t->row, bottom, n, false);
}

// Characters move within the cursor row only.
static bool cursor_row_span(const Terminal* t, int* n) {
  if (t->row < 0 || t->row >= kTermRows || t->col < 0 || t->col >= kTermCols || *n <= 0)
    return false;
  if (*n > kTermCols - t->col) *n = kTermCols - t->col;
  return true;
}

void term_insert_chars(Terminal* t, int n) {
  if (!t || !cursor_row_span(t, &n)) return;
  term_hook_hide_cursor(t);
  Cell* row = t->cells[t->row];
  int kept = kTermCols - t->col - n;
  if (kept > 0) memmove(row + t->col + n, row + t->col, kept * sizeof(Cell));
  Cell blank = blank_cell(t);
  for (int c = t->col; c < t->col + n; c++) row[c] = blank;
  move_cell_pixels(t, t->row, t->col, t->row, t->col + n, 1, kept);
  fill_cells(t, t->row, t->col, t->row, t->col + n - 1, blank);
}

void term_delete_chars(Terminal* t, int n) {
  if (!t || !cursor_row_span(t, &n)) return;
  term_hook_hide_cursor(t);
  Cell* row = t->cells[t->row];
  int kept = kTermCols - t->col - n;
  if (kept > 0) memmove(row + t->col, row + t->col + n, kept * sizeof(Cell));
  Cell blank = blank_cell(t);
  for (int c = kTermCols - n; c < kTermCols; c++) row[c] = blank;
  move_cell_pixels(t, t->row, t->col + n, t->row, t->col, 1, kept);
  fill_cells(t, t->row, kTermCols - n, t->row, kTermCols - 1, blank);
}

void term_fill_screen(Terminal* t, uint8_t ch) {
  if (!t) return;
  term_hook_hide_cursor(t);
  Cell written = written_cell(t, ch);
  for (int r = 0; r < kTermRows; r++) {
    for (int c = 0; c < kTermCols; c++) {
      t->cells[r][c] = written;
      term_hook_draw_cell(t, r, c);
    }
  }
}

void term_put_char(Terminal* t, uint8_t ch) {
  if (!t) return;
  // Most characters arrive with no cursor drawn (the session loop shows it
  // again only between reads): skip the call then.
  if (t->cursor_drawn) term_hook_hide_cursor(t);
  if (t->col < 0) t->col = 0;
  if (t->row < 0) {
    t->row = 0;
    if (t->col >= kTermCols) {
      t->row = 1;
      t->col = 0;
    }
  } else if (t->col >= kTermCols) {
    t->col = 0;
    t->row++;
  }
  if (t->row >= kTermRows) {
    term_scroll_up(t);
    t->row = kTermRows - 1;
  }
  if (t->insert_mode) term_insert_chars(t, 1);

  t->cells[t->row][t->col] = written_cell(t, ch);
  term_hook_draw_cell(t, t->row, t->col);

  // Immediate wrap: there is no pending-wrap state.
  if (++t->col >= kTermCols) {
    if (t->autowrap_off) {
      // Later characters overwrite the last column, as on a VT100.
      t->col = kTermCols - 1;
      return;
    }
    t->col = 0;
    if (region_is_whole_screen(t)) {
      if (++t->row >= kTermRows) {
        term_scroll_up(t);
        t->row = kTermRows - 1;
      }
    } else {
      line_down_in_region(t);
    }
  }
}

void term_lf(Terminal* t) {
  if (!t) return;
  term_hook_hide_cursor(t);
  if (region_is_whole_screen(t)) {
    if (++t->row >= kTermRows) {
      term_scroll_up(t);
      t->row = kTermRows - 1;
    }
  } else {
    line_down_in_region(t);
  }
}

void term_scroll_up(Terminal* t) {
  if (!t) return;
  if (g_term_scroll_observer) g_term_scroll_observer(t);
  if (t->scrollback) {
    char line[kScrollbackLineBytes];
    cell_row_to_text(t->cells[0], line);
    scrollback_add_line(t->scrollback, line);
  }
  term_hook_hide_cursor(t);

  int n = term_visible_cols(t);
  if (n == kTermCols) {
    memmove(t->cells[0], t->cells[1], (kTermRows - 1) * sizeof t->cells[0]);
  } else {
    for (int r = 1; r < kTermRows; r++) memcpy(t->cells[r - 1], t->cells[r], n * sizeof(Cell));
  }
  Cell blank = blank_cell_for_screen(t);
  for (int c = 0; c < n; c++) t->cells[kTermRows - 1][c] = blank;
  term_blank_hidden_columns(t);

  if (!term_can_draw(t)) return;
  int top = cell_y(t, 0);
  if (g_term_hooks.scroll_up) g_term_hooks.scroll_up(t, n);
  fill_blank(t, t->origin_x, top + (kTermRows - 1) * t->cell_h, t->origin_x + n * t->cell_w - 1,
             top + kTermRows * t->cell_h - 1, blank);
  term_clear_side_gutters(t);
  redraw_status_bar(t);
}

void term_clear_screen(Terminal* t) {
  if (!t) return;
  if (t->scrollback) {
    char line[kScrollbackLineBytes];
    for (auto& row : t->cells) {
      cell_row_to_text(row, line);
      scrollback_add_line(t->scrollback, line);
    }
  }
  term_hook_hide_cursor(t);
  Cell blank = blank_cell_for_screen(t);

  if (term_can_draw(t)) {
    PlatWindowGeometry g = plat_window_geometry(t->window);
    fill_blank(t, g.border_left, g.border_top, g.width - g.border_right - 1,
               g.height - g.border_bottom - 1, blank);
  }
  term_clear_side_gutters(t);
  for (auto& row : t->cells)
    for (auto& cell : row) cell = blank;
  if (t->petscii == TERM_MODE_PETSCII) {
    term_blank_hidden_columns(t);
    term_clear_side_gutters(t);
  }
  t->row = 0;
  t->col = 0;
  redraw_status_bar(t);
}

void term_clear_range(Terminal* t, int row1, int col1, int row2, int col2) {
  if (!t) return;
  term_hook_hide_cursor(t);
  bool col2_given_in_grid = col2 <= kTermCols - 1;
  if (row2 > kTermRows - 1) row2 = kTermRows - 1;
  if (row1 < 0) row1 = 0;
  if (col1 < 0) col1 = 0;
  if (col2 > kTermCols - 1) col2 = kTermCols - 1;
  if (row1 > row2 || col1 > kTermCols - 1) return;
  if (col2_given_in_grid && col1 > col2) return;

  Cell blank = blank_cell(t);
  for (int r = row1; r <= row2; r++) {
    int start = (r == row1) ? col1 : 0;
    int end = (r == row2) ? col2 : kTermCols - 1;
    if (end < start) continue;
    for (int c = start; c <= end; c++) t->cells[r][c] = blank;
    if (term_can_draw(t)) {
      int y = cell_y(t, r);
      fill_blank(t, t->origin_x + start * t->cell_w, y,
                 t->origin_x + end * t->cell_w + t->cell_w - 1, y + t->cell_h - 1, blank);
    }
  }
}

void term_redraw_all(Terminal* t) {
  if (!t) return;
  // The surface may be new (a mode change) or the host's palette changed:
  // the cells' pens are brought up to date before they are drawn.
  if (g_term_hooks.sync_palette && term_can_draw(t)) g_term_hooks.sync_palette(t);
  term_hook_hide_cursor(t);
  term_blank_hidden_columns(t);
  int n = term_visible_cols(t);
  for (int r = 0; r < kTermRows; r++)
    for (int c = 0; c < n; c++) term_hook_draw_cell(t, r, c);
  term_clear_side_gutters(t);
  redraw_status_bar(t);
}

void cell_row_to_text(const Cell* cells, char* out) {
  if (!out) return;
  if (!cells) {
    out[0] = '\0';
    return;
  }
  int len = 0;
  for (int c = 0; c < kTermCols; c++) {
    char ch = cells[c].ch ? static_cast<char>(cells[c].ch) : ' ';
    out[c] = ch;
    if (ch != ' ') len = c + 1;
  }
  out[len] = '\0';
}

void scrollback_add_line(ScrollbackRing* ring, const char* text) {
  if (!ring || !ring->lines || !text || !text[0]) return;
  const char* p = text;
  while (*p == '\t' || *p == '\n' || *p == '\r' || *p == ' ') p++;
  if (!*p) return;

  // A ring whose counters were damaged is brought back into range rather
  // than indexed out of bounds.
  if (ring->count < 0 || ring->count > kScrollbackLines) ring->count = 0;
  if (ring->start < 0 || ring->start >= kScrollbackLines) ring->start = 0;

  int index;
  if (ring->count < kScrollbackLines) {
    index = (ring->start + ring->count) % kScrollbackLines;
    ring->count++;
  } else {
    index = ring->start;
    ring->start = (ring->start + 1) % kScrollbackLines;
  }
  safe_copy(ring->lines[index], kScrollbackLineBytes, text);
}
