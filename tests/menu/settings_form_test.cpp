// The global settings form: working copies, the rows' actions, Save and
// Cancel against the settings and kavel.prefs, the top bar, golden images.
#include "menu/settings_form.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "display/modes.h"
#include "forms_test_util.h"
#include "phonebook/prefs.h"
#include "platform/dos.h"
#include "support/test_support.h"
#include "util/text.h"

using namespace forms_test;

namespace {

// Backspaces enough to empty any directory field (255 bytes at most): the
// field starts with the directory a "PROGDIR:" path stands for.
const std::vector<PlatEvent> kClear(256, kBackspace);

class SettingsForm : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    // A kavel.prefs in the current directory is the one in use, and the
    // directories are the program's own, as an older file has them: what
    // the form shows and stores again as PROGDIR:.
    ASSERT_TRUE(write_file_bytes(kPrefsFileName, ""));
    transfer_prefs_set_defaults();
    safe_copy(g_download_path, sizeof g_download_path, kProgdirTransferPath);
    safe_copy(g_upload_path, sizeof g_upload_path, kProgdirTransferPath);
    ASSERT_EQ(transfer_prefs_save(), 0);
    file_before = read_file_bytes(kPrefsFileName);
  }
  void TearDown() override {
    transfer_prefs_set_defaults();
    g_runtime_top_bar_enabled = 1;
    if (chdir(cwd) != 0) ADD_FAILURE() << "cannot return to " << cwd;
    FormTest::TearDown();
  }
  int run(const std::vector<PlatEvent>& events) {
    inject(events);
    return ui_global_settings_form(&ui);
  }
  std::string prefs() {
    std::vector<unsigned char> b = read_file_bytes(kPrefsFileName);
    return std::string(b.begin(), b.end());
  }

  TempDir dir;
  char cwd[4096];
  std::vector<unsigned char> file_before;
};

TEST_F(SettingsForm, LeavingWithoutSavingChangesNothing) {
  const std::vector<std::vector<PlatEvent>> endings = {
      {kEscape}, {kEnd, kDown, kDown, kDown, kDown, kDown, kDown, kDown, kDown, kReturn}};
  for (const auto& ending : endings) {
    // Toggle Beep, Top Bar and the modem, step the mode, pick the other sound.
    EXPECT_EQ(run(std::vector<PlatEvent>{kReturn, kDown, kReturn, kDown, kReturn, kDown, kReturn,
                                         kDown, kReturn, kRight, kReturn} +
                  ending),
              0);
    EXPECT_EQ(g_beep_sound_enabled, 1);
    EXPECT_EQ(g_session_top_bar_enabled, 1);
    EXPECT_EQ(g_runtime_top_bar_enabled, 1);
    EXPECT_EQ(g_modem_sound_enabled, 1);
    EXPECT_STREQ(g_modem_sound_path, "modem01");
    EXPECT_EQ(g_startup_window_mode, 0);
    EXPECT_EQ(read_file_bytes(kPrefsFileName), file_before);
  }
}

TEST_F(SettingsForm, SaveWritesTheWorkingCopies) {
  // Startup: Return twice is Fullscreen; Beep off; sound 2; download path.
  std::vector<PlatEvent> ev =
      std::vector<PlatEvent>{kReturn, kReturn, kDown,   kDown, kReturn, kDown, kDown,
                             kReturn, kRight,  kReturn, kDown, kReturn, kEnd} +
      typed("/Downloads") + std::vector<PlatEvent>{kReturn, alt('s')};
  EXPECT_EQ(run(ev), 0);
  EXPECT_EQ(g_startup_window_mode, 2);
  EXPECT_EQ(g_beep_sound_enabled, 0);
  EXPECT_STREQ(g_modem_sound_path, "modem02");
  EXPECT_STREQ(g_download_path, "PROGDIR:Transfers/Downloads");
  EXPECT_EQ(prefs(),
            "download=PROGDIR:Transfers/Downloads\nupload=PROGDIR:Transfers\nsession_top_bar=1\n"
            "beep_sound=0\nmodem_sound=1\nmodem_sound_choice=modem02\nstartup_mode=Fullscreen\n"
            "ansi_music=1\ncterm_identity=0\n");
}

TEST_F(SettingsForm, RowActions) {
  struct Case {
    const char* name;
    std::vector<PlatEvent> events;
    const char* line;  // expected in the saved file
  };
  const Case cases[] = {
      {"Return on Startup three times is Window again",
       {kReturn, kReturn, kReturn, vanilla('s')},
       "startup_mode=Window\n"},
      {"Return on Startup once is Window Medium",
       {kReturn, vanilla('S')},
       "startup_mode=Window Medium\n"},
      {"Up from Startup stays on Startup",
       {kUp, kUp, kReturn, vanilla('s')},
       "startup_mode=Window Medium\n"},
      {"Down from Cancel stays on Cancel: seven Up is Modem Simulation",
       std::vector<PlatEvent>(14, kDown) + std::vector<PlatEvent>(7, kUp) +
           std::vector<PlatEvent>{kReturn, alt('s')},
       "modem_sound=0\n"},
      {"clearing the download directory gives its default, stored empty",
       std::vector<PlatEvent>{kDown, kDown, kDown, kDown, kDown, kReturn} +
           kClear + std::vector<PlatEvent>{kReturn, alt('s')},
       "download=\nupload=PROGDIR:Transfers\n"},
      {"Return on ANSI Music turns the music off",
       std::vector<PlatEvent>(7, kDown) + std::vector<PlatEvent>{kReturn, alt('s')},
       "ansi_music=0\n"},
      {"Return on Identify as CTerm turns the identity on",
       std::vector<PlatEvent>(8, kDown) + std::vector<PlatEvent>{kReturn, alt('s')},
       "cterm_identity=1\n"},
      {"Escape in a path edit keeps the path",
       std::vector<PlatEvent>{kDown, kDown, kDown, kDown, kDown, kDown, kReturn} + typed("/x") +
           std::vector<PlatEvent>{kEscape, alt('s')},
       "upload=PROGDIR:Transfers\n"},
  };
  for (const Case& c : cases) {
    transfer_prefs_set_defaults();
    safe_copy(g_download_path, sizeof g_download_path, kProgdirTransferPath);
    safe_copy(g_upload_path, sizeof g_upload_path, kProgdirTransferPath);
    EXPECT_EQ(run(c.events), 0) << c.name;
    EXPECT_NE(prefs().find(c.line), std::string::npos) << c.name << "\n" << prefs();
  }
}

TEST_F(SettingsForm, PastingAPath) {
  const char text[] = "/srv/files\tnew\n";
  plat_headless_clipboard_set_text(text, sizeof text - 1);
  std::vector<PlatEvent> ev = std::vector<PlatEvent>{kDown, kDown, kDown, kDown, kDown, kReturn} +
                              kClear + std::vector<PlatEvent>{alt('v'), kReturn, alt('s')};
  EXPECT_EQ(run(ev), 0);
  EXPECT_STREQ(g_download_path, "/srv/files new");
}

// A directory is the file system's bytes: what is typed (é arrives as its
// character, the menu's CP437 130) is stored as UTF-8, and a path with
// characters the screen cannot show keeps them through an edit.
TEST_F(SettingsForm, PathsAreStoredAsUtf8) {
  const std::vector<PlatEvent> to_download = {kDown, kDown, kDown, kDown, kDown, kReturn};
  EXPECT_EQ(run(to_download + kClear + typed("/srv/caf") +
                std::vector<PlatEvent>{vanilla(0xE9), kReturn, alt('s')}),
            0);
  EXPECT_STREQ(g_download_path, "/srv/caf\xc3\xa9");
  EXPECT_NE(prefs().find("download=/srv/caf\xc3\xa9\n"), std::string::npos) << prefs();
  // 日本 has no CP437 picture: shown as "??", kept as it was.
  safe_copy(g_download_path, sizeof g_download_path, "/srv/\xe6\x97\xa5\xe6\x9c\xac");
  EXPECT_EQ(run(to_download + std::vector<PlatEvent>{kBackspace} + typed("/x") +
                std::vector<PlatEvent>{kReturn, alt('s')}),
            0);
  EXPECT_STREQ(g_download_path, "/srv/\xe6\x97\xa5/x");
}

// A row shows the directory a path stands for ("PROGDIR:" expanded) in the
// screen's CP437; the form stores what it was given, and a PROGDIR: path
// accepted as shown (or lengthened) is stored in its own form again.
TEST_F(SettingsForm, DirectoriesShowWhereTheyAre) {
  std::string transfers = dos_progdir() + "/Transfers";
  char shortened[64];
  settings_path_shown(transfers.c_str(), shortened);
  EXPECT_EQ(settings_path_display("PROGDIR:Transfers"), shortened);
  EXPECT_EQ(settings_path_display("/srv/caf\xc3\xa9"), "/srv/caf\x82");
  EXPECT_EQ(run({kDown, kDown, kDown, kDown, kDown, kReturn, kReturn, kDown, kReturn, kEnd,
                 vanilla('/'), vanilla('u'), kReturn, alt('s')}),
            0);
  EXPECT_STREQ(g_download_path, "PROGDIR:Transfers");
  EXPECT_STREQ(g_upload_path, "PROGDIR:Transfers/u");
}

TEST(SettingsPaths, LongPathsShowTheirEnd) {
  char out[64];
  std::string sixty = "/home/user/a/very/long/path/that/goes/on/and/on/and/on/xyz12";
  ASSERT_EQ(sixty.size(), 60u);
  settings_path_shown(sixty.c_str(), out);
  EXPECT_EQ(std::string(out), "..." + sixty.substr(12));
  std::string fifty_four(54, 'p');
  settings_path_shown(fifty_four.c_str(), out);
  EXPECT_EQ(std::string(out), fifty_four);
}

TEST_F(SettingsForm, TopBarOffInFullScreenGoesAtOnce) {
  ui_close(&ui);
  display_set_window_mode(DISPLAY_MODE_FULLSCREEN);
  ASSERT_EQ(ui_open_menu(&ui, "Kavel"), 0);
  ASSERT_TRUE(ui.fullscreen);
  ASSERT_GT(ui.top_bar_height, 0);
  EXPECT_EQ(run({kDown, kReturn, alt('s')}), 0);
  EXPECT_EQ(g_runtime_top_bar_enabled, 0);
  EXPECT_EQ(g_session_top_bar_enabled, 0);
  EXPECT_EQ(ui.top_bar_height, 0);
  // In a window nothing visible changes.
  ui_close(&ui);
  display_set_window_mode(DISPLAY_MODE_WINDOW);
  ASSERT_EQ(ui_open_menu(&ui, "Kavel"), 0);
  EXPECT_EQ(run({kReturn, kDown, kReturn, alt('s')}), 0);
  EXPECT_EQ(g_runtime_top_bar_enabled, 1);
  EXPECT_EQ(ui.top_bar_height, 0);
}

TEST_F(SettingsForm, AReadOnlyFileIsReportedAndTheValuesStayInEffect) {
  ASSERT_EQ(chmod(kPrefsFileName, 0400), 0);
  EXPECT_EQ(run({kDown, kDown, kReturn, alt('s'), vanilla(' ')}), 0);
  EXPECT_EQ(g_beep_sound_enabled, 0);
  EXPECT_EQ(read_file_bytes(kPrefsFileName), file_before);
  chmod(kPrefsFileName, 0600);
}

TEST_F(SettingsForm, FormGolden) {
  SettingsDraft d;
  settings_draft_take(&d);
  // Fixed directories: "PROGDIR:" would show where this build is.
  safe_copy(d.download, sizeof d.download, "/srv/bbs/caf\xc3\xa9");
  safe_copy(d.upload, sizeof d.upload,
            "/home/user/a/very/long/path/that/goes/on/and/on/and/on/xyz12");
  ui_invalidate_menu_caches();
  ui_draw_transfer_paths(&ui, SETTINGS_FOCUS_BEEP, &d);
  golden("form_settings");
  EXPECT_EQ(pen_at_cell(13, 40), pen_of(UI_BLUE));
  EXPECT_EQ(pen_at_cell(12, 40), pen_of(UI_BLACK));
  // The cache holds the form: a move redraws only the two rows.
  ui_draw_transfer_paths(&ui, SETTINGS_FOCUS_MODEM, &d);
  EXPECT_EQ(g_transfer_last_selected, SETTINGS_FOCUS_MODEM);
  EXPECT_EQ(pen_at_cell(13, 40), pen_of(UI_BLACK));
  EXPECT_EQ(pen_at_cell(14, 40), pen_of(UI_BLUE));
}

TEST_F(SettingsForm, SoundChooserGolden) {
  SettingsDraft d;
  settings_draft_take(&d);
  safe_copy(d.download, sizeof d.download, "/srv/bbs/downloads");
  safe_copy(d.upload, sizeof d.upload, "/srv/bbs/uploads");
  ui_invalidate_menu_caches();
  ui_draw_transfer_paths(&ui, SETTINGS_FOCUS_MODEM_SOUND, &d);
  ui_draw_modem_sound_choice(&ui, "modem02");
  golden("form_settings_sound_chooser");
  EXPECT_EQ(pen_at_cell(15, 40), pen_of(2));
}

}  // namespace
