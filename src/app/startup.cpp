#include "app/startup.h"

#include "app/cli.h"
#include "display/modes.h"
#include "phonebook/prefs.h"

void startup_set_display_defaults() {
  display_set_window_mode(DISPLAY_MODE_WINDOW);
  g_startup_window_mode = 0;
  g_screen_w = 640;
  g_screen_h = 480;
  g_screen_depth = 4;
}

void startup_load_prefs() {
  transfer_prefs_load();
  g_runtime_top_bar_enabled = g_session_top_bar_enabled;
  display_set_window_mode(g_startup_window_mode);
}

void startup_apply_window_mode(int mode) {
  if (mode == CLI_MODE_UNCHANGED) return;
  display_set_window_mode(mode);
}
