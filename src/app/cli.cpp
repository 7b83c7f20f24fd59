#include "app/cli.h"

#include <strings.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "link/connect.h"
#include "phonebook/phonebook.h"
#include "platform/dos.h"

const char kVersionString[] = "$VER: Kavel 0.20";

int parse_int_default(const char* text, int default_value) {
  if (!text || text[0] == '\0') return default_value;
  errno = 0;
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (errno != 0 || end == text) return default_value;
  if (v < 1 || v > 65535) return default_value;
  return static_cast<int>(v);
}

void usage_to(FILE* out, const char* invocation) {
  const char* me = invocation ? invocation : "kavel";
  fprintf(out, "%s %s - Linux BBS Terminal client\n", kProgramName, kProgramVersion);
  fprintf(out, "%s\n", "Usage:");
  fprintf(out, "  %s                         Start phone book menu\n", me);
  fprintf(out, "  %s host [port]              Direct connect\n", me);
  fprintf(out,
          "  %s -f | --fullscreen        Start own-screen fullscreen at current resolution; "
          "scale 640x400\n",
          me);
  fprintf(out, "  %s -m | --medium            Start in medium windowed mode\n", me);
  fprintf(out, "  %s -w | --windowed          Force normal windowed mode\n", me);
  fprintf(out, "  %s -p phonebook             Use alternate phone book file\n", me);
  fprintf(out, "  %s -h                       Show help\n", me);
  fprintf(out, "  %s --version                Show the version\n", me);
  fprintf(out, "%s\n", "  Alt-Enter cycles normal window -> scaled medium window -> fullscreen.");
  // The keys added since the first release; the man page and the help
  // screen (Alt-Z) have them all.
  fprintf(out, "%s\n",
          "  In a session: Alt-V pastes the clipboard, Ctrl-] hangs up at once, Escape cancels a "
          "transfer,\n  Alt-C starts and stops a capture, Alt-P saves the screen (both into the "
          "download directory).");
}

void usage(const char* invocation) {
  usage_to(stdout, invocation);
  fflush(stdout);
}

void usage_with_files(FILE* out, const char* invocation, const char* phonebook_path,
                      const char* prefs_path) {
  usage_to(out, invocation);
  fprintf(out, "Phone book: %s\n", dos_absolute_path(phonebook_path).c_str());
  fprintf(out, "Settings: %s\n", dos_absolute_path(prefs_path).c_str());
  fflush(out);
}

std::string cli_phonebook_path(const CliOptions& o) {
  return o.phonebook_path ? std::string(o.phonebook_path) : phonebook_default_path();
}

static bool is(const char* arg, const char* a, const char* b = nullptr, const char* c = nullptr) {
  return strcmp(arg, a) == 0 || (b && strcmp(arg, b) == 0) || (c && strcmp(arg, c) == 0);
}

void cli_parse(int argc, char** argv, CliOptions* out) {
  out->action = CLI_MENU;
  out->window_mode = CLI_MODE_UNCHANGED;
  out->phonebook_path = nullptr;
  out->host = nullptr;
  out->port = kDefaultPort;
  out->bad_arg = nullptr;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (!arg) break;
    if (is(arg, "-h", "--help")) {
      out->action = CLI_HELP;
      return;
    }
    if (is(arg, "--version")) {
      out->action = CLI_VERSION;
      return;
    }
    if (is(arg, "-f", "--fullscreen", "--fullscreen-screen")) {
      out->window_mode = CLI_MODE_FULLSCREEN;
    } else if (is(arg, "-m", "--medium")) {
      out->window_mode = CLI_MODE_MEDIUM;
    } else if (is(arg, "-w", "--windowed")) {
      out->window_mode = CLI_MODE_WINDOW;
    } else if (is(arg, "-p", "--phonebook")) {
      if (i + 1 >= argc || !argv[i + 1]) {
        out->action = CLI_USAGE_ERROR;
        out->bad_arg = arg;
        return;
      }
      out->phonebook_path = argv[++i];
    } else if (arg[0] == '-') {
      out->action = CLI_USAGE_ERROR;
      out->bad_arg = arg;
      return;
    } else {
      out->action = CLI_DIRECT;
      out->host = arg;
      if (i + 1 < argc) out->port = parse_int_default(argv[i + 1], kDefaultPort);
      // "host:port", "[v6addr]:port", "telnet://host:port": the address's
      // own port wins over an argument after it.
      char name[kMaxHostNameLength + 1];
      int own_port = 0;
      LinkAddress link_address;
      if (connection_parse_address(arg, name, sizeof name, &own_port) == 0 && own_port > 0) {
        out->port = own_port;
      } else if (link_parse_address(arg, i + 1 < argc ? out->port : 0, &link_address) == 0) {
        // ssh://, telnets://, rlogin://: their own port, else the one
        // given after the address, else the kind's.
        out->port = link_address.port;
      }
      return;  // anything after the port is ignored
    }
  }
}

void cli_usage_error_text(const CliOptions& o, char* out, size_t cap) {
  if (!out || cap == 0) return;
  const char* arg = o.bad_arg ? o.bad_arg : "";
  if (is(arg, "-p", "--phonebook"))
    snprintf(out, cap, "%s needs the path of a phone book file", arg);
  else
    snprintf(out, cap, "unknown option %.200s", arg);
}

namespace {

bool streams_answer(const CliPromptStreams* st) {
  return st && st->in && st->out && (!st->only_on_a_terminal || isatty(fileno(st->in)));
}

// One line from in, at most cap - 1 bytes kept (the rest of the line is
// read and dropped); false at the end of input.
bool console_line(FILE* in, char* out, size_t cap) {
  size_t n = 0;
  bool any = false;
  int ch;
  while ((ch = fgetc(in)) != EOF) {
    any = true;
    if (ch == '\n') break;
    if (n + 1 < cap) out[n++] = static_cast<char>(ch);
  }
  if (n > 0 && out[n - 1] == '\r') n--;
  out[n] = '\0';
  return any;
}

int console_confirm(void* ctx, const char* question, const char* details) {
  auto* st = static_cast<CliPromptStreams*>(ctx);
  if (!streams_answer(st)) return 0;
  if (details && *details) fprintf(st->out, "%s\n", details);
  fprintf(st->out, "%s [y/N]: ", question ? question : "");
  fflush(st->out);
  char answer[16];
  if (!console_line(st->in, answer, sizeof answer)) return 0;
  return strcasecmp(answer, "y") == 0 || strcasecmp(answer, "yes") == 0 ? 1 : 0;
}

int console_secret(void* ctx, const char* prompt, char* out, size_t cap) {
  auto* st = static_cast<CliPromptStreams*>(ctx);
  if (!out || cap == 0) return 0;
  out[0] = '\0';
  if (!streams_answer(st)) return 0;
  fprintf(st->out, "%s ", prompt ? prompt : "Password:");
  fflush(st->out);
  int fd = fileno(st->in);
  termios saved{};
  bool quiet = isatty(fd) && tcgetattr(fd, &saved) == 0;
  if (quiet) {
    termios off = saved;
    off.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fd, TCSAFLUSH, &off);
  }
  bool got = console_line(st->in, out, cap);
  if (quiet) {
    tcsetattr(fd, TCSAFLUSH, &saved);
    fputc('\n', st->out);
  }
  if (!got) memset(out, 0, cap);
  return got ? 1 : 0;
}

void console_warn(void* ctx, const char* text) {
  auto* st = static_cast<CliPromptStreams*>(ctx);
  FILE* out = st && st->out ? st->out : stderr;
  fprintf(out, "WARNING: %s\n", text ? text : "");
  fflush(out);
}

}  // namespace

LinkPrompts cli_console_prompts(CliPromptStreams* streams) {
  return LinkPrompts{streams, console_confirm, console_secret, console_warn};
}

const char* cli_entry_link_kind(const char* address, int port, char* host, size_t cap,
                                int* call_port) {
  LinkAddress a;
  if (!address || link_parse_address(address, port, &a) != 0 || a.kind == LINK_TELNET) return "";
  snprintf(host, cap, "%s", a.host);
  *call_port = a.port;
  return link_kind_label(a.kind);
}
