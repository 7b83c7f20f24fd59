// The operating-system services the program uses besides the display.
#pragma once
#include <sys/types.h>

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

// Creates path and every missing directory above it with mode (directories
// already there keep theirs); 0 when path is a directory in the end.
int dos_create_dirs(const char* path, mode_t mode);

// --- where the user's files live ----------------------------------------------------
// Kavel follows the XDG base directory rules.  Nothing here creates anything:
// a directory is made by whoever writes the first file into it, so that
// `kavel -h` or a look at the menu leaves no trace.

// The home directory: $HOME when it is an absolute path, else the password
// database's, else "/".  Without a trailing slash.
std::string dos_home_dir();
// $XDG_CONFIG_HOME when it is an absolute path (an unset, empty or relative
// one does not count), else ~/.config.
std::string dos_config_home();
// Where Kavel keeps what it writes for the user: the phonebook, the
// preferences, the trust files (dos_trust_files).  dos_config_home()/kavel.
std::string dos_config_dir();
std::string dos_config_path(const char* name);
// The trust files the program's links keep for the user, both in the
// configuration directory: SSH host keys (OpenSSH's known_hosts format, so
// that a user may copy lines from ~/.ssh/known_hosts) and pinned TLS
// certificates.  What a session puts into LinkOpenOptions::known_hosts and
// ::certificate_pins; it makes the directory (dos_config_dir_create) before
// it opens the link, since a link appends to these files on its own.
struct DosTrustFiles {
  std::string known_hosts;       // dos_config_path("known_hosts")
  std::string certificate_pins;  // dos_config_path("known_certificates")
};
DosTrustFiles dos_trust_files();
// Makes the configuration directory (private: 0700) with any missing parent;
// 0 when it is there.  A writer calls it before its first file goes there.
int dos_config_dir_create();
// When path names a file directly in the configuration directory, makes
// that directory (dos_config_dir_create); other paths are left alone, so a
// file named on the command line in a directory that is not there still
// fails as it should.  0, or -1 when the directory could not be made.
int dos_prepare_user_file(const char* path);
// The file a user's name (kavel.phonebook, kavel.prefs) stands for: the
// name itself, in the current directory, when something of that name is
// there (where Kavel kept its files before; it stays in use, and is saved
// there), else the same name in the configuration directory.
std::string dos_user_file_path(const char* name);
// The user's download directory: XDG_DOWNLOAD_DIR of
// dos_config_home()/user-dirs.dirs (the file xdg-user-dirs-update keeps and
// xdg-user-dir reads), else ~/Downloads.
std::string dos_download_dir();
// XDG_DOWNLOAD_DIR in the text of a user-dirs.dirs file, read as
// xdg-user-dir reads it ("$HOME/..." or an absolute path, backslash escapes,
// the last line wins); empty when the text has no usable one.
std::string dos_user_dirs_download(const std::string& text, const std::string& home);
// Where short-lived private files go (the scrollback viewer's text):
// $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp; a variable counts when it names
// an existing directory by an absolute path.
std::string dos_scratch_dir();
// path as an absolute path (relative ones joined to the current directory;
// nothing resolved), for telling the user which file is in use.
std::string dos_absolute_path(const char* path);
