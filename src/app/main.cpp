// kavel: the program's entry.  Sets the display defaults, loads the
// preferences, reads the command line, checks the font files, then runs
// either the phonebook menu or one direct session.
#include <cstdio>

#include "app/cli.h"
#include "app/menu.h"
#include "app/startup.h"
#include "display/fonts.h"
#include "link/connect.h"
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
  if (opts.action == CLI_HELP) {
    usage(me);
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

  if (opts.action == CLI_MENU) return menu_loop(opts.phonebook_path);
  if (!display_reachable()) {
    fprintf(stderr, "%s: cannot open a window: no display could be reached (is DISPLAY set?)\n",
            me);
    return 1;
  }
  int r = run_session_common(opts.host, opts.port, kEmulationAnsi, nullptr, kFontCP437, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (r != 0) {
    const char* why = connection_error();
    if (why[0])
      fprintf(stderr, "%s: %s\n", me, why);
    else
      fprintf(stderr, "%s: cannot open the session's window\n", me);
  }
  return r == 0 ? 0 : 1;
}
