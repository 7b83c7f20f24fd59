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
// The directory holding the executable, without a trailing slash.
const std::string& dos_progdir();
// Expands a leading "PROGDIR:" to the executable's directory ("PROGDIR:Fonts/x"
// becomes "/opt/kavel/Fonts/x"); other paths are returned unchanged.
std::string dos_expand_path(const char* path);
// Creates one directory (path may start with PROGDIR:); 0 on success or when
// it exists already as a directory, -1 otherwise.
int dos_create_dir(const char* path);
