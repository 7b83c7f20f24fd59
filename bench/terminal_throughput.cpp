// layers: display
// Throughput of the whole receive path below Telnet: a typical BBS stream
// through the ANSI interpreter and the cell renderer into a headless window,
// every cell drawn, with the CP437 8x16 font at scale 1 and at scale 2; then
// (without a SCALE) the same stream with 24-bit colours in place of the
// sixteen, at scale 1.
//
//   bench_terminal_throughput [MiB [SCALE]]   (default: 32 MiB, scales 1 and 2)
//
// The figure is taken from the process CPU time, so that other work on a
// shared machine does not show up as slowness; the wall-clock figure is
// printed beside it.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "../tests/terminal/headless_terminal.h"
#include "ansi_stream.h"
#include "display/fonts.h"

namespace {

double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct Figures {
  double cpu_mib_s;
  double wall_mib_s;
};

Figures run(const std::string& stream, int scale) {
  if (!bitmap_font_load("cp437.f16", 16, scale)) {
    fprintf(stderr, "cannot load cp437.f16 from the Fonts drawer beside the executable\n");
    exit(1);
  }
  HeadlessTerminal h;
  if (!h.open_bitmap(16, scale, true)) {
    fprintf(stderr, "cannot open a headless window\n");
    exit(1);
  }
  Terminal* t = h.term();
  // Warm up caches and the window, then take the best of three passes.
  for (size_t i = 0; i < stream.size() / 8; i++) term_consume_byte(t, stream[i]);
  Figures best{0, 0};
  const double mib = stream.size() / (1024.0 * 1024.0);
  for (int pass = 0; pass < 3; pass++) {
    auto start = std::chrono::steady_clock::now();
    double cpu_start = cpu_seconds();
    for (unsigned char c : stream) term_consume_byte(t, c);
    double cpu = cpu_seconds() - cpu_start;
    std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    if (mib / cpu > best.cpu_mib_s) best.cpu_mib_s = mib / cpu;
    if (mib / wall.count() > best.wall_mib_s) best.wall_mib_s = mib / wall.count();
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  double mib = argc > 1 ? atof(argv[1]) : 32;
  if (mib <= 0) mib = 32;
  std::vector<int> scales = {1, 2};
  if (argc > 2) scales = {atoi(argv[2]) > 0 ? atoi(argv[2]) : 1};
  std::string stream = make_stream(static_cast<size_t>(mib * 1024 * 1024));
  size_t lines = 0, text = 0;
  for (size_t i = 0; i < stream.size(); i++) {
    if (stream[i] == '\n') lines++;
    if (stream[i] == '\x1b') {
      while (i < stream.size() && !(stream[i] >= 64 && stream[i] <= 126 && stream[i] != '[')) i++;
    } else if (static_cast<unsigned char>(stream[i]) >= 32) {
      text++;
    }
  }
  printf("terminal throughput: %.1f MiB stream, %.0f%% text characters, %zu lines\n",
         stream.size() / (1024.0 * 1024.0), 100.0 * text / stream.size(), lines);
  for (int scale : scales) {
    Figures f = run(stream, scale);
    printf("  cp437.f16 scale %d: %.1f MiB/s (CPU time; wall clock %.1f MiB/s)\n", scale,
           f.cpu_mib_s, f.wall_mib_s);
  }
  if (argc > 2) return 0;
  std::string rgb = make_stream(static_cast<size_t>(mib * 1024 * 1024), true);
  Figures f = run(rgb, 1);
  printf("  24-bit colours, scale 1: %.1f MiB/s (CPU time; wall clock %.1f MiB/s)\n", f.cpu_mib_s,
         f.wall_mib_s);
  return 0;
}
