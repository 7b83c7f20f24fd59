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
#include <cstddef>
#include <cstdint>

// The ANSI byte interpreter is declared below; the PETSCII one
// (petscii_consume_byte and its helpers) in petscii.h, which builds on this
// screen model and so is included by its users, not from here.

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

// Bytes held back after a music introducer (ESC [ |, or ESC [ M and ESC [ N)
// while they could still be an "ANSI music" string; a longer run of music
// letters is taken for music that is too long to play, and dropped.
inline constexpr int kTermMusicBuf = 4096;

// An operating system command (ESC ] ... ST) longer than this is dropped
// whole; device control, application and privacy strings are never kept.
inline constexpr int kTermOscBuf = 512;

// What arrives while foreground music holds the display: the rest of one
// read (the session reads nothing more until the music has played).  More
// than this lets the display go on at once, the music playing on.
inline constexpr int kTermHoldBuf = 16384;

// Extended colours (256-colour indices and RGB values) in use on the
// screen: slots 1..255 of a table in the Terminal; a cell names its slot.
inline constexpr int kTermExtColours = 256;

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
  ANSI_MUSIC = 4,       // after a music introducer: holding what may be music
  ANSI_HASH = 5,        // after ESC #: one byte names a line-attribute function
  ANSI_STRING = 6,      // inside ESC ] / P / _ / ^ / X ... ST: a command string
  ANSI_STRING_ESC = 7,  // an ESC inside a command string: ST, or the start of something else
  ANSI_HELD = 8,        // foreground music plays: bytes wait in the hold buffer
  ANSI_FONT_DATA = 9,   // after ESC [ = slot ; size {: the bytes of an uploaded font
};

// Cell flags.  Bit 0 says the character was written bold (the colour is
// already brightened); the others are what the cell adds to the PC's
// sixteen colours, so that a cell of plain text has no bit above bit 0.
enum : uint8_t {
  CELL_BOLD = 0x01,
  CELL_BLINK = 0x02,    // SGR 5: blinks, or with iCE colours a bright background
  CELL_FONT_SHIFT = 2,  // bits 2..4: TERM_FONT_* the character is drawn in
  CELL_FONT_MASK = 0x1C,
  CELL_FG_EXT = 0x20,  // fg is a slot of the extended colour table
  CELL_BG_EXT = 0x40,  // bg is a slot of the extended colour table
};

// The fonts a cell can be drawn in besides the session's own (0): the
// bitmap fonts of the Fonts drawer, as a host selects them by number.
enum : int32_t {
  TERM_FONT_SESSION = 0,
  TERM_FONT_CP437 = 1,
  TERM_FONT_TOPAZ_1200 = 2,
  TERM_FONT_TOPAZ = 3,
  TERM_FONT_C64_UPPER = 4,
  TERM_FONT_C64_LOWER = 5,
  TERM_FONT_COUNT = 6,
};

// An extended colour as the table holds it: a 256-colour index (its RGB
// follows the palette, so a palette change recolours it) or an RGB value.
// 0 is a free slot.
inline constexpr uint32_t kColourIndexed = 0x01000000;
inline constexpr uint32_t kColourRgb = 0x02000000;

struct Cell {
  uint8_t ch;     // CP437 code (ANSI) or the PETSCII code itself; 0 draws as space
  uint8_t fg;     // palette index 0..15, bold already folded in (or an extended slot)
  uint8_t bg;     // palette index 0..15 (or an extended slot)
  uint8_t flags;  // CELL_*: CELL_BOLD when written while bold was on; blanks never bold
};
static_assert(sizeof(Cell) == 4);

using ScrollbackLine = char[kScrollbackLineBytes];

// The music settings a host changes with MF, MB, MN, ML, MS, T, O and L; they
// last from one music string to the next.  Zero means the default (so a
// zeroed record starts with them).
struct TermMusicState {
  int32_t tempo;         // quarter notes a minute, 32..255 (120)
  int32_t octave;        // 0..6, plus one (4)
  int32_t length;        // note length as a fraction of a whole, 1..64 (4)
  int32_t articulation;  // 0 normal (7/8 sounds), 1 legato, 2 staccato (3/4)
  int32_t background;    // MB: the display goes on while the music plays
};

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

  // --- the pens of the grid's colours on this surface ---
  // pens above are the standard palette, which the status bar and the
  // dialogs keep; the cells draw with cell_pens, which follow the host's
  // palette changes (made for palette_serial), and with a pen per slot of
  // the extended colour table (ext_pen_rgb: kColourRgb | the RGB the pen
  // was obtained for, 0 when there is none).
  int32_t cell_pens[kTermPalette];
  int32_t cell_pen_owned[kTermPalette];
  uint32_t cell_pens_serial;
  int32_t ext_pens[kTermExtColours];
  uint32_t ext_pen_rgb[kTermExtColours];
  int32_t ext_pen_owned[kTermExtColours];
  // Blinking text is in the half-second in which it is not shown.
  int32_t blink_hidden;
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
  // What a music introducer held back while it could be music (ANSI_MUSIC).
  uint8_t music_buf[kTermMusicBuf];
  int32_t music_len;
  int32_t music_introducer;  // the final byte that started it: 'M', 'N' or '|'
  // ESC [ = Ps M, plus one (0: the default, 1): with 0 only ESC [ | starts
  // music, with 1 also ESC [ N (and ESC [ M after the line it deletes), with
  // 2 ESC [ M is music and deletes no line.
  int32_t music_forms;
  TermMusicState music;  // tempo, octave, length, articulation, fore/background
  // Foreground music holds the display: the bytes that arrive meanwhile.
  uint8_t hold_buf[kTermHoldBuf];
  int32_t hold_len;

  // --- attributes and modes beyond the sixteen colours ---
  int32_t blink;        // SGR 5 / 6
  int32_t ice_colours;  // ESC [ ? 33 h: blink shows as a bright background, nothing blinks
  int32_t fg_ext;       // 0, or the extended slot the foreground names (SGR 38, ESC [ 1;r;g;b t)
  int32_t bg_ext;       // 0, or the extended slot of the background
  int32_t font_id;      // TERM_FONT_* written characters take
  int32_t attr_extra;   // nonzero while blink, a font or an extended colour is set
  int32_t font_asked;   // a font selection was asked for (the font state report)
  int32_t font_failed;  // ... and the last one could not be done
  int32_t font_slot0;   // the host's number of the font in slot 0, plus one; 0: the session's
  uint32_t ext_colours[kTermExtColours];  // slot -> kColourIndexed | n, or kColourRgb | RGB
  // Palette entries a host changed (OSC 4): Kavel colour number (0..15 in
  // PC order, 16..255 the 256-colour table) -> kColourRgb | RGB, 0 unchanged.
  uint32_t palette_override[256];
  uint32_t palette_serial;  // bumped by every change of the palette
  // The command string being read (ANSI_STRING): its introducer and bytes.
  char osc_buf[kTermOscBuf];
  int32_t osc_len;         // -1 once it is longer than the buffer: dropped at its end
  int32_t string_kind;     // the byte after ESC: ']' OSC, 'P' DCS, '_' APC, '^' PM, 'X' SOS
  int32_t font_data_left;  // bytes of an uploaded font still to come (ANSI_FONT_DATA)

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

// --- colours beyond the sixteen (colour.cpp) -------------------------------------

// The palette in PC order as 0xRRGGBB: what every cell colour 0..15 shows
// until a host changes it.
inline constexpr uint32_t kTermDefaultPalette[kTermPalette] = {
    0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA, 0xAA5500, 0xAAAAAA,
    0x555555, 0x5555FF, 0x55FF55, 0x55FFFF, 0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF,
};
// The RGB a colour number shows now: 0..15 the palette in PC order, 16..255
// the 256-colour table (a 6x6x6 cube and 24 greys), each as the host may
// have changed it.
uint32_t term_palette_rgb(const Terminal* t, int colour);
// The RGB an extended slot shows now (black for a free or bad slot).
uint32_t term_ext_rgb(const Terminal* t, int slot);
// The slot (1..255) holding a colour (kColourIndexed | n or kColourRgb |
// RGB), taking a free one when none does.  Slots no cell and no attribute
// names any more are freed when the table is full; a table full of colours
// on screen gives the slot of the nearest one.
int term_ext_slot(Terminal* t, uint32_t colour);
// The colours a cell shows as RGB: its palette entries as the host set
// them, or its extended colours; with iCE colours a blinking cell's
// background is the bright one.
void term_cell_rgb(const Terminal* t, const Cell& c, uint32_t* fg, uint32_t* bg);
// What the attributes say a 256-colour index n (SGR 38;5;n) is: a palette
// index 0..15 in PC order for n < 16, else -1 (an extended colour).
int term_palette_index_of_256(int n);
// The host changed the palette: everything is drawn again in it.
void term_palette_changed(Terminal* t);
// Recomputes attr_extra from the attributes (after any of them changed).
void term_update_attr_extra(Terminal* t);

// --- command strings (osc.cpp) ----------------------------------------------------

// Carries out one operating system command (the bytes between ESC ] and
// its terminator): 4 sets palette entries, 104 puts them back; the others
// are ignored.
void term_osc_execute(Terminal* t, const char* s, size_t len);
// An X11-style colour: rgb:R/G/B with one to four hex digits a component,
// or #RGB, #RRGGBB, #RRRGGGBBB, #RRRRGGGGBBBB.  0 and *rgb set, or -1.
int term_parse_colour(const char* s, size_t len, uint32_t* rgb);

// --- fonts a host selects (ansi.cpp) -------------------------------------------------

// TERM_FONT_* of a font number as BBS software numbers them (0 CP437, 32 and
// 33 the C64 upper and lower case sets, 40 Topaz Plus, 42 Topaz), -1 for a
// number Kavel has no font for; and back.
int term_font_for_number(int number);
int term_font_number(int font);
// The font the session opened with (the active font's family).
int term_session_font();

// --- ANSI music (music.cpp) -----------------------------------------------------------

// Whether music strings are played (preferences "ansi_music"); default 1.
// Off, they are read and dropped.
extern int g_ansi_music_enabled;
// Whether device attributes name the CTerm identity and its version
// (preferences "cterm_identity"); default 0.
extern int g_cterm_identity;

struct TermMusicNote {
  uint32_t freq_millihz;  // 0: a pause
  uint32_t sound_ms;
  uint32_t silence_ms;  // after the sound (articulation), or the whole pause
};
// Reads a music string in the PLAY language (without its introducer and
// the SO that ends it) into at most max notes, with the settings st holds
// and changes.  introducer is the final byte that started it: after ESC [ M
// a string starting with B, F, L, S or N (not followed by a digit) is read
// as if an M came first.  Returns the number of notes.
int term_music_parse(TermMusicState* st, const uint8_t* s, size_t len, int introducer,
                     TermMusicNote* out, int max);
// Plays a complete music string (through the platform's audio); a
// foreground string holds the display until it has played.  Nothing when
// music is off or no audio device opens.
void term_music_play(Terminal* t, const uint8_t* s, size_t len, int introducer);
// Whether the display is held by foreground music: the session reads
// nothing from the connection meanwhile.
inline bool term_music_holding(const Terminal* t) {
  return t && t->ansi_state == ANSI_HELD;
}
// Called on every pass of the session loop: feeds the audio output and,
// once foreground music has played, lets the held bytes through.
void term_music_pump(Terminal* t);
// Lets the bytes held by foreground music through now (the music plays
// on).
void term_music_release(Terminal* t);
// Stops the music at once and lets held bytes through; 1 when there was
// music to stop (a key that stops music does nothing else), else 0.
int term_music_stop(Terminal* t);
// The terminal goes away: the music stops and what it held is dropped.
void term_music_end(Terminal* t);
// Whether the terminal wants NUL bytes as data (an uploaded font is being
// read); the Telnet layer drops them otherwise.
inline bool term_takes_nul(const Terminal* t) {
  return t && t->ansi_state == ANSI_FONT_DATA;
}

// --- bell ----------------------------------------------------------------------

// Whether the bell flashes the display (preferences "beep_sound"); default 1.
extern int g_beep_sound_enabled;
// Flashes the display, at most once every 120 ms per terminal.
void term_bell(Terminal* t);
