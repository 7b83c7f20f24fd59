// kavel: the program's entry.  Sets the display defaults, loads the
// preferences, reads the command line, checks the font files, then runs
// either the phonebook menu or one direct session.
#include <cstdio>
#include <string>

#include "app/cli.h"
#include "app/menu.h"
#include "app/startup.h"
#include "display/fonts.h"
#include "link/connect.h"
#include "menu/entry_list.h"
#include "phonebook/phonebook.h"
#include "phonebook/prefs.h"
#include "platform/display.h"
#include "platform/dos.h"
#include "session/session.h"
#include "session/session_loop.h"

namespace {

// Whether a window can be opened at all; asked before connecting, so that a
// missing display does not cost the BBS a call.
bool display_reachable() {
  PlatScreen* desk = plat_lock_desktop_screen();
  plat_unlock_screen(desk);
  return desk != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  startup_set_display_defaults();
  startup_load_prefs();

  CliOptions opts;
  cli_parse(argc, argv, &opts);
  const char* me = argc > 0 && argv[0] ? argv[0] : "kavel";
  // Decided once, here, so that the menu and the help text name the same
  // file.  Deciding creates nothing.
  const std::string book = cli_phonebook_path(opts);
  if (opts.action == CLI_HELP) {
    usage_with_files(stdout, me, book.c_str(), transfer_prefs_path().c_str());
    return 0;
  }
  if (opts.action == CLI_VERSION) {
    printf("%s %s\n", kProgramName, kProgramVersion);
    return 0;
  }
  if (opts.action == CLI_USAGE_ERROR) {
    char why[256];
    cli_usage_error_text(opts, why, sizeof why);
    fprintf(stderr, "%s: %s\n", me, why);
    usage(me);
    return 1;
  }
  startup_apply_window_mode(opts.window_mode);

  if (startup_validate_runtime_fonts() != 0) return 1;
  dos_install_break_handler();

  g_entry_list_link_kind = cli_entry_link_kind;
  if (opts.action == CLI_MENU) return menu_loop(book.c_str());
  if (!display_reachable()) {
    fprintf(stderr, "%s: cannot open a window: no display could be reached (is DISPLAY set?)\n",
            me);
    return 1;
  }
  // The phonebook over a direct session (Alt+E) is the default one; -p
  // names the menu's, and is ignored with a host.
  const std::string direct_book = phonebook_default_path();
  // No window is open while the link opens: its questions are asked on the
  // terminal kavel was started from, and refused when there is none.
  CliPromptStreams streams{stdin, stderr, true};
  g_session_prompts_without_window = cli_console_prompts(&streams);
  const SessionRequest req{.host = opts.host,
                           .port = opts.port,
                           .emulation = kEmulationAnsi,
                           .font = kFontCP437,
                           .phonebook_path = direct_book.c_str()};
  int r = run_session_common(&req);
  if (r != 0) {
    const char* why = connection_error();
    if (why[0])
      fprintf(stderr, "%s: %s\n", me, why);
    else
      fprintf(stderr, "%s: cannot open the session's window\n", me);
  }
  return r == 0 ? 0 : 1;
}
