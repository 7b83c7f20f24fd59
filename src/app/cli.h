// The command line: the argument table, the help text and the port parser.
#pragma once
#include <cstdio>
#include <string>

#include "link/link.h"
#include "util/version.h"

// The version tag, kept as one string so that it can be found in the binary.
extern const char kVersionString[];

inline constexpr int kDefaultPort = 23;

enum CliAction : int {
  CLI_MENU = 0,         // no host: the phonebook menu
  CLI_DIRECT = 1,       // a host: one session
  CLI_HELP = 2,         // -h / --help: the help text, status 0
  CLI_USAGE_ERROR = 3,  // unknown option or -p without a path: the help text, status 1
  CLI_VERSION = 4,      // --version: "Kavel 0.20", status 0
};

// Window mode chosen on the command line; CLI_MODE_UNCHANGED keeps what the
// preferences chose.
enum : int {
  CLI_MODE_UNCHANGED = -1,
  CLI_MODE_WINDOW = 0,
  CLI_MODE_MEDIUM = 1,
  CLI_MODE_FULLSCREEN = 2,
};

struct CliOptions {
  CliAction action;
  int window_mode;             // CLI_MODE_*; the last window option wins
  const char* phonebook_path;  // -p / --phonebook; null when not given
  const char* host;            // points into argv; null on the menu path
  int port;                    // 23 unless the address or the argument after it names one
  const char* bad_arg;         // CLI_USAGE_ERROR: the argument at fault
};

// The one line that says what was wrong with the command line (without the
// program name or a line feed), e.g. "unknown option -x".
void cli_usage_error_text(const CliOptions& o, char* out, size_t cap);

// Reads the arguments in order (argv[0] is the invocation name).  Touches
// no file.
void cli_parse(int argc, char** argv, CliOptions* out);
// The phonebook the program uses: the one -p named, else
// phonebook_default_path() (the current directory's kavel.phonebook when
// there is one, else the configuration directory's).
std::string cli_phonebook_path(const CliOptions& o);

// The help text for this invocation name, on standard output / on a stream.
void usage(const char* invocation);
void usage_to(FILE* out, const char* invocation);
// -h: the help text, then the files in use ("Phone book: PATH" and
// "Settings: PATH", absolute).
void usage_with_files(FILE* out, const char* invocation, const char* phonebook_path,
                      const char* prefs_path);

// A decimal number from 1 to 65535, or the default for anything else (null,
// empty, no digits, out of range).  Leading space and a sign are accepted,
// trailing characters ignored.
int parse_int_default(const char* text, int default_value);

// The link's questions (host keys, certificates, passphrases) asked on a
// text console, for sessions without a menu window: the question and its
// details go to out, the answer comes from in as one line ("y" or "yes"
// says yes; anything else, or the end of input, no), a secret with echo off
// when in is a terminal.  With only_on_a_terminal (the direct path, which may
// have been started where nobody sees its terminal) every question is
// answered no / nothing unless in is a terminal.
struct CliPromptStreams {
  FILE* in;
  FILE* out;
  bool only_on_a_terminal;
};
LinkPrompts cli_console_prompts(CliPromptStreams* streams);

// The menu list's view of an address (menu/entry_list.h, EntryLinkKindFn):
// the kind's label, host and port as the link splits the address.
const char* cli_entry_link_kind(const char* address, int port, char* host, size_t cap,
                                int* call_port);
