// The transfer status boxes painted over the terminal while a transfer runs.
//
// Both protocols share one layout: a beveled box with a title, up to five
// text lines (file, bytes, CRC kind, error figure, file count), the speed in
// blue and a progress bar with the percentage.  The protocol's own drawing
// function (zmodem_draw_status beside the ZMODEM engine, the XMODEM one
// beside its adapter) decides when to draw and fills a TransferBoxContent;
// transfer_box_draw paints it, renewing only the inside when the frame is
// already there.
#pragma once
#include <cstddef>
#include <cstdint>

struct Terminal;

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
  // A ZMODEM batch's bytes, 0 while not known: kept by the session for an
  // upload of several files, worked out from the sender's ZFILE (the bytes
  // it has left) for a download.
  uint64_t batch_total;   // the whole batch
  uint64_t batch_before;  // the files before the current one
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
  // After a transfer that went well, what became of it ("Saved report.txt
  // (1.2 MB)") and where (the directory, or null), in blue after the lines:
  // on one line when it fits, else the directory on a line of its own.
  const char* summary = nullptr;
  const char* summary_dir = nullptr;
};

// Box geometry: max(46 cells, 360) by max(10 cells, 148) pixels, centred on
// the grid and kept 8 pixels inside the window borders.
void transfer_box_rect(Terminal* t, int* x, int* y, int* width, int* height);

// Paints the box: the whole of it when full is set or the geometry or
// direction changed since the cached frame, else only its inside.
// Nothing is drawn when the terminal cannot be drawn in.
void transfer_box_draw(Terminal* t, TransferBoxCache* cache, const TransferBoxContent* content,
                       bool full);

// A size as people read it: "512 bytes", "1 byte", "12.5 KB", "1.2 MB",
// "3.0 GB" (units of 1024, one decimal, cut rather than rounded so that a
// size never reads as the next unit).
void transfer_format_size(char* out, size_t cap, uint64_t bytes);

// "Speed: %lu.%lu KB/s" from a start time and a byte count, or "Speed: --.-
// KB/s" before there is one (an elapsed time of 0 counts as 1 ms).
void transfer_format_speed(char* out, int cap, uint32_t start_ms, uint32_t bytes, uint32_t now_ms);

// The filled length of a progress bar of the given width.
int transfer_bar_fill(uint32_t bytes, uint32_t total, int width);
// The percentage (0..100) shown in the bar; only meaningful with a total.
uint32_t transfer_percent(uint32_t bytes, uint32_t total);
