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

// Colours of a blank cell written by erase (and by scroll and clear in ANSI
// mode): the same reverse-aware choice as for a written character.
static Cell blank_cell(const Terminal* t) {
  Cell c{' ', 0, 0, 0};
  if (t->reverse) {
    c.fg = static_cast<uint8_t>(t->bg);
    c.bg = static_cast<uint8_t>(effective_bg(t));
  } else {
    c.fg = static_cast<uint8_t>(effective_fg(t));
    c.bg = static_cast<uint8_t>(t->bg);
  }
  return c;
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

  Cell& cell = t->cells[t->row][t->col];
  cell = blank_cell(t);
  cell.ch = ch;
  cell.flags = t->bold ? 1 : 0;
  term_hook_draw_cell(t, t->row, t->col);

  // Immediate wrap: there is no pending-wrap state.
  if (++t->col >= kTermCols) {
    t->col = 0;
    if (++t->row >= kTermRows) {
      term_scroll_up(t);
      t->row = kTermRows - 1;
    }
  }
}

void term_lf(Terminal* t) {
  if (!t) return;
  term_hook_hide_cursor(t);
  if (++t->row >= kTermRows) {
    term_scroll_up(t);
    t->row = kTermRows - 1;
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
  term_fill_rect(t, t->origin_x, top + (kTermRows - 1) * t->cell_h, t->origin_x + n * t->cell_w - 1,
                 top + kTermRows * t->cell_h - 1, blank.bg);
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
    term_fill_rect(t, g.border_left, g.border_top, g.width - g.border_right - 1,
                   g.height - g.border_bottom - 1, blank.bg);
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
      term_fill_rect(t, t->origin_x + start * t->cell_w, y,
                     t->origin_x + end * t->cell_w + t->cell_w - 1, y + t->cell_h - 1, blank.bg);
    }
  }
}

void term_redraw_all(Terminal* t) {
  if (!t) return;
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
