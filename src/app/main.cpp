// kavel: the program's entry.  Sets the display defaults, loads the
// preferences, reads the command line, checks the font files, then runs
// either the phonebook menu or one direct session.
#include <cstdio>

#include "app/cli.h"
#include "app/menu.h"
#include "app/startup.h"
#include "display/fonts.h"
#include "platform/dos.h"
#include "session/session.h"
#include "session/session_loop.h"

int main(int argc, char** argv) {
  startup_set_display_defaults();
  startup_load_prefs();

  CliOptions opts;
  cli_parse(argc, argv, &opts);
  const char* me = argc > 0 && argv[0] ? argv[0] : "kavel";
  if (opts.action == CLI_HELP) {
    usage(me);
    return 0;
  }
  if (opts.action == CLI_USAGE_ERROR) {
    usage(me);
    return 1;
  }
  startup_apply_window_mode(opts.window_mode);

  if (startup_validate_runtime_fonts() != 0) return 1;
  dos_install_break_handler();

  if (opts.action == CLI_MENU) return menu_loop(opts.phonebook_path);
  int r = run_session_common(opts.host, opts.port, kEmulationAnsi, nullptr, kFontCP437, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  return r == 0 ? 0 : 1;
}
