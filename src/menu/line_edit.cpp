// Editing one line of a form field.
#include "menu/line_edit.h"

#include <cstring>

#include "menu/ui_input.h"
#include "platform/clipboard.h"
#include "platform/clipboard_text.h"
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
}

namespace {

void insert_byte(UiLineEdit* e, char c) {
  memmove(e->text + e->cursor + 1, e->text + e->cursor,
          static_cast<size_t>(e->len - e->cursor) + 1);
  e->text[e->cursor] = c;
  e->len++;
  e->cursor++;
}

void delete_at(UiLineEdit* e, int pos) {
  memmove(e->text + pos, e->text + pos + 1, static_cast<size_t>(e->len - pos));
  e->len--;
}

}  // namespace

int ui_line_edit_insert(UiLineEdit* e, int ch) {
  bool text = (ch >= 32 && ch <= 126) || (ch >= 128 && ch <= 255);
  if (!text || e->len >= e->limit) return 0;
  insert_byte(e, static_cast<char>(ch));
  return 1;
}

int ui_line_edit_key(UiLineEdit* e, int code) {
  switch (code) {
    case MENU_KEY_LEFT:
      if (e->cursor > 0) e->cursor--;
      return 1;
    case MENU_KEY_RIGHT:
      if (e->cursor < e->len) e->cursor++;
      return 1;
    case MENU_KEY_HOME:
      e->cursor = 0;
      return 1;
    case MENU_KEY_END:
      e->cursor = e->len;
      return 1;
    case 8:
      if (e->cursor > 0) delete_at(e, --e->cursor);
      return 1;
    case 127:
      if (e->cursor < e->len) delete_at(e, e->cursor);
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
    auto b = static_cast<unsigned char>(bytes[i]);
    if (b == '\t') b = ' ';
    if (b < 32 || b > 126) continue;
    insert_byte(e, static_cast<char>(b));
  }
}

int ui_line_edit_first_visible(const UiLineEdit* e, int width) {
  if (width < 1) width = 1;
  return width > e->cursor ? 0 : e->cursor - width + 1;
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
