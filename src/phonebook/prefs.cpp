#include "phonebook/prefs.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "phonebook/phonebook.h"
#include "phonebook/private_file.h"
#include "phonebook/text_fields.h"
#include "platform/dos.h"
#include "terminal/terminal.h"
#include "util/text.h"

// Filled by transfer_prefs_set_defaults (the defaults depend on the user's
// environment), which every program calls before it uses them.
char g_download_path[256] = "";
char g_upload_path[256] = "";
int g_session_top_bar_enabled = 1;
// g_beep_sound_enabled is defined beside the bell that obeys it (terminal/bell.cpp).
int g_modem_sound_enabled = 1;
char g_modem_sound_path[256] = "modem01";
int g_startup_window_mode = 0;

const ModemSoundChoice g_modem_sound_choices[kModemSoundChoiceCount] = {
    {"modem01", "Modem01", 0},
    {"modem02", "Modem02", 1},
};

namespace {

// Long enough for any line the writer produces (a 255-byte path and its key);
// longer hand-edited lines are cut, never read as two lines.
constexpr size_t kPrefsMaxLine = 4096;

bool key_is(const char* key, std::initializer_list<const char*> names) {
  for (const char* n : names) {
    if (pb_ascii_casecmp(key, n) == 0) return true;
  }
  return false;
}

void apply_setting(const char* key, const char* value) {
  if (key_is(key, {"download", "download_path"})) {
    safe_copy(g_download_path, sizeof g_download_path, value);
  } else if (key_is(key, {"upload", "upload_path"})) {
    safe_copy(g_upload_path, sizeof g_upload_path, value);
  } else if (key_is(key, {"session_top_bar", "top_bar"})) {
    g_session_top_bar_enabled = pb_parse_flag(value);
  } else if (key_is(key, {"beep_sound", "bell_sound"})) {
    g_beep_sound_enabled = pb_parse_flag(value);
  } else if (key_is(key, {"modem_sound", "dial_sound"})) {
    g_modem_sound_enabled = pb_parse_flag(value);
  } else if (key_is(key, {"modem_sound_file", "modem_sound_choice", "dial_sound_file"})) {
    safe_copy(g_modem_sound_path, sizeof g_modem_sound_path, value);
    normalize_modem_sound_path();
  } else if (key_is(key, {"ansi_music", "music"})) {
    g_ansi_music_enabled = pb_parse_flag(value);
  } else if (key_is(key, {"cterm_identity", "identify_as_cterm"})) {
    g_cterm_identity = pb_parse_flag(value);
  } else if (key_is(key, {"startup_mode", "window_mode"})) {
    int mode = prefs_window_mode_from_text(value);
    if (mode >= 0) g_startup_window_mode = mode;
  }
}

void apply_line(char* line) {
  trim(line);
  if (!line[0] || line[0] == '#') return;
  char* eq = strchr(line, '=');
  if (!eq) return;
  *eq = '\0';
  char* key = line;
  char* value = eq + 1;
  trim(key);
  trim(value);
  apply_setting(key, value);
}

}  // namespace

void transfer_default_path(TransferDir which, char out[256]) {
  std::string dir = which == TransferDir::kUpload ? dos_home_dir() : dos_download_dir();
  if (dir.size() >= 256) dir = dos_home_dir();
  if (dir.size() >= 256) dir = "/tmp";
  safe_copy(out, 256, dir.c_str());
}

void transfer_prefs_set_defaults() {
  transfer_default_path(TransferDir::kDownload, g_download_path);
  transfer_default_path(TransferDir::kUpload, g_upload_path);
  g_session_top_bar_enabled = 1;
  g_beep_sound_enabled = 1;
  g_modem_sound_enabled = 1;
  safe_copy(g_modem_sound_path, sizeof g_modem_sound_path, g_modem_sound_choices[0].id);
  g_startup_window_mode = 0;
  g_ansi_music_enabled = 1;
  g_cterm_identity = 0;
}

int prefs_window_mode_from_text(const char* text) {
  if (!text) return -1;
  if (key_is(text, {"window", "normal", "windowed"})) return 0;
  if (key_is(text, {"medium", "windows medium", "window medium"})) return 1;
  if (key_is(text, {"fullscreen", "full screen", "full"})) return 2;
  return -1;
}

void transfer_prefs_read_stream(FILE* in) {
  if (!in) return;
  char* line = nullptr;
  size_t cap = 0;
  // A NUL byte ends the line as far as any setting is concerned.  Reading
  // stops at the end of the file or when a line cannot be held in memory;
  // the settings not read keep their defaults.
  while (phonebook_read_line(in, &line, &cap, kPrefsMaxLine) >= 0) apply_line(line);
  free(line);
}

void transfer_prefs_load_path(const char* path) {
  transfer_prefs_set_defaults();
  FILE* f = path && *path ? fopen(path, "r") : nullptr;
  if (!f) return;
  transfer_prefs_read_stream(f);
  fclose(f);
  normalize_transfer_path(g_download_path, TransferDir::kDownload);
  normalize_transfer_path(g_upload_path, TransferDir::kUpload);
  normalize_modem_sound_path();
  // Older settings named these two; both stand for the one Transfers
  // directory, as before.
  if (pb_ascii_casecmp(g_download_path, "PROGDIR:Transfers/Downloads") == 0)
    safe_copy(g_download_path, sizeof g_download_path, kProgdirTransferPath);
  if (pb_ascii_casecmp(g_upload_path, "PROGDIR:Transfers/Uploads") == 0)
    safe_copy(g_upload_path, sizeof g_upload_path, kProgdirTransferPath);
}

std::string transfer_prefs_path() {
  return dos_user_file_path(kPrefsFileName);
}

void transfer_prefs_load() {
  transfer_prefs_load_path(transfer_prefs_path().c_str());
}

int transfer_prefs_save_path(const char* path) {
  if (!path || !*path) return -1;
  normalize_transfer_path(g_download_path, TransferDir::kDownload);
  normalize_transfer_path(g_upload_path, TransferDir::kUpload);
  normalize_modem_sound_path();
  // A directory that is its default is stored as such (empty), not as the
  // place it is today: it then follows the user's download directory.
  char download_default[256];
  char upload_default[256];
  transfer_default_path(TransferDir::kDownload, download_default);
  transfer_default_path(TransferDir::kUpload, upload_default);
  const char* download = strcmp(g_download_path, download_default) == 0 ? "" : g_download_path;
  const char* upload = strcmp(g_upload_path, upload_default) == 0 ? "" : g_upload_path;
  if (dos_prepare_user_file(path) != 0) return -1;
  // Written beside the real file (behind a symbolic link, beside its
  // target) and renamed over it, so that a failed or interrupted write never
  // leaves the user with truncated settings, and the file keeps the bits the
  // user gave it.
  FileReplace r;
  int rc = file_replace_begin(path, NewFileAccess::kUmask, &r);
  if (rc != 0) return rc;
  FILE* f = file_replace_create_tmp(&r);
  if (!f) return -1;
  const char* mode = g_startup_window_mode == 1   ? "Window Medium"
                     : g_startup_window_mode == 2 ? "Fullscreen"
                                                  : "Window";
  bool ok = fprintf(f,
                    "download=%s\nupload=%s\nsession_top_bar=%d\nbeep_sound=%d\nmodem_sound=%d\n"
                    "modem_sound_choice=%s\nstartup_mode=%s\nansi_music=%d\ncterm_identity=%d\n",
                    download, upload, g_session_top_bar_enabled > 0 ? 1 : 0,
                    g_beep_sound_enabled ? 1 : 0, g_modem_sound_enabled ? 1 : 0, g_modem_sound_path,
                    mode, g_ansi_music_enabled ? 1 : 0, g_cterm_identity ? 1 : 0) >= 0;
  if (file_replace_close_tmp(f, &r, ok) != 0) return -1;
  if (file_replace_rename(r.tmp.c_str(), r.target.c_str()) != 0) {
    remove(r.tmp.c_str());
    return -1;
  }
  return 0;
}

const char* transfer_prefs_save_message(int rc) {
  if (rc == 0) return nullptr;
  return rc == kSaveReadOnly ? kPrefsMsgReadOnly : kPrefsMsgSaveFailed;
}

int transfer_prefs_save() {
  return transfer_prefs_save_path(transfer_prefs_path().c_str());
}

void normalize_transfer_path(char* path, TransferDir which) {
  if (!path) return;
  path[255] = '\0';
  trim(path);
  if (!path[0]) transfer_default_path(which, path);
}

int modem_sound_choice_index(const char* text) {
  if (!text) return 0;
  if (pb_ascii_casecmp(text, "2") == 0 || pb_ascii_casecmp(text, "sound 02") == 0 ||
      pb_ascii_contains(text, "modem02")) {
    return 1;
  }
  return 0;
}

void normalize_modem_sound_path() {
  g_modem_sound_path[sizeof g_modem_sound_path - 1] = '\0';
  trim(g_modem_sound_path);
  const char* t = g_modem_sound_path;
  const char* id;
  if (!t[0] || pb_ascii_casecmp(t, "1") == 0 || pb_ascii_casecmp(t, "sound 01") == 0 ||
      pb_ascii_contains(t, "modem01")) {
    id = g_modem_sound_choices[0].id;
  } else if (pb_ascii_casecmp(t, "2") == 0 || pb_ascii_casecmp(t, "sound 02") == 0 ||
             pb_ascii_contains(t, "modem02")) {
    id = g_modem_sound_choices[1].id;
  } else {
    id = g_modem_sound_choices[modem_sound_choice_index(t)].id;
  }
  safe_copy(g_modem_sound_path, sizeof g_modem_sound_path, id);
}
