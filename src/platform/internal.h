// The records behind PlatScreen and PlatWindow, the hooks between the
// backend-independent display code and the backend linked into the program,
// and what the display files (display*.cpp) share among themselves.  Only
// src/platform includes this header.
#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/display.h"

struct PlatScreen {
  int width = 0;
  int height = 0;
  int depth = 0;
  bool own = false;     // opened by plat_open_screen (else the desktop screen)
  int registers = 256;  // usable colour registers (1 << depth, at most 256)
  int lock_count = 0;
  bool minimized = false;
  char title[128] = {};
  // Colour map: 0xRRGGBB per register.  A register is free when it is not
  // reserved and no shared pen references it.
  std::array<uint32_t, 256> rgb{};
  std::array<int, 256> refs{};       // shared-pen reference counts
  std::array<bool, 256> reserved{};  // never handed out as a shared pen
  uint32_t palette_serial = 0;       // bumped on every colour change
  void* native = nullptr;            // backend data
};

struct PlatAudio {
  uint32_t rate = 0;
  int format = 0;  // PlatAudioFormat
  int channels = 1;
  int sample_bytes = 1;
  int frame_bytes = 1;
  void* native = nullptr;  // backend data
};

// A set of framebuffer lines: the pixels of columns x0 .. x1-1 of every row
// of a window, one line per row in one block, reached through a row table.
// Row y's pixels are rows[y][0 .. x1-x0-1].  A block copy of whole lines (a
// scroll) hands lines from row to row in the table instead of moving their
// pixels, so the table is a permutation of the block's lines, in block order
// again only while permuted is false.
struct PlatLines {
  int x0 = 0;
  int x1 = 0;
  std::unique_ptr<uint8_t[]> pixels;
  std::unique_ptr<uint8_t*[]> rows;
  bool permuted = false;
  // Such a copy leaves the source rows it does not cover to be given back
  // their old pixels, which are then in other rows: rows pending_to ..
  // pending_to + pending_rows - 1 show rows pending_from .. as they are.
  // The copy is made only when something reads or draws there first, so a
  // scroll followed by clearing the new bottom line (the usual case) never
  // makes it.  Drawing in the rows copied from also makes the copy first.
  int pending_from = 0;
  int pending_to = 0;
  int pending_rows = 0;
  // A fill left owing: rows fill_y0..fill_y1, columns fill_x0..fill_x1 (of
  // the window) in fill_pen, but for the columns done_x0 .. done_x1-1, which
  // no longer owe it: drawing since has covered them (glyphs with their
  // background as tall as the fill) or had the fill made in them first.  A
  // terminal clears each new line and then writes most of it: filling only
  // what the text left is what makes a scroll at scale 2 no dearer than at
  // scale 1.  Drawing in those rows next to the done columns takes its
  // columns over (plat_settle_span); anything else that reads or draws
  // there, and every present, makes the whole fill first.  Its rows are
  // never rows a copy is owed to or from.
  bool fill_owed = false;
  uint8_t fill_pen = 0;
  int fill_x0 = 0, fill_x1 = 0, fill_y0 = 0, fill_y1 = 0;
  int done_x0 = 0, done_x1 = 0;
  // Two neighbouring rows that will show the same pixels may share one
  // line: text at scale 2 draws every pixel row twice, so a line of it
  // cleared across the whole width gets one line for each pair of its rows
  // (when the last glyph drawn here was at scale 2, `doubled`), and its
  // glyphs, its owed fill and the present's conversion then touch half the
  // bytes.  rows[y] == rows[y + 1] is the only sharing there is (a line has
  // at most two rows, and they are neighbours); `spare` holds the lines no
  // row uses, one for each shared pair.  Drawing that may make a row differ
  // from its partner gives it a line of its own first (plat_unshare_row).
  int height = 0;
  bool doubled = false;
  int shared = 0;  // pairs of rows sharing a line (spare.size(), one load)
  std::vector<uint8_t*> spare;
  // Changes whenever a row is given another line (a turn, a row unshared,
  // pairs made, a reset).  A line of text at scale 2 is drawn as 80 glyphs
  // over the same rows: the first finds that every pair of its rows shares
  // a line and notes it (pairs_y, pairs_h at this epoch), and the others
  // then write each pixel row once without looking at the pairs again.
  uint64_t epoch = 0;
  uint64_t pairs_epoch = 0;
  int pairs_y = -1;
  int pairs_h = 0;
};

struct PlatWindow {
  PlatScreen* screen = nullptr;
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool borderless = false;
  bool active = false;
  bool in_refresh = false;
  char title[256] = {};
  // The framebuffer: one pen per pixel.  `lines` holds every column of the
  // window.  A block of columns that scrolls on its own (a terminal grid
  // centred on a wider full screen) gets lines of its own, `band` (empty
  // while band.x1 == band.x0), so that its scrolls turn its row table alone;
  // the columns of `lines` under the band are then unused.  Pixel (x, y) is
  // in the band when band.x0 <= x < band.x1, else in `lines`.
  PlatLines lines;
  PlatLines band;
  std::vector<uint8_t> scratch;  // working space of block copies

  uint8_t apen = 1;
  uint8_t bpen = 0;
  PlatDrawMode drmd = PLAT_JAM2;
  PlatFont* font = nullptr;
  int pen_x = 0;
  int pen_y = 0;

  // Union of everything drawn since the last present (inclusive corners).
  bool dirty = false;
  int dirty_x0 = 0, dirty_y0 = 0, dirty_x1 = -1, dirty_y1 = -1;
  // The rectangle of plat_watch_rect, and whether nothing was drawn into it
  // since.
  bool watch_intact = false;
  int watch_x0 = 0, watch_y0 = 0, watch_x1 = -1, watch_y1 = -1;

  // When the window was last presented (real monotonic milliseconds).
  bool presented = false;
  uint32_t last_present_ms = 0;

  int beep_count = 0;
  uint32_t flash_until_ms = 0;  // the beep flash shows until this clock_ms()
  bool flashing = false;

  // Events may be injected from another thread in tests; everything else
  // about a window belongs to the program's one thread.
  std::mutex queue_lock;
  std::deque<PlatEvent> queue;

  PlatWindow* next = nullptr;  // every open window, newest first
  void* native = nullptr;      // backend data
};

// The lines that hold column x (0 <= x < width), and in *end the first column
// after x that they do not hold contiguously (the band's edge or the width).
inline PlatLines* plat_lines_at(PlatWindow* w, int x, int* end) {
  if (x >= w->band.x0 && x < w->band.x1) {
    *end = w->band.x1;
    return &w->band;
  }
  *end = x < w->band.x0 ? w->band.x0 : w->width;
  return &w->lines;
}
inline const PlatLines* plat_lines_at(const PlatWindow* w, int x, int* end) {
  return plat_lines_at(const_cast<PlatWindow*>(w), x, end);
}

// The pens row y shows from column x on, for reading: pixels x .. *end - 1
// are contiguous there.  A row still owed a copy is read where its pixels
// are.
inline const uint8_t* plat_shown_span(const PlatWindow* w, int x, int y, int* end) {
  const PlatLines* l = plat_lines_at(w, x, end);
  int k = y - l->pending_to;
  if (k >= 0 && k < l->pending_rows) y = l->pending_from + k;
  return l->rows[static_cast<size_t>(y)] + (x - l->x0);
}

// Pixel (x, y) for drawing; call plat_settle_rows for the row first.
inline uint8_t* plat_pixel(PlatWindow* w, int x, int y) {
  int end;
  PlatLines* l = plat_lines_at(w, x, &end);
  return l->rows[static_cast<size_t>(y)] + (x - l->x0);
}

// Grows the window's pending rectangle by one that was drawn into (inclusive
// corners, already clipped).
inline void plat_add_dirty(PlatWindow* w, int x0, int y0, int x1, int y1) {
  if (w->watch_intact && x0 <= w->watch_x1 && x1 >= w->watch_x0 && y0 <= w->watch_y1 &&
      y1 >= w->watch_y0)
    w->watch_intact = false;
  if (!w->dirty) {
    w->dirty = true;
    w->dirty_x0 = x0;
    w->dirty_y0 = y0;
    w->dirty_x1 = x1;
    w->dirty_y1 = y1;
    return;
  }
  if (x0 < w->dirty_x0) w->dirty_x0 = x0;
  if (y0 < w->dirty_y0) w->dirty_y0 = y0;
  if (x1 > w->dirty_x1) w->dirty_x1 = x1;
  if (y1 > w->dirty_y1) w->dirty_y1 = y1;
}

// Marks the whole window for presenting (expose, palette change); no pixel
// changes, so a watched rectangle stays intact.
inline void plat_mark_all_dirty(PlatWindow* window) {
  if (!window) return;
  window->dirty = true;
  window->dirty_x0 = window->dirty_y0 = 0;
  window->dirty_x1 = window->width - 1;
  window->dirty_y1 = window->height - 1;
}

// --------------------------------------- the display files, for backends --
// In display_screens.cpp unless another file is named.

// Every open window, newest first (display_screens.cpp opens and closes them).
extern PlatWindow* g_windows;
// The first open window (walk with ->next).
inline PlatWindow* plat_window_list() {
  return g_windows;
}
// What a set of lines owes (see PlatLines): the copy a scroll left, alone;
// the fill left owing, whole; both, in one set or in both of the window;
// the fills alone (for presenting, where reading through plat_shown_span
// covers the copy).  display_lines.cpp.
void plat_make_owed_copy(PlatLines* lines);
void plat_pay_fill(PlatLines* lines);
inline void plat_settle_lines(PlatLines* l) {
  if (l->pending_rows) plat_make_owed_copy(l);
  if (l->fill_owed) plat_pay_fill(l);
}
inline void plat_settle_all_rows(PlatWindow* window) {
  plat_settle_lines(&window->lines);
  plat_settle_lines(&window->band);
}
inline void plat_settle_fills(PlatWindow* window) {
  if (window->lines.fill_owed) plat_pay_fill(&window->lines);
  if (window->band.fill_owed) plat_pay_fill(&window->band);
}
// Drawing in columns x0..x1 of the owed fill's rows: when those columns lie
// next to the ones taken before (or are the first), they are taken over,
// made in the fill's pen first unless covered (the drawing sets every pixel
// of them in the fill's rows); false when they do not, and the whole fill
// must be made.
bool plat_take_fill_columns(PlatLines* lines, int x0, int x1, bool covered);

// Before drawing in rows y0..y1 of the lines: what is owed there is made.
inline void plat_settle_lines(PlatLines* l, int y0, int y1) {
  if (l->pending_rows) {
    const int n = l->pending_rows;
    if ((y1 >= l->pending_to && y0 < l->pending_to + n) ||
        (y1 >= l->pending_from && y0 < l->pending_from + n))
      plat_make_owed_copy(l);
  }
  if (l->fill_owed && y1 >= l->fill_y0 && y0 <= l->fill_y1) plat_pay_fill(l);
}
// The same for drawing in columns x0..x1 only (covers: every pixel of them
// in rows y0..y1), where the owed fill need only be made in those columns.
inline void plat_settle_span(PlatLines* l, int x0, int x1, int y0, int y1, bool covers) {
  if (l->pending_rows) {
    const int n = l->pending_rows;
    if ((y1 >= l->pending_to && y0 < l->pending_to + n) ||
        (y1 >= l->pending_from && y0 < l->pending_from + n))
      plat_make_owed_copy(l);
  }
  if (l->fill_owed && y1 >= l->fill_y0 && y0 <= l->fill_y1) {
    covers = covers && y0 <= l->fill_y0 && y1 >= l->fill_y1;
    if (covers && x0 == l->done_x1 && x0 >= l->fill_x0 && x1 < l->fill_x1) {
      l->done_x1 = x1 + 1;  // the next cell of a line of text: here, without a call
    } else if (!plat_take_fill_columns(l, x0, x1, covers)) {
      plat_pay_fill(l);
    }
  }
}
// Gives row y, which shares its line with a neighbour, a line of its own
// with the same pixels; returns it.
uint8_t* plat_unshare_row(PlatLines* lines, int y);
// Parts rows y-1 and y if they share a line (a cut before drawing from row
// y on, or a turn of the row table there).
inline void plat_split_rows(PlatLines* l, int y) {
  if (l->shared && y > 0 && y < l->height && l->rows[y] == l->rows[y - 1]) plat_unshare_row(l, y);
}
// Every row of y0..y1 gets a line of its own (before drawing that may set
// a row's pixels apart from its partner's).
inline void plat_unshare_rows(PlatLines* l, int y0, int y1) {
  if (!l->shared) return;
  uint8_t** rows = l->rows.get();
  for (int y = std::max(y0, 1); y <= y1 + 1 && y < l->height; y++) {
    if (rows[y] == rows[y - 1]) plat_unshare_row(l, y);
  }
}
// Before drawing anything in rows y0..y1 of the window: what is owed there
// is made and every row there has a line of its own.
inline void plat_settle_rows(PlatWindow* w, int y0, int y1) {
  plat_settle_lines(&w->lines, y0, y1);
  plat_settle_lines(&w->band, y0, y1);
  plat_unshare_rows(&w->lines, y0, y1);
  plat_unshare_rows(&w->band, y0, y1);
}
// Fills pixels x0..x1 of row y (inside the window, row settled) in a pen.
// display_draw.cpp.
void plat_fill_row_span(PlatWindow* window, int y, int x0, int x1, uint8_t pen);
// Appends an event to the window's queue (mouse moves are coalesced and the
// queue is bounded, so an unread window cannot grow without limit).
void plat_queue_event(PlatWindow* window, const PlatEvent& event);
bool plat_queue_empty(PlatWindow* window);
// Marks every window of the screen (after a colour map change).
void plat_mark_screen_dirty(PlatScreen* screen);
// The desktop screen record, created on first use; null when no display.
PlatScreen* plat_desktop_screen_record();
// Whether the beep flash is showing at time now; turns it off (and marks the
// window for a full present) once its time has passed.  display_present.cpp.
bool plat_window_flash_showing(PlatWindow* window, uint32_t now);

// ---------------------------------------- between the display files only --
// display_lines.cpp keeps the sets of lines; the drawing files and
// display_screens.cpp call in for what is rare or large.  What a glyph, a
// fill or a scroll asks every time is inline (above, and the band test here), so that
// those paths make no call for it.

// A pen times this: the pen in every byte of a 64-bit word, eight pixels in
// one store.
inline constexpr uint64_t kPlatEveryByte = 0x0101010101010101ULL;
// Lines for columns x0 .. x1-1 of height rows, in block order; their pixels
// are pen 0 when zero is set, else left as they come.
void plat_make_lines(PlatLines* lines, int x0, int x1, int height, bool zero);
inline bool plat_has_band(const PlatWindow* w) {
  return w->band.x1 > w->band.x0;
}
// Gives the band's pixels back to the window's lines and forgets the band.
// The test is inline: every scroll of whole rows asks it, and there is
// seldom a band.
void plat_merge_band(PlatWindow* window);  // there is a band
inline void plat_dissolve_band(PlatWindow* w) {
  if (plat_has_band(w)) plat_merge_band(w);
}
// Gives columns x0 .. x1-1 lines of their own (one copy of their pixels), so
// that from now on a block copy of just those columns straight up or down
// turns the band's row table and moves no pixels.
void plat_make_band(PlatWindow* window, int x0, int x1);
// Brings the window's framebuffer back into one row-major block, for
// readers that want it so: the band goes back into the lines, and the lines
// back into block order.
void plat_flatten(PlatWindow* window);
// A block copy of h whole lines of one set from row y0 to row y1 (both
// ranges inside the window, no copy owed).  Where source and destination
// overlap, the destination rows take over the source rows' lines by
// rotating the table; then only the |y1 - y0| source rows that the
// destination does not cover need their old pixels back, and that copy is
// left owing (see PlatLines::pending_rows).  A scroll thus moves no pixels
// at all when the new line is cleared next.
void plat_blit_whole_lines(PlatLines* lines, int y0, int y1, int h);
// Fills columns col .. col+n-1 (relative to the set) of rows y0..y1.  The
// usual cell widths (scale 1 and 2) take one or two stores per row.  A line
// two rows share is filled once.
void plat_fill_lines(PlatLines* lines, size_t col, size_t n, int y0, int y1, uint8_t pen);

// -------------------------------------------- the backend (one per link) --

// False when no display can be reached; otherwise the desktop's size.
bool backend_desktop(int* width, int* height, int* depth);
// The inner size a desktop window may have (plat_desktop_usable_area).
bool backend_usable_area(int* width, int* height);
int backend_screen_open(PlatScreen* screen);  // own screen; 0 on success
void backend_screen_close(PlatScreen* screen);
void backend_screen_to_back(PlatScreen* screen);
int backend_window_open(PlatWindow* window);  // 0 on success
void backend_window_close(PlatWindow* window);
void backend_window_title(PlatWindow* window);
void backend_window_activate(PlatWindow* window);
void backend_window_to_back(PlatWindow* window);
// Shows the window's dirty rectangle; the caller clears the dirty state
// only when this returns true.  The caller paces the presents: at most one
// per backend_frame_ms() while the program polls for input.
bool backend_present(PlatWindow* window);
// The display's refresh interval in milliseconds.
uint32_t backend_frame_ms();
// Moves pending native input into the window queues.
void backend_pump();
// Blocks until the window has an event or timeout_ms passed (negative: no
// limit other than the backend's own).
void backend_wait(PlatWindow* window, int timeout_ms);
// Blocks until the window (when not null) has an event, fd has something to
// read (events: what poll waits for on it), or timeout_ms (at least 0)
// passed.
void backend_wait_fd(PlatWindow* window, int fd, short events, int timeout_ms);

// Runs the handler given to plat_set_display_lost_handler (once); the backend
// calls it when its display connection is gone and then ends the program.
void plat_run_display_lost_handler();

// The desktop clipboard as UTF-8 text (clipboard.cpp does the rest).
// Whether it can be reached at all.
bool backend_clipboard_ready();
// Puts the text on the desktop clipboard ("" empties it); 0 on success.
int backend_clipboard_put(const std::string& utf8);
// The desktop clipboard's text, "" when it holds none (or only an image);
// 0, or -1 when it cannot be reached.
int backend_clipboard_get(std::string* utf8);

// Audio output (audio.cpp has checked the rate, format and frame sizes).
int backend_audio_open(PlatAudio* audio);  // 0 on success
// Queues whole frames and plays them; 0 on success.
int backend_audio_queue(PlatAudio* audio, const uint8_t* bytes, size_t len);
size_t backend_audio_queued(PlatAudio* audio);  // bytes not yet played
void backend_audio_stop(PlatAudio* audio);      // drops the queue at once
void backend_audio_close(PlatAudio* audio);
