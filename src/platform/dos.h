// The operating-system services the program uses besides the display.
#pragma once
#include <string>

// Pauses ticks x 20 ms after presenting pending drawing (a tick is 1/50 s).
void dos_delay(int ticks);
// Installs the SIGINT handler that raises the break flag (idempotent).
void dos_install_break_handler();
// Tests and clears the Ctrl-C break flag: 1 when it was set.
int dos_check_break();
// Sets the flag as SIGINT would (tests).
void dos_raise_break();
// The program's data directory ("PROGDIR:"), without a trailing slash: the
// executable's own directory when it holds the Fonts drawer (a build tree, or
// a copy unpacked anywhere), else the installed data directory when there is
// one: PREFIX/share/kavel for PREFIX/bin/kavel, whatever PREFIX is.
const std::string& dos_progdir();
// The choice dos_progdir makes, for an executable in exe_dir.  When neither
// place holds the data, the executable's directory, so that a report of
// missing files names the place they were looked for first.
std::string dos_progdir_for(const std::string& exe_dir);
// Where installed data lies, relative to the installed executable's
// directory ("../share/kavel" by default; the build passes its own).
const char* dos_installed_data_dir();
// Expands a leading "PROGDIR:" to the data directory ("PROGDIR:Fonts/x"
// becomes "/usr/share/kavel/Fonts/x"); other paths are returned unchanged.
std::string dos_expand_path(const char* path);
// Creates one directory (path may start with PROGDIR:); 0 on success or when
// it exists already as a directory, -1 otherwise.
int dos_create_dir(const char* path);
