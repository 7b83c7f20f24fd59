// The scrollback viewer window.
#include "scrollback/viewer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "display/renderer.h"
#include "phonebook/private_file.h"
#include "platform/clipboard.h"
#include "platform/clipboard_text.h"
#include "platform/dos.h"
#include "platform/keymap.h"
#include "util/charset.h"
#include "util/text.h"

void (*g_scrollback_viewer_opened)(ScrollbackViewer* v) = nullptr;

namespace {

constexpr int kLineChars = 80;
constexpr int kTextLeft = 2;  // the text area starts 2 pixels right of the border
constexpr int kGreen = 10;    // the header: light green on black
constexpr int kGrey = 7;
constexpr int kWhite = 15;
constexpr int kBrown = 6;
constexpr int kMinWidth = 320;
constexpr int kMinHeight = 200;

std::string g_temp_dir;

int cell_w(const ScrollbackViewer* v) {
  return v->view->cell_w > 0 ? v->view->cell_w : 8;
}
int cell_h(const ScrollbackViewer* v) {
  return v->view->cell_h;
}
int inner_w(const ScrollbackViewer* v) {
  return plat_window_inner_width(v->window);
}
int band_top(const ScrollbackViewer* v, int band) {
  return 1 + band * cell_h(v);
}
// The right edge of a band: 80 cells from the text area's left, cut at the
// window's inner right border.
int band_right(const ScrollbackViewer* v) {
  return std::min(kTextLeft + kLineChars * cell_w(v) - 1, inner_w(v) - 1);
}

bool c64_view(const ScrollbackViewer* v) {
  return v->view->bitmap_renderer && v->view->bitmap_kind == BITMAP_KIND_C64;
}

// Text at a cell top in the viewer's font: a glyph per byte with the bitmap
// font, else the system font's two-pen text.
void draw_text(ScrollbackViewer* v, int x, int y, const char* text, int len, int fg, int bg) {
  if (len <= 0) return;
  Terminal* view = v->view.get();
  if (view->bitmap_renderer) {
    for (int i = 0; i < len; i++)
      term_draw_bitmap_glyph_abs(view, x + i * cell_w(v), y, static_cast<uint8_t>(text[i]), fg, bg);
    return;
  }
  if (!view->font) return;
  plat_set_font(v->window, view->font);
  plat_set_apen(v->window, view->pens[fg & 15]);
  plat_set_bpen(v->window, view->pens[bg & 15]);
  plat_set_drmd(v->window, PLAT_JAM2);
  plat_move(v->window, x, y + view->baseline);
  plat_text(v->window, text, len);
}

void fill(ScrollbackViewer* v, int x0, int y0, int x1, int y1, int colour) {
  plat_set_apen(v->window, v->view->pens[colour & 15]);
  plat_rect_fill(v->window, x0, y0, x1, y1);
}

void draw_header(ScrollbackViewer* v) {
  char header[128];
  if (!v->message[0]) {
    snprintf(header, sizeof header, "%s %d/%d  Drag mouse to copy. Escape closes.",
             c64_view(v) ? "Kavel C64/PETSCII buffer" : "Kavel scrollback", v->top + 1,
             v->text.total);
  } else {
    snprintf(header, sizeof header, "Kavel scrollback %d/%d  %s", v->top + 1, v->text.total,
             v->message);
  }
  int len = static_cast<int>(strlen(header));
  if (c64_view(v)) {
    // The C64 glyphs are PETSCII pictures: the header's letters go through
    // the set on screen so that they read as letters.
    bool lower = v->term && v->term->petscii_lower;
    for (int i = 0; i < len; i++) {
      int b = unicode_to_petscii(static_cast<uint8_t>(header[i]), lower);
      header[i] = static_cast<char>(b < 0 ? ' ' : b);
    }
  }
  int y = band_top(v, 0);
  fill(v, kTextLeft, y, band_right(v), y + cell_h(v) - 1, 0);
  int fit = std::min(len, (inner_w(v) - kTextLeft) / cell_w(v));
  draw_text(v, kTextLeft, y, header, fit, kGreen, 0);
}

int line_len(const ScrollbackViewer* v, int line) {
  return static_cast<int>(strnlen(v->text.lines[line], kLineChars));
}

// The selected columns of a line under a given selection.
void span_of(const ScrollbackViewer* v, const ScrollbackSelection& sel, int line, int* from,
             int* to) {
  *from = *to = 0;
  if (!sel.active || line < 0 || line >= v->text.total) return;
  int sl, sc, el, ec;
  scrollback_selection_bounds(&sel, &sl, &sc, &el, &ec);
  if (line < sl || line > el) return;
  int len = line_len(v, line);
  int a = line == sl ? sc : 0;
  int b = line == el ? ec : len;
  a = std::clamp(a, 0, len);
  b = std::clamp(b, 0, len);
  if (b > a) {
    *from = a;
    *to = b;
  }
}

long row_pixels(const ScrollbackViewer* v) {
  return static_cast<long>(band_right(v) - kTextLeft + 1) * cell_h(v);
}

void write_temp_file(ScrollbackViewer* v) {
  // The scratch file is the session's text: private, and in the user's
  // runtime directory rather than beside the program (an installed data
  // directory is not the user's to write).
  std::string dir = g_temp_dir.empty() ? dos_scratch_dir() : g_temp_dir;
  std::string path;
  int fd = create_private_temp_file(dir.c_str(), "kavel_scrollback.", &path, ".tmp");
  if (fd < 0) return;  // the viewer does not need the file
  FILE* f = fdopen(fd, "w");
  if (!f) {
    close(fd);
    unlink(path.c_str());
    return;
  }
  for (int i = 0; i < v->text.total; i++) fprintf(f, "%s\n", v->text.lines[i]);
  fclose(f);
  v->temp_path = path;
}

void release(ScrollbackViewer* v) {
  if (v->window) {
    plat_close_window(v->window);
    v->window = nullptr;
  }
  if (v->sys_font) {
    plat_close_font(v->sys_font);
    v->sys_font = nullptr;
  }
  if (v->font_changed && v->saved_font) g_bitmap_font = *v->saved_font;
  v->font_changed = false;
  if (!v->temp_path.empty()) {
    unlink(v->temp_path.c_str());
    v->temp_path.clear();
  }
  v->text.lines.reset();
  v->text.total = 0;
  v->view.reset();
  v->saved_font.reset();
}

// The drawing font: the terminal's own in its Topaz and C64 modes, else the
// CP437 glyphs of the normal window, else the system text font.
void choose_font(ScrollbackViewer* v) {
  Terminal* view = v->view.get();
  const Terminal* t = v->term;
  if (t->bitmap_renderer && t->bitmap_kind != BITMAP_KIND_CP437 &&
      t->bitmap_kind != BITMAP_KIND_NONE && g_bitmap_font.valid)
    return;
  if (bitmap_font_load("cp437.f16", 16, 1)) {
    v->font_changed = true;
    view->bitmap_renderer = 1;
    view->bitmap_kind = BITMAP_KIND_CP437;
    view->bitmap_glyph_height = 16;
    view->bitmap_scale = 1;
    view->cell_w = 8;
    view->cell_h = 16;
    view->baseline = 15;
    view->font = nullptr;
    return;
  }
  g_bitmap_font = *v->saved_font;
  int flag = 0;
  v->sys_font = open_ui_font(&flag);
  view->bitmap_renderer = 0;
  view->font = v->sys_font;
  int w = 0, h = 0, b = 0;
  ui_metrics_from_font(v->sys_font, &w, &h, &b);
  view->cell_w = w;
  view->cell_h = h;
  view->baseline = b;
}

bool open_window(ScrollbackViewer* v) {
  const Terminal* t = v->term;
  PlatWindowSpec spec;
  spec.title = "Kavel Scrollback";
  if (t->screen) {
    spec.screen = t->screen;
    spec.left = 0;
    spec.top = 0;
    spec.inner_width = std::max(plat_screen_width(t->screen), kMinWidth);
    spec.inner_height = std::max(plat_screen_height(t->screen), kMinHeight);
    spec.borderless = true;
  } else {
    PlatWindowGeometry g = plat_window_geometry(t->window);
    spec.left = std::max(g.left, 0);
    spec.top = std::max(g.top, 0);
    spec.inner_width = std::max(plat_window_inner_width(t->window), kMinWidth);
    spec.inner_height = std::max(plat_window_inner_height(t->window), kMinHeight);
  }
  v->window = plat_open_window(spec);
  if (!v->window) return false;
  v->view->window = v->window;
  v->view->rport = v->window;
  plat_activate_window(v->window);
  return true;
}

int visible_rows_for(const ScrollbackViewer* v) {
  int ch = cell_h(v);
  if (ch <= 0) return 20;
  int h = plat_window_inner_height(v->window);
  return h >= 4 * ch ? h / ch - 2 : 3;
}

int last_top(const ScrollbackViewer* v) {
  return v->text.total > v->visible_rows ? v->text.total - v->visible_rows : 0;
}

void scroll_to(ScrollbackViewer* v, int top) {
  v->top = std::clamp(top, 0, std::max(0, v->text.total - 1));
  // A scroll ends a drag under way; a copied selection stays shown (it
  // belongs to its lines and scrolls with them).
  if (v->dragging) {
    v->sel.active = false;
    v->dragging = false;
  }
  scrollback_window_redraw_view(v);
}

void copy_selection(ScrollbackViewer* v) {
  std::string text;
  bool ok = scrollback_selection_text(v, &text) &&
            clipboard_write_text(reinterpret_cast<const uint8_t*>(text.data()), text.size()) == 0;
  safe_copy(v->message, sizeof v->message, ok ? "Copied selection." : "Clipboard copy failed.");
}

// A cursor position from the mouse: the column after the character under it.
bool cursor_at(const ScrollbackViewer* v, int x, int y, int* line, int* col) {
  int l, c;
  if (!scrollback_mouse_to_pos(v, x, y, &l, &c)) return false;
  *line = l;
  *col = std::min(c + 1, kLineChars);
  return true;
}

int handle_key(ScrollbackViewer* v, uint16_t code, uint16_t qualifier) {
  if (code & PLAT_KEY_UP) return 0;
  bool shift = (qualifier & (PLAT_QUAL_LSHIFT | PLAT_QUAL_RSHIFT)) != 0;
  switch (keymap_page_key(code)) {
    case KEYMAP_PAGE_UP:
      scroll_to(v, std::max(0, v->top - v->visible_rows));
      return 0;
    case KEYMAP_PAGE_DOWN: {
      int top = v->top + v->visible_rows;
      if (top + v->visible_rows > v->text.total) top = last_top(v);
      scroll_to(v, top);
      return 0;
    }
    case KEYMAP_PAGE_HOME:
      scroll_to(v, 0);
      return 0;
    case KEYMAP_PAGE_END:
      scroll_to(v, last_top(v));
      return 0;
    case KEYMAP_PAGE_NONE:
      break;
  }
  switch (code) {
    case RAWKEY_ESCAPE:
      return 1;
    case RAWKEY_UP:
    case RAWKEY_WHEEL_UP:
      if (v->top > 0) scroll_to(v, v->top - 1);
      return 0;
    case RAWKEY_DOWN:
    case RAWKEY_WHEEL_DOWN:
      if (v->top + v->visible_rows < v->text.total) scroll_to(v, v->top + 1);
      return 0;
    case RAWKEY_LEFT:
      if (shift) scroll_to(v, 0);
      return 0;
    case RAWKEY_RIGHT:
      if (shift) scroll_to(v, last_top(v));
      return 0;
    default:
      return 0;
  }
}

}  // namespace

// ---------------------------------------------------------------- the text --

void scrollback_collect_append(ScrollbackText* text, const char* line) {
  if (!text->lines) return;
  if (text->total == kScrollbackViewerLines) {
    memmove(&text->lines[0], &text->lines[1],
            (kScrollbackViewerLines - 1) * sizeof(ScrollbackLine));
    text->total--;
  }
  safe_copy(text->lines[text->total], kScrollbackLineBytes, line);
  text->total++;
}

int scrollback_collect(ScrollbackText* text, const Terminal* t) {
  text->lines.reset(new (std::nothrow) ScrollbackLine[kScrollbackViewerLines]());
  text->total = 0;
  if (!text->lines) return -1;
  const ScrollbackRing* ring = t->scrollback;
  if (ring && ring->lines) {
    for (int i = 0; i < ring->count; i++)
      scrollback_collect_append(text, ring->lines[(ring->start + i) % kScrollbackLines]);
  }
  char row[kScrollbackLineBytes];
  for (int r = 0; r < kTermRows; r++) {
    cell_row_to_text(t->cells[r], row);
    scrollback_collect_append(text, row);
  }
  return 0;
}

void scrollback_selection_bounds(const ScrollbackSelection* sel, int* start_line, int* start_col,
                                 int* end_line, int* end_col) {
  bool cursor_first = sel->cursor_line < sel->anchor_line ||
                      (sel->cursor_line == sel->anchor_line && sel->cursor_col < sel->anchor_col);
  if (cursor_first) {
    *start_line = sel->cursor_line;
    *start_col = sel->cursor_col;
    *end_line = sel->anchor_line;
    *end_col = sel->anchor_col;
  } else {
    *start_line = sel->anchor_line;
    *start_col = sel->anchor_col;
    *end_line = sel->cursor_line;
    *end_col = sel->cursor_col;
  }
}

void scrollback_selected_span(const ScrollbackViewer* v, int line, int* from, int* to) {
  span_of(v, v->sel, line, from, to);
}

bool scrollback_selection_text(const ScrollbackViewer* v, std::string* out) {
  out->clear();
  int sl, sc, el, ec;
  scrollback_selection_bounds(&v->sel, &sl, &sc, &el, &ec);
  sl = std::max(sl, 0);
  el = std::min(el, v->text.total - 1);
  if (sl > el) return false;
  out->reserve(static_cast<size_t>(el - sl + 1) * 82);
  for (int line = sl; line <= el; line++) {
    int from, to;
    span_of(v, v->sel, line, &from, &to);
    out->append(v->text.lines[line] + from, static_cast<size_t>(to - from));
    if (line != el) out->push_back('\n');
  }
  return !out->empty();
}

int scrollback_mouse_to_pos(const ScrollbackViewer* v, int x, int y, int* line, int* col) {
  int ch = cell_h(v);
  if (ch <= 0) return 0;
  int band = (y - 1) / ch;
  if (y - 1 < 0) band = -1;
  int row = band - 1;
  if (row < 0 || row >= v->visible_rows) return 0;
  int l = v->top + row;
  if (l < 0 || l >= v->text.total) return 0;
  int c = (x - kTextLeft) / cell_w(v);
  if (x - kTextLeft < 0) c = 0;
  *line = l;
  *col = std::clamp(c, 0, kLineChars);
  return 1;
}

// ------------------------------------------------------------------ drawing --

void scrollback_window_draw_row(ScrollbackViewer* v, int text_row) {
  if (!v->window || text_row < 0 || text_row >= v->visible_rows) return;
  int y = band_top(v, text_row + 1);
  if (y >= plat_window_inner_height(v->window)) return;
  fill(v, kTextLeft, y, band_right(v), y + cell_h(v) - 1, 0);
  int line = v->top + text_row;
  if (line < 0 || line >= v->text.total) return;
  const char* text = v->text.lines[line];
  int len = line_len(v, line);
  int fit = std::min(len, (inner_w(v) - kTextLeft + cell_w(v) - 1) / cell_w(v));
  int from, to;
  span_of(v, v->sel, line, &from, &to);
  int cw = cell_w(v);
  draw_text(v, kTextLeft, y, text, std::min(from, fit), kGrey, 0);
  if (to > from && from < fit)
    draw_text(v, kTextLeft + from * cw, y, text + from, std::min(to, fit) - from, kWhite, kBrown);
  if (to < fit) draw_text(v, kTextLeft + to * cw, y, text + to, fit - to, kGrey, 0);
}

void scrollback_window_redraw_view(ScrollbackViewer* v) {
  if (!v->window) return;
  draw_header(v);
  for (int r = 0; r < v->visible_rows; r++) scrollback_window_draw_row(v, r);
}

void scrollback_window_draw(ScrollbackViewer* v) {
  if (!v->window) return;
  fill(v, 0, 0, inner_w(v) - 1, plat_window_inner_height(v->window) - 1, 0);
  scrollback_window_redraw_view(v);
}

void scrollback_redraw_selection_delta(ScrollbackViewer* v, const ScrollbackSelection& before) {
  v->last_delta_rows = 0;
  v->last_delta_pixels = 0;
  for (int r = 0; r < v->visible_rows; r++) {
    int line = v->top + r;
    int a0, a1, b0, b1;
    span_of(v, before, line, &a0, &a1);
    span_of(v, v->sel, line, &b0, &b1);
    if (a0 == b0 && a1 == b1) continue;
    scrollback_window_draw_row(v, r);
    v->last_delta_rows++;
    v->last_delta_pixels += row_pixels(v);
  }
}

// ------------------------------------------------------------ open and close --

void scrollback_set_temp_dir(const char* dir) {
  g_temp_dir = dir ? dir : "";
}

int scrollback_viewer_open(ScrollbackViewer* v, Terminal* t) {
  if (!v || !t || !t->window) return -1;
  v->term = t;
  v->view.reset(new (std::nothrow) Terminal(*t));
  v->saved_font.reset(new (std::nothrow) BitmapFont(g_bitmap_font));
  if (!v->view || !v->saved_font) {
    release(v);
    return -1;
  }
  choose_font(v);
  term_hide_cursor(t);
  if (scrollback_collect(&v->text, t) != 0) {
    release(v);
    term_show_cursor(t);
    return -1;
  }
  write_temp_file(v);
  if (!open_window(v)) {
    release(v);
    term_show_cursor(t);
    return -1;
  }
  v->visible_rows = visible_rows_for(v);
  v->top = last_top(v);
  v->sel = ScrollbackSelection{};
  v->dragging = false;
  v->message[0] = '\0';
  scrollback_window_draw(v);
  return 0;
}

int scrollback_viewer_handle(ScrollbackViewer* v, const PlatEvent& ev) {
  if (!v->window) return 1;
  switch (ev.cls) {
    case PLAT_EV_CLOSE:
      return 1;
    case PLAT_EV_REFRESH:
      plat_begin_refresh(v->window);
      scrollback_window_draw(v);
      plat_end_refresh(v->window);
      return 0;
    case PLAT_EV_MOUSEBUTTON: {
      int line, col;
      if (ev.code == PLAT_SELECTDOWN) {
        if (!scrollback_mouse_to_pos(v, ev.x, ev.y, &line, &col)) {
          // A click off the text only takes the last selection away.
          ScrollbackSelection before = v->sel;
          v->sel.active = false;
          scrollback_redraw_selection_delta(v, before);
          return 0;
        }
        v->dragging = true;
        v->sel.active = true;
        v->sel.anchor_line = line;
        v->sel.anchor_col = col;
        v->sel.cursor_line = line;
        v->sel.cursor_col = std::min(col + 1, kLineChars);
        safe_copy(v->message, sizeof v->message, "Selecting...");
        scrollback_window_draw(v);
      } else if (ev.code == PLAT_SELECTUP && v->dragging) {
        // Copied on release; the selection stays shown until the next click.
        v->dragging = false;
        if (cursor_at(v, ev.x, ev.y, &line, &col)) {
          v->sel.cursor_line = line;
          v->sel.cursor_col = col;
        }
        copy_selection(v);
        scrollback_window_redraw_view(v);
      }
      return 0;
    }
    case PLAT_EV_MOUSEMOVE: {
      int line, col;
      if (!v->dragging || !cursor_at(v, ev.x, ev.y, &line, &col)) return 0;
      if (line == v->sel.cursor_line && col == v->sel.cursor_col) return 0;
      ScrollbackSelection before = v->sel;
      v->sel.cursor_line = line;
      v->sel.cursor_col = col;
      scrollback_redraw_selection_delta(v, before);
      return 0;
    }
    case PLAT_EV_VANILLAKEY:
      return ev.code == 27 ? 1 : 0;
    case PLAT_EV_RAWKEY:
      return handle_key(v, ev.code, ev.qualifier);
    default:
      return 0;
  }
}

void scrollback_viewer_close(ScrollbackViewer* v) {
  Terminal* t = v->term;
  release(v);
  if (!t || !t->window) return;
  if (t->font) plat_set_font(t->window, t->font);
  plat_set_drmd(t->window, PLAT_JAM2);
  plat_activate_window(t->window);
  term_redraw_all(t);
  term_show_cursor(t);
}

void scrollback_viewer_run(Terminal* t) {
  if (!t || !t->window) return;
  ScrollbackViewer v;
  if (scrollback_viewer_open(&v, t) != 0) return;
  if (g_scrollback_viewer_opened) g_scrollback_viewer_opened(&v);
  bool closing = false;
  while (!closing) {
    plat_wait_event(v.window, -1);
    PlatEvent ev;
    while (plat_get_event(v.window, &ev)) {
      if (scrollback_viewer_handle(&v, ev)) closing = true;
    }
  }
  scrollback_viewer_close(&v);
}
