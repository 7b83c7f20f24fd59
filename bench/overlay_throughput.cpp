// layers: session
// How fast the session takes bytes in with the in-session phonebook open
// and with it closed: a thread writes MEGABYTES of BBS text into a socket
// pair as fast as the session reads it, and the session loop (with the
// overlay in front, or not) consumes it in a headless window.  Run twice: as
// plain text to the terminal, and with a transfer marked as running (reads
// of 8192 bytes, each byte handed to the transfer's side of the dispatcher).
//
//   bench_overlay_throughput [MEGABYTES]   (default 8)
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "display/modes.h"
#include "display/surface.h"
#include "display/ui_surface.h"
#include "link/connect.h"
#include "phonebook/phonebook.h"
#include "platform/display.h"
#include "session/input.h"
#include "session/phonebook_overlay.h"
#include "session/session.h"
#include "session/session_loop.h"
#include "terminal/terminal.h"

namespace {

using Clock = std::chrono::steady_clock;

// Lines of coloured text, as a busy board sends them.
std::string text_block() {
  std::string out;
  for (int i = 0; i < 64; i++) {
    out += "\x1b[1;3" + std::to_string(i % 8) + "mLine " + std::to_string(i) +
           " of the flood: the quick brown fox jumps over the lazy dog\x1b[0m\r\n";
  }
  return out;
}

struct Pair {
  int ours = -1, peer = -1;
  Pair() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
      ours = fds[0];
      peer = fds[1];
    }
  }
  ~Pair() {
    if (ours >= 0) close(ours);
    if (peer >= 0) close(peer);
  }
};

std::atomic<bool> g_done{false};
SessionLoop* g_loop = nullptr;
size_t g_total = 0;

// The overlay stays open until the writer has sent everything and the
// socket is empty; then Escape.
void overlay_pass(UiContext* overlay) {
  if (!g_done) return;
  char c;
  if (recv(g_loop->s->link.fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) > 0) return;
  PlatEvent esc;
  esc.cls = PLAT_EV_VANILLAKEY;
  esc.code = 27;
  plat_inject_event(overlay->window, esc);
}

double run(bool overlay, bool transfer, size_t total) {
  Pair pair;
  Session s;
  session_init(&s);
  fcntl(pair.ours, F_SETFL, fcntl(pair.ours, F_GETFL) | O_NONBLOCK);
  Link link;
  link_tcp_adopt(&link, pair.ours);  // the pair closes it
  session_attach_link(&s, &link);
  auto t = std::make_unique<Terminal>();
  term_init_record(t.get());
  WindowRequest req = window_request("Kavel - bench");
  if (term_open(t.get(), &req) != 0) return -1;
  session_bind_terminal(&s, t.get(), nullptr, "bench");
  s.zm.zmodem.active = transfer ? 1 : 0;
  auto buf = std::make_unique<uint8_t[]>(kRecvChunkTransfer);
  SessionLoop loop;
  session_loop_init(&loop, &s, nullptr, "Kavel - bench", buf.get());
  Phonebook pb{};
  SessionRequest request{.phonebook = &pb};
  loop.request = &request;
  g_loop = &loop;
  g_total = total;
  g_done = false;

  std::string block = text_block();
  auto t0 = Clock::now();
  std::thread writer([&] {
    size_t sent = 0;
    while (sent < total) {
      size_t n = std::min(block.size(), total - sent);
      ssize_t w = send(pair.peer, block.data(), n, MSG_NOSIGNAL);
      if (w > 0) sent += static_cast<size_t>(w);
      if (w < 0) break;
    }
    g_done = true;
  });
  if (overlay) {
    g_phonebook_overlay_pass_hook = overlay_pass;
    s.request_phonebook = 1;
    session_pump_turn(&loop);  // opens it
    while (loop.mode.ops) session_pump_turn(&loop);
    g_phonebook_overlay_pass_hook = nullptr;
  } else {
    for (;;) {
      session_pump_turn(&loop);
      char c;
      if (g_done && recv(pair.ours, &c, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) break;
    }
  }
  double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  writer.join();
  s.zm.zmodem.active = 0;
  session_release_terminal(&s);
  return static_cast<double>(total) / seconds / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  long mb = argc > 1 ? atol(argv[1]) : 8;
  if (mb < 1) mb = 1;
  size_t total = static_cast<size_t>(mb) << 20;
  display_set_window_mode(DISPLAY_MODE_WINDOW);
  printf("%ld MB from the BBS through the session loop (headless window)\n", mb);
  for (bool transfer : {false, true}) {
    double closed = run(false, transfer, total);
    double open = run(true, transfer, total);
    printf("%-36s phonebook closed %7.2f MB/s, open %7.2f MB/s\n",
           transfer ? "during a transfer (8192-byte reads):" : "text to the terminal:", closed,
           open);
  }
  return 0;
}
