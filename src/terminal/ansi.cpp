// The ANSI/CP437 interpreter: a byte-at-a-time state machine with no
// time-outs, implementing what BBS software, doors and Unix hosts that take
// "ANSI", "ANSI-BBS" or "VT100" at its word send: cursor movement, erase,
// colours, insert and delete of characters and lines, a scrolling region
// with origin mode, insert mode, cursor visibility and autowrap.  Everything
// else is consumed and ignored.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "terminal/active_font.h"
#include "terminal/hooks.h"
#include "terminal/terminal.h"

namespace {

constexpr int kMaxParams = 16;
constexpr int kSeqMaxBytes = kTermSeqBuf - 1;

enum PrivateMarker { MARK_NONE, MARK_DEC, MARK_SECONDARY };

// SGR colour numbers (black red green yellow blue magenta cyan white) as
// palette indices in PC order.
constexpr int kSgrToPalette[8] = {0, 4, 2, 6, 1, 5, 3, 7};

// DEC special graphics 96..126 as CP437.
constexpr uint8_t kDecLineDrawing[31] = {
    4,   177, 98,  99,  100, 101, 248, 241, 10,  11,  217, 191, 218, 192, 197, 196,
    196, 196, 196, 196, 195, 180, 193, 194, 179, 243, 242, 227, 216, 156, 249,
};

void reply(Terminal* t, const char* bytes, size_t len) {
  if (t->reply_socket < 0 || !g_term_hooks.reply) return;
  g_term_hooks.reply(t, bytes, len);
}

// The C64 fonts show the PETSCII letter layout, so ASCII case is swapped to
// look right.  The font-name test is a substring search, far too slow for
// every printed letter, so the answer is kept until the active font is
// written again.
struct C64FontCache {
  uint32_t serial;
  bool valid;
  bool c64;
};
C64FontCache g_c64_cache;

inline bool active_font_is_c64() {
  C64FontCache& c = g_c64_cache;
  uint32_t serial = active_font_serial();
  if (!c.valid || c.serial != serial) {
    c.c64 = font_name_looks_c64(g_active_font);
    c.serial = serial;
    c.valid = true;
  }
  return c.c64;
}

// Prints one character and keeps it for ESC [ b (repeat).
inline void print_char(Terminal* t, uint8_t ch) {
  t->last_printed = ch;
  term_put_char(t, ch);
}

void print_byte(Terminal* t, uint8_t b) {
  if (t->dec_line_drawing) {
    if (b < 32) {
      if (t->cp437_font && term_is_displayable_control(b)) print_char(t, b);
      return;
    }
    if (b >= 96 && b <= 126) b = kDecLineDrawing[b - 96];
    print_char(t, b);
    return;
  }
  if (b < 32) {
    if (t->cp437_font && term_is_displayable_control(b)) print_char(t, b);
    return;
  }
  if (active_font_is_c64() && ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'))) b ^= 0x20;
  print_char(t, b);
}

void consume_ground(Terminal* t, uint8_t b) {
  switch (b) {
    case 5:
      if (t->petscii == TERM_MODE_PETSCII)
        reply(t, "PETSCII\r", 8);
      else
        reply(t, "ANSI\r", 5);
      return;
    case 7:
      term_bell(t);
      return;
    case 12:
      term_clear_screen(t);
      return;
    case 27:
      t->ansi_state = ANSI_ESCAPE;
      t->seq_len = 0;
      t->seq_buf[0] = '\0';
      return;
    case 13:
      term_hook_hide_cursor(t);
      t->col = 0;
      return;
    case 10:
      term_lf(t);
      return;
    case 8:
      term_hook_hide_cursor(t);
      if (t->col > 0) t->col--;
      return;
    case 9: {
      term_hook_hide_cursor(t);
      int next = (t->col + 8) / 8 * 8;
      if (next > kTermCols - 1) {
        t->col = 0;
        term_lf(t);
      } else {
        t->col = next;
      }
      return;
    }
    default:
      print_byte(t, b);
  }
}

int clamp(int64_t v, int lo, int hi) {
  if (v < lo) return lo;
  if (v > hi) return hi;
  return static_cast<int>(v);
}

void restore_cursor(Terminal* t) {
  t->row = clamp(t->saved_row, 0, kTermRows - 1);
  t->col = clamp(t->saved_col, 0, kTermCols - 1);
}

// What ESC c puts back besides the screen: the whole screen scrolls, rows
// count from the top of the screen, characters overwrite, the cursor shows,
// autowrap is on, nothing is there to repeat.
void reset_modes(Terminal* t) {
  t->scroll_top = 0;
  t->scroll_bottom = 0;
  t->autowrap_off = 0;
  t->cursor_hidden = 0;
  t->origin_mode = 0;
  t->insert_mode = 0;
  t->last_printed = 0;
}

void consume_escape(Terminal* t, uint8_t b) {
  t->ansi_state = ANSI_GROUND;
  switch (b) {
    case 27:
      t->ansi_state = ANSI_ESCAPE;
      t->seq_len = 0;
      t->seq_buf[0] = '\0';
      return;
    case '[':
      t->ansi_state = ANSI_CSI;
      t->seq_len = 0;
      t->seq_buf[0] = '\0';
      return;
    case '#':
      t->ansi_state = ANSI_HASH;
      return;
    case '(':
    case ')':
      // The buffer keeps which set is being designated.
      t->ansi_state = ANSI_DESIGNATE;
      t->seq_buf[0] = static_cast<char>(b);
      t->seq_buf[1] = '\0';
      t->seq_len = 1;
      return;
    case '7':
      t->saved_col = t->col;
      t->saved_row = t->row;
      return;
    case '8':
      restore_cursor(t);
      return;
    case 'D':
      term_lf(t);
      return;
    case 'M':
      term_reverse_index(t);
      return;
    case 'Z':
      reply(t, "\x1b[?1;2c", 7);
      return;
    case 'c':
      term_clear_screen(t);
      t->dec_line_drawing = 0;
      reset_modes(t);
      return;
    default:
      return;
  }
}

struct Params {
  int64_t v[kMaxParams];
  int count;
};

// Numbers saturate instead of wrapping, so a huge value stays huge (and is
// clamped into the grid later) rather than turning into a small valid one.
constexpr int64_t kParamMax = INT32_MAX;

PrivateMarker parse_params(const char* buf, Params* p) {
  PrivateMarker mark = MARK_NONE;
  const char* s = buf;
  if (*s == '?') {
    mark = MARK_DEC;
    s++;
  } else if (*s == '>') {
    mark = MARK_SECONDARY;
    s++;
  }
  p->count = 0;
  while (*s && p->count < kMaxParams) {
    if (*s == ';') {
      p->v[p->count++] = 0;
      s++;
    } else if (*s >= '0' && *s <= '9') {
      int64_t n = 0;
      while (*s >= '0' && *s <= '9') {
        n = n * 10 + (*s - '0');
        if (n > kParamMax) n = kParamMax;
        s++;
      }
      p->v[p->count++] = n;
      if (*s == ';') s++;
    } else {
      s++;
    }
  }
  if (p->count == 0) {
    p->v[0] = 0;
    p->count = 1;
  }
  return mark;
}

void select_graphic_rendition(Terminal* t, const Params& p) {
  for (int i = 0; i < p.count; i++) {
    int64_t v = p.v[i];
    if (v == 0) {
      t->fg = 7;
      t->bg = 0;
      t->bold = 0;
      t->reverse = 0;
    } else if (v == 1) {
      t->bold = 1;
    } else if (v == 2 || v == 22) {
      t->bold = 0;
    } else if (v == 7) {
      t->reverse = 1;
    } else if (v == 27) {
      t->reverse = 0;
    } else if (v >= 30 && v <= 37) {
      t->fg = kSgrToPalette[v - 30];
    } else if (v == 39) {
      t->fg = 7;
    } else if (v >= 40 && v <= 47) {
      t->bg = kSgrToPalette[v - 40];
    } else if (v == 49) {
      t->bg = 0;
    } else if (v >= 90 && v <= 97) {
      t->fg = kSgrToPalette[v - 90] + 8;
    } else if (v >= 100 && v <= 107) {
      t->bg = kSgrToPalette[v - 100] + 8;
    }
  }
}

void device_status_report(Terminal* t, PrivateMarker mark, int64_t p1) {
  if (mark == MARK_SECONDARY) return;
  if (p1 == 5 && mark == MARK_NONE) {
    reply(t, "\x1b[0n", 4);
  } else if (p1 == 6) {
    char out[32];
    // In origin mode the row counts from the top of the region.
    int top = 0, bottom;
    if (t->origin_mode) term_scroll_region(t, &top, &bottom);
    int row = clamp(static_cast<int64_t>(t->row) - top + 1, 1, kTermRows);
    int col = clamp(static_cast<int64_t>(t->col) + 1, 1, kTermCols);
    int n = snprintf(out, sizeof out, mark == MARK_DEC ? "\x1b[?%d;%dR" : "\x1b[%d;%dR", row, col);
    if (n > 0) reply(t, out, static_cast<size_t>(n));
  }
}

// The functions beyond the first subset act only on plain sequences: no
// private marker and no intermediate byte.  Their final bytes have other
// meanings with them (ESC [ ? r restores private modes, ESC [ 1 SP @
// scrolls left, ESC [ = 1 M on some BBS software is music).
bool is_plain(const char* buf) {
  if (buf[0] == '<' || buf[0] == '=' || buf[0] == '>' || buf[0] == '?') return false;
  for (const char* s = buf; *s; s++)
    if (*s >= 0x20 && *s <= 0x2F) return false;
  return true;
}

bool has_intermediate(const char* buf) {
  for (const char* s = buf; *s; s++)
    if (*s >= 0x20 && *s <= 0x2F) return true;
  return false;
}

// A count for an operation on at most max things: huge values do not loop.
int bounded(int64_t n, int max) {
  return clamp(n, 0, max);
}

// Row 0 (the region's top in origin mode), column 0.
void home_cursor(Terminal* t) {
  int top = 0, bottom;
  if (t->origin_mode) term_scroll_region(t, &top, &bottom);
  t->row = top;
  t->col = 0;
}

// ESC [ top ; bottom r.  A region needs two rows at least; anything else is
// ignored, as on a VT100.  A missing or out-of-range bottom is row 25.
void set_scroll_region(Terminal* t, const Params& p) {
  int64_t top = p.v[0] == 0 ? 1 : p.v[0];
  int64_t bottom = (p.count >= 2 && p.v[1] > 0) ? p.v[1] : kTermRows;
  if (bottom > kTermRows) bottom = kTermRows;
  if (top >= bottom) return;
  t->scroll_top = static_cast<int32_t>(top - 1);
  t->scroll_bottom = static_cast<int32_t>(bottom - 1);
  home_cursor(t);
}

// ESC [ ? Pm h / l: the modes a host switches.
void set_dec_modes(Terminal* t, const Params& p, bool on) {
  for (int i = 0; i < p.count; i++) {
    if (p.v[i] == 25) {
      t->cursor_hidden = on ? 0 : 1;
    } else if (p.v[i] == 7) {
      t->autowrap_off = on ? 0 : 1;
    } else if (p.v[i] == 6) {
      t->origin_mode = on ? 1 : 0;
      home_cursor(t);
    }
  }
}

// ESC [ Pm h / l without a marker: only insert mode (4) is kept.
void set_ansi_modes(Terminal* t, const Params& p, bool on) {
  for (int i = 0; i < p.count; i++)
    if (p.v[i] == 4) t->insert_mode = on ? 1 : 0;
}

// ESC [ n S: the region's content moves up; lines leaving the top of the
// screen go to the scrollback as with line feeds.
void scroll_up_lines(Terminal* t, int n) {
  int top, bottom;
  term_scroll_region(t, &top, &bottom);
  if (top == 0 && bottom == kTermRows - 1) {
    for (int i = 0; i < n; i++) term_scroll_up(t);
  } else {
    term_scroll_rows_up(t, top, bottom, n, true);
  }
}

void scroll_down_lines(Terminal* t, int n) {
  int top, bottom;
  term_scroll_region(t, &top, &bottom);
  term_scroll_rows_down(t, top, bottom, n);
}

// Tab stops are fixed every eight columns.
int64_t back_tab(int64_t col, int64_t n) {
  for (int64_t i = 0; i < n && col > 0; i++) col = (col - 1) / 8 * 8;
  return col;
}

int64_t forward_tab(int64_t col, int64_t n) {
  for (int64_t i = 0; i < n && col < kTermCols - 1; i++) col = (col / 8 + 1) * 8;
  return col;
}

void repeat_last(Terminal* t, int n) {
  if (!t->last_printed) return;
  uint8_t ch = static_cast<uint8_t>(t->last_printed);
  for (int i = 0; i < n; i++) term_put_char(t, ch);
}

// ESC [ M and ESC [ N introduce "ANSI music" on some BBSes: a string of
// note letters, digits and a few signs ended by SO.  ESC [ M is delete line
// first (it has been done already); what follows is held back while it
// could be music, dropped when SO ends it, and printed after all when any
// other byte shows it was text.
void start_music(Terminal* t) {
  t->ansi_state = ANSI_MUSIC;
  t->music_len = 0;
}

// The letters and signs of a music string (the PLAY language: notes A-G
// with #, + and -, lengths, dots, octaves O, < and >, pauses P, tempo T,
// note numbers N, modes MF MB MN ML MS), digits and spaces.
bool is_music_byte(uint8_t b) {
  if (b >= 'a' && b <= 'z') b = static_cast<uint8_t>(b - 32);
  return b != 0 && strchr("ABCDEFGLMNOPST0123456789#+-.<> ", b) != nullptr;
}

void execute_csi(Terminal* t, uint8_t final) {
  if (t->seq_len < 0 || t->seq_len > kSeqMaxBytes) t->seq_len = 0;
  t->seq_buf[t->seq_len] = '\0';
  Params p;
  PrivateMarker mark = parse_params(t->seq_buf, &p);
  int64_t p1 = p.v[0];
  int64_t n = p1 == 0 ? 1 : p1;
  int64_t row = t->row;
  int64_t col = t->col;
  bool moved = false;
  bool absolute_row = false;  // a row given as a position, which origin mode offsets
  // Read only by the functions that need it (not by the colours and
  // positions that make up most sequences).
  auto plain = [t] { return is_plain(t->seq_buf); };

  switch (final) {
    case 'A':
      row -= n;
      moved = true;
      break;
    case 'B':
      row += n;
      moved = true;
      break;
    case 'C':
      col += n;
      moved = true;
      break;
    case 'D':
      col -= n;
      moved = true;
      break;
    case 'G':
      col = p1 == 0 ? 0 : p1 - 1;
      moved = true;
      break;
    case 'H':
    case 'f':
      row = p1 <= 0 ? 0 : p1 - 1;
      col = (p.count >= 2 && p.v[1] > 0) ? p.v[1] - 1 : 0;
      moved = true;
      absolute_row = true;
      break;
    case 'J':
      if (p1 == 1)
        term_clear_range(t, 0, 0, t->row, t->col);
      else if (p1 == 2 || p1 == 3)
        term_clear_screen(t);
      else
        term_clear_range(t, t->row, t->col, kTermRows - 1, kTermCols - 1);
      break;
    case 'K':
      if (p1 == 1)
        term_clear_range(t, t->row, 0, t->row, t->col);
      else if (p1 == 2)
        term_clear_range(t, t->row, 0, t->row, kTermCols - 1);
      else
        term_clear_range(t, t->row, t->col, t->row, kTermCols - 1);
      break;
    case 'c':
      if (mark == MARK_SECONDARY)
        reply(t, "\x1b[>0;0;0c", 9);
      else
        reply(t, "\x1b[?1;2c", 7);
      break;
    case 'm':
      select_graphic_rendition(t, p);
      break;
    case 'n':
      device_status_report(t, mark, p1);
      break;
    case 's':
      t->saved_col = t->col;
      t->saved_row = t->row;
      break;
    case 't':
      if (mark == MARK_NONE && p1 == 18) reply(t, "\x1b[8;25;80t", 10);
      break;
    case 'u':
      restore_cursor(t);
      break;
    case '@':
      if (plain()) term_insert_chars(t, bounded(n, kTermCols));
      break;
    case 'P':
      if (plain()) term_delete_chars(t, bounded(n, kTermCols));
      break;
    case 'X':
      if (plain())
        term_clear_range(t, t->row, t->col, t->row, clamp(col + n - 1, 0, kTermCols - 1));
      break;
    case 'L':
      if (plain()) term_insert_lines(t, bounded(n, kTermRows));
      break;
    case 'M':
      if (!plain()) break;
      term_delete_lines(t, bounded(n, kTermRows));
      if (t->seq_len == 0) start_music(t);
      break;
    case 'N':
      if (t->seq_len == 0) start_music(t);
      break;
    case 'S':
      if (plain()) scroll_up_lines(t, bounded(n, kTermRows));
      break;
    case 'T':
      // With more parameters this is a mouse-tracking request of xterm's.
      if (plain() && p.count == 1) scroll_down_lines(t, bounded(n, kTermRows));
      break;
    case 'r':
      if (plain()) set_scroll_region(t, p);
      break;
    case 'h':
    case 'l':
      if (mark == MARK_DEC && !has_intermediate(t->seq_buf))
        set_dec_modes(t, p, final == 'h');
      else if (plain())
        set_ansi_modes(t, p, final == 'h');
      break;
    case 'd':
      if (!plain()) break;
      row = p1 == 0 ? 0 : p1 - 1;
      moved = true;
      absolute_row = true;
      break;
    case 'E':
    case 'F':
      if (!plain()) break;
      row = final == 'E' ? row + n : row - n;
      col = 0;
      moved = true;
      break;
    case 'I':
      if (!plain()) break;
      col = forward_tab(col, n);
      moved = true;
      break;
    case 'Z':
      if (!plain()) break;
      col = back_tab(col, n);
      moved = true;
      break;
    case 'b':
      if (plain()) repeat_last(t, bounded(n, kTermRows * kTermCols));
      break;
    default:
      break;
  }
  if (moved) {
    int top = 0, bottom = kTermRows - 1;
    if (t->origin_mode) {
      // The cursor stays inside the region, and the rows of a position
      // count from its top.
      term_scroll_region(t, &top, &bottom);
      if (absolute_row) row += top;
    }
    t->row = clamp(row, top, bottom);
    t->col = clamp(col, 0, kTermCols - 1);
  }
}

void consume_csi(Terminal* t, uint8_t b) {
  if (b == 27) {
    t->ansi_state = ANSI_ESCAPE;
    t->seq_len = 0;
    t->seq_buf[0] = '\0';
    return;
  }
  if (b >= 64 && b <= 126) {
    t->ansi_state = ANSI_GROUND;
    execute_csi(t, b);  // may go on to hold a music string
    t->seq_len = 0;
    return;
  }
  if (t->seq_len < 0 || t->seq_len >= kSeqMaxBytes) {
    // Over-long: the sequence is abandoned and this byte dropped.
    t->ansi_state = ANSI_GROUND;
    t->seq_len = 0;
    return;
  }
  t->seq_buf[t->seq_len++] = static_cast<char>(b);
  t->seq_buf[t->seq_len] = '\0';
}

void consume_music(Terminal* t, uint8_t b) {
  if (b == 14) {
    // SO ends the music string: none of it is shown.
    t->ansi_state = ANSI_GROUND;
    t->music_len = 0;
    return;
  }
  if (is_music_byte(b)) {
    // A run longer than the buffer is music: it is dropped up to its end.
    if (t->music_len >= 0 && t->music_len < kTermMusicBuf) t->music_buf[t->music_len++] = b;
    return;
  }
  // Text after all: print what was held, then go on with this byte.
  int held = t->music_len;
  t->ansi_state = ANSI_GROUND;
  t->music_len = 0;
  if (held > 0 && held < kTermMusicBuf)
    for (int i = 0; i < held; i++) term_consume_byte(t, t->music_buf[i]);
  term_consume_byte(t, b);
}

// Everything but plain text in the ground state.  Kept out of line, so that
// term_consume_byte stays small enough to need no frame of its own.
[[gnu::noinline]] void consume_control(Terminal* t, uint8_t byte) {
  if (t->ansi_state != ANSI_GROUND) term_hook_hide_cursor(t);
  switch (t->ansi_state) {
    case ANSI_ESCAPE:
      consume_escape(t, byte);
      return;
    case ANSI_CSI:
      consume_csi(t, byte);
      return;
    case ANSI_DESIGNATE:
      // Only G0 is ever shown: SO and SI are CP437 pictures here, not shifts,
      // so G1 can never be invoked.  A G1 designation therefore changes
      // nothing; were it to switch line drawing on, a host's usual VT100
      // set-up (ESC ( B ESC ) 0) would turn all later lower-case text into
      // box pieces.
      if (t->seq_len == 1 && t->seq_buf[0] == ')') {
        // consumed
      } else if (byte == '0') {
        t->dec_line_drawing = 1;
      } else if (byte == 'B' || byte == 'b') {
        t->dec_line_drawing = 0;
      }
      t->ansi_state = ANSI_GROUND;
      t->seq_len = 0;
      t->seq_buf[0] = '\0';
      return;
    case ANSI_MUSIC:
      consume_music(t, byte);
      return;
    case ANSI_HASH:
      // ESC # and one byte: line attributes (double width and height, not
      // shown here) and the screen alignment pattern of E's.
      if (byte == 27) {
        t->ansi_state = ANSI_ESCAPE;
        t->seq_len = 0;
        t->seq_buf[0] = '\0';
        return;
      }
      t->ansi_state = ANSI_GROUND;
      if (byte == '8') {
        t->scroll_top = 0;
        t->scroll_bottom = 0;
        t->origin_mode = 0;
        term_fill_screen(t, 'E');
        t->row = 0;
        t->col = 0;
      }
      return;
    default:
      t->ansi_state = ANSI_GROUND;
      consume_ground(t, byte);
  }
}

}  // namespace

void term_consume_byte(Terminal* t, uint8_t byte) {
  if (!t) return;
  // Most bytes are plain text in the ground state: print them directly.
  if (t->ansi_state == ANSI_GROUND && byte >= 32 && !t->dec_line_drawing) {
    // The font test comes first: it is the same for every byte and so
    // predicted, where the letter test on mixed text is not.
    if (active_font_is_c64() && (byte | 0x20) >= 'a' && (byte | 0x20) <= 'z') byte ^= 0x20;
    print_char(t, byte);
    return;
  }
  consume_control(t, byte);
}
