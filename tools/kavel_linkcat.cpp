// layers: session
// kavel-linkcat: opens a link the way Kavel dials a board (TCP, then SSH,
// TLS or RLogin on top, the prompts asked on the terminal) and copies
// standard input to it and what it receives to standard output.  The client
// of the link tests, and a way to look at a board's bytes by hand.  It
// speaks no Telnet: on a Telnet or Telnet-over-TLS board the negotiation
// shows up as bytes.
//
//   kavel-linkcat [options] ADDRESS [PORT]
//     ADDRESS                  host, host:port, [v6]:port, telnet://, ssh://[user@]host[:port],
//                              telnets://host[:port], rlogin://[user@]host[:port]
//     -i FILE                  SSH identity tried before the usual ones
//     --known-hosts FILE       SSH known hosts (default ~/.ssh/known_hosts)
//     --accept-new-host-key    take an unknown SSH host key without asking (never a changed one)
//     --pins FILE              TLS certificate pins (default: none kept)
//     --user NAME              the user name when the address has none
//     --term NAME              terminal type (default ANSI)
//     --size COLSxROWS         terminal size (default 80x25)
//     --resize COLSxROWS       change the size once the host has sent something (as a window
//                              resized during the session would)
//     --batch                  answer every question no (nothing is read from standard input
//                              before the link is open)
//     --budget TURNS           the open's time budget in ticks of 20 ms (default 1500)
//     --linger MS              after standard input ends, wait this long for more from the
//                              host (default 1000; the host closing ends it at once)
//     --timing                 on standard error, "timing: open MS first-byte MS": from the
//                              start of the open (the Return that dials) to the link being
//                              open and to the host's first byte
//
// A password comes only from the environment variable KAVEL_PASSWORD, which
// is wiped from the process once read.  Exit status: 0 when the link opened
// and the copying ended (either side closed), 1 when it could not be opened
// or failed, 2 for a wrong command line; the reason goes to standard error.
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/connect.h"
#include "link/link.h"
#include "platform/dos.h"

namespace {

struct Options {
  const char* address = nullptr;
  int port = 0;
  const char* identity = nullptr;
  const char* known_hosts = nullptr;
  const char* pins = nullptr;
  const char* user = nullptr;
  const char* term = "ANSI";
  int cols = 80;
  int rows = 25;
  int resize_cols = 0;  // 0: no change during the session
  int resize_rows = 0;
  bool accept_new = false;
  bool batch = false;
  int budget = 1500;
  int linger_ms = 1000;
  bool timing = false;
};

void usage(const char* argv0) {
  fprintf(stderr,
          "usage: %s [-i FILE] [--known-hosts FILE] [--accept-new-host-key] [--pins FILE]\n"
          "          [--user NAME] [--term NAME] [--size COLSxROWS] [--resize COLSxROWS]\n"
          "          [--batch] [--budget TURNS] [--linger MS] [--timing] ADDRESS [PORT]\n",
          argv0);
}

bool parse_args(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "-i" && (v = value())) {
      o->identity = v;
    } else if (a == "--known-hosts" && (v = value())) {
      o->known_hosts = v;
    } else if (a == "--pins" && (v = value())) {
      o->pins = v;
    } else if (a == "--user" && (v = value())) {
      o->user = v;
    } else if (a == "--term" && (v = value())) {
      o->term = v;
    } else if (a == "--size" && (v = value())) {
      if (sscanf(v, "%dx%d", &o->cols, &o->rows) != 2 || o->cols < 1 || o->rows < 1) return false;
    } else if (a == "--resize" && (v = value())) {
      if (sscanf(v, "%dx%d", &o->resize_cols, &o->resize_rows) != 2 || o->resize_cols < 1 ||
          o->resize_rows < 1)
        return false;
    } else if (a == "--budget" && (v = value())) {
      o->budget = atoi(v);
    } else if (a == "--linger" && (v = value())) {
      o->linger_ms = atoi(v);
    } else if (a == "--accept-new-host-key") {
      o->accept_new = true;
    } else if (a == "--batch") {
      o->batch = true;
    } else if (a == "--timing") {
      o->timing = true;
    } else if (!a.empty() && a[0] != '-' && !o->address) {
      o->address = argv[i];
      if (i + 1 < argc && argv[i + 1][0] != '-') o->port = atoi(argv[++i]);
    } else {
      return false;
    }
  }
  return o->address && o->budget > 0 && o->linger_ms >= 0;
}

// One line from standard input, byte by byte, so that nothing after it is
// taken from what goes to the link.  With echo off on a terminal when asked.
bool read_line(char* out, size_t cap, bool hide) {
  termios saved{};
  bool tty = isatty(0) && tcgetattr(0, &saved) == 0;
  if (tty && hide) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(0, TCSAFLUSH, &quiet);
  }
  size_t n = 0;
  bool got = false;
  for (;;) {
    char c;
    ssize_t r = read(0, &c, 1);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got = true;
    if (c == '\n') break;
    if (n + 1 < cap) out[n++] = c;
  }
  if (n > 0 && out[n - 1] == '\r') n--;
  out[n] = '\0';
  if (tty && hide) {
    tcsetattr(0, TCSAFLUSH, &saved);
    fputc('\n', stderr);
  }
  return got;
}

int prompt_confirm(void* ctx, const char* question, const char* details) {
  const Options* o = static_cast<const Options*>(ctx);
  fprintf(stderr, "%s\n%s\n", details, question);
  if (o->batch) {
    fprintf(stderr, "(no: --batch)\n");
    return 0;
  }
  fprintf(stderr, "[yes/no] ");
  char answer[16];
  if (!read_line(answer, sizeof answer, false)) return 0;
  return strcasecmp(answer, "yes") == 0 || strcasecmp(answer, "y") == 0 ? 1 : 0;
}

int prompt_secret(void* ctx, const char* prompt, char* out, size_t cap) {
  const Options* o = static_cast<const Options*>(ctx);
  if (o->batch || cap == 0) return 0;
  fprintf(stderr, "%s ", prompt);
  return read_line(out, cap, true) ? 1 : 0;
}

void prompt_warn(void*, const char* text) {
  fprintf(stderr, "WARNING: %s\n", text);
}

int write_all(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return -1;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return 0;
}

double now_ms() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Copies both ways until the host closes, or standard input has ended and
// the host has been quiet for the linger time.  0, or 1 when a send failed.
// With --timing, the host's first byte is timed from t0.
int copy_loop(Link* l, Options o, double t0, double open_ms) {
  bool input_open = true;
  uint8_t buf[16384];
  long quiet_ms = 0;
  bool resized = false;
  for (;;) {
    if (!l->ops->pending(l)) {
      pollfd p[2] = {{l->fd, l->ops->wait_events(l), 0}, {0, POLLIN, 0}};
      int wait = input_open ? 1000 : 50;
      int r = poll(p, input_open ? 2 : 1, wait);
      if (r == 0 && !input_open && (quiet_ms += wait) >= o.linger_ms) return 0;
      if (input_open && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
        ssize_t n = read(0, buf, sizeof buf);
        if (n > 0) {
          if (l->ops->send(l, buf, static_cast<size_t>(n), 10000) != 0) {
            fprintf(stderr, "kavel-linkcat: %s\n", l->error);
            return 1;
          }
        } else if (n == 0 || errno != EINTR) {
          input_open = false;
        }
      }
    }
    int n = l->ops->read(l, buf, sizeof buf);
    if (n < 0) {
      fprintf(stderr, "kavel-linkcat: %s\n", l->error);
      return 0;
    }
    if (n > 0) {
      if (o.timing) {
        fprintf(stderr, "timing: open %.1f first-byte %.1f\n", open_ms, now_ms() - t0);
        o.timing = false;
      }
      quiet_ms = 0;
      if (!resized && o.resize_cols > 0 && l->ops->resize) {
        l->ops->resize(l, o.resize_cols, o.resize_rows);
        resized = true;
      }
      if (write_all(1, buf, static_cast<size_t>(n)) != 0) return 1;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  Options o;
  if (!parse_args(argc, argv, &o)) {
    usage(argv[0]);
    return 2;
  }
  LinkAddress a;
  if (link_parse_address(o.address, o.port, &a) != 0) {
    fprintf(stderr, "kavel-linkcat: not an address: %s\n", o.address);
    return 2;
  }
  // The password leaves the environment at once, so that nothing started
  // later inherits it.
  char password[256] = "";
  if (const char* env = getenv("KAVEL_PASSWORD")) {
    snprintf(password, sizeof password, "%s", env);
    explicit_bzero(const_cast<char*>(env), strlen(env));
    unsetenv("KAVEL_PASSWORD");
  }
  dos_install_break_handler();

  LinkOpenOptions lo;
  lo.budget_turns = o.budget;
  lo.user = o.user;
  lo.password = password;
  lo.terminal_type = o.term;
  lo.cols = o.cols;
  lo.rows = o.rows;
  lo.prompts = LinkPrompts{&o, prompt_confirm, prompt_secret, prompt_warn};
  lo.known_hosts = o.known_hosts;
  lo.identity = o.identity;
  lo.accept_new_host_key = o.accept_new ? 1 : 0;
  lo.certificate_pins = o.pins;
  Link link;
  // The same open the session makes when the user dials.
  double t0 = now_ms();
  int r = link_open(o.address, o.port, &lo, &link);
  double open_ms = now_ms() - t0;
  explicit_bzero(password, sizeof password);
  if (r != LINK_OK) {
    fprintf(stderr, "kavel-linkcat: %s\n", connection_error());
    return 1;
  }
  int status = copy_loop(&link, o, t0, open_ms);
  link_close(&link);
  return status;
}
