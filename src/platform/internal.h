// The records behind PlatScreen and PlatWindow and the hooks between the
// backend-independent display code and the backend linked into the program.
// Only src/platform includes this header.
#pragma once
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
  // The framebuffer: height lines of width pens in one block, reached
  // through the row table.  Row y of the window is rows[y].  A block copy
  // of whole rows (a scroll) hands lines from row to row in the table
  // instead of moving their pixels, so the table is a permutation of the
  // block's lines, in block order again only while rows_permuted is false.
  std::unique_ptr<uint8_t[]> pixels;
  std::unique_ptr<uint8_t*[]> rows;
  bool rows_permuted = false;
  // Such a copy leaves the source rows it does not cover to be given back
  // their old pixels, which are then in other rows: rows pending_to ..
  // pending_to + pending_rows - 1 show rows pending_from .. as they are.
  // The copy is made only when something reads or draws there first, so a
  // scroll followed by clearing the new bottom line (the usual case) never
  // makes it.  Drawing in the rows copied from also makes the copy first.
  int pending_from = 0;
  int pending_to = 0;
  int pending_rows = 0;
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

// Row y (0 <= y < height) of the window's framebuffer: width pens.  For
// drawing, call plat_settle_rows for the rows first.
inline uint8_t* plat_row(const PlatWindow* w, int y) {
  return w->rows[static_cast<size_t>(y)];
}

// The pens row y shows, for reading only: a row still owed a copy is read
// where its pixels are.
inline const uint8_t* plat_shown_row(const PlatWindow* w, int y) {
  int k = y - w->pending_to;
  if (k >= 0 && k < w->pending_rows) y = w->pending_from + k;
  return w->rows[static_cast<size_t>(y)];
}

// Grows the window's pending rectangle (inclusive corners, already clipped).
inline void plat_add_dirty(PlatWindow* w, int x0, int y0, int x1, int y1) {
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

// --------------------------------------------- display.cpp, for backends --

// The first open window (walk with ->next).
PlatWindow* plat_window_list();
// Makes the copy a scroll still owes when drawing in rows y0..y1 would
// touch it (see PlatWindow::pending_rows).
void plat_settle_all_rows(PlatWindow* window);
inline void plat_settle_rows(PlatWindow* w, int y0, int y1) {
  if (!w->pending_rows) return;
  const int n = w->pending_rows;
  if ((y1 >= w->pending_to && y0 < w->pending_to + n) ||
      (y1 >= w->pending_from && y0 < w->pending_from + n))
    plat_settle_all_rows(w);
}
// Appends an event to the window's queue (mouse moves are coalesced and the
// queue is bounded, so an unread window cannot grow without limit).
void plat_queue_event(PlatWindow* window, const PlatEvent& event);
bool plat_queue_empty(PlatWindow* window);
// Marks the whole window for presenting (expose, palette change).
void plat_mark_all_dirty(PlatWindow* window);
// Marks every window of the screen (after a colour map change).
void plat_mark_screen_dirty(PlatScreen* screen);
// The desktop screen record, created on first use; null when no display.
PlatScreen* plat_desktop_screen_record();
// Whether the beep flash is showing at time now; turns it off (and marks the
// window for a full present) once its time has passed.
bool plat_window_flash_showing(PlatWindow* window, uint32_t now);

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
// Shows the window's dirty rectangle.  Without force the backend may keep it
// pending (at most one present per display refresh); the caller clears the
// dirty state only when this returns true.
bool backend_present(PlatWindow* window, bool force);
// Moves pending native input into the window queues.
void backend_pump();
// Blocks until the window has an event or timeout_ms passed (negative: no
// limit other than the backend's own).
void backend_wait(PlatWindow* window, int timeout_ms);
// Blocks until the window (when not null) has an event, fd has something to
// read, or timeout_ms (at least 0) passed.
void backend_wait_fd(PlatWindow* window, int fd, int timeout_ms);

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
