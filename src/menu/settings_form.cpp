// The global settings form over the kavel_menu_edit2_ans art.
#include "menu/settings_form.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "assets/embedded.h"
#include "display/modes.h"
#include "menu/entry_list.h"
#include "menu/line_edit.h"
#include "menu/popups.h"
#include "menu/ui_draw.h"
#include "menu/ui_input.h"
#include "phonebook/prefs.h"
#include "platform/dos.h"
#include "util/charset.h"
#include "util/text.h"

namespace {

constexpr int kGreen = 2;
constexpr int kLightGreen = 10;
constexpr int kRowCol = 3;
constexpr int kRowWidth = 74;
constexpr int kButtonRow = 22;
constexpr const char* kTitle = "Kavel";

constexpr const char* kLabels[] = {
    "Startup:",          "Top Bar:",     "Beep:",
    "Modem Simulation:", "Modem Sound:", "Download Directory:",
    "Upload Directory:", "ANSI Music:",  "Identify as a CTerm-compatible terminal:",
};

const char* mode_text(int mode) {
  return mode == 1 ? "Window Medium" : (mode == 2 ? "Fullscreen" : "Window");
}

const char* on_off(int v) {
  return v ? "On" : "Off";
}

const char* sound_label(const char* id) {
  return g_modem_sound_choices[id && *id ? modem_sound_choice_index(id) : 0].label;
}

void draw_buttons(UiContext* ui, int focus) {
  bool save = focus == SETTINGS_FOCUS_SAVE;
  bool cancel = focus == SETTINGS_FOCUS_CANCEL;
  ui_text_bg_cell(ui, kButtonRow, 2, 6, " Save", save ? UI_WHITE : kLightGreen,
                  save ? UI_BLUE : UI_BLACK);
  ui_text_bg_cell(ui, kButtonRow, 10, 8, " Cancel", UI_WHITE, cancel ? UI_BLUE : UI_BLACK);
}

// The path row being edited: label, the 53-cell window on the text, cursor.
struct PathCtx {
  int focus;
  const char* label;
  SettingsDraft* d;
};

void draw_path_edit(UiContext* ui, const UiLineEdit* e, bool blink, void* p) {
  auto* c = static_cast<PathCtx*>(p);
  int row = c->focus + 11;
  char label[24];
  snprintf(label, sizeof label, "%-20.20s", c->label);
  ui_text_bg_cell(ui, row, kRowCol, kRowWidth, "", UI_WHITE, kGreen);
  ui_text_bg_cell(ui, row, kRowCol, 20, label, UI_WHITE, kGreen);
  constexpr int kWindow = 53;
  int cursor = 0;
  std::string cells = ui_line_edit_cells(e, &cursor);
  int first = ui_line_edit_first_visible(e, kWindow);
  std::string shown = cells.substr(static_cast<size_t>(first), kWindow);
  ui_text_bg_cell(ui, row, 24, kWindow, shown.c_str(), UI_WHITE, kGreen);
  if (blink) ui_underscore_cursor_cell(ui, row, 24 + cursor - first);
}

// "PROGDIR:" (any case) at the start of a stored path.
bool names_progdir(const char* path) {
  return strncasecmp(path, "PROGDIR:", 8) == 0;
}

// What to store for a directory the user accepted: what was typed, except
// that a path the form showed expanded from "PROGDIR:" goes back to that
// form while it is still inside the program's directory, so that a path
// accepted unchanged (or lengthened) is stored as it was written.
void path_from_user(const char* typed, const char* before, char out[256]) {
  if (names_progdir(before)) {
    const std::string& dir = dos_progdir();
    std::string prefix = dir == "/" ? dir : dir + "/";
    std::string progdir(before, 8);  // the stored spelling
    if (dir == typed) {
      safe_copy(out, 256, progdir.c_str());
      return;
    }
    if (strncmp(typed, prefix.c_str(), prefix.size()) == 0) {
      safe_copy(out, 256, (progdir + (typed + prefix.size())).c_str());
      return;
    }
  }
  safe_copy(out, 256, typed);
}

void redraw_path_form(UiContext* ui, void* p) {
  auto* c = static_cast<PathCtx*>(p);
  ui_invalidate_menu_caches();
  ui_draw_transfer_paths(ui, c->focus, c->d);
}

// The modem sound chooser: 1 when a choice was taken, 0 unchanged, -1 when
// the display failed.
int run_sound_chooser(UiContext* ui, SettingsDraft* d) {
  int choice = d->modem_id[0] ? modem_sound_choice_index(d->modem_id) : 0;
  UiChooserView view{kModemSoundChoiceCount,
                     false,
                     false,
                     [](UiContext* u, int c, void*) {
                       ui_draw_modem_sound_choice(u, g_modem_sound_choices[c].id);
                     },
                     [](UiContext* u, void* ctx) {
                       ui_draw_transfer_paths(u, SETTINGS_FOCUS_MODEM_SOUND,
                                              static_cast<SettingsDraft*>(ctx));
                     },
                     d};
  int r = ui_chooser_run(ui, &choice, view);
  if (r == 1) safe_copy(d->modem_id, sizeof d->modem_id, g_modem_sound_choices[choice].id);
  return r;
}

// The menu's top bar after a save: shown in full screen while switched on.
void apply_top_bar(UiContext* ui) {
  int old = ui->top_bar_height;
  ui->top_bar = ui->fullscreen && g_runtime_top_bar_enabled ? 1 : 0;
  ui_update_origin(ui);
  if (ui->top_bar_height != old) ui_clear_drawable_area_raw(ui);
}

void save(UiContext* ui, const SettingsDraft* d) {
  int rc = settings_draft_save(d);
  if (rc == 0) {
    ui_draw_transfer_saved_feedback(ui);
    apply_top_bar(ui);
  } else {
    ui_message(ui, transfer_prefs_save_message(rc));
  }
}

// Return on a row; -1 when the display failed.
int act_on_row(UiContext* ui, int focus, SettingsDraft* d) {
  int r = 0;
  switch (focus) {
    case SETTINGS_FOCUS_STARTUP:
      d->startup_mode = (d->startup_mode + 1) % 3;
      break;
    case SETTINGS_FOCUS_TOP_BAR:
      d->top_bar = !d->top_bar;
      break;
    case SETTINGS_FOCUS_BEEP:
      d->beep = !d->beep;
      break;
    case SETTINGS_FOCUS_MODEM:
      d->modem_sound = !d->modem_sound;
      break;
    case SETTINGS_FOCUS_MUSIC:
      d->ansi_music = !d->ansi_music;
      break;
    case SETTINGS_FOCUS_CTERM:
      d->cterm_identity = !d->cterm_identity;
      break;
    case SETTINGS_FOCUS_MODEM_SOUND:
      r = run_sound_chooser(ui, d);
      break;
    case SETTINGS_FOCUS_DOWNLOAD:
      r = ui_edit_transfer_path_inline(ui, focus, kLabels[focus], d->download, d);
      break;
    case SETTINGS_FOCUS_UPLOAD:
      r = ui_edit_transfer_path_inline(ui, focus, kLabels[focus], d->upload, d);
      break;
    default:
      return 0;
  }
  if (r < 0) return -1;
  if (focus >= SETTINGS_FOCUS_MODEM_SOUND && focus <= SETTINGS_FOCUS_UPLOAD) {
    ui_invalidate_menu_caches();
    ui_draw_transfer_paths(ui, focus, d);
  } else {
    ui_draw_transfer_option(ui, focus, true, d);
  }
  return 0;
}

}  // namespace

void settings_draft_take(SettingsDraft* d) {
  *d = SettingsDraft{};
  safe_copy(d->download, sizeof d->download, g_download_path);
  safe_copy(d->upload, sizeof d->upload, g_upload_path);
  d->top_bar = g_session_top_bar_enabled != 0;
  d->beep = g_beep_sound_enabled;
  d->startup_mode = g_startup_window_mode;
  d->modem_sound = g_modem_sound_enabled != 0;
  safe_copy(d->modem_id, sizeof d->modem_id, g_modem_sound_path);
  d->ansi_music = g_ansi_music_enabled != 0;
  d->cterm_identity = g_cterm_identity != 0;
}

int settings_draft_save(const SettingsDraft* d) {
  safe_copy(g_download_path, sizeof g_download_path, d->download);
  safe_copy(g_upload_path, sizeof g_upload_path, d->upload);
  g_session_top_bar_enabled = d->top_bar;
  g_runtime_top_bar_enabled = d->top_bar;
  g_beep_sound_enabled = d->beep;
  g_modem_sound_enabled = d->modem_sound;
  safe_copy(g_modem_sound_path, sizeof g_modem_sound_path, d->modem_id);
  g_startup_window_mode = d->startup_mode;
  g_ansi_music_enabled = d->ansi_music;
  g_cterm_identity = d->cterm_identity;
  return transfer_prefs_save();
}

std::string settings_path_display(const char* path) {
  std::string shown = utf8_to_charset_text(CHARSET_CP437, dos_expand_path(path));
  char out[64];
  settings_path_shown(shown.c_str(), out);
  return out;
}

void settings_path_shown(const char* path, char out[64]) {
  size_t n = strlen(path);
  if (n > 54)
    snprintf(out, 64, "...%s", path + n - 48);
  else
    snprintf(out, 64, "%s", path);
}

void ui_draw_transfer_path_row(UiContext* ui, int screen_row, bool focused, const char* label,
                               const char* path) {
  std::string shown = settings_path_display(path);
  char line[96];
  // The whole shortened path fits the row (21 + 51 cells of 74), so its end,
  // the part that tells one directory from another, stays in view.
  snprintf(line, sizeof line, "%-20.20s %.60s", label, shown.c_str());
  ui_text_bg_cell(ui, screen_row, kRowCol, kRowWidth, line, UI_WHITE, focused ? UI_BLUE : UI_BLACK);
}

void ui_draw_transfer_option(UiContext* ui, int focus, bool focused, const SettingsDraft* d) {
  if (focus >= SETTINGS_FOCUS_SAVE) {
    draw_buttons(ui, focused ? focus : -1);
    return;
  }
  if (focus < 0) return;
  if (focus == SETTINGS_FOCUS_DOWNLOAD || focus == SETTINGS_FOCUS_UPLOAD) {
    ui_draw_transfer_path_row(ui, focus + 11, focused, kLabels[focus],
                              focus == SETTINGS_FOCUS_DOWNLOAD ? d->download : d->upload);
    return;
  }
  const char* value = "";
  switch (focus) {
    case SETTINGS_FOCUS_STARTUP:
      value = mode_text(d->startup_mode);
      break;
    case SETTINGS_FOCUS_TOP_BAR:
      value = on_off(d->top_bar);
      break;
    case SETTINGS_FOCUS_BEEP:
      value = on_off(d->beep);
      break;
    case SETTINGS_FOCUS_MODEM:
      value = on_off(d->modem_sound);
      break;
    case SETTINGS_FOCUS_MODEM_SOUND:
      value = sound_label(d->modem_id);
      break;
    case SETTINGS_FOCUS_MUSIC:
      value = on_off(d->ansi_music);
      break;
    case SETTINGS_FOCUS_CTERM:
      value = on_off(d->cterm_identity);
      break;
    default:
      break;
  }
  char line[96];
  // The labels of the form's first rows fit a 20-cell column; a longer one
  // (the CTerm row) keeps its whole text and its value follows it.
  snprintf(line, sizeof line, "%-20s %.60s", kLabels[focus], value);
  line[63] = '\0';
  ui_text_bg_cell(ui, focus + 11, kRowCol, kRowWidth, line, UI_WHITE, focused ? UI_BLUE : UI_BLACK);
}

void ui_draw_transfer_paths(UiContext* ui, int focus, const SettingsDraft* d) {
  if (!ui || !d) return;
  if (g_ui_cache_valid && g_ui_cache_view == kSettingsView) {
    if (focus == g_transfer_last_selected) return;
    int old = g_transfer_last_selected;
    if (old >= SETTINGS_FOCUS_SAVE && focus >= SETTINGS_FOCUS_SAVE) {
      draw_buttons(ui, focus);
    } else {
      ui_draw_transfer_option(ui, old, false, d);
      ui_draw_transfer_option(ui, focus, true, d);
    }
    g_transfer_last_selected = focus;
    return;
  }
  if (!ui_draw_ansi_buffer(ui, kavel_menu_edit2_ans, kavel_menu_edit2_ans_len)) {
    ui_clear_drawable_area_raw(ui);
    ui_text(ui, 1, "Edit BBS Entry", UI_LIGHT_CYAN);
  }
  ui_draw_main_menu_time(ui);
  ui_text_bg_cell(ui, 9, 12, 17, "/ Global Settings", UI_BLACK, UI_GREY);
  for (int f = 0; f < SETTINGS_FOCUS_SAVE; f++) ui_draw_transfer_option(ui, f, f == focus, d);
  draw_buttons(ui, focus);
  g_ui_cache_valid = 1;
  g_ui_cache_view = kSettingsView;
  g_ui_cache_ansi = 0;
  g_transfer_last_selected = focus;
}

void ui_draw_modem_sound_choice(UiContext* ui, const char* id) {
  constexpr int kRow = 15;
  const char* label = sound_label(id);
  char padded[64];
  snprintf(padded, sizeof padded, "%-49.49s", label);
  char name[24];
  snprintf(name, sizeof name, "%-20s", "Modem Sound:");
  ui_text_bg_cell(ui, kRow, kRowCol, kRowWidth, "", UI_WHITE, kGreen);
  ui_text_bg_cell(ui, kRow, kRowCol, 20, name, UI_WHITE, kGreen);
  ui_text_bg_cell(ui, kRow, 24, 1, "\x11", UI_YELLOW, kGreen);
  ui_text_bg_cell(ui, kRow, 26, 49, padded, UI_WHITE, kGreen);
  int len = static_cast<int>(strlen(label));
  ui_text_bg_cell(ui, kRow, len > 49 ? 76 : 27 + len, 1, "\x10", UI_YELLOW, kGreen);
}

void ui_draw_transfer_saved_feedback(UiContext* ui) {
  ui_text_bg_cell(ui, kButtonRow, 2, 8, " Saved! ", UI_WHITE, kGreen);
  if (g_ui_saved_feedback_ticks > 0) dos_delay(g_ui_saved_feedback_ticks);
}

int ui_edit_transfer_path_inline(UiContext* ui, int focus, const char* label, char* path,
                                 SettingsDraft* d) {
  // The directory as the user knows it: "PROGDIR:" expanded (when that
  // fits the field), in the file system's UTF-8.
  std::string real = dos_expand_path(path);
  UiLineEdit e;
  ui_line_edit_start_utf8(&e, real.size() < 256 ? real.c_str() : path, 256);
  PathCtx ctx{focus, label, d};
  int r = ui_inline_edit_run(ui, &e, UiInlineEditView{draw_path_edit, redraw_path_form, &ctx});
  if (r == 1) {
    char before[256];
    safe_copy(before, sizeof before, path);
    path_from_user(e.text, before, path);
    normalize_transfer_path(path, focus == SETTINGS_FOCUS_UPLOAD ? TransferDir::kUpload
                                                                 : TransferDir::kDownload);
  }
  if (r >= 0) ui_draw_transfer_option(ui, focus, true, d);
  return r;
}

int ui_global_settings_form(UiContext* ui) {
  SettingsDraft d;
  settings_draft_take(&d);
  int focus = SETTINGS_FOCUS_STARTUP;
  int result = 0;
  ui_invalidate_menu_caches();
  ui_draw_transfer_paths(ui, focus, &d);
  bool done = false;
  while (!done) {
    if (ui->close_requested) break;
    int code = ui_wait_key(ui);
    if (code < 0 || code == 27) break;
    switch (code) {
      case MENU_KEY_REDRAW:
        ui_draw_transfer_paths(ui, focus, &d);
        break;
      case MENU_KEY_ALT_RETURN:
        if (ui_reopen_for_fullscreen(ui, kTitle) != 0) {
          ui->close_requested = 1;
          result = -1;
          done = true;
          break;
        }
        ui_invalidate_menu_caches();
        ui_draw_transfer_paths(ui, focus, &d);
        break;
      case MENU_KEY_UP:
      case MENU_KEY_LEFT:
      case MENU_KEY_SHIFT_TAB:
        if (focus > 0) focus--;
        ui_draw_transfer_paths(ui, focus, &d);
        break;
      case MENU_KEY_DOWN:
      case MENU_KEY_RIGHT:
      case 9:
        if (focus < SETTINGS_FOCUS_CANCEL) focus++;
        ui_draw_transfer_paths(ui, focus, &d);
        break;
      case MENU_KEY_ALT_S:
      case 'S':
      case 's':
        save(ui, &d);
        done = true;
        break;
      case 13:
        if (focus == SETTINGS_FOCUS_SAVE) {
          save(ui, &d);
          done = true;
        } else if (focus == SETTINGS_FOCUS_CANCEL) {
          done = true;
        } else if (act_on_row(ui, focus, &d) < 0) {
          result = -1;
          done = true;
        }
        break;
      default:
        break;
    }
  }
  ui_invalidate_menu_caches();
  return result;
}
