// The full-screen session status bar.
#include "display/statusbar.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "display/fonts.h"
#include "display/modes.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "terminal/terminal.h"
#include "util/text.h"
#include "util/version.h"

namespace {

constexpr int kBarCols = 80;
constexpr int kNameMax = 23;  // characters of the BBS name in the title
constexpr int kGrey = 7;
constexpr int kBlack = 0;

bool g_fixed_time_set = false;
std::tm g_fixed_time{};

// The bar as term_draw_session_status last painted it.  The terminal asks
// for the bar again after every scroll; while the window's watched
// rectangle (the bar) has not been drawn over and the bar would come out the
// same, the pixels are already there and painting them again would only
// double the drawing of a flood of text in full screen.
struct PaintedBar {
  const PlatWindow* window = nullptr;
  int x0 = 0, sw = 0, sh = 0;
  int grey_pen = -1, black_pen = -1;
  const uint8_t* glyphs = nullptr;
  char title[128] = {};
  char clock[kStatusTimeText + 8] = {};  // "CAP  " too
  // The second the texts were made in (-1: unknown); within it they depend
  // only on the terminal's status text and connect time.
  int64_t second = -1;
  char status_text[sizeof Terminal::status_text] = {};
  int64_t connect_start = 0;
  int capture = 0;
  char kind[16] = {};
};
PaintedBar g_painted;
int g_capture_flag = 0;
char g_link_kind[16] = {};

// Whether the bar would be painted at the same place, in the same pens and
// glyphs, for the same terminal texts as last time.
bool same_bar_as_painted(const Terminal* t, int x0, int sw, int sh, const uint8_t* glyphs) {
  const PaintedBar& p = g_painted;
  return p.window == t->rport && p.x0 == x0 && p.sw == sw && p.sh == sh &&
         p.grey_pen == t->pens[kGrey] && p.black_pen == t->pens[kBlack] && p.glyphs == glyphs &&
         p.connect_start == t->connect_start && p.capture == g_capture_flag &&
         strcmp(p.kind, g_link_kind) == 0 &&
         memcmp(p.status_text, t->status_text, sizeof p.status_text) == 0;
}

int status_scale() {
  return std::max(1, g_fullscreen_scale);
}

bool bar_can_draw(const Terminal* t) {
  return t && t->top_bar && term_can_draw(t);
}

int pen_of(const Terminal* t, int index) {
  return t->pens[(index >= 0 && index < 16) ? index : 7];
}

void fill(Terminal* t, int index, int x1, int y1, int x2, int y2) {
  if (x2 < x1 || y2 < y1) return;
  plat_set_apen(t->rport, pen_of(t, index));
  plat_rect_fill(t->rport, x1, y1, x2, y2);
}

// A 2-pixel black outline inside the rectangle's corners.
void outline(Terminal* t, int x1, int y1, int x2, int y2) {
  fill(t, kBlack, x1, y1, x2, y1 + 1);
  fill(t, kBlack, x1, y2 - 1, x2, y2);
  fill(t, kBlack, x1, y1, x1 + 1, y2);
  fill(t, kBlack, x2 - 1, y1, x2, y2);
}

// One bar cell: grey, with the glyph's set pixels as s x s squares in black.
// glyphs null: the glyph file is missing and the cell stays grey.
void draw_status_glyph(Terminal* t, const uint8_t* glyphs, int x, int y, uint8_t ch) {
  int s = status_scale();
  if (!glyphs || ch == 0 || ch == ' ') {
    fill(t, kGrey, x, y, x + 8 * s - 1, y + 16 * s - 1);
    return;
  }
  plat_draw_glyph(t->rport, x, y, glyphs + ch * 16, 16, s, pen_of(t, kBlack), pen_of(t, kGrey));
}

void draw_status_run(Terminal* t, int x, int y, const char* text, int len) {
  if (!text || len <= 0) return;
  const uint8_t* glyphs = bitmap_font_cp437_16_glyphs();
  int step = 8 * status_scale();
  for (int i = 0; i < len; i++)
    draw_status_glyph(t, glyphs, x + i * step, y, static_cast<uint8_t>(text[i]));
}

// The text before the connected time: "Kavel v0.20 - Connected to NAME for ".
// Over SSH, TLS or RLogin the kind follows the name: "... to NAME (SSH) for ".
void title_prefix(const Terminal* t, char* out, size_t cap) {
  const char* name = t && t->status_text[0] ? t->status_text : kProgramName;
  if (g_link_kind[0])
    snprintf(out, cap, "%s v%s - Connected to %.*s (%s) for ", kProgramName, kProgramVersion,
             kNameMax, name, g_link_kind);
  else
    snprintf(out, cap, "%s v%s - Connected to %.*s for ", kProgramName, kProgramVersion, kNameMax,
             name);
}

int effective_fg_index(const Terminal* t) {
  return (t->bold && t->fg <= 7) ? t->fg + 8 : t->fg;
}

// Puts back what the cell renderer expects of the drawing port.
void restore_drawing_state(Terminal* t) {
  int fg = effective_fg_index(t);
  int bg = t->reverse ? fg : t->bg;
  plat_set_font(t->rport, t->font);
  plat_set_apen(t->rport, pen_of(t, fg & 15));
  plat_set_bpen(t->rport, pen_of(t, bg & 15));
  plat_set_drmd(t->rport, PLAT_JAM2);
}

}  // namespace

// ----------------------------------------------------------------- metrics --

int term_session_status_cell_w(const Terminal* t) {
  if (t && t->fullscreen && t->top_bar) return 8 * status_scale();
  return t && t->cell_w > 0 ? t->cell_w : 10;
}

int term_session_status_cell_h(const Terminal* t) {
  if (t && t->fullscreen && t->top_bar) return 16 * status_scale();
  return t && t->cell_h > 0 ? t->cell_h : 20;
}

int term_session_status_x0(const Terminal* t) {
  if (!t) return 0;
  if (t->fullscreen) {
    int width = plat_window_inner_width(t->window);
    return std::max(0, (width - kBarCols * term_session_status_cell_w(t)) / 2);
  }
  return t->origin_x;
}

// ------------------------------------------------------------------- texts --

void term_connected_duration_string(const Terminal* t, char out[kStatusTimeText]) {
  int64_t start = t ? t->connect_start : 0;
  int64_t now = clock_epoch_seconds();
  // Unsigned: a start far in the past must not overflow the subtraction.
  uint64_t secs =
      (start == 0 || start > now) ? 0 : static_cast<uint64_t>(now) - static_cast<uint64_t>(start);
  // Room for any hour count; the text handed out is cut to its capacity.
  char text[32];
  snprintf(text, sizeof text, "%02lu:%02lu:%02lu", static_cast<unsigned long>(secs / 3600),
           static_cast<unsigned long>(secs / 60 % 60), static_cast<unsigned long>(secs % 60));
  safe_copy(out, kStatusTimeText, text);
}

void format_time_12(const std::tm* tm, char out[kStatusTimeText]) {
  if (!tm) {
    snprintf(out, kStatusTimeText, "--:-- --");
    return;
  }
  int hour = tm->tm_hour % 12;
  if (hour == 0) hour = 12;
  snprintf(out, kStatusTimeText, "%d:%02d %s", hour, tm->tm_min, tm->tm_hour < 12 ? "AM" : "PM");
}

void current_time_12_string(char out[kStatusTimeText]) {
  if (g_fixed_time_set) {
    format_time_12(&g_fixed_time, out);
    return;
  }
  std::tm now{};
  format_time_12(clock_local_time(&now) ? &now : nullptr, out);
}

void term_status_set_capture(Terminal* t, int on) {
  g_capture_flag = on ? 1 : 0;
  if (t) term_draw_session_status(t);
}

void term_status_set_link_kind(const char* label) {
  snprintf(g_link_kind, sizeof g_link_kind, "%s", label ? label : "");
}

int term_status_capture() {
  return g_capture_flag;
}

void statusbar_test_set_local_time(const std::tm* tm) {
  g_fixed_time_set = tm != nullptr;
  if (tm) g_fixed_time = *tm;
}

void term_session_status_title(const Terminal* t, char* out, size_t cap) {
  if (!out || cap == 0) return;
  char prefix[96];
  char elapsed[kStatusTimeText];
  title_prefix(t, prefix, sizeof prefix);
  term_connected_duration_string(t, elapsed);
  snprintf(out, cap, "%s%s", prefix, elapsed);
}

// ----------------------------------------------------------------- drawing --

void term_draw_cp437_status_glyph_abs(Terminal* t, int x, int y, uint8_t ch) {
  if (!bar_can_draw(t)) return;
  char c = static_cast<char>(ch);
  draw_status_run(t, x, y, &c, 1);
}

void term_draw_cp437_status_text(Terminal* t, int x, int y, const char* text, int len) {
  if (!bar_can_draw(t)) return;
  draw_status_run(t, x, y, text, len);
}

void term_draw_session_status(Terminal* t) {
  if (!bar_can_draw(t)) return;
  int sw = term_session_status_cell_w(t);
  int sh = term_session_status_cell_h(t);
  int x0 = term_session_status_x0(t);
  int xend = x0 + kBarCols * sw;
  const uint8_t* glyphs = bitmap_font_cp437_16_glyphs();

  // Already on screen, and nothing drawn over it since?
  const bool same = plat_watch_intact(t->rport) && same_bar_as_painted(t, x0, sw, sh, glyphs);
  const int64_t second = clock_epoch_seconds();
  if (same && !g_fixed_time_set && second == g_painted.second) {
    restore_drawing_state(t);
    return;
  }
  char title[128];
  char clock[kStatusTimeText + 8];
  term_session_status_title(t, title, sizeof title);
  current_time_12_string(clock);
  if (g_capture_flag) {
    char with_flag[sizeof clock + 8];
    snprintf(with_flag, sizeof with_flag, "CAP  %s", clock);
    safe_copy(clock, sizeof clock, with_flag);
  }
  // The texts belong to this second only if it did not end while they were
  // made.
  const int64_t made_in = clock_epoch_seconds() == second ? second : -1;
  if (same && strcmp(title, g_painted.title) == 0 && strcmp(clock, g_painted.clock) == 0) {
    g_painted.second = made_in;
    restore_drawing_state(t);
    return;
  }
  int clock_len = static_cast<int>(strlen(clock));
  int title_len = static_cast<int>(strlen(title));

  // The clock sits at the right end and is never cut; the title gives way.
  int cx = xend - 3 * sw - clock_len * sw;
  int tx = x0 + sw;
  int room = cx - tx - sw;
  int shown = title_len;
  if (title_len * sw > room) shown = room > 0 ? room / sw : 0;

  fill(t, kGrey, x0, 0, xend - 1, sh - 1);
  draw_status_run(t, tx, 0, title, shown);
  draw_status_run(t, cx, 0, clock, clock_len);

  // The depth icon: a separator, then a back and a front window outline.
  int w3 = 3 * sw;
  int e = tx + 75 * sw + (sw + 1) + (w3 - w3 / 2) / 2;
  fill(t, kBlack, e - 2, 2, e - 1, sh - 3);
  outline(t, e + w3 / 12, sh / 5, e + w3 / 2 - w3 / 10, sh - sh / 4);
  fill(t, kGrey, e + w3 / 8 + 1, sh / 3, e + w3 / 2, sh - 2);
  outline(t, e + w3 / 8 + 1, sh / 3, e + w3 / 2, sh - 2);

  PaintedBar& p = g_painted;
  p.window = t->rport;
  p.x0 = x0;
  p.sw = sw;
  p.sh = sh;
  p.grey_pen = t->pens[kGrey];
  p.black_pen = t->pens[kBlack];
  p.glyphs = glyphs;
  safe_copy(p.title, sizeof p.title, title);
  safe_copy(p.clock, sizeof p.clock, clock);
  p.second = made_in;
  memcpy(p.status_text, t->status_text, sizeof p.status_text);
  p.connect_start = t->connect_start;
  p.capture = g_capture_flag;
  snprintf(p.kind, sizeof p.kind, "%s", g_link_kind);
  plat_watch_rect(t->rport, x0, 0, xend - 1, sh - 1);
  restore_drawing_state(t);
}

void term_draw_session_elapsed_status(Terminal* t) {
  if (!bar_can_draw(t)) return;
  int sw = term_session_status_cell_w(t);
  int x0 = term_session_status_x0(t);
  // The session asks after every read: within the second the whole bar was
  // painted in, the time it shows is the time this would draw, in the same
  // cells.
  if (plat_watch_intact(t->rport) &&
      same_bar_as_painted(t, x0, sw, term_session_status_cell_h(t),
                          bitmap_font_cp437_16_glyphs()) &&
      clock_epoch_seconds() == g_painted.second) {
    restore_drawing_state(t);
    return;
  }

  char prefix[96];
  char elapsed[kStatusTimeText];
  title_prefix(t, prefix, sizeof prefix);
  term_connected_duration_string(t, elapsed);
  int p = static_cast<int>(strlen(prefix));
  // Normally "HH:MM:SS"; after 100 hours the text grows, and all of it is
  // redrawn so that its last digits keep moving.
  int len = static_cast<int>(strlen(elapsed));

  bool c64_80 = font_name_looks_c64(g_active_font) && c64_font_uses_80_columns(g_active_font);
  int right = x0 + (c64_80 ? 67 : 69) * sw;
  int room = right - x0 - 2 * sw;
  int n = len;
  if ((p + len) * sw > room) {
    if (p * sw > room) return;
    n = std::min(room / sw - p, len);
    if (n < 1) return;
  }
  draw_status_run(t, x0 + sw + p * sw, 0, elapsed, n);
  restore_drawing_state(t);
}
