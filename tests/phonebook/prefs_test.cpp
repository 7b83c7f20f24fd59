// The preferences file: key aliases, mode words, sound choices, defaults and
// a save that never destroys the previous file.
#include "phonebook/prefs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "pb_test_util.h"
#include "platform/dos.h"
#include "support/test_support.h"

namespace {

void load_prefs(const std::string& text) {
  TempDir dir;
  ASSERT_TRUE(write_file_bytes(dir.file("kavel.prefs"), text));
  transfer_prefs_load_path(dir.file("kavel.prefs").c_str());
}

int save_prefs_in_child(void* path) {
  return transfer_prefs_save_path(static_cast<char*>(path));
}

}  // namespace

TEST(Prefs, KeysAndValues) {
  g_session_top_bar_enabled = 0;
  g_beep_sound_enabled = 0;
  safe_copy(g_download_path, sizeof g_download_path, "junk");
  g_ansi_music_enabled = 0;
  g_cterm_identity = 1;
  load_prefs("");
  EXPECT_EQ(g_download_path, dos_download_dir());
  EXPECT_EQ(g_session_top_bar_enabled + g_beep_sound_enabled + g_modem_sound_enabled, 3);
  EXPECT_EQ(g_ansi_music_enabled, 1);  // music on, the VT100 identity by default
  EXPECT_EQ(g_cterm_identity, 0);

  load_prefs("top_bar=0\n");
  EXPECT_EQ(g_session_top_bar_enabled, 0);
  EXPECT_EQ(g_upload_path, dos_home_dir());

  load_prefs(
      "# download=/comment\n"
      "  Download_Path  =  /home/user/dl  \r\n"
      "no equals sign\n=no key\nunknown=1\n"
      "bell_sound=word\nDIAL_SOUND= 2 \nsession_top_bar=-3\n"
      "upload=/first\nUPLOAD_PATH=\nANSI_Music = off\nidentify_as_cterm=1\n");
  EXPECT_STREQ(g_download_path, "/home/user/dl");
  EXPECT_EQ(g_upload_path, dos_home_dir());  // empty: the default
  EXPECT_EQ(g_beep_sound_enabled, 0);
  EXPECT_EQ(g_modem_sound_enabled, 1);
  EXPECT_EQ(g_session_top_bar_enabled, 1);
  EXPECT_EQ(g_ansi_music_enabled, 0);
  EXPECT_EQ(g_cterm_identity, 1);
  load_prefs("music=0\nmusic=1\ncterm_identity=7\n");
  EXPECT_EQ(g_ansi_music_enabled, 1);
  EXPECT_EQ(g_cterm_identity, 1);

  load_prefs("download=PROGDIR:transfers/DOWNLOADS\nupload=PROGDIR:Transfers/Uploads\n");
  EXPECT_STREQ(g_download_path, "PROGDIR:Transfers");
  EXPECT_STREQ(g_upload_path, "PROGDIR:Transfers");

  // Paths are cut to 255 bytes; the rest of a long line is not a line of its own.
  load_prefs("download=" + std::string(5000, 'd') + "beep_sound=0\n");
  EXPECT_EQ(strlen(g_download_path), 255u);
  EXPECT_EQ(g_beep_sound_enabled, 1);
}

TEST(Prefs, WindowModesAndSounds) {
  const struct {
    const char* line;
    int mode;
  } modes[] = {{"startup_mode=Window Medium", 1},
               {"window_mode=MEDIUM", 1},
               {"startup_mode=windows medium", 1},
               {"startup_mode=Full Screen", 2},
               {"window_mode=FULL", 2},
               {"startup_mode=fullscreen", 2},
               {"startup_mode=normal", 0},
               {"startup_mode=Windowed", 0}};
  for (const auto& c : modes) {
    load_prefs(std::string(c.line) + "\n");
    EXPECT_EQ(g_startup_window_mode, c.mode) << c.line;
  }
  // An unknown word keeps the mode.
  load_prefs("startup_mode=medium\nwindow_mode=sideways\n");
  EXPECT_EQ(g_startup_window_mode, 1);

  const char* sounds[][2] = {
      {"Sound 02", "modem02"}, {"2", "modem02"},        {"my_MODEM02.wav", "modem02"},
      {"", "modem01"},         {"sound 01", "modem01"}, {"/sounds/other.wav", "modem01"},
      {"02", "modem01"}};
  for (const auto& s : sounds) {
    load_prefs(std::string("dial_sound_file=") + s[0] + "\n");
    EXPECT_STREQ(g_modem_sound_path, s[1]) << s[0];
    EXPECT_STREQ(g_modem_sound_choices[modem_sound_choice_index(s[0])].id, s[1]) << s[0];
  }
  char path[256] = "  /data/x \t";
  normalize_transfer_path(path);
  EXPECT_STREQ(path, "/data/x");
}

TEST(Prefs, SaveAndReadBack) {
  TempDir dir;
  std::string path = dir.file("kavel.prefs");
  transfer_prefs_load_path(path.c_str());
  safe_copy(g_download_path, sizeof g_download_path, "  /dl  ");
  g_upload_path[0] = '\0';
  g_session_top_bar_enabled = 5;
  g_beep_sound_enabled = 0;
  safe_copy(g_modem_sound_path, sizeof g_modem_sound_path, "Sound 02");
  g_startup_window_mode = 1;
  g_ansi_music_enabled = 0;
  g_cterm_identity = 3;
  ASSERT_EQ(transfer_prefs_save_path(path.c_str()), 0);
  const std::string saved = read_file_text(path);
  EXPECT_EQ(saved,
            "download=/dl\nupload=\nsession_top_bar=1\nbeep_sound=0\n"
            "modem_sound=1\nmodem_sound_choice=modem02\nstartup_mode=Window Medium\n"
            "ansi_music=0\ncterm_identity=1\n");
  transfer_prefs_load_path(path.c_str());
  ASSERT_EQ(transfer_prefs_save_path(path.c_str()), 0);
  EXPECT_EQ(read_file_text(path), saved);
  for (int mode : {2, 7}) {
    g_startup_window_mode = mode;
    ASSERT_EQ(transfer_prefs_save_path(path.c_str()), 0);
    transfer_prefs_load_path(path.c_str());
    EXPECT_EQ(g_startup_window_mode, mode == 2 ? 2 : 0);
  }

  // Failures are reported, and the previous file stays whole.
  EXPECT_EQ(transfer_prefs_save_path(dir.file("no/dir/kavel.prefs").c_str()), -1);
  const std::string before = read_file_text(path);
  safe_copy(g_download_path, sizeof g_download_path, std::string(250, 'x').c_str());
  for (rlim_t limit : {rlim_t{0}, rlim_t{100}}) {
    EXPECT_EQ(in_child_with_file_limit(limit, save_prefs_in_child, path.data()), -1);
    EXPECT_EQ(read_file_text(path), before);
  }
  EXPECT_NE(access((path + ".tmp").c_str(), F_OK), 0);
}

// The transfer directories default to the user's own (the download directory
// xdg-user-dirs names, the home directory), are stored empty while they are
// the default, and a stored PROGDIR:Transfers keeps its meaning.  The
// configuration directory is made, private, only by a save into it.
TEST(Prefs, TheUsersOwnDirectoriesAndWhereTheFileGoes) {
  TempDir root;
  const std::string home = root.file("home");
  const std::string config = root.file("cfg");
  ScopedEnv h("HOME", home.c_str());
  ScopedEnv x("XDG_CONFIG_HOME", config.c_str());
  ScopedCwd cwd(root.path());
  ASSERT_EQ(mkdir(config.c_str(), 0755), 0);
  ASSERT_TRUE(write_file_bytes(config + "/user-dirs.dirs",
                               "XDG_DOWNLOAD_DIR=\"$HOME/T\xc3\xa9l\xc3\xa9" "chargements\"\n"));
  const std::string downloads = home + "/T\xc3\xa9l\xc3\xa9" "chargements";
  const std::string file = config + "/kavel/kavel.prefs";
  EXPECT_EQ(transfer_prefs_path(), file);
  EXPECT_EQ(dos_trust_files().known_hosts, config + "/kavel/known_hosts");
  EXPECT_EQ(dos_trust_files().certificate_pins, config + "/kavel/known_certificates");
  transfer_prefs_load();
  EXPECT_EQ(g_download_path, downloads);
  EXPECT_EQ(g_upload_path, home);
  struct stat st;
  EXPECT_NE(stat((config + "/kavel").c_str(), &st), 0);  // reading made nothing

  g_beep_sound_enabled = 0;
  ASSERT_EQ(transfer_prefs_save(), 0);
  ASSERT_EQ(stat((config + "/kavel").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(read_file_text(file).substr(0, 17), "download=\nupload=");
  transfer_prefs_load();
  EXPECT_EQ(g_download_path, downloads);
  EXPECT_EQ(g_beep_sound_enabled, 0);

  // A file in the current directory is used (and saved) there.
  ASSERT_TRUE(write_file_bytes("kavel.prefs", "download=PROGDIR:Transfers\nbeep_sound=1\n"));
  EXPECT_EQ(transfer_prefs_path(), "kavel.prefs");
  transfer_prefs_load();
  EXPECT_STREQ(g_download_path, "PROGDIR:Transfers");
  EXPECT_EQ(g_beep_sound_enabled, 1);
  ASSERT_EQ(transfer_prefs_save(), 0);
  EXPECT_EQ(read_file_text("kavel.prefs").substr(0, 35), "download=PROGDIR:Transfers\nupload=\n");
  transfer_prefs_set_defaults();
}
