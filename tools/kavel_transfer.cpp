// layers: session
// kavel-transfer: file transfers through a real Kavel session without a
// window, for scripts, tests and benchmarks.  It is the program's own
// connection, Telnet layer, session loop and dispatch, and transfer engines;
// the only things it adds are the command line and the answers a user would
// give (the file to send, what to do with a file that exists).
//
//   kavel-transfer HOST PORT --recv DIR      take the ZMODEM download the host starts, into DIR
//   kavel-transfer HOST PORT --zsend FILE... [--resume]
//                                            upload the files with ZMODEM, one batch; --resume
//                                            asks for crash recovery (ZCRESUM), so that a
//                                            receiver holding a file's start takes only the rest
//   kavel-transfer HOST PORT --xrecv NAME [--dir DIR]
//                                            receive NAME with XMODEM into DIR (default: the
//                                            current directory), as Alt+D and "Save as" do
//   kavel-transfer HOST PORT --xsend FILE    send FILE with XMODEM, as Alt+U does
//   kavel-transfer HOST PORT --yrecv DIR     take a YMODEM batch into DIR (--ygrecv: YMODEM-G)
//   kavel-transfer HOST PORT --ysend FILE... send the files as one YMODEM batch (--ygsend: the
//                                            same; the receiver chooses YMODEM-G by asking "G")
//   options: --on-exists overwrite|rename|skip|resume
//                                            the file-exists answer (default rename); resume
//                                            (ZMODEM downloads) appends to a shorter file whose
//                                            start the sender confirms, else renames
//            --idle-timeout SECONDS              give up after that long without a byte (default
//            60)
//            -i FILE, --known-hosts FILE, --accept-new-host-key, --pins FILE
//                                            for ssh:// and telnets:// addresses (HOST takes every
//                                            address form): the SSH identity tried first, the SSH
//                                            known hosts (default ~/.ssh/known_hosts), taking an
//                                            unknown host key (never a changed one), the TLS
//                                            certificate pins; a password comes only from the
//                                            environment variable KAVEL_PASSWORD
//            --type TEXT                     sent to the board once connected (a menu key that
//                                            starts the board's sender, say)
//
// A ZMODEM download takes every file of the batch the host sends.  The tool
// ends when the transfer ends, when the host closes the connection, or after
// the idle time; it prints the final status text as its last line and exits
// 0 when that is a success text ("ZMODEM finished", "Upload finished",
// "XMODEM complete", "YMODEM complete"...; an upload of which the receiver
// took some files and skipped others is one), 1 otherwise, 2 for a wrong
// command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/connect.h"
#include "link/telnet.h"
#include "phonebook/prefs.h"
#include "platform/clock.h"
#include "platform/dos.h"
#include "session/session.h"
#include "session/session_loop.h"
#include "session/session_transfer.h"
#include "transfer/xmodem_protocol.h"
#include "transfer/zmodem_protocol.h"
#include "terminal/terminal.h"
#include "transfer/xmodem.h"
#include "transfer/xmodem_kavel.h"
#include "transfer/ymodem_kavel.h"
#include "transfer/zmodem.h"
#include "util/text.h"

namespace {

enum class Mode {
  kNone,
  kZmodemRecv,
  kZmodemSend,
  kXmodemRecv,
  kXmodemSend,
  kYmodemRecv,
  kYmodemSend
};

struct Options {
  const char* host = nullptr;
  int port = 0;
  Mode mode = Mode::kNone;
  const char* path = nullptr;  // DIR for downloads, FILE for uploads
  const char* xmodem_name = nullptr;
  std::vector<const char*> files;  // --zsend, --ysend, --ygsend: the files, in order
  int streaming = 0;               // --ygrecv: ask for YMODEM-G
  int on_exists = kZmodemRename;
  long idle_seconds = 60;
  const char* identity = nullptr;
  const char* known_hosts = nullptr;
  const char* pins = nullptr;
  bool accept_new_host_key = false;
  bool resume_uploads = false;  // --zsend ... --resume
  const char* type = nullptr;
};

Options g_options;

void usage(const char* argv0) {
  fprintf(
      stderr,
      "usage: %s HOST PORT --recv DIR | --zsend FILE... [--resume] | --xrecv NAME [--dir DIR]\n"
      "           | --xsend FILE | --yrecv DIR | --ygrecv DIR | --ysend FILE... | --ygsend FILE...\n"
      "           [--on-exists overwrite|rename|skip|resume] [--idle-timeout SECONDS]\n"
      "           [-i FILE] [--known-hosts FILE] [--accept-new-host-key] [--pins FILE]\n"
      "           [--type TEXT]\n",
      argv0);
}

bool parse_args(int argc, char** argv, Options* o) {
  if (argc < 3) return false;
  o->host = argv[1];
  char* end = nullptr;
  long port = strtol(argv[2], &end, 10);
  if (!end || *end || port < 1 || port > 65535) return false;
  o->port = static_cast<int>(port);
  for (int i = 3; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--accept-new-host-key") {
      o->accept_new_host_key = true;
      continue;
    }
    if (a == "--resume") {
      o->resume_uploads = true;
      continue;
    }
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    if (!v) return false;
    ++i;
    if (a == "--zsend" || a == "--ysend" || a == "--ygsend") {
      // Every argument up to the next option is a file.
      o->mode = a == "--zsend" ? Mode::kZmodemSend : Mode::kYmodemSend;
      o->path = v;
      o->files.push_back(v);
      while (i + 1 < argc && strncmp(argv[i + 1], "--", 2) != 0) o->files.push_back(argv[++i]);
    } else if (a == "--recv") {
      o->mode = Mode::kZmodemRecv;
      o->path = v;
    } else if (a == "--yrecv" || a == "--ygrecv") {
      o->mode = Mode::kYmodemRecv;
      o->streaming = a == "--ygrecv";
      o->path = v;
    } else if (a == "--xrecv") {
      o->mode = Mode::kXmodemRecv;
      o->xmodem_name = v;
    } else if (a == "--xsend") {
      o->mode = Mode::kXmodemSend;
      o->path = v;
    } else if (a == "--dir") {
      o->path = v;
    } else if (a == "--on-exists") {
      std::string answer = v;
      if (answer == "overwrite") {
        o->on_exists = kZmodemOverwrite;
      } else if (answer == "rename") {
        o->on_exists = kZmodemRename;
      } else if (answer == "skip") {
        o->on_exists = kZmodemSkip;
      } else if (answer == "resume") {
        o->on_exists = kZmodemResume;
      } else {
        return false;
      }
    } else if (a == "--type") {
      o->type = v;
    } else if (a == "-i") {
      o->identity = v;
    } else if (a == "--known-hosts") {
      o->known_hosts = v;
    } else if (a == "--pins") {
      o->pins = v;
    } else if (a == "--idle-timeout") {
      o->idle_seconds = strtol(v, &end, 10);
      if (!end || *end || o->idle_seconds < 1) return false;
    } else {
      return false;
    }
  }
  if (o->mode == Mode::kXmodemRecv) {
    if (!o->path) o->path = ".";
    return o->xmodem_name[0] != '\0';
  }
  if (o->resume_uploads && o->mode != Mode::kZmodemSend) return false;
  return o->mode != Mode::kNone && o->path && o->path[0];
}

// The answers a user at the window would give.  "resume" where the engine
// cannot resume (the file there is not shorter, or its start differs from
// the offered file) is answered with rename, which loses nothing.
int answer_file_exists(void*, const char*) {
  return g_options.on_exists == kZmodemResume ? kZmodemRename : g_options.on_exists;
}

int answer_file_exists_resume(void*, const ZmodemExistsQuestion* q) {
  if (g_options.on_exists != kZmodemResume) return g_options.on_exists;
  if (q->resume_failed) fprintf(stderr, "Resume refused: %s differs; renaming\n", q->name);
  return q->can_resume ? kZmodemResume : kZmodemRename;
}

int pick_given_file(void*, char* path, size_t capacity) {
  if (g_options.mode != Mode::kZmodemSend) return 0;
  safe_copy(path, capacity, g_options.path);
  return 1;
}

// The rest of a --zsend batch, one file each time the last is done.
size_t g_next_upload = 1;
int next_given_file(void*, char* path, size_t capacity) {
  if (g_options.mode != Mode::kZmodemSend || g_next_upload >= g_options.files.size()) return 0;
  safe_copy(path, capacity, g_options.files[g_next_upload++]);
  return 1;
}

int answer_ymodem_exists(void*, const char*) {
  switch (g_options.on_exists) {
    case kZmodemOverwrite:
      return YM_EXISTS_OVERWRITE;
    case kZmodemSkip:
      return YM_EXISTS_SKIP;
    default:
      return YM_EXISTS_RENAME;
  }
}

int answer_xmodem_exists(void*, const char*) {
  switch (g_options.on_exists) {
    case kZmodemOverwrite:
      return XM_EXISTS_OVERWRITE;
    case kZmodemSkip:
      return XM_EXISTS_SKIP;
    default:
      return XM_EXISTS_RENAME;
  }
}

bool is_success(const char* text) {
  // "Upload finished; 1 skipped by the receiver" and the like too.
  return strcmp(text, "ZMODEM finished") == 0 || strncmp(text, "Upload finished", 15) == 0 ||
         strcmp(text, "XMODEM complete") == 0 || strncmp(text, "YMODEM complete", 15) == 0 ||
         strncmp(text, "YMODEM-G complete", 17) == 0;
}

// Turns the loop while the XMODEM engine (plain or in a YMODEM batch) runs,
// and cancels it after the idle time without a byte.
void pump_xmodem(Session* s, SessionLoop* loop) {
  uint64_t seen = 0;
  uint32_t last_byte_ms = clock_ms();
  const uint32_t idle_ms = static_cast<uint32_t>(g_options.idle_seconds) * 1000u;
  while (s->xm.xmodem.active && session_pump_turn(loop)) {
    if (loop->bytes_received != seen) {
      seen = loop->bytes_received;
      last_byte_ms = clock_ms();
    }
    if (s->xm.xmodem.active && clock_ms() - last_byte_ms >= idle_ms) {
      char why[96];
      snprintf(why, sizeof why, "No data for %ld seconds", g_options.idle_seconds);
      xmodem_cancel(&s->xm.xmodem, why);
      break;
    }
  }
}

// An XMODEM transfer from start to end: the engine asks or waits at once,
// so there is no waiting for the host to begin.
void run_xmodem(Session* s, char* final, size_t cap) {
  auto buf = std::make_unique<uint8_t[]>(kRecvChunkTransfer);
  char title[256];
  snprintf(title, sizeof title, "%s - %s:%d", "Kavel", g_options.host, g_options.port);
  SessionLoop loop;
  session_loop_init(&loop, s, nullptr, title, buf.get());
  s->xm.xmodem_host.prompt_fn = answer_xmodem_exists;

  int started;
  if (g_options.mode == Mode::kXmodemRecv) {
    started = xmodem_protocol_start_receive(&s->xm, g_options.xmodem_name);
  } else {
    started = xmodem_protocol_start_send(&s->xm, g_options.xmodem_name);
  }
  if (started != 0) {
    s->loop = nullptr;
    safe_copy(final, cap,
              started == -2                         ? "Skipped: the file exists"
              : g_options.mode == Mode::kXmodemRecv ? "Could not create the file"
                                                    : "Could not open the file");
    return;
  }
  pump_xmodem(s, &loop);
  if (s->xm.xmodem.active || s->xm.xmodem_host.file)
    xmodem_protocol_end(&s->xm, loop.closed_by_peer);
  s->loop = nullptr;
  // The adapter's text: the engine's, with the reason when our file failed.
  safe_copy(final, cap, s->xm.xmodem_host.status_text);
}

// A YMODEM batch through the session's XMODEM seam: the session loop feeds
// and pumps s->xm.xmodem, which the YMODEM adapter binds to its files.
void run_ymodem(Session* s, char* final, size_t cap) {
  auto buf = std::make_unique<uint8_t[]>(kRecvChunkTransfer);
  auto ctx = std::make_unique<YmodemHostContext>();
  char title[256];
  snprintf(title, sizeof title, "%s - %s:%d", "Kavel", g_options.host, g_options.port);
  SessionLoop loop;
  session_loop_init(&loop, s, nullptr, title, buf.get());
  YmodemHostTable table{&s->xm, xmodem_kavel_send_cb, xmodem_kavel_now_cb, answer_ymodem_exists,
                        nullptr};
  ymodem_kavel_init(ctx.get(), &table);

  int started;
  if (g_options.mode == Mode::kYmodemRecv) {
    started = ymodem_kavel_start_receive(ctx.get(), &s->xm.xmodem, g_options.path,
                                         g_options.streaming);
  } else {
    started = ymodem_kavel_start_send(ctx.get(), &s->xm.xmodem, g_options.files.data(),
                                      static_cast<int>(g_options.files.size()));
  }
  if (started != 0) {
    s->loop = nullptr;
    safe_copy(final, cap, ctx->status_text[0] ? ctx->status_text : "YMODEM failed");
    return;
  }
  pump_xmodem(s, &loop);
  if (s->xm.xmodem.active) {
    xmodem_cancel(&s->xm.xmodem,
                  loop.closed_by_peer ? "YMODEM interrupted by disconnect" : "YMODEM canceled");
  }
  ymodem_kavel_close(ctx.get());
  s->loop = nullptr;
  safe_copy(final, cap, ctx->status_text);
  char summary[kTransferNameCap + 48];
  std::string dir;
  if (ymodem_summary(ctx.get(), summary, sizeof summary, &dir)) fprintf(stderr, "%s\n", summary);
}

// One session from connect to the end of its transfer; the final status text
// goes to final.
void run(Session* s, Terminal* t, char* final, size_t cap) {
  ZmodemState* z = &s->zm.zmodem;
  z->hooks.file_exists = answer_file_exists;
  z->hooks.file_exists_resume = answer_file_exists_resume;
  z->hooks.pick_upload = pick_given_file;
  z->hooks.next_upload = next_given_file;
  z->hooks.upload_crash_recovery = g_options.resume_uploads ? 1 : 0;

  auto buf = std::make_unique<uint8_t[]>(kRecvChunkTransfer);
  char title[256];
  snprintf(title, sizeof title, "%s - %s:%d", "Kavel", g_options.host, g_options.port);
  SessionLoop loop;
  session_loop_init(&loop, s, nullptr, title, buf.get());

  if (g_options.mode == Mode::kZmodemSend && zmodem_start_upload(z, g_options.path) != 0)
    loop.running = 0;

  uint64_t seen = 0;
  uint32_t last_byte_ms = clock_ms();
  const uint32_t idle_ms = static_cast<uint32_t>(g_options.idle_seconds) * 1000u;
  bool started = z->active != 0;
  bool ended = z->ending != kZmodemRunning && z->ending != kZmodemSilent;
  while (!ended && session_pump_turn(&loop)) {
    if (loop.bytes_received != seen) {
      seen = loop.bytes_received;
      last_byte_ms = clock_ms();
    }
    if (z->active) started = true;
    ended = started && !z->active && z->ending != kZmodemRunning && z->ending != kZmodemSilent;
    if (!ended && clock_ms() - last_byte_ms >= idle_ms) {
      char why[96];
      snprintf(why, sizeof why, "No data for %ld seconds", g_options.idle_seconds);
      if (z->active) {
        zmodem_cancel(z, why);
      } else {
        safe_copy(z->status_text, sizeof z->status_text, why);
      }
      break;
    }
  }
  if (z->active || z->file) session_transfer_end(s, loop.closed_by_peer);
  s->loop = nullptr;
  if (!started && loop.closed_by_peer) {
    safe_copy(final, cap, "Disconnected before a transfer started");
  } else {
    safe_copy(final, cap, z->status_text);
  }
  (void)t;
}

}  // namespace

int main(int argc, char** argv) {
  if (!parse_args(argc, argv, &g_options)) {
    usage(argv[0]);
    return 2;
  }
  dos_install_break_handler();
  transfer_prefs_set_defaults();
  bool xmodem = g_options.mode == Mode::kXmodemRecv || g_options.mode == Mode::kXmodemSend;
  bool ymodem = g_options.mode == Mode::kYmodemRecv || g_options.mode == Mode::kYmodemSend;
  if (g_options.mode == Mode::kZmodemRecv || g_options.mode == Mode::kXmodemRecv) {
    if (strlen(g_options.path) >= sizeof g_download_path) {
      printf("Download directory name too long\n");
      return 1;
    }
    safe_copy(g_download_path, sizeof g_download_path, g_options.path);
  }
  // An XMODEM upload comes from the upload directory: the file's own.
  std::string upload_dir, upload_name;
  if (g_options.mode == Mode::kXmodemSend) {
    std::string file = g_options.path;
    size_t slash = file.rfind('/');
    upload_dir = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
    upload_name = slash == std::string::npos ? file : file.substr(slash + 1);
    if (upload_dir.size() >= sizeof g_upload_path || upload_name.empty()) {
      printf("Upload file name not usable\n");
      return 1;
    }
    safe_copy(g_upload_path, sizeof g_upload_path, upload_dir.c_str());
    g_options.xmodem_name = upload_name.c_str();
  }

  auto session = std::make_unique<Session>();
  Session* s = session.get();
  session_init(s);
  // The password leaves the environment at once (nothing started later
  // inherits it) and the buffer is wiped once the link is open.
  char password[256] = "";
  if (const char* env = getenv("KAVEL_PASSWORD")) {
    snprintf(password, sizeof password, "%s", env);
    explicit_bzero(const_cast<char*>(env), strlen(env));
    unsetenv("KAVEL_PASSWORD");
  }
  LinkOpenOptions opts;
  opts.password = password;
  opts.identity = g_options.identity;
  opts.known_hosts = g_options.known_hosts;
  opts.certificate_pins = g_options.pins;
  opts.accept_new_host_key = g_options.accept_new_host_key ? 1 : 0;
  Link link;
  int opened = link_open(g_options.host, g_options.port, &opts, &link);
  explicit_bzero(password, sizeof password);
  if (opened != LINK_OK) {
    if (link.error[0])
      printf("Could not connect to %s:%d: %s\n", g_options.host, g_options.port, link.error);
    else
      printf("Could not connect to %s:%d\n", g_options.host, g_options.port);
    return 1;
  }
  session_attach_link(s, &link);
  telnet_send_opening_offers(&s->telnet);
  if (g_options.type &&
      session_send(s, reinterpret_cast<const uint8_t*>(g_options.type), strlen(g_options.type),
                   5000) != 0) {
    printf("Could not send to %s:%d\n", g_options.host, g_options.port);
    return 1;
  }

  // The terminal has no window: the bytes outside the transfer are
  // interpreted as in any session, and nothing is drawn.
  auto terminal = std::make_unique<Terminal>();
  Terminal* t = terminal.get();
  term_init_record(t);
  session_bind_terminal(s, t, nullptr, g_options.host);

  char final[96] = "";
  if (xmodem) {
    run_xmodem(s, final, sizeof final);
  } else if (ymodem) {
    run_ymodem(s, final, sizeof final);
  } else {
    run(s, t, final, sizeof final);
  }

  session_close_link(s);
  session_release_terminal(s);
  printf("%s\n", final);
  return is_success(final) ? 0 : 1;
}
