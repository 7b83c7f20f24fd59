// The global settings kept in kavel.prefs: transfer directories, the status
// top bar, the bell and dial sounds, the display mode to start in, ANSI
// music and the CTerm identity.
#pragma once
#include <cstdio>
#include <string>

inline constexpr const char* kPrefsFileName = "kavel.prefs";
// The Transfers directory beside the program: where transfers went before
// Kavel used the user's own directories.  A stored setting of it keeps that
// meaning (nobody's downloads move behind their back); nothing creates it
// unless it is the setting in use.
inline constexpr const char* kProgdirTransferPath = "PROGDIR:Transfers";
// There is no fixed default directory to fall back on or to create: a
// blank setting stands for the user's own directory (transfer_default_path).
// Empty, so that the callers that pass a fall-back create nothing with it.
inline constexpr const char* kDefaultTransferPath = "";

// The two transfer directories.  An empty setting means the default: the
// user's download directory for downloads, the home directory for uploads.
enum class TransferDir { kDownload, kUpload };

// The settings, one global each.  They are only read and written here: the
// start-up (app/startup) puts the window mode and the status bar into effect
// (the display's g_runtime_top_bar_enabled and window mode).
extern char g_download_path[256];
extern char g_upload_path[256];
extern int g_session_top_bar_enabled;
extern int g_beep_sound_enabled;  // defined beside the bell that obeys it (terminal/bell.cpp)
extern int g_modem_sound_enabled;
extern char g_modem_sound_path[256];  // "modem01" or "modem02" once normalised
extern int g_startup_window_mode;     // 0 window, 1 medium window, 2 full screen
// Defined beside the terminal code that obeys them (terminal/music.cpp,
// terminal/ansi.cpp): "ansi_music" (default 1) plays the music strings
// boards send, "cterm_identity" (default 0) makes device attributes name
// the CTerm identity.
extern int g_ansi_music_enabled;
extern int g_cterm_identity;

// The two built-in dial recordings: identifier, menu label, and which
// embedded sound plays (0 the first recording, 1 the second).
struct ModemSoundChoice {
  const char* id;
  const char* label;
  int sound;
};
inline constexpr int kModemSoundChoiceCount = 2;
extern const ModemSoundChoice g_modem_sound_choices[kModemSoundChoiceCount];

// The preferences file in use: kavel.prefs in the current directory when
// one is there (where Kavel kept it before), else the one in the
// configuration directory (platform/dos.h).  Decided at every call.
std::string transfer_prefs_path();
// Sets every default, then reads the preferences file (transfer_prefs_path)
// when it can be opened.
void transfer_prefs_load();
// Writes the preferences file (transfer_prefs_path; the configuration
// directory is made, private, when the file goes there) through a temporary
// file renamed over it.  A directory that is its default is written as an
// empty value, so that it follows the user's download directory.  A symbolic
// link at the name is saved through to its target; an existing file keeps
// its permission bits, a new one gets the umask's.  0; kSaveReadOnly (-2)
// when the user made the file read-only; -1 when it could not be written
// completely.  On failure the previous file is left as it was.
int transfer_prefs_save();
// What the user is told about a save's result: null for success, else
// kPrefsMsgReadOnly or kPrefsMsgSaveFailed.
const char* transfer_prefs_save_message(int rc);
inline constexpr const char* kPrefsMsgSaveFailed = "Could not save kavel.prefs.";
inline constexpr const char* kPrefsMsgReadOnly = "kavel.prefs is read-only; settings not saved.";
// The same with an explicit file name.
void transfer_prefs_load_path(const char* path);
int transfer_prefs_save_path(const char* path);
// Resets every setting to its default (no file is read).
void transfer_prefs_set_defaults();
// Applies the settings lines of an open stream over the current values
// (without the defaults and the normalisation that loading adds).
void transfer_prefs_read_stream(FILE* in);

// The default of a transfer directory (the user's download directory, the
// home directory), as a 256-byte setting.  One too long to be held there
// gives the home directory, and failing that /tmp: a cut path would name
// another directory.
void transfer_default_path(TransferDir which, char out[256]);
// Trims a 256-byte path buffer; an empty result becomes the directory's
// default (transfer_default_path).
void normalize_transfer_path(char* path, TransferDir which = TransferDir::kDownload);
// Rewrites g_modem_sound_path as "modem01" or "modem02".
void normalize_modem_sound_path();
// 1 for a text that selects the second recording, else 0.
int modem_sound_choice_index(const char* text);
// The display mode a word names (0, 1, 2), or -1 when it names none.
int prefs_window_mode_from_text(const char* text);
