// The menu's drawing primitives.
#include "menu/ui_draw.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "display/fonts.h"
#include "display/modes.h"
#include "platform/display.h"
#include "terminal/terminal.h"

namespace {

// The part of a bitmap glyph table the display draws its text with.
struct GlyphSource {
  const uint8_t* glyphs;
  int height;
  int scale;
};

GlyphSource text_glyphs(const UiContext* ui) {
  if (!ui->bitmap_text || !g_bitmap_font.valid) return {nullptr, 0, 0};
  int height = ui->bitmap_glyph_height > 0 ? ui->bitmap_glyph_height : g_bitmap_font.height;
  int scale = ui->bitmap_scale > 0 ? ui->bitmap_scale : g_bitmap_font.scale;
  if (height <= 0 || height > 16 || scale <= 0) return {nullptr, 0, 0};
  return {g_bitmap_font.glyphs, height, scale};
}

int inner_right(const UiContext* ui) {
  PlatWindowGeometry g = plat_window_geometry(ui->window);
  return g.width - g.border_right - 1;
}

// Text at a cell's top-left, one cell per byte: the bitmap font, else the
// system font on its baseline.
void cell_text(UiContext* ui, int x, int y, const char* text, int colour, int bg) {
  if (!text || !*text) return;
  GlyphSource src = text_glyphs(ui);
  if (src.glyphs) {
    ui_draw_bitmap_text_abs(ui, x, y, text, colour, bg);
    return;
  }
  if (!ui->font) return;
  plat_set_font(ui->rport, ui->font);
  plat_set_drmd(ui->rport, PLAT_JAM2);
  plat_set_apen(ui->rport, ui_pen(ui, colour));
  plat_set_bpen(ui->rport, ui_pen(ui, bg));
  plat_move(ui->rport, x, y + ui->baseline);
  plat_text(ui->rport, text, static_cast<int>(strlen(text)));
}

int clamp_fg(int colour) {
  if (colour < 0) return 7;
  return colour > 15 ? 15 : colour;
}

}  // namespace

// ------------------------------------------------------------------ basics --

bool ui_can_draw(const UiContext* ui) {
  return ui && ui->window && ui->rport;
}

int ui_pen(const UiContext* ui, int colour) {
  return ui->pens[(colour >= 0 && colour < 16) ? colour : 7];
}

void ui_set_pen(UiContext* ui, int colour) {
  if (!ui_can_draw(ui)) return;
  plat_set_apen(ui->rport, ui_pen(ui, colour));
}

void ui_fill(UiContext* ui, int x0, int y0, int x1, int y1, int colour) {
  if (!ui_can_draw(ui) || x1 < x0 || y1 < y0) return;
  plat_set_apen(ui->rport, ui_pen(ui, colour));
  plat_rect_fill(ui->rport, x0, y0, x1, y1);
}

void ui_restore_font(UiContext* ui) {
  if (!ui_can_draw(ui)) return;
  if (ui->font) plat_set_font(ui->rport, ui->font);
  plat_set_drmd(ui->rport, PLAT_JAM2);
}

int ui_cell_x(const UiContext* ui, int col) {
  int cw = ui->cell_w > 0 ? ui->cell_w : 10;
  return ui->origin_x + col * cw;
}

int ui_cell_y(const UiContext* ui, int row) {
  int ch = ui->cell_h > 0 ? ui->cell_h : 20;
  return ui->origin_y + row * ch + ui->top_bar_height;
}

// -------------------------------------------------------------- cell text --

int ui_text_left(const UiContext* ui) {
  int cw = ui->cell_w > 0 ? ui->cell_w : 10;
  return ui->origin_x + 8 + 2 * cw;
}

void ui_text(UiContext* ui, int row, const char* text, int colour) {
  ui_text_on(ui, row, text, colour, UI_BLACK);
}

void ui_text_on(UiContext* ui, int row, const char* text, int colour, int bg) {
  if (!ui_can_draw(ui)) return;
  cell_text(ui, ui_text_left(ui), ui_cell_y(ui, row), text, clamp_fg(colour), bg);
}

void ui_text_bg_cell(UiContext* ui, int row, int col, int width, const char* text, int colour,
                     int bg) {
  if (!ui_can_draw(ui) || width <= 0) return;
  int cw = ui->cell_w > 0 ? ui->cell_w : 10;
  int ch = ui->cell_h > 0 ? ui->cell_h : 20;
  int x0 = ui_cell_x(ui, col);
  int y0 = ui_cell_y(ui, row);
  int x1 = std::min(x0 + width * cw - 1, inner_right(ui));
  if (x1 < x0) return;
  ui_fill(ui, x0, y0, x1, y0 + ch - 1, bg);
  cell_text(ui, x0, y0, text, clamp_fg(colour), bg);
}

void ui_text_cell(UiContext* ui, int row) {
  static constexpr const char* kHint = "Escape returns to BBS.";
  ui_text_bg_cell(ui, row, 31, static_cast<int>(strlen(kHint)), kHint, UI_YELLOW, UI_BLACK);
}

void ui_draw_bitmap_text_abs(UiContext* ui, int x, int y, const char* text, int colour, int bg) {
  if (!ui_can_draw(ui) || !text) return;
  GlyphSource src = text_glyphs(ui);
  if (!src.glyphs) return;
  int cw = ui->cell_w > 0 ? ui->cell_w : 8 * src.scale;
  int ch = ui->cell_h > 0 ? ui->cell_h : src.height * src.scale;
  int fg_pen = ui_pen(ui, colour);
  int bg_pen = ui_pen(ui, bg);
  for (int i = 0; text[i]; i++) {
    int cx = x + i * cw;
    auto c = static_cast<uint8_t>(text[i]);
    ui_fill(ui, cx, y, cx + cw - 1, y + ch - 1, bg);
    if (c == 0x20 || c == 0x80 || c == 0xA0) continue;
    plat_draw_glyph(ui->rport, cx, y, src.glyphs + c * src.height, src.height, src.scale, fg_pen,
                    bg_pen);
  }
}

// ------------------------------------------------------------ dialog text --

int ui_dialog_cp437_scale(const UiContext* ui) {
  if (!ui) return 1;
  if (ui->fullscreen) return std::max(1, g_fullscreen_scale);
  if (ui->medium_window) return 2;
  return 1;
}

int ui_text_px(const UiContext* ui, const char* text) {
  return text ? static_cast<int>(strlen(text)) * 8 * ui_dialog_cp437_scale(ui) : 0;
}

void ui_dialog_text_abs(UiContext* ui, int x, int baseline_y, const char* text, int colour,
                        int bg) {
  if (!ui_can_draw(ui) || !text) return;
  int s = ui_dialog_cp437_scale(ui);
  int top = baseline_y - 15 * s;
  const uint8_t* glyphs = bitmap_font_cp437_16_glyphs();
  for (int i = 0; text[i]; i++) {
    int cx = x + i * 8 * s;
    auto c = static_cast<uint8_t>(text[i]);
    if (!glyphs || c == 0 || c == ' ') {
      ui_fill(ui, cx, top, cx + 8 * s - 1, top + 16 * s - 1, bg);
      continue;
    }
    plat_draw_glyph(ui->rport, cx, top, glyphs + c * 16, 16, s, ui_pen(ui, colour), ui_pen(ui, bg));
  }
}

void ui_dialog_text_centred(UiContext* ui, int x, int w, int baseline_y, const char* text,
                            int colour, int bg) {
  ui_dialog_text_abs(ui, x + (w - ui_text_px(ui, text)) / 2, baseline_y, text, colour, bg);
}

// ----------------------------------------------------------------- popups --

void ui_draw_beveled_box(UiContext* ui, int x0, int y0, int x1, int y1) {
  if (!ui_can_draw(ui)) return;
  ui_fill(ui, x0 + 4, y0 + 4, x1 + 4, y1 + 4, UI_DARK_GREY);
  ui_fill(ui, x0, y0, x1, y1, UI_GREY);
  ui_fill(ui, x0, y0, x1, y0 + 1, UI_WHITE);
  ui_fill(ui, x0, y0, x0 + 1, y1, UI_WHITE);
  ui_fill(ui, x0, y1 - 1, x1, y1, UI_DARK_GREY);
  ui_fill(ui, x1 - 1, y0, x1, y1, UI_DARK_GREY);
}

void ui_popup_place(const UiContext* ui, int w, int h, int* x, int* y) {
  PlatWindowGeometry g = plat_window_geometry(ui ? ui->window : nullptr);
  int inner_w = g.width - g.border_left - g.border_right;
  int inner_h = g.height - g.border_top - g.border_bottom;
  int left = g.border_left;
  int area_w = inner_w;
  if (ui && ui->fullscreen && font_name_looks_c64(g_active_font)) {
    area_w = 640 * ui_dialog_cp437_scale(ui);
    left = g.border_left + std::max(0, (inner_w - area_w) / 2);
  }
  int bx = left + (area_w - w) / 2;
  if (bx < g.border_left + 8) bx = g.border_left + 8;
  int by = inner_h - h > 15 ? g.border_top + (inner_h - h) / 2 : g.border_top + 8;
  if (x) *x = bx;
  if (y) *y = by;
}

// ---------------------------------------------------------------- top bar --

int ui_menu_status_cell_w(const UiContext* ui) {
  if (ui && ui->fullscreen) return 8 * std::max(1, g_fullscreen_scale);
  if (ui && ui->cell_w > 0) return ui->cell_w;
  return 10;
}

int ui_menu_status_cell_h(const UiContext* ui) {
  if (ui && ui->fullscreen) return 16 * std::max(1, g_fullscreen_scale);
  if (ui && ui->cell_h > 0) return ui->cell_h;
  if (ui && ui->font_height > 0) return ui->font_height;
  return 20;
}

int ui_menu_content_y_offset(const UiContext* ui) {
  return ui ? ui->top_bar_height : 0;
}

int ui_menu_status_bar_x0(const UiContext* ui) {
  int width = plat_window_inner_width(ui ? ui->window : nullptr);
  return std::max(0, (width - 80 * ui_menu_status_cell_w(ui)) / 2);
}

bool ui_menu_status_button_hit(const UiContext* ui, int x, int y) {
  if (!ui || !ui->fullscreen || ui->top_bar_height <= 0 || !g_runtime_top_bar_enabled) return false;
  int sw = ui_menu_status_cell_w(ui);
  int x0 = ui_menu_status_bar_x0(ui);
  return x >= x0 + 76 * sw && x < x0 + 80 * sw && y >= 0 && y < ui_menu_status_cell_h(ui);
}

void ui_draw_cp437_status_glyph_abs(UiContext* ui, int x, uint8_t ch) {
  if (!ui_can_draw(ui)) return;
  int s = ui->fullscreen ? std::max(1, g_fullscreen_scale) : 1;
  int right = inner_right(ui);
  if (x > right) return;
  const uint8_t* glyphs = bitmap_font_cp437_16_glyphs();
  if (!glyphs || ch == 0 || ch == ' ') {
    ui_fill(ui, x, 0, std::min(x + 8 * s - 1, right), 16 * s - 1, UI_WHITE);
    return;
  }
  plat_draw_glyph(ui->rport, x, 0, glyphs + ch * 16, 16, s, ui_pen(ui, UI_BLACK),
                  ui_pen(ui, UI_WHITE));
}

void ui_draw_cp437_status_text_abs(UiContext* ui, int x, const char* text) {
  if (!text) return;
  int step = 8 * (ui && ui->fullscreen ? std::max(1, g_fullscreen_scale) : 1);
  for (int i = 0; text[i]; i++)
    ui_draw_cp437_status_glyph_abs(ui, x + i * step, static_cast<uint8_t>(text[i]));
}

// ---------------------------------------------------------- whole screens --

void ui_clear_drawable_area_raw(UiContext* ui) {
  if (!ui_can_draw(ui)) return;
  PlatWindowGeometry g = plat_window_geometry(ui->window);
  ui_fill(ui, g.border_left, g.border_top, g.width - g.border_right - 1,
          g.height - g.border_bottom - 1, UI_BLACK);
}

int ui_draw_ansi_buffer(UiContext* ui, const uint8_t* bytes, size_t len) {
  if (!ui_can_draw(ui)) return 0;
  ui_clear_drawable_area_raw(ui);
  std::unique_ptr<Terminal> t(new (std::nothrow) Terminal);
  if (!t) return 0;
  term_init_record(t.get());
  if (term_attach_ui(t.get(), ui) != 0) return 0;
  // The terminal measures its origin for a grid; the menu's content sits
  // where the menu's cells are, below the top bar.
  t->top_bar = 0;
  t->origin_x = ui->origin_x;
  t->origin_y = ui->origin_y + ui->top_bar_height;
  t->reply_socket = -1;
  t->scrollback = nullptr;
  for (auto& row : t->cells)
    for (Cell& cell : row) cell = Cell{' ', 7, 0, 0};
  for (size_t i = 0; i < len; i++) term_consume_byte(t.get(), bytes[i]);
  ui_restore_font(ui);
  return 1;
}

void ui_underscore_cursor_cell(UiContext* ui, int row, int col) {
  if (!ui_can_draw(ui)) return;
  int cw = ui->cell_w > 0 ? ui->cell_w : 10;
  int ch = ui->cell_h > 0 ? ui->cell_h : 20;
  int x0 = ui_cell_x(ui, col);
  int y1 = ui_cell_y(ui, row) + ch - 1;
  int x1 = std::min(x0 + cw - 1, inner_right(ui));
  if (x1 < x0) return;
  ui_fill(ui, x0, y1 - 1, x1, y1, UI_WHITE);
}

void ui_put_entry_field(char* line, int col, int width, const char* text) {
  if (!line || !text || col < 0 || col >= kUiEntryLineLen || width <= 0) return;
  for (int i = 0; i < width && text[i] && col + i < kUiEntryLineLen; i++) line[col + i] = text[i];
}
