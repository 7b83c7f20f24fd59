// Dialog boxes over the terminal: metrics, centring, the beveled box, CP437
// text, the yes/no confirm with its own small event loop, and the
// "Disconnected" notice.
#include "transfer/dialogs.h"

#include <algorithm>
#include <cstring>

#include "display/fonts.h"
#include "display/modes.h"
#include "display/renderer.h"
#include "display/surface.h"
#include "platform/display.h"
#include "terminal/terminal.h"

namespace {

enum : int {
  kBlack = 0,
  kBlue = 1,
  kGrey = 7,
  kDarkGrey = 8,
  kWhite = 15,
};

constexpr const char* kDefaultQuestion = "Continue?";

// The pen of a palette index, with indices outside 0..15 in the pen of 7 as
// term_fill_rect draws them.
int pen_of(const Terminal* t, int index) {
  return t->pens[(index >= 0 && index < 16) ? index : 7];
}

// One glyph cell from a glyph table (null: the CP437 file is missing).
void draw_glyph_cell(Terminal* t, const uint8_t* glyphs, int x, int y, uint8_t ch, int fg, int bg,
                     int scale) {
  if (scale < 1) scale = 1;
  term_fill_rect(t, x, y, x + 8 * scale - 1, y + 16 * scale - 1, bg);
  if (!glyphs || ch == 0x00 || ch == 0x20 || !term_can_draw(t)) return;
  plat_draw_glyph(t->rport, x, y, glyphs + ch * 16, 16, scale, pen_of(t, fg), -1);
}

// A text centred in a box of width w starting at x.
void centred_text(Terminal* t, int x, int w, int baseline_y, const char* text, int fg, int bg) {
  term_dialog_text_bg(t, x + (w - text_px(t, text)) / 2, baseline_y, text, fg, bg);
}

bool box_can_draw(const Terminal* t) {
  return t && t->window && t->rport;
}

const char* question_or_default(const char* question) {
  return question && *question ? question : kDefaultQuestion;
}

}  // namespace

// ------------------------------------------------------------------ metrics --

int term_dialog_cp437_scale(const Terminal* t) {
  if (!t) return 1;
  if (t->fullscreen) return std::max(1, g_fullscreen_scale);
  if (t->medium_window) return 2;
  return 1;
}

int term_dialog_cell_w(const Terminal* t) {
  return 8 * term_dialog_cp437_scale(t);
}
int term_dialog_cell_h(const Terminal* t) {
  return 16 * term_dialog_cp437_scale(t);
}
int term_dialog_baseline(const Terminal* t) {
  return 15 * term_dialog_cp437_scale(t);
}

int text_px(const Terminal* t, const char* text) {
  return text ? static_cast<int>(strlen(text)) * term_dialog_cell_w(t) : 0;
}

// ------------------------------------------------------------------ placing --

void term_center_dialog_box(Terminal* t, int width, int height, int* x, int* y) {
  int area_w = t ? term_visible_cols(t) * t->cell_w : 0;
  int area_h = t ? kTermRows * t->cell_h : 0;
  int ox = t ? t->origin_x : 0;
  int oy = t ? t->origin_y : 0;
  PlatWindowGeometry g = plat_window_geometry(t ? t->window : nullptr);
  int bx = ox + (area_w - width) / 2;
  int by = oy + (area_h - height) / 2;
  // A box larger than the grid stays clear of the window's edge.
  if (bx <= g.border_left + 3) bx = g.border_left + 4;
  if (by <= g.border_top + 3) by = g.border_top + 4;
  if (x) *x = bx;
  if (y) *y = by;
}

void term_clamp_transfer_dialog_box(Terminal* t, int* x, int* y) {
  PlatWindowGeometry g = plat_window_geometry(t ? t->window : nullptr);
  if (x && g.border_left + 7 >= *x) *x = g.border_left + 8;
  if (y && g.border_top + 7 >= *y) *y = g.border_top + 8;
}

// ------------------------------------------------------------------ drawing --

void draw_beveled_box(Terminal* t, int x1, int y1, int x2, int y2) {
  if (!t || !t->rport) return;
  term_fill_rect(t, x1 + 4, y1 + 4, x2 + 4, y2 + 4, kDarkGrey);
  term_fill_rect(t, x1, y1, x2, y2, kGrey);
  term_fill_rect(t, x1, y1, x2, y1 + 1, kWhite);
  term_fill_rect(t, x1, y1, x1 + 1, y2, kWhite);
  term_fill_rect(t, x1, y2 - 1, x2, y2, kDarkGrey);
  term_fill_rect(t, x2 - 1, y1, x2, y2, kDarkGrey);
}

void term_draw_cp437_dialog_glyph_abs(Terminal* t, int x, int y, uint8_t ch, int fg, int bg,
                                      int scale) {
  if (!t) return;
  draw_glyph_cell(t, bitmap_font_cp437_16_glyphs(), x, y, ch, fg, bg, scale);
}

void term_dialog_text_bg(Terminal* t, int x, int baseline_y, const char* text, int fg, int bg) {
  if (!t || !text || !*text) return;
  int s = term_dialog_cp437_scale(t);
  int top = baseline_y - 15 * s;
  const uint8_t* glyphs = bitmap_font_cp437_16_glyphs();
  int step = 8 * s;
  for (int i = 0; text[i]; i++)
    draw_glyph_cell(t, glyphs, x + i * step, top, static_cast<uint8_t>(text[i]), fg, bg, s);
}

void term_dialog_text(Terminal* t, int x, int baseline_y, const char* text, int fg) {
  term_dialog_text_bg(t, x, baseline_y, text, fg, kGrey);
}

// ------------------------------------------------------------------ yes / no --

void term_yes_no_box_rect(Terminal* t, int* x, int* y, int* width, int* height) {
  term_update_origin(t);
  int w = std::max(20 * term_dialog_cell_w(t), 168);
  int h = std::max(5 * term_dialog_cell_h(t), 72);
  term_center_dialog_box(t, w, h, x, y);
  if (width) *width = w;
  if (height) *height = h;
}

void term_draw_yes_no_confirm(Terminal* t, const char* question, int selection) {
  if (!box_can_draw(t)) return;
  int x = 0, y = 0, w = 0, h = 0;
  term_yes_no_box_rect(t, &x, &y, &w, &h);
  int cw = term_dialog_cell_w(t);
  int ch = term_dialog_cell_h(t);
  int bl = term_dialog_baseline(t);

  draw_beveled_box(t, x, y, x + w - 1, y + h - 1);
  centred_text(t, x, w, y + bl + 5, "Info", kBlue, kGrey);
  centred_text(t, x, w, y + 2 * ch + bl - 3, question_or_default(question), kBlack, kGrey);

  int top = y + 3 * ch + 3;
  int bottom = top + ch + 1;
  int m = x + w / 2;
  int half = cw / 2;
  struct Button {
    const char* label;
    int x1, x2;
    bool selected;
  };
  const Button buttons[2] = {
      {"YES", m - 5 * cw - half, m - half - 1, selection != 0},
      {"NO", m + half, m + half + 5 * cw - 1, selection == 0},
  };
  for (const Button& b : buttons) {
    if (b.selected) term_fill_rect(t, b.x1, top, b.x2, bottom, kBlue);
    centred_text(t, b.x1, 5 * cw, top + bl + 1, b.label, b.selected ? kWhite : kBlue,
                 b.selected ? kBlue : kGrey);
  }
}

int term_confirm_yes_no(Terminal* t, const char* question) {
  if (!t || !t->window) return 0;
  const char* q = question_or_default(question);
  int selection = 1;
  term_hide_cursor(t);
  term_draw_yes_no_confirm(t, q, selection);

  int answer = -1;
  while (answer < 0) {
    PlatEvent ev;
    if (!plat_get_event(t->window, &ev)) {
      plat_wait_event(t->window, -1);
      continue;
    }
    int previous = selection;
    switch (ev.cls) {
      case PLAT_EV_CLOSE:
        answer = 1;
        break;
      case PLAT_EV_REFRESH:
        plat_begin_refresh(t->window);
        if (!t->drawing_suppressed) term_redraw_all(t);
        term_draw_yes_no_confirm(t, q, selection);
        plat_end_refresh(t->window);
        break;
      case PLAT_EV_VANILLAKEY:
        switch (ev.code) {
          case '\r':
          case '\n':
            answer = selection;
            break;
          case 'y':
          case 'Y':
            answer = 1;
            break;
          case 'n':
          case 'N':
          case 27:
            answer = 0;
            break;
          default:
            break;
        }
        break;
      case PLAT_EV_RAWKEY:
        if (ev.code & PLAT_KEY_UP) break;
        switch (ev.code) {
          case RAWKEY_UP:
          case RAWKEY_LEFT:
            selection = 1;
            break;
          case RAWKEY_DOWN:
          case RAWKEY_RIGHT:
            selection = 0;
            break;
          case RAWKEY_RETURN:
          case RAWKEY_KP_ENTER:
            answer = selection;
            break;
          case RAWKEY_ESCAPE:
            answer = 0;
            break;
          default:
            break;
        }
        break;
      default:
        break;
    }
    if (answer < 0 && selection != previous) term_draw_yes_no_confirm(t, q, selection);
  }

  if (!t->drawing_suppressed) term_redraw_all(t);
  term_show_cursor(t);
  return answer;
}

// -------------------------------------------------------------- disconnected --

void term_disconnected_box_rect(Terminal* t, int* x, int* y, int* width, int* height) {
  term_update_origin(t);
  int w = std::max(20 * term_dialog_cell_w(t), 176);
  int h = std::max(5 * term_dialog_cell_h(t), 72);
  term_center_dialog_box(t, w, h, x, y);
  if (width) *width = w;
  if (height) *height = h;
}

void term_draw_disconnected_notice(Terminal* t) {
  if (!box_can_draw(t)) return;
  int x = 0, y = 0, w = 0, h = 0;
  term_disconnected_box_rect(t, &x, &y, &w, &h);
  int ch = term_dialog_cell_h(t);
  int bl = term_dialog_baseline(t);
  draw_beveled_box(t, x, y, x + w - 1, y + h - 1);
  centred_text(t, x, w, y + bl + 5, "Info", kBlue, kGrey);
  centred_text(t, x, w, y + 2 * ch + bl - 3, "Disconnected", kBlack, kGrey);
  centred_text(t, x, w, y + 3 * ch + bl + 3, "Press any key", kBlue, kGrey);
}
