// kavel-c64: a way into a Commodore 64 PETSCII session without the phonebook.
// The program's own command line opens ANSI sessions only; this opens one
// session the way a phonebook entry of type PETSCII with a C64 font does, in
// a real window (SDL backend).
//
//   kavel-c64 [-f | -m | -w] [--font NAME] HOST [PORT]
//
// NAME is any font choice ("C64 Up/GFX [40]" by default, "C64 Low/Up [40]",
// "C64 Up/GFX [80]", "C64 Low/Up [80]", or their codes 4 to 7).  The window
// options and the exit status are those of kavel.
#include <cstdio>
#include <cstring>

#include "app/cli.h"
#include "app/startup.h"
#include "display/fonts.h"
#include "platform/dos.h"
#include "session/session.h"
#include "session/session_loop.h"

namespace {

void c64_usage(const char* me) {
  printf("Usage: %s [-f | -m | -w] [--font NAME] host [port]\n", me);
  printf("  Opens a Commodore 64 PETSCII session; NAME defaults to \"%s\".\n", kFontC64UpGfx40);
}

}  // namespace

int main(int argc, char** argv) {
  startup_set_display_defaults();
  startup_load_prefs();

  const char* me = argc > 0 && argv[0] ? argv[0] : "kavel-c64";
  const char* font = kFontC64UpGfx40;
  const char* host = nullptr;
  int mode = CLI_MODE_UNCHANGED;
  int i = 1;
  for (; i < argc; i++) {
    const char* arg = argv[i];
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
      c64_usage(me);
      return 0;
    }
    if (strcmp(arg, "-f") == 0) {
      mode = CLI_MODE_FULLSCREEN;
    } else if (strcmp(arg, "-m") == 0) {
      mode = CLI_MODE_MEDIUM;
    } else if (strcmp(arg, "-w") == 0) {
      mode = CLI_MODE_WINDOW;
    } else if (strcmp(arg, "--font") == 0 && i + 1 < argc) {
      font = argv[++i];
    } else if (arg[0] == '-') {
      c64_usage(me);
      return 1;
    } else {
      host = arg;
      break;
    }
  }
  if (!host) {
    c64_usage(me);
    return 1;
  }
  int port = parse_int_default(i + 1 < argc ? argv[i + 1] : nullptr, kDefaultPort);
  startup_apply_window_mode(mode);

  if (startup_validate_runtime_fonts() != 0) return 1;
  dos_install_break_handler();

  const SessionRequest req{
      .host = host, .port = port, .emulation = kEmulationPetscii, .font = font};
  int r = run_session_common(&req);
  return r == 0 ? 0 : 1;
}
