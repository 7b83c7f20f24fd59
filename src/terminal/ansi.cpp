// The ANSI/CP437 interpreter: a byte-at-a-time state machine with no
// time-outs, implementing what BBS software, doors and Unix hosts that take
// "ANSI", "ANSI-BBS" or "VT100" at its word send: cursor movement, erase,
// colours, insert and delete of characters and lines, a scrolling region
// with origin mode, insert mode, cursor visibility and autowrap; and what
// today's BBS software adds: blink and iCE colours, 256 and RGB colours,
// palette changes, font selection, ANSI music and the CTerm queries.
// Everything else is consumed and ignored.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "terminal/active_font.h"
#include "terminal/hooks.h"
#include "terminal/terminal.h"

namespace {

constexpr int kMaxParams = 16;
constexpr int kSeqMaxBytes = kTermSeqBuf - 1;

// "?" DEC private, ">" secondary, "=" and "<" the private forms CTerm uses.
enum PrivateMarker { MARK_NONE, MARK_DEC, MARK_SECONDARY, MARK_EQUALS, MARK_LESS };

// What a CTerm answers to ESC [ c: "CTerm" in decimal and the version 1.167,
// the last one before sixel graphics (1.189): font selection, the mode and
// font state reports (1.160, 1.161) and palette changes (1.167).
constexpr char kCtermAttributes[] = "\x1b[=67;84;101;114;109;1;167c";
// ESC [ < c: bright backgrounds (2), palette changes (3), font selection
// (5) and the 256-colour palette (6); no loadable fonts, pixels or mouse.
constexpr char kCtermCapabilities[] = "\x1b[<0;2;3;5;6c";
// The first font slot a host may load into, as CTerm numbers them.
constexpr int kFirstLoadableSlot = 43;

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

void reply_str(Terminal* t, const char* s) {
  reply(t, s, strlen(s));
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
  t->font_id = TERM_FONT_SESSION;
  t->font_slot0 = 0;
  t->font_asked = 0;
  t->font_failed = 0;
  t->music_forms = 0;
  t->music = TermMusicState{};
  term_update_attr_extra(t);
}

// ESC c also puts back what draws the screen: the palette and plain blink.
// Done before the screen is cleared, so the blanks show in them.
void reset_colours(Terminal* t) {
  bool changed = t->ice_colours != 0;
  t->ice_colours = 0;
  for (uint32_t& entry : t->palette_override) {
    if (entry) changed = true;
    entry = 0;
  }
  if (changed) t->palette_serial++;
}

// ESC ] (operating system command), P (device control), _ (application),
// ^ (privacy message) and X (start of string) open a command string that
// runs to ST (ESC backslash) or BEL.  Only the operating system commands are
// carried out; the others are read and dropped, so that nothing of them
// shows on the screen.
void start_string(Terminal* t, uint8_t kind) {
  t->ansi_state = ANSI_STRING;
  t->string_kind = kind;
  t->osc_len = 0;
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
    case ']':
    case 'P':
    case '_':
    case '^':
    case 'X':
      start_string(t, b);
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
      reset_colours(t);
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
  } else if (*s == '=') {
    mark = MARK_EQUALS;
    s++;
  } else if (*s == '<') {
    mark = MARK_LESS;
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

// A component of an RGB colour as a host writes it: 0..255.
uint32_t component(int64_t v) {
  return static_cast<uint32_t>(v > 255 ? 255 : v);
}

// The colour of SGR 38 or 48 (also ESC [ 1;r;g;b t): a palette index, or a
// slot of the extended table.  fg_side picks the foreground.
void set_colour(Terminal* t, bool fg_side, int palette, uint32_t extended) {
  int slot = extended ? term_ext_slot(t, extended) : 0;
  if (fg_side) {
    if (!slot) t->fg = palette;
    t->fg_ext = slot;
  } else {
    if (!slot) t->bg = palette;
    t->bg_ext = slot;
  }
}

// SGR 38 and 48 take what follows them: 5;n (the 256-colour table) or
// 2;r;g;b.  Returns how many parameters after i belong to it; a form that
// is cut short takes the rest and changes nothing.
int extended_colour(Terminal* t, const Params& p, int i, bool fg_side) {
  int left = p.count - 1 - i;
  if (left < 1) return left;
  if (p.v[i + 1] == 5) {
    if (left < 2) return left;
    int64_t n = p.v[i + 2];
    if (n <= 255) {
      int palette = term_palette_index_of_256(static_cast<int>(n));
      if (palette >= 0)
        set_colour(t, fg_side, palette, 0);
      else
        set_colour(t, fg_side, 0, kColourIndexed | static_cast<uint32_t>(n));
    }
    return 2;
  }
  if (p.v[i + 1] == 2) {
    if (left < 4) return left;
    set_colour(t, fg_side, 0,
               kColourRgb | component(p.v[i + 2]) << 16 | component(p.v[i + 3]) << 8 |
                   component(p.v[i + 4]));
    return 4;
  }
  return 1;
}

void select_graphic_rendition(Terminal* t, const Params& p) {
  for (int i = 0; i < p.count; i++) {
    int64_t v = p.v[i];
    if (v == 0) {
      t->fg = 7;
      t->bg = 0;
      t->bold = 0;
      t->reverse = 0;
      t->blink = 0;
      t->fg_ext = 0;
      t->bg_ext = 0;
    } else if (v == 1) {
      t->bold = 1;
    } else if (v == 2 || v == 22) {
      t->bold = 0;
    } else if (v == 7) {
      t->reverse = 1;
    } else if (v == 27) {
      t->reverse = 0;
    } else if (v == 5 || v == 6) {
      t->blink = 1;
    } else if (v == 25) {
      t->blink = 0;
    } else if (v >= 30 && v <= 37) {
      t->fg = kSgrToPalette[v - 30];
      t->fg_ext = 0;
    } else if (v == 38) {
      i += extended_colour(t, p, i, true);
    } else if (v == 39) {
      t->fg = 7;
      t->fg_ext = 0;
    } else if (v >= 40 && v <= 47) {
      t->bg = kSgrToPalette[v - 40];
      t->bg_ext = 0;
    } else if (v == 48) {
      i += extended_colour(t, p, i, false);
    } else if (v == 49) {
      t->bg = 0;
      t->bg_ext = 0;
    } else if (v >= 90 && v <= 97) {
      t->fg = kSgrToPalette[v - 90] + 8;
      t->fg_ext = 0;
    } else if (v >= 100 && v <= 107) {
      t->bg = kSgrToPalette[v - 100] + 8;
      t->bg_ext = 0;
    }
  }
  term_update_attr_extra(t);
}

// ESC [ 0;r;g;b t and ESC [ 1;r;g;b t: the 24-bit background and
// foreground colours BBS software sends.
void rgb_colour(Terminal* t, const Params& p) {
  set_colour(t, p.v[0] == 1, 0,
             kColourRgb | component(p.v[1]) << 16 | component(p.v[2]) << 8 | component(p.v[3]));
  term_update_attr_extra(t);
}

// --- the CTerm reports and fonts ---------------------------------------------------

// ESC [ = 1 n: the font state report: the first loadable slot, how the last
// selection went (0 done, 1 failed, 99 none asked) and the four slots.
void font_state_report(Terminal* t) {
  char out[64];
  int result = !t->font_asked ? 99 : t->font_failed ? 1 : 0;
  int slot0 = t->font_slot0 ? t->font_slot0 - 1 : term_font_number(term_session_font());
  int n = snprintf(out, sizeof out, "\x1b[=1;%d;%d;%d;0;0;0n", kFirstLoadableSlot, result, slot0);
  if (n > 0) reply(t, out, static_cast<size_t>(n));
}

// ESC [ = 2 n: the DEC modes that are set, of those Kavel has.
void mode_report(Terminal* t) {
  char out[48] = "\x1b[=2";
  const struct {
    int mode;
    bool set;
  } modes[] = {{6, t->origin_mode != 0},
               {7, t->autowrap_off == 0},
               {25, t->cursor_hidden == 0},
               {33, t->ice_colours != 0}};
  bool any = false;
  for (const auto& m : modes) {
    if (!m.set) continue;
    size_t len = strlen(out);
    snprintf(out + len, sizeof out - len, ";%d", m.mode);
    any = true;
  }
  // With no mode set the report holds one empty parameter.
  strncat(out, any ? "n" : ";n", sizeof out - strlen(out) - 1);
  reply_str(t, out);
}

// ESC [ = 3 n: the pixels of a character cell, height then width, as the
// font draws them (unscaled).
void font_size_report(Terminal* t) {
  int height = t->bitmap_renderer && t->bitmap_glyph_height > 0 ? t->bitmap_glyph_height
               : t->cell_h > 0                                  ? t->cell_h
                                                                : 16;
  int width = t->bitmap_renderer || t->cell_w <= 0 ? 8 : t->cell_w;
  char out[32];
  int n = snprintf(out, sizeof out, "\x1b[=3;%d;%dn", height, width);
  if (n > 0) reply(t, out, static_cast<size_t>(n));
}

// ESC [ Ps1 ; Ps2 SP D: font Ps2 into slot Ps1.  Only slot 0, the font
// every character is written in, is drawn (slots 1..3 are the fonts that
// bright and blinking text select in CTerm's modes 31 and 34, which Kavel
// does not have); a font Kavel cannot draw changes nothing.  Characters
// already on the screen keep the font they were written in.
void select_font(Terminal* t, const Params& p) {
  int64_t slot = p.v[0];
  int64_t number = p.count >= 2 ? p.v[1] : 0;
  t->font_asked = 1;
  int font = number <= 255 ? term_font_for_number(static_cast<int>(number)) : -1;
  int session = term_session_font();
  bool drawable = font == session ||
                  (font > 0 && g_term_hooks.font_available && g_term_hooks.font_available(t, font));
  if (slot != 0 || font < 0 || !drawable) {
    t->font_failed = 1;
    return;
  }
  t->font_failed = 0;
  t->font_slot0 = static_cast<int32_t>(number) + 1;
  t->font_id = font == session ? TERM_FONT_SESSION : font;
  term_update_attr_extra(t);
}

// ESC [ = slot ; size { starts a font upload (CTerm's older form): 4096,
// 3584 or 2048 bytes of glyphs follow.  They are read and dropped: Kavel
// loads no fonts, and selecting that slot fails.
void start_font_upload(Terminal* t, const Params& p) {
  int64_t size = p.count >= 2 ? p.v[1] : 0;
  static constexpr int kBytes[3] = {4096, 3584, 2048};
  if (size < 0 || size > 2) return;
  t->font_data_left = kBytes[size];
  t->ansi_state = ANSI_FONT_DATA;
}

void device_status_report(Terminal* t, PrivateMarker mark, int64_t p1) {
  if (mark == MARK_SECONDARY || mark == MARK_LESS) return;
  if (mark == MARK_EQUALS) {
    if (p1 == 1 || p1 == 0)
      font_state_report(t);
    else if (p1 == 2)
      mode_report(t);
    else if (p1 == 3)
      font_size_report(t);
    return;
  }
  if (p1 == 5 && mark == MARK_NONE) {
    reply(t, "\x1b[0n", 4);
  } else if (p1 == 255 && mark == MARK_NONE) {
    // BananaCom's size request: a cursor report from the bottom-right cell.
    char out[32];
    int n = snprintf(out, sizeof out, "\x1b[%d;%dR", kTermRows, kTermCols);
    if (n > 0) reply(t, out, static_cast<size_t>(n));
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
    if (p.v[i] == 33) {
      // iCE colours: blink shows as a bright background.  Cells already
      // on the screen change with it, as on a PC's text screen.
      if ((t->ice_colours != 0) != on) {
        t->ice_colours = on ? 1 : 0;
        term_redraw_all(t);
      }
    } else if (p.v[i] == 25) {
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

// ESC [ |, ESC [ N and ESC [ M introduce "ANSI music": a string of note
// letters, digits and a few signs ended by SO.  ESC [ M is delete line
// first (done already) unless the host asked for music there (ESC [ = 2 M).
// What follows is held back while it could be music, played (or dropped)
// when SO ends it, and printed after all when any other byte shows it was
// text.
void start_music(Terminal* t, uint8_t introducer) {
  t->ansi_state = ANSI_MUSIC;
  t->music_len = 0;
  t->music_introducer = introducer;
}

// ESC [ = Ps M as a number 0..2 (see Terminal::music_forms).
int music_forms(const Terminal* t) {
  return t->music_forms > 0 ? t->music_forms - 1 : 1;
}

// Whether the introducer's string is played under the host's choice: ESC [ |
// always, ESC [ N and ESC [ M from 1 on.
bool music_form_plays(const Terminal* t, int introducer) {
  return introducer == '|' || music_forms(t) >= 1;
}

bool cursor_in_region(const Terminal* t) {
  int top, bottom;
  term_scroll_region(t, &top, &bottom);
  return t->row >= top && t->row <= bottom;
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
      if (t->seq_len > 0 && t->seq_buf[t->seq_len - 1] == ' ') {
        select_font(t, p);
        break;
      }
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
      else if (g_cterm_identity && mark == MARK_NONE && p1 == 0)
        reply_str(t, kCtermAttributes);
      else if (g_cterm_identity && mark == MARK_LESS && p1 == 0)
        reply_str(t, kCtermCapabilities);
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
      if (mark == MARK_NONE && p1 == 18)
        reply(t, "\x1b[8;25;80t", 10);
      else if (mark == MARK_NONE && p.count == 4 && (p1 == 0 || p1 == 1) && plain())
        rgb_colour(t, p);
      break;
    case 'u':
      restore_cursor(t);
      break;
    // Inserting and deleting characters, like lines, act only inside the
    // scrolling region (as VT100-family terminals do).
    case '@':
      if (plain() && cursor_in_region(t)) term_insert_chars(t, bounded(n, kTermCols));
      break;
    case 'P':
      if (plain() && cursor_in_region(t)) term_delete_chars(t, bounded(n, kTermCols));
      break;
    case 'X':
      if (plain())
        term_clear_range(t, t->row, t->col, t->row, clamp(col + n - 1, 0, kTermCols - 1));
      break;
    case 'L':
      if (plain()) term_insert_lines(t, bounded(n, kTermRows));
      break;
    case 'M':
      if (mark == MARK_EQUALS && !has_intermediate(t->seq_buf)) {
        if (p1 <= 2) t->music_forms = static_cast<int32_t>(p1) + 1;
        break;
      }
      if (!plain()) break;
      if (t->seq_len == 0 && music_forms(t) == 2) {
        start_music(t, 'M');
        break;
      }
      term_delete_lines(t, bounded(n, kTermRows));
      if (t->seq_len == 0) start_music(t, 'M');
      break;
    case 'N':
      if (t->seq_len == 0) start_music(t, 'N');
      break;
    case '|':
      if (t->seq_len == 0) start_music(t, '|');
      break;
    case '{':
      if (mark == MARK_EQUALS && !has_intermediate(t->seq_buf)) start_font_upload(t, p);
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
    // SO ends the music string: none of it is shown; it plays when it is
    // whole and the host's choice of introducers plays it.
    t->ansi_state = ANSI_GROUND;
    int len = t->music_len;
    t->music_len = 0;
    if (len >= 0 && len <= kTermMusicBuf && music_form_plays(t, t->music_introducer))
      term_music_play(t, t->music_buf, static_cast<size_t>(len), t->music_introducer);
    return;
  }
  if (is_music_byte(b)) {
    // A run longer than the buffer is music too long to play: it is dropped
    // up to its end (the length past the buffer marks it).
    if (t->music_len >= 0 && t->music_len < kTermMusicBuf)
      t->music_buf[t->music_len++] = b;
    else
      t->music_len = kTermMusicBuf + 1;
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

// The bytes a command string may hold: BS..CR and the printable ASCII
// characters (a start-of-string may hold anything but its terminator).
bool string_byte(const Terminal* t, uint8_t b) {
  return t->string_kind == 'X' || (b >= 8 && b <= 13) || (b >= 32 && b <= 126);
}

void end_string(Terminal* t) {
  t->ansi_state = ANSI_GROUND;
  if (t->string_kind == ']' && t->osc_len > 0)
    term_osc_execute(t, t->osc_buf, static_cast<size_t>(t->osc_len));
  t->osc_len = 0;
}

void consume_string(Terminal* t, uint8_t b) {
  if (b == 27) {
    t->ansi_state = ANSI_STRING_ESC;
    return;
  }
  if (b == 7) {
    end_string(t);
    return;
  }
  if (!string_byte(t, b)) {
    // CAN, SUB or a byte no string holds: the string is abandoned and the
    // byte goes on as if the string had not been there.
    t->ansi_state = ANSI_GROUND;
    t->osc_len = 0;
    if (b != 0x18 && b != 0x1A) term_consume_byte(t, b);
    return;
  }
  if (t->string_kind != ']' || t->osc_len < 0) return;
  if (t->osc_len >= kTermOscBuf) {
    t->osc_len = -1;  // too long: dropped whole at its end
    return;
  }
  t->osc_buf[t->osc_len++] = static_cast<char>(b);
}

// ESC inside a string: ESC backslash ends it; anything else abandons it and the ESC
// starts a new sequence.
void consume_string_escape(Terminal* t, uint8_t b) {
  if (b == '\\') {
    end_string(t);
    return;
  }
  t->osc_len = 0;
  t->ansi_state = ANSI_ESCAPE;
  consume_escape(t, b);
}

// Foreground music plays: the byte waits.  Should more arrive than the
// buffer holds (a caller that reads on), the display goes on at once and
// the music plays on behind it.
void hold_byte(Terminal* t, uint8_t b) {
  if (t->hold_len >= 0 && t->hold_len < kTermHoldBuf) {
    t->hold_buf[t->hold_len++] = b;
    return;
  }
  term_music_release(t);
  term_consume_byte(t, b);
}

// Everything but plain text in the ground state.  Kept out of line, so that
// term_consume_byte stays small enough to need no frame of its own.
[[gnu::noinline]] void consume_control(Terminal* t, uint8_t byte) {
  if (t->ansi_state == ANSI_HELD) {
    hold_byte(t, byte);
    return;
  }
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
    case ANSI_STRING:
      consume_string(t, byte);
      return;
    case ANSI_STRING_ESC:
      consume_string_escape(t, byte);
      return;
    case ANSI_FONT_DATA:
      if (--t->font_data_left <= 0) t->ansi_state = ANSI_GROUND;
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

int g_cterm_identity = 0;

int term_font_for_number(int number) {
  switch (number) {
    case 0:
      return TERM_FONT_CP437;
    case 32:
      return TERM_FONT_C64_UPPER;
    case 33:
      return TERM_FONT_C64_LOWER;
    case 40:
      return TERM_FONT_TOPAZ_1200;
    case 42:
      return TERM_FONT_TOPAZ;
    default:
      return -1;
  }
}

int term_font_number(int font) {
  static constexpr int kNumbers[TERM_FONT_COUNT] = {0, 0, 40, 42, 32, 33};
  if (font == TERM_FONT_SESSION) font = term_session_font();
  return font > 0 && font < TERM_FONT_COUNT ? kNumbers[font] : 0;
}

int term_session_font() {
  const char* name = g_active_font;
  if (font_name_looks_topaz_1200_font(name)) return TERM_FONT_TOPAZ_1200;
  if (font_name_looks_topaz_amiga_font(name)) return TERM_FONT_TOPAZ;
  if (font_name_looks_c64(name))
    return font_name_looks_c64_lower_font_local(name) ? TERM_FONT_C64_LOWER : TERM_FONT_C64_UPPER;
  return TERM_FONT_CP437;
}

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
