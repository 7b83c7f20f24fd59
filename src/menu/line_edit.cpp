// Editing one line of a form field.
#include "menu/line_edit.h"

#include <cstring>

#include "menu/ui_input.h"
#include "platform/clipboard.h"
#include "platform/clipboard_text.h"
#include "util/charset.h"
#include "util/text.h"

int g_ui_saved_feedback_ticks = 50;
int g_ui_form_idle_ticks = 0;

void ui_line_edit_start(UiLineEdit* e, const char* field, size_t capacity) {
  size_t limit = capacity > 0 ? capacity - 1 : 0;
  if (limit > kUiLineEditBytes - 1) limit = kUiLineEditBytes - 1;
  e->limit = static_cast<int>(limit);
  safe_copy(e->text, limit + 1, field);
  e->len = static_cast<int>(strlen(e->text));
  e->cursor = e->len;
  e->utf8 = false;
  e->masked = false;
}

void ui_line_edit_start_utf8(UiLineEdit* e, const char* field, size_t capacity) {
  ui_line_edit_start(e, field, capacity);
  e->utf8 = true;
}

namespace {

void insert_bytes(UiLineEdit* e, const char* bytes, int n) {
  memmove(e->text + e->cursor + n, e->text + e->cursor,
          static_cast<size_t>(e->len - e->cursor) + 1);
  memcpy(e->text + e->cursor, bytes, static_cast<size_t>(n));
  e->len += n;
  e->cursor += n;
}

void delete_range(UiLineEdit* e, int pos, int n) {
  memmove(e->text + pos, e->text + pos + n, static_cast<size_t>(e->len - pos - n) + 1);
  e->len -= n;
}

// Bytes of the character at pos (pos < len): 1 for CP437 text, the UTF-8
// sequence's length (1 for a byte that starts none) for UTF-8.
int char_bytes(const UiLineEdit* e, int pos) {
  if (!e->utf8) return 1;
  size_t used = 1;
  utf8_decode(e->text + pos, static_cast<size_t>(e->len - pos), &used);
  return static_cast<int>(used);
}

// The start of the character before pos (pos > 0).
int previous_char(const UiLineEdit* e, int pos) {
  if (!e->utf8) return pos - 1;
  int start = 0;
  for (int p = 0; p < pos; p += char_bytes(e, p)) start = p;
  return start;
}

}  // namespace

int ui_line_edit_insert(UiLineEdit* e, int ch) {
  bool text = (ch >= 32 && ch <= 126) || (ch >= 128 && ch <= 255);
  if (!text) return 0;
  char bytes[4] = {static_cast<char>(ch)};
  int n = 1;
  if (e->utf8) n = static_cast<int>(utf8_encode(cp437_to_unicode(static_cast<uint8_t>(ch)), bytes));
  if (e->len + n > e->limit) return 0;
  insert_bytes(e, bytes, n);
  return 1;
}

int ui_line_edit_key(UiLineEdit* e, int code) {
  switch (code) {
    case MENU_KEY_LEFT:
      if (e->cursor > 0) e->cursor = previous_char(e, e->cursor);
      return 1;
    case MENU_KEY_RIGHT:
      if (e->cursor < e->len) e->cursor += char_bytes(e, e->cursor);
      return 1;
    case MENU_KEY_HOME:
      e->cursor = 0;
      return 1;
    case MENU_KEY_END:
      e->cursor = e->len;
      return 1;
    case 8:
      if (e->cursor > 0) {
        int start = previous_char(e, e->cursor);
        delete_range(e, start, e->cursor - start);
        e->cursor = start;
      }
      return 1;
    case 127:
      if (e->cursor < e->len) delete_range(e, e->cursor, char_bytes(e, e->cursor));
      return 1;
    default:
      if (code >= 32 && code <= 255) {
        ui_line_edit_insert(e, code);
        return 1;
      }
      return 0;
  }
}

void ui_line_edit_paste(UiLineEdit* e, const char* bytes, size_t n) {
  for (size_t i = 0; i < n && e->len < e->limit; i++) {
    char b = bytes[i] == '\t' ? ' ' : bytes[i];
    if (b < 32 || b > 126) continue;
    insert_bytes(e, &b, 1);
  }
}

std::string ui_line_edit_cells(const UiLineEdit* e, int* cursor_cell) {
  std::string cells;
  int cursor = 0;
  for (int p = 0; p < e->len;) {
    if (p < e->cursor) cursor++;
    int n = char_bytes(e, p);
    char shown = e->text[p];
    if (e->masked) {
      shown = '*';
    } else if (e->utf8) {
      size_t used = 1;
      char32_t cp = utf8_decode(e->text + p, static_cast<size_t>(n), &used);
      int b = cp == UNICODE_REPLACEMENT ? CHARSET_NO_BYTE : unicode_to_cp437(cp);
      shown = b > 0 ? static_cast<char>(b) : '?';
    }
    cells.push_back(shown);
    p += n;
  }
  if (cursor_cell) *cursor_cell = cursor;
  return cells;
}

int ui_line_edit_first_visible(const UiLineEdit* e, int width) {
  if (width < 1) width = 1;
  int cursor = 0;
  ui_line_edit_cells(e, &cursor);
  return width > cursor ? 0 : cursor - width + 1;
}

std::string ui_form_clipboard_text() {
  CharsetId before = plat_clipboard_charset();
  plat_clipboard_set_charset(CHARSET_CP437);
  std::string text;
  clipboard_read_text(&text);
  plat_clipboard_set_charset(before);
  return text;
}

int ui_chooser_run(UiContext* ui, int* choice, const UiChooserView& view) {
  view.draw_choice(ui, *choice, view.ctx);
  int idle = 0;
  for (;;) {
    int code = g_ui_form_idle_ticks > 0 ? ui_wait_key_timeout(ui, 0, 500000) : ui_wait_key(ui);
    if (code == MENU_KEY_TICK) {
      if (++idle >= g_ui_form_idle_ticks) return 0;
      continue;
    }
    idle = 0;
    if (code < 0 || code == 27) return 0;
    bool back = code == MENU_KEY_LEFT;
    bool forth = code == MENU_KEY_RIGHT;
    if (view.vertical_keys) {
      back = back || code == MENU_KEY_UP || code == 'K' || code == 'k';
      forth = forth || code == MENU_KEY_DOWN || code == 'J' || code == 'j' || code == 9;
    }
    if (back) {
      *choice = (*choice + view.count - 1) % view.count;
    } else if (forth) {
      *choice = (*choice + 1) % view.count;
    } else if (code == 13) {
      return 1;
    } else if (code == MENU_KEY_REDRAW) {
      if (view.redraw_on_damage && view.redraw_form) view.redraw_form(ui, view.ctx);
    } else if (code == MENU_KEY_ALT_RETURN) {
      if (ui_reopen_for_fullscreen(ui, "Kavel") != 0) {
        ui->close_requested = 1;
        return -1;
      }
      ui_invalidate_menu_caches();
      if (view.redraw_form) view.redraw_form(ui, view.ctx);
    } else {
      continue;
    }
    view.draw_choice(ui, *choice, view.ctx);
  }
}

int ui_inline_edit_run(UiContext* ui, UiLineEdit* e, const UiInlineEditView& view) {
  bool blink = true;
  int idle = 0;
  view.draw_row(ui, e, blink, view.ctx);
  for (;;) {
    int code = ui_wait_key_timeout(ui, 0, 500000);
    blink = !blink;
    if (code == MENU_KEY_TICK) {
      if (g_ui_form_idle_ticks > 0 && ++idle >= g_ui_form_idle_ticks) return 0;
      view.draw_row(ui, e, blink, view.ctx);
      continue;
    }
    idle = 0;
    if (code < 0 || code == 27) return 0;
    switch (code) {
      case MENU_KEY_REDRAW:
        ui_invalidate_menu_caches();
        view.redraw_form(ui, view.ctx);
        break;
      case MENU_KEY_ALT_RETURN:
        if (ui_reopen_for_fullscreen(ui, "Kavel") != 0) {
          ui->close_requested = 1;
          return -1;
        }
        ui_invalidate_menu_caches();
        view.redraw_form(ui, view.ctx);
        break;
      case 13:
        return 1;
      case MENU_KEY_ALT_V: {
        std::string pasted = ui_form_clipboard_text();
        ui_line_edit_paste(e, pasted.data(), pasted.size());
        break;
      }
      default:
        ui_line_edit_key(e, code);
        break;
    }
    blink = true;
    view.draw_row(ui, e, blink, view.ctx);
  }
}
