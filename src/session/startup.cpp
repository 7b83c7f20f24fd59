#include "session/startup.h"

#include "display/modes.h"
#include "phonebook/prefs.h"
#include "session/cli.h"

void startup_set_display_defaults() {
  g_fullscreen = 0;
  g_medium_window = 0;
  g_custom_screen = 0;
  g_startup_window_mode = 0;
  g_screen_w = 640;
  g_screen_h = 480;
  g_screen_depth = 4;
}

void startup_apply_window_mode(int mode) {
  if (mode == CLI_MODE_UNCHANGED) return;
  g_fullscreen = mode == CLI_MODE_FULLSCREEN ? 1 : 0;
  g_medium_window = mode == CLI_MODE_MEDIUM ? 1 : 0;
  g_custom_screen = 0;
}
