// layers: session
// What the scrollback viewer and the paste cost: opening the viewer over
// 1000 full captured lines and a full screen up to its first full draw, a
// drag across the whole window (rows and pixels repainted per move), and
// pasting 64 KiB of clipboard text to a peer (time and sends).
//
//   bench_scrollback_clipboard [ROUNDS]   (default 20)
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "display/fonts.h"
#include "display/renderer.h"
#include "display/term_hooks.h"
#include "platform/clipboard.h"
#include "platform/display.h"
#include "scrollback/viewer.h"
#include "session/clipboard_keys.h"
#include "session/session.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

PlatEvent mouse(uint32_t cls, uint16_t code, int x, int y) {
  return PlatEvent{cls, code, 0, static_cast<int16_t>(x), static_cast<int16_t>(y)};
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? atoi(argv[1]) : 20;
  if (rounds < 1) rounds = 1;
  if (!bitmap_font_load("cp437.f16", 16, 1)) {
    fprintf(stderr, "the CP437 font files are missing\n");
    return 1;
  }
  display_install_term_hooks();
  PlatScreen* desktop = plat_lock_desktop_screen();
  auto t = std::make_unique<Terminal>();
  term_init_record(t.get());
  t->bitmap_renderer = 1;
  t->bitmap_kind = BITMAP_KIND_CP437;
  t->cp437_font = 1;
  t->bitmap_glyph_height = 16;
  t->bitmap_scale = 1;
  t->cell_w = 8;
  t->cell_h = 16;
  t->baseline = 15;
  PlatWindowSpec spec;
  spec.inner_width = 640;
  spec.inner_height = 400;
  t->window = plat_open_window(spec);
  t->rport = t->window;
  term_setup_pens(t.get(), desktop, false);
  std::vector<ScrollbackLine> lines(kScrollbackLines);
  ScrollbackRing ring{lines.data(), 0, 0};
  for (int i = 0; i < kScrollbackLines; i++) {
    char text[81];
    snprintf(text, sizeof text, "%04d %075d", i, i);
    scrollback_add_line(&ring, text);
  }
  t->scrollback = &ring;
  for (int r = 0; r < kTermRows; r++)
    for (int c = 0; c < kTermCols; c++) t->cells[r][c].ch = static_cast<uint8_t>('A' + r % 26);
  char tmpdir[] = "/tmp/kavel-bench-XXXXXX";
  if (!mkdtemp(tmpdir)) return 1;
  scrollback_set_temp_dir(tmpdir);

  double best = 1e9, sum = 0;
  for (int i = 0; i < rounds; i++) {
    ScrollbackViewer v;
    auto t0 = Clock::now();
    if (scrollback_viewer_open(&v, t.get()) != 0) return 1;
    double ms = ms_since(t0);
    best = ms < best ? ms : best;
    sum += ms;
    scrollback_viewer_close(&v);
  }
  printf(
      "open over 1000 full lines to the first full draw: best %.2f ms, mean %.2f ms (%d rounds)\n",
      best, sum / rounds, rounds);

  ScrollbackViewer v;
  if (scrollback_viewer_open(&v, t.get()) != 0) return 1;
  v.top = 0;
  scrollback_window_draw(&v);
  auto x_of = [](int col) { return 2 + col * 8 + 4; };
  auto y_of = [&](int row) { return 1 + (row + 1) * 16 + 8; };
  scrollback_viewer_handle(&v, mouse(PLAT_EV_MOUSEBUTTON, PLAT_SELECTDOWN, x_of(0), y_of(0)));
  long pixels = 0, rows = 0;
  int moves = 0;
  auto t0 = Clock::now();
  // Diagonally across the whole window, one pixel step at a time.
  for (int y = y_of(0); y <= y_of(v.visible_rows - 1); y += 1) {
    int x = x_of(0) + (y - y_of(0)) * (x_of(79) - x_of(0)) / (y_of(v.visible_rows - 1) - y_of(0));
    v.last_delta_rows = 0;
    v.last_delta_pixels = 0;
    scrollback_viewer_handle(&v, mouse(PLAT_EV_MOUSEMOVE, 0, x, y));
    pixels += v.last_delta_pixels;
    rows += v.last_delta_rows;
    moves++;
  }
  double drag_ms = ms_since(t0);
  printf(
      "drag across the window: %d moves, %.2f rows and %.0f pixels repainted per move "
      "(the window is %d pixels), %.3f ms per move\n",
      moves, static_cast<double>(rows) / moves, static_cast<double>(pixels) / moves, 640 * 400,
      drag_ms / moves);
  scrollback_viewer_close(&v);

  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 1;
  int big = 1 << 20;
  setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  std::string text;
  while (text.size() < 64 * 1024) text += "The quick brown fox \xc3\xa9 \xe2\x95\x90 jumps\r\n";
  text.resize(64 * 1024);
  plat_headless_clipboard_set_text(text.data(), text.size());
  Session s{};
  session_init(&s);
  Link link;
  link_tcp_adopt(&link, fds[0]);
  session_attach_link(&s, &link);
  s.terminal = t.get();
  best = 1e9;
  double first = 0;
  for (int i = 0; i < rounds; i++) {
    auto p0 = Clock::now();
    if (session_paste_clipboard(&s) != 0) return 1;
    double ms = ms_since(p0);
    if (i == 0) first = ms;
    best = ms < best ? ms : best;
    char buf[65536];
    while (read(fds[1], buf, sizeof buf) > 0) {
      fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    }
  }
  printf(
      "paste of 64 KiB of clipboard text: first %.2f ms (the desktop text converted), "
      "best %.2f ms, %zu sends\n",
      first, best, (session_paste_bytes(text).size() + 4095) / 4096);
  close(fds[0]);
  close(fds[1]);
  rmdir(tmpdir);
  return 0;
}
