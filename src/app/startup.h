// Start-up steps shared by the program and the developer tools that open a
// session without the menu: the display defaults, the preferences put into
// effect, and the window mode chosen on a command line.
#pragma once

// The display globals before the preferences are read: normal window, no own
// screen, a 640 x 480 x 4 own-screen size until the desktop is measured.
void startup_set_display_defaults();

// Loads kavel.prefs and puts what it says about the display into effect:
// the start-up window mode and the full-screen status bar.
void startup_load_prefs();

// Applies a CLI_MODE_* window mode (app/cli.h); CLI_MODE_UNCHANGED keeps
// what the preferences chose.
void startup_apply_window_mode(int mode);
