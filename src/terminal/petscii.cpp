// The PETSCII interpreter.  Stateless apart from the Terminal's attributes,
// the character-set flag and the after-CR flag: every byte is handled on its
// own, so there is no sequence that can be left half-read.
#include "terminal/petscii.h"

#include <array>
#include <cstdio>

#include "terminal/hooks.h"
#include "terminal/terminal.h"

namespace {

constexpr uint8_t kBell = 7, kLowerCase = 14, kCursorDown = 17, kReverseOn = 18, kHome = 19,
                  kDelete = 20, kCursorRight = 29, kLineFeed = 10, kReturn = 13, kShiftReturn = 141,
                  kUpperCase = 142, kCursorUp = 145, kReverseOff = 146, kClear = 147, kInsert = 148,
                  kCursorLeft = 157;

// C64 colour code -> palette index in PC order.  The C64 has 16 colours of
// its own; each is shown as the nearest of the 16 PC colours, so orange and
// brown share brown, and the two darker greys share dark grey.
constexpr std::array<int8_t, 256> make_colour_table() {
  std::array<int8_t, 256> table{};
  for (auto& entry : table) entry = -1;
  constexpr struct {
    uint8_t code;
    int8_t index;
  } kColours[] = {
      {5, 15},    // white
      {28, 4},    // red
      {30, 2},    // green
      {31, 1},    // blue
      {129, 6},   // orange
      {144, 0},   // black
      {149, 6},   // brown
      {150, 12},  // light red
      {151, 8},   // dark grey
      {152, 8},   // grey
      {153, 10},  // light green
      {154, 9},   // light blue
      {155, 7},   // light grey
      {156, 5},   // purple
      {158, 14},  // yellow
      {159, 3},   // cyan
  };
  for (const auto& c : kColours) table[c.code] = c.index;
  return table;
}
constexpr std::array<int8_t, 256> kColourTable = make_colour_table();

constexpr const char* kCharsetName[2] = {"upper/graphics", "lower/upper"};

// Written by insert and delete: the current foreground on the (always
// black) background, never reversed.
Cell blank_cell(const Terminal* t) {
  return Cell{' ', static_cast<uint8_t>(effective_fg(t)), static_cast<uint8_t>(t->bg & 15), 0};
}

bool row_in_grid(int row) {
  return row >= 0 && row < kTermRows;
}

void scroll_if_below(Terminal* t) {
  if (t->row >= kTermRows) {
    term_scroll_up(t);
    t->row = kTermRows - 1;
  }
}

void new_line(Terminal* t) {
  term_hook_hide_cursor(t);
  t->col = 0;
  term_lf(t);
}

void cursor_right(Terminal* t) {
  term_hook_hide_cursor(t);
  if (++t->col >= term_visible_cols(t)) {
    t->col = 0;
    t->row++;
    scroll_if_below(t);
  }
}

void print_char(Terminal* t, uint8_t ch) {
  term_hook_hide_cursor(t);
  int visible = term_visible_cols(t);
  if (t->col < 0) t->col = 0;
  if (t->row < 0) {
    t->row = 0;
    if (t->col >= visible) {
      t->row = 1;
      t->col = 0;
    }
  } else if (t->col >= visible) {
    t->col = 0;
    t->row++;
  }
  scroll_if_below(t);

  Cell& cell = t->cells[t->row][t->col];
  if (t->reverse) {
    cell.fg = static_cast<uint8_t>(t->bg);
    cell.bg = static_cast<uint8_t>(effective_bg(t));
  } else {
    cell.fg = static_cast<uint8_t>(effective_fg(t));
    cell.bg = static_cast<uint8_t>(t->bg);
  }
  cell.ch = ch;
  cell.flags = t->bold ? 1 : 0;
  term_hook_draw_cell(t, t->row, t->col);

  // The C64 wraps at once: the cursor never rests beyond the last column.
  if (++t->col >= visible) {
    t->col = 0;
    t->row++;
    scroll_if_below(t);
  }
}

void draw_span(Terminal* t, int row, int from, int to) {
  for (int c = from; c <= to; c++) term_hook_draw_cell(t, row, c);
}

// DEL: the character left of the cursor goes, the rest of the line closes up.
void delete_char(Terminal* t) {
  if (!petscii_cursor_left(t)) return;
  int visible = term_visible_cols(t);
  int row = t->row;
  if (!row_in_grid(row)) return;
  int col = t->col < 0 ? 0 : t->col;
  Cell* line = t->cells[row];
  for (int c = col; c < visible - 1; c++) line[c] = line[c + 1];
  line[visible - 1] = blank_cell(t);
  draw_span(t, row, col, visible - 1);
}

// INST: opens a blank at the cursor; the last visible cell of the line is
// pushed out.
void insert_char(Terminal* t) {
  int visible = term_visible_cols(t);
  int row = t->row;
  int col = t->col;
  if (col < 0 || col >= visible || !row_in_grid(row)) return;
  term_hook_hide_cursor(t);
  Cell* line = t->cells[row];
  for (int c = visible - 1; c > col; c--) line[c] = line[c - 1];
  line[col] = blank_cell(t);
  draw_span(t, row, col, visible - 1);
}

// -1: the terminal does not draw with the C64 bitmap font (nothing to load);
// 1 loaded; 0 the file could not be loaded.
int load_charset_glyphs(Terminal* t) {
  return g_term_hooks.load_charset ? g_term_hooks.load_charset(t) : -1;
}

}  // namespace

int petscii_colour_index(uint8_t code) {
  return kColourTable[code];
}

void petscii_set_cursor(Terminal* t, int row, int col) {
  if (!t) return;
  term_hook_hide_cursor(t);
  int visible = term_visible_cols(t);
  if (row < 0) row = 0;
  if (row > kTermRows - 1) row = kTermRows - 1;
  if (col < 0) col = 0;
  if (col >= visible) col = visible - 1;
  if (col > kTermCols - 1) col = kTermCols - 1;
  t->row = row;
  t->col = col;
}

int petscii_cursor_left(Terminal* t) {
  if (!t) return 0;
  term_hook_hide_cursor(t);
  if (t->col > 0) {
    t->col--;
    return 1;
  }
  if (t->row > 0) {
    t->row--;
    t->col = term_visible_cols(t) - 1;
    return 1;
  }
  return 0;
}

int petscii_load_charset_glyphs(Terminal* t) {
  if (!t) return 0;
  return load_charset_glyphs(t) == 1 ? 1 : 0;
}

void petscii_set_charset(Terminal* t, int lower) {
  if (!t) return;
  lower = lower ? 1 : 0;
  if (t->petscii_lower == lower) return;
  // The flag follows the BBS even when the glyphs cannot: the key encoding
  // must match the set the BBS believes is shown.
  t->petscii_lower = lower;
  if (load_charset_glyphs(t) == 0) {
    printf("Kavel font warning: could not switch external Commodore 64 charset to %s.\n",
           kCharsetName[lower]);
    fflush(stdout);
  }
  if (t->window && !t->drawing_suppressed) term_redraw_all(t);
}

void petscii_consume_byte(Terminal* t, uint8_t byte) {
  if (!t) return;
  bool after_cr = t->petscii_after_cr != 0;
  if (byte != kLineFeed) t->petscii_after_cr = 0;

  int colour = kColourTable[byte];
  if (colour >= 0) {
    t->fg = colour;
    t->bold = 0;
    return;
  }
  switch (byte) {
    case kBell:
      term_bell(t);
      return;
    case kLineFeed:
      // CR LF is one line end; a bare LF is a line end of its own.
      t->reverse = 0;
      t->petscii_after_cr = 0;
      if (!after_cr) new_line(t);
      return;
    case kReturn:
      new_line(t);
      t->reverse = 0;
      t->petscii_after_cr = 1;
      return;
    case kShiftReturn:
      // Keeps reverse on, and a following LF is a line end of its own.
      new_line(t);
      return;
    case kLowerCase:
      petscii_set_charset(t, 1);
      return;
    case kUpperCase:
      petscii_set_charset(t, 0);
      return;
    case kCursorDown:
      petscii_set_cursor(t, t->row + 1, t->col);
      return;
    case kCursorUp:
      petscii_set_cursor(t, t->row - 1, t->col);
      return;
    case kCursorRight:
      cursor_right(t);
      return;
    case kCursorLeft:
      petscii_cursor_left(t);
      return;
    case kReverseOn:
      t->reverse = 1;
      return;
    case kReverseOff:
      t->reverse = 0;
      return;
    case kHome:
      petscii_set_cursor(t, 0, 0);
      return;
    case kClear:
      term_clear_screen(t);
      return;
    case kDelete:
      delete_char(t);
      return;
    case kInsert:
      insert_char(t);
      return;
    default:
      break;
  }
  // 32..127 and 160..255 are characters; the rest of 0..31 and 128..159
  // have no meaning on the C64.
  if (byte & 0x60) print_char(t, byte);
}
