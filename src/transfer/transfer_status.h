// The transfer status boxes painted over the terminal while a transfer runs.
//
// Both protocols share one layout: a beveled box with a title, up to five
// text lines (file, bytes, CRC kind, error figure, file count), the speed in
// blue and a progress bar with the percentage.  The protocol's own drawing
// function (zmodem_draw_status here; the XMODEM one beside its adapter)
// decides when to draw and fills a TransferBoxContent; transfer_box_draw
// paints it, renewing only the inside when the frame is already there.
#pragma once
#include <cstdint>

struct Terminal;
struct ZmodemState;

// The drawing cache each transfer keeps with its record, so that a new
// transfer, a moved window or a redrawn terminal starts with a full draw.
struct TransferBoxCache {
  int32_t drawn;  // the frame and title are on screen; cleared to force a full draw
  int32_t box_x, box_y, box_w, box_h, cell_w, cell_h;
  int32_t direction;
  uint32_t last_draw_ms;
  uint32_t bytes;
  int32_t errors;
  char text[96];
};

// What one drawing of a box shows.
struct TransferBoxContent {
  const char* title;
  int direction;                 // compared with the cache: another direction redraws the frame
  const char* lines[5];          // lines 2.. in black; null ends the list
  const char* speed;             // the line after them, in blue
  uint32_t bytes, total;         // the bar; total 0 means the size is not known
  int moving_segment;            // no total: a segment that moves one step per KiB (XMODEM)
  const char* no_total_percent;  // the percentage text without a total
  int warning_line = -1;         // index into lines drawn in red (a failure's text); -1 none
};

// Box geometry: max(46 cells, 360) by max(10 cells, 148) pixels, centred on
// the grid and kept 8 pixels inside the window borders.
void transfer_box_rect(Terminal* t, int* x, int* y, int* width, int* height);

// Paints the box: the whole of it when full is set or the geometry or
// direction changed since the cached frame, else only its inside.
// Nothing is drawn when the terminal cannot be drawn in.
void transfer_box_draw(Terminal* t, TransferBoxCache* cache, const TransferBoxContent* content,
                       bool full);

// "Speed: %lu.%lu KB/s" from a start time and a byte count, or "Speed: --.-
// KB/s" before there is one (an elapsed time of 0 counts as 1 ms).
void transfer_format_speed(char* out, int cap, uint32_t start_ms, uint32_t bytes, uint32_t now_ms);

// The filled length of a progress bar of the given width.
int transfer_bar_fill(uint32_t bytes, uint32_t total, int width);
// The percentage (0..100) shown in the bar; only meaningful with a total.
uint32_t transfer_percent(uint32_t bytes, uint32_t total);

// Draws or updates the ZMODEM box for the state of z.  While a transfer runs
// and the box is up, a change of the byte count alone is drawn at most every
// 200 ms; every other change is drawn at once.  A repeated ZFIN answered
// quietly (z->trailing) draws nothing.  After a failed ending the line of
// the error count gives the reason instead, in red.
void zmodem_draw_status(Terminal* t, ZmodemState* z);
