// layers: platform
// Cost of one terminal scroll in the framebuffer: a block copy of the grid one
// text line up and a fill of the new bottom line, as the terminal does it,
// for grids that span the window's width and for a grid centred in a wider
// full-screen window (where the block is not whole rows).  Then the cost of
// a glyph at scales 1 to 3 in lines of text.
//
//   bench_platform_scroll [SECONDS_PER_CASE]   (default 0.5)
//
// Timed on the process CPU clock, like the throughput benchmark.
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/display.h"

namespace {

double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct Case {
  const char* what;
  int window_w, window_h;  // the window
  int grid_x, grid_w;      // the grid's columns in it
  int line_h;              // a text line (16 x scale)
};

// Scrolls per second of the grid (25 lines) in the window.
double scrolls_per_second(const Case& c, double seconds) {
  PlatWindowSpec spec;
  spec.inner_width = c.window_w;
  spec.inner_height = c.window_h;
  PlatWindow* w = plat_open_window(spec);
  if (!w) {
    fprintf(stderr, "cannot open a %dx%d headless window\n", c.window_w, c.window_h);
    exit(1);
  }
  const int grid_h = 25 * c.line_h;
  long n = 0;
  const double start = cpu_seconds();
  double now = start;
  while (now - start < seconds) {
    for (int k = 0; k < 64; k++, n++) {
      plat_clip_blit(w, c.grid_x, c.line_h, c.grid_x, 0, c.grid_w, grid_h - c.line_h);
      plat_set_apen(w, static_cast<int>(n & 15));
      plat_rect_fill(w, c.grid_x, grid_h - c.line_h, c.grid_x + c.grid_w - 1, grid_h - 1);
    }
    now = cpu_seconds();
  }
  plat_close_window(w);
  return static_cast<double>(n) / (now - start);
}

// Nanoseconds a glyph (8x16 at the scale, with its background) when a
// screen of 80x25 cells is written as a terminal writes it: each line
// cleared across the grid, then its 80 glyphs.
double ns_per_glyph(int scale, double seconds) {
  PlatWindowSpec spec;
  spec.inner_width = 640 * scale;
  spec.inner_height = 400 * scale;
  PlatWindow* w = plat_open_window(spec);
  if (!w) {
    fprintf(stderr, "cannot open a %dx%d headless window\n", spec.inner_width, spec.inner_height);
    exit(1);
  }
  uint8_t rows[256][16];
  for (int c = 0; c < 256; c++)
    for (int r = 0; r < 16; r++) rows[c][r] = static_cast<uint8_t>(c * 37 + r * 11);
  const int cell_w = 8 * scale, line_h = 16 * scale;
  long n = 0;
  const double start = cpu_seconds();
  double now = start;
  while (now - start < seconds) {
    for (int line = 0; line < 25; line++) {
      const int y = line * line_h;
      plat_set_apen(w, line & 7);
      plat_rect_fill(w, 0, y, spec.inner_width - 1, y + line_h - 1);
      for (int col = 0; col < 80; col++, n++) {
        plat_draw_glyph(w, col * cell_w, y, rows[(n * 7) & 255], 16, scale,
                        static_cast<int>(n & 15), static_cast<int>((n >> 4) & 7));
      }
    }
    now = cpu_seconds();
  }
  plat_close_window(w);
  return (now - start) * 1e9 / static_cast<double>(n);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = argc > 1 ? atof(argv[1]) : 0.5;
  if (seconds <= 0) seconds = 0.5;
  const Case cases[] = {
      {"640x400 window, grid across it (scale 1)", 640, 400, 0, 640, 16},
      {"1280x800 window, grid across it (scale 2)", 1280, 800, 0, 1280, 32},
      {"1920x1080 screen, 1280-wide grid centred (scale 2)", 1920, 1080, 320, 1280, 32},
      {"2560x1440 screen, 1920-wide grid centred (scale 3)", 2560, 1440, 320, 1920, 48},
  };
  printf("platform scroll: block copy of 24 text lines one line up, then the last line filled\n");
  for (const Case& c : cases) {
    double rate = scrolls_per_second(c, seconds);
    printf("  %-52s %9.0f scrolls/s (%.2f us each)\n", c.what, rate, 1e6 / rate);
  }
  printf("text: 80x25 cells written line by line, each line cleared first\n");
  const double one = ns_per_glyph(1, seconds);
  for (int scale = 1; scale <= 3; scale++) {
    const double ns = scale == 1 ? one : ns_per_glyph(scale, seconds);
    printf("  glyph at scale %d %37.1f ns (%.2fx scale 1, %d times its pixels)\n", scale, ns,
           ns / one, scale * scale);
  }
  return 0;
}
