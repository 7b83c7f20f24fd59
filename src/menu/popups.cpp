// The menu's popups, messages and help screen.
#include "menu/popups.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "assets/embedded.h"
#include "menu/entry_list.h"
#include "menu/ui_draw.h"
#include "menu/ui_input.h"
#include "platform/dos.h"
#include "util/charset.h"

int g_ui_popup_timed_ticks = 100;

namespace {

constexpr const char* kDefaultQuestion = "Continue?";

void confirm_rect(const UiContext* ui, int* x, int* y, int* w, int* h) {
  int s = ui_dialog_cp437_scale(ui);
  *w = std::max(176 * s, 188);
  *h = 80 * s;
  ui_popup_place(ui, *w, *h, x, y);
}

void sort_rect(const UiContext* ui, int* x, int* y, int* w, int* h) {
  int s = ui_dialog_cp437_scale(ui);
  *w = std::max(176 * s, 196);
  *h = 96 * s;
  ui_popup_place(ui, *w, *h, x, y);
}

// A button: a blue bar with a white label when selected, else a blue label
// on the box face.
void draw_button(UiContext* ui, int x, int y, int w, int h, const char* label, bool selected) {
  int s = ui_dialog_cp437_scale(ui);
  int bg = selected ? UI_BLUE : UI_GREY;
  ui_fill(ui, x, y, x + w - 1, y + h - 1, bg);
  ui_dialog_text_centred(ui, x, w, y + 15 * s + 1, label, selected ? UI_WHITE : UI_BLUE, bg);
}

}  // namespace

std::vector<std::string> ui_detail_lines(const char* details) {
  std::vector<std::string> lines;
  if (!details || !*details) return lines;
  const char* p = details;
  for (;;) {
    const char* end = strchr(p, '\n');
    std::string line(p, end ? static_cast<size_t>(end - p) : strlen(p));
    while (line.size() > static_cast<size_t>(kUiDetailColumns)) {
      size_t cut = line.rfind(' ', kUiDetailColumns);
      if (cut == std::string::npos || cut == 0) cut = kUiDetailColumns;
      lines.push_back(line.substr(0, cut));
      line.erase(0, line[cut] == ' ' ? cut + 1 : cut);
    }
    lines.push_back(line);
    if (!end) break;
    p = end + 1;
  }
  return lines;
}

void ui_draw_confirm(UiContext* ui, const char* question, int yes_selected) {
  ui_draw_confirm_details(ui, question, nullptr, yes_selected);
}

void ui_draw_confirm_details(UiContext* ui, const char* question, const char* details,
                             int yes_selected) {
  if (!ui_can_draw(ui)) return;
  int s = ui_dialog_cp437_scale(ui);
  std::vector<std::string> lines = ui_detail_lines(details);
  const char* q = question && *question ? question : kDefaultQuestion;
  int x, y, w, h;
  int extra = 0;
  if (lines.empty()) {
    confirm_rect(ui, &x, &y, &w, &h);
  } else {
    // The details, then an empty line, then the question as in the plain box.
    extra = 16 * s * static_cast<int>(lines.size() + 1);
    int text_w = ui_text_px(ui, q);
    for (const std::string& l : lines) text_w = std::max(text_w, ui_text_px(ui, l.c_str()));
    w = std::max({176 * s, 188, text_w + 32 * s});
    h = 80 * s + extra;
    ui_popup_place(ui, w, h, &x, &y);
  }
  ui_draw_beveled_box(ui, x, y, x + w - 1, y + h - 1);
  ui_dialog_text_centred(ui, x, w, y + 15 * s + 5, "Info", UI_BLUE, UI_GREY);
  for (size_t i = 0; i < lines.size(); i++)
    ui_dialog_text_centred(ui, x, w, y + 47 * s - 3 + 16 * s * static_cast<int>(i),
                           lines[i].c_str(), UI_BLACK, UI_GREY);
  ui_dialog_text_centred(ui, x, w, y + 47 * s - 3 + extra, q, UI_BLACK, UI_GREY);
  int bw = 48 * s;
  int bh = 16 * s + 2;
  int by = y + 48 * s + 3 + extra;
  int centre = x + w / 2;
  draw_button(ui, centre - 4 * s - bw, by, bw, bh, "YES", yes_selected != 0);
  draw_button(ui, centre + 4 * s, by, bw, bh, "NO", yes_selected == 0);
}

int ui_confirm(UiContext* ui, const char* question) {
  return ui_confirm_details(ui, question, nullptr);
}

int ui_confirm_details(UiContext* ui, const char* question, const char* details) {
  int yes = 0;
  ui_draw_confirm_details(ui, question, details, yes);
  for (;;) {
    int code = ui_wait_key(ui);
    if (code < 0) return 0;
    switch (code) {
      case MENU_KEY_LEFT:
      case MENU_KEY_UP:
        yes = 1;
        break;
      case MENU_KEY_RIGHT:
      case MENU_KEY_DOWN:
        yes = 0;
        break;
      case 13:
      case 10:
        return yes;
      case 'y':
      case 'Y':
        return 1;
      case 27:
      case 'n':
      case 'N':
        return 0;
      case MENU_KEY_REDRAW:
        break;
      default:
        continue;
    }
    ui_draw_confirm_details(ui, question, details, yes);
  }
}

namespace {

// The box of a secret: the prompt's lines, then the field with one "*" per
// character typed (as many as the field holds).
void draw_secret(UiContext* ui, const std::vector<std::string>& lines, size_t typed) {
  if (!ui_can_draw(ui)) return;
  int s = ui_dialog_cp437_scale(ui);
  int text_w = 0;
  for (const std::string& l : lines) text_w = std::max(text_w, ui_text_px(ui, l.c_str()));
  int w = std::max({208 * s, 220, text_w + 32 * s});
  int extra = 16 * s * static_cast<int>(lines.size() - 1);
  int h = 80 * s + extra;
  int x, y;
  ui_popup_place(ui, w, h, &x, &y);
  ui_draw_beveled_box(ui, x, y, x + w - 1, y + h - 1);
  ui_dialog_text_centred(ui, x, w, y + 15 * s + 5, "Info", UI_BLUE, UI_GREY);
  for (size_t i = 0; i < lines.size(); i++)
    ui_dialog_text_centred(ui, x, w, y + 47 * s - 3 + 16 * s * static_cast<int>(i),
                           lines[i].c_str(), UI_BLACK, UI_GREY);
  int fx = x + 16 * s;
  int fw = w - 32 * s;
  int fy = y + 48 * s + 3 + extra;
  ui_fill(ui, fx, fy, fx + fw - 1, fy + 16 * s + 1, UI_BLUE);
  size_t room = static_cast<size_t>(std::max(0, fw / (8 * s) - 2));
  std::string stars(std::min(typed, room), '*');
  ui_dialog_text_abs(ui, fx + 8 * s, fy + 15 * s + 1, stars.c_str(), UI_WHITE, UI_BLUE);
}

}  // namespace

int ui_ask_secret(UiContext* ui, const char* prompt, char* out, size_t cap) {
  if (!out || cap == 0) return 0;
  out[0] = '\0';
  std::vector<std::string> lines = ui_detail_lines(prompt && *prompt ? prompt : "Password:");
  size_t n = 0;
  draw_secret(ui, lines, n);
  for (;;) {
    int code = ui_wait_key(ui);
    if (code < 0 || code == 27) {
      // Nothing of a cancelled secret stays behind.
      memset(out, 0, cap);
      return 0;
    }
    if (code == 13 || code == 10) {
      out[n] = '\0';
      return 1;
    }
    if (code == 8 || code == 127) {
      if (n > 0) out[--n] = '\0';
    } else if (code >= 32 && code <= 255) {
      if (n + 1 < cap) {
        out[n++] = static_cast<char>(code);
        out[n] = '\0';
      }
    } else if (code != MENU_KEY_REDRAW) {
      continue;
    }
    draw_secret(ui, lines, n);
  }
}

void ui_warn(UiContext* ui, const char* text) {
  std::vector<std::string> lines = ui_detail_lines(text && *text ? text : "Warning");
  lines.push_back("");
  lines.push_back("Press any key to continue.");
  for (;;) {
    if (ui_can_draw(ui)) {
      int s = ui_dialog_cp437_scale(ui);
      int text_w = 0;
      for (const std::string& l : lines) text_w = std::max(text_w, ui_text_px(ui, l.c_str()));
      int w = std::max({208 * s, 220, text_w + 32 * s});
      int h = 48 * s + 16 * s * static_cast<int>(lines.size());
      int x, y;
      ui_popup_place(ui, w, h, &x, &y);
      ui_draw_beveled_box(ui, x, y, x + w - 1, y + h - 1);
      ui_dialog_text_centred(ui, x, w, y + 15 * s + 5, "Warning", UI_BLUE, UI_GREY);
      for (size_t i = 0; i < lines.size(); i++)
        ui_dialog_text_centred(ui, x, w, y + 47 * s - 3 + 16 * s * static_cast<int>(i),
                               lines[i].c_str(), i + 1 == lines.size() ? UI_BLUE : UI_BLACK,
                               UI_GREY);
    }
    int code = ui_wait_key(ui);
    if (code != MENU_KEY_REDRAW) return;
  }
}

void ui_draw_sort_popup(UiContext* ui, int selected) {
  if (!ui_can_draw(ui)) return;
  int x, y, w, h;
  sort_rect(ui, &x, &y, &w, &h);
  int s = ui_dialog_cp437_scale(ui);
  ui_draw_beveled_box(ui, x, y, x + w - 1, y + h - 1);
  ui_dialog_text_centred(ui, x, w, y + 15 * s + 8, "Sort Entries", UI_BLUE, UI_GREY);
  static constexpr const char* kOptions[2] = {"Sort by Name", "Sort by Software"};
  int bar_w = std::max(128 * s, w - 48 * s);
  for (int i = 0; i < 2; i++) {
    int top = y + 32 * s + 2 + i * (16 * s + 4);
    bool sel = i == selected;
    int bg = sel ? UI_BLUE : UI_GREY;
    ui_fill(ui, x + 24 * s, top, x + 24 * s + bar_w - 1, top + 16 * s + 1, bg);
    ui_dialog_text_abs(ui, x + 32 * s, top + 15 * s + 1, kOptions[i], sel ? UI_WHITE : UI_BLUE, bg);
  }
}

int ui_choose_sort_mode(UiContext* ui) {
  int selected = 0;
  ui_draw_sort_popup(ui, selected);
  for (;;) {
    int code = ui_wait_key(ui);
    if (code < 0) return -1;
    switch (code) {
      case MENU_KEY_UP:
      case MENU_KEY_LEFT:
      case 'N':
      case 'n':
        selected = 0;
        break;
      case MENU_KEY_DOWN:
      case MENU_KEY_RIGHT:
      case 'S':
      case 's':
        selected = 1;
        break;
      case 13:
      case 10:
        return selected;
      case 27:
        return -1;
      case MENU_KEY_REDRAW:
        break;
      default:
        continue;
    }
    ui_draw_sort_popup(ui, selected);
  }
}

void ui_popup_timed(UiContext* ui, const char* reason) {
  if (ui_can_draw(ui)) {
    int s = ui_dialog_cp437_scale(ui);
    // A reason longer than a line of the menu would run out of the box.
    char why[61] = {};
    if (reason) snprintf(why, sizeof why, "%s", reason);
    int w = std::max(208 * s, 220);
    int h = 64 * s;
    if (why[0]) {
      w = std::max(w, ui_text_px(ui, why) + 32 * s);
      h += 16 * s;
    }
    int x, y;
    ui_popup_place(ui, w, h, &x, &y);
    ui_draw_beveled_box(ui, x, y, x + w - 1, y + h - 1);
    ui_dialog_text_centred(ui, x, w, y + 15 * s + 5, "Info", UI_BLUE, UI_GREY);
    ui_dialog_text_centred(ui, x, w, y + 47 * s + 1, "Unable to connect", UI_BLACK, UI_GREY);
    if (why[0]) ui_dialog_text_centred(ui, x, w, y + 63 * s + 1, why, UI_BLACK, UI_GREY);
  }
  dos_delay(g_ui_popup_timed_ticks);
}

int ui_message(UiContext* ui, const char* text) {
  ui_invalidate_menu_caches();
  for (;;) {
    ui_clear_drawable_area_raw(ui);
    ui_text(ui, 3, text ? text : "", UI_WHITE);
    ui_text(ui, 6, "Press any key to continue.", UI_DARK_GREY);
    int code = ui_wait_key(ui);
    if (code != MENU_KEY_REDRAW) {
      ui_invalidate_menu_caches();
      return code;
    }
  }
}

std::string ui_help_phonebook_line(const char* phonebook_path) {
  constexpr size_t kCells = 76;
  std::string line = "Phone book: ";
  std::string path = utf8_to_charset_text(CHARSET_CP437, phonebook_path ? phonebook_path : "");
  size_t room = kCells - line.size();
  if (path.size() > room) path = "..." + path.substr(path.size() - (room - 3));
  return line + path;
}

int ui_show_help_screen(UiContext* ui, const char* phonebook_path) {
  ui_invalidate_menu_caches();
  for (;;) {
    if (!ui_draw_ansi_buffer(ui, kavel_menu_help_ans, kavel_menu_help_ans_len)) {
      ui_clear_drawable_area_raw(ui);
      ui_text(ui, 2, "Kavel Help", UI_WHITE);
      ui_text(ui, 4, "Help ANSI could not be drawn.", UI_GREY);
      ui_text(ui, 6, "Press any key to return.", UI_DARK_GREY);
    }
    // The row under the art's last line: which file the menu edits (it may
    // be the current directory's, kept from before, or the configuration
    // directory's).
    if (phonebook_path)
      ui_text_bg_cell(ui, 23, 2, 76, ui_help_phonebook_line(phonebook_path).c_str(), UI_GREY,
                      UI_BLACK);
    ui_draw_main_menu_time(ui);
    int code = ui_wait_key(ui);
    if (code != MENU_KEY_REDRAW) {
      ui_invalidate_menu_caches();
      return code;
    }
  }
}
