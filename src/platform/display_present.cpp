// When windows are shown.  A poll for input presents what was drawn, at
// most once per display refresh, and pumps the backend's input at most once
// a millisecond; every wait presents first, so the screen is never stale
// while the program is idle.  The beep flash ends here too.
#include <poll.h>
#include <time.h>

#include <cstdint>
#include <mutex>

#include "platform/clock.h"
#include "platform/internal.h"

namespace {

// Milliseconds on the real monotonic clock (not clock_ms(), which tests may
// freeze): the pace of presents and event pumps.
uint32_t real_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

// Shows the window's drawing.  Without force at most once per display
// refresh: a flood of text polls for input every few bytes, and converting
// the picture more often than the display shows it buys nothing.  A failed
// present also waits a refresh before the next try, and keeps the window's
// dirty state for it.
void present_window(PlatWindow* w, bool force, uint32_t now) {
  const bool flash_ended = w->flashing && !plat_window_flash_showing(w, clock_ms());
  if (!w->dirty && !flash_ended) return;
  if (!force && w->presented && now - w->last_present_ms < backend_frame_ms()) return;
  w->presented = true;
  w->last_present_ms = now;
  plat_settle_fills(w);
  if (backend_present(w)) {
    w->dirty = false;
    w->dirty_x1 = w->dirty_y1 = -1;
  }
}

void present_all(bool force, uint32_t now) {
  for (PlatWindow* w = plat_window_list(); w; w = w->next) present_window(w, force, now);
}

// The last time plat_get_event pumped the backend's input.
uint32_t g_last_pump_ms = 0;
bool g_pumped = false;

}  // namespace

bool plat_window_flash_showing(PlatWindow* window, uint32_t now) {
  if (!window->flashing) return false;
  if (static_cast<int32_t>(now - window->flash_until_ms) >= 0) {
    window->flashing = false;
    plat_mark_all_dirty(window);
  }
  return window->flashing;
}

// ---------------------------------------------------------------- input --

int plat_get_event(PlatWindow* window, PlatEvent* out) {
  if (!window || !out) return 0;
  // Callers poll after every few received bytes: one reading of the clock
  // paces both the presents and the pumps, and asking the desktop for
  // input more than once a millisecond buys nothing.
  const uint32_t now = real_ms();
  present_all(false, now);
  if (!g_pumped || now != g_last_pump_ms) {
    g_pumped = true;
    g_last_pump_ms = now;
    backend_pump();
  }
  std::lock_guard<std::mutex> lock(window->queue_lock);
  if (window->queue.empty()) return 0;
  *out = window->queue.front();
  window->queue.pop_front();
  return 1;
}

int plat_wait_event(PlatWindow* window, int timeout_ms) {
  if (!window) return 0;
  present_all(true, real_ms());
  backend_pump();
  if (!plat_queue_empty(window)) return 1;
  backend_wait(window, timeout_ms);
  return plat_queue_empty(window) ? 0 : 1;
}

namespace {

bool fd_ready(int fd, short events) {
  if (fd < 0) return false;
  pollfd p{fd, events, 0};
  return poll(&p, 1, 0) > 0;
}

int wait_ready(PlatWindow* window, int fd, short events) {
  int ready = 0;
  if (window && !plat_queue_empty(window)) ready |= PLAT_WAIT_EVENT;
  if (fd_ready(fd, events)) ready |= PLAT_WAIT_FD;
  return ready;
}

}  // namespace

int plat_wait_event_or_fd(PlatWindow* window, int fd, int timeout_ms, short fd_events) {
  short events = fd_events ? fd_events : static_cast<short>(POLLIN);
  present_all(true, real_ms());
  backend_pump();
  int ready = wait_ready(window, fd, events);
  if (ready || timeout_ms <= 0) return ready;
  backend_wait_fd(window, fd, events, timeout_ms);
  return wait_ready(window, fd, events);
}

void plat_present_all() {
  present_all(true, real_ms());
}
