// Start-up steps shared by the program and the developer tools that open a
// session without the menu: the display defaults and the window mode chosen
// on a command line.
#pragma once

// The display globals before the preferences are read: normal window, no own
// screen, a 640 x 480 x 4 own-screen size until the desktop is measured.
void startup_set_display_defaults();

// Applies a CLI_MODE_* window mode (session/cli.h); CLI_MODE_UNCHANGED keeps
// what the preferences chose.
void startup_apply_window_mode(int mode);
