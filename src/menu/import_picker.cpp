// The import picker popup and its keys.
#include "menu/import_picker.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "menu/popups.h"
#include "menu/ui_draw.h"
#include "menu/ui_input.h"
#include "phonebook/import.h"
#include "platform/dos.h"
#include "util/charset.h"
#include "util/text.h"

namespace {

constexpr const char* kTitle = "Import SyncTERM List";
constexpr const char* kPrompt = "Select a .lst file";
// Cells of a list row between the bar's margins.
constexpr size_t kRowCells = 56;
// A name beside the directory it came from, when the list has several.
constexpr size_t kNameCells = 34;
constexpr size_t kDirCells = 20;

// A directory as the picker shows it: the home directory as "~", in the
// screen's CP437, and at most width cells ("..." and its end when longer:
// the end tells directories apart).
std::string shown_dir(const std::string& dir, size_t width) {
  std::string home = dos_home_dir();
  std::string d = dir;
  if (home != "/" && d.compare(0, home.size(), home) == 0 &&
      (d.size() == home.size() || d[home.size()] == '/'))
    d = "~" + d.substr(home.size());
  d = utf8_to_charset_text(CHARSET_CP437, d);
  if (d.size() > width) d = "..." + d.substr(d.size() - (width - 3));
  return d;
}

// The first visible name follows the selection: never below it, and at most
// five rows above it.
void follow(int selected, int* first) {
  if (*first > selected) *first = selected;
  if (selected - *first >= kImportPickerRows) *first = selected - (kImportPickerRows - 1);
  if (*first < 0) *first = 0;
}

// The picker over the lists of the given directories.
int run_picker(UiContext* ui, const std::vector<std::string>& dirs, Phonebook* pb,
               const char* pb_path, int* imported, int* updated, int* skipped) {
  ImportFileList list{};
  int failed = -1;
  std::string text;
  if (import_scan_directories(dirs, &list, &failed) != 0 && failed >= 0)
    text = "Could not open " + shown_dir(dirs[static_cast<size_t>(failed)], 38) + ".";
  const char* message = text.empty() ? nullptr : text.c_str();
  int selected = 0;
  int first = 0;
  ui_invalidate_menu_caches();
  ui_draw_import_picker(ui, &list, selected, first, message);
  for (;;) {
    int code = ui_wait_key(ui);
    if (code < 0 || code == 27) break;
    int last = list.count - 1;
    switch (code) {
      case MENU_KEY_REDRAW:
        break;
      case MENU_KEY_ALT_RETURN:
        if (ui_reopen_for_fullscreen(ui, "Kavel") != 0) {
          import_file_list_free(&list);
          return -1;
        }
        break;
      case MENU_KEY_UP:
      case MENU_KEY_LEFT:
        selected = std::max(0, selected - 1);
        break;
      case MENU_KEY_DOWN:
      case MENU_KEY_RIGHT:
      case 9:
        selected = std::max(0, std::min(last, selected + 1));
        break;
      case MENU_KEY_PAGE_UP:
      case MENU_KEY_HOME:
      case MENU_KEY_SHIFT_TAB:
        selected = std::max(0, selected - kImportPickerRows);
        break;
      case MENU_KEY_PAGE_DOWN:
      case MENU_KEY_END:
        selected = std::max(0, std::min(last, selected + kImportPickerRows));
        break;
      case 13:
      case 10: {
        if (list.count == 0) continue;
        std::string path = import_list_path(&list, selected);
        import_file_list_free(&list);
        ui_invalidate_menu_caches();
        char summary[kImportMessageCap];
        import_run_file(pb, pb_path, path.c_str(), imported, updated, skipped, summary);
        ui_message(ui, summary);
        return 0;
      }
      default:
        continue;
    }
    follow(selected, &first);
    ui_draw_import_picker(ui, &list, selected, first, message);
  }
  import_file_list_free(&list);
  ui_invalidate_menu_caches();
  return 0;
}

}  // namespace

void ui_draw_import_picker(UiContext* ui, const ImportFileList* list, int selected,
                           int first_visible, const char* message) {
  if (!ui_can_draw(ui)) return;
  int s = ui_dialog_cp437_scale(ui);
  int w = std::max(512 * s, 500);
  int h = std::max(176 * s, 180);
  int x, y;
  ui_popup_place(ui, w, h, &x, &y);
  ui_draw_beveled_box(ui, x, y, x + w - 1, y + h - 1);
  ui_dialog_text_centred(ui, x, w, y + 15 * s + 8, kTitle, UI_BLUE, UI_GREY);
  int left = x + 24 * s;
  ui_dialog_text_abs(ui, left, y + 47 * s, kPrompt, UI_BLACK, UI_GREY);
  if (message && *message) ui_dialog_text_abs(ui, left, y + 63 * s, message, UI_RED, UI_GREY);
  int first_row = y + 79 * s;
  int count = list ? list->count : 0;
  int dirs = list ? list->dir_count : 0;
  if (count == 0) {
    // Where the lists were looked for, so that the user knows where to put one.
    std::string line = "No .lst files found.";
    if (dirs == 1) line = "No .lst files found in " + shown_dir(list->dirs[0], 32) + ".";
    if (dirs > 1) line = "No .lst files found in:";
    ui_dialog_text_abs(ui, left, first_row, line.c_str(), UI_BLACK, UI_GREY);
    for (int d = 0; dirs > 1 && d < dirs && d + 1 < kImportPickerRows; d++) {
      line = "  " + shown_dir(list->dirs[d], kRowCells - 2);
      ui_dialog_text_abs(ui, left, first_row + (d + 1) * 16 * s, line.c_str(), UI_BLACK, UI_GREY);
    }
    return;
  }
  for (int r = 0; r < kImportPickerRows && first_visible + r < count; r++) {
    int i = first_visible + r;
    char line[80];
    // With lists from several directories each says where it came from.
    const ImportFileName& f = list->items[i];
    if (dirs > 1 && f.dir >= 0 && f.dir < dirs)
      snprintf(line, sizeof line, "  %-*.*s %s", static_cast<int>(kNameCells),
               static_cast<int>(kNameCells), f.name, shown_dir(list->dirs[f.dir], kDirCells).c_str());
    else
      snprintf(line, sizeof line, "  %-54.54s", f.name);
    int baseline = first_row + r * 16 * s;
    bool sel = i == selected;
    int bg = sel ? UI_BLUE : UI_GREY;
    if (sel) ui_fill(ui, left, baseline - 15 * s, x + w - 24 * s - 1, baseline + s - 1, UI_BLUE);
    ui_dialog_text_abs(ui, left, baseline, line, sel ? UI_WHITE : UI_BLACK, bg);
  }
}

int ui_import_syncterm_list(UiContext* ui, Phonebook* pb, const char* pb_path, int* imported,
                            int* updated, int* skipped) {
  return run_picker(ui, import_list_dirs(), pb, pb_path, imported, updated, skipped);
}

int ui_import_syncterm_list_in(UiContext* ui, const char* dir, Phonebook* pb, const char* pb_path,
                               int* imported, int* updated, int* skipped) {
  return run_picker(ui, {dir ? dir : ""}, pb, pb_path, imported, updated, skipped);
}
