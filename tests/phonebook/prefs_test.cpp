// The preferences file: key aliases, mode words, sound choices, defaults and
// a save that never destroys the previous file.
#include "phonebook/prefs.h"

#include <gtest/gtest.h>

#include <string>

#include "display/modes.h"
#include "pb_test_util.h"
#include "support/test_support.h"

namespace {

std::string contents(const std::string& path) {
  std::vector<unsigned char> b = read_file_bytes(path);
  return std::string(b.begin(), b.end());
}

// Loads a prefs file with the given contents from a fresh directory.
void load_prefs(const std::string& text) {
  TempDir dir;
  std::string path = dir.file("kavel.prefs");
  ASSERT_TRUE(write_file_bytes(path, text));
  transfer_prefs_load_path(path.c_str());
}

void scramble_globals() {
  safe_copy(g_download_path, sizeof g_download_path, "junk");
  safe_copy(g_upload_path, sizeof g_upload_path, "junk");
  g_session_top_bar_enabled = 0;
  g_runtime_top_bar_enabled = 0;
  g_beep_sound_enabled = 0;
  g_modem_sound_enabled = 0;
  safe_copy(g_modem_sound_path, sizeof g_modem_sound_path, "junk");
  g_startup_window_mode = 2;
}

int save_prefs_in_child(void* path) {
  return transfer_prefs_save_path(static_cast<char*>(path));
}

}  // namespace

TEST(Prefs, DefaultsWithoutAFile) {
  TempDir dir;
  scramble_globals();
  transfer_prefs_load_path(dir.file("kavel.prefs").c_str());
  EXPECT_STREQ(g_download_path, "PROGDIR:Transfers");
  EXPECT_STREQ(g_upload_path, "PROGDIR:Transfers");
  EXPECT_EQ(g_session_top_bar_enabled, 1);
  EXPECT_EQ(g_runtime_top_bar_enabled, 1);
  EXPECT_EQ(g_beep_sound_enabled, 1);
  EXPECT_EQ(g_modem_sound_enabled, 1);
  EXPECT_STREQ(g_modem_sound_path, "modem01");
  EXPECT_EQ(g_startup_window_mode, 0);
}

TEST(Prefs, KeysValuesAndAliases) {
  scramble_globals();
  load_prefs("top_bar=0\n");
  EXPECT_EQ(g_session_top_bar_enabled, 0);
  EXPECT_EQ(g_runtime_top_bar_enabled, 0);
  EXPECT_STREQ(g_download_path, "PROGDIR:Transfers");
  EXPECT_STREQ(g_upload_path, "PROGDIR:Transfers");

  load_prefs(
      "# comment=ignored\n"
      "  Download_Path  =  /home/user/dl  \r\n"
      "UPLOAD_PATH=/up\n"
      "no equals sign here\n"
      "=value without key\n"
      "unknown_key=1\n"
      "bell_sound=word\n"
      "DIAL_SOUND= 2 \n"
      "session_top_bar=-3\n");
  EXPECT_STREQ(g_download_path, "/home/user/dl");
  EXPECT_STREQ(g_upload_path, "/up");
  EXPECT_EQ(g_beep_sound_enabled, 0);
  EXPECT_EQ(g_modem_sound_enabled, 1);
  EXPECT_EQ(g_session_top_bar_enabled, 1);

  load_prefs("upload=\ndownload=PROGDIR:transfers/DOWNLOADS\nbeep_sound=0\nbeep_sound=2\n");
  EXPECT_STREQ(g_upload_path, "PROGDIR:Transfers");
  EXPECT_STREQ(g_download_path, "PROGDIR:Transfers");
  EXPECT_EQ(g_beep_sound_enabled, 1);

  load_prefs("upload=PROGDIR:Transfers/Uploads\ndownload=PROGDIR:Transfers/Uploads\n");
  EXPECT_STREQ(g_upload_path, "PROGDIR:Transfers");
  EXPECT_STREQ(g_download_path, "PROGDIR:Transfers/Uploads");

  // A path is cut to its 255 bytes; the rest of an over-long line is not
  // read as a line of its own.
  load_prefs("download=" + std::string(600, 'd') + "\nbeep_sound=0\n" +
             "upload=" + std::string(5000, 'u') + "beep_sound=1\n");
  EXPECT_EQ(strlen(g_download_path), 255u);
  EXPECT_EQ(strlen(g_upload_path), 255u);
  EXPECT_EQ(g_beep_sound_enabled, 0);
}

TEST(Prefs, WindowModeWords) {
  struct Case {
    const char* line;
    int mode;
  };
  const Case cases[] = {
      {"startup_mode=Window Medium", 1},  {"window_mode=MEDIUM", 1},
      {"startup_mode=windows medium", 1}, {"startup_mode=Fullscreen", 2},
      {"window_mode=full screen", 2},     {"startup_mode=FULL", 2},
      {"startup_mode=normal", 0},         {"startup_mode=Windowed", 0},
      {"startup_mode=window", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    g_custom_screen = 1;
    load_prefs(std::string(c.line) + "\n");
    EXPECT_EQ(g_startup_window_mode, c.mode);
    EXPECT_EQ(g_fullscreen, c.mode == 2 ? 1 : 0);
    EXPECT_EQ(g_medium_window, c.mode == 1 ? 1 : 0);
    EXPECT_EQ(g_custom_screen, 0);
  }
  // An unknown word keeps the mode given earlier and sets the flags from it.
  load_prefs("startup_mode=medium\nwindow_mode=sideways\n");
  EXPECT_EQ(g_startup_window_mode, 1);
  EXPECT_EQ(g_medium_window, 1);
  g_fullscreen = 1;
  load_prefs("startup_mode=\n");
  EXPECT_EQ(g_startup_window_mode, 0);
  EXPECT_EQ(g_fullscreen, 0);
}

TEST(Prefs, ModemSoundChoices) {
  struct Case {
    const char* value;
    const char* id;
  };
  const Case cases[] = {
      {"Sound 02", "modem02"},
      {"2", "modem02"},
      {"MODEM02", "modem02"},
      {"my_modem02.wav", "modem02"},
      {"modem01", "modem01"},
      {"", "modem01"},
      {"1", "modem01"},
      {"sound 01", "modem01"},
      {"/sounds/other.wav", "modem01"},
      {"02", "modem01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    load_prefs(std::string("dial_sound_file=") + c.value + "\n");
    EXPECT_STREQ(g_modem_sound_path, c.id);
    EXPECT_EQ(modem_sound_choice_index(c.value), strcmp(c.id, "modem02") == 0 ? 1 : 0);
  }
  EXPECT_EQ(modem_sound_choice_index(nullptr), 0);
  EXPECT_STREQ(g_modem_sound_choices[modem_sound_choice_index("Sound 02")].id, "modem02");

  char path[256] = " \t  ";
  normalize_transfer_path(path);
  EXPECT_STREQ(path, "PROGDIR:Transfers");
  safe_copy(path, sizeof path, "  /data/x  ");
  normalize_transfer_path(path);
  EXPECT_STREQ(path, "/data/x");
}

TEST(Prefs, SaveWritesTheCanonicalFileAndReadsBack) {
  TempDir dir;
  std::string path = dir.file("kavel.prefs");
  transfer_prefs_load_path(path.c_str());
  safe_copy(g_download_path, sizeof g_download_path, "  /dl  ");
  safe_copy(g_upload_path, sizeof g_upload_path, "");
  g_session_top_bar_enabled = 5;
  g_beep_sound_enabled = 0;
  g_modem_sound_enabled = 7;
  safe_copy(g_modem_sound_path, sizeof g_modem_sound_path, "Sound 02");
  g_startup_window_mode = 1;
  ASSERT_EQ(transfer_prefs_save_path(path.c_str()), 0);
  EXPECT_EQ(contents(path),
            "download=/dl\nupload=PROGDIR:Transfers\nsession_top_bar=1\nbeep_sound=0\n"
            "modem_sound=1\nmodem_sound_choice=modem02\nstartup_mode=Window Medium\n");

  scramble_globals();
  transfer_prefs_load_path(path.c_str());
  EXPECT_STREQ(g_download_path, "/dl");
  EXPECT_STREQ(g_upload_path, "PROGDIR:Transfers");
  EXPECT_EQ(g_session_top_bar_enabled, 1);
  EXPECT_EQ(g_beep_sound_enabled, 0);
  EXPECT_EQ(g_modem_sound_enabled, 1);
  EXPECT_STREQ(g_modem_sound_path, "modem02");
  EXPECT_EQ(g_startup_window_mode, 1);

  for (int mode : {0, 2, 7}) {
    g_startup_window_mode = mode;
    ASSERT_EQ(transfer_prefs_save_path(path.c_str()), 0);
    transfer_prefs_load_path(path.c_str());
    EXPECT_EQ(g_startup_window_mode, mode == 2 ? 2 : 0);
  }
}

TEST(Prefs, FailedSaveReportsAndKeepsTheOldFile) {
  TempDir dir;
  EXPECT_EQ(transfer_prefs_save_path(dir.file("no/such/dir/kavel.prefs").c_str()), -1);

  std::string path = dir.file("kavel.prefs");
  transfer_prefs_load_path(path.c_str());
  ASSERT_EQ(transfer_prefs_save_path(path.c_str()), 0);
  std::string before = contents(path);
  safe_copy(g_download_path, sizeof g_download_path, std::string(250, 'x').c_str());
  for (rlim_t limit : {rlim_t{0}, rlim_t{100}}) {
    EXPECT_EQ(in_child_with_file_limit(limit, save_prefs_in_child, path.data()), -1);
    EXPECT_EQ(contents(path), before);
  }
  EXPECT_NE(access((path + ".tmp").c_str(), F_OK), 0);
}
