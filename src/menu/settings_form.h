// The global settings form (Alt+G in the phonebook menu) over the
// kavel_menu_edit2_ans art: start-up display mode, top bar, beep, modem dial
// simulation and its sound, the download and upload directories, ANSI music
// and the CTerm identity.  The form edits working copies; only Save puts
// them into the settings and writes kavel.prefs.
#pragma once
#include <string>

#include "display/ui_surface.h"

// The settings as the form holds them while it is open.
struct SettingsDraft {
  char download[256];
  char upload[256];
  int top_bar;
  int beep;
  int startup_mode;  // 0 window, 1 medium window, 2 full screen
  int modem_sound;
  char modem_id[256];  // "modem01" or "modem02" (empty reads as the first)
  int ansi_music;      // play the music strings boards send
  int cterm_identity;  // answer device attributes as a CTerm-compatible terminal
};

// Rows by focus number: 0 Startup, 1 Top Bar, 2 Beep, 3 Modem Simulation,
// 4 Modem Sound, 5 Download Directory, 6 Upload Directory, 7 ANSI Music,
// 8 Identify as CTerm, 9 Save, 10 Cancel.  The two terminal rows sit below
// the directories, on rows the art leaves free above the buttons.
enum : int {
  SETTINGS_FOCUS_STARTUP = 0,
  SETTINGS_FOCUS_TOP_BAR = 1,
  SETTINGS_FOCUS_BEEP = 2,
  SETTINGS_FOCUS_MODEM = 3,
  SETTINGS_FOCUS_MODEM_SOUND = 4,
  SETTINGS_FOCUS_DOWNLOAD = 5,
  SETTINGS_FOCUS_UPLOAD = 6,
  SETTINGS_FOCUS_MUSIC = 7,
  SETTINGS_FOCUS_CTERM = 8,
  SETTINGS_FOCUS_SAVE = 9,
  SETTINGS_FOCUS_CANCEL = 10,
};

// Runs the form.  0 when it was left (saved or not); -1 when a display-mode
// change failed (the close flag is set: the menu ends).  However it ends,
// the menu caches are invalidated.
int ui_global_settings_form(UiContext* ui);

// The working copies of the live settings.
void settings_draft_take(SettingsDraft* d);
// Puts a draft into the live settings (both top-bar flags from its one) and
// writes kavel.prefs: transfer_prefs_save's result.
int settings_draft_save(const SettingsDraft* d);

// Drawing: the whole form, or only the row that changed since the last draw
// while the screen still shows the form (view 6 of the screen cache).
void ui_draw_transfer_paths(UiContext* ui, int focus, const SettingsDraft* d);
void ui_draw_transfer_option(UiContext* ui, int focus, bool focused, const SettingsDraft* d);
void ui_draw_transfer_path_row(UiContext* ui, int screen_row, bool focused, const char* label,
                               const char* path);
void ui_draw_modem_sound_choice(UiContext* ui, const char* id);
void ui_draw_transfer_saved_feedback(UiContext* ui);
// A path as its row shows it: as it is up to 54 bytes, else "..." and its
// last 48 bytes.
void settings_path_shown(const char* path, char out[64]);
// A stored directory as its row shows it: "PROGDIR:" as the directory it
// stands for, the file system's UTF-8 as the screen's CP437, shortened by
// settings_path_shown.  What is stored does not change.
std::string settings_path_display(const char* path);
// Edits a directory row inline (focus 5 or 6), on the directory it stands
// for; 1 when accepted.  The path is then what was typed (UTF-8), with the
// program's directory written "PROGDIR:" again when it was so before, and
// normalised: trimmed, empty gives the row's default (the download
// directory, the home directory).
int ui_edit_transfer_path_inline(UiContext* ui, int focus, const char* label, char* path,
                                 SettingsDraft* d);

inline constexpr int kSettingsView = 6;
