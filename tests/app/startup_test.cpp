// Start-up: the preferences put into effect (the window mode to start in and
// the full-screen status bar) and the command line's window option over them.
#include "app/startup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "app/cli.h"
#include "display/modes.h"
#include "phonebook/prefs.h"
#include "support/test_support.h"

namespace {

// Runs the start-up steps in a directory whose kavel.prefs holds text (no
// file at all for null), as the program does from its working directory.
void start_with_prefs(const char* text, int cli_mode) {
  TempDir dir;
  if (text) {
    ASSERT_TRUE(write_file_bytes(dir.file("kavel.prefs"), text));
  }
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  startup_set_display_defaults();
  startup_load_prefs();
  startup_apply_window_mode(cli_mode);
  ASSERT_EQ(chdir(old), 0);
}

TEST(Startup, PrefsChooseTheModeAndTheCommandLineWins) {
  const struct {
    const char* name;
    const char* prefs;
    int cli;
    int mode;
    int custom_before;
  } cases[] = {
      {"no file", nullptr, CLI_MODE_UNCHANGED, DISPLAY_MODE_WINDOW, 1},
      {"medium from the file", "startup_mode=Window Medium\n", CLI_MODE_UNCHANGED,
       DISPLAY_MODE_MEDIUM, 1},
      {"full screen from the file", "window_mode=FULL\n", CLI_MODE_UNCHANGED,
       DISPLAY_MODE_FULLSCREEN, 0},
      {"the last word counts", "startup_mode=full\nstartup_mode=medium\n", CLI_MODE_UNCHANGED,
       DISPLAY_MODE_MEDIUM, 0},
      {"-w over the file", "startup_mode=fullscreen\n", CLI_MODE_WINDOW, DISPLAY_MODE_WINDOW, 1},
      {"-f over the file", "startup_mode=normal\n", CLI_MODE_FULLSCREEN, DISPLAY_MODE_FULLSCREEN,
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A full-screen layout left from before is forgotten with the mode.
    if (c.custom_before) prepare_borderless_fullscreen_layout();
    start_with_prefs(c.prefs, c.cli);
    EXPECT_EQ(display_window_mode(), c.mode);
    EXPECT_EQ(g_fullscreen, c.mode == DISPLAY_MODE_FULLSCREEN ? 1 : 0);
    EXPECT_EQ(g_medium_window, c.mode == DISPLAY_MODE_MEDIUM ? 1 : 0);
    EXPECT_EQ(g_custom_screen, 0);
  }
  display_set_window_mode(DISPLAY_MODE_WINDOW);
}

TEST(Startup, StatusBarFollowsThePrefs) {
  const struct {
    const char* prefs;
    int bar;
  } cases[] = {{nullptr, 1}, {"top_bar=0\n", 0}, {"session_top_bar=1\n", 1}, {"", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.prefs ? c.prefs : "no file");
    g_runtime_top_bar_enabled = 1 - c.bar;
    start_with_prefs(c.prefs, CLI_MODE_UNCHANGED);
    EXPECT_EQ(g_runtime_top_bar_enabled, c.bar);
    EXPECT_EQ(g_session_top_bar_enabled, c.bar);
  }
}

}  // namespace
