// layers: platform
// Opens a real window (or, with --fullscreen, an own screen covered by a
// borderless window) and draws a fixed test pattern through the platform
// layer: the 16 terminal colours as obtained pens, fills, system-font text,
// a scaled glyph and block copies; then, after a first present, scrolls of
// striped bands (whole rows up and down, a block of most of the width) that
// the framebuffer does by turning its row table, so the second present has to
// read every row through that table.  Used by the Xvfb script test, which
// checks screenshot pixels at the positions listed below, and by hand.
//
//   kavel-window-pattern [--fullscreen] [seconds]
//
// Prints "pattern ready" once the pattern is on screen; ends after the given
// seconds (default 5), on the close button or on a key press.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "platform/display.h"
#include "platform/dos.h"

namespace {

// The terminal palette as 8-bit components.
constexpr uint8_t kPalette[16][3] = {
    {0x00, 0x00, 0x00}, {0x00, 0x00, 0xAA}, {0x00, 0xAA, 0x00}, {0x00, 0xAA, 0xAA},
    {0xAA, 0x00, 0x00}, {0xAA, 0x00, 0xAA}, {0xAA, 0x55, 0x00}, {0xAA, 0xAA, 0xAA},
    {0x55, 0x55, 0x55}, {0x55, 0x55, 0xFF}, {0x55, 0xFF, 0x55}, {0x55, 0xFF, 0xFF},
    {0xFF, 0x55, 0x55}, {0xFF, 0x55, 0xFF}, {0xFF, 0xFF, 0x55}, {0xFF, 0xFF, 0xFF},
};

uint32_t frac(uint8_t v) {
  return static_cast<uint32_t>(v) * 0x01010101u;
}

// Layout (window coordinates), checked by tests/scripts/platform_xvfb_window.sh:
//   swatch i: x 40*i .. 40*i+39, y 0..59, colour i
//   grey panel: 0,80 .. 319,199 (colour 7) with a checker block at 16,96
//     (32x32, 8-pixel squares, red (4) where (x/8 + y/8) is even, else blue (1))
//   the checker copied to 112,96 (plain) and to 208,96 then shifted right by 4
//   text "Kavel" in yellow on blue at baseline 340,120 (DejaVu Sans Mono 24)
//   glyph 0x81 rows at scale 4 in white at 340,160 (32 wide, 8 rows x 4)
//   bands below y 200 (W = window width), drawn as full-width stripes of 8
//   rows, stripe k (counted from the band's top) in colour kStripe[k]:
//     A, rows 200..263: rows 216..263 copied up to 200, then rows 248..263
//        filled white across the width
//     C, rows 328..399: columns 20..W-21 of rows 344..399 copied up to 328,
//        then columns 20..W-21 of rows 384..399 filled brown (6)
//     B, rows 264..327: rows 264..311 copied down to 280, rows 264..279 left
//        as they were (presented while the copy they are owed is pending)
//   only in windows at least 736 rows tall (full screen), a grid centred in
//   the width as a terminal's is: band D, rows 416..735 drawn as stripes of
//   16 rows (stripe k in kStripe[k % 9]); columns 64..W-65 of rows 432..735
//   copied up to 416 (the grid's own lines from then on), then the line left
//   behind, rows 720..735 of those columns, cleared white and written with
//   two glyphs at scale 2 (16 x 16): a solid red one at 64 and a blank one
//   (its blue background) at 80; the rest of the line stays white.
constexpr int kStripe[9] = {9, 10, 11, 12, 13, 14, 2, 3, 5};

void draw_band(PlatWindow* w, const int* pen, int top, int stripes) {
  const int width = plat_window_inner_width(w);
  for (int k = 0; k < stripes; k++) {
    plat_set_apen(w, pen[kStripe[k]]);
    plat_rect_fill(w, 0, top + 8 * k, width - 1, top + 8 * k + 7);
  }
}

// The scrolls a terminal makes, with the fills that follow them.  Band C is
// moved before band B because any block copy first settles the copy an
// earlier one still owes, and B's is to stay owed until the present.
void scroll_bands(PlatWindow* w, const int* pen) {
  const int width = plat_window_inner_width(w);
  plat_clip_blit(w, 0, 216, 0, 200, width, 48);
  plat_set_apen(w, pen[15]);
  plat_rect_fill(w, 0, 248, width - 1, 263);

  plat_clip_blit(w, 20, 344, 20, 328, width - 40, 56);
  plat_set_apen(w, pen[6]);
  plat_rect_fill(w, 20, 384, width - 21, 399);

  plat_clip_blit(w, 0, 264, 0, 280, width, 48);
  plat_present_all();
}

// Band D: a grid's scroll and its next line, as a terminal centred on a full
// screen makes them.
void draw_grid_band(PlatWindow* w, const int* pen) {
  const int width = plat_window_inner_width(w);
  for (int k = 0; k < 20; k++) {
    plat_set_apen(w, pen[kStripe[k % 9]]);
    plat_rect_fill(w, 0, 416 + 16 * k, width - 1, 416 + 16 * k + 15);
  }
}

void scroll_grid_band(PlatWindow* w, const int* pen) {
  const int width = plat_window_inner_width(w);
  plat_clip_blit(w, 64, 432, 64, 416, width - 128, 304);
  plat_set_apen(w, pen[15]);
  plat_rect_fill(w, 64, 720, width - 65, 735);
  const uint8_t solid[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const uint8_t blank[8] = {};
  plat_draw_glyph(w, 64, 720, solid, 8, 2, pen[4], pen[1]);
  plat_draw_glyph(w, 80, 720, blank, 8, 2, pen[4], pen[1]);
  plat_present_all();
}

void draw_pattern(PlatWindow* w, const int* pen) {
  int width = plat_window_inner_width(w), height = plat_window_inner_height(w);
  plat_set_apen(w, pen[0]);
  plat_rect_fill(w, 0, 0, width - 1, height - 1);
  for (int i = 0; i < 16; i++) {
    plat_set_apen(w, pen[i]);
    plat_rect_fill(w, 40 * i, 0, 40 * i + 39, 59);
  }
  plat_set_apen(w, pen[7]);
  plat_rect_fill(w, 0, 80, 319, 199);
  for (int y = 0; y < 4; y++) {
    for (int x = 0; x < 4; x++) {
      plat_set_apen(w, ((x + y) % 2 == 0) ? pen[4] : pen[1]);
      plat_rect_fill(w, 16 + 8 * x, 96 + 8 * y, 16 + 8 * x + 7, 96 + 8 * y + 7);
    }
  }
  plat_clip_blit(w, 16, 96, 112, 96, 32, 32);
  plat_clip_blit(w, 16, 96, 208, 96, 32, 32);
  plat_clip_blit(w, 208, 96, 212, 96, 32, 32);  // overlapping, to the right

  PlatFont* font = plat_open_font("DejaVu Sans Mono.font", 24);
  if (font) {
    plat_set_font(w, font);
    plat_set_drmd(w, PLAT_JAM2);
    plat_set_apen(w, pen[14]);
    plat_set_bpen(w, pen[1]);
    plat_move(w, 340, 120);
    plat_text(w, "Kavel", 5);
  } else {
    fprintf(stderr, "window-pattern: DejaVu Sans Mono is not available\n");
  }
  const uint8_t rows[8] = {0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81};
  plat_draw_glyph(w, 340, 160, rows, 8, 4, pen[15], pen[0]);
  draw_band(w, pen, 200, 8);
  draw_band(w, pen, 264, 8);
  draw_band(w, pen, 328, 9);
  if (height >= 736) draw_grid_band(w, pen);
  plat_present_all();
  if (font) {
    plat_set_font(w, nullptr);
    plat_close_font(font);
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool fullscreen = false;
  int seconds = 5;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--fullscreen") == 0) {
      fullscreen = true;
    } else {
      seconds = atoi(argv[i]);
    }
  }
  dos_install_break_handler();
  PlatScreen* desktop = plat_lock_desktop_screen();
  if (!desktop) {
    fprintf(stderr, "window-pattern: no display\n");
    return 1;
  }
  PlatScreen* own = nullptr;
  PlatWindowSpec spec;
  spec.title = "Kavel window pattern";
  spec.left = 40;
  spec.top = 30;
  spec.inner_width = 640;
  spec.inner_height = 400;
  if (fullscreen) {
    own = plat_open_screen(plat_screen_width(desktop), plat_screen_height(desktop),
                           plat_screen_depth(desktop), "Kavel Screen");
    if (!own) {
      fprintf(stderr, "window-pattern: cannot open an own screen\n");
      plat_unlock_screen(desktop);
      return 1;
    }
    uint32_t table[16 * 3];
    for (int i = 0; i < 16; i++) {
      for (int c = 0; c < 3; c++) table[3 * i + c] = frac(kPalette[i][c]);
    }
    plat_screen_load_rgb32(own, 0, 16, table);
    spec.screen = own;
    spec.left = spec.top = 0;
    spec.inner_width = plat_screen_width(own);
    spec.inner_height = plat_screen_height(own);
    spec.borderless = true;
  }
  PlatWindow* w = plat_open_window(spec);
  plat_unlock_screen(desktop);
  if (!w) {
    fprintf(stderr, "window-pattern: cannot open a window\n");
    plat_close_screen(own);
    return 1;
  }
  int pen[16];
  bool owned[16] = {};
  PlatScreen* screen = plat_window_screen(w);
  for (int i = 0; i < 16; i++) {
    pen[i] = i;
    if (own) continue;
    int p = plat_obtain_best_pen(screen, frac(kPalette[i][0]), frac(kPalette[i][1]),
                                 frac(kPalette[i][2]));
    if (p >= 0) {
      pen[i] = p;
      owned[i] = true;
    }
  }
  draw_pattern(w, pen);
  scroll_bands(w, pen);
  if (plat_window_inner_height(w) >= 736) scroll_grid_band(w, pen);
  printf("pattern ready\n");
  fflush(stdout);

  uint32_t start = clock_ms();
  bool done = false;
  while (!done && clock_ms() - start < static_cast<uint32_t>(seconds) * 1000u) {
    if (dos_check_break()) break;
    plat_wait_event(w, 100);
    PlatEvent ev;
    while (plat_get_event(w, &ev)) {
      if (ev.cls == PLAT_EV_CLOSE || ev.cls == PLAT_EV_VANILLAKEY) done = true;
      if (ev.cls == PLAT_EV_REFRESH) {
        plat_begin_refresh(w);
        plat_end_refresh(w);
      }
    }
  }
  for (int i = 0; i < 16; i++) {
    if (owned[i]) plat_release_pen(screen, pen[i]);
  }
  plat_close_window(w);
  plat_close_screen(own);
  return 0;
}
