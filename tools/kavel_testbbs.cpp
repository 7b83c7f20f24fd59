// layers: util
// kavel-testbbs: a small Telnet BBS for tests and the demo.  It listens on
// 127.0.0.1 only, serves one caller, negotiates like real board software
// (DO TTYPE and SEND, DO NAWS, WILL ECHO, WILL SGA), records what the client
// answered (--sent FILE keeps every byte sent, Telnet commands included),
// and then plays a scenario chosen on the command line.
//
//   kavel-testbbs [--port N] [--scenario NAME] [--log FILE] [--keys FILE] [--sent FILE]
//                 [--welcome FILE] [--welcome80 FILE] [--max-seconds N]
//                 [--ttype-asks N] [--stdio]
//
// --port 0 (the default) picks a free port; the port is printed as
// "PORT <n>" on the first line of standard output, the time limit on the
// next.  The log gets one line per event ("TTYPE ANSI", "NAWS 80 25",
// "WILL 24", ...); --keys collects the raw data bytes the client typed.  The
// board exits when the caller hangs up, when the scenario ends the call, or
// after --max-seconds (default 120), which it then says on standard output
// and to the caller.  --help says all this and exits 0.
//
// The scenario "petscii" is a Commodore 64 board: a C64 welcome screen
// (--welcome FILE when given, else a built-in one with colours, reverse
// video, graphics characters and a switch to the lower-case set), then an
// echo that speaks PETSCII.  Every batch of typed bytes is logged in hex
// ("KEYS 41 c1"); RUN/STOP (3) is answered with BREAK; Ctrl-N (14) and Ctrl-O
// (15) come back as the C64's lower-case (14) and upper-case (142) switches;
// an unshifted Q (0x51) hangs up.
//
// The scenario "zmodem" runs lrzsz for file transfers: "d" typed starts
// `sz` with the --sz-file files ("f" sends a flood first, see
// echo_zmodem), and "rz" with Return (which Kavel sends
// before it wakes a receiver) starts `rz` in --rz-dir.  --rate limits the
// bytes per second from the program to the caller, so that a test can
// watch a transfer under way.
//
// --stdio serves one caller on standard input and output instead of a
// socket: what sshd or rlogind run.  Those links carry bytes unchanged, so
// the board speaks no Telnet then (no negotiation, 0xFF not doubled); on a
// terminal it switches that terminal to raw bytes, and it logs the terminal
// type ("STDIO TERM ansi") and every size the terminal takes ("WINSIZE 80
// 25").
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr unsigned char OPT_ECHO = 1, OPT_SGA = 3, OPT_TTYPE = 24, OPT_NAWS = 31;

using Clock = std::chrono::steady_clock;

struct Options {
  int port = 0;
  std::string scenario = "welcome";
  std::string log_path;
  std::string keys_path;
  std::string sent_path;  // --sent: every byte sent to the caller, as sent
  std::string welcome_path;
  std::string welcome80_path;  // the C64 board's screen for 80 columns
  int max_seconds = 120;
  int ttype_asks = 3;
  std::vector<std::string> sz_files;  // the "zmodem" board's downloads
  std::string rz_dir = ".";           // where its uploads land
  long rate = 0;                      // bytes per second from sz/rz to the caller; 0: no limit
  bool stdio = false;                 // serve standard input and output, without Telnet
};

FILE* g_log = nullptr;
FILE* g_keys = nullptr;
FILE* g_sent = nullptr;
Clock::time_point g_start;

long elapsed_ms() {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - g_start).count());
}

void log_event(const char* fmt, ...) {
  if (!g_log) return;
  va_list ap;
  va_start(ap, fmt);
  vfprintf(g_log, fmt, ap);
  va_end(ap);
  fputc('\n', g_log);
  fflush(g_log);
}

// The caller's connection: an output queue written as the socket allows, and
// the Telnet receive state.
struct Caller {
  int fd = -1;
  int out_fd = -1;   // where replies go: fd itself, or standard output with --stdio
  bool raw = false;  // --stdio: no Telnet, bytes as they are
  std::string out;
  bool closing = false;  // close once the queue is empty
  bool gone = false;
  bool no_replies = false;  // the scenario owns the stream: no more negotiation

  int tstate = 0;  // 0 data, 1 IAC, 2 option, 3 SB, 4 IAC in SB
  unsigned char cmd = 0;
  std::string sb;
  int ttype_asked = 0;
  std::string last_ttype;
  std::string typed;  // data bytes typed by the caller
  int naws_cols = 0;  // the width the caller reported (0: not yet)
  int esc_state = 0;  // PETSCII echo: 1 after ESC, 2 inside ESC [ ... (swallowed)
};

void send_bytes(Caller* c, std::string_view bytes) {
  if (!c->raw) {
    c->out.append(bytes);
    return;
  }
  // Without Telnet a 255 is itself: the doubled 255s the echoes make go out
  // single.
  for (size_t i = 0; i < bytes.size(); i++) {
    c->out.push_back(bytes[i]);
    if (static_cast<unsigned char>(bytes[i]) == IAC && i + 1 < bytes.size() &&
        static_cast<unsigned char>(bytes[i + 1]) == IAC)
      i++;
  }
}

void send_cmd(Caller* c, unsigned char cmd, unsigned char opt) {
  if (c->raw) return;
  const char b[3] = {static_cast<char>(IAC), static_cast<char>(cmd), static_cast<char>(opt)};
  send_bytes(c, std::string_view(b, 3));
}

void ask_ttype(Caller* c) {
  if (c->no_replies) return;
  const char b[6] = {static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(OPT_TTYPE), 1,
                     static_cast<char>(IAC), static_cast<char>(SE)};
  send_bytes(c, std::string_view(b, 6));
  c->ttype_asked++;
}

const char* cmd_name(unsigned char cmd) {
  switch (cmd) {
    case WILL:
      return "WILL";
    case WONT:
      return "WONT";
    case DO:
      return "DO";
    default:
      return "DONT";
  }
}

void end_subneg(Caller* c, const Options& o) {
  if (c->sb.empty()) return;
  unsigned char opt = static_cast<unsigned char>(c->sb[0]);
  if (opt == OPT_TTYPE && c->sb.size() >= 2 && c->sb[1] == 0) {
    std::string name = c->sb.substr(2);
    log_event("TTYPE %s", name.c_str());
    // Like real boards: ask again until the list repeats or enough answers.
    bool repeated = name == c->last_ttype;
    c->last_ttype = name;
    if (!repeated && c->ttype_asked < o.ttype_asks) ask_ttype(c);
  } else if (opt == OPT_NAWS && c->sb.size() >= 5) {
    auto u = [&](size_t i) { return static_cast<unsigned char>(c->sb[i]); };
    log_event("NAWS %d %d", u(1) * 256 + u(2), u(3) * 256 + u(4));
    c->naws_cols = u(1) * 256 + u(2);
  } else {
    log_event("SB %d len %zu", opt, c->sb.size() - 1);
  }
}

// Feeds one received byte through the Telnet state machine; data bytes are
// appended to c->typed.
void telnet_in(Caller* c, unsigned char b, const Options& o) {
  switch (c->tstate) {
    case 0:
      if (b == IAC) {
        c->tstate = 1;
      } else {
        c->typed.push_back(static_cast<char>(b));
      }
      break;
    case 1:
      if (b == IAC) {
        c->typed.push_back(static_cast<char>(b));
        c->tstate = 0;
      } else if (b >= WILL) {
        c->cmd = b;
        c->tstate = 2;
      } else if (b == SB) {
        c->sb.clear();
        c->tstate = 3;
      } else {
        log_event("CMD %d", b);
        c->tstate = 0;
      }
      break;
    case 2:
      c->tstate = 0;
      log_event("%s %d", cmd_name(c->cmd), b);
      if (c->cmd == WILL && b == OPT_TTYPE && c->ttype_asked == 0) ask_ttype(c);
      break;
    case 3:
      if (b == IAC) {
        c->tstate = 4;
      } else if (c->sb.size() < 4096) {
        c->sb.push_back(static_cast<char>(b));
      }
      break;
    default:
      if (b == SE) {
        c->tstate = 0;
        end_subneg(c, o);
      } else {
        if (b == IAC && c->sb.size() < 4096) c->sb.push_back(static_cast<char>(b));
        c->tstate = 3;
      }
      break;
  }
}

// ------------------------------------------------------------------ scenarios

struct Scenario;
struct Run;
using EchoFn = void (*)(Run* r);
struct Run {
  Caller* c;
  const Options* o;
  long arg;  // the number after the colon, if any
  long long flood_left = 0;
  long long flood_total = 0;
  int flood_line = 0;
  bool flood_acked = false;
  long flood_started_ms = 0;
  bool endless_sb = false;
  long close_at_ms = -1;
  EchoFn echo = nullptr;         // null: the ANSI line echo
  bool petscii_waiting = false;  // the C64 screen waits for the caller's width
  long petscii_wait_until_ms = 0;
  long tick_every_ms = 0;  // "ticker": a green cell this often
  long next_tick_ms = 0;
  int ticks = 0;
  // The "zmodem" board's transfer program (sz or rz) while it runs.
  pid_t child = -1;
  int child_in = -1, child_out = -1;
  std::string to_child;
  long rate_window_ms = 0;
  long rate_sent = 0;
};

std::string read_welcome(const Options& o) {
  std::ifstream in(o.welcome_path, std::ios::binary);
  if (in) return std::string(std::istreambuf_iterator<char>(in), {});
  return "\x1b[0m\x1b[2J\x1b[H\x1b[1;33mKavel test BBS\x1b[0m\r\nType something; q hangs up.\r\n";
}

// Typed bytes come back as a real board's line editor would show them.
void echo_typed(Run* r) {
  Caller* c = r->c;
  for (char ch : c->typed) {
    if (g_keys) fputc(static_cast<unsigned char>(ch), g_keys);
    if (ch == 'q') {
      log_event("QUIT");
      send_bytes(c, "\r\nBye.\r\n");
      c->closing = true;
      break;
    }
    if (ch == '\r') {
      send_bytes(c, "\r\n");
    } else if (ch == '\x08' || ch == 0x7f) {
      send_bytes(c, "\x08 \x08");
    } else if (static_cast<unsigned char>(ch) == IAC) {
      send_bytes(c, std::string("\xff\xff", 2));
    } else if (static_cast<unsigned char>(ch) >= 32 || ch == '\x1b') {
      if (ch == '\x1b') {
        send_bytes(c, "^[");
      } else {
        send_bytes(c, std::string(1, ch));
      }
    }
  }
  if (g_keys) fflush(g_keys);
  c->typed.clear();
}

// ------------------------------------------------------------ PETSCII board

namespace pet {
constexpr unsigned char WHITE = 5, RED = 28, GREEN = 30, BLUE = 31, ORANGE = 129, BLACK = 144,
                        BROWN = 149, LIGHT_RED = 150, DARK_GREY = 151, GREY = 152,
                        LIGHT_GREEN = 153, LIGHT_BLUE = 154, LIGHT_GREY = 155, PURPLE = 156,
                        YELLOW = 158, CYAN = 159;
constexpr unsigned char CR = 13, LOWER = 14, UPPER = 142, RVS_ON = 18, RVS_OFF = 146, CLEAR = 147,
                        STOP = 3;
// Graphics of the upper-case set that keep their pictures in the lower-case
// set too: line pieces and corners.
constexpr unsigned char HLINE = 0xC0, VLINE = 0xDD, TOP_LEFT = 0xB0, TOP_RIGHT = 0xAE,
                        BOTTOM_LEFT = 0xAD, BOTTOM_RIGHT = 0xBD, CHECKER = 0xA6, HALF_LEFT = 0xA1,
                        LOWER_HALF = 0xA2;
}  // namespace pet

// Text written for the lower-case set: a-z become 0x41..0x5A, A-Z 0xC1..0xDA.
std::string petscii_text(std::string_view ascii) {
  std::string out;
  for (char ch : ascii) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 'a' && c <= 'z') {
      c = static_cast<unsigned char>(c - 32);
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<unsigned char>(c + 128);
    }
    out.push_back(static_cast<char>(c));
  }
  return out;
}

std::string pad(std::string_view text, size_t width) {
  std::string out(text);
  if (out.size() < width) out.append(width - out.size(), ' ');
  return out;
}

std::string repeat(unsigned char c, int n) {
  return std::string(static_cast<size_t>(n), static_cast<char>(c));
}

// The board's own C64 screen.  Laid out in 40 columns: a full 40-character
// row wraps by itself, so such rows are not followed by a return.
std::string builtin_petscii_welcome() {
  using namespace pet;
  std::string w;
  auto add = [&w](std::initializer_list<unsigned char> codes) {
    for (unsigned char c : codes) w.push_back(static_cast<char>(c));
  };
  add({CLEAR, UPPER});
  // Rows 0-2: a blue bar in reverse video with the board's name cut out.
  add({BLUE, RVS_ON});
  w += repeat(' ', 40);
  w += repeat(' ', 13) + petscii_text("Kavel Test BBS") + repeat(' ', 13);
  w += repeat(' ', 40);
  add({RVS_OFF, CR});
  // Row 4: the banner in light blue.
  add({LIGHT_BLUE});
  w += petscii_text("   **** Commodore 64 Basic V2 ****") + "\r";
  w += petscii_text(" 64K RAM SYSTEM  38911 BASIC BYTES FREE") + "\r\r";
  // Row 7: the sixteen colours as reverse-video blocks, two cells each.
  for (unsigned char c : {BLACK, WHITE, RED, CYAN, PURPLE, GREEN, BLUE, YELLOW, ORANGE, BROWN,
                          LIGHT_RED, DARK_GREY, GREY, LIGHT_GREEN, LIGHT_BLUE, LIGHT_GREY}) {
    add({c, RVS_ON, ' ', ' '});
  }
  add({RVS_OFF, CR, CR});
  // Rows 9-12: a yellow box of line graphics around a line of text.
  add({YELLOW, TOP_LEFT});
  w += repeat(HLINE, 30);
  add({TOP_RIGHT, CR, VLINE});
  add({WHITE});
  w += petscii_text(pad(" Type away; Q hangs up.", 30));
  add({YELLOW, VLINE, CR, VLINE});
  add({LIGHT_GREEN});
  w += petscii_text(" Ctrl-N lower, Ctrl-O upper   ");
  add({YELLOW, VLINE, CR, BOTTOM_LEFT});
  w += repeat(HLINE, 30);
  add({BOTTOM_RIGHT, CR, CR});
  // Row 14: a shade, left halves and lower halves in three colours.
  add({CYAN});
  w += repeat(CHECKER, 10);
  add({LIGHT_RED});
  w += repeat(HALF_LEFT, 10);
  add({PURPLE});
  w += repeat(LOWER_HALF, 10);
  add({CR, CR});
  // The case switch: from here on the screen shows the lower/upper set.
  add({LIGHT_BLUE, LOWER});
  w += petscii_text("Ready.") + "\r";
  return w;
}

// The same board for an 80-column C64 terminal: the bar, the banner, the
// colours and the box laid out for 80 columns, so that nothing is torn
// apart.  Rows of exactly 80 characters wrap by themselves.
std::string builtin_petscii_welcome80() {
  using namespace pet;
  std::string w;
  auto add = [&w](std::initializer_list<unsigned char> codes) {
    for (unsigned char c : codes) w.push_back(static_cast<char>(c));
  };
  add({CLEAR, UPPER});
  add({BLUE, RVS_ON});
  w += repeat(' ', 80);
  w += repeat(' ', 25) + petscii_text("Kavel Test BBS - 80 columns") + repeat(' ', 28);
  w += repeat(' ', 80);
  add({RVS_OFF, CR});
  add({LIGHT_BLUE});
  w += repeat(' ', 20) + petscii_text("**** Commodore 64 Basic V2 - 80 columns ****") + "\r";
  w += repeat(' ', 20) + petscii_text(" 64K RAM SYSTEM  38911 BASIC BYTES FREE") + "\r\r";
  // The sixteen colours, four cells each: one full row.
  for (unsigned char c : {BLACK, WHITE, RED, CYAN, PURPLE, GREEN, BLUE, YELLOW, ORANGE, BROWN,
                          LIGHT_RED, DARK_GREY, GREY, LIGHT_GREEN, LIGHT_BLUE, LIGHT_GREY}) {
    add({c, RVS_ON, ' ', ' ', ' ', ' ', ' '});
  }
  add({RVS_OFF, CR});
  // A yellow box of line graphics across the width.
  add({YELLOW, TOP_LEFT});
  w += repeat(HLINE, 70);
  add({TOP_RIGHT, CR, VLINE});
  add({WHITE});
  w += petscii_text(pad(" Type away; Q hangs up.", 70));
  add({YELLOW, VLINE, CR, VLINE});
  add({LIGHT_GREEN});
  w += petscii_text(pad(" Ctrl-N lower, Ctrl-O upper; Ctrl+1..8 and Alt+1..8 change colours.", 70));
  add({YELLOW, VLINE, CR, BOTTOM_LEFT});
  w += repeat(HLINE, 70);
  add({BOTTOM_RIGHT, CR, CR});
  add({CYAN});
  w += repeat(CHECKER, 26);
  add({LIGHT_RED});
  w += repeat(HALF_LEFT, 27);
  add({PURPLE});
  w += repeat(LOWER_HALF, 27);
  add({CR});
  add({LIGHT_BLUE, LOWER});
  w += petscii_text("Ready.") + "\r";
  return w;
}

// The PETSCII echo: what the caller typed comes back as a C64 board shows
// it, colour and cursor codes included.
void echo_petscii(Run* r) {
  Caller* c = r->c;
  if (c->typed.empty()) return;
  std::string hex = "KEYS";
  for (char ch : c->typed) {
    char b[4];
    snprintf(b, sizeof b, " %02x", static_cast<unsigned char>(ch));
    hex += b;
  }
  log_event("%s", hex.c_str());
  for (char ch : c->typed) {
    unsigned char b = static_cast<unsigned char>(ch);
    if (g_keys) fputc(b, g_keys);
    // Page and position keys arrive as ANSI sequences even in PETSCII
    // mode; a C64 board has no use for them.
    if (c->esc_state == 1) {
      c->esc_state = b == '[' ? 2 : 0;
      continue;
    }
    if (c->esc_state == 2) {
      if (b >= 0x40 && b <= 0x7E) c->esc_state = 0;
      continue;
    }
    switch (b) {
      case 27:
        c->esc_state = 1;
        break;
      case 0x51:  // Q, unshifted in either set
        log_event("QUIT");
        send_bytes(c, std::string("\r").append(petscii_text("Bye.")).append("\r"));
        c->closing = true;
        break;
      case pet::STOP:
        log_event("STOP");
        send_bytes(c, std::string{static_cast<char>(pet::CR), static_cast<char>(pet::RVS_ON)} +
                          "BREAK" + std::string{static_cast<char>(pet::RVS_OFF)} + "\r");
        break;
      case 14:
        log_event("CASE LOWER");
        send_bytes(c, std::string(1, static_cast<char>(pet::LOWER)));
        break;
      case 15:
        log_event("CASE UPPER");
        send_bytes(c, std::string(1, static_cast<char>(pet::UPPER)));
        break;
      case IAC:
        send_bytes(c, std::string("\xff\xff", 2));
        break;
      default:
        send_bytes(c, std::string(1, static_cast<char>(b)));
        break;
    }
    if (c->closing) break;
  }
  if (g_keys) fflush(g_keys);
  c->typed.clear();
}

// The C64 screen goes out once the caller said how wide it is (Telnet
// NAWS), or after a second without an answer: an 80-column terminal gets
// the 80-column screen (--welcome80 FILE, else the built-in one).
void send_petscii_welcome(Run* r) {
  r->petscii_waiting = false;
  bool cols80 = r->c->naws_cols >= 80;
  log_event("PETSCII SCREEN %d", cols80 ? 80 : 40);
  const std::string& path = cols80 ? r->o->welcome80_path : r->o->welcome_path;
  std::string screen;
  if (!path.empty()) {
    std::ifstream in(path, std::ios::binary);
    if (in) screen.assign(std::istreambuf_iterator<char>(in), {});
  }
  if (screen.empty()) screen = cols80 ? builtin_petscii_welcome80() : builtin_petscii_welcome();
  // A 255 in a screen file is a character, not a Telnet command.
  std::string escaped;
  for (char ch : screen) {
    escaped.push_back(ch);
    if (static_cast<unsigned char>(ch) == IAC) escaped.push_back(ch);
  }
  send_bytes(r->c, escaped);
}

void start_petscii(Run* r) {
  r->petscii_waiting = true;
  r->petscii_wait_until_ms = elapsed_ms() + 1000;
  r->echo = echo_petscii;
}

void start_welcome(Run* r) {
  send_bytes(r->c, read_welcome(*r->o));
}

void start_echo(Run* r) {
  send_bytes(r->c, "ECHO READY\r\n");
}

void start_flood(Run* r) {
  r->flood_left = r->flood_total = r->arg > 0 ? r->arg : 1 << 20;
  r->flood_started_ms = elapsed_ms();
  log_event("FLOOD START %lld", r->flood_total);
}

void start_close_after(Run* r) {
  send_bytes(r->c, "CLOSING SOON\r\n");
  r->close_at_ms = elapsed_ms() + (r->arg >= 0 ? r->arg : 1000);
}

void start_garbage(Run* r) {
  // Commands the client must survive: unknown commands, IAC before any byte,
  // subnegotiations of unknown options, a stray SE, an escape sequence that
  // never ends, then plain text.
  std::string g;
  const unsigned char junk[] = {IAC,  241, IAC, 249,  IAC, 7,   IAC,  SE,       IAC, 0,  IAC, 250,
                                99,   1,   2,   IAC,  SE,  IAC, WILL, 200,      IAC, DO, 77,  IAC,
                                DONT, 1,   IAC, WONT, 3,   IAC, SB,   OPT_NAWS, IAC, SE};
  g.append(reinterpret_cast<const char*>(junk), sizeof junk);
  g += "\x1b[1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19;20;21;22;23;24;25;26;27;28;29;30;31;"
       "32;33;34;35;36;37;38;39;40;41;42;43;44;45;46;47;48;49;50";
  g += "\x1b[0m\r\nAFTER GARBAGE\r\n";
  send_bytes(r->c, g);
}

void start_endless_sb(Run* r) {
  const char head[3] = {static_cast<char>(IAC), static_cast<char>(SB),
                        static_cast<char>(OPT_TTYPE)};
  send_bytes(r->c, "ENDLESS SB FOLLOWS\r\n");
  send_bytes(r->c, std::string_view(head, 3));
  r->endless_sb = true;
  r->c->no_replies = true;
}

void start_close_mid(Run* r) {
  send_bytes(r->c, "HALF A SEQUENCE\r\n\x1b[3");
  send_bytes(r->c, std::string("\xff", 1));
  r->c->closing = true;
}

// A board that keeps talking: one green cell every ARG ms (200 by default),
// each logged as "TICK n", so a test can count what reached the screen
// while the client was busy elsewhere.  Stops after 1500 cells (a screen
// that has not scrolled).
void start_ticker(Run* r) {
  send_bytes(r->c, "\x1b[0m\x1b[2J\x1b[HTICKER\r\n");
  r->tick_every_ms = r->arg > 0 ? r->arg : 200;
  r->next_tick_ms = elapsed_ms() + r->tick_every_ms;
}

void pump_ticker(Run* r) {
  if (r->ticks >= 1500 || elapsed_ms() < r->next_tick_ms) return;
  send_bytes(r->c, "\x1b[42m \x1b[0m");
  log_event("TICK %d", ++r->ticks);
  r->next_tick_ms += r->tick_every_ms;
}

void start_zdetect(Run* r) {
  // "**" CAN followed by a letter that starts nothing, then "**" and silence:
  // every byte must reach the screen.
  send_bytes(r->c, std::string("A**\x18xB\r\nSTARS:**", 16));
}

// ------------------------------------------------------------ ZMODEM board
// "d" runs sz with the --sz-file files; "rz" and Return (what Kavel sends
// before its ZRQINIT when an upload starts) runs rz in --rz-dir.  While the
// program runs, the caller's data bytes are its input and its output goes
// to the caller with 0xFF doubled, as a BBS's Telnet server does; --rate
// slows that output so that a test can watch the transfer.

void start_child(Run* r, std::vector<std::string> argv, const std::string& dir) {
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) dup2(null_fd, 2);
    close(in[1]);
    close(out[0]);
    if (chdir(dir.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  fcntl(in[1], F_SETFL, fcntl(in[1], F_GETFL) | O_NONBLOCK);
  fcntl(out[0], F_SETFL, fcntl(out[0], F_GETFL) | O_NONBLOCK);
  r->child = pid;
  r->child_in = in[1];
  r->child_out = out[0];
  r->to_child.clear();
  log_event("CHILD START %s", argv[0].c_str());
}

void echo_zmodem(Run* r) {
  Caller* c = r->c;
  if (r->child > 0) {
    r->to_child += c->typed;
    c->typed.clear();
    return;
  }
  size_t rz = c->typed.find("rz\r");
  if (rz != std::string::npos) {
    std::string rest = c->typed.substr(rz + 3);
    c->typed.clear();
    start_child(r, {"rz", "-q", "-y"}, r->o->rz_dir);
    r->to_child = rest;
    return;
  }
  // "f" floods the caller with coloured text and block art as the "flood"
  // scenario does, of the scenario's argument in bytes ("zmodem:2097152"):
  // something to capture before or after a transfer.
  if (c->typed.find('f') != std::string::npos && r->flood_left == 0) {
    c->typed.clear();
    r->flood_acked = false;
    start_flood(r);
    return;
  }
  size_t d = c->typed.find('d');
  if (d != std::string::npos && !r->o->sz_files.empty()) {
    c->typed.clear();
    std::vector<std::string> argv = {"sz", "-q"};
    argv.insert(argv.end(), r->o->sz_files.begin(), r->o->sz_files.end());
    start_child(r, argv, ".");
    return;
  }
  echo_typed(r);
}

// Moves bytes between the caller and the running program; ends it when it
// has exited and said everything.
void pump_child(Run* r) {
  Caller* c = r->c;
  while (!r->to_child.empty()) {
    ssize_t n = write(r->child_in, r->to_child.data(), r->to_child.size());
    if (n <= 0) break;
    r->to_child.erase(0, static_cast<size_t>(n));
  }
  long now = elapsed_ms();
  if (now - r->rate_window_ms >= 100) {
    r->rate_window_ms = now;
    r->rate_sent = 0;
  }
  bool eof = false;
  while (c->out.size() < 262144) {
    long budget = r->o->rate > 0 ? r->o->rate / 10 - r->rate_sent : 65536;
    if (budget <= 0) break;
    unsigned char buf[65536];
    ssize_t n = read(r->child_out, buf, static_cast<size_t>(std::min<long>(budget, sizeof buf)));
    if (n == 0) eof = true;
    if (n <= 0) break;
    r->rate_sent += n;
    for (ssize_t i = 0; i < n; i++) {
      c->out.push_back(static_cast<char>(buf[i]));
      if (buf[i] == IAC && !c->raw) c->out.push_back(static_cast<char>(IAC));
    }
  }
  if (!eof) return;
  int status = 0;
  waitpid(r->child, &status, 0);
  log_event("CHILD EXIT %d", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  close(r->child_in);
  close(r->child_out);
  r->child = -1;
  send_bytes(c, "\r\nTRANSFER DONE\r\n");
}

void start_zmodem(Run* r) {
  send_bytes(r->c, "ZMODEM BOARD: d downloads, an upload is taken\r\n");
  r->echo = echo_zmodem;
}

struct Scenario {
  const char* name;
  void (*start)(Run* r);
};

constexpr Scenario kScenarios[] = {
    {"welcome", start_welcome},     {"echo", start_echo},
    {"flood", start_flood},         {"close-after", start_close_after},
    {"garbage", start_garbage},     {"endless-sb", start_endless_sb},
    {"close-mid", start_close_mid}, {"zdetect", start_zdetect},
    {"petscii", start_petscii},     {"ticker", start_ticker},
    {"zmodem", start_zmodem},
};

const Scenario* find_scenario(const std::string& spec, long* arg) {
  std::string name = spec;
  *arg = -1;
  size_t colon = spec.find(':');
  if (colon != std::string::npos) {
    name = spec.substr(0, colon);
    *arg = strtol(spec.c_str() + colon + 1, nullptr, 10);
  }
  for (const auto& s : kScenarios) {
    if (name == s.name) return &s;
  }
  return nullptr;
}

// A line of coloured ANSI text for the flood, about 100 bytes.
std::string flood_line(int n) {
  char buf[160];
  int fg = 31 + n % 7;
  snprintf(
      buf, sizeof buf,
      "\x1b[1;%dm%06d \x1b[0;%d;4%dm The quick brown fox jumps over the lazy dog \xb0\xb1\xb2\xdb"
      " \x1b[0m%06d\r\n",
      fg, n, 30 + (n + 3) % 8, n % 8, n);
  return buf;
}

// Keeps the output queue filled while the flood lasts; at its end asks for a
// cursor report, whose answer tells when the client has drawn everything.
void pump_flood(Run* r) {
  Caller* c = r->c;
  while (r->flood_left > 0 && c->out.size() < 65536) {
    std::string line = flood_line(r->flood_line++);
    if (static_cast<long long>(line.size()) > r->flood_left) line.resize(r->flood_left);
    r->flood_left -= static_cast<long long>(line.size());
    c->out += line;
    if (r->flood_left == 0) {
      log_event("FLOOD SENT %lld %ld", r->flood_total, elapsed_ms() - r->flood_started_ms);
      c->out += "\x1b[0m\r\nFLOOD DONE\r\n\x1b[6n";
    }
  }
}

void check_flood_ack(Run* r) {
  if (r->flood_total == 0 || r->flood_left > 0 || r->flood_acked) return;
  size_t p = r->c->typed.find("\x1b[");
  if (p != std::string::npos && r->c->typed.find('R', p) != std::string::npos) {
    r->flood_acked = true;
    log_event("FLOOD ACK %ld", elapsed_ms() - r->flood_started_ms);
    r->c->typed.clear();
  }
}

void pump_endless_sb(Run* r) {
  while (r->c->out.size() < 65536) r->c->out.append(4096, 'x');
}

int listen_loopback(int port, int* bound_port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 4) != 0) {
    close(fd);
    return -1;
  }
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  *bound_port = ntohs(sa.sin_port);
  return fd;
}

// --stdio: the terminal sshd or rlogind gave the board is switched to raw
// bytes for the call and put back afterwards; its sizes are logged.
termios g_saved_tty;
bool g_tty_raw = false;
volatile sig_atomic_t g_size_changed = 1;  // the first size is logged too

void on_winch(int) {
  g_size_changed = 1;
}

void stdio_begin(Caller* c) {
  c->fd = 0;
  c->out_fd = 1;
  c->raw = true;
  fcntl(1, F_SETFL, fcntl(1, F_GETFL) | O_NONBLOCK);
  if (isatty(0) && tcgetattr(0, &g_saved_tty) == 0) {
    termios raw = g_saved_tty;
    cfmakeraw(&raw);
    tcsetattr(0, TCSANOW, &raw);
    g_tty_raw = true;
    signal(SIGWINCH, on_winch);
  }
  const char* term = getenv("TERM");
  log_event("STDIO TERM %s", term ? term : "");
}

void stdio_log_size() {
  if (!g_tty_raw || !g_size_changed) return;
  g_size_changed = 0;
  winsize ws{};
  if (ioctl(0, TIOCGWINSZ, &ws) == 0) log_event("WINSIZE %d %d", ws.ws_col, ws.ws_row);
}

bool parse_args(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--port" && (v = value())) {
      o->port = atoi(v);
    } else if (a == "--scenario" && (v = value())) {
      o->scenario = v;
    } else if (a == "--log" && (v = value())) {
      o->log_path = v;
    } else if (a == "--keys" && (v = value())) {
      o->keys_path = v;
    } else if (a == "--sent" && (v = value())) {
      o->sent_path = v;
    } else if (a == "--welcome" && (v = value())) {
      o->welcome_path = v;
    } else if (a == "--welcome80" && (v = value())) {
      o->welcome80_path = v;
    } else if (a == "--max-seconds" && (v = value())) {
      o->max_seconds = atoi(v);
    } else if (a == "--ttype-asks" && (v = value())) {
      o->ttype_asks = atoi(v);
    } else if (a == "--sz-file" && (v = value())) {
      o->sz_files.push_back(v);
    } else if (a == "--rz-dir" && (v = value())) {
      o->rz_dir = v;
    } else if (a == "--rate" && (v = value())) {
      o->rate = atol(v);
    } else if (a == "--stdio") {
      o->stdio = true;
    } else {
      return false;
    }
  }
  return o->port >= 0 && o->port <= 65535 && o->max_seconds > 0;
}

void usage(FILE* out, const char* me) {
  fprintf(out,
          "usage: %s [--port N] [--scenario NAME[:ARG]] [--log FILE] [--keys FILE] [--sent FILE]\n"
          "          [--welcome FILE] [--welcome80 FILE] [--max-seconds N] [--ttype-asks N]\n"
          "          [--sz-file FILE]... [--rz-dir DIR] [--rate BYTES_PER_SECOND] [--stdio]\n"
          "scenarios:",
          me);
  for (const auto& sc : kScenarios) fprintf(out, " %s", sc.name);
  fprintf(out, "\n");
}

void help(const char* me) {
  printf(
      "kavel-testbbs: a small Telnet BBS on 127.0.0.1 for tests and the demo.  It serves one\n"
      "caller, negotiates like board software (terminal type, window size, echo), then plays\n"
      "a scenario: \"welcome\" shows a screen and echoes what is typed (q hangs up),\n"
      "\"petscii\" is a Commodore 64 board, \"zmodem\" runs sz (\"d\") and rz for transfers.\n"
      "The port is printed as \"PORT <n>\" (--port 0, the default, picks a free one).  The\n"
      "board ends the call after --max-seconds (default %d) and says so.\n\n",
      Options{}.max_seconds);
  usage(stdout, me);
}

// The time limit ran out with a caller on the line: said on standard output
// and, as well as the stream allows within a second, to the caller, so that
// the session's end has a reason on both sides.
void say_time_limit(Caller* c, int seconds, bool petscii) {
  // With --stdio standard output is the caller's line.
  if (!c->raw) {
    printf("Time limit of %d s reached (--max-seconds): call ended.\n", seconds);
    fflush(stdout);
  }
  char note[96];
  snprintf(note, sizeof note, "\r\n\r\n%s of %d s reached; goodbye.\r\n",
           petscii ? "TIME LIMIT" : "Time limit", seconds);
  if (petscii) {
    // Lower-case ASCII shows as graphics in the C64's upper-case set.
    for (char* p = note; *p; p++)
      if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  }
  c->out += note;
  long until = elapsed_ms() + 1000;
  while (!c->out.empty() && elapsed_ms() < until) {
    pollfd p{c->fd, POLLOUT, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    ssize_t n = send(c->fd, c->out.data(), c->out.size(), MSG_NOSIGNAL);
    if (n > 0 && g_sent) fwrite(c->out.data(), 1, static_cast<size_t>(n), g_sent);
    if (n > 0) c->out.erase(0, static_cast<size_t>(n));
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
  }
}

std::string default_welcome_path(const char* argv0) {
  // Beside a build directory inside the source tree.
  std::string dir = argv0;
  size_t slash = dir.rfind('/');
  dir = slash == std::string::npos ? "." : dir.substr(0, slash);
  return dir + "/../assets/testbbs/welcome.ans";
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  g_start = Clock::now();
  Options o;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      help(argv[0]);
      return 0;
    }
  }
  if (!parse_args(argc, argv, &o)) {
    usage(stderr, argv[0]);
    return 2;
  }
  // The C64 board has a screen of its own; the ANSI one is no default for it.
  bool c64_board = o.scenario.rfind("petscii", 0) == 0;
  if (o.welcome_path.empty() && !c64_board) o.welcome_path = default_welcome_path(argv[0]);
  Run run{};
  const Scenario* scenario = find_scenario(o.scenario, &run.arg);
  if (!scenario) {
    fprintf(stderr, "unknown scenario: %s\n", o.scenario.c_str());
    return 2;
  }
  if (!o.log_path.empty()) g_log = fopen(o.log_path.c_str(), "w");
  if (!o.keys_path.empty()) g_keys = fopen(o.keys_path.c_str(), "wb");
  if (!o.sent_path.empty()) g_sent = fopen(o.sent_path.c_str(), "wb");

  int port = 0;
  int lfd = o.stdio ? -1 : listen_loopback(o.port, &port);
  if (lfd < 0 && !o.stdio) {
    perror("kavel-testbbs: listen");
    return 1;
  }
  if (!o.stdio) {
    printf("PORT %d\n", port);
    printf("Time limit: %d s (--max-seconds); the board ends the call then.\n", o.max_seconds);
    fflush(stdout);
    log_event("LISTEN %d", port);
  }

  const long deadline = o.max_seconds * 1000L;
  pollfd lp{lfd, POLLIN, 0};
  while (!o.stdio && poll(&lp, 1, 100) == 0) {
    if (elapsed_ms() > deadline) {
      log_event("TIMEOUT waiting for a caller");
      printf("Time limit of %d s reached (--max-seconds): no caller came.\n", o.max_seconds);
      return 1;
    }
  }
  Caller caller;
  if (o.stdio) {
    stdio_begin(&caller);
  } else {
    caller.fd = accept(lfd, nullptr, nullptr);
    caller.out_fd = caller.fd;
    close(lfd);
  }
  if (caller.fd < 0) return 1;
  fcntl(caller.fd, F_SETFL, fcntl(caller.fd, F_GETFL) | O_NONBLOCK);
  int one = 1;
  setsockopt(caller.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  log_event("CONNECT");
  run.c = &caller;
  run.o = &o;

  send_cmd(&caller, DO, OPT_TTYPE);
  send_cmd(&caller, DO, OPT_NAWS);
  send_cmd(&caller, WILL, OPT_ECHO);
  send_cmd(&caller, WILL, OPT_SGA);
  scenario->start(&run);

  int status = 0;
  while (!caller.gone) {
    if (elapsed_ms() > deadline) {
      log_event("TIMEOUT");
      say_time_limit(&caller, o.max_seconds, c64_board);
      status = 1;
      break;
    }
    if (run.petscii_waiting && (caller.naws_cols > 0 || elapsed_ms() >= run.petscii_wait_until_ms))
      send_petscii_welcome(&run);
    if (run.flood_left > 0) pump_flood(&run);
    if (run.endless_sb) pump_endless_sb(&run);
    if (run.tick_every_ms > 0) pump_ticker(&run);
    if (run.child > 0) pump_child(&run);
    if (run.close_at_ms >= 0 && elapsed_ms() >= run.close_at_ms) {
      log_event("CLOSE AFTER %ld", run.arg);
      break;
    }
    stdio_log_size();
    pollfd pin{caller.fd, POLLIN, 0};
    pollfd pout{caller.out_fd, static_cast<short>(caller.out.empty() ? 0 : POLLOUT), 0};
    pollfd ps[2] = {pin, pout};
    poll(ps, 2, 20);
    pollfd p{caller.fd, 0, static_cast<short>(ps[0].revents | (ps[1].revents & POLLOUT))};
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      unsigned char buf[4096];
      ssize_t n = caller.raw ? read(caller.fd, buf, sizeof buf) : recv(caller.fd, buf, sizeof buf, 0);
      if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) {
        log_event("HANGUP");
        caller.gone = true;
        break;
      }
      // Monotonic time of arrival, comparable with other processes' clocks
      // (key latency measurements).
      timespec ts{};
      clock_gettime(CLOCK_MONOTONIC, &ts);
      log_event("RECV %zd AT %lld", n,
                static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
      for (ssize_t i = 0; i < n; i++) {
        if (caller.raw) {
          caller.typed.push_back(static_cast<char>(buf[i]));
        } else {
          telnet_in(&caller, buf[i], o);
        }
      }
      check_flood_ack(&run);
      if (!run.endless_sb) {
        if (run.echo) {
          run.echo(&run);
        } else {
          echo_typed(&run);
        }
      }
    }
    if ((p.revents & POLLOUT) && !caller.out.empty()) {
      ssize_t n = caller.raw ? write(caller.out_fd, caller.out.data(), caller.out.size())
                             : send(caller.fd, caller.out.data(), caller.out.size(), MSG_NOSIGNAL);
      if (n > 0 && g_sent) fwrite(caller.out.data(), 1, static_cast<size_t>(n), g_sent);
      if (n > 0) caller.out.erase(0, static_cast<size_t>(n));
      if (n < 0 && errno != EAGAIN && errno != EINTR) {
        log_event("HANGUP");
        caller.gone = true;
      }
    }
    if (caller.closing && caller.out.empty()) {
      log_event("CLOSE");
      break;
    }
  }
  if (g_tty_raw) tcsetattr(0, TCSANOW, &g_saved_tty);
  close(caller.fd);
  if (run.child > 0) {
    kill(run.child, SIGTERM);
    waitpid(run.child, nullptr, 0);
  }
  if (g_keys) fclose(g_keys);
  if (g_sent) fclose(g_sent);
  log_event("EXIT %d", status);
  if (g_log) fclose(g_log);
  return status;
}
