// The emulated screen of one session: an 80 x 25 grid of cells, the cursor,
// the drawing attributes, the byte interpreters' state and the binding to the
// window the grid is drawn in.
//
// There is no off-screen frame buffer: every operation here changes the grid
// and has the changed cells drawn at once (through the hooks of
// terminal/hooks.h, which the display layer fills in), so after each call
// the window shows exactly the grid.  Without a window, or while drawing is
// suppressed, only the grid changes.
#pragma once
#include <cstdint>

// Both byte interpreters come with the screen model: the ANSI one is declared
// below, the PETSCII one (petscii_consume_byte and its helpers) in petscii.h.
#include "terminal/petscii.h"

struct PlatWindow;
struct PlatScreen;
struct PlatFont;

inline constexpr int kTermCols = 80;
inline constexpr int kTermRows = 25;
inline constexpr int kTermPalette = 16;

inline constexpr int kScrollbackLines = 1000;
inline constexpr int kScrollbackLineBytes = 81;  // 80 characters and a NUL

// Length of the control-sequence buffer: at most 95 parameter and
// intermediate bytes and a terminating NUL.
inline constexpr int kTermSeqBuf = 96;

// Bytes held back after ESC [ M (or ESC [ N) while they could still be an
// "ANSI music" string; a longer run of music letters is taken for music.
inline constexpr int kTermMusicBuf = 256;

enum TermMode : int32_t {
  TERM_MODE_ANSI = 0,
  TERM_MODE_PETSCII = 1,
};

// ANSI parser states.
enum : int32_t {
  ANSI_GROUND = 0,
  ANSI_ESCAPE = 1,
  ANSI_CSI = 2,
  ANSI_DESIGNATE = 3,
  ANSI_MUSIC = 4,  // after ESC [ M: holding what may be a music string
  ANSI_HASH = 5,   // after ESC #: one byte names a line-attribute function
};

struct Cell {
  uint8_t ch;     // CP437 code (ANSI) or the PETSCII code itself; 0 draws as space
  uint8_t fg;     // palette index 0..15, bold already folded in
  uint8_t bg;     // palette index 0..15
  uint8_t flags;  // 1: written while bold was on; blanks always 0
};
static_assert(sizeof(Cell) == 4);

using ScrollbackLine = char[kScrollbackLineBytes];

// The session's ring of captured lines; the terminal only points to it.
// Logical line i (0 = oldest) lives at lines[(start + i) % 1000].
struct ScrollbackRing {
  ScrollbackLine* lines;  // kScrollbackLines entries, owned by the session
  int32_t count;          // 0..1000
  int32_t start;          // index of the oldest line
};

// The terminal's binding to the surface it is drawn on: what term_open
// fills in for a new window or own screen and term_close releases.  A
// window-mode change opens a new surface and keeps everything else of the
// Terminal, so it copies exactly this part: a field whose value comes from
// the surface belongs here, every other field belongs to Terminal and
// survives the change by itself.
struct TermBinding {
  PlatWindow* window;
  PlatScreen* screen;               // own full-screen screen, null in windowed modes
  PlatWindow* rport;                // drawing target: the window, null when it cannot be drawn in
  PlatFont* font;                   // system font, null when glyphs come from bitmap files
  int32_t pens[kTermPalette];       // display pen used for each palette index
  int32_t pen_owned[kTermPalette];  // the pen was obtained and is released at close
  int32_t window_owned;
  int32_t screen_owned;
  int32_t font_owned;
  int32_t pens_obtained;
  int32_t cp437_font;           // the glyph set has CP437 pictures for 1..31
  int32_t bitmap_renderer;      // glyphs come from the loaded bitmap font
  int32_t bitmap_kind;          // BITMAP_KIND_* of display/fonts.h
  int32_t bitmap_glyph_height;  // 0: use the loaded font's height
  int32_t bitmap_scale;         // 0: use the loaded font's scale
  int32_t fullscreen;
  int32_t medium_window;
  int32_t top_bar;  // status bar strip above the grid (full screen only)

  // --- geometry in pixels ---
  int32_t origin_x;  // top-left pixel of cell (0, 0)
  int32_t origin_y;
  int32_t cell_w;
  int32_t cell_h;
  int32_t baseline;

  // --- the cursor as drawn on this surface ---
  int32_t cursor_drawn;
  int32_t cursor_drawn_col;
  int32_t cursor_drawn_row;
  int32_t cursor_blink_visible;
  uint32_t cursor_last_blink_ms;  // 0: no change recorded yet

  // While set, the grid is updated but nothing is drawn and the cursor is
  // not shown (in-session phonebook menu, top-bar switch).
  int32_t drawing_suppressed;
};

struct Terminal : TermBinding {
  // --- cursor ---
  int32_t col;  // 0..79
  int32_t row;  // 0..24
  int32_t saved_col;
  int32_t saved_row;

  // --- attributes ---
  int32_t fg;  // 0..15, 7 after term_open
  int32_t bg;  // 0..15
  int32_t bold;
  int32_t reverse;

  // --- mode ---
  TermMode petscii;          // fixed when the terminal is opened
  int32_t petscii_lower;     // PETSCII lower/upper-case character set is active
  int32_t petscii_after_cr;  // the last PETSCII byte was a carriage return

  // --- ANSI parser ---
  int32_t ansi_state;  // ANSI_GROUND ...
  int32_t dec_line_drawing;
  char seq_buf[kTermSeqBuf];
  int32_t seq_len;

  // --- modes and the scrolling region, as the host set them ---
  // Rows scroll_top..scroll_bottom (inclusive) are what line feed, index,
  // reverse index, insert and delete line and scroll up and down move.  A
  // pair with top >= bottom, as in a zeroed record, means the whole screen
  // (term_scroll_region reads it).
  int32_t scroll_top;
  int32_t scroll_bottom;
  int32_t autowrap_off;   // ESC [ ? 7 l: a character written in column 79 leaves the cursor there
  int32_t cursor_hidden;  // ESC [ ? 25 l: the host does not want the cursor shown
  int32_t origin_mode;    // ESC [ ? 6 h: cursor rows count from the region's top and stay in it
  int32_t insert_mode;    // ESC [ 4 h: a written character pushes the rest of the row right
  int32_t last_printed;   // the last character printed (what ESC [ b repeats), 0 for none
  // What ESC [ M held back while it could be music (ANSI_MUSIC).
  uint8_t music_buf[kTermMusicBuf];
  int32_t music_len;

  int32_t cursor_enabled;  // the cursor is shown at all

  // Where the interpreter's replies go (the reply hook of terminal/hooks.h
  // sends them), -1 when there is no peer: then nothing is answered.
  int32_t reply_socket;

  // Last bell, on the millisecond clock; valid only when bell_rung is set.
  uint32_t last_bell_ms;
  int32_t bell_rung;

  // --- session status bar ---
  char status_text[81];   // the BBS name
  int64_t connect_start;  // seconds since the epoch, 0 when unknown

  ScrollbackRing* scrollback;  // null: nothing is captured

  Cell cells[kTermRows][kTermCols];
};

// --- record defaults ---------------------------------------------------------

// What term_open does to the record before it binds a window: everything
// zero, no reply socket, foreground 7.  The cells are filled by the first
// clear screen.
inline void term_init_record(Terminal* t) {
  if (!t) return;
  *t = Terminal{};
  t->reply_socket = -1;
  t->fg = 7;
}

// --- screen model --------------------------------------------------------------
// Every operation is a no-op on a null terminal.

// Writes ch at the cursor and advances; past column 79 the cursor goes to
// column 0 of the next row at once (or stays in column 79 while autowrap is
// off), scrolling the region when it leaves its bottom row.  In insert mode
// the rest of the row moves right first.
void term_put_char(Terminal* t, uint8_t ch);
// One row down, the column kept: at the bottom row of the scrolling region
// the region scrolls up; at row 24 below the region nothing moves.
void term_lf(Terminal* t);
void term_scroll_up(Terminal* t);
void term_clear_screen(Terminal* t);
void term_clear_range(Terminal* t, int row1, int col1, int row2, int col2);
// Fills a pixel rectangle (inclusive corners) in the pen of a palette index;
// indices of 16 and above use the pen of 7.
void term_fill_rect(Terminal* t, int x1, int y1, int x2, int y2, int colour);
void term_redraw_all(Terminal* t);

// --- the scrolling region and the editing functions ----------------------------------
// All keep the cursor where it is unless said otherwise and draw every changed
// cell at once (a block copy of the moved cells and one fill of the new
// blanks, which take the current colours as erased cells do).

// The rows that scroll, 0-based and inclusive: the host's region, or the
// whole screen (0, 24).
void term_scroll_region(const Terminal* t, int* top, int* bottom);
// Rows top..bottom move up n rows (n clamped to the rows there are); blank
// rows come in at the bottom.  With capture set and top at row 0, the rows
// that leave the screen go to the scrollback first, oldest first.
void term_scroll_rows_up(Terminal* t, int top, int bottom, int n, bool capture);
// Rows top..bottom move down n rows; blank rows come in at the top.
void term_scroll_rows_down(Terminal* t, int top, int bottom, int n);
// Reverse index: at the top row of the region the region scrolls down one
// row; elsewhere the cursor goes up one row, and nothing happens at row 0.
void term_reverse_index(Terminal* t);
// n blank lines at the cursor row, or the cursor row and n-1 below removed,
// within the region; nothing when the cursor is outside it.
void term_insert_lines(Terminal* t, int n);
void term_delete_lines(Terminal* t, int n);
// n blanks at the cursor, the rest of the row moving right (what passes
// column 79 is lost), or n cells removed at the cursor with the rest of the
// row moving left and blanks coming in at the right.
void term_insert_chars(Terminal* t, int n);
void term_delete_chars(Terminal* t, int n);
// Every cell becomes ch in the current colours, as if written there (the
// screen alignment pattern); the cursor does not move.
void term_fill_screen(Terminal* t, uint8_t ch);

// Called by term_scroll_up with the grid as it is just before row 0 leaves
// it.  Null in the program; a developer tool that keeps the whole picture of
// a file (kavel-render --tall) sets it.  It changes nothing about the scroll.
using TermScrollObserver = void (*)(const Terminal* t);
extern TermScrollObserver g_term_scroll_observer;

int effective_fg(const Terminal* t);
int effective_bg(const Terminal* t);
// Pixel y of the top of a grid row (in full screen the origin already
// leaves room for the status bar).
inline int cell_y(const Terminal* t, int row) {
  return t ? t->origin_y + row * t->cell_h : 0;
}

// Columns that show text: 80, or in PETSCII mode the active C64 font's
// visible columns (40 or 80).
int term_visible_cols(const Terminal* t);
// PETSCII mode with fewer than 80 visible columns: blank the cells right of
// the visible area, and paint the window areas beside the grid black.
void term_blank_hidden_columns(Terminal* t);
void term_clear_side_gutters(Terminal* t);

// Whether drawing reaches the window now.
inline bool term_can_draw(const Terminal* t) {
  return t && t->window && t->rport && !t->drawing_suppressed;
}

// --- scrollback capture ----------------------------------------------------------

// The text of one row (80 cells) with NUL read as space and trailing spaces
// dropped; out holds at least kScrollbackLineBytes bytes.
void cell_row_to_text(const Cell* cells, char* out);
// Appends one line; empty and blank-only lines (space, HT, LF, CR) are not
// stored.  Text beyond 80 characters is cut.
void scrollback_add_line(ScrollbackRing* ring, const char* text);

// --- ANSI/CP437 interpreter (ansi.cpp) ---------------------------------------------

void term_consume_byte(Terminal* t, uint8_t byte);
// CP437 control codes that the CP437 fonts show as pictures: 1..4, 6, 11,
// 14..26 and 28..31.  The others (0, 5, 7, 8, 9, 10, 12, 13, 27) are either
// handled as controls or never shown.
constexpr bool term_is_displayable_control(uint8_t ch) {
  return ch != 0 && ch < 32 && ch != 5 && ch != 7 && ch != 8 && ch != 9 && ch != 10 && ch != 12 &&
         ch != 13 && ch != 27;
}

// --- bell ----------------------------------------------------------------------

// Whether the bell flashes the display (preferences "beep_sound"); default 1.
extern int g_beep_sound_enabled;
// Flashes the display, at most once every 120 ms per terminal.
void term_bell(Terminal* t);
